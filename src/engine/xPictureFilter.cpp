#include "xPictureFilter.h"

#include <algorithm>
#include <numeric>

#include "xEngine.h"

namespace {

// Every dot product of two L-traces lies within +-MaxDot.
constexpr std::int64_t MaxDot = std::int64_t{LTraceLength} * 128 * 128;
constexpr std::int64_t MaxHueDot = std::int64_t{HTraceLength} * 255 * 255;
constexpr std::uint16_t PrefixOffsets[] = {0, 16, 32, 48};
static_assert(std::size(PrefixOffsets) == TPictureFilter::Checkpoints[1]);

std::int64_t Square(std::int64_t x) { return x * x; }

}  // namespace

TPictureFilter::TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                               TSegmentDot segmentDot, THueDot hueDot)
    : Variants_(variants), Threshold_(threshold), Grayscale_(variants.Contains(pvGrayscale)), SegmentDot_(segmentDot),
      HueDot_(hueDot) {
  Variant_[VariantCount_++] = pvOriginal;
  for (int variant = pvRotate180; variant <= pvFlipHorizontal; ++variant)
    if (variants.Contains(variant)) Variant_[VariantCount_++] = variant;

  // The least structure dot product for each bucket of colour dot products, taken at the
  // bucket's top: the score never falls as either similarity rises, so within the bucket no
  // pair needs less.
  Needed_.resize(static_cast<std::size_t>(MaxHueDot >> HueShift) + 1);
  for (std::size_t bucket = 0; bucket < Needed_.size(); ++bucket)
    Needed_[bucket] = NeededDot(std::min(MaxHueDot, static_cast<std::int64_t>(((bucket + 1) << HueShift) - 1)));

  SlotOf_.assign(records.size(), -1);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const TFileData* record = records[i];
    if (!record || record->Failed || record->Kind() != TRecordKind::Picture) continue;
    const TPicSign& sign = static_cast<const TPicData&>(*record).Sign;
    TSlot slot;
    slot.Index = static_cast<int>(i);
    slot.Grouped = record->Group != nullptr;
    // Whatever the bound cannot read is left to the decision, which then fails as it always did.
    slot.Bounded = sign.IsValid() && sign.HLength() == HTraceLength;
    for (int v = 0; v < VariantCount_ && slot.Bounded; ++v) slot.Bounded = sign.LLength(Variant_[v]) == LTraceLength;
    SlotOf_[i] = static_cast<int>(Slots_.size());
    Slots_.push_back(slot);
  }

  // Segments by their energy over all unchanged pictures, strongest first.
  std::int64_t energy[Segments] = {};
  for (const TSlot& slot : Slots_) {
    if (!slot.Bounded) continue;
    const auto* trace = reinterpret_cast<const std::int8_t*>(static_cast<const TPicData&>(*records[static_cast<std::size_t>(slot.Index)]).Sign.LTrace(pvOriginal)->Data());
    for (int k = 0; k < LTraceLength; ++k) energy[k / TraceSegment] += trace[k] * trace[k];
  }
  int segments[Segments];
  std::iota(segments, segments + Segments, 0);
  std::stable_sort(segments, segments + Segments, [&](int x, int y) { return energy[x] > energy[y]; });
  for (int s = 0; s < Segments; ++s) Order_[s] = static_cast<std::uint16_t>(segments[s] * TraceSegment);

  const std::size_t n = Slots_.size(), v = static_cast<std::size_t>(VariantCount_);
  Hue_.assign(n * HTraceLength, 0);
  Prefix_.assign(n * v * PrefixBytes, 0);
  Rest_.assign(n * v * Stages, 0);
  Trace_.assign(n * v, nullptr);
  for (std::size_t j = 0; j < n; ++j) {
    if (!Slots_[j].Bounded) continue;
    const TPicSign& sign = static_cast<const TPicData&>(*records[static_cast<std::size_t>(Slots_[j].Index)]).Sign;
    std::copy_n(sign.HTrace().Data(), HTraceLength, &Hue_[j * HTraceLength]);
    for (std::size_t t = 0; t < v; ++t) {
      const auto* trace = reinterpret_cast<const std::int8_t*>(sign.LTrace(Variant_[t])->Data());
      const std::size_t at = j * v + t;
      Trace_[at] = trace;
      for (int s = 0; s < Checkpoints[1]; ++s)
        std::copy_n(trace + Order_[s], TraceSegment, &Prefix_[at * PrefixBytes + static_cast<std::size_t>(s) * TraceSegment]);
      std::int64_t rest = 0;
      for (int stage = Stages - 1; stage >= 0; --stage) {
        for (int s = Checkpoints[stage]; s < Checkpoints[stage + 1]; ++s)
          for (int k = 0; k < TraceSegment; ++k) rest += trace[Order_[s] + k] * trace[Order_[s] + k];
        Rest_[at * Stages + static_cast<std::size_t>(stage)] = rest;
      }
    }
  }
}

std::int64_t TPictureFilter::NeededDot(std::int64_t hueDot) const {
  const float colour = TPixan::TraceSimilarity(hueDot, true);
  const auto threshold = static_cast<float>(Threshold_);
  auto reaches = [&](std::int64_t dot) {
    return PictureScore(TPixan::TraceSimilarity(dot, false), colour, Grayscale_) >= threshold;
  };
  if (!reaches(MaxDot)) return MaxDot + 1;
  std::int64_t low = -MaxDot - 1, high = MaxDot;  // reaches(high); low below every dot product
  while (high - low > 1) {
    const std::int64_t middle = low + (high - low) / 2;
    (reaches(middle) ? high : low) = middle;
  }
  return high;
}

void TPictureFilter::PrepareRow(int slot) {
  RowSlot_ = slot;
  const std::size_t at = static_cast<std::size_t>(slot) * static_cast<std::size_t>(VariantCount_);
  const std::int8_t* trace = Trace_[at];
  for (int s = 0; s < Segments; ++s)
    for (int k = 0; k < TraceSegment; ++k) RowTrace_[s * TraceSegment + k] = trace[Order_[s] + k];
  for (int k = 0; k < HTraceLength; ++k) RowHue_[k] = Hue_[static_cast<std::size_t>(slot) * HTraceLength + static_cast<std::size_t>(k)];
  // The unchanged trace comes first among the variants.
  std::copy_n(&Rest_[at * Stages], Stages, RowRest_);
}

bool TPictureFilter::RowMayMatch(int slot) {
  const std::size_t j = static_cast<std::size_t>(slot);
  const std::int64_t needed = NeededDotBound(HueDot_(RowHue_, &Hue_[j * HTraceLength]));
  if (needed <= -MaxDot) return true;
  // The rest of the dot product after `stage` is at most sqrt(rest of a * rest of b).
  auto below = [&](std::int64_t partial, int stage, const std::int64_t* rest) {
    const std::int64_t gap = needed - partial;
    return gap > 0 && Square(gap) > RowRest_[stage] * rest[stage];
  };
  const std::size_t v = static_cast<std::size_t>(VariantCount_);
  for (std::size_t t = 0; t < v; ++t) {
    const std::size_t at = j * v + t;
    const std::int64_t* rest = &Rest_[at * Stages];
    if (below(0, 0, rest)) continue;
    if (!Summing_) return true;
    std::int64_t partial = SegmentDot_(RowTrace_, &Prefix_[at * PrefixBytes], PrefixOffsets, Checkpoints[1]);
    int stage = 1;
    for (; stage < BoundedStages; ++stage) {
      if (below(partial, stage, rest)) break;
      partial += SegmentDot_(RowTrace_ + Checkpoints[stage] * TraceSegment, Trace_[at], Order_ + Checkpoints[stage],
                             Checkpoints[stage + 1] - Checkpoints[stage]);
    }
    // Not ruled out by the strongest segments: summing the rest here would cost what the
    // decision costs, so the decision takes the pair.
    if (stage == BoundedStages && !below(partial, stage, rest)) return true;
  }
  return false;
}

void TPictureFilter::Candidates(int index, bool grouped, std::vector<int>& out) {
  out.clear();
  const int row = SlotOf_[static_cast<std::size_t>(index)];
  const bool rowBounded = row >= 0 && Slots_[static_cast<std::size_t>(row)].Bounded;
  if (rowBounded) PrepareRow(row);
  for (const TSlot& slot : Slots_) {
    if (slot.Index >= index) break;
    ++Stats_.Pairs;
    if (grouped && slot.Grouped) {
      ++Stats_.Grouped;
      continue;
    }
    if (!rowBounded || !slot.Bounded || RowMayMatch(static_cast<int>(&slot - Slots_.data())))
      out.push_back(slot.Index);
    else
      ++Stats_.Bounded;
  }
  // Where the partial sums rule out too few pairs to pay for themselves (lenient tolerances,
  // pictures much alike), only the cheap checks stay. Either way no pair that can match is lost.
  if (Summing_ && Stats_.Pairs - Stats_.Grouped > 200000 && Stats_.Bounded * 10 < (Stats_.Pairs - Stats_.Grouped) * 7)
    Summing_ = false;
}

void TPictureFilter::NoteGrouped(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= SlotOf_.size()) return;
  if (const int slot = SlotOf_[static_cast<std::size_t>(index)]; slot >= 0) Slots_[static_cast<std::size_t>(slot)].Grouped = true;
}

bool TPictureFilter::MayMatch(int first, int second) {
  const int a = SlotOf_[static_cast<std::size_t>(first)], b = SlotOf_[static_cast<std::size_t>(second)];
  if (a < 0 || b < 0 || !Slots_[static_cast<std::size_t>(a)].Bounded || !Slots_[static_cast<std::size_t>(b)].Bounded) return true;
  if (RowSlot_ != a) PrepareRow(a);
  return RowMayMatch(b);
}

#include "xPictureFilter.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "xEngine.h"

namespace {

// Every dot product of two L-traces lies within +-MaxDot.
constexpr std::int64_t MaxDot = std::int64_t{LTraceLength} * 128 * 128;
constexpr double LScale = 127.0 * 127.0, HScale = 255.0 * 255.0;
constexpr int RestCount = BoundStages + 1;
// What the bound grants for rounding, in dot units and relative to the product of the two traces'
// lengths. The coordinates are single precision: a sum of 64 products of them is off by less than
// 4e-6 of that product, and the score formula's own rounding moves its edge by far less than one
// unit; both margins are many times that.
constexpr double LineMargin = 4.0;
constexpr float RelativeSlack = 2e-5F;

float Up(double x) {
  float f = static_cast<float>(x);
  if (static_cast<double>(f) < x) f = std::nextafter(f, INFINITY);
  return f;
}

}  // namespace

TPictureFilter::TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                               TBlockBound kernel)
    : Variants_(variants), Threshold_(threshold), Grayscale_(variants.Contains(pvGrayscale)), Kernel_(kernel) {
  Variant_[VariantCount_++] = pvOriginal;
  for (int variant = pvRotate180; variant <= pvFlipHorizontal; ++variant)
    if (variants.Contains(variant)) Variant_[VariantCount_++] = variant;

  // Score >= T asks (2 S + C) / 3 >= T / 50 - 1, or S >= T / 50 - 1 alone with greyscale on,
  // where S and C are the dot products over 127^2 and 255^2.
  const double least = threshold / 50.0 - 1.0;
  Line_.Base = static_cast<float>(LScale * 3 * least / 2 - LineMargin);
  Line_.Slope = static_cast<float>(LScale / (2 * HScale));
  Line_.Grey = static_cast<float>(LScale * least - LineMargin);
  Line_.Slack = RelativeSlack;
  Line_.Grayscale = Grayscale_;
  Prepare(records);
}

void TPictureFilter::Prepare(const std::vector<const TFileData*>& records) {
  SlotOf_.assign(records.size(), -1);
  std::vector<const TPicSign*> signs;
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
    signs.push_back(&sign);
  }
  auto trace = [&](std::size_t slot, int variant) {
    return reinterpret_cast<const std::int8_t*>(signs[slot]->LTrace(variant)->Data());
  };

  std::vector<const std::int8_t*> samples;
  for (std::size_t j = 0; j < Slots_.size(); ++j)
    if (Slots_[j].Bounded) samples.push_back(trace(j, pvOriginal));
  const TTraceBasis basis(samples);

  const std::size_t blocks = (Slots_.size() + BoundBlock - 1) / BoundBlock;
  const auto v = static_cast<std::size_t>(VariantCount_);
  GroupedMask_.assign(blocks, 0);
  UnboundedMask_.assign(blocks, 0);
  Hue_.assign(blocks * HTraceLength * BoundBlock, 0.0F);
  Coords_.assign(blocks * v * BoundDims * BoundBlock, 0.0F);
  Rest_.assign(blocks * v * RestCount * BoundBlock, 0.0F);
  for (std::size_t j = 0; j < Slots_.size(); ++j) {
    const int block = static_cast<int>(j / BoundBlock), lane = static_cast<int>(j % BoundBlock);
    const std::uint32_t bit = 1U << lane;
    if (Slots_[j].Grouped) GroupedMask_[static_cast<std::size_t>(block)] |= bit;
    if (!Slots_[j].Bounded) {
      UnboundedMask_[static_cast<std::size_t>(block)] |= bit;
      continue;
    }
    const std::uint8_t* hue = signs[j]->HTrace().Data();
    for (int k = 0; k < HTraceLength; ++k) HueOf(block)[k * BoundBlock + lane] = hue[k];
    for (int t = 0; t < VariantCount_; ++t) {
      const std::int8_t* x = trace(j, Variant_[t]);
      double coords[BoundDims];
      basis.Project(x, coords);
      std::int64_t energy = 0;
      for (int k = 0; k < LTraceLength; ++k) energy += x[k] * x[k];
      float* out = CoordsOf(block) + static_cast<std::ptrdiff_t>(t) * BoundDims * BoundBlock;
      float* rest = RestOf(block) + static_cast<std::ptrdiff_t>(t) * RestCount * BoundBlock;
      double inside = 0;
      int d = 0;
      for (int s = 0; s < RestCount; ++s) {
        for (; d < BoundCheckpoints[s]; ++d) inside += coords[d] * coords[d];
        // What rounding took from the energy outside is given back, so the length is never short.
        const auto e = static_cast<double>(energy);
        rest[s * BoundBlock + lane] = Up(std::sqrt(std::max(e - inside, 0.0) + 1e-9 * e));
      }
      for (d = 0; d < BoundDims; ++d) out[d * BoundBlock + lane] = static_cast<float>(coords[d]);
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

double TPictureFilter::LineAt(std::int64_t hueDot) const {
  const float hue = static_cast<float>(hueDot);
  const float line = Line_.Base - Line_.Slope * hue;
  return Grayscale_ ? std::min(line, Line_.Grey) : line;
}

void TPictureFilter::LoadRow(int slot) {
  RowSlot_ = slot;
  RowBounded_ = Slots_[static_cast<std::size_t>(slot)].Bounded;
  if (!RowBounded_) return;
  const int block = slot / BoundBlock, lane = slot % BoundBlock;
  // The row is always compared by its unchanged trace, variant 0 of its block.
  for (int d = 0; d < BoundDims; ++d) Row_.Coords[d] = CoordsOf(block)[d * BoundBlock + lane];
  for (int s = 0; s < RestCount; ++s) Row_.Rest[s] = RestOf(block)[s * BoundBlock + lane];
  for (int k = 0; k < HTraceLength; ++k) Row_.Hue[k] = HueOf(block)[k * BoundBlock + lane];
}

std::uint32_t TPictureFilter::BlockCandidates(int block, std::uint32_t live) {
  if (!RowBounded_) return live;
  const std::uint32_t unbounded = live & UnboundedMask_[static_cast<std::size_t>(block)];
  const std::uint32_t bounded = live & ~unbounded;
  if (!bounded) return unbounded;
  const TBoundBlock data{HueOf(block), CoordsOf(block), RestOf(block), VariantCount_};
  const std::uint32_t kept = Kernel_(Row_, data, Line_, bounded);
  Stats_.Bounded += std::popcount(bounded & ~kept);
  return kept | unbounded;
}

void TPictureFilter::BeginRow(int index) {
  const int slot = SlotOf_[static_cast<std::size_t>(index)];
  LoadRow(slot);
  Block_ = 0;
  Pending_ = 0;
}

int TPictureFilter::Next(bool rowGrouped) {
  const int end = RowSlot_;  // the slots before the row's
  for (;;) {
    while (Pending_) {
      const int slot = (Block_ - 1) * BoundBlock + std::countr_zero(Pending_);
      Pending_ &= Pending_ - 1;
      if (rowGrouped && Slots_[static_cast<std::size_t>(slot)].Grouped) {
        ++Stats_.Grouped;
        continue;
      }
      return Slots_[static_cast<std::size_t>(slot)].Index;
    }
    const int first = Block_ * BoundBlock;
    if (first >= end) return -1;
    const int count = std::min(BoundBlock, end - first);
    std::uint32_t live = (1U << count) - 1;
    Stats_.Pairs += count;
    if (rowGrouped) {
      const std::uint32_t grouped = live & GroupedMask_[static_cast<std::size_t>(Block_)];
      Stats_.Grouped += std::popcount(grouped);
      live &= ~grouped;
    }
    Pending_ = live ? BlockCandidates(Block_, live) : 0;
    ++Block_;
  }
}

void TPictureFilter::NoteGrouped(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= SlotOf_.size()) return;
  const int slot = SlotOf_[static_cast<std::size_t>(index)];
  if (slot < 0) return;
  Slots_[static_cast<std::size_t>(slot)].Grouped = true;
  GroupedMask_[static_cast<std::size_t>(slot / BoundBlock)] |= 1U << (slot % BoundBlock);
}

bool TPictureFilter::MayMatch(int first, int second) {
  const int a = SlotOf_[static_cast<std::size_t>(first)], b = SlotOf_[static_cast<std::size_t>(second)];
  if (a < 0 || b < 0) return true;
  if (RowSlot_ != a) LoadRow(a);
  return (BlockCandidates(b / BoundBlock, 1U << (b % BoundBlock)) >> (b % BoundBlock)) & 1U;
}

#include "xPictureFilter.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <thread>

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
                               bool lookAhead, TBlockBound kernel)
    : Variants_(variants), Threshold_(threshold), Grayscale_(variants.Contains(pvGrayscale)), Kernel_(kernel),
      TraceKernel_(BestTraceKernel()) {
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
  if (lookAhead && Slots_.size() > 4 * BoundBlock && std::thread::hardware_concurrency() > 1) {
    State_ = std::make_unique<std::atomic<std::uint8_t>[]>(Slots_.size());
    for (std::size_t j = 0; j < Slots_.size(); ++j) State_[j].store(RowFree, std::memory_order_relaxed);
    Ahead_.resize(Slots_.size());
    Worker_ = std::thread([this] { LookAhead(); });
  }
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
  Hue_.assign(blocks * HTraceLength * BoundBlock, 0);
  for (int stage = 0; stage < BoundStages; ++stage)
    Coords_[stage].assign(blocks * v * static_cast<std::size_t>(BoundCheckpoints[stage + 1] - BoundCheckpoints[stage]) * BoundBlock, 0);
  Rest_.assign(blocks * v * RestCount * BoundBlock, 0.0F);
  Inv_.assign(blocks * v * BoundBlock, 0.0F);
  Absolute_.assign(blocks * v * BoundBlock, 0.0F);
  for (std::size_t j = 0; j < Slots_.size(); ++j) {
    const std::uint32_t bit = 1U << (j % BoundBlock);
    if (Slots_[j].Grouped) GroupedMask_[j / BoundBlock] |= bit;
    if (!Slots_[j].Bounded) UnboundedMask_[j / BoundBlock] |= bit;
  }
  Traces_.assign(Slots_.size() * v, nullptr);
  HueBytes_.assign(Slots_.size() * HTraceLength, 0);
  for (std::size_t j = 0; j < Slots_.size(); ++j) {
    if (!Slots_[j].Bounded) continue;
    for (std::size_t t = 0; t < v; ++t) Traces_[j * v + t] = trace(j, Variant_[t]);
    std::copy_n(signs[j]->HTrace().Data(), HTraceLength, &HueBytes_[j * HTraceLength]);
  }
  // Projecting every trace is most of the preparation; both halves of the pictures at once, each
  // writing only its own pictures' values.
  auto project = [&](std::size_t from, std::size_t to) {
    for (std::size_t j = from; j < to; ++j) {
      if (!Slots_[j].Bounded) continue;
      const int block = static_cast<int>(j / BoundBlock), lane = static_cast<int>(j % BoundBlock);
      const std::uint8_t* hue = signs[j]->HTrace().Data();
      for (int k = 0; k < HTraceLength; ++k) HueOf(block)[((k / 2) * BoundBlock + lane) * 2 + k % 2] = hue[k];
      for (int t = 0; t < VariantCount_; ++t) {
        const std::int8_t* x = trace(j, Variant_[t]);
        double coords[BoundDims];
        basis.Project(x, coords);
        std::int64_t energy = 0;
        for (int k = 0; k < LTraceLength; ++k) energy += x[k] * x[k];
        const std::size_t at = static_cast<std::size_t>(t) * BoundBlock + static_cast<std::size_t>(lane);
        float* rest = RestOf(block) + static_cast<std::ptrdiff_t>(t) * RestCount * BoundBlock;
        double inside = 0, absolute = 0;
        int d = 0;
        for (int s = 0; s < RestCount; ++s) {
          for (; d < BoundCheckpoints[s]; ++d) inside += coords[d] * coords[d];
          // What rounding took from the energy outside is given back, so the length is never short.
          const auto e = static_cast<double>(energy);
          rest[s * BoundBlock + lane] = Up(std::sqrt(std::max(e - inside, 0.0) + 1e-9 * e));
        }
        // Steps of 1/32760 of the coordinates' length: no coordinate and no dot product of two
        // traces' steps leaves 16 and 32 bits.
        const double length = std::sqrt(inside);
        const float inv = length > 0 ? static_cast<float>(length / 32760) : 1.0F;
        const double steps = 1.0 / static_cast<double>(inv);
        for (int stage = 0; stage < BoundStages; ++stage) {
          const int first = BoundCheckpoints[stage], count = BoundCheckpoints[stage + 1] - first;
          std::int16_t* out = CoordsOf(block, stage) + static_cast<std::ptrdiff_t>(t) * count * BoundBlock;
          for (int e = 0; e < count; ++e)
            out[((e / 2) * BoundBlock + lane) * 2 + e % 2] = static_cast<std::int16_t>(std::lrint(coords[first + e] * steps));
        }
        for (d = 0; d < BoundDims; ++d) absolute += std::abs(coords[d]);
        InvOf(block)[at] = inv;
        AbsoluteOf(block)[at] = Up(absolute * (1 + 1e-9));
      }
    }
  };
  const std::size_t half = Slots_.size() >= 2 * BoundBlock && std::thread::hardware_concurrency() > 1
                               ? Slots_.size() / 2 / BoundBlock * BoundBlock
                               : Slots_.size();
  std::thread second;
  if (half < Slots_.size()) second = std::thread(project, half, Slots_.size());
  project(0, half);
  if (second.joinable()) second.join();
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

void TPictureFilter::LoadRow(int slot, TRow& row) {
  row.Slot = slot;
  row.Bounded = Slots_[static_cast<std::size_t>(slot)].Bounded;
  if (!row.Bounded) return;
  const int block = slot / BoundBlock, lane = slot % BoundBlock;
  // The row is always compared by its unchanged trace, variant 0 of its block.
  auto pair = [](auto low, auto high) {
    return static_cast<std::int32_t>(static_cast<std::uint16_t>(low) | static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16);
  };
  for (int stage = 0; stage < BoundStages; ++stage) {
    const std::int16_t* coords = CoordsOf(block, stage);
    for (int p = 0; p < (BoundCheckpoints[stage + 1] - BoundCheckpoints[stage]) / 2; ++p)
      row.Bound.Coords[BoundCheckpoints[stage] / 2 + p] = pair(coords[(p * BoundBlock + lane) * 2], coords[(p * BoundBlock + lane) * 2 + 1]);
  }
  const std::uint8_t* hue = HueOf(block);
  for (int p = 0; p < HTraceLength / 2; ++p)
    row.Bound.Hue[p] = pair(std::int16_t{hue[(p * BoundBlock + lane) * 2]}, std::int16_t{hue[(p * BoundBlock + lane) * 2 + 1]});
  for (int s = 0; s < RestCount; ++s) row.Bound.Rest[s] = RestOf(block)[s * BoundBlock + lane];
  row.Bound.Inv = InvOf(block)[lane];
  row.Bound.Absolute = AbsoluteOf(block)[lane];
}

std::uint32_t TPictureFilter::BlockCandidates(const TRow& row, int block, std::uint32_t live, TPictureFilterStats& stats) {
  if (!row.Bounded) return live;
  const std::uint32_t unbounded = live & UnboundedMask_[static_cast<std::size_t>(block)];
  const std::uint32_t bounded = live & ~unbounded;
  if (!bounded) return unbounded;
  TBoundBlock data{HueOf(block), {}, RestOf(block), InvOf(block), AbsoluteOf(block), VariantCount_};
  for (int stage = 0; stage < BoundStages; ++stage) data.Coords[stage] = CoordsOf(block, stage);
  const std::uint32_t kept = Kernel_(row.Bound, data, Line_, bounded);
  stats.Bounded += std::popcount(bounded & ~kept);
  return kept | unbounded;
}

bool TPictureFilter::Reaches(int rowSlot, int slot) const {
  const auto v = static_cast<std::size_t>(VariantCount_);
  const auto row = static_cast<std::size_t>(rowSlot), column = static_cast<std::size_t>(slot);
  // As JudgePictures scores the pair: the row's unchanged trace against each variant of the other.
  const std::uint8_t *hueA = &HueBytes_[row * HTraceLength], *hueB = &HueBytes_[column * HTraceLength];
  std::int32_t hue = 0;  // 32 bytes: a plain loop beats a kernel's setting up
  for (int k = 0; k < HTraceLength; ++k) hue += hueA[k] * hueB[k];
  const float colour = TPixan::TraceSimilarity(hue, true);
  for (std::size_t t = 0; t < v; ++t) {
    const float structure =
        TPixan::TraceSimilarity(TraceDotSigned(TraceKernel_, Traces_[row * v], Traces_[column * v + t], LTraceLength), false);
    if (PictureScore(structure, colour, Grayscale_) >= static_cast<float>(Threshold_)) return true;
  }
  return false;
}

void TPictureFilter::ScoreRow(int slot, TRow& row, std::vector<int>& out, TPictureFilterStats& stats) {
  LoadRow(slot, row);
  out.clear();
  stats.Pairs += slot;
  for (int block = 0; block * BoundBlock < slot; ++block) {
    const int count = std::min(BoundBlock, slot - block * BoundBlock);
    for (std::uint32_t kept = BlockCandidates(row, block, (1U << count) - 1, stats); kept; kept &= kept - 1) {
      const int candidate = block * BoundBlock + std::countr_zero(kept);
      if (row.Bounded && Slots_[static_cast<std::size_t>(candidate)].Bounded && !Reaches(slot, candidate)) {
        ++stats.Scored;
        continue;
      }
      out.push_back(candidate);
    }
  }
}

void TPictureFilter::LookAhead() {
  constexpr int Window = 32;  // rows ahead of the loop at most
  TRow row;
  int next = 0;
  const int rows = static_cast<int>(Slots_.size());
  while (!Quit_.load(std::memory_order_relaxed)) {
    const int current = Current_.load(std::memory_order_acquire);
    // The row after the loop's is the loop's own next one: leave it, take the one after.
    const int slot = std::max(next, current + 2);
    if (slot >= rows) return;
    if (slot > current + Window) {  // far enough ahead: let the loop catch up
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      continue;
    }
    next = slot + 1;
    std::uint8_t expected = RowFree;
    if (!State_[static_cast<std::size_t>(slot)].compare_exchange_strong(expected, RowAhead)) continue;
    // (the loop may take it over while it is scored: then the scores are dropped)
    std::vector<int>& scored = Ahead_[static_cast<std::size_t>(slot)];
    TPictureFilterStats stats;
    ScoreRow(slot, row, scored, stats);
    std::atomic<std::uint8_t>& state = State_[static_cast<std::size_t>(slot)];
    expected = RowAhead;
    if (state.compare_exchange_strong(expected, RowReady)) {
      AheadStats_.Pairs += stats.Pairs;
      AheadStats_.Bounded += stats.Bounded;
      AheadStats_.Scored += stats.Scored;
    } else {
      std::vector<int>().swap(scored);  // the loop did the row itself meanwhile
    }
  }
}

void TPictureFilter::Finish() {
  if (!Worker_.joinable()) return;
  Quit_ = true;
  Worker_.join();
  Stats_.Pairs += AheadStats_.Pairs;
  Stats_.Bounded += AheadStats_.Bounded;
  Stats_.Scored += AheadStats_.Scored;
  AheadStats_ = {};
}

TPictureFilter::~TPictureFilter() { Finish(); }

void TPictureFilter::BeginRow(int index) {
  const int slot = SlotOf_[static_cast<std::size_t>(index)];
  Current_.store(slot, std::memory_order_release);
  Scored_ = nullptr;
  if (State_) {
    // A row the look-ahead is still on is done here too rather than waited for.
    std::atomic<std::uint8_t>& state = State_[static_cast<std::size_t>(slot)];
    std::uint8_t seen = state.load(std::memory_order_acquire);
    while (seen != RowReady && !state.compare_exchange_weak(seen, RowTaken)) {
    }
    if (seen == RowReady) {
      Scored_ = &Ahead_[static_cast<std::size_t>(slot)];
      ScoredAt_ = 0;
    }
  }
  LoadRow(slot, Row_);
  Block_ = 0;
  Pending_ = 0;
}

int TPictureFilter::Next(bool rowGrouped) {
  if (Scored_) {
    while (ScoredAt_ < Scored_->size()) {
      const TSlot& candidate = Slots_[static_cast<std::size_t>((*Scored_)[ScoredAt_++])];
      if (rowGrouped && candidate.Grouped) {
        ++Stats_.Grouped;
        continue;
      }
      return candidate.Index;
    }
    std::vector<int>().swap(Ahead_[static_cast<std::size_t>(Row_.Slot)]);
    Scored_ = nullptr;
    Block_ = Row_.Slot / BoundBlock + 1;  // nothing left of this row
    return -1;
  }
  const int end = Row_.Slot;  // the slots before the row's
  for (;;) {
    while (Pending_) {
      const int slot = (Block_ - 1) * BoundBlock + std::countr_zero(Pending_);
      Pending_ &= Pending_ - 1;
      const TSlot& candidate = Slots_[static_cast<std::size_t>(slot)];
      if (rowGrouped && candidate.Grouped) {
        ++Stats_.Grouped;
        continue;
      }
      if (Row_.Bounded && candidate.Bounded && !Reaches(Row_.Slot, slot)) {
        ++Stats_.Scored;
        continue;
      }
      return candidate.Index;
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
    Pending_ = live ? BlockCandidates(Row_, Block_, live, Stats_) : 0;
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
  if (Row_.Slot != a) LoadRow(a, Row_);
  return (BlockCandidates(Row_, b / BoundBlock, 1U << (b % BoundBlock), Stats_) >> (b % BoundBlock)) & 1U;
}

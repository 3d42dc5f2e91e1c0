#include "xPictureFilter.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

#include "xEngine.h"

namespace {

// Every dot product of two L-traces lies within +-MaxDot.
constexpr std::int64_t MaxDot = std::int64_t{LTraceLength} * 128 * 128;
constexpr double LScale = 127.0 * 127.0, HScale = 255.0 * 255.0;
// How far below the decision's edge the tiles' line lies, in dot units: the score formula's
// single-precision rounding moves the edge by far less than one unit, and the line's own
// arithmetic by less than a tenth.
constexpr double LineMargin = 4.0;
// A pair whose dot product lies this far above the line reaches the threshold whatever the
// rounding (the line lies less than 8 below the edge): only the pairs between are scored as the
// decision scores them.
constexpr float SureMargin = 32.0F;

const std::int8_t NoTrace[LTraceLength] = {};

}  // namespace

TPictureFilter::TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                               bool lookAhead, TTileKernelKind kernel)
    : Threshold_(threshold), Grayscale_(variants.Contains(pvGrayscale)), Kernel_(TileKernel(kernel)),
      RowKernel_(RowKernel(kernel)), ChecksMembers_(RowKernelFast(kernel)), RowOut_(std::make_unique<TRowOut>()) {
  int variant[LTraceVariants] = {pvOriginal};
  VariantCount_ = 1;
  for (int v = pvRotate180; v <= pvFlipHorizontal; ++v)
    if (variants.Contains(v)) variant[VariantCount_++] = v;

  // Score >= T asks (2 S + C) / 3 >= T / 50 - 1, or S >= T / 50 - 1 alone with greyscale on,
  // where S and C are the dot products over 127^2 and 255^2.
  const double least = threshold / 50.0 - 1.0;
  Line_.Base = static_cast<float>(LScale * 3 * least / 2 - LineMargin);
  Line_.Slope = static_cast<float>(LScale / (2 * HScale));
  Line_.Grey = static_cast<float>(LScale * least - LineMargin);
  Line_.Sure = SureMargin;
  Line_.Grayscale = Grayscale_;

  SlotOf_.assign(records.size(), -1);
  std::vector<const TPicSign*> signs;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const TFileData* record = records[i];
    if (!record || record->Failed || record->Kind() != TRecordKind::Picture) continue;
    const TPicSign& sign = static_cast<const TPicData&>(*record).Sign;
    TSlot slot;
    slot.Record = record;
    slot.Index = static_cast<int>(i);
    // Whatever the tiles cannot read is left to the decision, which then fails as it always did.
    slot.Scorable = sign.IsValid() && sign.HLength() == HTraceLength;
    for (int v = 0; v < VariantCount_ && slot.Scorable; ++v) slot.Scorable = sign.LLength(variant[v]) == LTraceLength;
    SlotOf_[i] = static_cast<int>(Slots_.size());
    SlotByRecord_.emplace(record, static_cast<int>(Slots_.size()));
    Slots_.push_back(slot);
    signs.push_back(&sign);
  }

  const std::size_t slots = Slots_.size(), blocks = (slots + TileLanes - 1) / TileLanes;
  const auto v = static_cast<std::size_t>(VariantCount_);
  constexpr auto packedL = static_cast<std::size_t>(PackedLength(LTraceLength));
  constexpr auto packedH = static_cast<std::size_t>(PackedLength(HTraceLength));
  // One block more than there are, so that a tile's second block always exists.
  PackedL_.assign((blocks + 1) * v * packedL, 0);
  PackedHue_.assign((blocks + 1) * packedH, 0);
  UnscorableMask_.assign(blocks + 1, 0);
  Unscorable_.assign(slots / 64 + 1, 0);
  Grouped_.assign(slots / 64 + 1, 0);
  for (std::size_t j = 0; j < slots; ++j) {
    if (!Slots_[j].Scorable) Unscorable_[j / 64] |= std::uint64_t{1} << (j % 64);
    if (Slots_[j].Record->Group) Grouped_[j / 64] |= std::uint64_t{1} << (j % 64);
  }
  RowTrace_.assign(slots, NoTrace);
  RowHue_.assign(slots * HTraceLength, 0);
  RowOffset_.assign(slots, 0);
  Traces_.assign(slots * v, nullptr);
  Hues_.assign(slots, nullptr);
  HueOffset_.assign((blocks + 1) * TileLanes, 0);
  for (std::size_t j = 0; j < slots; ++j)
    if (!Slots_[j].Scorable) UnscorableMask_[j / TileLanes] |= static_cast<std::uint16_t>(1U << (j % TileLanes));
  // Packing is all the preparation there is: both halves of the blocks at once.
  auto pack = [&](std::size_t from, std::size_t to) {
    for (std::size_t j = from * TileLanes; j < std::min(to * TileLanes, slots); ++j) {
      if (!Slots_[j].Scorable) continue;
      const std::size_t block = j / TileLanes;
      const int lane = static_cast<int>(j % TileLanes);
      for (std::size_t t = 0; t < v; ++t) {
        Traces_[j * v + t] = reinterpret_cast<const std::int8_t*>(signs[j]->LTrace(variant[t])->Data());
        PackLTrace(Traces_[j * v + t], lane, &PackedL_[(block * v + t) * packedL]);
      }
      const std::uint8_t* hue = Hues_[j] = signs[j]->HTrace().Data();
      PackHTrace(hue, lane, &PackedHue_[block * packedH]);
      RowTrace_[j] = reinterpret_cast<const std::int8_t*>(signs[j]->LTrace(pvOriginal)->Data());
      RowHTrace(hue, &RowHue_[j * HTraceLength]);
      RowOffset_[j] = RowLOffset(RowTrace_[j]);
      HueOffset_[j] = ColumnHOffset(hue);
    }
  };
  const unsigned cores = std::thread::hardware_concurrency();
  if (blocks >= 8 && cores > 1) {
    std::thread second(pack, blocks / 2, blocks);
    pack(0, blocks / 2);
    second.join();
  } else {
    pack(0, blocks);
  }

  PanelCount_ = static_cast<int>((slots + PanelRows - 1) / PanelRows);
  Panels_ = std::make_unique<TPanel[]>(static_cast<std::size_t>(PanelCount_));
  if (lookAhead && PanelCount_ > 1 && cores > 1) {
    Ahead_ = 2 * static_cast<int>(cores);
    for (unsigned w = 0; w < cores; ++w) Workers_.emplace_back([this] { Worker(); });
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
  const float line = std::fma(-Line_.Slope, static_cast<float>(hueDot), Line_.Base);
  return Grayscale_ ? std::min(line, Line_.Grey) : line;
}

int TPictureFilter::SlotOfRecord(const TFileData* record) const {
  const auto found = SlotByRecord_.find(record);
  return found == SlotByRecord_.end() ? -1 : found->second;
}

void TPictureFilter::CheckMembers(const TGroup& group, const TFileData& newcomer, int threshold, int from, int blocks,
                                  std::vector<std::int8_t>& verdicts) {
  const auto v = static_cast<std::size_t>(VariantCount_);
  constexpr auto packedL = static_cast<std::size_t>(PackedLength(LTraceLength));
  constexpr auto packedH = static_cast<std::size_t>(PackedLength(HTraceLength));
  MemberSlots(group);
  TGroupTraces& packed = Groups_[&group];
  for (; packed.Count < group.Count(); ++packed.Count) {  // the members that joined since
    const int at = packed.Count, lane = at % TileLanes;
    const auto block = static_cast<std::size_t>(at / TileLanes);
    if (lane == 0) {
      packed.L.resize((block + 1) * v * packedL, 0);
      packed.Hue.resize((block + 1) * packedH, 0);
      packed.HOffset.resize((block + 1) * TileLanes, 0);
    }
    const int slot = packed.Slots[static_cast<std::size_t>(at)];
    const bool scorable = slot >= 0 && Slots_[static_cast<std::size_t>(slot)].Scorable;
    packed.Scorable.push_back(scorable ? 1 : 0);
    if (!scorable) continue;
    const auto s = static_cast<std::size_t>(slot);
    for (std::size_t t = 0; t < v; ++t) PackLTrace(Traces_[s * v + t], lane, &packed.L[(block * v + t) * packedL]);
    PackHTrace(Hues_[s], lane, &packed.Hue[block * packedH]);
    packed.HOffset[static_cast<std::size_t>(at)] = HueOffset_[s];
  }

  // Blocks past the last member are not there: fewer of them, in the kernel's counts.
  const int first = from / TileLanes, last = (packed.Count + TileLanes - 1) / TileLanes;
  int count = std::min(blocks, last - first);
  while (count & (count - 1)) ++count;  // 1, 2, 4 or 8
  count = std::min(count, RowBlocks);
  const int members = std::min(count * TileLanes, packed.Count - first * TileLanes);
  verdicts.assign(static_cast<std::size_t>(std::max(members, 0)), -1);
  const int row = SlotOfRecord(&newcomer);
  if (members <= 0 || row < 0 || !Slots_[static_cast<std::size_t>(row)].Scorable) return;
  // Blocks the kernel reads beyond the last one take its own data again; their results go unread.
  TRowColumns columns{};
  columns.Variants = VariantCount_;
  columns.Blocks = count;
  const auto base = static_cast<std::size_t>(first);
  std::vector<std::int32_t>& offsets = packed.HOffset;
  offsets.resize(std::max(offsets.size(), (base + static_cast<std::size_t>(count)) * TileLanes), 0);
  columns.HOffset = &offsets[base * TileLanes];
  for (int b = 0; b < count; ++b) {
    const auto block = std::min(base + static_cast<std::size_t>(b), static_cast<std::size_t>(last - 1));
    for (std::size_t t = 0; t < v; ++t) columns.L[t][b] = &packed.L[(block * v + t) * packedL];
    columns.Hue[b] = &packed.Hue[block * packedH];
  }
  const auto r = static_cast<std::size_t>(row);
  RowKernel_(RowTrace_[r], &RowHue_[r * HTraceLength], RowOffset_[r], columns, *RowOut_);
  constexpr std::size_t stride = std::size(TRowOut{}.Hue);
  for (int j = 0; j < members; ++j)
    if (packed.Scorable[base * TileLanes + static_cast<std::size_t>(j)])
      verdicts[static_cast<std::size_t>(j)] = Reaches(RowOut_->Hue[j], &RowOut_->L[0][j], stride, threshold) ? 1 : 0;
}

bool TPictureFilter::ChecksFromRow(const TFileData& newcomer, int threshold) const {
  return RowSlot_ >= 0 && RowScorable_ && threshold == Threshold_ &&
         Slots_[static_cast<std::size_t>(RowSlot_)].Record == &newcomer;
}

const std::vector<int>& TPictureFilter::MemberSlots(const TGroup& group) {
  std::vector<int>& slots = Groups_[&group].Slots;
  for (auto at = static_cast<int>(slots.size()); at < group.Count(); ++at) slots.push_back(SlotOfRecord(group.Items(at)));
  return slots;
}

bool TPictureFilter::Reaches(std::int32_t hueDot, const std::int32_t* dots, std::size_t stride, int threshold) const {
  // As JudgePictures scores the pair: the first picture's unchanged trace against each variant
  // of the other.
  const float colour = TPixan::TraceSimilarity(hueDot, true);
  for (int t = 0; t < VariantCount_; ++t)
    if (PictureScore(TPixan::TraceSimilarity(dots[static_cast<std::size_t>(t) * stride], false), colour, Grayscale_) >=
        static_cast<float>(threshold))
      return true;
  return false;
}

void TPictureFilter::ScorePanel(int panel) {
  const int first = panel * PanelRows, last = std::min(first + PanelRows, static_cast<int>(Slots_.size()));
  TPanel& own = Panels_[static_cast<std::size_t>(panel)];
  const std::size_t words = own.Words = static_cast<std::size_t>(last + 63) / 64;
  own.Candidates.assign(static_cast<std::size_t>(last - first) * words, 0);
  auto rowBits = [&](int slot) { return &own.Candidates[static_cast<std::size_t>(slot - first) * words]; };
  // A row without a complete signature has every earlier picture as a candidate.
  for (int slot = first; slot < last; ++slot) {
    if (Slots_[static_cast<std::size_t>(slot)].Scorable) continue;
    std::uint64_t* bits = rowBits(slot);
    for (int c = 0; c < slot; ++c) bits[c / 64] |= std::uint64_t{1} << (c % 64);
  }
  const auto v = static_cast<std::size_t>(VariantCount_);
  constexpr auto packedL = static_cast<std::size_t>(PackedLength(LTraceLength));
  constexpr auto packedH = static_cast<std::size_t>(PackedLength(HTraceLength));
  auto tile = std::make_unique<TTileOut>();
  constexpr std::size_t stride = TileRows * TileColumns;  // from one variant's dot products to the next
  TTileColumns columns{};
  columns.Variants = VariantCount_;
  // Column tiles in order, so that each row's candidates come out ascending; all rows of the
  // panel against one column tile while its traces are at hand.
  for (int start = 0; start < last - 1; start += TileColumns) {
    const auto block = static_cast<std::size_t>(start / TileLanes);
    for (std::size_t b = 0; b < TileBlocks; ++b) {
      for (std::size_t t = 0; t < v; ++t) columns.L[t][b] = &PackedL_[((block + b) * v + t) * packedL];
      columns.Hue[b] = &PackedHue_[(block + b) * packedH];
    }
    columns.HOffset = &HueOffset_[block * TileLanes];
    const std::uint32_t unscorable = UnscorableMask_[block] | std::uint32_t{UnscorableMask_[block + 1]} << TileLanes;
    for (int group = first; group < last; group += TileRows) {
      const int end = std::min(group + TileRows, last);
      if (start >= end - 1) continue;  // every column at or after every row
      TTileRows tileRows;
      for (int r = 0; r < TileRows; ++r) {
        const int slot = group + r;
        const bool real = slot < end;
        tileRows.L[r] = real ? RowTrace_[static_cast<std::size_t>(slot)] : NoTrace;
        tileRows.Hue[r] = real ? &RowHue_[static_cast<std::size_t>(slot) * HTraceLength] : NoTrace;
        tileRows.LOffset[r] = real ? RowOffset_[static_cast<std::size_t>(slot)] : 0;
      }
      Kernel_(tileRows, columns, Line_, *tile);
      for (int slot = group; slot < end; ++slot) {
        const int count = std::min(slot - start, TileColumns);  // the columns before the row's
        if (count <= 0 || !Slots_[static_cast<std::size_t>(slot)].Scorable) continue;
        const std::uint32_t earlier = count == 32 ? ~0U : (1U << count) - 1;
        const int r = slot - group;
        std::uint32_t candidates = (unscorable | tile->Sure[r]) & earlier;
        for (std::uint32_t kept = tile->Pass[r] & ~tile->Sure[r] & ~unscorable & earlier; kept; kept &= kept - 1) {
          const int j = std::countr_zero(kept);
          if (Reaches(tile->Hue[r][j], &tile->L[0][r][j], stride, Threshold_)) candidates |= 1U << j;
        }
        rowBits(slot)[start / 64] |= std::uint64_t{candidates} << (start % 64);
      }
    }
  }
}

bool TPictureFilter::Claim(int panel) {
  std::uint8_t expected = PanelFree;
  return Panels_[static_cast<std::size_t>(panel)].State.compare_exchange_strong(expected, PanelWorking);
}

void TPictureFilter::Worker() {
  while (!Quit_.load(std::memory_order_relaxed)) {
    const int current = Current_.load(std::memory_order_acquire);
    int panel = -1;
    for (int p = current; p < std::min(PanelCount_, current + Ahead_ + 1) && panel < 0; ++p)
      if (Claim(p)) panel = p;
    if (panel < 0) {
      if (current + Ahead_ >= PanelCount_ - 1) return;  // every panel left is somebody's
      std::unique_lock lock(Mutex_);
      Changed_.wait_for(lock, std::chrono::milliseconds(20), [&] {
        return Quit_.load() || Current_.load() != current;
      });
      continue;
    }
    ScorePanel(panel);
    {
      std::lock_guard lock(Mutex_);
      Panels_[static_cast<std::size_t>(panel)].State.store(PanelReady, std::memory_order_release);
    }
    Changed_.notify_all();
  }
}

void TPictureFilter::Finish() {
  if (Workers_.empty()) return;
  {
    std::lock_guard lock(Mutex_);
    Quit_ = true;
  }
  Changed_.notify_all();
  for (std::thread& worker : Workers_) worker.join();
  Workers_.clear();
}

TPictureFilter::~TPictureFilter() { Finish(); }

void TPictureFilter::BeginRow(int index) {
  const int slot = SlotOf_[static_cast<std::size_t>(index)];
  const int panel = slot / PanelRows;
  if (panel != Panel_) {
    if (Panel_ >= 0) std::vector<std::uint64_t>().swap(Panels_[static_cast<std::size_t>(Panel_)].Candidates);
    Panel_ = panel;
    {
      std::lock_guard lock(Mutex_);
      Current_.store(panel, std::memory_order_release);
    }
    Changed_.notify_all();
    TPanel& own = Panels_[static_cast<std::size_t>(panel)];
    if (Claim(panel)) {
      ScorePanel(panel);
      own.State.store(PanelReady, std::memory_order_release);
    } else if (own.State.load(std::memory_order_acquire) != PanelReady) {
      std::unique_lock lock(Mutex_);
      Changed_.wait(lock, [&] { return own.State.load(std::memory_order_acquire) == PanelReady; });
    }
  }
  const TPanel& own = Panels_[static_cast<std::size_t>(panel)];
  RowSlot_ = slot;
  RowBits_ = &own.Candidates[static_cast<std::size_t>(slot - panel * PanelRows) * own.Words];
  RowScorable_ = Slots_[static_cast<std::size_t>(slot)].Scorable;
  RowAt_ = 0;
  std::int64_t candidates = 0;
  for (int w = 0; w < (slot + 63) / 64; ++w) candidates += std::popcount(RowBits_[w]);
  Stats_.Pairs += slot;
  Stats_.Scored += slot - candidates;
}

int TPictureFilter::Next(bool rowGrouped) {
  // A word of candidates at a time; with the row grouped, the grouped ones are passed over.
  while (RowAt_ < RowSlot_) {
    const int word = RowAt_ / 64;
    std::uint64_t bits = RowBits_[word] & (~std::uint64_t{0} << (RowAt_ % 64));
    const std::uint64_t passed = rowGrouped ? bits & Grouped_[static_cast<std::size_t>(word)] : 0;
    bits &= ~passed;
    if (!bits) {
      Stats_.Grouped += std::popcount(passed);
      RowAt_ = (word + 1) * 64;
      continue;
    }
    const int bit = std::countr_zero(bits);
    Stats_.Grouped += std::popcount(passed & ((std::uint64_t{1} << bit) - 1));
    const int slot = word * 64 + bit;
    RowAt_ = slot + 1;
    Scored_ = RowScorable_ && !Bit(Unscorable_, slot);
    // The decision reads the next candidate's record: fetch it while this one is decided.
    bits &= bits - 1;
    int ahead = word;
    while (!bits && ahead + 1 < std::min(word + 4, (RowSlot_ + 63) / 64)) bits = RowBits_[++ahead];
    if (bits) {
      const auto* record = reinterpret_cast<const char*>(Slots_[static_cast<std::size_t>(ahead * 64 + std::countr_zero(bits))].Record);
      __builtin_prefetch(record);
      __builtin_prefetch(record + 64);
    }
    return Slots_[static_cast<std::size_t>(slot)].Index;
  }
  Scored_ = false;
  return -1;
}

void TPictureFilter::NoteGrouped(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= SlotOf_.size()) return;
  const int slot = SlotOf_[static_cast<std::size_t>(index)];
  if (slot >= 0) Grouped_[static_cast<std::size_t>(slot) / 64] |= std::uint64_t{1} << (slot % 64);
}

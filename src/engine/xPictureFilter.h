#pragma once
// The earlier pictures that can still be duplicates of a picture in the comparison phase, one at
// a time in index order. A pair is left out only when its score provably stays below the
// threshold whatever the variant (TBlockBound), or when both pictures are grouped already (the
// decision would turn it down at once), so the pairs that remain are decided as before and every
// decision comes out the same.
//
// Pictures are taken sixteen at a time: their colours and trace coordinates lie side by side, one
// block is bounded in one go, and a block of grouped pictures is passed over as a whole. A pair
// the bound keeps is then scored as the decision scores it, from the traces themselves, and only
// pairs that reach the threshold go on to the decision: their records are never touched otherwise.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "xPicSign.h"
#include "xRecords.h"
#include "xTraceDot.h"
#include "xTraceKernels.h"

struct TPictureFilterStats {
  std::int64_t Pairs = 0;    // picture pairs looked at
  std::int64_t Grouped = 0;  // left out because both pictures were already grouped
  std::int64_t Bounded = 0;  // left out by the bound
  std::int64_t Scored = 0;   // left out by their score
};

class TPictureFilter {
public:
  // records: every record of the search by index, null where the record is not a picture of
  // this comparison. Failed pictures never become candidates. lookAhead: rows ahead of the loop
  // are scored on a second thread, where the processor has more than one core.
  TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                 bool lookAhead = false, TBlockBound kernel = BestBlockBound());

  // Starts on the candidates of `index`, a picture record.
  void BeginRow(int index);
  // The next earlier picture that may be a duplicate of the row's, or -1 when none is left.
  // rowGrouped: the row's picture belongs to a group by now, so grouped pictures are passed over.
  int Next(bool rowGrouped);
  // The record joined a group.
  void NoteGrouped(int index);

  // The least dot product of L-traces that reaches the threshold with this dot product of
  // H-traces; above every possible dot product when none does.
  std::int64_t NeededDot(std::int64_t hueDot) const;
  // The bound's own edge for that colour dot product: never above NeededDot.
  double LineAt(std::int64_t hueDot) const;
  // Whether the pair of signatures (first, second in JudgePictures' order) may reach the threshold.
  bool MayMatch(int first, int second);

  // Ends the look-ahead: the counts are complete from then on.
  void Finish();
  const TPictureFilterStats& Stats() const { return Stats_; }

  ~TPictureFilter();
  TPictureFilter(const TPictureFilter&) = delete;
  TPictureFilter& operator=(const TPictureFilter&) = delete;

private:
  struct TSlot {
    int Index = -1;
    bool Bounded = false;  // a complete signature: otherwise always a candidate
    bool Grouped = false;
  };

  struct TRow {
    TBoundRow Bound;
    int Slot = -1;
    bool Bounded = false;
  };

  void Prepare(const std::vector<const TFileData*>& records);
  void LoadRow(int slot, TRow& row);
  // Whether the pair of the two slots (the row's first) scores at least the threshold.
  bool Reaches(int rowSlot, int slot) const;
  std::uint32_t BlockCandidates(const TRow& row, int block, std::uint32_t live, TPictureFilterStats& stats);
  // The look-ahead: a second thread scores the rows just ahead of the loop, all earlier pictures
  // of each, while the loop decides; the loop takes a row itself when it gets there first.
  void LookAhead();
  void ScoreRow(int slot, TRow& row, std::vector<int>& out, TPictureFilterStats& stats);
  std::uint8_t* HueOf(int block) { return &Hue_[static_cast<std::size_t>(block) * HTraceLength * BoundBlock]; }
  // Stage s of the coordinates (directions Checkpoints[s] to Checkpoints[s + 1]).
  std::int16_t* CoordsOf(int block, int stage) {
    return &Coords_[static_cast<std::size_t>(stage)][PerVariant(block) * static_cast<std::size_t>(BoundCheckpoints[stage + 1] - BoundCheckpoints[stage])];
  }
  float* RestOf(int block) { return &Rest_[PerVariant(block) * (BoundStages + 1)]; }
  float* InvOf(int block) { return &Inv_[PerVariant(block)]; }
  float* AbsoluteOf(int block) { return &Absolute_[PerVariant(block)]; }
  std::size_t PerVariant(int block) const { return static_cast<std::size_t>(block) * VariantCount_ * BoundBlock; }

  TPicVariants Variants_;
  int Threshold_;
  bool Grayscale_;
  int VariantCount_ = 0;
  int Variant_[LTraceVariants] = {};
  TBlockBound Kernel_;
  TBoundLine Line_;
  std::vector<TSlot> Slots_;
  std::vector<int> SlotOf_;  // by record index; -1 for none
  // By block of BoundBlock slots: which are grouped, which have no complete signature.
  std::vector<std::uint32_t> GroupedMask_, UnboundedMask_;
  std::vector<std::uint8_t> Hue_;
  std::vector<std::int16_t> Coords_[BoundStages];
  std::vector<float> Rest_, Inv_, Absolute_;
  // By slot: the traces of the variants, and the H-trace's bytes.
  std::vector<const std::int8_t*> Traces_;
  std::vector<std::uint8_t> HueBytes_;
  TTraceKernel TraceKernel_;
  // The row.
  TRow Row_;
  int Block_ = 0;              // the next block to look at
  std::uint32_t Pending_ = 0;  // candidates of the block before it, not yet handed out
  const std::vector<int>* Scored_ = nullptr;  // or the row's candidates, scored ahead
  std::size_t ScoredAt_ = 0;
  TPictureFilterStats Stats_;
  // The look-ahead's state of each row (slot), the candidates of the rows it scored, its counts.
  enum : std::uint8_t { RowFree, RowAhead, RowReady, RowTaken };
  std::unique_ptr<std::atomic<std::uint8_t>[]> State_;
  std::vector<std::vector<int>> Ahead_;
  TPictureFilterStats AheadStats_;
  std::atomic<int> Current_{-1};  // the row the loop is on
  std::atomic<bool> Quit_{false};
  std::thread Worker_;
};

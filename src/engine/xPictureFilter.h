#pragma once
// The earlier pictures that can still be duplicates of a picture in the comparison phase, one at
// a time in index order. A pair is left out only when its score provably stays below the
// threshold whatever the variant (TBlockBound), or when both pictures are grouped already (the
// decision would turn it down at once), so the pairs that remain are decided as before and every
// decision comes out the same.
//
// Pictures are taken sixteen at a time: their colours and trace coordinates lie side by side, one
// block is bounded in one go, and a block of grouped pictures is passed over as a whole.

#include <cstdint>
#include <vector>

#include "xPicSign.h"
#include "xRecords.h"
#include "xTraceDot.h"

struct TPictureFilterStats {
  std::int64_t Pairs = 0;    // picture pairs looked at
  std::int64_t Grouped = 0;  // left out because both pictures were already grouped
  std::int64_t Bounded = 0;  // left out by the bound
};

class TPictureFilter {
public:
  // records: every record of the search by index, null where the record is not a picture of
  // this comparison. Failed pictures never become candidates.
  TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                 TBlockBound kernel = BestBlockBound());

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

  const TPictureFilterStats& Stats() const { return Stats_; }

private:
  struct TSlot {
    int Index = -1;
    bool Bounded = false;  // a complete signature: otherwise always a candidate
    bool Grouped = false;
  };

  void Prepare(const std::vector<const TFileData*>& records);
  void LoadRow(int slot);
  std::uint32_t BlockCandidates(int block, std::uint32_t live);
  float* HueOf(int block) { return &Hue_[static_cast<std::size_t>(block) * HTraceLength * BoundBlock]; }
  float* CoordsOf(int block) { return &Coords_[static_cast<std::size_t>(block) * VariantCount_ * BoundDims * BoundBlock]; }
  float* RestOf(int block) { return &Rest_[static_cast<std::size_t>(block) * VariantCount_ * (BoundStages + 1) * BoundBlock]; }

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
  std::vector<float> Hue_, Coords_, Rest_;
  // The row.
  TBoundRow Row_;
  int RowSlot_ = -1;
  bool RowBounded_ = false;
  int Block_ = 0;              // the next block to look at
  std::uint32_t Pending_ = 0;  // candidates of the block before it, not yet handed out
  TPictureFilterStats Stats_;
};

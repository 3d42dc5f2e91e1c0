#pragma once
// The earlier pictures that can still be duplicates of a picture in the comparison phase. A pair
// is left out only when its score provably stays below the threshold whatever the variant, so
// the pairs that remain are decided as before and every decision comes out the same.
//
// The bound: the colour similarity is computed exactly, which fixes the least dot product of
// L-traces that could reach the threshold. The structure dot product is then summed segment by
// segment, strongest segments first, and after each stage the rest is bounded by the product of
// the two traces' remaining norms (Cauchy-Schwarz). All of it in integers: no rounding to allow for.

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
  // Checkpoints of the bound, in segments summed; the last one is the whole trace.
  static constexpr int Stages = 8;
  static constexpr int Checkpoints[Stages + 1] = {0, 4, 8, 12, 16, 24, 32, 48, LTraceLength / TraceSegment};
  static constexpr int Segments = LTraceLength / TraceSegment;
  // The stages the bound goes through before it leaves a pair to the decision.
  static constexpr int BoundedStages = 5;

  // records: every record of the search by index, null where the record is not a picture of
  // this comparison. Failed pictures never become candidates.
  TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                 TSegmentDot segmentDot = BestSegmentDot(), THueDot hueDot = BestHueDot());

  // The pictures before `index` (a picture record) that may be its duplicates, in index order:
  // all but those whose pair cannot reach the threshold and, when `grouped` (the picture
  // belongs to a group), those that are grouped too.
  void Candidates(int index, bool grouped, std::vector<int>& out);
  // The record joined a group.
  void NoteGrouped(int index);

  // The least dot product of L-traces that reaches the threshold with this dot product of
  // H-traces; above every possible dot product when none does.
  std::int64_t NeededDot(std::int64_t hueDot) const;
  // What the filter uses for the pair: a lower bound of NeededDot (exact at bucket ends).
  std::int64_t NeededDotBound(std::int32_t hueDot) const { return Needed_[static_cast<std::size_t>(hueDot) >> HueShift]; }
  // Whether the pair of signatures (first, second in JudgePictures' order) may reach the threshold.
  bool MayMatch(int first, int second);

  const TPictureFilterStats& Stats() const { return Stats_; }

private:
  static constexpr int HueShift = 8;  // dot products of H-traces in buckets of 256
  static constexpr int PrefixBytes = Checkpoints[1] * TraceSegment;

  struct TSlot {
    int Index = -1;
    bool Bounded = false;  // a complete signature: otherwise always a candidate
    bool Grouped = false;
  };

  void PrepareRow(int slot);
  bool RowMayMatch(int slot);

  TPicVariants Variants_;
  int Threshold_;
  bool Grayscale_;
  int VariantCount_ = 0;
  int Variant_[LTraceVariants] = {};
  TSegmentDot SegmentDot_;
  THueDot HueDot_;
  std::uint16_t Order_[Segments] = {};  // segment offsets, strongest first
  std::vector<std::int64_t> Needed_;    // by hue bucket
  std::vector<TSlot> Slots_;
  std::vector<int> SlotOf_;             // by record index; -1 for none
  // Per slot: the H-trace; per slot and variant: the first segments in order, the energy left
  // after each checkpoint, the trace itself.
  std::vector<std::uint8_t> Hue_;
  std::vector<std::int8_t> Prefix_;
  std::vector<std::int64_t> Rest_;
  std::vector<const std::int8_t*> Trace_;
  // The row: its L-trace 0 in segment order, widened; its energies; its H-trace widened.
  bool Summing_ = true;  // partial sums of L-traces, besides the norms
  int RowSlot_ = -1;
  alignas(32) std::int16_t RowTrace_[LTraceLength] = {};
  alignas(32) std::int16_t RowHue_[HTraceLength] = {};
  std::int64_t RowRest_[Stages] = {};
  TPictureFilterStats Stats_;
};

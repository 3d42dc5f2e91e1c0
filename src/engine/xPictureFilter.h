#pragma once
// The earlier pictures that are duplicates of a picture in the comparison phase, one at a time in
// index order. Every pair is scored exactly as the decision scores it, from the traces, and only
// the pairs that reach the threshold are handed out, together with the pairs of pictures whose
// signatures it cannot read (the decision turns those down as it always did). So every pair that
// is left out is one the decision would turn down, and the records of most pairs are never read.
//
// Rows are scored a panel at a time, tile by tile (TTileKernel): PanelRows pictures against all
// earlier ones. With look-ahead on, threads score the panels just ahead of the loop while it
// decides; the loop only waits for a panel nobody has finished yet.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "xGroups.h"
#include "xPicSign.h"
#include "xRecords.h"
#include "xTraceTiles.h"

struct TPictureFilterStats {
  std::int64_t Pairs = 0;    // picture pairs looked at
  std::int64_t Grouped = 0;  // left out because both pictures were already grouped
  std::int64_t Scored = 0;   // left out by their score
};

class TPictureFilter {
public:
  static constexpr int PanelRows = 128;

  // records: every record of the search by index, null where the record is not a picture of
  // this comparison. Failed pictures never become candidates. lookAhead: panels ahead of the loop
  // are scored on threads of their own.
  TPictureFilter(const std::vector<const TFileData*>& records, TPicVariants variants, int threshold,
                 bool lookAhead = false, TTileKernelKind kernel = BestTileKernelKind());

  // Starts on the candidates of `index`, a picture record.
  void BeginRow(int index);
  // The next earlier picture that may be a duplicate of the row's, or -1 when none is left.
  // rowGrouped: the row's picture belongs to a group by now, so grouped pictures are passed over.
  int Next(bool rowGrouped);
  // Whether the picture Next handed out last was scored, and so reaches the threshold (rather
  // than being one whose signature the filter cannot read).
  bool Scored() const { return Scored_; }
  // The record joined a group.
  void NoteGrouped(int index);

  // The least dot product of L-traces that reaches the threshold with this dot product of
  // H-traces; above every possible dot product when none does.
  std::int64_t NeededDot(std::int64_t hueDot) const;
  // The tiles' own edge for that colour dot product: never above NeededDot.
  double LineAt(std::int64_t hueDot) const;

  // The checks of `newcomer` against members of `group` (AddPair's, where the newcomer is the
  // first picture) with this threshold, for the members from `from` (a multiple of TileLanes) on,
  // up to `blocks` (1, 2, 4 or 8) times TileLanes of them: by member, 1 reaches the threshold, 0
  // does not, -1 where this filter cannot score the pair (the decision must).
  void CheckMembers(const TGroup& group, const TFileData& newcomer, int threshold, int from, int blocks,
                    std::vector<std::int8_t>& verdicts);
  // Whether CheckMembers is worth more than checking members one by one on this processor.
  bool ChecksMembers() const { return ChecksMembers_; }

  // Whether the checks of `newcomer` against members with `threshold` can be read off the scores
  // of the row the loop is on: the newcomer is the row's own picture, and the threshold is the
  // filter's. The row was scored against every earlier picture, and every member is one.
  bool ChecksFromRow(const TFileData& newcomer, int threshold) const;
  // The slots of a group's members, in member order (-1 for a record that is not a picture here).
  const std::vector<int>& MemberSlots(const TGroup& group);
  // Then the check against the member in this slot: 1 reaches the threshold, 0 does not, -1 where
  // the filter cannot score the pair.
  int RowVerdict(int slot) const {
    if (slot < 0 || slot >= RowSlot_ || Bit(Unscorable_, slot)) return -1;
    return Bit(RowBits_, slot) ? 1 : 0;
  }

  // Ends the look-ahead.
  void Finish();
  const TPictureFilterStats& Stats() const { return Stats_; }

  ~TPictureFilter();
  TPictureFilter(const TPictureFilter&) = delete;
  TPictureFilter& operator=(const TPictureFilter&) = delete;

private:
  struct TSlot {
    const TFileData* Record = nullptr;
    int Index = -1;
    bool Scorable = false;  // a complete signature: otherwise always a candidate
  };

  enum : std::uint8_t { PanelFree, PanelWorking, PanelReady };
  struct TPanel {
    std::atomic<std::uint8_t> State{PanelFree};
    // By row of the panel, Words words of bits by earlier slot: set where the pair reaches the
    // threshold, or where the tiles cannot score it (see Unscorable_).
    std::vector<std::uint64_t> Candidates;
    std::size_t Words = 0;
  };
  static bool Bit(const std::uint64_t* bits, int slot) { return (bits[slot / 64] >> (slot % 64)) & 1U; }
  static bool Bit(const std::vector<std::uint64_t>& bits, int slot) { return Bit(bits.data(), slot); }

  // The picture members of a group packed as columns, in member order, as far as they were asked.
  struct TGroupTraces {
    int Count = 0;
    std::vector<std::uint8_t> L, Hue;   // by block: [Variants][PackedLength], [PackedLength]
    std::vector<std::int32_t> HOffset;  // by member, in whole blocks
    std::vector<std::int8_t> Scorable;  // by member
    std::vector<int> Slots;             // by member, every member
  };
  int SlotOfRecord(const TFileData* record) const;
  // The candidates of every row of the panel.
  void ScorePanel(int panel);
  // Whether a pair with these dot products (the L-traces' by variant, `stride` apart) reaches the
  // threshold.
  bool Reaches(std::int32_t hueDot, const std::int32_t* dots, std::size_t stride, int threshold) const;
  // Claims the panel for scoring: false when somebody else has.
  bool Claim(int panel);
  void Worker();

  int VariantCount_ = 0;
  int Threshold_;
  bool Grayscale_;
  TTileKernel Kernel_;
  TTileLine Line_;
  std::vector<TSlot> Slots_;
  std::vector<int> SlotOf_;  // by record index; -1 for none
  // Bits by slot: no complete signature; in a group (kept by the loop alone).
  std::vector<std::uint64_t> Unscorable_, Grouped_;
  // By block of TileLanes slots: the packed traces ([Variants][PackedLength]) and colours, and
  // which slots have no complete signature.
  std::vector<std::uint8_t> PackedL_, PackedHue_;
  std::vector<std::uint16_t> UnscorableMask_;
  // By slot: what each needs as a row, and its colours' offset as a column.
  std::vector<const std::int8_t*> RowTrace_;
  std::vector<std::int8_t> RowHue_;
  std::vector<std::int32_t> RowOffset_, HueOffset_;
  std::vector<const std::int8_t*> Traces_;  // by slot and variant, for the members' packs
  std::vector<const std::uint8_t*> Hues_;   // by slot
  std::unordered_map<const TFileData*, int> SlotByRecord_;
  std::unordered_map<const TGroup*, TGroupTraces> Groups_;
  TRowKernel RowKernel_;
  bool ChecksMembers_;
  std::unique_ptr<TRowOut> RowOut_;
  // The panels, and the row the loop is on.
  std::unique_ptr<TPanel[]> Panels_;
  int PanelCount_ = 0;
  int Panel_ = -1;  // the loop's panel
  // The loop's row: its slot, its candidates, and the next slot to look at.
  int RowSlot_ = -1;
  const std::uint64_t* RowBits_ = nullptr;
  bool RowScorable_ = false;
  int RowAt_ = 0;
  bool Scored_ = false;
  TPictureFilterStats Stats_;
  // The look-ahead: workers claim free panels up to Ahead_ past the loop's.
  int Ahead_ = 0;
  std::atomic<int> Current_{0};
  std::atomic<bool> Quit_{false};
  std::mutex Mutex_;
  std::condition_variable Changed_;  // a panel became ready, the loop moved on, or quit
  std::vector<std::thread> Workers_;
};

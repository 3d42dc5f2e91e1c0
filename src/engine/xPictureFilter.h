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
#include <vector>

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
                 bool lookAhead = false, TTileKernel kernel = BestTileKernel());

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
  // The tiles' own edge for that colour dot product: never above NeededDot.
  double LineAt(std::int64_t hueDot) const;

  // Ends the look-ahead.
  void Finish();
  const TPictureFilterStats& Stats() const { return Stats_; }

  ~TPictureFilter();
  TPictureFilter(const TPictureFilter&) = delete;
  TPictureFilter& operator=(const TPictureFilter&) = delete;

private:
  struct TSlot {
    int Index = -1;
    bool Scorable = false;  // a complete signature: otherwise always a candidate
    bool Grouped = false;
  };

  enum : std::uint8_t { PanelFree, PanelWorking, PanelReady };
  struct TPanel {
    std::atomic<std::uint8_t> State{PanelFree};
    std::vector<std::vector<int>> Rows;  // by row of the panel: the candidate slots, ascending
  };

  void Prepare(const std::vector<const TFileData*>& records);
  // The candidates of every row of the panel.
  void ScorePanel(int panel);
  bool Reaches(const TTileOut& tile, int row, int column) const;
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
  // By block of TileLanes slots: the packed traces ([Variants][PackedLength]) and colours, and
  // which slots have no complete signature.
  std::vector<std::uint8_t> PackedL_, PackedHue_;
  std::vector<std::uint16_t> UnscorableMask_;
  // By slot: what each needs as a row, and its colours' offset as a column.
  std::vector<const std::int8_t*> RowTrace_;
  std::vector<std::int8_t> RowHue_;
  std::vector<std::int32_t> RowOffset_, HueOffset_;
  // The panels, and the row the loop is on.
  std::unique_ptr<TPanel[]> Panels_;
  int PanelCount_ = 0;
  int Panel_ = -1;                 // the loop's panel
  const std::vector<int>* Row_ = nullptr;
  std::size_t RowAt_ = 0;
  TPictureFilterStats Stats_;
  // The look-ahead: workers claim free panels up to Ahead_ past the loop's.
  int Ahead_ = 0;
  std::atomic<int> Current_{0};
  std::atomic<bool> Quit_{false};
  std::mutex Mutex_;
  std::condition_variable Changed_;  // a panel became ready, the loop moved on, or quit
  std::vector<std::thread> Workers_;
};

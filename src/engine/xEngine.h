#pragma once
// The search engine: the folder list, the options, the records of the last scan, the groups of
// the last search, and the run from folders to groups. It knows nothing of windows: it reports
// through OnProgress and OnStatus and lets the front end's events run through OnPumpEvents.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "xCache.h"
#include "xDigests.h"
#include "xGroups.h"
#include "xMasks.h"
#include "xOptions.h"
#include "xPixan.h"
#include "xRecords.h"
#include "xRemoval.h"

class TStorage;

// The decision on a pair of pictures: the structure similarity of the best variant of the
// second picture (Variant 0: unchanged), the colour similarity, the score and the threshold.
struct TPictureVerdict {
  float Structure = 0;
  int Variant = pvOriginal;
  float Colour = 0;
  float Score = 0;
  int Threshold = 0;
  bool Duplicate = false;
};

// (2 S + C) / 3, or S alone when grey copies count and S is higher, scaled to 0 .. 100.
float PictureScore(float structure, float colour, bool grayscale);
TPictureVerdict JudgePictures(const TPicSign& a, const TPicSign& b, TPicVariants variants, int tolerance,
                              bool memberCheck);

// The answers to "File ... already exists! Overwrite?" when moving files.
enum class TOverwriteAnswer { Yes, No, YesToAll };

struct TFolderEntry {
  std::string Path;
  bool Enabled = true;
  bool operator==(const TFolderEntry&) const = default;
};

// How the all-pairs phase visits pairs. Both give the same groups, messages and progress;
// Candidates decides only the pairs that can be duplicates (equal sizes for the content
// comparison), Plain every pair, as a yardstick for the differential tests.
enum class TPairStrategy { Candidates, Plain };

// Where the last search's time went.
struct TSearchStats {
  double ScanSeconds = 0;
  double PrepareSeconds = 0;  // pictures: from the cache or analysed
  double CompareSeconds = 0;
  int PicturesPrepared = 0;
  // Candidate loop: picture pairs looked at, those never handed to the decision because they could
  // not match (both grouped, or scored below the threshold by the filter), and of these the ones
  // scored below the threshold.
  std::int64_t PicturePairs = 0;
  std::int64_t PicturePairsSkipped = 0;
  std::int64_t PicturePairsBelow = 0;
  TPixanStats Analyser;  // decoding and analysis within the preparation
};

class TPictureFilter;
class TFolderCache;

class TEngine {
public:
  using TProgressHandler = std::function<void(int percent)>;
  using TStatusHandler = std::function<void(const std::string& text)>;
  using TPumpHandler = std::function<void()>;

  // Loads the folder list and the options from the store. With persist off (the command line)
  // nothing is ever written back.
  explicit TEngine(TStorage& storage, bool persist = true);
  ~TEngine();
  TEngine(const TEngine&) = delete;
  TEngine& operator=(const TEngine&) = delete;

  TCompOpts Options;
  std::vector<TFolderEntry> Folders;
  std::string LastError;
  bool NeedRescan = true;
  bool OverwriteAll = false;
  TProgressHandler OnProgress;
  TStatusHandler OnStatus;
  TPumpHandler OnPumpEvents;  // lets pending front-end events run (and Stop arrive)
  // Asked before a move replaces a file; unset, the answer is No.
  std::function<TOverwriteAnswer(const std::string& text)> OnOverwrite;
  TPairStrategy PairStrategy = TPairStrategy::Candidates;
  // Pictures decoded and analysed on every core ahead of the preparation, which takes them in
  // its serial order; off, one picture at a time (the yardstick of the differential tests).
  bool ParallelPreparation = true;

  // One search. True when the comparison phase was reached (finished or stopped): the groups
  // are ready. False otherwise, with the reason in LastError.
  bool Execute();
  void Stop() { Stopped = true; }
  bool IsRunning() const { return !Stopped; }

  int FileCount() const { return static_cast<int>(Records.size()); }
  TFileData* Files(int index) const;
  int GroupCount() const { return static_cast<int>(GroupList.size()); }
  TGroup* Groups(int index) const;

  // The most folders the settings file's list is read for.
  static constexpr int MaxFolders = 10000;
  int AddFolder(const std::string& path);
  bool DeleteFolder(int index);
  void SetFolderEnabled(int index, bool enabled);
  int EnabledFolderCount() const;
  void LoadFolders();
  bool SaveFolders();

  void SetProgress(double fraction);
  void SetStatus(const std::string& text);
  void LogSystemInfo();

  bool IsDuplicate(TFileData* a, TFileData* b, bool memberCheck);
  void AddPair(TFileData* a, TFileData* b);

  // Scanning.
  void ScanFolder(const std::string& path);
  TFileData* AddFile(const std::string& fileName, std::uint32_t time, std::int64_t size, bool forcePicture);
  TFileData* AddSampleFile();
  static bool IsPicture(const std::string& fileName);
  static bool IsMP3(const std::string& fileName);

  // Content comparison.
  bool ContentEqual(TFileData& a, TFileData& b);
  bool CompareBytes(TFileData& a, TFileData& b);
  void ComputeDigest(TFileData& record);
  void SetFileComp(int method);

  // Files larger than this are never duplicates under a digest method.
  static constexpr std::int64_t DigestSizeLimit = 0x20000000;
  static constexpr std::size_t CompareBufferSize = 131072;

  // MP3 tags (xMP3.cpp).
  static std::unique_ptr<TMP3Data> ReadMP3Tag(const std::string& fileName, std::uint32_t time, std::int64_t size);
  static bool CompareTags(const TMP3Data& a, const TMP3Data& b);

  // Pictures (xPictures.cpp).
  void PreparePicture(int index, const TAnalysisResult* prepared = nullptr);
  bool ComparePictures(TFileData* a, TFileData* b, bool memberCheck);
  float PictureScore(float structure, float colour) const;
  static int PictureThreshold(int tolerance, bool memberCheck);
  TCache& SignatureCache() { return Cache; }
  const TSearchStats& Stats() const { return Stats_; }

  // Removing files from the results (xRemoval.cpp). A plan takes each record once, in the order
  // given; executing it checks every file at the moment it is acted on, skips with a warning
  // what fails a check, asks OnOverwrite before a move replaces a file, stops between two files
  // when Stop comes, and drops the records of the files it removed.
  TRemovalPlan PlanRemoval(const std::vector<TFileData*>& records, TRemovalKind kind,
                           const std::string& folder = "") const;
  TRemovalOutcome ExecuteRemoval(const TRemovalPlan& plan);
  // One file as a plan of its own. MoveToFolder: true when moved (the pointer becomes null) or
  // when the clash was answered No; DeleteFile (to the trash or for good): true when removed.
  // Otherwise false with the reason in LastError.
  bool MoveToFolder(TFileData*& record, const std::string& folder);
  bool DeleteFile(TFileData*& record, bool toTrash);

  // File operations (xFileOps.cpp). RemoveFile frees the record and sets the caller's pointer
  // to null.
  void RemoveFile(TFileData*& record);
  bool ShowInFolder(const std::string& path);
  bool OpenFile(const std::string& path);
  // Process priority and cache options into force.
  void ApplySettings();

  // Session files (xSession.cpp).
  bool SaveSession(const std::string& fileName);
  bool LoadSession(const std::string& fileName);
  bool SaveGroups(std::ostream& stream);
  bool LoadGroups(std::istream& stream);

  // The automatic marks, by the options' marking rules.
  TMarkRules MarkRules() const { return {Options.moPicQuality, Options.moFileOlder}; }

private:
  bool CompileMasks();
  void ClearRecords();
  void ClearGroups();
  bool RunComparison(std::int64_t combinations);
  void CompareAllPairsPlain(int n);
  void CompareAllPairsCandidates(int n);
  void CompareWithSample(int n);
  // One decision of the comparison phase; false when the search must stop. scored: both are
  // pictures whose score is known to reach the threshold, so only the rest of the decision is left.
  bool DecidePair(TFileData* a, TFileData* b, bool scored = false);
  // The status and progress after a row; false when the search must stop.
  bool FinishRow(const std::string& status, int r, int n);
  void PumpEvents();
  void PrefetchDigests();  // xPrefetch.cpp
  // The preparation phase: every picture in record order, with status, progress and stop.
  // Returns what the worker threads spent (xPictures.cpp).
  TPixanStats PreparePictures();
  void ApplyPriority();  // xFileOps.cpp
  const TFileData* CopyThatStays(const TRemovalStep& step, const std::set<const TFileData*>& leaving, int file,
                                 TFolderCache& folders, std::string& why);  // xRemoval.cpp
  void DropRecords(const std::vector<TFileData*>& records);  // xFileOps.cpp: RemoveFile for many at once
  bool MoveChecked(const TFileData& record, int folder, const std::string& name, int file, const struct stat& info,
                   int destination, const std::string& destinationPath, const std::string& targetName, bool replace);
  void ApplyCache();     // xPictures.cpp

  TStorage& Store;
  bool Persist;
  std::vector<std::unique_ptr<TFileData>> Records;
  std::vector<std::unique_ptr<TGroup>> GroupList;
  std::unique_ptr<TDigestAlgorithm> Digest;
  TPixan Analyser;
  TCache Cache;
  bool CacheBusyReported_ = false;
  std::vector<std::uint8_t> BufferA, BufferB;
  TMask FileMask_, PathMask_;
  bool FileMaskOn = false, PathMaskOn = false;
  std::set<std::pair<std::uint64_t, std::uint64_t>> ScannedFolders;  // device, inode
  // Files that moves put into a destination since the results came (device, inode): a later
  // move never replaces them.
  std::set<std::pair<std::uint64_t, std::uint64_t>> Placed_;
  // The candidate loop's record of pictures that failed to join a group: by newcomer, each group
  // with the member it failed against (AddPair).
  using TFailedJoins = std::unordered_map<const TFileData*, std::vector<std::pair<const TGroup*, int>>>;
  std::unique_ptr<TFailedJoins> FailedJoins_;
  // The candidate loop's scores of picture pairs, which also checks newcomers against whole
  // groups at once (AddPair), and the verdicts of the latest such check.
  TPictureFilter* PictureFilter_ = nullptr;
  // The candidate loop's records whose identity another record shares (hard links): only these
  // can meet themselves in a group.
  std::unordered_set<const TFileData*> SharedIdentities_;
  std::vector<std::int8_t> MemberVerdicts_;
  bool Stopped = true;
  TSearchStats Stats_;
};

#include "xEngine.h"
#include "xPictureFilter.h"

#include <algorithm>
#include <sys/stat.h>

#include <chrono>

#include "xAssert.h"
#include "xLog.h"
#include "xNoFollow.h"
#include "xStorage.h"

namespace {

bool FolderExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

const std::string Rule(59, '-');

// The folder as the file system names it, without symbolic links: the records' paths are then
// paths that removing files can walk without following any link. A folder that cannot be
// resolved is scanned as given, which reports it.
std::string WithoutLinks(const std::string& folder) {
  const std::string real = RealPath(folder);
  return real.empty() ? folder : real;
}

}  // namespace

TEngine::TEngine(TStorage& storage, bool persist)
    : Store(storage), Persist(persist), Digest(MakeDigestAlgorithm(fcMd5)), Cache(storage.CacheBase()),
      BufferA(CompareBufferSize), BufferB(CompareBufferSize) {
  LoadFolders();
  Options.Load(Store);
  // A method the program does not know (a damaged settings file) falls back to the default,
  // rather than finding no duplicates at all.
  if (Options.FileComp > fcSha) Options.FileComp = TCompOpts().FileComp;
  if (Options.FileComp != fcBytes) Digest = MakeDigestAlgorithm(Options.FileComp);
  ApplySettings();
}

TEngine::~TEngine() {
  if (Persist) {
    SaveFolders();
    Options.Save(Store);
  }
  if (Cache.IsOpen() && !Cache.Close()) LogError(Cache.LastError());
}

void TEngine::ApplySettings() {
  ApplyPriority();
  ApplyCache();
}

TFileData* TEngine::Files(int index) const {
  TS_ASSERT(index >= 0 && index < FileCount());
  return Records[static_cast<std::size_t>(index)].get();
}

TGroup* TEngine::Groups(int index) const {
  TS_ASSERT(index >= 0 && index < GroupCount());
  return GroupList[static_cast<std::size_t>(index)].get();
}

int TEngine::AddFolder(const std::string& path) {
  Folders.push_back({path, true});
  NeedRescan = true;
  return static_cast<int>(Folders.size()) - 1;
}

bool TEngine::DeleteFolder(int index) {
  if (index < 0 || index >= static_cast<int>(Folders.size())) return false;
  Folders.erase(Folders.begin() + index);
  NeedRescan = true;
  return true;
}

void TEngine::SetFolderEnabled(int index, bool enabled) {
  TS_ASSERT(index >= 0 && index < static_cast<int>(Folders.size()));
  Folders[static_cast<std::size_t>(index)].Enabled = enabled;
  NeedRescan = true;
}

int TEngine::EnabledFolderCount() const {
  int count = 0;
  for (const TFolderEntry& folder : Folders) count += folder.Enabled ? 1 : 0;
  return count;
}

void TEngine::LoadFolders() {
  Folders.clear();
  Store.OpenSection("FOLDERS", false);
  // The count is outside input: a damaged file asking for two billion folders must not keep the
  // program from starting. Nobody searches more folders than this at once.
  const int count = std::min(Store.ReadInteger("Count", 0), MaxFolders);
  for (int i = 0; i < count; ++i) {
    const std::string path = Store.ReadString("F_" + std::to_string(i), "");
    const bool enabled = Store.ReadBool("E_" + std::to_string(i), true);
    if (FolderExists(path)) Folders.push_back({path, enabled});
  }
  Store.CloseSection();
}

bool TEngine::SaveFolders() {
  Store.OpenSection("FOLDERS", true);
  Store.WriteInteger("Count", static_cast<std::int32_t>(Folders.size()));
  for (std::size_t i = 0; i < Folders.size(); ++i) {
    Store.WriteString("F_" + std::to_string(i), Folders[i].Path);
    Store.WriteBool("E_" + std::to_string(i), Folders[i].Enabled);
  }
  return Store.CloseSection();
}

void TEngine::SetProgress(double fraction) {
  if (OnProgress) OnProgress(static_cast<int>(fraction * 100));
}

void TEngine::SetStatus(const std::string& text) {
  if (OnStatus) OnStatus(text);
}

void TEngine::PumpEvents() {
  if (OnPumpEvents) OnPumpEvents();
}

void TEngine::LogSystemInfo() {
  ClearConsole();
  TSysInfo& info = Store.SysInfo();
  ConsoleLog(Rule, llPlain, false);
  ConsoleLog(info.GetWindowsDescription(), llPlain, false);
  ConsoleLog("Memory : " + info.GetUsedMemoryText() + " out of " + info.GetAvailMemoryText(), llPlain, false);
  ConsoleLog(Rule, llPlain, false);
}

void TEngine::ClearRecords() {
  GroupList.clear();
  Records.clear();
  ScannedFolders.clear();
  Placed_.clear();
}

void TEngine::ClearGroups() { GroupList.clear(); }

bool TEngine::CompileMasks() {
  FileMaskOn = Options.UseFile && !Options.FileMask.empty();
  PathMaskOn = Options.UsePath && !Options.PathMask.empty();
  std::string error;
  if (FileMaskOn && !FileMask_.Compile(Options.FileMask, error)) {
    LastError = error;
    return false;
  }
  if (PathMaskOn && !PathMask_.Compile(Options.PathMask, error)) {
    LastError = error;
    return false;
  }
  return true;
}

bool TEngine::Execute() {
  LastError.clear();
  const bool savedPicsComp = Options.PicsComp;
  if (IsRunning()) return false;
  LogSystemInfo();
  if (Folders.empty()) {
    LastError = "No folders selected to compare";
    Stopped = true;
    return false;
  }
  // Leaves the run idle with the visual option as the user set it.
  auto fail = [&](const std::string& message) {
    if (!message.empty()) LastError = message;
    Options.PicsComp = savedPicsComp;
    Stopped = true;
    return false;
  };
  Stopped = false;
  ClearGroups();
  using TClock = std::chrono::steady_clock;
  auto since = [](TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); };
  Stats_ = {};
  const TPixanStats analyserBefore = Analyser.Stats();
  const auto scanStart = TClock::now();
  if (NeedRescan) {
    if (!CompileMasks()) return fail("");
    ClearRecords();
    if (Options.UseSample) {
      const TFileData* sample = AddSampleFile();
      if (!sample || sample->Kind() != TRecordKind::Picture) Options.PicsComp = false;
    }
    SetStatus("Scanning folders ...");
    SetProgress(0);
    for (const TFolderEntry& folder : Folders) {
      if (folder.Enabled) ScanFolder(WithoutLinks(folder.Path));
      if (Stopped) break;
    }
    if (Stopped) return fail("Scanning aborted!");
    LogInfo(std::to_string(FileCount()) + " files found");
    Stats_.ScanSeconds = since(scanStart);
    if (Options.PicsComp) {
      const auto prepareStart = TClock::now();
      const TPixanStats workers = PreparePictures();
      if (Options.Cache && Cache.IsOpen() && !Cache.Save()) {
        LastError = Cache.LastError();
        Stopped = true;
      }
      Stats_.PrepareSeconds = since(prepareStart);
      for (const auto& record : Records) Stats_.PicturesPrepared += record->Kind() == TRecordKind::Picture ? 1 : 0;
      Stats_.Analyser.Decoded = Analyser.Stats().Decoded - analyserBefore.Decoded + workers.Decoded;
      Stats_.Analyser.DecodeSeconds =
          Analyser.Stats().DecodeSeconds - analyserBefore.DecodeSeconds + workers.DecodeSeconds;
      Stats_.Analyser.AnalysisSeconds =
          Analyser.Stats().AnalysisSeconds - analyserBefore.AnalysisSeconds + workers.AnalysisSeconds;
      if (Stopped) return fail("");
    }
  } else {
    for (const auto& record : Records) record->Group = nullptr;
  }

  const auto n = static_cast<std::int64_t>(FileCount());
  const std::int64_t combinations = n * (n - 1) / 2;
  if (combinations < 1) return fail("There is noting to compare");
  LogInfo(std::to_string(combinations) + " combinations produced");
  const auto compareStart = TClock::now();
  if (Options.UseSample) {
    if (Records.empty() || Records.front()->FileName != Options.SampleFile)
      return fail("Failed to retrieve sample file information");
    CompareWithSample(FileCount());
  } else {
    SetStatus("Comparing " + std::to_string(n) + " files ...");
    if (PairStrategy == TPairStrategy::Plain)
      CompareAllPairsPlain(FileCount());
    else
      CompareAllPairsCandidates(FileCount());
  }
  Stats_.CompareSeconds = since(compareStart);
  Options.PicsComp = savedPicsComp;
  NeedRescan = false;
  Stopped = true;
  return true;
}

bool TEngine::IsDuplicate(TFileData* a, TFileData* b, bool memberCheck) {
  if (a->Failed || b->Failed) return false;
  if (a->Group && b->Group) return false;
  if (SameFile(*a, *b)) return false;  // never a duplicate of itself
  if (Options.PicsComp && a->Kind() == TRecordKind::Picture && b->Kind() == TRecordKind::Picture)
    return ComparePictures(a, b, memberCheck);
  if (Options.MP3Comp && a->Kind() == TRecordKind::MP3 && b->Kind() == TRecordKind::MP3)
    return CompareTags(static_cast<const TMP3Data&>(*a), static_cast<const TMP3Data&>(*b));
  return ContentEqual(*a, *b);
}

namespace {

// The members a newcomer is checked against next: their records, a few checks ahead, then their
// traces, once the records are at hand. Most of a check of two pictures is waiting for memory.
void PrefetchMembers(const TGroup& group, int at, TPicVariants variants, bool traces) {
  constexpr int RecordsAhead = 8, TracesAhead = 4;
  if (at + RecordsAhead < group.Count()) {
    const auto* record = reinterpret_cast<const char*>(group.Items(at + RecordsAhead));
    for (std::size_t line = 0; line < sizeof(TPicData); line += 64) __builtin_prefetch(record + line);
  }
  if (traces && at + TracesAhead < group.Count()) {
    const TFileData* record = group.Items(at + TracesAhead);
    if (record->Kind() != TRecordKind::Picture) return;
    const TPicSign& sign = static_cast<const TPicData*>(record)->Sign;
    for (int variant = pvOriginal; variant <= pvFlipHorizontal; ++variant)
      if (const TPicTrace* trace = sign.LTrace(variant); trace && (variant == pvOriginal || variants.Contains(variant)))
        for (int line = 0; line < trace->Length(); line += 64) __builtin_prefetch(trace->Data() + line);
    if (sign.HLength() > 0) __builtin_prefetch(sign.HTrace().Data());
  }
}

}  // namespace

void TEngine::AddPair(TFileData* a, TFileData* b) {
  // Joins `newcomer` to `group` unless, with visual comparison on, it fails to match a member.
  // A second link to a file already in the group stays out: a group never holds one file twice.
  //
  // A picture that failed against a picture member fails against it again, so the candidate loop
  // remembers that member (FailedJoins_): members are only ever added, and a check of two pictures
  // depends on their signatures alone (the newcomer is never in a group). The next try then fails
  // at once, unless that member is the new partner, which is not checked: then all are checked.
  auto join = [&](TGroup* group, TFileData* newcomer, TFileData* partner) {
    const bool remember = FailedJoins_ && Options.PicsComp && newcomer->Kind() == TRecordKind::Picture;
    TFailedJoins::mapped_type* failed = nullptr;
    if (remember) {
      failed = &(*FailedJoins_)[newcomer];
      for (const auto& [tried, at] : *failed)
        if (tried == group && group->Items(at) != partner) return;
    }
    // The candidate loop reads the checks off the row's scores where the newcomer is the row's
    // picture, or else scores the newcomer against a chunk of members at a time; it compares
    // identities only where another record shares the newcomer's.
    const int threshold = PictureThreshold(Options.Tolerance, true);
    TPictureFilter* filter = remember ? PictureFilter_ : nullptr;
    const std::vector<int>* fromRow = filter && filter->ChecksFromRow(*newcomer, threshold) ? &filter->MemberSlots(*group) : nullptr;
    if (filter && !fromRow && !filter->ChecksMembers()) filter = nullptr;
    // Most newcomers that get this far fail against the first or second member, whose traces
    // many checks share: those two are checked as they are, the rest in chunks that grow.
    constexpr int CheckedSingly = 2;
    int chunk = 0, chunkEnd = CheckedSingly, blocks = 1;
    auto passes = [&](int i, TFileData* member) {
      if (fromRow) {
        const int verdict = filter->RowVerdict((*fromRow)[static_cast<std::size_t>(i)]);
        return verdict >= 0 ? verdict == 1 : IsDuplicate(newcomer, member, true);
      }
      if (filter && i < CheckedSingly) return IsDuplicate(newcomer, member, true);
      if (filter && i >= chunkEnd) {
        chunk = i / TileLanes * TileLanes;
        filter->CheckMembers(*group, *newcomer, threshold, chunk, blocks, MemberVerdicts_);
        chunkEnd = chunk + static_cast<int>(MemberVerdicts_.size());
        blocks = std::min(2 * blocks, RowBlocks);
      }
      const int verdict = filter ? MemberVerdicts_[static_cast<std::size_t>(i - chunk)] : -1;
      return verdict >= 0 ? verdict == 1 : IsDuplicate(newcomer, member, true);
    };
    const bool identity = newcomer->Identity.Known() && (!FailedJoins_ || SharedIdentities_.count(newcomer) > 0);
    for (int i = 0; i < group->Count(); ++i) {
      if (remember && (identity || !filter)) PrefetchMembers(*group, i, Options.PicVariants, !filter);
      TFileData* member = group->Items(i);
      if (identity && SameFile(*newcomer, *member)) return;
      if (Options.PicsComp && member != partner && !passes(i, member)) {
        if (remember && member->Kind() == TRecordKind::Picture) {
          auto known = std::find_if(failed->begin(), failed->end(), [&](const auto& entry) { return entry.first == group; });
          if (known == failed->end()) failed->emplace_back(group, i);
          else known->second = i;
        }
        return;
      }
    }
    group->Add(newcomer);
    if (remember) FailedJoins_->erase(newcomer);  // never a newcomer again
  };
  if (a->Group) {
    join(a->Group, b, a);
  } else if (b->Group) {
    join(b->Group, a, b);
  } else {
    GroupList.push_back(std::make_unique<TGroup>());
    GroupList.back()->Add(a);
    GroupList.back()->Add(b);
  }
}

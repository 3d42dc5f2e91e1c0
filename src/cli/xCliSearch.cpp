// twinsifter-cli [options] FOLDER...: one search with the engine, its groups on stdout.
// Options come from the settings file, then from the command line, which never writes them back.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "xCliArgs.h"
#include "xCliCommands.h"
#include "xCliOutput.h"
#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"

namespace {

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) {
  Interrupted = 1;
  std::signal(SIGINT, SIG_DFL);  // a second Ctrl+C ends the program at once
}

// The status line on a terminal, redrawn at most ten times a second and cleared before a log
// line is written, so that both stay readable.
class TProgressLine {
public:
  explicit TProgressLine(bool enabled) : Enabled(enabled) {}
  ~TProgressLine() { Clear(); }

  void Status(const std::string& text) {
    Text = text;
    Draw(false);
  }
  void Percent(int percent) {
    Percent_ = percent;
    Draw(false);
  }
  void Clear() {
    if (!Shown) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    Shown = false;
  }

private:
  void Draw(bool force) {
    if (!Enabled) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && Shown && now - Last < std::chrono::milliseconds(100)) return;
    Last = now;
    std::string line = Text.substr(0, 70) + "  " + std::to_string(Percent_) + "%";
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    Shown = true;
  }

  bool Enabled;
  bool Shown = false;
  std::string Text;
  int Percent_ = 0;
  std::chrono::steady_clock::time_point Last;
};

// A folder as the engine keeps it: absolute, without "." and ".." steps, no trailing slash.
std::string FolderPath(const std::string& argument) {
  std::string path = std::filesystem::absolute(argument).lexically_normal().string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

enum class TAction { None, Trash, Delete, Move };

struct TSearchArgs {
  std::vector<std::string> Folders;
  bool Json = false;
  bool Quiet = false;
  bool Stats = false;
  std::string SaveSession, LoadSession;
  TAction Action = TAction::None;
  std::string MoveTo;
  bool Overwrite = false;
  bool DryRun = false;
};

bool SetAction(TSearchArgs& search, TAction action, std::string& error) {
  if (search.Action != TAction::None && search.Action != action)
    error = "--trash-marked, --delete-marked and --move-marked exclude each other";
  search.Action = action;
  return true;
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  return text;
}

std::string StatsText(const TSearchStats& stats) {
  const int decoded = stats.Analyser.Decoded;
  return "Statistics : scan " + Seconds(stats.ScanSeconds) + "; " + std::to_string(stats.PicturesPrepared) +
         " pictures prepared in " + Seconds(stats.PrepareSeconds) + " (" + std::to_string(decoded) + " decoded in " +
         Seconds(stats.Analyser.DecodeSeconds) + ", analysed in " + Seconds(stats.Analyser.AnalysisSeconds) + ", " +
         std::to_string(stats.PicturesPrepared - decoded) + " from the cache); comparison " +
         Seconds(stats.CompareSeconds);
}

}  // namespace

const char* const SearchUsage =
    "usage: twinsifter-cli [options] FOLDER...\n"
    "  --method bytes|crc32|md4|md5|sha   how file contents are compared (default: as saved, MD5)\n"
    "  --pictures-only                    take picture files only\n"
    "  --no-subfolders                    do not descend into subfolders\n"
    "  --mask MASK                        only file names matching MASK (*, ?, [a-z])\n"
    "  --exclude                          leave out the names matching --mask instead\n"
    "  --path-mask MASK                   only folders whose path matches MASK\n"
    "  --include-empty                    compare empty files too\n"
    "  --no-mp3                           compare MP3 files by content, not by their tags\n"
    "  --visual                           compare pictures by what they show\n"
    "  --tolerance N                      0 (identical) .. 10 (similar); with --visual\n"
    "  --variants r180,r90l,r90r,vflip,hflip,grey\n"
    "                                     also match turned, mirrored or grey copies; with --visual\n"
    "  --no-cache                         do not use the picture signature cache\n"
    "  --cache-size N                     pictures the signature cache keeps (100 .. 50000)\n"
    "  --sample FILE                      look for copies of FILE only\n"
    "  --save-session FILE                save the groups to a session file\n"
    "  --load-session FILE                print the groups of a saved session instead of searching\n"
    "  --trash-marked                     move the automatically marked files to the trash\n"
    "  --delete-marked                    delete the automatically marked files for good\n"
    "  --move-marked FOLDER               move the automatically marked files into FOLDER\n"
    "  --overwrite                        let --move-marked replace files of the same name\n"
    "                                     (a replaced file goes to the trash)\n"
    "  --dry-run                          print what the action would do, and do nothing\n"
    "  --json                             print the result as one JSON object\n"
    "  --quiet                            no progress and no information lines\n"
    "  --stats                            where the time went, on stderr\n";

namespace {

// Applies one option; false when the argument is not one of ours.
bool ParseOption(TArgReader& reader, TCompOpts& options, TSearchArgs& search, std::string& error) {
  std::string value;
  if (reader.OptionWithValue("--method", value, error)) {
    static const char* const methods[] = {"bytes", "crc32", "md4", "md5", "sha"};
    for (int m = 0; m < 5; ++m)
      if (value == methods[m]) options.FileComp = static_cast<std::uint8_t>(m);
    if (error.empty() && value != methods[options.FileComp])
      error = "unknown method \"" + value + "\" (bytes, crc32, md4, md5, sha)";
  } else if (reader.Option("--pictures-only")) {
    options.PicsOnly = true;
  } else if (reader.Option("--no-subfolders")) {
    options.SubFolders = false;
  } else if (reader.OptionWithValue("--mask", value, error)) {
    options.UseFile = true;
    options.FileMask = value;
  } else if (reader.Option("--exclude")) {
    options.FileEx = true;
  } else if (reader.OptionWithValue("--path-mask", value, error)) {
    options.UsePath = true;
    options.PathMask = value;
  } else if (reader.Option("--include-empty")) {
    options.ZeroIgnore = false;
  } else if (reader.Option("--no-mp3")) {
    options.MP3Comp = false;
  } else if (reader.Option("--visual")) {
    options.PicsComp = true;
  } else if (reader.OptionWithValue("--tolerance", value, error)) {
    if (error.empty() && !ParseNumber(value, 0, 10, options.Tolerance)) error = "--tolerance takes 0 .. 10";
  } else if (reader.OptionWithValue("--variants", value, error)) {
    if (error.empty()) ParseVariants(value, options.PicVariants, error);
  } else if (reader.Option("--no-cache")) {
    options.Cache = false;
  } else if (reader.OptionWithValue("--cache-size", value, error)) {
    if (error.empty() && !ParseNumber(value, 100, 50000, options.CacheCount)) error = "--cache-size takes 100 .. 50000";
  } else if (reader.OptionWithValue("--sample", value, error)) {
    options.UseSample = true;
    options.SampleFile = value.empty() ? value : std::filesystem::absolute(value).lexically_normal().string();
  } else if (reader.OptionWithValue("--save-session", value, error)) {
    search.SaveSession = value;
  } else if (reader.OptionWithValue("--load-session", value, error)) {
    search.LoadSession = value;
  } else if (reader.Option("--trash-marked")) {
    SetAction(search, TAction::Trash, error);
  } else if (reader.Option("--delete-marked")) {
    SetAction(search, TAction::Delete, error);
  } else if (reader.OptionWithValue("--move-marked", value, error)) {
    SetAction(search, TAction::Move, error);
    search.MoveTo = value.empty() ? value : FolderPath(value);
  } else if (reader.Option("--overwrite")) {
    search.Overwrite = true;
  } else if (reader.Option("--dry-run")) {
    search.DryRun = true;
  } else if (reader.Option("--json")) {
    search.Json = true;
  } else if (reader.Option("--quiet")) {
    search.Quiet = true;
  } else if (reader.Option("--stats")) {
    search.Stats = true;
  } else {
    return false;
  }
  return true;
}

}  // namespace

namespace {

TRemovalKind RemovalKind(TAction action) {
  return action == TAction::Move ? TRemovalKind::Move : action == TAction::Delete ? TRemovalKind::Delete
                                                                                  : TRemovalKind::Trash;
}

// The plan for the automatically marked members of every group; the marks are taken before the
// first file goes, since removing records changes the groups.
TRemovalPlan PlanForMarked(const TEngine& engine, const TSearchArgs& search) {
  std::vector<TFileData*> marked;
  const TMarkRules rules = engine.MarkRules();
  for (int g = 0; g < engine.GroupCount(); ++g) {
    const TGroup& group = *engine.Groups(g);
    for (int i = 0; i < group.Count(); ++i)
      if (AutoMarked(group, *group.Items(i), rules)) marked.push_back(group.Items(i));
  }
  return engine.PlanRemoval(marked, RemovalKind(search.Action), search.MoveTo);
}

// Carries the plan out; true when every file was handled.
bool ActOnMarked(TEngine& engine, const TSearchArgs& search, const TRemovalPlan& plan) {
  engine.OverwriteAll = false;
  engine.OnOverwrite = [&](const std::string& question) {
    if (search.Overwrite) return TOverwriteAnswer::YesToAll;
    LogWarning(question.substr(0, question.find('\n')) + " It is kept (--overwrite replaces it).");
    return TOverwriteAnswer::No;
  };
  const TRemovalOutcome outcome = engine.ExecuteRemoval(plan);
  static const char* const verbs[] = {"", " moved to the trash", " deleted", " moved to "};
  std::string summary = std::to_string(outcome.Done) + " of " + std::to_string(plan.Steps.size()) + " marked files" +
                        verbs[static_cast<int>(search.Action)] + (search.Action == TAction::Move ? search.MoveTo : "");
  if (outcome.Stopped()) summary += "; stopped, " + std::to_string(outcome.NotDone) + " not done";
  LogInfo(summary);
  return outcome.AllDone();
}

}  // namespace

int RunSearch(const std::vector<std::string>& args) {
  TStorage storage;
  storage.SetReadOnly(true);
  TEngine engine(storage, false);
  TSearchArgs search;
  TArgReader reader(args);
  std::string error;
  std::string folder;
  while (!reader.AtEnd() && error.empty()) {
    if (ParseOption(reader, engine.Options, search, error)) continue;
    if (reader.Positional(folder)) {
      std::error_code ignored;
      if (!std::filesystem::is_directory(folder, ignored))
        error = "no such folder: " + folder;
      else
        search.Folders.push_back(FolderPath(folder));
      continue;
    }
    error = "unknown option \"" + reader.Peek() + "\"";
  }
  const bool loading = !search.LoadSession.empty();
  if (error.empty() && search.Folders.empty() && !loading) error = "a folder to search is needed";
  if (error.empty() && loading && !search.Folders.empty()) error = "--load-session takes no folders";
  if (error.empty() && engine.Options.UseSample && !std::filesystem::is_regular_file(engine.Options.SampleFile))
    error = "no such sample file: " + engine.Options.SampleFile;
  if (error.empty() && search.Action == TAction::Move && !std::filesystem::is_directory(search.MoveTo))
    error = "no such folder to move into: " + search.MoveTo;
  if (error.empty() && search.DryRun && search.Action == TAction::None)
    error = "--dry-run needs --trash-marked, --delete-marked or --move-marked";
  if (!error.empty()) {
    std::cerr << "twinsifter-cli: " << error << "\n" << SearchUsage;
    return ecUsage;
  }
  // The method goes through SetFileComp, so that the digest object follows it.
  const std::uint8_t method = engine.Options.FileComp;
  engine.Options.FileComp = method == fcBytes ? fcMd5 : fcBytes;
  engine.SetFileComp(method);
  engine.ApplySettings();  // the cache options of the command line
  engine.Folders.clear();
  for (const std::string& path : search.Folders) engine.AddFolder(path);

  TProgressLine progress(!search.Quiet && ::isatty(STDERR_FILENO));
  SetLogSink([&](const std::string& text, TLogLevel level, bool quiet) {
    if (search.Quiet && level != llWarning && level != llError) return;
    progress.Clear();
    StderrLogSink(text, level, quiet);
  });
  auto checkInterrupt = [&] {
    if (Interrupted) engine.Stop();
  };
  engine.OnStatus = [&](const std::string& text) {
    progress.Status(text);
    checkInterrupt();
  };
  engine.OnProgress = [&](int percent) {
    progress.Percent(percent);
    checkInterrupt();
  };
  engine.OnPumpEvents = checkInterrupt;
  Interrupted = 0;
  std::signal(SIGINT, OnInterrupt);

  bool ran;
  if (loading) {
    ran = engine.LoadSession(search.LoadSession);
    if (!ran) LogError(engine.LastError);
  } else {
    ran = engine.Execute();
    if (!engine.LastError.empty()) LogWarning(engine.LastError);
    if (ran) LogInfo(std::to_string(engine.GroupCount()) + " duplicates groups found");
  }
  progress.Clear();
  if (search.Stats && !loading) ConsoleLog(StatsText(engine.Stats()), llPlain, true);
  const bool acting = ran && search.Action != TAction::None;
  const TRemovalPlan plan = acting ? PlanForMarked(engine, search) : TRemovalPlan();
  std::string report = search.Json ? GroupsAsJson(engine, acting ? &plan : nullptr) : GroupsAsText(engine);
  if (acting && search.DryRun && !search.Json) report += PlanAsText(plan);
  std::fwrite(report.data(), 1, report.size(), stdout);
  std::fflush(stdout);
  bool ok = ran;
  if (ran && !search.SaveSession.empty() && !engine.SaveSession(search.SaveSession)) {
    LogError(engine.LastError);
    ok = false;
  }
  // Ctrl+C still stops the action between two files.
  if (acting && !search.DryRun && Interrupted) {
    LogWarning("Stopped before acting on the marked files: none was touched");
    ok = false;
  } else if (acting && !search.DryRun) {
    std::signal(SIGINT, OnInterrupt);
    if (!ActOnMarked(engine, search, plan)) ok = false;
  }
  std::signal(SIGINT, SIG_DFL);
  SetLogSink(StderrLogSink);
  return ok ? ecOk : ecFailed;
}

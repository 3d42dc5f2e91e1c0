// twinsifter-cli as a user runs it, and its JSON strings.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include <cstdio>
#include <chrono>
#include <filesystem>
#include <regex>

#include "xCliArgs.h"
#include "xCliJson.h"
#include "xTestFiles.h"

namespace {

struct TRun {
  int ExitCode;
  std::string Out;
  std::string Err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

TRun RunCli(const std::string& arguments, const TTempDir& dir, const std::string& home = "") {
  const std::string errFile = dir.File("stderr.txt");
  // Settings and cache live in a folder of the test's own, never beside the program.
  const std::string command = "TWINSIFTER_HOME=" + Quote(home.empty() ? dir.File("home") : home) +
                              " XDG_DATA_HOME=" + Quote(dir.File("xdg-data")) + " XDG_CONFIG_HOME=" +
                              Quote(dir.File("xdg-config")) + " XDG_CACHE_HOME=" + Quote(dir.File("xdg-cache")) + " " +
                              std::string(TWINSIFTER_CLI) + " " + arguments + " 2>" + Quote(errFile);
  std::FILE* pipe = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out, ReadBytes(errFile)};
}

// The numbers of a JSON array that follows `key` in `json`.
std::vector<int> ArrayAfter(const std::string& json, const std::string& key) {
  const auto at = json.find(key);
  if (at == std::string::npos) return {};
  const auto open = json.find('[', at);
  const auto close = json.find(']', open);
  std::vector<int> numbers;
  const std::string body = json.substr(open + 1, close - open - 1);
  std::size_t pos = 0;
  while (pos < body.size()) {
    std::size_t used = 0;
    numbers.push_back(std::stoi(body.substr(pos), &used));
    pos += used + 1;
  }
  return numbers;
}

// True when `text` is exactly one JSON value and white space.
class TJsonChecker {
public:
  static bool Valid(const std::string& text) {
    TJsonChecker checker{text};
    return checker.Value() && (checker.Space(), checker.At == text.size());
  }

private:
  explicit TJsonChecker(const std::string& text) : Text(text) {}
  void Space() {
    while (At < Text.size() && std::isspace(static_cast<unsigned char>(Text[At]))) ++At;
  }
  bool Eat(char c) {
    Space();
    return At < Text.size() && Text[At] == c && (++At, true);
  }
  bool Value() {
    Space();
    if (At >= Text.size()) return false;
    const char c = Text[At];
    if (c == '{' || c == '[') return Items(c == '{' ? '}' : ']', c == '{');
    if (c == '"') return String();
    for (const char* word : {"true", "false", "null"})
      if (Text.compare(At, std::strlen(word), word) == 0) return (At += std::strlen(word), true);
    const std::size_t start = At;
    while (At < Text.size() && std::strchr("+-.eE0123456789", Text[At])) ++At;
    return At > start;
  }
  bool Items(char close, bool object) {
    ++At;
    if (Eat(close)) return true;
    do {
      if (object && !(Space(), String() && Eat(':'))) return false;
      if (!Value()) return false;
    } while (Eat(','));
    return Eat(close);
  }
  bool String() {
    if (At >= Text.size() || Text[At] != '"') return false;
    for (++At; At < Text.size(); ++At) {
      if (Text[At] == '\\') ++At;
      else if (Text[At] == '"') return (++At, true);
      else if (static_cast<unsigned char>(Text[At]) < 0x20) return false;
    }
    return false;
  }
  const std::string& Text;
  std::size_t At = 0;
};

}  // namespace

TEST(CliSignature, PrintsTheSignatureAsJson) {
  TTempDir dir;
  const std::string picture = dir.File("blue picture.png");
  WritePng(picture, TTestImage(300, 200, 0, 0, 255));
  const TRun run = RunCli("signature --variants r180,hflip,grey " + Quote(picture), dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_TRUE(std::regex_search(run.Out, std::regex(R"(^\{"width": 300, "height": 200, "l": \{"0": \[)")))
      << run.Out.substr(0, 80);
  const std::vector<int> l0 = ArrayAfter(run.Out, "\"0\":");
  ASSERT_EQ(l0.size(), 1024U);
  EXPECT_EQ(l0[0], 127) << "a plain picture has only its mean";
  EXPECT_EQ(ArrayAfter(run.Out, "\"1\":").size(), 1024U);
  EXPECT_EQ(ArrayAfter(run.Out, "\"5\":").size(), 1024U);
  EXPECT_EQ(run.Out.find("\"2\":"), std::string::npos) << "variants not asked for are absent";
  const std::vector<int> h = ArrayAfter(run.Out, "\"h\":");
  ASSERT_EQ(h.size(), 32U);
  EXPECT_EQ(h[21], 255) << "blue's hue bin";
}

TEST(CliSignature, FailuresAndUsage) {
  TTempDir dir;
  const std::string missing = dir.File("missing.jpg");
  const std::string broken = dir.File("broken.png");
  WriteBytes(broken, "not a picture");
  const struct {
    std::string Arguments;
    int ExitCode;
    std::string Err;  // start of the message on stderr
  } cases[] = {
      {"signature " + Quote(missing), 1, "File \"" + missing + "\" not found\n"},
      {"signature " + Quote(broken), 1, "Failed to load \"" + broken + "\"\n"},
      {"signature", 2, "twinsifter-cli signature: a picture file is needed"},
      {"signature --variants r45 " + Quote(broken), 2, "twinsifter-cli signature: unknown variant \"r45\""},
      {"signature --variants", 2, "twinsifter-cli signature: --variants needs a value"},
      {"signature a.png b.png", 2, "twinsifter-cli signature: unexpected argument \"b.png\""},
      {"", 2, "Twinsifter "},
      {"--no-such-option " + Quote(dir.Path()), 2, "twinsifter-cli: unknown option \"--no-such-option\""},
      {Quote(missing), 2, "twinsifter-cli: no such folder: " + missing},
      {"--method sha256 " + Quote(dir.Path()), 2, "twinsifter-cli: unknown method \"sha256\""},
      {"--json", 2, "twinsifter-cli: a folder to search is needed"},
      {"--sample " + Quote(missing) + " " + Quote(dir.Path()), 2, "twinsifter-cli: no such sample file: " + missing},
  };
  for (const auto& c : cases) {
    const TRun run = RunCli(c.Arguments, dir);
    EXPECT_EQ(run.ExitCode, c.ExitCode) << c.Arguments;
    EXPECT_EQ(run.Err.substr(0, c.Err.size()), c.Err) << c.Arguments;
    EXPECT_EQ(run.Out, "") << c.Arguments;
  }
}

TEST(CliArgs, VariantNames) {
  TPicVariants variants;
  std::string error;
  ASSERT_TRUE(ParseVariants("r180,r90l,r90r,vflip,hflip,grey", variants, error));
  EXPECT_EQ(variants.Bits(), 0x7F);
  ASSERT_TRUE(ParseVariants("", variants, error));
  EXPECT_EQ(variants, TPicVariants());
  EXPECT_FALSE(ParseVariants("r180,R90L", variants, error));
  EXPECT_EQ(error, "unknown variant \"R90L\" (known: r180, r90l, r90r, vflip, hflip, grey)");
}

TEST(CliJson, StringsAreEscapedAndInvalidBytesBecomeSurrogates) {
  const struct {
    std::string Text, Json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"line\nfeed\ttab\r\x01", R"("line\nfeed\ttab\r\u0001")"},
      {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\""},
      {"latin1 \xE9!", R"("latin1 \udce9!")"},
      {"\xC0\xAF", R"("\udcc0\udcaf")"},                 // overlong
      {"\xED\xA0\x80", R"("\udced\udca0\udc80")"},       // encoded surrogate
      {"\xE2\x82", R"("\udce2\udc82")"},                 // cut short
      {"\xF4\x90\x80\x80", R"("\udcf4\udc90\udc80\udc80")"},  // beyond U+10FFFF
      {std::string("nul\0byte", 8), R"("nul\u0000byte")"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonString(c.Text), c.Json) << c.Json;
}

namespace {

class CliSearch : public testing::Test {
protected:
  CliSearch() {
    Root = Dir.File("tree");
    std::filesystem::create_directories(Root + "/sub dir");
    WriteBytes(Root + "/a.txt", "same");
    WriteBytes(Root + "/b.txt", "same");
    WriteBytes(Root + "/sub dir/line\nbreak \xE9.txt", "same");
    WriteBytes(Root + "/other.txt", "diff");
    WriteBytes(Root + "/empty1", "");
    WriteBytes(Root + "/empty2", "");
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    std::filesystem::last_write_time(Root + "/a.txt", old);
  }
  TTempDir Dir;
  std::string Root;
};

}  // namespace

TEST_F(CliSearch, PrintsGroupsWithTheirMarks) {
  const TRun run = RunCli("--quiet " + Quote(Root), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const std::vector<std::string> expected = {"Group 1: 3 files, 4 bytes", "  keep    ", "/tree/b.txt", "  marked  ",
                                             "/tree/a.txt", "  keep    ", "/tree/sub dir/line?break \xE9.txt"};
  std::size_t at = 0;
  for (const std::string& piece : expected) {
    const std::size_t found = run.Out.find(piece, at);
    ASSERT_NE(found, std::string::npos) << piece << " in\n" << run.Out;
    at = found + piece.size();
  }
}

TEST_F(CliSearch, JsonHoldsEveryMemberAndEscapesNames) {
  const TRun run = RunCli("--json --include-empty --method bytes " + Quote(Root), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Out.rfind("{\"files\": 6, \"combinations\": 15, \"error\": \"\", \"groups\": [{\"members\": [", 0), 0U)
      << run.Out;
  EXPECT_NE(run.Out.find("line\\nbreak \\udce9.txt\", \"size\": 4"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("\"kind\": \"plain\", \"width\": 0, \"height\": 0, \"marked\": true}"), std::string::npos);
  EXPECT_NE(run.Out.find("/empty2\", \"size\": 0"), std::string::npos) << "empty files were asked for";
  // The log goes to stderr with the console's prefixes.
  EXPECT_NE(run.Err.find("INFO :  6 files found\n"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("INFO :  2 duplicates groups found\n"), std::string::npos) << run.Err;
}

// Pictures the libraries choke on, or whose interpreter prints its errors on stdout, are
// warnings on stderr; stdout stays one JSON object.
TEST_F(CliSearch, BrokenPicturesLeaveTheJsonAlone) {
  const std::string pictures = Dir.File("pictures");
  std::filesystem::create_directories(pictures);
  WriteBytes(pictures + "/broken.eps", "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\nnosuchoperator\n");
  WriteBytes(pictures + "/broken.wmf", std::string("\xD7\xCD\xC6\x9A", 4) + std::string(18, '\x01') + "not a metafile");
  WritePng(pictures + "/a.png", TTestImage(40, 30, 200, 30, 30));
  WritePng(pictures + "/b.png", TTestImage(40, 30, 200, 30, 30));
  const TRun run = RunCli("--json --visual " + Quote(pictures), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_TRUE(TJsonChecker::Valid(run.Out)) << run.Out;
  EXPECT_EQ(run.Out.rfind("{\"files\": 4, ", 0), 0U) << run.Out;
  for (const char* name : {"broken.eps", "broken.wmf"})
    EXPECT_NE(run.Err.find("WARNING :  Failed to load \"" + pictures + "/" + name + "\"\n"), std::string::npos)
        << run.Err;
}

// Every kind of hostile or broken picture in one folder: the search ends in bounded time, the
// good pictures are grouped as they would be alone, and stdout holds the JSON and nothing else.
TEST_F(CliSearch, AFolderOfHostilePicturesStillGivesItsGroups) {
  namespace fs = std::filesystem;
  const std::string pictures = Dir.File("hostile");
  fs::create_directories(pictures);
  auto eps = [](const std::string& box, const std::string& body) {
    return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 " + box + "\n" + body + "\n";
  };
  WriteBytes(pictures + "/endless.eps", eps("10 10", "{ } loop"));
  WriteBytes(pictures + "/huge.eps", eps("2000000 2000000", "0 0 moveto 10 10 lineto stroke showpage"));
  WriteBytes(pictures + "/writer.eps", eps("10 10", "(" + Dir.File("written") + ") (w) file dup (x) writestring closefile"));
  WriteBytes(pictures + "/broken.wmf", std::string("\xD7\xCD\xC6\x9A", 4) + std::string(18, '\x01') + "not a metafile");
  WriteManyScansJpeg(pictures + "/scans.jpg", 64, 64, 2647);
  for (const int seed : {1, 2}) {
    WriteJpeg(Dir.File("whole.jpg"), NoiseImage(64, 48, static_cast<unsigned>(seed)), 90);
    WriteBytes(pictures + "/cut" + std::to_string(seed) + ".jpg", CutJpegScan(ReadBytes(Dir.File("whole.jpg")), 0, 0.05));
  }
  const TTestImage photo = PhotoLikeImage(80, 60);
  WritePng(pictures + "/photo.png", photo);
  WriteJpeg(pictures + "/photo copy.jpg", photo, 95);
  const auto start = std::chrono::steady_clock::now();
  const TRun run = RunCli("--json --visual --no-cache " + Quote(pictures), Dir);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_LT(seconds, 60) << "bounded: each hostile picture stops at its limits";
  EXPECT_TRUE(TJsonChecker::Valid(run.Out)) << run.Out;
  const std::size_t group = run.Out.find("\"groups\": [{\"members\": [{\"path\": " + JsonString(pictures + "/photo.png"));
  EXPECT_NE(group, std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("}, {\"path\": " + JsonString(pictures + "/photo copy.jpg"), group), std::string::npos) << run.Out;
  EXPECT_EQ(run.Out.find("{\"members\"", run.Out.find("{\"members\"") + 1), std::string::npos) << "one group only";
  for (const char* name : {"endless.eps", "huge.eps", "writer.eps", "broken.wmf", "scans.jpg", "cut1.jpg", "cut2.jpg"})
    EXPECT_NE(run.Err.find("WARNING :  Failed to load \"" + pictures + "/" + name + "\"\n"), std::string::npos)
        << name << " in\n" << run.Err;
  EXPECT_FALSE(fs::exists(Dir.File("written")));
}

TEST_F(CliSearch, SavedOptionsApplyAndAreNeverWritten) {
  const std::string home = Dir.File("saved");
  std::filesystem::create_directories(home);
  const std::string ini = "[OPTIONS]\nUseFile=1\nFileMask=*.txt\nSubFolders=0\n";
  WriteBytes(home + "/twinsifter.ini", ini);
  TRun run = RunCli("--json " + Quote(Root), Dir, home);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Out.rfind("{\"files\": 3,", 0), 0U) << "a.txt, b.txt, other.txt: " << run.Out;
  run = RunCli("--json --mask '*' --exclude " + Quote(Root), Dir, home);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Out.find("\"error\": \"There is noting to compare\""), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("WARNING :  There is noting to compare"), std::string::npos) << run.Err;
  EXPECT_EQ(ReadBytes(home + "/twinsifter.ini"), ini);
  for (const auto& entry : std::filesystem::directory_iterator(home)) {
    const std::string name = entry.path().filename();
    EXPECT_TRUE(name == "twinsifter.ini" || name == "Cache") << "no settings written beside: " << name;
  }
}

TEST_F(CliSearch, ASavedSessionLoadsBackToTheSameGroups) {
  const std::string session = Dir.File("results.tsn");
  const TRun saved = RunCli("--quiet --json --include-empty --save-session " + Quote(session) + " " + Quote(Root), Dir);
  ASSERT_EQ(saved.ExitCode, 0) << saved.Err;
  const TRun loaded = RunCli("--quiet --json --include-empty --load-session " + Quote(session), Dir);
  ASSERT_EQ(loaded.ExitCode, 0) << loaded.Err;
  const auto groups = [](const std::string& json) { return json.substr(json.find("\"groups\"")); };
  EXPECT_EQ(groups(loaded.Out), groups(saved.Out));
  EXPECT_EQ(ReadBytes(session).substr(0, 4), std::string("\x66\x60\x00\x01", 4));

  const TRun wrong = RunCli("--load-session " + Quote(Root + "/a.txt"), Dir);
  EXPECT_EQ(wrong.ExitCode, 1);
  EXPECT_NE(wrong.Err.find("ERROR :  Wrong file format"), std::string::npos) << wrong.Err;
  const TRun both = RunCli("--load-session " + Quote(session) + " " + Quote(Root), Dir);
  EXPECT_EQ(both.ExitCode, 2);
}

TEST_F(CliSearch, ActionsTakeOnlyTheMarkedFiles) {
  namespace fs = std::filesystem;
  // a.txt is the older copy of b.txt and of "sub dir/line\nbreak \xE9.txt": the only one marked.
  TRun run = RunCli("--quiet --trash-marked " + Quote(Root), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_FALSE(fs::exists(Root + "/a.txt"));
  EXPECT_TRUE(fs::exists(Root + "/b.txt"));
  EXPECT_TRUE(fs::exists(Dir.File("xdg-data/Trash/files/a.txt"))) << "restorable from the trash";
  EXPECT_TRUE(fs::exists(Dir.File("xdg-data/Trash/info/a.txt.trashinfo")));

  // Moving: a clash is kept unless --overwrite says otherwise.
  const std::string target = Dir.File("kept");
  fs::create_directories(target);
  WriteBytes(Root + "/c.txt", "newer");
  WriteBytes(Root + "/d.txt", "newer");
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  fs::last_write_time(Root + "/c.txt", old);
  WriteBytes(target + "/c.txt", "already there");
  run = RunCli("--quiet --move-marked " + Quote(target) + " " + Quote(Root), Dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(ReadBytes(target + "/c.txt"), "already there");
  EXPECT_TRUE(fs::exists(Root + "/c.txt"));
  EXPECT_NE(run.Err.find("WARNING :  File \"" + target + "/c.txt\" already exists!"), std::string::npos) << run.Err;
  run = RunCli("--quiet --overwrite --move-marked " + Quote(target) + " " + Quote(Root), Dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(ReadBytes(target + "/c.txt"), "newer");
  EXPECT_FALSE(fs::exists(Root + "/c.txt"));
  EXPECT_EQ(ReadBytes(Dir.File("xdg-data/Trash/files/c.txt")), "already there") << "what it replaced is in the trash";

  // For good: only with --delete-marked, and never the file a group keeps.
  WriteBytes(Root + "/e.txt", "twice");
  WriteBytes(Root + "/f.txt", "twice");
  fs::last_write_time(Root + "/e.txt", old);
  run = RunCli("--quiet --delete-marked " + Quote(Root), Dir);
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_FALSE(fs::exists(Root + "/e.txt"));
  EXPECT_TRUE(fs::exists(Root + "/f.txt"));
  EXPECT_EQ(RunCli("--trash-marked --delete-marked " + Quote(Root), Dir).ExitCode, 2);
  EXPECT_EQ(RunCli("--move-marked " + Quote(Dir.File("nowhere")) + " " + Quote(Root), Dir).ExitCode, 2);
}

// --dry-run prints what an action would do and does nothing; the action, run later from a
// saved session, still refuses a file whose copy changed since.
TEST_F(CliSearch, ADryRunShowsThePlanAndTheActionChecksAgain) {
  namespace fs = std::filesystem;
  const std::string keeper = Root + "/b.txt";
  TRun run = RunCli("--quiet --dry-run --delete-marked " + Quote(Root), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const std::string plan = "Plan: 1 of 1 files, 4 bytes; each is checked again when it is acted on\n"
                           "  delete  " + Root + "/a.txt  (stays: " + keeper + ")\n";
  EXPECT_EQ(run.Out.substr(run.Out.find("Plan:")), plan);
  EXPECT_TRUE(fs::exists(Root + "/a.txt"));
  run = RunCli("--quiet --json --dry-run --move-marked " + Quote(Dir.Path()) + " " + Quote(Root), Dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("], \"plan\": [{\"action\": \"move\", \"path\": \"" + Root + "/a.txt\", \"target\": \"" +
                         Dir.File("a.txt") + "\", \"keeper\": \"" + keeper + "\"}]}\n"),
            std::string::npos)
      << run.Out;
  EXPECT_TRUE(fs::exists(Root + "/a.txt"));
  EXPECT_FALSE(fs::exists(Dir.File("a.txt")));
  EXPECT_EQ(RunCli("--dry-run " + Quote(Root), Dir).ExitCode, 2) << "a dry run of no action";

  const std::string session = Dir.File("r.tsn");
  ASSERT_EQ(RunCli("--quiet --save-session " + Quote(session) + " " + Quote(Root), Dir).ExitCode, 0);
  WriteBytes(keeper, "edited since");
  fs::remove(Root + "/sub dir/line\nbreak \xE9.txt");
  run = RunCli("--quiet --load-session " + Quote(session) + " --delete-marked", Dir);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(ReadBytes(Root + "/a.txt"), "same") << "its only copy now";
  EXPECT_EQ(run.Err, "WARNING :  File \"" + Root + "/a.txt\" is kept: its copy \"" + keeper +
                         "\" changed since the search\n");
}

// Ctrl+C while the marked files are being deleted stops between two files.
TEST(CliActions, CtrlCStopsTheDeletions) {
  namespace fs = std::filesystem;
  TTempDir dir;
  const std::string root = dir.File("tree");
  constexpr int Pairs = 3000;
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  for (int i = 0; i < Pairs; ++i) {
    const std::string name = std::to_string(i);
    fs::create_directories(root + "/old");
    fs::create_directories(root + "/new");
    WriteBytes(root + "/old/" + name, std::string(4096, 'a') + name);
    WriteBytes(root + "/new/" + name, std::string(4096, 'a') + name);
    fs::last_write_time(root + "/old/" + name, old);
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const int err = ::open(dir.File("stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(err, STDERR_FILENO);
    ::setenv("TWINSIFTER_HOME", dir.File("home").c_str(), 1);
    ::setenv("XDG_DATA_HOME", dir.File("xdg-data").c_str(), 1);
    ::execl(TWINSIFTER_CLI, TWINSIFTER_CLI, "--delete-marked", root.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  // The groups are printed whole before the first file goes: Ctrl+C comes right after them.
  std::string printed;
  char buffer[65536];
  const std::string last = "Group " + std::to_string(Pairs) + ":";
  while (printed.find(last) == std::string::npos || printed.back() != '\n' ||
         std::count(printed.begin() + static_cast<long>(printed.find(last)), printed.end(), '\n') < 3) {
    const ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    printed.append(buffer, static_cast<std::size_t>(n));
  }
  ::kill(child, SIGINT);
  while (::read(out[0], buffer, sizeof buffer) > 0) {
  }
  ::close(out[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "ended by the signal itself";
  EXPECT_EQ(WEXITSTATUS(status), 1);
  int left = 0;
  for (int i = 0; i < Pairs; ++i) left += fs::exists(root + "/old/" + std::to_string(i)) ? 1 : 0;
  EXPECT_GT(left, 0) << "every file was deleted";
  const std::string err = ReadBytes(dir.File("stderr.txt"));
  const bool stopped = err.find(" marked files deleted; stopped, " + std::to_string(left) + " not done") !=
                           std::string::npos ||
                       (left == Pairs && err.find("Stopped before acting on the marked files") != std::string::npos);
  EXPECT_TRUE(stopped) << err.substr(err.size() > 400 ? err.size() - 400 : 0);
}

TEST(CliCompare, TellsWhetherASearchWouldGroupTwoPictures) {
  TTempDir dir;
  const TTestImage photo = PhotoLikeImage(120, 80);
  TTestImage turned(120, 80);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 120; ++x) {
      const std::uint8_t* p = photo.At(x, y);
      turned.Set(119 - x, 79 - y, p[0], p[1], p[2]);
    }
  WritePng(dir.File("photo.png"), photo);
  WritePng(dir.File("turned.png"), turned);
  const std::string pair = Quote(dir.File("turned.png")) + " " + Quote(dir.File("photo.png"));
  TRun run = RunCli("compare " + pair, dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("threshold             98 (tolerance 0)\ndecision              different\n"), std::string::npos)
      << run.Out;
  run = RunCli("compare --variants r180 --tolerance 3 " + pair, dir);
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("(the second picture turned 180 degrees)"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("threshold             90 (tolerance 3)\ndecision              duplicates\n"), std::string::npos)
      << run.Out;
  EXPECT_EQ(RunCli("compare " + Quote(dir.File("photo.png")), dir).ExitCode, 2);
  EXPECT_EQ(RunCli("compare --tolerance 11 " + pair, dir).ExitCode, 2);
  run = RunCli("compare " + Quote(dir.File("missing.png")) + " " + Quote(dir.File("photo.png")), dir);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Err, "File \"" + dir.File("missing.png") + "\" not found\n");
}

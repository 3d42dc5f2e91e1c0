// The search run: scanning, the comparison phase, groups, messages, progress and stop.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "xDropOverride.h"
#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

class EngineTest : public testing::Test {
protected:
  EngineTest() : Storage(Home.Path(), TInfo()), Engine(Storage, false) {
    Root = Tree.Path() + "/";
    Engine.OnStatus = [this](const std::string& text) { Statuses.push_back(text); };
    Engine.OnProgress = [this](int percent) { Progress.push_back(percent); };
  }

  // Writes a file below the tree, with its modification time `age` days in the past.
  std::string Make(const std::string& relative, const std::string& content, int age = 0) {
    const std::string path = Root + relative;
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, content);
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(24 * age);
    fs::last_write_time(path, when);
    return path;
  }

  std::vector<std::vector<std::string>> GroupNames() const {
    std::vector<std::vector<std::string>> groups;
    for (int g = 0; g < Engine.GroupCount(); ++g) {
      groups.emplace_back();
      for (int i = 0; i < Engine.Groups(g)->Count(); ++i) {
        const std::string& name = Engine.Groups(g)->Items(i)->FileName;
        groups.back().push_back(name.substr(Root.size()));
      }
    }
    return groups;
  }

  std::vector<std::string> FileNames() const {
    std::vector<std::string> names;
    for (int i = 0; i < Engine.FileCount(); ++i) names.push_back(Engine.Files(i)->FileName.substr(Root.size()));
    return names;
  }

  std::vector<TLogCapture::TLine> LogWithoutBanner() const {
    std::vector<TLogCapture::TLine> lines = Log.Lines();
    if (lines.size() >= 4 && lines[0].Level == llPlain) lines.erase(lines.begin(), lines.begin() + 4);
    return lines;
  }

  TTempDir Home, Tree;
  std::string Root;
  TStorage Storage;
  TEngine Engine;
  TLogCapture Log;
  std::vector<std::string> Statuses;
  std::vector<int> Progress;
};

TEST_F(EngineTest, EarlyEndsLeaveTheirMessages) {
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "No folders selected to compare");
  EXPECT_FALSE(Engine.IsRunning());

  Engine.AddFolder(Tree.Path());
  Engine.SetFolderEnabled(0, false);
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "There is noting to compare");

  Engine.SetFolderEnabled(0, true);
  Make("only.txt", "one");
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "There is noting to compare");
  EXPECT_TRUE(Engine.NeedRescan);

  Engine.Options.UseFile = true;
  Engine.Options.FileMask = "[abc";
  Make("second.txt", "two");
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "'[abc' is an invalid mask at (1)");
  EXPECT_FALSE(Engine.IsRunning());
}

TEST_F(EngineTest, BannerOpensEverySearch) {
  Engine.AddFolder(Tree.Path());
  Make("a", "x");
  Make("b", "x");
  ASSERT_TRUE(Engine.Execute());
  const auto lines = Log.Lines();
  EXPECT_EQ(Log.Clears(), 1);
  ASSERT_GE(lines.size(), 6U);
  EXPECT_EQ(lines[0], (TLogCapture::TLine{std::string(59, '-'), llPlain, false}));
  EXPECT_EQ(lines[1].Text, Storage.SysInfo().GetWindowsDescription());
  EXPECT_EQ(lines[2].Text.rfind("Memory : ", 0), 0U);
  EXPECT_NE(lines[2].Text.find(" MB out of "), std::string::npos) << lines[2].Text;
  EXPECT_EQ(lines[3], lines[0]);
  EXPECT_EQ(lines[4], (TLogCapture::TLine{"2 files found", llInfo, false}));
  EXPECT_EQ(lines[5], (TLogCapture::TLine{"1 combinations produced", llInfo, false}));
}

TEST_F(EngineTest, ThreeCopiesFormOneGroupInDiscoveryOrder) {
  Engine.AddFolder(Tree.Path());
  Make("f0", "same");
  Make("f1", "same");
  Make("f2", "same");
  Make("other", "diff");
  ASSERT_TRUE(Engine.Execute()) << Engine.LastError;
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"f1", "f0", "f2"}}));
  EXPECT_FALSE(Engine.NeedRescan);
  const std::vector<std::string> statuses = {"Scanning folders ...", Root, "Comparing 4 files ...",
                                             "Comparing : 1 out of 4", "Comparing : 2 out of 4",
                                             "Comparing : 3 out of 4"};
  EXPECT_EQ(Statuses, statuses);
  EXPECT_EQ(Progress, (std::vector<int>{0, 33, 66, 100}));
}

TEST_F(EngineTest, ScanTakesFilesInPreOrderAndLeavesHiddenAndSpecialEntriesOut) {
  Make("b.txt", "1");
  Make("a.txt", "2");
  Make("sub/c.txt", "3");
  Make("sub/deeper/d.txt", "4");
  Make(".hidden", "5");
  Make(".hiddendir/e.txt", "6");
  Make("readonly.txt", "7");
  fs::permissions(Root + "readonly.txt", fs::perms::owner_read);
  fs::create_symlink(Root + "a.txt", Root + "link.txt");
  fs::create_directory_symlink(Root + "sub", Root + "linkdir");
  ASSERT_EQ(::mkfifo((Root + "pipe").c_str(), 0600), 0);
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a.txt", "b.txt", "readonly.txt", "sub/c.txt", "sub/deeper/d.txt"}));

  Engine.Options.SubFolders = false;
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a.txt", "b.txt", "readonly.txt"}));
}

TEST_F(EngineTest, AFolderReachedTwiceIsScannedOnce) {
  Make("a", "same");
  Make("sub/b", "same");
  Engine.AddFolder(Tree.Path());
  Engine.AddFolder(Root + "sub");
  Engine.AddFolder(Root + "sub/");
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"a", "sub/b"}));
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"sub/b", "a"}}));
}

TEST_F(EngineTest, HardLinksAreNeverDuplicatesOfEachOther) {
  Make("a", "same");
  fs::create_hard_link(Root + "a", Root + "b");
  Engine.AddFolder(Tree.Path());
  for (const std::uint8_t method : {0, 1, 3}) {
    Engine.SetFileComp(method);
    ASSERT_TRUE(Engine.Execute());
    EXPECT_EQ(Engine.FileCount(), 2);
    EXPECT_EQ(Engine.GroupCount(), 0) << "two records, but never a pair";
  }
  Make("c", "same");
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  ASSERT_EQ(Engine.GroupCount(), 1);
  EXPECT_EQ(GroupNames()[0].size(), 2U) << "the copy joins one link; the other link is that file again";
}

TEST_F(EngineTest, FiltersOfAddFile) {
  Make("empty1", "");
  Make("empty2", "");
  Make("photo.JPG", "jpeg-ish");
  Make("photo-copy.jpg", "jpeg-ish");
  Make("notes.txt", "jpeg-ish");
  Make("photos/inside.txt", "jpeg-ish");
  Engine.AddFolder(Tree.Path());
  const struct {
    const char* What;
    std::function<void(TCompOpts&)> Set;
    std::vector<std::string> Files;
  } cases[] = {
      {"defaults", [](TCompOpts&) {}, {"notes.txt", "photo-copy.jpg", "photo.JPG", "photos/inside.txt"}},
      {"empty files kept", [](TCompOpts& o) { o.ZeroIgnore = false; },
       {"empty1", "empty2", "notes.txt", "photo-copy.jpg", "photo.JPG", "photos/inside.txt"}},
      {"mask", [](TCompOpts& o) { o.UseFile = true, o.FileMask = "*.jpg"; }, {"photo-copy.jpg", "photo.JPG"}},
      {"mask leaves out", [](TCompOpts& o) { o.UseFile = true, o.FileMask = "*.jpg", o.FileEx = true; },
       {"notes.txt", "photos/inside.txt"}},
      {"empty mask leaves out nothing", [](TCompOpts& o) { o.UseFile = true, o.FileMask = "", o.FileEx = true; },
       {"notes.txt", "photo-copy.jpg", "photo.JPG", "photos/inside.txt"}},
      {"pictures only", [](TCompOpts& o) { o.PicsOnly = true; }, {"photo-copy.jpg", "photo.JPG"}},
      {"path mask skips the subtree", [](TCompOpts& o) { o.UsePath = true, o.PathMask = "*/photos/*"; }, {}},
      {"path mask", [](TCompOpts& o) { o.UsePath = true, o.PathMask = "*/ph?tos/*"; }, {}},
  };
  for (const auto& c : cases) {
    Engine.Options = TCompOpts();
    c.Set(Engine.Options);
    Engine.NeedRescan = true;
    Engine.Execute();
    EXPECT_EQ(FileNames(), c.Files) << c.What;
  }
  // A path mask the tree's own folder passes lets the whole subtree in.
  Engine.Options = TCompOpts();
  Engine.Options.UsePath = true;
  Engine.Options.PathMask = Root + "*";
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(FileNames().size(), 4U);
  // With "Skip empty files" off, every empty file is content-identical.
  Engine.Options = TCompOpts();
  Engine.Options.ZeroIgnore = false;
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(GroupNames()[0], (std::vector<std::string>{"empty2", "empty1"}));
}

TEST_F(EngineTest, EveryMethodTellsFilesApartByTheirLastByte) {
  std::string content(300000, 'q');
  Make("a", content);
  content.back() = 'r';
  Make("b", content);
  Make("c", content);
  Engine.AddFolder(Tree.Path());
  for (int method = 0; method <= 4; ++method) {
    Engine.SetFileComp(method);
    ASSERT_TRUE(Engine.Execute()) << method;
    EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"c", "b"}})) << "method " << method;
    if (method > 0) {
      // b has a twin, so its whole file was digested by the method chosen.
      EXPECT_EQ(Engine.Files(1)->Digest.Length, method == 1 ? 4 : method == 4 ? 20 : 16);
    }
  }
}

TEST_F(EngineTest, FilesBeyondTheDigestLimitAreComparedOnlyByBytes) {
  for (const char* name : {"big1", "big2"}) {
    std::ofstream(Root + name).close();
    fs::resize_file(Root + name, 600000000);  // sparse: cheap to make and to read
  }
  Engine.AddFolder(Tree.Path());
  Engine.SetFileComp(fcMd5);
  EXPECT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.GroupCount(), 0);
  EXPECT_TRUE(Engine.Files(0)->Digest.Empty()) << "never read";
  Engine.SetFileComp(fcBytes);
  EXPECT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.GroupCount(), 1);
}

TEST_F(EngineTest, ChangingTheMethodAsksForARescanOnlyWhenItChanges) {
  Engine.NeedRescan = false;
  Engine.SetFileComp(Engine.Options.FileComp);
  EXPECT_FALSE(Engine.NeedRescan);
  Engine.SetFileComp(fcSha);
  EXPECT_TRUE(Engine.NeedRescan);
  EXPECT_EQ(Engine.Options.FileComp, fcSha);
}

TEST_F(EngineTest, SavedMethodIsInForceFromTheFirstSearch) {
  Make("a", "same");
  Make("b", "same");
  WriteBytes(Home.File("twinsifter.ini"), "[OPTIONS]\nFileComp=4\n[FOLDERS]\nCount=1\nF_0=" + Tree.Path() + "\n");
  TStorage storage(Home.Path(), TInfo());
  TEngine engine(storage, false);
  ASSERT_TRUE(engine.Execute());
  EXPECT_EQ(engine.Files(0)->Digest.Length, 20) << "SHA-0";
}

TEST_F(EngineTest, SearchingAgainReusesTheRecords) {
  Make("a", "same");
  Make("b", "same");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  const TFileData* first = Engine.Files(0);
  Make("c", "same");  // not seen: no rescan
  Statuses.clear();
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.Files(0), first);
  EXPECT_EQ(Engine.FileCount(), 2);
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"b", "a"}}));
  EXPECT_EQ(Statuses.front(), "Comparing 2 files ...");
}

TEST_F(EngineTest, StopDuringTheScan) {
  for (const char* name : {"f0", "f1", "f2", "f3", "f4"}) Make(name, "x");
  Engine.AddFolder(Tree.Path());
  int seen = 0;
  Engine.OnPumpEvents = [&] {
    if (++seen == 2) Engine.Stop();
  };
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "Scanning aborted!");
  EXPECT_TRUE(Engine.NeedRescan);
  EXPECT_FALSE(Engine.IsRunning());
}

TEST_F(EngineTest, StopDuringTheComparisonKeepsTheGroupsSoFar) {
  const char* names[] = {"f0", "f1", "f2", "f3", "f4", "f5"};
  for (int i = 0; i < 6; ++i) Make(names[i], std::string(300000, static_cast<char>('a' + i / 2)));
  Engine.AddFolder(Tree.Path());
  Engine.SetFileComp(fcBytes);
  Engine.OnStatus = [&](const std::string& text) {
    if (text == "Comparing : 3 out of 6") Engine.Stop();
  };
  EXPECT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "Comparison aborted");
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"f1", "f0"}, {"f3", "f2"}}))
      << "the row being shown was finished";
  EXPECT_FALSE(Engine.NeedRescan);

  // A stop inside a byte-by-byte comparison ends it after the block being read.
  Engine.OnStatus = nullptr;
  int blocks = 0;
  Engine.OnPumpEvents = [&] {
    if (++blocks == 1) Engine.Stop();
  };
  EXPECT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "Comparison aborted");
  EXPECT_EQ(Engine.GroupCount(), 0);
}

TEST_F(EngineTest, UnreadableFilesAreWarnedAboutAndTakeNoFurtherPart) {
  if (RunsWithFileOverride()) return;
  Make("a", "same");
  Make("b", "same");
  Make("c", "same");
  fs::permissions(Root + "a", fs::perms::none);
  fs::permissions(Root + "b", fs::perms::none);
  Engine.AddFolder(Tree.Path());
  for (const int method : {fcMd5, fcBytes}) {
    Engine.SetFileComp(method);
    ASSERT_TRUE(Engine.Execute()) << method;
    EXPECT_EQ(Engine.GroupCount(), 0) << method;
    EXPECT_TRUE(Engine.Files(0)->Failed && Engine.Files(1)->Failed) << method;
    EXPECT_FALSE(Engine.Files(2)->Failed) << method;
    // The later record of the first pair is read first.
    const std::vector<TLogCapture::TLine> warnings = {{"Failed to open \"" + Root + "b\"", llWarning, false},
                                                       {"Failed to open \"" + Root + "a\"", llWarning, false}};
    std::vector<TLogCapture::TLine> logged;
    for (const auto& line : Log.Lines())
      if (line.Level == llWarning) logged.push_back(line);
    EXPECT_EQ(logged, warnings) << method;
  }
}

TEST_F(EngineTest, SampleModeFindsCopiesOfTheSample) {
  const std::string sample = Make("sample.bin", "needle");
  Make("copy1", "needle");
  Make("other", "hay");
  Make("copy2", "needle");
  Engine.AddFolder(Tree.Path());
  Engine.Options.UseSample = true;
  Engine.Options.SampleFile = sample;
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(FileNames(), (std::vector<std::string>{"sample.bin", "copy1", "copy2", "other"}))
      << "the sample first, and listed once";
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"copy1", "copy2"}}));
  EXPECT_EQ(Statuses.back(), "Searching : 3 out of 4");

  Engine.Options.SampleFile = Root + "gone";
  Engine.NeedRescan = true;
  EXPECT_FALSE(Engine.Execute());
  EXPECT_EQ(Engine.LastError, "Failed to retrieve sample file information");

  // A sample written another way names the same file: never its own duplicate.
  Engine.Options.SampleFile = Root + "./sample.bin";
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.FileCount(), 5);
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"copy1", "copy2"}}));
}

TEST_F(EngineTest, FilesThatVanishAreNoDuplicates) {
  Make("a", "same");
  Make("b", "same");
  Engine.AddFolder(Tree.Path());
  Engine.SetFileComp(fcBytes);
  ASSERT_TRUE(Engine.Execute());
  fs::remove(Root + "a");
  ASSERT_TRUE(Engine.Execute());  // no rescan: the record is still there
  EXPECT_EQ(Engine.GroupCount(), 0);
  EXPECT_TRUE(Engine.Files(0)->Failed);
}

TEST_F(EngineTest, CombinationCountDoesNotOverflow) {
  // 70,000 empty records would take a while to compare; the count is what matters here.
  const std::int64_t n = 70000;
  EXPECT_EQ(n * (n - 1) / 2, 2449965000LL);
  Make("a", "1");
  Make("b", "2");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(LogWithoutBanner()[1].Text, "1 combinations produced");
}

TEST_F(EngineTest, FileThatShrinksWhileComparedStopsTheSearch) {
  // After the first block of a byte-by-byte comparison the second file loses its tail, so the
  // next read comes back short.
  const std::string content(400000, 'z');
  const std::string sample = Make("a", content);
  const std::string shrinking = Make("b", content);
  Engine.AddFolder(Tree.Path());
  Engine.SetFileComp(fcBytes);
  const struct {
    bool Sample;
    const char* Error;
  } cases[] = {{false, "Comparison aborted"}, {true, "File reading error"}};
  for (const auto& c : cases) {
    WriteBytes(shrinking, content);
    Engine.Options.UseSample = c.Sample;
    Engine.Options.SampleFile = sample;
    Engine.NeedRescan = true;
    int pumps = 0;  // one for each of the two files scanned, then one for each block compared
    Engine.OnPumpEvents = [&] {
      if (++pumps == 3) fs::resize_file(shrinking, 1000);
    };
    EXPECT_TRUE(Engine.Execute()) << c.Error;
    EXPECT_EQ(Engine.LastError, c.Error);
    EXPECT_EQ(Engine.GroupCount(), 0);
    EXPECT_FALSE(Engine.IsRunning());
  }
}

TEST_F(EngineTest, ASecondSearchDoesNotStartWhileOneRuns) {
  Make("a", "same");
  Make("b", "same");
  Engine.AddFolder(Tree.Path());
  bool nested = true;
  Engine.OnStatus = [&](const std::string&) {
    if (Engine.IsRunning()) nested = Engine.Execute();
  };
  EXPECT_TRUE(Engine.Execute());
  EXPECT_FALSE(nested);
  EXPECT_EQ(Engine.GroupCount(), 1);
}

TEST_F(EngineTest, IdenticalMP3FilesWithEmptyTagsAreFoundByContent) {
  std::string tag = "TAG";
  tag.resize(128, '\0');
  const std::string audio(5000, 'a');
  Make("one.mp3", audio + tag);
  Make("two.mp3", audio + tag);
  std::string titled = "TAGSong";
  titled.resize(128, '\0');
  Make("three.mp3", std::string(7000, 'b') + titled);
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(GroupNames(), (std::vector<std::vector<std::string>>{{"two.mp3", "one.mp3"}}));
  EXPECT_EQ(Engine.Files(0)->Kind(), TRecordKind::Plain) << "an empty tag makes no MP3 record";
  EXPECT_EQ(Engine.Files(1)->Kind(), TRecordKind::MP3) << "a title does";
}

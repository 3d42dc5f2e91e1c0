// Removing files from the results: every file is checked at the moment it is acted on, so that a
// file is never removed while no copy of it stays, whatever happened since the search (or since
// its session was saved), and a move never destroys the file it replaces.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <random>

#include "../platform/xDesktopTestEnv.h"
#include "xDropOverride.h"
#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// Writes the file in place (same inode) and gives it back the modification time it had, to the
// nanosecond: only its bytes tell the change.
void RewriteKeepingTime(const std::string& path, const std::string& bytes) {
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  WriteBytes(path, bytes);
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

class RemovalTest : public testing::Test {
protected:
  RemovalTest() : Storage(Home.Path(), TInfo()), Engine(Storage, false) { Root = Tree.Path() + "/"; }

  // A file below the tree, `age` days old.
  std::string Make(const std::string& relative, const std::string& content, int age = 0) {
    const std::string path = Root + relative;
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, content);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * age));
    return path;
  }

  void Search() {
    Engine.Folders.clear();
    Engine.AddFolder(Tree.Path());
    ASSERT_TRUE(Engine.Execute()) << Engine.LastError;
  }

  TFileData* Record(const std::string& path) const {
    for (int i = 0; i < Engine.FileCount(); ++i)
      if (Engine.Files(i)->FileName == path) return Engine.Files(i);
    return nullptr;
  }

  TRemovalOutcome Remove(const std::vector<std::string>& paths, TRemovalKind kind, const std::string& folder = "") {
    std::vector<TFileData*> records;
    for (const std::string& path : paths) {
      records.push_back(Record(path));
      EXPECT_NE(records.back(), nullptr) << path << " has no record";
    }
    return Engine.ExecuteRemoval(Engine.PlanRemoval(records, kind, folder));
  }

  std::vector<std::string> Warnings() const {
    std::vector<std::string> lines;
    for (const auto& line : Log.Lines())
      if (line.Level == llWarning) lines.push_back(line.Text);
    return lines;
  }

  TDesktopHome Desktop;
  TTempDir Home, Tree;
  std::string Root;
  TStorage Storage;
  TEngine Engine;
  TLogCapture Log;
};

}  // namespace

// What may happen to a marked file and its copy between the search and the removal, after a
// search and after a session saved and loaded again; the copy that stays must still hold the
// marked file's bytes when the marked file goes. nullopt: removed; "": kept, nothing was marked
// (the session no longer makes a group of it); otherwise kept with this warning.
TEST_F(RemovalTest, AFileGoesOnlyWhileItsCopyStillHoldsItsBytes) {
  const std::string content = RandomBytes(300 * 1024, 7);
  struct TCase {
    const char* Name;
    std::function<void(const std::string& marked, const std::string& kept)> Change;
    std::optional<std::string> AfterSearch, AfterSession;
  };
  const std::string kept = Root + "keep/photo.raw", marked = Root + "a/photo.raw";
  const std::string copyChanged = "its copy \"" + kept + "\" changed since the search";
  const TCase cases[] = {
      {"nothing changed", [](auto&, auto&) {}, std::nullopt, std::nullopt},
      {"the copy edited", [&](auto&, auto& k) { WriteBytes(k, content + "more"); }, copyChanged, copyChanged},
      {"the copy's bytes changed, its size and time kept",
       [&](auto&, auto& k) { RewriteKeepingTime(k, RandomBytes(content.size(), 8)); },
       "its copy \"" + kept + "\" no longer holds the same bytes",
       "its copy \"" + kept + "\" no longer holds the same bytes"},
      {"the marked file edited", [&](auto& m, auto&) { WriteBytes(m, content + "edit"); },
       "it changed since the search", "it changed since the search"},
      {"the marked file replaced by another file of the same bytes and time",
       [&](auto& m, auto&) {
         struct stat before {};
         ::stat(m.c_str(), &before);
         WriteBytes(m + ".new", content);
         const timespec times[2] = {before.st_atim, before.st_mtim};
         ::utimensat(AT_FDCWD, (m + ".new").c_str(), times, 0);
         fs::rename(m + ".new", m);
       },
       "it changed since the search", std::nullopt},
      {"the copy deleted", [](auto&, auto& k) { fs::remove(k); }, "its copy \"" + kept + "\" is gone", ""},
      {"the copy replaced by a hard link of the marked file",
       [](auto& m, auto& k) {
         fs::remove(k);
         fs::create_hard_link(m, k);
       },
       copyChanged, ""},
      {"the marked file's folder swapped for a link to a folder with the same names",
       [&](auto&, auto&) {
         fs::rename(Root + "a", Root + "a-was");
         fs::create_directories(Root + "elsewhere");
         WriteBytes(Root + "elsewhere/photo.raw", content);
         fs::create_directory_symlink(Root + "elsewhere", Root + "a");
       },
       "the folder \"a\" of its path is a symbolic link", "the folder \"a\" of its path is a symbolic link"},
      {"the copy's folder swapped for a link",
       [&](auto&, auto&) {
         fs::rename(Root + "keep", Root + "keep-was");
         fs::create_directory_symlink(Root + "keep-was", Root + "keep");
       },
       "its copy \"" + kept + "\" cannot be reached: the folder \"keep\" of its path is a symbolic link",
       "its copy \"" + kept + "\" cannot be reached: the folder \"keep\" of its path is a symbolic link"},
  };
  for (const bool session : {false, true})
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (session ? ", through a session" : ", after the search"));
      fs::remove_all(Tree.Path());
      fs::create_directories(Tree.Path());
      Make("a/photo.raw", content, 30);
      Make("keep/photo.raw", content, 1);
      Make("other.raw", RandomBytes(content.size(), 9));
      Search();
      ASSERT_EQ(Engine.GroupCount(), 1);
      ASSERT_TRUE(AutoMarked(*Engine.Groups(0), *Record(marked), Engine.MarkRules()));
      const std::string saved = Home.File("results.tsn");
      if (session) {
        ASSERT_TRUE(Engine.SaveSession(saved)) << Engine.LastError;
      }
      c.Change(marked, kept);
      if (session) {
        ASSERT_TRUE(Engine.LoadSession(saved)) << Engine.LastError;
      }
      Log.Clear();

      // The command line's way: the automatic marks of every group.
      std::vector<TFileData*> marks;
      for (int g = 0; g < Engine.GroupCount(); ++g)
        for (int i = 0; i < Engine.Groups(g)->Count(); ++i)
          if (AutoMarked(*Engine.Groups(g), *Engine.Groups(g)->Items(i), Engine.MarkRules()))
            marks.push_back(Engine.Groups(g)->Items(i));
      const TRemovalOutcome outcome = Engine.ExecuteRemoval(Engine.PlanRemoval(marks, TRemovalKind::Delete));
      const std::optional<std::string>& expected = session ? c.AfterSession : c.AfterSearch;
      if (!expected) {
        EXPECT_EQ(outcome.Done, 1);
        EXPECT_TRUE(outcome.AllDone());
        EXPECT_FALSE(fs::exists(marked));
        EXPECT_EQ(Warnings(), std::vector<std::string>{});
        continue;
      }
      EXPECT_EQ(outcome.Done, 0);
      EXPECT_TRUE(fs::exists(marked) || fs::exists(Root + "a-was/photo.raw"));
      if (fs::exists(Root + "elsewhere")) {
        EXPECT_EQ(ReadBytes(Root + "elsewhere/photo.raw"), content);
      }
      if (expected->empty()) {
        EXPECT_TRUE(marks.empty());
        continue;
      }
      EXPECT_EQ(outcome.Skipped, 1);
      EXPECT_EQ(Warnings(), std::vector<std::string>{"File \"" + marked + "\" is kept: " + *expected});
      EXPECT_EQ(Engine.LastError, "File \"" + marked + "\" is kept: " + *expected);
      EXPECT_NE(Record(marked), nullptr) << "a file that stays keeps its record";
    }
}

// Pictures grouped by their looks share no bytes: there the copy that stays must be unchanged.
TEST_F(RemovalTest, PicturesGoWhileTheirLookalikeIsUnchanged) {
  const TTestImage image = NoiseImage(48, 48, 5);
  Engine.Options.PicsComp = true;
  for (const bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "the look-alike changed" : "the look-alike unchanged");
    fs::remove_all(Tree.Path());
    fs::create_directories(Tree.Path());
    WritePng(Root + "a.png", image);
    WritePng(Root + "b.png", image, true);  // interlaced: other bytes, the same picture
    ASSERT_NE(ReadBytes(Root + "a.png"), ReadBytes(Root + "b.png"));
    Search();
    ASSERT_EQ(Engine.GroupCount(), 1);
    if (changed) WritePng(Root + "b.png", NoiseImage(48, 48, 6));
    Log.Clear();
    const TRemovalOutcome outcome = Remove({Root + "a.png"}, TRemovalKind::Delete);
    EXPECT_EQ(outcome.Done, changed ? 0 : 1);
    EXPECT_EQ(fs::exists(Root + "a.png"), changed);
    if (changed) {
      EXPECT_EQ(Warnings(), std::vector<std::string>{"File \"" + Root + "a.png\" is kept: its copy \"" + Root +
                                                     "b.png\" changed since the search"});
    }
  }
}

// Moving into a folder that holds files of the same names, every clash answered Yes: the files of
// the results and those the same batch put there are never replaced; any other file it replaces
// goes to the trash.
TEST_F(RemovalTest, MovesNeverDestroyWhatTheyReplace) {
  Make("a/x.txt", "one", 30);
  Make("dest/x.txt", "one", 1);  // the kept copy of a/x.txt, in the destination
  Make("b/y.txt", "two", 30);
  Make("c/y2.txt", "two", 1);
  Make("e/y.txt", "three", 30);  // the name of b/y.txt, which the batch puts there first
  Make("f/y3.txt", "three", 1);
  Make("g/u.txt", "four", 30);
  Make("h/u4.txt", "four", 1);
  Make("dest/u.txt", "unique, nowhere else");
  Make("i/sub", "five", 30);  // the destination holds a folder of that name
  Make("j/sub5", "five", 1);
  fs::create_directories(Root + "dest/sub");
  Search();
  ASSERT_EQ(Engine.GroupCount(), 5);
  int asked = 0;
  Engine.OnOverwrite = [&](const std::string&) {
    ++asked;
    return TOverwriteAnswer::YesToAll;
  };
  Engine.OverwriteAll = false;
  Log.Clear();
  const std::string dest = Root + "dest";
  // Two batches, as the window makes them group by group: the second no longer has the record
  // of what the first moved, and still must not replace it.
  const TRemovalOutcome first = Remove({Root + "a/x.txt", Root + "b/y.txt"}, TRemovalKind::Move, dest);
  const TRemovalOutcome second =
      Remove({Root + "e/y.txt", Root + "g/u.txt", Root + "i/sub"}, TRemovalKind::Move, dest);
  EXPECT_EQ(first.Done + second.Done, 2);
  EXPECT_EQ(first.Skipped + second.Skipped, 3);
  const std::string notReplaced = " is a file of the results and is not replaced";
  EXPECT_EQ(Warnings(), (std::vector<std::string>{"File \"" + Root + "a/x.txt\" is kept: \"" + dest + "/x.txt\"" + notReplaced,
                                                  "File \"" + Root + "e/y.txt\" is kept: \"" + dest + "/y.txt\"" + notReplaced,
                                                  "File \"" + Root + "i/sub\" is kept: \"" + dest + "/sub\" is there and is not a file"}));
  EXPECT_TRUE(fs::is_directory(dest + "/sub"));
  EXPECT_EQ(ReadBytes(dest + "/x.txt"), "one");
  EXPECT_EQ(ReadBytes(Root + "a/x.txt"), "one");
  EXPECT_EQ(ReadBytes(dest + "/y.txt"), "two");
  EXPECT_EQ(ReadBytes(Root + "e/y.txt"), "three");
  EXPECT_EQ(ReadBytes(dest + "/u.txt"), "four");
  EXPECT_EQ(ReadBytes(Desktop.Trash() + "/files/u.txt"), "unique, nowhere else") << "replaced, so trashed";
  EXPECT_EQ(asked, 1) << "only the clash with a file outside the results is asked about";
  EXPECT_TRUE(Engine.OverwriteAll);
}

// A plan that takes every member of a group leaves that group whole, and a stop ends the
// removal between two files.
TEST_F(RemovalTest, EveryCopyTakenOrAStopLeavesFilesInPlace) {
  for (int i = 0; i < 4; ++i) {
    Make("old/" + std::to_string(i), "content " + std::to_string(i), 30);
    Make("new/" + std::to_string(i), "content " + std::to_string(i), 1);
  }
  Search();
  ASSERT_EQ(Engine.GroupCount(), 4);
  const TRemovalPlan all = Engine.PlanRemoval({Record(Root + "old/0"), Record(Root + "new/0")}, TRemovalKind::Trash);
  EXPECT_EQ(all.Removable(), 0);
  EXPECT_EQ(all.Bytes(), 0);
  TRemovalOutcome outcome = Engine.ExecuteRemoval(all);
  EXPECT_EQ(outcome.Skipped, 2);
  EXPECT_TRUE(fs::exists(Root + "old/0") && fs::exists(Root + "new/0"));
  EXPECT_EQ(Warnings().front(), "File \"" + Root + "old/0\" is kept: no copy of it stays");

  int pumped = 0;
  Engine.OnPumpEvents = [&] {
    if (++pumped == 2) Engine.Stop();
  };
  const std::vector<std::string> olds = {Root + "old/0", Root + "old/1", Root + "old/2", Root + "old/3"};
  outcome = Remove(olds, TRemovalKind::Delete);
  EXPECT_EQ(outcome.Done, 1);
  EXPECT_EQ(outcome.NotDone, 3);
  EXPECT_TRUE(outcome.Stopped());
  EXPECT_FALSE(fs::exists(olds[0]));
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(fs::exists(olds[static_cast<std::size_t>(i)]));
  EXPECT_FALSE(Engine.IsRunning());
}

// The copy that stays on another filesystem is compared there; a copy that cannot be read holds
// nothing for the user.
TEST_F(RemovalTest, CopiesOnAnotherFilesystemCountAndUnreadableOnesDoNot) {
  if (RunsWithFileOverride()) return;
  Make("a.bin", RandomBytes(5000, 3), 30);
  Make("b.bin", RandomBytes(5000, 3), 1);
  Search();
  ::chmod((Root + "b.bin").c_str(), 0);
  EXPECT_EQ(Remove({Root + "a.bin"}, TRemovalKind::Delete).Done, 0);
  EXPECT_EQ(Engine.LastError,
            "File \"" + Root + "a.bin\" is kept: its copy \"" + Root + "b.bin\" cannot be read: Permission denied");
  ::chmod((Root + "b.bin").c_str(), 0644);

  TOtherFilesystem other;
  SKIP_WITHOUT(other);
  WriteBytes(other.Path() + "/c.bin", RandomBytes(5000, 4));
  fs::last_write_time(other.Path() + "/c.bin", fs::file_time_type::clock::now());
  fs::copy_file(Root + "a.bin", other.Path() + "/kept.bin");
  fs::remove(Root + "b.bin");
  Engine.Folders = {{Tree.Path(), true}, {other.Path(), true}};
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  ASSERT_EQ(Engine.GroupCount(), 1);
  EXPECT_EQ(Remove({Root + "a.bin"}, TRemovalKind::Delete).Done, 1) << Engine.LastError;
  EXPECT_FALSE(fs::exists(Root + "a.bin"));
  EXPECT_EQ(ReadBytes(other.Path() + "/kept.bin"), RandomBytes(5000, 3));
}

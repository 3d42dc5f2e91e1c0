// File operations on results: moving (the overwrite question, moves onto the file itself,
// across filesystems, bad destinations), deleting to the trash or for good, showing and
// opening, the process priority.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <random>
#include <thread>

#include "../platform/xDesktopTestEnv.h"
#include "xDropOverride.h"
#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

// Everything the move must keep of a file.
struct TFileState {
  std::string Content;
  mode_t Mode = 0;
  timespec Modified {};
};

TFileState StateOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
  return {ReadBytes(path), info.st_mode & 07777, info.st_mtim};
}

void ExpectSameFile(const TFileState& expected, const std::string& path) {
  const TFileState actual = StateOf(path);
  EXPECT_TRUE(actual.Content == expected.Content) << path << ": content differs";
  EXPECT_EQ(actual.Mode, expected.Mode) << path;
  EXPECT_EQ(actual.Modified.tv_sec, expected.Modified.tv_sec) << path;
  EXPECT_EQ(actual.Modified.tv_nsec, expected.Modified.tv_nsec) << path;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class FileOpsTest : public testing::Test {
protected:
  FileOpsTest() : Storage(Settings.Path(), TInfo()), Engine(Storage, false) {
    Engine.OnOverwrite = [this](const std::string& text) {
      Questions.push_back(text);
      if (Answers.empty()) return TOverwriteAnswer::No;
      const TOverwriteAnswer answer = Answers.front();
      Answers.erase(Answers.begin());
      return answer;
    };
  }

  // A file with an unusual mode and an old modification time (nanoseconds included), and its record.
  TFileData* MakeAlone(const std::string& path, const std::string& content, mode_t mode = 0640) {
    fs::create_directories(fs::path(path).parent_path());
    WriteBytes(path, content);
    const timespec times[2] = {{1000000000, 5}, {1234567890, 123456789}};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
    chmod(path.c_str(), mode);
    return Engine.AddFile(path, PackFileTime(1234567890), static_cast<std::int64_t>(content.size()), false);
  }
  // The same, in a group with a copy that stays (in a folder of its own), as a search leaves it.
  TFileData* Make(const std::string& path, const std::string& content, mode_t mode = 0640) {
    TFileData* record = MakeAlone(path, content, mode);
    TFileData* twin = MakeAlone(Twins.File(std::to_string(Groups.size())), content);
    Groups.push_back(std::make_unique<TGroup>());
    Groups.back()->Add(twin);
    Groups.back()->Add(record);
    return record;
  }

  bool HasRecord(const std::string& path) const {
    for (int i = 0; i < Engine.FileCount(); ++i)
      if (Engine.Files(i)->FileName == path) return true;
    return false;
  }

  TDesktopHome Desktop;
  TTempDir Settings, Tree, Dest, Twins;
  TStorage Storage;
  TEngine Engine;
  std::vector<std::unique_ptr<TGroup>> Groups;
  TLogCapture Log;
  std::vector<std::string> Questions;
  std::vector<TOverwriteAnswer> Answers;
};

}  // namespace

TEST_F(FileOpsTest, MoveWithinFilesystemIsARenameAndDropsTheRecord) {
  TFileData* record = MakeAlone(Tree.File("a.txt"), "alpha", 0751);
  TFileData* other = MakeAlone(Tree.File("b.txt"), "alpha");
  TGroup group;
  group.Add(record);
  group.Add(other);
  const TFileState before = StateOf(Tree.File("a.txt"));
  struct stat original {};
  stat(Tree.File("a.txt").c_str(), &original);

  Engine.LastError = "from before";
  ASSERT_TRUE(Engine.MoveToFolder(record, Dest.Path() + "/"));
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(record, nullptr);
  EXPECT_FALSE(fs::exists(Tree.File("a.txt")));
  ExpectSameFile(before, Dest.File("a.txt"));
  struct stat moved {};
  stat(Dest.File("a.txt").c_str(), &moved);
  EXPECT_EQ(moved.st_ino, original.st_ino) << "copied instead of renamed";
  EXPECT_EQ(Engine.FileCount(), 1);
  ASSERT_EQ(group.Count(), 1);
  EXPECT_EQ(group.Items(0), other);
  EXPECT_TRUE(Questions.empty());
}

TEST_F(FileOpsTest, MoveAcrossFilesystemsCopiesEverythingBeforeRemovingTheSource) {
  TOtherFilesystem other("16m");
  SKIP_WITHOUT(other);
  const std::string content = RandomBytes(3 * 1024 * 1024 + 17, 1);  // several copy chunks
  TFileData* record = Make(Tree.File("big.bin"), content, 0604);
  const TFileState before = StateOf(Tree.File("big.bin"));
  ASSERT_TRUE(Engine.MoveToFolder(record, other.Path()));
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(record, nullptr);
  EXPECT_FALSE(fs::exists(Tree.File("big.bin")));
  ExpectSameFile(before, other.Path() + "/big.bin");
  EXPECT_EQ(Entries(other.Path()), std::vector<std::string>{"big.bin"}) << "a temporary file was left behind";

  // Replacing a file there (answered Yes) replaces it whole; the file it replaces goes to the
  // trash of that filesystem. (Not the file just moved there: that one is never replaced.)
  fs::remove(other.Path() + "/big.bin");
  WriteBytes(other.Path() + "/big.bin", content);
  TFileData* second = Make(Tree.File("big.bin"), "short now", 0600);
  const TFileState replacement = StateOf(Tree.File("big.bin"));
  Answers = {TOverwriteAnswer::Yes};
  ASSERT_TRUE(Engine.MoveToFolder(second, other.Path())) << Engine.LastError;
  ExpectSameFile(replacement, other.Path() + "/big.bin");
  const std::string trash = ".Trash-" + std::to_string(getuid());
  EXPECT_EQ(Entries(other.Path()), (std::vector<std::string>{trash, "big.bin"}));
  EXPECT_TRUE(ReadBytes(other.Path() + "/" + trash + "/files/big.bin") == content) << "the replaced file is in the trash";
}

// The results view clears OverwriteAll and moves the checked files one by one.
TEST_F(FileOpsTest, OverwriteQuestionOverABatch) {
  const std::vector<std::string> names = {"1.txt", "2.txt", "3.txt", "4.txt"};
  std::vector<TFileData*> records;
  for (const std::string& name : names) {
    records.push_back(Make(Tree.File(name), "new " + name));
    WriteBytes(Dest.File(name), "old " + name);
  }
  Answers = {TOverwriteAnswer::No, TOverwriteAnswer::Yes, TOverwriteAnswer::YesToAll};
  Engine.OverwriteAll = false;
  for (TFileData*& record : records) {
    EXPECT_TRUE(Engine.MoveToFolder(record, Dest.Path()));
    EXPECT_EQ(Engine.LastError, "");
  }
  EXPECT_EQ(Questions, (std::vector<std::string>{"File \"" + Dest.File("1.txt") + "\" already exists!\n\rOverwrite?",
                                                 "File \"" + Dest.File("2.txt") + "\" already exists!\n\rOverwrite?",
                                                 "File \"" + Dest.File("3.txt") + "\" already exists!\n\rOverwrite?"}));
  EXPECT_TRUE(Engine.OverwriteAll);
  // No: both files stay and so does the record.
  EXPECT_EQ(ReadBytes(Tree.File("1.txt")), "new 1.txt");
  EXPECT_EQ(ReadBytes(Dest.File("1.txt")), "old 1.txt");
  EXPECT_NE(records[0], nullptr);
  EXPECT_TRUE(HasRecord(Tree.File("1.txt")));
  // Yes, Yes to All, and the later clash without asking.
  for (std::size_t i = 1; i < names.size(); ++i) {
    EXPECT_EQ(ReadBytes(Dest.File(names[i])), "new " + names[i]);
    EXPECT_FALSE(fs::exists(Tree.File(names[i])));
    EXPECT_EQ(records[i], nullptr);
  }
  EXPECT_EQ(Engine.FileCount(), 1 + 4) << "the record answered No and the four copies that stay";
  // The files it replaced went to the trash, not to nothing.
  for (std::size_t i = 1; i < names.size(); ++i)
    EXPECT_EQ(ReadBytes(Desktop.Trash() + "/files/" + names[i]), "old " + names[i]);
}

TEST_F(FileOpsTest, UnansweredQuestionMeansNo) {
  Engine.OnOverwrite = nullptr;
  TFileData* record = Make(Tree.File("x"), "new");
  WriteBytes(Dest.File("x"), "old");
  EXPECT_TRUE(Engine.MoveToFolder(record, Dest.Path()));
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(ReadBytes(Tree.File("x")), "new");
  EXPECT_EQ(ReadBytes(Dest.File("x")), "old");
  EXPECT_TRUE(HasRecord(Tree.File("x")));
}

// Moving a file onto itself would copy it over itself and then delete it.
TEST_F(FileOpsTest, MoveOntoItselfIsRefusedAndLosesNothing) {
  fs::create_directory_symlink(Tree.Path(), Dest.File("link-to-tree"));
  const std::string base = fs::path(Tree.Path()).filename().string();
  struct TCase {
    const char* Name;
    std::string Folder;
    std::string Target;
    std::function<void()> Prepare;
  };
  const TCase cases[] = {
      {"its own folder", Tree.Path(), Tree.File("f.txt"), [] {}},
      {"trailing separators", Tree.Path() + "//", Tree.File("f.txt"), [] {}},
      {"another path", Tree.Path() + "/../" + base, Tree.Path() + "/../" + base + "/f.txt", [] {}},
      {"a link to the folder", Dest.File("link-to-tree"), Dest.File("link-to-tree") + "/f.txt", [] {}},
      {"a hard link in the destination", Dest.Path(), Dest.File("f.txt"),
       [this] { fs::create_hard_link(Tree.File("f.txt"), Dest.File("f.txt")); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    fs::remove(Dest.File("f.txt"));
    TFileData* record = Make(Tree.File("f.txt"), "precious");
    c.Prepare();
    const TFileState before = StateOf(Tree.File("f.txt"));
    Engine.OverwriteAll = true;  // not even Yes to All may do it
    EXPECT_FALSE(Engine.MoveToFolder(record, c.Folder));
    EXPECT_EQ(Engine.LastError,
              "Cannot move file \"" + Tree.File("f.txt") + "\" onto itself (\"" + c.Target + "\")");
    ExpectSameFile(before, Tree.File("f.txt"));
    EXPECT_NE(record, nullptr);
    EXPECT_TRUE(Questions.empty());
    Engine.RemoveFile(record);
  }
}

// A destination that is missing, vanishes, is read-only or full: the documented message, the
// source and its record untouched, nothing half-written left there.
TEST_F(FileOpsTest, BadDestinationsLoseNothing) {
  if (RunsWithFileOverride()) return;
  struct TCase {
    const char* Name;
    std::function<std::string(const std::string& source)> Prepare;  // the folder to move to, "" to skip
    int Message;  // 0 "is not found", 1 "failed to copy", 2 the replaced file cannot go to the trash
    std::string Kept;  // a file of the source's name there that must survive ("" for none)
  };
  const auto other = std::make_shared<TOtherFilesystem>("64k");
  const auto full = std::make_shared<TOtherFilesystem>("64k");
  const auto readOnly = std::make_shared<TOtherFilesystem>("64k");
  const auto ask = Engine.OnOverwrite;
  const TCase cases[] = {
      {"missing folder", [this](const std::string&) { return Dest.File("missing"); }, 0, ""},
      {"a file, not a folder",
       [this](const std::string&) {
         WriteBytes(Dest.File("plain"), "");
         return Dest.File("plain");
       },
       0, ""},
      {"vanishes while the question is open",
       [this](const std::string& source) {
         fs::create_directory(Dest.File("vanishing"));
         WriteBytes(Dest.File("vanishing/" + fs::path(source).filename().string()), "old");
         Answers = {TOverwriteAnswer::Yes};
         Engine.OnOverwrite = [this](const std::string&) {
           fs::remove_all(Dest.File("vanishing"));
           return TOverwriteAnswer::Yes;
         };
         return Dest.File("vanishing");
       },
       2, ""},
      {"read-only folder",
       [this](const std::string&) {
         fs::create_directory(Dest.File("locked"));
         chmod(Dest.File("locked").c_str(), 0555);
         return Dest.File("locked");
       },
       1, ""},
      {"read-only filesystem",
       [readOnly](const std::string&) { return readOnly->MakeReadOnly() ? readOnly->Path() : std::string(); }, 1,
       ""},
      {"full filesystem",
       [full](const std::string&) {
         if (!full->Own()) return std::string();
         full->Fill();
         return full->Path();
       },
       1, ""},
      {"full filesystem, replacing a file",
       [other](const std::string& source) {
         if (!other->Own()) return std::string();
         WriteBytes(other->Path() + "/" + fs::path(source).filename().string(), "the old one");
         other->Fill();
         return other->Path();
       },
       1, "the old one"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string source = Tree.File("moved.bin");
    TFileData* record = Make(source, RandomBytes(200 * 1024, 2));
    const TFileState before = StateOf(source);
    Answers = {TOverwriteAnswer::Yes};
    const std::string folder = c.Prepare(source);
    if (folder.empty()) {
      std::cout << "[  SKIPPED ] " << c.Name << ": cannot mount a tmpfs of the test's own (needs root)\n";
      Engine.RemoveFile(record);
      continue;
    }
    std::vector<std::string> entries;
    if (fs::is_directory(folder)) entries = Entries(folder);

    EXPECT_FALSE(Engine.MoveToFolder(record, folder));
    const std::string messages[] = {"Folder \"" + folder + "\" is not found!", "Failed to copy file \"" + source + "\"",
                                    "File \"" + source + "\" is kept: \"" + folder + "/moved.bin\" could not be moved "
                                    "to the trash to make room: No such file or directory"};
    EXPECT_EQ(Engine.LastError, messages[c.Message]);
    ExpectSameFile(before, source);
    EXPECT_NE(record, nullptr);
    EXPECT_TRUE(HasRecord(source));
    if (fs::is_directory(folder)) {
      EXPECT_EQ(Entries(folder), entries) << "something was left in the destination";
      if (!c.Kept.empty()) {
        EXPECT_EQ(ReadBytes(folder + "/moved.bin"), c.Kept);
      }
    }
    Engine.RemoveFile(record);
    Engine.OnOverwrite = ask;
  }
}

TEST_F(FileOpsTest, VanishedSourceFailsToCopy) {
  TFileData* record = Make(Tree.File("gone"), "x");
  fs::remove(Tree.File("gone"));
  EXPECT_FALSE(Engine.MoveToFolder(record, Dest.Path()));
  EXPECT_EQ(Engine.LastError, "File \"" + Tree.File("gone") + "\" is not found!");
  EXPECT_TRUE(Entries(Dest.Path()).empty());
  EXPECT_NE(record, nullptr);
}

// The source's folder refuses the removal: within a filesystem the rename fails as a whole;
// across filesystems the copy is made and the file is left in both places, said so.
TEST_F(FileOpsTest, SourceThatCannotBeRemoved) {
  if (RunsWithFileOverride()) return;
  TFileData* record = Make(Tree.File("locked/f.txt"), "content");
  chmod(Tree.File("locked").c_str(), 0555);
  EXPECT_FALSE(Engine.MoveToFolder(record, Dest.Path()));
  EXPECT_EQ(Engine.LastError, "Failed to copy file \"" + Tree.File("locked/f.txt") + "\"");
  EXPECT_TRUE(Entries(Dest.Path()).empty());

  TOtherFilesystem other;
  SKIP_WITHOUT(other);
  EXPECT_FALSE(Engine.MoveToFolder(record, other.Path()));
  EXPECT_EQ(Engine.LastError, "Failed to delete file \"" + Tree.File("locked/f.txt") + "\" after copying it to \"" +
                                  other.Path() + "/f.txt\": Permission denied");
  EXPECT_EQ(ReadBytes(Tree.File("locked/f.txt")), "content");
  EXPECT_EQ(ReadBytes(other.Path() + "/f.txt"), "content");
  EXPECT_NE(record, nullptr);
  chmod(Tree.File("locked").c_str(), 0755);
}

TEST_F(FileOpsTest, DeleteToTrashOrForGood) {
  const std::string file = fs::canonical(Tree.Path()).string() + "/d.txt";
  TFileData* record = Make(file, "to the trash");
  Engine.LastError = "from before";
  ASSERT_TRUE(Engine.DeleteFile(record, true)) << Engine.LastError;
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(record, nullptr);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(ReadBytes(Desktop.Trash() + "/files/d.txt"), "to the trash");
  EXPECT_NE(ReadBytes(Desktop.Trash() + "/info/d.txt.trashinfo").find("\nPath=" + file + "\n"), std::string::npos);

  record = Make(file, "for good");
  ASSERT_TRUE(Engine.DeleteFile(record, false)) << Engine.LastError;
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(Entries(Desktop.Trash() + "/files"), std::vector<std::string>{"d.txt"});

  // Removed by another program meanwhile.
  for (const bool trash : {true, false}) {
    record = Make(file, "gone");
    fs::remove(file);
    EXPECT_FALSE(Engine.DeleteFile(record, trash));
    EXPECT_EQ(Engine.LastError, "File \"" + file + "\" is not found!");
    EXPECT_NE(record, nullptr);
  }
}

// A trash that fails is a failure with its reason, never a permanent deletion.
TEST_F(FileOpsTest, FailingTrashIsReportedAndDeletesNothing) {
  TOtherFilesystem other;
  SKIP_UNLESS_OWN(other);
  const std::string file = other.Path() + "/kept.txt";
  TFileData* record = Make(file, "kept");
  ASSERT_TRUE(other.MakeReadOnly());
  EXPECT_FALSE(Engine.DeleteFile(record, true));
  EXPECT_EQ(Engine.LastError, "Failed to move file \"" + file + "\" to the trash: its filesystem (" + other.Path() +
                                  ") has no usable trash folder: \"" + other.Path() + "/.Trash-" +
                                  std::to_string(getuid()) + "\": Read-only file system");
  EXPECT_EQ(ReadBytes(file), "kept");
}

TEST_F(FileOpsTest, RefusedDeletionsSayWhy) {
  if (RunsWithFileOverride()) return;
  const std::string file = Tree.File("locked/kept.txt");
  TFileData* record = Make(file, "kept");
  chmod(Tree.File("locked").c_str(), 0555);
  EXPECT_FALSE(Engine.DeleteFile(record, false));
  EXPECT_EQ(Engine.LastError, "Failed to delete file \"" + file + "\": Permission denied");
  EXPECT_FALSE(Engine.DeleteFile(record, true));
  EXPECT_EQ(Engine.LastError, "Failed to move file \"" + file + "\" to the trash: Permission denied");
  EXPECT_EQ(ReadBytes(file), "kept");
  EXPECT_FALSE(fs::exists(Desktop.Trash() + "/info/kept.txt.trashinfo"));
  chmod(Tree.File("locked").c_str(), 0755);
}

TEST_F(FileOpsTest, ShowAndOpenStartTheDesktopsPrograms) {
  const std::string file = Tree.File("shown file.txt");
  WriteBytes(file, "x");
  Engine.LastError = "untouched";
  EXPECT_FALSE(Engine.ShowInFolder(Tree.File("missing")));
  EXPECT_FALSE(Engine.OpenFile(Tree.File("missing")));
  EXPECT_EQ(Engine.LastError, "untouched");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Desktop.RecordedCalls().empty()) << "something was started for a missing file";

  // No session bus here: the file manager is the folder opened by the default application.
  EXPECT_TRUE(Engine.ShowInFolder(file));
  auto calls = Desktop.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].front(), Tree.Path());
  EXPECT_TRUE(Engine.OpenFile(file));
  calls = Desktop.WaitForCalls(2);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_TRUE(calls[0].front() == file || calls[1].front() == file);
  EXPECT_EQ(Engine.LastError, "untouched");

  Desktop.HideOpener();
  EXPECT_FALSE(Engine.OpenFile(file));
  EXPECT_EQ(Engine.LastError, "Failed to open file \"" + file + "\": \"xdg-open\" is not found on the PATH");
  EXPECT_FALSE(Engine.ShowInFolder(file));
  EXPECT_EQ(Engine.LastError, "Failed to show file \"" + file + "\": \"xdg-open\" is not found on the PATH");
}

TEST_F(FileOpsTest, LowAndNormalPriority) {
  // Leaving idle scheduling is a raise: an unprivileged process cannot come back from Low.
  if (!HasNiceCapability()) GTEST_SKIP() << "returning from Low needs the right to raise priorities (root)";
  const int start = sched_getscheduler(0);
  Engine.Options.Priority = 0;
  Engine.ApplySettings();
  EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
  Engine.Options.Priority = 1;
  Engine.ApplySettings();
  EXPECT_EQ(sched_getscheduler(0), start);
  // Values outside the table change nothing.
  Engine.Options.Priority = 0;
  Engine.ApplySettings();
  for (const int value : {4, 200}) {
    Engine.Options.Priority = static_cast<std::uint8_t>(value);
    Engine.ApplySettings();
    EXPECT_EQ(sched_getscheduler(0), SCHED_IDLE);
  }
  Engine.Options.Priority = 1;
  Engine.ApplySettings();
  EXPECT_EQ(sched_getscheduler(0), start);
  for (const auto& line : Log.Lines()) EXPECT_NE(line.Text, "Failed to set process priority!");
}

TEST_F(FileOpsTest, RefusedHighestPriorityIsAWarning) {
  if (RunsWithNiceCapability()) return;
  const int start = sched_getscheduler(0);
  Log.Clear();
  Engine.Options.Priority = 3;
  Engine.ApplySettings();
  EXPECT_EQ(sched_getscheduler(0), start);
  std::vector<TLogCapture::TLine> warnings;
  for (const auto& line : Log.Lines())
    if (line.Level == llWarning) warnings.push_back(line);
  EXPECT_EQ(warnings, (std::vector<TLogCapture::TLine>{{"Failed to set process priority!", llWarning, false}}));
}

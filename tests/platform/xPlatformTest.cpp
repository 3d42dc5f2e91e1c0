// The desktop operations: the trash (home and per-filesystem, refusals), the opener and the
// file manager's fallback, the process priority; paths walked without following links.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <filesystem>
#include <regex>
#include <thread>

#include "xDesktopTestEnv.h"
#include "xNoFollow.h"
#include "xPlatform.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

// What a desktop does to restore: the info file's Path, decoded, relative to the trash's
// filesystem top when it is not absolute.
std::string DecodePercent(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

struct TInfoFile {
  std::vector<std::string> Lines;
  std::string Path() const { return Lines.size() > 1 && Lines[1].rfind("Path=", 0) == 0 ? Lines[1].substr(5) : ""; }
};

TInfoFile ReadInfo(const std::string& file) {
  TInfoFile info;
  std::istringstream text(ReadBytes(file));
  for (std::string line; std::getline(text, line);) info.Lines.push_back(line);
  return info;
}

// The info file's name for a file in the trash's files/ folder.
std::string InfoFor(const std::string& trashed) {
  const fs::path path(trashed);
  return (path.parent_path().parent_path() / "info" / path.filename()).string() + ".trashinfo";
}

// Seconds between the info file's DeletionDate (local time) and now; huge when malformed.
double SecondsSinceDeletion(const TInfoFile& info) {
  if (info.Lines.size() < 3 || !std::regex_match(info.Lines[2], std::regex(R"(DeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
    return 1e9;
  std::tm when {};
  if (!strptime(info.Lines[2].c_str() + 13, "%Y-%m-%dT%H:%M:%S", &when)) return 1e9;
  when.tm_isdst = -1;
  return std::difftime(std::time(nullptr), std::mktime(&when));
}

class TrashTest : public testing::Test {
protected:
  TDesktopHome Home;
  TTempDir Tree;
};

}  // namespace

TEST_F(TrashTest, HomeTrashKeepsFileAndWhereItCameFromForRestoring) {
  const std::string folder = RealPath(Tree.Path());
  struct TCase {
    std::string Name, EncodedName;
  };
  const TCase cases[] = {
      {"plain.txt", "plain.txt"},
      {"with space & 100%.txt", "with%20space%20%26%20100%25.txt"},
      {"caf\xC3\xA9 #1?", "caf%C3%A9%20%231%3F"},
      {"raw\xFF\x01name", "raw%FF%01name"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.EncodedName);
    const std::string file = folder + "/" + c.Name;
    WriteBytes(file, "content of " + c.Name);
    std::string error, trashed;
    ASSERT_TRUE(MoveToTrash(file, error, &trashed)) << error;
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::exists(fs::symlink_status(file)));
    EXPECT_EQ(trashed, Home.Trash() + "/files/" + c.Name);
    EXPECT_EQ(ReadBytes(trashed), "content of " + c.Name);

    const TInfoFile info = ReadInfo(InfoFor(trashed));
    ASSERT_EQ(info.Lines.size(), 3u);
    EXPECT_EQ(info.Lines[0], "[Trash Info]");
    EXPECT_EQ(info.Lines[1], "Path=" + folder + "/" + c.EncodedName);
    EXPECT_LT(std::abs(SecondsSinceDeletion(info)), 120) << info.Lines[2];

    fs::rename(trashed, DecodePercent(info.Path()));
    EXPECT_EQ(ReadBytes(file), "content of " + c.Name);
  }
  // Only the trash's own folders were made, private to the user.
  struct stat mode {};
  ASSERT_EQ(stat(Home.Trash().c_str(), &mode), 0);
  EXPECT_EQ(mode.st_mode & 0777, 0700u);
}

TEST_F(TrashTest, SameNameTrashedAgainGetsItsOwnEntry) {
  const std::string file = RealPath(Tree.Path()) + "/photo.jpg";
  fs::create_directories(Home.Trash() + "/files");
  WriteBytes(Home.Trash() + "/files/photo.2.jpg", "left over without an info file");
  std::vector<std::string> trashed(3);
  for (int round = 0; round < 3; ++round) {
    WriteBytes(file, "round " + std::to_string(round));
    std::string error;
    ASSERT_TRUE(MoveToTrash(file, error, &trashed[round])) << error;
  }
  EXPECT_EQ(trashed, (std::vector<std::string>{Home.Trash() + "/files/photo.jpg", Home.Trash() + "/files/photo.3.jpg",
                                               Home.Trash() + "/files/photo.4.jpg"}));
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(ReadBytes(trashed[round]), "round " + std::to_string(round));
    EXPECT_EQ(DecodePercent(ReadInfo(InfoFor(trashed[round])).Path()), file);
  }
  EXPECT_EQ(ReadBytes(Home.Trash() + "/files/photo.2.jpg"), "left over without an info file");
}

TEST_F(TrashTest, LongestNameFitsItsInfoFile) {
  std::string name(120, 'n');
  for (int i = 0; i < 63; ++i) name += "\xC3\xA9";
  name += ".dat";  // 250 bytes: no room left for ".trashinfo"
  const std::string file = RealPath(Tree.Path()) + "/" + name;
  WriteBytes(file, "long");
  std::string error, trashed;
  ASSERT_TRUE(MoveToTrash(file, error, &trashed)) << error;
  const std::string shortened = fs::path(trashed).filename().string();
  EXPECT_LE(shortened.size() + std::string(".trashinfo").size(), 255u);
  ASSERT_GT(shortened.size(), 5u);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), ".dat");
  EXPECT_EQ(shortened.substr(shortened.size() - 6, 2), "\xC3\xA9") << "cut inside a character";
  EXPECT_EQ(DecodePercent(ReadInfo(InfoFor(trashed)).Path()), file);
  EXPECT_EQ(ReadBytes(trashed), "long");
}

// A file on another filesystem goes to that filesystem's trash, by the shared .Trash folder
// only when an administrator made it properly (a real folder with the sticky bit).
TEST_F(TrashTest, OtherFilesystemUsesItsOwnTrash) {
  const std::string uid = std::to_string(getuid());
  struct TCase {
    const char* Name;
    std::function<void(const std::string& top)> Prepare;
    std::string Trash;  // relative to the top
  };
  const TCase cases[] = {
      {"no trash yet", [](const std::string&) {}, ".Trash-" + uid},
      {"shared trash with sticky bit",
       [](const std::string& top) {
         fs::create_directory(top + "/.Trash");
         chmod((top + "/.Trash").c_str(), 01777);
       },
       ".Trash/" + uid},
      {"shared trash without sticky bit",
       [](const std::string& top) {
         fs::create_directory(top + "/.Trash");
         chmod((top + "/.Trash").c_str(), 0777);
       },
       ".Trash-" + uid},
      {"shared trash is a link",
       [](const std::string& top) {
         fs::create_directory(top + "/elsewhere");
         chmod((top + "/elsewhere").c_str(), 01777);
         fs::create_directory_symlink("elsewhere", top + "/.Trash");
       },
       ".Trash-" + uid},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TOtherFilesystem other;
    SKIP_UNLESS_OWN(other);
    const std::string top = other.Path();
    c.Prepare(top);
    fs::create_directory(top + "/sub");
    const std::string file = top + "/sub/a b.txt";
    WriteBytes(file, "on another filesystem");
    std::string error, trashed;
    ASSERT_TRUE(MoveToTrash(file, error, &trashed)) << error;
    EXPECT_EQ(trashed, top + "/" + c.Trash + "/files/a b.txt");
    EXPECT_FALSE(fs::exists(Home.Trash() + "/files/a b.txt"));
    const TInfoFile info = ReadInfo(InfoFor(trashed));
    EXPECT_EQ(info.Path(), "sub/a%20b.txt");  // relative to the filesystem's top
    fs::rename(trashed, top + "/" + DecodePercent(info.Path()));
    EXPECT_EQ(ReadBytes(file), "on another filesystem");
  }
}

// A trash that cannot take the file says why, and the file stays where it was.
TEST_F(TrashTest, RefusedTrashLeavesTheFile) {
  const std::string uid = std::to_string(getuid());
  {
    std::string error;
    EXPECT_FALSE(MoveToTrash(Tree.File("missing"), error));
    EXPECT_EQ(error, "No such file or directory");
  }
  {
    SCOPED_TRACE("read-only filesystem");
    TOtherFilesystem other;
    SKIP_UNLESS_OWN(other);
    const std::string file = other.Path() + "/kept";
    WriteBytes(file, "kept");
    ASSERT_TRUE(other.MakeReadOnly());
    std::string error;
    EXPECT_FALSE(MoveToTrash(file, error));
    EXPECT_EQ(error, "its filesystem (" + other.Path() + ") has no usable trash folder: \"" + other.Path() +
                         "/.Trash-" + uid + "\": Read-only file system");
    EXPECT_EQ(ReadBytes(file), "kept");
  }
  {
    SCOPED_TRACE("trash folder is a file");
    TOtherFilesystem other;
    SKIP_UNLESS_OWN(other);
    WriteBytes(other.Path() + "/.Trash-" + uid, "not a folder");
    WriteBytes(other.Path() + "/kept", "kept");
    std::string error;
    EXPECT_FALSE(MoveToTrash(other.Path() + "/kept", error));
    EXPECT_EQ(error, "its filesystem (" + other.Path() + ") has no usable trash folder: \"" + other.Path() +
                         "/.Trash-" + uid + "\": Not a directory");
    EXPECT_EQ(ReadBytes(other.Path() + "/kept"), "kept");
  }
  {
    SCOPED_TRACE("full filesystem: the info file cannot be written");
    TOtherFilesystem other("64k");
    SKIP_UNLESS_OWN(other);
    const std::string file = other.Path() + "/kept";
    WriteBytes(file, "kept");
    fs::create_directories(other.Path() + "/.Trash-" + uid + "/files");
    fs::create_directories(other.Path() + "/.Trash-" + uid + "/info");
    other.Fill();
    std::string error;
    EXPECT_FALSE(MoveToTrash(file, error));
    EXPECT_EQ(error, "cannot write \"" + other.Path() + "/.Trash-" + uid + "/info/kept.trashinfo\": No space left on device");
    EXPECT_EQ(ReadBytes(file), "kept");
    EXPECT_TRUE(fs::is_empty(other.Path() + "/.Trash-" + uid + "/info"));
    EXPECT_TRUE(fs::is_empty(other.Path() + "/.Trash-" + uid + "/files"));
  }
}

TEST_F(TrashTest, HomeTrashThatCannotBeMadeIsRefused) {
  TEnvironment env;
  WriteBytes(Tree.File("plain-file"), "");
  env.Set("XDG_DATA_HOME", Tree.File("plain-file") + "/data");
  const std::string file = RealPath(Tree.Path()) + "/kept";
  WriteBytes(file, "kept");
  std::string error;
  EXPECT_FALSE(MoveToTrash(file, error));
  EXPECT_EQ(error, "cannot create the trash folder \"" + Tree.File("plain-file") + "/data/Trash\": Not a directory");
  EXPECT_EQ(ReadBytes(file), "kept");
}

TEST(FileUriTest, EncodesEveryByteOutsideTheUnreservedSet) {
  EXPECT_EQ(FileUri("/tmp/a b/c%d"), "file:///tmp/a%20b/c%25d");
  EXPECT_EQ(FileUri("/caf\xC3\xA9/\xFF"), "file:///caf%C3%A9/%FF");
  EXPECT_EQ(FileUri("/A-Z_a.z~0/9"), "file:///A-Z_a.z~0/9");
  EXPECT_EQ(FileUri("/#?&=+;:@!*'()[]"), "file:///%23%3F%26%3D%2B%3B%3A%40%21%2A%27%28%29%5B%5D");
}

class OpenerTest : public testing::Test {
protected:
  TDesktopHome Home;
  TTempDir Tree;
};

TEST_F(OpenerTest, OpensDetachedWithThePathAsOneArgument) {
  const std::string file = Tree.File("a file; with $(shell) 'quotes'");
  WriteBytes(file, "x");
  std::string error;
  ASSERT_TRUE(OpenWithDefaultApplication(file, error)) << error;
  const auto calls = Home.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_EQ(calls[0].size(), 3u);
  EXPECT_EQ(calls[0][0], file);
  EXPECT_NE(calls[0][1], "ppid=" + std::to_string(getpid())) << "not detached: this process would have to reap it";
}

TEST_F(OpenerTest, FileManagerWithoutBusOpensTheFolder) {
  const std::string file = Tree.File("shown.txt");
  WriteBytes(file, "x");
  std::string error;
  ASSERT_TRUE(ShowInFileManager(file, error)) << error;
  const auto calls = Home.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0][0], Tree.Path());
}

TEST_F(OpenerTest, MissingOpenerIsAFailure) {
  Home.HideOpener();
  std::string error;
  EXPECT_FALSE(OpenWithDefaultApplication(Tree.Path(), error));
  EXPECT_EQ(error, "\"xdg-open\" is not found on the PATH");
  EXPECT_FALSE(ShowInFileManager(Tree.Path() + "/x", error));
  EXPECT_EQ(error, "\"xdg-open\" is not found on the PATH");
}

// A search at high priority must not hand it on to the programs it starts.
TEST_F(OpenerTest, StartedProgramRunsAtNormalPriority) {
  if (!HasNiceCapability()) GTEST_SKIP() << "raising the priority needs root";
  ASSERT_TRUE(SetProcessPriority(2));
  std::string error;
  const bool started = OpenWithDefaultApplication(Tree.Path(), error);
  ASSERT_TRUE(SetProcessPriority(1));
  ASSERT_TRUE(started) << error;
  const auto calls = Home.WaitForCalls(1);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].back(), "nice=0");
}

namespace {

struct TThreadPriority {
  int Policy;
  int Nice;
  bool operator==(const TThreadPriority&) const = default;
};

void PrintTo(const TThreadPriority& p, std::ostream* out) { *out << "{policy " << p.Policy << ", nice " << p.Nice << "}"; }

TThreadPriority PriorityOf(pid_t thread) {
  return {sched_getscheduler(thread) & ~SCHED_RESET_ON_FORK, getpriority(PRIO_PROCESS, static_cast<id_t>(thread))};
}

// A second thread, started before the priority changes, that must follow them.
class TOtherThread {
public:
  TOtherThread() : Worker([this] {
      Id = gettid();
      while (!Done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }) {
    while (Id == 0) std::this_thread::yield();
  }
  ~TOtherThread() {
    Done = true;
    Worker.join();
  }
  pid_t Tid() const { return Id; }

private:
  std::atomic<bool> Done{false};
  std::atomic<pid_t> Id{0};
  std::thread Worker;
};

}  // namespace

TEST(PriorityTest, EveryLevelReachesEveryThreadAndNormalRestoresTheStart) {
  if (!HasNiceCapability()) GTEST_SKIP() << "raising the priority needs root";
  TOtherThread other;
  const TThreadPriority start = PriorityOf(gettid());
  const struct {
    int Level;
    TThreadPriority Expected;
  } cases[] = {
      {0, {SCHED_IDLE, start.Nice}},
      {1, start},
      {2, {SCHED_OTHER, -10}},
      {3, {SCHED_RR, -10}},
      {1, start},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Level);
    ASSERT_TRUE(SetProcessPriority(c.Level));
    EXPECT_EQ(PriorityOf(gettid()), c.Expected);
    EXPECT_EQ(PriorityOf(other.Tid()), c.Expected);
  }
  for (const int level : {-1, 4, 255}) {
    EXPECT_FALSE(SetProcessPriority(level));
    EXPECT_EQ(PriorityOf(gettid()), start);
  }
}

TEST(PriorityTest, RefusedRaiseChangesNothing) {
  if (RunsWithNiceCapability()) return;
  const TThreadPriority start = PriorityOf(gettid());
  EXPECT_FALSE(SetProcessPriority(3));
  EXPECT_EQ(PriorityOf(gettid()), start);
  EXPECT_FALSE(SetProcessPriority(2));
  EXPECT_EQ(PriorityOf(gettid()), start);
  EXPECT_TRUE(SetProcessPriority(1));  // already there
  EXPECT_TRUE(SetProcessPriority(0));  // lowering is always allowed
  EXPECT_EQ(PriorityOf(gettid()).Policy, SCHED_IDLE);
}

TEST(NoFollow, OnlyFullPathsAndNoLinksOnTheWay) {
  const struct {
    std::string Path;
    bool Full;
  } paths[] = {
      {"/a/b.txt", true},       {"/a//b.txt", true},  {"/b", true},         {"a/b.txt", false},
      {"", false},              {"/", false},         {"/a/", false},       {"/a/./b", false},
      {"/a/../b", false},       {"/a/..", false},     {std::string("/a/b\0c", 6), false},
  };
  for (const auto& c : paths) EXPECT_EQ(IsFullFilePath(c.Path), c.Full) << c.Path;

  TTempDir dir;
  const std::string root = RealPath(dir.Path());
  fs::create_directories(root + "/real/inner");
  WriteBytes(root + "/real/inner/f", "x");
  fs::create_directory_symlink(root + "/real", root + "/link");
  TFd folder;
  std::string name, error;
  ASSERT_TRUE(OpenParentNoFollow(root + "/real/inner/f", folder, name, error)) << error;
  EXPECT_EQ(name, "f");
  struct stat info {};
  EXPECT_EQ(::fstatat(folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW), 0);
  EXPECT_FALSE(OpenParentNoFollow(root + "/link/inner/f", folder, name, error));
  EXPECT_EQ(error, "the folder \"link\" of its path is a symbolic link");
  EXPECT_FALSE(OpenFolderNoFollow(root + "/real/inner/f", folder, error)) << "a file is no folder";
  EXPECT_FALSE(OpenFolderNoFollow(root + "/missing", folder, error));
  EXPECT_EQ(error, "the folder \"missing\" of its path: No such file or directory");

  // The cache keeps the folders it gave out lately open, and they stay the folders walked.
  TFolderCache cache;
  int first = -1, fd = -1;
  ASSERT_TRUE(cache.OpenParent(root + "/real/inner/f", first, name, error));
  for (int i = 0; i < 20; ++i) {
    fs::create_directories(root + "/many/" + std::to_string(i));
    ASSERT_TRUE(cache.OpenFolder(root + "/many/" + std::to_string(i), fd, error)) << error;
    struct stat opened {}, there {};
    ASSERT_EQ(::fstat(fd, &opened), 0);
    ASSERT_EQ(::stat((root + "/many/" + std::to_string(i)).c_str(), &there), 0);
    EXPECT_EQ(opened.st_ino, there.st_ino);
  }
  fs::rename(root + "/real", root + "/moved");
  fs::create_directory_symlink(root + "/moved", root + "/real");
  EXPECT_FALSE(cache.OpenParent(root + "/real/inner/f", fd, name, error)) << "walked again, and refused";
}

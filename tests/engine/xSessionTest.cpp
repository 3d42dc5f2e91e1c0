// Session files: the layout byte by byte, saving and loading back, every message, and files
// that are cut short, damaged or name files that are gone.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <sstream>
#include <streambuf>

#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

// The largest single allocation while a damaged session is read: a length or a count taken
// at its word would show here long before it exhausted the machine.
namespace {
std::atomic<bool> Watching{false};
std::atomic<std::size_t> Largest{0};
void Note(std::size_t size) {
  if (!Watching) return;
  std::size_t seen = Largest;
  while (size > seen && !Largest.compare_exchange_weak(seen, size)) {
  }
}
void* Allocate(std::size_t size) {
  Note(size);
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
}  // namespace

// Every form of new goes through malloc, so that every form of delete may free it.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  Note(size);
  return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  Note(size);
  return std::malloc(size ? size : 1);
}
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace {

std::string Le32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  return bytes;
}

std::string Le64(std::uint64_t value) { return Le32(static_cast<std::uint32_t>(value)) + Le32(value >> 32); }

const std::string Magic("\x66\x60\x00\x01", 4);

struct TEntry {
  std::string Path;
  std::int64_t Size = 0;
  std::uint32_t Time = 0;
  bool Picture = false;
  std::int32_t Width = 0, Height = 0;
};

std::string EntryBytes(const TEntry& entry) {
  std::string bytes = Le32(entry.Time) + Le64(static_cast<std::uint64_t>(entry.Size)) +
                      Le32(static_cast<std::uint32_t>(entry.Path.size())) + entry.Path;
  bytes += entry.Picture ? '\x01' : '\x00';
  if (entry.Picture)
    bytes += Le32(static_cast<std::uint32_t>(entry.Width)) + Le32(static_cast<std::uint32_t>(entry.Height));
  return bytes;
}

// A session as the layout lays it out, with the offsets where each group is made and each
// member is complete.
struct TLayout {
  std::string Bytes;
  std::vector<std::size_t> GroupMade;
  std::vector<std::vector<std::size_t>> MemberEnds;
};

TLayout Layout(const std::vector<std::vector<TEntry>>& groups) {
  TLayout layout;
  layout.Bytes = Magic + Le32(static_cast<std::uint32_t>(groups.size()));
  for (const auto& group : groups) {
    layout.Bytes += Le32(static_cast<std::uint32_t>(group.size()));
    layout.GroupMade.push_back(layout.Bytes.size());
    layout.MemberEnds.emplace_back();
    if (group.size() < 2) continue;
    for (const TEntry& entry : group) {
      layout.Bytes += EntryBytes(entry);
      layout.MemberEnds.back().push_back(layout.Bytes.size());
    }
  }
  return layout;
}

// A stream that takes the first `limit` bytes and refuses the rest.
class TLimitedBuffer : public std::streambuf {
public:
  explicit TLimitedBuffer(std::size_t limit) : Limit(limit) {}
  std::string Data;

protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (Data.size() >= Limit) return traits_type::eof();
    Data += traits_type::to_char_type(c);
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    const auto taken = std::min<std::streamsize>(count, static_cast<std::streamsize>(Limit - Data.size()));
    Data.append(text, static_cast<std::size_t>(taken));
    return taken;
  }

private:
  std::size_t Limit;
};

using TNames = std::vector<std::vector<std::string>>;

}  // namespace

class SessionTest : public testing::Test {
protected:
  SessionTest() : Storage(Home.Path(), TInfo()), Engine(Storage, false) {
    Root = Tree.Path() + "/";
    Engine.OnStatus = [this](const std::string& text) { Statuses.push_back(text); };
    Engine.OnProgress = [this](int percent) { Progress.push_back(percent); };
  }

  std::string Make(const std::string& name, const std::string& content) {
    WriteBytes(Root + name, content);
    return Root + name;
  }

  static TNames Names(const TEngine& engine, const std::string& root) {
    TNames groups;
    for (int g = 0; g < engine.GroupCount(); ++g) {
      groups.emplace_back();
      for (int i = 0; i < engine.Groups(g)->Count(); ++i)
        groups.back().push_back(engine.Groups(g)->Items(i)->FileName.substr(root.size()));
    }
    return groups;
  }
  TNames Names() const { return Names(Engine, Root); }

  int MemberTotal() const {
    int total = 0;
    for (int g = 0; g < Engine.GroupCount(); ++g) total += Engine.Groups(g)->Count();
    return total;
  }

  // Writes the bytes as a session file and loads it.
  bool Load(const std::string& bytes) {
    WriteBytes(SessionFile, bytes);
    return Engine.LoadSession(SessionFile);
  }

  void ClearReports() {
    Statuses.clear();
    Progress.clear();
  }

  TTempDir Home, Tree, Place;
  std::string Root;
  std::string SessionFile = Place.File("results.tsn");
  TStorage Storage;
  TEngine Engine;
  TLogCapture Log;
  std::vector<std::string> Statuses;
  std::vector<int> Progress;
};

TEST_F(SessionTest, SavedSearchHasTheLayoutAndLoadsBack) {
  Make("a1", "AA");
  Make("a2", "AA");
  Make("b1", "BBB");
  Make("b2", "BBB");
  Make("c", "C");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  const TNames found{{"a2", "a1"}, {"b2", "b1"}};
  ASSERT_EQ(Names(), found);

  ClearReports();
  ASSERT_TRUE(Engine.SaveSession(SessionFile)) << Engine.LastError;
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(Statuses, (std::vector<std::string>{"Saving groups ...", "Session saved"}));
  EXPECT_EQ(Progress, (std::vector<int>{0, 0, 100}));

  std::string groups[2];
  std::size_t paths = 0;
  for (int g = 0; g < 2; ++g) {
    groups[g] = Le32(2);
    for (int i = 0; i < 2; ++i) {
      const TFileData& member = *Engine.Groups(g)->Items(i);
      groups[g] += EntryBytes({member.FileName, member.Size, member.Time});
      paths += member.FileName.size();
    }
  }
  const std::string saved = ReadBytes(SessionFile);
  EXPECT_EQ(saved.size(), 4 + 4 + 2 * 4 + 4 * 17 + paths);
  EXPECT_EQ(saved, Magic + Le32(2) + groups[0] + groups[1]);
  EXPECT_EQ(fs::directory_iterator(Place.Path())->path(), SessionFile) << "nothing else left beside it";

  // Loaded by an engine of its own, after a restart as it were.
  TTempDir otherHome;
  TStorage otherStorage(otherHome.Path(), TInfo());
  TEngine other(otherStorage, false);
  ASSERT_TRUE(other.LoadSession(SessionFile)) << other.LastError;
  EXPECT_EQ(Names(other, Root), found);
  for (int g = 0; g < 2; ++g)
    for (int i = 0; i < 2; ++i) {
      const TFileData& was = *Engine.Groups(g)->Items(i);
      const TFileData& is = *other.Groups(g)->Items(i);
      EXPECT_EQ(is.Size, was.Size);
      EXPECT_EQ(is.Time, was.Time);
      EXPECT_EQ(is.Group, other.Groups(g));
    }
  EXPECT_EQ(other.FileCount(), 4) << "only the members get records";
  EXPECT_TRUE(other.NeedRescan);

  // A group that shrank to one member keeps its count alone and is not restored.
  TFileData* gone = Engine.Groups(0)->Items(0);
  Engine.RemoveFile(gone);
  ASSERT_TRUE(Engine.SaveSession(SessionFile));
  EXPECT_EQ(ReadBytes(SessionFile), Magic + Le32(2) + Le32(1) + groups[1]);
  ASSERT_TRUE(other.LoadSession(SessionFile));
  EXPECT_EQ(Names(other, Root), (TNames{{"b2", "b1"}}));
}

TEST_F(SessionTest, LoadedRecordsTakeTheSessionsFiguresAndSaveToTheSameBytes) {
  const std::string p1 = Make("p1.png", ""), p2 = Make("p2.png", "");
  WritePng(p1, NoiseImage(4, 3, 1));
  WritePng(p2, NoiseImage(4, 3, 2));
  const std::string tag = "TAG" + std::string("Song\0", 5) + std::string(120, '\0');
  const std::string m1 = Make("m1.mp3", "audio" + tag), m2 = Make("m2.mp3", "other audio" + tag);
  const std::string f1 = Make("f1", "x"), f2 = Make("f2", "y"), p3 = Make("p3.png", "");
  WritePng(p3, NoiseImage(3, 3, 3));
  const TLayout layout = Layout({
      {{p1, 111, 0x50A1B2C3, true, 640, 480}, {p2, 222, 0x50A1B2C4, true, 1024, 768}},
      {{m1, 5, 1}, {m2, 6, 2}},
      {{f1, 7, 3}, {f2, 8, 4}, {p3, 9, 5}},  // a picture saved as a plain file
  });
  ASSERT_TRUE(Load(layout.Bytes)) << Engine.LastError;
  EXPECT_EQ(Engine.LastError, "");
  EXPECT_EQ(Statuses, (std::vector<std::string>{"Loading groups ...", "Session loaded"}));
  EXPECT_EQ(Progress, (std::vector<int>{0, 0, 50, 100}));
  ASSERT_EQ(Names(), (TNames{{"p1.png", "p2.png"}, {"m1.mp3", "m2.mp3"}, {"f1", "f2", "p3.png"}}));

  const auto* picture = dynamic_cast<const TPicData*>(Engine.Groups(0)->Items(1));
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(picture->Width, 1024);
  EXPECT_EQ(picture->Height, 768);
  EXPECT_EQ(picture->Size, 222) << "the figures are the session's, not the file's";
  EXPECT_EQ(picture->Time, 0x50A1B2C4U);
  EXPECT_FALSE(picture->HasSignature()) << "signatures wait for the next search";
  EXPECT_EQ(Engine.Groups(0)->MaxQuality, 1024 * 768);
  const auto* song = dynamic_cast<const TMP3Data*>(Engine.Groups(1)->Items(0));
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(song->Tag.Title, "Song") << "the tag is read from the file again";
  EXPECT_EQ(Engine.Groups(2)->Items(2)->Kind(), Engine.Options.PicsComp ? TRecordKind::Picture : TRecordKind::Plain);
  EXPECT_EQ(Engine.FileCount(), 7);
  EXPECT_TRUE(Engine.NeedRescan);

  // What was loaded saves to the same bytes (the plain-saved picture aside, when pictures are on).
  Engine.Options.PicsComp = false;
  ASSERT_TRUE(Load(layout.Bytes));
  std::ostringstream again;
  ASSERT_TRUE(Engine.SaveGroups(again));
  EXPECT_EQ(Magic + again.str(), layout.Bytes);
}

TEST_F(SessionTest, SavingFailures) {
  const std::string a = Make("a", "same"), b = Make("b", "same");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());

  EXPECT_FALSE(Engine.SaveSession("/dev/full"));
  EXPECT_EQ(Engine.LastError, "File writing error");
  EXPECT_FALSE(Engine.SaveSession(Place.File("no/such/folder.tsn")));
  EXPECT_EQ(Engine.LastError, "Failed to create \"" + Place.File("no/such/folder.tsn") + "\": No such file or directory");

  // A stream that takes fewer bytes than asked, at every point of the groups.
  std::ostringstream whole;
  ASSERT_TRUE(Engine.SaveGroups(whole));
  for (std::size_t limit = 0; limit < whole.str().size(); ++limit) {
    TLimitedBuffer buffer(limit);
    std::ostream stream(&buffer);
    ClearReports();
    EXPECT_FALSE(Engine.SaveGroups(stream)) << limit;
    EXPECT_EQ(Engine.LastError, "Stream writing error") << limit;
    EXPECT_EQ(buffer.Data, whole.str().substr(0, limit));
    EXPECT_EQ(Statuses, (std::vector<std::string>{"Saving groups ..."})) << limit;
  }

  // A file that stops growing: the session saved before stays whole, and nothing is left over.
  ASSERT_TRUE(Engine.SaveSession(SessionFile));
  const std::string good = ReadBytes(SessionFile);
  WriteBytes(a, "other");  // the next search finds no group: a different session
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = signal(SIGXFSZ, SIG_IGN);
  for (const auto& [limit, message] : {std::pair<rlim_t, std::string>{2, "File writing error"}, {6, "Stream writing error"}}) {
    rlimit small = saved;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool result = Engine.SaveSession(SessionFile);
    const bool fresh = Engine.SaveSession(Place.File("new.tsn"));
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_FALSE(result) << limit;
    EXPECT_FALSE(fresh) << limit;
    EXPECT_EQ(Engine.LastError, message) << limit;
    EXPECT_EQ(ReadBytes(SessionFile), good) << limit;
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(Place.Path())) left.push_back(entry.path().filename());
    EXPECT_EQ(left, (std::vector<std::string>{"results.tsn"})) << limit;
  }
  signal(SIGXFSZ, previous);

  // The saved file keeps the access the one it replaced gave.
  fs::permissions(SessionFile, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(Engine.SaveSession(SessionFile));
  EXPECT_EQ(fs::status(SessionFile).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(ReadBytes(SessionFile), Magic + Le32(0));
  // A link is written through, not replaced.
  fs::create_symlink(SessionFile, Place.File("link.tsn"));
  WriteBytes(a, "same");
  Engine.NeedRescan = true;
  ASSERT_TRUE(Engine.Execute());
  ASSERT_TRUE(Engine.SaveSession(Place.File("link.tsn")));
  EXPECT_TRUE(fs::is_symlink(Place.File("link.tsn")));
  EXPECT_EQ(ReadBytes(SessionFile).size(), 4 + 4 + 4 + 2 * (17 + a.size()));
}

TEST_F(SessionTest, LoadingFailuresAtTheStartLeaveTheResults) {
  Make("a", "same");
  Make("b", "same");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Engine.Execute());
  const TNames before = Names();
  ASSERT_EQ(before, (TNames{{"b", "a"}}));

  struct TCase {
    const char* Name;
    std::string File;
    std::string Content;  // written unless File names something else
    std::string Message;
  };
  const std::string missing = Place.File("missing.tsn");
  const TCase cases[] = {
      {"missing", missing, "", "Failed to open \"" + missing + "\": No such file or directory"},
      {"a folder", Place.Path(), "", "Failed to open \"" + Place.Path() + "\": Is a directory"},
      {"zero length", SessionFile, "", "Failed to read from file"},
      {"three bytes", SessionFile, Magic.substr(0, 3), "Failed to read from file"},
      {"text", SessionFile, "Just some text\n", "Wrong file format"},
      {"magic in the other byte order", SessionFile, std::string("\x01\x00\x60\x66", 4) + Le32(0), "Wrong file format"},
  };
  for (const TCase& c : cases) {
    if (c.File == SessionFile) WriteBytes(SessionFile, c.Content);
    EXPECT_FALSE(Engine.LoadSession(c.File)) << c.Name;
    EXPECT_EQ(Engine.LastError, c.Message) << c.Name;
    EXPECT_EQ(Names(), before) << c.Name;
    EXPECT_EQ(Engine.FileCount(), 2) << c.Name;
    EXPECT_FALSE(Engine.NeedRescan) << c.Name;
  }
}

TEST_F(SessionTest, FileCutAtEveryOffset) {
  const std::string a = Make("a", "1"), b = Make("b", "2"), c = Make("c.png", ""), d = Make("d", "4");
  const std::string e = Make("e", "5");
  WritePng(c, NoiseImage(2, 2, 3));
  const TLayout layout = Layout({{{a, 1, 1}, {b, 2, 2}}, {{d, 9, 9}}, {}, {{c, 3, 3, true, 20, 10}, {d, 4, 4}, {e, 5, 5}}});
  for (std::size_t cut = 0; cut < layout.Bytes.size(); ++cut) {
    EXPECT_FALSE(Load(layout.Bytes.substr(0, cut))) << cut;
    if (cut < 4) {
      EXPECT_EQ(Engine.LastError, "Failed to read from file") << cut;
      continue;
    }
    EXPECT_EQ(Engine.LastError, "Stream reading error") << cut;
    EXPECT_TRUE(Engine.NeedRescan) << cut;
    // The groups made before the cut, with the members read in full.
    const std::vector<std::vector<std::string>> all = {{"a", "b"}, {}, {}, {"c.png", "d", "e"}};
    TNames expected;
    for (std::size_t g = 0; g < all.size(); ++g) {
      if (layout.GroupMade[g] > cut || layout.MemberEnds[g].empty()) continue;
      expected.emplace_back();
      for (std::size_t i = 0; i < all[g].size(); ++i)
        if (layout.MemberEnds[g][i] <= cut) expected.back().push_back(all[g][i]);
    }
    EXPECT_EQ(Names(), expected) << cut;
    EXPECT_EQ(Engine.FileCount(), MemberTotal()) << cut;
  }
  ASSERT_TRUE(Load(layout.Bytes));
  EXPECT_EQ(Names(), (TNames{{"a", "b"}, {"c.png", "d", "e"}}));
}

TEST_F(SessionTest, DamagedCountsAndLengths) {
  const std::string a = Make("a", "1"), b = Make("b", "2"), c = Make("c", "3");
  const std::string member = EntryBytes({a, 1, 1}), other = EntryBytes({b, 2, 2});
  const std::string pair = Le32(2) + member + other;
  auto padded = [](std::string bytes) {
    bytes.resize(std::max<std::size_t>(bytes.size(), 100), '\0');
    return bytes;
  };
  const std::string forged = "Damaged session file: it names a file without its full path";
  struct TCase {
    const char* Name;
    std::string Bytes;
    bool Result;
    TNames Groups;
    std::string Error = "Stream reading error";
  };
  const TCase cases[] = {
      {"no groups", Magic + Le32(0), true, {}},
      {"negative group count", Magic + Le32(static_cast<std::uint32_t>(-1)) + pair, false, {}},
      {"most negative group count", Magic + Le32(0x80000000U) + pair, false, {}},
      {"huge group count", Magic + Le32(INT32_MAX) + pair, false, {{"a", "b"}}},
      {"negative member count", Magic + Le32(2) + Le32(static_cast<std::uint32_t>(-2)) + pair, false, {}},
      {"huge member count", Magic + Le32(1) + Le32(INT32_MAX) + member + other, false, {{"a", "b"}}},
      {"path length of 2,000,000,000 in 100 bytes",
       padded(Magic + Le32(1) + Le32(2) + Le32(1) + Le64(1) + Le32(2000000000) + a), false, {{}}},
      {"path length beyond the file", Magic + Le32(1) + Le32(2) + Le32(1) + Le64(1) + Le32(a.size() + 1) + a, false,
       {{}}},
      {"bytes after the last group", Magic + Le32(1) + pair + "trailing", true, {{"a", "b"}}},
      // Paths a search never writes: nothing of such a file is loaded, not even the groups before.
      {"negative path length reads as no path",
       Magic + Le32(2) + pair + Le32(2) + Le32(1) + Le64(1) + Le32(static_cast<std::uint32_t>(-7)) + '\0' +
           EntryBytes({c, 3, 3}),
       false, {}, forged},
      {"zero path length", Magic + Le32(1) + Le32(2) + Le32(1) + Le64(1) + Le32(0) + '\0' + other, false, {}, forged},
      {"relative path", Magic + Le32(2) + pair + Le32(2) + EntryBytes({"a", 1, 1}) + EntryBytes({c, 3, 3}), false, {}, forged},
      {"NUL byte in the path", Magic + Le32(1) + Le32(2) + EntryBytes({a + std::string(1, '\0') + "x", 1, 1}) + other,
       false, {}, forged},
      {"a \"..\" step", Magic + Le32(1) + Le32(2) + EntryBytes({Root + "sub/../a", 1, 1}) + other, false, {}, forged},
      {"a folder for a name", Magic + Le32(1) + Le32(2) + EntryBytes({Root, 1, 1}) + other, false, {}, forged},
  };
  for (const TCase& test : cases) {
    Largest = 0;
    Watching = true;
    const bool result = Load(test.Bytes);
    Watching = false;
    EXPECT_EQ(result, test.Result) << test.Name;
    EXPECT_EQ(Engine.LastError, test.Result ? "" : test.Error) << test.Name;
    EXPECT_EQ(Names(), test.Groups) << test.Name;
    EXPECT_LT(Largest.load(), std::size_t{1} << 20) << test.Name;
    EXPECT_TRUE(Engine.NeedRescan) << test.Name;
  }
}

TEST_F(SessionTest, MembersThatAreGoneAreSkipped) {
  const std::string a = Make("a", "1"), b = Make("b", "2"), c = Make("c", "3"), d = Make("d", "4");
  const std::string shot = Make("shot.png", ""), note = Make("note.txt", "n");
  WritePng(shot, NoiseImage(2, 2, 4));
  fs::create_hard_link(a, Root + "a-link");
  const TLayout layout = Layout({
      {{a, 1, 1}, {Root + "gone.png", 2, 2, true, 800, 600}, {b, 3, 3}, {Root + "gone", 4, 4}},
      {{Root + "gone.png", 5, 5, true, 1, 1}, {Root + "also gone", 6, 6}},
      {{c, 7, 7}, {note, 8, 8, true, 3, 3}, {shot, 9, 9, true, 30, 40}},  // a picture that is no more one
      {{d, 1, 1}, {Root + "/d", 1, 1}, {d, 1, 1}},                         // one file named thrice
      {{Root + "a-link", 2, 2}, {c, 3, 3}},                                // a file already loaded
  });
  ASSERT_TRUE(Load(layout.Bytes)) << Engine.LastError;
  EXPECT_EQ(Names(), (TNames{{"a", "b"}, {}, {"c", "shot.png"}, {"d"}, {}}));
  EXPECT_EQ(static_cast<const TPicData*>(Engine.Groups(2)->Items(1))->Width, 30);
  EXPECT_EQ(Engine.FileCount(), MemberTotal()) << "no record outside the groups";

  // A file the current filters leave out is skipped like a vanished one.
  Engine.Options.UseFile = true;
  Engine.Options.FileMask = "[ab]";
  ASSERT_TRUE(Load(layout.Bytes));
  EXPECT_EQ(Names(), (TNames{{"a", "b"}, {}, {}, {}, {}}));
  // A mask that cannot be used fails the load as it fails a search, and leaves the results.
  Engine.Options.FileMask = "[ab";
  EXPECT_FALSE(Load(Magic + Le32(0)));
  EXPECT_EQ(Engine.LastError, "'[ab' is an invalid mask at (1)");
  EXPECT_EQ(Engine.GroupCount(), 5);
}

TEST_F(SessionTest, NextSearchScansAfreshAfterLoading) {
  const std::string a = Make("a", "same"), b = Make("b", "same");
  Make("c", "same");
  Engine.AddFolder(Tree.Path());
  ASSERT_TRUE(Load(Layout({{{a, 4, 1}, {b, 4, 1}}}).Bytes));
  EXPECT_TRUE(Engine.NeedRescan);
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(Engine.FileCount(), 3);
  EXPECT_EQ(Names(), (TNames{{"b", "a", "c"}}));

  ASSERT_FALSE(Engine.NeedRescan);
  EXPECT_FALSE(Load(Magic + Le32(1)));
  EXPECT_TRUE(Engine.NeedRescan) << "also after a load that failed half-way";
  EXPECT_EQ(Engine.FileCount(), 0);
}

TEST_F(SessionTest, NotWhileASearchRuns) {
  Make("a", "same");
  Make("b", "same");
  ASSERT_TRUE(Load(Magic + Le32(0)));
  Engine.AddFolder(Tree.Path());
  std::vector<std::string> refusals;
  Engine.OnStatus = [&](const std::string&) {
    if (!refusals.empty()) return;
    refusals.push_back(Engine.LoadSession(SessionFile) ? "loaded" : Engine.LastError);
    refusals.push_back(Engine.SaveSession(SessionFile) ? "saved" : Engine.LastError);
    Engine.LastError.clear();
  };
  ASSERT_TRUE(Engine.Execute());
  EXPECT_EQ(refusals, (std::vector<std::string>{"A search is running", "A search is running"}));
  EXPECT_EQ(Names(), (TNames{{"b", "a"}}));
  EXPECT_EQ(ReadBytes(SessionFile), Magic + Le32(0));
}

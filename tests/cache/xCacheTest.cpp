#include "xCache.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "xAssert.h"
#include "xDropOverride.h"
#include "../storage/xPrivateHome.h"
#include "xTestFiles.h"

namespace {

namespace fs = std::filesystem;

TPicVariants Set(std::initializer_list<int> elements) {
  TPicVariants set;
  for (const int e : elements) set.Include(e);
  return set;
}

const TPicVariants AllTraces = Set({0, 1, 2, 3, 4, 5});

std::int32_t Int(const std::string& bytes, std::size_t offset) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(v);
}

std::string Bytes32(std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// Overwrites bytes of a file in place.
void Patch(const std::string& path, std::size_t offset, const std::string& bytes) {
  std::string content = ReadBytes(path);
  content.replace(offset, bytes.size(), bytes);
  WriteBytes(path, content);
}

// The file as it is now; a missing one gives the zero stamp.
TCacheStamp StampOf(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return {};
  return {info.st_size, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec, info.st_ino};
}

// What the check value of name record n must be for the stamp, computed apart from the cache.
std::uint32_t ExpectedCheck(const std::string& ncd, int n, const TCacheStamp& stamp) {
  std::string bytes = ncd.substr(static_cast<std::size_t>(n) * NameRecordSize, NameRecordSize);
  bytes.erase(264, 4);
  for (const std::uint64_t value : {static_cast<std::uint64_t>(stamp.Size), static_cast<std::uint64_t>(stamp.MTimeNs),
                                    stamp.Inode})
    for (int i = 0; i < 8; ++i) bytes += static_cast<char>(value >> (8 * i));
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

struct TNameFields {
  std::string Name;
  std::int32_t Width, Height;
  std::uint32_t Check;
  std::vector<std::int32_t> L;
  std::int32_t H;
};

TNameFields NameRecord(const std::string& ncd, int n) {
  const std::size_t at = static_cast<std::size_t>(n) * NameRecordSize;
  TNameFields f;
  f.Name = ncd.substr(at, CacheNameLength);
  f.Name.erase(std::min(f.Name.find('\0'), f.Name.size()));
  f.Width = Int(ncd, at + 256);
  f.Height = Int(ncd, at + 260);
  f.Check = static_cast<std::uint32_t>(Int(ncd, at + 264));
  for (int v = 0; v < 6; ++v) f.L.push_back(Int(ncd, at + 268 + 4 * static_cast<std::size_t>(v)));
  f.H = Int(ncd, at + 292);
  return f;
}

class CacheTest : public ::testing::Test {
protected:
  // A picture of its own for every number.
  std::string Picture(int k, const std::string& name = "") {
    fs::create_directories(Dir.File("pics"));
    const std::string path = Dir.File("pics/" + (name.empty() ? std::string("p").append(std::to_string(k)).append(".png") : name));
    if (!fs::exists(path)) WritePng(path, NoiseImage(24 + k % 5, 16 + k % 3, static_cast<unsigned>(k) + 1));
    return path;
  }
  static TPicSign Direct(const std::string& path, TPicVariants set) {
    TPixan analyser;
    TPicSign signature(set);
    EXPECT_TRUE(analyser.Analyse(path, signature, set)) << analyser.LastError();
    return signature;
  }
  // Fetches through the cache, with the file's stamp unless one is given, and checks the result
  // against a direct analysis.
  TPictureSize Fetch(TCache& cache, const std::string& path, TPicVariants set, const TPicSign* expected = nullptr,
                     const TCacheStamp* stamp = nullptr) {
    TPicSign signature(set);
    TPictureSize size;
    const bool ok = cache.GetSignature(path, stamp ? *stamp : StampOf(path), signature, Analyser, set, size);
    EXPECT_TRUE(ok) << path << ": " << cache.LastError();
    const TPicSign reference = expected ? *expected : Direct(path, set);
    EXPECT_TRUE(ok && signature == reference) << path;
    return size;
  }
  int Decoded() const { return Analyser.Stats().Decoded; }
  std::string File(const std::string& name) const { return Dir.File("Cache/" + name); }
  std::int64_t Size(const std::string& name) const {
    std::error_code error;
    const auto size = fs::file_size(File(name), error);
    return error ? -1 : static_cast<std::int64_t>(size);
  }
  std::string Snapshot() const {
    std::string all;
    for (const char* name : {"cache.ncd", "cache.lcd", "cache.hcd", "cache.nid"})
      all += std::string(name) + "=" + (fs::exists(File(name)) ? ReadBytes(File(name)) : "<none>") + "\n";
    return all;
  }
  std::vector<std::string> IndexNames() const {
    const std::string ncd = ReadBytes(File("cache.ncd"));
    const std::string nid = ReadBytes(File("cache.nid"));
    std::vector<std::string> names;
    for (std::size_t i = 0; i + 4 <= nid.size(); i += 4) names.push_back(NameRecord(ncd, Int(nid, i)).Name);
    return names;
  }

  TTempDir Dir;
  TPixan Analyser;
};

TEST_F(CacheTest, FirstUseCreatesHeaderRecords) {
  TCache cache(Dir.File("deeper/still"));
  EXPECT_EQ(cache.Folder(), Dir.File("deeper/still/Cache/"));
  EXPECT_TRUE(fs::is_directory(cache.Folder()));
  EXPECT_FALSE(cache.IsOpen());
  EXPECT_EQ(cache.Count(), 0);

  TCache here(Dir.Path() + "/");
  ASSERT_TRUE(here.Open(5000)) << here.LastError();
  EXPECT_TRUE(here.IsOpen());
  EXPECT_EQ(here.Count(), 0);
  const std::string magic("\x03\x04\x05\x06", 4);
  EXPECT_EQ(ReadBytes(File("cache.ncd")), magic + std::string(292, '\0'));
  EXPECT_EQ(ReadBytes(File("cache.lcd")), magic + std::string(1020, '\0'));
  EXPECT_EQ(ReadBytes(File("cache.hcd")), magic + std::string(28, '\0'));
  EXPECT_FALSE(fs::exists(File("cache.nid")));
  EXPECT_TRUE(here.Save());
  EXPECT_EQ(Size("cache.nid"), 0);
}

TEST_F(CacheTest, StoresOnceAndThenAnswersFromTheFiles) {
  const std::string p1 = Picture(1);
  const TPicVariants set = Set({0, 1, 3});
  const TPicSign reference = Direct(p1, set);
  {
    TCache cache(Dir.Path());
    ASSERT_TRUE(cache.Open(100));
    EXPECT_EQ(Fetch(cache, p1, set, &reference), (TPictureSize{25, 17}));
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_TRUE(cache.LastError().empty());

    const TNameFields record = NameRecord(ReadBytes(File("cache.ncd")), 1);
    EXPECT_EQ(record.Name, p1);
    EXPECT_EQ(record.Width, 25);
    EXPECT_EQ(record.Height, 17);
    EXPECT_EQ(record.Check, ExpectedCheck(ReadBytes(File("cache.ncd")), 1, StampOf(p1)));
    EXPECT_EQ(record.L, (std::vector<std::int32_t>{1, 2, -1, 3, -1, -1}));
    EXPECT_EQ(record.H, 1);
    const std::string lcd = ReadBytes(File("cache.lcd"));
    ASSERT_EQ(lcd.size(), 4U * LRecordSize);
    EXPECT_EQ(lcd.compare(3 * LRecordSize, LRecordSize,
                          reinterpret_cast<const char*>(reference.LTrace(3)->Data()), LRecordSize), 0);
    const std::string hcd = ReadBytes(File("cache.hcd"));
    EXPECT_EQ(hcd.substr(HRecordSize), std::string(reinterpret_cast<const char*>(reference.HTrace().Data()), 32));
    ASSERT_TRUE(cache.Close());
  }

  // A hit reads everything back, also without the picture, and writes nothing.
  const TPicSign fewer = Direct(p1, Set({0, 3}));
  const TCacheStamp stamp = StampOf(p1);
  fs::remove(p1);
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  const std::string before = Snapshot();
  EXPECT_EQ(Fetch(cache, p1, set, &reference, &stamp), (TPictureSize{25, 17}));
  Fetch(cache, p1, Set({0, 3}), &fewer, &stamp);  // fewer variants than stored: still a hit
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CacheTest, IncompleteHitRewritesInPlaceAndAppendsTheMissingTrace) {
  const std::string p1 = Picture(1);
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  Fetch(cache, p1, Set({0}));
  Fetch(cache, p1, Set({0, 3}));
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(Size("cache.ncd"), 2 * NameRecordSize);
  EXPECT_EQ(Size("cache.lcd"), 3 * LRecordSize);
  EXPECT_EQ(Size("cache.hcd"), 2 * HRecordSize);
  const TNameFields record = NameRecord(ReadBytes(File("cache.ncd")), 1);
  EXPECT_EQ(record.Check, ExpectedCheck(ReadBytes(File("cache.ncd")), 1, StampOf(p1)));
  EXPECT_EQ(record.L, (std::vector<std::int32_t>{1, -1, -1, 2, -1, -1}));
  EXPECT_EQ(record.H, 1);
}

// A picture replaced under its name is analysed again, however closely the new file resembles
// the old one in all but one of size, time and inode; the cache then answers with the new
// picture, also for a variant the record held but the miss did not ask for.
TEST_F(CacheTest, APictureReplacedUnderItsNameIsAnalysedAgain) {
  fs::create_directories(Dir.File("pics"));
  const std::string path = Dir.File("pics/photo.bmp");
  const auto bmp = [this](const TTestImage& image) {
    WriteMagick(Dir.File("made.bmp"), image, "BMP3");
    return ReadBytes(Dir.File("made.bmp"));
  };
  // Beside the old file, then renamed over it as editors save: another inode.
  const auto renameOver = [&](const TTestImage& image) {
    WriteBytes(path + ".new", bmp(image));
    fs::rename(path + ".new", path);
  };
  const auto setTime = [&](timespec time) {
    const timespec times[2] = {time, time};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  const auto changed = [](const TCacheStamp& a, const TCacheStamp& b) {
    return std::string(a.Size != b.Size ? "size " : "") + (a.MTimeNs != b.MTimeNs ? "time " : "") +
           (a.Inode != b.Inode ? "inode" : "");
  };
  const struct {
    const char* What;
    std::function<void(const timespec& old)> Replace;
    std::string Changed;  // what tells the new file from the old
    TPictureSize NewSize;
  } cases[] = {
      {"rewritten larger in place, time set back",
       [&](const timespec& old) {
         WriteBytes(path, bmp(NoiseImage(30, 20, 7)));
         setTime(old);
       },
       "size ", {30, 20}},
      {"renamed over, same size, time set back",
       [&](const timespec& old) {
         renameOver(NoiseImage(24, 16, 7));
         setTime(old);
       },
       "inode", {24, 16}},
      {"rewritten in place, same size, time set back to the second",
       [&](const timespec& old) {
         WriteBytes(path, bmp(NoiseImage(24, 16, 7)));
         setTime({old.tv_sec, (old.tv_nsec + 1) % 1'000'000'000});
       },
       "time ", {24, 16}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    fs::remove_all(Dir.File("Cache"));
    fs::remove(path);
    WriteBytes(path, bmp(NoiseImage(24, 16, 3)));
    TCache cache(Dir.Path());
    ASSERT_TRUE(cache.Open(100));
    EXPECT_EQ(Fetch(cache, path, Set({0, 2})), (TPictureSize{24, 16}));
    const int stored = Decoded();
    Fetch(cache, path, Set({0, 2}));
    EXPECT_EQ(Decoded(), stored) << "an unchanged picture is a hit";

    const TCacheStamp old = StampOf(path);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    c.Replace(info.st_mtim);
    ASSERT_EQ(changed(old, StampOf(path)), c.Changed);
    const std::int64_t names = Size("cache.ncd");
    EXPECT_EQ(Fetch(cache, path, Set({0})), c.NewSize);
    EXPECT_EQ(Decoded(), stored + 1);
    EXPECT_TRUE(cache.LastError().empty()) << cache.LastError();
    EXPECT_TRUE(cache.IsOpen());
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(Size("cache.ncd"), names) << "the record is rewritten in place";

    Fetch(cache, path, Set({0, 2}));
    EXPECT_EQ(Fetch(cache, path, Set({0})), c.NewSize);
    EXPECT_EQ(Decoded(), stored + 1) << "the new picture is a hit, variant 2 included";
  }
}

// A record that fails its check, written by an older cache or with a byte changed on disk, is
// no damage: the cache opens, the picture is analysed again into that record, and the other
// records answer as before.
TEST_F(CacheTest, ARecordFailingItsCheckIsAnalysedAgainIntoItsPlace) {
  const std::string p1 = Picture(1);
  const std::string p2 = Picture(2);
  const std::size_t at = NameRecordSize;  // p1's record
  const auto flip = [&](std::size_t offset, int bit) {
    std::string byte = ReadBytes(File("cache.ncd")).substr(offset, 1);
    byte[0] = static_cast<char>(byte[0] ^ (1 << bit));
    Patch(File("cache.ncd"), offset, byte);
  };
  const struct {
    const char* What;
    std::function<void()> Damage;
  } cases[] = {
      {"check value 0, as older caches stored a new record", [&] { Patch(File("cache.ncd"), at + 264, Bytes32(0)); }},
      {"check value 1, as they stored a rewritten one", [&] { Patch(File("cache.ncd"), at + 264, Bytes32(1)); }},
      {"a bit of the width flipped", [&] { flip(at + 256, 4); }},
      {"a bit of the height flipped", [&] { flip(at + 262, 0); }},
      {"a byte past the end of the name", [&] { flip(at + p1.size() + 1, 0); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    fs::remove_all(Dir.File("Cache"));
    {
      TCache cache(Dir.Path());
      ASSERT_TRUE(cache.Open(100));
      Fetch(cache, p1, Set({0, 1}));
      Fetch(cache, p2, Set({0}));
      ASSERT_TRUE(cache.Close());
    }
    c.Damage();
    const auto sizes = std::vector<std::int64_t>{Size("cache.ncd"), Size("cache.lcd"), Size("cache.hcd")};
    TCache cache(Dir.Path());
    ASSERT_TRUE(cache.Open(100)) << cache.LastError();
    EXPECT_EQ(cache.Count(), 2);
    const int before = Decoded();
    EXPECT_EQ(Fetch(cache, p1, Set({0})), (TPictureSize{25, 17}));
    EXPECT_EQ(Decoded(), before + 1);
    EXPECT_TRUE(cache.IsOpen());
    EXPECT_FALSE(cache.IsDamaged());
    EXPECT_TRUE(cache.LastError().empty()) << cache.LastError();
    EXPECT_EQ(cache.Count(), 2);
    EXPECT_EQ((std::vector<std::int64_t>{Size("cache.ncd"), Size("cache.lcd"), Size("cache.hcd")}), sizes);
    const std::string ncd = ReadBytes(File("cache.ncd"));
    EXPECT_EQ(NameRecord(ncd, 1).Check, ExpectedCheck(ncd, 1, StampOf(p1)));

    EXPECT_EQ(Fetch(cache, p1, Set({0, 1})), (TPictureSize{25, 17}));
    EXPECT_EQ(Fetch(cache, p2, Set({0})), (TPictureSize{26, 18}));
    EXPECT_EQ(Decoded(), before + 1) << "hits from now on";
  }
}

TEST_F(CacheTest, ACopyAndANameDifferingInCaseHaveRecordsOfTheirOwn) {
  const std::string p1 = Picture(1);
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  Fetch(cache, p1, Set({0}));

  const std::string moved = Dir.File("pics/moved.png");
  fs::copy_file(p1, moved);
  Fetch(cache, moved, Set({0}));
  const std::string upper = Picture(2, "P1.png");  // differs only in letter case
  Fetch(cache, upper, Set({0}));
  EXPECT_EQ(cache.Count(), 3);
}

TEST_F(CacheTest, FindIsABinarySearchInByteOrder) {
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  const std::string b = Picture(1, "b.png");
  const std::string d = Picture(2, "d.png");
  const std::string bLonger = Picture(3, "b.png.png");
  const std::string capital = Picture(4, "C.png");
  for (const std::string& name : {d, b, bLonger, capital}) Fetch(cache, name, Set({0}));
  EXPECT_FALSE(fs::exists(File("cache.nid"))) << "the index reaches the disk through Save only";
  ASSERT_TRUE(cache.Save());
  EXPECT_EQ(IndexNames(), (std::vector<std::string>{capital, b, bLonger, d}));

  const struct {
    std::string Name;
    int Position;
    std::int32_t Record;
  } cases[] = {
      {b, -1, 2},          {d, -1, 1},
      {bLonger, -1, 3},    {capital, -1, 4},
      {Dir.File("pics/a.png"), 1, -1},  {Dir.File("pics/c.png"), 3, -1},
      {Dir.File("pics/e.png"), 4, -1},  {Dir.File("pics/b.pn"), 1, -1},
      {Dir.File("pics/B.png"), 0, -1},  {"", 0, -1},
  };
  for (const auto& c : cases) {
    const TCacheFind found = cache.Find(c.Name);
    EXPECT_EQ(found.Position, c.Position) << c.Name;
    EXPECT_EQ(found.Record, c.Record) << c.Name;
  }
}

TEST_F(CacheTest, TakeOverCyclesThroughTheRecordsAcrossCloseAndOpen) {
  std::vector<std::string> pictures;
  for (int k = 1; k <= 8; ++k) pictures.push_back(Picture(k));
  const auto recordName = [this](int n) { return NameRecord(ReadBytes(File("cache.ncd")), n).Name; };
  auto cache = std::make_unique<TCache>(Dir.Path());
  ASSERT_TRUE(cache->Open(3));
  for (int k = 0; k < 3; ++k) Fetch(*cache, pictures[static_cast<std::size_t>(k)], Set({0}));
  const auto sizes = std::vector<std::int64_t>{Size("cache.ncd"), Size("cache.lcd"), Size("cache.hcd")};

  // Records 1, 2, 3 give way in turn, however recently they were used, and the turn survives
  // closing and opening again.
  const int expectedRecord[] = {1, 2, 3, 1, 2};
  for (int step = 0; step < 5; ++step) {
    const std::string& incoming = pictures[static_cast<std::size_t>(3 + step)];
    Fetch(*cache, recordName(expectedRecord[step]), Set({0}));  // being used does not save it
    Fetch(*cache, incoming, Set({0}));
    EXPECT_EQ(cache->Slot(), expectedRecord[step]);
    EXPECT_EQ(recordName(expectedRecord[step]), incoming);
    EXPECT_EQ(cache->Find(incoming).Record, expectedRecord[step]);
    EXPECT_EQ(cache->Count(), 3);
    ASSERT_TRUE(cache->Close());
    EXPECT_EQ(Int(ReadBytes(File("cache.ncd")), 8), expectedRecord[step]);
    cache = std::make_unique<TCache>(Dir.Path());
    ASSERT_TRUE(cache->Open(3)) << cache->LastError();
    EXPECT_EQ(cache->Slot(), expectedRecord[step]);
  }
  EXPECT_EQ((std::vector<std::int64_t>{Size("cache.ncd"), Size("cache.lcd"), Size("cache.hcd")}), sizes)
      << "a full cache must not grow";
  // The pictures that gave way are gone; the others answer.
  EXPECT_EQ(cache->Find(pictures[0]).Record, -1);
  EXPECT_EQ(IndexNames().size(), 3U);

  // A lower capacity keeps every record; the turn then runs through 1 .. capacity only.
  ASSERT_TRUE(cache->Close());
  cache = std::make_unique<TCache>(Dir.Path());
  ASSERT_TRUE(cache->Open(1));
  EXPECT_EQ(cache->Count(), 3);
  Fetch(*cache, pictures[0], Set({0}));
  EXPECT_EQ(cache->Slot(), 1);
  Fetch(*cache, pictures[1], Set({0}));
  EXPECT_EQ(cache->Slot(), 1);
  EXPECT_EQ(recordName(1), pictures[1]);
  EXPECT_EQ(cache->Count(), 3);
}

TEST_F(CacheTest, APictureTakingOverGetsNoTraceOfThePictureThatGaveWay) {
  const std::string a = Picture(1);
  const std::string b = Picture(2);
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(1));
  Fetch(cache, a, Set({0, 1, 2}));
  Fetch(cache, b, Set({0}));  // takes over a's record and its three L-traces
  EXPECT_EQ(Size("cache.lcd"), 4 * LRecordSize);

  // b's variants 1 and 2 come back as b's own, even with b's file gone.
  const TPicSign own = Direct(b, Set({0, 1, 2}));
  const TCacheStamp stamp = StampOf(b);
  fs::remove(b);
  Fetch(cache, b, Set({0, 1, 2}), &own, &stamp);
  EXPECT_EQ(Size("cache.lcd"), 4 * LRecordSize);
}

TEST_F(CacheTest, NamesLongerThanTheFieldAreAnalysedButNotStored) {
  // A path of exactly 256 bytes is stored whole and found again.
  const std::string prefix = Dir.File("pics/");
  const std::string exact = prefix + std::string(256 - prefix.size() - 6, 'd') + "/p.png";
  ASSERT_EQ(exact.size(), 256U);
  fs::create_directories(fs::path(exact).parent_path());
  WritePng(exact, NoiseImage(20, 20, 5));
  const std::string longer = prefix + std::string(200, 'e') + "/" + std::string(100, 'f') + ".png";
  fs::create_directories(fs::path(longer).parent_path());
  WritePng(longer, NoiseImage(20, 20, 6));

  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  const std::string empty = Snapshot();
  Fetch(cache, longer, Set({0}));
  Fetch(cache, longer, Set({0}));
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(Snapshot(), empty);

  Fetch(cache, exact, Set({0}));
  EXPECT_EQ(cache.Find(exact).Record, 1);
}

TEST_F(CacheTest, FailedAnalysisGivesTheAnalysersMessageAndChangesNothing) {
  WriteBytes(Dir.File("broken.png"), "not a picture at all");
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  const std::string before = Snapshot();
  for (const std::string& name : {Dir.File("missing.png"), Dir.File("broken.png")}) {
    TPixan direct;
    TPicSign expected;
    ASSERT_FALSE(direct.Analyse(name, expected, Set({0})));
    TPicSign signature(Set({0, 2}));
    TPictureSize size;
    EXPECT_FALSE(cache.GetSignature(name, StampOf(name), signature, Analyser, Set({0, 2}), size));
    EXPECT_EQ(cache.LastError(), direct.LastError());
    EXPECT_FALSE(signature.IsValid());
  }
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CacheTest, CapacityChangesAndClear) {
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  for (int k = 1; k <= 3; ++k) Fetch(cache, Picture(k), Set({0}));
  cache.SetCapacity(100);
  cache.SetCapacity(200);
  EXPECT_EQ(cache.Count(), 3);
  cache.SetCapacity(3);
  EXPECT_EQ(cache.Count(), 3);
  cache.SetCapacity(2);  // below the count: everything goes
  EXPECT_EQ(cache.Capacity(), 2);
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_TRUE(cache.IsOpen());
  EXPECT_EQ(Size("cache.ncd"), NameRecordSize);
  EXPECT_EQ(Size("cache.lcd"), LRecordSize);
  EXPECT_EQ(Size("cache.hcd"), HRecordSize);
  EXPECT_EQ(Size("cache.nid"), 0);
  EXPECT_EQ(cache.Find(Picture(1)).Record, -1);
  Fetch(cache, Picture(1), Set({0}));  // and it fills again from record 1
  EXPECT_EQ(cache.Find(Picture(1)).Record, 1);
  EXPECT_EQ(cache.Slot(), 0);

  // Clear works on a closed cache too, and the slot starts over.
  for (int k = 2; k <= 4; ++k) Fetch(cache, Picture(k), Set({0}));
  EXPECT_EQ(cache.Slot(), 2);
  ASSERT_TRUE(cache.Close());
  EXPECT_EQ(cache.Count(), 2);
  cache.Clear();
  EXPECT_EQ(cache.Count(), 0);
  EXPECT_EQ(Int(ReadBytes(File("cache.ncd")), 8), 0);
  EXPECT_EQ(Size("cache.ncd"), NameRecordSize);
  ASSERT_TRUE(cache.Open(2));
  EXPECT_EQ(cache.Slot(), 0);
}

TEST_F(CacheTest, ClosedCacheSavesNothing) {
  TCache cache(Dir.Path());
  EXPECT_EQ(cache.Count(), 0);
  WriteBytes(File("cache.nid"), std::string(12, '\x01'));
  EXPECT_EQ(cache.Count(), 3);
  EXPECT_FALSE(cache.Close());
  EXPECT_TRUE(cache.LastError().empty());
  EXPECT_FALSE(cache.Save());
  EXPECT_EQ(ReadBytes(File("cache.nid")), std::string(12, '\x01')) << "a closed cache overwrote the index";
  EXPECT_FALSE(fs::exists(File("cache.ncd")));
}

TEST_F(CacheTest, IndexThatCannotBeWrittenFailsSaveAndClose) {
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  Fetch(cache, Picture(1), Set({0}));
  fs::create_directory(File("cache.nid"));  // nothing can be renamed over a folder
  const std::string message = " Failed to save \"" + cache.Folder() + "cache.nid\"";
  EXPECT_FALSE(cache.Save());
  EXPECT_EQ(cache.LastError(), message);
  EXPECT_TRUE(cache.IsOpen());
  EXPECT_EQ(Int(ReadBytes(File("cache.ncd")), 8), 0);
  EXPECT_FALSE(cache.Close());
  EXPECT_EQ(cache.LastError(), message);
  EXPECT_FALSE(cache.IsOpen());
  EXPECT_FALSE(fs::exists(File("cache.nid.tmp")));
}

// A cache of two pictures, then one fault put into its files: Open refuses it with the
// message of the damaged file, and Clear gives a fresh cache that works.
TEST_F(CacheTest, DamagedFilesFailToOpen) {
  const std::string p1 = Picture(1);
  const std::string p2 = Picture(2);
  const std::string ncd = "cache.ncd", lcd = "cache.lcd", hcd = "cache.hcd", nid = "cache.nid";
  const std::string nameBad = "Name cache corrupted!";
  const std::string lBad = "L-Signature cache corrupted!";
  const std::string hBad = "H-Signature cache corrupted!";
  const std::string loadBad = "Failed to load \"" + Dir.File("Cache/") + "cache.nid\"";
  const auto record2 = static_cast<std::size_t>(2 * NameRecordSize);
  const struct {
    const char* What;
    std::function<void()> Damage;
    std::string Message;
  } cases[] = {
      {"name magic", [&] { Patch(File(ncd), 0, "\x03\x04\x05\x07"); }, nameBad},
      {"empty name file", [&] { WriteBytes(File(ncd), ""); }, nameBad},
      {"name file shorter than its header", [&] { fs::resize_file(File(ncd), 100); }, nameBad},
      {"slot below 0", [&] { Patch(File(ncd), 8, Bytes32(-1)); }, nameBad},
      {"slot beyond the records", [&] { Patch(File(ncd), 8, Bytes32(3)); }, nameBad},
      {"L magic", [&] { Patch(File(lcd), 3, "\x05"); }, lBad},
      {"empty L file", [&] { WriteBytes(File(lcd), ""); }, lBad},
      {"H magic", [&] { Patch(File(hcd), 0, "\xFF"); }, hBad},
      {"H file shorter than its header", [&] { fs::resize_file(File(hcd), 10); }, hBad},
      {"index of 10 bytes", [&] { WriteBytes(File(nid), std::string(10, '\0')); }, loadBad},
      {"index entry 0", [&] { Patch(File(nid), 0, Bytes32(0)); }, loadBad},
      {"index entry beyond the name file", [&] { Patch(File(nid), 4, Bytes32(3)); }, loadBad},
      {"name file cut to its header", [&] { fs::resize_file(File(ncd), NameRecordSize); }, loadBad},
      {"index entry twice", [&] { WriteBytes(File(nid), Bytes32(1) + Bytes32(1)); }, loadBad},
      {"more entries than records", [&] { WriteBytes(File(nid), Bytes32(1) + Bytes32(2) + Bytes32(1)); }, loadBad},
      {"index out of name order", [&] { WriteBytes(File(nid), Bytes32(2) + Bytes32(1)); }, loadBad},
      {"L-trace beyond its file", [&] { Patch(File(ncd), record2 + 268, Bytes32(3)); }, lBad},
      {"L file cut short", [&] { fs::resize_file(File(lcd), 2 * LRecordSize); }, lBad},
      {"L-trace 0", [&] { Patch(File(ncd), record2 + 268, Bytes32(0)); }, lBad},
      {"L-trace -2", [&] { Patch(File(ncd), record2 + 272, Bytes32(-2)); }, lBad},
      {"L-trace shared", [&] { Patch(File(ncd), record2 + 268, Bytes32(1)); }, lBad},
      {"H-trace missing", [&] { Patch(File(ncd), record2 + 292, Bytes32(-1)); }, hBad},
      {"H-trace beyond its file", [&] { Patch(File(ncd), record2 + 292, Bytes32(99)); }, hBad},
      {"H-trace shared", [&] { Patch(File(ncd), record2 + 292, Bytes32(1)); }, hBad},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    fs::remove_all(Dir.File("Cache"));
    {
      TCache cache(Dir.Path());
      ASSERT_TRUE(cache.Open(100));
      Fetch(cache, p1, Set({0}));
      Fetch(cache, p2, Set({0}));
      ASSERT_TRUE(cache.Close());
    }
    c.Damage();
    TCache cache(Dir.Path());
    EXPECT_FALSE(cache.Open(100));
    EXPECT_EQ(cache.LastError(), c.Message);
    EXPECT_TRUE(cache.IsDamaged());
    EXPECT_FALSE(cache.IsOpen());
    Fetch(cache, p1, Set({0}));  // a closed cache still answers by analysing
    EXPECT_FALSE(cache.Save());

    cache.Clear();
    EXPECT_FALSE(cache.IsDamaged());
    ASSERT_TRUE(cache.Open(100)) << cache.LastError();
    EXPECT_EQ(cache.Count(), 0);
    Fetch(cache, p2, Set({0}));
    EXPECT_EQ(cache.Count(), 1);
  }
}

TEST_F(CacheTest, WrongNameMagicLeavesTheOtherFilesAlone) {
  fs::create_directories(Dir.File("Cache"));
  WriteBytes(File("cache.ncd"), std::string(NameRecordSize, '\0'));
  TCache cache(Dir.Path());
  EXPECT_FALSE(cache.Open(100));
  EXPECT_EQ(cache.LastError(), "Name cache corrupted!");
  EXPECT_FALSE(fs::exists(File("cache.lcd")));
  EXPECT_FALSE(fs::exists(File("cache.hcd")));
}

TEST_F(CacheTest, ShortIndexFilesOpenAsEmpty) {
  for (const std::size_t length : {0, 2, 3}) {
    fs::remove_all(Dir.File("Cache"));
    TCache cache(Dir.Path());
    WriteBytes(File("cache.nid"), std::string(length, '\x07'));
    ASSERT_TRUE(cache.Open(100)) << length << ": " << cache.LastError();
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_FALSE(cache.IsDamaged());
  }
}

TEST_F(CacheTest, RandomBytesNeverHurt) {
  const std::string p1 = Picture(1);
  const TPicSign reference = Direct(p1, AllTraces);
  const std::string known[] = {"Name cache corrupted!", "L-Signature cache corrupted!",
                               "H-Signature cache corrupted!",
                               "Failed to load \"" + Dir.File("Cache/") + "cache.nid\""};
  std::uint32_t state = 88172645U;
  auto noise = [&state](std::size_t n) {
    std::string bytes(n, '\0');
    for (char& c : bytes) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      c = static_cast<char>(state & 7 ? state >> 24 : 0xFF);  // many -1s and small numbers
      if ((state & 0x300) == 0) c = static_cast<char>(state >> 29);
    }
    return bytes;
  };
  const std::string magic("\x03\x04\x05\x06", 4);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    fs::remove_all(Dir.File("Cache"));
    fs::create_directories(Dir.File("Cache"));
    const bool headers = round % 3 != 0;
    const std::size_t records = 1 + round % 7;
    auto file = [&](int size, std::size_t count) {
      std::string bytes = noise(static_cast<std::size_t>(size) * count + round % 5);
      if (headers) bytes.replace(0, 12, magic + std::string(8, '\0'));
      return bytes;
    };
    WriteBytes(File("cache.ncd"), file(NameRecordSize, records));
    WriteBytes(File("cache.lcd"), file(LRecordSize, records * 3));
    WriteBytes(File("cache.hcd"), file(HRecordSize, records * 2));
    WriteBytes(File("cache.nid"), noise(static_cast<std::size_t>(round % 9) * 4 + (round % 4 == 0 ? 0 : 4)));
    TCache cache(Dir.Path());
    if (!cache.Open(round % 4)) {
      EXPECT_NE(std::find(std::begin(known), std::end(known), cache.LastError()), std::end(known))
          << cache.LastError();
    }
    (void)cache.Find(p1);
    (void)cache.Find(std::string(300, 'x'));
    Fetch(cache, p1, AllTraces, &reference);
    Fetch(cache, p1, AllTraces, &reference);
    cache.Close();
  }
}

TEST_F(CacheTest, UnreadableFilesAreNotDamage) {
  if (RunsWithFileOverride()) return;
  for (const char* name : {"cache.ncd", "cache.hcd", "cache.nid"}) {
    SCOPED_TRACE(name);
    fs::remove_all(Dir.File("Cache"));
    {
      TCache cache(Dir.Path());
      ASSERT_TRUE(cache.Open(100));
      ASSERT_TRUE(cache.Close());
    }
    chmod(File(name).c_str(), 0);
    TCache cache(Dir.Path());
    EXPECT_FALSE(cache.Open(100));
    EXPECT_EQ(cache.LastError(), std::string(name) == "cache.nid"
                                     ? "Failed to load \"" + cache.Folder() + "cache.nid\""
                                     : "Failed to open \"" + File(name) + "\"");
    EXPECT_FALSE(cache.IsDamaged()) << "an unreadable cache must not be started afresh";
    chmod(File(name).c_str(), 0644);
  }
  fs::remove_all(Dir.File("Cache"));
  TCache cache(Dir.Path());
  chmod(cache.Folder().c_str(), 0555);
  EXPECT_FALSE(cache.Open(100));
  EXPECT_EQ(cache.LastError(), "Failed to create \"" + File("cache.ncd") + "\"");
  chmod(cache.Folder().c_str(), 0755);
}

TEST_F(CacheTest, AFailedWriteKeepsTheCacheConsistent) {
  const std::string p1 = Picture(1);
  const std::string p2 = Picture(2);
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  Fetch(cache, p1, Set({0}));

  // No file may grow now: the next append fails as on a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit limit = saved;
  limit.rlim_cur = static_cast<rlim_t>(Size("cache.lcd"));
  setrlimit(RLIMIT_FSIZE, &limit);
  TPicSign signature(Set({0}));
  TPictureSize size;
  const bool ok = cache.GetSignature(p2, StampOf(p2), signature, Analyser, Set({0}), size);
  const std::string error = cache.LastError();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, SIG_DFL);

  EXPECT_TRUE(ok) << "the picture itself was analysed";
  EXPECT_TRUE(signature == Direct(p2, Set({0})));
  EXPECT_EQ(error, "Failed to write \"" + File("cache.lcd") + "\"");
  EXPECT_TRUE(cache.IsOpen());
  EXPECT_EQ(cache.Count(), 1);
  EXPECT_EQ(cache.Find(p2).Record, -1);
  ASSERT_TRUE(cache.Close());

  TCache again(Dir.Path());
  ASSERT_TRUE(again.Open(100)) << again.LastError();
  Fetch(again, p1, Set({0}));
  Fetch(again, p2, Set({0}));
  EXPECT_EQ(again.Count(), 2);
}

TEST_F(CacheTest, FilesChangedWhileOpenCloseTheCache) {
  const std::string p1 = Picture(1);
  const std::string p2 = Picture(2);
  {
    TCache cache(Dir.Path());
    ASSERT_TRUE(cache.Open(100));
    Fetch(cache, p1, Set({0}));
    Fetch(cache, p2, Set({0}));
    fs::resize_file(File("cache.lcd"), LRecordSize);  // another program emptied it
    Fetch(cache, p1, Set({0}));
    EXPECT_EQ(cache.LastError(), "Failed to read \"" + File("cache.lcd") + "\"");
    EXPECT_FALSE(cache.IsOpen());
    EXPECT_FALSE(cache.IsDamaged());
    Fetch(cache, p2, Set({0}));
  }
  fs::remove_all(Dir.File("Cache"));
  TCache cache(Dir.Path());
  ASSERT_TRUE(cache.Open(100));
  Fetch(cache, p1, Set({0}));
  Patch(File("cache.ncd"), NameRecordSize + 268, Bytes32(77));
  Fetch(cache, p1, Set({0}));
  EXPECT_EQ(cache.LastError(), "Name cache corrupted!");
  EXPECT_TRUE(cache.IsDamaged());
  EXPECT_FALSE(cache.IsOpen());
}

TEST(CacheIndex, Editing) {
  TCIndex index;
  index.Insert(0, 5);
  index.Insert(0, 3);
  index.Insert(2, 9);
  index.Insert(1, 5);
  EXPECT_EQ(index.Entries(), (std::vector<std::int32_t>{3, 5, 5, 9}));
  index.Remove(5);
  index.Remove(42);
  EXPECT_EQ(index.Entries(), (std::vector<std::int32_t>{3, 5, 9}));
  index.SetCount(2);
  EXPECT_EQ(index.Entries(), (std::vector<std::int32_t>{3, 5}));
  index.SetCount(3);
  EXPECT_EQ(index.Items(2), 0);
  for (const int position : {-1, 3}) {
    try {
      (void)index.Items(position);
      ADD_FAILURE() << "no check at " << position;
    } catch (const EAssertionFailed& error) {
      EXPECT_EQ(std::string(error.what()).rfind("Assertion failure (xCache, line ", 0), 0U) << error.what();
    }
  }
}

TEST(CacheIndex, Files) {
  TTempDir dir;
  const std::string name = dir.File("index");
  TCIndex index;
  EXPECT_TRUE(index.LoadFromFile(dir.File("missing")));
  EXPECT_EQ(index.Count(), 0);
  const struct {
    std::string Bytes;
    bool Ok;
    std::vector<std::int32_t> Entries;
  } cases[] = {
      {"", true, {}},
      {"\x01\x02", true, {}},
      {"\x01\x02\x03", true, {}},
      {std::string("\x07\0\0\0", 4), true, {7}},
      {std::string("\x07\0\0\0\xFF\xFF\xFF\xFF", 8), true, {7, -1}},
      {std::string(10, '\x01'), false, {}},
      {std::string(5, '\x01'), false, {}},
  };
  for (const auto& c : cases) {
    WriteBytes(name, c.Bytes);
    EXPECT_EQ(index.LoadFromFile(name), c.Ok) << c.Bytes.size();
    EXPECT_EQ(index.Entries(), c.Entries) << c.Bytes.size();
  }
  WriteBytes(name, std::string(12, '\0'));
  EXPECT_FALSE(index.LoadFromFile(name, 2)) << "more entries than allowed";

  index.SetCount(0);
  index.Insert(0, 258);
  ASSERT_TRUE(index.SaveToFile(name));
  EXPECT_EQ(ReadBytes(name), std::string("\x02\x01\0\0", 4));
  index.SetCount(0);
  ASSERT_TRUE(index.SaveToFile(name));
  EXPECT_EQ(ReadBytes(name), "");
}

}  // namespace

// Two searches with one state folder: the second goes without the cache, never reads what the
// first is writing, never clears it, and gets it once the first has closed it.
TEST_F(CacheTest, OneProcessAtATimeHasTheCache) {
  TCache first(Dir.Path() + "/");
  ASSERT_TRUE(first.Open(100)) << first.LastError();
  Fetch(first, Picture(1), TPicVariants());
  Fetch(first, Picture(2), TPicVariants());
  ASSERT_TRUE(first.Save());
  const std::string stored = Snapshot();

  TCache second(Dir.Path() + "/");
  EXPECT_FALSE(second.Open(100));
  EXPECT_TRUE(second.IsBusy());
  EXPECT_FALSE(second.IsDamaged());
  EXPECT_EQ(second.LastError(), "Signature cache in use by another search; running without it");
  second.SetCapacity(1);  // below the count: would empty the cache
  second.Clear();
  EXPECT_EQ(Snapshot(), stored) << "the other's cache untouched";
  const int decoded = Decoded();
  Fetch(second, Picture(1), TPicVariants());
  EXPECT_EQ(Decoded(), decoded + 1) << "analysed, not read from the cache";
  EXPECT_EQ(Snapshot(), stored);

  ASSERT_TRUE(first.Close());
  ASSERT_TRUE(second.Open(100)) << second.LastError();
  EXPECT_FALSE(second.IsBusy());
  EXPECT_EQ(second.Count(), 2);
  Fetch(second, Picture(2), TPicVariants());
  EXPECT_EQ(Decoded(), decoded + 1) << "a hit now";
}

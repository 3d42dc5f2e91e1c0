// File times, groups and the automatic marking.

#include <gtest/gtest.h>

#include <ctime>

#include "xAssert.h"
#include "xGroups.h"
#include "xRecords.h"

namespace {

std::int64_t LocalSeconds(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::uint32_t Day(int day) { return PackFileTime(LocalSeconds(2024, 3, day)); }

std::unique_ptr<TPicData> Picture(const std::string& name, int width, int height, std::uint32_t time = Day(1)) {
  auto record = std::make_unique<TPicData>(name, time, 1000, TPicVariants());
  record->Width = width;
  record->Height = height;
  return record;
}

}  // namespace

TEST(FileTimes, PackedFormAndItsReading) {
  const std::uint32_t packed = PackFileTime(LocalSeconds(2021, 7, 14, 18, 5, 37));
  EXPECT_EQ(packed >> 25, 41U);
  EXPECT_EQ(packed >> 21 & 15, 7U);
  EXPECT_EQ(packed >> 16 & 31, 14U);
  EXPECT_EQ(packed >> 11 & 31, 18U);
  EXPECT_EQ(packed >> 5 & 63, 5U);
  EXPECT_EQ(packed & 31, 18U) << "seconds are kept halved";
  EXPECT_EQ(PackedToIsoText(packed), "2021-07-14T18:05:36");
  // 1899-12-30 is day 0; 2021-07-14 is day 44391.
  EXPECT_DOUBLE_EQ(PackedToDateTime(packed), 44391 + (18 * 3600 + 5 * 60 + 36) / 86400.0);
  EXPECT_EQ(PackedToIsoText(PackFileTime(LocalSeconds(1970, 6, 1))), "1980-01-01T00:00:00");
  EXPECT_EQ(PackedToIsoText(PackFileTime(LocalSeconds(2200, 6, 1))), "2107-12-31T23:59:58");
  EXPECT_LT(PackedToDateTime(Day(1)), PackedToDateTime(Day(2)));
}

TEST(Records, QualityByKind) {
  TFileData plain("/a", 0, 5000000000LL);
  EXPECT_EQ(plain.Quality(), 5000000000LL);
  EXPECT_EQ(Picture("/p", 100000, 100000)->Quality(), 10000000000LL) << "64-bit product";
  TMP3Data mp3("/m.mp3", 0, 4321, {});
  EXPECT_EQ(mp3.Quality(), 4321);
  plain.Digest.Length = 4;
  EXPECT_TRUE(plain.HasDigest());
  plain.Failed = true;
  EXPECT_FALSE(plain.HasDigest());
}

TEST(Groups, AddKeepsTheFiguresAndRemoveKeepsThemToo) {
  auto small = Picture("/small", 800, 600, Day(3));
  auto big = Picture("/big", 1024, 768, Day(1));
  TFileData plain("/plain", Day(5), 10);
  TGroup group;
  group.Add(small.get());
  group.Add(big.get());
  group.Add(&plain);
  EXPECT_EQ(group.Count(), 3);
  EXPECT_EQ(small->Group, &group);
  EXPECT_EQ(group.MaxQuality, 1024 * 768) << "plain records do not count for quality";
  EXPECT_DOUBLE_EQ(group.NewestTime, PackedToDateTime(Day(5)));
  group.Remove(big.get());
  EXPECT_EQ(group.Count(), 2);
  EXPECT_EQ(big->Group, nullptr);
  EXPECT_EQ(group.MaxQuality, 1024 * 768) << "figures describe the members the group had";
  TGroup other;
  group.Remove(big.get());  // belongs to none
  TFileData stranger("/s", 0, 1);
  other.Add(&stranger);
  group.Remove(&stranger);  // belongs to another group
  EXPECT_EQ(group.Count(), 2);
  EXPECT_EQ(stranger.Group, &other);
  EXPECT_THROW(group.Items(2), EAssertionFailed);
}

TEST(Groups, FirstPlainMemberStartsQualityAtZero) {
  TFileData plain("/plain", Day(1), 99999);
  auto picture = Picture("/p", 10, 10);
  TGroup group;
  group.Add(&plain);
  EXPECT_EQ(group.MaxQuality, 0);
  group.Add(picture.get());
  EXPECT_EQ(group.MaxQuality, 100);
}

TEST(Marking, InferiorPicturesAndOlderFiles) {
  auto p1 = Picture("/1", 800, 600);
  auto p2 = Picture("/2", 1024, 768);
  auto p3 = Picture("/3", 1024, 768);
  TGroup pictures;
  for (auto* p : {p1.get(), p2.get(), p3.get()}) pictures.Add(p);

  TFileData f1("/f1", Day(1), 5), f2("/f2", Day(2), 5), f3("/f3", Day(3), 5);
  TGroup files;
  for (auto* f : {&f1, &f2, &f3}) files.Add(f);

  TMP3Data small("/s.mp3", Day(9), 100, {}), large("/l.mp3", Day(1), 200, {});
  TGroup songs;
  songs.Add(&small);
  songs.Add(&large);

  auto picture = Picture("/mixed.png", 10, 10, Day(1));
  TFileData copy("/mixed.bin", Day(2), 5);
  TGroup mixed;
  mixed.Add(picture.get());
  mixed.Add(&copy);

  const TMarkRules both{true, true}, qualityOnly{true, false}, timeOnly{false, true};
  const struct {
    const TGroup* Group;
    const TFileData* Member;
    TMarkRules Rules;
    bool Marked;
  } cases[] = {
      {&pictures, p1.get(), both, true},    {&pictures, p2.get(), both, false},  {&pictures, p3.get(), both, false},
      {&pictures, p1.get(), timeOnly, false}, {&files, &f1, both, true},         {&files, &f2, both, true},
      {&files, &f3, both, false},           {&files, &f1, qualityOnly, false},   {&songs, &small, both, true},
      {&songs, &large, both, false},        {&songs, &small, timeOnly, false},   {&mixed, picture.get(), both, false},
      {&mixed, &copy, both, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AutoMarked(*c.Group, *c.Member, c.Rules), c.Marked) << c.Member->FileName;

  // After the best picture leaves, the figures stay: the rest are all marked.
  pictures.Remove(p2.get());
  pictures.Remove(p3.get());
  auto p4 = Picture("/4", 800, 600);
  pictures.Add(p4.get());
  EXPECT_TRUE(AutoMarked(pictures, *p1, both));
  EXPECT_TRUE(AutoMarked(pictures, *p4, both));
}

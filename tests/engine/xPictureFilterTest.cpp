// The picture pairs the candidate loop leaves out: the tiles' edge lies just below the decision's,
// and the pairs handed out are exactly those the decision accepts, by any kernel, with or without
// look-ahead.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "xEngine.h"
#include "xPictureFilter.h"
#include "xSyntheticSignatures.h"

TEST(PictureFilter, NeededDotIsTheEdgeOfTheDecision) {
  std::mt19937 random(11);
  for (int tolerance = 0; tolerance <= 10; ++tolerance)
    for (const bool grayscale : {false, true}) {
      const int threshold = TEngine::PictureThreshold(tolerance, false);
      const TPictureFilter filter({}, TPicVariants().Include(grayscale ? pvGrayscale : pvOriginal), threshold);
      for (int round = 0; round < 300; ++round) {
        const std::int64_t hueDot = round == 0 ? 0 : round == 1 ? HTraceLength * 255 * 255 : random() % (HTraceLength * 255 * 255);
        const std::int64_t needed = filter.NeededDot(hueDot);
        const float colour = TPixan::TraceSimilarity(hueDot, true);
        auto reaches = [&](std::int64_t dot) {
          return PictureScore(TPixan::TraceSimilarity(dot, false), colour, grayscale) >= static_cast<float>(threshold);
        };
        EXPECT_TRUE(reaches(needed)) << tolerance << " " << hueDot;
        EXPECT_FALSE(reaches(needed - 1)) << tolerance << " " << hueDot;
        // The tiles' edge lies below the decision's, and close to it.
        EXPECT_LE(filter.LineAt(hueDot), static_cast<double>(needed)) << tolerance << " " << hueDot;
        if (needed <= LTraceLength * 127 * 127) {
          EXPECT_GT(filter.LineAt(hueDot), static_cast<double>(needed) - 8) << tolerance << " " << hueDot;
        }
      }
    }
}

// Made-up signatures around every threshold, arbitrary bytes, and signatures the tiles cannot
// read: for every row the filter hands out exactly the earlier pictures the decision accepts (and
// the unreadable ones, which the decision turns down itself), in index order, by every kernel, in
// panels and tiles cut anywhere.
TEST(PictureFilter, HandsOutExactlyThePairsTheDecisionAccepts) {
  std::mt19937 random(3);
  const auto all = TPicVariants::FromBits(0x3F);
  std::vector<std::unique_ptr<TPicData>> pictures;
  std::vector<const TFileData*> records;
  std::vector<TSyntheticPicture> originals;
  for (int i = 0; i < 170; ++i) {
    auto picture = std::make_unique<TPicData>(std::to_string(i), 0, 1, all);
    if (i % 16 == 15) {  // any bytes at all
      picture->Sign.SetHLength(HTraceLength);
      for (int k = 0; k < HTraceLength; ++k) picture->Sign.HTrace().Bytes(k, static_cast<std::uint8_t>(random()));
      for (int t = 0; t < LTraceVariants; ++t) {
        picture->Sign.SetLLength(t, LTraceLength);
        for (int k = 0; k < LTraceLength; ++k) picture->Sign.LTrace(t)->Bytes(k, static_cast<std::uint8_t>(random()));
      }
    } else if (originals.empty() || random() % 3 == 0) {
      originals.push_back(SyntheticOriginal(random));
      SyntheticSignature(originals.back(), picture->Sign);
    } else {
      const float keep = 0.5F + 0.5F * static_cast<float>(random() % 1000) / 1000;
      const float colour = random() % 4 == 0 ? 0.0F : static_cast<float>(random() % 1000) / 1000;
      SyntheticSignature(SyntheticCopy(originals[random() % originals.size()], keep, colour, random), picture->Sign);
    }
    if (i == 40 || i == 141) picture->Sign.SetHLength(0);  // not valid: never scored
    if (i == 77) picture->Sign.SetLLength(pvRotate90Left, 0);  // a variant missing
    if (i == 90) picture->Failed = true;                      // never a candidate
    records.push_back(picture.get());
    pictures.push_back(std::move(picture));
  }
  records[100] = nullptr;  // not a picture of this comparison
  auto scorable = [&](std::size_t i, TPicVariants variants) {
    const TPicSign& sign = pictures[i]->Sign;
    bool complete = sign.IsValid() && sign.HLength() == HTraceLength;
    for (int t = 0; t < LTraceVariants; ++t)
      if (t == pvOriginal || (t <= pvFlipHorizontal && variants.Contains(t))) complete = complete && sign.LLength(t) == LTraceLength;
    return complete;
  };
  std::vector<int> thresholds;
  for (int tolerance = 0; tolerance <= 10; ++tolerance)
    for (const bool memberCheck : {false, true}) thresholds.push_back(TEngine::PictureThreshold(tolerance, memberCheck));
  std::sort(thresholds.begin(), thresholds.end());
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
  std::vector<TTileKernelKind> kinds;
  for (const TTileKernelKind kind : AllTileKernelKinds)
    if (TileKernelAvailable(kind)) kinds.push_back(kind);

  std::int64_t accepted = 0, turnedDown = 0;
  for (const std::uint8_t bits : {0x01, 0x41, 0x3F, 0x7F, 0x13}) {
    const auto variants = TPicVariants::FromBits(bits);
    // Each pair's best score, as the decision finds it.
    std::vector<std::vector<float>> scores(pictures.size());
    for (std::size_t a = 0; a < pictures.size(); ++a)
      for (std::size_t b = 0; b < a; ++b)
        scores[a].push_back(scorable(a, variants) && scorable(b, variants)
                                ? JudgePictures(pictures[a]->Sign, pictures[b]->Sign, variants, 0, false).Score
                                : 0.0F);
    for (const int threshold : thresholds)
      for (const TTileKernelKind kind : kinds) {
        TPictureFilter filter(records, variants, threshold, false, kind);
        for (std::size_t a = 1; a < pictures.size(); ++a) {
          if (!records[a] || records[a]->Failed) continue;
          std::vector<int> expected, got;
          for (std::size_t b = 0; b < a; ++b) {
            if (!records[b] || records[b]->Failed) continue;
            const bool readable = scorable(a, variants) && scorable(b, variants);
            const bool duplicate = readable && scores[a][b] >= static_cast<float>(threshold);
            if (duplicate || !readable) expected.push_back(static_cast<int>(b));
            (duplicate ? accepted : turnedDown) += readable ? 1 : 0;
          }
          filter.BeginRow(static_cast<int>(a));
          for (int c = filter.Next(false); c >= 0; c = filter.Next(false)) got.push_back(c);
          ASSERT_EQ(got, expected) << "row " << a << " threshold " << threshold << " variants " << int{bits}
                                   << " kernel " << static_cast<int>(kind);
        }
      }
  }
  EXPECT_GT(accepted, 20000);
  EXPECT_GT(turnedDown, 200000);
}

// Panels scored ahead on threads of their own give the same candidates as panels scored by the
// loop, and a grouped row passes over grouped pictures.
TEST(PictureFilter, LookAheadAndGroupsLeaveTheCandidatesAsTheyAre) {
  std::mt19937 random(9);
  std::vector<std::unique_ptr<TPicData>> pictures;
  std::vector<const TFileData*> records;
  std::vector<TSyntheticPicture> originals;
  for (int i = 0; i < 3 * TPictureFilter::PanelRows + 37; ++i) {
    auto picture = std::make_unique<TPicData>(std::to_string(i), 0, 1, TPicVariants{});
    if (originals.empty() || random() % 4 == 0) {
      originals.push_back(SyntheticOriginal(random));
      SyntheticSignature(originals.back(), picture->Sign);
    } else {
      SyntheticSignature(SyntheticCopy(originals[random() % originals.size()], 0.8F, 0.8F, random), picture->Sign);
    }
    records.push_back(picture.get());
    pictures.push_back(std::move(picture));
  }
  const int threshold = TEngine::PictureThreshold(4, false);
  TPictureFilter plain(records, TPicVariants{}, threshold), ahead(records, TPicVariants{}, threshold, true);
  std::int64_t candidates = 0, passedOver = 0;
  auto isGrouped = [](int index) { return index > 0 && index % 3 == 0; };  // once its own row is done
  for (int a = 1; a < static_cast<int>(pictures.size()); ++a) {
    plain.BeginRow(a);
    ahead.BeginRow(a);
    std::vector<int> expected, got;
    for (int c = plain.Next(false); c >= 0; c = plain.Next(false)) {
      if (isGrouped(a) && isGrouped(c)) {
        ++passedOver;
      } else {
        expected.push_back(c);
      }
    }
    for (int c = ahead.Next(isGrouped(a)); c >= 0; c = ahead.Next(isGrouped(a))) got.push_back(c);
    ASSERT_EQ(got, expected) << "row " << a;
    candidates += static_cast<std::int64_t>(got.size());
    if (isGrouped(a)) {
      plain.NoteGrouped(a);
      ahead.NoteGrouped(a);
    }
  }
  ahead.Finish();
  EXPECT_GT(candidates, 500);
  EXPECT_GT(passedOver, 50);
  EXPECT_EQ(ahead.Stats().Pairs, plain.Stats().Pairs);
  EXPECT_EQ(ahead.Stats().Scored, plain.Stats().Scored);
  EXPECT_EQ(ahead.Stats().Grouped, passedOver);
}

// Copies of one made-up picture, alike from `least` to fully, every 37th one unreadable, and a
// stranger that no filter is given.
struct TCopiesOfOne {
  std::vector<std::unique_ptr<TPicData>> Pictures;
  std::vector<const TFileData*> Records;
  TPicData Stranger{"stranger", 0, 1, TPicVariants::FromBits(0x13)};
  TCopiesOfOne(std::mt19937& random, int count, float least) {
    const TSyntheticPicture original = SyntheticOriginal(random);
    for (int i = 0; i < count; ++i) {
      auto picture = std::make_unique<TPicData>(std::to_string(i), 0, 1, TPicVariants::FromBits(0x3F));
      SyntheticSignature(SyntheticCopy(original, least + (1 - least) * static_cast<float>(random() % 1000) / 1000,
                                       static_cast<float>(random() % 1000) / 1000, random),
                         picture->Sign);
      if (i % 37 == 5) picture->Sign.SetHLength(0);  // cannot be read
      Records.push_back(picture.get());
      Pictures.push_back(std::move(picture));
    }
    SyntheticSignature(SyntheticOriginal(random), Stranger.Sign);
  }
};

// A newcomer checked against a whole group at once gives each member the decision's own verdict
// (or leaves it to the decision where a signature cannot be read), by every kernel, for chunks of
// every size, while the group grows between checks.
TEST(PictureFilter, ChecksAgainstAGroupAreTheDecisions) {
  std::mt19937 random(21);
  const auto variants = TPicVariants::FromBits(0x13);
  TCopiesOfOne copies(random, 300, 0.55F);
  auto& [pictures, records, stranger] = copies;
  std::vector<TTileKernelKind> kinds;
  for (const TTileKernelKind kind : AllTileKernelKinds)
    if (TileKernelAvailable(kind)) kinds.push_back(kind);
  int passed = 0, failed = 0, unknown = 0;
  for (const TTileKernelKind kind : kinds)
    for (const int tolerance : {0, 5, 9}) {
      TPictureFilter filter(records, variants, TEngine::PictureThreshold(tolerance, false), false, kind);
      const int threshold = TEngine::PictureThreshold(tolerance, true);
      TGroup group;
      std::vector<std::int8_t> verdicts;
      for (std::size_t m = 1; m < pictures.size(); m += 1 + m / 40) {
        group.Add(m == 150 ? static_cast<TFileData*>(&stranger) : pictures[m].get());
        const TPicData& newcomer = *pictures[(m * 7) % pictures.size()];
        const int blocks = 1 << (m % 4);
        for (int from = 0; from < group.Count(); from += blocks * TileLanes) {
          filter.CheckMembers(group, newcomer, threshold, from, blocks, verdicts);
          ASSERT_EQ(static_cast<int>(verdicts.size()), std::min(blocks * TileLanes, group.Count() - from));
          for (std::size_t j = 0; j < verdicts.size(); ++j) {
            const auto& member = static_cast<const TPicData&>(*group.Items(from + static_cast<int>(j)));
            if (!member.Sign.IsValid() || !newcomer.Sign.IsValid() || &member == &stranger) {
              ASSERT_EQ(verdicts[j], -1) << from + j;
              ++unknown;
              continue;
            }
            const bool duplicate = JudgePictures(newcomer.Sign, member.Sign, variants, tolerance, true).Duplicate;
            ASSERT_EQ(verdicts[j], duplicate ? 1 : 0) << "member " << from + j << " tolerance " << tolerance;
            (duplicate ? passed : failed) += 1;
          }
        }
      }
    }
  EXPECT_GT(passed, 1000);
  EXPECT_GT(failed, 1000);
  EXPECT_GT(unknown, 10);
}

// Where the newcomer is the row's own picture and the thresholds agree, the checks against a
// group's members are read off the row's scores: each is the decision's own verdict, or left to
// the decision where the filter cannot read a signature or was not given the member.
TEST(PictureFilter, ChecksReadOffTheRowAreTheDecisions) {
  std::mt19937 random(5);
  const auto variants = TPicVariants::FromBits(0x13);
  TCopiesOfOne copies(random, 400, 0.5F);
  auto& [pictures, records, stranger] = copies;
  int passed = 0, failed = 0, unknown = 0;
  for (const TTileKernelKind kind : {TTileKernelKind::Scalar, BestTileKernelKind()})
    for (const int tolerance : {9, 10}) {
      const int threshold = TEngine::PictureThreshold(tolerance, true);
      ASSERT_EQ(threshold, TEngine::PictureThreshold(tolerance, false));
      TPictureFilter filter(records, variants, threshold, kind != TTileKernelKind::Scalar, kind);
      TGroup group;
      for (int r = 1; r < static_cast<int>(pictures.size()); ++r) {
        filter.BeginRow(r);
        const TPicData& newcomer = *pictures[static_cast<std::size_t>(r)];
        ASSERT_FALSE(filter.ChecksFromRow(*pictures[static_cast<std::size_t>(r - 1)], threshold));
        ASSERT_FALSE(filter.ChecksFromRow(newcomer, threshold - 1));
        ASSERT_EQ(filter.ChecksFromRow(newcomer, threshold), newcomer.Sign.HLength() > 0) << r;
        if (r % 3 == 0) group.Add(r == 150 ? static_cast<TFileData*>(&stranger) : pictures[static_cast<std::size_t>(r - 1)].get());
        if (!filter.ChecksFromRow(newcomer, threshold)) continue;
        const std::vector<int>& slots = filter.MemberSlots(group);
        ASSERT_EQ(static_cast<int>(slots.size()), group.Count());
        for (int i = 0; i < group.Count(); ++i) {
          const auto& member = static_cast<const TPicData&>(*group.Items(i));
          const int verdict = filter.RowVerdict(slots[static_cast<std::size_t>(i)]);
          if (!member.Sign.IsValid() || &member == &stranger) {
            ASSERT_EQ(verdict, -1) << i;
            ++unknown;
            continue;
          }
          const bool duplicate = JudgePictures(newcomer.Sign, member.Sign, variants, tolerance, true).Duplicate;
          ASSERT_EQ(verdict, duplicate ? 1 : 0) << "row " << r << " member " << i << " tolerance " << tolerance;
          (duplicate ? passed : failed) += 1;
        }
      }
      filter.Finish();
    }
  EXPECT_GT(passed, 1000);
  EXPECT_GT(failed, 1000);
  EXPECT_GT(unknown, 10);
}

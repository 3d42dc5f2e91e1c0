// The candidate loop against the plain loop where it leaves picture pairs out: hundreds of
// pictures with made-up signatures around the thresholds, so that most pairs are left out while
// groups still form, with the same groups, member order, log, status lines and progress.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "xEngine.h"
#include "xLog.h"
#include "xSearchOutcome.h"
#include "xStorage.h"
#include "xSyntheticSignatures.h"
#include "xTestFiles.h"

namespace {

}  // namespace

// Every tolerance, with and without variants and greyscale, with failed pictures, hard links and a
// few plain files among them; the pictures are made once and searched again without rescanning.
TEST(PicturePairsDifferential, PairsLeftOutChangeNothing) {
  std::int64_t pairs = 0, skipped = 0;
  int groups = 0, largeGroups = 0;
  for (unsigned seed = 1; seed <= 12; ++seed) {
    std::mt19937 random(seed);
    const std::uint8_t bits = seed % 4 == 0 ? 0x01 : seed % 4 == 1 ? 0x41 : seed % 4 == 2 ? 0x3F : 0x7F;
    TTempDir home, tree;
    TStorage storage(home.Path(), TInfo());
    TEngine fast(storage, false), plain(storage, false);
    plain.PairStrategy = TPairStrategy::Plain;
    std::vector<TSyntheticPicture> originals, made;
    const int count = 150 + static_cast<int>(random() % 100);
    for (int i = 0; i < count; ++i) {
      if (originals.empty() || random() % 3 == 0) {
        originals.push_back(SyntheticOriginal(random));
        made.push_back(originals.back());
      } else {
        const float keep = 0.55F + 0.45F * static_cast<float>(random() % 1000) / 1000;
        const float colour = random() % 4 == 0 ? 0.0F : static_cast<float>(random() % 1000) / 1000;
        made.push_back(SyntheticCopy(originals[random() % originals.size()], keep, colour, random));
      }
    }
    std::vector<bool> failed(made.size()), plainFile(made.size());
    for (std::size_t i = 0; i < made.size(); ++i) {
      failed[i] = random() % 25 == 0;
      plainFile[i] = random() % 40 == 0;
    }
    // A few pictures are hard links of earlier ones: the same file twice, which a group never holds.
    for (std::size_t i = 0; i < made.size(); ++i) {
      const std::string path = tree.Path() + "/" + std::to_string(i) + (plainFile[i] ? ".dat" : ".png");
      const std::size_t of = random() % (i + 1);
      if (random() % 20 == 0 && of < i && !plainFile[i] && !plainFile[of]) {
        std::filesystem::create_hard_link(tree.Path() + "/" + std::to_string(of) + ".png", path);
        made[i] = made[of];
        failed[i] = failed[of];
      } else {
        WriteBytes(path, "");
      }
    }
    for (TEngine* engine : {&fast, &plain}) {
      engine->AddFolder(tree.Path());
      engine->Options.PicsComp = true;
      engine->Options.PicVariants = TPicVariants::FromBits(bits);
      engine->Options.Cache = false;
      engine->Options.ZeroIgnore = false;
      for (std::size_t i = 0; i < made.size(); ++i) {
        TFileData* record = engine->AddFile(tree.Path() + "/" + std::to_string(i) + (plainFile[i] ? ".dat" : ".png"), 0, 0, false);
        ASSERT_NE(record, nullptr);
        if (record->Kind() != TRecordKind::Picture) continue;
        auto& picture = static_cast<TPicData&>(*record);
        SyntheticSignature(made[i], picture.Sign);
        picture.Failed = failed[i];
      }
    }
    for (int tolerance = 0; tolerance <= 10; ++tolerance) {
      for (TEngine* engine : {&fast, &plain}) {
        engine->Options.Tolerance = tolerance;
        engine->NeedRescan = false;
      }
      const TOutcome outcome = Search(fast);
      ASSERT_EQ(outcome, Search(plain)) << "seed " << seed << " tolerance " << tolerance;
      pairs += fast.Stats().PicturePairs;
      skipped += fast.Stats().PicturePairsSkipped;
      groups += static_cast<int>(outcome.Groups.size());
      for (const auto& group : outcome.Groups) largeGroups += group.size() > 2 ? 1 : 0;
    }
  }
  // Most pairs left out, and groups, also with member checks, at every strictness.
  EXPECT_GT(skipped, pairs / 2);
  EXPECT_GT(groups, 500);
  EXPECT_GT(largeGroups, 100);
}

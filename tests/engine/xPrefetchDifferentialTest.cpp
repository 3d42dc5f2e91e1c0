// Reading digests ahead against the plain loop, on trees of files around the edge-block sizes:
// copies, hard links, and decoys of a copy's size that differ in one byte just inside or just
// outside the first and last blocks. The same groups in the same member order, failed marks,
// log lines, status lines and progress; also when files vanish, shrink or change after the scan,
// and when a stop arrives while reading ahead and the search is run again.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <random>

#include "xEngine.h"
#include "xLog.h"
#include "xSearchOutcome.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

std::string RandomBytes(std::size_t size, std::mt19937& random) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

void MakeTree(const std::string& root, std::mt19937& random) {
  static const std::size_t sizes[] = {0, 1, 100, 4095, 4096, 4097, 8191, 8192, 8193, 12288, 20000};
  std::vector<std::string> originals;
  for (int i = 0; i < 8; ++i) originals.push_back(RandomBytes(sizes[random() % std::size(sizes)], random));
  std::vector<std::string> written;
  const int files = 30 + static_cast<int>(random() % 40);
  for (int i = 0; i < files; ++i) {
    const std::string folder = root + "/d" + std::to_string(random() % 3);
    fs::create_directories(folder);
    const std::string path = folder + "/f" + std::to_string(i);
    std::string content = originals[random() % originals.size()];
    const unsigned kind = random() % 10;
    if (kind < 4 && !content.empty()) {
      // A decoy: one byte changed, at an edge of the blocks read first or in the middle.
      const std::size_t size = content.size();
      const std::size_t places[] = {0, 4095 % size, 4096 % size, size / 2, size > 4096 ? size - 4097 : 0,
                                    size > 4096 ? size - 4096 : 0, size - 1};
      content[places[random() % std::size(places)]] ^= 0x5A;
    } else if (kind == 4 && !written.empty()) {
      fs::create_hard_link(written[random() % written.size()], path);
      continue;
    }
    WriteBytes(path, content);
    written.push_back(path);
  }
}

// Names of the tree's copy written alike, so that two engines' outcomes on two copies compare.
void Rename(TOutcome& outcome, const std::string& from) {
  auto rename = [&](std::string& text) {
    for (std::size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), "<copy>");
  };
  for (auto& line : outcome.Log) rename(line);
  for (auto& line : outcome.Statuses) rename(line);
  for (auto& group : outcome.Groups)
    for (auto& name : group) rename(name);
}

}  // namespace

TEST(PrefetchDifferential, ReadingAheadGivesThePlainLoopsResults) {
  int groups = 0, warnings = 0;  // the trees must hold duplicates, and reads that fail
  for (unsigned seed = 1; seed <= 30; ++seed) {
    std::mt19937 random(seed);
    TTempDir home, tree;
    MakeTree(tree.Path(), random);
    TStorage storage(home.Path(), TInfo());
    TEngine fast(storage, false), plain(storage, false);
    plain.PairStrategy = TPairStrategy::Plain;
    const int method = fcCrc32 + static_cast<int>(seed % 4);
    for (TEngine* engine : {&fast, &plain}) {
      engine->AddFolder(tree.Path());
      engine->SetFileComp(method);
      engine->Options.ZeroIgnore = seed % 2 == 0;
      engine->Options.Cache = false;
    }
    const TOutcome first = Search(fast);
    ASSERT_EQ(first, Search(plain)) << "seed " << seed;
    groups += static_cast<int>(first.Groups.size());

    // After the scan, some files vanish, some shrink, some get new contents of their size.
    TOutcome changed[2];
    for (int which = 0; which < 2; ++which) {
      TEngine& engine = which == 0 ? fast : plain;
      TTempDir copy;
      fs::copy(tree.Path(), copy.Path(), fs::copy_options::recursive);
      engine.Folders.clear();
      engine.AddFolder(copy.Path());
      std::mt19937 change(seed);
      int seen = -1;  // each record once, right after the scan made it
      engine.OnPumpEvents = [&] {
        const int last = engine.FileCount() - 1;
        if (last == seen) return;
        seen = last;
        if (engine.Files(last)->Size == 0) return;
        const std::string& name = engine.Files(last)->FileName;
        switch (change() % 8) {
          case 0: fs::remove(name); break;
          case 1: fs::resize_file(name, static_cast<std::uintmax_t>(engine.Files(last)->Size - 1)); break;
          case 2: {
            std::string bytes = ReadBytes(name);
            bytes[bytes.size() / 2] ^= 1;
            WriteBytes(name, bytes);
            break;
          }
          default: break;
        }
      };
      changed[which] = Search(engine);
      engine.OnPumpEvents = nullptr;
      Rename(changed[which], copy.Path());
      engine.Folders.clear();
      engine.AddFolder(tree.Path());
    }
    EXPECT_EQ(changed[0], changed[1]) << "seed " << seed << " changing files";
    for (const auto& line : changed[0].Log) warnings += line.rfind("WARNING", 0) == 0 ? 1 : 0;

    // A stop while reading ahead (the first blocks, or the whole files) leaves results that a
    // search without rescan completes into the plain loop's.
    const TOutcome reference = Search(plain);
    for (int stopAt : {1, 2}) {
      fast.NeedRescan = true;
      bool comparing = false;
      int pumps = 0;
      fast.OnStatus = [&](const std::string& text) { comparing = comparing || text.rfind("Comparing ", 0) == 0; };
      fast.OnPumpEvents = [&] {
        if (comparing && ++pumps == stopAt) fast.Stop();
      };
      {
        TLogCapture quiet;
        EXPECT_TRUE(fast.Execute()) << "seed " << seed;
      }
      fast.OnPumpEvents = nullptr;
      TOutcome again = Search(fast);
      EXPECT_EQ(again.Groups, reference.Groups) << "seed " << seed << " stopped at " << stopAt;
      EXPECT_EQ(again.Failed, reference.Failed) << "seed " << seed << " stopped at " << stopAt;
    }
  }
  EXPECT_GT(groups, 60);
  EXPECT_GT(warnings, 20);
}

// The candidate loop against the plain all-pairs loop on randomised trees: the same groups in
// the same member order, the same failed marks, log lines, status lines and progress.

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <random>

#include "xEngine.h"
#include "xLog.h"
#include "xSearchOutcome.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

// A tree of files with few distinct sizes, so that equal sizes with unequal contents abound.
void MakeTree(const std::string& root, std::mt19937& random) {
  std::vector<std::string> originals;
  for (int i = 0; i < 6; ++i) {
    std::string content(static_cast<std::size_t>(random() % 4) * 3, 'x');
    for (char& c : content) c = static_cast<char>('a' + random() % 3);
    originals.push_back(content);
  }
  // Pictures: a few photos, their copies, and turned copies, some in the same size as others.
  std::vector<TTestImage> photos;
  for (int i = 0; i < 3; ++i) photos.push_back(PhotoLikeImage(24 + 8 * i, 24));
  for (int i = 0; i < static_cast<int>(random() % 8); ++i) {
    TTestImage picture = photos[random() % photos.size()];
    if (random() % 2) std::reverse(picture.Rgb.begin(), picture.Rgb.end());  // turned by 180 degrees
    if (random() % 3 == 0) picture.Rgb[random() % picture.Rgb.size()] ^= 0x40;
    WritePng(root + "/p" + std::to_string(i) + ".png", picture);
  }
  // MP3 files: tags from a few titles and artists, some fields empty, some in other letter case.
  const char* titles[] = {"", "Song", "SONG", "Other", "Song "};
  const char* artists[] = {"", "Band", "band", "Solo"};
  for (int i = 0; i < static_cast<int>(random() % 12); ++i) {
    auto field = [](const std::string& text, std::size_t width) {
      std::string padded = text;
      padded.resize(width, '\0');
      return padded;
    };
    std::string tag = "TAG" + field(titles[random() % 5], 30) + field(artists[random() % 4], 30) + field("", 30) +
                      field(random() % 2 ? "1999" : "", 4);
    tag.resize(128, '\0');
    WriteBytes(root + "/m" + std::to_string(i) + ".mp3", std::string(random() % 3 * 100 + 1, 'm') + tag);
  }
  const int files = 20 + static_cast<int>(random() % 50);
  for (int i = 0; i < files; ++i) {
    std::string folder = root;
    for (int depth = static_cast<int>(random() % 3); depth > 0; --depth) folder += "/d" + std::to_string(random() % 3);
    fs::create_directories(folder);
    const std::string& content = originals[random() % originals.size()];
    WriteBytes(folder + "/f" + std::to_string(i), content);
  }
}

}  // namespace

TEST(PairsDifferential, CandidatesGiveThePlainLoopsResults) {
  int visualGroups = 0, tagGroups = 0;  // the trees must exercise pictures and tags, not only content
  int vanishedWarnings = 0;             // and reads that fail
  for (unsigned seed = 1; seed <= 40; ++seed) {
    std::mt19937 random(seed);
    TTempDir home, tree;
    MakeTree(tree.Path(), random);
    TStorage storage(home.Path(), TInfo());
    TEngine fast(storage, false), plain(storage, false);
    plain.PairStrategy = TPairStrategy::Plain;
    const int method = static_cast<int>(seed % 5);
    const bool zeroIgnore = seed % 3 != 0;
    const bool visual = seed % 2 == 0;
    const auto variants = TPicVariants::FromBits(static_cast<std::uint8_t>(1 | (random() % 128)));
    const int tolerance = static_cast<int>(random() % 11);
    for (TEngine* engine : {&fast, &plain}) {
      engine->AddFolder(tree.Path());
      engine->SetFileComp(method);
      engine->Options.ZeroIgnore = zeroIgnore;
      engine->Options.PicsComp = visual;
      engine->Options.PicVariants = variants;
      engine->Options.Tolerance = tolerance;
      engine->Options.Cache = false;
    }
    const TOutcome first = Search(fast);
    ASSERT_EQ(first, Search(plain)) << "seed " << seed;
    for (const auto& group : first.Groups)
      if (visual && group.front().find("/p") != std::string::npos) ++visualGroups;
    for (const auto& group : first.Groups)
      if (group.front().find(".mp3") != std::string::npos) ++tagGroups;

    // Files that vanish before a search without rescan fail as they are read.
    std::vector<fs::path> all;
    for (const auto& entry : fs::recursive_directory_iterator(tree.Path()))
      if (entry.is_regular_file()) all.push_back(entry.path());
    for (std::size_t i = 0; i < all.size(); i += 1 + random() % 5) fs::remove(all[i]);
    const TOutcome second = Search(fast);
    EXPECT_EQ(second, Search(plain)) << "seed " << seed << " after removals";

    // Files that vanish right after they were scanned fail when their contents are first read:
    // the warnings must come in the same order, for the same files.
    TOutcome vanished[2];
    int which = 0;
    for (TEngine* engine : {&fast, &plain}) {
      TTempDir copy;
      fs::copy(tree.Path(), copy.Path(), fs::copy_options::recursive);
      engine->Folders.clear();
      engine->AddFolder(copy.Path());
      engine->OnPumpEvents = [engine] {
        const int last = engine->FileCount() - 1;
        if (last >= 0 && last % 4 == 1) fs::remove(engine->Files(last)->FileName);
      };
      vanished[which] = Search(*engine);
      // The two copies lie in different folders: name both alike.
      auto rename = [&](std::string& text) {
        for (std::size_t at; (at = text.find(copy.Path())) != std::string::npos;) text.replace(at, copy.Path().size(), "<copy>");
      };
      for (auto& line : vanished[which].Log) rename(line);
      for (auto& line : vanished[which].Statuses) rename(line);
      for (auto& group : vanished[which].Groups)
        for (auto& name : group) rename(name);
      engine->OnPumpEvents = nullptr;
      engine->Folders.clear();
      engine->AddFolder(tree.Path());
      ++which;
    }
    EXPECT_EQ(vanished[0], vanished[1]) << "seed " << seed << " vanishing files";
    for (const auto& line : vanished[0].Log) vanishedWarnings += line.rfind("WARNING", 0) == 0 ? 1 : 0;

    // A stop at the same status line ends both alike.
    for (TEngine* engine : {&fast, &plain}) engine->NeedRescan = true;
    const std::string stopAt = "Comparing : " + std::to_string(1 + random() % 10) + " out of";
    TOutcome stopped[2];
    int k = 0;
    for (TEngine* engine : {&fast, &plain}) {
      TLogCapture log;
      engine->OnStatus = [&, engine](const std::string& text) {
        if (text.rfind(stopAt, 0) == 0) engine->Stop();
      };
      engine->Execute();
      stopped[k].LastError = engine->LastError;
      for (int g = 0; g < engine->GroupCount(); ++g) stopped[k].Groups.push_back({std::to_string(engine->Groups(g)->Count())});
      ++k;
    }
    EXPECT_EQ(stopped[0].LastError, stopped[1].LastError) << "seed " << seed << " stopped";
    EXPECT_EQ(stopped[0].Groups, stopped[1].Groups) << "seed " << seed << " stopped";
  }
  EXPECT_GT(visualGroups, 5);
  EXPECT_GT(tagGroups, 5);
  EXPECT_GT(vanishedWarnings, 20);
}

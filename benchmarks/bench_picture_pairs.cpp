// The comparison phase of a visual search alone: the signatures of a folder of pictures (taken
// from a signature cache, analysed into it on the first run), then one search per tolerance
// without rescanning, timed from the first pair to the last. Prints a Markdown table with the
// share of picture pairs scored below the threshold and of those never handed to the decision, and
// the peak resident memory of the process.
//
// Usage: bench_picture_pairs FOLDER CACHE_HOME [--count N] [--variants BITS] [--tolerances 0,1,..]
//        [--plain]
//   BITS: the variant set as a number (1 unchanged only, 127 every variant and greyscale)

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "xCache.h"
#include "xEngine.h"
#include "xStorage.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FOLDER CACHE_HOME [--count N] [--variants BITS] [--tolerances LIST] [--plain]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1], home = argv[2];
  std::size_t count = SIZE_MAX;
  int bits = 1;
  std::vector<int> tolerances = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  bool plain = false;
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--count" && i + 1 < argc) {
      count = std::strtoul(argv[++i], nullptr, 10);
    } else if (option == "--variants" && i + 1 < argc) {
      bits = std::atoi(argv[++i]);
    } else if (option == "--tolerances" && i + 1 < argc) {
      tolerances.clear();
      std::stringstream list(argv[++i]);
      for (std::string item; std::getline(list, item, ',');) tolerances.push_back(std::atoi(item.c_str()));
    } else if (option == "--plain") {
      plain = true;
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  const auto variants = TPicVariants::FromBits(static_cast<std::uint8_t>(bits | 1));

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) names.push_back(entry.path().string());
  std::sort(names.begin(), names.end());
  if (names.size() > count) names.resize(count);

  // The engine's settings, and the signature cache it opens with them, in a folder of their own:
  // closing that cache at the end would otherwise write its empty index over the one filled here.
  fs::create_directories(home + "/engine");
  TStorage storage(home + "/engine", TInfo());
  TEngine engine(storage, false);
  engine.AddFolder(folder);
  engine.Options.PicsComp = true;
  engine.Options.PicsOnly = true;
  engine.Options.PicVariants = variants;
  engine.Options.Cache = false;
  engine.Options.ZeroIgnore = false;
  engine.PairStrategy = plain ? TPairStrategy::Plain : TPairStrategy::Candidates;
  {
    TCache cache(home + "/");
    if (!cache.Open(static_cast<std::int32_t>(names.size()) + 1000)) {
      std::fprintf(stderr, "%s\n", cache.LastError().c_str());
      return 1;
    }
    TPixan analyser;
    std::size_t done = 0;
    const auto all = TPicVariants::FromBits(0x7F);
    for (const std::string& name : names) {
      TFileData* record = engine.AddFile(name, 0, static_cast<std::int64_t>(fs::file_size(name)), true);
      if (!record) continue;
      auto& picture = static_cast<TPicData&>(*record);
      TPicSign sign(all);
      TPictureSize size;
      struct stat info {};
      const TCacheStamp stamp = stat(name.c_str(), &info) == 0
                                    ? TCacheStamp{info.st_size, StatMTimeNs(info), info.st_ino}
                                    : TCacheStamp{};
      if (!cache.GetSignature(name, stamp, sign, analyser, all, size)) {
        picture.Failed = true;
        continue;
      }
      picture.Sign = TPicSign(variants);
      picture.Sign.HTrace() = sign.HTrace();
      for (int v = 0; v < LTraceVariants; ++v)
        if (picture.Sign.LTrace(v)) *picture.Sign.LTrace(v) = *sign.LTrace(v);
      picture.Width = size.Width;
      picture.Height = size.Height;
      if (++done % 5000 == 0) std::fprintf(stderr, "signatures: %zu of %zu\n", done, names.size());
    }
    if (!cache.Save()) std::fprintf(stderr, "%s\n", cache.LastError().c_str());
  }
  engine.NeedRescan = false;

  std::printf("%zu pictures, variants %d, %s loop\n\n", names.size(), variants.Bits(), plain ? "plain" : "candidate");
  std::printf("| tolerance | comparison (wall) | CPU | picture pairs | scored below the threshold | never decided | groups | pictures in groups |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (const int tolerance : tolerances) {
    engine.Options.Tolerance = tolerance;
    engine.NeedRescan = false;
    const std::clock_t cpuStart = std::clock();
    const bool ran = engine.Execute();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    if (!ran) {
      std::fprintf(stderr, "search failed: %s\n", engine.LastError.c_str());
      return 1;
    }
    const TSearchStats& stats = engine.Stats();
    int members = 0;
    for (int g = 0; g < engine.GroupCount(); ++g) members += engine.Groups(g)->Count();
    auto share = [&](std::int64_t part) {
      return stats.PicturePairs > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(stats.PicturePairs) : 0.0;
    };
    std::printf("| %d | %.2f s | %.2f s | %lld | %.3f %% | %.3f %% | %d | %d |\n", tolerance, stats.CompareSeconds, cpu,
                static_cast<long long>(stats.PicturePairs), share(stats.PicturePairsBelow),
                share(stats.PicturePairsSkipped), engine.GroupCount(), members);
    std::fflush(stdout);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("\npeak resident memory: %.0f MB\n", static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}

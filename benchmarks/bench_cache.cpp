// The signature cache with 50,000 pictures: opening it, a complete hit, a miss.
// The cache files are written directly (analysing 50,000 pictures would take minutes); their
// layout is the cache's own, so Open checks them like any other. Figures are with the files
// in the page cache, as they are from the second search on.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "xCache.h"

namespace {

constexpr int Pictures = 50000;

void Put(std::vector<std::uint8_t>& out, std::size_t at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A made-up file for each picture: the pictures themselves are never read.
TCacheStamp StampOf(std::size_t i) {
  return {static_cast<std::int64_t>(2'000'000 + i), static_cast<std::int64_t>(1'600'000'000'000'000'000 + i * 997),
          static_cast<std::uint64_t>(i + 1)};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  std::fclose(file);
}

// A cache folder of Pictures pictures, each with the L-traces of `variants` elements.
class TBenchCache {
public:
  explicit TBenchCache(int variants) {
    char pattern[] = "/tmp/twinsifter-bench-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    Base = pattern;
    const std::string folder = Base + "/Cache/";
    std::filesystem::create_directories(folder);

    std::mt19937 random(42);
    for (int i = 0; i < Pictures; ++i)
      Names.push_back("/home/user/Pictures/" + std::to_string(2000 + i % 25) + "/holiday " +
                      std::to_string(i / 25 % 400) + "/IMG_" + std::to_string(100000 + random() % 900000) + "_" +
                      std::to_string(i) + ".jpg");
    // Records in an order unrelated to the names, as a cache filled over time has them.
    std::vector<std::int32_t> recordOf(Pictures);
    for (int i = 0; i < Pictures; ++i) recordOf[static_cast<std::size_t>(i)] = i + 1;
    std::shuffle(recordOf.begin(), recordOf.end(), random);

    std::vector<std::uint8_t> ncd(static_cast<std::size_t>(Pictures + 1) * NameRecordSize);
    std::vector<std::uint8_t> lcd(static_cast<std::size_t>(Pictures * variants + 1) * LRecordSize);
    std::vector<std::uint8_t> hcd(static_cast<std::size_t>(Pictures + 1) * HRecordSize);
    for (auto* file : {&ncd, &lcd, &hcd}) Put(*file, 0, static_cast<std::int32_t>(CacheMagic));
    for (std::size_t i = 0; i < lcd.size(); ++i)
      if (i >= LRecordSize) lcd[i] = static_cast<std::uint8_t>(random());
    std::int32_t nextL = 1;
    for (int i = 0; i < Pictures; ++i) {
      const std::int32_t record = recordOf[static_cast<std::size_t>(i)];
      const std::size_t at = static_cast<std::size_t>(record) * NameRecordSize;
      const std::string& name = Names[static_cast<std::size_t>(i)];
      std::copy(name.begin(), name.end(), ncd.begin() + static_cast<std::ptrdiff_t>(at));
      Put(ncd, at + 256, 4000);
      Put(ncd, at + 260, 3000);
      for (int v = 0; v < LTraceVariants; ++v) Put(ncd, at + 268 + 4 * static_cast<std::size_t>(v), v < variants ? nextL++ : -1);
      Put(ncd, at + 292, record);
      Put(ncd, at + 264, static_cast<std::int32_t>(CacheCheckValue(ncd.data() + at, StampOf(static_cast<std::size_t>(i)))));
    }
    std::vector<std::size_t> order(Names.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) { return Names[a] < Names[b]; });
    std::vector<std::uint8_t> nid(order.size() * 4);
    for (std::size_t k = 0; k < order.size(); ++k) Put(nid, 4 * k, recordOf[order[k]]);
    WriteFile(folder + "cache.ncd", ncd);
    WriteFile(folder + "cache.lcd", lcd);
    WriteFile(folder + "cache.hcd", hcd);
    WriteFile(folder + "cache.nid", nid);
  }
  ~TBenchCache() {
    std::error_code ignored;
    std::filesystem::remove_all(Base, ignored);
  }

  std::string Base;
  std::vector<std::string> Names;
};

TBenchCache& OneVariant() {
  static TBenchCache cache(1);
  return cache;
}

TBenchCache& AllVariants() {
  static TBenchCache cache(LTraceVariants);
  return cache;
}

void BM_CacheOpen(benchmark::State& state) {
  TBenchCache& files = OneVariant();
  for (auto _ : state) {
    auto cache = std::make_unique<TCache>(files.Base);
    if (!cache->Open(Pictures)) state.SkipWithError(cache->LastError().c_str());
    state.PauseTiming();
    cache.reset();  // saving it again is not part of opening
    state.ResumeTiming();
  }
}
BENCHMARK(BM_CacheOpen)->Unit(benchmark::kMillisecond);

void Hit(benchmark::State& state, TBenchCache& files, TPicVariants set) {
  TCache cache(files.Base);
  if (!cache.Open(Pictures)) {
    state.SkipWithError(cache.LastError().c_str());
    return;
  }
  TPixan analyser;  // never asked: every request is a hit
  TPicSign signature(set);
  std::mt19937 random(7);
  std::size_t k = 0;
  std::vector<std::size_t> picks(4096);
  for (auto& pick : picks) pick = random() % files.Names.size();
  for (auto _ : state) {
    TPictureSize size;
    const std::size_t pick = picks[k++ % picks.size()];
    if (!cache.GetSignature(files.Names[pick], StampOf(pick), signature, analyser, set, size) || size.Width != 4000) {
      state.SkipWithError("not a hit");
      break;
    }
    benchmark::DoNotOptimize(signature);
  }
}

void BM_CacheHitOriginal(benchmark::State& state) { Hit(state, OneVariant(), TPicVariants()); }
BENCHMARK(BM_CacheHitOriginal)->Unit(benchmark::kMicrosecond);

void BM_CacheHitAllVariants(benchmark::State& state) {
  TPicVariants set;
  for (int v = 0; v < LTraceVariants; ++v) set.Include(v);
  Hit(state, AllVariants(), set);
}
BENCHMARK(BM_CacheHitAllVariants)->Unit(benchmark::kMicrosecond);

void BM_CacheFindMissing(benchmark::State& state) {
  TBenchCache& files = OneVariant();
  TCache cache(files.Base);
  if (!cache.Open(Pictures)) {
    state.SkipWithError(cache.LastError().c_str());
    return;
  }
  std::size_t k = 0;
  for (auto _ : state) {
    const std::string name = files.Names[k++ % files.Names.size()] + ".missing";
    benchmark::DoNotOptimize(cache.Find(name));
  }
}
BENCHMARK(BM_CacheFindMissing)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

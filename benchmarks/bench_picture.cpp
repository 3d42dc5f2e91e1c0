// Picture pipeline speed: decoding, the analysis after decoding, and trace comparison.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <jpeglib.h>

#include "xPixan.h"
#include "xTestFiles.h"
#include "xTraceTiles.h"

namespace {

struct TFiles {
  TTempDir Dir;
  std::string Jpeg, Png, Small;
  TFiles() {
    const TTestImage photo = PhotoLikeImage(2560, 1600);
    Jpeg = Dir.File("photo.jpg");
    WriteJpeg(Jpeg, photo, 90);
    Png = Dir.File("photo.png");
    WritePng(Png, photo);
    Small = Dir.File("small.png");
    WritePng(Small, PhotoLikeImage(640, 480));
  }
};

const TFiles& Files() {
  static const TFiles files;
  return files;
}

void SetPixels(benchmark::State& state, std::int64_t pixels) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) * static_cast<double>(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
}

// libjpeg-turbo's own full-resolution decode of every row, the yardstick for our JPEG path.
void LibjpegFullDecode(benchmark::State& state) {
  std::int64_t pixels = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(Files().Jpeg.c_str(), "rb");
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<JSAMPLE> row(info.output_width * 3);
    JSAMPROW rows[1] = {row.data()};
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, rows, 1);
    pixels = static_cast<std::int64_t>(info.output_width) * info.output_height;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    benchmark::DoNotOptimize(row.data());
  }
  SetPixels(state, pixels);
}
BENCHMARK(LibjpegFullDecode)->Unit(benchmark::kMillisecond);

void LoadJpeg(benchmark::State& state) {
  TPixan analyser;
  for (auto _ : state) benchmark::DoNotOptimize(analyser.LoadPicture(Files().Jpeg));
  SetPixels(state, 2560 * 1600);
}
BENCHMARK(LoadJpeg)->Unit(benchmark::kMillisecond);

void LoadPng(benchmark::State& state) {
  TPixan analyser;
  for (auto _ : state) benchmark::DoNotOptimize(analyser.LoadPicture(Files().Png));
  SetPixels(state, 2560 * 1600);
}
BENCHMARK(LoadPng)->Unit(benchmark::kMillisecond);

// Everything after decoding: grid, hue histogram, Haar transforms and traces of the given variants.
void AnalyseLoaded(benchmark::State& state) {
  TPixan analyser;
  analyser.LoadPicture(Files().Small);
  const TPicVariants variants = TPicVariants::FromBits(static_cast<std::uint8_t>(state.range(0)));
  TPicSign signature(variants);
  for (auto _ : state) benchmark::DoNotOptimize(analyser.AnalyseLoaded(signature, variants));
}
BENCHMARK(AnalyseLoaded)->Arg(0x01)->Arg(0x3F)->Unit(benchmark::kMicrosecond);

void CompareLTraces(benchmark::State& state) {
  TPixan analyser;
  TPicSign a, b;
  analyser.Analyse(Files().Small, a, {});
  analyser.Analyse(Files().Jpeg, b, {});
  const TPicTrace& x = *a.LTrace(pvOriginal);
  const TPicTrace& y = *b.LTrace(pvOriginal);
  for (auto _ : state) {
    benchmark::DoNotOptimize(TPixan::CompareTraces(x, y, false));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CompareLTraces);

void CompareHTraces(benchmark::State& state) {
  TPixan analyser;
  TPicSign a, b;
  analyser.Analyse(Files().Small, a, {});
  analyser.Analyse(Files().Jpeg, b, {});
  for (auto _ : state) {
    benchmark::DoNotOptimize(TPixan::CompareTraces(a.HTrace(), b.HTrace(), true));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(CompareHTraces);

// One tile (8 pictures against 32, unchanged traces only) by each kernel the processor runs;
// items are picture pairs. Kernels by number: 0 plain, 1 AVX2, 2 AVX-VNNI, 3 AVX-512 VNNI.
void TilePairs(benchmark::State& state) {
  const auto kind = static_cast<TTileKernelKind>(state.range(0));
  if (!TileKernelAvailable(kind)) {
    state.SkipWithError("not on this processor");
    return;
  }
  std::vector<std::int8_t> rowBytes(TileRows * LTraceLength), rowHue(TileRows * HTraceLength);
  std::vector<std::uint8_t> packedL(TileBlocks * PackedLength(LTraceLength)), packedH(TileBlocks * PackedLength(HTraceLength));
  std::uint32_t seed = 1;
  auto next = [&] { return static_cast<std::uint8_t>((seed = seed * 1664525U + 1013904223U) >> 24); };
  for (auto& byte : rowBytes) byte = static_cast<std::int8_t>(next() % 64 - 32);
  for (auto& byte : rowHue) byte = static_cast<std::int8_t>(next());
  for (auto& byte : packedL) byte = next();
  for (auto& byte : packedH) byte = next();
  std::vector<std::int32_t> offsets(TileColumns, 0);
  TTileRows rows{};
  for (int r = 0; r < TileRows; ++r) {
    rows.L[r] = &rowBytes[static_cast<std::size_t>(r) * LTraceLength];
    rows.Hue[r] = &rowHue[static_cast<std::size_t>(r) * HTraceLength];
  }
  TTileColumns columns{};
  columns.Variants = 1;
  columns.HOffset = offsets.data();
  for (int b = 0; b < TileBlocks; ++b) {
    columns.L[0][b] = &packedL[static_cast<std::size_t>(b) * PackedLength(LTraceLength)];
    columns.Hue[b] = &packedH[static_cast<std::size_t>(b) * PackedLength(HTraceLength)];
  }
  TTileLine line;
  line.Base = 8000;
  const TTileKernel kernel = TileKernel(kind);
  TTileOut out;
  for (auto _ : state) {
    kernel(rows, columns, line, out);
    benchmark::DoNotOptimize(out.Pass[0]);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * TileRows * TileColumns);
}
BENCHMARK(TilePairs)->ArgName("kernel")->DenseRange(0, static_cast<int>(std::size(AllTileKernelKinds)) - 1);

}  // namespace

int main(int argc, char** argv) {
  Files();  // write the pictures before anything is timed
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

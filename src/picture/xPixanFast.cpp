// The analyser's fast path. It computes every value the step-by-step algorithm keeps, with the
// same float operations in the same order, and skips what the traces never read:
// - the brightness of a pixel comes from per-byte tables of the same double products;
// - of the seven Haar levels on the 128 x 128 grid, the first two only feed the top-left
//   32 x 32 block through their pair averages, so those averages are computed directly and the
//   remaining five levels run on the 32 x 32 block alone;
// - a flipped or half-turned picture pairs the same pixels in the same order as the unchanged
//   one (a + b equals b + a exactly), so its block averages are the unchanged ones rearranged;
//   a quarter turn pairs columns before rows, so it rearranges averages taken in that order.
// The test suite holds this path to AnalyseLoadedPlain on many pictures.

#include <array>
#include <cmath>

#include "xAssert.h"
#include "xColors.h"
#include "xPixan.h"

namespace {

struct TBrightnessTables {
  std::array<float, 256> Unit;  // byte / 255, as a float
  std::array<double, 256> Red, Green, Blue;
  TBrightnessTables() {
    for (int i = 0; i < 256; ++i) {
      Unit[i] = static_cast<float>(i) / 255.0f;
      Red[i] = 0.299 * Unit[i];
      Green[i] = 0.587 * Unit[i];
      Blue[i] = 0.114 * Unit[i];
    }
  }
};

const TBrightnessTables& Tables() {
  static const TBrightnessTables tables;
  return tables;
}

inline float Average(float a, float b) { return (a + b) * 0.5f; }

constexpr int N = WorkingSize;
constexpr int H1 = N / 2;  // after the first level
constexpr int H2 = N / 4;  // after the second: TraceSide

// Block averages of the grid g (g[x * N + y]): pairs along the second index first, then along the
// first, twice, as the transform's rows-then-columns levels do. `a` receives H2 x H2 values.
void AveragesSecondFirst(const float* g, float* a) {
  static thread_local std::array<float, N * H1> r1;
  static thread_local std::array<float, H1 * H1> l1;
  static thread_local std::array<float, H1 * H2> r2;
  for (int x = 0; x < N; ++x)
    for (int j = 0; j < H1; ++j) r1[x * H1 + j] = Average(g[x * N + 2 * j], g[x * N + 2 * j + 1]);
  for (int i = 0; i < H1; ++i)
    for (int j = 0; j < H1; ++j) l1[i * H1 + j] = Average(r1[2 * i * H1 + j], r1[(2 * i + 1) * H1 + j]);
  for (int i = 0; i < H1; ++i)
    for (int k = 0; k < H2; ++k) r2[i * H2 + k] = Average(l1[i * H1 + 2 * k], l1[i * H1 + 2 * k + 1]);
  for (int i = 0; i < H2; ++i)
    for (int k = 0; k < H2; ++k) a[i * H2 + k] = Average(r2[2 * i * H2 + k], r2[(2 * i + 1) * H2 + k]);
}

// The same averages with pairs along the first index first.
void AveragesFirstFirst(const float* g, float* a) {
  static thread_local std::array<float, H1 * N> c1;
  static thread_local std::array<float, H1 * H1> l1;
  static thread_local std::array<float, H2 * H1> c2;
  for (int i = 0; i < H1; ++i)
    for (int y = 0; y < N; ++y) c1[i * N + y] = Average(g[2 * i * N + y], g[(2 * i + 1) * N + y]);
  for (int i = 0; i < H1; ++i)
    for (int j = 0; j < H1; ++j) l1[i * H1 + j] = Average(c1[i * N + 2 * j], c1[i * N + 2 * j + 1]);
  for (int m = 0; m < H2; ++m)
    for (int j = 0; j < H1; ++j) c2[m * H1 + j] = Average(l1[2 * m * H1 + j], l1[(2 * m + 1) * H1 + j]);
  for (int m = 0; m < H2; ++m)
    for (int k = 0; k < H2; ++k) a[m * H2 + k] = Average(c2[m * H1 + 2 * k], c2[m * H1 + 2 * k + 1]);
}

}  // namespace

bool TPixan::AnalyseLoaded(TPicSign& signature, TPicVariants variants) {
  static_assert(H2 == TraceSide, "the traces keep the block the first two levels leave");
  TS_ASSERT(Working.Width == N && Working.Height == N);
  const TBrightnessTables& t = Tables();

  // Brightness grid and hue histogram in one pass.
  float* grid = Grid_.Data();
  float* bins = Hue.Data();
  Hue.Fill(0);
  for (int y = 0; y < N; ++y) {
    const std::uint8_t* pixel = Working.Row(y);
    for (int x = 0; x < N; ++x, pixel += 3) {
      const std::uint8_t b = pixel[0], g = pixel[1], r = pixel[2];
      grid[x * N + y] = static_cast<float>(t.Red[r] + t.Green[g] + t.Blue[b]);
      const float hue = RGBToHSL({t.Unit[r], t.Unit[g], t.Unit[b]}).B;
      const long bin = std::lrint(static_cast<double>(HueBins) * hue);
      bins[bin < HueBins ? bin : HueBins - 1] += 1;
    }
  }
  Hue.Normalize();
  StoreHueTrace(Hue, signature.HTrace());

  AveragesSecondFirst(grid, Averages.Data());
  const bool quarterTurns = variants.Contains(pvRotate90Left) || variants.Contains(pvRotate90Right);
  if (quarterTurns) AveragesFirstFirst(grid, AveragesT.Data());

  constexpr int L = TraceSide - 1;
  for (int variant = pvOriginal; variant <= pvFlipHorizontal; ++variant) {
    if (variant != pvOriginal && !variants.Contains(variant)) continue;
    TPicTrace* trace = signature.LTrace(variant);
    TS_ASSERT(trace != nullptr);
    const float* a = Averages.Data();
    const float* at = AveragesT.Data();
    float* block = Block.Data();
    for (int i = 0; i < TraceSide; ++i)
      for (int j = 0; j < TraceSide; ++j) {
        float value = 0;
        switch (variant) {
          case pvOriginal: value = a[i * TraceSide + j]; break;
          case pvRotate180: value = a[(L - i) * TraceSide + (L - j)]; break;
          case pvRotate90Left: value = at[(L - j) * TraceSide + i]; break;
          case pvRotate90Right: value = at[j * TraceSide + (L - i)]; break;
          case pvFlipVertical: value = a[i * TraceSide + (L - j)]; break;
          case pvFlipHorizontal: value = a[(L - i) * TraceSide + j]; break;
        }
        block[i * TraceSide + j] = value;
      }
    if (!Transformer.Transform(Block, 1)) {
      LastError_ = "Failed to analyse picture";
      return false;
    }
    ExtractTrace(Block, *trace, 0, L, 0, L);
  }
  return true;
}

#include "xPixan.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "xAssert.h"
#include "xColors.h"
#include "xPicDecode.h"
#include "xSampler.h"

namespace {

// Nearest integer with halves to even (the default rounding mode).
long RoundEven(double value) { return std::lrint(value); }

}  // namespace

TPixan::TPixan()
    : Working(WorkingSize, WorkingSize),
      Variant(Working),
      Staging(WorkingSize, WorkingSize),
      Grid_(WorkingSize, WorkingSize),
      Hue(HueBins),
      Block(TraceSide, TraceSide),
      Averages(TraceSide, TraceSide),
      AveragesT(TraceSide, TraceSide) {}

bool TPixan::LoadPicture(const std::string& name) {
  LastError_.clear();
  struct stat info {};
  if (::stat(name.c_str(), &info) != 0) {
    LastError_ = "File \"" + name + "\" not found";
    return false;
  }
  const std::string extension = LowerExtension(name);
  TPointSampler sampler(Staging);
  const bool direct = extension == ".jpg" || extension == ".jpeg" || extension == ".png" || extension == ".bmp";
  const TDecodeResult result = DecodePicture(name, sampler);
  if (result != TDecodeResult::Ok) {
    if (!direct) {
      LastError_ = result == TDecodeResult::Empty ? "Empty image in \"" + name + "\"" : "Failed to load \"" + name + "\"";
    }
    return false;
  }
  std::swap(Working, Staging);
  PictureSize_ = {sampler.SourceWidth(), sampler.SourceHeight()};
  return true;
}

void TPixan::FillGrid(const TBitmap24& picture, bool withHue) {
  TS_ASSERT(picture.Width == WorkingSize && picture.Height == WorkingSize);
  TS_ASSERT(Grid_.Rows() == WorkingSize && Grid_.Cols() == WorkingSize);
  if (withHue) Hue.Fill(0);
  float* grid = Grid_.Data();
  float* bins = Hue.Data();
  for (int y = 0; y < WorkingSize; ++y) {
    const std::uint8_t* pixel = picture.Row(y);
    for (int x = 0; x < WorkingSize; ++x, pixel += 3) {
      const float b = pixel[0] / 255.0f;
      const float g = pixel[1] / 255.0f;
      const float r = pixel[2] / 255.0f;
      grid[x * WorkingSize + y] = static_cast<float>(0.299 * r + 0.587 * g + 0.114 * b);
      if (withHue) {
        const float hue = RGBToHSL({r, g, b}).B;
        const long bin = std::min(RoundEven(static_cast<double>(HueBins) * hue), long{HueBins - 1});
        bins[bin] += 1;
      }
    }
  }
  if (withHue) Hue.Normalize();
}

namespace {

// Writes destination pixel (x, y) from source pixel source(x, y) for every destination pixel.
template <typename SourceOf>
void Remap(const TBitmap24& source, TBitmap24& destination, int width, int height, SourceOf sourceOf) {
  destination.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* out = destination.Row(y);
    for (int x = 0; x < width; ++x, out += 3) {
      const auto [sx, sy] = sourceOf(x, y);
      const std::uint8_t* in = source.Row(sy) + static_cast<std::ptrdiff_t>(sx) * 3;
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
    }
  }
}

struct TPoint {
  int X, Y;
};

}  // namespace

void TPixan::Rotate180(const TBitmap24& source, TBitmap24& destination) {
  const int w = source.Width, h = source.Height;
  Remap(source, destination, w, h, [w, h](int x, int y) { return TPoint{w - 1 - x, h - 1 - y}; });
}

void TPixan::Rotate90Left(const TBitmap24& source, TBitmap24& destination) {
  const int w = source.Width, h = source.Height;
  Remap(source, destination, h, w, [w](int x, int y) { return TPoint{w - 1 - y, x}; });
}

void TPixan::Rotate90Right(const TBitmap24& source, TBitmap24& destination) {
  const int w = source.Width, h = source.Height;
  Remap(source, destination, h, w, [h](int x, int y) { return TPoint{y, h - 1 - x}; });
}

void TPixan::FlipVertical(const TBitmap24& source, TBitmap24& destination) {
  const int w = source.Width, h = source.Height;
  Remap(source, destination, w, h, [h](int x, int y) { return TPoint{x, h - 1 - y}; });
}

void TPixan::FlipHorizontal(const TBitmap24& source, TBitmap24& destination) {
  const int w = source.Width, h = source.Height;
  Remap(source, destination, w, h, [w](int x, int y) { return TPoint{w - 1 - x, y}; });
}

bool TPixan::Analyse(const std::string& name, TPicSign& signature, TPicVariants variants) {
  LastError_.clear();
  signature.SetHLength(0);
  signature.SetLLength(pvOriginal, 0);
  using TClock = std::chrono::steady_clock;
  const auto start = TClock::now();
  const bool loaded = LoadPicture(name);
  const auto decoded = TClock::now();
  ++Stats_.Decoded;
  Stats_.DecodeSeconds += std::chrono::duration<double>(decoded - start).count();
  if (!loaded) {
    if (LastError_.empty()) LastError_ = "Failed to load \"" + name + "\"";
    return false;
  }
  const bool analysed = AnalyseLoaded(signature, variants);
  Stats_.AnalysisSeconds += std::chrono::duration<double>(TClock::now() - decoded).count();
  return analysed;
}

bool TPixan::AnalyseLoadedPlain(TPicSign& signature, TPicVariants variants) {
  FillGrid(Working, true);
  if (!Transformer.Transform(Grid_, 1)) {
    LastError_ = "Failed to analyse picture";
    return false;
  }
  ExtractTrace(Grid_, *signature.LTrace(pvOriginal), 0, TraceSide - 1, 0, TraceSide - 1);
  KeepBlock();
  StoreHueTrace(Hue, signature.HTrace());
  using TTransform = void (*)(const TBitmap24&, TBitmap24&);
  static constexpr TTransform transforms[] = {nullptr, Rotate180, Rotate90Left, Rotate90Right, FlipVertical,
                                              FlipHorizontal};
  for (int variant = pvRotate180; variant <= pvFlipHorizontal; ++variant) {
    if (!variants.Contains(variant)) continue;
    TPicTrace* trace = signature.LTrace(variant);
    TS_ASSERT(trace != nullptr);
    transforms[variant](Working, Variant);
    FillGrid(Variant, false);
    if (!Transformer.Transform(Grid_, 1)) {
      LastError_ = "Failed to analyse picture";
      return false;
    }
    ExtractTrace(Grid_, *trace, 0, TraceSide - 1, 0, TraceSide - 1);
    KeepBlock();
  }
  return true;
}

void TPixan::KeepBlock() {
  for (int r = 0; r < TraceSide; ++r)
    for (int c = 0; c < TraceSide; ++c) Block.Items(r, c, Grid_.Items(r, c));
}

void TPixan::ExtractTrace(const TMatrix& grid, TPicTrace& trace, int r0, int r1, int c0, int c1) {
  const int n = (r1 - r0 + 1) * (c1 - c0 + 1);
  Coefficients.SetCount(n);
  int k = 0;
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) Coefficients.Items(k++, grid.Items(r, c));
  Coefficients.Normalize();
  trace.SetLength(n);
  const float* v = Coefficients.Data();
  std::uint8_t* bytes = trace.Data();
  for (int i = 0; i < n; ++i) {
    const long q = std::clamp(RoundEven(127.0 * v[i]), -127L, 127L);
    bytes[i] = static_cast<std::uint8_t>(static_cast<std::int8_t>(q));
  }
}

void TPixan::StoreHueTrace(const TVector& histogram, TPicTrace& trace) {
  trace.SetLength(histogram.Count());
  const float* bins = histogram.Data();
  std::uint8_t* bytes = trace.Data();
  for (int b = 0; b < histogram.Count(); ++b)
    bytes[b] = static_cast<std::uint8_t>(std::clamp(RoundEven(255.0 * bins[b]), 0L, 255L));
}

namespace {

// Dot products of two byte strings. Chunks of 16,384 keep each 32-bit partial sum exact
// (16,384 x 255 x 255 < 2^31). The loop vectorises; inlined into the clones below, it lets
// machines with AVX2 widen the bytes sixteen at a time, which halves an L-trace comparison.
template <typename T>
[[gnu::always_inline]] inline std::int64_t DotProduct(const T* x, const T* y, int n) {
  std::int64_t sum = 0;
  for (int start = 0; start < n; start += 16384) {
    const int end = std::min(n, start + 16384);
    std::int32_t partial = 0;
    for (int k = start; k < end; ++k) partial += static_cast<std::int32_t>(x[k]) * static_cast<std::int32_t>(y[k]);
    sum += partial;
  }
  return sum;
}

__attribute__((target_clones("avx2", "default"))) std::int64_t DotSigned(const std::int8_t* x, const std::int8_t* y,
                                                                          int n) {
  return DotProduct(x, y, n);
}

__attribute__((target_clones("avx2", "default"))) std::int64_t DotUnsigned(const std::uint8_t* x,
                                                                            const std::uint8_t* y, int n) {
  return DotProduct(x, y, n);
}

}  // namespace

float TPixan::CompareTraces(const TPicTrace& a, const TPicTrace& b, bool unsignedBytes) {
  TS_ASSERT(a.Length() == b.Length());
  if (unsignedBytes) return TraceSimilarity(DotUnsigned(a.Data(), b.Data(), a.Length()), true);
  const auto* x = reinterpret_cast<const std::int8_t*>(a.Data());
  const auto* y = reinterpret_cast<const std::int8_t*>(b.Data());
  return TraceSimilarity(DotSigned(x, y, a.Length()), false);
}

void TAnalysisResult::CopyTo(TPicSign& signature, TPicVariants variants) const {
  signature.HTrace() = Sign.HTrace();
  for (int variant = pvOriginal; variant < LTraceVariants; ++variant) {
    if (!variants.Contains(variant) && variant != pvOriginal) continue;
    TPicTrace* trace = signature.LTrace(variant);
    TS_ASSERT(trace != nullptr);
    *trace = *Sign.LTrace(variant);
  }
}

#include "xPixan.h"

#include <immintrin.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "xAssert.h"
#include "xColors.h"
#include "xPicDecode.h"
#include "xSampler.h"
#include "xTraceKernels.h"

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
  sampler.Cancel = Cancel_;
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

// Each kernel sums blocks of TraceBlock bytes in 32-bit lanes and adds the blocks up in 64 bits:
// a block's sum, and the sum of any of its lanes, stays below 16,384 x 255 x 255 < 2^31.
constexpr int TraceBlock = 16384;

template <typename T>
std::int64_t DotScalar(const T* x, const T* y, int n) {
  std::int64_t sum = 0;
  for (int k = 0; k < n; ++k) sum += static_cast<std::int64_t>(x[k]) * static_cast<std::int64_t>(y[k]);
  return sum;
}

// Sixteen bytes widened to 16 bits, sign- or zero-extended.
template <bool Signed>
__attribute__((target("avx2"))) inline __m256i Widen16(const void* p) {
  const __m128i bytes = _mm_loadu_si128(static_cast<const __m128i*>(p));
  return Signed ? _mm256_cvtepi8_epi16(bytes) : _mm256_cvtepu8_epi16(bytes);
}

__attribute__((target("avx2"))) inline std::int32_t LaneSum(__m256i v) {
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return _mm_cvtsi128_si32(s);
}

// Pairs of 16-bit products summed into 32-bit lanes (vpmaddwd), four chains to hide its latency.
template <bool Signed, typename T>
__attribute__((target("avx2"))) std::int64_t DotAvx2(const T* x, const T* y, int n) {
  std::int64_t sum = 0;
  int k = 0;
  while (n - k >= 16) {
    const int end = k + std::min(n - k, TraceBlock) / 16 * 16;
    __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
    for (; end - k >= 64; k += 64) {
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(Widen16<Signed>(x + k), Widen16<Signed>(y + k)));
      a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(Widen16<Signed>(x + k + 16), Widen16<Signed>(y + k + 16)));
      a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(Widen16<Signed>(x + k + 32), Widen16<Signed>(y + k + 32)));
      a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(Widen16<Signed>(x + k + 48), Widen16<Signed>(y + k + 48)));
    }
    for (; k < end; k += 16)
      a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(Widen16<Signed>(x + k), Widen16<Signed>(y + k)));
    sum += LaneSum(_mm256_add_epi32(_mm256_add_epi32(a0, a1), _mm256_add_epi32(a2, a3)));
  }
  for (; k < n; ++k) sum += static_cast<std::int32_t>(x[k]) * static_cast<std::int32_t>(y[k]);
  return sum;
}

// vpdpbusd multiplies unsigned by signed bytes. Signed traces: x + 128 is unsigned, and
// sum((x + 128) y) - sum(128 y) is the dot product. Unsigned traces: y - 128 is signed, and
// sum(x (y - 128)) - sum(x (-128)) is. Lane by lane the difference is the dot product of that
// lane's bytes, and every partial sum stays within 16,384 x 255 x 128 < 2^31 in a block.
// The last bytes come in through a masked load, whose missing bytes are zeros and add nothing.
// 256-bit registers measured no slower than 512-bit ones, and let the reduction stay AVX2.
#define TS_VNNI_TARGET __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512vnni")))

template <bool Signed>
TS_VNNI_TARGET inline void VnniStep(__m256i& dot, __m256i& side, __m256i a, __m256i b) {
  const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));  // 128 unsigned, -128 signed
  if constexpr (Signed) {
    dot = _mm256_dpbusd_epi32(dot, _mm256_xor_si256(a, flip), b);
    side = _mm256_dpbusd_epi32(side, flip, b);
  } else {
    dot = _mm256_dpbusd_epi32(dot, a, _mm256_xor_si256(b, flip));
    side = _mm256_dpbusd_epi32(side, a, flip);
  }
}

TS_VNNI_TARGET inline __m256i Load32(const std::uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

template <bool Signed>
TS_VNNI_TARGET std::int64_t DotVnni(const std::uint8_t* x, const std::uint8_t* y, int n) {
  std::int64_t sum = 0;
  for (int start = 0; start < n; start += TraceBlock) {
    const int end = start + std::min(n - start, TraceBlock);
    __m256i d0 = _mm256_setzero_si256(), d1 = d0, d2 = d0, d3 = d0, s0 = d0, s1 = d0, s2 = d0, s3 = d0;
    int k = start;
    for (; end - k >= 128; k += 128) {
      VnniStep<Signed>(d0, s0, Load32(x + k), Load32(y + k));
      VnniStep<Signed>(d1, s1, Load32(x + k + 32), Load32(y + k + 32));
      VnniStep<Signed>(d2, s2, Load32(x + k + 64), Load32(y + k + 64));
      VnniStep<Signed>(d3, s3, Load32(x + k + 96), Load32(y + k + 96));
    }
    for (; end - k >= 32; k += 32) VnniStep<Signed>(d0, s0, Load32(x + k), Load32(y + k));
    if (k < end) {
      const __mmask32 mask = (__mmask32{1} << (end - k)) - 1;
      VnniStep<Signed>(d1, s1, _mm256_maskz_loadu_epi8(mask, x + k), _mm256_maskz_loadu_epi8(mask, y + k));
    }
    const __m256i d = _mm256_add_epi32(_mm256_add_epi32(d0, d1), _mm256_add_epi32(d2, d3));
    const __m256i s = _mm256_add_epi32(_mm256_add_epi32(s0, s1), _mm256_add_epi32(s2, s3));
    sum += LaneSum(_mm256_sub_epi32(d, s));
  }
  return sum;
}

#undef TS_VNNI_TARGET

using TSignedDot = std::int64_t (*)(const std::int8_t*, const std::int8_t*, int);
using TUnsignedDot = std::int64_t (*)(const std::uint8_t*, const std::uint8_t*, int);

TSignedDot SignedKernel(TTraceKernel kernel) {
  switch (kernel) {
    case TTraceKernel::Avx2:
      return DotAvx2<true, std::int8_t>;
    case TTraceKernel::Avx512Vnni:
      return [](const std::int8_t* x, const std::int8_t* y, int n) {
        return DotVnni<true>(reinterpret_cast<const std::uint8_t*>(x), reinterpret_cast<const std::uint8_t*>(y), n);
      };
    case TTraceKernel::Scalar:
      break;
  }
  return DotScalar<std::int8_t>;
}

TUnsignedDot UnsignedKernel(TTraceKernel kernel) {
  switch (kernel) {
    case TTraceKernel::Avx2:
      return DotAvx2<false, std::uint8_t>;
    case TTraceKernel::Avx512Vnni:
      return DotVnni<false>;
    case TTraceKernel::Scalar:
      break;
  }
  return DotScalar<std::uint8_t>;
}

}  // namespace

bool TraceKernelAvailable(TTraceKernel kernel) {
  switch (kernel) {
    case TTraceKernel::Scalar:
      return true;
    case TTraceKernel::Avx2:
      return __builtin_cpu_supports("avx2");
    case TTraceKernel::Avx512Vnni:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni");
  }
  return false;
}

TTraceKernel BestTraceKernel() {
  for (TTraceKernel kernel : {TTraceKernel::Avx512Vnni, TTraceKernel::Avx2})
    if (TraceKernelAvailable(kernel)) return kernel;
  return TTraceKernel::Scalar;
}

std::int64_t TraceDotSigned(TTraceKernel kernel, const std::int8_t* x, const std::int8_t* y, int n) {
  TS_ASSERT(TraceKernelAvailable(kernel));
  return SignedKernel(kernel)(x, y, n);
}

std::int64_t TraceDotUnsigned(TTraceKernel kernel, const std::uint8_t* x, const std::uint8_t* y, int n) {
  TS_ASSERT(TraceKernelAvailable(kernel));
  return UnsignedKernel(kernel)(x, y, n);
}

// The VNNI kernel only pays off on long traces (L-traces); on H-traces AVX2 is quicker.
constexpr int VnniMinLength = 256;

float TPixan::CompareTraces(const TPicTrace& a, const TPicTrace& b, bool unsignedBytes) {
  static const TTraceKernel shortKernel =
      TraceKernelAvailable(TTraceKernel::Avx2) ? TTraceKernel::Avx2 : BestTraceKernel();
  static const TSignedDot signedShort = SignedKernel(shortKernel), signedLong = SignedKernel(BestTraceKernel());
  static const TUnsignedDot unsignedShort = UnsignedKernel(shortKernel),
                            unsignedLong = UnsignedKernel(BestTraceKernel());
  TS_ASSERT(a.Length() == b.Length());
  const int n = a.Length();
  const bool longTrace = n >= VnniMinLength;
  if (unsignedBytes) return TraceSimilarity((longTrace ? unsignedLong : unsignedShort)(a.Data(), b.Data(), n), true);
  const auto* x = reinterpret_cast<const std::int8_t*>(a.Data());
  const auto* y = reinterpret_cast<const std::int8_t*>(b.Data());
  return TraceSimilarity((longTrace ? signedLong : signedShort)(x, y, n), false);
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

#include "xTraceDot.h"

#include <immintrin.h>

#include "xPicSign.h"

namespace {

std::int32_t SegmentDotScalar(const std::int16_t* a, const std::int8_t* b, const std::uint16_t* offsets, int count) {
  std::int32_t sum = 0;
  for (int i = 0; i < count; ++i) {
    const std::int8_t* segment = b + offsets[i];
    for (int j = 0; j < TraceSegment; ++j) sum += a[i * TraceSegment + j] * segment[j];
  }
  return sum;
}

std::int32_t HueDotScalar(const std::int16_t* a, const std::uint8_t* b) {
  std::int32_t sum = 0;
  for (int k = 0; k < HTraceLength; ++k) sum += a[k] * b[k];
  return sum;
}

// Bytes widened to 16 bits and multiplied in pairs into 32-bit lanes: no step saturates, so the
// sums are the scalar ones for any bytes (|a| <= 255 and |b| <= 255 here).
[[gnu::target("avx2")]] inline std::int32_t Sum(__m256i v) {
  __m128i x = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0x4E));
  x = _mm_add_epi32(x, _mm_shuffle_epi32(x, 0xB1));
  return _mm_cvtsi128_si32(x);
}

[[gnu::target("avx2")]] std::int32_t SegmentDotAvx2(const std::int16_t* a, const std::int8_t* b,
                                                   const std::uint16_t* offsets, int count) {
  __m256i sum0 = _mm256_setzero_si256(), sum1 = _mm256_setzero_si256();
  int i = 0;
  for (; i + 1 < count; i += 2) {
    const __m256i b0 = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + offsets[i])));
    const __m256i b1 = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + offsets[i + 1])));
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i * TraceSegment));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + (i + 1) * TraceSegment));
    sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(a0, b0));
    sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(a1, b1));
  }
  if (i < count) {
    const __m256i b0 = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + offsets[i])));
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i * TraceSegment));
    sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(a0, b0));
  }
  return Sum(_mm256_add_epi32(sum0, sum1));
}

[[gnu::target("avx2")]] std::int32_t HueDotAvx2(const std::int16_t* a, const std::uint8_t* b) {
  static_assert(HTraceLength == 32, "two halves of sixteen bins");
  const __m256i b0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
  const __m256i b1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16)));
  const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
  const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 16));
  // 255 * 255 * 2 exceeds a signed 16-bit sum but madd forms it in 32 bits: exact.
  return Sum(_mm256_add_epi32(_mm256_madd_epi16(a0, b0), _mm256_madd_epi16(a1, b1)));
}

}  // namespace

bool DotKernelAvailable(TDotKernel kernel) {
  switch (kernel) {
    case TDotKernel::Scalar: return true;
    case TDotKernel::Avx2: return __builtin_cpu_supports("avx2");
  }
  return false;
}

TSegmentDot SegmentDotKernel(TDotKernel kernel) {
  return kernel == TDotKernel::Avx2 ? SegmentDotAvx2 : SegmentDotScalar;
}

THueDot HueDotKernel(TDotKernel kernel) { return kernel == TDotKernel::Avx2 ? HueDotAvx2 : HueDotScalar; }

TSegmentDot BestSegmentDot() {
  static const TSegmentDot best = SegmentDotKernel(DotKernelAvailable(TDotKernel::Avx2) ? TDotKernel::Avx2 : TDotKernel::Scalar);
  return best;
}

THueDot BestHueDot() {
  static const THueDot best = HueDotKernel(DotKernelAvailable(TDotKernel::Avx2) ? TDotKernel::Avx2 : TDotKernel::Scalar);
  return best;
}

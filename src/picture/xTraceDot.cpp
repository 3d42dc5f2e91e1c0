#include "xTraceDot.h"

#include <immintrin.h>

#include <algorithm>

namespace {

constexpr int B = BoundBlock;
constexpr int RestCount = BoundStages + 1;

std::uint32_t BlockBoundScalar(const TBoundRow& row, const TBoundBlock& block, const TBoundLine& line,
                               std::uint32_t live) {
  float need[B];
  for (int j = 0; j < B; ++j) {
    float hue = 0;
    for (int k = 0; k < HTraceLength; ++k) hue += row.Hue[k] * block.Hue[k * B + j];
    need[j] = line.Base - line.Slope * hue;
    if (line.Grayscale) need[j] = std::min(need[j], line.Grey);
  }
  std::uint32_t kept = 0;
  for (int t = 0; t < block.Variants; ++t) {
    std::uint32_t alive = live & ~kept;
    const float* coords = block.Coords + static_cast<std::ptrdiff_t>(t) * BoundDims * B;
    const float* rest = block.Rest + static_cast<std::ptrdiff_t>(t) * RestCount * B;
    float sum[B] = {}, slack[B];
    for (int j = 0; j < B; ++j) slack[j] = line.Slack * row.Rest[0] * rest[j];
    for (int s = 0; s <= BoundStages && alive; ++s) {
      if (s > 0)
        for (int d = BoundCheckpoints[s - 1]; d < BoundCheckpoints[s]; ++d)
          for (int j = 0; j < B; ++j) sum[j] += row.Coords[d] * coords[d * B + j];
      for (int j = 0; j < B; ++j)
        if (sum[j] + row.Rest[s] * rest[s * B + j] + slack[j] < need[j]) alive &= ~(1U << j);
    }
    kept |= alive;
  }
  return kept;
}

[[gnu::target("avx2,fma")]] std::uint32_t BlockBoundAvx2(const TBoundRow& row, const TBoundBlock& block,
                                                         const TBoundLine& line, std::uint32_t live) {
  static_assert(B == 16, "two halves of eight pictures");
  // Colour dot products: whole numbers below 2^24, so every step is exact.
  __m256 hue0 = _mm256_setzero_ps(), hue1 = _mm256_setzero_ps();
  for (int k = 0; k < HTraceLength; ++k) {
    const __m256 r = _mm256_broadcast_ss(&row.Hue[k]);
    hue0 = _mm256_fmadd_ps(r, _mm256_loadu_ps(block.Hue + k * B), hue0);
    hue1 = _mm256_fmadd_ps(r, _mm256_loadu_ps(block.Hue + k * B + 8), hue1);
  }
  const __m256 base = _mm256_set1_ps(line.Base), slope = _mm256_set1_ps(line.Slope);
  __m256 need0 = _mm256_fnmadd_ps(slope, hue0, base), need1 = _mm256_fnmadd_ps(slope, hue1, base);
  if (line.Grayscale) {
    const __m256 grey = _mm256_set1_ps(line.Grey);
    need0 = _mm256_min_ps(need0, grey);
    need1 = _mm256_min_ps(need1, grey);
  }
  std::uint32_t kept = 0;
  for (int t = 0; t < block.Variants; ++t) {
    std::uint32_t alive = live & ~kept;
    const float* coords = block.Coords + static_cast<std::ptrdiff_t>(t) * BoundDims * B;
    const float* rest = block.Rest + static_cast<std::ptrdiff_t>(t) * RestCount * B;
    const __m256 slack = _mm256_set1_ps(line.Slack * row.Rest[0]);
    __m256 sum0 = _mm256_mul_ps(slack, _mm256_loadu_ps(rest)), sum1 = _mm256_mul_ps(slack, _mm256_loadu_ps(rest + 8));
    for (int s = 0; s <= BoundStages && alive; ++s) {
      if (s > 0)
        for (int d = BoundCheckpoints[s - 1]; d < BoundCheckpoints[s]; ++d) {
          const __m256 r = _mm256_broadcast_ss(&row.Coords[d]);
          sum0 = _mm256_fmadd_ps(r, _mm256_loadu_ps(coords + d * B), sum0);
          sum1 = _mm256_fmadd_ps(r, _mm256_loadu_ps(coords + d * B + 8), sum1);
        }
      const __m256 length = _mm256_broadcast_ss(&row.Rest[s]);
      const __m256 bound0 = _mm256_fmadd_ps(length, _mm256_loadu_ps(rest + s * B), sum0);
      const __m256 bound1 = _mm256_fmadd_ps(length, _mm256_loadu_ps(rest + s * B + 8), sum1);
      const auto reach0 = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(bound0, need0, _CMP_GE_OQ)));
      const auto reach1 = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(bound1, need1, _CMP_GE_OQ)));
      alive &= reach0 | reach1 << 8;
    }
    kept |= alive;
  }
  return kept;
}

}  // namespace

bool DotKernelAvailable(TDotKernel kernel) {
  switch (kernel) {
    case TDotKernel::Scalar:
      return true;
    case TDotKernel::Avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  }
  return false;
}

TBlockBound BlockBoundKernel(TDotKernel kernel) {
  return kernel == TDotKernel::Avx2 ? BlockBoundAvx2 : BlockBoundScalar;
}

TBlockBound BestBlockBound() {
  static const TBlockBound best = BlockBoundKernel(DotKernelAvailable(TDotKernel::Avx2) ? TDotKernel::Avx2 : TDotKernel::Scalar);
  return best;
}

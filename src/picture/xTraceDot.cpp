#include "xTraceDot.h"

#include <immintrin.h>

#include <algorithm>

namespace {

constexpr int B = BoundBlock;
constexpr int RestCount = BoundStages + 1;
constexpr float QuarterStepsSquared = BoundDims / 4.0F;

std::int32_t Low(std::int32_t pair) { return static_cast<std::int16_t>(pair & 0xFFFF); }
std::int32_t High(std::int32_t pair) { return static_cast<std::int16_t>(static_cast<std::uint32_t>(pair) >> 16); }

std::uint32_t BlockBoundScalar(const TBoundRow& row, const TBoundBlock& block, const TBoundLine& line,
                               std::uint32_t live) {
  float need[B];
  for (int j = 0; j < B; ++j) {
    std::int32_t hue = 0;
    for (int p = 0; p < HTraceLength / 2; ++p) {
      const std::uint8_t* bins = block.Hue + (p * B + j) * 2;
      hue += Low(row.Hue[p]) * bins[0] + High(row.Hue[p]) * bins[1];
    }
    need[j] = line.Base - line.Slope * static_cast<float>(hue);
    if (line.Grayscale) need[j] = std::min(need[j], line.Grey);
  }
  std::uint32_t kept = 0;
  for (int t = 0; t < block.Variants; ++t) {
    std::uint32_t alive = live & ~kept;
    const float* rest = block.Rest + static_cast<std::ptrdiff_t>(t) * RestCount * B;
    const float* inv = block.Inv + t * B;
    const float* absolute = block.Absolute + t * B;
    std::int32_t sum[B] = {};
    float scale[B], slack[B];
    for (int j = 0; j < B; ++j) {
      scale[j] = row.Inv * inv[j];
      slack[j] = 0.5F * (row.Absolute * inv[j] + absolute[j] * row.Inv) + QuarterStepsSquared * scale[j] +
                 line.Slack * row.Rest[0] * rest[j];
    }
    for (int s = 0; s <= BoundStages && alive; ++s) {
      if (s > 0) {
        const int first = BoundCheckpoints[s - 1] / 2, pairs = BoundCheckpoints[s] / 2 - first;
        const std::int16_t* coords = block.Coords[s - 1] + static_cast<std::ptrdiff_t>(t) * pairs * B * 2;
        for (int p = 0; p < pairs; ++p)
          for (int j = 0; j < B; ++j) {
            const std::int16_t* pair = coords + (p * B + j) * 2;
            sum[j] += Low(row.Coords[first + p]) * pair[0] + High(row.Coords[first + p]) * pair[1];
          }
      }
      for (int j = 0; j < B; ++j)
        if (static_cast<float>(sum[j]) * scale[j] + slack[j] + row.Rest[s] * rest[s * B + j] < need[j])
          alive &= ~(1U << j);
    }
    kept |= alive;
  }
  return kept;
}

[[gnu::target("avx2,fma")]] std::uint32_t BlockBoundAvx2(const TBoundRow& row, const TBoundBlock& block,
                                                         const TBoundLine& line, std::uint32_t live) {
  static_assert(B == 16, "two halves of eight pictures");
  // Colour dot products: bytes widened to 16 bits, multiplied and added in pairs into 32 bits.
  __m256i hue0 = _mm256_setzero_si256(), hue1 = _mm256_setzero_si256();
  for (int p = 0; p < HTraceLength / 2; ++p) {
    const __m256i r = _mm256_set1_epi32(row.Hue[p]);
    const __m256i bins = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block.Hue + p * B * 2));
    hue0 = _mm256_add_epi32(hue0, _mm256_madd_epi16(r, _mm256_cvtepu8_epi16(_mm256_castsi256_si128(bins))));
    hue1 = _mm256_add_epi32(hue1, _mm256_madd_epi16(r, _mm256_cvtepu8_epi16(_mm256_extracti128_si256(bins, 1))));
  }
  const __m256 base = _mm256_set1_ps(line.Base), slope = _mm256_set1_ps(line.Slope);
  __m256 need0 = _mm256_fnmadd_ps(slope, _mm256_cvtepi32_ps(hue0), base);
  __m256 need1 = _mm256_fnmadd_ps(slope, _mm256_cvtepi32_ps(hue1), base);
  if (line.Grayscale) {
    const __m256 grey = _mm256_set1_ps(line.Grey);
    need0 = _mm256_min_ps(need0, grey);
    need1 = _mm256_min_ps(need1, grey);
  }
  const __m256 rowInv = _mm256_set1_ps(row.Inv), rowAbsolute = _mm256_set1_ps(row.Absolute);
  const __m256 half = _mm256_set1_ps(0.5F), quarters = _mm256_set1_ps(QuarterStepsSquared);
  const __m256 rowSlack = _mm256_set1_ps(line.Slack * row.Rest[0]);
  std::uint32_t kept = 0;
  for (int t = 0; t < block.Variants; ++t) {
    std::uint32_t alive = live & ~kept;
    const float* rest = block.Rest + static_cast<std::ptrdiff_t>(t) * RestCount * B;
    __m256 scale[2], slack[2];
    for (int h = 0; h < 2; ++h) {
      const __m256 inv = _mm256_loadu_ps(block.Inv + t * B + h * 8);
      const __m256 absolute = _mm256_loadu_ps(block.Absolute + t * B + h * 8);
      scale[h] = _mm256_mul_ps(rowInv, inv);
      slack[h] = _mm256_mul_ps(half, _mm256_fmadd_ps(rowAbsolute, inv, _mm256_mul_ps(absolute, rowInv)));
      slack[h] = _mm256_fmadd_ps(quarters, scale[h], slack[h]);
      slack[h] = _mm256_fmadd_ps(rowSlack, _mm256_loadu_ps(rest + h * 8), slack[h]);
    }
    __m256i sum0 = _mm256_setzero_si256(), sum1 = _mm256_setzero_si256();
    for (int s = 0; s <= BoundStages && alive; ++s) {
      if (s > 0) {
        const int first = BoundCheckpoints[s - 1] / 2, pairs = BoundCheckpoints[s] / 2 - first;
        const auto* coords = reinterpret_cast<const __m256i*>(block.Coords[s - 1] + static_cast<std::ptrdiff_t>(t) * pairs * B * 2);
        for (int p = 0; p < pairs; ++p) {
          const __m256i r = _mm256_set1_epi32(row.Coords[first + p]);
          sum0 = _mm256_add_epi32(sum0, _mm256_madd_epi16(r, _mm256_loadu_si256(coords + 2 * p)));
          sum1 = _mm256_add_epi32(sum1, _mm256_madd_epi16(r, _mm256_loadu_si256(coords + 2 * p + 1)));
        }
      }
      const __m256 length = _mm256_broadcast_ss(&row.Rest[s]);
      const __m256 bound0 = _mm256_fmadd_ps(length, _mm256_loadu_ps(rest + s * B),
                                            _mm256_fmadd_ps(_mm256_cvtepi32_ps(sum0), scale[0], slack[0]));
      const __m256 bound1 = _mm256_fmadd_ps(length, _mm256_loadu_ps(rest + s * B + 8),
                                            _mm256_fmadd_ps(_mm256_cvtepi32_ps(sum1), scale[1], slack[1]));
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

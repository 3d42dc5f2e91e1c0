#include "xTraceTiles.h"

#include <cpuid.h>
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The row's four bytes of group g, as vpdpbusd reads its signed operand.
inline std::int32_t Word(const std::int8_t* row, int g) {
  std::int32_t word;
  std::memcpy(&word, row + 4 * g, sizeof word);
  return word;
}

template <typename T>
void Pack(const T* trace, int length, std::uint8_t flip, int lane, std::uint8_t* out) {
  for (int k = 0; k < length; ++k)
    out[((k / 4) * TileLanes + lane) * 4 + k % 4] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(trace[k]) ^ flip);
}

// The plain loops, the reference every other kernel must match bit for bit.
void RowsTimesBlocks(const std::int8_t* const rows[TileRows], const std::uint8_t* const blocks[TileBlocks], int length,
                     std::int32_t out[TileRows][TileColumns]) {
  for (int r = 0; r < TileRows; ++r)
    for (int j = 0; j < TileColumns; ++j) {
      const std::uint8_t* block = blocks[j / TileLanes];
      const int lane = j % TileLanes;
      std::int32_t sum = 0;
      for (int k = 0; k < length; ++k) sum += rows[r][k] * block[((k / 4) * TileLanes + lane) * 4 + k % 4];
      out[r][j] = sum;
    }
}

float LineOf(const TTileLine& line, std::int32_t hue) {
  const float edge = std::fma(-line.Slope, static_cast<float>(hue), line.Base);
  return line.Grayscale ? std::min(edge, line.Grey) : edge;
}

using TDots = void (*)(const std::int8_t* const rows[TileRows], const std::uint8_t* const blocks[TileBlocks], int length,
                       std::int32_t out[TileRows][TileColumns]);

// A tile from a kernel's dot products, with the plain arithmetic after them.
void TileWith(TDots dots, const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out) {
  dots(rows.Hue, columns.Hue, HTraceLength, out.Hue);
  float edge[TileRows][TileColumns];
  for (int r = 0; r < TileRows; ++r)
    for (int j = 0; j < TileColumns; ++j) {
      out.Hue[r][j] += columns.HOffset[j];
      edge[r][j] = LineOf(line, out.Hue[r][j]);
    }
  std::fill(std::begin(out.Pass), std::end(out.Pass), 0U);
  std::fill(std::begin(out.Sure), std::end(out.Sure), 0U);
  for (int t = 0; t < columns.Variants; ++t) {
    dots(rows.L, columns.L[t], LTraceLength, out.L[t]);
    for (int r = 0; r < TileRows; ++r)
      for (int j = 0; j < TileColumns; ++j) {
        out.L[t][r][j] -= rows.LOffset[r];
        const auto dot = static_cast<float>(out.L[t][r][j]);
        if (dot >= edge[r][j]) out.Pass[r] |= 1U << j;
        if (dot >= edge[r][j] + line.Sure) out.Sure[r] |= 1U << j;
      }
  }
}

void TileScalar(const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out) {
  TileWith(RowsTimesBlocks, rows, columns, line, out);
}

// TileWith with the arithmetic after the dot products eight columns at a time: the same
// operations (a fused multiply-add for the line), so the same bits.
[[gnu::target("avx2,fma")]] void TileWithAvx2(TDots dots, const TTileRows& rows, const TTileColumns& columns,
                                              const TTileLine& line, TTileOut& out) {
  dots(rows.Hue, columns.Hue, HTraceLength, out.Hue);
  alignas(32) float edge[TileRows][TileColumns];
  const __m256 base = _mm256_set1_ps(line.Base), slope = _mm256_set1_ps(line.Slope), grey = _mm256_set1_ps(line.Grey);
  for (int r = 0; r < TileRows; ++r)
    for (int j = 0; j < TileColumns; j += 8) {
      auto* hueAt = reinterpret_cast<__m256i*>(&out.Hue[r][j]);
      const __m256i hue = _mm256_add_epi32(_mm256_loadu_si256(hueAt),
                                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(columns.HOffset + j)));
      _mm256_storeu_si256(hueAt, hue);
      __m256 at = _mm256_fnmadd_ps(slope, _mm256_cvtepi32_ps(hue), base);
      if (line.Grayscale) at = _mm256_min_ps(grey, at);  // as std::min(at, grey)
      _mm256_store_ps(&edge[r][j], at);
    }
  std::uint32_t pass[TileRows] = {}, sure[TileRows] = {};
  const __m256 margin = _mm256_set1_ps(line.Sure);
  for (int t = 0; t < columns.Variants; ++t) {
    dots(rows.L, columns.L[t], LTraceLength, out.L[t]);
    for (int r = 0; r < TileRows; ++r) {
      const __m256i offset = _mm256_set1_epi32(rows.LOffset[r]);
      for (int j = 0; j < TileColumns; j += 8) {
        auto* dotAt = reinterpret_cast<__m256i*>(&out.L[t][r][j]);
        const __m256i dot = _mm256_sub_epi32(_mm256_loadu_si256(dotAt), offset);
        _mm256_storeu_si256(dotAt, dot);
        const __m256 value = _mm256_cvtepi32_ps(dot), at = _mm256_load_ps(&edge[r][j]);
        const auto reaches = static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(value, at, _CMP_GE_OQ)));
        const auto above =
            static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_cmp_ps(value, _mm256_add_ps(at, margin), _CMP_GE_OQ)));
        pass[r] |= reaches << j;
        sure[r] |= above << j;
      }
    }
  }
  std::copy(std::begin(pass), std::end(pass), std::begin(out.Pass));
  std::copy(std::begin(sure), std::end(sure), std::begin(out.Sure));
}

template <int Length>
void RowTimesBlocks(const std::int8_t* row, const std::uint8_t* const blocks[RowBlocks], int count, std::int32_t* out) {
  for (int j = 0; j < count * TileLanes; ++j) {
    const std::uint8_t* block = blocks[j / TileLanes];
    const int lane = j % TileLanes;
    std::int32_t sum = 0;
    for (int k = 0; k < Length; ++k) sum += row[k] * block[((k / 4) * TileLanes + lane) * 4 + k % 4];
    out[j] = sum;
  }
}

void RowScalar(const std::int8_t* l, const std::int8_t* hue, std::int32_t lOffset, const TRowColumns& columns, TRowOut& out) {
  const int count = columns.Blocks;
  RowTimesBlocks<HTraceLength>(hue, columns.Hue, count, out.Hue);
  for (int j = 0; j < count * TileLanes; ++j) out.Hue[j] += columns.HOffset[j];
  for (int t = 0; t < columns.Variants; ++t) {
    RowTimesBlocks<LTraceLength>(l, columns.L[t], count, out.L[t]);
    for (int j = 0; j < count * TileLanes; ++j) out.L[t][j] -= lOffset;
  }
}

// AVX2 has no multiply-add of bytes into 32 bits that cannot saturate: bytes are widened to 16
// bits and multiplied in pairs (vpmaddwd), whose sums 32 bits hold exactly. Two rows against one
// block at a time: lanes 4q .. 4q + 3 of the block in sums[q], two partial sums per lane.
template <int Length>
[[gnu::target("avx2")]] inline void AccumulateAvx2(const std::int8_t* first, const std::int8_t* second, const std::uint8_t* block,
                                                   std::int32_t* outFirst, std::int32_t* outSecond) {
  __m256i a[4], b[4];
  for (int q = 0; q < 4; ++q) a[q] = b[q] = _mm256_setzero_si256();
  for (int g = 0; g < Length / 4; ++g) {
    const __m256i x = _mm256_cvtepi8_epi16(_mm_set1_epi32(Word(first, g)));
    const __m256i y = _mm256_cvtepi8_epi16(_mm_set1_epi32(Word(second, g)));
    for (int q = 0; q < 4; ++q) {
      const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 64 * g + 16 * q)));
      a[q] = _mm256_add_epi32(a[q], _mm256_madd_epi16(c, x));
      b[q] = _mm256_add_epi32(b[q], _mm256_madd_epi16(c, y));
    }
  }
  alignas(32) std::int32_t partial[2][4][8];
  for (int q = 0; q < 4; ++q) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(partial[0][q]), a[q]);
    _mm256_store_si256(reinterpret_cast<__m256i*>(partial[1][q]), b[q]);
  }
  for (int l = 0; l < TileLanes; ++l) {
    const int q = l / 4, at = 2 * (l % 4);
    outFirst[l] = partial[0][q][at] + partial[0][q][at + 1];
    outSecond[l] = partial[1][q][at] + partial[1][q][at + 1];
  }
}

[[gnu::target("avx2")]] void RowsTimesBlocksAvx2(const std::int8_t* const rows[TileRows], const std::uint8_t* const blocks[TileBlocks],
                                                 int length, std::int32_t out[TileRows][TileColumns]) {
  for (int r = 0; r < TileRows; r += 2)
    for (int b = 0; b < TileBlocks; ++b) {
      std::int32_t *first = &out[r][TileLanes * b], *second = &out[r + 1][TileLanes * b];
      if (length == LTraceLength)
        AccumulateAvx2<LTraceLength>(rows[r], rows[r + 1], blocks[b], first, second);
      else
        AccumulateAvx2<HTraceLength>(rows[r], rows[r + 1], blocks[b], first, second);
    }
}

void TileAvx2(const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out) {
  TileWithAvx2(RowsTimesBlocksAvx2, rows, columns, line, out);
}

// AVX-VNNI: half a block (eight lanes) per register, so four rows against one block keep eight
// sums, the block's two halves and a broadcast row word in registers.
template <int Length>
[[gnu::target("avx2,avxvnni")]] inline void AccumulateAvxVnni(const std::int8_t* const rows[4], const std::uint8_t* block,
                                                              std::int32_t* const out[4]) {
  __m256i sums[4][2];
  for (auto& row : sums) row[0] = row[1] = _mm256_setzero_si256();
  for (int g = 0; g < Length / 4; ++g) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 64 * g));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 64 * g + 32));
    for (int r = 0; r < 4; ++r) {
      const __m256i word = _mm256_set1_epi32(Word(rows[r], g));
      sums[r][0] = _mm256_dpbusd_avx_epi32(sums[r][0], low, word);
      sums[r][1] = _mm256_dpbusd_avx_epi32(sums[r][1], high, word);
    }
  }
  for (int r = 0; r < 4; ++r) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[r]), sums[r][0]);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[r] + 8), sums[r][1]);
  }
}

[[gnu::target("avx2,avxvnni")]] void RowsTimesBlocksAvxVnni(const std::int8_t* const rows[TileRows],
                                                            const std::uint8_t* const blocks[TileBlocks], int length,
                                                            std::int32_t out[TileRows][TileColumns]) {
  for (int r = 0; r < TileRows; r += 4)
    for (int b = 0; b < TileBlocks; ++b) {
      std::int32_t* const at[4] = {&out[r][TileLanes * b], &out[r + 1][TileLanes * b], &out[r + 2][TileLanes * b],
                                   &out[r + 3][TileLanes * b]};
      if (length == LTraceLength)
        AccumulateAvxVnni<LTraceLength>(rows + r, blocks[b], at);
      else
        AccumulateAvxVnni<HTraceLength>(rows + r, blocks[b], at);
    }
}

void TileAvxVnni(const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out) {
  TileWithAvx2(RowsTimesBlocksAvxVnni, rows, columns, line, out);
}

// AVX-VNNI is told by CPUID leaf 7, sub-leaf 1 (EAX bit 4); the registers it uses are AVX2's.
bool HasAvxVnni() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  return __builtin_cpu_supports("avx2") && __get_cpuid_count(7, 1, &a, &b, &c, &d) && (a & (1U << 4)) != 0;
}

#define TS_TILE_TARGET [[gnu::target("avx512f,avx512bw,avx512vl,avx512vnni")]]
// GCC 12 takes the undefined register behind some AVX-512 intrinsics for an uninitialised value.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Each step takes four bytes of every row and of every column: one load per block, one broadcast
// per row, and a multiply-add into each of the tile's sixteen accumulators.
template <int Length>
TS_TILE_TARGET inline void Accumulate(const std::int8_t* const rows[TileRows], const std::uint8_t* const blocks[TileBlocks],
                                      __m512i (&sums)[TileRows][TileBlocks]) {
  for (auto& row : sums)
    for (auto& sum : row) sum = _mm512_setzero_si512();
  const std::uint8_t *first = blocks[0], *second = blocks[1];
  for (int g = 0; g < Length / 4; ++g) {
    const __m512i a = _mm512_loadu_si512(first + 64 * g), b = _mm512_loadu_si512(second + 64 * g);
    for (int r = 0; r < TileRows; ++r) {
      const __m512i word = _mm512_set1_epi32(Word(rows[r], g));
      sums[r][0] = _mm512_dpbusd_epi32(sums[r][0], a, word);
      sums[r][1] = _mm512_dpbusd_epi32(sums[r][1], b, word);
    }
  }
}

TS_TILE_TARGET void TileAvx512(const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out) {
  __m512i sums[TileRows][TileBlocks];
  Accumulate<HTraceLength>(rows.Hue, columns.Hue, sums);
  alignas(64) float edge[TileRows][TileColumns];
  const __m512 base = _mm512_set1_ps(line.Base), slope = _mm512_set1_ps(line.Slope), grey = _mm512_set1_ps(line.Grey);
  for (int r = 0; r < TileRows; ++r)
    for (int b = 0; b < TileBlocks; ++b) {
      const __m512i hue = _mm512_add_epi32(sums[r][b], _mm512_loadu_si512(columns.HOffset + TileLanes * b));
      _mm512_storeu_si512(&out.Hue[r][TileLanes * b], hue);
      __m512 at = _mm512_fnmadd_ps(slope, _mm512_cvtepi32_ps(hue), base);
      if (line.Grayscale) at = _mm512_min_ps(at, grey);
      _mm512_store_ps(&edge[r][TileLanes * b], at);
    }
  std::uint32_t pass[TileRows] = {}, sure[TileRows] = {};
  const __m512 margin = _mm512_set1_ps(line.Sure);
  for (int t = 0; t < columns.Variants; ++t) {
    Accumulate<LTraceLength>(rows.L, columns.L[t], sums);
    for (int r = 0; r < TileRows; ++r)
      for (int b = 0; b < TileBlocks; ++b) {
        const __m512i dot = _mm512_sub_epi32(sums[r][b], _mm512_set1_epi32(rows.LOffset[r]));
        _mm512_storeu_si512(&out.L[t][r][TileLanes * b], dot);
        const __m512 value = _mm512_cvtepi32_ps(dot), at = _mm512_load_ps(&edge[r][TileLanes * b]);
        const __mmask16 reaches = _mm512_cmp_ps_mask(value, at, _CMP_GE_OQ);
        const __mmask16 above = _mm512_cmp_ps_mask(value, _mm512_add_ps(at, margin), _CMP_GE_OQ);
        pass[r] |= std::uint32_t{reaches} << (TileLanes * b);
        sure[r] |= std::uint32_t{above} << (TileLanes * b);
      }
  }
  std::copy(std::begin(pass), std::end(pass), std::begin(out.Pass));
  std::copy(std::begin(sure), std::end(sure), std::begin(out.Sure));
}

// One row against Blocks blocks. Each block's sum is split over Split accumulators (groups of
// bytes taken in turn), so that at least four multiply-adds are under way at a time.
template <int Length, int Blocks>
TS_TILE_TARGET inline void RowAccumulate(const std::int8_t* row, const std::uint8_t* const blocks[RowBlocks], std::int32_t* out) {
  constexpr int Split = Blocks >= 4 ? 1 : 4 / Blocks;
  static_assert((Length / 4) % Split == 0);
  __m512i sums[Blocks][Split];
  for (auto& block : sums)
    for (auto& sum : block) sum = _mm512_setzero_si512();
  for (int g = 0; g < Length / 4; g += Split)
    for (int s = 0; s < Split; ++s) {
      const __m512i word = _mm512_set1_epi32(Word(row, g + s));
      for (int b = 0; b < Blocks; ++b)
        sums[b][s] = _mm512_dpbusd_epi32(sums[b][s], _mm512_loadu_si512(blocks[b] + 64 * (g + s)), word);
    }
  for (int b = 0; b < Blocks; ++b) {
    __m512i sum = sums[b][0];
    for (int s = 1; s < Split; ++s) sum = _mm512_add_epi32(sum, sums[b][s]);
    _mm512_storeu_si512(out + TileLanes * b, sum);
  }
}

template <int Blocks>
TS_TILE_TARGET void RowBlocksAvx512(const std::int8_t* l, const std::int8_t* hue, std::int32_t lOffset,
                                    const TRowColumns& columns, TRowOut& out) {
  RowAccumulate<HTraceLength, Blocks>(hue, columns.Hue, out.Hue);
  for (int b = 0; b < Blocks; ++b) {
    std::int32_t* at = out.Hue + TileLanes * b;
    _mm512_storeu_si512(at, _mm512_add_epi32(_mm512_loadu_si512(at), _mm512_loadu_si512(columns.HOffset + TileLanes * b)));
  }
  const __m512i offset = _mm512_set1_epi32(lOffset);
  for (int t = 0; t < columns.Variants; ++t) {
    RowAccumulate<LTraceLength, Blocks>(l, columns.L[t], out.L[t]);
    for (int b = 0; b < Blocks; ++b) {
      std::int32_t* at = out.L[t] + TileLanes * b;
      _mm512_storeu_si512(at, _mm512_sub_epi32(_mm512_loadu_si512(at), offset));
    }
  }
}

void RowAvx512(const std::int8_t* l, const std::int8_t* hue, std::int32_t lOffset, const TRowColumns& columns, TRowOut& out) {
  switch (columns.Blocks) {
    case 1: return RowBlocksAvx512<1>(l, hue, lOffset, columns, out);
    case 2: return RowBlocksAvx512<2>(l, hue, lOffset, columns, out);
    case 4: return RowBlocksAvx512<4>(l, hue, lOffset, columns, out);
    default: return RowBlocksAvx512<8>(l, hue, lOffset, columns, out);
  }
}

#pragma GCC diagnostic pop
#undef TS_TILE_TARGET

}  // namespace

void PackLTrace(const std::int8_t* trace, int lane, std::uint8_t* block) { Pack(trace, LTraceLength, 0x80, lane, block); }

void PackHTrace(const std::uint8_t* trace, int lane, std::uint8_t* block) { Pack(trace, HTraceLength, 0, lane, block); }

void RowHTrace(const std::uint8_t* trace, std::int8_t* out) {
  for (int k = 0; k < HTraceLength; ++k) out[k] = static_cast<std::int8_t>(trace[k] ^ 0x80);
}

std::int32_t RowLOffset(const std::int8_t* trace) {
  std::int32_t sum = 0;
  for (int k = 0; k < LTraceLength; ++k) sum += trace[k];
  return 128 * sum;
}

std::int32_t ColumnHOffset(const std::uint8_t* trace) {
  std::int32_t sum = 0;
  for (int k = 0; k < HTraceLength; ++k) sum += trace[k];
  return 128 * sum;
}

bool TileKernelAvailable(TTileKernelKind kind) {
  switch (kind) {
    case TTileKernelKind::Scalar:
      return true;
    case TTileKernelKind::Avx2:
      return __builtin_cpu_supports("avx2");
    case TTileKernelKind::AvxVnni:
      return HasAvxVnni();
    case TTileKernelKind::Avx512Vnni:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vnni");
  }
  return false;
}

TTileKernel TileKernel(TTileKernelKind kind) {
  switch (kind) {
    case TTileKernelKind::Avx512Vnni:
      return TileAvx512;
    case TTileKernelKind::AvxVnni:
      return TileAvxVnni;
    case TTileKernelKind::Avx2:
      return TileAvx2;
    case TTileKernelKind::Scalar:
      break;
  }
  return TileScalar;
}

TTileKernelKind BestTileKernelKind() {
  for (const TTileKernelKind kind : {TTileKernelKind::Avx512Vnni, TTileKernelKind::AvxVnni, TTileKernelKind::Avx2})
    if (TileKernelAvailable(kind)) return kind;
  return TTileKernelKind::Scalar;
}

TRowKernel RowKernel(TTileKernelKind kind) { return kind == TTileKernelKind::Avx512Vnni ? RowAvx512 : RowScalar; }

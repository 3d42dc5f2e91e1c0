// The tile kernels behind the comparison of picture pairs: every dot product they give is the
// plain loop's over the traces as the analyser stores them, and the kernels agree on which pairs
// reach the line, whatever the bytes.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "xTraceKernels.h"
#include "xTraceTiles.h"

namespace {

struct TTileFixture {
  std::vector<std::vector<std::int8_t>> RowL;                    // [row]
  std::vector<std::vector<std::uint8_t>> RowH;                   // [row]
  std::vector<std::vector<std::vector<std::int8_t>>> ColumnL;    // [variant][column]
  std::vector<std::vector<std::uint8_t>> ColumnH;                // [column]
  std::vector<std::int8_t> RowHue[TileRows];
  std::vector<std::uint8_t> Packed[MaxTileVariants][TileBlocks], PackedHue[TileBlocks];
  std::vector<std::int32_t> HOffset;
  TTileRows Rows{};
  TTileColumns Columns{};
};

// Bytes from the extremes, from zero, or anything; some columns missing (null, as past the end of
// the pictures).
void Fill(TTileFixture& f, std::mt19937& random, int variants, int style) {
  auto signedByte = [&] {
    switch (style) {
      case 0: return static_cast<std::int8_t>(random() % 2 ? 127 : -128);
      case 1: return static_cast<std::int8_t>(random() % 5 == 0 ? static_cast<int>(random() % 255) - 127 : 0);
      default: return static_cast<std::int8_t>(static_cast<int>(random() % 256) - 128);
    }
  };
  auto unsignedByte = [&] {
    return static_cast<std::uint8_t>(style == 0 ? (random() % 2 ? 255 : 0) : random() % 256);
  };
  f.RowL.assign(TileRows, std::vector<std::int8_t>(LTraceLength));
  f.RowH.assign(TileRows, std::vector<std::uint8_t>(HTraceLength));
  for (int r = 0; r < TileRows; ++r) {
    for (auto& x : f.RowL[r]) x = signedByte();
    for (auto& x : f.RowH[r]) x = unsignedByte();
    f.RowHue[r].resize(HTraceLength);
    RowHTrace(f.RowH[r].data(), f.RowHue[r].data());
    f.Rows.L[r] = f.RowL[r].data();
    f.Rows.Hue[r] = f.RowHue[r].data();
    f.Rows.LOffset[r] = RowLOffset(f.RowL[r].data());
  }
  f.ColumnL.assign(static_cast<std::size_t>(variants), std::vector<std::vector<std::int8_t>>(TileColumns, std::vector<std::int8_t>(LTraceLength)));
  f.ColumnH.assign(TileColumns, std::vector<std::uint8_t>(HTraceLength));
  f.HOffset.assign(TileColumns, 0);
  for (int j = 0; j < TileColumns; ++j) {
    for (int t = 0; t < variants; ++t)
      for (auto& x : f.ColumnL[static_cast<std::size_t>(t)][j]) x = signedByte();
    for (auto& x : f.ColumnH[j]) x = unsignedByte();
    f.HOffset[j] = ColumnHOffset(f.ColumnH[j].data());
  }
  f.Columns.Variants = variants;
  f.Columns.HOffset = f.HOffset.data();
  for (int b = 0; b < TileBlocks; ++b) {
    for (int t = 0; t < variants; ++t) {
      f.Packed[t][b].assign(PackedLength(LTraceLength), 0);
      for (int l = 0; l < TileLanes; ++l) PackLTrace(f.ColumnL[static_cast<std::size_t>(t)][b * TileLanes + l].data(), l, f.Packed[t][b].data());
      f.Columns.L[t][b] = f.Packed[t][b].data();
    }
    f.PackedHue[b].assign(PackedLength(HTraceLength), 0);
    for (int l = 0; l < TileLanes; ++l) PackHTrace(f.ColumnH[b * TileLanes + l].data(), l, f.PackedHue[b].data());
    f.Columns.Hue[b] = f.PackedHue[b].data();
  }
}

}  // namespace

TEST(TraceTiles, EveryKernelGivesThePlainDotProducts) {
  std::mt19937 random(5);
  std::vector<TTileKernelKind> kinds;
  for (const TTileKernelKind kind : AllTileKernelKinds)
    if (TileKernelAvailable(kind)) kinds.push_back(kind);
  int passed = 0, failed = 0, surePairs = 0;
  for (const int variants : {1, 2, 6})
    for (const int style : {0, 1, 2}) {
      TTileFixture f;
      Fill(f, random, variants, style);
      // A line through the middle of the dot products, so that pairs fall on both sides.
      for (const bool grey : {false, true}) {
        TTileLine line;
        line.Base = style == 0 ? 0.0F : 1500.0F;
        line.Slope = 0.124F;
        line.Grey = -200.0F;
        line.Sure = 20000.0F;
        line.Grayscale = grey;
        std::vector<TTileOut> outs(kinds.size());
        for (std::size_t k = 0; k < kinds.size(); ++k) TileKernel(kinds[k])(f.Rows, f.Columns, line, outs[k]);
        for (std::size_t k = 0; k < kinds.size(); ++k)
          for (int r = 0; r < TileRows; ++r)
            for (int j = 0; j < TileColumns; ++j) {
              const std::int64_t hue = TraceDotUnsigned(TTraceKernel::Scalar, f.RowH[r].data(), f.ColumnH[j].data(), HTraceLength);
              ASSERT_EQ(outs[k].Hue[r][j], hue) << "kernel " << k << " row " << r << " column " << j;
              const float edge = std::fma(-line.Slope, static_cast<float>(hue), line.Base);
              bool reaches = false, sure = false;
              for (int t = 0; t < variants; ++t) {
                const std::int64_t dot = TraceDotSigned(TTraceKernel::Scalar, f.RowL[r].data(),
                                                        f.ColumnL[static_cast<std::size_t>(t)][j].data(), LTraceLength);
                ASSERT_EQ(outs[k].L[t][r][j], dot) << "kernel " << k << " variant " << t << " row " << r << " column " << j;
                const float at = grey ? std::min(edge, line.Grey) : edge;
                reaches = reaches || static_cast<float>(dot) >= at;
                sure = sure || static_cast<float>(dot) >= at + line.Sure;
              }
              ASSERT_EQ((outs[k].Pass[r] >> j) & 1U, reaches ? 1U : 0U) << "kernel " << k << " row " << r << " column " << j;
              ASSERT_EQ((outs[k].Sure[r] >> j) & 1U, sure ? 1U : 0U) << "kernel " << k << " row " << r << " column " << j;
              (reaches ? passed : failed) += 1;
              surePairs += sure ? 1 : 0;
            }
      }
    }
  EXPECT_GT(passed, 500);
  EXPECT_GT(failed, 500);
  EXPECT_GT(surePairs, 100);
  EXPECT_LT(surePairs, passed);
}

// One row against 1, 2, 4 and 8 blocks, by every kernel: the plain dot products of each lane.
TEST(TraceTiles, RowKernelsGiveThePlainDotProducts) {
  std::mt19937 random(8);
  std::vector<TTileKernelKind> kinds;
  for (const TTileKernelKind kind : AllTileKernelKinds)
    if (TileKernelAvailable(kind)) kinds.push_back(kind);
  constexpr int variants = 3;
  std::vector<std::int8_t> row(LTraceLength);
  std::vector<std::uint8_t> rowHue(HTraceLength);
  std::vector<std::int8_t> hue(HTraceLength);
  for (auto& x : row) x = static_cast<std::int8_t>(random() % 2 ? 127 : -128);
  for (auto& x : rowHue) x = static_cast<std::uint8_t>(random() % 256);
  RowHTrace(rowHue.data(), hue.data());
  const int columns = RowBlocks * TileLanes;
  std::vector<std::vector<std::vector<std::int8_t>>> l(variants, std::vector<std::vector<std::int8_t>>(columns, std::vector<std::int8_t>(LTraceLength)));
  std::vector<std::vector<std::uint8_t>> h(columns, std::vector<std::uint8_t>(HTraceLength));
  std::vector<std::vector<std::uint8_t>> packed(variants * RowBlocks, std::vector<std::uint8_t>(PackedLength(LTraceLength)));
  std::vector<std::vector<std::uint8_t>> packedHue(RowBlocks, std::vector<std::uint8_t>(PackedLength(HTraceLength)));
  std::vector<std::int32_t> offsets(columns);
  TRowColumns layout{};
  layout.Variants = variants;
  layout.HOffset = offsets.data();
  for (int j = 0; j < columns; ++j) {
    const int block = j / TileLanes, lane = j % TileLanes;
    for (int t = 0; t < variants; ++t) {
      for (auto& x : l[t][j]) x = static_cast<std::int8_t>(static_cast<int>(random() % 256) - 128);
      PackLTrace(l[t][j].data(), lane, packed[t * RowBlocks + block].data());
      layout.L[t][block] = packed[t * RowBlocks + block].data();
    }
    for (auto& x : h[j]) x = static_cast<std::uint8_t>(random() % 2 ? 255 : random() % 256);
    PackHTrace(h[j].data(), lane, packedHue[block].data());
    layout.Hue[block] = packedHue[block].data();
    offsets[j] = ColumnHOffset(h[j].data());
  }
  for (const TTileKernelKind kind : kinds)
    for (const int blocks : {1, 2, 4, 8}) {
      layout.Blocks = blocks;
      TRowOut out{};
      RowKernel(kind)(row.data(), hue.data(), RowLOffset(row.data()), layout, out);
      for (int j = 0; j < blocks * TileLanes; ++j) {
        ASSERT_EQ(out.Hue[j], TraceDotUnsigned(TTraceKernel::Scalar, rowHue.data(), h[j].data(), HTraceLength)) << blocks << " " << j;
        for (int t = 0; t < variants; ++t)
          ASSERT_EQ(out.L[t][j], TraceDotSigned(TTraceKernel::Scalar, row.data(), l[t][j].data(), LTraceLength)) << blocks << " " << t << " " << j;
      }
    }
}

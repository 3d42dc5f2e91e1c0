#pragma once
// Exact dot products of the traces of many pictures with those of many others, a tile at a time:
// TileRows pictures (the rows, by their own bytes) against two blocks of TileLanes pictures (the
// columns, packed). Every trace of a block is read once per tile and every row's bytes once per
// block, so the work is in the multiply-adds rather than in fetching traces: this is what lets all
// pairs of a large search be scored exactly.
//
// Sums are exact in 32 bits: a packed byte times a row byte, 1,024 times, stays below 2^25.

#include <cstdint>

#include "xPicSign.h"

inline constexpr int TileLanes = 16;  // pictures per packed block
inline constexpr int TileRows = 8;    // row pictures per tile
inline constexpr int TileBlocks = 2;  // packed blocks per tile
inline constexpr int TileColumns = TileLanes * TileBlocks;
inline constexpr int MaxTileVariants = LTraceVariants;

// A block's L-traces (each byte plus 128, so that it reads unsigned) or H-traces (as they are),
// byte 4g + b of lane l at [g][l][b]: PackedLength(n) bytes for traces of length n. These put one
// trace into its lane; a lane left as zeros gives results that mean nothing.
constexpr int PackedLength(int traceLength) { return traceLength * TileLanes; }
void PackLTrace(const std::int8_t* trace, int lane, std::uint8_t* block);
void PackHTrace(const std::uint8_t* trace, int lane, std::uint8_t* block);
// An H-trace as a row reads it (each byte minus 128, signed).
void RowHTrace(const std::uint8_t* trace, std::int8_t* out);

// What a row adds to its dot products for the columns' offset: 128 times the sum of its bytes.
std::int32_t RowLOffset(const std::int8_t* trace);
// What a column adds to its colour dot products for the rows' offset: 128 times its bytes' sum.
std::int32_t ColumnHOffset(const std::uint8_t* trace);

// The rows of a tile; a row without a picture points at zeros.
struct TTileRows {
  const std::int8_t* L[TileRows];    // the unchanged L-trace
  const std::int8_t* Hue[TileRows];  // RowHTrace
  std::int32_t LOffset[TileRows];    // RowLOffset
};

// The columns: for each of Variants variants the two blocks' packed L-traces, and their H-traces.
struct TTileColumns {
  const std::uint8_t* L[MaxTileVariants][TileBlocks];
  const std::uint8_t* Hue[TileBlocks];
  const std::int32_t* HOffset;  // [TileColumns]: ColumnHOffset
  int Variants;
};

// The least structure dot product a pair may need, given its colour dot product h:
// min(Base - Slope * h, Grey) (Grey only with greyscale on). Set a little below the decision's own
// edge, so that every pair the decision accepts passes; passing pairs are scored exactly.
// Pairs Sure or more above the line are sure to be accepted: they need no exact scoring.
struct TTileLine {
  float Base = 0, Slope = 0, Grey = 0;
  float Sure = 0;
  bool Grayscale = false;
};

struct TTileOut {
  std::int32_t L[MaxTileVariants][TileRows][TileColumns];  // exact L-trace dot products
  std::int32_t Hue[TileRows][TileColumns];                 // exact H-trace dot products
  std::uint32_t Pass[TileRows];  // bit j: column j reaches the line by some variant
  std::uint32_t Sure[TileRows];  // bit j: column j lies Sure above the line by some variant
};

using TTileKernel = void (*)(const TTileRows& rows, const TTileColumns& columns, const TTileLine& line, TTileOut& out);

// One picture against Blocks (1, 2, 4 or 8) packed blocks at once (the checks of a picture
// against the members of a group).
inline constexpr int RowBlocks = 8;
struct TRowColumns {
  const std::uint8_t* L[MaxTileVariants][RowBlocks];
  const std::uint8_t* Hue[RowBlocks];
  const std::int32_t* HOffset;  // [Blocks * TileLanes]: ColumnHOffset
  int Variants;
  int Blocks;
};
struct TRowOut {
  std::int32_t L[MaxTileVariants][RowBlocks * TileLanes];
  std::int32_t Hue[RowBlocks * TileLanes];
};
using TRowKernel = void (*)(const std::int8_t* l, const std::int8_t* hue, std::int32_t lOffset,
                            const TRowColumns& columns, TRowOut& out);

// AvxVnni is the 256-bit multiply-add of bytes that processors without AVX-512 may have. The row
// kernels of Avx2 and AvxVnni are the plain one: the checks against a group are only worth their
// packing where the kernel is fast (RowKernelFast).
enum class TTileKernelKind { Scalar, Avx2, AvxVnni, Avx512Vnni };
inline constexpr TTileKernelKind AllTileKernelKinds[] = {TTileKernelKind::Scalar, TTileKernelKind::Avx2,
                                                         TTileKernelKind::AvxVnni, TTileKernelKind::Avx512Vnni};

bool TileKernelAvailable(TTileKernelKind kind);  // the processor runs it
TTileKernel TileKernel(TTileKernelKind kind);
TTileKernelKind BestTileKernelKind();  // the fastest kernel this processor runs
TRowKernel RowKernel(TTileKernelKind kind);
inline bool RowKernelFast(TTileKernelKind kind) { return kind == TTileKernelKind::Avx512Vnni; }

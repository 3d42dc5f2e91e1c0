#pragma once
// Upper bounds of picture scores for one picture against a block of others at once, used to
// leave out pairs that cannot reach a threshold before their score is computed.
//
// Each trace is split along an orthonormal basis (TTraceBasis): its coordinates and, for the
// first Checkpoints[s] directions, the length of what lies outside them. The dot product of two
// L-traces is then at most the dot product of their first coordinates plus the product of those
// lengths (Cauchy-Schwarz), and tighter at each checkpoint. The colour dot product is exact. A pair
// is kept when, for some variant, the bound reaches the least structure dot product the colour
// leaves it (TBoundLine).

#include <cstdint>

#include "xPicSign.h"
#include "xTraceBasis.h"

inline constexpr int BoundBlock = 16;   // pictures per block
inline constexpr int BoundDims = TTraceBasis::Dims;
inline constexpr int BoundStages = 4;
inline constexpr int BoundCheckpoints[BoundStages + 1] = {0, 16, 32, 64, BoundDims};

// Coordinates are kept as 16-bit whole numbers, each trace with its own scale (Inv: the value of
// one step), and summed exactly in 32 bits; what the rounding to steps can change in a dot product
// is granted in full (half a step times the other trace's sum of absolute coordinates, both ways,
// plus a quarter step squared per direction). Colours are whole bytes: their dot product is exact.

// The picture whose partners are bounded: its unchanged trace and its colours, values in pairs
// (the lower half of each 32-bit word the even direction or bin).
struct TBoundRow {
  alignas(32) std::int32_t Coords[BoundDims / 2];
  alignas(32) std::int32_t Hue[HTraceLength / 2];
  float Inv = 0, Absolute = 0;
  float Rest[BoundStages + 1] = {};  // length outside the first Checkpoints[s] directions, rounded up
};

// One block of partners, each with `Variants` traces; arrays laid out so that a kernel reads
// BoundBlock pictures' values of two directions (or bins) together.
struct TBoundBlock {
  const std::uint8_t* Hue;     // [HTraceLength / 2][BoundBlock][2]
  // Stage s (directions Checkpoints[s] to Checkpoints[s + 1]): [Variants][directions / 2][BoundBlock][2].
  // Each stage in an array of its own, so that the first stages of block after block, which are
  // what most pairs need, lie together.
  const std::int16_t* Coords[BoundStages];
  const float* Rest;           // [Variants][BoundStages + 1][BoundBlock]
  const float* Inv;            // [Variants][BoundBlock]
  const float* Absolute;       // [Variants][BoundBlock]: sum of absolute coordinates, rounded up
  int Variants;
};

// The least structure dot product a pair needs, given its colour dot product h:
// min(Base - Slope * h, Grey) (Grey only with greyscale on), set below the decision's own edge.
// Slack times the product of the two traces' lengths is granted to the bound besides, for the
// single-precision arithmetic that finishes it.
struct TBoundLine {
  float Base = 0, Slope = 0, Grey = 0, Slack = 0;
  bool Grayscale = false;
};

// Bit j set: picture j of the block, among those set in `live`, may reach the line.
using TBlockBound = std::uint32_t (*)(const TBoundRow& row, const TBoundBlock& block, const TBoundLine& line,
                                      std::uint32_t live);

enum class TDotKernel { Scalar, Avx2 };

bool DotKernelAvailable(TDotKernel kernel);  // the processor runs it
TBlockBound BlockBoundKernel(TDotKernel kernel);
TBlockBound BestBlockBound();  // the fastest kernel this processor runs

#pragma once
// Upper bounds of picture scores for one picture against a block of others at once, used to
// leave out pairs that cannot reach a threshold before their score is computed.
//
// Each trace is split along an orthonormal basis (TTraceBasis): its coordinates and, for the
// first Checkpoints[s] directions, the length of what lies outside them. The dot product of two
// L-traces is then at most the dot product of their first coordinates plus the product of those
// lengths (Cauchy-Schwarz), and tighter at each checkpoint. The colour dot product is exact (whole
// numbers below 2^24 are exact in single precision). A pair is kept when, for some variant, the
// bound reaches the least structure dot product the colour leaves it (TBoundLine).

#include <cstdint>

#include "xPicSign.h"
#include "xTraceBasis.h"

inline constexpr int BoundBlock = 16;   // pictures per block
inline constexpr int BoundDims = TTraceBasis::Dims;
inline constexpr int BoundStages = 4;
inline constexpr int BoundCheckpoints[BoundStages + 1] = {0, 16, 32, 64, BoundDims};

// The picture whose partners are bounded: its unchanged trace and its colours.
struct TBoundRow {
  alignas(32) float Coords[BoundDims];
  float Rest[BoundStages + 1];  // length outside the first Checkpoints[s] directions, rounded up
  alignas(32) float Hue[HTraceLength];
};

// One block of partners, each with `Variants` traces; arrays laid out column by column of the
// block, so that a kernel reads BoundBlock pictures' value of one coordinate together.
struct TBoundBlock {
  const float* Hue;     // [HTraceLength][BoundBlock]
  const float* Coords;  // [Variants][BoundDims][BoundBlock]
  const float* Rest;    // [Variants][BoundStages + 1][BoundBlock]
  int Variants;
};

// The least structure dot product a pair needs, given its colour dot product h:
// min(Base - Slope * h, Grey) (Grey only with greyscale on), set below the decision's own edge.
// Slack times the product of the two traces' lengths is granted to the bound besides, for the
// rounding of the coordinates in single precision.
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

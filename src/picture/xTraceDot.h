#pragma once
// Dot products for bounding picture comparisons: parts of an L-trace taken in any order of its
// 16-byte segments, and whole H-traces. Integer and exact, so every kernel gives the same sum.

#include <cstdint>

inline constexpr int TraceSegment = 16;  // bytes of an L-trace segment

// Sum over i < count, j < 16 of a[16 i + j] * b[offsets[i] + j]: a is a trace rearranged into
// segment order and widened, b a trace in its own layout.
using TSegmentDot = std::int32_t (*)(const std::int16_t* a, const std::int8_t* b, const std::uint16_t* offsets,
                                     int count);
// The dot product of two H-traces (HTraceLength bytes), the first one widened.
using THueDot = std::int32_t (*)(const std::int16_t* a, const std::uint8_t* b);

enum class TDotKernel { Scalar, Avx2 };

bool DotKernelAvailable(TDotKernel kernel);  // the processor runs it
TSegmentDot SegmentDotKernel(TDotKernel kernel);
THueDot HueDotKernel(TDotKernel kernel);
// The fastest kernels this processor runs.
TSegmentDot BestSegmentDot();
THueDot BestHueDot();

#pragma once
// Dot products of two byte traces, behind TPixan::CompareTraces. Each kernel gives exactly the
// sum of the plain loop (the Scalar kernel) for any length; the others only run where the
// processor has their instructions. Exposed so that tests can hold every kernel to the plain loop.

#include <cstdint>

enum class TTraceKernel { Scalar, Avx2, Avx512Vnni };

bool TraceKernelAvailable(TTraceKernel kernel);  // the processor runs it
TTraceKernel BestTraceKernel();                  // the fastest kernel this processor runs

// Bytes read as -128..127 (L-traces) and as 0..255 (H-traces). n <= 0 gives 0. The kernel must
// be available.
std::int64_t TraceDotSigned(TTraceKernel kernel, const std::int8_t* x, const std::int8_t* y, int n);
std::int64_t TraceDotUnsigned(TTraceKernel kernel, const std::uint8_t* x, const std::uint8_t* y, int n);

#pragma once
// Two-dimensional Haar wavelet decomposition in place (the non-standard, pyramid form).
// Each level transforms the rows and then the columns of the current low-pass block, then
// halves the block. Averages and differences are both scaled by 0.5.

#include "xMatrix.h"
#include "xVector.h"

class THaar2D {
public:
  THaar2D() = default;

  // Decomposes the matrix in place down to blocks of `smallest`; pads to powers of two first.
  bool Transform(TMatrix& matrix, int smallest);
  // Enlarges to power-of-two extents (at least 2) with zeros in the added cells.
  static bool PadToPowerOfTwo(TMatrix& matrix);
  // One step on the first n elements: pair averages to the low half, half-differences to the
  // high half. False, with nothing changed, when n < 2.
  static bool HaarStep(TVector* data, TVector& temporary, int n);

private:
  TVector RowBuffer;
  TVector RowTemporary;
  TVector ColBuffer;
  TVector ColTemporary;
};

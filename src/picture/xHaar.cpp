#include "xHaar.h"

#include "xAssert.h"

bool THaar2D::HaarStep(TVector* data, TVector& temporary, int n) {
  TS_ASSERT(data != nullptr);
  if (n < 2) return false;
  TS_ASSERT(n <= data->Count() && n <= temporary.Count());
  const int half = n / 2;
  const float* in = data->Data();
  float* out = temporary.Data();
  for (int i = 0; i < half; ++i) {
    const float a = in[2 * i];
    const float b = in[2 * i + 1];
    out[i] = (a + b) * 0.5f;
    out[half + i] = (a - b) * 0.5f;
  }
  float* back = data->Data();
  for (int i = 0; i < n; ++i) back[i] = out[i];
  return true;
}

bool THaar2D::PadToPowerOfTwo(TMatrix& matrix) {
  int rows = 2;
  while (rows < matrix.Rows()) rows *= 2;
  int cols = 2;
  while (cols < matrix.Cols()) cols *= 2;
  if (rows == matrix.Rows() && cols == matrix.Cols()) return true;
  TMatrix copy;
  copy.Assign(matrix);
  matrix.SetSize(rows, cols);
  for (int r = 0; r < copy.Rows(); ++r)
    for (int c = 0; c < copy.Cols(); ++c) matrix.Items(r, c, copy.Items(r, c));
  return true;
}

bool THaar2D::Transform(TMatrix& matrix, int smallest) {
  if (!PadToPowerOfTwo(matrix)) return false;
  int w = matrix.Cols();
  int h = matrix.Rows();
  const int cols = matrix.Cols();
  RowBuffer.SetCount(cols);
  RowTemporary.SetCount(cols);
  ColBuffer.SetCount(matrix.Rows());
  ColTemporary.SetCount(matrix.Rows());
  float* cells = matrix.Data();
  float* row = RowBuffer.Data();
  float* col = ColBuffer.Data();
  while (w > smallest || h > smallest) {
    if (w > 1) {
      for (int r = 0; r < h; ++r) {
        float* line = cells + static_cast<std::ptrdiff_t>(r) * cols;
        for (int c = 0; c < w; ++c) row[c] = line[c];
        HaarStep(&RowBuffer, RowTemporary, w);
        for (int c = 0; c < w; ++c) line[c] = row[c];
      }
    }
    if (h > smallest) {
      for (int c = 0; c < w; ++c) {
        for (int r = 0; r < h; ++r) col[r] = cells[static_cast<std::ptrdiff_t>(r) * cols + c];
        HaarStep(&ColBuffer, ColTemporary, h);
        for (int r = 0; r < h; ++r) cells[static_cast<std::ptrdiff_t>(r) * cols + c] = col[r];
      }
    }
    if (w > smallest) w /= 2;
    if (h > smallest) h /= 2;
  }
  return true;
}

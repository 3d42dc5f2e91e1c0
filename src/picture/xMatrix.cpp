#include "xMatrix.h"

#include <new>

#include "xAssert.h"

TMatrix::TMatrix(int rows, int cols) {
  SetSize(rows, cols);
  Fill(0);
}

void TMatrix::SetSize(int rows, int cols) {
  if (rows == Rows_ && cols == Cols_) return;
  Rows_ = rows;
  Cols_ = cols;
  // A failed allocation leaves the requested extents with no storage: every later access
  // then fails its range check instead of touching memory that is not there.
  Data_.clear();
  if (rows <= 0 || cols <= 0) return;
  try {
    Data_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.0f);
  } catch (const std::bad_alloc&) {
    Data_.clear();
  }
}

float TMatrix::Items(int row, int col) const {
  TS_ASSERT(row >= 0 && row < Rows_ && col >= 0 && col < Cols_ && !Data_.empty());
  return Data_[static_cast<std::size_t>(row) * static_cast<std::size_t>(Cols_) + static_cast<std::size_t>(col)];
}

void TMatrix::Items(int row, int col, float value) {
  TS_ASSERT(row >= 0 && row < Rows_ && col >= 0 && col < Cols_ && !Data_.empty());
  Data_[static_cast<std::size_t>(row) * static_cast<std::size_t>(Cols_) + static_cast<std::size_t>(col)] = value;
}

void TMatrix::Fill(float value) {
  for (float& element : Data_) element = value;
}

void TMatrix::Assign(const TMatrix& source) {
  if (source.Rows_ != Rows_ || source.Cols_ != Cols_) SetSize(source.Rows_, source.Cols_);
  Data_ = source.Data_;
}

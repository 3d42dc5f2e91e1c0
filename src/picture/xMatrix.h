#pragma once
// A rows x cols matrix of 32-bit floats with range-checked access. Element (r, c) lives at
// r * cols + c. The analyser uses the first index for the horizontal pixel position.

#include <vector>

class TMatrix {
public:
  TMatrix(int rows = 0, int cols = 0);

  int Rows() const { return Rows_; }
  int Cols() const { return Cols_; }
  // New extents zero every element; unchanged extents keep the contents.
  void SetSize(int rows, int cols);

  float Items(int row, int col) const;
  void Items(int row, int col, float value);

  void Fill(float value);
  void Assign(const TMatrix& source);

  // Unchecked row-major access for the analyser's inner loops.
  float* Data() { return Data_.data(); }
  const float* Data() const { return Data_.data(); }

private:
  int Rows_ = 0;
  int Cols_ = 0;
  std::vector<float> Data_;
};

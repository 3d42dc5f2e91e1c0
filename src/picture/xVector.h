#pragma once
// A growable vector of 32-bit floats with range-checked access.

#include <vector>

class TVector {
public:
  explicit TVector(int count = 0);

  int Count() const { return static_cast<int>(Data_.size()); }
  // Resizes keeping the leading elements; new elements are 0. Negative or unchanged: nothing.
  void SetCount(int n);

  float Items(int index) const;
  void Items(int index, float value);

  void Fill(float value);
  // Euclidean length, summed in index order with every partial sum rounded to float.
  float Norm() const;
  // Divides by the norm; false (and unchanged) when the norm is at most 0.0001.
  bool Normalize();

  // Unchecked access for the analyser's inner loops.
  float* Data() { return Data_.data(); }
  const float* Data() const { return Data_.data(); }

private:
  std::vector<float> Data_;
};

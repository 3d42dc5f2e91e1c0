#include "xVector.h"

#include <cmath>
#include <new>

#include "xAssert.h"

TVector::TVector(int count) {
  SetCount(count);
  Fill(0);
}

void TVector::SetCount(int n) {
  if (n < 0 || n == Count()) return;
  try {
    Data_.resize(static_cast<std::size_t>(n), 0.0f);
  } catch (const std::bad_alloc&) {
    InternalError("Failed to allocate memory for the vector");
  }
}

float TVector::Items(int index) const {
  TS_ASSERT(index >= 0 && index < Count());
  return Data_[static_cast<std::size_t>(index)];
}

void TVector::Items(int index, float value) {
  TS_ASSERT(index >= 0 && index < Count());
  Data_[static_cast<std::size_t>(index)] = value;
}

void TVector::Fill(float value) {
  for (float& element : Data_) element = value;
}

float TVector::Norm() const {
  float sum = 0;
  for (const float element : Data_) {
    sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(element) * element);
  }
  return static_cast<float>(std::sqrt(static_cast<double>(sum)));
}

bool TVector::Normalize() {
  const float norm = Norm();
  if (std::fabs(norm) <= 0.0001f) return false;
  for (float& element : Data_) element = element / norm;
  return true;
}

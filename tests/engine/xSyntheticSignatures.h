#pragma once
// Picture signatures made up for the comparison tests: unrelated originals, and copies of them
// that keep a chosen share of an original's traces (turned copies take a variant's trace as their
// own), so that scores fall on both sides of every threshold.

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "xPicSign.h"

struct TSyntheticPicture {
  std::vector<float> L[LTraceVariants];
  std::vector<float> H;
};

inline std::vector<float> SyntheticDirection(std::mt19937& random, int length, bool hue) {
  std::normal_distribution<float> normal;
  std::vector<float> v(static_cast<std::size_t>(length));
  for (int k = 0; k < length; ++k)
    v[static_cast<std::size_t>(k)] = hue ? std::max(0.0F, normal(random) + (random() % 4 == 0 ? 2.0F : -0.5F))
                                         : normal(random) / std::sqrt(1.0F + static_cast<float>(k % 97));
  if (!hue) v[0] = 2 + static_cast<float>(random() % 8);  // brightness: the mean is the strongest coefficient
  return v;
}

inline TSyntheticPicture SyntheticOriginal(std::mt19937& random) {
  TSyntheticPicture picture;
  for (auto& trace : picture.L) trace = SyntheticDirection(random, LTraceLength, false);
  picture.H = SyntheticDirection(random, HTraceLength, true);
  return picture;
}

// keep: the share of the original in each trace; colour: the same for the H-trace.
inline TSyntheticPicture SyntheticCopy(const TSyntheticPicture& of, float keep, float colour, std::mt19937& random) {
  TSyntheticPicture copy;
  const int turn = random() % 3 == 0 ? static_cast<int>(random() % LTraceVariants) : pvOriginal;
  for (int t = 0; t < LTraceVariants; ++t) {
    const std::vector<float>& source = of.L[t == pvOriginal ? turn : t];
    std::vector<float> noise = SyntheticDirection(random, LTraceLength, false);
    copy.L[t].resize(source.size());
    for (std::size_t k = 0; k < source.size(); ++k) copy.L[t][k] = keep * source[k] + (1 - keep) * noise[k];
  }
  std::vector<float> noise = SyntheticDirection(random, HTraceLength, true);
  copy.H.resize(of.H.size());
  for (std::size_t k = 0; k < of.H.size(); ++k) copy.H[k] = colour * of.H[k] + (1 - colour) * noise[k];
  return copy;
}

// Unit length, then bytes as the analyser stores them.
inline void SyntheticTrace(const std::vector<float>& v, TPicTrace& trace, bool hue) {
  double norm = 0;
  for (const float x : v) norm += static_cast<double>(x) * x;
  norm = std::sqrt(norm);
  trace.SetLength(static_cast<int>(v.size()));
  for (std::size_t k = 0; k < v.size(); ++k) {
    const double scaled = norm > 0 ? v[k] / norm * (hue ? 255.0 : 127.0) : 0.0;
    const long byte = std::clamp(std::lrint(scaled), hue ? 0L : -127L, hue ? 255L : 127L);
    trace.Bytes(static_cast<int>(k), static_cast<std::uint8_t>(byte));
  }
}

inline void SyntheticSignature(const TSyntheticPicture& picture, TPicSign& sign) {
  SyntheticTrace(picture.H, sign.HTrace(), true);
  for (int t = 0; t < LTraceVariants; ++t)
    if (TPicTrace* trace = sign.LTrace(t)) SyntheticTrace(picture.L[t], *trace, false);
}

#pragma once
// An orthonormal basis of the few directions along which a set of L-traces varies most, found
// from a sample of them (a randomised range finder with one power step, then the directions
// ordered by the energy the sample has along them). The traces of photographs spread their
// energy over many Haar coefficients, but far less over these directions: 64 of them hold about
// two thirds of it, where the strongest 64 coefficients hold less than half. Bounds on dot
// products of traces rest on it, so it is computed in double precision and kept orthonormal to
// rounding; which directions come out only changes how tight the bounds are.

#include <cstdint>
#include <vector>

#include "xPicSign.h"

class TTraceBasis {
public:
  static constexpr int Dims = 128;

  // samples: L-traces of LTraceLength signed bytes; any number, none included.
  explicit TTraceBasis(const std::vector<const std::int8_t*>& samples);

  // The trace's coordinates along the basis, strongest direction first.
  void Project(const std::int8_t* trace, double out[Dims]) const;
  // Row d of the basis (LTraceLength values), for tests.
  std::vector<double> Direction(int d) const;

private:
  std::vector<double> Basis_;  // LTraceLength rows of Dims: coordinate k of every direction together
};

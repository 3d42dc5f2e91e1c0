#include "xTraceBasis.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

#include "xTraceDot.h"

namespace {

constexpr int N = LTraceLength;
constexpr int D = TTraceBasis::Dims;
constexpr std::size_t MaxSamples = 2048;  // enough to find the strong directions; more only costs time
constexpr int PowerSteps = 3;

// out[d] = sum over k of x[k] * m[k * D + d]: a trace against D columns laid out row by row.
void MultiplyPlain(const std::int8_t* x, const double* m, double* out) {
  double sum[D] = {};
  for (int k = 0; k < N; ++k) {
    const double value = x[k];
    const double* row = m + static_cast<std::size_t>(k) * D;
    for (int d = 0; d < D; ++d) sum[d] += value * row[d];
  }
  std::copy_n(sum, D, out);
}

// The same, 32 columns at a time in registers.
[[gnu::target("avx2,fma")]] void MultiplyAvx2(const std::int8_t* x, const double* m, double* out) {
  static_assert(D % 32 == 0);
  for (int d0 = 0; d0 < D; d0 += 32) {
    __m256d sum[8];
    for (auto& s : sum) s = _mm256_setzero_pd();
    for (int k = 0; k < N; ++k) {
      const __m256d value = _mm256_set1_pd(x[k]);
      const double* row = m + static_cast<std::size_t>(k) * D + d0;
      for (int i = 0; i < 8; ++i) sum[i] = _mm256_fmadd_pd(value, _mm256_loadu_pd(row + 4 * i), sum[i]);
    }
    for (int i = 0; i < 8; ++i) _mm256_storeu_pd(out + d0 + 4 * i, sum[i]);
  }
}

// y[k * D + d] += x[k] * z[d]: one sample's share of X^T Z.
void AddOuterPlain(const std::int8_t* x, const double* z, double* y) {
  for (int k = 0; k < N; ++k)
    for (int d = 0; d < D; ++d) y[static_cast<std::size_t>(k) * D + d] += x[k] * z[d];
}

[[gnu::target("avx2,fma")]] void AddOuterAvx2(const std::int8_t* x, const double* z, double* y) {
  for (int k = 0; k < N; ++k) {
    const __m256d value = _mm256_set1_pd(x[k]);
    double* row = y + static_cast<std::size_t>(k) * D;
    for (int d = 0; d < D; d += 4)
      _mm256_storeu_pd(row + d, _mm256_fmadd_pd(value, _mm256_loadu_pd(z + d), _mm256_loadu_pd(row + d)));
  }
}

bool HasAvx2() {
  static const bool avx2 = DotKernelAvailable(TDotKernel::Avx2);  // the same instructions as the bound's kernel
  return avx2;
}

void Multiply(const std::int8_t* x, const double* m, double* out) { (HasAvx2() ? MultiplyAvx2 : MultiplyPlain)(x, m, out); }
void AddOuter(const std::int8_t* x, const double* z, double* y) { (HasAvx2() ? AddOuterAvx2 : AddOuterPlain)(x, z, y); }

// Four running sums, so that the loop runs in vector registers without reordering a sum.
double Dot(const double* x, const double* y) {
  double sum[4] = {};
  for (int k = 0; k < N; k += 4)
    for (int i = 0; i < 4; ++i) sum[i] += x[k + i] * y[k + i];
  return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

// Makes the D columns of q (N x D, row by row) orthonormal, twice over so that what rounding left
// of one direction in another is gone too. A column that lies in the span of the earlier ones
// (fewer samples than directions) is replaced by a random one.
void Orthonormalise(std::vector<double>& q, std::mt19937_64& random) {
  std::uniform_real_distribution<double> any(-1.0, 1.0);
  std::vector<double> columns(q.size());  // column d at d * N
  for (int k = 0; k < N; ++k)
    for (int d = 0; d < D; ++d) columns[static_cast<std::size_t>(d) * N + k] = q[static_cast<std::size_t>(k) * D + d];
  for (int d = 0; d < D; ++d) {
    double* column = &columns[static_cast<std::size_t>(d) * N];
    for (;;) {
      const double before = std::sqrt(Dot(column, column));
      for (int pass = 0; pass < 2; ++pass)
        for (int e = 0; e < d; ++e) {
          const double* other = &columns[static_cast<std::size_t>(e) * N];
          const double dot = Dot(column, other);
          for (int k = 0; k < N; ++k) column[k] -= dot * other[k];
        }
      const double norm = std::sqrt(Dot(column, column));
      if (norm > 1e-6 * before && norm > 1e-300) {
        for (int k = 0; k < N; ++k) column[k] /= norm;
        break;
      }
      for (int k = 0; k < N; ++k) column[k] = any(random);
    }
  }
  for (int k = 0; k < N; ++k)
    for (int d = 0; d < D; ++d) q[static_cast<std::size_t>(k) * D + d] = columns[static_cast<std::size_t>(d) * N + k];
}

// Eigenvectors of the symmetric D x D matrix a (row by row) by cyclic Jacobi rotations: the
// columns of v, with the eigenvalues left on the diagonal of a.
void Eigenvectors(std::vector<double>& a, std::vector<double>& v) {
  v.assign(static_cast<std::size_t>(D) * D, 0.0);
  for (int i = 0; i < D; ++i) v[static_cast<std::size_t>(i) * D + i] = 1.0;
  auto at = [](std::vector<double>& m, int i, int j) -> double& { return m[static_cast<std::size_t>(i) * D + j]; };
  // Only the order of the directions by energy matters here, so a loose convergence will do.
  for (int sweep = 0; sweep < 12; ++sweep) {
    double off = 0, diagonal = 0;
    for (int i = 0; i < D; ++i)
      for (int j = 0; j < D; ++j) (i == j ? diagonal : off) += at(a, i, j) * at(a, i, j);
    if (off <= 1e-10 * diagonal || off == 0) break;
    for (int p = 0; p < D; ++p)
      for (int r = p + 1; r < D; ++r) {
        const double apr = at(a, p, r);
        if (apr == 0) continue;
        const double theta = (at(a, r, r) - at(a, p, p)) / (2 * apr);
        const double t = (theta >= 0 ? 1.0 : -1.0) / (std::abs(theta) + std::sqrt(theta * theta + 1));
        const double c = 1 / std::sqrt(t * t + 1), s = t * c;
        for (int k = 0; k < D; ++k) {  // columns p and r
          const double akp = at(a, k, p), akr = at(a, k, r);
          at(a, k, p) = c * akp - s * akr;
          at(a, k, r) = s * akp + c * akr;
        }
        for (int k = 0; k < D; ++k) {  // rows p and r
          const double apk = at(a, p, k), ark = at(a, r, k);
          at(a, p, k) = c * apk - s * ark;
          at(a, r, k) = s * apk + c * ark;
        }
        for (int k = 0; k < D; ++k) {
          const double vkp = at(v, k, p), vkr = at(v, k, r);
          at(v, k, p) = c * vkp - s * vkr;
          at(v, k, r) = s * vkp + c * vkr;
        }
      }
  }
}

}  // namespace

TTraceBasis::TTraceBasis(const std::vector<const std::int8_t*>& all) {
  // A fixed seed: the same pictures give the same basis, run after run.
  std::mt19937_64 random(0x7261636573ULL);
  std::uniform_real_distribution<double> any(-1.0, 1.0);
  std::vector<const std::int8_t*> samples;
  const std::size_t count = std::min(all.size(), MaxSamples);
  for (std::size_t i = 0; i < count; ++i) samples.push_back(all[i * all.size() / count]);

  // (X^T X)^q Omega: the sample's second moments applied to random directions, a few times over
  // so that the strong directions stand out from the rest.
  std::vector<double> q(static_cast<std::size_t>(N) * D);
  for (double& x : q) x = any(random);
  for (int power = 0; power < PowerSteps && !samples.empty(); ++power) {
    std::vector<double> y(q.size(), 0.0), z(D);
    for (const std::int8_t* x : samples) {
      Multiply(x, q.data(), z.data());
      AddOuter(x, z.data(), y.data());
    }
    q.swap(y);
    Orthonormalise(q, random);  // each step: without it the weaker directions come out poorly
  }
  if (samples.empty()) Orthonormalise(q, random);

  // Within that span, the directions of the sample's energy, strongest first.
  if (!samples.empty()) {
    std::vector<double> b(static_cast<std::size_t>(D) * D, 0.0), z(D), v;
    for (const std::int8_t* x : samples) {
      Multiply(x, q.data(), z.data());
      for (int i = 0; i < D; ++i)
        for (int j = 0; j < D; ++j) b[static_cast<std::size_t>(i) * D + j] += z[static_cast<std::size_t>(i)] * z[static_cast<std::size_t>(j)];
    }
    Eigenvectors(b, v);
    int order[D];
    std::iota(order, order + D, 0);
    std::stable_sort(order, order + D, [&](int x, int y) {
      return b[static_cast<std::size_t>(x) * D + x] > b[static_cast<std::size_t>(y) * D + y];
    });
    std::vector<double> sorted(v.size()), turned(q.size(), 0.0);
    for (int e = 0; e < D; ++e)
      for (int d = 0; d < D; ++d) sorted[static_cast<std::size_t>(e) * D + d] = v[static_cast<std::size_t>(e) * D + order[d]];
    for (int k = 0; k < N; ++k)
      for (int e = 0; e < D; ++e) {
        const double x = q[static_cast<std::size_t>(k) * D + e];
        for (int d = 0; d < D; ++d) turned[static_cast<std::size_t>(k) * D + d] += x * sorted[static_cast<std::size_t>(e) * D + d];
      }
    q.swap(turned);
    Orthonormalise(q, random);
  }
  Basis_ = std::move(q);
}

void TTraceBasis::Project(const std::int8_t* trace, double out[Dims]) const { Multiply(trace, Basis_.data(), out); }

std::vector<double> TTraceBasis::Direction(int d) const {
  std::vector<double> direction(N);
  for (int k = 0; k < N; ++k) direction[static_cast<std::size_t>(k)] = Basis_[static_cast<std::size_t>(k) * D + d];
  return direction;
}

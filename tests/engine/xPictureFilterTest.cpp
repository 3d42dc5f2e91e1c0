// The bound behind the picture pairs the candidate loop leaves out: its basis is orthonormal, its
// edge lies just below the decision's, and no pair the decision accepts is ever left out, by any
// kernel.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>

#include "xEngine.h"
#include "xPictureFilter.h"
#include "xSyntheticSignatures.h"

namespace {

std::vector<TDotKernel> Kernels() {  // the kernels this processor runs
  std::vector<TDotKernel> kernels;
  for (const TDotKernel kernel : {TDotKernel::Scalar, TDotKernel::Avx2})
    if (DotKernelAvailable(kernel)) kernels.push_back(kernel);
  return kernels;
}

}  // namespace

// The bound rests on the basis being orthonormal, whatever the sample: none, fewer traces than
// directions, traces all alike, arbitrary bytes, photographs made up.
TEST(PictureFilter, BasisIsOrthonormalForAnySample) {
  std::mt19937 random(7);
  std::vector<std::vector<std::int8_t>> traces;
  for (int i = 0; i < 300; ++i) {
    std::vector<std::int8_t> trace(LTraceLength);
    if (i < 150) {
      TPicSign sign(TPicVariants{});
      SyntheticSignature(SyntheticOriginal(random), sign);
      std::copy_n(reinterpret_cast<const std::int8_t*>(sign.LTrace(pvOriginal)->Data()), LTraceLength, trace.begin());
    } else {
      for (auto& x : trace) x = static_cast<std::int8_t>(i % 7 == 0 ? -128 : static_cast<int>(random() % 256) - 128);
    }
    traces.push_back(std::move(trace));
  }
  std::vector<const std::int8_t*> alike(50, traces[0].data());
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{5}, std::size_t{150}, std::size_t{300}}) {
    std::vector<const std::int8_t*> samples;
    for (std::size_t i = 0; i < count; ++i) samples.push_back(traces[i].data());
    for (const auto& sample : {samples, alike}) {
      const TTraceBasis basis(sample);
      std::vector<std::vector<double>> directions;
      for (int d = 0; d < TTraceBasis::Dims; ++d) directions.push_back(basis.Direction(d));
      for (int d = 0; d < TTraceBasis::Dims; ++d)
        for (int e = d; e < TTraceBasis::Dims; ++e) {
          double dot = 0;
          for (int k = 0; k < LTraceLength; ++k) dot += directions[d][k] * directions[e][k];
          ASSERT_NEAR(dot, d == e ? 1.0 : 0.0, 1e-12) << count << " samples, directions " << d << " " << e;
        }
    }
  }
  // Photographs made up: the first directions hold about as much of their energy as the best
  // sixteen coefficients do, or more, and the strongest direction comes first.
  std::vector<const std::int8_t*> photos;
  for (int i = 0; i < 150; ++i) photos.push_back(traces[static_cast<std::size_t>(i)].data());
  const TTraceBasis basis(photos);
  std::vector<double> along(TTraceBasis::Dims, 0.0), axes(LTraceLength, 0.0);
  for (const std::int8_t* trace : photos) {
    double coords[TTraceBasis::Dims];
    basis.Project(trace, coords);
    for (int d = 0; d < TTraceBasis::Dims; ++d) along[static_cast<std::size_t>(d)] += coords[d] * coords[d];
    for (int k = 0; k < LTraceLength; ++k) axes[static_cast<std::size_t>(k)] += trace[k] * trace[k];
  }
  std::sort(axes.rbegin(), axes.rend());
  EXPECT_EQ(std::max_element(along.begin(), along.end()), along.begin());
  EXPECT_GT(std::accumulate(along.begin(), along.begin() + 16, 0.0), 0.95 * std::accumulate(axes.begin(), axes.begin() + 16, 0.0));
}

TEST(PictureFilter, NeededDotIsTheEdgeOfTheDecision) {
  std::mt19937 random(11);
  for (int tolerance = 0; tolerance <= 10; ++tolerance)
    for (const bool grayscale : {false, true}) {
      const int threshold = TEngine::PictureThreshold(tolerance, false);
      const TPictureFilter filter({}, TPicVariants().Include(grayscale ? pvGrayscale : pvOriginal), threshold);
      for (int round = 0; round < 300; ++round) {
        const std::int64_t hueDot = round == 0 ? 0 : round == 1 ? HTraceLength * 255 * 255 : random() % (HTraceLength * 255 * 255);
        const std::int64_t needed = filter.NeededDot(hueDot);
        const float colour = TPixan::TraceSimilarity(hueDot, true);
        auto reaches = [&](std::int64_t dot) {
          return PictureScore(TPixan::TraceSimilarity(dot, false), colour, grayscale) >= static_cast<float>(threshold);
        };
        EXPECT_TRUE(reaches(needed)) << tolerance << " " << hueDot;
        EXPECT_FALSE(reaches(needed - 1)) << tolerance << " " << hueDot;
        // The bound's edge lies below the decision's, and close to it.
        EXPECT_LE(filter.LineAt(hueDot), static_cast<double>(needed)) << tolerance << " " << hueDot;
        if (needed <= LTraceLength * 127 * 127) {
          EXPECT_GT(filter.LineAt(hueDot), static_cast<double>(needed) - 8) << tolerance << " " << hueDot;
        }
      }
    }
}

// Pairs of made-up signatures around every threshold, and pairs of arbitrary bytes: whenever the
// decision accepts a pair, the filter keeps it; and it does leave pairs out.
TEST(PictureFilter, NeverLeavesOutAPairTheDecisionAccepts) {
  std::mt19937 random(3);
  const auto all = TPicVariants::FromBits(0x3F);
  std::vector<std::unique_ptr<TPicData>> pictures;
  std::vector<const TFileData*> records;
  std::vector<TSyntheticPicture> originals;
  for (int i = 0; i < 160; ++i) {
    auto picture = std::make_unique<TPicData>("p" + std::to_string(i), 0, 1, all);
    if (i % 16 == 15) {  // any bytes at all
      picture->Sign.SetHLength(HTraceLength);
      for (int k = 0; k < HTraceLength; ++k) picture->Sign.HTrace().Bytes(k, static_cast<std::uint8_t>(random()));
      for (int t = 0; t < LTraceVariants; ++t) {
        picture->Sign.SetLLength(t, LTraceLength);
        for (int k = 0; k < LTraceLength; ++k) picture->Sign.LTrace(t)->Bytes(k, static_cast<std::uint8_t>(random()));
      }
    } else if (originals.empty() || random() % 3 == 0) {
      originals.push_back(SyntheticOriginal(random));
      SyntheticSignature(originals.back(), picture->Sign);
    } else {
      const float keep = 0.5F + 0.5F * static_cast<float>(random() % 1000) / 1000;
      const float colour = random() % 4 == 0 ? 0.0F : static_cast<float>(random() % 1000) / 1000;
      SyntheticSignature(SyntheticCopy(originals[random() % originals.size()], keep, colour, random), picture->Sign);
    }
    records.push_back(picture.get());
    pictures.push_back(std::move(picture));
  }
  int accepted = 0, leftOut = 0;
  for (int tolerance = 0; tolerance <= 10; tolerance += 1)
    for (const std::uint8_t bits : {0x01, 0x41, 0x3F, 0x7F, 0x13}) {
      const auto variants = TPicVariants::FromBits(bits);
      for (const bool memberCheck : {false, true})
        for (const TDotKernel kernel : Kernels()) {
        TPictureFilter filter(records, variants, TEngine::PictureThreshold(tolerance, memberCheck), false,
                              BlockBoundKernel(kernel));
        for (std::size_t a = 0; a < pictures.size(); ++a)
          for (std::size_t b = 0; b < pictures.size(); ++b) {
            const bool duplicate = JudgePictures(pictures[a]->Sign, pictures[b]->Sign, variants, tolerance, memberCheck).Duplicate;
            const bool kept = filter.MayMatch(static_cast<int>(a), static_cast<int>(b));
            if (duplicate) {
              ASSERT_TRUE(kept) << a << " " << b << " tolerance " << tolerance << " variants " << int{bits}
                                << " kernel " << static_cast<int>(kernel);
            }
            accepted += duplicate ? 1 : 0;
            leftOut += kept ? 0 : 1;
          }
      }
    }
  EXPECT_GT(accepted, 20000);
  EXPECT_GT(leftOut, 200000);
}

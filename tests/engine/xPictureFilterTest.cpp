// The bound behind the picture pairs the candidate loop leaves out: the kernels agree with the
// scalar sums, the least structure dot product is the decision's own edge, and no pair the
// decision accepts is ever left out.

#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "xEngine.h"
#include "xPictureFilter.h"
#include "xSyntheticSignatures.h"

namespace {

std::vector<TDotKernel> Kernels() {
  std::vector<TDotKernel> kernels;
  for (const TDotKernel kernel : {TDotKernel::Scalar, TDotKernel::Avx2})
    if (DotKernelAvailable(kernel)) kernels.push_back(kernel);
  return kernels;
}

}  // namespace

TEST(PictureFilter, KernelsGiveTheScalarSumsForAnyBytes) {
  std::mt19937 random(7);
  alignas(32) std::int16_t a[LTraceLength];
  std::int8_t b[LTraceLength];
  alignas(32) std::int16_t hueA[HTraceLength];
  std::uint8_t hueB[HTraceLength];
  std::uint16_t offsets[LTraceLength / TraceSegment];
  for (int round = 0; round < 2000; ++round) {
    // Extremes included: -128 and 255 are where a saturating step would show.
    for (auto& x : a) x = static_cast<std::int16_t>(round % 5 == 0 ? (random() % 2 ? -128 : 127) : static_cast<int>(random() % 511) - 255);
    for (auto& x : b) x = static_cast<std::int8_t>(round % 7 == 0 ? -128 : static_cast<int>(random() % 256) - 128);
    for (auto& x : hueA) x = static_cast<std::int16_t>(round % 3 == 0 ? 255 : random() % 256);
    for (auto& x : hueB) x = static_cast<std::uint8_t>(round % 3 == 0 ? 255 : random() % 256);
    for (auto& offset : offsets) offset = static_cast<std::uint16_t>(random() % (LTraceLength / TraceSegment) * TraceSegment);
    const int count = 1 + static_cast<int>(random() % (LTraceLength / TraceSegment));
    const std::int32_t segments = SegmentDotKernel(TDotKernel::Scalar)(a, b, offsets, count);
    const std::int32_t hue = HueDotKernel(TDotKernel::Scalar)(hueA, hueB);
    for (const TDotKernel kernel : Kernels()) {
      ASSERT_EQ(SegmentDotKernel(kernel)(a, b, offsets, count), segments) << "round " << round;
      ASSERT_EQ(HueDotKernel(kernel)(hueA, hueB), hue) << "round " << round;
    }
  }
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
        EXPECT_LE(filter.NeededDotBound(static_cast<std::int32_t>(hueDot)), needed);
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
      for (const bool memberCheck : {false, true}) {
        TPictureFilter filter(records, variants, TEngine::PictureThreshold(tolerance, memberCheck));
        for (std::size_t a = 0; a < pictures.size(); ++a)
          for (std::size_t b = 0; b < pictures.size(); ++b) {
            const bool duplicate = JudgePictures(pictures[a]->Sign, pictures[b]->Sign, variants, tolerance, memberCheck).Duplicate;
            const bool kept = filter.MayMatch(static_cast<int>(a), static_cast<int>(b));
            if (duplicate) {
              ASSERT_TRUE(kept) << a << " " << b << " tolerance " << tolerance << " variants " << int{bits};
            }
            accepted += duplicate ? 1 : 0;
            leftOut += kept ? 0 : 1;
          }
      }
    }
  EXPECT_GT(accepted, 20000);
  EXPECT_GT(leftOut, 200000);
}

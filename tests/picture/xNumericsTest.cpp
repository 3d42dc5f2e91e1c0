// Vectors, matrices, the Haar transform and the colour conversion.

#include <gtest/gtest.h>

#include <cmath>

#include "xAssert.h"
#include "xColors.h"
#include "xHaar.h"
#include "xMatrix.h"
#include "xVector.h"

namespace {

TVector VectorOf(std::initializer_list<float> values) {
  TVector v(static_cast<int>(values.size()));
  int i = 0;
  for (float value : values) v.Items(i++, value);
  return v;
}

}  // namespace

TEST(Vector, SetCountKeepsLeadingElementsAndZeroesNewOnes) {
  TVector v = VectorOf({1, 2, 3});
  v.SetCount(-1);
  EXPECT_EQ(v.Count(), 3);
  v.SetCount(5);
  ASSERT_EQ(v.Count(), 5);
  EXPECT_EQ(v.Items(2), 3);
  EXPECT_EQ(v.Items(3), 0);
  EXPECT_EQ(v.Items(4), 0);
  v.SetCount(2);
  ASSERT_EQ(v.Count(), 2);
  EXPECT_EQ(v.Items(1), 2);
  v.SetCount(3);
  EXPECT_EQ(v.Items(2), 0) << "a dropped element must not come back";
}

TEST(Vector, AccessOutsideTheRangeIsAConsistencyFailure) {
  TVector v(2);
  EXPECT_THROW(v.Items(2), EAssertionFailed);
  EXPECT_THROW(v.Items(-1, 1.0f), EAssertionFailed);
  EXPECT_THROW(TVector().Items(0), EAssertionFailed);
}

TEST(Vector, NormSumsInIndexOrder) {
  EXPECT_EQ(TVector().Norm(), 0.0f);
  EXPECT_EQ(VectorOf({3, 4}).Norm(), 5.0f);
  // Partial sums rounded to float: 1e8 + 4 is 1e8 again, so the four small squares vanish one by
  // one; summed exactly they would move the norm to the next float above 1e4.
  TVector v = VectorOf({1e4f, 2, 2, 2, 2});
  EXPECT_EQ(v.Norm(), 1e4f);
}

TEST(Vector, NormalizeLeavesTinyVectorsAlone) {
  const struct {
    float Value;
    bool Divides;
  } cases[] = {{0.0f, false}, {0.0001f, false}, {0.00005f, false}, {0.00011f, true}, {-0.00011f, true}, {7, true}};
  for (const auto& c : cases) {
    TVector v = VectorOf({c.Value, 0});
    EXPECT_EQ(v.Normalize(), c.Divides) << c.Value;
    EXPECT_EQ(v.Items(0), c.Divides ? std::copysign(1.0f, c.Value) : c.Value) << c.Value;
  }
  TVector v = VectorOf({3, 4});
  EXPECT_TRUE(v.Normalize());
  EXPECT_EQ(v.Items(0), 3.0f / 5.0f);
  EXPECT_EQ(v.Items(1), 4.0f / 5.0f);
}

TEST(Matrix, SetSizeZeroesUnlessTheExtentsAreUnchanged) {
  TMatrix m(2, 3);
  m.Fill(7);
  m.SetSize(2, 3);
  EXPECT_EQ(m.Items(1, 2), 7) << "same extents keep the contents";
  m.SetSize(3, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_EQ(m.Items(r, c), 0) << r << "," << c;
  EXPECT_THROW(m.Items(3, 0), EAssertionFailed);
  EXPECT_THROW(m.Items(0, -1, 1), EAssertionFailed);
}

TEST(Matrix, AssignReshapesOrCopies) {
  TMatrix source(2, 4);
  source.Items(1, 3, 5);
  TMatrix target(3, 3);
  target.Assign(source);
  EXPECT_EQ(target.Rows(), 2);
  EXPECT_EQ(target.Cols(), 4);
  EXPECT_EQ(target.Items(1, 3), 5);
  EXPECT_EQ(source.Items(1, 3), 5);
  TMatrix same(2, 4);
  same.Fill(1);
  same.Assign(source);
  EXPECT_EQ(same.Items(0, 0), 0);
  EXPECT_EQ(same.Items(1, 3), 5);
}

TEST(Haar, StepAveragesAndHalvesDifferences) {
  TVector data = VectorOf({3, 1, 10, 4});
  TVector temporary(4);
  EXPECT_TRUE(THaar2D::HaarStep(&data, temporary, 4));
  EXPECT_EQ(data.Items(0), 2);
  EXPECT_EQ(data.Items(1), 7);
  EXPECT_EQ(data.Items(2), 1);
  EXPECT_EQ(data.Items(3), 3);
  for (int n : {0, 1}) {
    TVector small = VectorOf({5, 6});
    EXPECT_FALSE(THaar2D::HaarStep(&small, temporary, n));
    EXPECT_EQ(small.Items(0), 5);
    EXPECT_EQ(small.Items(1), 6);
  }
  EXPECT_THROW(THaar2D::HaarStep(nullptr, temporary, 2), EAssertionFailed);
}

TEST(Haar, PaddingGrowsToPowersOfTwoWithZeros) {
  const struct {
    int Rows, Cols, PaddedRows, PaddedCols;
  } cases[] = {{3, 5, 4, 8}, {1, 1, 2, 2}, {0, 0, 2, 2}, {4, 4, 4, 4}, {128, 128, 128, 128}, {129, 2, 256, 2}};
  for (const auto& c : cases) {
    TMatrix m(c.Rows, c.Cols);
    m.Fill(1);
    EXPECT_TRUE(THaar2D::PadToPowerOfTwo(m));
    ASSERT_EQ(m.Rows(), c.PaddedRows) << c.Rows << "x" << c.Cols;
    ASSERT_EQ(m.Cols(), c.PaddedCols) << c.Rows << "x" << c.Cols;
    for (int r = 0; r < m.Rows(); ++r)
      for (int col = 0; col < m.Cols(); ++col)
        EXPECT_EQ(m.Items(r, col), r < c.Rows && col < c.Cols ? 1 : 0) << r << "," << col;
  }
}

TEST(Haar, ConstantMatrixKeepsOnlyItsMean) {
  TMatrix m(128, 128);
  m.Fill(0.25f);
  THaar2D haar;
  EXPECT_TRUE(haar.Transform(m, 1));
  for (int r = 0; r < 128; ++r)
    for (int c = 0; c < 128; ++c) ASSERT_EQ(m.Items(r, c), r == 0 && c == 0 ? 0.25f : 0.0f) << r << "," << c;
}

TEST(Haar, TopLeftBlockDecomposesTheBlockAverages) {
  // The pyramid keeps, after seven levels on 128 x 128, the full decomposition of the 4 x 4 block
  // averages in the top-left 32 x 32 block; with values chosen so that averaging is exact, the
  // two routes agree exactly.
  TMatrix big(128, 128);
  TMatrix small(32, 32);
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c) {
      const float value = static_cast<float>((r * 7 + c * 13) % 17);
      small.Items(r, c, value);
      for (int dr = 0; dr < 4; ++dr)
        for (int dc = 0; dc < 4; ++dc) big.Items(4 * r + dr, 4 * c + dc, value);
    }
  THaar2D haar;
  ASSERT_TRUE(haar.Transform(big, 1));
  ASSERT_TRUE(haar.Transform(small, 1));
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c) ASSERT_EQ(big.Items(r, c), small.Items(r, c)) << r << "," << c;
  float mean = 0;
  for (int r = 0; r < 32; ++r)
    for (int c = 0; c < 32; ++c) mean += static_cast<float>((r * 7 + c * 13) % 17);
  EXPECT_FLOAT_EQ(big.Items(0, 0), mean / 1024);
}

TEST(Haar, TwoByTwoByHand) {
  // Rows first: (1,2)->(1.5,-0.5), (3,4)->(3.5,-0.5); then columns: (1.5,3.5)->(2.5,-1), (-0.5,-0.5)->(-0.5,0).
  TMatrix m(2, 2);
  m.Items(0, 0, 1);
  m.Items(0, 1, 2);
  m.Items(1, 0, 3);
  m.Items(1, 1, 4);
  THaar2D haar;
  ASSERT_TRUE(haar.Transform(m, 1));
  EXPECT_EQ(m.Items(0, 0), 2.5f);
  EXPECT_EQ(m.Items(0, 1), -0.5f);
  EXPECT_EQ(m.Items(1, 0), -1.0f);
  EXPECT_EQ(m.Items(1, 1), 0.0f);
}

TEST(Haar, OddMatrixIsPaddedBeforeTheTransform) {
  TMatrix m(3, 5);
  m.Fill(8);
  THaar2D haar;
  ASSERT_TRUE(haar.Transform(m, 1));
  EXPECT_EQ(m.Rows(), 4);
  EXPECT_EQ(m.Cols(), 8);
  EXPECT_EQ(m.Items(0, 0), 8.0f * 15 / 32) << "mean over the padded 4 x 8";
}

TEST(Colors, RgbToHslCases) {
  const struct {
    float R, G, B, Lightness, Hue, Saturation;
  } cases[] = {
      {1, 0, 0, 0.5f, 0, 1},
      {0, 1, 0, 0.5f, 1.0f / 3, 1},
      {0, 0, 1, 0.5f, 2.0f / 3, 1},
      {0.5f, 0.5f, 0.5f, 0.5f, 0, 0},
      {0, 0, 0, 0, 0, 0},
      {1, 1, 1, 1, 0, 0},
      {1, 0, 0.5f, 0.5f, 11.0f / 12, 1},        // negative raw hue wraps
      {1, 1, 0, 0.5f, 1.0f / 6, 1},             // red and green tie: red wins
      {0, 1, 1, 0.5f, 0.5f, 1},                 // green and blue tie: green wins
      {0.2f, 0.4f, 0.3f, 0.3f, 5.0f / 12, 1.0f / 3},  // lightness below 0.5
      {0.8f, 0.6f, 0.7f, 0.7f, 11.0f / 12, 1.0f / 3},  // lightness above 0.5
  };
  for (const auto& c : cases) {
    const TColorTriple hsl = RGBToHSL({c.R, c.G, c.B});
    EXPECT_FLOAT_EQ(hsl.A, c.Lightness) << c.R << "," << c.G << "," << c.B;
    EXPECT_FLOAT_EQ(hsl.B, c.Hue) << c.R << "," << c.G << "," << c.B;
    EXPECT_FLOAT_EQ(hsl.C, c.Saturation) << c.R << "," << c.G << "," << c.B;
  }
}

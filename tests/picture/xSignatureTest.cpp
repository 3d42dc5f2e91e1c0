// Signatures of whole pictures against the ones a separate, plain implementation computed
// (tests/picture/reference/make_expected.py writes the fixtures), and the signature-level
// edge cases: black pictures, trace comparison, turned copies, failures.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "xAssert.h"
#include "xPixan.h"
#include "xTestFiles.h"
#include "xTraceKernels.h"

namespace {

constexpr std::uint8_t AllTraces = 0x3F;  // elements 0 .. 5

std::string FixtureFolder() {
  const char* root = std::getenv("TWINSIFTER_TEST_DATA");
  return std::string(root ? root : "tests/data") + "/picture/signatures/";
}

struct TExpected {
  std::vector<int> L[LTraceVariants];
  std::vector<int> H;
};

// Reads the seven lines "L0 ..." .. "L5 ...", "H ..." of a .sig file.
TExpected ReadExpected(const std::string& path) {
  TExpected expected;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string key;
    fields >> key;
    std::vector<int>* target = nullptr;
    if (key == "H") target = &expected.H;
    else if (key.size() == 2 && key[0] == 'L' && key[1] >= '0' && key[1] < '0' + LTraceVariants)
      target = &expected.L[key[1] - '0'];
    if (!target) continue;
    for (int value; fields >> value;) target->push_back(value);
  }
  return expected;
}

std::vector<int> SignedBytes(const TPicTrace& trace) {
  std::vector<int> values;
  for (int i = 0; i < trace.Length(); ++i) values.push_back(static_cast<std::int8_t>(trace.Bytes(i)));
  return values;
}

std::vector<int> UnsignedBytes(const TPicTrace& trace) {
  std::vector<int> values;
  for (int i = 0; i < trace.Length(); ++i) values.push_back(trace.Bytes(i));
  return values;
}

// Where two traces first differ, for a message that points at the coefficient.
std::string FirstDifference(const std::vector<int>& actual, const std::vector<int>& expected, bool lTrace) {
  if (actual.size() != expected.size())
    return "length " + std::to_string(actual.size()) + " instead of " + std::to_string(expected.size());
  int count = 0;
  std::string first;
  for (std::size_t k = 0; k < actual.size(); ++k) {
    if (actual[k] == expected[k]) continue;
    if (count++ == 0) {
      first = "byte " + std::to_string(k);
      if (lTrace) first += " (x " + std::to_string(k / 32) + ", y " + std::to_string(k % 32) + ")";
      first += ": " + std::to_string(actual[k]) + " instead of " + std::to_string(expected[k]);
    }
  }
  return count == 0 ? "" : std::to_string(count) + " bytes differ, first " + first;
}

class SignatureFixture : public ::testing::TestWithParam<const char*> {};

void ExpectTraces(const TPicSign& signature, const TExpected& expected) {
  EXPECT_TRUE(signature.IsValid());
  for (int variant = 0; variant < LTraceVariants; ++variant) {
    ASSERT_EQ(expected.L[variant].size(), static_cast<std::size_t>(LTraceLength)) << "fixture unreadable";
    ASSERT_NE(signature.LTrace(variant), nullptr);
    EXPECT_EQ(FirstDifference(SignedBytes(*signature.LTrace(variant)), expected.L[variant], true), "")
        << "L-trace " << variant;
  }
  EXPECT_EQ(FirstDifference(UnsignedBytes(signature.HTrace()), expected.H, false), "") << "H-trace";
}

TEST_P(SignatureFixture, MatchesReferenceByteForByte) {
  const std::string name = FixtureFolder() + GetParam() + ".png";
  const TExpected expected = ReadExpected(FixtureFolder() + GetParam() + ".sig");
  ASSERT_EQ(expected.H.size(), static_cast<std::size_t>(HTraceLength)) << "fixture unreadable";
  const TPicVariants all = TPicVariants::FromBits(AllTraces);

  TPixan pixan;
  TPicSign signature(all);
  ASSERT_TRUE(pixan.Analyse(name, signature, all)) << pixan.LastError();
  EXPECT_EQ(pixan.LastError(), "");
  EXPECT_EQ(pixan.PictureSize(), (TPictureSize{128, 128}));
  {
    SCOPED_TRACE("Analyse");
    ExpectTraces(signature, expected);
  }
  // The step-by-step path, which the fast one is held to, answers to the same reference.
  TPicSign plain(all);
  ASSERT_TRUE(pixan.AnalyseLoadedPlain(plain, all));
  SCOPED_TRACE("AnalyseLoadedPlain");
  ExpectTraces(plain, expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SignatureFixture,
                         ::testing::Values("black", "white", "grey", "red", "green", "blue", "pink",
                                           "gradient_horizontal", "gradient_vertical", "gradient_diagonal", "corner",
                                           "shape", "hue_ties", "noise"),
                         [](const auto& item) { return std::string(item.param); });

TEST(Signature, BlackPictureHasZeroBrightnessAndAllHueAtRed) {
  TTempDir dir;
  WritePng(dir.File("black.png"), TTestImage(128, 128, 0, 0, 0));
  TPixan pixan;
  TPicSign signature;
  ASSERT_TRUE(pixan.Analyse(dir.File("black.png"), signature, {}));
  ASSERT_EQ(signature.LLength(0), LTraceLength);
  EXPECT_EQ(SignedBytes(*signature.LTrace(0)), std::vector<int>(LTraceLength, 0));
  std::vector<int> hue(HTraceLength, 0);
  hue[0] = 255;
  EXPECT_EQ(UnsignedBytes(signature.HTrace()), hue);
  // A zero trace is like nothing, itself included.
  EXPECT_EQ(TPixan::CompareTraces(*signature.LTrace(0), *signature.LTrace(0), false), 0.0f);
}

TEST(Signature, OnlyTheRequestedVariantsAreComputed) {
  TPixan pixan;
  TPicSign signature;
  ASSERT_TRUE(pixan.Analyse(FixtureFolder() + "shape.png", signature, {}));
  EXPECT_EQ(signature.LLength(0), LTraceLength);
  EXPECT_EQ(signature.HLength(), HTraceLength);
  for (int variant = 1; variant < LTraceVariants; ++variant) {
    EXPECT_EQ(signature.LTrace(variant), nullptr) << variant;
    EXPECT_EQ(signature.LLength(variant), 0) << variant;
  }
}

TEST(CompareTraces, OneBinHueTraceWithItselfIsExactlyOne) {
  for (int bin : {0, 11, 31}) {
    TPicTrace trace(HTraceLength);
    trace.Bytes(bin, 255);
    EXPECT_EQ(TPixan::CompareTraces(trace, trace, true), 1.0f) << bin;
  }
}

TEST(CompareTraces, LTraceWithItselfAndWithItsNegation) {
  TPixan pixan;
  TPicSign signature;
  ASSERT_TRUE(pixan.Analyse(FixtureFolder() + "noise.png", signature, {}));
  const TPicTrace& trace = *signature.LTrace(0);
  TPicTrace negated(trace.Length());
  for (int i = 0; i < trace.Length(); ++i)
    negated.Bytes(i, static_cast<std::uint8_t>(-static_cast<std::int8_t>(trace.Bytes(i))));
  EXPECT_NEAR(TPixan::CompareTraces(trace, trace, false), 1.0f, 0.02f);
  EXPECT_NEAR(TPixan::CompareTraces(trace, negated, false), -1.0f, 0.02f);
  EXPECT_NEAR(TPixan::CompareTraces(negated, negated, false), 1.0f, 0.02f);
}

TEST(CompareTraces, DifferentLengthsAreAnInternalError) {
  TPicTrace longer(LTraceLength), shorter(HTraceLength);
  EXPECT_THROW(TPixan::CompareTraces(longer, shorter, false), EAssertionFailed);
  EXPECT_THROW(TPixan::CompareTraces(shorter, longer, true), EAssertionFailed);
}

// Every kernel the processor runs, and CompareTraces itself, give the plain loop's sum for any
// length: empty, shorter than a vector, ragged tails, and past the 32-bit blocks (70,000 bytes
// of 255 sum beyond 2^32). The first operand starts one byte off to catch aligned loads.
TEST(CompareTraces, EveryKernelMatchesThePlainLoop) {
  struct TFill {
    const char* Name;
    int X, Y;  // a byte for every position, or -1 for random bytes
    std::int64_t SignedEach, UnsignedEach;  // the product of every position, when X and Y are fixed
  };
  const TFill fills[] = {{"random", -1, -1, 0, 0},
                         {"-128 x -128", 0x80, 0x80, 16384, 16384},
                         {"127 x -128", 0x7F, 0x80, -16256, 16256},
                         {"255 x 255", 0xFF, 0xFF, 1, 65025},
                         {"255 x random", 0xFF, -1, 0, 0}};
  std::mt19937 random(20240611);
  for (int n : {0, 1, 15, 31, 32, 33, 63, 255, 256, 1023, 1024, 1025, 4096, 70000}) {
    for (const TFill& fill : fills) {
      TPicTrace a(n), b(n);
      std::vector<std::uint8_t> shifted(n + 1);
      for (int i = 0; i < n; ++i) {
        a.Bytes(i, static_cast<std::uint8_t>(fill.X < 0 ? random() : fill.X));
        b.Bytes(i, static_cast<std::uint8_t>(fill.Y < 0 ? random() : fill.Y));
        shifted[i + 1] = a.Bytes(i);
      }
      const std::uint8_t* x = shifted.data() + 1;
      const std::uint8_t* y = b.Data();
      const auto* sx = reinterpret_cast<const std::int8_t*>(x);
      const auto* sy = reinterpret_cast<const std::int8_t*>(y);
      const std::int64_t signedSum = TraceDotSigned(TTraceKernel::Scalar, sx, sy, n);
      const std::int64_t unsignedSum = TraceDotUnsigned(TTraceKernel::Scalar, x, y, n);
      const std::string where = std::string(fill.Name) + ", length " + std::to_string(n);
      if (fill.Y >= 0) {
        EXPECT_EQ(signedSum, fill.SignedEach * n) << where;
        EXPECT_EQ(unsignedSum, fill.UnsignedEach * n) << where;
      }
      for (TTraceKernel kernel : {TTraceKernel::Avx2, TTraceKernel::Avx512Vnni}) {
        if (!TraceKernelAvailable(kernel)) continue;
        const std::string which = where + ", kernel " + std::to_string(static_cast<int>(kernel));
        EXPECT_EQ(TraceDotSigned(kernel, sx, sy, n), signedSum) << which;
        EXPECT_EQ(TraceDotUnsigned(kernel, x, y, n), unsignedSum) << which;
      }
      EXPECT_EQ(TPixan::CompareTraces(a, b, false), TPixan::TraceSimilarity(signedSum, false)) << where;
      EXPECT_EQ(TPixan::CompareTraces(a, b, true), TPixan::TraceSimilarity(unsignedSum, true)) << where;
    }
  }
}

// A copy of a picture, turned or mirrored as variant `element` of the analyser does it; written
// out pixel by pixel here so that the analyser's own transforms are not used to make it.
TTestImage Turned(const TTestImage& p, int element) {
  const int w = p.Width, h = p.Height;
  TTestImage q(element == 2 || element == 3 ? h : w, element == 2 || element == 3 ? w : h);
  for (int y = 0; y < q.Height; ++y)
    for (int x = 0; x < q.Width; ++x) {
      int sx = x, sy = y;
      switch (element) {
        case 1: sx = w - 1 - x; sy = h - 1 - y; break;  // 180 degrees
        case 2: sx = w - 1 - y; sy = x; break;          // 90 degrees counter-clockwise
        case 3: sx = y; sy = h - 1 - x; break;          // 90 degrees clockwise
        case 4: sy = h - 1 - y; break;                  // upside down
        case 5: sx = w - 1 - x; break;                  // left to right
      }
      const std::uint8_t* from = p.At(sx, sy);
      q.Set(x, y, from[0], from[1], from[2]);
    }
  return q;
}

// Dark, with a bright block off the centre and a dimmer bar: turning it moves most of the
// brightness structure, so the unturned traces disagree.
TTestImage Asymmetric() {
  TTestImage p(128, 128, 10, 10, 30);
  for (int y = 8; y < 40; ++y)
    for (int x = 76; x < 120; ++x) p.Set(x, y, 250, 240, 200);
  for (int y = 70; y < 86; ++y)
    for (int x = 6; x < 70; ++x) p.Set(x, y, 120, 40, 40);
  return p;
}

class TurnedCopy : public ::testing::TestWithParam<int> {};

TEST_P(TurnedCopy, MatchesTheVariantTraceOnly) {
  const int element = GetParam();
  TTempDir dir;
  const TTestImage p = Asymmetric();
  WritePng(dir.File("p.png"), p);
  WritePng(dir.File("q.png"), Turned(p, element));

  TPixan pixan;
  TPicSign signP(TPicVariants::FromBits(AllTraces)), signQ;
  ASSERT_TRUE(pixan.Analyse(dir.File("p.png"), signP, TPicVariants::FromBits(AllTraces)));
  ASSERT_TRUE(pixan.Analyse(dir.File("q.png"), signQ, {}));
  const float matching = TPixan::CompareTraces(*signQ.LTrace(0), *signP.LTrace(element), false);
  const float unturned = TPixan::CompareTraces(*signQ.LTrace(0), *signP.LTrace(0), false);
  EXPECT_GT(matching, 0.98f);
  EXPECT_LT(unturned, 0.5f);
  // The copy's working picture is the variant picture of P pixel for pixel.
  EXPECT_EQ(*signQ.LTrace(0), *signP.LTrace(element));
  // Turning and mirroring keep the hues.
  EXPECT_EQ(signQ.HTrace(), signP.HTrace());
}

INSTANTIATE_TEST_SUITE_P(Variants, TurnedCopy, ::testing::Values(1, 2, 3, 4, 5));

struct TFailure {
  const char* Label;
  const char* File;  // in the temporary folder
  const char* Bytes;  // contents written first; nullptr: the file is not made
  const char* Message;  // with %s for the full name
};

void PrintTo(const TFailure& failure, std::ostream* out) { *out << failure.Label; }

class AnalyseFailure : public ::testing::TestWithParam<TFailure> {};

std::string Expand(const char* pattern, const std::string& name) {
  std::string text = pattern;
  text.replace(text.find("%s"), 2, name);
  return text;
}

TEST_P(AnalyseFailure, ReportsAndLeavesAnInvalidSignature) {
  const TFailure& failure = GetParam();
  TTempDir dir;
  const std::string name = dir.File(failure.File);
  if (failure.Bytes) WriteBytes(name, failure.Bytes);

  TPixan pixan;
  TPicSign signature(TPicVariants::FromBits(AllTraces));
  // First a success, so that the failure has traces to clear.
  ASSERT_TRUE(pixan.Analyse(FixtureFolder() + "shape.png", signature, TPicVariants::FromBits(AllTraces)));
  ASSERT_TRUE(signature.IsValid());

  EXPECT_FALSE(pixan.Analyse(name, signature, TPicVariants::FromBits(AllTraces)));
  EXPECT_EQ(pixan.LastError(), Expand(failure.Message, name));
  EXPECT_FALSE(signature.IsValid());
  EXPECT_EQ(signature.LLength(0), 0);
  EXPECT_EQ(signature.HLength(), 0);

  // A fresh signature stays invalid too.
  TPicSign fresh;
  EXPECT_FALSE(pixan.Analyse(name, fresh, {}));
  EXPECT_FALSE(fresh.IsValid());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnalyseFailure,
    ::testing::Values(TFailure{"Missing", "absent.png", nullptr, "File \"%s\" not found"},
                      TFailure{"UndecodableJpeg", "broken.jpg", "this is not a JPEG picture", "Failed to load \"%s\""},
                      TFailure{"EmptyPng", "empty.png", "", "Failed to load \"%s\""}),
    [](const auto& item) { return std::string(item.param.Label); });

}  // namespace

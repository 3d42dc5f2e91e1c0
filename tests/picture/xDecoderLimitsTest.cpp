// Decoders against hostile and damaged files: bounded work, coded data that ends early, and a
// stop heard in the middle of a picture.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "xPixan.h"
#include "xTestFiles.h"

namespace {

using TClock = std::chrono::steady_clock;

bool SameWorkingPicture(const TBitmap24& a, const TBitmap24& b) {
  for (int y = 0; y < WorkingSize; ++y)
    if (!std::equal(a.Row(y), a.Row(y) + 3 * WorkingSize, b.Row(y))) return false;
  return true;
}

}  // namespace

class DecoderLimits : public testing::Test {
protected:
  bool Analyse(const std::string& name) { return Analyser.Analyse(name, Sign, TPicVariants()); }

  TTempDir Dir;
  TPixan Analyser;
  TPicSign Sign;
};

TEST_F(DecoderLimits, AJpegOfMoreThan500ScansFailsToLoad) {
  const struct {
    int Scans;
    bool Loads;
  } cases[] = {{500, true}, {501, false}, {2647, false}};
  for (const auto& c : cases) {
    const std::string name = Dir.File(std::to_string(c.Scans) + ".jpg");
    WriteManyScansJpeg(name, 256, 256, c.Scans);
    EXPECT_EQ(Analyse(name), c.Loads) << c.Scans;
    EXPECT_EQ(Analyser.LastError(), c.Loads ? "" : "Failed to load \"" + name + "\"") << c.Scans;
  }
}

TEST_F(DecoderLimits, AJpegWhoseScanDataIsCutShortFailsToLoad) {
  // The end marker is kept, as a repair tool leaves it: libjpeg would fill the rest with grey.
  const struct {
    const char* Name;
    bool Progressive;
    int Scan;
  } cases[] = {{"baseline.jpg", false, 0}, {"first-scan.jpg", true, 0}, {"later-scan.jpg", true, 3}};
  for (const auto& c : cases) {
    const std::string whole = Dir.File(std::string("whole-") + c.Name);
    WriteJpeg(whole, PhotoLikeImage(320, 240), 90, c.Progressive);
    ASSERT_TRUE(Analyse(whole)) << c.Name;
    const std::string name = Dir.File(c.Name);
    WriteBytes(name, CutJpegScan(ReadBytes(whole), c.Scan, 0.5));
    EXPECT_FALSE(Analyse(name)) << c.Name;
    EXPECT_EQ(Analyser.LastError(), "Failed to load \"" + name + "\"") << c.Name;
  }
}

TEST_F(DecoderLimits, ExtraBytesBeforeAMarkerAreHarmless) {
  // Cameras leave such bytes; libjpeg warns about them and decodes every pixel.
  const std::string whole = Dir.File("whole.jpg");
  WriteJpeg(whole, PhotoLikeImage(320, 240), 90);
  ASSERT_TRUE(Analyser.LoadPicture(whole));
  const TBitmap24 expected = Analyser.WorkingPicture();
  std::string bytes = ReadBytes(whole);
  const std::size_t sos = bytes.find("\xFF\xDA");
  ASSERT_NE(sos, std::string::npos);
  bytes.insert(sos, "\x12\x34\x56");
  const std::string name = Dir.File("extra.jpg");
  WriteBytes(name, bytes);
  ASSERT_TRUE(Analyser.LoadPicture(name));
  EXPECT_TRUE(SameWorkingPicture(Analyser.WorkingPicture(), expected));
}

TEST_F(DecoderLimits, AStopEndsALongDecodeAtOnce) {
  // Undisturbed, each of these takes seconds to decode (499 scans over 16 megapixels; 384
  // megapixels of Paeth-filtered rows), so an end within a second of the stop is the stop's
  // doing. The bound is generous: this checks that the stop is heard, not how fast.
  const std::string jpeg = Dir.File("scans.jpg");
  WriteManyScansJpeg(jpeg, 4096, 4096, 499);
  const std::string png = Dir.File("large.png");
  WriteLargePng(png, 16000, 16000);
  for (const std::string& name : {jpeg, png}) {
    const auto start = TClock::now();
    const auto stop = start + std::chrono::milliseconds(100);
    bool stopped = false;
    Analyser.SetCancel([&] { return stopped = TClock::now() >= stop; });
    EXPECT_FALSE(Analyser.LoadPicture(name)) << name;
    const auto end = TClock::now();
    ASSERT_TRUE(stopped) << name << " was decoded before the stop: the fixture is too small";
    EXPECT_LT(end - stop, std::chrono::seconds(1)) << name;
  }
}

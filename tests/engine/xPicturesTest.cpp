// Pictures in the search: thresholds, scores, the decision with its variants, the member check,
// preparation through the cache or the analyser, and its failures.

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "xAssert.h"
#include "xDropOverride.h"
#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

TEST(PictureDecision, ThresholdsByTolerance) {
  const int direct[] = {98, 95, 92, 90, 87, 84, 81, 78, 76, 73, 70};
  const int member[] = {93, 90, 87, 85, 82, 79, 76, 73, 71, 73, 70};
  for (int tolerance = 0; tolerance <= 10; ++tolerance) {
    EXPECT_EQ(TEngine::PictureThreshold(tolerance, false), direct[tolerance]) << tolerance;
    EXPECT_EQ(TEngine::PictureThreshold(tolerance, true), member[tolerance]) << tolerance;
  }
  EXPECT_EQ(TEngine::PictureThreshold(-3, false), 98) << "a damaged setting is held to the range";
  EXPECT_EQ(TEngine::PictureThreshold(50, false), 70);
}

TEST(PictureDecision, ScoreBlendsStructureAndColour) {
  const struct {
    float S, C;
    bool Grey;
    float Score;
  } cases[] = {{1, 1, false, 100}, {1, 0, false, 83.333336f}, {1, 0, true, 100}, {0.5f, 1, true, 83.333336f},
               {-1, 0, false, 16.666664f}, {0, 1, false, 66.66667f}};
  for (const auto& c : cases) EXPECT_FLOAT_EQ(PictureScore(c.S, c.C, c.Grey), c.Score) << c.S << " " << c.C;
}

namespace {

// A picture record whose signature is given: L-trace 0 from two leading coefficients, and
// every H-trace alike (one full hue bin), so that the colour similarity is exactly 1.
std::unique_ptr<TPicData> HandMade(const std::string& name, int first, int second) {
  auto record = std::make_unique<TPicData>(name, 0x00210000U, 1, TPicVariants());
  TPicTrace& l = *record->Sign.LTrace(pvOriginal);
  l.SetLength(LTraceLength);
  l.Bytes(0, static_cast<std::uint8_t>(static_cast<std::int8_t>(first)));
  l.Bytes(1, static_cast<std::uint8_t>(static_cast<std::int8_t>(second)));
  record->Sign.SetHLength(HTraceLength);
  record->Sign.HTrace().Bytes(0, 255);
  return record;
}

}  // namespace

class PictureSearch : public testing::Test {
protected:
  PictureSearch() : Storage(Home.Path(), TInfo()) {}
  std::unique_ptr<TEngine> NewEngine() {
    auto engine = std::make_unique<TEngine>(Storage, false);
    engine->Options.PicsComp = true;
    engine->AddFolder(Tree.Path());
    engine->OnStatus = [this](const std::string& text) { Statuses.push_back(text); };
    return engine;
  }
  std::string Picture(const std::string& name, const TTestImage& image) {
    const std::string path = Tree.File(name);
    WritePng(path, image);
    return path;
  }

  TTempDir Home, Tree;
  TStorage Storage;
  TLogCapture Log;
  std::vector<std::string> Statuses;
};

TEST_F(PictureSearch, AMemberCheckKeepsOutWhatMatchesOnlyOneMember) {
  // A, B and C lie on a quarter circle: A and C are 78 degrees apart, B between them. At
  // tolerance 8 a pair needs 76 and a newcomer 71 against every member; A and C score 73.
  auto a = HandMade("/a", 127, 0);
  auto b = HandMade("/b", 98, 80);
  auto c = HandMade("/c", 25, 124);
  auto engine = NewEngine();
  engine->Options.Tolerance = 8;
  EXPECT_TRUE(engine->IsDuplicate(b.get(), a.get(), false));
  EXPECT_TRUE(engine->IsDuplicate(c.get(), b.get(), false));
  EXPECT_FALSE(engine->IsDuplicate(c.get(), a.get(), false)) << "73 is below 76";
  EXPECT_TRUE(engine->IsDuplicate(c.get(), a.get(), true)) << "73 reaches 71";
  engine->AddPair(b.get(), a.get());
  engine->AddPair(c.get(), b.get());
  ASSERT_EQ(engine->GroupCount(), 1);
  EXPECT_EQ(engine->Groups(0)->Count(), 3);

  // At tolerance 6 a newcomer needs 76 against every member: C, matching B, stays out.
  auto strict = NewEngine();
  strict->Options.Tolerance = 6;
  a->Group = b->Group = c->Group = nullptr;
  strict->AddPair(b.get(), a.get());
  EXPECT_TRUE(strict->IsDuplicate(c.get(), b.get(), false));
  strict->AddPair(c.get(), b.get());
  EXPECT_EQ(strict->Groups(0)->Count(), 2);
  EXPECT_EQ(c->Group, nullptr);
  // Groups refer to records they do not own: let them go before the records do.
  engine.reset();
  strict.reset();
}

TEST_F(PictureSearch, ADecisionWithoutSignatureIsAProgrammingError) {
  auto engine = NewEngine();
  TPicData empty("/e", 0, 1, TPicVariants());
  auto other = HandMade("/o", 127, 0);
  EXPECT_THROW(engine->ComparePictures(&empty, other.get(), false), EAssertionFailed);
  empty.Failed = true;
  EXPECT_FALSE(engine->ComparePictures(&empty, other.get(), false));
}

TEST_F(PictureSearch, CopiesInOtherFormatsTurnedMirroredAndGrey) {
  const TTestImage photo = PhotoLikeImage(300, 200);
  Picture("photo.png", photo);
  WriteMagick(Tree.File("photo-copy.bmp"), photo, "BMP3");
  TTestImage turned(300, 200), mirrored(300, 200), grey(300, 200);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 300; ++x) {
      const std::uint8_t* p = photo.At(x, y);
      turned.Set(299 - x, 199 - y, p[0], p[1], p[2]);
      mirrored.Set(299 - x, y, p[0], p[1], p[2]);
      const auto level = static_cast<std::uint8_t>((p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000);
      grey.Set(x, y, level, level, level);
    }
  const struct {
    const char* Name;
    const TTestImage* Image;
    std::uint8_t Variants;  // besides element 0
    bool Grouped;
  } cases[] = {
      {"turned.png", &turned, 0, false}, {"turned.png", &turned, 1 << pvRotate180, true},
      {"mirrored.png", &mirrored, 0, false}, {"mirrored.png", &mirrored, 1 << pvFlipHorizontal, true},
      {"grey.png", &grey, 0, false},     {"grey.png", &grey, 1 << pvGrayscale, true},
  };
  for (const auto& c : cases) {
    fs::remove(Tree.File("turned.png"));
    fs::remove(Tree.File("mirrored.png"));
    fs::remove(Tree.File("grey.png"));
    Picture(c.Name, *c.Image);
    auto engine = NewEngine();
    engine->Options.PicVariants = TPicVariants::FromBits(static_cast<std::uint8_t>(1 | c.Variants));
    ASSERT_TRUE(engine->Execute()) << engine->LastError;
    ASSERT_EQ(engine->GroupCount(), 1) << c.Name;
    EXPECT_EQ(engine->Groups(0)->Count(), c.Grouped ? 3 : 2) << c.Name << " variants " << int(c.Variants);
    for (int i = 0; i < engine->FileCount(); ++i) {
      const auto* picture = dynamic_cast<const TPicData*>(engine->Files(i));
      ASSERT_NE(picture, nullptr);
      EXPECT_EQ(picture->Width, 300);
      EXPECT_EQ(picture->Height, 200);
    }
  }
}

TEST_F(PictureSearch, PreprocessingReportsAndABrokenPictureOnlyFailsItself) {
  Picture("a.png", PhotoLikeImage(64, 64));
  Picture("b.png", PhotoLikeImage(64, 64));
  WriteBytes(Tree.File("c.jpg"), "not a picture");
  auto engine = NewEngine();
  engine->Options.Cache = false;
  ASSERT_TRUE(engine->Execute());
  EXPECT_EQ(engine->GroupCount(), 1);
  EXPECT_TRUE(engine->Files(2)->Failed);
  const std::vector<std::string> preprocessing(Statuses.begin() + 2, Statuses.begin() + 5);
  EXPECT_EQ(preprocessing, (std::vector<std::string>{"Preprocessing : 1 out of 3", "Preprocessing : 2 out of 3",
                                                      "Preprocessing : 3 out of 3"}));
  std::vector<TLogCapture::TLine> warnings;
  for (const auto& line : Log.Lines())
    if (line.Level == llWarning) warnings.push_back(line);
  EXPECT_EQ(warnings, (std::vector<TLogCapture::TLine>{{"Failed to load \"" + Tree.File("c.jpg") + "\"", llWarning, false}}));
}

TEST_F(PictureSearch, StopWhilePreparingAbortsTheSearch) {
  Picture("a.png", PhotoLikeImage(64, 64));
  Picture("b.png", PhotoLikeImage(64, 64));
  auto engine = NewEngine();
  engine->OnStatus = [&](const std::string& text) {
    if (text.rfind("Preprocessing : 1", 0) == 0) engine->Stop();
  };
  EXPECT_FALSE(engine->Execute());
  EXPECT_EQ(engine->LastError, "Processing aborted!");
  EXPECT_TRUE(engine->NeedRescan);
  EXPECT_TRUE(engine->Options.PicsComp) << "the visual option is back";
}

TEST_F(PictureSearch, PhotosCutShortAreNotGroupedByTheirGreyRest) {
  // Cut right after their headers: decoded anyway, both would be the same grey field, alike even at
  // tolerance 0.
  const struct {
    const char* Name;
    TTestImage Image;
  } photos[] = {{"a.jpg", PhotoLikeImage(320, 240)}, {"b.jpg", NoiseImage(320, 240, 4)}};
  for (const auto& photo : photos) {
    const std::string whole = Home.File(photo.Name);
    WriteJpeg(whole, photo.Image, 90);
    WriteBytes(Tree.File(photo.Name), CutJpegScan(ReadBytes(whole), 0, 0.001));
  }
  auto engine = NewEngine();
  engine->Options.Tolerance = 0;
  ASSERT_TRUE(engine->Execute());
  EXPECT_EQ(engine->GroupCount(), 0);
  std::vector<std::string> warnings;
  for (const auto& line : Log.Lines())
    if (line.Level == llWarning) warnings.push_back(line.Text);
  EXPECT_EQ(warnings, (std::vector<std::string>{"Failed to load \"" + Tree.File("a.jpg") + "\"",
                                                "Failed to load \"" + Tree.File("b.jpg") + "\""}));
}

TEST_F(PictureSearch, AStopIsHeardWhileAPictureDecodes) {
  // Undisturbed, this picture takes seconds to decode (499 scans over 16 megapixels): a search
  // that ends within a second of the stop was stopped inside the decoder. On one thread the
  // front end's events must run from inside the decode; with workers, they must be told.
  WriteManyScansJpeg(Tree.File("a.jpg"), 4096, 4096, 499);
  Picture("b.png", PhotoLikeImage(64, 64));
  for (const bool parallel : {false, true}) {
    auto engine = NewEngine();
    engine->Options.Cache = false;
    engine->ParallelPreparation = parallel;
    const auto stop = TClock::now() + std::chrono::milliseconds(100);  // the scan takes a moment
    engine->OnPumpEvents = [&] {
      if (TClock::now() >= stop) engine->Stop();
    };
    EXPECT_FALSE(engine->Execute()) << parallel;
    const auto end = TClock::now();
    EXPECT_EQ(engine->LastError, "Processing aborted!") << parallel;
    EXPECT_LT(end - stop, std::chrono::seconds(1)) << parallel;
    EXPECT_FALSE(engine->Files(0)->Failed) << "a stopped decode is no failed picture";
  }
  for (const auto& line : Log.Lines()) EXPECT_NE(line.Level, llWarning) << line.Text;
}

TEST_F(PictureSearch, TheCacheSparesTheSecondSearchAllDecoding) {
  Picture("a.png", PhotoLikeImage(80, 60));
  Picture("b.png", PhotoLikeImage(80, 60));
  auto engine = NewEngine();
  ASSERT_TRUE(engine->SignatureCache().IsOpen());
  ASSERT_TRUE(engine->Execute());
  EXPECT_EQ(engine->Stats().Analyser.Decoded, 2);
  engine->NeedRescan = true;
  ASSERT_TRUE(engine->Execute());
  EXPECT_EQ(engine->Stats().Analyser.Decoded, 0);
  EXPECT_EQ(engine->GroupCount(), 1);
  const auto* picture = static_cast<const TPicData*>(engine->Files(0));
  EXPECT_EQ(picture->Width, 80) << "the size comes from the cache";
  EXPECT_EQ(picture->Height, 60);
}

// A picture replaced under its name between two searches is judged as itself, not by the
// signature the cache holds for the name: that would group it with the old one's copy. The new
// file has the old one's size and time: only its inode tells them apart.
TEST_F(PictureSearch, APictureReplacedUnderItsNameIsNotGroupedByTheOldSignature) {
  const TTestImage photo = PhotoLikeImage(80, 60);
  const std::string path = Tree.File("a.bmp");
  WriteMagick(path, photo, "BMP3");
  WriteMagick(Tree.File("a-copy.bmp"), photo, "BMP3");
  auto engine = NewEngine();
  ASSERT_TRUE(engine->SignatureCache().IsOpen());
  ASSERT_TRUE(engine->Execute()) << engine->LastError;
  ASSERT_EQ(engine->GroupCount(), 1);
  ASSERT_EQ(engine->Groups(0)->Count(), 2);

  struct stat old {};
  ASSERT_EQ(stat(path.c_str(), &old), 0);
  WriteMagick(Home.File("other.bmp"), NoiseImage(80, 60, 5), "BMP3");
  fs::copy_file(Home.File("other.bmp"), path + ".new");
  const timespec times[2] = {old.st_mtim, old.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, (path + ".new").c_str(), times, 0), 0);
  fs::rename(path + ".new", path);
  struct stat now {};
  ASSERT_EQ(stat(path.c_str(), &now), 0);
  ASSERT_EQ(now.st_size, old.st_size);
  ASSERT_NE(now.st_ino, old.st_ino);

  engine->NeedRescan = true;
  ASSERT_TRUE(engine->Execute()) << engine->LastError;
  EXPECT_EQ(engine->Stats().Analyser.Decoded, 1) << "the copy is still a hit";
  EXPECT_EQ(engine->GroupCount(), 0);
}

TEST_F(PictureSearch, ADamagedCacheIsStartedAfresh) {
  {
    auto engine = NewEngine();  // creates the cache files
  }
  const std::string names = Storage.CacheBase() + "Cache/cache.ncd";
  ASSERT_TRUE(fs::exists(names)) << names;
  WriteBytes(names, std::string(300, 'x'));
  Log.Clear();
  auto engine = NewEngine();
  EXPECT_TRUE(engine->SignatureCache().IsOpen());
  EXPECT_EQ(engine->SignatureCache().Count(), 0);
  const auto lines = Log.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], (TLogCapture::TLine{"Name cache corrupted!", llError, false}));
}

// Two searches with one state folder: the second one runs without the cache, says so once,
// finds the same groups, and leaves the first one's cache whole.
TEST_F(PictureSearch, ASecondSearchOnTheStateFolderGoesWithoutTheCache) {
  Picture("a.png", PhotoLikeImage(80, 60));
  Picture("b.png", PhotoLikeImage(80, 60));
  auto first = NewEngine();
  ASSERT_TRUE(first->Execute());
  ASSERT_EQ(first->SignatureCache().Count(), 2);
  Log.Clear();
  auto second = NewEngine();
  second->ApplySettings();  // as the command line and the settings dialog do
  EXPECT_FALSE(second->SignatureCache().IsOpen());
  EXPECT_EQ(Log.Lines(), (std::vector<TLogCapture::TLine>{
                             {"Signature cache in use by another search; running without it", llWarning, false}}));
  ASSERT_TRUE(second->Execute());
  EXPECT_EQ(second->GroupCount(), 1);
  EXPECT_EQ(second->Stats().Analyser.Decoded, 2);
  first.reset();
  EXPECT_EQ(second->SignatureCache().Count(), 2) << "kept, never cleared";
}

TEST_F(PictureSearch, ACacheThatCannotBeSavedFailsTheSearch) {
  if (RunsWithFileOverride()) return;
  Picture("a.png", PhotoLikeImage(64, 64));
  Picture("b.png", PhotoLikeImage(64, 64));
  auto engine = NewEngine();
  ASSERT_TRUE(engine->SignatureCache().IsOpen());
  fs::permissions(engine->SignatureCache().Folder(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(engine->Execute());
  EXPECT_FALSE(engine->LastError.empty());
  EXPECT_EQ(engine->LastError, engine->SignatureCache().LastError());
  EXPECT_TRUE(engine->NeedRescan);
  fs::permissions(engine->SignatureCache().Folder(), fs::perms::owner_all);
}

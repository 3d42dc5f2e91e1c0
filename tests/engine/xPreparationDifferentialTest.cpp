// Pictures prepared on several threads against one at a time: the same signatures, sizes,
// failed marks, messages, status lines and cache files, through take-overs and incomplete hits.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

struct TPrepared {
  bool Result = false;
  std::string LastError;
  std::vector<std::string> Log, Statuses, Records;
  std::vector<std::string> CacheFiles;
  bool operator==(const TPrepared&) const = default;
};

std::string Describe(const TFileData& record) {
  std::string text = record.FileName;
  if (record.Failed) text += " failed";
  if (const auto* picture = dynamic_cast<const TPicData*>(&record)) {
    text += " ";
    text += std::to_string(picture->Width);
    text += "x";
    text += std::to_string(picture->Height);
    for (int b = 0; b < picture->Sign.HLength(); ++b) text += std::to_string(picture->Sign.HTrace().Bytes(b)) + ",";
    for (int v = 0; v < LTraceVariants; ++v)
      if (const TPicTrace* trace = picture->Sign.LTrace(v)) {
        text += " L";
        text += std::to_string(v);
        text.append(reinterpret_cast<const char*>(trace->Data()), static_cast<std::size_t>(trace->Length()));
      }
  }
  return text;
}

TPrepared Prepare(TEngine& engine, TStorage& storage) {
  TPrepared outcome;
  TLogCapture log;
  engine.OnStatus = [&](const std::string& text) { outcome.Statuses.push_back(text); };
  outcome.Result = engine.Execute();
  engine.OnStatus = nullptr;
  outcome.LastError = engine.LastError;
  for (const auto& line : log.Lines())
    if (line.Level != llPlain) outcome.Log.push_back(line.Text);
  for (int i = 0; i < engine.FileCount(); ++i) outcome.Records.push_back(Describe(*engine.Files(i)));
  for (const char* name : {"cache.ncd", "cache.lcd", "cache.hcd", "cache.nid"})
    outcome.CacheFiles.push_back(ReadBytes(storage.CacheBase() + "Cache/" + name));
  return outcome;
}

}  // namespace

TEST(PreparationDifferential, SeveralThreadsLeaveWhatOneLeaves) {
  std::mt19937 random(5);
  TTempDir tree;
  for (int i = 0; i < 40; ++i) {
    std::string name = tree.File("p");
    name += std::to_string(i);
    name += i % 3 ? ".png" : ".jpg";
    if (i % 11 == 7) {
      WriteBytes(name, "not a picture");  // fails in the middle of the search
    } else if (i % 3) {
      WritePng(name, NoiseImage(20 + static_cast<int>(random() % 30), 20 + static_cast<int>(random() % 30), random()));
    } else {
      WriteJpeg(name, PhotoLikeImage(40 + static_cast<int>(random() % 40), 30), 85);
    }
  }
  TTempDir homeSerial, homeParallel;
  TStorage serialStorage(homeSerial.Path(), TInfo()), parallelStorage(homeParallel.Path(), TInfo());
  TEngine serial(serialStorage, false), parallel(parallelStorage, false);
  serial.ParallelPreparation = false;
  // Runs with other variant sets and a small cache: hits, incomplete hits and take-overs.
  const struct {
    std::uint8_t Variants;
    int Capacity;
  } runs[] = {{0x01, 25}, {0x05, 25}, {0x3F, 25}, {0x3F, 10}, {0x13, 100}};
  for (const auto& run : runs) {
    for (TEngine* engine : {&serial, &parallel}) {
      engine->Folders.clear();
      engine->AddFolder(tree.Path());
      engine->Options.PicsComp = true;
      engine->Options.Tolerance = 3;
      engine->Options.PicVariants = TPicVariants::FromBits(run.Variants);
      engine->Options.CacheCount = run.Capacity;
      engine->ApplySettings();
    }
    const TPrepared one = Prepare(serial, serialStorage);
    const TPrepared many = Prepare(parallel, parallelStorage);
    EXPECT_EQ(one.Result, many.Result) << int(run.Variants);
    EXPECT_EQ(one.LastError, many.LastError);
    EXPECT_EQ(one.Log, many.Log) << int(run.Variants);
    EXPECT_EQ(one.Statuses, many.Statuses);
    EXPECT_TRUE(one.Records == many.Records) << "records differ, variants " << int(run.Variants);
    EXPECT_TRUE(one.CacheFiles == many.CacheFiles) << "cache files differ, variants " << int(run.Variants);
    EXPECT_EQ(serial.GroupCount(), parallel.GroupCount());
  }
}

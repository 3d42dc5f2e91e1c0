// The options and the folder list in the settings file.

#include <gtest/gtest.h>

#include <filesystem>

#include "xEngine.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace {

std::string Ini(const TTempDir& dir) { return ReadBytes(dir.File("twinsifter.ini")); }

}  // namespace

TEST(Options, FirstStartHasTheDefaults) {
  TTempDir dir;
  TStorage storage(dir.Path(), TInfo());
  TEngine engine(storage, false);
  const TCompOpts& o = engine.Options;
  EXPECT_EQ(o.Tolerance, 0);
  EXPECT_EQ(o.FileMask, "*.*");
  EXPECT_EQ(o.PathMask, "*");
  EXPECT_FALSE(o.UseSample || o.UseFile || o.UsePath || o.FileEx || o.PathEx || o.PicsComp || o.PicsOnly ||
               o.PicContent);
  EXPECT_TRUE(o.SubFolders && o.MP3Comp && o.ZeroIgnore && o.DelUndo && o.moPicQuality && o.moFileOlder && o.Cache);
  EXPECT_EQ(o.FileComp, 3);
  EXPECT_EQ(o.Priority, 1);
  EXPECT_EQ(o.PicVariants, TPicVariants());
  EXPECT_EQ(o.CacheCount, 5000);
  EXPECT_EQ(o.Thumbs, 3);
  EXPECT_TRUE(engine.Folders.empty());
}

TEST(Options, SaveWritesEveryKeyAndLoadReadsThemBack) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("sample"));
  WriteBytes(dir.File("sample/s.jpg"), "x");
  {
    TStorage storage(dir.Path(), TInfo());
    TCompOpts options;
    options.Tolerance = 7;
    options.FileMask = "*.png";
    options.FileComp = 4;
    options.PicVariants = TPicVariants().Include(2).Include(6);
    options.SampleFile = dir.File("sample/s.jpg");
    options.UseSample = true;
    options.CacheCount = 300;
    options.moFileOlder = false;
    EXPECT_TRUE(options.Save(storage));
  }
  const std::string ini = Ini(dir);
  const std::string expectedOrder[] = {"Tolerance=7",  "FileMask=*.png", "PathMask=*",  "FileEx=0",     "PathEx=0",
                                       "UseFile=0",    "UsePath=0",      "SubFolders=1", "PicsComp=0",  "MP3Comp=1",
                                       "PicsOnly=0",   "ZeroIgnore=1",   "DelUndo=1",   "DestFolder=", "FileComp=4",
                                       "Priority=1",   "Thumbs=3",       "UseSample=1", "SampleFile=", "PicContent=0",
                                       "PO_1=0",       "PO_2=1",         "PO_3=0",      "PO_4=0",      "PO_5=0",
                                       "PO_6=1",       "moPicQuality=1", "moFileOlder=0", "Cache=1",   "CacheCount=300"};
  std::size_t at = ini.find("[OPTIONS]");
  ASSERT_NE(at, std::string::npos) << ini;
  for (const std::string& key : expectedOrder) {
    const std::size_t found = ini.find(key, at);
    ASSERT_NE(found, std::string::npos) << key << " missing or out of order in\n" << ini;
    at = found;
  }
  TStorage storage(dir.Path(), TInfo());
  TCompOpts loaded;
  loaded.Load(storage);
  EXPECT_EQ(loaded.Tolerance, 7);
  EXPECT_EQ(loaded.FileMask, "*.png");
  EXPECT_EQ(loaded.FileComp, 4);
  EXPECT_EQ(loaded.PicVariants, TPicVariants().Include(2).Include(6));
  EXPECT_EQ(loaded.SampleFile, dir.File("sample/s.jpg"));
  EXPECT_FALSE(loaded.moFileOlder);
  EXPECT_EQ(loaded.CacheCount, 300);
}

TEST(Options, LoadKeepsFieldsForMissingOrBadKeys) {
  TTempDir dir;
  WriteBytes(dir.File("twinsifter.ini"),
             "[OPTIONS]\nTolerance=abc\nPO_2=1\nPO_0=0\nSampleFile=/no/such/file\nFileMask=*.gif\n"
             "SubFolders=0\nCacheCount=0x10\nOldKey=1\n");
  TStorage storage(dir.Path(), TInfo());
  TCompOpts options;
  options.Load(storage);
  EXPECT_EQ(options.Tolerance, 0);
  EXPECT_EQ(options.PicVariants, TPicVariants().Include(2)) << "element 0 stays";
  EXPECT_EQ(options.SampleFile, "") << "a sample that no longer exists is forgotten";
  EXPECT_EQ(options.FileMask, "*.gif");
  EXPECT_FALSE(options.SubFolders);
  EXPECT_EQ(options.CacheCount, 16);
  EXPECT_TRUE(options.Save(storage));
  EXPECT_EQ(Ini(dir).find("OldKey"), std::string::npos) << "saving erases the section first";
}

TEST(Options, UnknownMethodInTheFileFallsBackToTheDefault) {
  TTempDir dir;
  WriteBytes(dir.File("twinsifter.ini"), "[OPTIONS]\nFileComp=9\n");
  TStorage storage(dir.Path(), TInfo());
  TEngine engine(storage, false);
  EXPECT_EQ(engine.Options.FileComp, 3);
}

TEST(Folders, MissingFoldersAreDroppedAndTheRestRenumbered) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("a"));
  std::filesystem::create_directory(dir.File("c"));
  WriteBytes(dir.File("twinsifter.ini"), "[FOLDERS]\nCount=3\nF_0=" + dir.File("a") + "\nE_0=0\nF_1=" +
                                             dir.File("b") + "\nF_2=" + dir.File("c") + "\n");
  {
    TStorage storage(dir.Path(), TInfo());
    TEngine engine(storage);
    ASSERT_EQ(engine.Folders.size(), 2U);
    EXPECT_EQ(engine.Folders[0], (TFolderEntry{dir.File("a"), false}));
    EXPECT_EQ(engine.Folders[1], (TFolderEntry{dir.File("c"), true})) << "E_ missing: enabled";
  }
  const std::string ini = Ini(dir);
  EXPECT_NE(ini.find("Count=2\nF_0=" + dir.File("a") + "\nE_0=0\nF_1=" + dir.File("c") + "\nE_1=1\n"), std::string::npos)
      << ini;
}

// Counts from a damaged file are bounded where they are read: the engine starts at once.
TEST(Folders, ADamagedCountIsBounded) {
  TTempDir dir;
  std::filesystem::create_directory(dir.File("a"));
  WriteBytes(dir.File("twinsifter.ini"), "[FOLDERS]\nCount=2147483647\nF_0=" + dir.File("a") +
                                             "\n[OPTIONS]\nThumbs=2147483647\n");
  TStorage storage(dir.Path(), TInfo());
  TEngine engine(storage, false);
  ASSERT_EQ(engine.Folders.size(), 1U);
  EXPECT_EQ(engine.Folders[0].Path, dir.File("a"));
  EXPECT_EQ(engine.Options.Thumbs, TCompOpts().Thumbs) << "out of range: the default stays";
}

TEST(Folders, EditingTheListAsksForARescan) {
  TTempDir dir;
  TStorage storage(dir.Path(), TInfo());
  TEngine engine(storage, false);
  engine.NeedRescan = false;
  EXPECT_EQ(engine.AddFolder("/x"), 0);
  EXPECT_TRUE(engine.NeedRescan);
  engine.NeedRescan = false;
  engine.SetFolderEnabled(0, false);
  EXPECT_TRUE(engine.NeedRescan);
  EXPECT_EQ(engine.EnabledFolderCount(), 0);
  engine.NeedRescan = false;
  EXPECT_FALSE(engine.DeleteFolder(1));
  EXPECT_FALSE(engine.NeedRescan);
  EXPECT_TRUE(engine.DeleteFolder(0));
  EXPECT_TRUE(engine.NeedRescan);
}

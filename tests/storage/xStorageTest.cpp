#include "xStorage.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <streambuf>

#include <gtest/gtest.h>

#include "xAssert.h"
#include "xDropOverride.h"
#include "xLog.h"
#include "xPrivateHome.h"
#include "xTestFiles.h"

namespace {

TInfo InfoForBuild(const std::string& build) {
  TVersionBlock block;
  block.Present = true;
  block.FileVersion = "1.2.0." + build;
  block.Comments = "test";
  return TInfo(block);
}

class StorageTest : public ::testing::Test {
protected:
  std::unique_ptr<TStorage> Make(const std::string& build = "7") {
    return std::make_unique<TStorage>(Dir.Path(), InfoForBuild(build));
  }
  std::string Ini() const { return ReadBytes(Path()); }
  std::string Path() const { return Dir.File("twinsifter.ini"); }

  TTempDir Dir;
};

TEST_F(StorageTest, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
  auto store = Make();
  store->OpenSection("OPTIONS", false);
  EXPECT_EQ(store->ReadInteger("Tolerance", 12), 12);
  EXPECT_TRUE(store->ReadBool("SubFolders", true));
  EXPECT_EQ(store->ReadString("FileMask", "*.*"), "*.*");
  EXPECT_TRUE(store->CloseSection());
  EXPECT_FALSE(std::filesystem::exists(Path())) << "reading must not create the file";

  store->OpenSection("OPTIONS", true);
  store->WriteInteger("Tolerance", 5);
  EXPECT_TRUE(store->CloseSection());
  EXPECT_EQ(Ini(), "[OPTIONS]\nTolerance=5\n");
}

TEST_F(StorageTest, ValuesSurviveAndNamesIgnoreCase) {
  auto store = Make();
  store->OpenSection("Options", true);
  store->WriteInteger("Small", INT32_MIN);
  store->WriteInteger("Large", INT32_MAX);
  store->WriteBool("On", true);
  store->WriteBool("Off", false);
  store->WriteString("Folder", "/home/user/Pictures 2024/été");
  store->WriteString("Small", "-3");  // a second write replaces the first
  ASSERT_TRUE(store->CloseSection());

  auto other = Make();
  other->OpenSection("OPTIONS", false);
  EXPECT_EQ(other->ReadInteger("small", 0), -3);
  EXPECT_EQ(other->ReadInteger("LARGE", 0), INT32_MAX);
  EXPECT_TRUE(other->ReadBool("on", false));
  EXPECT_FALSE(other->ReadBool("OFF", true));
  EXPECT_EQ(other->ReadString("folder", ""), "/home/user/Pictures 2024/été");
  other->CloseSection();
  EXPECT_EQ(Ini(), "[Options]\nSmall=-3\nLarge=2147483647\nOn=1\nOff=0\nFolder=/home/user/Pictures 2024/été\n");
}

TEST_F(StorageTest, WritingASectionErasesItsOldKeysAndKeepsTheRest) {
  WriteBytes(Path(), "; written by hand\n[A]\nx=1\ny=2\n; about B\n[B]\nz=3\n");
  auto store = Make();
  store->OpenSection("a", true);
  store->WriteInteger("x", 5);
  ASSERT_TRUE(store->CloseSection());
  EXPECT_EQ(Ini(), "; written by hand\n[A]\nx=5\n[B]\nz=3\n");
}

TEST_F(StorageTest, DuplicatedSectionsAndKeysReadTheFirstAndAreMergedOnWriting) {
  WriteBytes(Path(), "[A]\nk=1\nk=2\n[B]\nm=1\n[a]\nk=3\nj=4\n");
  auto store = Make();
  store->OpenSection("A", false);
  EXPECT_EQ(store->ReadInteger("k", 0), 1);
  EXPECT_EQ(store->ReadInteger("j", 0), 4);
  store->CloseSection();

  store->OpenSection("A", true);
  store->WriteInteger("k", 9);
  ASSERT_TRUE(store->CloseSection());
  EXPECT_EQ(Ini(), "[A]\nk=9\n[B]\nm=1\n");

  // A key repeated within a section keeps one line when written.
  WriteBytes(Path(), "[C]\nk=1\nother=x\nK=2\n");
  store->OpenSection("C", false);
  store->WriteInteger("k", 3);
  ASSERT_TRUE(store->CloseSection());
  EXPECT_EQ(Ini(), "[C]\nk=3\nother=x\n");
}

TEST_F(StorageTest, IntegerAndBooleanForms) {
  const struct {
    const char* Stored;
    std::int32_t Expected;  // 77 = the default
  } cases[] = {
      {"16", 16},          {"-5", -5},
      {"+7", 7},           {"  42  ", 42},
      {"0x10", 16},        {"0X1f", 31},
      {"$10", 16},         {"$ff", 255},
      {"-$10", -16},       {"$FFFFFFFF", -1},
      {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN},
      {"2147483648", 77},  {"0x100000000", 77},
      {"12abc", 77},       {"", 77},
      {"0x", 77},          {"$", 77},
      {"-", 77},           {"1 2", 77},
      {"1.5", 77},         {"yes", 77},
  };
  auto store = Make();
  for (const auto& c : cases) {
    WriteBytes(Path(), std::string("[S]\nk=") + c.Stored + "\n");
    store->OpenSection("S", false);
    EXPECT_EQ(store->ReadInteger("k", 77), c.Expected) << '"' << c.Stored << '"';
    store->CloseSection();
  }

  const struct {
    const char* Stored;
    bool IfDefaultFalse;
    bool IfDefaultTrue;
  } flags[] = {{"1", true, true},   {"2", true, true},    {"-1", true, true}, {"0", false, false},
               {"0x0", false, false}, {"yes", false, true}, {"", false, true},  {"true", false, true}};
  for (const auto& f : flags) {
    WriteBytes(Path(), std::string("[S]\nk=") + f.Stored + "\n");
    store->OpenSection("S", false);
    EXPECT_EQ(store->ReadBool("k", false), f.IfDefaultFalse) << '"' << f.Stored << '"';
    EXPECT_EQ(store->ReadBool("k", true), f.IfDefaultTrue) << '"' << f.Stored << '"';
    store->CloseSection();
  }
}

TEST_F(StorageTest, TextsAreCutTo2047CharactersOnReading) {
  auto store = Make();
  store->OpenSection("S", true);
  store->WriteString("long", std::string(3000, 'a'));
  store->WriteString("utf8", std::string(2046, 'b') + "é");  // "é" would straddle the limit
  ASSERT_TRUE(store->CloseSection());
  store->OpenSection("S", false);
  EXPECT_EQ(store->ReadString("long", ""), std::string(2047, 'a'));
  EXPECT_EQ(store->ReadString("utf8", ""), std::string(2046, 'b'));
  store->CloseSection();
}

TEST_F(StorageTest, AwkwardTextsCannotBreakTheFile) {
  const std::string texts[] = {"line1\nline2", "\r\n", "  lead", "trail  ", "\"quoted\"", "\"", "back\\slash",
                               "\\n literally", "tab\tin", "a=b", "[NOTASECTION]", ";comment", "", " "};
  auto store = Make();
  store->OpenSection("S", true);
  int k = 0;
  for (const std::string& text : texts) store->WriteString(std::string("t").append(std::to_string(k++)), text);
  store->WriteString("after", "intact");
  ASSERT_TRUE(store->CloseSection());

  // One header line and one line per key: no value spilled onto a line of its own.
  const std::string ini = Ini();
  EXPECT_EQ(std::count(ini.begin(), ini.end(), '\n'), static_cast<long>(std::size(texts)) + 2) << ini;

  auto other = Make();
  other->OpenSection("S", false);
  k = 0;
  for (const std::string& text : texts) EXPECT_EQ(other->ReadString(std::string("t").append(std::to_string(k++)), "?"), text);
  EXPECT_EQ(other->ReadString("after", ""), "intact");
  other->CloseSection();
}

TEST_F(StorageTest, DamagedFilesReadAndRewriteWithoutHarm) {
  std::string noise;
  std::uint32_t state = 2463534242U;
  for (int i = 0; i < 20000; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const char alphabet[] = "[]=;\n\r\t \"\\k0x$";
    noise += (state & 3) == 0 ? alphabet[(state >> 8) % (sizeof alphabet - 1)] : static_cast<char>(state >> 24);
  }
  const std::string files[] = {
      noise,
      std::string("\0\0\0[S]\0=\0\n", 11),
      "[S]\nk=" + std::string(1 << 20, 'v') + "\n",                  // one very long line
      std::string(1 << 20, '[') + "\n[S]\nk=v\n",                     // a header that never closes
      "[S\nk=open header\n",
      "k=before any section\n[S]",
      "\xEF\xBB\xBF[S]\r\nk=crlf\r\n",
  };
  for (const std::string& content : files) {
    WriteBytes(Path(), content);
    auto store = Make();
    store->OpenSection("S", false);
    (void)store->ReadString("k", "");
    (void)store->ReadInteger("k", 0);
    store->CloseSection();
    store->OpenSection("X", true);
    store->WriteString("mine", "value\nwith break");
    ASSERT_TRUE(store->CloseSection());
    store->OpenSection("x", false);
    EXPECT_EQ(store->ReadString("MINE", ""), "value\nwith break");
    store->CloseSection();
  }
  // The long line survives the rewrite whole.
  WriteBytes(Path(), "[S]\nk=" + std::string(1 << 20, 'v') + "\n");
  auto store = Make();
  store->OpenSection("X", true);
  store->WriteInteger("n", 1);
  ASSERT_TRUE(store->CloseSection());
  EXPECT_EQ(Ini(), "[S]\nk=" + std::string(1 << 20, 'v') + "\n[X]\nn=1\n");
}

TEST_F(StorageTest, RefusedWriteIsReportedAndClosesTheSection) {
  auto store = Make();
  std::filesystem::create_directory(Path());  // nothing can be renamed over a folder
  TLogCapture log;
  store->OpenSection("S", true);
  store->WriteInteger("k", 1);
  EXPECT_FALSE(store->CloseSection());
  EXPECT_FALSE(store->IsOpen());
  const std::string message = "Unable to write to " + Path();
  EXPECT_EQ(store->LastError(), message);
  EXPECT_EQ(log.Lines(), (std::vector<TLogCapture::TLine>{{message, llError, false}}));
  EXPECT_TRUE(std::filesystem::is_directory(Path()));
  std::filesystem::remove(Path());
}

TEST_F(StorageTest, UnreadableOrUnwritableFileIsNeverReplaced) {
  if (RunsWithFileOverride()) return;
  const std::string original = "[S]\nk=5\n[KEEP]\nx=1\n";
  WriteBytes(Path(), original);
  chmod(Path().c_str(), 0);
  {
    TLogCapture log;
    auto store = Make();
    store->OpenSection("S", false);
    EXPECT_EQ(store->ReadInteger("k", 9), 9);
    store->CloseSection();
    store->OpenSection("S", true);
    store->WriteInteger("k", 6);
    EXPECT_FALSE(store->CloseSection());
    EXPECT_EQ(store->LastError(), "Unable to write to " + Path());
  }
  chmod(Path().c_str(), 0600);
  EXPECT_EQ(Ini(), original);

  chmod(Dir.Path().c_str(), 0555);  // the file is readable, its folder refuses new files
  {
    TLogCapture log;
    auto store = Make();
    store->OpenSection("S", true);
    store->WriteInteger("k", 6);
    EXPECT_FALSE(store->CloseSection());
  }
  chmod(Dir.Path().c_str(), 0755);
  EXPECT_EQ(Ini(), original);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 1) << "a temporary file was left";
}

TEST_F(StorageTest, FileIsReplacedWholeKeepingItsModeAndLink) {
  auto store = Make();
  const std::string real = Dir.File("dotfiles.ini");
  WriteBytes(real, "[S]\nk=1\n");
  chmod(real.c_str(), 0640);
  std::filesystem::create_symlink(real, Path());
  struct stat before {};
  stat(real.c_str(), &before);

  store->OpenSection("S", true);
  store->WriteInteger("k", 2);
  ASSERT_TRUE(store->CloseSection());

  EXPECT_TRUE(std::filesystem::is_symlink(Path()));
  EXPECT_EQ(ReadBytes(real), "[S]\nk=2\n");
  struct stat after {};
  stat(real.c_str(), &after);
  EXPECT_NE(after.st_ino, before.st_ino) << "written in place instead of renamed over";
  EXPECT_EQ(after.st_mode & 07777, 0640U);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), 2) << "a temporary file was left";
}

TEST_F(StorageTest, BracketMisuseFailsAConsistencyCheck) {
  auto store = Make();
  auto failsCheck = [](auto&& action) {
    try {
      action();
    } catch (const EAssertionFailed& error) {
      return std::string(error.what()).rfind("Assertion failure (xStorage, line ", 0) == 0;
    }
    return false;
  };
  EXPECT_TRUE(failsCheck([&] { store->ReadInteger("k", 0); }));
  EXPECT_TRUE(failsCheck([&] { store->WriteString("k", "v"); }));
  EXPECT_TRUE(failsCheck([&] { store->CloseSection(); }));
  store->OpenSection("S", true);
  EXPECT_TRUE(failsCheck([&] { store->OpenSection("T", false); }));
  EXPECT_TRUE(failsCheck([&] { store->WriteString("a=b", "v"); }));
  EXPECT_TRUE(failsCheck([&] { store->WriteString("two\nlines", "v"); }));
  EXPECT_TRUE(store->CloseSection());
  EXPECT_TRUE(failsCheck([&] { store->OpenSection("A]B", false); }));
}

TEST_F(StorageTest, FirstRunOfABuild) {
  WriteBytes(Path(), "[GENERAL]\nBuild5=0\nOld=1\n[OPTIONS]\nTolerance=3\n");
  auto store = Make("7");
  EXPECT_TRUE(store->NewBuild());
  EXPECT_EQ(store->Build(), "7");
  EXPECT_EQ(store->VersionText(), "1.2.7 test");
  store.reset();
  EXPECT_EQ(Ini(), "[GENERAL]\nBuild7=0\nFirst=0\n[OPTIONS]\nTolerance=3\n");

  EXPECT_FALSE(Make("7")->NewBuild());
  EXPECT_TRUE(Make("8")->NewBuild());
  EXPECT_EQ(Ini(), "[GENERAL]\nBuild8=0\nFirst=0\n[OPTIONS]\nTolerance=3\n");
}

TEST_F(StorageTest, ProgramStoreLivesInTheStateFolder) {
  const std::string home = std::getenv("TWINSIFTER_HOME");
  {
    TStorage store;
    EXPECT_EQ(store.FilePath(), home + "/twinsifter.ini");
    EXPECT_EQ(store.CacheBase(), home + "/");
    EXPECT_EQ(store.FileName(), "twinsifter.ini");
    EXPECT_EQ(store.AppFolder(), ExeFolder());
    EXPECT_TRUE(store.NewBuild());
    EXPECT_EQ(store.VersionText(), VersionText(TInfo()));
    EXPECT_FALSE(store.SysInfo().GetWindowsDescription().empty());
  }
  EXPECT_NE(ReadBytes(home + "/twinsifter.ini").find("[GENERAL]\nBuild"), std::string::npos);
}

TEST(StatePlaces, ChoiceOfFolders) {
  const struct {
    TStateSources Sources;
    std::string Settings;
    std::string Cache;
  } cases[] = {
      {{"/state", "/opt/ts/", true, "/xc", "/xk", "/home/u"}, "/state/", "/state/"},
      {{"/state/", "/opt/ts/", false, "", "", "/home/u"}, "/state/", "/state/"},
      {{"", "/opt/ts/", true, "/xc", "/xk", "/home/u"}, "/opt/ts/", "/opt/ts/"},
      {{"", "/usr/bin/", false, "/xc", "/xk/", "/home/u"}, "/xc/twinsifter/", "/xk/twinsifter/"},
      {{"", "/usr/bin/", false, "", "", "/home/u"}, "/home/u/.config/twinsifter/", "/home/u/.cache/twinsifter/"},
      {{"", "/usr/bin/", false, "rel/conf", "rel", "/home/u/"}, "/home/u/.config/twinsifter/",
       "/home/u/.cache/twinsifter/"},
  };
  for (const auto& c : cases) {
    const TStatePlaces places = StatePlaces(c.Sources);
    EXPECT_EQ(places.SettingsFolder, c.Settings);
    EXPECT_EQ(places.CacheBase, c.Cache);
  }
}

TEST(ProgramFile, FolderAndBaseName) {
  EXPECT_EQ(ExeBaseName(), "storage_test");
  const std::string folder = ExeFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "storage_test"));
}

TEST(ProgramFile, ShippedDataBesideTheProgramElseInstalled) {
  TTempDir tree;
  const std::string bin = tree.Path() + "/bin/";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(tree.Path() + "/share/twinsifter/help");
  WriteBytes(tree.Path() + "/share/twinsifter/Twinsifter.tip", "tip");
  EXPECT_EQ(ShippedPath("Twinsifter.tip", bin), bin + "../share/twinsifter/Twinsifter.tip");
  EXPECT_EQ(ShippedPath("help", bin), bin + "../share/twinsifter/help");
  EXPECT_EQ(ShippedPath("skins", bin), bin + "skins");  // neither: where a portable copy keeps it
  WriteBytes(bin + "Twinsifter.tip", "tip");
  EXPECT_EQ(ShippedPath("Twinsifter.tip", bin), bin + "Twinsifter.tip");
}

TEST(StreamString, RoundTripAndLayout) {
  std::stringstream stream;
  for (const std::string& text : {std::string("ab"), std::string(), std::string("x\0y", 3), std::string(70000, 'z')})
    ASSERT_TRUE(WriteStreamString(stream, text));
  EXPECT_EQ(stream.str().substr(0, 6), std::string("\x02\0\0\0ab", 6));
  for (const std::string& text : {std::string("ab"), std::string(), std::string("x\0y", 3), std::string(70000, 'z')}) {
    std::string read = "stale";
    ASSERT_TRUE(ReadStreamString(stream, read));
    EXPECT_EQ(read, text);
  }
}

TEST(StreamString, DamagedInput) {
  const struct {
    std::string Bytes;
    bool Ok;
    std::string Text;
  } cases[] = {
      {"", false, ""},
      {std::string("\x03\0\0", 3), false, ""},
      {std::string("\0\0\0\0", 4), true, ""},
      {std::string("\xFB\xFF\xFF\xFF", 4), true, ""},  // negative: empty
      {std::string("\x0A\0\0\0abc", 7), false, ""},
      {std::string("\xFF\xFF\xFF\x7F" "abc", 7), false, ""},  // 2 GiB announced, 3 bytes there
      {std::string("\x02\0\0\0abc", 7), true, "ab"},
  };
  for (const auto& c : cases) {
    std::istringstream stream(c.Bytes);
    std::string text = "stale";
    EXPECT_EQ(ReadStreamString(stream, text), c.Ok);
    EXPECT_EQ(text, c.Text);
  }
}

TEST(StreamString, FullStreamFails) {
  // A stream that takes at most five bytes.
  class TSmallBuffer : public std::streambuf {
  protected:
    int_type overflow(int_type c) override { return Taken++ < 5 ? c : traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize n) override {
      const std::streamsize room = Taken < 5 ? 5 - Taken : 0;
      Taken += n < room ? n : room;
      return n < room ? n : room;
    }

  private:
    std::streamsize Taken = 0;
  };
  TSmallBuffer buffer;
  std::ostream stream(&buffer);
  EXPECT_FALSE(WriteStreamString(stream, "abc"));
}

}  // namespace

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "xHelp.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

// An installed program: <root>/bin/ holds the executable, <root>/share/twinsifter/help/ the topics.
class HelpTree : public ::testing::Test {
protected:
  void SetUp() override {
    fs::create_directories(Bin);
    fs::create_directories(Installed);
    for (const char* topic : {"index.htm", "a3_00_00.htm", "a2_08_04.htm"}) WriteBytes(Installed + topic, "<html></html>");
    WriteBytes(Root.Path() + "/share/twinsifter/secret.htm", "outside the help");
    fs::create_directories(Installed + "folder.htm");
  }

  TTempDir Root;
  std::string Bin = Root.Path() + "/bin/";
  std::string Installed = Root.Path() + "/share/twinsifter/help/";
};

}  // namespace

TEST_F(HelpTree, TopicsMapToFilesOfTheInstalledHelp) {
  THelp help(Bin);
  ASSERT_EQ(help.Folder(), Installed);  // no "bin/../" left in it
  const struct {
    std::string Topic, File, Anchor;
  } cases[] = {
      {"", "index.htm", ""},
      {"a3_00_00.htm", "a3_00_00.htm", ""},
      {"a2_08_04.htm", "a2_08_04.htm", ""},
      {"a3_00_00.htm#sessions", "a3_00_00.htm", "sessions"},
      {"#keys", "index.htm", "keys"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Topic);
    std::string path = "stale", anchor = "stale";
    ASSERT_TRUE(help.TopicFile(c.Topic, path, anchor)) << help.LastError;
    EXPECT_EQ(path, Installed + c.File);
    EXPECT_EQ(anchor, c.Anchor);
    EXPECT_EQ(help.LastError, "");
  }
}

TEST_F(HelpTree, TheFolderBesideTheProgramComesFirst) {
  fs::create_directories(Bin + "help");
  WriteBytes(Bin + "help/index.htm", "<html></html>");
  THelp help(Root.Path() + "/bin");  // a folder given without its trailing '/'
  EXPECT_EQ(help.Folder(), Bin + "help/");
  std::string path, anchor;
  ASSERT_TRUE(help.TopicFile("", path, anchor));
  EXPECT_EQ(path, Bin + "help/index.htm");
  // What only the installed help has is not looked for there: the beside folder is the help.
  EXPECT_FALSE(help.TopicFile("a3_00_00.htm", path, anchor));
  EXPECT_EQ(help.LastError, "Help file \"" + Bin + "help/a3_00_00.htm\" is not found!");
  EXPECT_EQ(path, "");
}

TEST_F(HelpTree, MissingAndForeignTopicsAreRefusedWithTheUsersMessage) {
  THelp help(Bin);
  const struct {
    std::string Topic, Message;
  } cases[] = {
      {"a2_08_09.htm", "Help file \"" + Installed + "a2_08_09.htm\" is not found!"},
      {"folder.htm", "Help file \"" + Installed + "folder.htm\" is not found!"},
      {"../secret.htm", "Help topic \"../secret.htm\" is not valid!"},
      {"sub/index.htm", "Help topic \"sub/index.htm\" is not valid!"},
      {"/etc/passwd", "Help topic \"/etc/passwd\" is not valid!"},
      {".hidden", "Help topic \".hidden\" is not valid!"},
      {std::string("index.htm\0x", 11), "Help topic \"" + std::string("index.htm\0x", 11) + "\" is not valid!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Topic);
    std::string path = "stale", anchor;
    EXPECT_FALSE(help.TopicFile(c.Topic, path, anchor));
    EXPECT_EQ(help.LastError, c.Message);
    EXPECT_EQ(path, "");
  }
  // A failure does not stick: the next topic found clears the message.
  std::string path, anchor;
  EXPECT_TRUE(help.TopicFile("", path, anchor));
  EXPECT_EQ(help.LastError, "");
}

TEST_F(HelpTree, WithoutAnyHelpTheMessageNamesThePlaceBesideTheProgram) {
  fs::remove_all(Root.Path() + "/share");
  THelp help(Bin);
  EXPECT_EQ(help.Folder(), "");
  std::string path, anchor;
  EXPECT_FALSE(help.TopicFile("", path, anchor));
  EXPECT_EQ(help.LastError, "Help file \"" + Bin + "help/index.htm\" is not found!");
}

// The topics the program opens by name are shipped under those names.
TEST(ShippedHelp, HoldsTheContentsAndEveryTopicTheProgramOpens) {
  const char* data = std::getenv("TWINSIFTER_TEST_DATA");
  ASSERT_NE(data, nullptr);
  THelp help(std::string(data) + "/../../data/");  // data/help of the sources, as if beside a program
  ASSERT_NE(help.Folder(), "");
  for (const char* topic : {"", "a3_00_00.htm", "a2_08_01.htm", "a2_08_02.htm", "a2_08_03.htm", "a2_08_04.htm"}) {
    std::string path, anchor;
    EXPECT_TRUE(help.TopicFile(topic, path, anchor)) << help.LastError;
  }
}

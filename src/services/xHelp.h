#pragma once
// The help: HTML topics shipped with the program. This unit finds their folder and the file of
// a topic; the help window shows them.

#include <string>

// The start page of the help, opened for an empty topic.
inline constexpr const char* HelpContentsTopic = "index.htm";

class THelp {
public:
  // The help of a program whose executable lies in exeFolder (with a trailing '/'): the folder
  // "help" beside it (the build tree, a copy run from anywhere), else the install's
  // exeFolder + "../share/twinsifter/help/".
  explicit THelp(const std::string& exeFolder);

  // The help folder with a trailing '/'; empty when neither place exists.
  const std::string& Folder() const { return Folder_; }

  // The file of a topic: a file name in the help folder, optionally followed by "#anchor"
  // (cut off into `anchor`); "" is the contents. False, with the message for the user in
  // LastError, when the file is missing or the topic names no file of the help folder.
  bool TopicFile(const std::string& topic, std::string& path, std::string& anchor);

  std::string LastError;

private:
  std::string ExeFolder_;
  std::string Folder_;
};

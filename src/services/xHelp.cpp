#include "xHelp.h"

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// A topic stays inside the help folder: a plain file name, no folders, nothing hidden.
bool IsPlainName(const std::string& name) {
  if (name.empty() || name.front() == '.') return false;
  for (const char c : name)
    if (c == '/' || c == '\\' || c == '\0') return false;
  return true;
}

}  // namespace

THelp::THelp(const std::string& exeFolder) : ExeFolder_(WithSlash(exeFolder)) {
  const std::string beside = ExeFolder_ + "help/";
  const std::string installed =
      WithSlash(fs::path(ExeFolder_ + "../share/twinsifter/help/").lexically_normal().string());
  if (IsFolder(beside)) Folder_ = beside;
  else if (IsFolder(installed)) Folder_ = installed;
}

bool THelp::TopicFile(const std::string& topic, std::string& path, std::string& anchor) {
  LastError.clear();
  path.clear();
  anchor.clear();
  std::string name = topic;
  if (const auto hash = name.find('#'); hash != std::string::npos) {
    anchor = name.substr(hash + 1);
    name.erase(hash);
  }
  if (name.empty()) name = HelpContentsTopic;
  // Without a help folder the message names the first place looked at, beside the program.
  const std::string folder = Folder_.empty() ? ExeFolder_ + "help/" : Folder_;
  if (!IsPlainName(name)) {
    LastError = "Help topic \"" + topic + "\" is not valid!";
    return false;
  }
  const std::string file = folder + name;
  if (Folder_.empty() || !IsFile(file)) {
    LastError = "Help file \"" + file + "\" is not found!";
    return false;
  }
  path = file;
  return true;
}

// File operations on results: dropping records, showing, opening; the process priority.
// Removing files is xRemoval.cpp's.

#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>
#include <vector>

#include "xEngine.h"
#include "xLog.h"
#include "xPlatform.h"

namespace {

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[4096] = {};
  return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

}  // namespace

void TEngine::RemoveFile(TFileData*& record) {
  for (auto it = Records.begin(); it != Records.end(); ++it) {
    if (it->get() != record) continue;
    if (record->Group) record->Group->Remove(record);
    Records.erase(it);
    record = nullptr;
    return;
  }
}

void TEngine::DropRecords(const std::vector<TFileData*>& records) {
  if (records.empty()) return;
  const std::unordered_set<const TFileData*> dropped(records.begin(), records.end());
  for (TFileData* record : records)
    if (record->Group) record->Group->Remove(record);
  std::erase_if(Records, [&](const std::unique_ptr<TFileData>& record) { return dropped.count(record.get()) > 0; });
}

bool TEngine::ShowInFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  std::string reason;
  if (ShowInFileManager(Absolute(path), reason)) return true;
  LastError = "Failed to show file \"" + path + "\": " + reason;
  return false;
}

bool TEngine::OpenFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  std::string reason;
  if (OpenWithDefaultApplication(Absolute(path), reason)) return true;
  LastError = "Failed to open file \"" + path + "\": " + reason;
  return false;
}

void TEngine::ApplyPriority() {
  if (Options.Priority > 3) return;
  if (!SetProcessPriority(Options.Priority)) LogWarning("Failed to set process priority!");
}

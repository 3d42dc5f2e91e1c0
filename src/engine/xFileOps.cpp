// File operations on results: moving, deleting, showing, opening; the process priority.

#include "xEngine.h"

bool TEngine::MoveToFolder(TFileData*&, const std::string&) { return false; }

bool TEngine::DeleteFile(const std::string&, bool) { return false; }

void TEngine::RemoveFile(TFileData*& record) {
  for (auto it = Records.begin(); it != Records.end(); ++it) {
    if (it->get() != record) continue;
    if (record->Group) record->Group->Remove(record);
    Records.erase(it);
    record = nullptr;
    return;
  }
}

bool TEngine::ShowInFolder(const std::string&) { return false; }

bool TEngine::OpenFile(const std::string&) { return false; }

void TEngine::ApplyPriority() {}

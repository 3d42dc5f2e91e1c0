// Session files: the groups of a search, saved and loaded.

#include "xEngine.h"

bool TEngine::SaveSession(const std::string&) {
  LastError = "File writing error";
  return false;
}

bool TEngine::LoadSession(const std::string&) {
  LastError = "Failed to read from file";
  return false;
}

bool TEngine::SaveGroups(std::ostream&) { return false; }

bool TEngine::LoadGroups(std::istream&) { return false; }

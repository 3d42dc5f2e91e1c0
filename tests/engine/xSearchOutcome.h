#pragma once
// Everything a search leaves that a user or a caller can observe, for the differential tests:
// two ways of searching agree exactly when their outcomes compare equal.

#include <string>
#include <vector>

#include "xEngine.h"
#include "xLog.h"

struct TOutcome {
  bool Result = false;
  std::string LastError;
  std::vector<std::vector<std::string>> Groups;  // members in order
  std::vector<bool> Failed;                      // per record
  std::vector<std::string> Log, Statuses;        // the banner left out
  std::vector<int> Progress;
  bool operator==(const TOutcome&) const = default;
};

// Runs one search and records its outcome.
inline TOutcome Search(TEngine& engine) {
  TOutcome outcome;
  TLogCapture log;
  engine.OnStatus = [&](const std::string& text) { outcome.Statuses.push_back(text); };
  engine.OnProgress = [&](int percent) { outcome.Progress.push_back(percent); };
  outcome.Result = engine.Execute();
  outcome.LastError = engine.LastError;
  for (int g = 0; g < engine.GroupCount(); ++g) {
    outcome.Groups.emplace_back();
    for (int i = 0; i < engine.Groups(g)->Count(); ++i) outcome.Groups.back().push_back(engine.Groups(g)->Items(i)->FileName);
  }
  for (int i = 0; i < engine.FileCount(); ++i) outcome.Failed.push_back(engine.Files(i)->Failed);
  for (const auto& line : log.Lines())
    if (line.Level != llPlain) outcome.Log.push_back(ExportedLine(line.Text, line.Level));
  engine.OnStatus = nullptr;
  engine.OnProgress = nullptr;
  return outcome;
}

#pragma once
// Fire-and-forget logging. Every subsystem logs through these functions; one sink, registered
// by the front end, receives the lines: the console window in the desktop program, stderr in
// the command line, a capture in tests. Without a sink a line is dropped.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

enum TLogLevel : std::uint8_t {
  llWarning = 0,
  llError = 1,
  llInfo = 2,
  llPlain = 4,  // any value other than 0, 1, 2 behaves as a plain line
};

using TLogSink = std::function<void(const std::string& text, TLogLevel level, bool quiet)>;

// Registers the sink (an empty function removes it) and returns the previous one.
TLogSink SetLogSink(TLogSink sink);

// The console's clear: the engine empties the console before the banner of every search.
using TLogClear = std::function<void()>;
TLogClear SetLogClear(TLogClear clear);
void ClearConsole();

void ConsoleLog(const std::string& text, TLogLevel level, bool quiet);
void LogWarning(const std::string& text);
void LogError(const std::string& text);
void LogInfo(const std::string& text);

// The prefix an exported line carries: "WARNING : ", "ERROR : ", "INFO : ", or nothing.
const char* LogPrefix(TLogLevel level);

// A line as the console exports it: prefix, a space, then the text.
std::string ExportedLine(const std::string& text, TLogLevel level);

// Sink for the command line: every line, in its exported form, on stderr.
void StderrLogSink(const std::string& text, TLogLevel level, bool quiet);

// Collects the lines logged during its lifetime (tests), then restores the previous sink.
class TLogCapture {
public:
  struct TLine {
    std::string Text;
    TLogLevel Level;
    bool Quiet;
    bool operator==(const TLine&) const = default;
  };

  TLogCapture();
  ~TLogCapture();
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<TLine> Lines() const;
  void Clear();
  int Clears() const;  // how often the console was cleared

private:
  mutable std::mutex Lock;
  std::vector<TLine> Captured;
  int ClearCount = 0;
  TLogSink Previous;
  TLogClear PreviousClear;
};

#include "xLog.h"

#include <cstdio>

namespace {

std::recursive_mutex SinkLock;  // a sink may itself log
TLogSink& Sink() {
  static TLogSink sink;
  return sink;
}

TLogClear& Clearer() {
  static TLogClear clear;
  return clear;
}

}  // namespace

TLogClear SetLogClear(TLogClear clear) {
  std::lock_guard guard(SinkLock);
  TLogClear previous = std::move(Clearer());
  Clearer() = std::move(clear);
  return previous;
}

void ClearConsole() {
  std::lock_guard guard(SinkLock);
  if (Clearer()) Clearer()();
}

TLogSink SetLogSink(TLogSink sink) {
  std::lock_guard guard(SinkLock);
  TLogSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void ConsoleLog(const std::string& text, TLogLevel level, bool quiet) {
  std::lock_guard guard(SinkLock);
  if (Sink()) Sink()(text, level, quiet);
}

void LogWarning(const std::string& text) { ConsoleLog(text, llWarning, false); }
void LogError(const std::string& text) { ConsoleLog(text, llError, false); }
void LogInfo(const std::string& text) { ConsoleLog(text, llInfo, false); }

const char* LogPrefix(TLogLevel level) {
  switch (level) {
    case llWarning: return "WARNING : ";
    case llError: return "ERROR : ";
    case llInfo: return "INFO : ";
    default: return "";
  }
}

std::string ExportedLine(const std::string& text, TLogLevel level) {
  return std::string(LogPrefix(level)) + " " + text;
}

void StderrLogSink(const std::string& text, TLogLevel level, bool /*quiet*/) {
  const std::string line = ExportedLine(text, level) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

TLogCapture::TLogCapture() {
  Previous = SetLogSink([this](const std::string& text, TLogLevel level, bool quiet) {
    std::lock_guard guard(Lock);
    Captured.push_back({text, level, quiet});
  });
  PreviousClear = SetLogClear([this] {
    std::lock_guard guard(Lock);
    Captured.clear();
    ++ClearCount;
  });
}

TLogCapture::~TLogCapture() {
  SetLogClear(std::move(PreviousClear));
  SetLogSink(std::move(Previous));
}

int TLogCapture::Clears() const {
  std::lock_guard guard(Lock);
  return ClearCount;
}

std::vector<TLogCapture::TLine> TLogCapture::Lines() const {
  std::lock_guard guard(Lock);
  return Captured;
}

void TLogCapture::Clear() {
  std::lock_guard guard(Lock);
  Captured.clear();
}

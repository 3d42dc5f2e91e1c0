#include <gtest/gtest.h>

#include "xLog.h"

TEST(Log, LinesWithoutSinkAreDropped) {
  const TLogSink previous = SetLogSink({});
  EXPECT_NO_THROW(LogWarning("nobody listens"));
  SetLogSink(previous);
}

TEST(Log, ShorthandsReachTheSinkWithTheirLevels) {
  TLogCapture capture;
  LogWarning("w");
  LogError("e");
  LogInfo("i");
  ConsoleLog("plain", llPlain, false);
  ConsoleLog("quiet", llWarning, true);
  const std::vector<TLogCapture::TLine> expected = {
      {"w", llWarning, false}, {"e", llError, false}, {"i", llInfo, false},
      {"plain", llPlain, false}, {"quiet", llWarning, true}};
  EXPECT_EQ(capture.Lines(), expected);
}

TEST(Log, CaptureRestoresThePreviousSink) {
  TLogCapture outer;
  {
    TLogCapture inner;
    LogInfo("inner");
    EXPECT_EQ(inner.Lines().size(), 1U);
  }
  LogInfo("outer");
  ASSERT_EQ(outer.Lines().size(), 1U);
  EXPECT_EQ(outer.Lines()[0].Text, "outer");
}

TEST(Log, ExportedLinesCarryPrefixAndTheDisplaySpace) {
  const struct {
    TLogLevel Level;
    const char* Expected;
  } cases[] = {{llWarning, "WARNING :  Failed"},
               {llError, "ERROR :  Failed"},
               {llInfo, "INFO :  Failed"},
               {llPlain, " Failed"},
               {static_cast<TLogLevel>(3), " Failed"},
               {static_cast<TLogLevel>(200), " Failed"}};
  for (const auto& c : cases) EXPECT_EQ(ExportedLine("Failed", c.Level), c.Expected) << int(c.Level);
}

TEST(Log, StderrSinkWritesExportedLines) {
  const TLogSink previous = SetLogSink(StderrLogSink);
  testing::internal::CaptureStderr();
  LogWarning("File \"a b\" not found");
  ConsoleLog("----", llPlain, false);
  const std::string written = testing::internal::GetCapturedStderr();
  SetLogSink(previous);
  EXPECT_EQ(written, "WARNING :  File \"a b\" not found\n ----\n");
}

TEST(Log, SinkMayLogItself) {
  TLogCapture capture;
  const TLogSink captureSink = SetLogSink({});
  bool echoed = false;
  SetLogSink([&](const std::string& text, TLogLevel level, bool quiet) {
    captureSink(text, level, quiet);
    if (!echoed) {
      echoed = true;
      LogInfo("echo");  // back through ConsoleLog while the first line is being written
    }
  });
  LogInfo("first");
  SetLogSink(captureSink);
  ASSERT_EQ(capture.Lines().size(), 2U);
  EXPECT_EQ(capture.Lines()[1].Text, "echo");
}

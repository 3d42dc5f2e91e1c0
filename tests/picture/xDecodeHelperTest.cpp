// The helper process: a hostile picture fails within the limits and leaves no process and no
// file behind, a stopped search ends its decode at once, and good pictures reach the sink as
// they would in process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "xDecodeHelper.h"
#include "xPixan.h"
#include "xSampler.h"
#include "xTestFiles.h"

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// PostScript that never ends, draws a page of 2e6 x 2e6 points, or writes a file.
std::string Eps(const std::string& box, const std::string& body) {
  return "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 " + box + "\n" + body + "\n";
}
const std::string EndlessEps = Eps("10 10", "{ } loop");
const std::string HugeEps = Eps("2000000 2000000", "0 0 moveto 10 10 lineto stroke showpage");
std::string WritingEps(const std::string& target) {
  return Eps("10 10", "(" + target + ") (w) file dup (written) writestring closefile\n"
                      "0 0 moveto 10 10 lineto stroke showpage");
}

std::string ReadSmall(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
  }
  return text;
}

// Live processes that are our children, or whose command line or environment names `folder`
// (Ghostscript, started by the helper, is not our child). A zombie holds nothing.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> found;
  const std::string self = std::to_string(::getpid());
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string pid = entry.path().filename();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
    const std::string stat = ReadSmall("/proc/" + pid + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) continue;
    char state = 0;
    int parent = 0;
    if (std::sscanf(stat.c_str() + close + 2, "%c %d", &state, &parent) != 2 || state == 'Z') continue;
    const std::string cmdline = ReadSmall("/proc/" + pid + "/cmdline");
    if (parent == ::getpid() || cmdline.find(folder) != std::string::npos ||
        ReadSmall("/proc/" + pid + "/environ").find(folder) != std::string::npos)
      found.push_back(pid + " " + cmdline);
  }
  return found;
}

// Leftovers once a killed group had a moment to go.
std::vector<std::string> LeftoversAfterAMoment(const std::string& folder) {
  std::vector<std::string> found;
  for (int i = 0; i < 20 && !(found = Leftovers(folder)).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return found;
}

// Runs `decode`, but gives up on a decode that hangs: the whole test program ends, since a
// thread cannot be taken back.
void WithinSeconds(double seconds, const std::function<void()>& decode) {
  auto done = std::async(std::launch::async, decode);
  if (done.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::timeout) {
    std::fprintf(stderr, "the decode still runs after %g s\n", seconds);
    std::fflush(stderr);
    std::_Exit(1);
  }
  done.get();
}

class DecodeHelper : public testing::Test {
protected:
  DecodeHelper() {
    std::filesystem::create_directories(Temp);
    const char* previous = std::getenv("TMPDIR");
    if (previous) PreviousTemp = previous;
    ::setenv("TMPDIR", Temp.c_str(), 1);
    Limits.WallMilliseconds = 2000;
    Limits.FileBytes = 8 << 20;
    SetHelperLimits(Limits);
  }
  ~DecodeHelper() override {
    SetHelperLimits(TDecodeLimits{});
    if (PreviousTemp.empty()) ::unsetenv("TMPDIR");
    else ::setenv("TMPDIR", PreviousTemp.c_str(), 1);
  }

  std::vector<std::string> TempContents() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Temp)) names.push_back(entry.path());
    return names;
  }

  TTempDir Dir;
  const std::string Temp = Dir.File("tmp");
  std::string PreviousTemp;
  TDecodeLimits Limits;
  TPixan Pixan;
};

// A picture that runs for ever or renders a page of terabytes fails within the limits; the
// helper, the interpreter it started and every temporary file are gone afterwards.
TEST_F(DecodeHelper, HostilePostScriptFailsWithinTheLimits) {
  const std::pair<const char*, std::string> files[] = {{"endless.eps", EndlessEps}, {"huge.eps", HugeEps}};
  for (const auto& [name, bytes] : files) {
    const std::string path = Dir.File(name);
    WriteBytes(path, bytes);
    const auto start = TClock::now();
    WithinSeconds(10, [&] { EXPECT_FALSE(Pixan.LoadPicture(path)) << name; });
    EXPECT_LT(SecondsSince(start), Limits.WallMilliseconds / 1000.0 + 1.5) << name;
    EXPECT_EQ(Pixan.LastError(), "Failed to load \"" + path + "\"") << name;
    EXPECT_EQ(LeftoversAfterAMoment(Temp), std::vector<std::string>{}) << name;
    EXPECT_EQ(TempContents(), std::vector<std::string>{}) << name;
  }
}

// Ghostscript lets a document write in its temporary folder; that folder is the helper's own
// and goes with it, so a file aimed at the program's temporary folder is never made.
TEST_F(DecodeHelper, APictureWritesNoFileOutsideItsFolder) {
  const std::string target = Temp + "/written.txt";
  const std::string path = Dir.File("writer.eps");
  WriteBytes(path, WritingEps(target));
  WithinSeconds(10, [&] { Pixan.LoadPicture(path); });
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(TempContents(), std::vector<std::string>{});
}

// A sampler whose search is stopped a moment after the decode began.
class TStoppedSampler final : public TPictureSink {
public:
  TStoppedSampler(TBitmap24& target, std::chrono::milliseconds stopAfter)
      : StopAt(TClock::now() + stopAfter), Sampler(target) {}
  bool Begin(int width, int height) override { return Sampler.Begin(width, height); }
  bool WantsRow(int y) const override { return Sampler.WantsRow(y); }
  int LastWantedRow() const override { return Sampler.LastWantedRow(); }
  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override { Sampler.PutRow(y, pixels, format); }
  bool Cancelled() const override { return TClock::now() >= StopAt; }

  const TClock::time_point StopAt;

private:
  TPointSampler Sampler;
};

TEST_F(DecodeHelper, AStoppedSearchEndsTheDecodeAtOnce) {
  SetHelperLimits(TDecodeLimits{});  // the clock of the helper is not what ends it
  const std::string path = Dir.File("endless.eps");
  WriteBytes(path, EndlessEps);
  TBitmap24 target(WorkingSize, WorkingSize);
  TStoppedSampler sink(target, std::chrono::milliseconds(200));
  WithinSeconds(10, [&] { EXPECT_EQ(DecodePicture(path, sink), TDecodeResult::Failed); });
  EXPECT_LT(std::chrono::duration<double>(TClock::now() - sink.StopAt).count(), 0.5);
  EXPECT_EQ(LeftoversAfterAMoment(Temp), std::vector<std::string>{});
  EXPECT_EQ(TempContents(), std::vector<std::string>{});
}

// Records every call a decoder makes on the rows it is given; wants every row, or a pattern
// with gaps and runs.
class TRecorder final : public TPictureSink {
public:
  explicit TRecorder(bool everyRow) : EveryRow(everyRow) {}
  bool Begin(int width, int height) override {
    Log += "begin " + std::to_string(width) + "x" + std::to_string(height) + "\n";
    Width = width;
    Height = height;
    return true;
  }
  bool WantsRow(int y) const override { return y < Height && (EveryRow || y % 7 == 0 || y % 7 == 3 || y % 7 == 4); }
  int LastWantedRow() const override { return Height - 1; }
  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override {
    Log += "row " + std::to_string(y) + (format == TPixelFormat::RGBA8 ? " rgba " : " rgb ");
    const std::size_t bytes = static_cast<std::size_t>(Width) * (format == TPixelFormat::RGBA8 ? 4 : 3);
    Log.append(reinterpret_cast<const char*>(pixels), bytes);
    Log += "\n";
  }

  std::string Log;

private:
  bool EveryRow;
  int Width = 0, Height = 0;
};

TEST_F(DecodeHelper, TheSinkSeesWhatItWouldSeeInProcess) {
  const std::string path = Dir.File("noise.eps");
  WriteMagick(path, NoiseImage(40, 30, 7), "EPS");
  for (const bool everyRow : {true, false}) {
    TRecorder here(everyRow), helper(everyRow);
    ASSERT_EQ(DecodeInProcess(path, ".eps", here), TDecodeResult::Ok);
    ASSERT_EQ(DecodePicture(path, helper), TDecodeResult::Ok);
    EXPECT_EQ(helper.Log.substr(0, 12), "begin 40x30\n");
    EXPECT_TRUE(helper.Log == here.Log) << "every row: " << everyRow;
  }
}

}  // namespace

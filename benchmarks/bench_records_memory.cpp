// Memory of the file records: bench_records_memory [--visual] FOLDER...
// Runs one search (MD5; with --visual, pictures compared by what they show, no signature cache)
// and prints, per record and beyond the bytes of its path, the heap the records and groups keep
// after the search and the peak resident memory the search added.

#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace {

std::size_t HeapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Resident and peak resident memory in bytes, from /proc/self/status.
std::size_t StatusBytes(const char* key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(key);
  while (std::getline(status, line))
    if (line.compare(0, length, key) == 0) return std::stoull(line.substr(length + 1)) * 1024;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool visual = false;
  std::vector<std::string> folders;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--visual") == 0)
      visual = true;
    else
      folders.emplace_back(argv[i]);
  }
  if (folders.empty()) {
    std::fprintf(stderr, "usage: bench_records_memory [--visual] FOLDER...\n");
    return 2;
  }
  SetLogSink([](const std::string&, TLogLevel, bool) {});
  TTempDir home;
  TStorage storage(home.Path(), TInfo());
  TEngine engine(storage, false);
  engine.SetFileComp(fcMd5);
  engine.Options.PicsComp = visual;
  engine.Options.PicsOnly = visual;
  engine.Options.Cache = false;
  engine.ApplySettings();
  for (const std::string& folder : folders) engine.AddFolder(folder);

  const std::size_t heapBefore = HeapInUse();
  // Writing 5 to clear_refs starts the peak resident figure afresh (Linux 4.0 on).
  std::ofstream("/proc/self/clear_refs") << "5";
  const std::size_t residentBefore = StatusBytes("VmRSS:");
  const bool ran = engine.Execute();
  const std::size_t peak = StatusBytes("VmHWM:");
  const std::size_t heapAfter = HeapInUse();

  const int n = engine.FileCount();
  std::size_t pathBytes = 0;
  int pictures = 0;
  for (int i = 0; i < n; ++i) {
    pathBytes += engine.Files(i)->FileName.size() + 1;
    pictures += engine.Files(i)->Kind() == TRecordKind::Picture ? 1 : 0;
  }
  if (!ran || n == 0) {
    std::fprintf(stderr, "the search failed: %s\n", engine.LastError.c_str());
    return 1;
  }
  const double path = static_cast<double>(pathBytes) / n;
  const double kept = (static_cast<double>(heapAfter) - static_cast<double>(heapBefore)) / n - path;
  const double peakPer = (static_cast<double>(peak) - static_cast<double>(residentBefore)) / n - path;
  std::printf("%d records (%d pictures), %d groups; path %.1f bytes on average; beyond its path, a record keeps "
              "%.0f bytes of heap after the search, and the search's peak resident memory is %.0f bytes per record\n",
              n, pictures, engine.GroupCount(), path, kept, peakPer);
  return 0;
}

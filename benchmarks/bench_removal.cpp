// The cost of checking removals: bench_removal [PAIRS]
// Makes PAIRS groups of two files (an older copy, marked, and the newer one it keeps; 1 to 64 KiB,
// 32 KiB on average), searches them, and deletes the marked copies three ways, each on a fresh
// tree with the page cache warm: reading every marked file and its twin once (the yardstick of
// the byte comparison), unlinking the marked files without any check, and the engine's checked
// removal. It prints the times and the bytes the checked removal read, from /proc/self/io.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "xEngine.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

using TClock = std::chrono::steady_clock;

double SecondsSince(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// Bytes this process read through read(2) and its kin.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "rchar:") return value;
  return -1;
}

struct TTree {
  std::vector<std::string> Marked, Kept;
  long long Bytes = 0;  // of the marked files and their twins
};

TTree MakeTree(const std::string& root, int pairs) {
  TTree tree;
  std::mt19937 random(11);
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  for (int i = 0; i < pairs; ++i) {
    const std::string folder = root + "/" + std::to_string(i % 100);
    fs::create_directories(folder + "/old");
    fs::create_directories(folder + "/new");
    std::string content(1024 + random() % (63 * 1024), '\0');
    for (std::size_t k = 0; k < content.size(); k += 64) content[k] = static_cast<char>(random());
    const std::string name = std::to_string(i) + ".bin";
    WriteBytes(folder + "/old/" + name, content);
    WriteBytes(folder + "/new/" + name, content);
    fs::last_write_time(folder + "/old/" + name, old);
    tree.Marked.push_back(folder + "/old/" + name);
    tree.Kept.push_back(folder + "/new/" + name);
    tree.Bytes += 2 * static_cast<long long>(content.size());
  }
  return tree;
}

void ReadWhole(const std::string& path, std::vector<char>& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) std::abort();
  while (::read(fd, buffer.data(), buffer.size()) > 0) {
  }
  ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 10000;
  SetLogSink([](const std::string&, TLogLevel, bool) {});
  TTempDir home, work;
  const std::string root = work.Path() + "/tree";
  std::vector<char> buffer(1 << 17);

  // Reading each marked file and its twin once, warm.
  TTree tree = MakeTree(root, pairs);
  for (std::size_t i = 0; i < tree.Marked.size(); ++i) ReadWhole(tree.Marked[i], buffer), ReadWhole(tree.Kept[i], buffer);
  auto start = TClock::now();
  for (std::size_t i = 0; i < tree.Marked.size(); ++i) ReadWhole(tree.Marked[i], buffer), ReadWhole(tree.Kept[i], buffer);
  const double reading = SecondsSince(start);

  // Unlinking them, no check at all.
  start = TClock::now();
  for (const std::string& path : tree.Marked) ::unlink(path.c_str());
  const double unlinking = SecondsSince(start);
  fs::remove_all(root);

  // The engine: search, plan the automatic marks, remove with every check.
  tree = MakeTree(root, pairs);
  for (std::size_t i = 0; i < tree.Marked.size(); ++i) ReadWhole(tree.Marked[i], buffer), ReadWhole(tree.Kept[i], buffer);
  TStorage storage(home.Path(), TInfo());
  TEngine engine(storage, false);
  engine.SetFileComp(fcMd5);
  engine.Options.Cache = false;
  engine.AddFolder(root);
  if (!engine.Execute() || engine.GroupCount() != pairs) {
    std::fprintf(stderr, "bench_removal: the search found %d groups, not %d\n", engine.GroupCount(), pairs);
    return 1;
  }
  std::vector<TFileData*> marked;
  for (int g = 0; g < engine.GroupCount(); ++g)
    for (int i = 0; i < engine.Groups(g)->Count(); ++i)
      if (AutoMarked(*engine.Groups(g), *engine.Groups(g)->Items(i), engine.MarkRules()))
        marked.push_back(engine.Groups(g)->Items(i));
  const TRemovalPlan plan = engine.PlanRemoval(marked, TRemovalKind::Delete);
  const long long readBefore = BytesRead();
  start = TClock::now();
  const TRemovalOutcome outcome = engine.ExecuteRemoval(plan);
  const double checked = SecondsSince(start);
  const long long read = BytesRead() - readBefore;
  if (outcome.Done != pairs) {
    std::fprintf(stderr, "bench_removal: %d of %d files removed\n", outcome.Done, pairs);
    return 1;
  }
  std::printf("| removing %d marked files of 32 KiB on average (warm page cache) | time |\n|---|---|\n", pairs);
  std::printf("| reading each marked file and its twin once | %.3f s |\n", reading);
  std::printf("| unlinking the marked files, no check | %.3f s |\n", unlinking);
  std::printf("| the checked removal (walk, status, byte comparison, unlink) | %.3f s |\n", checked);
  std::printf("| bytes the checked removal read / the marked files and their twins | %.1f / %.1f MB |\n", read / 1e6,
              tree.Bytes / 1e6);
  return 0;
}

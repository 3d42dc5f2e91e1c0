#pragma once
// Test helpers for the desktop operations: a private home (the XDG folders, no session bus, a
// fake opener first on the PATH), a filesystem of the test's own, and a rerun without the
// right to raise priorities.

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "xTestFiles.h"

// Sets the variables for its lifetime and restores them afterwards.
class TEnvironment {
public:
  TEnvironment() = default;
  TEnvironment(const TEnvironment&) = delete;
  TEnvironment& operator=(const TEnvironment&) = delete;
  ~TEnvironment() {
    for (const auto& [name, value] : Saved) {
      if (value) setenv(name.c_str(), value->c_str(), 1);
      else unsetenv(name.c_str());
    }
  }
  void Set(const std::string& name, const std::string& value) {
    if (!Saved.count(name)) {
      const char* old = std::getenv(name.c_str());
      Saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    setenv(name.c_str(), value.c_str(), 1);
  }

private:
  std::map<std::string, std::optional<std::string>> Saved;
};

// A home of the test's own: every XDG folder inside it, a session bus address that leads
// nowhere, and a fake "xdg-open" that records each call as one file of argument lines.
class TDesktopHome {
public:
  TDesktopHome() {
    for (const char* sub : {"/home", "/data", "/config", "/cache", "/twinsifter", "/bin", "/calls"})
      std::filesystem::create_directories(Root.Path() + sub);
    Env.Set("HOME", Root.Path() + "/home");
    Env.Set("XDG_DATA_HOME", DataHome());
    Env.Set("XDG_CONFIG_HOME", Root.Path() + "/config");
    Env.Set("XDG_CACHE_HOME", Root.Path() + "/cache");
    Env.Set("TWINSIFTER_HOME", Root.Path() + "/twinsifter");
    Env.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + Root.Path() + "/no-bus");
    const char* path = std::getenv("PATH");
    Env.Set("PATH", Root.Path() + "/bin:" + (path ? path : "/usr/bin:/bin"));
    const std::string opener = Root.Path() + "/bin/xdg-open";
    WriteBytes(opener,
               "#!/bin/sh\n"
               "call=$(mktemp \"" + Calls() + "/call.XXXXXX.part\")\n"
               "for argument in \"$@\"; do printf '%s\\n' \"$argument\"; done > \"$call\"\n"
               "printf 'ppid=%s\\nnice=%s\\n' \"$PPID\" \"$(cut -d' ' -f19 /proc/$$/stat)\" >> \"$call\"\n"
               "mv \"$call\" \"${call%.part}\"\n");
    chmod(opener.c_str(), 0755);
  }

  std::string DataHome() const { return Root.Path() + "/data"; }
  std::string Trash() const { return DataHome() + "/Trash"; }
  std::string Calls() const { return Root.Path() + "/calls"; }
  void HideOpener() { Env.Set("PATH", Root.Path() + "/calls"); }

  // The recorded calls (argument lines, then "ppid=" and "nice=" lines), once `count` of them
  // have arrived or a generous wait is over.
  std::vector<std::vector<std::string>> WaitForCalls(std::size_t count) const {
    std::vector<std::vector<std::string>> calls;
    for (int attempt = 0; attempt < 400; ++attempt) {
      calls = RecordedCalls();
      if (calls.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return calls;
  }

  std::vector<std::vector<std::string>> RecordedCalls() const {
    std::vector<std::vector<std::string>> calls;
    for (const auto& entry : std::filesystem::directory_iterator(Calls())) {
      if (entry.path().extension() == ".part") continue;
      std::istringstream text(ReadBytes(entry.path().string()));
      calls.emplace_back();
      for (std::string line; std::getline(text, line);) calls.back().push_back(line);
    }
    return calls;
  }

private:
  TTempDir Root;
  TEnvironment Env;
};

// A folder on another filesystem than the temporary folder: a tmpfs mounted for the test (when
// the test may mount), else a folder on /dev/shm when that is another filesystem. Path() is
// empty when there is neither; Own() tells whether the filesystem is the test's to fill or to
// make read-only.
class TOtherFilesystem {
public:
  explicit TOtherFilesystem(const std::string& size = "4m") {
    Base = Temp.Path() + "/mount";
    std::filesystem::create_directory(Base);
    if (::mount("tmpfs", Base.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0755").c_str()) == 0) {
      Mounted = true;
      Path_ = Base;
      return;
    }
    struct stat shm {}, temp {};
    if (::stat("/dev/shm", &shm) == 0 && ::stat(Temp.Path().c_str(), &temp) == 0 && shm.st_dev != temp.st_dev) {
      std::string pattern = "/dev/shm/twinsifter-test-XXXXXX";
      if (::mkdtemp(pattern.data())) Path_ = Shared = pattern;
    }
  }
  ~TOtherFilesystem() {
    if (Mounted) ::umount2(Base.c_str(), MNT_DETACH);
    std::error_code ignored;
    if (!Shared.empty()) std::filesystem::remove_all(Shared, ignored);
  }
  TOtherFilesystem(const TOtherFilesystem&) = delete;
  TOtherFilesystem& operator=(const TOtherFilesystem&) = delete;

  const std::string& Path() const { return Path_; }
  bool Own() const { return Mounted; }
  bool MakeReadOnly() {
    return Mounted && ::mount("tmpfs", Base.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }
  // Writes a file until the filesystem is full.
  void Fill() const {
    std::ofstream filler(Path_ + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }

private:
  TTempDir Temp;
  std::string Base, Path_, Shared;
  bool Mounted = false;
};

#define SKIP_WITHOUT(fs)                                                                          \
  if ((fs).Path().empty()) GTEST_SKIP() << "no second filesystem: cannot mount a tmpfs (needs root) " \
                                           "and /dev/shm is missing or on the same filesystem"
#define SKIP_UNLESS_OWN(fs) \
  if (!(fs).Own()) GTEST_SKIP() << "cannot mount a tmpfs of the test's own (needs root)"

// Use as: if (RunsWithNiceCapability()) return; Like RunsWithFileOverride: when this process
// may raise priorities, the test reruns just itself under setpriv without that right.
inline bool HasNiceCapability() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("CapEff:", 0) != 0) continue;
    const unsigned long long caps = std::stoull(line.substr(7), nullptr, 16);
    return (caps >> 23) & 1;  // CAP_SYS_NICE
  }
  return false;
}

inline bool RunsWithNiceCapability() {
  if (!HasNiceCapability()) return false;
  if (std::getenv("TWINSIFTER_TEST_NO_SYS_NICE")) {
    ADD_FAILURE() << "setpriv did not drop the right to raise priorities";
    return true;
  }
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  char self[4096] = {};
  int status = -1;
  if (readlink("/proc/self/exe", self, sizeof self - 1) > 0) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("TWINSIFTER_TEST_NO_SYS_NICE", "1", 1);
      execlp("setpriv", "setpriv", "--bounding-set=-sys_nice", "--", self, filter.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (child > 0 && waitpid(child, &status, 0) == child) status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  EXPECT_EQ(status, 0) << "the rerun without the right to raise priorities failed (127: no setpriv)";
  return true;
}

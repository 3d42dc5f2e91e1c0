#pragma once
// Root reads and writes files whatever their mode, so a test of refused access would test
// nothing. Such a test calls RunsWithFileOverride() first: when the override is present it
// reruns just itself under setpriv without it and reports the rerun's outcome.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "xTestFiles.h"

// True when this process may open a mode-000 file.
inline bool HasFileOverride() {
  TTempDir dir;
  const std::string probe = dir.File("probe");
  WriteBytes(probe, "x");
  chmod(probe.c_str(), 0);
  const int fd = open(probe.c_str(), O_RDONLY);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Runs the current test again without the override; its exit status (0 = passed), or -1.
inline int RerunWithoutFileOverride() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    setenv("TWINSIFTER_TEST_NO_OVERRIDE", "1", 1);
    execlp("setpriv", "setpriv", "--bounding-set=-dac_override,-dac_read_search", "--", self, filter.c_str(),
           static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Use as: if (RunsWithFileOverride()) return;
inline bool RunsWithFileOverride() {
  if (!HasFileOverride()) return false;
  if (std::getenv("TWINSIFTER_TEST_NO_OVERRIDE")) {
    ADD_FAILURE() << "setpriv did not drop the file-mode override";
    return true;
  }
  EXPECT_EQ(RerunWithoutFileOverride(), 0) << "the rerun without the file-mode override failed (127: no setpriv)";
  return true;
}

#pragma once
// Points every state and desktop folder of the test process at a temporary folder of its own,
// so that nothing a test does can reach the real home.

#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "xTestFiles.h"

class TPrivateHome : public ::testing::Environment {
public:
  void SetUp() override {
    Dir = std::make_unique<TTempDir>();
    setenv("HOME", Dir->Path().c_str(), 1);
    setenv("TWINSIFTER_HOME", Dir->File("state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", Dir->File("config").c_str(), 1);
    setenv("XDG_CACHE_HOME", Dir->File("cache").c_str(), 1);
    setenv("XDG_DATA_HOME", Dir->File("data").c_str(), 1);
  }
  void TearDown() override { Dir.reset(); }

private:
  std::unique_ptr<TTempDir> Dir;
};

inline ::testing::Environment* const PrivateHome = ::testing::AddGlobalTestEnvironment(new TPrivateHome);

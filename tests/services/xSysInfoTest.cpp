#include "xSysInfo.h"

#include <sys/utsname.h>

#include <cstdint>

#include <gtest/gtest.h>

#include "xVersion.h"

namespace {

constexpr std::uint64_t MiB = 1048576;

TEST(MemoryTexts, MegabytesRoundedHalfToEven) {
  const struct {
    std::uint64_t Bytes;
    const char* Used;
    const char* Available;
  } cases[] = {
      {0, "0 MB", "0 MB"},
      {12582912, "12 MB", "12 MB"},
      {1300000, "1.24 MB", "1.2 MB"},
      {536870912, "512 MB", "512 MB"},
      {65536, "0.062 MB", "0.1 MB"},     // 62.5 thousandths: down to even
      {196608, "0.188 MB", "0.2 MB"},    // 187.5 thousandths: up to even
      {262144, "0.25 MB", "0.2 MB"},     // 2.5 tenths: down to even
      {786432, "0.75 MB", "0.8 MB"},     // 7.5 tenths: up to even
      {MiB - 1, "1 MB", "1 MB"},
      {5 * 1024 * MiB + MiB / 2, "5120.5 MB", "5120.5 MB"},  // beyond 32 bits
      {64ULL * 1024 * 1024 * MiB, "67108864 MB", "67108864 MB"},
      {UINT64_MAX, "17592186044416 MB", "17592186044416 MB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TSysInfo::UsedMemoryText(c.Bytes), c.Used) << c.Bytes;
    EXPECT_EQ(TSysInfo::AvailMemoryText(c.Bytes), c.Available) << c.Bytes;
  }
}

TEST(MemoryTexts, AvailableMemoryFromMeminfo) {
  std::uint64_t bytes = 0;
  EXPECT_TRUE(TSysInfo::ParseMemAvailable(
      "MemTotal:       32768000 kB\nMemFree:         1000 kB\nMemAvailable:   16318048 kB\n", bytes));
  EXPECT_EQ(bytes, 16318048ULL * 1024);  // well beyond 4 GiB
  EXPECT_FALSE(TSysInfo::ParseMemAvailable("MemTotal: 1 kB\nMemFree: 1 kB\n", bytes));
  EXPECT_FALSE(TSysInfo::ParseMemAvailable("MemAvailable: 99999999999999999999999 kB\n", bytes));
  EXPECT_FALSE(TSysInfo::ParseMemAvailable("", bytes));
  EXPECT_GT(TSysInfo::GetAvailPhys(), 0U);
}

TEST(SystemDescription, DistributionAndKernel) {
  const std::string debian =
      "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n";
  const struct {
    std::string OsRelease;
    const char* Sysname;
    const char* Release;
    const char* Machine;
    const char* Expected;
  } cases[] = {
      {debian, "Linux", "6.1.0-18-amd64", "x86_64", "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64 x86_64"},
      {"NAME=Fedora\nVERSION='39 (Workstation)'\n", "Linux", "6.5.6", "aarch64",
       "Fedora 39 (Workstation), Linux 6.5.6 aarch64"},
      {"NAME=\"Odd \\\"Name\\\"\"\n", "Linux", "5.4", "", "Odd \"Name\", Linux 5.4"},
      {"", "Linux", "6.1.0", "x86_64", "Linux 6.1.0 x86_64"},
      {"garbage\n=\nPRETTY_NAME\n", "", "", "", "Unknown"},
      {debian, "", "", "", "Debian GNU/Linux 12 (bookworm)"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TSysInfo(c.OsRelease, c.Sysname, c.Release, c.Machine).GetWindowsDescription(), c.Expected);

  const TSysInfo kernel("", "Linux", "6.12.3-arch1", "x86_64");
  EXPECT_EQ(kernel.MajorVersion, 6);
  EXPECT_EQ(kernel.MinorVersion, 12);
  EXPECT_EQ(kernel.BuildNumber, 3);

  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  EXPECT_NE(TSysInfo().GetWindowsDescription().find(names.release), std::string::npos);
}

TEST(VersionInfo, FileVersionPieces) {
  const struct {
    const char* FileVersion;
    const char* Major;
    const char* Minor;
    const char* Release;
    const char* Build;
  } cases[] = {
      {"2.3.0.117", "2", "3", "0", "117"},
      {"1, 2, 0, 7", "1", " 2", " 0", " 7"},
      {"2.3", "2", "", "", "3"},
      {"1.2.3.4.5", "1", "2", "3", "4.5"},
      {"1,2.3", "1,2", "", "", "3"},
      {"", InfoNotAvailable, InfoNotAvailable, InfoNotAvailable, InfoNotAvailable},
      {"117", InfoNotAvailable, InfoNotAvailable, InfoNotAvailable, InfoNotAvailable},
  };
  for (const auto& c : cases) {
    TVersionBlock block;
    block.Present = true;
    block.FileVersion = c.FileVersion;
    const TInfo info(block);
    EXPECT_EQ(info.VerMajor, c.Major) << c.FileVersion;
    EXPECT_EQ(info.VerMinor, c.Minor) << c.FileVersion;
    EXPECT_EQ(info.VerRelease, c.Release) << c.FileVersion;
    EXPECT_EQ(info.VerBuild, c.Build) << c.FileVersion;
  }
}

TEST(VersionInfo, VersionText) {
  TVersionBlock block;
  block.Present = true;
  block.FileVersion = "2.3.0.117";
  EXPECT_EQ(VersionText(TInfo(block)), "2.3.117 ");
  block.Comments = "beta";
  EXPECT_EQ(VersionText(TInfo(block)), "2.3.117 beta");

  const TInfo missing{TVersionBlock{}};
  EXPECT_EQ(missing.ProductName, InfoNotAvailable);
  EXPECT_EQ(VersionText(missing),
            "<info not available>.<info not available>.<info not available> <info not available>");

  // The program's own block comes from the build's project version.
  const TInfo own;
  EXPECT_EQ(VersionText(own), std::to_string(TWINSIFTER_VERSION_MAJOR) + "." +
                                  std::to_string(TWINSIFTER_VERSION_MINOR) + "." +
                                  std::to_string(TWINSIFTER_VERSION_BUILD) + " " + TWINSIFTER_VERSION_COMMENTS);
  EXPECT_EQ(own.ProductVersion, TWINSIFTER_VERSION_STRING);
}

}  // namespace

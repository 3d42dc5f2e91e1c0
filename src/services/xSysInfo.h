#pragma once
// What the program knows about itself and the machine: the system description and memory
// figures of the about box and the search banner, and the program's version block.

#include <cstdint>
#include <string>

// The running system, detected once: distribution from os-release, kernel from uname.
class TSysInfo {
public:
  TSysInfo();  // detects the running system

  // Builds the description from given sources (os-release text and uname fields).
  TSysInfo(const std::string& osRelease, const std::string& kernelName, const std::string& kernelRelease,
           const std::string& machine);

  // "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-18-amd64 x86_64"
  std::string GetWindowsDescription() const;

  // Bytes the allocator currently hands out (in use, not the process's resident size).
  static std::uint64_t GetAllocatedBytes();
  // Physical memory available to new work (MemAvailable).
  static std::uint64_t GetAvailPhys();

  std::string GetUsedMemoryText() const { return UsedMemoryText(GetAllocatedBytes()); }
  std::string GetAvailMemoryText() const { return AvailMemoryText(GetAvailPhys()); }

  // "12 MB", "1.24 MB": megabytes with three decimals (used) or one decimal (available).
  static std::string UsedMemoryText(std::uint64_t bytes);
  static std::string AvailMemoryText(std::uint64_t bytes);

  // The MemAvailable line of /proc/meminfo in bytes; false when the text has none.
  static bool ParseMemAvailable(const std::string& meminfo, std::uint64_t& bytes);

  std::string SystemName;     // PRETTY_NAME, else NAME and VERSION, else the kernel's name
  std::string KernelName;     // "Linux"
  std::string KernelRelease;  // "6.1.0-18-amd64"
  std::string Machine;        // "x86_64"
  std::int32_t MajorVersion = 0;  // the kernel release's leading numbers: 6.1.0
  std::int32_t MinorVersion = 0;
  std::int32_t BuildNumber = 0;

private:
  void Describe(const std::string& osRelease, const std::string& kernelName, const std::string& kernelRelease,
                const std::string& machine);
};

// The value of one key of an os-release text, unquoted; empty when absent.
std::string OsReleaseValue(const std::string& osRelease, const std::string& key);

inline constexpr const char* InfoNotAvailable = "<info not available>";

// The ten values of a version block; Present false stands for a program without one.
struct TVersionBlock {
  bool Present = false;
  std::string CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTradeMarks,
      OriginalFilename, ProductName, ProductVersion, Comments;
};

// The version block compiled into this program.
TVersionBlock CompiledVersionBlock();

// The program's version block, with FileVersion split into its four pieces.
class TInfo {
public:
  TInfo();  // the compiled-in block
  explicit TInfo(const TVersionBlock& block) { ReadVersionInfo(block); }

  void ReadVersionInfo(const TVersionBlock& block);

  std::string CompanyName, FileDescription, FileVersion, InternalName, LegalCopyright, LegalTradeMarks,
      OriginalFilename, ProductName, ProductVersion, Comments;
  std::string VerMajor, VerMinor, VerRelease, VerBuild;

private:
  void SplitFileVersion();
};

// major.minor.build + " " + comments; the release piece is left out.
std::string VersionText(const TInfo& info);

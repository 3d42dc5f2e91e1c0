#include "xSysInfo.h"

#include <malloc.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "xVersion.h"

namespace {

// Small files only: os-release and meminfo are a few kilobytes.
std::string ReadSmallFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(64 * 1024, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The leading decimal number of text from pos on; pos moves past it and one following '.'.
std::int32_t TakeNumber(const std::string& text, std::size_t& pos) {
  std::int64_t value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    if (value < 100000000) value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos < text.size() && text[pos] == '.') ++pos;
  return static_cast<std::int32_t>(value);
}

// bytes / 2^20, rounded to 'decimals' places with halves to even, in the shortest form.
std::string MegabyteText(std::uint64_t bytes, unsigned scale) {
  constexpr std::uint64_t mega = 1048576;
  // Whole megabytes and the rest apart, so that scaling cannot overflow.
  const std::uint64_t partial = (bytes % mega) * scale;
  std::uint64_t units = bytes / mega * scale + partial / mega;
  const std::uint64_t remainder = partial % mega;
  if (remainder > mega / 2 || (remainder == mega / 2 && (units & 1) != 0)) ++units;
  const auto whole = static_cast<std::uint64_t>(units / scale);
  auto fraction = static_cast<unsigned>(units % scale);
  std::string text = std::to_string(whole);
  if (fraction != 0) {
    std::string digits = std::to_string(fraction + scale).substr(1);  // zero-padded
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text + " MB";
}

}  // namespace

TSysInfo::TSysInfo() {
  std::string osRelease = ReadSmallFile("/etc/os-release");
  if (osRelease.empty()) osRelease = ReadSmallFile("/usr/lib/os-release");
  utsname names{};
  if (uname(&names) == 0)
    Describe(osRelease, names.sysname, names.release, names.machine);
  else
    Describe(osRelease, "", "", "");
}

TSysInfo::TSysInfo(const std::string& osRelease, const std::string& kernelName, const std::string& kernelRelease,
                   const std::string& machine) {
  Describe(osRelease, kernelName, kernelRelease, machine);
}

void TSysInfo::Describe(const std::string& osRelease, const std::string& kernelName,
                        const std::string& kernelRelease, const std::string& machine) {
  KernelName = kernelName;
  KernelRelease = kernelRelease;
  Machine = machine;
  SystemName = OsReleaseValue(osRelease, "PRETTY_NAME");
  if (SystemName.empty()) {
    SystemName = OsReleaseValue(osRelease, "NAME");
    const std::string version = OsReleaseValue(osRelease, "VERSION");
    if (!SystemName.empty() && !version.empty()) SystemName += " " + version;
  }
  std::size_t pos = 0;
  MajorVersion = TakeNumber(kernelRelease, pos);
  MinorVersion = TakeNumber(kernelRelease, pos);
  BuildNumber = TakeNumber(kernelRelease, pos);
}

std::string TSysInfo::GetWindowsDescription() const {
  std::string kernel = KernelName;
  for (const std::string* part : {&KernelRelease, &Machine})
    if (!part->empty()) kernel += (kernel.empty() ? "" : " ") + *part;
  if (SystemName.empty()) return kernel.empty() ? "Unknown" : kernel;
  if (kernel.empty()) return SystemName;
  return SystemName + ", " + kernel;
}

std::uint64_t TSysInfo::GetAllocatedBytes() {
  const struct mallinfo2 info = mallinfo2();
  // Small blocks live in the arenas, large ones are mapped one by one.
  return static_cast<std::uint64_t>(info.uordblks) + static_cast<std::uint64_t>(info.hblkhd);
}

std::uint64_t TSysInfo::GetAvailPhys() {
  std::uint64_t bytes = 0;
  if (ParseMemAvailable(ReadSmallFile("/proc/meminfo"), bytes)) return bytes;
  // Kernels before 3.14 have no MemAvailable: free memory is the nearest figure.
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
}

std::string TSysInfo::UsedMemoryText(std::uint64_t bytes) { return MegabyteText(bytes, 1000); }

std::string TSysInfo::AvailMemoryText(std::uint64_t bytes) { return MegabyteText(bytes, 10); }

bool TSysInfo::ParseMemAvailable(const std::string& meminfo, std::uint64_t& bytes) {
  std::istringstream lines(meminfo);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("MemAvailable:", 0) != 0) continue;
    std::size_t pos = line.find_first_of("0123456789");
    if (pos == std::string::npos) return false;
    std::uint64_t kilobytes = 0;
    for (; pos < line.size() && line[pos] >= '0' && line[pos] <= '9'; ++pos) {
      if (kilobytes > (UINT64_MAX >> 10) / 10) return false;
      kilobytes = kilobytes * 10 + static_cast<std::uint64_t>(line[pos] - '0');
    }
    bytes = kilobytes << 10;  // the kernel's "kB" are kibibytes
    return true;
  }
  return false;
}

std::string OsReleaseValue(const std::string& osRelease, const std::string& key) {
  std::istringstream lines(osRelease);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 || line[key.size()] != '=') continue;
    std::string value = Trim(line.substr(key.size() + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      const char quote = value.front();
      std::string plain;
      for (std::size_t i = 1; i + 1 < value.size(); ++i) {
        if (quote == '"' && value[i] == '\\' && i + 2 < value.size()) ++i;  // shell-style escape
        plain += value[i];
      }
      value = plain;
    }
    return value;
  }
  return {};
}

TVersionBlock CompiledVersionBlock() {
  TVersionBlock block;
  block.Present = true;
  block.FileDescription = "Twinsifter duplicate finder";
  // The release piece is not part of the project version; the build is its third number.
  block.FileVersion = std::to_string(TWINSIFTER_VERSION_MAJOR) + "." + std::to_string(TWINSIFTER_VERSION_MINOR) +
                      ".0." + std::to_string(TWINSIFTER_VERSION_BUILD);
  block.InternalName = "twinsifter";
  block.OriginalFilename = "twinsifter";
  block.ProductName = "Twinsifter";
  block.ProductVersion = TWINSIFTER_VERSION_STRING;
  block.Comments = TWINSIFTER_VERSION_COMMENTS;
  return block;
}

TInfo::TInfo() { ReadVersionInfo(CompiledVersionBlock()); }

void TInfo::ReadVersionInfo(const TVersionBlock& block) {
  std::string* const fields[] = {&CompanyName,     &FileDescription,  &FileVersion, &InternalName,
                                 &LegalCopyright,  &LegalTradeMarks,  &OriginalFilename,
                                 &ProductName,     &ProductVersion,   &Comments,
                                 &VerMajor,        &VerMinor,         &VerRelease,  &VerBuild};
  if (!block.Present) {
    for (std::string* field : fields) *field = InfoNotAvailable;
    return;
  }
  CompanyName = block.CompanyName;
  FileDescription = block.FileDescription;
  FileVersion = block.FileVersion;
  InternalName = block.InternalName;
  LegalCopyright = block.LegalCopyright;
  LegalTradeMarks = block.LegalTradeMarks;
  OriginalFilename = block.OriginalFilename;
  ProductName = block.ProductName;
  ProductVersion = block.ProductVersion;
  Comments = block.Comments;
  SplitFileVersion();
}

void TInfo::SplitFileVersion() {
  char separator = 0;
  if (FileVersion.find('.') != std::string::npos)
    separator = '.';
  else if (FileVersion.find(',') != std::string::npos)
    separator = ',';
  if (separator == 0) {
    VerMajor = VerMinor = VerRelease = VerBuild = InfoNotAvailable;
    return;
  }
  // Each piece ends at the next separator; where one is missing the piece stays empty and the
  // rest carries on, so "2.3" gives major 2 and build 3.
  std::string rest = FileVersion;
  auto take = [&rest, separator](std::string& piece) {
    const auto at = rest.find(separator);
    if (at == std::string::npos) {
      piece.clear();
      return;
    }
    piece = rest.substr(0, at);
    rest.erase(0, at + 1);
  };
  take(VerMajor);
  take(VerMinor);
  take(VerRelease);
  VerBuild = rest;
}

std::string VersionText(const TInfo& info) {
  return info.VerMajor + "." + info.VerMinor + "." + info.VerBuild + " " + info.Comments;
}

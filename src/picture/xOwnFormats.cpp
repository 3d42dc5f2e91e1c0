#include "xOwnFormats.h"

#include <sys/stat.h>

TFileReader::TFileReader(const std::string& path) : File(std::fopen(path.c_str(), "rb")) {
  struct stat info {};
  Good_ = File && ::fstat(::fileno(File.get()), &info) == 0 && S_ISREG(info.st_mode);
  if (Good_) Size_ = info.st_size;
}

bool TFileReader::Read(void* data, std::int64_t count) {
  if (!Good_ || count < 0 || count > Remaining()) return Good_ = false;
  if (count > 0 && std::fread(data, 1, static_cast<std::size_t>(count), File.get()) != static_cast<std::size_t>(count))
    return Good_ = false;
  Position += count;
  return true;
}

bool TFileReader::Seek(std::int64_t position) {
  if (!Good_ || position < 0 || position > Size_) return Good_ = false;
  if (position == Position) return true;
  if (::fseeko(File.get(), static_cast<off_t>(position), SEEK_SET) != 0) return Good_ = false;
  Position = position;
  return true;
}

std::uint8_t TFileReader::U8() {
  std::uint8_t b = 0;
  return Read(&b, 1) ? b : 0;
}

std::uint16_t TFileReader::U16LE() {
  std::uint8_t b[2] = {};
  return Read(b, 2) ? static_cast<std::uint16_t>(b[0] | b[1] << 8) : 0;
}

std::uint32_t TFileReader::U32LE() {
  std::uint8_t b[4] = {};
  if (!Read(b, 4)) return 0;
  return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
         static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

std::uint16_t TFileReader::U16BE() {
  std::uint8_t b[2] = {};
  return Read(b, 2) ? static_cast<std::uint16_t>(b[0] << 8 | b[1]) : 0;
}

std::uint32_t TFileReader::U32BE() {
  std::uint8_t b[4] = {};
  if (!Read(b, 4)) return 0;
  return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
         static_cast<std::uint32_t>(b[2]) << 8 | static_cast<std::uint32_t>(b[3]);
}

std::uint64_t TFileReader::U64BE() {
  const std::uint64_t high = U32BE();
  return high << 32 | U32BE();
}

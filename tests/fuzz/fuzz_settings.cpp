// The settings reader on any bytes: parsing never fails, and a value written into a damaged
// file reads back exactly, with the rest of the file intact around it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xStorage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TIniFile ini;
  ini.Parse(text);
  std::string value;
  std::int32_t number = 0;
  if (ini.Find("S", "k", value)) (void)TStorage::ParseInteger(value, number);
  (void)ini.Find("GENERAL", "Build1", value);

  // Parsing what was written gives the same lines again.
  const std::string written = ini.Text();
  TIniFile reread;
  reread.Parse(written);
  if (reread.Text() != written) std::abort();

  // The input's first bytes as a value of our own, awkward bytes and all.
  const std::string mine = text.substr(0, 64);
  (void)TStorage::ParseInteger(mine, number);
  ini.EraseSection("FUZZ");
  ini.Set("FUZZ", "Value", mine);
  ini.Set("fuzz", "Other", "1");
  reread.Parse(ini.Text());
  std::string back;
  if (!reread.Find("Fuzz", "value", back) || back != mine) std::abort();
  if (!reread.Find("FUZZ", "Other", back) || back != "1") std::abort();
  if (TIniFile::DecodeValue(TIniFile::EncodeValue(mine)) != mine) std::abort();
  return 0;
}

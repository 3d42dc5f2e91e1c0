#include "xRecords.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>

std::int64_t StatMTimeNs(const struct stat& info) {
  return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::uint32_t PackFileTime(std::int64_t unixSeconds) {
  const std::time_t seconds = static_cast<std::time_t>(unixSeconds);
  std::tm local{};
  if (!::localtime_r(&seconds, &local)) return 0x00210000U;  // 1980-01-01 00:00:00
  int year = local.tm_year + 1900;
  if (year < 1980) return 0x00210000U;
  if (year > 2107) return 0xFF9FBF7DU;  // 2107-12-31 23:59:58
  return static_cast<std::uint32_t>(year - 1980) << 25 | static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(local.tm_mday) << 16 | static_cast<std::uint32_t>(local.tm_hour) << 11 |
         static_cast<std::uint32_t>(local.tm_min) << 5 | static_cast<std::uint32_t>(local.tm_sec / 2);
}

namespace {

struct TParts {
  int Year, Month, Day, Hour, Minute, Second;
};

TParts Unpack(std::uint32_t packed) {
  return {static_cast<int>(packed >> 25) + 1980, static_cast<int>(packed >> 21 & 15), static_cast<int>(packed >> 16 & 31),
          static_cast<int>(packed >> 11 & 31),   static_cast<int>(packed >> 5 & 63),  static_cast<int>(packed & 31) * 2};
}

// Days from 1899-12-30 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromEpoch(int year, int month, int day) {
  // Days since 1970-01-01, after Howard Hinnant's civil-date algorithm.
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int yoe = year - era * 400;
  const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return static_cast<std::int64_t>(era) * 146097 + doe - 719468 + 25569;
}

}  // namespace

TDateTime PackedToDateTime(std::uint32_t packed) {
  const TParts p = Unpack(packed);
  // A damaged value (month 0, day 0) still orders sensibly: clamp into the calendar.
  const int month = p.Month < 1 ? 1 : p.Month > 12 ? 12 : p.Month;
  const int day = p.Day < 1 ? 1 : p.Day;
  return static_cast<double>(DaysFromEpoch(p.Year, month, day)) + (p.Hour * 3600.0 + p.Minute * 60.0 + p.Second) / 86400.0;
}

std::string PackedToIsoText(std::uint32_t packed) {
  const TParts p = Unpack(packed);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
  return text;
}

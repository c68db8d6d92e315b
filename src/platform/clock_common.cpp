// The local clock the plug-in reads, on every build: the system's, or one started at a chosen moment.

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>

#include "platform/system.h"

namespace platform {
namespace {

constexpr std::int64_t kDayMs = 86400000;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2;
  std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  std::int64_t yearOfEra = year - era * 400;
  std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

std::int64_t ToMilliseconds(const SYSTEMTIME& time) {
  return DaysFromCivil(time.wYear, time.wMonth, time.wDay) * kDayMs +
         ((time.wHour * 60 + time.wMinute) * 60 + time.wSecond) * 1000LL + time.wMilliseconds;
}

SYSTEMTIME FromMilliseconds(std::int64_t milliseconds) {
  std::int64_t days = milliseconds >= 0 ? milliseconds / kDayMs : -((-milliseconds + kDayMs - 1) / kDayMs);
  std::int64_t ofDay = milliseconds - days * kDayMs;
  std::int64_t z = days + 719468;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t dayOfEra = z - era * 146097;
  std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  std::int64_t mp = (5 * dayOfYear + 2) / 153;
  int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int year = static_cast<int>(yearOfEra + era * 400 + (month <= 2));
  int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  return SYSTEMTIME{year,
                    month,
                    weekday,
                    day,
                    static_cast<int>(ofDay / 3600000),
                    static_cast<int>(ofDay / 60000 % 60),
                    static_cast<int>(ofDay / 1000 % 60),
                    static_cast<int>(ofDay % 1000)};
}

}  // namespace

std::optional<SYSTEMTIME> ParseClockStart(const std::string& text) {
  SYSTEMTIME time;
  char end = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &time.wYear, &time.wMonth, &time.wDay, &time.wHour,
                  &time.wMinute, &time.wSecond, &end) != 6)
    return std::nullopt;
  if (time.wYear < 1601 || time.wMonth < 1 || time.wMonth > 12 || time.wDay < 1 || time.wHour > 23 ||
      time.wMinute > 59 || time.wSecond > 59 || time.wHour < 0 || time.wMinute < 0 || time.wSecond < 0)
    return std::nullopt;
  SYSTEMTIME normal = FromMilliseconds(ToMilliseconds(time));
  if (normal.wDay != time.wDay) return std::nullopt;  // 31 April and the like
  return normal;
}

void GetLocalTime(SYSTEMTIME* time) {
  SYSTEMTIME real = SystemLocalTime();
  // The distance from the system's clock to the chosen start, fixed at the first reading.
  static std::once_flag once;
  static std::int64_t shift = 0;
  std::call_once(once, [&real] {
    std::optional<std::string> start = GetEnvironmentVariableA("QF_CLOCK_START");
    if (!start) return;
    if (std::optional<SYSTEMTIME> chosen = ParseClockStart(*start))
      shift = ToMilliseconds(*chosen) - ToMilliseconds(real);
  });
  *time = shift == 0 ? real : FromMilliseconds(ToMilliseconds(real) + shift);
}

}  // namespace platform

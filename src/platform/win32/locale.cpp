#include "platform/locale.h"

#include <windows.h>

namespace platform {
namespace {

std::string Info(::LCTYPE type, const std::string& fallback) {
  char buffer[128];
  int length = ::GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer);
  return length > 1 ? std::string(buffer, static_cast<std::size_t>(length - 1)) : fallback;
}

LocaleFormats Read() {
  LocaleFormats formats;
  formats.shortDate = FromWindowsPicture(Info(LOCALE_SSHORTDATE, "dd/MM/yyyy"), false);
  formats.longDate = FromWindowsPicture(Info(LOCALE_SLONGDATE, "dddd, d MMMM yyyy"), false);
  formats.longTime = FromWindowsPicture(Info(LOCALE_STIMEFORMAT, "HH:mm:ss"), true);
  formats.shortTime = FromWindowsPicture(Info(0x79 /* LOCALE_SSHORTTIME */, "HH:mm"), true);
  formats.dateSeparator = Info(LOCALE_SDATE, "/");
  formats.timeSeparator = Info(LOCALE_STIME, ":");
  formats.am = Info(LOCALE_S1159, "AM");
  formats.pm = Info(LOCALE_S2359, "PM");
  for (int day = 0; day < 7; ++day) {
    // Windows counts Monday as day 1 and Sunday as day 7; pages count Sunday as day 0.
    int windowsDay = (day + 6) % 7;
    formats.longDayNames[static_cast<std::size_t>(day)] =
        Info(LOCALE_SDAYNAME1 + windowsDay, formats.longDayNames[day]);
    formats.shortDayNames[static_cast<std::size_t>(day)] =
        Info(LOCALE_SABBREVDAYNAME1 + windowsDay, formats.shortDayNames[day]);
  }
  for (int month = 0; month < 12; ++month) {
    formats.longMonthNames[static_cast<std::size_t>(month)] =
        Info(LOCALE_SMONTHNAME1 + month, formats.longMonthNames[month]);
    formats.shortMonthNames[static_cast<std::size_t>(month)] =
        Info(LOCALE_SABBREVMONTHNAME1 + month, formats.shortMonthNames[month]);
  }
  return formats;
}

}  // namespace

const LocaleFormats& UserLocaleFormats() {
  static const LocaleFormats formats = Read();
  return formats;
}

}  // namespace platform

#pragma once
// Names and formats of the user's locale, for dates and times in pages. Formats use the page's own
// specifiers (d, m, y, h, n, s, z, am/pm: see pageproducer/datetime.h), not Windows' picture strings.
// On Windows they come from the user's locale settings; on Linux from fixed English defaults.

#include <array>
#include <string>

namespace platform {

struct LocaleFormats {
  std::string shortDate = "dd/mm/yyyy";
  std::string longDate = "dddd, d mmmm yyyy";
  std::string shortTime = "hh:nn";
  std::string longTime = "hh:nn:ss";
  std::string dateSeparator = "/";
  std::string timeSeparator = ":";
  std::string am = "AM";
  std::string pm = "PM";
  std::array<std::string, 7> shortDayNames{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> longDayNames{"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  std::array<std::string, 12> shortMonthNames{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> longMonthNames{"January", "February", "March",     "April",   "May",      "June",
                                             "July",    "August",   "September", "October", "November", "December"};
};

// Read once and then kept; safe to call from any thread.
const LocaleFormats& UserLocaleFormats();

// A Windows date or time picture string ("dd/MM/yyyy", "h:mm tt") in the page's specifiers
// ("dd/mm/yyyy", "h:nn ampm"). Exposed for tests; used by the Windows build.
std::string FromWindowsPicture(const std::string& picture, bool isTime);

}  // namespace platform

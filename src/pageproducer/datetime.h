#pragma once
// The date and time format language of the Time and Date tags:
//   d dd            day of the month without / with leading zero
//   ddd dddd        short / long day name
//   ddddd dddddd    the whole date in the short / long date format
//   m mm            month without / with leading zero; directly after h or hh: minutes
//   mmm mmmm        short / long month name
//   yy yyyy         two-digit / four-digit year
//   h hh            hour without / with leading zero (12-hour when the format has an am/pm marker)
//   n nn, s ss      minute, second without / with leading zero
//   z zzz           millisecond without / with leading zeros
//   t tt            the whole time in the short / long time format
//   am/pm a/p ampm  12-hour marker (am/pm and a/p keep the letter case written; ampm is the locale's)
//   / :             the locale's date and time separators
//   '...' "..."     copied as written
// Letters are recognised without regard to case; any other character is copied. The format applies to
// this one call: nothing is stored between calls, so threads never see each other's formats.

#include <string>
#include <string_view>

#include "platform/locale.h"
#include "platform/system.h"

namespace qf {

std::string FormatDateTime(std::string_view format, const platform::SYSTEMTIME& time,
                           const platform::LocaleFormats& locale);

}  // namespace qf

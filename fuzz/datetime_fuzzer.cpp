// libFuzzer target: the date and time format language of the Time and Date tags
// (src/pageproducer/datetime.*), with locale formats made from Windows picture strings as the Windows
// build makes them (platform::FromWindowsPicture).
//
// Input: eight bytes pick the moment (year, month, day of the week, day, hour, minute, second and
// millisecond, each within its range); then lines: the format, a Windows date picture and a Windows time
// picture (the locale's short formats), and the locale's long date and long time formats as they stand.
//
// Oracles: no failure on any format or locale; a format without specifier letters, quotes or separators
// is copied as it stands; the page's own long formats of the default locale give the same text as the
// formats they stand for.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzzing.h"
#include "pageproducer/datetime.h"
#include "platform/locale.h"
#include "platform/system.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  platform::SYSTEMTIME time;
  time.wYear = 1601 + (data[0] | data[1] << 8) % 29227;
  time.wMonth = 1 + data[2] % 12;
  time.wDayOfWeek = data[3] % 7;
  time.wDay = 1 + data[4] % 31;
  time.wHour = data[5] % 24;
  time.wMinute = data[6] % 60;
  time.wSecond = data[7] % 60;
  time.wMilliseconds = (data[6] * 7 + data[7] * 13) % 1000;

  qffuzz::Cut format = qffuzz::FirstLine(qffuzz::Text(data + 8, size - 8));
  qffuzz::Cut datePicture = qffuzz::FirstLine(format.rest);
  qffuzz::Cut timePicture = qffuzz::FirstLine(datePicture.rest);
  qffuzz::Cut longDate = qffuzz::FirstLine(timePicture.rest);
  qffuzz::Cut longTime = qffuzz::FirstLine(longDate.rest);

  const platform::LocaleFormats standard;
  std::string text = qf::FormatDateTime(format.line, time, standard);
  if (format.line.find_first_of("dDmMyYhHnNsSzZtTaA/:'\"") == std::string_view::npos)
    QF_FUZZ_CHECK(text == format.line);
  QF_FUZZ_CHECK(qf::FormatDateTime("dddddd", time, standard) == qf::FormatDateTime(standard.longDate, time, standard));
  QF_FUZZ_CHECK(qf::FormatDateTime("tt", time, standard) == qf::FormatDateTime(standard.longTime, time, standard));

  platform::LocaleFormats locale;
  locale.shortDate = platform::FromWindowsPicture(std::string(datePicture.line), false);
  locale.shortTime = platform::FromWindowsPicture(std::string(timePicture.line), true);
  locale.longDate = std::string(longDate.line);
  locale.longTime = std::string(longTime.line);
  qf::FormatDateTime(format.line, time, locale);
  qf::FormatDateTime(longTime.rest, time, locale);
  platform::ParseClockStart(std::string(format.line));
  return 0;
}

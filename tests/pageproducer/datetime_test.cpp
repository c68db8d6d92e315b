#include "pageproducer/datetime.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

// Tuesday 5 March 2024, 09:05:07.042, and 21:45:30.5 the same day.
platform::SYSTEMTIME Morning() { return platform::SYSTEMTIME{2024, 3, 2, 5, 9, 5, 7, 42}; }
platform::SYSTEMTIME Evening() { return platform::SYSTEMTIME{2024, 3, 2, 5, 21, 45, 30, 500}; }

TEST(DateTimeFormat, EverySpecifier) {
  platform::LocaleFormats locale;
  struct Case {
    const char* format;
    const char* morning;
    const char* evening;
  };
  const Case cases[] = {
      {"d", "5", "5"},
      {"dd", "05", "05"},
      {"ddd", "Tue", "Tue"},
      {"dddd", "Tuesday", "Tuesday"},
      {"ddddd", "05/03/2024", "05/03/2024"},
      {"dddddd", "Tuesday, 5 March 2024", "Tuesday, 5 March 2024"},
      {"m", "3", "3"},
      {"mm", "03", "03"},
      {"mmm", "Mar", "Mar"},
      {"mmmm", "March", "March"},
      {"yy", "24", "24"},
      {"yyyy", "2024", "2024"},
      {"h", "9", "21"},
      {"hh", "09", "21"},
      {"n", "5", "45"},
      {"nn", "05", "45"},
      {"s", "7", "30"},
      {"ss", "07", "30"},
      {"z", "42", "500"},
      {"zzz", "042", "500"},
      {"t", "09:05", "21:45"},
      {"tt", "09:05:07", "21:45:30"},
      {"hh:nn", "09:05", "21:45"},
      {"h:mm", "9:05", "21:45"},  // m after h is minutes
      {"hh:mm:ss", "09:05:07", "21:45:30"},
      {"h am/pm", "9 am", "9 pm"},  // an am/pm marker makes the clock twelve-hour
      {"hh AM/PM", "09 AM", "09 PM"},
      {"h a/p", "9 a", "9 p"},
      {"h A/P", "9 A", "9 P"},
      {"h ampm", "9 AM", "9 PM"},
      {"dd mmmm yyyy", "05 March 2024", "05 March 2024"},
      {"'day' d \"of\" m", "day 5 of 3", "day 5 of 3"},
      {"d/m", "5/3", "5/3"},
      {"[Week] c!", "[Week] c!", "[Week] c!"},  // other characters are copied: W, e, k, c, [ ] and blanks
      {"DD-MM-YYYY HH:NN", "05-03-2024 09:05", "05-03-2024 21:45"},
      {"A", "A", "A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatDateTime(c.format, Morning(), locale), c.morning) << c.format;
    EXPECT_EQ(FormatDateTime(c.format, Evening(), locale), c.evening) << c.format;
  }
}

TEST(DateTimeFormat, MidnightAndNoonOnATwelveHourClock) {
  platform::LocaleFormats locale;
  EXPECT_EQ(FormatDateTime("h:nn am/pm", platform::SYSTEMTIME{2024, 1, 1, 1, 0, 5, 0, 0}, locale), "12:05 am");
  EXPECT_EQ(FormatDateTime("h:nn am/pm", platform::SYSTEMTIME{2024, 1, 1, 1, 12, 5, 0, 0}, locale), "12:05 pm");
}

TEST(DateTimeFormat, SeparatorsAndNamesComeFromTheLocale) {
  platform::LocaleFormats locale;
  locale.dateSeparator = ".";
  locale.timeSeparator = "h";
  locale.longMonthNames[2] = "März";
  EXPECT_EQ(FormatDateTime("d/m/yyyy hh:nn mmmm", Morning(), locale), "5.3.2024 09h05 März");
}

TEST(WindowsPictures, BecomePageFormats) {
  EXPECT_EQ(platform::FromWindowsPicture("dd/MM/yyyy", false), "dd/mm/yyyy");
  EXPECT_EQ(platform::FromWindowsPicture("M/d/yy", false), "m/d/yy");
  EXPECT_EQ(platform::FromWindowsPicture("dddd, MMMM d, yyyy", false), "dddd, mmmm d, yyyy");
  EXPECT_EQ(platform::FromWindowsPicture("HH:mm:ss", true), "hh:nn:ss");
  EXPECT_EQ(platform::FromWindowsPicture("h:mm tt", true), "h:nn ampm");
  EXPECT_EQ(platform::FromWindowsPicture("'Uhr' H", true), "'Uhr' h");
}

}  // namespace
}  // namespace qf

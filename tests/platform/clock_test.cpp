#include <gtest/gtest.h>

#include "platform/system.h"

namespace {

TEST(ClockStart, ReadsAMomentWithItsDayOfTheWeek) {
  struct Case {
    const char* text;
    int year, month, day, weekday, hour, minute, second;
  };
  for (const Case& c :
       {Case{"2026-12-07 08:00:00", 2026, 12, 7, 1, 8, 0, 0}, Case{"2026-12-06 23:59:59", 2026, 12, 6, 0, 23, 59, 59},
        Case{"2024-02-29 12:30:05", 2024, 2, 29, 4, 12, 30, 5}, Case{"2000-01-01 00:00:00", 2000, 1, 1, 6, 0, 0, 0},
        Case{"1969-12-31 23:59:59", 1969, 12, 31, 3, 23, 59, 59}}) {
    std::optional<platform::SYSTEMTIME> time = platform::ParseClockStart(c.text);
    ASSERT_TRUE(time) << c.text;
    EXPECT_EQ(time->wYear, c.year) << c.text;
    EXPECT_EQ(time->wMonth, c.month) << c.text;
    EXPECT_EQ(time->wDay, c.day) << c.text;
    EXPECT_EQ(time->wDayOfWeek, c.weekday) << c.text;
    EXPECT_EQ(time->wHour * 3600 + time->wMinute * 60 + time->wSecond, c.hour * 3600 + c.minute * 60 + c.second)
        << c.text;
  }
}

TEST(ClockStart, RefusesWhatIsNoMoment) {
  for (const char* text :
       {"", "2026-12-07", "2026-12-07 08:00", "2026-13-01 00:00:00", "2026-04-31 00:00:00", "2025-02-29 00:00:00",
        "2026-12-07 24:00:00", "2026-12-07 08:60:00", "2026-12-07 08:00:00x", "monday 08:00:00"})
    EXPECT_FALSE(platform::ParseClockStart(text)) << text;
}

}  // namespace

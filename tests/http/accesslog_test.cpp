// The access log's lines, their fields as written, and appends from many threads at once.

#include "http/accesslog.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include "core/quenforth.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

TEST(LogField, ControlCharactersAreWrittenAsPercentCodes) {
  struct Case {
    std::string text, written;
  } cases[] = {
      {"/index.html", "/index.html"},
      {"/a\r\nb", "/a%0D%0Ab"},
      {"a\tb", "a%09b"},
      {std::string("nul\0", 4), "nul%00"},
      {"\x1f\x7f", "%1F%7F"},
      {"%0D stays as sent", "%0D stays as sent"},
      {"\xe9t\xe9 "
       "\x80",
       "\xe9t\xe9 "
       "\x80"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(LogField(c.text), c.written) << c.text;
}

TEST(RequestLogLine, CarriesOnlyTheSwitchedOnFieldsInOrder) {
  const LogFields fields{"09/12/2026 07:00:00", "GET", "192.168.0.5", "bob", "/index.html", "play&volume=50"};
  struct Case {
    const char* why;
    LogSwitches switches;
    std::string line;
  } cases[] = {
      {"ip and document", {false, false, true, false, true, false}, "192.168.0.5\t/index.html\t\r\n"},
      {"nothing", {false, false, false, false, false, false}, "\r\n"},
      {"everything",
       {true, true, true, true, true, true},
       "09/12/2026 07:00:00\tGET\t192.168.0.5\tbob\t/index.html\tplay&volume=50\r\n"},
      {"the command alone", {false, false, false, false, false, true}, "play&volume=50\r\n"},
      {"date and event", {true, true, false, false, false, false}, "09/12/2026 07:00:00\tGET\t\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RequestLogLine(c.switches, fields), c.line) << c.why;

  LogFields empty{"", "POST", "10.0.0.1", "", "/", ""};
  EXPECT_EQ(RequestLogLine(LogSwitches{}, empty), "\tPOST\t10.0.0.1\t\t/\t\r\n");
}

TEST(RequestLogLine, AForgedLineEndStaysInsideItsField) {
  const LogFields fields{"", "GET", "127.0.0.1", "eve\r\n", "/x\r\n01/01/2026 00:00:00\tGET\t6.6.6.6", "a=\t"};
  std::string line = RequestLogLine(LogSwitches{false, true, true, true, true, true}, fields);
  EXPECT_EQ(line, "GET\t127.0.0.1\teve%0D%0A\t/x%0D%0A01/01/2026 00:00:00%09GET%096.6.6.6\ta=%09\r\n");
}

TEST(StartupLogLine, IsTheStampAndTheWordsQuenforthLoaded) {
  EXPECT_EQ(StartupLogLine("09/12/2026 07:00:00"), "09/12/2026 07:00:00\tQuenforth loaded\r\n");
}

TEST(LogTimeStamp, IsTheShortDateAndTheLongTime) {
  std::string stamp = LogTimeStamp();
  ASSERT_EQ(stamp.size(), 19u) << stamp;  // dd/mm/yyyy hh:nn:ss with the Linux defaults
  EXPECT_EQ(stamp[2], '/');
  EXPECT_EQ(stamp[5], '/');
  EXPECT_EQ(stamp[10], ' ');
  EXPECT_EQ(stamp[13], ':');
  EXPECT_EQ(stamp[16], ':');
}

class AccessLogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::emulation::MapDrive('C', folder_.Path().string());
    Modify(core_.CurrentSettings, [&](Settings& s) { s.logfile = "C:\\log.txt"; });
  }
  void TearDown() override { platform::emulation::UnmapAllDrives(); }
  std::string Log() const { return qftest::ReadFile(folder_.Path() / "log.txt"); }

  qftest::TempFolder folder_;
  TQuenforth core_;
};

TEST_F(AccessLogFileTest, AppendCreatesTheFileAndAddsToTheEnd) {
  EXPECT_TRUE(AppendLogLine("C:\\log.txt", "one\r\n"));
  EXPECT_TRUE(AppendLogLine("C:\\log.txt", "two\r\n"));
  EXPECT_EQ(Log(), "one\r\ntwo\r\n");
  EXPECT_FALSE(AppendLogLine("C:\\no such folder\\log.txt", "x\r\n"));
  EXPECT_FALSE(AppendLogLine("Q:\\log.txt", "x\r\n"));
}

TEST_F(AccessLogFileTest, StartingTheLogFollowsOverwriteAndEnable) {
  struct Case {
    bool overwrite, enable;
    bool oldKept, startupLine;
  } cases[] = {
      {true, true, false, true},
      {true, false, false, false},
      {false, true, true, true},
      {false, false, true, false},
  };
  for (const Case& c : cases) {
    qftest::WriteFile(folder_.Path() / "log.txt", "old line\r\n");
    Modify(core_.CurrentSettings, [&](Settings& s) { s.logOverwrite = c.overwrite; });
    Modify(core_.CurrentSettings, [&](Settings& s) { s.logEnable = c.enable; });
    StartAccessLog(core_);
    bool exists = std::filesystem::exists(folder_.Path() / "log.txt");
    std::string log = exists ? Log() : std::string();
    EXPECT_EQ(log.find("old line\r\n") == 0, c.oldKept) << c.overwrite << c.enable;
    std::size_t loaded = log.find("\tQuenforth loaded\r\n");
    EXPECT_EQ(loaded != std::string::npos, c.startupLine) << c.overwrite << c.enable;
    if (c.startupLine && !c.oldKept) {
      EXPECT_EQ(loaded, 19u);  // the first line of a new file
    }
  }
}

TEST(ConcurrentAccessLog, SimultaneousAppendsLoseAndMixNoLine) {
  qftest::TempFolder folder;
  platform::emulation::MapDrive('C', folder.Path().string());
  constexpr int kThreads = 8, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      // Long lines, so that a write the system split would show.
      std::string padding(3000, static_cast<char>('a' + t));
      for (int i = 0; i < kLines; ++i)
        AppendLogLine("C:\\log.txt", std::to_string(t) + "\t" + std::to_string(i) + "\t" + padding + "\r\n");
    });
  }
  for (std::thread& thread : threads) thread.join();
  platform::emulation::UnmapAllDrives();

  std::string log = qftest::ReadFile(folder.Path() / "log.txt");
  std::map<int, int> nextOfThread;
  std::size_t start = 0, lines = 0;
  while (start < log.size()) {
    std::size_t end = log.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    std::istringstream line(log.substr(start, end - start));
    int t = -1, i = -1;
    std::string padding;
    line >> t >> i >> padding;
    ASSERT_GE(t, 0);
    EXPECT_EQ(i, nextOfThread[t]++) << "thread " << t;
    EXPECT_EQ(padding, std::string(3000, static_cast<char>('a' + t)));
    start = end + 2;
    ++lines;
  }
  EXPECT_EQ(lines, static_cast<std::size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace qf

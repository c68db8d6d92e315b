// The settings files against the real player: the IP whitelist and the user accounts guarding the server,
// and a restart that keeps every setting and account.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>

#include "core/dimime.h"
#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::QuenforthProcess;

std::string Login(const std::string& login, const std::string& password) {
  return qf::MimeEncodeString(login + "\xB7" + password);
}

void AddToSetup(const fs::path& data, const std::string& lines) {
  qftest::WriteFile(data / "quenforth.ini", qftest::ReadFile(data / "quenforth.ini") + lines);
}

// The status of "GET /" from the loopback address `from`, with `authorization` as the Basic credentials
// ("login:password") when not empty.
int StatusFrom(std::uint16_t port, const std::string& from, const std::string& authorization = "") {
  qftest::Connection connection(port, from);
  if (!connection.Connected()) return -1;
  std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!authorization.empty()) request += "Authorization: Basic " + qf::MimeEncodeString(authorization) + "\r\n";
  if (!connection.Send(request + "\r\n")) return -1;
  std::optional<qftest::HttpResponse> response = connection.Read();
  return response ? response->status : -1;
}

TEST(Whitelist, RangesHoldBothEndsAndNothingBeyond) {
  // 127.1.0.0 - 127.1.255.255 stands for a range such as 10.0.0.0 - 10.0.255.255: every loopback address
  // reaches the server, so the test can come from either side of each end. Key 3 is missing: key 4 is
  // never read.
  QuenforthProcess quenforth([](const fs::path& data) {
    AddToSetup(data, "IPManagement=1\r\n");
    qftest::WriteFile(data / "iplist.ini",
                      "[IPAddressManagement]\r\n0=127.0.0.1\r\n1=127.1.0.0 - 127.1.255.255\r\n2=127.3.0.5\r\n"
                      "4=127.4.0.1\r\n");
  });
  struct Case {
    const char* from;
    int status;
  };
  for (const Case& c : {Case{"127.0.0.1", 200}, Case{"127.0.0.2", 403}, Case{"127.0.255.255", 403},
                        Case{"127.1.0.0", 200}, Case{"127.1.0.7", 200}, Case{"127.1.255.255", 200},
                        Case{"127.2.0.0", 403}, Case{"127.3.0.5", 200}, Case{"127.3.0.6", 403}, Case{"127.4.0.1", 403}})
    EXPECT_EQ(StatusFrom(quenforth.Port(), c.from), c.status) << c.from;
}

TEST(UserAccounts, CredentialsIgnoreCaseAndRefusalsAskAgain) {
  QuenforthProcess quenforth([](const fs::path& data) {
    AddToSetup(data, "enablePassword=1\r\n");
    qftest::WriteFile(data / "user.ini", "[0]\r\nLogin=" + Login("Ann", "Secret") + "\r\n[1]\r\nLogin=" +
                                             Login("Carl", "a:b") + "\r\n[2]\r\nLogin=" + Login("Nobody", "never") +
                                             "\r\nSu=0\r\nMo=0\r\nTu=0\r\nWe=0\r\nTh=0\r\nFr=0\r\nSa=0\r\n");
  });
  struct Case {
    const char* credentials;
    int status;
  };
  for (const Case& c :
       {Case{"Ann:Secret", 200}, Case{"aNN:sECRET", 200}, Case{"Ann:Secre", 401}, Case{"Ann:", 401},
        Case{":Secret", 401}, Case{"Bob:Secret", 401}, Case{"Carl:a:b", 200}, Case{"Nobody:never", 401}, Case{"", 401}})
    EXPECT_EQ(StatusFrom(quenforth.Port(), "", c.credentials), c.status) << c.credentials;

  auto refused = qftest::Get(quenforth.Port(), "/");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 401);
  EXPECT_NE(refused->Header("www-authenticate").find("Quenforth"), std::string::npos);
}

// Mondays 08:00:00 to 17:00:00 only; the player's clock starts at the moment each case names (7 December
// 2026 is a Monday), and the request comes a little later: every case keeps a margin of a minute.
TEST(UserAccounts, AWeekdayWindowAdmitsItsDayAndHoursOnly) {
  std::string days = "Su=0\r\nMo=1\r\nTu=0\r\nWe=0\r\nTh=0\r\nFr=0\r\nSa=0\r\nMoFrom=08:00:00\r\nMoTo=17:00:00\r\n";
  struct Case {
    const char* clock;
    int status;
  };
  for (const Case& c :
       {Case{"2026-12-07 08:00:00", 200}, Case{"2026-12-07 16:59:00", 200}, Case{"2026-12-07 07:59:00", 401},
        Case{"2026-12-07 17:00:01", 401}, Case{"2026-12-08 12:00:00", 401}, Case{"2026-12-06 12:00:00", 401}}) {
    QuenforthProcess quenforth(
        [&](const fs::path& data) {
          AddToSetup(data, "enablePassword=1\r\n");
          qftest::WriteFile(data / "user.ini", "[0]\r\nLogin=" + Login("Ann", "pw") + "\r\n" + days);
        },
        {"--clock", c.clock});
    EXPECT_EQ(StatusFrom(quenforth.Port(), "", "Ann:pw"), c.status) << c.clock;
  }
}

TEST(SettingsStore, ClosingClearsTheAlbumArtCacheUnlessToldNotTo) {
  for (const char* setting : {"", "ClearCacheOnExit=1\r\n", "ClearCacheOnExit=0\r\n"}) {
    fs::path cache;
    {
      QuenforthProcess quenforth([&](const fs::path& data) {
        AddToSetup(data, setting);
        qftest::WriteFile(data / "cache/0123ABCD.jpg", "picture");
      });
      cache = quenforth.DataFolder() / "cache";
      ASSERT_TRUE(fs::exists(cache / "0123ABCD.jpg"));
      ASSERT_TRUE(quenforth.Stop()) << quenforth.Output();
      EXPECT_EQ(fs::exists(cache), std::string(setting) == "ClearCacheOnExit=0\r\n") << setting;
    }
  }
}

// The files of the data folder that hold settings, by name.
std::map<std::string, std::string> SettingsFiles(const fs::path& data) {
  std::map<std::string, std::string> files;
  for (const char* name : {"quenforth.ini", "user.ini", "iplist.ini"}) files[name] = qftest::ReadFile(data / name);
  return files;
}

std::string ValueOf(const std::string& text, const std::string& section, const std::string& key) {
  std::smatch match;
  std::regex pattern("\\[" + section + "\\][^\\[]*?\\n" + key + "=([^\\r\\n]*)");
  return std::regex_search(text, match, pattern) ? match[1].str() : "<missing>";
}

TEST(SettingsStore, ARestartKeepsEverySettingAndAccount) {
  const std::string admin = "Admin:Pw:1";
  auto prepare = [](const fs::path& data) {
    AddToSetup(data,
               "; a note of the user's own\r\nMyOwnKey=mine\r\nenablePassword=1\r\nIPManagement=1\r\n"
               "TimerInterval=250\r\nCacheTimeout=30\r\nallowUpload=1\r\nallowBrowseAboveRoot=1\r\ndisplayDrives="
               "1\r\nCharset=koi8-r\r\n"
               "AdditionalFolder=C:\\Users\\Quenforth\\Music;\r\n[Logfile]\r\nip=0\r\ncommand=0\r\n");
    qftest::WriteFile(data / "iplist.ini", "[IPAddressManagement]\r\n0=127.0.0.1\r\n1=192.168.0.0 - 192.168.0.255\r\n");
    qftest::WriteFile(data / "user.ini",
                      "[0]\r\nLogin=" + Login("Admin", "Pw:1") +
                          "\r\nadmin=1\r\nchange_state=1\r\n"
                          "[1]\r\nLogin=" +
                          Login("Guest", std::string(70, 'g')) +
                          "\r\nMo=0\r\nTuFrom=08:00:00\r\nTuTo=17:00:00\r\nSkin=dark\r\nuploadmode=4\r\n"
                          "uploadlimit=1000\r\ncurrentupload=300\r\ntracks_per_hour=5\r\ndownload=1\r\n");
  };

  std::map<std::string, std::string> first;
  {
    QuenforthProcess quenforth(prepare);
    for (const char* command : {"/?removeplayed", "/?charset=utf-8", "/?volume=40", "/?inisection=mine"}) {
      auto answer =
          qftest::Get(quenforth.Port(), command, "Authorization: Basic " + qf::MimeEncodeString(admin) + "\r\n");
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->status, 200) << command;
    }
    ASSERT_TRUE(quenforth.Stop()) << quenforth.Output();
    first = SettingsFiles(quenforth.DataFolder());
  }
  const std::string& ini = first["quenforth.ini"];
  EXPECT_NE(ini.find("; a note of the user's own\r\nMyOwnKey=mine\r\n"), std::string::npos) << ini;
  struct Expected {
    const char* section;
    const char* key;
    const char* value;
  };
  for (const Expected& e :
       {Expected{"Setup", "Version", "Quenforth KV7 (3.0)"}, Expected{"Setup", "TimerInterval", "250"},
        Expected{"Setup", "CacheTimeout", "30"}, Expected{"Setup", "Volume", "40"},
        Expected{"Setup", "RemovePlayed", "1"}, Expected{"Setup", "allowUpload", "1"},
        Expected{"Setup", "allowBrowseAboveRoot", "1"}, Expected{"Setup", "displayDrives", "1"},
        Expected{"Setup", "Charset", "koi8-r"}, Expected{"Setup", "enablePassword", "1"},
        Expected{"Setup", "IPManagement", "1"}, Expected{"Setup", "ServerRunning", "1"},
        Expected{"Setup", "bindLocal", "1"}, Expected{"Setup", "AdditionalFolder", "C:\\Users\\Quenforth\\Music;"},
        Expected{"Logfile", "ip", "0"}, Expected{"Logfile", "command", "0"}, Expected{"Logfile", "user", "1"},
        Expected{"Files", "enableLink", "1"}})
    EXPECT_EQ(ValueOf(ini, e.section, e.key), e.value) << e.section << "." << e.key << "\n" << ini;
  const std::string& users = first["user.ini"];
  for (const Expected& e :
       {Expected{"0", "Login", ""}, Expected{"0", "Charset", "utf-8"}, Expected{"0", "INISection", "mine"},
        Expected{"0", "admin", "1"}, Expected{"1", "Mo", "0"}, Expected{"1", "Tu", "1"},
        Expected{"1", "TuFrom", "08:00:00"}, Expected{"1", "TuTo", "17:00:00"}, Expected{"1", "WeTo", "23:59:59"},
        Expected{"1", "Skin", "dark"}, Expected{"1", "uploadmode", "4"}, Expected{"1", "uploadlimit", "1000"},
        Expected{"1", "currentupload", "300"}, Expected{"1", "tracks_per_hour", "5"}, Expected{"1", "download", "1"},
        Expected{"1", "admin", "0"}}) {
    std::string expected = std::string(e.key) == "Login" ? Login("Admin", "Pw:1") : e.value;
    EXPECT_EQ(ValueOf(users, e.section, e.key), expected) << e.section << "." << e.key << "\n" << users;
  }
  EXPECT_EQ(ValueOf(users, "1", "Login"), Login("Guest", std::string(70, 'g')));
  EXPECT_EQ(first["iplist.ini"], "[IPAddressManagement]\r\n0=127.0.0.1\r\n1=192.168.0.0 - 192.168.0.255\r\n");

  // The second run reads what the first wrote and, changing nothing, writes the same again.
  QuenforthProcess again([&](const fs::path& data) {
    for (const auto& [name, text] : first) qftest::WriteFile(data / name, text);
  });
  EXPECT_EQ(StatusFrom(again.Port(), "", "admin:pW:1"), 200);
  ASSERT_TRUE(again.Stop()) << again.Output();
  std::map<std::string, std::string> second = SettingsFiles(again.DataFolder());
  for (const auto& [name, text] : first) EXPECT_EQ(second[name], text) << name;
}

}  // namespace

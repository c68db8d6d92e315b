// user.ini and iplist.ini: logins of any length, every key with its default, and the whitelist's gaps.

#include "settings/users.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/dimime.h"
#include "core/inifile.h"

namespace qf {
namespace {

TEST(UserLogin, SurvivesAnyLengthOnOneLine) {
  for (std::size_t length : {0u, 1u, 2u, 3u, 27u, 28u, 55u, 56u, 57u, 100u, 300u}) {
    std::string login(length, 'L');
    std::string password = "p:" + std::string(length, 'w') + "\xB7tail";
    std::string encoded = EncodeLogin(login, password);
    EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos) << length;
    std::string readLogin, readPassword;
    DecodeLogin(encoded, &readLogin, &readPassword);
    EXPECT_EQ(readLogin, login) << length;
    EXPECT_EQ(readPassword, password) << length;

    auto user = std::make_shared<UserClass>();
    user->Login = "user" + login;
    user->Password = password;
    IniFile written("C:\\user.ini", "");
    WriteUsers(written, UserList{user});
    UserList read = ReadUsers(IniFile("C:\\user.ini", written.Text()), "C:\\Player");
    ASSERT_EQ(read.size(), 1u) << length;
    EXPECT_EQ(read[0]->Login, user->Login);
    EXPECT_EQ(read[0]->Password, password);
  }
}

TEST(UserLogin, AShortPairIsOneStandardBase64Line) {
  EXPECT_EQ(EncodeLogin("ann", "pw"), "YW5ut3B3");
  std::string longest(28, 'a');
  EXPECT_EQ(EncodeLogin(longest, longest).size(), 76u);
}

TEST(UserLogin, WithoutSeparatorTheWholeTextIsThePassword) {
  std::string login = "x", password;
  DecodeLogin(MimeEncodeString("justtext"), &login, &password);
  EXPECT_EQ(login, "");
  EXPECT_EQ(password, "justtext");
}

TEST(UserIni, MissingKeysTakeTheirDefaults) {
  UserList users =
      ReadUsers(IniFile("C:\\user.ini", "[0]\r\nLogin=" + EncodeLogin("ann", "pw") + "\r\n"), "C:\\Player");
  ASSERT_EQ(users.size(), 1u);
  const UserClass& user = *users[0];
  for (std::size_t day = 0; day < 7; ++day) {
    EXPECT_TRUE(user.DayAllowed[day]);
    EXPECT_EQ(FormatTimeOfDay(user.DayFrom[day]), "00:00:00");
    EXPECT_EQ(FormatTimeOfDay(user.DayTo[day]), "23:59:59");
  }
  EXPECT_EQ(user.RootDirectory.Get(), "C:\\Player");
  EXPECT_EQ(user.CurrentDirectory.Get(), "C:\\Player");
  EXPECT_EQ(user.Skin.Get(), "base");
  EXPECT_EQ(user.Charset.Get(), "iso-8859-1");
  EXPECT_EQ(user.INISection.Get(), "");
  EXPECT_TRUE(user.ChangeSkin && user.allowBrowseAboveRoot && user.displayDrives);
  EXPECT_FALSE(user.add_files || user.change_state || user.download || user.remove_his || user.remove_all ||
               user.admin);
  EXPECT_EQ(user.tracks_per_hour, 0);
  EXPECT_EQ(user.uploadmode, 0);
  EXPECT_EQ(user.uploadlimit, 1);
  EXPECT_EQ(user.currentupload, 0);
}

TEST(UserIni, UploadCountersAsTheModeSays) {
  struct Case {
    int mode, limit, current;
    int readLimit, readCurrent;
  };
  for (const Case& c : {Case{1, 0, 500, 1, 500}, Case{2, -7, 500, 1, 500}, Case{3, 1000, 500, 1000, 0},
                        Case{4, 1000, 500, 1000, 500}}) {
    std::string text = "[0]\r\nLogin=" + EncodeLogin("a", "b") + "\r\nuploadmode=" + std::to_string(c.mode) +
                       "\r\nuploadlimit=" + std::to_string(c.limit) + "\r\ncurrentupload=" + std::to_string(c.current);
    UserList users = ReadUsers(IniFile("C:\\user.ini", text), "C:\\");
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0]->uploadlimit, c.readLimit) << c.mode;
    EXPECT_EQ(users[0]->currentupload, c.readCurrent) << c.mode;
  }
}

TEST(UserIni, EveryKeyRoundTrips) {
  auto user = std::make_shared<UserClass>();
  user->Login = "Bob";
  user->Password = "Secret";
  user->DayAllowed = {false, true, true, true, true, true, false};
  for (std::size_t day = 0; day < 7; ++day) {
    user->DayFrom[day] = *ParseTimeOfDay("08:00:00");
    user->DayTo[day] = *ParseTimeOfDay("17:00:00");
  }
  user->RootDirectory.Set("D:\\Music");
  user->CurrentDirectory.Set("D:\\Music\\Jazz");
  user->Skin.Set("dark");
  user->Charset.Set("utf-8");
  user->INISection.Set("bob");
  user->allowBrowseAboveRoot = false;
  user->displayDrives = false;
  user->add_files = user->change_state = user->download = user->remove_his = user->remove_all = user->admin = true;
  user->ChangeSkin = false;
  user->tracks_per_hour = 2;
  user->uploadmode = 4;
  user->uploadlimit = 1000;
  user->currentupload = 800;
  IniFile written("C:\\user.ini", "");
  WriteUsers(written, UserList{user, user});
  UserList read = ReadUsers(IniFile("C:\\user.ini", written.Text()), "C:\\");
  ASSERT_EQ(read.size(), 2u);
  IniFile again("C:\\user.ini", "");
  WriteUsers(again, read);
  EXPECT_EQ(again.Text(), written.Text());
  EXPECT_EQ(written.ReadString("1", "MoFrom", ""), "08:00:00");
  EXPECT_EQ(written.ReadString("1", "Su", ""), "0");
  EXPECT_EQ(read[1]->currentupload, 800);
  EXPECT_EQ(read[1]->INISection.Get(), "bob");
}

TEST(UserIni, ReadingStopsAtTheFirstSectionWithoutLogin) {
  std::string text = "[0]\r\nLogin=" + EncodeLogin("a", "1") + "\r\n[1]\r\nLogin=" + EncodeLogin("b", "2") +
                     "\r\n[2]\r\nLogin=\r\n[3]\r\nLogin=" + EncodeLogin("c", "3") + "\r\n";
  UserList users = ReadUsers(IniFile("C:\\user.ini", text), "C:\\");
  ASSERT_EQ(users.size(), 2u);
  EXPECT_EQ(users[1]->Login, "b");
}

TEST(TimeOfDay, ReadsTheLocalFormatsAndRefusesTheRest) {
  struct Case {
    const char* text;
    std::optional<long long> milliseconds;
  };
  for (const Case& c :
       {Case{"00:00:00", 0}, Case{"8:00", 8 * 3600000}, Case{"17:00:01", 61201000}, Case{"23:59:59.999", 86399999},
        Case{"24:00:00", std::nullopt}, Case{"12:60:00", std::nullopt}, Case{"noon", std::nullopt},
        Case{"", std::nullopt}, Case{"1:2:3:4", std::nullopt}, Case{"12.30", std::nullopt}}) {
    std::optional<double> read = ParseTimeOfDay(c.text);
    ASSERT_EQ(read.has_value(), c.milliseconds.has_value()) << c.text;
    if (read) {
      EXPECT_EQ(std::llround(*read * 86400000.0), *c.milliseconds) << c.text;
    }
  }
  EXPECT_EQ(FormatTimeOfDay(*ParseTimeOfDay("17:00:01")), "17:00:01");
}

TEST(IpList, StopsAtTheFirstGapAndWritesNoEmptyEntry) {
  TextList read = ReadIpList(IniFile("C:\\iplist.ini",
                                     "[IPAddressManagement]\r\n0=127.0.0.1\r\n1=10.0.0.0 - 10.0.255.255\r\n"
                                     "3=192.168.0.1\r\n"));
  EXPECT_EQ(read, (TextList{"127.0.0.1", "10.0.0.0 - 10.0.255.255"}));
  IniFile written("C:\\iplist.ini", "");
  WriteIpList(written, TextList{"1.1.1.1", " ", "2.2.2.2"});
  EXPECT_EQ(written.Text(), "[IPAddressManagement]\r\n0=1.1.1.1\r\n1=2.2.2.2\r\n");
  EXPECT_EQ(ReadIpList(IniFile("C:\\iplist.ini", written.Text())), (TextList{"1.1.1.1", "2.2.2.2"}));
}

}  // namespace
}  // namespace qf

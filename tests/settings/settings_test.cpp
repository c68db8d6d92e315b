// quenforth.ini through the table of keys: the order of reading and writing, defaults, limits, the lists
// derived from it, updates in place, and saves that fail half-way.

#include "settings/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/inifile.h"
#include "core/quenforth.h"
#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "quenforth_process.h"
#include "settings/settingstable.h"
#include "settings/users.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Keys(const std::vector<const SettingKey*>& rows) {
  std::vector<std::string> keys;
  for (const SettingKey* row : rows) keys.push_back(std::string(row->section) + "." + row->key);
  return keys;
}

TEST(SettingsTable, ReadsEveryKeyInItsOrder) {
  std::vector<const SettingKey*> rows;
  for (const SettingKey& row : SettingsTable())
    if (row.read) rows.push_back(&row);
  EXPECT_EQ(Keys(rows), (std::vector<std::string>{"Setup.ServerPort",
                                                  "Setup.TimerInterval",
                                                  "Setup.stayontop",
                                                  "Setup.usedPortMsg",
                                                  "Setup.allowLocking",
                                                  "Setup.allowUpload",
                                                  "Setup.bindLocal",
                                                  "Logfile.logfile",
                                                  "Logfile.enable",
                                                  "Logfile.overwrite",
                                                  "Logfile.date",
                                                  "Logfile.event",
                                                  "Logfile.ip",
                                                  "Logfile.user",
                                                  "Logfile.document",
                                                  "Logfile.command",
                                                  "Setup.ServerRunning",
                                                  "Setup.RootDirectory",
                                                  "Setup.CurrentDirectory",
                                                  "Setup.Skin",
                                                  "Setup.allowSkins",
                                                  "Setup.allowShutdown",
                                                  "Setup.allowSrcOutside",
                                                  "Setup.enablePassword",
                                                  "Setup.displayDrives",
                                                  "Setup.displayFloppyDrives",
                                                  "Setup.allowBrowseAboveRoot",
                                                  "Setup.IPManagement",
                                                  "Setup.useFullPath",
                                                  "Setup.Seamless",
                                                  "Setup.ClearCacheOnExit",
                                                  "Setup.useCache",
                                                  "Setup.CacheTimeout",
                                                  "Setup.RemovePlayed",
                                                  "Setup.KeepPlaylistAlive",
                                                  "Setup.AddRandomTrack",
                                                  "Setup.Volume",
                                                  "Setup.Balance",
                                                  "Setup.Charset",
                                                  "Setup.INISection",
                                                  "Files.enableLink",
                                                  "Files.Extensions",
                                                  "Setup.AdditionalFolder",
                                                  "Setup.allowCrossSiteCommands"}));
}

TEST(SettingsTable, WritesEveryKeyInItsOrder) {
  EXPECT_EQ(Keys(SettingsSaveOrder()), (std::vector<std::string>{"Setup.Version",
                                                                 "Setup.TimerInterval",
                                                                 "Setup.INISection",
                                                                 "Setup.Volume",
                                                                 "Setup.Balance",
                                                                 "Setup.CacheTimeout",
                                                                 "Setup.Charset",
                                                                 "Setup.stayontop",
                                                                 "Setup.ClearCacheOnExit",
                                                                 "Setup.ServerPort",
                                                                 "Setup.ServerRunning",
                                                                 "Setup.bindLocal",
                                                                 "Setup.usedPortMsg",
                                                                 "Logfile.logfile",
                                                                 "Logfile.enable",
                                                                 "Logfile.overwrite",
                                                                 "Logfile.date",
                                                                 "Logfile.event",
                                                                 "Logfile.ip",
                                                                 "Logfile.user",
                                                                 "Logfile.document",
                                                                 "Logfile.command",
                                                                 "Setup.RemovePlayed",
                                                                 "Setup.KeepPlaylistAlive",
                                                                 "Setup.AddRandomTrack",
                                                                 "Setup.RootDirectory",
                                                                 "Setup.CurrentDirectory",
                                                                 "Setup.allowBrowseAboveRoot",
                                                                 "Setup.displayDrives",
                                                                 "Setup.displayFloppyDrives",
                                                                 "Setup.useFullPath",
                                                                 "Setup.Seamless",
                                                                 "Setup.AdditionalFolder",
                                                                 "Files.enableLink",
                                                                 "Setup.allowSkins",
                                                                 "Setup.Skin",
                                                                 "Setup.allowShutdown",
                                                                 "Setup.allowSrcOutside",
                                                                 "Setup.allowLocking",
                                                                 "Setup.allowUpload",
                                                                 "Setup.IPManagement",
                                                                 "Setup.enablePassword",
                                                                 "Setup.allowCrossSiteCommands"}));
}

TEST(SettingsTable, AnEmptyFileGivesTheDefaults) {
  Settings read = ReadSettings(IniFile("C:\\none.ini", ""), SettingsDefaults{"C:\\Player", "C:\\data\\logfile.txt"});
  Settings expected;
  expected.RootDirectory = "C:\\Player";
  expected.CurrentDirectory = "C:\\Player";
  expected.logfile = "C:\\data\\logfile.txt";
  IniFile a("C:\\a.ini", ""), b("C:\\b.ini", "");
  WriteSettings(a, read, "v");
  WriteSettings(b, expected, "v");
  EXPECT_EQ(a.Text(), b.Text());
  EXPECT_EQ(read.ServerPort, 80);
  EXPECT_EQ(read.TimerInterval, 100);
  EXPECT_EQ(read.CacheTimeoutMs, 600000);
  EXPECT_TRUE(read.ServerRunning && read.allowSkins && read.useFullPath && read.ClearCacheOnExit && read.useCache);
  EXPECT_TRUE(read.logOverwrite && read.logDate && read.logCommand && read.enableLink);
  EXPECT_FALSE(read.logEnable || read.enablePassword || read.IPManagement || read.allowUpload);
  EXPECT_EQ(read.Skin, "base");
  EXPECT_EQ(read.Charset, "iso-8859-1");
  EXPECT_EQ(read.Volume, 100);
  EXPECT_EQ(read.Balance, 0);
}

TEST(SettingsTable, NumbersAreKeptInsideTheirLimits) {
  struct Case {
    const char* text;
    int timer;
  };
  for (const Case& c : {Case{"0", 1}, Case{"-5", 1}, Case{"1", 1}, Case{"500", 500}, Case{"1000", 1000},
                        Case{"1001", 1000}, Case{"99999999999", 100}, Case{"fast", 100}, Case{"", 100}}) {
    IniFile ini("C:\\x.ini", std::string("[Setup]\r\nTimerInterval=") + c.text +
                                 "\r\nVolume=250\r\nBalance=-300\r\n"
                                 "CacheTimeout=-1\r\n");
    Settings settings = ReadSettings(ini, {});
    EXPECT_EQ(settings.TimerInterval, c.timer) << c.text;
    EXPECT_EQ(settings.Volume, 100);
    EXPECT_EQ(settings.Balance, -100);
    EXPECT_EQ(settings.CacheTimeoutMs, 0);
  }
  Settings huge = ReadSettings(IniFile("C:\\x.ini", "[Setup]\r\nCacheTimeout=2147483647\r\n"), {});
  EXPECT_GT(huge.CacheTimeoutMs, 0);
}

TEST(SettingsTable, PortsThatAreNoPortSayWhyAndStayAsWritten) {
  Settings bad = ReadSettings(IniFile("C:\\x.ini", "[Setup]\r\nServerPort=70000\r\n"), {});
  EXPECT_EQ(bad.ServerPort, 80);
  EXPECT_NE(bad.PortError.find("70000"), std::string::npos);
  IniFile ini("C:\\x.ini", "[Setup]\r\nServerPort=70000\r\n");
  WriteSettings(ini, bad, "v");
  EXPECT_EQ(ini.ReadString("Setup", "ServerPort", ""), "70000");
  EXPECT_EQ(ReadSettings(IniFile("C:\\x.ini", "[Setup]\r\nServerPort=0\r\n"), {}).ServerPort, 0);
}

TEST(SettingsTable, DrivesAreShownOnlyWhereBrowsingOutsideTheRootIsAllowed) {
  struct Case {
    const char* file;
    bool drives;
    bool floppies;
  };
  for (const Case& c : {Case{"displayDrives=1\r\ndisplayFloppyDrives=1\r\n", false, false},
                        Case{"allowBrowseAboveRoot=1\r\ndisplayFloppyDrives=1\r\n", false, false},
                        Case{"allowBrowseAboveRoot=1\r\ndisplayDrives=1\r\ndisplayFloppyDrives=1\r\n", true, true}}) {
    Settings read = ReadSettings(IniFile("C:\\x.ini", std::string("[Setup]\r\n") + c.file), {});
    EXPECT_EQ(read.displayDrives, c.drives) << c.file;
    EXPECT_EQ(read.displayFloppyDrives, c.floppies) << c.file;
  }
}

TEST(SettingsTable, WritingUpdatesInPlaceAndReadsBackTheSame) {
  IniFile ini("C:\\x.ini",
              "; my notes\r\n[Setup]\r\nMyOwnKey=keep\r\nuseCache=0\r\nServerPort=81\r\n\r\n[Files]\r\n"
              "Extensions=xyz\r\n[Other]\r\na=b\r\n");
  Settings settings = ReadSettings(ini, {});
  settings.TimerInterval = 250;
  settings.CacheTimeoutMs = 30000;
  settings.allowUpload = true;
  settings.logEnable = true;
  settings.logIp = false;
  settings.AdditionalFolders = {"D:\\Music", "E:\\More Music"};
  settings.RootDirectory = "D:\\Music";
  settings.CurrentDirectory = "D:\\Music\\Rock";
  settings.Skin = "dark";
  settings.Extensions = "changed";
  WriteSettings(ini, settings, "Quenforth KV7 (3.0)");
  std::string text = ini.Text();
  EXPECT_EQ(text.rfind("; my notes\r\n[Setup]\r\nMyOwnKey=keep\r\nuseCache=0\r\nServerPort=81\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("[Other]\r\na=b\r\n"), std::string::npos);
  EXPECT_EQ(ini.ReadString("Setup", "Version", ""), "Quenforth KV7 (3.0)");
  EXPECT_EQ(ini.ReadString("Setup", "AdditionalFolder", ""), "D:\\Music;E:\\More Music;");
  EXPECT_EQ(ini.ReadString("Setup", "CacheTimeout", ""), "30");
  EXPECT_EQ(ini.ReadString("Files", "Extensions", ""), "xyz");  // never written

  IniFile again("C:\\x.ini", text);
  Settings read = ReadSettings(again, {});
  EXPECT_EQ(read.TimerInterval, 250);
  EXPECT_EQ(read.CacheTimeoutMs, 30000);
  EXPECT_TRUE(read.allowUpload);
  EXPECT_TRUE(read.logEnable);
  EXPECT_FALSE(read.logIp);
  EXPECT_FALSE(read.useCache);
  EXPECT_EQ(read.AdditionalFolders, settings.AdditionalFolders);
  EXPECT_EQ(read.CurrentDirectory, "D:\\Music\\Rock");
  EXPECT_EQ(read.Skin, "dark");
  IniFile third("C:\\x.ini", text);
  WriteSettings(third, read, "Quenforth KV7 (3.0)");
  EXPECT_EQ(third.Text(), text);  // a second save changes nothing
}

TEST(SettingsLists, AreCutAtTheirSeparators) {
  EXPECT_EQ(SplitList("mp3:ogg", ':'), (TextList{"mp3", "ogg"}));
  EXPECT_EQ(SplitList("mp3:ogg:", ':'), (TextList{"mp3", "ogg"}));
  EXPECT_EQ(SplitList("x", ':'), (TextList{"x"}));
  EXPECT_EQ(SplitList("", ':'), TextList{});
  EXPECT_EQ(SplitList("a::b", ':'), (TextList{"a", "b"}));
  EXPECT_EQ(SplitList("C:\\a;D:\\b", ';'), (TextList{"C:\\a", "D:\\b"}));
}

// LoadSettings and SaveSettings on an emulated C: drive, with no player window (volume and such read 0).
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::emulation::UnmapAllDrives();
    platform::emulation::MapDrive('C', folder_.Path().string());
    platform::emulation::ClearRecords();
    core_.Player = &player_;
    player_.SetPlayerFolder("C:\\Player");
    core_.PluginFolder.Set("C:\\Player\\Plugins");
    core_.VersionText.Set("Quenforth KV7 (3.0)");
    fs::create_directories(folder_.Path() / "Player");
    Write("base/index.html", "index");
    Write("Dark/index.html", "dark");
  }
  void TearDown() override { platform::emulation::SetWriteBudget(std::nullopt); }
  fs::path Data() const { return folder_.Path() / "Player/Plugins/quenforth"; }
  void Write(const std::string& name, const std::string& text) { qftest::WriteFile(Data() / name, text); }
  std::string Read(const std::string& name) { return qftest::ReadFile(Data() / name); }

  qftest::TempFolder folder_;
  TPlayer player_;
  TQuenforth core_;
};

TEST_F(SettingsStoreTest, LoadTellsTheWindowTheLoadedSettings) {
  Write("quenforth.ini", "[Setup]\r\nServerPort=8123\r\nstayontop=1\r\n");
  std::vector<Snapshot<Settings>> told;
  core_.SettingsChanged = [&](const SettingsChange& change) {
    if (change.settings) told.push_back(change.settings);
  };
  LoadSettings(core_);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0]->ServerPort, 8123);
  EXPECT_TRUE(told[0]->stayontop);
  EXPECT_EQ(told[0], core_.CurrentSettings.Get()) << "the record as loaded, skin selection included";
}

TEST_F(SettingsStoreTest, LoadFillsTheCoreObjectAndItsLists) {
  fs::create_directories(folder_.Path() / "Music/Rock");
  Write("quenforth.ini",
        "[Setup]\r\nTimerInterval=0\r\nRootDirectory=C:\\Music\\\r\nCurrentDirectory=C:\\Gone\r\nSkin=DARK\r\n"
        "IPManagement=1\r\nenablePassword=1\r\nCacheTimeout=0\r\nAdditionalFolder=C:\\Music\\Rock\r\n"
        "[Files]\r\nExtensions=xyz\r\n");
  Write("mime.ini", "[mime]\r\nhtml=text/html\r\njs\r\n");
  Write("iplist.ini", "[IPAddressManagement]\r\n0=127.0.0.1\r\n1=10.0.0.0 - 10.0.255.255\r\n3=1.2.3.4\r\n");
  LoadSettings(core_);
  Snapshot<Settings> settings = core_.CurrentSettings.Get();
  EXPECT_EQ(settings->TimerInterval, 1);
  EXPECT_EQ(settings->RootDirectory, "C:\\Music");
  EXPECT_EQ(settings->CurrentDirectory, "C:\\Music");
  EXPECT_EQ(settings->Skin, "Dark");
  EXPECT_TRUE(settings->IPManagement && settings->enablePassword);
  EXPECT_FALSE(settings->useCache);
  EXPECT_EQ(settings->AdditionalFolders, TextList{"C:\\Music\\Rock"});
  EXPECT_EQ(*core_.IpWhitelist.Get(), (TextList{"127.0.0.1", "10.0.0.0 - 10.0.255.255"}));
  EXPECT_EQ(*core_.TemplateExtensions.Get(), (TextList{"html"}));
  EXPECT_EQ(settings->logfile, "C:\\Player\\Plugins\\quenforth\\logfile.txt");
  // No player to ask: the built-in list, then the extra extensions, each also as a shortcut.
  Snapshot<SortedTextList> extensions = core_.MusicExtensions.Get();
  for (const char* extension : {"MP3", "ogg", "pls", "xyz", "xyz.lnk", "wma.lnk", "CDA"})
    EXPECT_TRUE(extensions->Contains(extension)) << extension;
  EXPECT_FALSE(extensions->Contains("lnk"));
}

TEST_F(SettingsStoreTest, MissingFoldersAndSkinsFallBack) {
  Write("quenforth.ini", "[Setup]\r\nRootDirectory=C:\\Vanished\r\nSkin=\r\n[Files]\r\nenableLink=0\r\n");
  LoadSettings(core_);
  EXPECT_EQ(core_.CurrentSettings.Get()->RootDirectory, "C:\\Player");
  EXPECT_EQ(core_.CurrentSettings.Get()->CurrentDirectory, "C:\\Player");
  EXPECT_EQ(core_.CurrentSettings.Get()->Skin, "base");
  EXPECT_FALSE(core_.MusicExtensions.Get()->Contains("mp3.lnk"));

  Write("quenforth.ini", "[Setup]\r\nSkin=nosuchskin\r\n");
  LoadSettings(core_);
  EXPECT_EQ(core_.CurrentSettings.Get()->Skin, "");
}

TEST_F(SettingsStoreTest, SaveWritesWhatChangedAndTheNextLoadReadsIt) {
  Write("quenforth.ini", "; kept\r\n[Setup]\r\nServerPort=8123\r\nUnknown=1\r\n");
  Write("user.ini", "[0]\r\nLogin=" + EncodeLogin("ann", "pw") + "\r\nadmin=1\r\n");
  Write("iplist.ini", "[IPAddressManagement]\r\n0=127.0.0.1\r\n");
  LoadSettings(core_);
  Modify(core_.CurrentSettings, [](Settings& s) {
    s.RemovePlayed = true;
    s.Charset = "utf-8";
  });
  Modify(core_.IpWhitelist, [](TextList& list) { list.push_back("10.0.0.1"); });
  ASSERT_TRUE(SaveSettings(core_));
  EXPECT_EQ(Read("quenforth.ini").rfind("; kept\r\n[Setup]\r\nServerPort=8123\r\nUnknown=1\r\n", 0), 0u);

  TQuenforth second;
  second.Player = &player_;
  second.PluginFolder.Set("C:\\Player\\Plugins");
  LoadSettings(second);
  EXPECT_TRUE(second.CurrentSettings.Get()->RemovePlayed);
  EXPECT_EQ(second.CurrentSettings.Get()->Charset, "utf-8");
  EXPECT_EQ(second.CurrentSettings.Get()->ServerPort, 8123);
  EXPECT_EQ(*second.IpWhitelist.Get(), (TextList{"127.0.0.1", "10.0.0.1"}));
  ASSERT_EQ(second.Users.Get()->size(), 1u);
  EXPECT_EQ(second.Users.Get()->front()->Login, "ann");
  EXPECT_TRUE(second.Users.Get()->front()->admin);
  // Nothing but the settings files is left in the data folder: no temporary file survives.
  for (const auto& entry : fs::directory_iterator(Data()))
    EXPECT_EQ(entry.path().extension().string().find("tmp"), std::string::npos) << entry.path();
}

TEST_F(SettingsStoreTest, ASaveThatRunsOutOfDiskKeepsThePreviousFiles) {
  std::string users = "[0]\r\nLogin=" + EncodeLogin("ann", "pw") + "\r\nadmin=1\r\n";
  Write("user.ini", users);
  Write("quenforth.ini", "[Setup]\r\nServerPort=8123\r\n");
  LoadSettings(core_);
  auto more = std::make_shared<UserList>(*core_.Users.Get());
  for (int i = 0; i < 50; ++i) {
    auto user = std::make_shared<UserClass>();
    user->Login = "user" + std::to_string(i);
    more->push_back(user);
  }
  core_.Users.Set(more);

  // Room for quenforth.ini and iplist.ini, and for part of user.ini only.
  IniFile expected(core_.DataFolder() + "\\quenforth.ini");
  WriteSettings(expected, *core_.CurrentSettings.Get(), core_.VersionText.Get());
  platform::emulation::SetWriteBudget(expected.Text().size() + 2000);
  EXPECT_FALSE(SaveSettings(core_));
  platform::emulation::SetWriteBudget(std::nullopt);

  EXPECT_EQ(Read("user.ini"), users);
  std::vector<platform::emulation::Record> records = platform::emulation::Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].caption, "Quenforth");
  EXPECT_EQ(records[0].text, "error creating ini-file: C:\\Player\\Plugins\\quenforth\\user.ini");
  for (const auto& entry : fs::directory_iterator(Data()))
    EXPECT_EQ(entry.path().extension().string().find("tmp"), std::string::npos) << entry.path();

  TQuenforth second;
  second.Player = &player_;
  second.PluginFolder.Set("C:\\Player\\Plugins");
  LoadSettings(second);
  ASSERT_EQ(second.Users.Get()->size(), 1u);
  EXPECT_EQ(second.Users.Get()->front()->Password, "pw");
}

}  // namespace
}  // namespace qf

// The configuration window's model: dependent controls, the boxes that take text, folders, the
// whitelist, skins, the server button and its icon, link, help, the log file actions and "edit user".

#include "ui/configform.h"

#include <gtest/gtest.h>

#include <climits>

#include "core/inifile.h"
#include "form_fixture.h"
#include "settings/settings.h"
#include "ui/userform.h"

namespace qf {
namespace {

using Kind = platform::emulation::Record::Kind;
using Check = TConfigForm::Check;

class FakeServerHost : public ConfigFormHost {
 public:
  std::optional<std::string> StartServer(int port, bool bindLocal) override {
    startedPort = port;
    startedLocal = bindLocal;
    return startError;
  }
  void StopServer() override { ++stops; }
  int ListeningPort() override { return listening; }
  std::vector<std::string> LocalAddresses() override { return addresses; }
  void RefreshCache() override { ++refreshes; }
  void SaveSettings() override { ++saves; }
  void ShowUserWindow(TUserForm& form) override {
    userWindowTitle = form.Title;
    userWindowOnTop = form.AlwaysOnTop;
    userWindowOpenedAt = form.Position;
    configVisibleMeanwhile = configVisible();
    if (whileUserWindowOpen) whileUserWindowOpen();
    form.Position = WindowPosition{40, 50};
  }

  std::optional<std::string> startError;
  int startedPort = -1;
  bool startedLocal = false;
  int stops = 0;
  int listening = 8080;
  std::vector<std::string> addresses{"192.168.1.5"};
  int refreshes = 0;
  int saves = 0;
  std::string userWindowTitle;
  bool userWindowOnTop = false;
  WindowPosition userWindowOpenedAt;
  std::function<void()> whileUserWindowOpen;
  bool configVisibleMeanwhile = true;
  std::function<bool()> configVisible = [] { return false; };
};

class ConfigFormTest : public FormTest {
 protected:
  FakeServerHost host_;
  TConfigForm form_{core_, host_};
};

TEST_F(ConfigFormTest, UncheckingBrowsingOutsideRootUnchecksAndDisablesBothDriveBoxes) {
  form_.SetChecked(Check::BrowseOutsideRoot, true);
  form_.SetChecked(Check::DisplayDrives, true);
  form_.SetChecked(Check::FloppyDrives, true);
  ASSERT_TRUE(Current().displayFloppyDrives);

  form_.SetChecked(Check::BrowseOutsideRoot, false);
  EXPECT_FALSE(form_.DisplayDrives.checked);
  EXPECT_FALSE(form_.DisplayDrives.enabled);
  EXPECT_FALSE(form_.FloppyDrives.checked);
  EXPECT_FALSE(form_.FloppyDrives.enabled);
  EXPECT_FALSE(Current().allowBrowseAboveRoot);
  EXPECT_FALSE(Current().displayDrives);
  EXPECT_FALSE(Current().displayFloppyDrives);
  EXPECT_FALSE(form_.SetChecked(Check::DisplayDrives, true)) << "a disabled box takes no click";
  EXPECT_FALSE(Current().displayDrives);

  form_.SetChecked(Check::BrowseOutsideRoot, true);
  EXPECT_TRUE(form_.DisplayDrives.enabled);
  EXPECT_FALSE(form_.DisplayDrives.checked) << "enabled again, but not checked again";
  EXPECT_FALSE(form_.FloppyDrives.enabled);
}

TEST_F(ConfigFormTest, FullPathEnablesSeamlessAndDrawsTheFolderGroupInNormalColour) {
  form_.SetChecked(Check::FullPath, false);
  EXPECT_FALSE(form_.Seamless.enabled);
  EXPECT_TRUE(form_.AdditionalGroup.grayed);
  EXPECT_FALSE(form_.Seamless.visible);
  form_.SetChecked(Check::FullPath, true);
  EXPECT_TRUE(form_.Seamless.enabled);
  EXPECT_FALSE(form_.AdditionalGroup.grayed);
}

TEST_F(ConfigFormTest, EveryCheckBoxWritesItsOwnSettingAndNoOther) {
  form_.SetChecked(Check::BrowseOutsideRoot, true);
  form_.SetChecked(Check::DisplayDrives, true);
  form_.SetChecked(Check::FullPath, true);
  for (const auto& row : TConfigForm::CheckTable()) {
    for (bool value : {true, false}) {
      // Boxes that others depend on are tested with their dependants.
      if (row.check == Check::BrowseOutsideRoot || row.check == Check::DisplayDrives || row.check == Check::FullPath)
        continue;
      Settings before = Current();
      ASSERT_TRUE(form_.SetChecked(row.check, value)) << row.caption;
      Settings expected = before;
      expected.*row.setting = value;
      for (const auto& other : TConfigForm::CheckTable())
        EXPECT_EQ(Current().*other.setting, expected.*other.setting) << row.caption << " changed " << other.caption;
      EXPECT_EQ((form_.*row.box).checked, value) << row.caption;
    }
  }
}

TEST_F(ConfigFormTest, StayOnTopChangesTheTitle) {
  EXPECT_EQ(form_.Title, "Quenforth KV7 - Configuration");
  EXPECT_EQ(form_.VersionLabel, "Quenforth KV7 (3.0)");
  form_.SetChecked(Check::StayOnTop, true);
  EXPECT_EQ(form_.Title, "Quenforth KV7 - Configuration (always on top)");
}

TEST_F(ConfigFormTest, CachePeriodBoxReadsAWholeNumberOfSeconds) {
  struct Case {
    const char* text;
    int seconds;
  } cases[] = {{"", 3600}, {"abc", 3600}, {"12x", 3600},       {"-5", 0},
               {"0", 0},   {"600", 600},  {"-99999999999", 0}, {"99999999999", INT_MAX / 1000}};
  for (const Case& c : cases) {
    form_.TypeCachePeriod(c.text);
    EXPECT_EQ(Current().CacheTimeoutMs, c.seconds * 1000) << c.text;
    EXPECT_EQ(form_.CachePeriod.text, c.text);
  }
}

TEST_F(ConfigFormTest, PortBoxTakesDigitsOfAPortNumberOnly) {
  struct Case {
    const char* text;
    bool taken;
    int port;
  } cases[] = {{"8081", true, 8081}, {"", true, 80},         {"80a", false, 80},           {"-1", false, 80},
               {"65536", false, 80}, {"65535", true, 65535}, {"99999999999", false, 65535}};
  for (const Case& c : cases) {
    EXPECT_EQ(form_.TypePort(c.text), c.taken) << c.text;
    EXPECT_EQ(Current().ServerPort, c.port) << c.text;
  }
}

TEST_F(ConfigFormTest, ConfirmingAnExistingRootSetsRootAndCurrentFolderWithoutDelimiter) {
  EXPECT_FALSE(form_.ConfirmRoot.enabled);
  form_.TypeRootFolder("C:\\Music\\Rock\\");
  EXPECT_TRUE(form_.ConfirmRoot.enabled);
  form_.ConfirmRootFolder();
  EXPECT_EQ(Current().RootDirectory, "C:\\Music\\Rock");
  EXPECT_EQ(Current().CurrentDirectory, "C:\\Music\\Rock");
  EXPECT_EQ(form_.RootFolder.text, "C:\\Music\\Rock");
  EXPECT_FALSE(form_.ConfirmRoot.enabled);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ConfigFormTest, ConfirmingAMissingRootShowsTheInvalidPathMessageAndChangesNothing) {
  form_.TypeRootFolder("C:\\Music\\Gone");
  form_.ConfirmRootFolder();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Quenforth: The given path is invalid!\n\nPlease try again..."});
  EXPECT_EQ(Current().RootDirectory, "");
  EXPECT_TRUE(form_.ConfirmRoot.enabled);
}

TEST_F(ConfigFormTest, SelectFolderPutsTheChosenFolderInAndConfirmsIt) {
  platform::emulation::QueueDialogAnswer("C:\\Music\\");
  form_.SelectRootFolder();
  EXPECT_EQ(Records(Kind::Dialog), std::vector<std::string>{"Select Folder:: "});
  EXPECT_EQ(Current().RootDirectory, "C:\\Music");
}

TEST_F(ConfigFormTest, AdditionalFoldersAreAddedAndRemovedOnlyOnYes) {
  platform::emulation::QueueDialogAnswer("C:\\Music\\Rock\\");
  form_.AddFolder();
  form_.AddFolder();  // cancelled: no answer queued
  EXPECT_EQ(Current().AdditionalFolders, TextList{"C:\\Music\\Rock"});
  EXPECT_EQ(form_.AdditionalFolders.items, TextList{"C:\\Music\\Rock"});

  platform::emulation::SetMessageBoxAnswer(platform::IDNO);
  EXPECT_FALSE(form_.DeleteFolder(0));
  EXPECT_EQ(Current().AdditionalFolders.size(), 1u);
  platform::emulation::SetMessageBoxAnswer(platform::IDYES);
  EXPECT_TRUE(form_.DeleteFolder(0));
  EXPECT_TRUE(Current().AdditionalFolders.empty());
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Additional Folders: Remove 'C:\\Music\\Rock'?",
                                                  "Additional Folders: Remove 'C:\\Music\\Rock'?"}));
  EXPECT_FALSE(form_.DeleteFolder(0)) << "nothing left to remove";
}

TEST_F(ConfigFormTest, AFolderWhoseNameHoldsTheListSeparatorIsRefused) {
  Write("Music/a;b/x");
  platform::emulation::QueueDialogAnswer("C:\\Music\\a;b");
  form_.AddFolder();
  EXPECT_TRUE(Current().AdditionalFolders.empty());
  ASSERT_EQ(Messages().size(), 1u);
}

TEST_F(ConfigFormTest, AddedWhitelistEntryComesFirstAndIsSavedAsKeyZero) {
  core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"127.0.0.1"}));
  form_.ShowSettings(Current());
  platform::emulation::QueueDialogAnswer("192.168.0.0 - 192.168.0.255");
  form_.AddWhitelistEntry();
  EXPECT_EQ(*core_.IpWhitelist.Get(), (TextList{"192.168.0.0 - 192.168.0.255", "127.0.0.1"}));
  EXPECT_EQ(Records(Kind::Dialog),
            std::vector<std::string>{"IP address management: Enter an IP address or address range:"});
  ASSERT_TRUE(SaveSettingsFiles(core_, Current()));
  IniFile saved("C:\\Player\\Plugins\\quenforth\\iplist.ini");
  EXPECT_EQ(saved.ReadString("IPAddressManagement", "0", ""), "192.168.0.0 - 192.168.0.255");
  EXPECT_EQ(saved.ReadString("IPAddressManagement", "1", ""), "127.0.0.1");
}

TEST_F(ConfigFormTest, WhitelistAnswersThatAreEmptyCancelledOrHoldLineBreaksChangeNothing) {
  core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"10.0.0.1", "10.0.0.2"}));
  form_.ShowSettings(Current());
  for (std::optional<std::string> answer :
       {std::optional<std::string>(""), std::optional<std::string>("  "), std::optional<std::string>(),
        std::optional<std::string>("1.2.3.4\r\n5=x")}) {
    platform::emulation::QueueDialogAnswer(answer);
    form_.AddWhitelistEntry();
    platform::emulation::QueueDialogAnswer(answer);
    EXPECT_FALSE(form_.EditWhitelistEntry(0));
  }
  EXPECT_EQ(*core_.IpWhitelist.Get(), (TextList{"10.0.0.1", "10.0.0.2"}));
}

TEST_F(ConfigFormTest, WhitelistEntryIsEditedInPlaceAndDeletedOnYes) {
  core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"10.0.0.1", "10.0.0.2"}));
  form_.ShowSettings(Current());
  platform::emulation::QueueDialogAnswer("10.0.0.3");
  EXPECT_TRUE(form_.EditWhitelistEntry(1));
  EXPECT_EQ(*core_.IpWhitelist.Get(), (TextList{"10.0.0.1", "10.0.0.3"}));
  EXPECT_EQ(Records(Kind::Dialog),
            std::vector<std::string>{"IP address management: Change IP address or address range:"});
  platform::emulation::SetMessageBoxAnswer(platform::IDNO);
  EXPECT_FALSE(form_.DeleteWhitelistEntry(0));
  platform::emulation::SetMessageBoxAnswer(platform::IDYES);
  EXPECT_TRUE(form_.DeleteWhitelistEntry(0));
  EXPECT_EQ(*core_.IpWhitelist.Get(), TextList{"10.0.0.3"});
  EXPECT_EQ(Messages().back(), "IP address management: Remove selected item?");
  EXPECT_FALSE(form_.EditWhitelistEntry(5));
}

TEST_F(ConfigFormTest, SkinBoxFocusSelectsTheDefaultSkinAsItsFolderSpellsIt) {
  struct Case {
    const char* skin;
    const char* selected;
  } cases[] = {{"", "base"}, {"DARK", "Dark"}, {"gone", ""}};
  for (const Case& c : cases) {
    Modify(core_.CurrentSettings, [&](Settings& s) { s.Skin = c.skin; });
    form_.SkinBoxFocused();
    EXPECT_EQ(Current().Skin, c.selected) << c.skin;
    EXPECT_EQ(form_.Skins.hint, c.selected);
    std::string shown = form_.Skins.selected >= 0 ? form_.Skins.items[form_.Skins.selected] : "";
    EXPECT_EQ(shown, c.selected);
  }
  EXPECT_EQ(core_.SkinNames.Get()->size(), 2u);
  int dark = form_.Skins.items[0] == "Dark" ? 0 : 1;
  EXPECT_TRUE(form_.ChooseSkin(dark));
  EXPECT_EQ(Current().Skin, "Dark");
  EXPECT_EQ(form_.Skins.hint, "Dark");
  EXPECT_FALSE(form_.ChooseSkin(7));
}

TEST_F(ConfigFormTest, StartedServerShowsRunningIconStopButtonAndTheLink) {
  struct Case {
    bool local;
    std::vector<std::string> addresses;
    int icon;
    const char* link;
  } cases[] = {{false, {"192.168.1.5", "10.0.0.9"}, 0, "http://192.168.1.5:8080"},
               {true, {"192.168.1.5"}, 3, "http://localhost:8080"},
               {false, {}, 0, "http://localhost:8080"}};
  for (const Case& c : cases) {
    form_.SetChecked(Check::LocalOnly, c.local);
    host_.addresses = c.addresses;
    form_.ServerButtonClick();
    EXPECT_EQ(host_.startedLocal, c.local);
    EXPECT_EQ(form_.IconIndex, c.icon);
    EXPECT_EQ(form_.IconHint, "running");
    EXPECT_EQ(form_.Link.caption, c.link);
    EXPECT_TRUE(form_.Link.enabled);
    EXPECT_EQ(form_.ServerButton.caption, "stop server");
    EXPECT_FALSE(form_.Port.enabled);
    EXPECT_FALSE(form_.LocalOnly.enabled);
    EXPECT_TRUE(Current().ServerRunning);

    form_.ServerButtonClick();
    EXPECT_EQ(form_.IconIndex, c.icon + 1);
    EXPECT_EQ(form_.IconHint, "stopped");
    EXPECT_EQ(form_.Link.caption, "please start the webserver");
    EXPECT_FALSE(form_.Link.enabled);
    EXPECT_EQ(form_.ServerButton.caption, "start server");
    EXPECT_TRUE(form_.Port.enabled);
    EXPECT_TRUE(form_.LocalOnly.enabled);
    EXPECT_FALSE(Current().ServerRunning);
  }
  EXPECT_EQ(host_.stops, 3);
}

TEST_F(ConfigFormTest, FailedStartShowsErrorIconMessageAndSelectsThePort) {
  form_.TypePort("8081");
  host_.startError = "Address already in use";
  form_.ServerButtonClick();
  EXPECT_EQ(host_.startedPort, 8081);
  EXPECT_EQ(form_.IconIndex, 2);
  EXPECT_EQ(form_.IconHint, "error");
  EXPECT_EQ(Messages(), std::vector<std::string>{"Quenforth: Address already in use\n\nPlease try another port!"});
  EXPECT_TRUE(form_.Visible);
  EXPECT_TRUE(form_.Port.focused);
  EXPECT_TRUE(form_.Port.textSelected);
  EXPECT_EQ(form_.ServerButton.caption, "start server");
  EXPECT_TRUE(form_.Port.enabled);

  form_.SetChecked(Check::LocalOnly, true);
  form_.ServerButtonClick();
  EXPECT_EQ(form_.IconIndex, 5);
  EXPECT_EQ(Messages().size(), 2u) << "every failed start says so";
}

TEST_F(ConfigFormTest, PortBoxWithoutANumberStartsOnPort80) {
  form_.TypePort("");
  form_.ServerButtonClick();
  EXPECT_EQ(host_.startedPort, 80);
}

TEST_F(ConfigFormTest, LinkAndHelpWithoutABrowserSayNoWebbrowserFound) {
  form_.LinkClick();
  EXPECT_TRUE(Records(Kind::Shell).empty()) << "the link is disabled while the server is stopped";
  form_.ServerButtonClick();
  form_.LinkClick();
  form_.HelpClick();
  EXPECT_EQ(Records(Kind::Shell), (std::vector<std::string>{"open: http://192.168.1.5:8080",
                                                            "open: C:\\Player\\Plugins\\quenforth\\help\\index.html"}));
  EXPECT_TRUE(Messages().empty());
  platform::emulation::SetShellOpens(false);
  form_.HelpClick();
  EXPECT_EQ(Messages(), std::vector<std::string>{"Quenforth: No webbrowser found."});
}

TEST_F(ConfigFormTest, LogFileDeleteAsksFirstAndViewSaysWhenItCannot) {
  form_.TypeLogPath("C:\\logs\\access.txt");
  form_.DeleteLogFile();
  form_.ViewLogFile();
  EXPECT_EQ(Messages(),
            (std::vector<std::string>{"Quenforth: File does not exist!", "Quenforth: File does not exist!"}));

  Write("logs/access.txt");
  platform::emulation::ClearRecords();
  platform::emulation::SetShellOpens(false);
  form_.ViewLogFile();
  platform::emulation::SetMessageBoxAnswer(platform::IDNO);
  form_.DeleteLogFile();
  EXPECT_TRUE(Exists("logs/access.txt"));
  platform::emulation::SetMessageBoxAnswer(platform::IDYES);
  form_.DeleteLogFile();
  EXPECT_FALSE(Exists("logs/access.txt"));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Quenforth: No external viewer found for that filetype.",
                                                  "Quenforth: delete C:\\logs\\access.txt?",
                                                  "Quenforth: delete C:\\logs\\access.txt?"}));
}

TEST_F(ConfigFormTest, ChosenLogFileBecomesThePathAndItsHint) {
  form_.TypeLogPath("C:\\logs\\access.txt");
  platform::emulation::QueueDialogAnswer("C:\\other\\log.txt");
  form_.ChooseLogFile();
  EXPECT_EQ(Records(Kind::Dialog), std::vector<std::string>{"Open: C:\\logs\\"});
  EXPECT_EQ(Current().logfile, "C:\\other\\log.txt");
  EXPECT_EQ(form_.LogPath.hint, "C:\\other\\log.txt");
  EXPECT_FALSE(form_.TypeLogPath("C:\\a\r\n[Setup]"));
  EXPECT_EQ(Current().logfile, "C:\\other\\log.txt");
}

TEST_F(ConfigFormTest, ShownSettingsFillTheControlsAndApplyTheDependentOnes) {
  Settings loaded;
  loaded.ServerPort = 8123;
  loaded.CacheTimeoutMs = 90000;
  loaded.RootDirectory = "C:\\Music";
  loaded.allowBrowseAboveRoot = false;
  loaded.displayDrives = true;
  loaded.stayontop = true;
  loaded.logfile = "C:\\log.txt";
  loaded.AdditionalFolders = {"C:\\Music\\Rock"};
  core_.CurrentSettings.Set(std::make_shared<const Settings>(loaded));
  form_.ShowSettings(loaded);
  EXPECT_EQ(form_.Port.text, "8123");
  EXPECT_EQ(form_.CachePeriod.text, "90");
  EXPECT_EQ(form_.RootFolder.text, "C:\\Music");
  EXPECT_EQ(form_.LogPath.text, "C:\\log.txt");
  EXPECT_EQ(form_.AdditionalFolders.items, TextList{"C:\\Music\\Rock"});
  EXPECT_TRUE(form_.StayOnTop.checked);
  EXPECT_EQ(form_.Title, "Quenforth KV7 - Configuration (always on top)");
  EXPECT_FALSE(form_.DisplayDrives.checked);
  EXPECT_FALSE(Current().displayDrives) << "the unchecked box clears its setting";
}

TEST_F(ConfigFormTest, EditUserHidesThisWindowShowsTheUserWindowThenSaves) {
  form_.SetChecked(Check::StayOnTop, true);
  form_.Show();
  host_.configVisible = [this] { return form_.Visible; };
  form_.EditUserClick();
  EXPECT_EQ(host_.userWindowTitle, "Quenforth - User Management (always on top)");
  EXPECT_FALSE(host_.configVisibleMeanwhile);
  EXPECT_TRUE(form_.Visible);
  EXPECT_EQ(form_.Position.left, 40);
  EXPECT_EQ(form_.Position.top, 50);
  EXPECT_EQ(host_.saves, 1);
}

TEST_F(ConfigFormTest, TheUserWindowOpensWhereThisOneStandsAndKeepsItHiddenWhileOpen) {
  form_.Moved(WindowPosition{120, 80});
  form_.SetChecked(Check::StayOnTop, true);
  ASSERT_TRUE(form_.Show());
  bool shownMeanwhile = true;
  host_.whileUserWindowOpen = [&] {
    EXPECT_TRUE(form_.UserWindowOpen());
    shownMeanwhile = form_.Show();
    form_.EditUserClick();  // a second user window never opens over the first
  };
  form_.EditUserClick();
  EXPECT_EQ(host_.userWindowOpenedAt.left, 120);
  EXPECT_EQ(host_.userWindowOpenedAt.top, 80);
  EXPECT_TRUE(host_.userWindowOnTop);
  EXPECT_FALSE(shownMeanwhile) << "the player's configure call waits for the user window";
  EXPECT_FALSE(form_.UserWindowOpen());
  EXPECT_TRUE(form_.Visible);
  EXPECT_EQ(host_.saves, 1);
}

TEST_F(ConfigFormTest, LoadedLocalOnlyShowsTheStoppedIconOfTheLocalVariant) {
  Settings settings = Current();
  settings.bindLocal = true;
  form_.ShowSettings(settings);
  EXPECT_EQ(form_.IconIndex, TConfigForm::kStopped + TConfigForm::kLocalOffset);
  EXPECT_EQ(form_.IconHint, "stopped");
  form_.SetChecked(Check::LocalOnly, false);
  EXPECT_EQ(form_.IconIndex, TConfigForm::kStopped);
  host_.startError = "Address already in use";
  form_.ServerButtonClick();
  form_.SetChecked(Check::LocalOnly, true);
  EXPECT_EQ(form_.IconIndex, TConfigForm::kError + TConfigForm::kLocalOffset);
  EXPECT_EQ(form_.IconHint, "error");
}

TEST_F(ConfigFormTest, ListSelectionsFollowTheirEntries) {
  core_.IpWhitelist.Set(std::make_shared<const TextList>(TextList{"10.0.0.1", "10.0.0.2"}));
  form_.ShowSettings(Current());
  form_.SelectWhitelistEntry(1);
  EXPECT_EQ(form_.Whitelist.selected, 1);
  platform::emulation::QueueDialogAnswer("10.0.0.3");
  form_.AddWhitelistEntry();
  EXPECT_EQ(form_.Whitelist.selected, 2) << "still 10.0.0.2, now one further down";
  EXPECT_TRUE(form_.DeleteWhitelistEntry(form_.Whitelist.selected));
  EXPECT_EQ(*core_.IpWhitelist.Get(), (TextList{"10.0.0.3", "10.0.0.1"}));
  EXPECT_EQ(form_.Whitelist.selected, -1) << "a deletion leaves nothing selected";
  form_.SelectWhitelistEntry(7);
  EXPECT_EQ(form_.Whitelist.selected, -1);

  platform::emulation::QueueDialogAnswer("C:\\Music\\Rock");
  form_.AddFolder();
  form_.SelectFolder(0);
  EXPECT_EQ(form_.AdditionalFolders.selected, 0);
  EXPECT_TRUE(form_.DeleteFolder(form_.AdditionalFolders.selected));
  EXPECT_EQ(form_.AdditionalFolders.selected, -1);
  form_.SelectFolder(0);
  EXPECT_EQ(form_.AdditionalFolders.selected, -1);
}

TEST_F(ConfigFormTest, ThePortBoxIsFocusedAfterAFailedStartUntilTheFocusLeavesIt) {
  host_.startError = "Address already in use";
  form_.ShowPage(TConfigForm::Page::Security);
  form_.ServerButtonClick();
  EXPECT_EQ(form_.VisiblePage, TConfigForm::Page::ServerSetup);
  EXPECT_TRUE(form_.Port.focused);
  form_.PortLostFocus();
  EXPECT_FALSE(form_.Port.focused);
  EXPECT_FALSE(form_.Port.textSelected);
}

TEST_F(ConfigFormTest, RefreshNowAsksTheCacheAndCloseOnlyHides) {
  form_.RefreshNow();
  EXPECT_EQ(host_.refreshes, 1);
  form_.Show();
  form_.CloseClick();
  EXPECT_FALSE(form_.Visible);
}

}  // namespace
}  // namespace qf

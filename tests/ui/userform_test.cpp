// The user management window's model: create, save, clone and delete with their messages, the values
// taken from the controls, and the controls that depend on others.

#include "ui/userform.h"

#include <gtest/gtest.h>

#include "form_fixture.h"
#include "settings/users.h"

namespace qf {
namespace {

constexpr std::size_t kMonday = 0;  // in the window
constexpr std::size_t kSundayInWindow = 6;

class UserFormTest : public FormTest {
 protected:
  std::shared_ptr<UserClass> AddUser(const std::string& login, int mode = 0, int limit = 1, int used = 0) {
    auto user = std::make_shared<UserClass>();
    user->Login = login;
    user->Password = "secret";
    user->Charset.Set("utf-8");
    user->INISection.Set("mine");
    user->uploadmode = mode;
    user->uploadlimit = limit;
    user->currentupload = used;
    user->RootDirectory.Set("C:\\Music");
    user->Skin.Set("DARK");
    Modify(core_.Users, [&](UserList& list) { list.push_back(user); });
    return user;
  }
  std::shared_ptr<UserClass> User(std::size_t index) { return core_.Users.Get()->at(index); }
  TUserForm Open(bool onTop = false) { return TUserForm(core_, "C:\\Music", {"base", "Dark"}, "base", {}, onTop); }
};

TEST_F(UserFormTest, OpensOnTheAccessPageWithEveryLoginAndHiddenUsageLabels) {
  AddUser("alice");
  AddUser("bob");
  TUserForm form = Open();
  EXPECT_EQ(form.Title, "Quenforth - User Management");
  EXPECT_EQ(Open(true).Title, "Quenforth - User Management (always on top)");
  EXPECT_EQ(form.Logins.items, (std::vector<std::string>{"alice", "bob"}));
  EXPECT_EQ(form.VisiblePage, TUserForm::Page::Access);
  EXPECT_TRUE(form.Folder.enabled);
  EXPECT_TRUE(form.BrowseButton.enabled);
  EXPECT_TRUE(form.BrowseAboveRoot.enabled);
  for (const Label& label : form.Usage) EXPECT_FALSE(label.visible);
  EXPECT_EQ(form.From[kMonday].text, "00:00:00");
  EXPECT_EQ(form.To[kSundayInWindow].text, "23:59:59");
  EXPECT_EQ(form.Skins.selected, 0);
}

TEST_F(UserFormTest, CreatingALoginThatExistsInAnotherCaseIsRefused) {
  AddUser("Bob");
  TUserForm form = Open();
  form.Login.text = "bob";
  form.Password.text = "pw";
  EXPECT_FALSE(form.Create());
  EXPECT_EQ(Messages(),
            std::vector<std::string>{
                "Quenforth - User Management: This user already exists! Please choose another login name."});
  EXPECT_TRUE(form.Login.focused);
  EXPECT_EQ(core_.Users.Get()->size(), 1u);
}

TEST_F(UserFormTest, CreatingNeedsLoginAndPasswordAndAUsableLogin) {
  struct Case {
    const char* login;
    const char* password;
    const char* message;
  } cases[] = {{"", "pw", "Please fill out every textfield."},
               {"carol", "", "Please fill out every textfield."},
               {"ca:rol", "pw", "A login cannot hold ':', the character '\xB7' or control characters."},
               {"ca\xB7rol", "pw", "A login cannot hold ':', the character '\xB7' or control characters."},
               {"ca\nrol", "pw", "A login cannot hold ':', the character '\xB7' or control characters."}};
  TUserForm form = Open();
  for (const Case& c : cases) {
    platform::emulation::ClearRecords();
    form.Login.text = c.login;
    form.Password.text = c.password;
    EXPECT_FALSE(form.Create()) << c.login;
    EXPECT_EQ(Messages(), std::vector<std::string>{std::string("Quenforth - User Management: ") + c.message});
  }
  EXPECT_TRUE(core_.Users.Get()->empty());
}

TEST_F(UserFormTest, CreateMakesARecordFromTheControls) {
  TUserForm form = Open();
  form.Login.text = "carol";
  form.Password.text = "pw";
  form.Days[kMonday].checked = false;
  form.From[kSundayInWindow].text = "08:00:00";
  form.To[kSundayInWindow].text = "17:30:00";
  form.AddFiles.checked = true;
  form.Admin.checked = true;
  ASSERT_TRUE(form.TypeTracksPerHour("5"));
  form.Skins.selected = 1;
  form.SetUploadAllowed(true);
  form.SetUploadMode(3);
  ASSERT_TRUE(form.TypeLimit(3, "1000"));
  ASSERT_TRUE(form.Create());
  EXPECT_EQ(form.Logins.items, std::vector<std::string>{"carol"});

  auto user = User(0);
  EXPECT_EQ(user->Login, "carol");
  EXPECT_EQ(user->Password, "pw");
  EXPECT_FALSE(user->DayAllowed[1]) << "Monday";
  EXPECT_TRUE(user->DayAllowed[0]) << "Sunday";
  EXPECT_EQ(FormatTimeOfDay(user->DayFrom[0]), "08:00:00");
  EXPECT_EQ(FormatTimeOfDay(user->DayTo[0]), "17:30:00");
  EXPECT_TRUE(user->add_files);
  EXPECT_TRUE(user->admin);
  EXPECT_FALSE(user->download);
  EXPECT_EQ(user->tracks_per_hour, 5);
  EXPECT_EQ(user->Skin.Get(), "Dark");
  EXPECT_EQ(user->RootDirectory.Get(), "C:\\Music");
  EXPECT_EQ(user->CurrentDirectory.Get(), "C:\\Music");
  EXPECT_EQ(user->Charset.Get(), "iso-8859-1");
  EXPECT_EQ(user->INISection.Get(), "");
  EXPECT_EQ(user->uploadmode, 3);
  EXPECT_EQ(user->uploadlimit.load(), 1000);
  EXPECT_EQ(user->TracksThisHour.load(), 0);
}

TEST_F(UserFormTest, TheControlsEventsReachTheRecord) {
  TUserForm form = Open();
  form.TypeLogin("dave");
  form.TypePassword("pw");
  EXPECT_TRUE(form.SetDay(static_cast<int>(kSundayInWindow), false));
  EXPECT_FALSE(form.SetDay(7, false));
  EXPECT_TRUE(form.TypeFrom(0, "07:00:00"));
  EXPECT_TRUE(form.TypeTo(0, "21:00:00"));
  EXPECT_FALSE(form.TypeTo(-1, "21:00:00"));
  form.SetRight(TUserForm::Right::Download, true);
  form.SetRight(TUserForm::Right::RemoveHis, true);
  EXPECT_TRUE(form.RightBox(TUserForm::Right::Download).checked);
  form.TypeFolder("C:\\Music\\Rock");
  EXPECT_TRUE(form.ChooseSkin(1));
  EXPECT_FALSE(form.ChooseSkin(2));
  form.SetChangeSkin(false);
  ASSERT_TRUE(form.Create());

  auto user = User(0);
  EXPECT_EQ(user->Login, "dave");
  EXPECT_EQ(user->Password, "pw");
  EXPECT_FALSE(user->DayAllowed[0]) << "Sunday";
  EXPECT_EQ(FormatTimeOfDay(user->DayFrom[1]), "07:00:00") << "Monday";
  EXPECT_EQ(FormatTimeOfDay(user->DayTo[1]), "21:00:00");
  EXPECT_TRUE(user->download);
  EXPECT_TRUE(user->remove_his);
  EXPECT_FALSE(user->admin);
  EXPECT_EQ(user->RootDirectory.Get(), "C:\\Music\\Rock");
  EXPECT_EQ(user->Skin.Get(), "Dark");
  EXPECT_FALSE(user->ChangeSkin);
}

TEST_F(UserFormTest, ATimeIsCheckedWhenItIsUsedAndTheLoginBoxKeepsTheFocusUntilItLeaves) {
  AddUser("bob");
  TUserForm form = Open();
  EXPECT_TRUE(form.TypeFrom(2, "noon"));
  form.TypeLogin("bob");
  form.TypePassword("pw");
  EXPECT_FALSE(form.Create());
  EXPECT_TRUE(form.Login.focused);
  form.LoginLostFocus();
  EXPECT_FALSE(form.Login.focused);
  form.TypeLogin("carol");
  EXPECT_FALSE(form.Create());
  EXPECT_EQ(Messages().back(), "Quenforth - User Management: Please enter a valid timestring.");
}

TEST_F(UserFormTest, OpenedFromAnAlwaysOnTopWindowItStaysOnTopToo) {
  EXPECT_FALSE(Open().AlwaysOnTop);
  EXPECT_TRUE(Open(true).AlwaysOnTop);
  TUserForm form = Open();
  form.ShowPage(TUserForm::Page::FileUpload);
  form.Moved(WindowPosition{5, 6});
  EXPECT_EQ(form.VisiblePage, TUserForm::Page::FileUpload);
  EXPECT_EQ(form.Position.left, 5);
  EXPECT_EQ(form.Position.top, 6);
}

TEST_F(UserFormTest, AnInvalidTimeStopsTheActionWithItsMessage) {
  AddUser("bob");
  TUserForm form = Open();
  form.SelectLogin("bob");
  form.To[3].text = "25:00:00";
  EXPECT_FALSE(form.Save());
  form.Login.text = "dave";
  form.Password.text = "pw";
  EXPECT_FALSE(form.Create());
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Quenforth - User Management: Please enter a valid timestring.",
                                                  "Quenforth - User Management: Please enter a valid timestring."}));
  EXPECT_EQ(core_.Users.Get()->size(), 1u);
}

TEST_F(UserFormTest, UploadValuesFollowTheModeAndItsBox) {
  struct Case {
    bool allowed;
    int mode;
    const char* box;
    int storedMode;
    int storedLimit;
  } cases[] = {{false, 3, "500", 0, 0}, {true, 1, "", 1, 0}, {true, 2, "500", 2, 500},
               {true, 3, "0", 3, 1},    {true, 4, "", 4, 1}, {true, 4, "999999", 4, 999999}};
  AddUser("bob", 4, 100, 60);
  for (const Case& c : cases) {
    TUserForm form = Open();
    form.SelectLogin("bob");
    form.SetUploadAllowed(c.allowed);
    form.SetUploadMode(c.mode);
    if (c.mode > 1) form.TypeLimit(c.mode, c.box);
    ASSERT_TRUE(form.Save());
    EXPECT_EQ(User(0)->uploadmode, c.storedMode) << c.mode << c.box;
    EXPECT_EQ(User(0)->uploadlimit.load(), c.storedLimit) << c.mode << c.box;
    EXPECT_EQ(User(0)->currentupload.load(), 0);
  }
}

TEST_F(UserFormTest, LimitBoxesTakeAtMostSixDigitsAndTracksDigitsOnly) {
  TUserForm form = Open();
  EXPECT_FALSE(form.TypeLimit(2, "1234567"));
  EXPECT_FALSE(form.TypeLimit(2, "12a"));
  EXPECT_FALSE(form.TypeLimit(1, "12"));
  EXPECT_TRUE(form.TypeLimit(4, "123456"));
  EXPECT_EQ(form.Limits[2].text, "123456");
  EXPECT_FALSE(form.TypeTracksPerHour("-1"));
  EXPECT_EQ(form.TracksPerHour.text, "0");
}

TEST_F(UserFormTest, SelectingAUserShowsItsUsage) {
  struct Case {
    int mode;
    int limit;
    int used;
    std::size_t label;
    const char* caption;
    const char* hint;
  } cases[] = {{1, 1, 12, 0, "upload: 12 KB", ""},
               {2, 800, 30, 1, "upload: 30 KB", ""},
               {3, 1000, 250, 2, "(75% left)", "250 KB used"},
               {4, 1000, 2000, 3, "(0% left)", "2000 KB used"},
               {4, 1, 2000000000, 3, "(0% left)", "2000000000 KB used"}};
  for (const Case& c : cases) {
    core_.Users.Set(EmptySnapshot<UserList>());
    AddUser("bob", c.mode, c.limit, c.used);
    TUserForm form = Open();
    ASSERT_TRUE(form.SelectLogin(0));
    EXPECT_TRUE(form.AllowUpload.checked);
    EXPECT_TRUE(form.Modes[c.label].checked);
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(form.Usage[i].visible, i == c.label) << c.mode;
    EXPECT_EQ(form.Usage[c.label].caption, c.caption);
    EXPECT_EQ(form.Usage[c.label].hint, c.hint);
    if (c.mode > 1) {
      EXPECT_EQ(form.Limits[c.label - 1].text, std::to_string(c.limit));
    }
  }
}

TEST_F(UserFormTest, UploadControlsAreEnabledByTheBoxAndTheMode) {
  TUserForm form = Open();
  for (const CheckBox& mode : form.Modes) EXPECT_FALSE(mode.enabled);
  for (const EditBox& box : form.Limits) EXPECT_FALSE(box.enabled);
  EXPECT_FALSE(form.SetUploadMode(3)) << "no mode while upload is off";
  form.SetUploadAllowed(true);
  for (int mode = 1; mode <= 4; ++mode) {
    ASSERT_TRUE(form.SetUploadMode(mode));
    for (std::size_t box = 0; box < 3; ++box) EXPECT_EQ(form.Limits[box].enabled, static_cast<int>(box) + 2 == mode);
  }
}

TEST_F(UserFormTest, BrowsingAboveTheStartFolderOffUnchecksAndDisablesOtherDrives) {
  TUserForm form = Open();
  form.SetBrowseAboveRoot(false);
  EXPECT_FALSE(form.DisplayDrives.checked);
  EXPECT_FALSE(form.DisplayDrives.enabled);
  EXPECT_FALSE(form.SetDisplayDrives(true));
  form.SetBrowseAboveRoot(true);
  EXPECT_TRUE(form.SetDisplayDrives(true));
}

TEST_F(UserFormTest, FolderBoxLosesItsDelimiterOnlyWhenTheFolderExists) {
  TUserForm form = Open();
  form.Folder.text = "C:\\Music\\Rock\\";
  form.LeaveFolderBox();
  EXPECT_EQ(form.Folder.text, "C:\\Music\\Rock");
  form.Folder.text = "C:\\Gone\\";
  form.LeaveFolderBox();
  EXPECT_EQ(form.Folder.text, "C:\\Gone\\");
  platform::emulation::QueueDialogAnswer("C:\\Music\\");
  form.BrowseFolder();
  EXPECT_EQ(form.Folder.text, "C:\\Music");
}

TEST_F(UserFormTest, SaveReplacesTheRecordKeepingCharsetAndSectionAndResettingUsage) {
  auto old = AddUser("bob", 4, 100, 60);
  old->TracksThisHour = 2;
  TUserForm form = Open();
  ASSERT_TRUE(form.SelectLogin("BOB"));
  form.Login.text = "BOB";
  form.Download.checked = true;
  ASSERT_TRUE(form.Save());
  auto saved = User(0);
  EXPECT_NE(saved, old) << "requests holding the old record keep it unchanged";
  EXPECT_EQ(old->Login, "bob");
  EXPECT_FALSE(old->download);
  EXPECT_EQ(saved->Login, "BOB");
  EXPECT_TRUE(saved->download);
  EXPECT_EQ(saved->currentupload.load(), 0);
  EXPECT_EQ(saved->Charset.Get(), "utf-8");
  EXPECT_EQ(saved->INISection.Get(), "mine");
  EXPECT_EQ(saved->TracksThisHour.load(), 2);
  EXPECT_EQ(form.Logins.items, std::vector<std::string>{"BOB"});
  EXPECT_EQ(form.Logins.selected, 0);
  EXPECT_EQ(form.Usage[3].caption, "(100% left)");
}

TEST_F(UserFormTest, SavingAnUnknownLoginSaysCreateNew) {
  AddUser("bob");
  TUserForm form = Open();
  form.Login.text = "nobody";
  form.Password.text = "pw";
  EXPECT_FALSE(form.Save());
  EXPECT_EQ(Messages(),
            std::vector<std::string>{"Quenforth - User Management: The user does not exists! Please create new."});
}

TEST_F(UserFormTest, CloneGivesEveryUserTheControlsButKeepsTheirCredentialsOnYesOnly) {
  AddUser("alice");
  AddUser("bob");
  TUserForm form = Open();
  form.SelectLogin("alice");
  form.RemoveAll.checked = true;
  platform::emulation::SetMessageBoxAnswer(platform::IDNO);
  EXPECT_FALSE(form.Clone());
  EXPECT_FALSE(User(1)->remove_all);
  platform::emulation::SetMessageBoxAnswer(platform::IDYES);
  ASSERT_TRUE(form.Clone());
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_TRUE(User(i)->remove_all);
    EXPECT_EQ(User(i)->Password, "secret");
    EXPECT_EQ(User(i)->Charset.Get(), "utf-8");
  }
  EXPECT_EQ(User(1)->Login, "bob");
  EXPECT_EQ(Messages().back(), "Quenforth - User Management: cloning successful!");
  EXPECT_EQ(Messages().front(),
            "Quenforth - User Management: Are you sure you want to use these settings for all users?");
}

TEST_F(UserFormTest, DeleteAsksAndRemovesTheSelectedUserOnYes) {
  AddUser("alice");
  auto bob = AddUser("bob");
  TUserForm form = Open();
  EXPECT_FALSE(form.Delete()) << "nothing selected";
  form.SelectLogin("bob");
  platform::emulation::SetMessageBoxAnswer(platform::IDNO);
  EXPECT_FALSE(form.Delete());
  EXPECT_EQ(core_.Users.Get()->size(), 2u);
  platform::emulation::SetMessageBoxAnswer(platform::IDYES);
  EXPECT_TRUE(form.Delete());
  EXPECT_EQ(form.Logins.items, std::vector<std::string>{"alice"});
  EXPECT_EQ(Messages().back(), "Quenforth - User Management: Do you want to delete user bob");
  EXPECT_EQ(bob->Login, "bob") << "a request that holds the record still may use it";
}

}  // namespace
}  // namespace qf

#include "ui/userform.h"

#include <algorithm>
#include <cstdint>

#include "core/guarded.h"
#include "core/quenforth.h"
#include "core/text.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/users.h"

namespace qf {
namespace {

constexpr char kCaption[] = "Quenforth - User Management";

std::string WithoutDelimiter(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The window shows Monday first; the records keep Sunday first.
std::size_t RecordDay(std::size_t shownDay) { return (shownDay + 1) % 7; }

int Message(const std::string& text, platform::UINT type) {
  return platform::MessageBoxA(nullptr, text, kCaption, type);
}

// A login is sent as "login:password" and stored before a byte 0xB7: either character in it would cut
// it there, and a control character would reach pages and the log.
bool UsableLogin(std::string_view login) {
  return std::none_of(login.begin(), login.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte == ':' || byte == 0xB7 || byte < 0x20;
  });
}

}  // namespace

struct TUserForm::Values {
  std::array<bool, 7> dayAllowed{};  // Sunday first, as the record
  std::array<double, 7> from{};
  std::array<double, 7> to{};
  std::int32_t tracksPerHour = 0;
  std::string folder;
  std::string skin;
  bool browseAboveRoot = false;
  bool displayDrives = false;
  bool addFiles = false;
  bool changeState = false;
  bool download = false;
  bool removeHis = false;
  bool removeAll = false;
  bool admin = false;
  bool changeSkin = false;
  std::int32_t uploadMode = 0;
  std::int32_t uploadLimit = 0;
};

namespace {

std::shared_ptr<UserClass> MakeRecord(const auto& values, const std::string& login, const std::string& password,
                                      const std::string& charset, const std::string& iniSection) {
  auto user = std::make_shared<UserClass>();
  user->Login = login;
  user->Password = password;
  user->DayAllowed = values.dayAllowed;
  user->DayFrom = values.from;
  user->DayTo = values.to;
  user->RootDirectory.Set(values.folder);
  user->CurrentDirectory.Set(values.folder);
  user->Skin.Set(values.skin);
  user->Charset.Set(charset);
  user->INISection.Set(iniSection);
  user->allowBrowseAboveRoot = values.browseAboveRoot;
  user->displayDrives = values.displayDrives;
  user->add_files = values.addFiles;
  user->change_state = values.changeState;
  user->download = values.download;
  user->remove_his = values.removeHis;
  user->remove_all = values.removeAll;
  user->admin = values.admin;
  user->ChangeSkin = values.changeSkin;
  user->uploadmode = values.uploadMode;
  user->uploadlimit = values.uploadLimit;
  user->currentupload = 0;
  user->tracks_per_hour = values.tracksPerHour;
  return user;
}

}  // namespace

TUserForm::TUserForm(TQuenforth& core, const std::string& rootFolder, const std::vector<std::string>& skins,
                     const std::string& selectedSkin, WindowPosition position, bool alwaysOnTop)
    : Position(position), core_(core) {
  Title = alwaysOnTop ? "Quenforth - User Management (always on top)" : "Quenforth - User Management";
  AlwaysOnTop = alwaysOnTop;
  for (std::size_t day = 0; day < 7; ++day) {
    Days[day] = CheckBox{kDayNames[day], true};
    From[day].text = "00:00:00";
    To[day].text = "23:59:59";
  }
  static constexpr const char* kModes[4] = {"unlimited", "max filesize", "daily limit", "account limit"};
  for (std::size_t mode = 0; mode < 4; ++mode) Modes[mode].caption = kModes[mode];
  for (Label& label : Usage) label.visible = false;
  TracksPerHour.text = "0";
  Folder.text = rootFolder;
  BrowseAboveRoot.checked = true;
  DisplayDrives.checked = true;
  ChangeSkin.checked = true;
  Skins.items = skins;
  for (std::size_t i = 0; i < skins.size(); ++i)
    if (SameText(skins[i], selectedSkin)) Skins.selected = static_cast<int>(i);
  ShowLogins();
  ApplyUploadControls();
  ApplyBrowsingControls();
}

Snapshot<UserList> TUserForm::Users() const { return core_.Users.Get(); }

void TUserForm::ShowLogins() {
  Logins.items.clear();
  for (const auto& user : *Users()) Logins.items.push_back(user->Login);
  if (Logins.selected >= static_cast<int>(Logins.items.size())) Logins.selected = -1;
}

void TUserForm::ApplyUploadControls() {
  for (std::size_t mode = 0; mode < 4; ++mode) {
    Modes[mode].enabled = AllowUpload.checked;
    Modes[mode].checked = static_cast<int>(mode) + 1 == UploadMode;
  }
  for (std::size_t box = 0; box < 3; ++box)
    Limits[box].enabled = AllowUpload.checked && UploadMode == static_cast<int>(box) + 2;
}

void TUserForm::ApplyBrowsingControls() {
  DisplayDrives.enabled = BrowseAboveRoot.checked;
  if (!BrowseAboveRoot.checked) DisplayDrives.checked = false;
}

bool TUserForm::SelectLogin(int index) {
  if (index < 0 || index >= static_cast<int>(Logins.items.size())) return false;
  Snapshot<UserList> users = Users();
  const std::string& login = Logins.items[static_cast<std::size_t>(index)];
  auto found =
      std::find_if(users->begin(), users->end(), [&](const auto& user) { return SameText(user->Login, login); });
  if (found == users->end()) return false;
  Logins.selected = index;
  ShowUser(**found);
  return true;
}

bool TUserForm::SelectLogin(const std::string& login) {
  for (std::size_t i = 0; i < Logins.items.size(); ++i)
    if (SameText(Logins.items[i], login)) return SelectLogin(static_cast<int>(i));
  return false;
}

void TUserForm::ShowUser(const UserClass& user) {
  Login.text = user.Login;
  Password.text = user.Password;
  for (std::size_t day = 0; day < 7; ++day) {
    Days[day].checked = user.DayAllowed[RecordDay(day)];
    From[day].text = FormatTimeOfDay(user.DayFrom[RecordDay(day)]);
    To[day].text = FormatTimeOfDay(user.DayTo[RecordDay(day)]);
  }
  TracksPerHour.text = std::to_string(user.tracks_per_hour);
  ChangeState.checked = user.change_state;
  AddFiles.checked = user.add_files;
  RemoveAll.checked = user.remove_all;
  RemoveHis.checked = user.remove_his;
  Download.checked = user.download;
  Admin.checked = user.admin;
  Folder.text = user.RootDirectory.Get();
  BrowseAboveRoot.checked = user.allowBrowseAboveRoot;
  DisplayDrives.checked = user.displayDrives;
  ApplyBrowsingControls();

  const std::int32_t mode = user.uploadmode;
  const std::int64_t used = user.currentupload;
  const std::int64_t limit = std::max<std::int32_t>(user.uploadlimit, 1);
  AllowUpload.checked = mode != 0;
  UploadMode = mode >= 1 && mode <= 4 ? mode : 1;
  if (mode >= 2 && mode <= 4) Limits[static_cast<std::size_t>(mode - 2)].text = std::to_string(user.uploadlimit);
  for (Label& label : Usage) label = Label{};
  for (Label& label : Usage) label.visible = false;
  if (mode >= 1 && mode <= 4) {
    Label& label = Usage[static_cast<std::size_t>(mode - 1)];
    label.visible = true;
    if (mode <= 2) {
      label.caption = "upload: " + std::to_string(used) + " KB";
    } else {
      // More used than allowed (a limit lowered in the file) shows nothing left, never a negative share.
      label.caption = "(" + std::to_string(std::max<std::int64_t>(0, 100 - used * 100 / limit)) + "% left)";
      label.hint = std::to_string(used) + " KB used";
    }
  }
  ApplyUploadControls();

  Skins.selected = -1;
  std::string skin = user.Skin.Get();
  for (std::size_t i = 0; i < Skins.items.size(); ++i)
    if (SameText(Skins.items[i], skin)) Skins.selected = static_cast<int>(i);
  ChangeSkin.checked = user.ChangeSkin;
}

bool TUserForm::SetBrowseAboveRoot(bool checked) {
  if (!BrowseAboveRoot.enabled) return false;
  BrowseAboveRoot.checked = checked;
  ApplyBrowsingControls();
  return true;
}

bool TUserForm::SetDisplayDrives(bool checked) {
  if (!DisplayDrives.enabled) return false;
  DisplayDrives.checked = checked;
  return true;
}

void TUserForm::SetUploadAllowed(bool checked) {
  AllowUpload.checked = checked;
  ApplyUploadControls();
}

bool TUserForm::SetUploadMode(int mode) {
  if (!AllowUpload.checked || mode < 1 || mode > 4) return false;
  UploadMode = mode;
  ApplyUploadControls();
  return true;
}

bool TUserForm::TypeTracksPerHour(const std::string& text) {
  if (!AllDigits(text)) return false;
  TracksPerHour.text = text;
  return true;
}

bool TUserForm::TypeLimit(int mode, const std::string& text) {
  if (mode < 2 || mode > 4 || !AllDigits(text) || text.size() > 6) return false;
  Limits[static_cast<std::size_t>(mode - 2)].text = text;
  return true;
}

bool TUserForm::SetDay(int day, bool checked) {
  if (day < 0 || day >= 7) return false;
  Days[static_cast<std::size_t>(day)].checked = checked;
  return true;
}

// A time is checked when it is used (create, save, clone): the box takes what is typed.
bool TUserForm::TypeFrom(int day, const std::string& text) {
  if (day < 0 || day >= 7) return false;
  From[static_cast<std::size_t>(day)].text = text;
  return true;
}

bool TUserForm::TypeTo(int day, const std::string& text) {
  if (day < 0 || day >= 7) return false;
  To[static_cast<std::size_t>(day)].text = text;
  return true;
}

CheckBox& TUserForm::RightBox(Right right) {
  switch (right) {
    case Right::ChangeState:
      return ChangeState;
    case Right::AddFiles:
      return AddFiles;
    case Right::RemoveAll:
      return RemoveAll;
    case Right::RemoveHis:
      return RemoveHis;
    case Right::Download:
      return Download;
    case Right::Admin:
      break;
  }
  return Admin;
}

void TUserForm::SetRight(Right right, bool checked) { RightBox(right).checked = checked; }

bool TUserForm::ChooseSkin(int index) {
  if (index < -1 || index >= static_cast<int>(Skins.items.size())) return false;
  Skins.selected = index;
  return true;
}

void TUserForm::LeaveFolderBox() {
  std::string folder = WithoutDelimiter(Folder.text);
  if (platform::DirectoryExists(folder)) Folder.text = folder;
}

void TUserForm::BrowseFolder() {
  if (!BrowseButton.enabled) return;
  if (std::optional<std::string> chosen = platform::BrowseForFolder("Select Folder:", Folder.text))
    Folder.text = WithoutDelimiter(*chosen);
}

std::optional<TUserForm::Values> TUserForm::ReadControls() {
  Values values;
  for (std::size_t day = 0; day < 7; ++day) {
    std::optional<double> from = ParseTimeOfDay(From[day].text);
    std::optional<double> to = ParseTimeOfDay(To[day].text);
    if (!from || !to) {
      Message("Please enter a valid timestring.", platform::MB_ICONWARNING);
      return std::nullopt;
    }
    values.dayAllowed[RecordDay(day)] = Days[day].checked;
    values.from[RecordDay(day)] = *from;
    values.to[RecordDay(day)] = *to;
  }
  std::optional<int> tracks = ParseInt(TracksPerHour.text);
  values.tracksPerHour = tracks && *tracks >= 0 ? *tracks : 0;
  values.folder = Folder.text;
  values.skin = Skins.selected >= 0 ? Skins.items[static_cast<std::size_t>(Skins.selected)] : "";
  values.browseAboveRoot = BrowseAboveRoot.checked;
  values.displayDrives = DisplayDrives.checked;
  values.addFiles = AddFiles.checked;
  values.changeState = ChangeState.checked;
  values.download = Download.checked;
  values.removeHis = RemoveHis.checked;
  values.removeAll = RemoveAll.checked;
  values.admin = Admin.checked;
  values.changeSkin = ChangeSkin.checked;
  if (!AllowUpload.checked) {
    values.uploadMode = values.uploadLimit = 0;
  } else if (UploadMode == 1) {
    values.uploadMode = 1;
    values.uploadLimit = 0;
  } else {
    values.uploadMode = UploadMode;
    std::optional<int> limit = ParseInt(Limits[static_cast<std::size_t>(UploadMode - 2)].text);
    values.uploadLimit = limit && *limit > 0 ? *limit : 1;
  }
  return values;
}

bool TUserForm::Create() {
  if (Login.text.empty() || Password.text.empty()) {
    Message("Please fill out every textfield.", platform::MB_ICONWARNING);
    return false;
  }
  if (!UsableLogin(Login.text)) {
    Message("A login cannot hold ':', the character '\xB7' or control characters.", platform::MB_ICONWARNING);
    Login.focused = true;
    return false;
  }
  Snapshot<UserList> users = Users();
  if (std::any_of(users->begin(), users->end(), [&](const auto& user) { return SameText(user->Login, Login.text); })) {
    Message("This user already exists! Please choose another login name.", platform::MB_ICONWARNING);
    Login.focused = true;
    return false;
  }
  std::optional<Values> values = ReadControls();
  if (!values) return false;
  auto user = MakeRecord(*values, Login.text, Password.text, "iso-8859-1", "");
  Modify(core_.Users, [&](UserList& list) { list.push_back(user); });
  ShowLogins();
  return true;
}

bool TUserForm::Save() {
  Snapshot<UserList> users = Users();
  auto found =
      std::find_if(users->begin(), users->end(), [&](const auto& user) { return SameText(user->Login, Login.text); });
  if (found == users->end()) {
    Message("The user does not exists! Please create new.", platform::MB_ICONWARNING);
    return false;
  }
  if (Password.text.empty()) {
    Message("Please fill out every textfield.", platform::MB_ICONWARNING);
    return false;
  }
  std::optional<Values> values = ReadControls();
  if (!values) return false;
  std::shared_ptr<UserClass> old = *found;
  auto user = MakeRecord(*values, Login.text, Password.text, old->Charset.Get(), old->INISection.Get());
  user->TracksThisHour = old->TracksThisHour.load();
  Modify(core_.Users, [&](UserList& list) { std::replace(list.begin(), list.end(), old, user); });
  ShowLogins();
  SelectLogin(Login.text);
  return true;
}

bool TUserForm::Clone() {
  if (Message("Are you sure you want to use these settings for all users?",
              platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES)
    return false;
  std::optional<Values> values = ReadControls();
  if (!values) return false;
  Modify(core_.Users, [&](UserList& list) {
    for (auto& user : list) {
      auto clone = MakeRecord(*values, user->Login, user->Password, user->Charset.Get(), user->INISection.Get());
      clone->TracksThisHour = user->TracksThisHour.load();
      user = clone;
    }
  });
  ShowLogins();
  Message("cloning successful!", platform::MB_ICONINFORMATION);
  return true;
}

bool TUserForm::Delete() {
  if (Logins.selected < 0 || Logins.selected >= static_cast<int>(Logins.items.size())) return false;
  const std::size_t index = static_cast<std::size_t>(Logins.selected);
  const std::string login = Logins.items[index];
  if (Message("Do you want to delete user " + login, platform::MB_YESNO | platform::MB_ICONQUESTION) != platform::IDYES)
    return false;
  Modify(core_.Users, [&](UserList& list) {
    // The entry at the selected place, unless the list changed under the window: then the first of that login.
    if (index < list.size() && list[index]->Login == login) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
      return;
    }
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& user) { return SameText(user->Login, login); });
    if (found != list.end()) list.erase(found);
  });
  Logins.selected = -1;
  ShowLogins();
  return true;
}

}  // namespace qf

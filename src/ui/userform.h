#pragma once
// TUserForm: the user management window's controls and what they do, on the live user list of the core
// object (TQuenforth::Users). Every control's state is a field (controls.h); every event is a member
// function that a view (or the Linux runner's offline editor) calls. Message boxes go through the
// platform layer, all titled "Quenforth - User Management".
//
// A change never edits a record that requests may hold: the list gets a new record in its place, and the
// old one stays valid for whoever still uses it.
//
// Threads: the thread that owns the window (the player's) alone calls it.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "ui/controls.h"

namespace qf {

class TQuenforth;

class TUserForm {
 public:
  enum class Page { Access, Privileges, Browsing, FileUpload, Skins };
  // The week as the window shows it, Monday first.
  static constexpr const char* kDayNames[7] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                               "Friday", "Saturday", "Sunday"};

  // Opened from the configuration window with its root folder text, its skin list and selected skin,
  // its position and its always-on-top style. `core` outlives the form.
  TUserForm(TQuenforth& core, const std::string& rootFolder, const std::vector<std::string>& skins,
            const std::string& selectedSkin, WindowPosition position, bool alwaysOnTop);

  // The rights of the privileges page.
  enum class Right { ChangeState, AddFiles, RemoveAll, RemoveHis, Download, Admin };

  // Events. Each answers whether it did what was asked; the reason it did not is in a message box, or,
  // for a control that takes no such input, nowhere (the control shows the form's state again).
  bool SelectLogin(int index);
  bool SelectLogin(const std::string& login);  // the list entry with that login, without regard to case
  bool SetBrowseAboveRoot(bool checked);
  bool SetDisplayDrives(bool checked);
  void SetUploadAllowed(bool checked);
  bool SetUploadMode(int mode);                       // 1 unlimited, 2 max file size, 3 daily limit, 4 account limit
  bool TypeTracksPerHour(const std::string& text);    // digits only
  bool TypeLimit(int mode, const std::string& text);  // digits only, at most 6
  void TypeLogin(const std::string& text) { Login.text = text; }
  void TypePassword(const std::string& text) { Password.text = text; }
  // The keyboard focus left the login box: it is no longer to be given the focus.
  void LoginLostFocus() { Login.focused = false; }
  bool SetDay(int day, bool checked);  // 0 Monday ... 6 Sunday
  bool TypeFrom(int day, const std::string& text);
  bool TypeTo(int day, const std::string& text);
  void SetRight(Right right, bool checked);
  CheckBox& RightBox(Right right);
  void TypeFolder(const std::string& text) { Folder.text = text; }
  void LeaveFolderBox();
  void BrowseFolder();
  bool ChooseSkin(int index);  // -1: none
  void SetChangeSkin(bool checked) { ChangeSkin.checked = checked; }
  void ShowPage(Page page) { VisiblePage = page; }
  void Moved(WindowPosition position) { Position = position; }
  bool Create();
  bool Save();
  bool Clone();
  bool Delete();
  void Close() { Visible = false; }

  std::string Title;
  bool AlwaysOnTop = false;  // stays above other windows, as the configuration window it was opened from
  bool Visible = true;
  Page VisiblePage = Page::Access;
  WindowPosition Position;

  // user
  ListBox Logins;
  Button DeleteButton{"&delete"};
  // details
  EditBox Login;
  EditBox Password;  // shown as "*"
  Button CreateButton{"&create"};
  Button SaveButton{"&save"};
  Button CloneButton{"clone setup"};
  // access, Monday first
  std::array<CheckBox, 7> Days;
  std::array<EditBox, 7> From;
  std::array<EditBox, 7> To;
  // privileges
  EditBox TracksPerHour;
  CheckBox ChangeState{"change playing state"};
  CheckBox AddFiles{"add files"};
  CheckBox RemoveAll{"remove all files"};
  CheckBox RemoveHis{"remove his files"};
  CheckBox Download{"download files"};
  CheckBox Admin{"exec admin commands"};
  // browsing
  EditBox Folder;
  Button BrowseButton{"open folder browser"};
  CheckBox BrowseAboveRoot{"enable browsing above start folder"};
  CheckBox DisplayDrives{"display other drives"};
  // file upload: the mode's radio buttons, the limit boxes of modes 2, 3 and 4, one usage label per mode
  CheckBox AllowUpload{"allow file upload"};
  std::array<CheckBox, 4> Modes;
  int UploadMode = 1;
  std::array<EditBox, 3> Limits;
  std::array<Label, 4> Usage;
  // skins
  ListBox Skins;
  CheckBox ChangeSkin{"allow skin selection via browser"};
  Button CloseButton{"close"};

 private:
  // The values of the controls that a record takes, or nothing after the message that says why not.
  struct Values;
  std::optional<Values> ReadControls();
  void ShowUser(const UserClass& user);
  void ShowLogins();
  void ApplyUploadControls();
  void ApplyBrowsingControls();
  Snapshot<UserList> Users() const;

  TQuenforth& core_;
};

}  // namespace qf

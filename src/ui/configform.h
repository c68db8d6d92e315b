#pragma once
// TConfigForm: the configuration window's controls and what they do. Every control's state is a field
// (controls.h); every event is a member function that a view (or the Linux runner's offline editor)
// calls. A change takes effect at once: settings through a new Settings record (Modify on
// TQuenforth::CurrentSettings), the whitelist and the additional folders through their snapshots.
// Message boxes and dialogs go through the platform layer.
//
// Threads: the form belongs to the thread that owns the configuration window (the player's); only that
// thread calls it. Other threads reach it through TConfigWindow::Post.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/settingsdata.h"
#include "core/text.h"
#include "ui/controls.h"

namespace qf {

class TQuenforth;
class TUserForm;

// What the window asks of the plug-in around it: the main form on the player, the runner's offline
// editor on Linux. Called on the window's thread.
class ConfigFormHost {
 public:
  virtual ~ConfigFormHost() = default;
  // Starts the server on `port` (0: a free one) on every address, or on 127.0.0.1 alone: nothing when it
  // listens, else the reason it does not.
  virtual std::optional<std::string> StartServer(int port, bool bindLocal) = 0;
  virtual void StopServer() = 0;
  // The port the running server listens on.
  virtual int ListeningPort() = 0;
  // The computer's IPv4 addresses, loopback excluded.
  virtual std::vector<std::string> LocalAddresses() = 0;
  // Asks the file cache for a scan now.
  virtual void RefreshCache() = 0;
  // Writes the settings files.
  virtual void SaveSettings() = 0;
  // Shows the user window and returns when it has been closed.
  virtual void ShowUserWindow(TUserForm& form) = 0;
};

class TConfigForm {
 public:
  enum class Page { ServerSetup, General, MusicFolder, Skins, Security };

  // The check boxes that edit one setting each.
  enum class Check {
    LocalOnly,
    LogEnable,
    LogTime,
    LogEvent,
    LogRemoteIp,
    LogUsername,
    LogDocument,
    LogParameters,
    LogOverwrite,
    RemovePlayed,
    KeepPlaylistAlive,
    AddRandomTrack,
    ClearCacheOnExit,
    StayOnTop,
    SuppressPortMessage,
    BrowseOutsideRoot,
    DisplayDrives,
    FloppyDrives,
    FullPath,
    Seamless,
    AllowSkins,
    AllowSrcOutside,
    AllowShutdown,
    AllowLocking,
    AllowUpload,
    EnableUsers,
    IpManagement,
    AllowCrossSite,
  };
  struct CheckRow {
    Check check;
    const char* caption;
    const char* section;  // of quenforth.ini
    const char* key;
    bool Settings::*setting;
    CheckBox TConfigForm::*box;
  };
  // Every check box with its caption, its key and the setting it edits, in the window's order.
  static const std::vector<CheckRow>& CheckTable();

  // Icons of the server state: these, and 3 more for the same states while bound to this computer only.
  enum ServerIcon { kRunning = 0, kStopped = 1, kError = 2, kLocalOffset = 3 };

  // `core` and `host` outlive the form.
  TConfigForm(TQuenforth& core, ConfigFormHost& host);

  // Shows `settings` and the current whitelist in the controls (after loading or an offline edit).
  void ShowSettings(const Settings& settings);
  // The check boxes and the selected default skin as `settings` has them, after commands changed them;
  // the text boxes keep what is being typed into them.
  void ShowSwitches(const Settings& settings);
  // The skin selector as a listing of the data folder found it.
  void ShowSkins(const std::vector<std::string>& names, int selected);

  // Events of the controls. A control that is disabled ignores them and answers false.
  bool SetChecked(Check check, bool checked);
  bool TypePort(const std::string& text);  // digits only: anything else is refused
  bool TypeCachePeriod(const std::string& text);
  void TypeRootFolder(const std::string& text);
  void ConfirmRootFolder();
  void SelectRootFolder();
  bool TypeLogPath(const std::string& text);  // a path with control characters is refused
  void ChooseLogFile();
  void DeleteLogFile();
  void ViewLogFile();
  void RefreshNow();
  void AddFolder();
  bool DeleteFolder(int index);
  void ShowFolder(int index);
  void AddWhitelistEntry();
  bool EditWhitelistEntry(int index);
  bool DeleteWhitelistEntry(int index);
  void ShowWhitelistEntry(int index);
  void SkinBoxFocused();
  bool ChooseSkin(int index);
  void ServerButtonClick();
  void LinkClick();
  void HelpClick();
  void EditUserClick();
  void CloseClick() { Visible = false; }
  // The player asks the plug-in to configure itself. While the user window is open this window stays
  // hidden (it shows itself again when that one closes): the answer is false then.
  bool Show();
  bool UserWindowOpen() const { return userWindowOpen_; }
  // The tab shown. The debug page has no tab: no event shows it.
  void ShowPage(Page page) { VisiblePage = page; }
  // The entry of a list that the buttons beside it act on; -1 (or any other index that names no entry):
  // none.
  void SelectFolder(int index);
  void SelectWhitelistEntry(int index);
  // The keyboard focus left the port box: it is no longer to be given the focus and its text selected.
  void PortLostFocus() { Port.focused = Port.textSelected = false; }
  // The window was moved on the screen.
  void Moved(WindowPosition position) { Position = position; }
  // The server stopped without the button (the player closes).
  void ServerStopped();

  // The window.
  std::string Title;
  std::string VersionLabel;
  bool Visible = false;
  Page VisiblePage = Page::ServerSetup;
  WindowPosition Position;

  // server setup
  EditBox Port;
  Button ServerButton{"start server"};
  CheckBox LocalOnly{"allow access only from localhost"};
  int IconIndex = kStopped;
  std::string IconHint = "stopped";
  Label Link{"please start the webserver", "", false};
  CheckBox LogEnable{"enable logging"};
  CheckBox LogTime{"time"};
  CheckBox LogEvent{"event"};
  CheckBox LogRemoteIp{"remote ip"};
  CheckBox LogUsername{"username"};
  CheckBox LogDocument{"document"};
  CheckBox LogParameters{"parameters"};
  EditBox LogPath;
  CheckBox LogOverwrite{"overwrite logfile on Quenforth restart"};
  // general
  CheckBox RemovePlayed{"remove played songs"};
  CheckBox KeepPlaylistAlive{"add random track if playlist is empty (keep-playlist-alive)"};
  CheckBox AddRandomTrack{"add random track on track change"};
  EditBox CachePeriod;
  Label CacheCount{"0"};  // beside "files cached:": the count, with " working..." during a rebuild
  CheckBox ClearCacheOnExit{"clear album art cache on exit"};
  CheckBox StayOnTop{"config window always on top"};
  CheckBox SuppressPortMessage{"suppress message if port is already in use"};
  // music folder
  EditBox RootFolder;
  Button ConfirmRoot{"Confirm input", false};
  CheckBox BrowseOutsideRoot{"allow browsing outside root/additional folder"};
  CheckBox DisplayDrives{"display other drives"};
  CheckBox FloppyDrives{"show also drives A: and B: if available"};
  CheckBox FullPath{"use full pathname (enables additional folder and media library)"};
  CheckBox Seamless{"seamless integration", false, true, false};
  Label AdditionalGroup{"additional folders"};
  ListBox AdditionalFolders;
  // skins
  ListBox Skins;
  CheckBox AllowSkins{"allow skin selection via browser"};
  // security
  CheckBox AllowSrcOutside{"allow 'src=' or 'download=' outside home folder"};
  CheckBox AllowShutdown{"allow remote shutdown/restart/standby"};
  CheckBox AllowLocking{"allow Winamp locking"};
  CheckBox AllowUpload{"allow file upload"};
  CheckBox EnableUsers{"enable user management"};
  CheckBox IpManagement{"enable"};
  CheckBox AllowCrossSite{"allow commands from pages of other web sites"};
  ListBox Whitelist;
  // the hidden debug page: its memo, empty from the start
  EditBox DebugMemo;

 private:
  const CheckRow& RowOf(Check check) const;
  void ApplyDependentControls();
  void ShowTitle();
  void ShowServerState(bool running, bool failed);
  void ShowServerIcon();
  void OpenWithBrowser(const std::string& target);
  template <class Change>
  void ChangeSettings(Change&& change);
  void ShowWhitelist();
  void ShowAdditionalFolders();

  TQuenforth& core_;
  ConfigFormHost& host_;
  bool serverRunning_ = false;
  bool serverFailed_ = false;  // the last start failed, and nothing started or stopped the server since
  bool userWindowOpen_ = false;
};

}  // namespace qf

#include "ui/configform.h"

#include <algorithm>
#include <climits>

#include "core/guarded.h"
#include "core/quenforth.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/skins.h"
#include "ui/userform.h"

namespace qf {
namespace {

constexpr char kCaption[] = "Quenforth";
constexpr char kProduct[] = "Quenforth KV7";
constexpr char kVersionText[] = "Quenforth KV7 (3.0)";
constexpr char kWhitelistCaption[] = "IP address management";
constexpr char kFoldersCaption[] = "Additional Folders";
constexpr int kDefaultCachePeriod = 3600;
constexpr int kLargestCachePeriod = INT_MAX / 1000;  // kept in milliseconds in an int

std::string WithoutDelimiter(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Texts that end up as one line of an INI file: a line break would cut the value and forge a key.
bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool ValidIndex(const ListBox& list, int index) { return index >= 0 && index < static_cast<int>(list.items.size()); }

int Message(const std::string& text, const char* caption, platform::UINT type) {
  return platform::MessageBoxA(nullptr, text, caption, type);
}

}  // namespace

const std::vector<TConfigForm::CheckRow>& TConfigForm::CheckTable() {
  using F = TConfigForm;
  using S = Settings;
  static const std::vector<CheckRow> table{
      {Check::LocalOnly, "allow access only from localhost", "Setup", "bindLocal", &S::bindLocal, &F::LocalOnly},
      {Check::LogEnable, "enable logging", "Logfile", "enable", &S::logEnable, &F::LogEnable},
      {Check::LogTime, "time", "Logfile", "date", &S::logDate, &F::LogTime},
      {Check::LogEvent, "event", "Logfile", "event", &S::logEvent, &F::LogEvent},
      {Check::LogRemoteIp, "remote ip", "Logfile", "ip", &S::logIp, &F::LogRemoteIp},
      {Check::LogUsername, "username", "Logfile", "user", &S::logUser, &F::LogUsername},
      {Check::LogDocument, "document", "Logfile", "document", &S::logDocument, &F::LogDocument},
      {Check::LogParameters, "parameters", "Logfile", "command", &S::logCommand, &F::LogParameters},
      {Check::LogOverwrite, "overwrite logfile on Quenforth restart", "Logfile", "overwrite", &S::logOverwrite,
       &F::LogOverwrite},
      {Check::RemovePlayed, "remove played songs", "Setup", "RemovePlayed", &S::RemovePlayed, &F::RemovePlayed},
      {Check::KeepPlaylistAlive, "add random track if playlist is empty (keep-playlist-alive)", "Setup",
       "KeepPlaylistAlive", &S::KeepPlaylistAlive, &F::KeepPlaylistAlive},
      {Check::AddRandomTrack, "add random track on track change", "Setup", "AddRandomTrack", &S::AddRandomTrack,
       &F::AddRandomTrack},
      {Check::ClearCacheOnExit, "clear album art cache on exit", "Setup", "ClearCacheOnExit", &S::ClearCacheOnExit,
       &F::ClearCacheOnExit},
      {Check::StayOnTop, "config window always on top", "Setup", "stayontop", &S::stayontop, &F::StayOnTop},
      {Check::SuppressPortMessage, "suppress message if port is already in use", "Setup", "usedPortMsg",
       &S::usedPortMsg, &F::SuppressPortMessage},
      {Check::BrowseOutsideRoot, "allow browsing outside root/additional folder", "Setup", "allowBrowseAboveRoot",
       &S::allowBrowseAboveRoot, &F::BrowseOutsideRoot},
      {Check::DisplayDrives, "display other drives", "Setup", "displayDrives", &S::displayDrives, &F::DisplayDrives},
      {Check::FloppyDrives, "show also drives A: and B: if available", "Setup", "displayFloppyDrives",
       &S::displayFloppyDrives, &F::FloppyDrives},
      {Check::FullPath, "use full pathname (enables additional folder and media library)", "Setup", "useFullPath",
       &S::useFullPath, &F::FullPath},
      {Check::Seamless, "seamless integration", "Setup", "Seamless", &S::Seamless, &F::Seamless},
      {Check::AllowSkins, "allow skin selection via browser", "Setup", "allowSkins", &S::allowSkins, &F::AllowSkins},
      {Check::AllowSrcOutside, "allow 'src=' or 'download=' outside home folder", "Setup", "allowSrcOutside",
       &S::allowSrcOutside, &F::AllowSrcOutside},
      {Check::AllowShutdown, "allow remote shutdown/restart/standby", "Setup", "allowShutdown", &S::allowShutdown,
       &F::AllowShutdown},
      {Check::AllowLocking, "allow Winamp locking", "Setup", "allowLocking", &S::allowLocking, &F::AllowLocking},
      {Check::AllowUpload, "allow file upload", "Setup", "allowUpload", &S::allowUpload, &F::AllowUpload},
      {Check::EnableUsers, "enable user management", "Setup", "enablePassword", &S::enablePassword, &F::EnableUsers},
      {Check::IpManagement, "enable", "Setup", "IPManagement", &S::IPManagement, &F::IpManagement},
      {Check::AllowCrossSite, "allow commands from pages of other web sites", "Setup", "allowCrossSiteCommands",
       &S::allowCrossSiteCommands, &F::AllowCrossSite},
  };
  return table;
}

TConfigForm::TConfigForm(TQuenforth& core, ConfigFormHost& host) : core_(core), host_(host) {
  VersionLabel = kVersionText;
  ShowTitle();
}

const TConfigForm::CheckRow& TConfigForm::RowOf(Check check) const {
  const auto& table = CheckTable();
  return *std::find_if(table.begin(), table.end(), [check](const CheckRow& row) { return row.check == check; });
}

template <class Change>
void TConfigForm::ChangeSettings(Change&& change) {
  Modify(core_.CurrentSettings, std::forward<Change>(change));
}

void TConfigForm::ShowSwitches(const Settings& settings) {
  for (const CheckRow& row : CheckTable()) (this->*row.box).checked = settings.*row.setting;
  Skins.hint = settings.Skin;
  Skins.selected = -1;
  for (std::size_t i = 0; i < Skins.items.size(); ++i)
    if (SameText(Skins.items[i], settings.Skin)) Skins.selected = static_cast<int>(i);
  ApplyDependentControls();
  ShowTitle();
  ShowServerIcon();
}

void TConfigForm::ShowSettings(const Settings& settings) {
  Port.text = std::to_string(settings.ServerPort);
  CachePeriod.text = std::to_string(settings.CacheTimeoutMs / 1000);
  RootFolder.text = settings.RootDirectory;
  ConfirmRoot.enabled = false;
  LogPath.text = LogPath.hint = settings.logfile;
  AdditionalFolders.items = settings.AdditionalFolders;
  AdditionalFolders.selected = -1;
  ShowWhitelist();
  ShowSwitches(settings);
}

void TConfigForm::ShowSkins(const std::vector<std::string>& names, int selected) {
  Skins.items = names;
  Skins.selected = selected >= 0 && selected < static_cast<int>(names.size()) ? selected : -1;
  if (Skins.selected >= 0) Skins.hint = names[static_cast<std::size_t>(Skins.selected)];
}

void TConfigForm::ShowWhitelist() {
  Whitelist.items = *core_.IpWhitelist.Get();
  if (!ValidIndex(Whitelist, Whitelist.selected)) Whitelist.selected = -1;
}

void TConfigForm::ShowAdditionalFolders() {
  AdditionalFolders.items = core_.CurrentSettings.Get()->AdditionalFolders;
  if (!ValidIndex(AdditionalFolders, AdditionalFolders.selected)) AdditionalFolders.selected = -1;
}

// A box that becomes disabled is unchecked, and so is the setting behind it.
void TConfigForm::ApplyDependentControls() {
  DisplayDrives.enabled = BrowseOutsideRoot.checked;
  if (!DisplayDrives.enabled) DisplayDrives.checked = false;
  FloppyDrives.enabled = DisplayDrives.checked;
  if (!FloppyDrives.enabled) FloppyDrives.checked = false;
  Seamless.enabled = FullPath.checked;
  AdditionalGroup.grayed = !FullPath.checked;
  const Settings& current = *core_.CurrentSettings.Get();
  if (current.displayDrives != DisplayDrives.checked || current.displayFloppyDrives != FloppyDrives.checked)
    ChangeSettings([&](Settings& s) {
      s.displayDrives = DisplayDrives.checked;
      s.displayFloppyDrives = FloppyDrives.checked;
    });
}

void TConfigForm::ShowTitle() {
  Title = std::string(kProduct) + (StayOnTop.checked ? " - Configuration (always on top)" : " - Configuration");
}

bool TConfigForm::SetChecked(Check check, bool checked) {
  const CheckRow& row = RowOf(check);
  CheckBox& box = this->*row.box;
  if (!box.enabled) return false;
  box.checked = checked;
  ChangeSettings([&](Settings& s) { s.*row.setting = checked; });
  ApplyDependentControls();
  ShowTitle();
  ShowServerIcon();
  return true;
}

bool TConfigForm::TypePort(const std::string& text) {
  if (!Port.enabled || !AllDigits(text)) return false;
  std::optional<int> port = text.empty() ? std::optional<int>(80) : ParseInt(text);
  // A number no port can have is refused as the box refuses a letter: it would only fail at the start.
  if (!port || *port > 65535) return false;
  Port.text = text;
  ChangeSettings([&](Settings& s) {
    s.ServerPort = *port;
    s.PortError.clear();
  });
  return true;
}

bool TConfigForm::TypeCachePeriod(const std::string& text) {
  CachePeriod.text = text;
  int seconds = kDefaultCachePeriod;
  if (std::optional<int> number = ParseInt(text))
    seconds = std::clamp(*number, 0, kLargestCachePeriod);
  else if (!text.empty() && AllDigits(text))
    seconds = kLargestCachePeriod;  // more digits than an int holds
  else if (text.size() > 1 && text[0] == '-' && AllDigits(text.substr(1)))
    seconds = 0;
  ChangeSettings([&](Settings& s) { s.CacheTimeoutMs = seconds * 1000; });
  return true;
}

void TConfigForm::TypeRootFolder(const std::string& text) {
  RootFolder.text = text;
  ConfirmRoot.enabled = true;
}

void TConfigForm::ConfirmRootFolder() {
  std::string folder = WithoutDelimiter(RootFolder.text);
  if (folder.empty() || HasControlCharacter(folder) || !platform::DirectoryExists(folder)) {
    Message("The given path is invalid!\n\nPlease try again...", kCaption, platform::MB_ICONWARNING);
    return;
  }
  ChangeSettings([&](Settings& s) { s.RootDirectory = s.CurrentDirectory = folder; });
  RootFolder.text = folder;
  ConfirmRoot.enabled = false;
}

void TConfigForm::SelectRootFolder() {
  std::optional<std::string> chosen =
      platform::BrowseForFolder("Select Folder:", core_.CurrentSettings.Get()->RootDirectory);
  if (!chosen) return;
  TypeRootFolder(WithoutDelimiter(*chosen));
  ConfirmRootFolder();
}

bool TConfigForm::TypeLogPath(const std::string& text) {
  if (HasControlCharacter(text)) return false;
  LogPath.text = LogPath.hint = text;
  ChangeSettings([&](Settings& s) { s.logfile = text; });
  return true;
}

void TConfigForm::ChooseLogFile() {
  std::string path = core_.CurrentSettings.Get()->logfile;
  std::optional<std::string> chosen = platform::GetOpenFileNameA(path.substr(0, path.find_last_of('\\') + 1));
  if (chosen) TypeLogPath(*chosen);
}

void TConfigForm::DeleteLogFile() {
  std::string path = core_.CurrentSettings.Get()->logfile;
  if (!platform::FileExists(path)) {
    Message("File does not exist!", kCaption, platform::MB_ICONINFORMATION);
    return;
  }
  if (Message("delete " + path + "?", kCaption, platform::MB_YESNO | platform::MB_ICONQUESTION) == platform::IDYES)
    platform::DeleteFileA(path);
}

void TConfigForm::ViewLogFile() {
  std::string path = core_.CurrentSettings.Get()->logfile;
  if (!platform::FileExists(path)) {
    Message("File does not exist!", kCaption, platform::MB_ICONINFORMATION);
    return;
  }
  if (platform::ShellExecuteA(nullptr, path) <= 32)
    Message("No external viewer found for that filetype.", kCaption, platform::MB_ICONWARNING);
}

void TConfigForm::RefreshNow() { host_.RefreshCache(); }

void TConfigForm::AddFolder() {
  std::optional<std::string> chosen = platform::BrowseForFolder("Select Folder:", "");
  if (!chosen || chosen->empty()) return;
  std::string folder = WithoutDelimiter(*chosen);
  // The settings keep the folders as one text cut at each ";": such a name would come back as two folders.
  if (folder.find(';') != std::string::npos || HasControlCharacter(folder) || !platform::DirectoryExists(folder)) {
    Message("The folder '" + folder + "' cannot be added: it does not exist or its name holds a ';'.", kFoldersCaption,
            platform::MB_ICONWARNING);
    return;
  }
  ChangeSettings([&](Settings& s) { s.AdditionalFolders.push_back(folder); });
  ShowAdditionalFolders();
}

bool TConfigForm::DeleteFolder(int index) {
  if (!ValidIndex(AdditionalFolders, index)) return false;
  std::string folder = AdditionalFolders.items[static_cast<std::size_t>(index)];
  if (Message("Remove '" + folder + "'?", kFoldersCaption, platform::MB_YESNO | platform::MB_ICONQUESTION) !=
      platform::IDYES)
    return false;
  ChangeSettings([&](Settings& s) {
    auto found = std::find(s.AdditionalFolders.begin(), s.AdditionalFolders.end(), folder);
    if (found != s.AdditionalFolders.end()) s.AdditionalFolders.erase(found);
  });
  AdditionalFolders.selected = -1;
  ShowAdditionalFolders();
  return true;
}

void TConfigForm::ShowFolder(int index) {
  if (ValidIndex(AdditionalFolders, index))
    Message(AdditionalFolders.items[static_cast<std::size_t>(index)], kCaption, platform::MB_OK);
}

void TConfigForm::AddWhitelistEntry() {
  std::optional<std::string> entry =
      platform::InputQuery(kWhitelistCaption, "Enter an IP address or address range:", "");
  if (!entry || Trim(*entry).empty()) return;
  if (HasControlCharacter(*entry)) {
    Message("An address holds no control characters.", kWhitelistCaption, platform::MB_ICONWARNING);
    return;
  }
  Modify(core_.IpWhitelist, [&](TextList& list) { list.insert(list.begin(), *entry); });
  if (Whitelist.selected >= 0) ++Whitelist.selected;  // the same entry, one further down
  ShowWhitelist();
}

bool TConfigForm::EditWhitelistEntry(int index) {
  if (!ValidIndex(Whitelist, index)) return false;
  std::string old = Whitelist.items[static_cast<std::size_t>(index)];
  std::optional<std::string> entry =
      platform::InputQuery(kWhitelistCaption, "Change IP address or address range:", old);
  // An empty entry would end the list when it is read again, dropping every entry after it.
  if (!entry || Trim(*entry).empty()) return false;
  if (HasControlCharacter(*entry)) {
    Message("An address holds no control characters.", kWhitelistCaption, platform::MB_ICONWARNING);
    return false;
  }
  Modify(core_.IpWhitelist, [&](TextList& list) {
    if (static_cast<std::size_t>(index) < list.size() && list[static_cast<std::size_t>(index)] == old)
      list[static_cast<std::size_t>(index)] = *entry;
  });
  ShowWhitelist();
  return true;
}

bool TConfigForm::DeleteWhitelistEntry(int index) {
  if (!ValidIndex(Whitelist, index)) return false;
  std::string old = Whitelist.items[static_cast<std::size_t>(index)];
  if (Message("Remove selected item?", kWhitelistCaption, platform::MB_YESNO | platform::MB_ICONQUESTION) !=
      platform::IDYES)
    return false;
  Modify(core_.IpWhitelist, [&](TextList& list) {
    if (static_cast<std::size_t>(index) < list.size() && list[static_cast<std::size_t>(index)] == old)
      list.erase(list.begin() + index);
  });
  Whitelist.selected = -1;
  ShowWhitelist();
  return true;
}

void TConfigForm::ShowWhitelistEntry(int index) {
  if (ValidIndex(Whitelist, index))
    Message(Whitelist.items[static_cast<std::size_t>(index)], kCaption, platform::MB_OK);
}

void TConfigForm::SkinBoxFocused() {
  std::string skin = core_.CurrentSettings.Get()->Skin;
  if (skin.empty()) skin = "base";
  std::optional<std::vector<std::string>> found = FindSkins(core_.DataFolder());
  if (found) {
    auto sorted = std::make_shared<SortedTextList>();
    for (const std::string& name : *found) sorted->Add(name);
    core_.SkinNames.Set(std::move(sorted));
    int index = -1;
    for (std::size_t i = 0; i < found->size() && index < 0; ++i)
      if (SameText((*found)[i], skin)) index = static_cast<int>(i);
    skin = index >= 0 ? (*found)[static_cast<std::size_t>(index)] : "";
    ShowSkins(*found, index);
  }
  ChangeSettings([&](Settings& s) { s.Skin = skin; });
  Skins.hint = skin;
}

bool TConfigForm::ChooseSkin(int index) {
  if (!ValidIndex(Skins, index)) return false;
  Skins.selected = index;
  std::string skin = Skins.items[static_cast<std::size_t>(index)];
  Skins.hint = skin;
  ChangeSettings([&](Settings& s) { s.Skin = skin; });
  return true;
}

void TConfigForm::ShowServerState(bool running, bool failed) {
  serverFailed_ = failed && !running;
  ShowServerIcon();
}

// The icon of the server's state in the variant of the localhost box: the box can change only while the
// server is stopped, and loading the settings ticks it before the first start.
void TConfigForm::ShowServerIcon() {
  int offset = LocalOnly.checked ? kLocalOffset : 0;
  IconIndex = (serverFailed_ ? kError : serverRunning_ ? kRunning : kStopped) + offset;
  IconHint = serverFailed_ ? "error" : serverRunning_ ? "running" : "stopped";
}

void TConfigForm::ServerButtonClick() {
  if (serverRunning_) {
    host_.StopServer();
    ServerStopped();
    return;
  }
  std::optional<int> port = ParseInt(Port.text);
  if (!port) port = 80;
  std::optional<std::string> error = *port < 0 || *port > 65535
                                         ? std::optional<std::string>("Port " + Port.text + " is no port number.")
                                         : host_.StartServer(*port, LocalOnly.checked);
  if (error) {
    ShowServerState(false, true);
    Message(*error + "\n\nPlease try another port!", kCaption, platform::MB_ICONERROR);
    Visible = true;
    VisiblePage = Page::ServerSetup;
    Port.focused = Port.textSelected = true;
    return;
  }
  serverRunning_ = true;
  ShowServerState(true, false);
  std::vector<std::string> addresses = host_.LocalAddresses();
  std::string listening = std::to_string(host_.ListeningPort());
  Link.caption = addresses.empty() || LocalOnly.checked ? "http://localhost:" + listening
                                                        : "http://" + addresses.front() + ":" + listening;
  Link.enabled = true;
  ServerButton.caption = "stop server";
  Port.enabled = LocalOnly.enabled = false;
  Port.focused = Port.textSelected = false;
  ChangeSettings([](Settings& s) { s.ServerRunning = true; });
}

void TConfigForm::ServerStopped() {
  serverRunning_ = false;
  ShowServerState(false, false);
  ServerButton.caption = "start server";
  Link.caption = "please start the webserver";
  Link.enabled = false;
  Port.enabled = LocalOnly.enabled = true;
  ChangeSettings([](Settings& s) { s.ServerRunning = false; });
}

void TConfigForm::OpenWithBrowser(const std::string& target) {
  if (platform::ShellExecuteA(nullptr, target) <= 32)
    Message("No webbrowser found.", kCaption, platform::MB_ICONWARNING);
}

void TConfigForm::LinkClick() {
  if (Link.enabled) OpenWithBrowser(Link.caption);
}

void TConfigForm::HelpClick() { OpenWithBrowser(core_.DataFolder() + "\\help\\index.html"); }

void TConfigForm::EditUserClick() {
  if (userWindowOpen_) return;
  std::string skin = ValidIndex(Skins, Skins.selected) ? Skins.items[static_cast<std::size_t>(Skins.selected)] : "";
  TUserForm users(core_, RootFolder.text, Skins.items, skin, Position, StayOnTop.checked);
  Visible = false;
  userWindowOpen_ = true;
  try {
    host_.ShowUserWindow(users);
  } catch (...) {
    userWindowOpen_ = false;
    Visible = true;
    throw;
  }
  userWindowOpen_ = false;
  Position = users.Position;
  Visible = true;
  host_.SaveSettings();
}

bool TConfigForm::Show() {
  if (userWindowOpen_) return false;
  Visible = true;
  return true;
}

void TConfigForm::SelectFolder(int index) {
  AdditionalFolders.selected = ValidIndex(AdditionalFolders, index) ? index : -1;
}

void TConfigForm::SelectWhitelistEntry(int index) { Whitelist.selected = ValidIndex(Whitelist, index) ? index : -1; }

}  // namespace qf

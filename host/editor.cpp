#include "editor.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/inifile.h"
#include "core/quenforth.h"
#include "core/text.h"
#include "platform/posix/emulation.h"
#include "platform/system.h"
#include "prefix.h"
#include "settings/settings.h"
#include "settings/settingstable.h"
#include "settings/skins.h"
#include "settings/users.h"
#include "ui/configform.h"
#include "ui/userform.h"

namespace host {
namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;
using qf::TConfigForm;
using qf::TUserForm;

constexpr char kLockName[] = "quenforth.lock";

const char kUsage[] =
    "usage: quenforth config --prefix DIR list\n"
    "       quenforth config --prefix DIR set NAME VALUE        (NAME: a caption or key of list)\n"
    "       quenforth config --prefix DIR folder add|del FOLDER (additional folders, Windows paths)\n"
    "       quenforth config --prefix DIR whitelist add ENTRY | edit ENTRY NEWENTRY | delete ENTRY\n"
    "       quenforth config --prefix DIR logfile delete\n"
    "       quenforth user --prefix DIR list | show LOGIN | delete LOGIN\n"
    "       quenforth user --prefix DIR add LOGIN PASSWORD [OPTION]...\n"
    "       quenforth user --prefix DIR edit LOGIN [OPTION]...\n"
    "       quenforth user --prefix DIR clone LOGIN [OPTION]...  (LOGIN's setup, changed by the options, for all)\n"
    "options: --password P  --day DAY=on|off|HH:MM:SS-HH:MM:SS (DAY: Monday..Sunday, or all)\n"
    "         --tracks N  --right NAME=0|1 (change_state add_files remove_all remove_his download admin\n"
    "         ChangeSkin)  --folder WINDOWSPATH  --browse-above 0|1  --drives 0|1  --skin NAME\n"
    "         --upload off|unlimited|maxfile=KB|daily=KB|account=KB\n";

// What an action came to: nothing to save (a listing), a change to save, or a change the window refused.
enum class Outcome { Shown, Changed, Refused };

Outcome Did(bool changed) { return changed ? Outcome::Changed : Outcome::Refused; }

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

void Print(const emulation::Record& record) {
  if (record.kind == emulation::Record::Kind::MessageBox)
    std::printf("[message box \"%s\"] %s\n", record.caption.c_str(), record.text.c_str());
  else if (record.kind == emulation::Record::Kind::Dialog)
    std::printf("[dialog \"%s\"] %s\n", record.caption.c_str(), record.text.c_str());
  else
    std::printf("%s\n", record.text.c_str());
  std::fflush(stdout);
}

std::optional<bool> ParseSwitch(const std::string& text) {
  for (const char* on : {"1", "on", "true", "yes"})
    if (qf::SameText(text, on)) return true;
  for (const char* off : {"0", "off", "false", "no"})
    if (qf::SameText(text, off)) return false;
  return std::nullopt;
}

bool Switch(const std::string& text) {
  std::optional<bool> value = ParseSwitch(text);
  if (!value) throw Failure("'" + text + "' is neither 1 nor 0");
  return *value;
}

// The window has no server to start here.
class OfflineHost : public qf::ConfigFormHost {
 public:
  explicit OfflineHost(qf::TQuenforth& core) : core_(core) {}
  std::optional<std::string> StartServer(int, bool) override { return "The player is not running."; }
  void StopServer() override {}
  int ListeningPort() override { return 0; }
  std::vector<std::string> LocalAddresses() override { return {}; }
  void RefreshCache() override {}
  void SaveSettings() override { saved = qf::SaveSettingsFiles(core_, *core_.CurrentSettings.Get()); }
  void ShowUserWindow(TUserForm&) override {}
  bool saved = false;

 private:
  qf::TQuenforth& core_;
};

// The settings files as the plug-in would read them at start, without a player: what a running plug-in
// derives from the player and the disk (folders that vanished, the volume) stays as the files say.
void LoadFiles(qf::TQuenforth& core) {
  core.PluginFolder.Set(kPluginFolder);
  core.VersionText.Set("Quenforth KV7 (3.0)");
  const std::string data = core.DataFolder();
  qf::Settings settings = qf::ReadSettings(qf::IniFile(data + "\\quenforth.ini"),
                                           qf::SettingsDefaults{kPlayerFolder, data + "\\logfile.txt"});
  core.CurrentSettings.Set(std::make_shared<const qf::Settings>(std::move(settings)));
  core.IpWhitelist.Set(std::make_shared<const qf::TextList>(qf::ReadIpList(qf::IniFile(data + "\\iplist.ini"))));
  core.Users.Set(std::make_shared<const qf::UserList>(qf::ReadUsers(qf::IniFile(data + "\\user.ini"), kPlayerFolder)));
}

// An exclusive hold on the run lock: none while a player runs on the prefix.
int TakeEditLock(const fs::path& prefix) {
  int descriptor = ::open((prefix / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (descriptor < 0) throw Failure("cannot open " + (prefix / kLockName).string());
  if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    ::close(descriptor);
    throw Failure("the player is running on " + prefix.string() +
                  ": close it first (it saves its own settings when it closes, which would undo the change)");
  }
  return descriptor;
}

int IndexOf(const std::vector<std::string>& items, const std::string& wanted) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (qf::SameText(items[i], wanted)) return static_cast<int>(i);
  return -1;
}

std::string Mark(bool checked) { return checked ? "[x] " : "[ ] "; }

// ---- config

void ListConfig(TConfigForm& form) {
  std::printf("%s\n", form.Title.c_str());
  std::printf("webserver port: %s (Setup/ServerPort)\n", form.Port.text.c_str());
  std::printf("refresh every ... seconds (0 to disable): %s (Setup/CacheTimeout)\n", form.CachePeriod.text.c_str());
  std::printf("root folder: %s (Setup/RootDirectory)\n", form.RootFolder.text.c_str());
  std::printf("log file: %s (Logfile/logfile)\n", form.LogPath.text.c_str());
  std::printf("select default skin: %s (Setup/Skin)\n", form.Skins.hint.c_str());
  for (const TConfigForm::CheckRow& row : TConfigForm::CheckTable()) {
    const qf::CheckBox& box = form.*row.box;
    std::printf("%s%s (%s/%s)%s\n", Mark(box.checked).c_str(), row.caption, row.section, row.key,
                box.enabled ? "" : " (disabled)");
  }
  std::printf("additional folders:\n");
  for (const std::string& folder : form.AdditionalFolders.items) std::printf("  %s\n", folder.c_str());
  std::printf("IP address management:\n");
  for (const std::string& entry : form.Whitelist.items) std::printf("  %s\n", entry.c_str());
}

struct TextSetting {
  const char* caption;
  const char* section;
  const char* key;
  std::function<bool(TConfigForm&, const std::string&)> set;
};

const std::vector<TextSetting>& TextSettings() {
  static const std::vector<TextSetting> table{
      {"webserver port", "Setup", "ServerPort", [](TConfigForm& f, const std::string& v) { return f.TypePort(v); }},
      {"refresh every ... seconds (0 to disable)", "Setup", "CacheTimeout",
       [](TConfigForm& f, const std::string& v) { return f.TypeCachePeriod(v); }},
      {"root folder", "Setup", "RootDirectory",
       [](TConfigForm& f, const std::string& v) {
         f.TypeRootFolder(v);
         f.ConfirmRootFolder();
         return !f.ConfirmRoot.enabled;
       }},
      {"log file", "Logfile", "logfile", [](TConfigForm& f, const std::string& v) { return f.TypeLogPath(v); }},
      {"select default skin", "Setup", "Skin",
       [](TConfigForm& f, const std::string& v) {
         f.SkinBoxFocused();
         return f.ChooseSkin(IndexOf(f.Skins.items, v));
       }},
  };
  return table;
}

bool Names(const std::string& name, const char* caption, const char* section, const char* key) {
  std::string trimmed(qf::Trim(name));
  while (!trimmed.empty() && trimmed.back() == ':') trimmed.pop_back();
  return qf::SameText(trimmed, caption) || qf::SameText(trimmed, key) ||
         qf::SameText(trimmed, std::string(section) + "/" + key);
}

Outcome SetConfig(TConfigForm& form, const std::string& name, const std::string& value) {
  std::vector<std::string> matches;
  const TConfigForm::CheckRow* check = nullptr;
  const TextSetting* text = nullptr;
  for (const auto& row : TConfigForm::CheckTable())
    if (Names(name, row.caption, row.section, row.key)) {
      check = &row;
      matches.push_back(std::string(row.section) + "/" + row.key);
    }
  for (const auto& row : TextSettings())
    if (Names(name, row.caption, row.section, row.key)) {
      text = &row;
      matches.push_back(std::string(row.section) + "/" + row.key);
    }
  if (matches.empty()) throw Failure("no setting is called '" + name + "' (see: quenforth config list)");
  if (matches.size() > 1) {
    std::string which;
    for (const std::string& match : matches) which += " " + match;
    throw Failure("'" + name + "' names more than one setting; say which:" + which);
  }
  if (text) {
    if (!text->set(form, value)) throw Failure("the window refuses '" + value + "' for " + text->caption);
    return Outcome::Changed;
  }
  if (!form.SetChecked(check->check, Switch(value)))
    throw Failure(std::string("'") + check->caption + "' is disabled: the setting it depends on is off");
  return Outcome::Changed;
}

Outcome RunConfig(TConfigForm& form, const std::vector<std::string>& words) {
  auto need = [&](std::size_t count) {
    if (words.size() != count) throw Failure("wrong number of arguments for " + words[0]);
  };
  const std::string& action = words[0];
  if (action == "list") {
    need(1);
    ListConfig(form);
    return Outcome::Shown;
  }
  if (action == "set") {
    need(3);
    return SetConfig(form, words[1], words[2]);
  }
  if (action == "folder" && words.size() == 3 && words[1] == "add") {
    std::size_t before = form.AdditionalFolders.items.size();
    emulation::QueueDialogAnswer(words[2]);
    form.AddFolder();
    return Did(form.AdditionalFolders.items.size() > before);
  }
  if (action == "folder" && words.size() == 3 && words[1] == "del") {
    int index = IndexOf(form.AdditionalFolders.items, words[2]);
    if (index < 0) throw Failure("no additional folder " + words[2]);
    return Did(form.DeleteFolder(index));
  }
  if (action == "whitelist" && words.size() == 3 && words[1] == "add") {
    std::size_t before = form.Whitelist.items.size();
    emulation::QueueDialogAnswer(words[2]);
    form.AddWhitelistEntry();
    return Did(form.Whitelist.items.size() > before);
  }
  if (action == "whitelist" && words.size() >= 3 && (words[1] == "edit" || words[1] == "delete")) {
    need(words[1] == "edit" ? 4 : 3);
    int index = IndexOf(form.Whitelist.items, words[2]);
    if (index < 0) throw Failure("no whitelist entry " + words[2]);
    if (words[1] == "delete") return Did(form.DeleteWhitelistEntry(index));
    emulation::QueueDialogAnswer(words[3]);
    return Did(form.EditWhitelistEntry(index));
  }
  if (action == "logfile" && words.size() == 2 && words[1] == "delete") {
    form.DeleteLogFile();
    return Outcome::Shown;
  }
  throw Failure("unknown config action: " + action);
}

// ---- user

void ShowUserForm(const TUserForm& form) {
  std::printf("login: %s\n", form.Login.text.c_str());
  for (std::size_t day = 0; day < 7; ++day)
    std::printf("%s%s from: %s to: %s\n", Mark(form.Days[day].checked).c_str(), TUserForm::kDayNames[day],
                form.From[day].text.c_str(), form.To[day].text.c_str());
  std::printf("may add %s tracks per hour (set to '0' for infinite)\n", form.TracksPerHour.text.c_str());
  for (const qf::CheckBox* box : {&form.ChangeState, &form.AddFiles, &form.RemoveAll, &form.RemoveHis, &form.Download,
                                  &form.Admin, &form.BrowseAboveRoot, &form.DisplayDrives, &form.ChangeSkin})
    std::printf("%s%s\n", Mark(box->checked).c_str(), box->caption.c_str());
  std::printf("standard MP3 folder: %s\n", form.Folder.text.c_str());
  std::string skin = form.Skins.selected >= 0 ? form.Skins.items[static_cast<std::size_t>(form.Skins.selected)] : "";
  std::printf("select skin: %s\n", skin.c_str());
  std::printf("%s%s\n", Mark(form.AllowUpload.checked).c_str(), form.AllowUpload.caption.c_str());
  if (form.AllowUpload.checked) {
    std::size_t mode = static_cast<std::size_t>(form.UploadMode - 1);
    std::string limit = mode > 0 ? " " + form.Limits[mode - 1].text + " KB" : "";
    std::printf("  %s%s %s\n", form.Modes[mode].caption.c_str(), limit.c_str(), form.Usage[mode].caption.c_str());
  }
}

int DayIndex(const std::string& name) {
  for (int day = 0; day < 7; ++day) {
    std::string full = TUserForm::kDayNames[day];
    if (qf::SameText(name, full) || qf::SameText(name, full.substr(0, 2))) return day;
  }
  throw Failure("no day is called " + name);
}

void ApplyOptions(TUserForm& form, const std::vector<std::string>& words, std::size_t first) {
  for (std::size_t i = first; i < words.size(); ++i) {
    const std::string& option = words[i];
    if (i + 1 >= words.size()) throw Failure(option + " needs a value");
    const std::string value = words[++i];
    std::string name = value.substr(0, value.find('='));
    std::string setting = value.find('=') == std::string::npos ? "" : value.substr(value.find('=') + 1);
    if (option == "--password") {
      form.Password.text = value;
    } else if (option == "--day") {
      std::vector<int> days;
      if (qf::SameText(name, "all"))
        days = {0, 1, 2, 3, 4, 5, 6};
      else
        days = {DayIndex(name)};
      for (int day : days) {
        auto d = static_cast<std::size_t>(day);
        std::size_t dash = setting.find('-');
        if (std::optional<bool> on = ParseSwitch(setting)) {
          form.Days[d].checked = *on;
        } else if (dash != std::string::npos) {
          form.Days[d].checked = true;
          form.From[d].text = setting.substr(0, dash);
          form.To[d].text = setting.substr(dash + 1);
        } else {
          throw Failure("--day wants DAY=on, DAY=off or DAY=HH:MM:SS-HH:MM:SS");
        }
      }
    } else if (option == "--tracks") {
      if (!form.TypeTracksPerHour(value)) throw Failure("--tracks wants a number");
    } else if (option == "--right") {
      std::map<std::string, qf::CheckBox*> rights{{"change_state", &form.ChangeState}, {"add_files", &form.AddFiles},
                                                  {"remove_all", &form.RemoveAll},     {"remove_his", &form.RemoveHis},
                                                  {"download", &form.Download},        {"admin", &form.Admin},
                                                  {"changeskin", &form.ChangeSkin}};
      auto found = rights.find(qf::LowerCase(name));
      if (found == rights.end()) throw Failure("no right is called " + name);
      found->second->checked = Switch(setting);
    } else if (option == "--folder") {
      form.Folder.text = value;
      form.LeaveFolderBox();
    } else if (option == "--browse-above") {
      form.SetBrowseAboveRoot(Switch(value));
    } else if (option == "--drives") {
      if (!form.SetDisplayDrives(Switch(value)))
        throw Failure("'display other drives' is disabled while browsing above the start folder is off");
    } else if (option == "--skin") {
      int index = IndexOf(form.Skins.items, value);
      if (index < 0) throw Failure("no skin is called " + value);
      form.Skins.selected = index;
    } else if (option == "--upload") {
      static const std::map<std::string, int> modes{{"unlimited", 1}, {"maxfile", 2}, {"daily", 3}, {"account", 4}};
      if (qf::SameText(value, "off")) {
        form.SetUploadAllowed(false);
        continue;
      }
      auto mode = modes.find(qf::LowerCase(name));
      if (mode == modes.end()) throw Failure("--upload wants off, unlimited, maxfile=KB, daily=KB or account=KB");
      form.SetUploadAllowed(true);
      form.SetUploadMode(mode->second);
      if (mode->second > 1 && !form.TypeLimit(mode->second, setting))
        throw Failure("an upload limit is a number of at most 6 digits");
    } else {
      throw Failure("unknown option " + option);
    }
  }
}

Outcome RunUser(TUserForm& form, const std::vector<std::string>& words) {
  const std::string& action = words[0];
  if (action == "list") {
    for (const std::string& login : form.Logins.items) std::printf("%s\n", login.c_str());
    return Outcome::Shown;
  }
  if (words.size() < 2) throw Failure(action + " needs a login");
  const std::string& login = words[1];
  if (action == "add") {
    if (words.size() < 3) throw Failure("add needs a login and a password");
    form.Login.text = login;
    form.Password.text = words[2];
    ApplyOptions(form, words, 3);
    return Did(form.Create());
  }
  if (!form.SelectLogin(login)) throw Failure("no user is called " + login);
  if (action == "show") {
    ShowUserForm(form);
    return Outcome::Shown;
  }
  if (action == "delete") return Did(form.Delete());
  ApplyOptions(form, words, 2);
  if (action == "edit") return Did(form.Save());
  if (action == "clone") return Did(form.Clone());
  throw Failure("unknown user action: " + action);
}

}  // namespace

int HoldRunLock(const char* prefix) {
  int descriptor = ::open((fs::path(prefix) / kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (descriptor >= 0) ::flock(descriptor, LOCK_SH);
  return descriptor;
}

int RunEditor(int argc, char** argv) {
  const std::string command = argv[1];
  std::optional<fs::path> prefix;
  std::vector<std::string> words;
  for (int i = 2; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--prefix" && i + 1 < argc)
      prefix = fs::absolute(argv[++i]);
    else if (argument == "--help" || argument == "-h")
      return std::printf("%s", kUsage), 0;
    else
      words.push_back(argument);
  }
  try {
    if (!prefix) throw Failure("--prefix is required");
    if (words.empty()) throw Failure("no action given");
    Prefix layout{*prefix};
    if (!layout.Installed()) throw Failure("no installed prefix at " + prefix->string() + " (quenforth install)");
    int lock = TakeEditLock(*prefix);
    emulation::MapDrive('C', layout.DriveC().string(), "Quenforth");
    emulation::SetModuleFileName(kPlayerProgram);
    emulation::SetSink(Print);
    // The command line is the confirmation the windows ask for.
    emulation::SetMessageBoxAnswer(platform::IDYES);

    qf::TQuenforth core;
    LoadFiles(core);
    OfflineHost offline(core);
    TConfigForm config(core, offline);
    config.SkinBoxFocused();
    config.ShowSettings(*core.CurrentSettings.Get());
    Outcome outcome = Outcome::Shown;
    if (command == "config") {
      outcome = RunConfig(config, words);
    } else {
      std::string skin =
          config.Skins.selected >= 0 ? config.Skins.items[static_cast<std::size_t>(config.Skins.selected)] : "";
      TUserForm users(core, config.RootFolder.text, config.Skins.items, skin, config.Position,
                      config.StayOnTop.checked);
      outcome = RunUser(users, words);
    }
    bool saved = outcome != Outcome::Changed || qf::SaveSettingsFiles(core, *core.CurrentSettings.Get());
    ::close(lock);
    return saved && outcome != Outcome::Refused ? 0 : 1;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "quenforth %s: %s\n", command.c_str(), failure.what());
    return 1;
  }
}

}  // namespace host

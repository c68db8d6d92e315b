#include "standin_prefix.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "core/inifile.h"
#include "core/quenforth.h"
#include "fuzzing.h"
#include "platform/posix/emulation.h"
#include "player/player.h"
#include "prefix.h"
#include "settings/settings.h"
#include "settings/skins.h"
#include "settings/users.h"
#include "standin.h"

namespace qffuzz {
namespace {

namespace fs = std::filesystem;
namespace emulation = platform::emulation;

StandInPrefix* gPrefix = nullptr;

// Appends a comment line with the canary: the reader skips it, an answer that shows the file shows it.
void AddCanary(const fs::path& file) {
  std::FILE* handle = std::fopen(file.c_str(), "ab");
  if (!handle) throw std::runtime_error("cannot write " + file.string());
  std::fputs("\r\n; ", handle);
  std::fputs(kCanary, handle);
  std::fputs("\r\n", handle);
  std::fclose(handle);
}

std::shared_ptr<qf::UserClass> Account(const std::string& login, const std::string& password, bool every) {
  auto user = std::make_shared<qf::UserClass>();
  user->Login = login;
  user->Password = password;
  for (std::size_t day = 0; day < 7; ++day) user->DayTo[day] = (23 * 3600 + 59 * 60 + 59) / 86400.0;
  user->RootDirectory.Set(host::kMusicFolder);
  user->CurrentDirectory.Set(host::kMusicFolder);
  user->Skin.Set("base");
  user->Charset.Set("utf-8");
  user->add_files = true;
  user->change_state = every;
  user->download = every;
  user->remove_his = true;
  user->remove_all = every;
  user->admin = every;
  user->allowBrowseAboveRoot = every;
  user->displayDrives = every;
  user->uploadmode = every ? 1 : 2;  // unlimited; files up to uploadlimit KB
  user->uploadlimit = 4;
  user->tracks_per_hour = every ? 0 : 3;
  return user;
}

}  // namespace

struct StandInPrefix::PlayerSnapshot {
  std::vector<host::PlaylistEntry> playlist;
  int volume = 0;
  int panning = 0;
  std::array<int, 10> bands{};
  int preamp = 0;
};

StandInPrefix::Switches StandInPrefix::SwitchesOf(unsigned char byte) {
  return Switches{(byte & 1) != 0, (byte & 2) != 0, (byte & 4) != 0};
}

StandInPrefix& StandInPrefix::Get() {
  if (!gPrefix) {
    gPrefix = new StandInPrefix();
    AtExit([] {
      delete gPrefix;
      gPrefix = nullptr;
    });
  }
  return *gPrefix;
}

StandInPrefix::StandInPrefix() : root_(ScratchFolder() / "prefix") {
  host::Prefix prefix{root_};
  host::Install(prefix, QF_SOURCE_DATA, QF_ID3V2LIBRARY);
  const fs::path data = prefix.DataFolder();

  emulation::UnmapAllDrives();
  host::EmulateWindowsOn(prefix);

  // A second skin, so that skin changes have somewhere to go.
  WriteHostFile(data / "plain/index.html", "<html><body><#SongTitle htmlencoded=1> <#errormessage></body></html>");

  std::string dataFolder = host::kDataFolder;
  qf::IniFile settings(dataFolder + "\\quenforth.ini");
  settings.WriteBool("Setup", "allowUpload", true);
  settings.WriteBool("Setup", "allowShutdown", true);
  settings.WriteBool("Setup", "allowLocking", true);
  settings.WriteInteger("Setup", "CacheTimeout", 0);
  settings.WriteString("Setup", "RootDirectory", host::kMusicFolder);
  settings.WriteBool("Logfile", "enable", true);
  if (!settings.UpdateFile()) throw std::runtime_error("cannot write quenforth.ini");
  qf::IniFile users(dataFolder + "\\user.ini", "");
  qf::WriteUsers(users, qf::UserList{Account("admin", "secret", true), Account("guest", "guest", false)});
  if (!users.UpdateFile()) throw std::runtime_error("cannot write user.ini");
  qf::IniFile ipList(dataFolder + "\\iplist.ini", "");
  qf::WriteIpList(ipList, qf::TextList{"127.0.0.1", "127.0.0.64 - 127.0.0.127"});
  if (!ipList.UpdateFile()) throw std::runtime_error("cannot write iplist.ini");
  for (const char* name : {"quenforth.ini", "user.ini", "iplist.ini", "mime.ini"}) AddCanary(data / name);

  host::PlayerOptions options;
  options.pluginFolder = host::kPluginFolder;
  options.libraryFolders = {host::kMusicFolder};
  player_ = std::make_unique<host::StandInPlayer>(options);
  player_->Start();

  playerInterface_ = std::make_unique<qf::TPlayer>();
  core_ = std::make_unique<qf::TQuenforth>();
  qf::TQuenforth& core = *core_;
  core.Player = playerInterface_.get();
  core.VersionText.Set("Quenforth KV7 (3.0)");
  core.PluginFolder.Set(host::kPluginFolder);
  core.Player->SetPlayerFolder(host::kPlayerFolder);
  core.PlaylistFolder.Set(std::string(host::kAppData) + "\\Winamp");
  core.CacheFolder.Set(std::string(host::kPluginFolder) + "\\Quenforth\\cache");
  qf::LoadSettings(core);
  initialSettings_ = core.CurrentSettings.Get();
  userIni_ = qf::IniFile(dataFolder + "\\user.ini").Text();

  playerSnapshot_ = std::make_unique<PlayerSnapshot>();
  player_->Call([snapshot = playerSnapshot_.get()](host::PlayerState& state) {
    snapshot->playlist = state.playlist;
    snapshot->volume = state.volume;
    snapshot->panning = state.panning;
    snapshot->bands = state.bands;
    snapshot->preamp = state.preamp;
  });
  musicFiles_ = MusicFiles();
  guardedFiles_ = GuardedFiles();
}

StandInPrefix::~StandInPrefix() {
  core_.reset();
  playerInterface_.reset();
  if (player_) player_->Close();
  player_.reset();
  emulation::UnmapAllDrives();
}

std::string StandInPrefix::SkinFolder() const { return std::string(host::kDataFolder) + "\\base"; }

std::set<fs::path> StandInPrefix::MusicFiles() const {
  std::set<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator entry(host::Prefix{root_}.DriveC() / "Users/Quenforth/Music", error), end;
       !error && entry != end; entry.increment(error))
    files.insert(entry->path());
  return files;
}

std::map<fs::path, std::pair<std::uintmax_t, fs::file_time_type>> StandInPrefix::GuardedFiles() const {
  const fs::path drive = host::Prefix{root_}.DriveC();
  const fs::path data = host::Prefix{root_}.DataFolder();
  const std::set<fs::path> writable{drive / "Users/Quenforth/Music", drive / "Users/Quenforth/AppData/Roaming/Winamp",
                                    data / "cache"};
  std::map<fs::path, std::pair<std::uintmax_t, fs::file_time_type>> files;
  std::error_code error;
  for (fs::recursive_directory_iterator entry(drive, error), end; !error && entry != end; entry.increment(error)) {
    if (writable.count(entry->path())) {
      entry.disable_recursion_pending();
      continue;
    }
    if (entry->path().filename() == "skin.ini" || entry->path() == data / "logfile.txt") continue;
    // A folder counts by its presence: its time changes with the writable files inside it.
    std::error_code ignored;
    if (entry->is_regular_file(ignored))
      files[entry->path()] = {entry->file_size(ignored), entry->last_write_time(ignored)};
    else
      files[entry->path()] = {};
  }
  return files;
}

std::string StandInPrefix::AccessLog() const {
  std::ifstream file(host::Prefix{root_}.DataFolder() / "logfile.txt", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void StandInPrefix::CheckNothingWrittenOutside() const { QF_FUZZ_CHECK(GuardedFiles() == guardedFiles_); }

void StandInPrefix::Reset(Switches switches) {
  qf::TQuenforth& core = *core_;
  // Commands may close the plug-in's side (ShuttingDown only ever goes from clear to set in the product);
  // here every input starts with the plug-in running.
  core.ShuttingDown = false;
  auto settings = std::make_shared<qf::Settings>(*initialSettings_);
  settings->IPManagement = switches.ipManagement;
  settings->enablePassword = switches.enablePassword;
  settings->allowCrossSiteCommands = switches.allowCrossSiteCommands;
  core.CurrentSettings.Set(std::move(settings));
  core.Users.Set(std::make_shared<const qf::UserList>(qf::ReadUsers(qf::IniFile("", userIni_), host::kPlayerFolder)));
  core.TrackOwners.Set(qf::EmptySnapshot<qf::TextList>());
  if (!core.Player->IsUnlocked()) core.Player->SetUnlocked(true);

  player_->Call([snapshot = playerSnapshot_.get()](host::PlayerState& state) {
    state.playlist = snapshot->playlist;
    state.current = 0;
    state.state = host::PlayState::Stopped;
    state.volume = snapshot->volume;
    state.panning = snapshot->panning;
    state.bands = snapshot->bands;
    state.preamp = snapshot->preamp;
    state.shuffle = state.repeat = state.manualAdvance = false;
    state.windowsEnabled = true;
  });

  std::error_code ignored;
  const fs::path data = host::Prefix{root_}.DataFolder();
  for (const char* skin : {"base", "plain"}) fs::remove(data / skin / "skin.ini", ignored);
  fs::remove(data / "logfile.txt", ignored);
  if (std::set<fs::path> now = MusicFiles(); now != musicFiles_) {
    for (const fs::path& file : now)
      if (!musicFiles_.count(file)) fs::remove_all(file, ignored);
  }
  emulation::ClearRecords();
}

}  // namespace qffuzz

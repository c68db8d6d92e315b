#include "plugin/mainform.h"

#include <cstdlib>
#include <ctime>

#include "browse/cache.h"
#include "commands/maintenance.h"
#include "core/quenforth.h"
#include "http/accesslog.h"
#include "http/pipeline.h"
#include "http/request.h"
#include "http/server.h"
#include "platform/files.h"
#include "platform/system.h"
#include "player/player.h"
#include "settings/settings.h"
#include "ui/configform.h"
#include "ui/configwindow.h"
#include "ui/views.h"

namespace qf {
namespace {

constexpr char kVersionText[] = "Quenforth KV7 (3.0)";
constexpr char kCaption[] = "Quenforth";

std::string WithoutTrailingDelimiter(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

}  // namespace

TMainForm::TMainForm(void* moduleInstance) {
  platform::OSVERSIONINFOA version;
  platform::GetVersionExA(&version);
  window_ = std::make_unique<TConfigWindow>(moduleInstance);

  player_ = std::make_unique<TPlayer>();
  core_ = std::make_unique<TQuenforth>();
  TQuenforth& core = *core_;
  core.Player = player_.get();
  core.ConfigWindow = window_.get();
  core.SettingsChanged = [window = window_.get()](const SettingsChange& change) { window->SettingsChanged(change); };
  core.OsMajorVersion = version.dwMajorVersion;
  core.VersionText.Set(kVersionText);
  core.StartTime = static_cast<std::int32_t>(std::time(nullptr));
  core.PluginFolder.Set(WithoutTrailingDelimiter(core.Player->GetPluginDirectory()));
  core.Player->SetPlayerFolder(WithoutTrailingDelimiter(platform::ExecutableFolder()));
  std::string cacheFolder = core.PluginFolder.Get() + "\\Quenforth\\cache";
  core.CacheFolder.Set(cacheFolder);
  if (!platform::DirectoryExists(cacheFolder)) platform::CreateDirectoryA(cacheFolder);
  FindPlaylistFolder();
  cache_ = std::make_unique<TCache>(core);
  cache_->Start();
  window_->Form = std::make_unique<TConfigForm>(core, static_cast<ConfigFormHost&>(*this));
  view_ = CreateConfigView(*window_, moduleInstance);
  window_->Changed = [this] {
    if (view_) view_->Refresh();
  };

  LoadSettings(core);
  StartAccessLog(core);
  window_->StartTimer(static_cast<unsigned>(core.CurrentSettings.Get()->TimerInterval), [this] { OnTimerTick(); });

  server_ = std::make_unique<THttpServer>(
      [&core](TRequest& request, TResponse& response) { HTTPServer1CommandGet(core, request, response); });
  if (core.CurrentSettings.Get()->ServerRunning) ToggleServer();
  if (view_) view_->Refresh();
}

TMainForm::~TMainForm() {
  window_->StopTimer();
  window_->Changed = nullptr;
  view_.reset();
  if (server_ && server_->Active()) {
    core_->ShuttingDown = true;
    server_->Stop();
  }
  server_.reset();
  cache_.reset();
  core_->SettingsChanged = nullptr;
  window_->Form.reset();
  core_.reset();
  player_.reset();
  window_.reset();
}

// The folder where the player keeps winamp.m3u: "APPDATA\<program folder name>" as the player writes it
// on current Windows, then the older layouts, then the program folder; the first that holds the file
// once the player has written it.
void TMainForm::FindPlaylistFolder() {
  TQuenforth& core = *core_;
  std::string program = core.Player->GetPlayerFolder();
  std::string name = program.substr(program.find_last_of("\\/") + 1);
  std::string appData = WithoutTrailingDelimiter(platform::GetEnvironmentVariableA("APPDATA").value_or(""));
  std::vector<std::string> candidates;
  if (!appData.empty()) {
    candidates.push_back(appData + "\\" + name);
    if (core.OsMajorVersion > 5) candidates.push_back(appData + "\\Roaming\\" + name);
  }
  candidates.push_back(program);
  core.Player->WritePlaylist();
  for (const std::string& folder : candidates) {
    if (platform::FileExists(folder + "\\winamp.m3u")) {
      core.PlaylistFolder.Set(folder);
      return;
    }
  }
  core.PlaylistFolder.Set(program);
}

void TMainForm::OnTimerTick() {
  TQuenforth& core = *core_;
  if (core.ShuttingDown) {
    window_->StopTimer();
    core.Player->ClosePlayer();
    return;
  }
  window_->Form->CacheCount.caption = TickFileCache(core);
  MaintainPlaylist(core);
  core.TagLibrary.ReleaseIdle(TQuenforth::kTagLibraryKeptFor);
}

void TMainForm::PlaylistModified() { core_->PlaylistModified(); }

void TMainForm::HostClosing() {
  window_->StopTimer();
  core_->TagLibrary.ReleaseIdle(std::chrono::milliseconds(0));
  if (core_->CurrentSettings.Get()->ClearCacheOnExit) ClearCacheFolder();
  // Saved while ServerRunning still says whether to start the server next time.
  qf::SaveSettings(*core_);
  core_->ShuttingDown = true;
  if (serverMarker_) {
    server_->Stop();
    serverMarker_ = false;
    window_->Form->ServerStopped();
  }
  if (view_) view_->Refresh();
}

bool TMainForm::PostponeClosing(std::function<void()> closeAgain) {
  if (!view_ || !view_->Busy()) return false;
  view_->WhenIdle(std::move(closeAgain));
  return true;
}

void TMainForm::ShowConfigWindow() {
  if (view_)
    view_->Present();
  else
    window_->Form->Show();
}

// The album pictures made for the pages: the files of the cache folder (not its subfolders), then the
// folder itself when that left it empty.
void TMainForm::ClearCacheFolder() {
  std::string folder = core_->CacheFolder.Get();
  if (folder.empty() || !platform::DirectoryExists(folder)) return;
  for (const platform::FindData& entry : platform::FindFiles(folder + "\\*.*"))
    if (!entry.info.IsDirectory()) platform::DeleteFileA(folder + "\\" + entry.name);
  platform::RemoveDirectoryA(folder);
}

void TMainForm::ToggleServer() {
  window_->Form->ServerButtonClick();
  if (serverMarker_) platform::ReportStatus("Quenforth: serving " + window_->Form->Link.caption + "/");
}

std::optional<std::string> TMainForm::StartServer(int port, bool bindLocal) {
  // A port the file could not give keeps the server stopped until one is typed into the window.
  if (std::string portError = core_->CurrentSettings.Get()->PortError; !portError.empty()) return portError;
  std::optional<std::string> error = server_->Start(bindLocal ? "127.0.0.1" : "", static_cast<std::uint16_t>(port));
  if (!error) serverMarker_ = true;
  return error;
}

void TMainForm::StopServer() {
  server_->Stop();
  serverMarker_ = false;
  platform::ReportStatus("Quenforth: server stopped");
}

int TMainForm::ListeningPort() { return server_->Port(); }

std::vector<std::string> TMainForm::LocalAddresses() { return platform::LocalIPv4Addresses(); }

void TMainForm::RefreshCache() { core_->CacheRefreshPending = true; }

void TMainForm::SaveSettings() { qf::SaveSettings(*core_); }

// Without a view (Linux) there is no window to show, and the caller goes on at once.
void TMainForm::ShowUserWindow(TUserForm& form) {
  if (view_) view_->RunUserWindow(form);
}

}  // namespace qf

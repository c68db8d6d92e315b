#include "plugin/mainform.h"

#include <ctime>

#include "core/quenforth.h"
#include "http/pipeline.h"
#include "http/request.h"
#include "http/server.h"
#include "platform/files.h"
#include "platform/system.h"
#include "player/player.h"

namespace qf {
namespace {

constexpr char kVersionText[] = "Quenforth KV7 (3.0)";
constexpr char kCaption[] = "Quenforth";

std::string WithoutTrailingDelimiter(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

}  // namespace

TMainForm::TMainForm(void* /*moduleInstance*/) {
  platform::OSVERSIONINFOA version;
  platform::GetVersionExA(&version);

  core_ = std::make_unique<TQuenforth>();
  TQuenforth& core = *core_;
  core.OsMajorVersion = version.dwMajorVersion;
  core.VersionText.Set(kVersionText);
  core.StartTime = static_cast<std::int32_t>(std::time(nullptr));
  core.PluginFolder.Set(WithoutTrailingDelimiter(core.Player->GetPluginDirectory()));
  core.Player->SetPlayerFolder(WithoutTrailingDelimiter(platform::ExecutableFolder()));
  std::string cacheFolder = core.PluginFolder.Get() + "\\Quenforth\\cache";
  core.CacheFolder.Set(cacheFolder);
  if (!platform::DirectoryExists(cacheFolder)) platform::CreateDirectoryA(cacheFolder);

  LoadSettings(core, serverSettings_);

  server_ = std::make_unique<THttpServer>(
      [&core](TRequest& request, TResponse& response) { HTTPServer1CommandGet(core, request, response); });
  if (core.ServerRunning) StartServer();
}

TMainForm::~TMainForm() {
  if (server_ && server_->Active()) {
    core_->ShuttingDown = true;
    server_->Stop();
  }
  server_.reset();
  core_.reset();
}

void TMainForm::HostClosing() {
  // Settings are saved here, while ServerRunning still says whether to start the server next time.
  core_->ShuttingDown = true;
  if (serverMarker_) {
    server_->Stop();
    serverMarker_ = false;
    core_->ServerRunning = false;
  }
}

void TMainForm::ToggleServer() {
  if (serverMarker_) {
    server_->Stop();
    serverMarker_ = false;
    core_->ServerRunning = false;
    linkText_ = "please start the webserver";
    platform::ReportStatus("Quenforth: server stopped");
    return;
  }
  StartServer();
}

bool TMainForm::StartServer() {
  int port = serverSettings_.ServerPort;
  std::optional<std::string> error =
      server_->Start(serverSettings_.BindLocal ? "127.0.0.1" : "", static_cast<std::uint16_t>(port));
  if (error) {
    platform::MessageBoxA(nullptr, *error + "\n\nPlease try another port!", kCaption, platform::MB_ICONERROR);
    return false;
  }
  AfterBind();
  return true;
}

void TMainForm::AfterBind() {
  serverMarker_ = true;
  std::vector<std::string> addresses = platform::LocalIPv4Addresses();
  std::string port = std::to_string(server_->Port());
  if (addresses.empty() || serverSettings_.BindLocal)
    linkText_ = "http://localhost:" + port;
  else
    linkText_ = "http://" + addresses.front() + ":" + port;
  core_->ServerRunning = true;
  platform::ReportStatus("Quenforth: serving " + linkText_ + "/");
}

}  // namespace qf

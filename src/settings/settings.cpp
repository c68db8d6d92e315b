#include "settings/settings.h"

#include "core/inifile.h"
#include "core/quenforth.h"
#include "core/text.h"
#include "platform/files.h"
#include "player/player.h"
#include "settings/skins.h"

namespace qf {
namespace {

std::string WithoutTrailingDelimiter(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// A port number as written, or the reason it is none. An absent or empty value is the default; 0 asks
// for any free port (the Linux runner's --port 0 writes it).
void ReadServerPort(const IniFile& ini, ServerSettings& server) {
  std::string text(Trim(ini.ReadString("Setup", "ServerPort", "")));
  server.PortError.clear();
  server.ServerPort = 80;
  if (text.empty()) return;
  std::optional<int> port = ParseIntOrHex(text);
  if (port && *port >= 0 && *port <= 65535) {
    server.ServerPort = *port;
    return;
  }
  server.PortError = "The server port \"" + text + "\" is not a port number from 1 to 65535.";
}

}  // namespace

void LoadSettings(TQuenforth& core, ServerSettings& server) {
  IniFile ini(core.DataFolder() + "\\quenforth.ini");
  ReadServerPort(ini, server);
  server.BindLocal = ini.ReadBool("Setup", "bindLocal", false);
  core.ServerRunning = ini.ReadBool("Setup", "ServerRunning", true);

  std::string playerFolder = core.Player->GetPlayerFolder();
  std::string root = WithoutTrailingDelimiter(ini.ReadString("Setup", "RootDirectory", playerFolder));
  if (!platform::DirectoryExists(root)) root = playerFolder;
  std::string current = ini.ReadString("Setup", "CurrentDirectory", root);
  if (!platform::DirectoryExists(current)) current = root;
  core.RootDirectory.Set(root);
  core.CurrentDirectory.Set(current);

  int interval = ini.ReadInteger("Setup", "TimerInterval", 100);
  core.TimerInterval = interval < 1 ? 1 : interval > 1000 ? 1000 : interval;
  core.AllowLocking = ini.ReadBool("Setup", "allowLocking", false);
  core.AllowUpload = ini.ReadBool("Setup", "allowUpload", false);

  // The access log's keys; the log itself is started by the main form once the settings are read.
  core.LogFilePath.Set(ini.ReadString("Logfile", "logfile", core.DataFolder() + "\\logfile.txt"));
  core.LogEnable = ini.ReadBool("Logfile", "enable", false);
  core.LogOverwrite = ini.ReadBool("Logfile", "overwrite", true);
  core.LogDate = ini.ReadBool("Logfile", "date", true);
  core.LogEvent = ini.ReadBool("Logfile", "event", true);
  core.LogIp = ini.ReadBool("Logfile", "ip", true);
  core.LogUser = ini.ReadBool("Logfile", "user", true);
  core.LogDocument = ini.ReadBool("Logfile", "document", true);
  core.LogCommand = ini.ReadBool("Logfile", "command", true);

  // The skin as its folder spells it, or empty when no folder matches.
  std::string skin = ini.ReadString("Setup", "Skin", "base");
  core.SkinName.Set(skin.empty() ? "base" : skin);
  RefreshSkins(core);

  core.AllowSkins = ini.ReadBool("Setup", "allowSkins", true);
  core.AllowShutdown = ini.ReadBool("Setup", "allowShutdown", false);
  core.AllowSrcOutside = ini.ReadBool("Setup", "allowSrcOutside", false);
  core.DisplayDrives = ini.ReadBool("Setup", "displayDrives", false);
  core.DisplayFloppyDrives = ini.ReadBool("Setup", "displayFloppyDrives", false);
  core.AllowBrowseAboveRoot = ini.ReadBool("Setup", "allowBrowseAboveRoot", false);
  core.UseFullPath = ini.ReadBool("Setup", "useFullPath", true);
  core.Seamless = ini.ReadBool("Setup", "Seamless", false);
  core.RemovePlayed = ini.ReadBool("Setup", "RemovePlayed", false);
  core.KeepPlaylistAlive = ini.ReadBool("Setup", "KeepPlaylistAlive", false);
  core.AddRandomTrack = ini.ReadBool("Setup", "AddRandomTrack", false);
  core.Charset.Set(ini.ReadString("Setup", "Charset", "iso-8859-1"));
  core.IniSection.Set(ini.ReadString("Setup", "INISection", ""));

  LoadMimeTypes(core);
}

void LoadMimeTypes(TQuenforth& core) {
  IniFile mime(core.DataFolder() + "\\mime.ini");
  auto extensions = std::make_shared<TextList>(mime.ReadSection("mime"));
  auto types = std::make_shared<TextList>();
  for (const std::string& extension : *extensions) types->push_back(mime.ReadString("mime", extension, "text/html"));
  core.TemplateExtensions.Set(std::move(extensions));
  core.TemplateContentTypes.Set(std::move(types));
}

}  // namespace qf

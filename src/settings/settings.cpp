#include "settings/settings.h"

#include "core/inifile.h"
#include "core/quenforth.h"
#include "platform/files.h"
#include "player/player.h"

namespace qf {
namespace {

std::string WithoutTrailingDelimiter(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

}  // namespace

void LoadSettings(TQuenforth& core, ServerSettings& server) {
  IniFile ini(core.DataFolder() + "\\quenforth.ini");
  server.ServerPort = ini.ReadInteger("Setup", "ServerPort", 80);
  server.BindLocal = ini.ReadBool("Setup", "bindLocal", false);
  core.ServerRunning = ini.ReadBool("Setup", "ServerRunning", true);

  std::string playerFolder = core.Player->GetPlayerFolder();
  std::string root = WithoutTrailingDelimiter(ini.ReadString("Setup", "RootDirectory", playerFolder));
  if (!platform::DirectoryExists(root)) root = playerFolder;
  std::string current = ini.ReadString("Setup", "CurrentDirectory", root);
  if (!platform::DirectoryExists(current)) current = root;
  core.RootDirectory.Set(root);
  core.CurrentDirectory.Set(current);

  std::string skin = ini.ReadString("Setup", "Skin", "base");
  core.SkinName.Set(skin.empty() ? "base" : skin);
  core.AllowSkins = ini.ReadBool("Setup", "allowSkins", true);
  core.UseFullPath = ini.ReadBool("Setup", "useFullPath", true);
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

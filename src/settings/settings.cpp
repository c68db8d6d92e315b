#include "settings/settings.h"

#include "core/inifile.h"
#include "core/quenforth.h"
#include "core/text.h"
#include "platform/files.h"
#include "platform/system.h"
#include "player/player.h"
#include "settings/settingstable.h"
#include "settings/skins.h"
#include "settings/users.h"

namespace qf {
namespace {

constexpr char kBuiltInExtensions[] =
    "CDA:MPG:MPEG:M2V:AVI:ASF:WMV:MID:MIDI:RMI:KAR:MIZ:mod:mdz:nst:stm:stz:s3m:s3z:it:itz:xm:xmz:mtm:ult:669:"
    "far:amf:okt:ptm:MP3:MP2:MP1:NSV:NSA:OGG:WAV:VOC:AU:SND:AIF:AIFF:wma:m3u:pls:";

std::string WithoutTrailingDelimiter(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// The player's version text as a number, "." as the decimal separator whatever the locale says.
double VersionNumber(const std::string& text) {
  double number = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) number = number * 10 + (text[i] - '0');
  if (i < text.size() && text[i] == '.') {
    double unit = 0.1;
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, unit /= 10) number += (text[i] - '0') * unit;
  }
  return number;
}

SortedTextList BuildExtensionList(TPlayer& player, const Settings& settings) {
  std::string playerList = player.GetExtensionList();
  std::string text = VersionNumber(player.GetVersionString()) >= 2.9 && playerList.size() > 3
                         ? playerList + ":m3u:pls:" + settings.Extensions
                         : kBuiltInExtensions + settings.Extensions;
  SortedTextList extensions;
  for (const std::string& extension : SplitList(text, ':')) {
    extensions.Add(extension);
    if (settings.enableLink) extensions.Add(extension + ".lnk");
  }
  return extensions;
}

}  // namespace

void LoadSettings(TQuenforth& core) {
  const std::string data = core.DataFolder();
  TPlayer& player = *core.Player;
  const std::string playerFolder = player.GetPlayerFolder();
  IniFile ini(data + "\\quenforth.ini");
  Settings settings = ReadSettings(ini, SettingsDefaults{playerFolder, data + "\\logfile.txt"});

  settings.RootDirectory = WithoutTrailingDelimiter(settings.RootDirectory);
  if (!platform::DirectoryExists(settings.RootDirectory)) settings.RootDirectory = playerFolder;
  if (!platform::DirectoryExists(settings.CurrentDirectory)) settings.CurrentDirectory = settings.RootDirectory;
  if (settings.Skin.empty()) settings.Skin = "base";
  if (settings.CacheTimeoutMs == 0) settings.useCache = false;
  player.SetVolume(settings.Volume);
  player.SetBalance(settings.Balance);
  core.MusicExtensions.Set(std::make_shared<const SortedTextList>(BuildExtensionList(player, settings)));
  core.CurrentSettings.Set(std::make_shared<const Settings>(std::move(settings)));
  // Corrects the skin to its folder's spelling, or empties it when no folder matches.
  RefreshSkins(core);

  LoadMimeTypes(core);
  core.IpWhitelist.Set(std::make_shared<const TextList>(ReadIpList(IniFile(data + "\\iplist.ini"))));
  core.Users.Set(std::make_shared<const UserList>(ReadUsers(IniFile(data + "\\user.ini"), playerFolder)));
  // The file cache is built afresh from the folders and extensions just loaded.
  if (core.CurrentSettings.Get()->useCache) core.CacheRefreshPending = true;
  if (core.SettingsChanged) core.SettingsChanged(SettingsChange{std::nullopt, core.CurrentSettings.Get()});
}

bool SaveSettings(TQuenforth& core) {
  Settings settings = *core.CurrentSettings.Get();
  settings.Volume = core.Player->GetVolume();
  settings.Balance = core.Player->GetBalance();
  return SaveSettingsFiles(core, settings);
}

bool SaveSettingsFiles(TQuenforth& core, const Settings& settings) {
  const std::string data = core.DataFolder();
  IniFile ini(data + "\\quenforth.ini");
  WriteSettings(ini, settings, core.VersionText.Get());
  // iplist.ini and user.ini are written from nothing: entries that were removed must not survive.
  IniFile ipList(data + "\\iplist.ini", "");
  WriteIpList(ipList, *core.IpWhitelist.Get());
  IniFile users(data + "\\user.ini", "");
  WriteUsers(users, *core.Users.Get());

  bool saved = true;
  for (const IniFile* file : {&ini, &ipList, &users}) {
    if (file->UpdateFile()) continue;
    saved = false;
    platform::MessageBoxA(nullptr, "error creating ini-file: " + file->Path(), "Quenforth", platform::MB_ICONERROR);
  }
  return saved;
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

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

void PublishSettings(TQuenforth& core, Settings settings) {
  core.TimerInterval = settings.TimerInterval;
  core.AllowLocking = settings.allowLocking;
  core.AllowUpload = settings.allowUpload;
  core.ServerRunning = settings.ServerRunning;
  core.RootDirectory.Set(settings.RootDirectory);
  core.CurrentDirectory.Set(settings.CurrentDirectory);
  core.SkinName.Set(settings.Skin);
  core.AllowSkins = settings.allowSkins;
  core.AllowShutdown = settings.allowShutdown;
  core.AllowSrcOutside = settings.allowSrcOutside;
  core.EnablePassword = settings.enablePassword;
  core.DisplayDrives = settings.displayDrives;
  core.DisplayFloppyDrives = settings.displayFloppyDrives;
  core.AllowBrowseAboveRoot = settings.allowBrowseAboveRoot;
  core.IpManagement = settings.IPManagement;
  core.UseFullPath = settings.useFullPath;
  core.Seamless = settings.Seamless;
  core.UseCache = settings.useCache;
  core.CacheTimeoutMs = settings.CacheTimeoutMs;
  core.RemovePlayed = settings.RemovePlayed;
  core.KeepPlaylistAlive = settings.KeepPlaylistAlive;
  core.AddRandomTrack = settings.AddRandomTrack;
  core.Charset.Set(settings.Charset);
  core.IniSection.Set(settings.INISection);
  core.EnableLink = settings.enableLink;
  core.LogFilePath.Set(settings.logfile);
  core.LogEnable = settings.logEnable;
  core.LogOverwrite = settings.logOverwrite;
  core.LogDate = settings.logDate;
  core.LogEvent = settings.logEvent;
  core.LogIp = settings.logIp;
  core.LogUser = settings.logUser;
  core.LogDocument = settings.logDocument;
  core.LogCommand = settings.logCommand;
  core.AdditionalFolders.Set(std::make_shared<const TextList>(settings.AdditionalFolders));
  core.CurrentSettings.Set(std::make_shared<const Settings>(std::move(settings)));
}

Settings CaptureSettings(const TQuenforth& core) {
  Settings settings = *core.CurrentSettings.Get();
  settings.TimerInterval = core.TimerInterval;
  settings.allowLocking = core.AllowLocking;
  settings.allowUpload = core.AllowUpload;
  settings.ServerRunning = core.ServerRunning;
  settings.RootDirectory = core.RootDirectory.Get();
  settings.CurrentDirectory = core.CurrentDirectory.Get();
  settings.Skin = core.SkinName.Get();
  settings.allowSkins = core.AllowSkins;
  settings.allowShutdown = core.AllowShutdown;
  settings.allowSrcOutside = core.AllowSrcOutside;
  settings.enablePassword = core.EnablePassword;
  settings.displayDrives = core.DisplayDrives;
  settings.displayFloppyDrives = core.DisplayFloppyDrives;
  settings.allowBrowseAboveRoot = core.AllowBrowseAboveRoot;
  settings.IPManagement = core.IpManagement;
  settings.useFullPath = core.UseFullPath;
  settings.Seamless = core.Seamless;
  settings.useCache = core.UseCache;
  settings.CacheTimeoutMs = core.CacheTimeoutMs;
  settings.RemovePlayed = core.RemovePlayed;
  settings.KeepPlaylistAlive = core.KeepPlaylistAlive;
  settings.AddRandomTrack = core.AddRandomTrack;
  settings.Charset = core.Charset.Get();
  settings.INISection = core.IniSection.Get();
  settings.enableLink = core.EnableLink;
  settings.logfile = core.LogFilePath.Get();
  settings.logEnable = core.LogEnable;
  settings.logOverwrite = core.LogOverwrite;
  settings.logDate = core.LogDate;
  settings.logEvent = core.LogEvent;
  settings.logIp = core.LogIp;
  settings.logUser = core.LogUser;
  settings.logDocument = core.LogDocument;
  settings.logCommand = core.LogCommand;
  settings.AdditionalFolders = *core.AdditionalFolders.Get();
  return settings;
}

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
  PublishSettings(core, settings);

  // The skin as its folder spells it, or empty when no folder matches.
  RefreshSkins(core);
  settings.Skin = core.SkinName.Get();
  PublishSettings(core, std::move(settings));

  LoadMimeTypes(core);
  core.IpWhitelist.Set(std::make_shared<const TextList>(ReadIpList(IniFile(data + "\\iplist.ini"))));
  core.Users.Set(std::make_shared<const UserList>(ReadUsers(IniFile(data + "\\user.ini"), playerFolder)));
  // The file cache is built afresh from the folders and extensions just loaded.
  if (core.CurrentSettings.Get()->useCache) core.CacheRefreshPending = true;
}

bool SaveSettings(TQuenforth& core) {
  const std::string data = core.DataFolder();
  Settings settings = CaptureSettings(core);
  settings.Volume = core.Player->GetVolume();
  settings.Balance = core.Player->GetBalance();

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

#include "settings/settingstable.h"

#include <algorithm>
#include <climits>

#include "core/inifile.h"

namespace qf {
namespace {

constexpr char kIni[] = "quenforth.ini";
using S = Settings;
using T = SettingType;
using D = DynamicDefault;

SettingKey Bool(const char* section, const char* key, bool fallback, int saveRank, bool S::*field) {
  return {kIni, section, key, T::Bool, fallback ? "1" : "0", D::None, 0, 1, 1, true, saveRank, field};
}

SettingKey Int(const char* section, const char* key, const char* fallback, int minimum, int maximum, int saveRank,
               int S::*field, int scale = 1) {
  return {kIni, section, key, T::Int, fallback, D::None, minimum, maximum, scale, true, saveRank, field};
}

SettingKey Text(const char* section, const char* key, const char* fallback, int saveRank, std::string S::*field,
                D dynamic = D::None) {
  return {kIni, section, key, T::Text, fallback, dynamic, 0, 0, 1, true, saveRank, field};
}

std::vector<SettingKey> BuildTable() {
  return {
      {kIni, "Setup", "ServerPort", T::Port, "80", D::None, 0, 65535, 1, true, 10, &S::ServerPort},
      Int("Setup", "TimerInterval", "100", 1, 1000, 2, &S::TimerInterval),
      Bool("Setup", "stayontop", false, 8, &S::stayontop),
      Bool("Setup", "usedPortMsg", false, 13, &S::usedPortMsg),
      Bool("Setup", "allowLocking", false, 39, &S::allowLocking),
      Bool("Setup", "allowUpload", false, 40, &S::allowUpload),
      Bool("Setup", "bindLocal", false, 12, &S::bindLocal),
      Text("Logfile", "logfile", "", 14, &S::logfile, D::LogFile),
      Bool("Logfile", "enable", false, 15, &S::logEnable),
      Bool("Logfile", "overwrite", true, 16, &S::logOverwrite),
      Bool("Logfile", "date", true, 17, &S::logDate),
      Bool("Logfile", "event", true, 18, &S::logEvent),
      Bool("Logfile", "ip", true, 19, &S::logIp),
      Bool("Logfile", "user", true, 20, &S::logUser),
      Bool("Logfile", "document", true, 21, &S::logDocument),
      Bool("Logfile", "command", true, 22, &S::logCommand),
      Bool("Setup", "ServerRunning", true, 11, &S::ServerRunning),
      Text("Setup", "RootDirectory", "", 26, &S::RootDirectory, D::PlayerFolder),
      Text("Setup", "CurrentDirectory", "", 27, &S::CurrentDirectory, D::RootDirectory),
      Text("Setup", "Skin", "base", 36, &S::Skin),
      Bool("Setup", "allowSkins", true, 35, &S::allowSkins),
      Bool("Setup", "allowShutdown", false, 37, &S::allowShutdown),
      Bool("Setup", "allowSrcOutside", false, 38, &S::allowSrcOutside),
      Bool("Setup", "enablePassword", false, 42, &S::enablePassword),
      Bool("Setup", "displayDrives", false, 29, &S::displayDrives),
      Bool("Setup", "displayFloppyDrives", false, 30, &S::displayFloppyDrives),
      Bool("Setup", "allowBrowseAboveRoot", false, 28, &S::allowBrowseAboveRoot),
      Bool("Setup", "IPManagement", false, 41, &S::IPManagement),
      Bool("Setup", "useFullPath", true, 31, &S::useFullPath),
      Bool("Setup", "Seamless", false, 32, &S::Seamless),
      Bool("Setup", "ClearCacheOnExit", true, 9, &S::ClearCacheOnExit),
      Bool("Setup", "useCache", true, 0, &S::useCache),
      // Seconds in the file, milliseconds in memory; the limit keeps the product inside an int.
      Int("Setup", "CacheTimeout", "600", 0, INT_MAX / 1000, 6, &S::CacheTimeoutMs, 1000),
      Bool("Setup", "RemovePlayed", false, 23, &S::RemovePlayed),
      Bool("Setup", "KeepPlaylistAlive", false, 24, &S::KeepPlaylistAlive),
      Bool("Setup", "AddRandomTrack", false, 25, &S::AddRandomTrack),
      Int("Setup", "Volume", "100", 0, 100, 4, &S::Volume),
      Int("Setup", "Balance", "0", -100, 100, 5, &S::Balance),
      Text("Setup", "Charset", "iso-8859-1", 7, &S::Charset),
      Text("Setup", "INISection", "", 3, &S::INISection),
      Bool("Files", "enableLink", true, 34, &S::enableLink),
      Text("Files", "Extensions", "", 0, &S::Extensions),
      {kIni, "Setup", "AdditionalFolder", T::Folders, "", D::None, 0, 0, 1, true, 33, &S::AdditionalFolders},
      Bool("Setup", "allowCrossSiteCommands", false, 43, &S::allowCrossSiteCommands),
      {kIni, "Setup", "Version", T::Version, "", D::None, 0, 0, 1, false, 1, std::monostate{}},
  };
}

}  // namespace

TextList SplitList(std::string text, char separator) {
  if (text.empty() || text.back() != separator) text += separator;
  TextList pieces;
  std::size_t start = 0;
  while (text.size() - start > 1) {
    std::size_t end = text.find(separator, start);
    if (end == std::string::npos) break;
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

const std::vector<SettingKey>& SettingsTable() {
  static const std::vector<SettingKey> table = BuildTable();
  return table;
}

std::vector<const SettingKey*> SettingsSaveOrder() {
  std::vector<const SettingKey*> rows;
  for (const SettingKey& row : SettingsTable())
    if (row.saveRank > 0) rows.push_back(&row);
  std::sort(rows.begin(), rows.end(),
            [](const SettingKey* a, const SettingKey* b) { return a->saveRank < b->saveRank; });
  return rows;
}

Settings ReadSettings(const IniFile& ini, const SettingsDefaults& defaults) {
  Settings settings;
  for (const SettingKey& row : SettingsTable()) {
    if (!row.read) continue;
    std::string fallback = row.defaultText;
    switch (row.dynamicDefault) {
      case D::None:
        break;
      case D::PlayerFolder:
        fallback = defaults.playerFolder;
        break;
      case D::RootDirectory:
        fallback = settings.RootDirectory;
        break;
      case D::LogFile:
        fallback = defaults.logFile;
        break;
    }
    switch (row.type) {
      case T::Bool:
        settings.*std::get<bool S::*>(row.field) = ini.ReadBool(row.section, row.key, fallback == "1");
        break;
      case T::Int: {
        long long value = ini.ReadInteger(row.section, row.key, *ParseInt(fallback));
        value = std::clamp<long long>(value, row.minimum, row.maximum);
        settings.*std::get<int S::*>(row.field) = static_cast<int>(value * row.scale);
        break;
      }
      case T::Text:
        settings.*std::get<std::string S::*>(row.field) = ini.ReadString(row.section, row.key, fallback);
        break;
      case T::Port: {
        std::string text(Trim(ini.ReadString(row.section, row.key, "")));
        int& port = settings.*std::get<int S::*>(row.field);
        port = *ParseInt(row.defaultText);
        if (text.empty()) break;
        std::optional<int> number = ParseIntOrHex(text);
        if (number && *number >= row.minimum && *number <= row.maximum)
          port = *number;
        else
          settings.PortError = "The server port \"" + text + "\" is not a port number from 1 to 65535.";
        break;
      }
      case T::Folders:
        settings.*std::get<TextList S::*>(row.field) = SplitList(ini.ReadString(row.section, row.key, fallback), ';');
        break;
      case T::Version:
        break;
    }
  }
  // The window's dependent boxes, applied as the window applies them when it shows the loaded values: no
  // other drives without browsing outside the root, no A: and B: without other drives.
  if (!settings.allowBrowseAboveRoot) settings.displayDrives = false;
  if (!settings.displayDrives) settings.displayFloppyDrives = false;
  return settings;
}

void WriteSettings(IniFile& ini, const Settings& settings, const std::string& versionText) {
  for (const SettingKey* row : SettingsSaveOrder()) {
    switch (row->type) {
      case T::Bool:
        ini.WriteBool(row->section, row->key, settings.*std::get<bool S::*>(row->field));
        break;
      case T::Int:
        ini.WriteInteger(row->section, row->key, settings.*std::get<int S::*>(row->field) / row->scale);
        break;
      case T::Text:
        ini.WriteString(row->section, row->key, settings.*std::get<std::string S::*>(row->field));
        break;
      case T::Port:
        // A value that was no port stays as the user wrote it, for the user to see and mend.
        if (settings.PortError.empty())
          ini.WriteInteger(row->section, row->key, settings.*std::get<int S::*>(row->field));
        break;
      case T::Folders: {
        std::string text;
        for (const std::string& folder : settings.*std::get<TextList S::*>(row->field)) text += folder + ";";
        ini.WriteString(row->section, row->key, text);
        break;
      }
      case T::Version:
        ini.WriteString(row->section, row->key, versionText);
        break;
    }
  }
}

}  // namespace qf

#pragma once
// The table of quenforth.ini's keys: one row per key with its section, type, default, limits, the field
// of Settings it fills and its place in the save order. Reading, writing and the configuration window
// all go through it, so a key is described once.

#include <string>
#include <variant>
#include <vector>

#include "core/settingsdata.h"

namespace qf {

class IniFile;

enum class SettingType {
  Bool,     // 1 or 0; any non-zero number reads as true, anything else as the default
  Int,      // clamped into the row's limits; the field holds the file's value times `scale`
  Text,     // as written
  Port,     // 0..65535; any other text leaves the default and says why in PortError
  Folders,  // every folder followed by ";"
  Version,  // written as the version text, never read
};

// Defaults that depend on where the plug-in is installed.
enum class DynamicDefault { None, PlayerFolder, RootDirectory, LogFile };

using SettingField =
    std::variant<std::monostate, bool Settings::*, int Settings::*, std::string Settings::*, TextList Settings::*>;

struct SettingKey {
  const char* file;
  const char* section;
  const char* key;
  SettingType type;
  const char* defaultText;  // as the file would hold it
  DynamicDefault dynamicDefault;
  int minimum;
  int maximum;
  int scale;
  bool read;
  int saveRank;  // position in the save order, from 1; 0: never written
  SettingField field;
};

// Every key of quenforth.ini, in the order they are read.
const std::vector<SettingKey>& SettingsTable();
// The rows that are written, in the order they are written.
std::vector<const SettingKey*> SettingsSaveOrder();

// The pieces of a list such as "mp3:ogg:" or "C:\a;D:\b;": a separator is added when the text does not
// end with one, and the text is cut at each separator while more than one character remains. Empty
// pieces are dropped.
TextList SplitList(std::string text, char separator);

struct SettingsDefaults {
  std::string playerFolder;
  std::string logFile;
};

// Every readable row read from `ini` into a record, with the row's default for a missing or unusable value,
// and the configuration window's dependent check boxes applied; nothing derived from the disk (folders
// checked, skins listed) yet.
Settings ReadSettings(const IniFile& ini, const SettingsDefaults& defaults);
// Every written row, in the save order, into `ini`: other keys and comments stay as they are.
void WriteSettings(IniFile& ini, const Settings& settings, const std::string& versionText);

}  // namespace qf

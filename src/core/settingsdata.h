#pragma once
// Settings: the values of quenforth.ini as one immutable record. The core object holds the current one as
// a snapshot (TQuenforth::CurrentSettings); a change builds a new record and swaps it in whole, so a
// request that took the snapshot sees one consistent set of values for its whole life.

#include <cstdint>
#include <string>

#include "core/text.h"

namespace qf {

struct Settings {
  // [Setup]
  int ServerPort = 80;  // 0: any free port
  // Why ServerPort could not be taken from the file (no number, out of range); empty when it could.
  std::string PortError;
  int TimerInterval = 100;  // ms, 1..1000
  bool stayontop = false;
  bool usedPortMsg = false;
  bool allowLocking = false;
  bool allowUpload = false;
  bool bindLocal = false;
  bool ServerRunning = true;
  std::string RootDirectory;
  std::string CurrentDirectory;
  std::string Skin = "base";
  bool allowSkins = true;
  bool allowShutdown = false;
  bool allowSrcOutside = false;
  bool enablePassword = false;
  // Commands from pages of other sites run like any others (off: they are refused, see SessionData).
  bool allowCrossSiteCommands = false;
  bool displayDrives = false;
  bool displayFloppyDrives = false;
  bool allowBrowseAboveRoot = false;
  bool IPManagement = false;
  bool useFullPath = true;
  bool Seamless = false;
  bool ClearCacheOnExit = true;
  bool useCache = true;
  int CacheTimeoutMs = 600000;
  bool RemovePlayed = false;
  bool KeepPlaylistAlive = false;
  bool AddRandomTrack = false;
  int Volume = 100;  // percent
  int Balance = 0;   // percent, -100..100
  std::string Charset = "iso-8859-1";
  std::string INISection;
  TextList AdditionalFolders;  // written as "folder;" each
  // [Logfile]
  std::string logfile;  // default: the data folder's logfile.txt
  bool logEnable = false;
  bool logOverwrite = true;
  bool logDate = true;
  bool logEvent = true;
  bool logIp = true;
  bool logUser = true;
  bool logDocument = true;
  bool logCommand = true;
  // [Files]
  bool enableLink = true;
  std::string Extensions;  // read only: never written back
};

}  // namespace qf

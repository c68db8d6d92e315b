#pragma once
// Plain records shared through the core object: user accounts and playlist entries.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/guarded.h"

namespace qf {

// One user account. Requests read it and change the fields marked so while the user window may
// replace the list; a record removed from the list stays valid for requests that still hold it.
struct UserClass {
  // Guards the texts that requests change (folders, skin, charset, skin-settings section).
  mutable std::mutex Lock;

  std::string Login;
  std::string Password;
  std::array<bool, 7> DayAllowed{true, true, true, true, true, true, true};  // Sunday first
  std::array<double, 7> DayFrom{};                                           // fractions of a day
  std::array<double, 7> DayTo{};
  Guarded<std::string> RootDirectory{Lock};
  Guarded<std::string> CurrentDirectory{Lock};  // changed by folder commands
  Guarded<std::string> Skin{Lock};              // changed by the skin command
  Guarded<std::string> Charset{Lock};           // changed by the charset command
  Guarded<std::string> INISection{Lock};        // changed by the inisection command
  bool allowBrowseAboveRoot = true;
  bool displayDrives = true;
  bool add_files = false;
  bool change_state = false;
  bool download = false;
  bool remove_his = false;
  bool remove_all = false;
  bool admin = false;
  bool ChangeSkin = true;
  std::atomic<std::int32_t> uploadlimit{1};    // KB
  std::atomic<std::int32_t> currentupload{0};  // KB, changed by uploads
  std::int32_t uploadmode = 0;
  std::int32_t tracks_per_hour = 0;
  std::atomic<std::int32_t> TracksThisHour{0};  // changed by commands and the timer
};

using UserList = std::vector<std::shared_ptr<UserClass>>;

// One playlist entry as read from the player's playlist file.
struct PlaylistClass {
  std::string DisplayTitle;
  std::string Reserved1;
  std::string Reserved2;
  std::string FileName;
  std::int32_t Seconds = 0;
};

using PlaylistEntryList = std::vector<PlaylistClass>;

}  // namespace qf

#pragma once
// A prefix as the runner installs it (the data folder with the checkout's skins, the demo music and a
// playlist of it) in the scratch folder, a stand-in player running on it, and a core object loaded from its
// settings the way the plug-in's start-up loads them. The configuration window, its timer and the cache
// thread are left out: their work on a clock would make two runs of one input differ.
//
// The settings add what a fuzzer should reach: uploads on, shutdown and locking allowed (the platform
// layer only records them), the access log on (the data folder's logfile.txt), two accounts (admin/secret
// with every right, guest/guest with few) and a whitelist of 127.0.0.1 and 127.0.0.64 - 127.0.0.127.
// quenforth.ini, user.ini, iplist.ini and mime.ini carry the canary: no request may read them.
//
// One per process, made by the first Get() on the calling thread and closed when the process exits.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>

#include "core/guarded.h"
#include "core/settingsdata.h"

namespace qf {
class TPlayer;
class TQuenforth;
}  // namespace qf

namespace host {
class StandInPlayer;
}

namespace qffuzz {

class StandInPrefix {
 public:
  // The switches an input may turn on for itself; everything else is as loaded.
  struct Switches {
    bool ipManagement = false;
    bool enablePassword = false;
    bool allowCrossSiteCommands = false;
  };
  // Bits 0, 1 and 2 of `byte`, in the order above.
  static Switches SwitchesOf(unsigned char byte);

  static StandInPrefix& Get();

  qf::TQuenforth& Core() { return *core_; }
  // The base skin's folder, a Windows path without a trailing "\".
  std::string SkinFolder() const;

  // Puts back what the last input may have changed (settings, accounts, the player's playlist and
  // switches, skin.ini files, files written into the music folder, the platform's records), with
  // `switches` applied, so that every input starts from the same state.
  void Reset(Switches switches);

  // What the access log holds since the last Reset.
  std::string AccessLog() const;

  // Fails when a file of the prefix outside the places requests may write to (the music folder, the
  // player's playlist folder, the album-art cache, the skins' skin.ini and the access log) was made,
  // changed or removed.
  void CheckNothingWrittenOutside() const;

  ~StandInPrefix();

 private:
  StandInPrefix();
  std::set<std::filesystem::path> MusicFiles() const;
  // Every file and folder outside the places requests may write to, with its size and modification time.
  std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>> GuardedFiles() const;

  std::filesystem::path root_;
  std::unique_ptr<host::StandInPlayer> player_;
  std::unique_ptr<qf::TPlayer> playerInterface_;
  std::unique_ptr<qf::TQuenforth> core_;
  qf::Snapshot<qf::Settings> initialSettings_;
  std::string userIni_;
  std::set<std::filesystem::path> musicFiles_;
  std::map<std::filesystem::path, std::pair<std::uintmax_t, std::filesystem::file_time_type>> guardedFiles_;
  struct PlayerSnapshot;
  std::unique_ptr<PlayerSnapshot> playerSnapshot_;
};

}  // namespace qffuzz

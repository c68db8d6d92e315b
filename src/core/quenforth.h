#pragma once
// TQuenforth: the plug-in's one shared model object. Settings that requests consult, the lists built from
// the settings and the file system, the folders the plug-in works in, the player interface (borrowed:
// the main form owns it), and the counters and flags that the timer, the cache thread and the request
// threads exchange.
//
// Threads: the player's thread (start-up, timer, windows), every connection thread and the cache thread.
// `Lock` is the process-wide lock. It guards every text and list below (Guarded<...> on it) and is
// held only to copy or assign, never across a player message, a file access or page production. Lists
// rebuilt while others read them are snapshots (core/guarded.h). Numbers and flags are atomics.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/crc32.h"
#include "core/guarded.h"
#include "core/kept.h"
#include "core/loginthrottle.h"
#include "core/pagebudget.h"
#include "core/records.h"
#include "core/settingschange.h"
#include "core/settingsdata.h"
#include "core/smallfiles.h"
#include "core/text.h"

namespace qf {

class TID3v2Library;
class TPlayer;
class TConfigWindow;

using Flag = std::atomic<bool>;

class TQuenforth {
 public:
  // Creates the lists and the CRC table; every number and flag starts at zero, every text empty, and
  // there is no player until the owner lends one.
  TQuenforth() = default;
  ~TQuenforth() = default;
  TQuenforth(const TQuenforth&) = delete;
  TQuenforth& operator=(const TQuenforth&) = delete;

  // The process-wide lock (see the header comment). Declared first: the guarded fields refer to it.
  mutable std::mutex Lock;

  Guarded<Snapshot<SortedTextList>> MusicExtensions{Lock, EmptySnapshot<SortedTextList>()};
  Guarded<Snapshot<TextList>> TemplateExtensions{Lock, EmptySnapshot<TextList>()};
  Guarded<Snapshot<TextList>> TemplateContentTypes{Lock, EmptySnapshot<TextList>()};
  Guarded<Snapshot<SortedTextList>> SkinNames{Lock, EmptySnapshot<SortedTextList>()};
  Guarded<Snapshot<TextList>> TrackOwners{Lock, EmptySnapshot<TextList>()};  // CRC key = login
  Guarded<Snapshot<PackedTextList>> FileCache{Lock, EmptySnapshot<PackedTextList>()};
  Guarded<Snapshot<UserList>> Users{Lock, EmptySnapshot<UserList>()};
  Guarded<Snapshot<PlaylistEntryList>> PlaylistEntries{Lock, EmptySnapshot<PlaylistEntryList>()};
  std::atomic<double> PlaylistReadTime{0};  // days
  std::atomic<std::int32_t> StartTime{0};
  std::atomic<std::int32_t> UptimeSeconds{0};
  std::atomic<std::uint64_t> PreviousPlaybackSignature{0};
  std::atomic<std::uint64_t> PlaybackSignature{0};
  std::atomic<std::uint64_t> TimerTicks{0};
  std::atomic<std::int32_t> PreviousPositionSeconds{0};
  std::atomic<std::int32_t> TrackPositionSeconds{0};
  std::atomic<std::int32_t> PreviousPlaylistPosition{0};
  std::atomic<std::int32_t> PlaylistPosition{0};
  std::atomic<std::int32_t> FirstAddedIndex{0};
  std::atomic<std::uint32_t> OsMajorVersion{0};
  Guarded<std::string> VersionText{Lock};
  Flag CacheRefreshPending{false};
  std::atomic<std::int32_t> CacheAgeTicks{0};
  Flag ShuttingDown{false};  // only ever goes from clear to set
  Flag PlaylistBusy{false};
  Guarded<std::string> PluginFolder{Lock};
  Guarded<std::string> PlaylistFolder{Lock};
  Guarded<std::string> CacheFolder{Lock};
  // The player interface, borrowed from the main form (tests lend their own); it outlives this object.
  // Set before any other thread sees the object, never changed afterwards.
  TPlayer* Player = nullptr;
  const Crc32Table CrcTable;

  // The settings as last loaded or changed: one immutable record, replaced whole by every change
  // (Modify(CurrentSettings, ...)), so that a change made by a command, the timer or a window is never
  // lost to another made at the same time. A request takes the record once and works with one consistent
  // set of values; the global folder context (browse/folders.h) keeps its root and current folder here.
  Guarded<Snapshot<Settings>> CurrentSettings{Lock, std::make_shared<const Settings>()};
  // The bytes that produced pages hold until their answers are sent, for all requests together.
  PageBudget PageBytes;
  // Failed logins per client address, and the addresses refused for a while after too many.
  LoginThrottle Logins;
  // The tag library, loaded once for the pages that read tags one after another (a status page read
  // every second by each phone in the house): loading and unloading it for each page cost more than all
  // the rest of the page. The main timer lets it go once no page has taken it for kTagLibraryKeptFor, so
  // that an idle player does not hold the library's file.
  Kept<TID3v2Library> TagLibrary;
  static constexpr std::chrono::milliseconds kTagLibraryKeptFor{2000};
  // The skin's templates, read for every page: kept in memory while unchanged on disk.
  SmallFiles SkinTexts{64 * 1024, 2 * 1024 * 1024};
  // The IP whitelist the configuration window edits: addresses and "a - b" ranges.
  Guarded<Snapshot<TextList>> IpWhitelist{Lock, EmptySnapshot<TextList>()};
  // The configuration window, owned by the main form; null when there is none. Changes to it are posted
  // to its thread (TConfigWindow::Post), never made on a request thread.
  TConfigWindow* ConfigWindow = nullptr;
  // Tells the configuration window about a change of the settings it shows. The main form wires it to
  // the window before any other thread sees this object and clears it after they have all ended; it is
  // called on whatever thread made the change, and posts to the window's own thread. Empty: no window.
  std::function<void(const SettingsChange&)> SettingsChanged;

  // Reads of the player's playlist, shared between the pages that want one at the same time. `read`
  // makes the player write its playlist file, reads it and swaps the new list into PlaylistEntries; it
  // runs on the calling thread with no lock held, one call at a time (PlaylistBusy is set meanwhile).
  // A caller that finds a read in progress waits for it to end and then for the next one, which one of
  // the waiting callers performs for all of them: every caller gets a list read after it arrived, so what
  // its own commands changed is in it. A caller waits at most `limit` (a player that no longer answers)
  // and then gets the newest list there is, which is empty only when none was ever read. An exception
  // from `read` reaches the caller that ran it; the callers that waited for that read try again.
  Snapshot<PlaylistEntryList> SharePlaylistRead(const std::function<Snapshot<PlaylistEntryList>()>& read,
                                                std::chrono::milliseconds limit);
  //
  // A player that tells its main window each change of its playlist (PlaylistModified) spares the reads
  // of an unchanged list: once it has told of one change, a caller takes the last list when no change was
  // told since that list's read began and the read is younger than kPlaylistFreshFor (titles the player
  // fills in later, which it does not tell of, show within that time). A player that never tells is read
  // for every caller.
  static constexpr std::chrono::milliseconds kPlaylistFreshFor{1000};
  // Called on the player's thread when the player says its playlist changed, before the change's message
  // returns to whoever asked for it: a page after a command always sees what the command did.
  void PlaylistModified() {
    playlistChanges_.fetch_add(1, std::memory_order_acq_rel);
    playlistChangesTold_.store(true, std::memory_order_release);
  }
  // How many callers wait in SharePlaylistRead now (for tests and diagnostics).
  int PlaylistReadersWaiting() const;
  // How many reads SharePlaylistRead has started (for tests and diagnostics).
  std::uint64_t PlaylistReadsStarted() const;

  // The plug-in's data folder, PluginFolder + "\quenforth", and `below` after it, in one piece.
  std::string DataFolder(std::string_view below = {}) const {
    return PluginFolder.Read([below](const std::string& folder) {
      constexpr std::string_view kName = "\\quenforth";
      std::string path;
      path.reserve(folder.size() + kName.size() + below.size());
      path.append(folder).append(kName).append(below);
      return path;
    });
  }
  // The 8-hex-digit CRC-32 key of a text (owner keys, song ids).
  std::string CrcKey(std::string_view text) const { return CrcTable.Key(text); }
  // A playlist entry's song id: the CRC key of its file name followed by its 0-based index.
  std::string SongId(std::string_view fileName, int index) const { return CrcKey(fileName) + std::to_string(index); }

 private:
  struct PlaylistRead;  // the read in progress, ended by its destructor whatever happens

  mutable std::mutex playlistLock_;  // guards the fields below and changes of PlaylistBusy
  std::condition_variable playlistReadEnded_;
  // Reads are numbered as they start; the last one that gave a list, and that list. Guarded by
  // playlistLock_, as is the number of callers waiting.
  std::uint64_t playlistReadsStarted_ = 0;
  std::uint64_t playlistReadsFinished_ = 0;
  Snapshot<PlaylistEntryList> lastPlaylistRead_ = EmptySnapshot<PlaylistEntryList>();
  int playlistReadersWaiting_ = 0;
  // The change count when the last list's read began, and when that was (guarded by playlistLock_).
  std::uint64_t lastReadChanges_ = 0;
  std::chrono::steady_clock::time_point lastReadBegan_{};
  std::atomic<std::uint64_t> playlistChanges_{0};
  std::atomic<bool> playlistChangesTold_{false};
};

}  // namespace qf

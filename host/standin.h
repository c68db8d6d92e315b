#pragma once
// The stand-in player: the other side of the player's plug-in interface, on its own thread with a
// message loop, with the window classes, message numbers and record layouts of the real player. It keeps
// a playlist that plays on a clock (no sound), volume, panning, an equaliser, shuffle and repeat, a media
// library, and writes its playlist file as the player does.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "medialibrary.h"
#include "metadata.h"
#include "platform/types.h"

namespace host {

struct PlayerOptions {
  unsigned version = 0x5066;  // 5.66
  std::string pluginFolder = "C:\\Program Files\\Winamp\\Plugins";
  std::vector<std::string> libraryFolders;  // Windows paths, scanned into the media library at start
  double speed = 1.0;                       // how fast the playback clock runs (tests play faster)
  bool verbose = false;                     // a status line per second while running
  bool keepPlaylist = true;                 // read winamp.m3u at start, write it when closing
};

enum class PlayState { Stopped, Playing, Paused };

struct PlaylistEntry {
  std::string path;
  std::string title;
  int lengthMs = -1;   // -1: unknown (a stream)
  int bitrate = 0;     // kbit/s
  int sampleRate = 0;  // Hz
  int channels = 0;
};

// Requests the stand-in only counts: they have no visible effect here.
struct PlayerRequests {
  int restarts = 0;
  int minimizes = 0;
  int visualizations = 0;
  int fullscreens = 0;
  int equalizerRefreshes = 0;
};

// Everything the player knows. Touched only on the player's thread (StandInPlayer::Call for others).
struct PlayerState {
  std::vector<PlaylistEntry> playlist;
  int current = 0;
  PlayState state = PlayState::Stopped;
  int volume = 200;                                                   // 0..255
  int panning = 0;                                                    // -127..127
  std::array<int, 10> bands{31, 31, 31, 31, 31, 31, 31, 31, 31, 31};  // 0..63, 0 at the top
  int preamp = 31;
  bool equalizerOn = false;
  bool autoload = false;
  int selectedBand = 0;  // the band IPC_SETEQDATA sets: the last one IPC_GETEQDATA asked for
  bool shuffle = false;
  bool repeat = false;
  bool manualAdvance = false;
  bool windowsEnabled = true;
  PlayerRequests requests;
  MediaLibrary library;
  int resultSetsHeld = 0;      // media-library results handed out and not yet released
  int mostResultSetsHeld = 0;  // the most there were at once
  int queriesAnswered = 0;     // media-library queries and searches
};

class StandInPlayer {
 public:
  // The most files whose tags the player keeps.
  static constexpr std::size_t kMetadataKept = 2048;

  using Clock = std::chrono::steady_clock;

  explicit StandInPlayer(PlayerOptions options);
  ~StandInPlayer();  // closes the player if it still runs and joins its thread
  StandInPlayer(const StandInPlayer&) = delete;
  StandInPlayer& operator=(const StandInPlayer&) = delete;

  // Starts the player's thread: scans the library, restores the playlist, creates the windows and calls
  // `onStarted` there (where the runner loads the plug-in). `onClosing` runs there too when the main
  // window closes, before the playlist is saved and the windows go.
  void Start(std::function<void(platform::HWND mainWindow)> onStarted = {}, std::function<void()> onClosing = {});
  // Asks the player to close (WM_CLOSE to its main window) and waits until its thread has ended.
  void Close();
  void Join();
  bool Running() const { return running_; }
  platform::HWND MainWindow() const { return mainWindow_; }

  // Runs `work` with the player's state on the player's thread and waits for it.
  void Call(const std::function<void(PlayerState&)>& work);
  // The play position in milliseconds (0 when stopped). Player thread only.
  int PositionMs();
  // Where IPC_WRITEPLAYLIST writes: APPDATA\<the player folder's name>\winamp.m3u.
  static std::string PlaylistFile();

  // The window procedures' entries, on the player's thread.
  platform::LRESULT HandleMain(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                               platform::LPARAM lParam);
  platform::LRESULT HandlePlaylistEditor(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                         platform::LPARAM lParam);
  platform::LRESULT HandleEqualizer(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                    platform::LPARAM lParam);
  platform::LRESULT HandleMediaLibrary(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                       platform::LPARAM lParam);

 private:
  void Run(std::function<void(platform::HWND)> onStarted);
  void PlaylistModified();
  platform::LRESULT Ipc(platform::LPARAM code, platform::WPARAM argument);
  void Command(platform::WPARAM id);

  // Playback.
  void PlayCurrent();
  void StopPlayback();
  void Seek(int milliseconds);
  void Advance(int step);  // next (+1) or previous (-1) entry, by the buttons
  void CheckTrackEnd();
  void ReportStatus();

  // Playlist.
  PlaylistEntry MakeEntry(const std::string& path, const std::string& title = "");
  void Insert(int index, const std::string& path);
  void Delete(int index);
  void Swap(int from, int to);
  // Writes winamp.m3u; `durable` waits for the disk (on close, not for each reader of the list).
  void WritePlaylist(bool durable);
  void ReadPlaylist();

  // The tags and properties of the file, read once and kept for the next asker: valid until the next
  // call. At most kMetadataKept files are kept (a playlist of 10,000 took 3.8 MB), then it starts again.
  const Metadata& MetadataOf(const std::string& path);
  // A copy of `text` that stays valid for the player's lifetime, for texts handed out by pointer:
  // callers copy them after their SendMessageA returns, while the playlist may already have changed.
  const char* Intern(const std::string& text);

  PlayerOptions options_;
  PlayerState state_;
  std::function<void()> onClosing_;
  std::thread thread_;
  std::atomic<platform::HWND> mainWindow_{nullptr};
  platform::HWND playlistWindow_ = nullptr;
  platform::HWND equalizerWindow_ = nullptr;
  platform::HWND libraryWindow_ = nullptr;
  platform::UINT libraryGetWndMessage_ = 0;
  std::atomic<bool> running_{false};

  int positionAtMark_ = 0;      // play position (ms) at markTime_
  Clock::time_point markTime_;  // when playback last started or resumed
  std::set<std::string> interned_;
  std::map<std::string, Metadata> metadata_;  // by upper-case path
};

}  // namespace host

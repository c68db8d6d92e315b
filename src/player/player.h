#pragma once
// TPlayer: the one speaker of the player's message protocol. Every read or change of the player's state
// is one of these operations; each is one or a few synchronous messages to a player window followed by
// a small conversion of the answer.
//
// Callable from any thread: a request thread blocks in SendMessageA until the player's own thread has
// handled the message. With no player window every message answers 0: reads give 0 or "".
// Volume, balance and equaliser values are percentages here; raw player scales stay inside.

#include <atomic>
#include <mutex>
#include <string>

#include "platform/types.h"

namespace qf {

class TPlayer {
 public:
  // Finds the main window (class "Winamp v1.x"), asks it for its sub-windows and reads the list position.
  TPlayer();
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  std::string GetVersionString();  // "5.56" for version word 0x5056; "" with no player window
  std::string GetPluginDirectory();
  std::string GetPlayerFolder() const;
  void SetPlayerFolder(const std::string& folder);
  std::string GetExtensionList();  // "mp3:ogg:wav", asked once and then kept

  int IsPlaying();  // 1 playing, 3 paused, 0 stopped
  void Play();
  void Pause();
  void Stop();
  void Next();
  void Previous();
  void Forward5s();
  void Rewind5s();
  void PlayIndex(int index);

  int GetVolume();  // 0..100
  void SetVolume(int percent);
  int GetBalance();  // -100..100
  void SetBalance(int percent);
  // Bands 0..9 and 10 (preamp) as -100..100; 11 (equaliser on) and 12 (autoload) raw.
  int GetEqBand(int band);
  void SetEqBand(int band, int raw);

  bool GetShuffle();
  void SetShuffle(bool on);
  int GetRepeatMode();  // 0 off, 1 track (manual advance), 2 all
  void SetRepeatMode(int mode);

  int GetPosition();  // seconds played
  void SetPositionMs(int milliseconds);
  int GetLength(int index);  // seconds; only index -1 (the current entry) is answered
  int GetRemaining();
  int GetSampleRate();
  int GetBitrate();
  int GetChannels();

  int GetListPos();
  int GetListLength();
  int GetNextListPos() const { return -1; }
  std::string GetPlaylistFile(int index);
  std::string GetPlaylistTitle(int index);
  std::string GetExtendedFileInfo(const std::string& file, const std::string& field);

  void WritePlaylist();
  void ClearPlaylist();
  enum class InsertAt { End, AfterCurrent };
  // Appends `path`, or inserts it after the current entry. A path that does not fit the player's insert
  // record (259 bytes) is not inserted, nor anything without a player window; appending has no such
  // limit. True when the request went to the player.
  bool InsertFile(InsertAt where, const std::string& path);
  void DeleteIndex(int index);
  void SwapIndex(int a, int b);

  void Minimize();
  void ClosePlayer();
  void RestartPlayer();
  void StartVisualization();
  void ToggleFullscreen();
  bool IsUnlocked() const { return unlocked_.load(); }
  void SetUnlocked(bool unlocked);

  platform::HWND GetMediaLibraryWindow();
  void SetMediaLibraryItemField(const std::string& file, const std::string& name, const std::string& value);

  platform::HWND MainWindow() const { return mainWindow_; }
  platform::HWND PlaylistWindow() const { return playlistWindow_; }
  platform::HWND EqualizerWindow() const { return equalizerWindow_; }

 private:
  platform::LRESULT Ipc(platform::LPARAM code, platform::WPARAM argument);
  // Whether the player's main window is there to answer (it may close while the plug-in runs).
  bool Answers() const;
  void Command(platform::WPARAM id);

  platform::HWND mainWindow_ = nullptr;
  platform::HWND playlistWindow_ = nullptr;
  platform::HWND equalizerWindow_ = nullptr;
  platform::HWND miniBrowserWindow_ = nullptr;
  platform::HWND videoWindow_ = nullptr;
  std::atomic<platform::HWND> mediaLibraryWindow_{nullptr};
  std::atomic<bool> unlocked_{true};
  std::atomic<int> volumePercent_{0};
  std::atomic<int> balancePercent_{0};
  int listPositionAtStart_ = 0;

  mutable std::mutex lock_;  // guards the two texts below
  std::string extensionList_;
  std::string playerFolder_;
};

}  // namespace qf

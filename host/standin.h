#pragma once
// The stand-in player: the other side of the player's plug-in interface, on its own thread with a
// message loop, with the window classes, message numbers and record layouts of the real player.

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "platform/types.h"

namespace host {

struct PlayerOptions {
  unsigned version = 0x5066;  // 5.66
  std::string pluginFolder;   // answered to IPC_GETPLUGINDIRECTORY
};

class StandInPlayer {
 public:
  explicit StandInPlayer(PlayerOptions options);
  ~StandInPlayer();  // closes the player if it still runs and joins its thread

  // Starts the player's thread, creates its windows and calls `onStarted` there (where the runner loads
  // the plug-in). `onClosing` runs there too when the main window closes, before the windows go.
  void Start(std::function<void(platform::HWND mainWindow)> onStarted, std::function<void()> onClosing);
  // Asks the player to close (WM_CLOSE to its main window) and waits until its thread has ended.
  void Close();
  void Join();
  bool Running() const { return running_; }
  platform::HWND MainWindow() const { return mainWindow_; }

  // Called on the player's thread by its window procedure.
  platform::LRESULT HandleMain(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                               platform::LPARAM lParam);

 private:
  void Run(std::function<void(platform::HWND)> onStarted);

  PlayerOptions options_;
  std::function<void()> onClosing_;
  std::thread thread_;
  std::atomic<platform::HWND> mainWindow_{nullptr};
  std::atomic<bool> running_{false};
};

}  // namespace host

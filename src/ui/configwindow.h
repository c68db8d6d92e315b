#pragma once
// TConfigWindow: the configuration window as a model, the controls the rest of the plug-in reads and
// changes. It lives on the player's user-interface thread, which owns its (hidden) window: other threads
// never touch the controls, they Post their changes to it. The window also carries the main timer.

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

namespace qf {

class TConfigWindow {
 public:
  // Creates the window on the calling thread (the player's), which must run a message loop.
  explicit TConfigWindow(void* moduleInstance);
  ~TConfigWindow();
  TConfigWindow(const TConfigWindow&) = delete;
  TConfigWindow& operator=(const TConfigWindow&) = delete;

  // Runs `change` on the window's thread: queued when called from another thread, at once on its own.
  void Post(std::function<void(TConfigWindow&)> change);
  // Runs `work` on the window's thread after every change posted before it, and waits for it. Not for
  // the window's own thread's callers that other threads wait on.
  void Send(const std::function<void(TConfigWindow&)>& work);

  // The main timer: `tick` runs on the window's thread every `milliseconds` until stopped.
  void StartTimer(unsigned milliseconds, std::function<void()> tick);
  void StopTimer();

  // The skin selector: the skins found, the selected one (-1: none), and its hint.
  std::vector<std::string> SkinItems;
  int SkinIndex = -1;
  std::string SkinHint;
  // "remove played songs" and "add random track if playlist is empty (keep-playlist-alive)".
  bool RemovePlayed = false;
  bool KeepPlaylistAlive = false;
  // The browser link label.
  std::string LinkText = "please start the webserver";

  platform::HWND Window() const { return window_; }
  void Handle(platform::UINT message, platform::WPARAM wParam);

 private:
  platform::HWND window_ = nullptr;
  platform::DWORD threadId_ = 0;
  std::function<void()> tick_;
  std::mutex queueLock_;  // guards queue_: changes posted by other threads, run in order
  std::deque<std::function<void(TConfigWindow&)>> queue_;
};

}  // namespace qf

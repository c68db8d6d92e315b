#pragma once
// TConfigWindow: the configuration window as a model, the controls the rest of the plug-in reads and
// changes. It lives on the player's user-interface thread, which owns its (hidden) window: other threads
// never touch the controls, they Post their changes to it. The window also carries the main timer.
//
// Nothing thrown by a change, a sent work item or the timer's tick leaves the window's procedure: a
// posted change or a tick that throws is dropped, the work of Send reports its exception to the caller.

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/types.h"

namespace qf {

struct SettingsChange;
class TConfigForm;

class TConfigWindow {
 public:
  // Creates the window on the calling thread (the player's), which must run a message loop.
  explicit TConfigWindow(void* moduleInstance);
  // Destroys the window and unregisters its class, on the window's thread.
  ~TConfigWindow();
  TConfigWindow(const TConfigWindow&) = delete;
  TConfigWindow& operator=(const TConfigWindow&) = delete;

  // Runs `change` on the window's thread: queued when called from another thread, at once on its own.
  void Post(std::function<void(TConfigWindow&)> change);
  // Runs `work` on the window's thread after every change posted before it, and waits for it: at once
  // when called on the window's thread, else as a message sent to the window, which the thread handles
  // also while it waits for other threads (stopping the server). Rethrows what `work` threw; throws
  // std::runtime_error without running it when the window or its thread is gone.
  void Send(const std::function<void(TConfigWindow&)>& work);

  // Shows a change of the settings: callable from any thread, taken on the window's own (posted).
  void SettingsChanged(const SettingsChange& change);

  // The main timer: `tick` runs on the window's thread every `milliseconds` until stopped.
  void StartTimer(unsigned milliseconds, std::function<void()> tick);
  void StopTimer();

  // The window's controls and their behaviour, once the main form has made them (the core object and the
  // server exist after the window); shown settings and skins reach them through SettingsChanged.
  std::unique_ptr<TConfigForm> Form;
  // Runs on the window's thread after every posted change, sent work and timer tick, so that a view shows
  // the form again. What it throws is dropped.
  std::function<void()> Changed;

  platform::HWND Window() const { return window_; }
  // The window procedure's part: posted changes, sent work and timer ticks.
  void Handle(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam);

 private:
  void RunPosted();
  void TellChanged();
  void* moduleInstance_;
  platform::HWND window_ = nullptr;
  platform::DWORD threadId_ = 0;
  std::function<void()> tick_;
  std::mutex queueLock_;  // guards queue_: changes posted by other threads, run in order
  std::deque<std::function<void(TConfigWindow&)>> queue_;
};

}  // namespace qf

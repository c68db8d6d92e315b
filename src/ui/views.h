#pragma once
// The windows as the user sees them: on Windows real dialogs (ui/win32) that show the models and pass
// the controls' events to them; on Linux none, where the models alone stand for the windows (the
// runner's `quenforth config` and `quenforth user` drive them).
//
// Threads: the view belongs to the thread that owns the configuration window (the player's); only that
// thread calls it.

#include <functional>
#include <memory>

namespace qf {

class TConfigWindow;
class TUserForm;

class ConfigView {
 public:
  virtual ~ConfigView() = default;
  // Shows the configuration window's form as it is now (after a change that did not come through the
  // view: loaded settings, a timer tick, the server stopped by the player's close).
  virtual void Refresh() = 0;
  // The player's configure call: shows the window in front (or the user window, while that is open).
  virtual void Present() = 0;
  // Shows the user window for `form`, modal to the configuration window, until it closes.
  virtual void RunUserWindow(TUserForm& form) = 0;
  // Whether an event of the windows is running: it may wait in a dialog or message box of its own, and
  // the objects it uses must stay until it returns.
  virtual bool Busy() const = 0;
  // Runs `then` as soon as no event runs any more (at once when none does), and closes the user window
  // if it is open; the dialogs and message boxes that wait for an answer keep waiting for it.
  virtual void WhenIdle(std::function<void()> then) = 0;
};

// The view of `window`'s form, made from the resources of the module `moduleInstance` (the plug-in's own
// module, as the player handed it over); null where the system has no windows to show.
std::unique_ptr<ConfigView> CreateConfigView(TConfigWindow& window, void* moduleInstance);

}  // namespace qf

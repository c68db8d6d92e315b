#pragma once
// TMainForm: the plug-in's main object, created by init on the player's thread. It builds the core object
// and everything else in a fixed order, owns the player interface (lent to the core object), the HTTP
// server, the configuration window and the main timer, runs the host-closing sequence when the player's
// main window gets WM_CLOSE, and tears everything down at quit.
//
// Every member function runs on the player's user-interface thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/configform.h"

namespace qf {

class TQuenforth;
class TPlayer;
class THttpServer;
class TConfigWindow;
class TCache;
class ConfigView;

class TMainForm : private ConfigFormHost {
 public:
  explicit TMainForm(void* moduleInstance);
  // The shut-down sequence: the server is stopped if it still runs, the cache thread is stopped, then the
  // core object goes.
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // The player's main window received WM_CLOSE.
  void HostClosing();
  // The player said its playlist changed (on its own thread).
  void PlaylistModified();
  // Whether the player's close must wait: an event of the windows runs (it may wait in a dialog), and the
  // objects it uses must outlive it. Then `closeAgain` runs once it has returned, and the user window is
  // closed if it is open.
  bool PostponeClosing(std::function<void()> closeAgain);
  // The player's configure call: shows the configuration window.
  void ShowConfigWindow();
  // The start/stop button: stops a running server, or starts it on the configured port.
  void ToggleServer();
  // The main timer's tick.
  void OnTimerTick();

  TQuenforth& Core() { return *core_; }

 private:
  void FindPlaylistFolder();
  void ClearCacheFolder();
  // What the configuration window asks of the main form.
  std::optional<std::string> StartServer(int port, bool bindLocal) override;
  void StopServer() override;
  int ListeningPort() override;
  std::vector<std::string> LocalAddresses() override;
  void RefreshCache() override;
  void SaveSettings() override;
  void ShowUserWindow(TUserForm& form) override;

  std::unique_ptr<TConfigWindow> window_;
  std::unique_ptr<ConfigView> view_;  // shows window_'s form; none on Linux
  std::unique_ptr<TPlayer> player_;   // lent to the core object, so it goes after it
  std::unique_ptr<TQuenforth> core_;
  std::unique_ptr<TCache> cache_;        // borrows the core object: stopped before the core goes
  std::unique_ptr<THttpServer> server_;  // after the core: stopped before the core goes
  bool serverMarker_ = false;            // 1 after binding, 0 after stopping
};

}  // namespace qf

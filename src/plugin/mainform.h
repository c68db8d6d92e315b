#pragma once
// TMainForm: the plug-in's main object, created by init on the player's thread. It builds the core object
// and everything else in a fixed order, owns the HTTP server, runs the host-closing sequence when the
// player's main window gets WM_CLOSE, and tears everything down at quit.
//
// Every member function runs on the player's user-interface thread.

#include <memory>
#include <string>

#include "settings/settings.h"

namespace qf {

class TQuenforth;
class THttpServer;

class TMainForm {
 public:
  explicit TMainForm(void* moduleInstance);
  // The shut-down sequence: the server is stopped if it still runs, then the core object goes.
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // The player's main window received WM_CLOSE.
  void HostClosing();
  // The start/stop button: stops a running server, or starts it on the configured port.
  void ToggleServer();

  TQuenforth& Core() { return *core_; }
  const std::string& LinkText() const { return linkText_; }

 private:
  bool StartServer();
  void AfterBind();

  ServerSettings serverSettings_;
  std::unique_ptr<TQuenforth> core_;
  std::unique_ptr<THttpServer> server_;  // after the core: stopped before the core goes
  bool serverMarker_ = false;            // 1 after binding, 0 after stopping
  std::string linkText_ = "please start the webserver";
};

}  // namespace qf

// The plug-in's one export and the record the player reads through it.

#include <memory>
#include <type_traits>
#include <utility>

#include "platform/system.h"
#include "platform/types.h"
#include "platform/window.h"
#include "player/host_interface.h"
#include "plugin/gen_quen08.h"
#include "plugin/mainform.h"

namespace {

using qf::host::winampGeneralPurposePlugin;

std::unique_ptr<qf::TMainForm> mainForm;
platform::WNDPROC previousProcedure = nullptr;
// While the plug-in starts (the player's thread is inside init, which may show a message box and so run
// that thread's messages), a close waits: it would quit the player under the plug-in's constructor.
bool starting = false;
bool closedWhileStarting = false;

// The player's main window procedure, replaced so the plug-in sees WM_CLOSE before the player does.
// Without a main form (after quit, when it could not be taken out of the chain) it only forwards.
platform::LRESULT QF_CALLBACK PlayerWindowProcedure(platform::HWND window, platform::UINT message,
                                                    platform::WPARAM wParam, platform::LPARAM lParam) {
  if (message == qf::host::WM_WA_IPC && lParam == qf::host::IPC_PLAYLIST_MODIFIED && mainForm)
    mainForm->PlaylistModified();
  if (message == platform::WM_CLOSE && starting) {
    closedWhileStarting = true;
    return 0;
  }
  if (message == platform::WM_CLOSE && mainForm) {
    try {
      // A close that arrives while a window of the plug-in waits in a dialog of its own (the player's
      // thread runs the dialog's loop) would quit the plug-in under it: it comes again afterwards.
      if (mainForm->PostponeClosing([window] { platform::PostMessageA(window, platform::WM_CLOSE, 0, 0); })) return 0;
      mainForm->HostClosing();
    } catch (...) {
      // The player closes all the same.
    }
  }
  return platform::CallWindowProcA(previousProcedure, window, message, wParam, lParam);
}
// It reaches the player's window through a cast, which would take a procedure of any convention.
static_assert(std::is_same_v<decltype(&PlayerWindowProcedure), platform::WNDPROC>);

int Init() noexcept;
void Config() noexcept;
void Quit() noexcept;

winampGeneralPurposePlugin plugin{qf::host::GPPHDR_VER, "Quenforth KV7", Init, Config, Quit, nullptr, nullptr};

void RestoreProcedure();

int Init() noexcept {
  previousProcedure = reinterpret_cast<platform::WNDPROC>(platform::SetWindowLongPtrA(
      plugin.hwndParent, platform::GWL_WNDPROC, reinterpret_cast<platform::LONG_PTR>(PlayerWindowProcedure)));
  starting = true;
  int result = 0;
  try {
    mainForm = std::make_unique<qf::TMainForm>(plugin.hDllInstance);
  } catch (...) {
    result = 1;
  }
  starting = false;
  if (result != 0) RestoreProcedure();
  if (std::exchange(closedWhileStarting, false)) platform::PostMessageA(plugin.hwndParent, platform::WM_CLOSE, 0, 0);
  return result;
}

// The player calls it on its own thread, the one that owns the configuration window.
void Config() noexcept {
  try {
    if (mainForm) mainForm->ShowConfigWindow();
  } catch (...) {
  }
}

// Everything the plug-in started ends here: the main form joins its threads and unregisters its window
// classes, and the player's window procedure is put back.
void Quit() noexcept {
  try {
    mainForm.reset();
  } catch (...) {
  }
  RestoreProcedure();
}

void RestoreProcedure() {
  if (previousProcedure == nullptr) return;
  auto ours = reinterpret_cast<platform::LONG_PTR>(PlayerWindowProcedure);
  if (platform::GetWindowLongPtrA(plugin.hwndParent, platform::GWL_WNDPROC) == ours) {
    platform::SetWindowLongPtrA(plugin.hwndParent, platform::GWL_WNDPROC,
                                reinterpret_cast<platform::LONG_PTR>(previousProcedure));
    previousProcedure = nullptr;
  } else {
    // Someone subclassed the window after us and forwards to our procedure: taking it out would cut
    // their chain. It stays, only forwarding, and so does the code it lives in.
    platform::PinModuleOf(reinterpret_cast<const void*>(&PlayerWindowProcedure));
  }
}

}  // namespace

extern "C" QF_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() { return &plugin; }

// The plug-in's one export and the record the player reads through it.

#include <memory>

#include "platform/types.h"
#include "platform/window.h"
#include "player/host_interface.h"
#include "plugin/gen_quen08.h"
#include "plugin/mainform.h"

namespace {

using qf::host::winampGeneralPurposePlugin;

std::unique_ptr<qf::TMainForm> mainForm;
platform::WNDPROC previousProcedure = nullptr;

// The player's main window procedure, replaced so the plug-in sees WM_CLOSE before the player does.
platform::LRESULT QF_CALLBACK PlayerWindowProcedure(platform::HWND window, platform::UINT message,
                                                    platform::WPARAM wParam, platform::LPARAM lParam) {
  if (message == platform::WM_CLOSE && mainForm) {
    try {
      mainForm->HostClosing();
    } catch (...) {
      // Nothing may escape into the player.
    }
  }
  return platform::CallWindowProcA(previousProcedure, window, message, wParam, lParam);
}

int Init();
void Config();
void Quit();

winampGeneralPurposePlugin plugin{qf::host::GPPHDR_VER, "Quenforth KV7", Init, Config, Quit, nullptr, nullptr};

int Init() {
  try {
    mainForm = std::make_unique<qf::TMainForm>(plugin.hDllInstance);
  } catch (...) {
    return 1;
  }
  previousProcedure = reinterpret_cast<platform::WNDPROC>(platform::SetWindowLongPtrA(
      plugin.hwndParent, platform::GWL_WNDPROC, reinterpret_cast<platform::LONG_PTR>(PlayerWindowProcedure)));
  return 0;
}

void Config() {
  // The configuration window shows itself here.
}

void Quit() {
  try {
    mainForm.reset();
  } catch (...) {
  }
}

}  // namespace

extern "C" QF_EXPORT winampGeneralPurposePlugin* winampGetGeneralPurposePlugin() { return &plugin; }

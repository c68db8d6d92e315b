#include "standin.h"

#include <future>

#include "platform/window.h"
#include "player/host_interface.h"

namespace host {

using namespace platform;
using namespace qf::host;

namespace {

LRESULT QF_CALLBACK MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* player = reinterpret_cast<StandInPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return player ? player->HandleMain(window, message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

StandInPlayer::StandInPlayer(PlayerOptions options) : options_(std::move(options)) {}

StandInPlayer::~StandInPlayer() {
  if (running_) Close();
  Join();
}

void StandInPlayer::Start(std::function<void(HWND)> onStarted, std::function<void()> onClosing) {
  onClosing_ = std::move(onClosing);
  std::promise<void> started;
  std::future<void> ready = started.get_future();
  thread_ = std::thread([this, onStarted = std::move(onStarted), &started]() mutable {
    Run([&](HWND main) {
      started.set_value();
      if (onStarted) onStarted(main);
    });
  });
  ready.wait();
}

void StandInPlayer::Run(std::function<void(HWND)> onStarted) {
  RegisterClassA(WNDCLASSA{MainProcedure, nullptr, "Winamp v1.x"});
  HWND main = CreateWindowExA("Winamp v1.x", "Winamp", nullptr, nullptr, this);
  mainWindow_ = main;
  running_ = true;
  onStarted(main);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  running_ = false;
}

void StandInPlayer::Close() {
  if (HWND main = mainWindow_.load()) PostMessageA(main, WM_CLOSE, 0, 0);
  Join();
}

void StandInPlayer::Join() {
  if (thread_.joinable()) thread_.join();
}

LRESULT StandInPlayer::HandleMain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WA_IPC:
      switch (lParam) {
        case IPC_GETVERSION: return static_cast<LRESULT>(options_.version);
        case IPC_GETPLUGINDIRECTORY: return reinterpret_cast<LRESULT>(options_.pluginFolder.c_str());
        default: return 0;
      }
    case WM_COMMAND:
      if (wParam == WINAMP_FILE_QUIT) PostMessageA(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_CLOSE:
      if (onClosing_) onClosing_();
      mainWindow_ = nullptr;
      DestroyWindow(window);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace host

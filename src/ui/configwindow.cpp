#include "ui/configwindow.h"

#include <exception>
#include <stdexcept>

#include "core/settingschange.h"
#include "platform/window.h"
#include "ui/configform.h"

namespace qf {
namespace {

constexpr char kClassName[] = "TQuenforthConfig";
constexpr platform::UINT kPosted = platform::WM_APP + 1;  // changes are waiting in the queue
constexpr platform::UINT kSent = platform::WM_APP + 2;    // lParam: the SentWork of a Send
constexpr platform::UINT_PTR kMainTimer = 1;

using Change = std::function<void(TConfigWindow&)>;

// One Send's work and what became of it; lives on the sender's stack while the window handles it.
struct SentWork {
  const Change& work;
  bool ran = false;
  std::exception_ptr failure;
};

platform::LRESULT QF_CALLBACK Procedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                        platform::LPARAM lParam) {
  try {
    if (message == platform::WM_CREATE) {
      auto* create = reinterpret_cast<platform::CREATESTRUCTA*>(lParam);
      platform::SetWindowLongPtrA(window, platform::GWLP_USERDATA,
                                  reinterpret_cast<platform::LONG_PTR>(create->lpCreateParams));
      return 0;
    }
    auto* model = reinterpret_cast<TConfigWindow*>(platform::GetWindowLongPtrA(window, platform::GWLP_USERDATA));
    if (model && (message == kPosted || message == kSent || message == platform::WM_TIMER)) {
      model->Handle(message, wParam, lParam);
      return 0;
    }
    return platform::DefWindowProcA(window, message, wParam, lParam);
  } catch (...) {
    return 0;  // the player's message loop runs this procedure: nothing may escape into it
  }
}

// A posted change or a timer tick that throws is dropped; the next one still runs.
template <class Work>
void RunDroppingFailure(Work&& work) {
  try {
    work();
  } catch (...) {
  }
}

}  // namespace

TConfigWindow::TConfigWindow(void* moduleInstance)
    : moduleInstance_(moduleInstance), threadId_(platform::GetCurrentThreadId()) {
  platform::RegisterClassA(platform::WNDCLASSA{Procedure, moduleInstance, kClassName});
  window_ = platform::CreateWindowExA(kClassName, "Quenforth", nullptr, moduleInstance, this);
}

TConfigWindow::~TConfigWindow() {
  StopTimer();
  Form.reset();
  if (window_) platform::DestroyWindow(window_);
  platform::UnregisterClassA(kClassName, moduleInstance_);
}

// One change at a time off the queue: a change that waits handling sent messages (stopping the server)
// may run a Send in between, which must still find the changes posted before it.
void TConfigWindow::RunPosted() {
  for (;;) {
    Change change;
    {
      std::lock_guard guard(queueLock_);
      if (queue_.empty()) return;
      change = std::move(queue_.front());
      queue_.pop_front();
    }
    RunDroppingFailure([&] { change(*this); });
  }
}

void TConfigWindow::TellChanged() {
  if (Changed) RunDroppingFailure(Changed);
}

void TConfigWindow::Handle(platform::UINT message, platform::WPARAM wParam, platform::LPARAM lParam) {
  if (message == kPosted) {
    RunPosted();
  } else if (message == kSent) {
    auto* sent = reinterpret_cast<SentWork*>(lParam);
    RunPosted();  // the changes posted before the work come first
    sent->ran = true;
    try {
      sent->work(*this);
    } catch (...) {
      sent->failure = std::current_exception();
    }
  } else if (message == platform::WM_TIMER && wParam == kMainTimer && tick_) {
    RunDroppingFailure(tick_);
  } else {
    return;
  }
  TellChanged();
}

void TConfigWindow::Post(Change change) {
  if (platform::GetCurrentThreadId() == threadId_) {
    RunDroppingFailure([&] { change(*this); });
    return TellChanged();
  }
  {
    std::lock_guard guard(queueLock_);
    queue_.push_back(std::move(change));
  }
  platform::PostMessageA(window_, kPosted, 0, 0);
}

void TConfigWindow::Send(const Change& work) {
  if (platform::GetCurrentThreadId() == threadId_) {
    work(*this);
    return TellChanged();
  }
  // A sent message, not a posted one: the window's thread handles sent messages also while it waits for
  // connection threads to end, so a connection thread in here cannot hold up the server's stop.
  SentWork sent{work, false, nullptr};
  platform::SendMessageA(window_, kSent, 0, reinterpret_cast<platform::LPARAM>(&sent));
  if (sent.failure) std::rethrow_exception(sent.failure);
  if (!sent.ran) throw std::runtime_error("the configuration window is gone");
}

void TConfigWindow::SettingsChanged(const SettingsChange& change) {
  if (change.skins)
    Post([skins = *change.skins](TConfigWindow& window) {
      if (window.Form) window.Form->ShowSkins(skins.names, skins.selected);
    });
  if (change.settings)
    Post([settings = change.settings](TConfigWindow& window) {
      if (window.Form) window.Form->ShowSettings(*settings);
    });
}

void TConfigWindow::StartTimer(unsigned milliseconds, std::function<void()> tick) {
  tick_ = std::move(tick);
  platform::SetTimer(window_, kMainTimer, milliseconds);
}

void TConfigWindow::StopTimer() { platform::KillTimer(window_, kMainTimer); }

}  // namespace qf

#include "ui/configwindow.h"

#include <future>

#include "platform/window.h"

namespace qf {
namespace {

constexpr platform::UINT kPosted = platform::WM_APP + 1;  // changes are waiting in the queue
constexpr platform::UINT_PTR kMainTimer = 1;

using Change = std::function<void(TConfigWindow&)>;

platform::LRESULT QF_CALLBACK Procedure(platform::HWND window, platform::UINT message, platform::WPARAM wParam,
                                        platform::LPARAM lParam) {
  if (message == platform::WM_CREATE) {
    auto* create = reinterpret_cast<platform::CREATESTRUCTA*>(lParam);
    platform::SetWindowLongPtrA(window, platform::GWLP_USERDATA,
                                reinterpret_cast<platform::LONG_PTR>(create->lpCreateParams));
    return 0;
  }
  auto* model = reinterpret_cast<TConfigWindow*>(platform::GetWindowLongPtrA(window, platform::GWLP_USERDATA));
  if (model && (message == kPosted || message == platform::WM_TIMER)) {
    model->Handle(message, wParam);
    return 0;
  }
  return platform::DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

TConfigWindow::TConfigWindow(void* moduleInstance) : threadId_(platform::GetCurrentThreadId()) {
  platform::RegisterClassA(platform::WNDCLASSA{Procedure, moduleInstance, "TQuenforthConfig"});
  window_ = platform::CreateWindowExA("TQuenforthConfig", "Quenforth", nullptr, moduleInstance, this);
}

TConfigWindow::~TConfigWindow() {
  StopTimer();
  if (window_) platform::DestroyWindow(window_);
}

void TConfigWindow::Handle(platform::UINT message, platform::WPARAM wParam) {
  if (message == kPosted) {
    std::deque<Change> changes;
    {
      std::lock_guard guard(queueLock_);
      changes.swap(queue_);
    }
    for (Change& change : changes) change(*this);
  } else if (message == platform::WM_TIMER && wParam == kMainTimer && tick_) {
    tick_();
  }
}

void TConfigWindow::Post(Change change) {
  if (platform::GetCurrentThreadId() == threadId_) return change(*this);
  {
    std::lock_guard guard(queueLock_);
    queue_.push_back(std::move(change));
  }
  platform::PostMessageA(window_, kPosted, 0, 0);
}

void TConfigWindow::Send(const Change& work) {
  if (platform::GetCurrentThreadId() == threadId_) return work(*this);
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  Post([&](TConfigWindow& window) {
    work(window);
    done.set_value();
  });
  finished.wait();
}

void TConfigWindow::StartTimer(unsigned milliseconds, std::function<void()> tick) {
  tick_ = std::move(tick);
  platform::SetTimer(window_, kMainTimer, milliseconds);
}

void TConfigWindow::StopTimer() { platform::KillTimer(window_, kMainTimer); }

}  // namespace qf

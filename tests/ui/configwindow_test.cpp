// The configuration window's thread: what it does with changes, sent work and timer ticks that throw,
// and Send while the window's thread waits for the sender or has ended.

#include "ui/configwindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "core/quenforth.h"
#include "core/settingschange.h"
#include "platform/window.h"
#include "ui/configform.h"

namespace qf {
namespace {

using namespace std::chrono_literals;

// A thread that owns a configuration window and runs its message loop until stopped. The window object
// is destroyed on that thread when the loop ends, unless the test keeps it to outlive its thread.
class WindowThread {
 public:
  enum class AtEnd { DestroyWindow, KeepWindowObject };

  explicit WindowThread(AtEnd atEnd = AtEnd::DestroyWindow) {
    std::promise<void> created;
    thread_ = std::thread([this, atEnd, &created] {
      window_ = std::make_unique<TConfigWindow>(nullptr);
      threadId_ = platform::GetCurrentThreadId();
      created.set_value();
      platform::MSG msg;
      while (platform::GetMessageA(&msg, nullptr, 0, 0) > 0) platform::DispatchMessageA(&msg);
      if (atEnd == AtEnd::DestroyWindow) window_.reset();
    });
    created.get_future().wait();
  }
  ~WindowThread() {
    Stop();
    window_.reset();
  }
  void Stop() {
    if (!thread_.joinable()) return;
    platform::PostThreadMessageA(threadId_, platform::WM_QUIT, 0, 0);
    thread_.join();
  }
  TConfigWindow& Window() { return *window_; }
  platform::DWORD ThreadId() const { return threadId_; }

 private:
  std::thread thread_;
  std::unique_ptr<TConfigWindow> window_;
  std::atomic<platform::DWORD> threadId_{0};
};

// Waits, handling what is sent to this thread, until `done` or ten seconds have passed.
bool WaitFor(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + 10s;
  platform::WaitHandlingSentMessages([&] { return done() || std::chrono::steady_clock::now() > deadline; });
  return done();
}

TEST(ConfigWindow, PostedChangeThatThrowsIsDroppedAndTheNextStillRuns) {
  WindowThread owner;
  owner.Window().Post([](TConfigWindow&) { throw std::runtime_error("broken change"); });
  std::string seen;
  owner.Window().Post([&seen](TConfigWindow&) { seen = "after"; });
  owner.Window().Send([](TConfigWindow&) {});
  EXPECT_EQ(seen, "after");
}

TEST(ConfigWindow, TimerTickThatThrowsKeepsTheTimerTicking) {
  WindowThread owner;
  std::atomic<int> ticks{0};
  owner.Window().Send([&](TConfigWindow& window) {
    window.StartTimer(10, [&] {
      ++ticks;
      throw std::runtime_error("broken tick");
    });
  });
  EXPECT_TRUE(WaitFor([&] { return ticks.load() >= 3; }));
  owner.Window().Send([](TConfigWindow& window) { window.StopTimer(); });
}

TEST(ConfigWindow, ChangedRunsAfterPostedChangesSentWorkAndTicks) {
  WindowThread owner;
  std::atomic<int> changes{0};
  std::atomic<int> ticks{0};
  owner.Window().Send([&](TConfigWindow& window) {
    window.Changed = [&] {
      ++changes;
      throw std::runtime_error("a view that fails");
    };
  });
  owner.Window().Post([](TConfigWindow&) {});
  owner.Window().Send([](TConfigWindow&) {});
  EXPECT_GE(changes.load(), 2);
  owner.Window().Send([&](TConfigWindow& window) { window.StartTimer(10, [&] { ++ticks; }); });
  EXPECT_TRUE(WaitFor([&] { return ticks.load() >= 2 && changes.load() >= 4; }));
  owner.Window().Send([](TConfigWindow& window) {
    window.StopTimer();
    window.Changed = nullptr;
  });
}

TEST(ConfigWindow, SendReportsTheWorksExceptionToTheCaller) {
  WindowThread owner;
  try {
    owner.Window().Send([](TConfigWindow&) { throw std::invalid_argument("no such skin"); });
    FAIL() << "Send returned";
  } catch (const std::invalid_argument& failure) {
    EXPECT_STREQ(failure.what(), "no such skin");
  }
  // The window goes on working.
  int answer = 0;
  owner.Window().Send([&](TConfigWindow&) { answer = 42; });
  EXPECT_EQ(answer, 42);
}

TEST(ConfigWindow, SendRunsOnTheWindowsThreadAndInlineFromThere) {
  WindowThread owner;
  platform::DWORD outer = 0, inner = 0;
  owner.Window().Send([&](TConfigWindow& window) {
    outer = platform::GetCurrentThreadId();
    window.Send([&](TConfigWindow&) { inner = platform::GetCurrentThreadId(); });
  });
  EXPECT_EQ(outer, owner.ThreadId());
  EXPECT_EQ(inner, owner.ThreadId());
}

TEST(ConcurrentConfigWindow, SendCompletesWhileTheWindowsThreadWaitsForTheSender) {
  // The shape of stopping the server: the window's thread waits for a connection thread to end, and
  // that thread sends work to the window first.
  WindowThread owner;
  std::atomic<bool> workRan{false};
  std::atomic<bool> senderDone{false};
  bool waitEnded = false;
  std::promise<void> changeDone;
  owner.Window().Post([&](TConfigWindow& window) {
    std::thread sender([&] {
      window.Send([&](TConfigWindow&) { workRan = true; });
      senderDone = true;
    });
    waitEnded = WaitFor([&] { return senderDone.load(); });
    sender.join();
    changeDone.set_value();
  });
  changeDone.get_future().wait();
  EXPECT_TRUE(waitEnded);
  EXPECT_TRUE(workRan);
}

// A form whose host does nothing: these tests only look at what the window shows.
class IdleHost : public ConfigFormHost {
 public:
  std::optional<std::string> StartServer(int, bool) override { return "no server here"; }
  void StopServer() override {}
  int ListeningPort() override { return 0; }
  std::vector<std::string> LocalAddresses() override { return {}; }
  void RefreshCache() override {}
  void SaveSettings() override {}
  void ShowUserWindow(TUserForm&) override {}
};

TEST(ConfigWindow, SettingsAndSkinsToldFromAnotherThreadAreShownOnTheWindowsThread) {
  TQuenforth core;
  IdleHost host;
  WindowThread owner;
  owner.Window().Send([&](TConfigWindow& window) { window.Form = std::make_unique<TConfigForm>(core, host); });
  auto settings = std::make_shared<Settings>();
  settings->ServerPort = 8123;
  settings->Skin = "dark";
  std::thread other([&] {
    owner.Window().SettingsChanged(SettingsChange{SettingsChange::Skins{{"base", "Dark"}, 1, "Dark"}, nullptr});
    owner.Window().SettingsChanged(SettingsChange{std::nullopt, settings});
  });
  other.join();
  std::string port;
  int skin = -1;
  platform::DWORD shownOn = 0;
  owner.Window().Send([&](TConfigWindow& window) {
    port = window.Form->Port.text;
    skin = window.Form->Skins.selected;
    shownOn = platform::GetCurrentThreadId();
    window.Form.reset();
  });
  EXPECT_EQ(port, "8123");
  EXPECT_EQ(skin, 1);
  EXPECT_EQ(shownOn, owner.ThreadId());
}

TEST(ConfigWindow, SendAfterTheWindowsThreadEndedFailsWithoutRunningTheWork) {
  WindowThread owner(WindowThread::AtEnd::KeepWindowObject);
  owner.Stop();
  bool ran = false;
  EXPECT_THROW(owner.Window().Send([&](TConfigWindow&) { ran = true; }), std::runtime_error);
  EXPECT_FALSE(ran);
}

platform::LRESULT QF_CALLBACK Other(platform::HWND, platform::UINT, platform::WPARAM, platform::LPARAM) { return 0; }

TEST(ConfigWindow, DestroyingTheWindowUnregistersItsClass) {
  {
    WindowThread owner;
    EXPECT_NE(platform::FindWindowA("TQuenforthConfig", nullptr), nullptr);
  }
  EXPECT_EQ(platform::FindWindowA("TQuenforthConfig", nullptr), nullptr);
  // The name is free again: the procedure of a module loaded later takes its place.
  EXPECT_TRUE(platform::RegisterClassA(platform::WNDCLASSA{Other, nullptr, "TQuenforthConfig"}));
  EXPECT_TRUE(platform::UnregisterClassA("TQuenforthConfig", nullptr));
}

}  // namespace
}  // namespace qf

#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

namespace platform {
namespace {

using namespace std::chrono_literals;

// A thread that owns one window of a class and runs a message loop until WM_QUIT.
class WindowThread {
 public:
  WindowThread(const char* className, WNDPROC procedure) {
    RegisterClassA(WNDCLASSA{procedure, nullptr, className});
    std::promise<HWND> created;
    auto window = created.get_future();
    thread_ = std::thread([&created, className, this] {
      threadId_ = GetCurrentThreadId();
      created.set_value(CreateWindowExA(className, "", nullptr, nullptr, nullptr));
      MSG msg;
      while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    });
    window_ = window.get();
  }
  ~WindowThread() {
    PostThreadMessageA(threadId_, WM_QUIT, 0, 0);
    thread_.join();
  }
  HWND Window() const { return window_; }
  DWORD ThreadId() const { return threadId_; }

 private:
  std::thread thread_;
  HWND window_ = nullptr;
  std::atomic<DWORD> threadId_{0};
};

// Every test window: WM_APP+99 quits the loop, WM_APP answers the handling thread's id plus wParam.
LRESULT QF_CALLBACK Basic(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 99) {
    PostQuitMessage(0);
    return 0;
  }
  if (message == WM_APP) return static_cast<LRESULT>(GetCurrentThreadId() + wParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Messages, SendFromAnotherThreadRunsOnTheOwnerAndReturnsItsAnswer) {
  WindowThread owner("TestBasic", Basic);
  EXPECT_EQ(SendMessageA(owner.Window(), WM_APP, 5, 0), static_cast<LRESULT>(owner.ThreadId() + 5));
  EXPECT_NE(owner.ThreadId(), GetCurrentThreadId());
  EXPECT_EQ(FindWindowA("testbasic", nullptr), owner.Window());
  EXPECT_EQ(GetWindowThreadProcessId(owner.Window(), nullptr), owner.ThreadId());
}

LRESULT QF_CALLBACK Other(HWND, UINT message, WPARAM, LPARAM) { return message == WM_APP ? 7 : 0; }

TEST(WindowClasses, UnregisterFailsWhileAWindowExistsAndThenFreesTheName) {
  ASSERT_TRUE(RegisterClassA(WNDCLASSA{Basic, nullptr, "TestUnregister"}));
  EXPECT_FALSE(RegisterClassA(WNDCLASSA{Other, nullptr, "testunregister"}));  // taken
  HWND window = CreateWindowExA("TestUnregister", "", nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(UnregisterClassA("TestUnregister", nullptr));
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassA("TESTUNREGISTER", nullptr));
  EXPECT_FALSE(UnregisterClassA("TestUnregister", nullptr));
  EXPECT_EQ(CreateWindowExA("TestUnregister", "", nullptr, nullptr, nullptr), nullptr);
  // The name takes a new procedure.
  ASSERT_TRUE(RegisterClassA(WNDCLASSA{Other, nullptr, "TestUnregister"}));
  window = CreateWindowExA("TestUnregister", "", nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageA(window, WM_APP, 0, 0), 7);
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassA("TestUnregister", nullptr));
}

TEST(Messages, SendToAMissingWindowAnswersZero) {
  EXPECT_EQ(SendMessageA(nullptr, WM_APP, 1, 0), 0);
  EXPECT_EQ(SendMessageA(reinterpret_cast<HWND>(0x1234), WM_APP, 1, 0), 0);
  EXPECT_EQ(FindWindowA("No such class", nullptr), nullptr);
}

// The peer answers WM_APP+1 by sending WM_APP+2 back to the window in lParam.
LRESULT QF_CALLBACK Peer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 1) return SendMessageA(reinterpret_cast<HWND>(lParam), WM_APP + 2, wParam, 0) + 1;
  return Basic(window, message, wParam, lParam);
}

std::atomic<DWORD> nestedHandler{0};
LRESULT QF_CALLBACK Caller(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 2) {
    nestedHandler = GetCurrentThreadId();
    return static_cast<LRESULT>(wParam * 10);
  }
  return Basic(window, message, wParam, lParam);
}

TEST(Messages, ABlockedSenderHandlesMessagesSentToItsOwnWindows) {
  // This thread owns a window and sends to the peer, whose handler sends back to that window: the
  // nested message must be handled here, inside the blocked SendMessageA, or both threads would wait.
  RegisterClassA(WNDCLASSA{Caller, nullptr, "TestCaller"});
  HWND mine = CreateWindowExA("TestCaller", "", nullptr, nullptr, nullptr);
  WindowThread peer("TestPeer", Peer);
  EXPECT_EQ(SendMessageA(peer.Window(), WM_APP + 1, 4, reinterpret_cast<LPARAM>(mine)), 41);
  EXPECT_EQ(nestedHandler, GetCurrentThreadId());
  DestroyWindow(mine);
}

std::vector<std::string> chainLog;
WNDPROC previous = nullptr;
LRESULT QF_CALLBACK Original(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) chainLog.push_back("original");
  return Basic(window, message, wParam, lParam);
}
LRESULT QF_CALLBACK Subclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) chainLog.push_back("subclass");
  return CallWindowProcA(previous, window, message, wParam, lParam);
}

TEST(Messages, ReplacedProceduresChainToThePreviousOne) {
  WindowThread owner("TestChain", Original);
  chainLog.clear();
  previous =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrA(owner.Window(), GWL_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
  EXPECT_EQ(previous, Original);
  EXPECT_EQ(GetWindowLongPtrA(owner.Window(), GWL_WNDPROC), reinterpret_cast<LONG_PTR>(Subclass));
  SendMessageA(owner.Window(), WM_CLOSE, 0, 0);  // DefWindowProcA destroys the window
  EXPECT_EQ(chainLog, (std::vector<std::string>{"subclass", "original"}));
  EXPECT_FALSE(IsWindow(owner.Window()));
}

std::atomic<int> posted{0};
std::atomic<int> ticks{0};
LRESULT QF_CALLBACK Counter(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == 7) ++ticks;
  if (message == WM_APP + 3) posted = posted * 10 + static_cast<int>(wParam);
  return Basic(window, message, wParam, lParam);
}

TEST(Messages, PostedMessagesArriveInOrder) {
  WindowThread owner("TestPosted", Counter);
  posted = 0;
  for (WPARAM i = 1; i <= 5; ++i) EXPECT_TRUE(PostMessageA(owner.Window(), WM_APP + 3, i, 0));
  SendMessageA(owner.Window(), WM_NULL, 0, 0);
  // Sent messages overtake posted ones, so wait for the posted ones themselves.
  for (int i = 0; i < 200 && posted != 12345; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(posted, 12345);
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x4321), WM_APP, 0, 0));
}

TEST(Messages, TimersTickOnTheOwnerThreadUntilKilled) {
  WindowThread owner("TestTimer", Counter);
  ticks = 0;
  ASSERT_EQ(SetTimer(owner.Window(), 7, 20), 7u);
  for (int i = 0; i < 400 && ticks < 5; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_GE(ticks, 5);
  EXPECT_TRUE(KillTimer(owner.Window(), 7));
  SendMessageA(owner.Window(), WM_NULL, 0, 0);
  int stopped = ticks;
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(ticks, stopped);
  EXPECT_FALSE(KillTimer(owner.Window(), 7));
}

TEST(Messages, RegisteredNamesShareOneId) {
  UINT id = RegisterWindowMessageA("LibraryGetWnd");
  EXPECT_GE(id, 0xC000u);
  EXPECT_EQ(RegisterWindowMessageA("librarygetwnd"), id);
  EXPECT_NE(RegisterWindowMessageA("Other"), id);
}

std::promise<void>* blockedHandlerEntered = nullptr;
std::atomic<bool> releaseBlockedHandler{false};
LRESULT QF_CALLBACK Slow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 4) {
    blockedHandlerEntered->set_value();
    while (!releaseBlockedHandler) std::this_thread::sleep_for(1ms);
    return 0;
  }
  return Basic(window, message, wParam, lParam);
}

// Runs `send` `rounds` times on each of `senders` threads at once; answers how many of its answers were
// wrong in all (`send` answers the count of one round).
int WrongAnswersOfSenders(int senders, int rounds, const std::function<int(int round)>& send) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < senders; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < rounds; ++i) wrong += send(i);
    });
  for (auto& thread : threads) thread.join();
  return wrong;
}

TEST(ConcurrentMessages, ManySendersAreServedOneAtATime) {
  WindowThread owner("TestMany", Basic);
  EXPECT_EQ(WrongAnswersOfSenders(8, 200,
                                  [&](int i) {
                                    return SendMessageA(owner.Window(), WM_APP, static_cast<WPARAM>(i), 0) !=
                                           static_cast<LRESULT>(owner.ThreadId() + static_cast<DWORD>(i));
                                  }),
            0);
}

// WM_APP+1 fails with an exception; everything else as Basic.
LRESULT QF_CALLBACK Throwing(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP + 1) throw std::runtime_error("the procedure failed");
  return Basic(window, message, wParam, lParam);
}

TEST(ConcurrentMessages, AProcedureThatThrowsAnswersZeroAndTheOthersAreStillServed) {
  // Senders that wait together are handled as one batch: a failure in one must answer the rest.
  WindowThread owner("TestThrowing", Throwing);
  EXPECT_EQ(WrongAnswersOfSenders(4, 100,
                                  [&](int) {
                                    return (SendMessageA(owner.Window(), WM_APP + 1, 0, 0) != 0) +
                                           (SendMessageA(owner.Window(), WM_APP, 1, 0) !=
                                            static_cast<LRESULT>(owner.ThreadId() + 1));
                                  }),
            0);
}

TEST(ConcurrentMessages, WaitingThreadHandlesSentMessagesUntilDone) {
  // The shape of stopping the server: this thread owns a window and waits for workers, one of which
  // needs that window before it can finish.
  RegisterClassA(WNDCLASSA{Basic, nullptr, "TestWaiter"});
  HWND mine = CreateWindowExA("TestWaiter", "", nullptr, nullptr, nullptr);
  std::atomic<bool> done{false};
  std::atomic<LRESULT> answer{0};
  std::thread worker([&] {
    answer = SendMessageA(mine, WM_APP, 1, 0);
    done = true;
  });
  WaitHandlingSentMessages([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(answer, static_cast<LRESULT>(GetCurrentThreadId() + 1));
  DestroyWindow(mine);
}

TEST(ConcurrentMessages, SendersAreReleasedWhenTheOwnerThreadEnds) {
  std::promise<void> entered;
  blockedHandlerEntered = &entered;
  releaseBlockedHandler = false;
  auto* owner = new WindowThread("TestSlow", Slow);
  HWND window = owner->Window();
  std::thread first([&] { SendMessageA(window, WM_APP + 4, 0, 0); });
  entered.get_future().wait();
  // A second sender queues behind the busy handler; then the thread quits without handling it.
  std::atomic<bool> secondReturned{false};
  std::thread second([&] {
    SendMessageA(window, WM_APP, 0, 0);
    secondReturned = true;
  });
  std::this_thread::sleep_for(50ms);
  PostMessageA(window, WM_APP + 99, 0, 0);
  releaseBlockedHandler = true;
  first.join();
  second.join();
  EXPECT_TRUE(secondReturned);
  delete owner;
}

}  // namespace
}  // namespace platform

// platform::Thread: a body that throws ends its own thread and nothing else.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>

#include "platform/system.h"

namespace platform {
namespace {

TEST(Thread, BodyThatThrowsEndsOnlyItsOwnThread) {
  struct Case {
    std::string name;
    std::function<void()> failure;
  };
  const Case cases[] = {
      {"standard exception", [] { throw std::runtime_error("body failed"); }},
      {"bad allocation", [] { throw std::bad_alloc(); }},
      {"anything else", [] { throw 42; }},
      {"nothing", [] {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> started{false};
    Thread thread = Thread::Start(64 * 1024, [&] {
      started = true;
      c.failure();
    });
    thread.Join();
    EXPECT_TRUE(started);
    EXPECT_FALSE(thread.Joinable());
  }
}

TEST(StopSignal, ARequestEndsTheWaitOfAnotherThread) {
  StopSignal stop;
  EXPECT_FALSE(stop.Requested());
  EXPECT_FALSE(stop.WaitFor(std::chrono::milliseconds(1)));
  std::atomic<bool> stopped{false};
  // The thread sleeps far longer than any test runs; only the request can end its wait.
  Thread thread = Thread::Start(
      64 * 1024, [&] { stopped = stop.WaitFor(std::chrono::hours(1)); }, Thread::Priority::Idle);
  stop.Request();
  thread.Join();
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(stop.Requested());
  EXPECT_TRUE(stop.WaitFor(std::chrono::hours(1)));  // once made, it stays
}

}  // namespace
}  // namespace platform

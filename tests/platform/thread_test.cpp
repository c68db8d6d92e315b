// platform::Thread: a body that throws ends its own thread and nothing else.

#include <gtest/gtest.h>

#include <atomic>
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

}  // namespace
}  // namespace platform

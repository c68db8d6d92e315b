// Failed logins per address: the block after too many, its end, the window the failures count in, and
// the bounded memory.

#include "core/loginthrottle.h"

#include <gtest/gtest.h>

#include <string>

namespace qf {
namespace {

using namespace std::chrono_literals;
using Clock = LoginThrottle::Clock;

TEST(LoginThrottle, TheTenthFailureWithinFiveMinutesBlocksThatAddressForAMinute) {
  LoginThrottle throttle;
  const Clock::time_point start{};
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(throttle.Failed("10.0.0.5", start + i * 20s)) << i;
  EXPECT_FALSE(throttle.Blocked("10.0.0.5", start + 3min));
  EXPECT_TRUE(throttle.Failed("10.0.0.5", start + 4min));
  EXPECT_TRUE(throttle.Blocked("10.0.0.5", start + 4min));
  EXPECT_TRUE(throttle.Blocked("10.0.0.5", start + 4min + 59s));
  EXPECT_FALSE(throttle.Blocked("10.0.0.6", start + 4min)) << "other addresses are not affected";
  EXPECT_FALSE(throttle.Failed("10.0.0.5", start + 4min + 30s)) << "failures while blocked start nothing";
  EXPECT_FALSE(throttle.Blocked("10.0.0.5", start + 5min));
  // The failures that earned the block are spent: the next block takes ten new ones.
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(throttle.Failed("10.0.0.5", start + 5min + i * 1s));
  EXPECT_TRUE(throttle.Failed("10.0.0.5", start + 5min + 10s));
}

TEST(LoginThrottle, FailuresOlderThanTheWindowDoNotCount) {
  LoginThrottle throttle;
  const Clock::time_point start{};
  for (int i = 0; i < 9; ++i) throttle.Failed("10.0.0.5", start);
  EXPECT_FALSE(throttle.Failed("10.0.0.5", start + 5min)) << "the nine of the start have left the window";
  EXPECT_FALSE(throttle.Blocked("10.0.0.5", start + 5min));
}

TEST(LoginThrottle, RemembersABoundedNumberOfAddressesAndKeepsTheBlockedOnes) {
  LoginThrottle throttle(LoginThrottle::Limits{3, 5min, 60s, 4});
  const Clock::time_point start{};
  for (int i = 0; i < 3; ++i) throttle.Failed("blocked", start);
  ASSERT_TRUE(throttle.Blocked("blocked", start));
  for (int address = 0; address < 1000; ++address) throttle.Failed("a" + std::to_string(address), start + 1s);
  EXPECT_TRUE(throttle.Blocked("blocked", start + 2s)) << "a flood of new addresses does not lift a block";
  // Every slot but the blocked one held the flood; three failures of one address still block it.
  for (int i = 0; i < 2; ++i) throttle.Failed("late", start + 3s);
  EXPECT_TRUE(throttle.Failed("late", start + 3s));
}

}  // namespace
}  // namespace qf

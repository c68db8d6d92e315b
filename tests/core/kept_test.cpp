// Kept: one object shared by the callers that come one after another, let go when idle.

#include "core/kept.h"

#include <gtest/gtest.h>

namespace qf {
namespace {

using namespace std::chrono_literals;

TEST(Kept, SharesOneObjectUntilItIsIdleAndNeverLetsAHolderDown) {
  Kept<std::string> kept;
  int made = 0;
  auto make = [&] { return std::make_shared<const std::string>("made " + std::to_string(++made)); };
  const auto start = Kept<std::string>::Clock::now();

  auto first = kept.Take("a", make, start);
  auto second = kept.Take("a", make, start + 1500ms);
  EXPECT_EQ(first, second);
  EXPECT_EQ(made, 1);

  // Idle counts from the last take.
  kept.ReleaseIdle(2s, start + 3s);
  EXPECT_TRUE(kept.Holds());
  kept.ReleaseIdle(2s, start + 3500ms);
  EXPECT_FALSE(kept.Holds());
  EXPECT_EQ(*first, "made 1") << "a holder keeps what was let go";

  EXPECT_EQ(*kept.Take("a", make, start + 4s), "made 2");
  EXPECT_EQ(*kept.Take("b", make, start + 4s), "made 3") << "another key is another object";
  kept.ReleaseIdle(0ms, start + 4s);
  EXPECT_FALSE(kept.Holds());

  // What could not be made is not kept: the next caller tries again.
  EXPECT_EQ(kept.Take("c", [] { return std::shared_ptr<const std::string>(); }), nullptr);
  EXPECT_FALSE(kept.Holds());
  EXPECT_EQ(*kept.Take("c", make), "made 4");
}

}  // namespace
}  // namespace qf

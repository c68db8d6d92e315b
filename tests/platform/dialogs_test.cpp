// The input box's geometry and the thread's dialog owner, which both systems share.

#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using platform::InputBoxLayout;

TEST(InputBoxLayout, SixteenPixelsOfMarginAndTenBetweenTheRows) {
  struct Case {
    int promptWidth;
    int clientWidth;
  } cases[] = {{40, 220}, {188, 220}, {189, 221}, {300, 332}, {5000, 1000}};
  for (const Case& c : cases) {
    InputBoxLayout layout = platform::LayOutInputBox(c.promptWidth, 13, 21, 75, 23, 1000);
    SCOPED_TRACE(c.promptWidth);
    EXPECT_EQ(layout.clientWidth, c.clientWidth);
    EXPECT_EQ(layout.prompt.left, 16);
    EXPECT_EQ(layout.prompt.top, 16);
    EXPECT_EQ(layout.prompt.height, 13);
    EXPECT_EQ(layout.prompt.Right(), layout.clientWidth - 16);
    EXPECT_EQ(layout.edit.left, 16);
    EXPECT_EQ(layout.edit.top, layout.prompt.Bottom() + 10);
    EXPECT_EQ(layout.edit.Right(), layout.clientWidth - 16);
    EXPECT_EQ(layout.edit.height, 21);
    EXPECT_EQ(layout.ok.top, layout.edit.Bottom() + 10);
    EXPECT_EQ(layout.cancel.top, layout.ok.top);
    EXPECT_EQ(layout.cancel.Right(), layout.clientWidth - 16);
    EXPECT_EQ(layout.ok.Right() + 10, layout.cancel.left);
    EXPECT_EQ(layout.ok.width, 75);
    EXPECT_EQ(layout.clientHeight, layout.ok.Bottom() + 16);
  }
}

TEST(InputBoxLayout, ButtonsWiderThanTheNarrowestBoxWidenIt) {
  InputBoxLayout layout = platform::LayOutInputBox(10, 13, 21, 120, 23, 200);
  EXPECT_EQ(layout.clientWidth, 2 * 120 + 10 + 2 * 16);
  EXPECT_GE(layout.ok.left, 16);
}

TEST(DialogOwner, ScopesNestAndBelongToTheirThread) {
  auto* outer = reinterpret_cast<platform::HWND>(0x10);
  auto* inner = reinterpret_cast<platform::HWND>(0x20);
  EXPECT_EQ(platform::DialogOwner::Current(), nullptr);
  {
    platform::DialogOwner first(outer);
    {
      platform::DialogOwner second(inner);
      EXPECT_EQ(platform::DialogOwner::Current(), inner);
      platform::HWND elsewhere = outer;
      std::thread([&] { elsewhere = platform::DialogOwner::Current(); }).join();
      EXPECT_EQ(elsewhere, nullptr);
    }
    EXPECT_EQ(platform::DialogOwner::Current(), outer);
  }
  EXPECT_EQ(platform::DialogOwner::Current(), nullptr);
}

}  // namespace

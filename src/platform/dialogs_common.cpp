// What the dialogs of both systems share: the owner scope of a thread and the input box's geometry.

#include <algorithm>

#include "platform/dialogs.h"

namespace platform {
namespace {

thread_local HWND currentOwner = nullptr;

constexpr int kMargin = 16;
constexpr int kGap = 10;
constexpr int kNarrowest = 220;

}  // namespace

DialogOwner::DialogOwner(HWND owner) : previous_(currentOwner) { currentOwner = owner; }
DialogOwner::~DialogOwner() { currentOwner = previous_; }
HWND DialogOwner::Current() { return currentOwner; }

InputBoxLayout LayOutInputBox(int promptWidth, int lineHeight, int editHeight, int buttonWidth, int buttonHeight,
                              int widest) {
  InputBoxLayout layout;
  const int buttons = 2 * buttonWidth + kGap;
  layout.clientWidth = std::max({kNarrowest, promptWidth + 2 * kMargin, buttons + 2 * kMargin});
  layout.clientWidth = std::max(std::min(layout.clientWidth, widest), std::max(kNarrowest, buttons + 2 * kMargin));
  const int inner = layout.clientWidth - 2 * kMargin;
  layout.prompt = {kMargin, kMargin, inner, lineHeight};
  layout.edit = {kMargin, layout.prompt.Bottom() + kGap, inner, editHeight};
  const int buttonTop = layout.edit.Bottom() + kGap;
  layout.cancel = {layout.clientWidth - kMargin - buttonWidth, buttonTop, buttonWidth, buttonHeight};
  layout.ok = {layout.cancel.left - kGap - buttonWidth, buttonTop, buttonWidth, buttonHeight};
  layout.clientHeight = buttonTop + buttonHeight + kMargin;
  return layout;
}

}  // namespace platform

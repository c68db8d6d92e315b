#pragma once
// The state of a window's controls as the models keep it: what a view shows and what a test reads. A
// view binds each record to its control and forwards the control's events to the model.

#include <string>
#include <vector>

namespace qf {

struct CheckBox {
  std::string caption{};
  bool checked = false;
  bool enabled = true;
  bool visible = true;
};

struct EditBox {
  std::string text{};
  std::string hint{};
  bool enabled = true;
  bool focused = false;       // has the keyboard focus
  bool textSelected = false;  // the whole text is selected
};

struct Button {
  std::string caption{};
  bool enabled = true;
};

struct Label {
  std::string caption{};
  std::string hint{};
  bool enabled = true;
  bool visible = true;
  bool grayed = false;  // drawn in the gray text colour
};

// A list box or a drop-down list: its entries and the selected one (-1: none).
struct ListBox {
  std::vector<std::string> items{};
  int selected = -1;
  std::string hint{};
  bool enabled = true;
};

// Where a window stands on the screen; the windows hand it to each other when one replaces the other.
struct WindowPosition {
  int left = 0;
  int top = 0;
};

}  // namespace qf

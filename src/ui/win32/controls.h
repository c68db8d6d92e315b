#pragma once
// What the two views share: showing the models' records (ui/controls.h) in Win32 controls, reading
// what a control holds, the hints of a window as tooltips, and the pages of a tab control.
//
// Every Show compares with what the control shows now and changes only what differs, so a view can
// show its whole model after every event: a text being typed keeps its caret, a list its scroll
// position. Everything here runs on the thread that owns the windows.

// The models' headers come before <windows.h>, whose macros would rewrite their names.
#include <map>
#include <string>
#include <vector>

#include "ui/controls.h"

#include <windows.h>

namespace qf::win32 {

std::string TextOf(HWND control);
int SelectionOf(HWND listOrCombo);  // -1: none

void Show(HWND control, const CheckBox& box);
void Show(HWND control, const EditBox& box);  // text and enabled state; the focus is the view's
void Show(HWND control, const Button& button);
// A label drawn in the gray text colour is shown disabled.
void Show(HWND control, const Label& label);
// A list box or a drop-down list (the class decides).
void Show(HWND control, const ListBox& list);

// The tooltips of one window: each control shows its hint while the mouse rests on it; an empty hint
// shows none. The tooltip window goes with the object.
class Hints {
 public:
  Hints(HWND owner, HINSTANCE module);
  ~Hints();
  Hints(const Hints&) = delete;
  Hints& operator=(const Hints&) = delete;
  void Show(HWND control, const std::string& hint);

 private:
  HWND owner_;
  HWND tooltip_ = nullptr;
  std::map<HWND, std::string> shown_;
};

// The pages of a tab control: child dialogs laid over its display area, one visible at a time. A page
// without a title has no tab and is never shown. The pages are destroyed with their parent.
class Pages {
 public:
  Pages(HWND parent, int tabsId, HINSTANCE module, DLGPROC procedure, LPARAM param);
  // Adds the page made from the dialog resource `dialogId`.
  void Add(int dialogId, const char* title);
  // Shows the page at `index` (in the order of Add) and selects its tab.
  void Show(int index);
  int Selected() const;  // the selected tab, -1: none
  std::size_t Count() const { return pages_.size(); }
  HWND Page(std::size_t index) const { return pages_[index]; }
  // The control with this id on the parent or on any page; null when there is none.
  HWND Control(int id) const;

 private:
  HWND parent_;
  HWND tabs_;
  HINSTANCE module_;
  DLGPROC procedure_;
  LPARAM param_;
  std::vector<HWND> pages_;
  std::vector<bool> tabbed_;
};

// The module whose resources the views load: `given` (the plug-in's instance handle the player passed),
// else the module that holds this code. Never the program's own module, which is the player's.
HINSTANCE ResourceModule(void* given);

}  // namespace qf::win32

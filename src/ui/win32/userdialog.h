#pragma once
// TUserDialog: the user management window, a modal dialog that shows a TUserForm and passes the events
// of its controls to it. Made from the module's dialog resources; lives on the stack of the event that
// opens it (the configuration window's "edit user"), on that window's thread.

// The models' headers come before <windows.h>, whose macros would rewrite their names.
#include <memory>

#include "ui/userform.h"
#include "ui/win32/controls.h"

#include <windows.h>

namespace qf::win32 {

class TUserDialog {
 public:
  TUserDialog(TUserForm& form, HINSTANCE module);
  ~TUserDialog();
  TUserDialog(const TUserDialog&) = delete;
  TUserDialog& operator=(const TUserDialog&) = delete;

  // Shows the window, modal to `owner`, until the form is closed.
  void Run(HWND owner);
  // Closes the window as its close button does; it goes once the event that is running has returned.
  void Close();
  HWND Window() const { return dialog_; }

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Initialise(HWND dialog);
  void Command(int id, int code, HWND control);
  template <class Event>
  void Run(Event&& event);
  void Refresh();

  TUserForm& form_;
  HINSTANCE module_;
  HWND dialog_ = nullptr;
  std::unique_ptr<Pages> pages_;
  std::unique_ptr<Hints> hints_;
  bool refreshing_ = false;  // the controls are being changed to show the form: their notifications are ours
};

}  // namespace qf::win32

// The platform's headers come before <windows.h> (which the view's header includes), whose macros would
// rewrite their names.
#include "platform/dialogs.h"

#include "ui/win32/resource.h"
#include "ui/win32/userdialog.h"

#include <commctrl.h>

namespace qf::win32 {
namespace {

using Right = TUserForm::Right;

struct RightControl {
  int id;
  Right right;
};
constexpr RightControl kRights[] = {{IDC_CHANGE_STATE, Right::ChangeState}, {IDC_ADD_FILES, Right::AddFiles},
                                    {IDC_REMOVE_ALL, Right::RemoveAll},     {IDC_REMOVE_HIS, Right::RemoveHis},
                                    {IDC_DOWNLOAD, Right::Download},        {IDC_ADMIN, Right::Admin}};

// The pages in the order of TUserForm::Page.
struct PageResource {
  int dialog;
  const char* title;
};
constexpr PageResource kPages[] = {{IDD_USER_ACCESS, "access"},
                                   {IDD_USER_PRIVILEGES, "privileges"},
                                   {IDD_USER_BROWSING, "browsing"},
                                   {IDD_USER_UPLOAD, "file upload"},
                                   {IDD_USER_SKINS, "skins"}};

}  // namespace

TUserDialog::TUserDialog(TUserForm& form, HINSTANCE module) : form_(form), module_(module) {}

TUserDialog::~TUserDialog() = default;

void TUserDialog::Run(HWND owner) {
  ::DialogBoxParamA(module_, MAKEINTRESOURCEA(IDD_USER), owner, Procedure, reinterpret_cast<LPARAM>(this));
  hints_.reset();
  pages_.reset();
  dialog_ = nullptr;
}

void TUserDialog::Close() {
  if (dialog_) ::PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_USER_CLOSE, BN_CLICKED), 0);
}

// Nothing thrown here may reach the dialog manager: the player's thread runs it.
INT_PTR CALLBACK TUserDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      reinterpret_cast<TUserDialog*>(lParam)->Initialise(dialog);
      return TRUE;
    }
    auto* view = reinterpret_cast<TUserDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    return view ? view->Handle(message, wParam, lParam) : FALSE;
  } catch (...) {
    return FALSE;
  }
}

// The pages pass what their controls tell them on to the window.
INT_PTR CALLBACK TUserDialog::PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(page, DWLP_USER, lParam);
      return FALSE;
    }
    auto* view = reinterpret_cast<TUserDialog*>(::GetWindowLongPtrA(page, DWLP_USER));
    if (view && (message == WM_COMMAND || message == WM_NOTIFY)) return view->Handle(message, wParam, lParam);
    return FALSE;
  } catch (...) {
    return FALSE;
  }
}

void TUserDialog::Initialise(HWND dialog) {
  dialog_ = dialog;
  pages_ = std::make_unique<Pages>(dialog, IDC_USER_TABS, module_, PageProcedure, reinterpret_cast<LPARAM>(this));
  for (const PageResource& page : kPages) pages_->Add(page.dialog, page.title);
  hints_ = std::make_unique<Hints>(dialog, module_);
  ::SendMessageA(pages_->Control(IDC_TRACKS), EM_LIMITTEXT, 9, 0);
  for (int box = 0; box < 3; ++box) ::SendMessageA(pages_->Control(IDC_LIMIT + box), EM_LIMITTEXT, 6, 0);
  ::SetWindowPos(dialog, form_.AlwaysOnTop ? HWND_TOPMOST : nullptr, form_.Position.left, form_.Position.top, 0, 0,
                 SWP_NOSIZE | SWP_NOACTIVATE | (form_.AlwaysOnTop ? 0 : SWP_NOZORDER));
  Refresh();
}

INT_PTR TUserDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (!refreshing_) Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (!refreshing_ && header->idFrom == IDC_USER_TABS && header->code == TCN_SELCHANGE)
        Run([&] { form_.ShowPage(static_cast<TUserForm::Page>(pages_->Selected())); });
      return TRUE;
    }
    case WM_MOVE:
      if (!refreshing_) {
        RECT frame;
        ::GetWindowRect(dialog_, &frame);
        form_.Moved(WindowPosition{static_cast<int>(frame.left), static_cast<int>(frame.top)});
      }
      return TRUE;
    case WM_CLOSE:
      Run([&] { form_.Close(); });
      return TRUE;
    default:
      return FALSE;
  }
}

void TUserDialog::Command(int id, int code, HWND control) {
  const bool clicked = code == BN_CLICKED;
  if (code == EN_CHANGE) {
    std::string text = TextOf(control);
    if (id == IDC_LOGIN) return Run([&] { form_.TypeLogin(text); });
    if (id == IDC_PASSWORD) return Run([&] { form_.TypePassword(text); });
    if (id == IDC_TRACKS) return Run([&] { form_.TypeTracksPerHour(text); });
    if (id == IDC_USER_FOLDER) return Run([&] { form_.TypeFolder(text); });
    if (id >= IDC_FROM && id < IDC_FROM + 7) return Run([&] { form_.TypeFrom(id - IDC_FROM, text); });
    if (id >= IDC_TO && id < IDC_TO + 7) return Run([&] { form_.TypeTo(id - IDC_TO, text); });
    if (id >= IDC_LIMIT && id < IDC_LIMIT + 3) return Run([&] { form_.TypeLimit(id - IDC_LIMIT + 2, text); });
    return;
  }
  if (code == EN_KILLFOCUS) {
    if (id == IDC_LOGIN) return Run([&] { form_.LoginLostFocus(); });
    if (id == IDC_USER_FOLDER) return Run([&] { form_.LeaveFolderBox(); });
    return;
  }
  if (id == IDC_LOGINS && code == LBN_SELCHANGE) return Run([&] { form_.SelectLogin(SelectionOf(control)); });
  if (id == IDC_USER_SKINS && code == CBN_SELCHANGE) return Run([&] { form_.ChooseSkin(SelectionOf(control)); });
  if (!clicked) return;
  for (const RightControl& row : kRights)
    if (id == row.id) return Run([&] { form_.SetRight(row.right, !form_.RightBox(row.right).checked); });
  if (id >= IDC_DAY && id < IDC_DAY + 7)
    return Run([&] { form_.SetDay(id - IDC_DAY, !form_.Days[static_cast<std::size_t>(id - IDC_DAY)].checked); });
  if (id >= IDC_MODE && id < IDC_MODE + 4) return Run([&] { form_.SetUploadMode(id - IDC_MODE + 1); });
  switch (id) {
    case IDC_USER_DELETE:
      return Run([&] { form_.Delete(); });
    case IDC_CREATE:
      return Run([&] { form_.Create(); });
    case IDC_SAVE:
      return Run([&] { form_.Save(); });
    case IDC_CLONE:
      return Run([&] { form_.Clone(); });
    case IDC_USER_BROWSE:
      return Run([&] { form_.BrowseFolder(); });
    case IDC_ABOVE_ROOT:
      return Run([&] { form_.SetBrowseAboveRoot(!form_.BrowseAboveRoot.checked); });
    case IDC_USER_DRIVES:
      return Run([&] { form_.SetDisplayDrives(!form_.DisplayDrives.checked); });
    case IDC_ALLOW_UPLOAD:
      return Run([&] { form_.SetUploadAllowed(!form_.AllowUpload.checked); });
    case IDC_CHANGE_SKIN:
      return Run([&] { form_.SetChangeSkin(!form_.ChangeSkin.checked); });
    case IDC_USER_CLOSE:
    case IDCANCEL:  // Escape
      return Run([&] { form_.Close(); });
    default:
      return;
  }
}

// Runs one event of the form with this window as the owner of its message boxes and dialogs, then shows
// the form again. An event that fails leaves the form as far as it got, and the window shows that.
template <class Event>
void TUserDialog::Run(Event&& event) {
  try {
    platform::DialogOwner owner(reinterpret_cast<platform::HWND>(dialog_));
    event();
  } catch (...) {
  }
  Refresh();
}

void TUserDialog::Refresh() {
  if (!dialog_ || refreshing_) return;
  refreshing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{refreshing_};
  const Pages& pages = *pages_;
  if (TextOf(dialog_) != form_.Title) ::SetWindowTextA(dialog_, form_.Title.c_str());
  Show(pages.Control(IDC_LOGINS), form_.Logins);
  Show(pages.Control(IDC_USER_DELETE), form_.DeleteButton);
  Show(pages.Control(IDC_LOGIN), form_.Login);
  Show(pages.Control(IDC_PASSWORD), form_.Password);
  Show(pages.Control(IDC_CREATE), form_.CreateButton);
  Show(pages.Control(IDC_SAVE), form_.SaveButton);
  Show(pages.Control(IDC_CLONE), form_.CloneButton);
  for (int day = 0; day < 7; ++day) {
    auto index = static_cast<std::size_t>(day);
    Show(pages.Control(IDC_DAY + day), form_.Days[index]);
    Show(pages.Control(IDC_FROM + day), form_.From[index]);
    Show(pages.Control(IDC_TO + day), form_.To[index]);
  }
  Show(pages.Control(IDC_TRACKS), form_.TracksPerHour);
  for (const RightControl& row : kRights) Show(pages.Control(row.id), form_.RightBox(row.right));
  Show(pages.Control(IDC_USER_FOLDER), form_.Folder);
  Show(pages.Control(IDC_USER_BROWSE), form_.BrowseButton);
  Show(pages.Control(IDC_ABOVE_ROOT), form_.BrowseAboveRoot);
  Show(pages.Control(IDC_USER_DRIVES), form_.DisplayDrives);
  Show(pages.Control(IDC_ALLOW_UPLOAD), form_.AllowUpload);
  for (int mode = 0; mode < 4; ++mode) {
    Show(pages.Control(IDC_MODE + mode), form_.Modes[static_cast<std::size_t>(mode)]);
    HWND usage = pages.Control(IDC_USAGE + mode);
    Show(usage, form_.Usage[static_cast<std::size_t>(mode)]);
    hints_->Show(usage, form_.Usage[static_cast<std::size_t>(mode)].hint);
  }
  for (int box = 0; box < 3; ++box) Show(pages.Control(IDC_LIMIT + box), form_.Limits[static_cast<std::size_t>(box)]);
  Show(pages.Control(IDC_USER_SKINS), form_.Skins);
  Show(pages.Control(IDC_CHANGE_SKIN), form_.ChangeSkin);
  Show(pages.Control(IDC_USER_CLOSE), form_.CloseButton);
  pages_->Show(static_cast<int>(form_.VisiblePage));
  HWND login = pages.Control(IDC_LOGIN);
  if (form_.Login.focused && ::GetFocus() != login && ::IsWindowEnabled(dialog_))
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(login), TRUE);
  if (!form_.Visible) ::EndDialog(dialog_, 0);
}

}  // namespace qf::win32

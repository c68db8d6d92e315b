// TConfigDialog: the configuration window, a modeless dialog on the player's thread that shows the
// TConfigForm of the configuration window's model and passes the events of its controls to it.
//
// The player's message loop knows nothing of this dialog, so it never calls IsDialogMessage for it: a
// hook on the player's thread alone (WH_GETMESSAGE, installed and removed with the dialog) hands the
// dialog's keyboard messages to IsDialogMessage, which gives Tab, the arrows, Enter and Escape their
// dialog meaning.

// The models' headers come before <windows.h>, whose macros would rewrite their names.
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "platform/dialogs.h"
#include "ui/configform.h"
#include "ui/configwindow.h"
#include "ui/views.h"
#include "ui/win32/controls.h"
#include "ui/win32/resource.h"
#include "ui/win32/userdialog.h"

#include <windows.h>

#include <commctrl.h>

namespace qf {
namespace {

using win32::Show;
using win32::TextOf;
using Check = TConfigForm::Check;

// The check boxes by control id, in the order of the form's table.
struct CheckControl {
  int id;
  Check check;
};
constexpr CheckControl kChecks[] = {
    {IDC_LOCAL_ONLY, Check::LocalOnly},
    {IDC_LOG_ENABLE, Check::LogEnable},
    {IDC_LOG_TIME, Check::LogTime},
    {IDC_LOG_EVENT, Check::LogEvent},
    {IDC_LOG_IP, Check::LogRemoteIp},
    {IDC_LOG_USER, Check::LogUsername},
    {IDC_LOG_DOCUMENT, Check::LogDocument},
    {IDC_LOG_PARAMETERS, Check::LogParameters},
    {IDC_LOG_OVERWRITE, Check::LogOverwrite},
    {IDC_REMOVE_PLAYED, Check::RemovePlayed},
    {IDC_KEEP_ALIVE, Check::KeepPlaylistAlive},
    {IDC_ADD_RANDOM, Check::AddRandomTrack},
    {IDC_CLEAR_CACHE, Check::ClearCacheOnExit},
    {IDC_STAY_ON_TOP, Check::StayOnTop},
    {IDC_SUPPRESS_PORT, Check::SuppressPortMessage},
    {IDC_BROWSE_OUTSIDE, Check::BrowseOutsideRoot},
    {IDC_DISPLAY_DRIVES, Check::DisplayDrives},
    {IDC_FLOPPY_DRIVES, Check::FloppyDrives},
    {IDC_FULL_PATH, Check::FullPath},
    {IDC_SEAMLESS, Check::Seamless},
    {IDC_ALLOW_SKINS, Check::AllowSkins},
    {IDC_SRC_OUTSIDE, Check::AllowSrcOutside},
    {IDC_SHUTDOWN, Check::AllowShutdown},
    {IDC_LOCKING, Check::AllowLocking},
    {IDC_UPLOAD, Check::AllowUpload},
    {IDC_USERS, Check::EnableUsers},
    {IDC_IP_MANAGEMENT, Check::IpManagement},
    {IDC_CROSS_SITE, Check::AllowCrossSite},
};

// The pages in the order of TConfigForm::Page; the debug page has no tab.
struct PageResource {
  int dialog;
  const char* title;
};
constexpr PageResource kPages[] = {{IDD_CONFIG_SERVER, "server setup"}, {IDD_CONFIG_GENERAL, "general"},
                                   {IDD_CONFIG_FOLDER, "music folder"}, {IDD_CONFIG_SKINS, "skins"},
                                   {IDD_CONFIG_SECURITY, "security"},   {IDD_CONFIG_DEBUG, nullptr}};

// The labels that act as links: drawn underlined in the link colour, with the hand cursor.
constexpr int kLinks[] = {IDC_LINK, IDC_LOG_VIEW, IDC_REFRESH_NOW};
constexpr int kIcons = 6;

bool IsLink(int id) {
  for (int link : kLinks)
    if (id == link) return true;
  return false;
}

class TConfigDialog final : public ConfigView {
 public:
  TConfigDialog(TConfigWindow& window, HINSTANCE module);
  ~TConfigDialog() override;
  TConfigDialog(const TConfigDialog&) = delete;
  TConfigDialog& operator=(const TConfigDialog&) = delete;

  void Refresh() override;
  void Present() override;
  void RunUserWindow(TUserForm& form) override;
  bool Busy() const override { return depth_ > 0; }
  void WhenIdle(std::function<void()> then) override;

 private:
  static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
  // The pages, tooltips, icons, font and keyboard hook of the dialog just made.
  void Build();
  void Release() noexcept;
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Command(int id, int code, HWND control);
  template <class Event>
  void Run(Event&& event);
  HWND Control(int id) const { return pages_->Control(id); }
  TConfigForm& Form() const { return *window_.Form; }

  static TConfigDialog* hooked_;  // the dialog whose keys the hook hands over; there is one

  TConfigWindow& window_;
  HINSTANCE module_;
  HWND dialog_ = nullptr;
  HHOOK hook_ = nullptr;
  HFONT linkFont_ = nullptr;
  std::array<HICON, kIcons> icons_{};
  std::array<HICON, kIcons> smallIcons_{};
  int iconShown_ = -1;
  std::unique_ptr<win32::Pages> pages_;
  std::unique_ptr<win32::Hints> hints_;
  std::map<int, const TConfigForm::CheckRow*> checks_;  // by control id
  win32::TUserDialog* userDialog_ = nullptr;            // while the user window is open
  int depth_ = 0;                                       // events running, one inside the other
  bool refreshing_ = false;  // the controls are being changed to show the form: their notifications are ours
  std::function<void()> idle_;
};

TConfigDialog* TConfigDialog::hooked_ = nullptr;

TConfigDialog::TConfigDialog(TConfigWindow& window, HINSTANCE module) : window_(window), module_(module) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES};
  ::InitCommonControlsEx(&controls);
  for (const TConfigForm::CheckRow& row : TConfigForm::CheckTable())
    for (const CheckControl& control : kChecks)
      if (control.check == row.check) checks_[control.id] = &row;

  dialog_ =
      ::CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_CONFIG), nullptr, Procedure, reinterpret_cast<LPARAM>(this));
  if (!dialog_) return;  // no resources: the window cannot be shown, the plug-in runs on without it
  try {
    Build();
  } catch (...) {
    Release();
    throw;
  }
}

void TConfigDialog::Build() {
  HINSTANCE module = module_;
  pages_ =
      std::make_unique<win32::Pages>(dialog_, IDC_CONFIG_TABS, module, PageProcedure, reinterpret_cast<LPARAM>(this));
  for (const PageResource& page : kPages) pages_->Add(page.dialog, page.title);
  hints_ = std::make_unique<win32::Hints>(dialog_, module);
  for (int i = 0; i < kIcons; ++i) {
    icons_[static_cast<std::size_t>(i)] =
        static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_SERVER_STATE + i), IMAGE_ICON, 32, 32, 0));
    smallIcons_[static_cast<std::size_t>(i)] =
        static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_SERVER_STATE + i), IMAGE_ICON, 16, 16, 0));
  }
  LOGFONTA font{};
  if (::GetObjectA(reinterpret_cast<HGDIOBJ>(::SendMessageA(dialog_, WM_GETFONT, 0, 0)), sizeof font, &font)) {
    font.lfUnderline = TRUE;
    linkFont_ = ::CreateFontIndirectA(&font);
  }
  for (int link : kLinks) ::SendMessageA(Control(link), WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_), FALSE);
  ::SendMessageA(Control(IDC_PORT), EM_LIMITTEXT, 5, 0);
  ::SendMessageA(Control(IDC_CACHE_PERIOD), EM_LIMITTEXT, 9, 0);

  // Centred on the screen until it is moved; the form keeps where it stands.
  RECT frame;
  ::GetWindowRect(dialog_, &frame);
  int left = (::GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2;
  int top = (::GetSystemMetrics(SM_CYSCREEN) - (frame.bottom - frame.top)) / 2;
  Form().Moved(WindowPosition{left > 0 ? left : 0, top > 0 ? top : 0});

  hooked_ = this;
  hook_ = ::SetWindowsHookExA(WH_GETMESSAGE, KeyboardHook, nullptr, ::GetCurrentThreadId());
  Refresh();
}

TConfigDialog::~TConfigDialog() { Release(); }

// The hook, the dialog and its pages and tooltip first, then the icons and the font they showed.
void TConfigDialog::Release() noexcept {
  if (hook_) ::UnhookWindowsHookEx(hook_);
  hook_ = nullptr;
  if (hooked_ == this) hooked_ = nullptr;
  hints_.reset();
  if (dialog_) ::DestroyWindow(dialog_);
  pages_.reset();
  for (HICON icon : icons_)
    if (icon) ::DestroyIcon(icon);
  for (HICON icon : smallIcons_)
    if (icon) ::DestroyIcon(icon);
  if (linkFont_) ::DeleteObject(linkFont_);
  dialog_ = nullptr;
  icons_ = {};
  smallIcons_ = {};
  linkFont_ = nullptr;
}

LRESULT CALLBACK TConfigDialog::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE && hooked_ && hooked_->dialog_) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    HWND dialog = hooked_->dialog_;
    if (message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST &&
        (message->hwnd == dialog || ::IsChild(dialog, message->hwnd)) && ::IsDialogMessageA(dialog, message)) {
      // Handled (and dispatched) by the dialog manager: the player's loop gets nothing to dispatch.
      message->message = WM_NULL;
      message->wParam = 0;
      message->lParam = 0;
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Nothing thrown here may reach the dialog manager: the player's thread runs it.
INT_PTR CALLBACK TConfigDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      return TRUE;
    }
    auto* view = reinterpret_cast<TConfigDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    return view && view->dialog_ == dialog ? view->Handle(message, wParam, lParam) : FALSE;
  } catch (...) {
    return FALSE;
  }
}

// The pages pass what their controls tell them on to the window.
INT_PTR CALLBACK TConfigDialog::PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(page, DWLP_USER, lParam);
      return FALSE;
    }
    auto* view = reinterpret_cast<TConfigDialog*>(::GetWindowLongPtrA(page, DWLP_USER));
    if (!view) return FALSE;
    if (message == WM_COMMAND || message == WM_CTLCOLORSTATIC) return view->Handle(message, wParam, lParam);
    if (message == WM_SETCURSOR && IsLink(::GetDlgCtrlID(reinterpret_cast<HWND>(wParam))) &&
        ::IsWindowEnabled(reinterpret_cast<HWND>(wParam))) {
      ::SetCursor(::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_HAND)));
      ::SetWindowLongPtrA(page, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    return FALSE;
  } catch (...) {
    return FALSE;
  }
}

INT_PTR TConfigDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (!refreshing_) Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (!refreshing_ && header->idFrom == IDC_CONFIG_TABS && header->code == TCN_SELCHANGE)
        Run([&] { Form().ShowPage(static_cast<TConfigForm::Page>(pages_->Selected())); });
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      auto dc = reinterpret_cast<HDC>(wParam);
      auto control = reinterpret_cast<HWND>(lParam);
      if (!IsLink(::GetDlgCtrlID(control))) return FALSE;
      ::SetTextColor(dc, ::IsWindowEnabled(control) ? RGB(0, 0, 204) : ::GetSysColor(COLOR_GRAYTEXT));
      ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_MOVE:
      if (!refreshing_) {
        RECT frame;
        ::GetWindowRect(dialog_, &frame);
        Form().Moved(WindowPosition{static_cast<int>(frame.left), static_cast<int>(frame.top)});
      }
      return TRUE;
    case WM_CLOSE:  // the window's X hides it, as "Close" does
      Run([&] { Form().CloseClick(); });
      return TRUE;
    default:
      return FALSE;
  }
}

void TConfigDialog::Command(int id, int code, HWND control) {
  TConfigForm& form = Form();
  if (code == EN_CHANGE) {
    std::string text = TextOf(control);
    if (id == IDC_PORT) return Run([&] { form.TypePort(text); });
    if (id == IDC_CACHE_PERIOD) return Run([&] { form.TypeCachePeriod(text); });
    if (id == IDC_ROOT) return Run([&] { form.TypeRootFolder(text); });
    if (id == IDC_LOG_PATH) return Run([&] { form.TypeLogPath(text); });
    return;
  }
  if (code == EN_KILLFOCUS && id == IDC_PORT) return Run([&] { form.PortLostFocus(); });
  if (id == IDC_SKINS && code == CBN_SETFOCUS) return Run([&] { form.SkinBoxFocused(); });
  if (id == IDC_SKINS && code == CBN_SELCHANGE) return Run([&] { form.ChooseSkin(win32::SelectionOf(control)); });
  if (id == IDC_FOLDERS && code == LBN_SELCHANGE) return Run([&] { form.SelectFolder(win32::SelectionOf(control)); });
  if (id == IDC_FOLDERS && code == LBN_DBLCLK) return Run([&] { form.ShowFolder(win32::SelectionOf(control)); });
  if (id == IDC_WHITELIST && code == LBN_SELCHANGE)
    return Run([&] { form.SelectWhitelistEntry(win32::SelectionOf(control)); });
  if (id == IDC_WHITELIST && code == LBN_DBLCLK)
    return Run([&] { form.ShowWhitelistEntry(win32::SelectionOf(control)); });
  if (code == STN_CLICKED && id == IDC_LINK) return Run([&] { form.LinkClick(); });
  if (code == STN_CLICKED && id == IDC_LOG_VIEW) return Run([&] { form.ViewLogFile(); });
  if (code == STN_CLICKED && id == IDC_REFRESH_NOW) return Run([&] { form.RefreshNow(); });
  if (code != BN_CLICKED) return;
  if (auto check = checks_.find(id); check != checks_.end()) {
    const TConfigForm::CheckRow& row = *check->second;
    return Run([&] { form.SetChecked(row.check, !(form.*row.box).checked); });
  }
  switch (id) {
    case IDC_SERVER_BUTTON:
      return Run([&] { form.ServerButtonClick(); });
    case IDC_LOG_CHOOSE:
      return Run([&] { form.ChooseLogFile(); });
    case IDC_LOG_DELETE:
      return Run([&] { form.DeleteLogFile(); });
    case IDC_ROOT_SELECT:
      return Run([&] { form.SelectRootFolder(); });
    case IDC_ROOT_CONFIRM:
      return Run([&] { form.ConfirmRootFolder(); });
    case IDC_FOLDER_ADD:
      return Run([&] { form.AddFolder(); });
    case IDC_FOLDER_DEL:
      return Run([&] { form.DeleteFolder(form.AdditionalFolders.selected); });
    case IDC_WHITELIST_ADD:
      return Run([&] { form.AddWhitelistEntry(); });
    case IDC_WHITELIST_EDIT:
      return Run([&] { form.EditWhitelistEntry(form.Whitelist.selected); });
    case IDC_WHITELIST_DELETE:
      return Run([&] { form.DeleteWhitelistEntry(form.Whitelist.selected); });
    case IDC_EDIT_USER:
      return Run([&] { form.EditUserClick(); });
    case IDC_HELP_BUTTON:
      return Run([&] { form.HelpClick(); });
    case IDC_CLOSE:
    case IDCANCEL:  // Escape
      return Run([&] { form.CloseClick(); });
    default:
      return;
  }
}

// Runs one event of the form with this window as the owner of its message boxes and dialogs, then shows
// the form again, and runs what waited for the events to end. An event that fails leaves the form as far
// as it got, and the window shows that.
template <class Event>
void TConfigDialog::Run(Event&& event) {
  ++depth_;
  try {
    platform::DialogOwner owner(reinterpret_cast<platform::HWND>(dialog_));
    event();
  } catch (...) {
  }
  --depth_;
  Refresh();
  if (depth_ == 0 && idle_) {
    std::function<void()> then = std::move(idle_);
    idle_ = nullptr;
    then();
  }
}

void TConfigDialog::Refresh() {
  if (!dialog_ || refreshing_ || !window_.Form) return;
  TConfigForm& form = Form();
  // A hidden window is brought up to date when it is shown.
  if (!form.Visible && !::IsWindowVisible(dialog_)) return;
  refreshing_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{refreshing_};

  if (TextOf(dialog_) != form.Title) ::SetWindowTextA(dialog_, form.Title.c_str());
  const bool topmost = (::GetWindowLongA(dialog_, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
  if (topmost != form.StayOnTop.checked)
    ::SetWindowPos(dialog_, form.StayOnTop.checked ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RECT frame;
  ::GetWindowRect(dialog_, &frame);
  if (frame.left != form.Position.left || frame.top != form.Position.top)
    ::SetWindowPos(dialog_, nullptr, form.Position.left, form.Position.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  if (TextOf(Control(IDC_VERSION)) != form.VersionLabel)
    ::SetWindowTextA(Control(IDC_VERSION), form.VersionLabel.c_str());
  for (const auto& [id, row] : checks_) Show(Control(id), form.*row->box);
  Show(Control(IDC_PORT), form.Port);
  Show(Control(IDC_SERVER_BUTTON), form.ServerButton);
  Show(Control(IDC_LINK), form.Link);
  Show(Control(IDC_LOG_PATH), form.LogPath);
  hints_->Show(Control(IDC_LOG_PATH), form.LogPath.hint);
  Show(Control(IDC_CACHE_PERIOD), form.CachePeriod);
  Show(Control(IDC_CACHE_COUNT), form.CacheCount);
  Show(Control(IDC_ROOT), form.RootFolder);
  Show(Control(IDC_ROOT_CONFIRM), form.ConfirmRoot);
  Show(Control(IDC_FOLDER_GROUP), form.AdditionalGroup);
  Show(Control(IDC_FOLDERS), form.AdditionalFolders);
  Show(Control(IDC_SKINS), form.Skins);
  hints_->Show(Control(IDC_SKINS), form.Skins.hint);
  Show(Control(IDC_WHITELIST), form.Whitelist);
  Show(Control(IDC_DEBUG_MEMO), form.DebugMemo);

  if (form.IconIndex != iconShown_ && form.IconIndex >= 0 && form.IconIndex < kIcons) {
    iconShown_ = form.IconIndex;
    auto index = static_cast<std::size_t>(iconShown_);
    ::SendMessageA(Control(IDC_SERVER_ICON), STM_SETICON, reinterpret_cast<WPARAM>(icons_[index]), 0);
    ::SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icons_[index]));
    ::SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcons_[index]));
  }
  hints_->Show(Control(IDC_SERVER_ICON), form.IconHint);
  pages_->Show(static_cast<int>(form.VisiblePage));

  if ((::IsWindowVisible(dialog_) != FALSE) != form.Visible) ::ShowWindow(dialog_, form.Visible ? SW_SHOW : SW_HIDE);
  // The port box after a failed start: the focus and its whole text, once, when it does not have it yet.
  HWND port = Control(IDC_PORT);
  if (form.Port.focused && form.Visible && ::IsWindowEnabled(dialog_) && ::GetFocus() != port) {
    ::SendMessageA(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(port), TRUE);
    if (form.Port.textSelected) ::SendMessageA(port, EM_SETSEL, 0, -1);
  }
}

void TConfigDialog::Present() {
  if (!dialog_) return;
  if (!Form().Show() && userDialog_ && userDialog_->Window()) {
    ::SetForegroundWindow(userDialog_->Window());
    return;
  }
  Refresh();
  ::SetForegroundWindow(dialog_);
}

void TConfigDialog::RunUserWindow(TUserForm& form) {
  if (!dialog_ || idle_) return;  // the player is closing: no window opens any more
  win32::TUserDialog user(form, module_);
  userDialog_ = &user;
  Refresh();  // this window hides while the user window is open
  try {
    user.Run(dialog_);
  } catch (...) {
    userDialog_ = nullptr;
    throw;
  }
  userDialog_ = nullptr;
}

void TConfigDialog::WhenIdle(std::function<void()> then) {
  if (!Busy()) return then();
  idle_ = std::move(then);
  if (userDialog_) userDialog_->Close();
}

}  // namespace

std::unique_ptr<ConfigView> CreateConfigView(TConfigWindow& window, void* moduleInstance) {
  return std::make_unique<TConfigDialog>(window, win32::ResourceModule(moduleInstance));
}

}  // namespace qf

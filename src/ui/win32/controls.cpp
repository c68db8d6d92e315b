#include "ui/win32/controls.h"

#include <commctrl.h>

namespace qf::win32 {
namespace {

bool IsClass(HWND control, const char* name) {
  char found[32] = "";
  return ::GetClassNameA(control, found, sizeof found) > 0 && ::lstrcmpiA(found, name) == 0;
}

void ShowEnabled(HWND control, bool enabled) {
  if ((::IsWindowEnabled(control) != FALSE) != enabled) ::EnableWindow(control, enabled);
}

void ShowVisible(HWND control, bool visible) {
  if ((::IsWindowVisible(control) != FALSE) != visible) ::ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
}

void ShowText(HWND control, const std::string& text) {
  if (TextOf(control) != text) ::SetWindowTextA(control, text.c_str());
}

// A list box's or a combo box's entries as the model has them, kept when they are the same.
template <UINT kCount, UINT kTextLength, UINT kText, UINT kReset, UINT kAdd, UINT kSelection, UINT kSelect>
void ShowEntries(HWND control, const ListBox& list) {
  const auto count = static_cast<std::size_t>(::SendMessageA(control, kCount, 0, 0));
  bool same = count == list.items.size();
  for (std::size_t i = 0; same && i < count; ++i) {
    auto length = ::SendMessageA(control, kTextLength, i, 0);
    std::string text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, '\0');
    ::SendMessageA(control, kText, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length < 0 ? 0 : length));
    same = text == list.items[i];
  }
  if (!same) {
    ::SendMessageA(control, WM_SETREDRAW, FALSE, 0);
    ::SendMessageA(control, kReset, 0, 0);
    for (const std::string& item : list.items) ::SendMessageA(control, kAdd, 0, reinterpret_cast<LPARAM>(item.c_str()));
    ::SendMessageA(control, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(control, nullptr, TRUE);
  }
  if (::SendMessageA(control, kSelection, 0, 0) != list.selected)
    ::SendMessageA(control, kSelect, static_cast<WPARAM>(list.selected), 0);
}

}  // namespace

std::string TextOf(HWND control) {
  int length = ::GetWindowTextLengthA(control);
  std::string text(static_cast<std::size_t>(length < 0 ? 0 : length) + 1, '\0');
  text.resize(static_cast<std::size_t>(::GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

int SelectionOf(HWND control) {
  if (IsClass(control, "ComboBox")) return static_cast<int>(::SendMessageA(control, CB_GETCURSEL, 0, 0));
  return static_cast<int>(::SendMessageA(control, LB_GETCURSEL, 0, 0));
}

void Show(HWND control, const CheckBox& box) {
  if (!control) return;
  ShowText(control, box.caption);
  WPARAM state = box.checked ? BST_CHECKED : BST_UNCHECKED;
  if (static_cast<WPARAM>(::SendMessageA(control, BM_GETCHECK, 0, 0)) != state)
    ::SendMessageA(control, BM_SETCHECK, state, 0);
  ShowEnabled(control, box.enabled);
  ShowVisible(control, box.visible);
}

void Show(HWND control, const EditBox& box) {
  if (!control) return;
  ShowText(control, box.text);
  ShowEnabled(control, box.enabled);
}

void Show(HWND control, const Button& button) {
  if (!control) return;
  ShowText(control, button.caption);
  ShowEnabled(control, button.enabled);
}

void Show(HWND control, const Label& label) {
  if (!control) return;
  ShowText(control, label.caption);
  ShowEnabled(control, label.enabled && !label.grayed);
  ShowVisible(control, label.visible);
}

void Show(HWND control, const ListBox& list) {
  if (!control) return;
  if (IsClass(control, "ComboBox"))
    ShowEntries<CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT, CB_RESETCONTENT, CB_ADDSTRING, CB_GETCURSEL, CB_SETCURSEL>(
        control, list);
  else
    ShowEntries<LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT, LB_RESETCONTENT, LB_ADDSTRING, LB_GETCURSEL, LB_SETCURSEL>(
        control, list);
  ShowEnabled(control, list.enabled);
}

// The tooltip window has no owner: Wine keeps a window that owns a topmost window from becoming topmost
// itself ("config window always on top"). It stays above everything by itself, and goes with this object.
Hints::Hints(HWND owner, HINSTANCE module) : owner_(owner) {
  tooltip_ =
      ::CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
}

Hints::~Hints() {
  if (tooltip_ && ::IsWindow(tooltip_)) ::DestroyWindow(tooltip_);
}

void Hints::Show(HWND control, const std::string& hint) {
  if (!tooltip_ || !control) return;
  auto shown = shown_.find(control);
  if (shown != shown_.end() && shown->second == hint) return;
  TOOLINFOA tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = owner_;
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = const_cast<char*>(hint.c_str());
  if (shown == shown_.end()) {
    if (hint.empty()) return;
    ::SendMessageA(tooltip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
  } else if (hint.empty()) {
    ::SendMessageA(tooltip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    shown_.erase(shown);
    return;
  } else {
    ::SendMessageA(tooltip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  }
  shown_[control] = hint;
}

Pages::Pages(HWND parent, int tabsId, HINSTANCE module, DLGPROC procedure, LPARAM param)
    : parent_(parent), tabs_(::GetDlgItem(parent, tabsId)), module_(module), procedure_(procedure), param_(param) {}

void Pages::Add(int dialogId, const char* title) {
  HWND page = ::CreateDialogParamA(module_, MAKEINTRESOURCEA(dialogId), parent_, procedure_, param_);
  if (!page) return;
  if (title) {
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(title);
    ::SendMessageA(tabs_, TCM_INSERTITEMA, static_cast<WPARAM>(pages_.size()), reinterpret_cast<LPARAM>(&item));
  }
  // Over the tab control's display area and above it, which clips its siblings: it never draws over the page.
  RECT area;
  ::GetWindowRect(tabs_, &area);
  ::MapWindowPoints(nullptr, parent_, reinterpret_cast<POINT*>(&area), 2);
  ::SendMessageA(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  ::SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top, SWP_NOACTIVATE);
  pages_.push_back(page);
  tabbed_.push_back(title != nullptr);
}

void Pages::Show(int index) {
  if (index >= 0 && static_cast<std::size_t>(index) < pages_.size() && tabbed_[static_cast<std::size_t>(index)] &&
      Selected() != index)
    ::SendMessageA(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  for (std::size_t i = 0; i < pages_.size(); ++i) ShowVisible(pages_[i], static_cast<int>(i) == Selected());
}

int Pages::Selected() const { return static_cast<int>(::SendMessageA(tabs_, TCM_GETCURSEL, 0, 0)); }

HWND Pages::Control(int id) const {
  if (HWND control = ::GetDlgItem(parent_, id)) return control;
  for (HWND page : pages_)
    if (HWND control = ::GetDlgItem(page, id)) return control;
  return nullptr;
}

HINSTANCE ResourceModule(void* given) {
  if (given) return static_cast<HINSTANCE>(given);
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ResourceModule), &module);
  return module;
}

}  // namespace qf::win32

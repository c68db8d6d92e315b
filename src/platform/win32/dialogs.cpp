// The windows' modal dialogs and the shell's "open" verb: the real Win32 calls.

#include "platform/dialogs.h"

// <windows.h> first: the other Windows headers build on it.
#include <windows.h>

#include <commdlg.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

// Win32's own types here, not the platform layer's names for them.
namespace {

constexpr WORD kPromptId = 100;
constexpr WORD kEditId = 101;

struct InputState {
  const std::string& caption;
  const std::string& prompt;
  const std::string& value;
  bool masked;
  std::string answer;
};

// A dialog template built in memory: the input box needs no resource script of its own.
class DialogTemplate {
 public:
  void Word(WORD value) { words_.push_back(value); }
  void Dword(DWORD value) {
    Word(LOWORD(value));
    Word(HIWORD(value));
  }
  void Align() {
    if (words_.size() % 2) Word(0);
  }
  void Text(const std::string& text) {
    int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(static_cast<std::size_t>(std::max(length, 1)), L'\0');
    if (length > 0) ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    for (wchar_t c : wide) Word(static_cast<WORD>(c));
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom, const std::string& title,
            DWORD extendedStyle = 0) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(extendedStyle);
    for (short value : {x, y, cx, cy}) Word(static_cast<WORD>(value));
    Word(id);
    Word(0xFFFF);
    Word(classAtom);
    Text(title);
    Word(0);  // no creation data
  }
  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

 private:
  std::vector<WORD> words_;
};

void Place(HWND dialog, int id, const platform::InputBoxLayout::Box& box) {
  ::MoveWindow(::GetDlgItem(dialog, id), box.left, box.top, box.width, box.height, FALSE);
}

// The template's dialog units only approximate pixels: the controls are placed again in pixels, measured
// with the dialog's own font, and the window is sized to the client area that needs.
void LayOut(HWND dialog, const std::string& prompt) {
  HDC dc = ::GetDC(dialog);
  HGDIOBJ previous = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageA(dialog, WM_GETFONT, 0, 0)));
  SIZE text{};
  ::GetTextExtentPoint32A(dc, prompt.c_str(), static_cast<int>(prompt.size()), &text);
  TEXTMETRICA metrics{};
  ::GetTextMetricsA(dc, &metrics);
  ::SelectObject(dc, previous);
  ::ReleaseDC(dialog, dc);

  const int line = static_cast<int>(metrics.tmHeight);
  const int editHeight = line + 2 * ::GetSystemMetrics(SM_CYEDGE) + 4;
  const int buttonHeight = std::max(23, line + 10);
  const int widest = std::max(220, ::GetSystemMetrics(SM_CXSCREEN) - 64);
  platform::InputBoxLayout layout =
      platform::LayOutInputBox(static_cast<int>(text.cx), line, editHeight, 75, buttonHeight, widest);
  Place(dialog, kPromptId, layout.prompt);
  Place(dialog, kEditId, layout.edit);
  Place(dialog, IDOK, layout.ok);
  Place(dialog, IDCANCEL, layout.cancel);

  RECT frame{0, 0, layout.clientWidth, layout.clientHeight};
  ::AdjustWindowRectEx(&frame, static_cast<DWORD>(::GetWindowLongA(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(::GetWindowLongA(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  // Centred over the window that asked, or on the screen.
  RECT over{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  if (HWND owner = ::GetWindow(dialog, GW_OWNER); owner && ::IsWindowVisible(owner)) ::GetWindowRect(owner, &over);
  const int left = std::max(0, static_cast<int>(over.left + (over.right - over.left - width) / 2));
  const int top = std::max(0, static_cast<int>(over.top + (over.bottom - over.top - height) / 2));
  ::SetWindowPos(dialog, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK InputProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* state = reinterpret_cast<InputState*>(lParam);
    ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    ::SetWindowTextA(dialog, state->caption.c_str());
    ::SetDlgItemTextA(dialog, kPromptId, state->prompt.c_str());
    ::SetDlgItemTextA(dialog, kEditId, state->value.c_str());
    if (state->masked) ::SendDlgItemMessageA(dialog, kEditId, EM_SETPASSWORDCHAR, '*', 0);
    LayOut(dialog, state->prompt);
    return TRUE;  // the focus goes to the edit, the first control that takes it
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    if (LOWORD(wParam) == IDOK) {
      auto* state = reinterpret_cast<InputState*>(::GetWindowLongPtrA(dialog, DWLP_USER));
      HWND edit = ::GetDlgItem(dialog, kEditId);
      std::string text(static_cast<std::size_t>(::GetWindowTextLengthA(edit)) + 1, '\0');
      text.resize(static_cast<std::size_t>(::GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
      state->answer = std::move(text);
    }
    ::EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&InputProcedure), &module);
  return module;
}

// The window the dialog belongs to: the thread's owner scope, else its active window.
HWND Owner() {
  if (platform::HWND owner = platform::DialogOwner::Current()) return reinterpret_cast<HWND>(owner);
  return ::GetActiveWindow();
}

int CALLBACK BrowseProcedure(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data) ::SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  return 0;
}

}  // namespace

namespace platform {

std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt, const std::string& value,
                                      bool masked) {
  // Dialog units of the 8-point system font, about right before WM_INITDIALOG places everything in
  // pixels: 16 pixels of margin are about 10 units across, 8 down.
  const short margin = 10;
  const short width = static_cast<short>(std::clamp<std::size_t>(prompt.size() * 4 + 2 * margin, 147, 400));
  const short inner = static_cast<short>(width - 2 * margin);
  DialogTemplate dialog;
  dialog.Dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
  dialog.Dword(0);
  dialog.Word(4);
  for (short number : {short(0), short(0), width, short(78)}) dialog.Word(static_cast<WORD>(number));
  dialog.Word(0);  // no menu
  dialog.Word(0);  // the standard dialog class
  dialog.Text(caption);
  dialog.Word(8);
  dialog.Text("MS Shell Dlg");
  dialog.Item(SS_LEFT, margin, 8, inner, 10, kPromptId, 0x0082, prompt);
  dialog.Item(ES_AUTOHSCROLL | WS_TABSTOP, margin, 24, inner, 14, kEditId, 0x0081, "", WS_EX_CLIENTEDGE);
  dialog.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, static_cast<short>(width - margin - 104), 50, 50, 14, IDOK, 0x0080, "OK");
  dialog.Item(BS_PUSHBUTTON | WS_TABSTOP, static_cast<short>(width - margin - 50), 50, 50, 14, IDCANCEL, 0x0080,
              "Cancel");
  InputState state{caption, prompt, value, masked, {}};
  ::INT_PTR result = ::DialogBoxIndirectParamA(ThisModule(), dialog.Get(), Owner(), InputProcedure,
                                               reinterpret_cast<::LPARAM>(&state));
  if (result != IDOK) return std::nullopt;
  return state.answer;
}

std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& startFolder) {
  HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  char name[MAX_PATH] = {};
  BROWSEINFOA info{};
  info.hwndOwner = Owner();
  info.pszDisplayName = name;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
  info.lpfn = BrowseProcedure;
  info.lParam = reinterpret_cast<::LPARAM>(startFolder.c_str());
  std::optional<std::string> chosen;
  if (PIDLIST_ABSOLUTE list = ::SHBrowseForFolderA(&info)) {
    char path[MAX_PATH] = {};
    if (::SHGetPathFromIDListA(list, path)) chosen = path;
    ::CoTaskMemFree(list);
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return chosen;
}

std::optional<std::string> GetOpenFileNameA(const std::string& startFolder) {
  char file[MAX_PATH * 4] = {};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFile = file;
  dialog.nMaxFile = sizeof file;
  dialog.lpstrInitialDir = startFolder.c_str();
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!::GetOpenFileNameA(&dialog)) return std::nullopt;
  return std::string(file);
}

INT_PTR ShellExecuteA(HWND owner, const std::string& file) {
  return reinterpret_cast<INT_PTR>(
      ::ShellExecuteA(reinterpret_cast<::HWND>(owner), "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
}

}  // namespace platform

// uidriver.exe: works the windows of another program from outside, as a user would, through window
// messages alone; the tests run it under Wine beside fakeamp.exe to drive the plug-in's configuration
// and user windows. It reads one command a line from its standard input, fields separated by tabs, and
// answers each with one line: "ok" and what was asked for, or "error" and why.
//
//   wait TITLE [ID]            waits until a visible window of that title (with a control ID) is there
//   gone TITLE                 waits until no visible window has that title
//   click TITLE ID             clicks a button and returns when the click has been handled
//   press TITLE ID             clicks a button and returns at once (a button that opens a modal window)
//   set TITLE ID TEXT          puts TEXT into an edit box, as typing it does (the box tells its parent)
//   text TITLE ID              answers the control's text
//   checked TITLE ID           answers 1 or 0
//   enabled TITLE ID           answers 1 or 0
//   visible TITLE ID           answers 1 or 0 (ID 0: the window itself)
//   style TITLE ID             answers the control's window style, a decimal number
//   topmost TITLE              answers 1 or 0
//   items TITLE ID             answers a list's or a drop-down list's entries, separated by tabs
//   select TITLE ID INDEX      selects an entry of a list or a drop-down list, as a click does
//   page TITLE ID INDEX        shows a tab of a tab control, as a click on it does
//   key TITLE ID KEY           presses a key (a virtual-key number) on a control
//   focus TITLE                answers the id of the control that has the keyboard focus
//   focused TITLE ID           waits until the control ID has the keyboard focus
//   rect TITLE ID              answers left, top, right and bottom of a control in the window's client
//                              area (ID 0: the client area)
//   close TITLE                clicks the window's X
//   shot TITLE FILE            saves a picture of the window as a PNG file, once it stands still
//
// A window is looked for by its exact title among the visible top-level windows; a control by its id
// among all the windows inside it. Waits are bounded (30 seconds).

#include "../png.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);
constexpr UINT kSendTimeoutMs = 60000;

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream input(line);
  while (std::getline(input, field, '\t')) fields.push_back(field);
  return fields;
}

std::string TextOf(HWND window) {
  char text[4096] = "";
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, kSendTimeoutMs,
                           &copied))
    return {};
  return std::string(text, static_cast<std::size_t>(copied));
}

struct Search {
  std::string title;
  int control = 0;  // the window must hold a control with this id (0: any window)
  HWND found = nullptr;
};

HWND FindControl(HWND window, int id);

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  if (!IsWindowVisible(window)) return TRUE;
  char title[512] = "";
  GetWindowTextA(window, title, sizeof title);  // another process's title: read from the window manager
  if (search->title != title) return TRUE;
  if (search->control != 0 && !FindControl(window, search->control)) return TRUE;
  search->found = window;
  return FALSE;
}

struct ControlSearch {
  int id;
  HWND found = nullptr;
};

BOOL CALLBACK MatchControl(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<ControlSearch*>(context);
  if (GetDlgCtrlID(window) != search->id) return TRUE;
  search->found = window;
  return FALSE;
}

// Any window inside `window` (children, their children, ...) with the id.
HWND FindControl(HWND window, int id) {
  ControlSearch search{id};
  EnumChildWindows(window, MatchControl, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

template <class Condition>
bool WaitUntil(Condition&& condition) {
  auto deadline = Clock::now() + kPatience;
  for (;;) {
    if (condition()) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

HWND WaitForWindow(const std::string& title, int control = 0) {
  HWND found = nullptr;
  WaitUntil([&] {
    Search search{title, control};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    found = search.found;
    return found != nullptr;
  });
  return found;
}

class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

int Number(const std::string& text) {
  char* end = nullptr;
  long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end) throw Failure("not a number: " + text);
  return static_cast<int>(value);
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result))
    throw Failure("the window does not answer");
  return static_cast<LRESULT>(result);
}

// The id of the control that has the keyboard focus on the window's thread, 0 when none has it.
int FocusedId(HWND window) {
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &thread) || !thread.hwndFocus) return 0;
  return GetDlgCtrlID(thread.hwndFocus);
}

bool IsClass(HWND window, const char* name) {
  char found[64] = "";
  return GetClassNameA(window, found, sizeof found) > 0 && lstrcmpiA(found, name) == 0;
}

// The window's pixels from the screen, as they are shown.
host::RgbImage Capture(HWND window) {
  RECT frame;
  GetWindowRect(window, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  host::RgbImage image{width, height, {}};
  if (width <= 0 || height <= 0) return image;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    GdiFlush();
    const auto* pixels = static_cast<const std::uint8_t*>(bits);
    image.rgb.reserve(static_cast<std::size_t>(width * height * 3));
    for (int i = 0; i < width * height; ++i)
      image.rgb.insert(image.rgb.end(), {pixels[i * 4 + 2], pixels[i * 4 + 1], pixels[i * 4]});
    SelectObject(memory, previous);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return image;
}

// Brings the window to the top and repaints it, then takes pictures until two in a row are the same:
// the window's program and the display have caught up with every change.
void Shoot(HWND window, const std::string& file) {
  SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  host::RgbImage last = Capture(window);
  host::RgbImage now;
  int same = 0;
  bool settled = WaitUntil([&] {
    now = Capture(window);
    same = now.rgb == last.rgb ? same + 1 : 0;
    last = now;
    return same >= 3;
  });
  if (!settled) throw Failure("the window does not stand still");
  std::vector<std::uint8_t> png = host::EncodePng(now);
  std::FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) throw Failure("cannot write " + file);
  bool written = std::fwrite(png.data(), 1, png.size(), out) == png.size();
  if (std::fclose(out) != 0 || !written) throw Failure("cannot write " + file);
}

std::string Run(const std::vector<std::string>& command) {
  if (command.empty()) throw Failure("no command");
  const std::string& verb = command[0];
  auto need = [&](std::size_t count) {
    if (command.size() != count + 1) throw Failure(verb + " takes " + std::to_string(count) + " fields");
  };
  if (verb == "wait") {
    if (command.size() != 2 && command.size() != 3) throw Failure("wait takes 1 or 2 fields");
    if (!WaitForWindow(command[1], command.size() == 3 ? Number(command[2]) : 0))
      throw Failure("no window \"" + command[1] + "\"");
    return "";
  }
  if (verb == "gone") {
    need(1);
    if (!WaitUntil([&] {
          Search search{command[1]};
          EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
          return search.found == nullptr;
        }))
      throw Failure("the window \"" + command[1] + "\" stays");
    return "";
  }
  if (command.size() < 2) throw Failure(verb + " needs a window title");
  const int id = command.size() >= 3 && verb != "shot" ? Number(command[2]) : 0;
  HWND window = WaitForWindow(command[1], id);
  if (!window) throw Failure("no window \"" + command[1] + "\"" + (id ? " with control " + command[2] : ""));
  HWND control = id ? FindControl(window, id) : window;

  if (verb == "click") {
    need(2);
    Send(control, BM_CLICK, 0, 0);
    return "";
  }
  if (verb == "press") {
    need(2);
    if (!PostMessageA(control, BM_CLICK, 0, 0)) throw Failure("cannot post to the button");
    return "";
  }
  if (verb == "set") {
    need(3);
    Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(command[3].c_str()));
    return "";
  }
  if (verb == "text") {
    need(2);
    return TextOf(control);
  }
  if (verb == "checked") {
    need(2);
    return Send(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
  }
  if (verb == "enabled") {
    need(2);
    return IsWindowEnabled(control) ? "1" : "0";
  }
  if (verb == "visible") {
    need(2);
    return IsWindowVisible(control) ? "1" : "0";
  }
  if (verb == "style") {
    need(2);
    return std::to_string(static_cast<std::uint32_t>(GetWindowLongA(control, GWL_STYLE)));
  }
  if (verb == "topmost") {
    need(1);
    return (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) ? "1" : "0";
  }
  if (verb == "items") {
    need(2);
    const bool combo = IsClass(control, "ComboBox");
    const auto count = Send(control, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
    std::string items;
    for (LRESULT i = 0; i < count; ++i) {
      // A list's text crosses to this process with the message, as WM_GETTEXT's does, but Wine carries
      // it in UTF-16 whatever the call: asked in UTF-16, it comes whole.
      wchar_t text[1024] = L"";
      DWORD_PTR length = 0;
      if (!SendMessageTimeoutW(control, combo ? CB_GETLBTEXT : LB_GETTEXT, static_cast<WPARAM>(i),
                               reinterpret_cast<LPARAM>(text), SMTO_NORMAL, kSendTimeoutMs, &length))
        throw Failure("the list does not answer");
      char narrow[2048] = "";
      WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
      items += (i ? "\t" : "") + std::string(narrow);
    }
    return items;
  }
  if (verb == "select") {
    need(3);
    const bool combo = IsClass(control, "ComboBox");
    const int index = Number(command[3]);
    Send(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    // A click on an entry tells the list's parent; setting the selection alone does not.
    Send(GetParent(control), WM_COMMAND, MAKEWPARAM(id, combo ? CBN_SELCHANGE : LBN_SELCHANGE),
         reinterpret_cast<LPARAM>(control));
    return "";
  }
  if (verb == "page") {
    need(3);
    const int index = Number(command[3]);
    // Moving the focus to a tab selects it and tells the parent, as a click does.
    Send(control, TCM_SETCURFOCUS, static_cast<WPARAM>(index), 0);
    if (Send(control, TCM_GETCURSEL, 0, 0) != index) throw Failure("the tab is not selected");
    return "";
  }
  if (verb == "key") {
    need(3);
    const auto key = static_cast<WPARAM>(Number(command[3]));
    const UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    // Posted, as the keyboard's are: they reach the window's thread through its message loop.
    PostMessageA(control, WM_KEYDOWN, key, static_cast<LPARAM>(1 | scan << 16));
    PostMessageA(control, WM_KEYUP, key, static_cast<LPARAM>(1 | scan << 16 | 3u << 30));
    return "";
  }
  if (verb == "focus") {
    need(1);
    return std::to_string(FocusedId(window));
  }
  if (verb == "focused") {
    need(2);
    if (!WaitUntil([&] { return FocusedId(window) == id; }))
      throw Failure("the focus is on " + std::to_string(FocusedId(window)));
    return "";
  }
  if (verb == "rect") {
    need(2);
    RECT box;
    if (id) {
      GetWindowRect(control, &box);
      MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&box), 2);
    } else {
      GetClientRect(window, &box);
    }
    return std::to_string(box.left) + "\t" + std::to_string(box.top) + "\t" + std::to_string(box.right) + "\t" +
           std::to_string(box.bottom);
  }
  if (verb == "close") {
    need(1);
    Send(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return "";
  }
  if (verb == "shot") {
    need(2);
    Shoot(window, command[2]);
    return "";
  }
  throw Failure("unknown command " + verb);
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") break;
    std::string answer;
    try {
      std::string result = Run(Fields(line));
      answer = result.empty() ? "ok" : "ok\t" + result;
    } catch (const std::exception& failure) {
      answer = std::string("error\t") + failure.what();
    }
    std::cout << answer << std::endl;
  }
  return 0;
}

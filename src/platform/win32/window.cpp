// Windows and messages: the real Win32 calls behind the platform names.
//
// The platform headers come before <windows.h>, whose macros would rewrite the platform's names.

#include "platform/window.h"

#include <windows.h>

#include <cstddef>
#include <type_traits>

#undef GetWindowLongPtrA
#undef SetWindowLongPtrA

namespace platform {
namespace {

// What crosses to Windows by pointer or by cast must be laid out as Windows' own: the message argument
// types (the same integers, though long where ours are int on i686), the calling convention of window
// procedures, the record WM_COPYDATA carries, and the first member of the record WM_CREATE points to.
template <typename Ours, typename Theirs>
constexpr bool kSameInteger = sizeof(Ours) == sizeof(Theirs) && std::is_signed_v<Ours> == std::is_signed_v<Theirs>;
static_assert(kSameInteger<UINT, ::UINT> && kSameInteger<DWORD, ::DWORD> && kSameInteger<WPARAM, ::WPARAM> &&
              kSameInteger<LPARAM, ::LPARAM> && kSameInteger<LRESULT, ::LRESULT> &&
              kSameInteger<LONG_PTR, ::LONG_PTR> && kSameInteger<ULONG_PTR, ::ULONG_PTR>);
static_assert(std::is_same_v<::LRESULT(QF_CALLBACK*)(::HWND, ::UINT, ::WPARAM, ::LPARAM), ::WNDPROC>);
static_assert(sizeof(COPYDATASTRUCT) == sizeof(::COPYDATASTRUCT) &&
              offsetof(COPYDATASTRUCT, dwData) == offsetof(::COPYDATASTRUCT, dwData) &&
              offsetof(COPYDATASTRUCT, cbData) == offsetof(::COPYDATASTRUCT, cbData) &&
              offsetof(COPYDATASTRUCT, lpData) == offsetof(::COPYDATASTRUCT, lpData));
static_assert(offsetof(CREATESTRUCTA, lpCreateParams) == offsetof(::CREATESTRUCTA, lpCreateParams));

::HWND Real(HWND window) { return reinterpret_cast<::HWND>(window); }
HWND Ours(::HWND window) { return reinterpret_cast<HWND>(window); }

// Converts between the two MSG layouts, which differ only in the trailing point member.
::MSG Real(const MSG& msg) {
  ::MSG real{};
  real.hwnd = Real(msg.hwnd);
  real.message = msg.message;
  real.wParam = msg.wParam;
  real.lParam = msg.lParam;
  real.time = msg.time;
  return real;
}

void Copy(const ::MSG& real, MSG* msg) {
  msg->hwnd = Ours(real.hwnd);
  msg->message = real.message;
  msg->wParam = real.wParam;
  msg->lParam = real.lParam;
  msg->time = real.time;
}

}  // namespace

bool RegisterClassA(const WNDCLASSA& windowClass) {
  ::WNDCLASSA real{};
  real.lpfnWndProc = reinterpret_cast<::WNDPROC>(windowClass.lpfnWndProc);
  real.hInstance = static_cast<::HINSTANCE>(windowClass.hInstance);
  real.lpszClassName = windowClass.lpszClassName;
  return ::RegisterClassA(&real) != 0;
}

bool UnregisterClassA(const char* className, void* instance) {
  return ::UnregisterClassA(className, static_cast<::HINSTANCE>(instance)) != 0;
}

HWND CreateWindowExA(const char* className, const char* windowName, HWND parent, void* instance, void* param) {
  return Ours(::CreateWindowExA(0, className, windowName, 0, 0, 0, 0, 0, Real(parent), nullptr,
                                static_cast<::HINSTANCE>(instance), param));
}

BOOL DestroyWindow(HWND window) { return ::DestroyWindow(Real(window)); }
BOOL IsWindow(HWND window) { return ::IsWindow(Real(window)); }
HWND FindWindowA(const char* className, const char* windowName) { return Ours(::FindWindowA(className, windowName)); }

DWORD GetWindowThreadProcessId(HWND window, DWORD* processId) {
  ::DWORD process = 0;
  ::DWORD thread = ::GetWindowThreadProcessId(Real(window), &process);
  if (processId) *processId = process;
  return thread;
}

DWORD GetCurrentThreadId() { return ::GetCurrentThreadId(); }
BOOL EnableWindow(HWND window, BOOL enable) { return ::EnableWindow(Real(window), enable); }
BOOL IsWindowEnabled(HWND window) { return ::IsWindowEnabled(Real(window)); }

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(Real(window), message, wParam, lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(Real(window), message, wParam, lParam);
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessageA(threadId, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax) {
  ::MSG real{};
  BOOL result = ::GetMessageA(&real, Real(window), filterMin, filterMax);
  Copy(real, msg);
  return result;
}

BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
  ::MSG real{};
  BOOL result = ::PeekMessageA(&real, Real(window), filterMin, filterMax, removeFlags);
  if (result) Copy(real, msg);
  return result;
}

BOOL TranslateMessage(const MSG* msg) {
  ::MSG real = Real(*msg);
  return ::TranslateMessage(&real);
}

LRESULT DispatchMessageA(const MSG* msg) {
  ::MSG real = Real(*msg);
  return ::DispatchMessageA(&real);
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
#ifdef _WIN64
  return ::GetWindowLongPtrA(Real(window), index);
#else
  return ::GetWindowLongA(Real(window), index);
#endif
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
#ifdef _WIN64
  return ::SetWindowLongPtrA(Real(window), index, value);
#else
  return ::SetWindowLongA(Real(window), index, value);
#endif
}

LRESULT CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::CallWindowProcA(reinterpret_cast<::WNDPROC>(previous), Real(window), message, wParam, lParam);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcA(Real(window), message, wParam, lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds) {
  return ::SetTimer(Real(window), id, milliseconds, nullptr);
}

BOOL KillTimer(HWND window, UINT_PTR id) { return ::KillTimer(Real(window), id); }

UINT RegisterWindowMessageA(const char* name) { return ::RegisterWindowMessageA(name); }

void WaitHandlingSentMessages(const std::function<bool()>& finished, std::chrono::milliseconds pollInterval) {
  while (!finished()) {
    // Only sent messages are handled here: posted ones stay queued for the thread's own loop.
    ::MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<::DWORD>(pollInterval.count()), QS_SENDMESSAGE, 0);
    ::MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

}  // namespace platform

#pragma once
// Win32 types and constants used by the portable code, under their Win32 names.
//
// Nothing here includes <windows.h>. The Win32 implementation files include this header before
// <windows.h> (whose macros would otherwise rewrite these names) and convert at the boundary.

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QF_CALLBACK __attribute__((stdcall))
#else
#define QF_CALLBACK
#endif

namespace platform {

struct WindowHandle;  // opaque: a real HWND on Windows, an emulated window on Linux
using HWND = WindowHandle*;
using BOOL = int;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LONG_PTR = std::intptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using ULONG_PTR = std::uintptr_t;

using WNDPROC = LRESULT(QF_CALLBACK*)(HWND, UINT, WPARAM, LPARAM);

// Window messages.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_COPYDATA = 0x004A;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr WPARAM SC_MINIMIZE = 0xF020;

// GetWindowLongPtrA / SetWindowLongPtrA indices.
inline constexpr int GWL_WNDPROC = -4;
inline constexpr int GWLP_USERDATA = -21;

// PeekMessageA flags.
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// MessageBoxA flags and answers.
inline constexpr UINT MB_OK = 0x00000000;
inline constexpr UINT MB_YESNO = 0x00000004;
inline constexpr UINT MB_ICONERROR = 0x00000010;
inline constexpr UINT MB_ICONQUESTION = 0x00000020;
inline constexpr UINT MB_ICONWARNING = 0x00000030;
inline constexpr UINT MB_ICONINFORMATION = 0x00000040;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

struct COPYDATASTRUCT {
  ULONG_PTR dwData;
  DWORD cbData;
  void* lpData;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

// WM_CREATE carries a pointer to this record in lParam; only its first member is used.
struct CREATESTRUCTA {
  void* lpCreateParams;
};

struct WNDCLASSA {
  WNDPROC lpfnWndProc;
  void* hInstance;  // module that owns the class (the plug-in's own module, never the host's)
  const char* lpszClassName;
};

}  // namespace platform

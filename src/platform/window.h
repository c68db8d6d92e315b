#pragma once
// Windows and messages, with the Win32 meanings the plug-in and the player rely on.
//
// A window belongs to the thread that created it. SendMessageA to a window of another thread queues
// the message to that thread and blocks until the thread has handled it; while blocked, the sender
// still handles messages that other threads send to its own windows. PostMessageA only queues.
// Messages are handled inside GetMessageA/PeekMessageA (and inside a blocked SendMessageA), so a
// thread that owns windows must run a message loop. Timers post WM_TIMER to the owning thread.
//
// On Windows these are the real calls; on Linux an emulation with the same rules (platform/posix).

#include <chrono>
#include <functional>

#include "platform/types.h"

namespace platform {

bool RegisterClassA(const WNDCLASSA& windowClass);
// Forgets a class registered by the module `instance`. Fails while a window of the class exists. A
// module that is unloaded unregisters its classes first: their procedures go with it.
bool UnregisterClassA(const char* className, void* instance);
// Creates a hidden window of a registered class, owned by the calling thread. The class's procedure
// receives WM_CREATE, lParam pointing to a CREATESTRUCTA whose lpCreateParams is `param`, before the
// call returns. Null when the class is unknown.
HWND CreateWindowExA(const char* className, const char* windowName, HWND parent, void* instance, void* param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// The first window whose class name equals className (without regard to case), or null.
HWND FindWindowA(const char* className, const char* windowName);
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);
DWORD GetCurrentThreadId();
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Posts a message without a window to the queue of the thread with this id.
BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// Returns 0 on WM_QUIT, -1 on error, non-zero otherwise. Only filter 0, 0 is supported.
BOOL GetMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg);
LRESULT DispatchMessageA(const MSG* msg);

LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
LRESULT CallWindowProcA(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Timers post WM_TIMER (wParam = id) to the window's thread every `milliseconds`.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds);
BOOL KillTimer(HWND window, UINT_PTR id);

// Message ids at or above 0xC000, the same id for the same name (without regard to case).
UINT RegisterWindowMessageA(const char* name);

// Blocks the calling thread until `finished` answers true, handling meanwhile every message that
// other threads send to this thread's windows. A thread that owns windows waits with this for work
// that may itself need those windows (stopping the server while requests talk to the player).
void WaitHandlingSentMessages(const std::function<bool()>& finished,
                              std::chrono::milliseconds pollInterval = std::chrono::milliseconds(5));

}  // namespace platform

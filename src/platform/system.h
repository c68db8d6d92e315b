#pragma once
// Process and system services: environment, version, the host program's path, dynamic libraries,
// message boxes, power calls, threads with a chosen stack size, local addresses.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/types.h"

namespace platform {

// Environment variables, names compared without regard to case as on Windows. On Linux this is an
// emulated Windows environment (platform/posix/emulation.h), not the host's.
std::optional<std::string> GetEnvironmentVariableA(const std::string& name);

struct OSVERSIONINFOA {
  DWORD dwMajorVersion = 0;
  DWORD dwMinorVersion = 0;
  DWORD dwBuildNumber = 0;
  DWORD dwPlatformId = 0;
};
bool GetVersionExA(OSVERSIONINFOA* info);

// The local date and time, as GetLocalTime fills SYSTEMTIME (wDayOfWeek 0 = Sunday).
struct SYSTEMTIME {
  int wYear = 0;
  int wMonth = 0;
  int wDayOfWeek = 0;
  int wDay = 0;
  int wHour = 0;
  int wMinute = 0;
  int wSecond = 0;
  int wMilliseconds = 0;
};
// The local time as the plug-in reads it. When the environment variable QF_CLOCK_START holds a local time
// "yyyy-mm-dd hh:nn:ss", the first reading gives that moment and later readings run on from it at the
// system clock's pace: the runners set it (--clock) so that a test reaches a time of the week without
// waiting for it.
void GetLocalTime(SYSTEMTIME* time);
// The system's own local time.
SYSTEMTIME SystemLocalTime();
// A QF_CLOCK_START text as a time with its day of the week; nothing when it is not a valid moment.
std::optional<SYSTEMTIME> ParseClockStart(const std::string& text);
// The local date and time of a moment given in seconds since 1970 (UTC), with the time zone's rules for
// that date; false when the moment lies outside what the system can convert.
bool LocalTimeOfUnixTime(std::int64_t seconds, SYSTEMTIME* time);

// Full path of the host program (the player's executable).
std::string GetModuleFileNameA();
// The folder of the host program, without trailing delimiter.
std::string ExecutableFolder();

// A loaded dynamic library; unloaded when destroyed. Move-only.
class Module {
 public:
  Module() = default;
  Module(Module&& other) noexcept;
  Module& operator=(Module&& other) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  ~Module();

  // Loads the library at `path` (a Windows path); not loaded (IsLoaded() false) on failure.
  static Module LoadLibraryA(const std::string& path);
  bool IsLoaded() const { return handle_ != nullptr; }
  void* GetProcAddress(const char* name) const;

 private:
  void* handle_ = nullptr;
};

// Keeps the module that holds `address` loaded until the process ends, whoever unloads it: for code the
// process may still call after the module's owner let it go (a window procedure left in a chain).
void PinModuleOf(const void* address);

// Movable global memory as the player hands out buffers the caller frees (GMEM_FIXED).
void* GlobalAlloc(std::size_t bytes);
void GlobalFree(void* memory);

// Gives the memory that the heap holds free back to the system, after a burst of work has ended (a load
// of pages leaves freed memory with the allocator that it would otherwise keep for the process's life).
void ReleaseFreeMemory();

// Message boxes. On Linux they never block: they go to the emulation's sink and answer as it says.
int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type);

// A line of status for whoever runs the player (the Linux runner prints it; Windows ignores it).
void ReportStatus(std::string_view line);

// Power. On Linux they are recorded by the emulation and never carried out.
inline constexpr UINT EWX_REBOOT = 0x02;
inline constexpr UINT EWX_POWEROFF = 0x08;
BOOL ExitWindowsEx(UINT flags, DWORD reason);
BOOL SetSystemPowerState(BOOL suspend, BOOL force);

// The privileges of the process token, as the power calls need them. The token closes itself.
inline constexpr DWORD TOKEN_ADJUST_PRIVILEGES = 0x0020;
inline constexpr DWORD TOKEN_QUERY = 0x0008;
inline constexpr DWORD ERROR_NOT_ALL_ASSIGNED = 1300;
class ProcessToken {
 public:
  ProcessToken() = default;
  ProcessToken(ProcessToken&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  ProcessToken& operator=(ProcessToken&&) = delete;
  ProcessToken(const ProcessToken&) = delete;
  ~ProcessToken();
  // OpenProcessToken of the current process; not open (IsOpen() false) on failure.
  static ProcessToken Open(DWORD access);
  bool IsOpen() const { return handle_ != nullptr; }
  // LookupPrivilegeValue of `privilege` and AdjustTokenPrivileges with it enabled or disabled. False when
  // a call failed; GetLastError() tells which error (ERROR_NOT_ALL_ASSIGNED when the adjustment was made
  // but the process does not hold the privilege).
  bool AdjustPrivilege(const char* privilege, bool enable);

 private:
  void* handle_ = nullptr;
};
DWORD GetLastError();
void SetLastError(DWORD error);

// A thread with a chosen stack size, joined (never detached) by its owner. Move-only.
class Thread {
 public:
  enum class Priority { Normal, Idle };

  Thread();
  Thread(Thread&& other) noexcept;
  Thread& operator=(Thread&& other) noexcept;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // A thread that is still joinable is joined.
  ~Thread();

  // Starts `body` on a new thread whose stack is `stackSize` bytes (reserved, committed on use). With
  // Priority::Idle the thread runs only when nothing else wants the processor (best effort on Linux).
  // Throws std::system_error when the thread cannot be created. An exception that leaves `body` ends the
  // thread and nothing else: the thread runs inside the player, which must never see it.
  static Thread Start(std::size_t stackSize, std::function<void()> body, Priority priority = Priority::Normal);
  bool Joinable() const;
  void Join();

  struct State;  // the implementation's

 private:
  std::unique_ptr<State> state_;  // shared with the running thread, which it outlives (joined first)
};

// A request to stop, made once by a thread's owner and checked by the thread between pieces of work.
// The thread may sleep on it: a request ends the sleep at once. Any thread may call every member.
class StopSignal {
 public:
  void Request() {
    {
      std::lock_guard guard(lock_);
      requested_ = true;
    }
    changed_.notify_all();
  }
  bool Requested() const {
    std::lock_guard guard(lock_);
    return requested_;
  }
  // Sleeps until the request is made or `timeout` has passed; true when it was made.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, timeout, [this] { return requested_; });
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable changed_;
  bool requested_ = false;  // guarded by lock_
};

// The computer's IPv4 addresses in dotted form, loopback excluded, in the system's order.
std::vector<std::string> LocalIPv4Addresses();

}  // namespace platform

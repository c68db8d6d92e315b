// Process and system services: the real Win32 calls behind the platform names.

#include "platform/system.h"

#include "platform/dialogs.h"

#include <process.h>
#include <windows.h>

#include <malloc.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>
#include <system_error>

namespace platform {

std::optional<std::string> GetEnvironmentVariableA(const std::string& name) {
  char buffer[32768];
  ::DWORD length = ::GetEnvironmentVariableA(name.c_str(), buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::nullopt;
  return std::string(buffer, length);
}

bool GetVersionExA(OSVERSIONINFOA* info) {
  ::OSVERSIONINFOA real{};
  real.dwOSVersionInfoSize = sizeof real;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!::GetVersionExA(&real)) return false;
#pragma GCC diagnostic pop
  *info = OSVERSIONINFOA{real.dwMajorVersion, real.dwMinorVersion, real.dwBuildNumber, real.dwPlatformId};
  return true;
}

SYSTEMTIME SystemLocalTime() {
  ::SYSTEMTIME real;
  ::GetLocalTime(&real);
  return SYSTEMTIME{real.wYear, real.wMonth,  real.wDayOfWeek, real.wDay,
                    real.wHour, real.wMinute, real.wSecond,    real.wMilliseconds};
}

bool LocalTimeOfUnixTime(std::int64_t seconds, SYSTEMTIME* time) {
  // FILETIME counts 100 ns steps from 1601; the limit keeps the product in 64 bits, and
  // FileTimeToSystemTime refuses what lies beyond the year 30827.
  constexpr std::int64_t kFrom1601 = 11644473600;
  constexpr std::int64_t kLimit = 1'000'000'000'000;
  if (seconds < -kFrom1601 || seconds > kLimit) return false;
  std::uint64_t ticks = static_cast<std::uint64_t>(seconds + kFrom1601) * 10000000u;
  ::FILETIME utcFile{static_cast<::DWORD>(ticks), static_cast<::DWORD>(ticks >> 32)};
  ::SYSTEMTIME utc, local;
  if (!::FileTimeToSystemTime(&utcFile, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return false;
  *time = SYSTEMTIME{local.wYear, local.wMonth,  local.wDayOfWeek, local.wDay,
                     local.wHour, local.wMinute, local.wSecond,    local.wMilliseconds};
  return true;
}

std::string GetModuleFileNameA() {
  char buffer[MAX_PATH * 4];
  ::DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);  // the host program
  return std::string(buffer, length < sizeof buffer ? length : 0);
}

std::string ExecutableFolder() {
  std::string path = GetModuleFileNameA();
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Module::Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    if (handle_) ::FreeLibrary(static_cast<::HMODULE>(handle_));
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Module::~Module() {
  if (handle_) ::FreeLibrary(static_cast<::HMODULE>(handle_));
}

Module Module::LoadLibraryA(const std::string& path) {
  Module module;
  module.handle_ = ::LoadLibraryA(path.c_str());
  return module;
}

void PinModuleOf(const void* address) {
  ::HMODULE module = nullptr;
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       static_cast<const char*>(address), &module);
}

void* Module::GetProcAddress(const char* name) const {
  return handle_ ? reinterpret_cast<void*>(::GetProcAddress(static_cast<::HMODULE>(handle_), name)) : nullptr;
}

void* GlobalAlloc(std::size_t bytes) { return ::GlobalAlloc(GMEM_FIXED, bytes); }
void GlobalFree(void* memory) { ::GlobalFree(memory); }

void ReleaseFreeMemory() {
  _heapmin();
  ::HeapCompact(::GetProcessHeap(), 0);
}

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  if (!owner) owner = DialogOwner::Current();
  return ::MessageBoxA(reinterpret_cast<::HWND>(owner), text.c_str(), caption.c_str(), type);
}

void ReportStatus(std::string_view line) {
  std::string text(line);
  text += "\n";
  ::OutputDebugStringA(text.c_str());
  // The player is a windowed program without a console; a host that has one (a test host) sees the
  // line there too, as the Linux runner prints it.
  ::HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output != nullptr && output != INVALID_HANDLE_VALUE && ::GetFileType(output) != FILE_TYPE_UNKNOWN) {
    ::DWORD written = 0;
    ::WriteFile(output, text.data(), static_cast<::DWORD>(text.size()), &written, nullptr);
  }
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) { return ::ExitWindowsEx(flags, reason); }

BOOL SetSystemPowerState(BOOL suspend, BOOL force) {
  using SetSystemPowerStateFunction = ::BOOL(WINAPI*)(::BOOL, ::BOOL);
  // Looked up at run time: the call is not declared by every SDK.
  auto function = reinterpret_cast<SetSystemPowerStateFunction>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetSystemPowerState")));
  return function ? function(suspend, force) : 0;
}

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD error) { ::SetLastError(error); }

ProcessToken::~ProcessToken() {
  if (handle_) ::CloseHandle(static_cast<::HANDLE>(handle_));
}

ProcessToken ProcessToken::Open(DWORD access) {
  ProcessToken token;
  ::HANDLE handle = nullptr;
  if (::OpenProcessToken(::GetCurrentProcess(), access, &handle)) token.handle_ = handle;
  return token;
}

bool ProcessToken::AdjustPrivilege(const char* privilege, bool enable) {
  ::TOKEN_PRIVILEGES privileges{};
  if (!::LookupPrivilegeValueA(nullptr, privilege, &privileges.Privileges[0].Luid)) return false;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
  return ::AdjustTokenPrivileges(static_cast<::HANDLE>(handle_), FALSE, &privileges, 0, nullptr, nullptr) != 0;
}

struct Thread::State {
  ::HANDLE thread = nullptr;
  std::function<void()> body;
};

namespace {

unsigned __stdcall ThreadMain(void* argument) {
  try {
    static_cast<Thread::State*>(argument)->body();
  } catch (...) {
    // Nothing escapes into the player's process.
  }
  return 0;
}

}  // namespace

Thread::Thread() = default;
Thread::Thread(Thread&& other) noexcept : state_(std::move(other.state_)) {}

Thread& Thread::operator=(Thread&& other) noexcept {
  if (this != &other) {
    if (Joinable()) Join();
    state_ = std::move(other.state_);
  }
  return *this;
}

Thread::~Thread() {
  if (Joinable()) Join();
}

Thread Thread::Start(std::size_t stackSize, std::function<void()> body, Priority priority) {
  Thread thread;
  thread.state_ = std::make_unique<State>();
  thread.state_->body = std::move(body);
  unsigned id = 0;
  // An idle thread is created suspended and lowered before it runs, so it never competes with the player.
  unsigned flags = STACK_SIZE_PARAM_IS_A_RESERVATION | (priority == Priority::Idle ? CREATE_SUSPENDED : 0);
  auto handle =
      ::_beginthreadex(nullptr, static_cast<unsigned>(stackSize), ThreadMain, thread.state_.get(), flags, &id);
  if (handle == 0) throw std::system_error(errno, std::generic_category(), "thread");
  thread.state_->thread = reinterpret_cast<::HANDLE>(handle);
  if (priority == Priority::Idle) {
    ::SetThreadPriority(thread.state_->thread, THREAD_PRIORITY_IDLE);
    ::ResumeThread(thread.state_->thread);
  }
  return thread;
}

bool Thread::Joinable() const { return state_ != nullptr && state_->thread != nullptr; }

void Thread::Join() {
  if (!Joinable()) return;
  ::WaitForSingleObject(state_->thread, INFINITE);
  ::CloseHandle(state_->thread);
  state_->thread = nullptr;
}

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> addresses;
  ::WSADATA data;
  if (::WSAStartup(MAKEWORD(1, 1), &data) != 0) return addresses;
  char name[256];
  if (::gethostname(name, sizeof name) == 0) {
    ::addrinfo hints{};
    hints.ai_family = AF_INET;
    ::addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) == 0) {
      for (::addrinfo* entry = list; entry; entry = entry->ai_next) {
        auto* address = reinterpret_cast<::sockaddr_in*>(entry->ai_addr);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address->sin_addr);
        if (bytes[0] == 127) continue;
        addresses.push_back(std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) +
                            "." + std::to_string(bytes[3]));
      }
      ::freeaddrinfo(list);
    }
  }
  ::WSACleanup();
  return addresses;
}

}  // namespace platform

// Linux stand-ins for the Windows process and system services.

#include <arpa/inet.h>
#include <dlfcn.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <pthread.h>

#include <cxxabi.h>
#include <sched.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "platform/system.h"

namespace platform {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct Emulation {
  std::mutex lock;
  std::map<std::string, std::string> environment;  // by upper-case name
  OSVERSIONINFOA version{10, 0, 19045, 2};
  std::string moduleFileName = "C:\\Program Files\\Winamp\\winamp.exe";
  std::function<void(const emulation::Record&)> sink;
  std::vector<emulation::Record> records;
  int messageBoxAnswer = IDOK;
  std::deque<std::optional<std::string>> dialogAnswers;
  bool shellOpens = true;
  bool holdsShutdownPrivilege = true;
};

thread_local DWORD lastError = 0;

Emulation& TheEmulation() {
  static Emulation* state = new Emulation;  // used by threads that may outlive static destruction
  return *state;
}

void Record(emulation::Record record) {
  Emulation& state = TheEmulation();
  std::function<void(const emulation::Record&)> sink;
  {
    std::lock_guard guard(state.lock);
    state.records.push_back(record);
    sink = state.sink;
  }
  if (sink) sink(record);
}

}  // namespace

namespace emulation {

void SetEnvironmentVariable(const std::string& name, const std::string& value) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.environment[Upper(name)] = value;
}

void SetVersion(DWORD major, DWORD minor, DWORD build) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.version = OSVERSIONINFOA{major, minor, build, 2};
}

void SetModuleFileName(const std::string& windowsPath) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.moduleFileName = windowsPath;
}

void SetSink(std::function<void(const Record&)> sink) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.sink = std::move(sink);
}

std::vector<Record> Records() {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  return state.records;
}

void ClearRecords() {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.records.clear();
}

void SetMessageBoxAnswer(int answer) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.messageBoxAnswer = answer;
}

void QueueDialogAnswer(std::optional<std::string> answer) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.dialogAnswers.push_back(std::move(answer));
}

void ClearDialogAnswers() {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.dialogAnswers.clear();
}

void SetShellOpens(bool opens) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.shellOpens = opens;
}

void SetHoldsShutdownPrivilege(bool holds) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  state.holdsShutdownPrivilege = holds;
}

}  // namespace emulation

std::optional<std::string> GetEnvironmentVariableA(const std::string& name) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  auto found = state.environment.find(Upper(name));
  if (found == state.environment.end()) return std::nullopt;
  return found->second;
}

bool GetVersionExA(OSVERSIONINFOA* info) {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  *info = state.version;
  return true;
}

SYSTEMTIME SystemLocalTime() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  std::tm parts{};
  ::localtime_r(&now.tv_sec, &parts);
  return SYSTEMTIME{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_wday, parts.tm_mday,
                    parts.tm_hour,        parts.tm_min,     parts.tm_sec,  static_cast<int>(now.tv_nsec / 1000000)};
}

bool LocalTimeOfUnixTime(std::int64_t seconds, SYSTEMTIME* time) {
  std::time_t moment = static_cast<std::time_t>(seconds);
  if (static_cast<std::int64_t>(moment) != seconds) return false;
  std::tm parts{};
  if (!::localtime_r(&moment, &parts)) return false;
  *time = SYSTEMTIME{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_wday, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec,  0};
  return true;
}

std::string GetModuleFileNameA() {
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  return state.moduleFileName;
}

std::string ExecutableFolder() {
  std::string path = GetModuleFileNameA();
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Module::Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Module& Module::operator=(Module&& other) noexcept {
  if (this != &other) {
    if (handle_) ::dlclose(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Module::~Module() {
  if (handle_) ::dlclose(handle_);
}

Module Module::LoadLibraryA(const std::string& path) {
  Module module;
  // A bare name is looked for in the host program's folder, the first place Windows searches.
  std::string windowsPath = path.find_first_of("\\/:") == std::string::npos ? ExecutableFolder() + "\\" + path : path;
  std::optional<std::string> hostPath = emulation::HostPath(windowsPath);
  if (hostPath && FileExists(windowsPath)) module.handle_ = ::dlopen(hostPath->c_str(), RTLD_NOW | RTLD_LOCAL);
  return module;
}

void* Module::GetProcAddress(const char* name) const { return handle_ ? ::dlsym(handle_, name) : nullptr; }

void PinModuleOf(const void* address) {
  Dl_info info{};
  if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr) return;
  // Taking a reference with RTLD_NODELETE marks the object: a later dlclose no longer unmaps it.
  ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

void* GlobalAlloc(std::size_t bytes) { return std::malloc(bytes == 0 ? 1 : bytes); }
void GlobalFree(void* memory) { std::free(memory); }

void ReleaseFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

int MessageBoxA(HWND, const std::string& text, const std::string& caption, UINT type) {
  Record(emulation::Record{emulation::Record::Kind::MessageBox, caption, text, type});
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  return state.messageBoxAnswer;
}

namespace {

std::optional<std::string> AnswerDialog(const std::string& caption, const std::string& text) {
  Record(emulation::Record{emulation::Record::Kind::Dialog, caption, text, 0});
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  if (state.dialogAnswers.empty()) return std::nullopt;
  std::optional<std::string> answer = std::move(state.dialogAnswers.front());
  state.dialogAnswers.pop_front();
  return answer;
}

}  // namespace

std::optional<std::string> InputQuery(const std::string& caption, const std::string& prompt, const std::string&, bool) {
  return AnswerDialog(caption, prompt);
}

std::optional<std::string> BrowseForFolder(const std::string& title, const std::string& startFolder) {
  return AnswerDialog(title, startFolder);
}

std::optional<std::string> GetOpenFileNameA(const std::string& startFolder) {
  return AnswerDialog("Open", startFolder);
}

INT_PTR ShellExecuteA(HWND, const std::string& file) {
  Record(emulation::Record{emulation::Record::Kind::Shell, "open", file, 0});
  Emulation& state = TheEmulation();
  std::lock_guard guard(state.lock);
  return state.shellOpens ? 42 : 2;  // 2: ERROR_FILE_NOT_FOUND, as Windows answers without a program
}

void ReportStatus(std::string_view line) {
  Record(emulation::Record{emulation::Record::Kind::Status, "", std::string(line), 0});
}

BOOL ExitWindowsEx(UINT flags, DWORD reason) {
  Record(emulation::Record{emulation::Record::Kind::Power, "ExitWindowsEx",
                           std::to_string(flags) + "," + std::to_string(reason), 0});
  return 1;
}

BOOL SetSystemPowerState(BOOL suspend, BOOL force) {
  Record(emulation::Record{emulation::Record::Kind::Power, "SetSystemPowerState",
                           std::to_string(suspend) + "," + std::to_string(force), 0});
  return 1;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

ProcessToken::~ProcessToken() = default;

ProcessToken ProcessToken::Open(DWORD access) {
  ProcessToken token;
  token.handle_ = reinterpret_cast<void*>(static_cast<std::uintptr_t>(access | 0x10000));  // any non-null value
  lastError = 0;
  return token;
}

bool ProcessToken::AdjustPrivilege(const char* privilege, bool enable) {
  if (!handle_) {
    lastError = 6;  // ERROR_INVALID_HANDLE
    return false;
  }
  bool holds;
  {
    Emulation& state = TheEmulation();
    std::lock_guard guard(state.lock);
    holds = state.holdsShutdownPrivilege;
  }
  Record(emulation::Record{emulation::Record::Kind::Power, "AdjustTokenPrivileges",
                           std::string(privilege) + (enable ? ",enable" : ",disable"), 0});
  lastError = holds ? 0 : ERROR_NOT_ALL_ASSIGNED;
  return true;  // like AdjustTokenPrivileges: success, with the last error telling what was assigned
}

struct Thread::State {
  pthread_t thread{};
  std::function<void()> body;
  bool joinable = false;
};

namespace {

void* ThreadMain(void* argument) {
  auto* state = static_cast<Thread::State*>(argument);
  try {
    state->body();
  } catch (abi::__forced_unwind&) {
    throw;  // thread cancellation unwinds through here and must go on
  } catch (...) {
    // Nothing escapes into the host's process.
  }
  return nullptr;
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
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  stackSize *= 4;  // instrumented frames are several times larger
#endif
  Thread thread;
  thread.state_ = std::make_unique<State>();
  thread.state_->body = std::move(body);
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stackSize, 65536));
  int failure = pthread_create(&thread.state_->thread, &attributes, ThreadMain, thread.state_.get());
  pthread_attr_destroy(&attributes);
  if (failure != 0) throw std::system_error(failure, std::generic_category(), "thread");
  thread.state_->joinable = true;
  if (priority == Priority::Idle) {
    sched_param parameters{};
    pthread_setschedparam(thread.state_->thread, SCHED_IDLE, &parameters);  // best effort
  }
  return thread;
}

bool Thread::Joinable() const { return state_ != nullptr && state_->joinable; }

void Thread::Join() {
  if (!Joinable()) return;
  pthread_join(state_->thread, nullptr);
  state_->joinable = false;
}

std::vector<std::string> LocalIPv4Addresses() {
  std::vector<std::string> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    auto* address = reinterpret_cast<sockaddr_in*>(entry->ifa_addr);
    if ((ntohl(address->sin_addr.s_addr) >> 24) == 127) continue;
    char text[INET_ADDRSTRLEN];
    if (::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text)) addresses.emplace_back(text);
  }
  ::freeifaddrs(list);
  return addresses;
}

}  // namespace platform

// The emulated window system: windows owned by threads, per-thread message queues, sent messages that
// block their sender, posted messages, window procedure chaining and timers, as Win32 has them.

#include "platform/window.h"

#include "platform/posix/emulation.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

struct ThreadQueue;
struct Window;

// A message sent from another thread, waiting to be handled by the window's owner thread. It lives on
// the sender's stack, which waits until it is done, holding the window object. Its completion is guarded
// by the sender's queue lock and signalled on the sender's condition.
struct SentMessage {
  SentMessage(HWND handle, Window& window, UINT message, WPARAM wParam, LPARAM lParam,
              std::shared_ptr<ThreadQueue> sender)
      : handle(handle), window(window), message(message), wParam(wParam), lParam(lParam), sender(std::move(sender)) {}
  HWND handle;
  Window& window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::shared_ptr<ThreadQueue> sender;
  LRESULT result = 0;
  std::atomic<bool> done{false};  // set under sender->lock, after `result`; read without it while watching
};

struct Timer {
  HWND window;
  UINT_PTR id;
  Clock::duration interval;
  Clock::time_point due;
};

// The message queue of one thread. Everything in it is guarded by `lock`; `wake` is notified when a
// message is posted or sent to the thread, when a message it sent was handled, or a timer changed.
struct ThreadQueue {
  DWORD threadId = 0;
  std::mutex lock;
  std::condition_variable wake;
  std::deque<MSG> posted;
  std::vector<SentMessage*> sent;
  std::vector<Timer> timers;
  bool quitPosted = false;
  int quitCode = 0;
  bool alive = true;
  std::atomic<unsigned> arrivals{0};  // counts what was put in the queue, for a thread watching awake
};

// Waking a sleeping thread costs tens of microseconds on a machine whose idle cores are halted, a
// virtual machine's most of all, while the player's thread answers most messages in a microsecond or
// two. So a thread that waits for an answer, or for its next message, first watches for it awake for
// a little while, giving its core to any other thread that is ready, and only then sleeps. Its callers
// look again under their lock either way.
template <typename Ready>
void WatchAwake(Ready ready) {
  constexpr auto kWatch = std::chrono::microseconds(50);
  const auto until = Clock::now() + kWatch;
  while (!ready() && Clock::now() < until) std::this_thread::yield();
}

struct Window {
  std::string className;
  std::string windowName;
  std::shared_ptr<ThreadQueue> owner;
  std::atomic<WNDPROC> procedure{nullptr};
  std::atomic<LONG_PTR> userData{0};
  std::atomic<bool> enabled{true};
  bool destroyed = false;  // read and written on the owner's thread only
};

bool SameName(const std::string& a, const char* b) {
  if (b == nullptr) return false;
  std::string_view other(b);
  return a.size() == other.size() && std::equal(a.begin(), a.end(), other.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::string Upper(const char* text) {
  std::string result(text ? text : "");
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// Process-wide tables: window handles, classes and registered message names. Every message looks its
// window up, from many threads at once, so lookups share the lock.
struct Registry {
  std::shared_mutex lock;
  std::map<std::uintptr_t, std::shared_ptr<Window>> windows;  // ordered by creation
  std::map<std::string, WNDPROC> classes;                     // by upper-case class name
  std::map<std::string, UINT> messageNames;                   // by upper-case name
  std::map<DWORD, std::weak_ptr<ThreadQueue>> threads;        // every thread that has a queue
  std::uintptr_t nextHandle = 0x10010;
  UINT nextMessage = 0xC000;
};

Registry& TheRegistry() {
  static Registry* registry = new Registry;  // never destroyed: threads may outlive static destruction
  return *registry;
}

std::atomic<DWORD> nextThreadId{1000};

void CompleteSent(SentMessage& sent, LRESULT result) {
  // Once `done` is set the sender may return and its message go; its queue is held from here on.
  std::shared_ptr<ThreadQueue> sender = sent.sender;
  {
    std::lock_guard guard(sender->lock);
    sent.result = result;
    sent.done.store(true, std::memory_order_release);
  }
  sender->wake.notify_all();
}

// Owns the calling thread's queue. When the thread ends, its windows go away and every message still
// waiting for it is answered with 0, so that no sender waits for a thread that is gone.
struct ThreadQueueHolder {
  std::shared_ptr<ThreadQueue> queue = std::make_shared<ThreadQueue>();
  ThreadQueueHolder() {
    queue->threadId = nextThreadId++;
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    registry.threads[queue->threadId] = queue;
  }
  ~ThreadQueueHolder() {
    std::vector<SentMessage*> orphans;
    {
      std::lock_guard guard(queue->lock);
      queue->alive = false;
      orphans.swap(queue->sent);
      queue->timers.clear();
    }
    for (SentMessage* sent : orphans) CompleteSent(*sent, 0);
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    std::erase_if(registry.windows, [&](const auto& entry) { return entry.second->owner == queue; });
    registry.threads.erase(queue->threadId);
  }
};

const std::shared_ptr<ThreadQueue>& CurrentQueue() {
  thread_local ThreadQueueHolder holder;
  return holder.queue;
}

std::shared_ptr<Window> FindWindowObject(HWND handle) {
  Registry& registry = TheRegistry();
  std::shared_lock guard(registry.lock);
  auto found = registry.windows.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == registry.windows.end() ? nullptr : found->second;
}

LRESULT CallProcedure(HWND handle, const Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure = window.procedure.load();
  return procedure ? procedure(handle, message, wParam, lParam) : 0;
}

// Handles one message that another thread sent to a window of this thread. An exception from the
// procedure cannot reach the sender, which is another thread, and must not leave the messages handled
// with this one unanswered, their senders waiting for ever: the message is answered with 0, as it is
// when the window was destroyed while the message waited.
void HandleSent(SentMessage& sent) {
  LRESULT result = 0;
  try {
    if (!sent.window.destroyed)
      result = CallProcedure(sent.handle, sent.window, sent.message, sent.wParam, sent.lParam);
  } catch (...) {
    // answered with 0, as said
  }
  CompleteSent(sent, result);
}

// Handles every sent message waiting in `queue`, in the order they came; the lock is released while
// they are handled, and taken once for all that waited together. Answers whether there were any.
bool HandleAllSent(ThreadQueue& queue, std::unique_lock<std::mutex>& held) {
  if (queue.sent.empty()) return false;
  std::vector<SentMessage*> batch;
  while (!queue.sent.empty()) {
    batch.swap(queue.sent);
    held.unlock();
    for (SentMessage* sent : batch) HandleSent(*sent);
    batch.clear();
    held.lock();
  }
  queue.sent.swap(batch);  // both are empty: the queue keeps the room it had grown, for the next batch
  return true;
}

// Takes the next message for GetMessageA/PeekMessageA, handling sent messages first. Answers false when
// there is nothing to take and `wait` is false.
bool NextMessage(MSG* msg, bool wait, bool remove) {
  ThreadQueue& queue = *CurrentQueue();
  std::unique_lock held(queue.lock);
  bool watched = false;
  for (;;) {
    if (HandleAllSent(queue, held)) watched = false;
    if (!queue.posted.empty()) {
      *msg = queue.posted.front();
      if (remove) queue.posted.pop_front();
      return true;
    }
    if (queue.quitPosted) {
      *msg = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, 0};
      if (remove) queue.quitPosted = false;
      return true;
    }
    auto now = Clock::now();
    auto earliest = Clock::time_point::max();
    for (Timer& timer : queue.timers) {
      if (timer.due <= now) {
        *msg = MSG{timer.window, WM_TIMER, timer.id, 0, 0};
        // Like Win32, a late timer fires once, not once per missed period.
        if (remove) timer.due = now + timer.interval;
        return true;
      }
      earliest = std::min(earliest, timer.due);
    }
    if (!wait) return false;
    if (!watched) {
      watched = true;
      const unsigned seen = queue.arrivals.load(std::memory_order_relaxed);
      held.unlock();
      WatchAwake([&] { return queue.arrivals.load(std::memory_order_relaxed) != seen; });
      held.lock();
      continue;
    }
    if (earliest == Clock::time_point::max())
      queue.wake.wait(held);
    else
      queue.wake.wait_until(held, earliest);
  }
}

}  // namespace

bool RegisterClassA(const WNDCLASSA& windowClass) {
  if (windowClass.lpszClassName == nullptr || windowClass.lpfnWndProc == nullptr) return false;
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  return registry.classes.emplace(Upper(windowClass.lpszClassName), windowClass.lpfnWndProc).second;
}

bool UnregisterClassA(const char* className, void* /*instance*/) {
  if (className == nullptr) return false;
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  auto found = registry.classes.find(Upper(className));
  if (found == registry.classes.end()) return false;
  for (auto& [handle, window] : registry.windows)
    if (SameName(window->className, className)) return false;
  registry.classes.erase(found);
  return true;
}

HWND CreateWindowExA(const char* className, const char* windowName, HWND /*parent*/, void* /*instance*/, void* param) {
  auto window = std::make_shared<Window>();
  window->owner = CurrentQueue();  // before the registry lock: a thread's first queue registers itself
  HWND handle;
  {
    Registry& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    auto found = registry.classes.find(Upper(className));
    if (found == registry.classes.end()) return nullptr;
    window->className = className;
    window->windowName = windowName ? windowName : "";
    window->procedure = found->second;
    handle = reinterpret_cast<HWND>(registry.nextHandle);
    registry.nextHandle += 4;
    registry.windows.emplace(reinterpret_cast<std::uintptr_t>(handle), window);
  }
  CREATESTRUCTA create{param};
  CallProcedure(handle, *window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
  return handle;
}

BOOL DestroyWindow(HWND handle) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window || window->owner != CurrentQueue()) return 0;
  CallProcedure(handle, *window, WM_DESTROY, 0, 0);
  window->destroyed = true;
  {
    std::lock_guard guard(window->owner->lock);
    std::erase_if(window->owner->timers, [&](const Timer& timer) { return timer.window == handle; });
  }
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  registry.windows.erase(reinterpret_cast<std::uintptr_t>(handle));
  return 1;
}

BOOL IsWindow(HWND handle) { return FindWindowObject(handle) != nullptr; }

HWND FindWindowA(const char* className, const char* windowName) {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  for (auto& [handle, window] : registry.windows) {
    if (className && !SameName(window->className, className)) continue;
    if (windowName && !SameName(window->windowName, windowName)) continue;
    return reinterpret_cast<HWND>(handle);
  }
  return nullptr;
}

DWORD GetWindowThreadProcessId(HWND handle, DWORD* processId) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  if (processId) *processId = static_cast<DWORD>(getpid());
  return window->owner->threadId;
}

DWORD GetCurrentThreadId() { return CurrentQueue()->threadId; }

BOOL EnableWindow(HWND handle, BOOL enable) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  bool wasEnabled = window->enabled.exchange(enable != 0);
  return wasEnabled ? 0 : 1;  // non-zero when the window was disabled before
}

BOOL IsWindowEnabled(HWND handle) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  return window && window->enabled.load() ? 1 : 0;
}

LRESULT SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  const std::shared_ptr<ThreadQueue>& self = CurrentQueue();
  if (window->owner == self) return CallProcedure(handle, *window, message, wParam, lParam);

  SentMessage sent(handle, *window, message, wParam, lParam, self);
  {
    std::lock_guard guard(window->owner->lock);
    if (!window->owner->alive) return 0;
    window->owner->sent.push_back(&sent);
    window->owner->arrivals.fetch_add(1, std::memory_order_relaxed);
  }
  window->owner->wake.notify_all();

  // While blocked, handle what other threads send to this thread's windows, as Win32 does; that is
  // what keeps a thread that sends to the player while the player sends to it from deadlocking.
  const unsigned seen = self->arrivals.load(std::memory_order_relaxed);
  WatchAwake([&] {
    return sent.done.load(std::memory_order_acquire) || self->arrivals.load(std::memory_order_relaxed) != seen;
  });
  std::unique_lock held(self->lock);
  while (!sent.done) {
    if (!self->sent.empty()) {
      HandleAllSent(*self, held);
      continue;
    }
    self->wake.wait(held);
  }
  return sent.result;
}

namespace {

BOOL PostTo(const std::shared_ptr<ThreadQueue>& target, HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  {
    std::lock_guard guard(target->lock);
    if (!target->alive) return 0;
    target->posted.push_back(MSG{handle, message, wParam, lParam, 0});
    target->arrivals.fetch_add(1, std::memory_order_relaxed);
  }
  target->wake.notify_all();
  return 1;
}

}  // namespace

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> target;
  {
    Registry& registry = TheRegistry();
    std::shared_lock guard(registry.lock);
    auto found = registry.threads.find(threadId);
    if (found != registry.threads.end()) target = found->second.lock();
  }
  return target ? PostTo(target, nullptr, message, wParam, lParam) : 0;
}

BOOL PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<ThreadQueue> target;
  if (handle == nullptr) {
    target = CurrentQueue();
  } else {
    std::shared_ptr<Window> window = FindWindowObject(handle);
    if (!window) return 0;
    target = window->owner;
  }
  return PostTo(target, handle, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  ThreadQueue& queue = *CurrentQueue();
  std::lock_guard guard(queue.lock);
  queue.quitPosted = true;
  queue.quitCode = exitCode;
}

BOOL GetMessageA(MSG* msg, HWND /*window*/, UINT /*filterMin*/, UINT /*filterMax*/) {
  NextMessage(msg, /*wait=*/true, /*remove=*/true);
  return msg->message == WM_QUIT ? 0 : 1;
}

BOOL PeekMessageA(MSG* msg, HWND /*window*/, UINT /*filterMin*/, UINT /*filterMax*/, UINT removeFlags) {
  return NextMessage(msg, /*wait=*/false, (removeFlags & PM_REMOVE) != 0) ? 1 : 0;
}

BOOL TranslateMessage(const MSG* /*msg*/) { return 0; }

LRESULT DispatchMessageA(const MSG* msg) {
  std::shared_ptr<Window> window = FindWindowObject(msg->hwnd);
  return window ? CallProcedure(msg->hwnd, *window, msg->message, msg->wParam, msg->lParam) : 0;
}

LONG_PTR GetWindowLongPtrA(HWND handle, int index) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  if (index == GWL_WNDPROC) return reinterpret_cast<LONG_PTR>(window->procedure.load());
  if (index == GWLP_USERDATA) return window->userData.load();
  return 0;
}

LONG_PTR SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  if (index == GWL_WNDPROC)
    return reinterpret_cast<LONG_PTR>(window->procedure.exchange(reinterpret_cast<WNDPROC>(value)));
  if (index == GWLP_USERDATA) return window->userData.exchange(value);
  return 0;
}

LRESULT CallWindowProcA(WNDPROC previous, HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  return previous ? previous(handle, message, wParam, lParam) : 0;
}

LRESULT DefWindowProcA(HWND handle, UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/) {
  if (message == WM_CLOSE) DestroyWindow(handle);
  return 0;
}

UINT_PTR SetTimer(HWND handle, UINT_PTR id, UINT milliseconds) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window || id == 0) return 0;
  auto interval = std::chrono::milliseconds(std::max<UINT>(milliseconds, 10));
  ThreadQueue& queue = *window->owner;
  {
    std::lock_guard guard(queue.lock);
    std::erase_if(queue.timers, [&](const Timer& timer) { return timer.window == handle && timer.id == id; });
    queue.timers.push_back(Timer{handle, id, interval, Clock::now() + interval});
    queue.arrivals.fetch_add(1, std::memory_order_relaxed);
  }
  queue.wake.notify_all();
  return id;
}

BOOL KillTimer(HWND handle, UINT_PTR id) {
  std::shared_ptr<Window> window = FindWindowObject(handle);
  if (!window) return 0;
  ThreadQueue& queue = *window->owner;
  std::lock_guard guard(queue.lock);
  auto removed =
      std::erase_if(queue.timers, [&](const Timer& timer) { return timer.window == handle && timer.id == id; });
  // A WM_TIMER already taken from the queue is not recalled, as on Win32.
  return removed ? 1 : 0;
}

UINT RegisterWindowMessageA(const char* name) {
  if (name == nullptr || *name == 0) return 0;
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  auto [entry, added] = registry.messageNames.emplace(Upper(name), registry.nextMessage);
  if (added) ++registry.nextMessage;
  return entry->second;
}

std::vector<std::string> emulation::RegisteredWindowClasses() {
  Registry& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  std::vector<std::string> names;
  for (const auto& [name, procedure] : registry.classes) names.push_back(name);
  return names;
}

void WaitHandlingSentMessages(const std::function<bool()>& finished, std::chrono::milliseconds pollInterval) {
  ThreadQueue& queue = *CurrentQueue();
  for (;;) {
    if (finished()) return;
    std::unique_lock held(queue.lock);
    HandleAllSent(queue, held);
    queue.wake.wait_for(held, pollInterval, [&] { return !queue.sent.empty(); });
  }
}

}  // namespace platform

#include "player/mlquery.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

#include "core/text.h"
#include "platform/window.h"
#include "player/player.h"

namespace qf {

// What the player answered to one query, given back to it when the last query sharing it goes.
class MediaLibraryQuery::ResultSet {
 public:
  // Sends the query. A set that `counted` is one of the kHeldAtOnce.
  ResultSet(platform::HWND window, Kind kind, const std::string& text, int maxResults, bool counted);
  ~ResultSet();
  ResultSet(const ResultSet&) = delete;
  ResultSet& operator=(const ResultSet&) = delete;

  int Size() const { return record_.results.Items ? record_.results.Size : 0; }
  const host::itemRecord& operator[](int index) const { return record_.results.Items[index]; }

 private:
  platform::HWND window_;
  std::string text_;
  host::mlQueryStruct record_{};
  bool counted_;
};

namespace {

// How long a query waits for its turn before it asks anyway: the holders are pages being produced,
// which take milliseconds, unless the player itself stopped answering them.
constexpr auto kTurnWaitLimit = std::chrono::seconds(10);

using Key = std::tuple<platform::HWND, MediaLibraryQuery::Kind, std::string, int>;

// A query waiting for its turn, and the queries of the same text that will share its results.
struct Pending {
  bool answered = false;
  std::shared_ptr<const MediaLibraryQuery::ResultSet> results;  // none when asking failed
};

std::mutex turnLock;
std::condition_variable turnChanged;                 // a turn freed, or a pending query answered
int turnsTaken = 0;                                  // guarded by turnLock
int waiting = 0;                                     // guarded by turnLock
std::map<Key, std::shared_ptr<Pending>> pendingFor;  // guarded by turnLock: queries not yet sent
thread_local int largeSetsOfThisThread = 0;

}  // namespace

MediaLibraryQuery::ResultSet::ResultSet(platform::HWND window, Kind kind, const std::string& text, int maxResults,
                                        bool counted)
    : window_(window), text_(text), counted_(counted) {
  record_.query = text_.data();
  record_.max_results = maxResults;
  platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                         kind == Kind::Search ? host::ML_IPC_DB_RUNQUERY_SEARCH : host::ML_IPC_DB_RUNQUERY);
}

MediaLibraryQuery::ResultSet::~ResultSet() {
  platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                         host::ML_IPC_DB_FREEQUERYRESULTS);
  if (!counted_) return;
  {
    std::lock_guard guard(turnLock);
    --turnsTaken;
  }
  turnChanged.notify_all();
}

MediaLibraryQuery::MediaLibraryQuery(TPlayer& player, Kind kind, const std::string& text, int maxResults) {
  platform::HWND window = player.GetMediaLibraryWindow();
  if (!window) return;
  // A small query, or one nested in a query of this thread, which holds a turn already (waiting for
  // another would never end), is asked at once.
  if (maxResults <= kFewResults || large_.Take()) {
    results_ = std::make_shared<const ResultSet>(window, kind, text, maxResults, false);
    return;
  }

  const Key key{window, kind, text, maxResults};
  std::unique_lock held(turnLock);
  for (;;) {
    auto found = pendingFor.find(key);
    if (found == pendingFor.end()) break;
    std::shared_ptr<Pending> pending = found->second;  // share what it will be answered
    ++waiting;
    turnChanged.wait(held, [&] { return pending->answered; });
    --waiting;
    if (pending->results) {
      results_ = pending->results;
      return;
    }
  }
  auto pending = std::make_shared<Pending>();
  pendingFor.emplace(key, pending);
  ++waiting;
  turnChanged.wait_for(held, kTurnWaitLimit, [] { return turnsTaken < kHeldAtOnce; });
  --waiting;
  ++turnsTaken;
  pendingFor.erase(key);  // from now on it is asked: a later query asks again
  held.unlock();

  struct Answer {  // tells the sharers, however asking ends
    Pending& pending;
    std::shared_ptr<const ResultSet>& results;
    ~Answer() {
      {
        std::lock_guard guard(turnLock);
        pending.results = results;
        pending.answered = true;
      }
      turnChanged.notify_all();
    }
  } answer{*pending, results_};
  try {
    results_ = std::make_shared<const ResultSet>(window, kind, text, maxResults, true);
  } catch (...) {
    {
      std::lock_guard guard(turnLock);
      --turnsTaken;
    }
    turnChanged.notify_all();
    throw;
  }
}

MediaLibraryQuery::~MediaLibraryQuery() = default;

bool MediaLibraryQuery::LargeSetOfThisThread::Take() {
  taken_ = true;
  return largeSetsOfThisThread++ > 0;
}

MediaLibraryQuery::LargeSetOfThisThread::~LargeSetOfThisThread() {
  if (taken_) --largeSetsOfThisThread;
}

int MediaLibraryQuery::Size() const { return results_ ? results_->Size() : 0; }

const host::itemRecord& MediaLibraryQuery::operator[](int index) const { return (*results_)[index]; }

int MediaLibraryQuery::Waiting() {
  std::lock_guard guard(turnLock);
  return waiting;
}

std::optional<std::string> MediaLibraryQuery::Extended(const host::itemRecord& item, std::string_view name) {
  if (!item.extended_info) return std::nullopt;
  for (char** entry = item.extended_info; *entry; ++entry)
    if (SameText(*entry, name)) return std::string(*entry + std::strlen(*entry) + 1);
  return std::nullopt;
}

}  // namespace qf

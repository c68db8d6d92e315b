#include "player/mlquery.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/text.h"
#include "platform/window.h"
#include "player/player.h"

namespace qf {
namespace {

// How long a query waits for its turn before it asks anyway: the holders are pages being produced,
// which take milliseconds, unless the player itself stopped answering them.
constexpr auto kTurnWaitLimit = std::chrono::seconds(10);

std::mutex turnLock;
std::condition_variable turnFreed;
int turnsTaken = 0;  // guarded by turnLock
thread_local int turnsOfThisThread = 0;

}  // namespace

MediaLibraryQuery::Turn::Turn(bool needed) {
  if (!needed) return;
  needed_ = true;
  if (turnsOfThisThread++ > 0) return;  // nested in a query of this thread: it holds a turn already
  std::unique_lock held(turnLock);
  turnFreed.wait_for(held, kTurnWaitLimit, [] { return turnsTaken < kHeldAtOnce; });
  ++turnsTaken;
  counted_ = true;
}

MediaLibraryQuery::Turn::~Turn() {
  if (needed_) --turnsOfThisThread;
  if (!counted_) return;
  {
    std::lock_guard guard(turnLock);
    --turnsTaken;
  }
  turnFreed.notify_one();
}

MediaLibraryQuery::MediaLibraryQuery(TPlayer& player, Kind kind, const std::string& text, int maxResults)
    : turn_(maxResults > kFewResults), window_(player.GetMediaLibraryWindow()), text_(text) {
  record_.query = text_.data();
  record_.max_results = maxResults;
  if (!window_) return;
  platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                         kind == Kind::Search ? host::ML_IPC_DB_RUNQUERY_SEARCH : host::ML_IPC_DB_RUNQUERY);
}

MediaLibraryQuery::~MediaLibraryQuery() {
  if (window_)
    platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                           host::ML_IPC_DB_FREEQUERYRESULTS);
}

std::optional<std::string> MediaLibraryQuery::Extended(const host::itemRecord& item, std::string_view name) {
  if (!item.extended_info) return std::nullopt;
  for (char** entry = item.extended_info; *entry; ++entry)
    if (SameText(*entry, name)) return std::string(*entry + std::strlen(*entry) + 1);
  return std::nullopt;
}

}  // namespace qf

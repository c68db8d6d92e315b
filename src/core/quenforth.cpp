#include "core/quenforth.h"

namespace qf {

// Owned by the one caller that reads. However the read ends, the next caller may read and the waiting
// callers learn of it; only a read that gave a list counts as done for them.
struct TQuenforth::PlaylistRead {
  TQuenforth& core;
  std::uint64_t number;
  std::uint64_t changes;  // the change count before the player wrote its list for this read
  std::chrono::steady_clock::time_point began;
  Snapshot<PlaylistEntryList> entries;

  PlaylistRead(TQuenforth& owner, std::uint64_t readNumber)
      : core(owner),
        number(readNumber),
        changes(owner.playlistChanges_.load(std::memory_order_acquire)),
        began(std::chrono::steady_clock::now()) {}
  PlaylistRead(const PlaylistRead&) = delete;
  PlaylistRead& operator=(const PlaylistRead&) = delete;
  ~PlaylistRead() {
    {
      std::lock_guard guard(core.playlistLock_);
      if (entries) {
        core.playlistReadsFinished_ = number;
        core.lastPlaylistRead_ = entries;
        core.lastReadChanges_ = changes;
        core.lastReadBegan_ = began;
      }
      core.PlaylistBusy = false;
    }
    core.playlistReadEnded_.notify_all();
  }
};

Snapshot<PlaylistEntryList> TQuenforth::SharePlaylistRead(const std::function<Snapshot<PlaylistEntryList>()>& read,
                                                          std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock held(playlistLock_);
  // Nothing changed since the last list was read, and the player would have said so.
  if (playlistChangesTold_.load(std::memory_order_acquire) && playlistReadsFinished_ > 0 &&
      lastReadChanges_ == playlistChanges_.load(std::memory_order_acquire) &&
      std::chrono::steady_clock::now() - lastReadBegan_ < kPlaylistFreshFor)
    return lastPlaylistRead_;
  // A read in progress may have written the playlist file before this caller's commands changed the
  // playlist: only a read that starts from now on will do.
  const std::uint64_t needed = playlistReadsStarted_ + 1;
  for (;;) {
    if (playlistReadsFinished_ >= needed) return lastPlaylistRead_;
    if (!PlaylistBusy) break;
    ++playlistReadersWaiting_;
    std::cv_status waited = playlistReadEnded_.wait_until(held, deadline);
    --playlistReadersWaiting_;
    if (waited == std::cv_status::timeout && playlistReadsFinished_ < needed && PlaylistBusy) {
      held.unlock();
      return PlaylistEntries.Get();
    }
  }
  PlaylistBusy = true;
  PlaylistRead reading(*this, ++playlistReadsStarted_);
  held.unlock();
  reading.entries = read();
  return reading.entries;
}

int TQuenforth::PlaylistReadersWaiting() const {
  std::lock_guard guard(playlistLock_);
  return playlistReadersWaiting_;
}

std::uint64_t TQuenforth::PlaylistReadsStarted() const {
  std::lock_guard guard(playlistLock_);
  return playlistReadsStarted_;
}

}  // namespace qf

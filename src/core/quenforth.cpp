#include "core/quenforth.h"

namespace qf {

bool TQuenforth::BeginPlaylistRead(std::chrono::milliseconds limit) {
  std::unique_lock held(playlistLock_);
  if (!playlistIdle_.wait_for(held, limit, [this] { return !PlaylistBusy.load(); })) return false;
  PlaylistBusy = true;
  return true;
}

void TQuenforth::EndPlaylistRead() {
  {
    std::lock_guard guard(playlistLock_);
    PlaylistBusy = false;
  }
  playlistIdle_.notify_all();
}

}  // namespace qf

#include "commands/maintenance.h"

#include <ctime>
#include <random>

#include "core/quenforth.h"
#include "player/player.h"

namespace qf {
namespace {

// A restart of the same entry lands at its first seconds; a seek backwards within a track does not,
// and must not count as a track change (it would delete the track that is playing).
constexpr int kRestartSeconds = 2;

// A random cache entry whose path has no "m3u" in it; empty when there is none.
std::string DrawTrack(const TextList& cache, std::mt19937& random) {
  if (cache.empty()) return std::string();
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string& path = cache[random() % cache.size()];
    if (path.find("m3u") == std::string::npos) return path;
  }
  // Mostly playlists: pick among the others, if there are any.
  std::vector<const std::string*> tracks;
  for (const std::string& path : cache)
    if (path.find("m3u") == std::string::npos) tracks.push_back(&path);
  return tracks.empty() ? std::string() : *tracks[random() % tracks.size()];
}

}  // namespace

void AppendRandomTracks(TQuenforth& core) {
  Snapshot<TextList> cache = core.FileCache.Get();
  // One generator per thread, seeded once: seeding by the clock on every call would draw the same track
  // for every call within a second.
  thread_local std::mt19937 random{std::random_device{}()};
  std::string path = DrawTrack(*cache, random);
  if (path.empty()) return;
  core.Player->InsertFile(TPlayer::InsertAt::End, path);
  if (core.Player->GetListLength() <= 1) {
    std::string next = DrawTrack(*cache, random);
    if (!next.empty()) core.Player->InsertFile(TPlayer::InsertAt::End, next);
  }
}

void MaintainPlaylist(TQuenforth& core) {
  Snapshot<Settings> settings = core.CurrentSettings.Get();
  int interval = settings->TimerInterval;
  int ticksPerSecond = 1000 / (interval > 0 && interval <= 1000 ? interval : 100);
  std::uint64_t ticks = ++core.TimerTicks;
  core.UptimeSeconds = static_cast<std::int32_t>(std::time(nullptr)) - core.StartTime;

  Snapshot<UserList> users = core.Users.Get();
  if (ticks % (static_cast<std::uint64_t>(ticksPerSecond) * 3600) == 0)
    for (const auto& user : *users) user->TracksThisHour = 0;
  if (ticks % (static_cast<std::uint64_t>(ticksPerSecond) * 86400) == 0)
    for (const auto& user : *users)
      if (user->uploadmode == 3) user->currentupload = 0;

  TPlayer& player = *core.Player;
  int position = player.GetPosition();
  int index = player.GetListPos();
  core.TrackPositionSeconds = position;
  core.PlaylistPosition = index;
  int previousPosition = core.PreviousPositionSeconds;
  int previousIndex = core.PreviousPlaylistPosition;
  bool trackChange = position < previousPosition && (index != previousIndex || position < kRestartSeconds);
  if (trackChange && settings->RemovePlayed) {
    if (player.GetListLength() == 1) {
      player.Stop();
      player.DeleteIndex(index);
    }
    player.DeleteIndex(previousIndex);
  }
  if (trackChange && settings->AddRandomTrack) AppendRandomTracks(core);
  core.PreviousPositionSeconds = position;
  core.PreviousPlaylistPosition = index;

  if (settings->KeepPlaylistAlive && player.GetListLength() <= 1) {
    AppendRandomTracks(core);
    if (player.GetListLength() != 0 && player.IsPlaying() != 1) player.Play();
  }

  std::int64_t refreshTicks = static_cast<std::int64_t>(ticksPerSecond) * (settings->CacheTimeoutMs / 1000);
  if (settings->CacheTimeoutMs != 0 && refreshTicks != 0 && core.CacheAgeTicks % refreshTicks == 0)
    core.CacheRefreshPending = true;
}

}  // namespace qf

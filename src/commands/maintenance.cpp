#include "commands/maintenance.h"

#include <algorithm>
#include <ctime>
#include <random>
#include <vector>

#include "core/quenforth.h"
#include "player/player.h"

namespace qf {
namespace {

// A restart of the same entry lands at its first seconds; a seek backwards within a track does not,
// and must not count as a track change (it would delete the track that is playing).
constexpr int kRestartSeconds = 2;
// Random draws before the tracks are counted out: a cache of mostly playlists must not keep the
// player's thread drawing.
constexpr int kDraws = 1000;
constexpr int kDefaultTimerInterval = 100;

// A random cache entry whose path has no "m3u" in it; empty when there is none.
std::string DrawTrack(const PackedTextList& cache, std::mt19937& random) {
  if (cache.empty()) return std::string();
  for (int attempt = 0; attempt < kDraws; ++attempt) {
    std::string_view path = cache[random() % cache.size()];
    if (path.find("m3u") == std::string_view::npos) return std::string(path);
  }
  std::vector<std::string_view> tracks;
  for (std::string_view path : cache)
    if (path.find("m3u") == std::string_view::npos) tracks.push_back(path);
  return tracks.empty() ? std::string() : std::string(tracks[random() % tracks.size()]);
}

}  // namespace

MaintenancePeriods PeriodsFor(int timerIntervalMs, int cacheTimeoutMs) {
  std::int64_t interval = timerIntervalMs > 0 ? timerIntervalMs : kDefaultTimerInterval;
  std::int64_t perSecond = 1000 / interval;
  if (perSecond == 0) {
    // A tick longer than a second: the resets count real hours and days, and there is no cache period.
    return {static_cast<std::uint64_t>(std::max<std::int64_t>(1, 3600000 / interval)),
            static_cast<std::uint64_t>(std::max<std::int64_t>(1, 86400000 / interval)), 0};
  }
  std::int64_t refresh = cacheTimeoutMs > 0 ? perSecond * (cacheTimeoutMs / 1000) : 0;
  return {static_cast<std::uint64_t>(perSecond * 3600), static_cast<std::uint64_t>(perSecond * 86400), refresh};
}

std::string TickFileCache(TQuenforth& core) {
  std::string text = std::to_string(core.FileCache.Get()->size());
  if (core.CacheRefreshPending)
    text += " working...";
  else
    ++core.CacheAgeTicks;
  return text;
}

void AppendRandomTracks(TQuenforth& core) {
  Snapshot<PackedTextList> cache = core.FileCache.Get();
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
  const MaintenancePeriods periods = PeriodsFor(settings->TimerInterval, settings->CacheTimeoutMs);
  std::uint64_t ticks = ++core.TimerTicks;
  core.UptimeSeconds = static_cast<std::int32_t>(std::time(nullptr)) - core.StartTime;

  Snapshot<UserList> users = core.Users.Get();
  if (ticks % periods.hourTicks == 0)
    for (const auto& user : *users) user->TracksThisHour = 0;
  if (ticks % periods.dayTicks == 0)
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
    bool deletedCurrent = false;
    if (player.GetListLength() == 1) {
      // The only entry has started again.
      player.Stop();
      player.DeleteIndex(index);
      deletedCurrent = true;
    }
    if (!deletedCurrent || previousIndex != index) player.DeleteIndex(previousIndex);
  }
  if (trackChange && settings->AddRandomTrack) AppendRandomTracks(core);
  core.PreviousPositionSeconds = position;
  core.PreviousPlaylistPosition = index;

  if (settings->KeepPlaylistAlive && player.GetListLength() <= 1) {
    AppendRandomTracks(core);
    if (player.GetListLength() != 0 && player.IsPlaying() != 1) player.Play();
  }

  // An age of 0 is a rebuild that has just ended (between this tick's count and now), not a whole period.
  std::int32_t age = core.CacheAgeTicks;
  if (periods.cacheRefreshTicks != 0 && age != 0 && age % periods.cacheRefreshTicks == 0)
    core.CacheRefreshPending = true;
}

}  // namespace qf

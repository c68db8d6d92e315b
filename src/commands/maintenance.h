#pragma once
// Playlist maintenance: the work of the main timer's tick on the player's thread, and random tracks.
// The switches and periods come from the current settings, taken once per tick.

#include <cstdint>
#include <string>

namespace qf {

class TQuenforth;

// How many timer ticks make each period, for a timer of `timerIntervalMs` and a cache period of
// `cacheTimeoutMs`. With k = 1000 div the interval (whole ticks per second): the quota hour is k × 3600
// ticks and the upload day k × 86400, so an interval that does not divide a second makes them short
// (300 ms: 10800 ticks, 54 minutes). The cache period is k × (cacheTimeoutMs div 1000) ticks, 0 for none:
// no periodic refresh when the cache period is 0 or the interval is above a second.
struct MaintenancePeriods {
  std::uint64_t hourTicks;
  std::uint64_t dayTicks;
  std::int64_t cacheRefreshTicks;
};
MaintenancePeriods PeriodsFor(int timerIntervalMs, int cacheTimeoutMs);

// The file cache's part of a tick: the count of cached files for the configuration window's label, with
// " working..." while a rebuild is pending; otherwise the cache is one tick older.
std::string TickFileCache(TQuenforth& core);

// One maintenance pass: uptime and tick count, the hourly and daily quota resets, removing played
// tracks and adding random ones on a track change, keeping the playlist alive, asking for a cache scan
// when the cache is a whole period old.
void MaintainPlaylist(TQuenforth& core);

// Appends a random track of the file cache (never a path containing "m3u"), and a second one when the
// playlist would otherwise hold at most one entry. Nothing when the cache has no such track.
void AppendRandomTracks(TQuenforth& core);

}  // namespace qf

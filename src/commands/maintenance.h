#pragma once
// Playlist maintenance: the work of the main timer's tick on the player's thread, and random tracks.

namespace qf {

class TQuenforth;

// One maintenance pass: uptime and tick count, the hourly and daily quota resets, removing played
// tracks and adding random ones on a track change, keeping the playlist alive, asking for a cache scan.
void MaintainPlaylist(TQuenforth& core);

// Appends a random track of the file cache (never a path containing "m3u"), and a second one when the
// playlist would otherwise hold at most one entry. Nothing when the cache has no such track.
void AppendRandomTracks(TQuenforth& core);

}  // namespace qf

#pragma once
// Reading the player's playlist into the core object's entry list.

#include <string_view>

#include "core/guarded.h"
#include "core/records.h"

namespace qf {

class TQuenforth;

// The entries of a playlist file as the player writes it: a header line, then for each entry an
// "#EXTINF:seconds,title" line and its path line, or a path line alone (titled by its file name).
PlaylistEntryList ParsePlaylistFile(std::string_view text);

// Makes the player write its playlist file (winamp.m3u in PlaylistFolder), reads it into a new entry list
// and swaps that in, so that readers of the old list keep it whole. Answers the new list. A file that
// cannot be read gives an empty list. One reader at a time: pages go through ReadPlaylistShared.
Snapshot<PlaylistEntryList> ReadPlaylist(TQuenforth& core);

// ReadPlaylist shared with the pages that want the playlist at the same time (TQuenforth::SharePlaylistRead):
// a list read after the caller arrived, or after a wait of ten seconds for a player that does not answer,
// the newest list there is.
Snapshot<PlaylistEntryList> ReadPlaylistShared(TQuenforth& core);

}  // namespace qf

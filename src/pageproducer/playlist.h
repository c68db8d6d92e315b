#pragma once
// Reading the player's playlist into the core object's entry list.

#include "core/guarded.h"
#include "core/records.h"

namespace qf {

class TQuenforth;

// Makes the player write its playlist file (winamp.m3u in PlaylistFolder), reads it into a new entry list
// and swaps that in, so that readers of the old list keep it whole. Answers the new list. A file that
// cannot be read gives an empty list. The caller holds the playlist read (BeginPlaylistRead).
Snapshot<PlaylistEntryList> ReadPlaylist(TQuenforth& core);

}  // namespace qf

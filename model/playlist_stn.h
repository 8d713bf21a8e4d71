// Playlist stream entries made from a clip's tracks.
#pragma once

#include "bdnav/playlist_file.h"
#include "mux/mux_track.h"

namespace zv {

// Adds the track's entry to the list of `stn` its kind belongs to; false for
// a kind no list takes.
bool AddToStn(const SMuxTrack& track, STN_TABLE& stn);
// Refreshes an existing entry from the track: its attributes, and the PID
// where the entry's kind holds it.
void FillStreamEntry(const SMuxTrack& track, PRIMARY_STREAM_ENTRY& entry);

}  // namespace zv

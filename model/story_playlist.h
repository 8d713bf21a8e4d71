// Stream entries of an existing playlist taken over for the streams a story
// reuses from the clip that playlist plays: the new playlist then lists them
// with the same attributes, languages and order as the old disc did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "streams/sif_data.h"

namespace zv {

struct SRipTracks;

struct STakenStream {
  uint16_t pid = 0;  // in the existing clip
  SCodingAttributes attributes;
  std::string language;  // as listed (audio and graphics); may be empty
};

// Reads the playlist at `path` and takes the stream entries of its first
// play item that plays clip `clipName` ("%05d"), in the playlist's order.
// Every play item of that clip is checked: each entry on the clip must name
// a stream of `tracks` with its coding type and sit in a list of its kind.
// False with `error` set, for a file that is unreadable or malformed too.
bool ReadPlaylistStreams(const std::string& path, const std::string& clipName, const SRipTracks& tracks,
                         std::vector<STakenStream>& out, std::string& error);

// Gives each track of `tracks` its taken-over attributes; with
// `setLanguages` also the listed language when it is a known code.
void ApplyPlaylistStreams(SRipTracks& tracks, const std::vector<STakenStream>& taken, bool setLanguages);

}  // namespace zv

// One clip from a set of tracks: the single path by which the `mux`
// command, story clips and menu clips are multiplexed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "mux/mux_track.h"
#include "mux/muxer.h"

namespace zv {

struct SClipJob {
  // PIDs given, in the order AssignPids hands them out.
  std::vector<SMuxTrack*> tracks;
  SMuxPrepare prep;
  std::string m2tsPath;
  std::string clpiPath;
  // The clip follows another one seamlessly (connection condition 5).
  bool seamless = false;
  // Both files are made new: a file or a link already at either name is
  // removed first (never written through; what a link points to stays).
  // Otherwise existing files are written over in place.
  bool replaceExisting = false;
  // Called once the tracks are prepared, before any file is made; anything
  // but kOk stops the job with that result (and its `error`).
  std::function<int(CMuxer&, std::string& error)> prepared;
};

// Prepares the tracks, runs `muxer` into the job's two files and closes
// them; the muxer's timing and counts then describe the clip. kOk,
// kCancelled or kFailed; on anything but kOk no clip file is left behind
// and `error` says why (empty on cancel, and when a track's failure was
// already shown through the prompt and left no message).
int MultiplexClip(CMuxer& muxer, SClipJob& job, std::string& error);

}  // namespace zv

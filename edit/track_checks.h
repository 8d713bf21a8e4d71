// What adding a source must check of the tracks it brought, the same for a
// stream file and for the tracks of a container: a clip plays one main
// video, and video the disc knows but does not allow is taken with a warning.
#pragma once

#include <cstddef>
#include <string>

#include "edit/source_display.h"
#include "model/story.h"

namespace zvedit {

// The clip's tracks before a source is added.
struct STracksBefore {
  size_t count = 0;
  bool video = false;  // an enabled main video
};
STracksBefore TracksBefore(const zv::CStoryObject& story);

// Checks the tracks added since `before` from `file` (named so in the
// messages): a second main video is refused; a video format the disc does
// not allow gets a warning. kOk, or kFailed after telling `display`.
int CheckAddedTracks(const zv::CStoryObject& story, const STracksBefore& before, const std::string& file,
                     const std::string& clipName, ISourceDisplay& display);

}  // namespace zvedit

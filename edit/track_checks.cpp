#include "edit/track_checks.h"

#include <vector>

#include "streams/sif_data.h"

namespace zvedit {

STracksBefore TracksBefore(const zv::CStoryObject& story) {
  STracksBefore b;
  b.count = story.m_vecTracks.size();
  for (const zv::STrackRef& t : story.TrackRefs()) b.video |= t.enabled && t.primary && t.video;
  return b;
}

int CheckAddedTracks(const zv::CStoryObject& story, const STracksBefore& before, const std::string& file,
                     const std::string& clipName, ISourceDisplay& display) {
  const std::vector<zv::STrackRef> refs = story.TrackRefs();
  for (size_t i = before.count; i < refs.size(); ++i) {
    if (before.video && refs[i].video && refs[i].primary) {
      display.Finish();
      return Fail(display, "\"" + file + "\": \"" + clipName + "\" already has a video track");
    }
    const std::string warning =
        refs[i].video ? zv::DisallowedVideoWarning(file, refs[i].videoFormat, refs[i].fpsCode) : std::string();
    if (!warning.empty()) {
      display.Finish();
      display.Message("warning: " + warning);
    }
  }
  return zv::kOk;
}

}  // namespace zvedit

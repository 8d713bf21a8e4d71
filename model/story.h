// Stories: the future clips of a film, each a set of source files and the
// tracks chosen from them. Tracks arrive with stream analysis; until then a
// story keeps its source list and stores no tracks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/named/containers.h"
#include "platform/progress.h"

namespace zv {

// What a play item needs to know about one track of its story.
struct STrackRef {
  int32_t number = 0;   // track number within the story
  bool enabled = true;
  bool video = false;
  uint8_t fpsCode = 0;  // frame-rate code of a video track
};

class CStoryObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CStoryObject)

 public:
  int32_t m_nReserved1 = 0;   // stored and restored unchanged
  int32_t m_nReserved2 = 0;
  int32_t m_nReserved3 = -1;
  int32_t m_nClipNumber = -1;  // of the current build
  std::vector<std::string> m_vecSources;  // absolute paths, in the order added
  int32_t m_nNextTrackId = 0;

  // The story's tracks in order; empty until streams can be analysed.
  virtual std::vector<STrackRef> TrackRefs() const { return {}; }
  bool HasEnabledTrack() const {
    for (const STrackRef& t : TrackRefs())
      if (t.enabled) return true;
    return false;
  }

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void CopyFrom(const CNamedObject& src) override;
  // Re-opens the story's source files after a load; returns true when
  // anything had to be dropped. Stream analysis plugs in here: until it
  // exists the stored source list is kept as it is.
  virtual bool ReloadSources(const Progress& progress);
};

class CGosObject : public CGroupObject<CStoryObject> {
 public:
  CGosObject() { SetName("Clips"); }
  const char* DefaultBaseName() const override { return "Clip"; }
  bool ReloadSources(const Progress& progress);
};

}  // namespace zv

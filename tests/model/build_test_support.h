// Shared by the build and navigation tests: stories cannot carry tracks until
// stream analysis joins the model, so a film gets content from a story whose
// track list is fixed here.
#pragma once

#include <memory>
#include <vector>

#include "model/project.h"
#include "model/story.h"

namespace zvtest {

class StoryWithTrack : public zv::CStoryObject {
 public:
  explicit StoryWithTrack(bool enabled = true) : enabled_(enabled) {}
  std::vector<zv::STrackRef> TrackRefs() const override {
    zv::STrackRef video;
    video.number = 0;
    video.enabled = enabled_;
    video.video = true;
    video.fpsCode = 1;
    return {video};
  }

 private:
  bool enabled_;
};

// Gives `film` content: a story with an enabled video track. Returns it.
inline zv::CStoryObject* GiveContent(zv::CFilmObject& film, bool enabled = true) {
  auto story = std::make_unique<StoryWithTrack>(enabled);
  story->SetName("Clip#" + std::to_string(film.m_stories.GetCount() + 1));
  return film.m_stories.Add(std::move(story));
}

}  // namespace zvtest

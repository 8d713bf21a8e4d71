// Chapters that come with a clip's source (a container's own chapter list)
// given to the play items that play the clip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

class CStoryObject;

struct STimedChapter {
  int64_t startMs = 0;
  std::string name;
};

// Replaces the chapters of every play item of the story's film that plays
// `story` with `chapters`, each time becoming the nearest frame of the
// item's video. Returns the number of items given chapters; 0 with
// `message` set when none could be (no video yet, no item, no chapters).
size_t SetClipChapters(CStoryObject& story, const std::vector<STimedChapter>& chapters, std::string& message);

}  // namespace zv

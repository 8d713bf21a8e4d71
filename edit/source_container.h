// `source add` of a container file (MKV, MP4, transport or program stream):
// its tracks are listed and the chosen ones added as tracks of the clip.
#pragma once

#include <string>
#include <vector>

#include "edit/source_display.h"
#include "platform/prompt.h"

namespace zv {
class CStoryObject;
}

namespace zvedit {

// True for a file `source add` reads as a container: its extension is one
// of a container's, and an .m2ts has no clip information beside it.
bool IsContainerSource(const std::string& file);

// "0,2,3" into stream numbers; false with `error` set.
bool ParseTrackList(const std::string& text, std::vector<int>& out, std::string& error);

// Lists the file's tracks, adds the chosen ones (all a disc carries when
// `tracks` is empty) and, with `chapters`, gives the container's chapters to
// the titles that play the clip. kOk, kCancelled or kFailed after telling
// `display` why.
int AddContainerSource(zv::CStoryObject& story, const std::string& clipName, const std::string& file,
                       const std::vector<int>& tracks, bool chapters, const std::string& convertAudio,
                       ISourceDisplay& display, zv::IPrompt& prompt);

}  // namespace zvedit

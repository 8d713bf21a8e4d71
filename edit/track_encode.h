// The encode settings of a video track (`encode`, `encode-format`): a track
// can be encoded for the disc after it was added, encoded with another
// format, or go back to its source file. Applying a key only notes what is
// asked; RunTrackEncodes does the work with progress, since an encode takes
// minutes and must not happen unseen inside a build.
#pragma once

#include <string>
#include <vector>

#include "edit/source_display.h"
#include "edit/source_encode.h"
#include "model/story.h"

namespace zvedit {

// "encode" and "encode-format".
bool IsTrackEncodeKey(const std::string& key);

// Whether the track at `index` has the encode keys (a video track read
// from a stream file, not reused from an existing clip).
bool HasTrackEncode(const zv::CStoryObject& story, size_t index);

// The current values: on when the track plays an encode, and its format
// ("auto" when chosen from the source).
struct STrackEncodeState {
  bool on = false;
  std::string format = "auto";
  std::string original;  // the file the encode is made from, or the stream itself
};
STrackEncodeState TrackEncodeState(const zv::CStoryObject& story, size_t index);

// The choices of `encode-format`: "auto", then every disc format.
std::vector<std::string> EncodeFormatChoices();

// Checks KEY=VALUE and notes it on the story; false with `error` (the reason
// after the "KEY=VALUE": prefix) when it cannot be taken.
bool AskTrackEncode(zv::CStoryObject& story, size_t index, const std::string& key, const std::string& value,
                    std::string& error);

// Carries out what was asked of the story's tracks: encodes (or reuses the
// encode kept beside the source), or goes back to the source when the disc
// can take it, and converts the clip's audio to the retime of its video.
// `clipName` names the clip in messages. kOk, kCancelled, or kFailed after
// telling `display`; on failure the story may be half changed, so the shell
// drops it (the project file is untouched).
int RunTrackEncodes(zv::CStoryObject& story, const std::string& clipName, ISourceDisplay& display);

// Notes of `source add`: `stream` was encoded from `original` with
// `request`'s settings; `audio` was converted from `original` slowed by `retime`.
void NoteEncodedSource(zv::CStoryObject& story, const std::string& stream, const std::string& original,
                       const SEncodeRequest& request);
void NoteConvertedAudio(zv::CStoryObject& story, const std::string& audio, const std::string& original,
                        const SRetime& retime);

}  // namespace zvedit

// `source add --encode` and still pictures added as clips: the file is
// encoded to a disc H.264 stream first, and that stream is added.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "edit/source_display.h"
#include "model/clip_chapters.h"
#include "transcode/video_encode.h"

namespace zv {
class CStoryObject;
}

namespace zvedit {

struct SEncodeRequest {
  bool encode = false;  // --encode
  zv::SVideoEncodeOptions options;
  // --chapters with a container: its chapters, in the encoded clip's time,
  // each given an IDR picture and then set on the clip's play items.
  std::vector<zv::STimedChapter> chapters;
};

// How much slower than recorded the encoded video of one `source add`
// plays (1001/1000 for 30 and 60 frames a second); 1/1 when it does not.
struct SRetime {
  uint32_t num = 1;
  uint32_t den = 1;
  bool Slowed() const { return num != den; }
};

// The retime of the first video among `files` that `request` encodes (its
// plan only: nothing is encoded yet), so that the audio added with it,
// before or after it in the list, is slowed alike.
SRetime PlannedRetime(const std::vector<std::string>& files, const SEncodeRequest& request);

// The audio that goes with encoded video into the same clip: for the
// encoded file, its main audio stream; for an audio file beside it, the
// file. Converted (to `convert`: "ac3[:RATE]" or "lpcm"; empty: LPCM for
// PCM and lossless sources, else AC-3) and slowed by `retime`. kOk with
// `toAdd` empty when the file holds no audio libavformat reads, kCancelled,
// or kFailed with `error`.
int ClipAudioToAdd(const std::string& file, const std::string& convert, const SRetime& retime,
                   const zv::Progress& progress, std::string& toAdd, std::string& note, std::string& error);

// The audio side of `file` in a `source add` that encodes: `encoded` when
// `file`'s video was encoded, then `withAudio` is its own audio to add as
// well (empty when it has none); otherwise `toAdd` (the file) becomes its
// conversion where the video is slowed or `convert` asks. kOk, kCancelled
// or kFailed after telling `display` the file and the reason.
int AudioBesideEncode(const std::string& file, bool encoded, const std::string& convert, const SRetime& retime,
                      ISourceDisplay& display, std::string& toAdd, std::string& withAudio);

// `source add FILE --encode --chapters`: reads the container's chapters
// into `request`, stretched by `retime`. kOk, or kFailed after telling `display`.
int ReadEncodeChapters(const std::string& file, const SRetime& retime, SEncodeRequest& request,
                       ISourceDisplay& display);

// After the encoded video was added: its chapters to the play items that
// play `story`, listed as a container's chapters are.
int SetEncodeChapters(const std::string& file, zv::CStoryObject& story, const SEncodeRequest& request,
                      ISourceDisplay& display);

// True for the picture files a still clip is made of (.png, .jpg, .jpeg, .bmp, .gif).
bool IsStillPicture(const std::string& file);

// Encodes `file` for `story` (a still at the format of its film's menus)
// and sets `stream` to the H.264 stream to add. kOk, kCancelled or kFailed
// after telling `display` the file and the reason.
int EncodeForStory(const std::string& file, const SEncodeRequest& request, const zv::CStoryObject& story,
                   ISourceDisplay& display, std::string& stream);

// After a still clip was added: the play items that show the story hold
// their last picture until the user acts, unless a still mode was chosen.
void HoldStillItems(zv::CStoryObject& story);

// For a refused file: how to have it encoded, when libavformat can read a
// video in it; empty otherwise.
std::string EncodeHint(const std::string& file);

}  // namespace zvedit

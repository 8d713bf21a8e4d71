// `source add --encode` and still pictures added as clips: the file is
// encoded to a disc H.264 stream first, and that stream is added.
#pragma once

#include <string>

#include "edit/source_display.h"
#include "transcode/video_encode.h"

namespace zv {
class CStoryObject;
}

namespace zvedit {

struct SEncodeRequest {
  bool encode = false;  // --encode
  bool still = false;   // the file is a picture
  zv::SVideoEncodeOptions options;
};

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

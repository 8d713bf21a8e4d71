// The first picture of a video file, decoded through libavcodec: what a
// menu's background clip shows under the page.
#pragma once

#include <string>

#include "platform/image.h"

namespace zv {

// Decodes the first frame of the first video stream of `path` into an
// Argb32 picture of `width` x `height` (scaled when the video differs).
// False with `error` naming the file and the reason.
bool DecodeFirstFrame(const std::string& path, int width, int height, CPicture& out, std::string& error);

}  // namespace zv

// Pictures of a video at given frame numbers, decoded through libavcodec in
// one pass and scaled: what a chapter thumbnail shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/image.h"
#include "platform/progress.h"

namespace zv {

// Decodes the first video stream of `path` from its start and keeps the
// pictures numbered `frames` (0 the first, in display order; a number past
// the end gives the last picture), each scaled to `width` x `height` as
// Argb32, in the order asked. kOk, kCancelled (through `progress`) or
// kFailed with `error` naming the file and the reason.
int DecodeFramesAt(const std::string& path, const std::vector<int64_t>& frames, int width, int height,
                   std::vector<CPicture>& out, const Progress& progress, std::string& error);

}  // namespace zv

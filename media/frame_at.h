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
// kFailed with `error` naming the file and the reason. `decoderThreads`
// is the decoder's own (0: one per core); the pictures are the same
// whatever the number.
int DecodeFramesAt(const std::string& path, const std::vector<int64_t>& frames, int width, int height,
                   std::vector<CPicture>& out, const Progress& progress, std::string& error,
                   int decoderThreads = 0);

// The pictures of several files, as DecodeFramesAt makes them, each file
// read by one thread with a decoder of its own and up to `threads` files at
// once (0: one per core): the pictures are the same whatever the number.
struct SFramesWanted {
  std::string path;
  std::vector<int64_t> frames;
  std::vector<CPicture> pictures;  // out, in the order of `frames`
  int result = kOk;                // out: DecodeFramesAt's, kFailed...
  std::string error;               // ...with the file and the reason
};
// kOk once every file has its result (a file that failed does not stop the
// others), or kCancelled through `progress`, asked between files on the
// calling thread.
int DecodeFramesOfFiles(std::vector<SFramesWanted>& files, int width, int height, int threads,
                        const Progress& progress);

}  // namespace zv

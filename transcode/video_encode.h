// Encoding a video the disc cannot carry (any size, rate, scan or codec
// libavcodec decodes) into an H.264 elementary stream that it can, with
// libx264 in its Blu-ray compatible mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "transcode/video_format.h"

namespace zv {

constexpr int kDefaultVideoQuality = 20;  // x264 constant-quality factor
// x264 preset for the encodes; see bench/encode.cpp for the speed it gives.
extern const char* const kDefaultVideoPreset;

struct SVideoEncodeOptions {
  std::string format;      // a name of VideoTargetNames(); empty: chosen from the source
  int quality = -1;        // constant quality 0..51 (default kDefaultVideoQuality)
  int bitrateKbps = 0;     // average rate instead of constant quality
  int streamIndex = -1;    // libavformat stream index; -1: the first video stream
  double stillSeconds = 0; // > 0: the first picture alone, held this long
  std::string preset;      // empty: kDefaultVideoPreset
  int threads = 0;         // 0: as many as the encoder likes
  // Times of the encoded clip (seconds from its start) where a picture must
  // start a closed GOP: chapter marks, so that they land exactly.
  std::vector<double> idrSeconds;
};

struct SVideoEncodeResult {
  std::string path;  // the H.264 stream
  SVideoTarget target;  // with the scan as coded (an interlaced source stays so)
  int64_t frames = 0;
  bool reused = false;  // an earlier encode of the same source and settings
  double retime = 1.0;  // how much slower the video plays than its source
  bool toneMapped = false;  // HDR pictures brought to SDR
};

// Checks the options alone (format name, quality range); false with `message`.
bool CheckVideoEncodeOptions(const SVideoEncodeOptions& options, std::string& message);

// Where the encode of `source` with `options` to `target` is kept: beside
// the source, or in the temporary folder when its folder cannot take it.
std::string EncodedPathBeside(const std::string& source, const SVideoEncodeOptions& options,
                              const SVideoTarget& target);
std::string EncodedPathInTemp(const std::string& source, const SVideoEncodeOptions& options,
                              const SVideoTarget& target);

extern const char* const kMsgNoVideoStream;  // "the file has no video stream"

// Reads what the encoder needs to know of the chosen video stream.
bool ProbeVideoSource(const std::string& source, int streamIndex, SVideoSourceInfo& info, std::string& message);

// What an encode will make: the format and about how many frames (0 when
// the source does not say how long it is).
struct SVideoEncodePlan {
  SVideoTarget target;
  int64_t frames = 0;
  double retime = 1.0;
};
bool PlanVideoEncode(const std::string& source, const SVideoEncodeOptions& options, SVideoEncodePlan& plan,
                     std::string& message);

// Encodes `source` (kOk, kCancelled or kFailed with `message`, the
// decoder's or the file system's reason). An encode of the same source
// (unchanged since) and settings already in place is reused. The stream is
// written under a temporary name and renamed when complete: failure and
// cancel leave nothing. Progress: the action ("Encoding NAME as FORMAT"),
// then percentages of the frames planned.
int EncodeVideo(const std::string& source, const SVideoEncodeOptions& options, SVideoEncodeResult& result,
                std::string& message, const Progress& progress);

}  // namespace zv

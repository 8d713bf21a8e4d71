// Containers (Matroska, MP4/QuickTime, MPEG transport and program streams)
// as sources of elementary tracks, through libavformat: what a file holds,
// and each carried track read as the elementary stream it is, demuxed while
// it is read (see platform/byte_source.h) so that no copy is extracted.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "media/track_policy.h"
#include "platform/progress.h"

namespace zv {

struct SContainerTrack {
  int index = 0;          // the container's stream number
  std::string kind;       // "video", "audio", "subtitle", ...
  std::string codec;      // libavcodec's name ("h264", "ac3", "hdmv_pgs_subtitle")
  std::string language;   // from the container's tags, as stored ("fre", "eng"), or empty
  std::string title;
  bool isDefault = false;
  bool forced = false;
  STrackVerdict verdict;
};

struct SContainerChapter {
  int64_t startMs = 0;
  std::string title;
};

struct SContainerInfo {
  std::string format;  // libavformat's demuxer name
  std::vector<SContainerTrack> tracks;
  std::vector<SContainerChapter> chapters;
};

// Extensions taken as containers (lower case, with the dot).
bool IsContainerExtension(const std::string& ext);

// Lists the file's tracks and chapters. kOk, or kFailed with `error` naming
// the file and libavformat's reason.
int ProbeContainer(const std::string& path, SContainerInfo& info, std::string& error);

// The elementary length of every carried track, measured in one pass over
// the container and kept beside it ("NAME.zvi", or in the temporary folder
// when the container's folder is read-only), valid while the container's
// size and time stay. kOk, kCancelled or kFailed with `error`.
int IndexContainer(const std::string& path, std::map<int, int64_t>& lengths, std::string& error,
                   const Progress& progress = {});

// Makes container tracks readable through File (platform/byte_source.h).
void RegisterContainerTracks();

}  // namespace zv

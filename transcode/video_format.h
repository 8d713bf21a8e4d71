// The disc video formats an encode can aim at, and the choice of one for a
// source that is none of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

enum class ScanMode : uint8_t {
  kProgressive,     // frame pictures, progressive sequence
  kInterlaced,      // field-coded pictures of an interlaced source
  kFakeInterlaced,  // progressive pictures in an interlaced sequence, as the disc needs for 1080 at 25 and 29.97
};

struct SVideoTarget {
  std::string name;  // "1080p23.976", "1080i25", ...
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t fpsNum = 0;  // frames (not fields) per second
  uint32_t fpsDen = 1;
  ScanMode scan = ScanMode::kProgressive;
  bool wide = true;  // 16:9; 720-wide pictures may be 4:3
  // Sample aspect ratio of the coded picture (H.264 aspect_ratio_idc and
  // its ratio): square at 1280 and 1920, the standard's SD ratios at 720.
  uint8_t sarIdc = 1;
  uint32_t sarNum = 1;
  uint32_t sarDen = 1;

  double Fps() const { return static_cast<double>(fpsNum) / fpsDen; }
  bool Hd() const { return height >= 720; }
};

// What the encoder knows of its source.
struct SVideoSourceInfo {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t sarNum = 1;  // 0/1: unknown, taken as square
  uint32_t sarDen = 1;
  double fps = 0;  // the nominal rate (average for variable rates); 0 unknown
  bool interlaced = false;
};

// The names `--format` takes, in the order they are listed.
const std::vector<std::string>& VideoTargetNames();

// Fills `out` for a name such as "1080i25" or "576i25-4:3"; false for an
// unknown name.
bool ParseVideoTarget(const std::string& name, SVideoTarget& out);

// The format a disc should carry the source in: the nearest disc rate of
// the source's rate (30 and 60 become 29.97 and 59.94), 1080 lines for
// sources above 720 lines (so 4K is scaled down), 720 lines for 720-line
// sources and for 50 and 60 frames a second above (1080 cannot carry them
// progressive), 720x576 or 720x480 for standard definition, 4:3 or 16:9
// after the source's display aspect.
SVideoTarget ChooseVideoTarget(const SVideoSourceInfo& source);

// Time stamps of a source at 30 or 60 frames a second are stretched by
// 1001/1000 to play at 29.97 or 59.94 (and its audio must be resampled by
// the same factor to stay in sync); 1 when no retime is needed.
double RetimeFactor(double sourceFps, const SVideoTarget& target);

// The picture area, centred in the target frame, that shows the whole
// source at its display aspect (letter- or pillar-boxed), even-sized.
struct SActiveArea {
  uint32_t x = 0, y = 0, width = 0, height = 0;
};
SActiveArea FitPicture(const SVideoSourceInfo& source, const SVideoTarget& target);

}  // namespace zv

// Text subtitles (SRT, WebVTT, ASS/SSA) read into one ASS script for the
// renderer, with the style SRT and WebVTT lack filled in from the user's
// options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zv {

enum class SubtitleFormat { kSrt, kVtt, kAss };

// Style options. SRT and WebVTT take every unset one from the defaults;
// ASS styles change only where an option is set.
struct SSubtitleStyle {
  std::optional<std::string> font;      // family name; default "DejaVu Sans"
  std::optional<double> size;           // percent of the video height; default 5.5
  std::optional<uint32_t> colour;       // 0xRRGGBB; default white
  std::optional<double> outline;        // pixels at 1080 lines, scaled; default 3
  std::optional<double> shadow;         // pixels at 1080 lines, scaled; default 1
  std::optional<double> bottomMargin;   // percent of the video height; default 6
  std::optional<bool> top;              // --position top
};

inline constexpr const char* kDefaultSubtitleFont = "DejaVu Sans";
// Longest text of one event; a longer one cannot be shown on one screen.
inline constexpr size_t kMaxEventText = 2000;
// Latest event time: 90 kHz time stamps of 32 bits hold a little over 13
// hours.
inline constexpr int64_t kMaxSubtitleTime = int64_t{12} * 3600 * 1000;
// Largest subtitle file read; text of a feature film is well under 1 MiB.
inline constexpr uint64_t kMaxSubtitleFile = uint64_t{64} << 20;

// Parses "white", "yellow", "#RRGGBB" or "RRGGBB".
bool ParseSubtitleColour(const std::string& text, uint32_t& rgb);
// Reads `--size`, `--outline` and the like: a number within [lo, hi].
bool ParseStyleNumber(const std::string& text, double lo, double hi, double& out);

// By the file name's extension, else by content.
SubtitleFormat DetectSubtitleFormat(const std::string& path, const std::string& text);

struct SSubtitleScript {
  std::string ass;                    // a complete ASS script
  std::vector<std::string> warnings;  // "line N: ..." the reader worked around
  std::vector<std::string> fonts;     // font families the script asks for
  // SRT and WebVTT: each event's start and end in ms, in script order (the
  // script itself holds them to 10 ms only).
  std::vector<std::pair<int64_t, int64_t>> times;
};

// Converts the text of a subtitle file into an ASS script laid out on a
// `width` x `height` video. False with `error` ("line N: reason") when the
// text cannot be read: a bad timecode, binary data, an event too long.
bool ReadSubtitleText(const std::string& text, SubtitleFormat format, const SSubtitleStyle& style, int width,
                      int height, SSubtitleScript& out, std::string& error);

// "00:01:02,500" style timecodes of SRT ("," or ".") and WebVTT (hours
// optional); milliseconds, or nothing.
std::optional<int64_t> ParseSubtitleTime(const std::string& text);

}  // namespace zv

// SRT, WebVTT and ASS readers on untrusted text, then libass on what they
// accept: every event read keeps a positive length and lands on at least
// one frame.
#include <cstdlib>
#include <string>

#include "subtitles/pg_subtitles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const zv::SubtitleFormat format = data[0] % 3 == 0   ? zv::SubtitleFormat::kSrt
                                    : data[0] % 3 == 1 ? zv::SubtitleFormat::kVtt
                                                       : zv::SubtitleFormat::kAss;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  zv::SSubtitleScript script;
  std::string error;
  if (!zv::ReadSubtitleText(text, format, {}, 720, 480, script, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  for (const auto& [start, end] : script.times)
    if (end <= start) std::abort();
  zv::SSubtitleVideo video;
  video.width = 720;
  video.height = 480;
  zv::CSubtitleRenderer renderer;
  std::vector<std::string> warnings;
  if (!renderer.Open(script, {}, video, warnings, error)) return 0;
  for (const zv::SSubtitleEvent& e : renderer.Events())
    if (e.last < e.first) std::abort();
  return 0;
}

// The button-sound file made from WAV files, for both shells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace zvedit {

struct SBuiltSound {
  std::string path;  // the WAV file
  bool mono = false;
  uint32_t frames = 0;  // samples per channel at 48 kHz
};

// Writes `out` from `wavs` (a sound's id is its place in the list), whole or
// not at all. A WAV listed twice is taken once, which `prompt` is told. An
// existing `out` is replaced only when `prompt` says Yes (kCancelled
// otherwise; something not a file there is refused). kOk with `built`, or
// kFailed with `error`.
int BuildSoundFile(const std::string& out, const std::vector<std::string>& wavs, zv::IPrompt& prompt,
                   std::vector<SBuiltSound>& built, std::string& error);

}  // namespace zvedit

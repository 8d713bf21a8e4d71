// `source add --convert-audio`: audio files a disc cannot carry are
// converted, and the converted file is added in their place.
#pragma once

#include <string>

#include "platform/progress.h"
#include "transcode/audio_convert.h"

namespace zvedit {

// What to add for `file`. `convert` is the option's value (empty: not
// given). kOk with `toAdd` the file itself or its conversion; kFailed with
// `error` saying why (a refused file names the option that converts it);
// kCancelled. `note` tells how channels were placed, when not as they were.
int AudioSourceToAdd(const std::string& file, const std::string& convert, const zv::Progress& progress,
                     std::string& toAdd, std::string& note, std::string& error);

// Converts stream `streamIndex` of `file` (-1: its main audio) to `target`:
// kOk with `toAdd` the converted file and `note` how channels were placed.
int ConvertInto(const std::string& file, int streamIndex, const zv::SAudioTarget& target, const zv::Progress& progress,
                std::string& toAdd, std::string& note, std::string& error);

// For a file our own analysis refused: how to convert it, when it is audio
// that converts ("" otherwise).
std::string ConvertAudioHint(const std::string& file);

}  // namespace zvedit

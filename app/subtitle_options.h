// The style options of text subtitles, shared by `subtitles render` and the
// keys of a subtitle track.
#pragma once

#include <string>

#include "app/command.h"
#include "subtitles/text_script.h"

namespace zvapp {

// Sets one style key ("font", "size", "colour", "outline", "shadow",
// "bottom-margin", "position"); false with `error` for a bad value or an
// unknown key.
bool SetSubtitleStyleKey(const std::string& key, const std::string& value, zv::SSubtitleStyle& style,
                         std::string& error);
// The `--font`, `--size`, ... options given in `args`.
bool ParseSubtitleStyleArgs(const Args& args, zv::SSubtitleStyle& style, std::string& error);

}  // namespace zvapp

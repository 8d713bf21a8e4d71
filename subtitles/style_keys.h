// The style of a text subtitle as KEY=VALUE pairs: what `--font` and the
// other options of `subtitles render` and `source add` take, what the keys
// of a text-subtitle track take, and how the project file keeps them.
#pragma once

#include <string>

#include "subtitles/text_script.h"

namespace zv {

// "font", "size", "colour", "outline", "shadow", "bottom-margin", "position".
inline constexpr const char* kSubtitleStyleKeys[] = {"font",   "size",          "colour",  "outline",
                                                     "shadow", "bottom-margin", "position"};

bool IsSubtitleStyleKey(const std::string& key);

// Sets one key; an empty value unsets it (the script's or the default
// style again). False for a bad value, with `want` saying what is taken
// ("a number from 1 to 50"), and `style` unchanged.
bool SetSubtitleStyle(const std::string& key, const std::string& value, SSubtitleStyle& style, std::string& want);

// The key's value as SetSubtitleStyle takes it back; empty when unset.
std::string SubtitleStyleValue(const SSubtitleStyle& style, const std::string& key);

// Every set key as "key=value" lines, and back. ReadSubtitleStyleText is
// false for a line it does not take.
std::string SubtitleStyleText(const SSubtitleStyle& style);
bool ReadSubtitleStyleText(const std::string& text, SSubtitleStyle& style);

}  // namespace zv

#include "app/subtitle_options.h"

#include "subtitles/style_keys.h"

namespace zvapp {

bool SetSubtitleStyleKey(const std::string& key, const std::string& value, zv::SSubtitleStyle& style,
                         std::string& error) {
  if (!zv::IsSubtitleStyleKey(key)) {
    error = "\"" + key + "\" is not a subtitle style key";
    return false;
  }
  std::string want;
  // An option always names a value; an empty one is not a reset here.
  if (!value.empty() && zv::SetSubtitleStyle(key, value, style, want)) return true;
  if (value.empty()) {
    zv::SSubtitleStyle probe;
    zv::SetSubtitleStyle(key, ",", probe, want);
  }
  error = key + " \"" + value + "\" is not " + want;
  return false;
}

bool ParseSubtitleStyleArgs(const Args& args, zv::SSubtitleStyle& style, std::string& error) {
  for (const char* key : {"font", "size", "colour", "outline", "shadow", "bottom-margin", "position"}) {
    const std::string opt = std::string("--") + key;
    for (const std::string& value : args.Values(opt))
      if (!SetSubtitleStyleKey(key, value, style, error)) return false;
  }
  return true;
}

}  // namespace zvapp

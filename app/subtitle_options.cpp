#include "app/subtitle_options.h"

namespace zvapp {

bool SetSubtitleStyleKey(const std::string& key, const std::string& value, zv::SSubtitleStyle& style,
                         std::string& error) {
  double v = 0;
  auto number = [&](double lo, double hi) {
    if (zv::ParseStyleNumber(value, lo, hi, v)) return true;
    error = key + " \"" + value + "\" is not a number from " + std::to_string(static_cast<int>(lo)) + " to " +
            std::to_string(static_cast<int>(hi));
    return false;
  };
  if (key == "font") {
    if (value.empty() || value.find_first_of(",\n") != std::string::npos) {
      error = "font \"" + value + "\" is not a font family name";
      return false;
    }
    style.font = value;
  } else if (key == "size") {
    if (!number(1, 50)) return false;
    style.size = v;
  } else if (key == "colour") {
    uint32_t rgb = 0;
    if (!zv::ParseSubtitleColour(value, rgb)) {
      error = "colour \"" + value + "\" is not a colour name or #RRGGBB";
      return false;
    }
    style.colour = rgb;
  } else if (key == "outline") {
    if (!number(0, 20)) return false;
    style.outline = v;
  } else if (key == "shadow") {
    if (!number(0, 20)) return false;
    style.shadow = v;
  } else if (key == "bottom-margin") {
    if (!number(0, 45)) return false;
    style.bottomMargin = v;
  } else if (key == "position") {
    if (value != "top" && value != "bottom") {
      error = "position \"" + value + "\" is neither top nor bottom";
      return false;
    }
    style.top = value == "top";
  } else {
    error = "\"" + key + "\" is not a subtitle style key";
    return false;
  }
  return true;
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

#include "subtitles/style_keys.h"

#include <cstdio>
#include <string_view>

namespace zv {

namespace {

std::string Number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

}  // namespace

bool IsSubtitleStyleKey(const std::string& key) {
  for (const char* k : kSubtitleStyleKeys)
    if (key == k) return true;
  return false;
}

bool SetSubtitleStyle(const std::string& key, const std::string& value, SSubtitleStyle& style, std::string& want) {
  SSubtitleStyle s = style;
  double v = 0;
  auto number = [&](double lo, double hi, std::optional<double>& field) {
    if (value.empty()) return field.reset(), true;
    if (!ParseStyleNumber(value, lo, hi, v)) {
      want = "a number from " + Number(lo) + " to " + Number(hi);
      return false;
    }
    field = v;
    return true;
  };
  bool ok = true;
  if (key == "font") {
    if (value.find_first_of(",\n") != std::string::npos) {
      want = "a font family name";
      ok = false;
    } else if (value.empty()) {
      s.font.reset();
    } else {
      s.font = value;
    }
  } else if (key == "size") {
    ok = number(1, 50, s.size);
  } else if (key == "colour") {
    uint32_t rgb = 0;
    if (value.empty()) s.colour.reset();
    else if (ParseSubtitleColour(value, rgb)) s.colour = rgb;
    else want = "a colour name or #RRGGBB", ok = false;
  } else if (key == "outline") {
    ok = number(0, 20, s.outline);
  } else if (key == "shadow") {
    ok = number(0, 20, s.shadow);
  } else if (key == "bottom-margin") {
    ok = number(0, 45, s.bottomMargin);
  } else if (key == "position") {
    if (value.empty()) s.top.reset();
    else if (value == "top" || value == "bottom") s.top = value == "top";
    else want = "top or bottom", ok = false;
  } else {
    want = "a subtitle style key";
    ok = false;
  }
  if (ok) style = s;
  return ok;
}

std::string SubtitleStyleValue(const SSubtitleStyle& s, const std::string& key) {
  if (key == "font") return s.font.value_or("");
  if (key == "size" && s.size) return Number(*s.size);
  if (key == "colour" && s.colour) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06X", static_cast<unsigned>(*s.colour & 0xFFFFFF));
    return buf;
  }
  if (key == "outline" && s.outline) return Number(*s.outline);
  if (key == "shadow" && s.shadow) return Number(*s.shadow);
  if (key == "bottom-margin" && s.bottomMargin) return Number(*s.bottomMargin);
  if (key == "position" && s.top) return *s.top ? "top" : "bottom";
  return {};
}

std::string SubtitleStyleText(const SSubtitleStyle& style) {
  std::string text;
  for (const char* key : kSubtitleStyleKeys) {
    const std::string v = SubtitleStyleValue(style, key);
    if (!v.empty()) text += std::string(key) + "=" + v + "\n";
  }
  return text;
}

bool ReadSubtitleStyleText(const std::string& text, SSubtitleStyle& style) {
  SSubtitleStyle s;
  std::string want;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !SetSubtitleStyle(line.substr(0, eq), line.substr(eq + 1), s, want)) return false;
    at = end + 1;
  }
  style = s;
  return true;
}

}  // namespace zv

#include "subtitles/text_script.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zv {

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::string Line(size_t n) { return "line " + std::to_string(n) + ": "; }

// The first line holding a control byte or a byte sequence that is not
// UTF-8, or 0 when the text is clean.
size_t FirstBinaryLine(const std::string& t) {
  size_t line = 1;
  for (size_t i = 0; i < t.size();) {
    const auto c = static_cast<unsigned char>(t[i]);
    if (c == '\n') {
      ++line;
      ++i;
      continue;
    }
    if (c < 0x20 && c != '\t' && c != '\r') return line;
    if (c == 0x7F) return line;
    if (c < 0x80) {
      ++i;
      continue;
    }
    const int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
    if (more < 0 || c == 0xC0 || c == 0xC1 || i + static_cast<size_t>(more) >= t.size()) return line;
    for (int k = 1; k <= more; ++k)
      if ((static_cast<unsigned char>(t[i + k]) & 0xC0) != 0x80) return line;
    i += static_cast<size_t>(more) + 1;
  }
  return 0;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t nl = text.find('\n', at);
    if (nl == std::string::npos) nl = text.size();
    std::string l = text.substr(at, nl - at);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(std::move(l));
    at = nl + 1;
  }
  return lines;
}

std::string AssTime(int64_t ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%d:%02d:%02d.%02d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms / 10 % 100));
  return b;
}

std::string AssColour(uint32_t rgb, uint8_t alpha = 0) {
  char b[16];
  std::snprintf(b, sizeof b, "&H%02X%02X%02X%02X", alpha, rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
  return b;
}

// Replaces the HTML-like markup of SRT and WebVTT by ASS override tags.
// Tags left open at the end of the event are closed there, with a warning.
std::string ConvertMarkup(const std::string& text, size_t line, std::vector<std::string>& warnings) {
  std::string out;
  std::vector<std::string> open;  // "i", "b", "u", "font"
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '\n') {
      out += "\\N";
      ++i;
      continue;
    }
    if (c == '&') {
      static const std::pair<const char*, const char*> kEntities[] = {
          {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&nbsp;", "\\h"}, {"&quot;", "\""}};
      bool done = false;
      for (const auto& [name, value] : kEntities)
        if (text.compare(i, std::char_traits<char>::length(name), name) == 0) {
          out += value;
          i += std::char_traits<char>::length(name);
          done = true;
          break;
        }
      if (!done) out += text[i++];
      continue;
    }
    if (c != '<') {
      out += c;
      ++i;
      continue;
    }
    const size_t close = text.find('>', i);
    const size_t nextOpen = text.find('<', i + 1);
    if (close == std::string::npos || (nextOpen != std::string::npos && nextOpen < close)) {
      warnings.push_back(Line(line) + "a tag starting with '<' never ends; it is shown as text");
      out += c;
      ++i;
      continue;
    }
    std::string tag = Lower(Trim(text.substr(i + 1, close - i - 1)));
    i = close + 1;
    const bool end = !tag.empty() && tag[0] == '/';
    if (end) tag = Trim(tag.substr(1));
    std::string name = tag.substr(0, tag.find_first_of(" \t="));
    if (name == "i" || name == "b" || name == "u") {
      if (end) {
        auto it = std::find(open.rbegin(), open.rend(), name);
        if (it != open.rend()) open.erase(std::next(it).base());
        out += "{\\" + name + "0}";
      } else {
        open.push_back(name);
        out += "{\\" + name + "1}";
      }
    } else if (name == "font") {
      if (end) {
        auto it = std::find(open.rbegin(), open.rend(), name);
        if (it != open.rend()) open.erase(std::next(it).base());
        out += "{\\c}";
        continue;
      }
      open.push_back(name);
      const size_t at = tag.find("color");
      if (at == std::string::npos) continue;
      size_t v = tag.find('=', at);
      if (v == std::string::npos) continue;
      std::string value = Trim(tag.substr(v + 1));
      if (!value.empty() && (value[0] == '"' || value[0] == '\'')) {
        const char q = value[0];
        value = value.substr(1, value.find(q, 1) == std::string::npos ? std::string::npos : value.find(q, 1) - 1);
      } else {
        value = value.substr(0, value.find_first_of(" \t"));
      }
      uint32_t rgb = 0;
      if (ParseSubtitleColour(value, rgb))
        out += "{\\c" + AssColour(rgb).substr(0, 2) + AssColour(rgb).substr(4) + "&}";
      else
        warnings.push_back(Line(line) + "colour \"" + value + "\" is not understood; the style's colour is used");
    }
    // Other tags (WebVTT classes, voices, cue timestamps) carry no style.
  }
  for (const std::string& t : open)
    warnings.push_back(Line(line) + "<" + t + "> is not closed; it ends with the event");
  return out;
}

struct SEvent {
  int64_t start = 0, end = 0;
  std::string text;  // ASS
  bool top = false;
};

struct SLayout {
  std::string font;
  double size = 0, outline = 0, shadow = 0, margin = 0;
  uint32_t colour = 0;
  bool top = false;
};

SLayout Resolve(const SSubtitleStyle& s, int height) {
  SLayout l;
  l.font = s.font.value_or(kDefaultSubtitleFont);
  l.size = s.size.value_or(5.5) * height / 100.0;
  l.outline = s.outline.value_or(3.0) * height / 1080.0;
  l.shadow = s.shadow.value_or(1.0) * height / 1080.0;
  l.margin = s.bottomMargin.value_or(6.0) * height / 100.0;
  l.colour = s.colour.value_or(0xFFFFFF);
  l.top = s.top.value_or(false);
  return l;
}

std::string ScriptHead(int width, int height) {
  return "[Script Info]\nScriptType: v4.00+\nPlayResX: " + std::to_string(width) +
         "\nPlayResY: " + std::to_string(height) + "\nWrapStyle: 0\nScaledBorderAndShadow: yes\n\n";
}

const char* kStyleFormat =
    "Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, "
    "Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, "
    "MarginR, MarginV, Encoding\n";

std::string Number(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

std::string BuildScript(const std::vector<SEvent>& events, const SLayout& l, int width, int height) {
  std::string s = ScriptHead(width, height);
  s += "[V4+ Styles]\n";
  s += kStyleFormat;
  const std::string common = l.font + "," + Number(l.size) + "," + AssColour(l.colour) + ",&H000000FF,&H00000000," +
                             "&H80000000,0,0,0,0,100,100,0,0,1," + Number(l.outline) + "," + Number(l.shadow) + ",";
  const int side = static_cast<int>(std::lround(width * 0.05));
  const int margin = static_cast<int>(std::lround(l.margin));
  s += "Style: Default," + common + (l.top ? "8," : "2,") + std::to_string(side) + "," + std::to_string(side) + "," +
       std::to_string(margin) + ",1\n";
  s += "Style: Top," + common + "8," + std::to_string(side) + "," + std::to_string(side) + "," +
       std::to_string(margin) + ",1\n\n";
  s += "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";
  for (const SEvent& e : events)
    s += "Dialogue: 0," + AssTime(e.start) + "," + AssTime(e.end) + "," + (e.top ? "Top" : "Default") +
         ",,0,0,0,," + e.text + "\n";
  return s;
}

bool TimingLine(const std::string& l, size_t n, int64_t& start, int64_t& end, std::string& settings,
                std::string& error) {
  const size_t arrow = l.find("-->");
  if (arrow == std::string::npos) {
    error = Line(n) + "expected a timecode line \"00:00:01,000 --> 00:00:02,000\", found \"" + l.substr(0, 60) + "\"";
    return false;
  }
  const std::string a = Trim(l.substr(0, arrow));
  std::string rest = Trim(l.substr(arrow + 3));
  const size_t sp = rest.find_first_of(" \t");
  const std::string b = rest.substr(0, sp);
  settings = sp == std::string::npos ? std::string() : Trim(rest.substr(sp));
  auto s = ParseSubtitleTime(a), e = ParseSubtitleTime(b);
  if (!s || !e) {
    error = Line(n) + "bad timecode \"" + (s ? b : a).substr(0, 40) + "\" (expected HH:MM:SS,mmm)";
    return false;
  }
  if (*e <= *s) {
    error = Line(n) + "the event ends (" + b + ") before it starts (" + a + ")";
    return false;
  }
  if (*e > kMaxSubtitleTime) {
    error = Line(n) + "the event ends after 12:00:00, beyond what a stream's time stamps hold";
    return false;
  }
  start = *s;
  end = *e;
  return true;
}

// SRT and WebVTT: blocks separated by blank lines.
bool ReadBlocks(const std::vector<std::string>& lines, bool vtt, std::vector<SEvent>& events,
                std::vector<std::string>& warnings, std::string& error) {
  size_t i = 0;
  if (vtt) {
    if (lines.empty() || lines[0].rfind("WEBVTT", 0) != 0) {
      error = Line(1) + "a WebVTT file starts with \"WEBVTT\"";
      return false;
    }
    while (i < lines.size() && !Trim(lines[i]).empty()) ++i;  // header block
  }
  while (i < lines.size()) {
    if (Trim(lines[i]).empty()) {
      ++i;
      continue;
    }
    const size_t blockLine = i + 1;
    if (vtt && (lines[i].rfind("NOTE", 0) == 0 || lines[i].rfind("STYLE", 0) == 0 ||
                lines[i].rfind("REGION", 0) == 0)) {
      while (i < lines.size() && !Trim(lines[i]).empty()) ++i;
      continue;
    }
    // An index (SRT) or cue identifier (WebVTT) line comes before the timing.
    if (lines[i].find("-->") == std::string::npos && i + 1 < lines.size() &&
        lines[i + 1].find("-->") != std::string::npos)
      ++i;
    SEvent e;
    std::string settings;
    if (!TimingLine(lines[i], i + 1, e.start, e.end, settings, error)) return false;
    ++i;
    std::string text;
    const size_t textLine = i + 1;
    for (; i < lines.size() && !Trim(lines[i]).empty(); ++i) {
      if (!text.empty()) text += '\n';
      text += lines[i];
      if (text.size() > kMaxEventText) {
        error = Line(textLine) + "the event starting on line " + std::to_string(blockLine) + " holds more than " +
                std::to_string(kMaxEventText) + " characters of text";
        return false;
      }
    }
    if (vtt) {
      // "line:0" and small percentages put the cue at the top.
      const size_t at = settings.find("line:");
      if (at != std::string::npos) {
        const std::string v = settings.substr(at + 5, settings.find(' ', at) - at - 5);
        const double n = std::atof(v.c_str());
        e.top = v.find('%') != std::string::npos ? n < 50 : n >= 0 && v[0] != '-' && n < 5;
      }
    }
    e.text = ConvertMarkup(text, textLine, warnings);
    events.push_back(std::move(e));
  }
  return true;
}

std::vector<std::string> SplitFields(const std::string& s, size_t maxFields) {
  std::vector<std::string> f;
  size_t at = 0;
  while (f.size() + 1 < maxFields) {
    size_t c = s.find(',', at);
    if (c == std::string::npos) break;
    f.push_back(Trim(s.substr(at, c - at)));
    at = c + 1;
  }
  f.push_back(Trim(s.substr(at)));
  return f;
}

// ASS/SSA is given to the renderer as written; the reader only checks the
// times of its events and collects the fonts of its styles.
bool CheckAss(const std::vector<std::string>& lines, SSubtitleScript& out, std::string& error) {
  std::string section;
  std::vector<std::string> eventFormat, styleFormat;
  size_t dialogues = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string l = Trim(lines[i]);
    if (l.empty() || l[0] == ';') continue;
    if (l[0] == '[') {
      section = Lower(l);
      continue;
    }
    const size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Lower(l.substr(0, colon));
    const std::string value = Trim(l.substr(colon + 1));
    if (key == "format") {
      auto f = SplitFields(value, 64);
      for (auto& x : f) x = Lower(x);
      (section == "[events]" ? eventFormat : styleFormat) = f;
    } else if (key == "style" && !styleFormat.empty()) {
      auto f = SplitFields(value, styleFormat.size());
      auto it = std::find(styleFormat.begin(), styleFormat.end(), "fontname");
      if (it != styleFormat.end() && static_cast<size_t>(it - styleFormat.begin()) < f.size())
        out.fonts.push_back(f[it - styleFormat.begin()]);
    } else if (key == "dialogue") {
      if (eventFormat.empty()) {
        error = Line(i + 1) + "a Dialogue line comes before the Format line of [Events]";
        return false;
      }
      auto f = SplitFields(value, eventFormat.size());
      for (const char* name : {"start", "end"}) {
        auto it = std::find(eventFormat.begin(), eventFormat.end(), name);
        if (it == eventFormat.end()) {
          error = Line(i + 1) + "the Format line of [Events] names no " + name + " time";
          return false;
        }
        const size_t k = it - eventFormat.begin();
        const auto t = k < f.size() ? ParseSubtitleTime(f[k]) : std::nullopt;
        if (t && *t > kMaxSubtitleTime) {
          error = Line(i + 1) + "the event ends after 12:00:00, beyond what a stream's time stamps hold";
          return false;
        }
        if (!t) {
          error = Line(i + 1) + "bad timecode \"" + (k < f.size() ? f[k].substr(0, 40) : std::string()) +
                  "\" (expected H:MM:SS.cc)";
          return false;
        }
      }
      if (f.back().size() > kMaxEventText) {
        error = Line(i + 1) + "the event holds more than " + std::to_string(kMaxEventText) + " characters of text";
        return false;
      }
      ++dialogues;
    }
  }
  if (eventFormat.empty() && dialogues == 0) {
    error = "no [Events] section with a Format line: not an ASS/SSA script";
    return false;
  }
  return true;
}

}  // namespace

bool ParseSubtitleColour(const std::string& text, uint32_t& rgb) {
  static const std::pair<const char*, uint32_t> kNames[] = {
      {"white", 0xFFFFFF}, {"yellow", 0xFFFF00}, {"black", 0x000000}, {"red", 0xFF0000},
      {"green", 0x00FF00}, {"blue", 0x0000FF},   {"cyan", 0x00FFFF},  {"magenta", 0xFF00FF}};
  const std::string t = Lower(Trim(text));
  for (const auto& [name, value] : kNames)
    if (t == name) {
      rgb = value;
      return true;
    }
  std::string hex = !t.empty() && t[0] == '#' ? t.substr(1) : t;
  if (hex.size() != 6 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
  rgb = static_cast<uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
  return true;
}

bool ParseStyleNumber(const std::string& text, double lo, double hi, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
  out = v;
  return true;
}

std::optional<int64_t> ParseSubtitleTime(const std::string& text) {
  const std::string t = Trim(text);
  std::vector<std::string> parts;
  size_t at = 0;
  for (size_t c; (c = t.find(':', at)) != std::string::npos; at = c + 1) parts.push_back(t.substr(at, c - at));
  parts.push_back(t.substr(at));
  if (parts.size() < 2 || parts.size() > 3) return std::nullopt;
  std::string& last = parts.back();
  const size_t dot = last.find_first_of(",.");
  std::string frac = dot == std::string::npos ? std::string() : last.substr(dot + 1);
  last = last.substr(0, dot);
  auto digits = [](const std::string& s, size_t maxLen) {
    return !s.empty() && s.size() <= maxLen && s.find_first_not_of("0123456789") == std::string::npos;
  };
  if (dot == std::string::npos || !digits(frac, 3)) return std::nullopt;
  int64_t v = 0;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (!digits(parts[k], k == 0 ? 3 : 2)) return std::nullopt;
    const int64_t n = std::atoll(parts[k].c_str());
    if (k > 0 && n >= 60) return std::nullopt;
    v = v * 60 + n;
  }
  while (frac.size() < 3) frac += '0';
  return v * 1000 + std::atoll(frac.c_str());
}

SubtitleFormat DetectSubtitleFormat(const std::string& path, const std::string& text) {
  const size_t dot = path.find_last_of('.');
  const std::string ext = dot == std::string::npos ? std::string() : Lower(path.substr(dot + 1));
  if (ext == "ass" || ext == "ssa") return SubtitleFormat::kAss;
  if (ext == "vtt") return SubtitleFormat::kVtt;
  if (ext == "srt") return SubtitleFormat::kSrt;
  size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  if (text.compare(start, 6, "WEBVTT") == 0) return SubtitleFormat::kVtt;
  if (text.compare(start, 13, "[Script Info]") == 0) return SubtitleFormat::kAss;
  return SubtitleFormat::kSrt;
}

bool ReadSubtitleText(const std::string& input, SubtitleFormat format, const SSubtitleStyle& style, int width,
                      int height, SSubtitleScript& out, std::string& error) {
  out = SSubtitleScript();
  std::string text = input.rfind("\xEF\xBB\xBF", 0) == 0 ? input.substr(3) : input;
  if (size_t bad = FirstBinaryLine(text)) {
    error = Line(bad) + "binary data or text that is not UTF-8; subtitles are read as UTF-8 text";
    return false;
  }
  const std::vector<std::string> lines = SplitLines(text);
  if (format == SubtitleFormat::kAss) {
    if (!CheckAss(lines, out, error)) return false;
    out.ass = text;
    return true;
  }
  std::vector<SEvent> events;
  if (!ReadBlocks(lines, format == SubtitleFormat::kVtt, events, out.warnings, error)) return false;
  if (events.empty()) {
    error = "no subtitle events in the file";
    return false;
  }
  const SLayout layout = Resolve(style, height);
  if (layout.font.find_first_of(",\n") != std::string::npos) {
    error = "the font name \"" + layout.font + "\" holds a comma";
    return false;
  }
  out.fonts.push_back(layout.font);
  for (const SEvent& e : events) out.times.emplace_back(e.start, e.end);
  out.ass = BuildScript(events, layout, width, height);
  return true;
}

}  // namespace zv

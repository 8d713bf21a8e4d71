#include "chapters/chapters.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/xml.h"

namespace zv {

const char* const kMsgSelectClipFirst = "Please select clip first! ";
const char* const kMsgAddVideoFirst = "Please add video track first! ";
const char* const kMsgFrameRateUndefined = "Frame rate is not defined! ";
const char* const kMsgDropFlagUndefined = "Drop frame flag is not defined! ";

namespace {

struct FpsEntry {
  double fps;
  const char* name;
};

const FpsEntry kFpsTable[8] = {
    {0.0, "Reserved"}, {24000.0 / 1001.0, "23.976"}, {24.0, "24"},  {25.0, "25"},
    {30000.0 / 1001.0, "29.97"}, {0.0, "Reserved"}, {50.0, "50"}, {60000.0 / 1001.0, "59.94"},
};

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::vector<std::string> Tokens(const std::string& line) {
  // Lines longer than the 1024-byte line buffer are cut.
  std::string s = line.substr(0, 1023);
  std::vector<std::string> out;
  size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && std::strchr(" ,\t\n", s[i])) ++i;
    size_t start = i;
    while (i < s.size() && !std::strchr(" ,\t\n", s[i])) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      if (start < text.size()) out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

bool InRange(char c, char lo, char hi) { return c >= lo && c <= hi; }
int Digit(char c) { return c - '0'; }

// The name of a chapter line: the rest of the line after the timecode and
// its separators, blanks and commas kept; a quoted name loses its quotes
// ("" inside stands for one).
std::string ChapterName(const std::string& line) {
  std::string s = line.substr(0, 1023);
  size_t i = 0;
  while (i < s.size() && std::strchr(" ,\t\n", s[i])) ++i;
  while (i < s.size() && !std::strchr(" ,\t\n", s[i])) ++i;
  while (i < s.size() && std::strchr(" ,\t\n", s[i])) ++i;
  std::string name = Trim(s.substr(i));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
    std::string unquoted;
    for (size_t k = 1; k + 1 < name.size(); ++k) {
      unquoted += name[k];
      if (name[k] == '"' && name[k + 1] == '"') ++k;
    }
    name = unquoted;
  }
  return name;
}

// A chapter line appends a point when its first token looks like a timecode.
void ChapterLine(const std::string& line, double fps, CChapters& chapters) {
  std::vector<std::string> tok = Tokens(line);
  if (tok.empty()) return;
  std::string tc = Trim(tok[0]);
  if (tc.size() != 11 && tc.size() != 12) return;
  for (auto& c : tc)
    if (c == ';') c = ':';
  if (tc[2] != ':' || tc[5] != ':' || (tc[8] != '.' && tc[8] != ':')) return;
  CChapterPoint p;
  p.type = 1;
  p.time = ParseTimecode(tc, fps);
  p.name = ChapterName(line);
  chapters.m_points.push_back(p);
}

// A chapter list is a few kilobytes of text; a stream or a picture given by
// mistake is refused after a bounded read instead of being read whole.
constexpr int64_t kMaxChapterFile = 1 << 20;

bool ReadText(const std::string& path, std::string& text, std::string& message) {
  File f;
  if (!f.Open(path, File::kRead)) {
    message = f.Error();
    return false;
  }
  const int64_t len = f.Length();
  if (len > kMaxChapterFile) {
    message = "\"" + path + "\" is not a chapter file: it is larger than " + std::to_string(kMaxChapterFile) + " bytes";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(len, 0)));
  if (!f.ReadExact(bytes.data(), bytes.size())) {
    message = f.Error();
    return false;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t c = bytes[i];
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') {
      message = "\"" + path + "\" is not a chapter file: it is not text (byte " + std::to_string(i) + ")";
      return false;
    }
  }
  text.assign(bytes.begin(), bytes.end());
  return true;
}

}  // namespace

CChapterPoint& CChapters::AddPoint() {
  m_points.push_back(CChapterPoint{});
  return m_points.back();
}

size_t CChapters::InsertInTimeOrder(const CChapterPoint& p) {
  auto key = [](int32_t t) { return t < 0 ? INT64_MAX : static_cast<int64_t>(t); };
  auto at = std::find_if(m_points.begin(), m_points.end(),
                         [&](const CChapterPoint& q) { return key(q.time) > key(p.time); });
  const size_t index = static_cast<size_t>(at - m_points.begin());
  m_points.insert(at, p);
  return index;
}

void CChapters::Store(ArchiveOut& ar) const {
  ar.U8(0);
  ar.U8(m_nFpsCode);
  ar.U32(static_cast<uint32_t>(m_points.size()));
  for (const auto& p : m_points) {
    ar.U8(0);
    ar.U8(p.type);
    ar.I32(p.time);
    ar.String(p.name);
  }
}

void CChapters::Load(ArchiveIn& ar) {
  m_points.clear();
  ar.U8();
  m_nFpsCode = ar.U8();
  uint32_t n = ar.U32();
  // Each point takes at least 7 bytes; refuse counts the data cannot hold.
  if (n > ar.Remaining() / 7) throw ArchiveError("the project file is truncated or corrupt");
  m_points.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    CChapterPoint p;
    ar.U8();
    p.type = ar.U8();
    p.time = ar.I32();
    p.name = ar.String();
    m_points.push_back(std::move(p));
  }
}

double FpsOfCode(int code) { return code >= 0 && code < 8 ? kFpsTable[code].fps : 0.0; }
const char* FpsNameOfCode(int code) { return code >= 0 && code < 8 ? kFpsTable[code].name : "Reserved"; }
bool IsValidFpsCode(int code) { return code >= 1 && code <= 7; }

int32_t ParseTimecode(const std::string& t, double fps) {
  if (t.size() != 11 && t.size() != 12) return 0;
  if (t[2] != ':' || t[5] != ':') return 0;
  if (!InRange(t[0], '0', '9') || !InRange(t[1], '0', '9') || !InRange(t[3], '0', '5') || !InRange(t[4], '0', '9') ||
      !InRange(t[6], '0', '5') || !InRange(t[7], '0', '9'))
    return 0;
  double s = (Digit(t[0]) * 10 + Digit(t[1])) * 3600.0 + (Digit(t[3]) * 10 + Digit(t[4])) * 60.0 +
             (Digit(t[6]) * 10 + Digit(t[7]));
  if (t.size() == 11) {
    // The frame field allows 0-39; at 50 and 59.94 fps frames 40-59 exist
    // too, and refusing them would silently move the chapter to frame 0.
    const char maxTens = fps > 40 ? '5' : '3';
    if (t[8] != ':' || !InRange(t[9], '0', maxTens) || !InRange(t[10], '0', '9')) return 0;
    int ff = Digit(t[9]) * 10 + Digit(t[10]);
    return static_cast<int32_t>(std::trunc(s * fps + 0.5)) + ff;
  }
  if (t[8] != '.' && t[8] != ':' && t[8] != ';') return 0;
  if (!InRange(t[9], '0', '9') || !InRange(t[10], '0', '9') || !InRange(t[11], '0', '9')) return 0;
  int ms = Digit(t[9]) * 100 + Digit(t[10]) * 10 + Digit(t[11]);
  return static_cast<int32_t>(std::trunc((s + ms / 1000.0) * fps + 0.5));
}

std::string FormatTimecode(int32_t frames, double fps) {
  int64_t s = 0;
  int64_t ff = frames;
  if (fps > 0) {
    s = static_cast<int64_t>(std::trunc(frames / fps));
    double f = std::trunc(frames - s * fps + 0.5);
    if (f >= fps) {
      ++s;
      f = std::trunc(f - fps);
    }
    ff = static_cast<int64_t>(f);
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                static_cast<long long>((s % 3600) / 60), static_cast<long long>(s % 60), static_cast<long long>(ff));
  return buf;
}

std::string FormatMilliseconds(int64_t ms) {
  int64_t s = ms / 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld:%03lld", static_cast<long long>(s / 3600),
                static_cast<long long>((s % 3600) / 60), static_cast<long long>(s % 60),
                static_cast<long long>(ms % 1000));
  return buf;
}

bool ParseChapterText(const std::string& text, CChapters& chapters, std::string& message) {
  chapters.m_points.clear();
  message.clear();
  if (!IsValidFpsCode(chapters.m_nFpsCode)) return false;
  double fps = FpsOfCode(chapters.m_nFpsCode);
  for (const auto& line : Lines(text)) {
    std::string t = Trim(line);
    if (!t.empty()) ChapterLine(t, fps, chapters);
  }
  return true;
}

bool ParseChapterCsv(const std::string& text, CChapters& chapters, std::string& message) {
  chapters.m_points.clear();
  message.clear();
  if (!IsValidFpsCode(chapters.m_nFpsCode)) return false;
  bool haveRate = false, haveFlag = false;
  double fps = 0;
  int headerLines = 0;
  for (const auto& line : Lines(text)) {
    std::string t = Trim(line);
    if (t.empty()) continue;
    if (haveRate && haveFlag) {
      ChapterLine(t, fps, chapters);
      continue;
    }
    ++headerLines;
    for (const auto& raw : Tokens(t)) {
      std::string tok = Trim(raw);
      if (EqualsNoCase(tok, "NonDrop") || EqualsNoCase(tok, "Drop")) {
        haveFlag = true;
        continue;
      }
      for (int code = 0; code < 8; ++code) {
        if (EqualsNoCase(tok, kFpsTable[code].name)) {
          fps = kFpsTable[code].fps;
          haveRate = true;
          break;
        }
      }
    }
    if ((!haveRate || !haveFlag) && headerLines > 10) break;
  }
  if (haveRate && haveFlag) {
    // The file counts frames at its own rate, the list at the clip's: a
    // chapter keeps its time, not its frame count.
    const double listFps = FpsOfCode(chapters.m_nFpsCode);
    if (fps > 0 && fps != listFps)
      for (CChapterPoint& p : chapters.m_points)
        p.time = static_cast<int32_t>(std::trunc(p.time / fps * listFps + 0.5));
    return true;
  }
  chapters.m_points.clear();
  message = haveRate ? kMsgDropFlagUndefined : kMsgFrameRateUndefined;
  return false;
}

namespace {

// h:mm:ss, h:mm:ss.fraction (any number of digits) to nanoseconds.
bool ParseClockTime(const std::string& text, int64_t& ns) {
  const std::string t = Trim(text);
  int64_t parts[3] = {0, 0, 0};
  size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    const size_t start = i;
    // Up to 999999 hours, so that nanoseconds fit 64 bits.
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && i - start < (k == 0 ? 6u : 2u))
      parts[k] = parts[k] * 10 + (t[i++] - '0');
    if (i == start) return false;
    if (k < 2 && (i >= t.size() || t[i++] != ':')) return false;
  }
  if (parts[1] > 59 || parts[2] > 59) return false;
  int64_t fraction = 0;
  if (i < t.size()) {
    if (t[i++] != '.') return false;
    int64_t scale = 100000000;
    const size_t start = i;
    for (; i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])); ++i, scale /= 10)
      fraction += (t[i] - '0') * scale;
    if (i == start || i != t.size()) return false;
  }
  ns = ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000000000 + fraction;
  return true;
}

int32_t FramesOfNs(int64_t ns, double fps) {
  const double frames = std::trunc(static_cast<double>(ns) / 1e9 * fps + 0.5);
  return static_cast<int32_t>(std::min(frames, 2147483647.0));
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && EqualsNoCase(s.substr(0, prefix.size()), prefix);
}

// CHAPTER01=00:00:00.000 and CHAPTER01NAME=Name lines.
bool ParseSimpleChapters(const std::string& text, double fps, CChapters& chapters, std::string& message) {
  std::vector<std::pair<std::string, CChapterPoint>> byNumber;
  for (const std::string& raw : Lines(text)) {
    const std::string line = Trim(raw);
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !StartsWithNoCase(line, "CHAPTER")) continue;
    std::string key = line.substr(7, eq - 7);
    const std::string value = line.substr(eq + 1);
    const bool isName = key.size() > 4 && EqualsNoCase(key.substr(key.size() - 4), "NAME");
    if (isName) key.resize(key.size() - 4);
    if (key.empty() || key.find_first_not_of("0123456789") != std::string::npos) continue;
    auto it = std::find_if(byNumber.begin(), byNumber.end(), [&](const auto& e) { return e.first == key; });
    if (it == byNumber.end()) {
      byNumber.emplace_back(key, CChapterPoint{});
      it = byNumber.end() - 1;
      it->second.time = -2;  // no time yet
    }
    if (isName) {
      it->second.name = Trim(value);
    } else {
      int64_t ns = 0;
      if (!ParseClockTime(value, ns)) {
        message = "CHAPTER" + key + ": \"" + Trim(value) + "\" is not a time (hh:mm:ss.mmm)";
        return false;
      }
      it->second.time = FramesOfNs(ns, fps);
    }
  }
  for (auto& e : byNumber) {
    if (e.second.time == -2) {
      message = "CHAPTER" + e.first + "NAME has no CHAPTER" + e.first + " time";
      return false;
    }
    chapters.m_points.push_back(e.second);
  }
  return true;
}

const XmlElement* Child(const XmlElement& e, const char* name) {
  for (const auto& c : e.children)
    if (c->name == name) return c.get();
  return nullptr;
}

// <Chapters><EditionEntry><ChapterAtom><ChapterTimeStart>... with
// <ChapterDisplay><ChapterString>; the first edition's visible chapters.
bool ParseMatroskaChapters(const std::string& text, double fps, CChapters& chapters, std::string& message) {
  std::string error;
  // mkvextract writes a byte-order mark first.
  std::unique_ptr<XmlElement> root = ParseXml(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? text.substr(3) : text, error);
  if (!root) {
    message = "the Matroska chapter file is not well-formed XML: " + error;
    return false;
  }
  const XmlElement* edition = root->name == "Chapters" ? Child(*root, "EditionEntry") : nullptr;
  if (!edition) {
    message = "the Matroska chapter file has no <Chapters><EditionEntry>";
    return false;
  }
  for (const auto& atom : edition->children) {
    if (atom->name != "ChapterAtom") continue;
    const XmlElement* hidden = Child(*atom, "ChapterFlagHidden");
    if (hidden && Trim(hidden->text) == "1") continue;
    const XmlElement* start = Child(*atom, "ChapterTimeStart");
    int64_t ns = 0;
    if (!start || !ParseClockTime(start->text, ns)) {
      message = "line " + std::to_string(atom->line) + ": a ChapterAtom without a ChapterTimeStart of hh:mm:ss.nnnnnnnnn";
      return false;
    }
    CChapterPoint p;
    p.time = FramesOfNs(ns, fps);
    if (const XmlElement* display = Child(*atom, "ChapterDisplay"))
      if (const XmlElement* name = Child(*display, "ChapterString")) p.name = Trim(name->text);
    chapters.m_points.push_back(p);
  }
  return true;
}

// ffmpeg metadata: [CHAPTER] sections with TIMEBASE=num/den, START=ticks and
// title=name; without TIMEBASE the ticks are nanoseconds.
bool ParseFfmetadataChapters(const std::string& text, double fps, CChapters& chapters, std::string& message) {
  struct Section {
    int64_t num = 1, den = 1000000000, start = -1;
    std::string title;
    int line = 0;
  };
  std::vector<Section> sections;
  bool inChapter = false;
  int lineNo = 0;
  for (const std::string& raw : Lines(text)) {
    ++lineNo;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      inChapter = EqualsNoCase(line, "[CHAPTER]");
      if (inChapter) {
        sections.emplace_back();
        sections.back().line = lineNo;
      }
      continue;
    }
    if (!inChapter) continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    // '=', ';', '#', '\\' and line ends in values come escaped by a backslash.
    std::string value;
    for (size_t i = eq + 1; i < line.size(); ++i) {
      if (line[i] == '\\' && i + 1 < line.size()) ++i;
      value += line[i];
    }
    Section& s = sections.back();
    char* end = nullptr;
    if (EqualsNoCase(key, "TIMEBASE")) {
      const size_t slash = value.find('/');
      const long long num = std::strtoll(value.c_str(), &end, 10);
      const long long den = slash == std::string::npos ? 0 : std::strtoll(value.c_str() + slash + 1, &end, 10);
      if (num <= 0 || den <= 0) {
        message = "line " + std::to_string(lineNo) + ": TIMEBASE \"" + value + "\" is not num/den";
        return false;
      }
      s.num = num;
      s.den = den;
    } else if (EqualsNoCase(key, "START")) {
      errno = 0;
      const long long v = std::strtoll(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || v < 0 || errno != 0) {
        message = "line " + std::to_string(lineNo) + ": START \"" + value + "\" is not a count of time-base units";
        return false;
      }
      s.start = v;
    } else if (EqualsNoCase(key, "title")) {
      s.title = Trim(value);
    }
  }
  for (const Section& s : sections) {
    if (s.start < 0) {
      message = "line " + std::to_string(s.line) + ": a [CHAPTER] without START";
      return false;
    }
    CChapterPoint p;
    const double seconds = static_cast<double>(s.start) * static_cast<double>(s.num) / static_cast<double>(s.den);
    p.time = FramesOfNs(static_cast<int64_t>(std::min(seconds, 1e9) * 1e9), fps);
    p.name = s.title;
    chapters.m_points.push_back(p);
  }
  return true;
}

}  // namespace

ChapterFileFormat DetectChapterFormat(const std::string& text) {
  size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  const std::string head = text.substr(i, 4096);
  if (StartsWithNoCase(head, ";FFMETADATA") || head.find("[CHAPTER]") != std::string::npos)
    return ChapterFileFormat::kFfmetadata;
  if (head[0] == '<' && head.find("<Chapters") != std::string::npos) return ChapterFileFormat::kMatroskaXml;
  if (StartsWithNoCase(head, "CHAPTER") && head.find('=') != std::string::npos) return ChapterFileFormat::kSimple;
  return ChapterFileFormat::kTimecodes;
}

bool ParseTimedChapters(const std::string& text, CChapters& chapters, std::string& message) {
  chapters.m_points.clear();
  message.clear();
  if (!IsValidFpsCode(chapters.m_nFpsCode)) return false;
  const double fps = FpsOfCode(chapters.m_nFpsCode);
  bool ok = false;
  switch (DetectChapterFormat(text)) {
    case ChapterFileFormat::kSimple: ok = ParseSimpleChapters(text, fps, chapters, message); break;
    case ChapterFileFormat::kMatroskaXml: ok = ParseMatroskaChapters(text, fps, chapters, message); break;
    case ChapterFileFormat::kFfmetadata: ok = ParseFfmetadataChapters(text, fps, chapters, message); break;
    case ChapterFileFormat::kTimecodes: message = "not a chapter file of times"; break;
  }
  if (!ok) chapters.m_points.clear();
  return ok;
}

void ChaptersEvery(CChapters& chapters, int64_t intervalMs, int64_t lengthMs) {
  chapters.m_points.clear();
  if (intervalMs <= 0 || !IsValidFpsCode(chapters.m_nFpsCode)) return;
  const double fps = FpsOfCode(chapters.m_nFpsCode);
  for (int64_t t = 0; t == 0 || t < lengthMs; t += intervalMs) {
    CChapterPoint p;
    p.time = FramesOfNs(t * 1000000, fps);
    chapters.m_points.push_back(p);
    if (chapters.m_points.size() >= 999) break;  // a playlist holds at most 999 marks
  }
}

bool ReadChapterText(const std::string& path, CChapters& chapters, std::string& message) {
  std::string text;
  if (!ReadText(path, text, message)) return false;
  return ParseChapterText(text, chapters, message);
}

bool ReadChapterCsv(const std::string& path, CChapters& chapters, std::string& message) {
  std::string text;
  if (!ReadText(path, text, message)) return false;
  return ParseChapterCsv(text, chapters, message);
}

ImportResult ImportChapterFile(CChapters& target, bool hasClip, int clipFpsCode, const std::string& path,
                               std::string& message) {
  message.clear();
  if (!hasClip) {
    message = kMsgSelectClipFirst;
    return ImportResult::kFailed;
  }
  if (!IsValidFpsCode(clipFpsCode)) {
    message = kMsgAddVideoFirst;
    return ImportResult::kFailed;
  }
  CChapters tmp;
  tmp.m_nFpsCode = static_cast<uint8_t>(clipFpsCode);
  std::string text;
  if (!ReadText(path, text, message)) return ImportResult::kFailed;
  bool ok;
  if (DetectChapterFormat(text) != ChapterFileFormat::kTimecodes)
    ok = ParseTimedChapters(text, tmp, message);
  else
    ok = EqualsNoCase(ExtensionOf(path), ".csv") ? ParseChapterCsv(text, tmp, message)
                                                 : ParseChapterText(text, tmp, message);
  if (!ok) return ImportResult::kFailed;
  if (tmp.m_points.empty()) return ImportResult::kNoChapters;
  target.CopyFrom(tmp);
  target.m_nFpsCode = static_cast<uint8_t>(clipFpsCode);
  return ImportResult::kImported;
}

}  // namespace zv

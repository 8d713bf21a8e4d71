#include "chapters/chapters.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/paths.h"

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
  if (tok.size() > 1) p.name = Trim(tok[1]);
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
  bool ok = EqualsNoCase(ExtensionOf(path), ".csv") ? ReadChapterCsv(path, tmp, message)
                                                    : ReadChapterText(path, tmp, message);
  if (!ok) return ImportResult::kFailed;
  if (tmp.m_points.empty()) return ImportResult::kNoChapters;
  target.CopyFrom(tmp);
  target.m_nFpsCode = static_cast<uint8_t>(clipFpsCode);
  return ImportResult::kImported;
}

}  // namespace zv

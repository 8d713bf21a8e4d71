// Chapter lists counted in video frames, timecode text, and chapter-file
// import (".csv" with a frame-rate header, plain text lines, and the timed
// forms other tools write).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/archive_io.h"

namespace zv {

struct CChapterPoint {
  std::string name;
  uint8_t type = 1;  // 1 entry mark, 2 link point
  int32_t time = 0;  // frames from the start of the clip; 0 start, -1 end
};

class CChapters {
 public:
  uint8_t m_nFpsCode = 0;  // frame-rate code of the clip's video, 1..7
  std::vector<CChapterPoint> m_points;

  size_t Count() const { return m_points.size(); }
  void Reset() { m_points.clear(); }
  // Empties this list, takes the frame-rate code and copies every point.
  void CopyFrom(const CChapters& other) {
    m_nFpsCode = other.m_nFpsCode;
    m_points = other.m_points;
  }
  // A new point as the list control adds it: type 1, time 0.
  CChapterPoint& AddPoint();
  // Inserts `p` after every point that is not later (the end, -1, is the
  // latest), so that a point's position is the chapter number the disc
  // shows. Returns that position, from 0.
  size_t InsertInTimeOrder(const CChapterPoint& p);

  void Store(ArchiveOut& ar) const;
  void Load(ArchiveIn& ar);
};

// Frames per second of a frame-rate code (0 for the reserved codes and
// codes outside 0..7).
double FpsOfCode(int code);
// The name a chapter file uses for a code ("23.976", "Reserved", ...).
const char* FpsNameOfCode(int code);
bool IsValidFpsCode(int code);  // 1..7

// hh:mm:ss:ff or hh:mm:ss.mmm (also ':' or ';' before the milliseconds) to a
// frame count; 0 when the text is not a valid timecode.
int32_t ParseTimecode(const std::string& text, double fps);
std::string FormatTimecode(int32_t frames, double fps);  // hh:mm:ss:ff
std::string FormatMilliseconds(int64_t ms);               // hh:mm:ss:mmm

// The texts a chapter import can show.
extern const char* const kMsgSelectClipFirst;      // "Please select clip first! "
extern const char* const kMsgAddVideoFirst;        // "Please add video track first! "
extern const char* const kMsgFrameRateUndefined;   // "Frame rate is not defined! "
extern const char* const kMsgDropFlagUndefined;    // "Drop frame flag is not defined! "

// Read a chapter file into `chapters` (emptied first; its frame-rate code
// must already be set to 1..7). On failure `message` holds the text to show:
// a file error or one of the messages above. ReadChapterText converts with
// the list's frame rate; ReadChapterCsv reads times at the rate named in its
// header and converts them to frames of the list's rate.
bool ReadChapterCsv(const std::string& path, CChapters& chapters, std::string& message);
bool ReadChapterText(const std::string& path, CChapters& chapters, std::string& message);
// The same on text already in memory (for tests and fuzzing).
bool ParseChapterCsv(const std::string& text, CChapters& chapters, std::string& message);
bool ParseChapterText(const std::string& text, CChapters& chapters, std::string& message);

// Chapter files that give times rather than frames: the simple form of
// OGM tools and mkvextract (CHAPTER01=00:00:00.000, CHAPTER01NAME=...),
// Matroska chapter XML, and ffmpeg metadata ([CHAPTER] with TIMEBASE, START
// and title). Told apart by content; kTimecodes is the CSV or text form.
enum class ChapterFileFormat { kTimecodes, kSimple, kMatroskaXml, kFfmetadata };
ChapterFileFormat DetectChapterFormat(const std::string& text);
// Reads one of the timed forms into `chapters` (emptied first; its frame-rate
// code must be 1..7), each time becoming the nearest frame of that rate. On
// failure `message` says what is wrong and the list is empty.
bool ParseTimedChapters(const std::string& text, CChapters& chapters, std::string& message);
// A chapter at the start and one every `intervalMs` before `lengthMs`.
void ChaptersEvery(CChapters& chapters, int64_t intervalMs, int64_t lengthMs);

enum class ImportResult { kImported, kFailed, kNoChapters };
// The import command: `hasClip` says whether the list belongs to a clip,
// `clipFpsCode` is that clip's video frame-rate code (0 without video).
// A timed form is recognised by its content; otherwise ".csv" (any letter
// case) is read as CSV, everything else as text. Only a
// read that yields at least one point replaces `target` (keeping the clip's
// frame-rate code); otherwise `target` is unchanged.
ImportResult ImportChapterFile(CChapters& target, bool hasClip, int clipFpsCode, const std::string& path,
                               std::string& message);

}  // namespace zv

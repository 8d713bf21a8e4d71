#include "edit/chapter_import.h"

#include "chapters/chapters.h"
#include "model/story.h"
#include "model/project.h"
#include "streams/stream_context.h"

namespace zvedit {

namespace {

// Presentation length of the clip's main video stream, 0 when it has none.
int64_t VideoLengthMs(zv::CStoryObject& story) {
  for (const zv::STrackRef& t : story.TrackRefs()) {
    if (!t.enabled || !t.primary || !t.video || t.reused) continue;
    zv::SStreamContext ctx;
    zv::SSourceParams src;
    src.path = t.path;
    uint32_t start = 0, end = 0;
    if (zv::OpenStream(src, ctx, zv::Progress{}, nullptr) == zv::kOk && zv::ContextPtsRange(ctx, start, end) &&
        end > start)
      return (end - start) / 90;
  }
  return 0;
}

}  // namespace

bool ChapterRateFor(const zv::CPiObject& item, int given, const std::string& path, int& code, std::string& error) {
  const zv::CChapters& chapters = item.m_chapters;
  // Times count frames of the list's frame rate; until stories carry video
  // the rate comes from the one given.
  code = chapters.m_nFpsCode;
  // Frame counts are read at the item's video rate when the disc is built,
  // so a list cannot be given another one.
  const int videoCode = item.m_nVideoFpsCode;
  if (given && zv::IsValidFpsCode(videoCode) && given != videoCode) {
    error = "--fps " + std::to_string(given) + " (" + zv::FpsNameOfCode(given) + " fps) differs from the video of \"" +
            path + "\" (" + zv::FpsNameOfCode(videoCode) + " fps)";
    return false;
  }
  if (given) {
    if (!chapters.m_points.empty() && zv::IsValidFpsCode(code) && code != given) {
      error = "the chapters of \"" + path + "\" count frames at " + zv::FpsNameOfCode(code) +
              " fps; remove them before changing the frame rate";
      return false;
    }
    code = given;
  } else if (!zv::IsValidFpsCode(code)) {
    code = item.m_nVideoFpsCode;
  }
  if (!zv::IsValidFpsCode(code)) {
    error = zv::kMsgAddVideoFirst;
    return false;
  }
  return true;
}

bool ImportChapters(zv::CPiObject& item, int code, const std::string& file, std::string& error) {
  zv::ImportResult r = zv::ImportChapterFile(item.m_chapters, item.m_pStory != nullptr, code, file, error);
  if (r == zv::ImportResult::kFailed) return false;
  if (r == zv::ImportResult::kNoChapters) {
    error = "\"" + file + "\" holds no chapter points";
    return false;
  }
  return true;
}

bool ChaptersEvery(zv::CPiObject& item, int code, int64_t everyMs, std::string& error) {
  if (!item.m_pStory) return error = zv::kMsgSelectClipFirst, false;
  const int64_t lengthMs = VideoLengthMs(*item.m_pStory);
  if (lengthMs <= 0) return error = zv::kMsgAddVideoFirst, false;
  item.m_chapters.m_nFpsCode = static_cast<uint8_t>(code);
  zv::ChaptersEvery(item.m_chapters, everyMs, lengthMs);
  return true;
}

}  // namespace zvedit

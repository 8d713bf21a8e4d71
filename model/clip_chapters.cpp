#include "model/clip_chapters.h"

#include "chapters/chapters.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"

namespace zv {

namespace {

// The list as an ffmpeg metadata file, so that the one reader of timed
// chapter files turns times into frames.
std::string AsFfmetadata(const std::vector<STimedChapter>& chapters) {
  std::string text = ";FFMETADATA1\n";
  for (const STimedChapter& c : chapters) {
    text += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(c.startMs) + "\nEND=" + std::to_string(c.startMs) +
            "\ntitle=";
    for (char ch : c.name) {
      if (ch == '=' || ch == ';' || ch == '#' || ch == '\\' || ch == '\n') text += '\\';
      text += ch;
    }
    text += "\n";
  }
  return text;
}

}  // namespace

size_t SetClipChapters(CStoryObject& story, const std::vector<STimedChapter>& chapters, std::string& message) {
  if (chapters.empty()) {
    message = "the source has no chapters";
    return 0;
  }
  CFilmObject* film = FilmOf(&story);
  size_t items = 0;
  if (!film) {
    message = "the clip belongs to no film";
    return 0;
  }
  const std::string text = AsFfmetadata(chapters);
  for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
    CPlObject* pl = film->m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k) {
      CPiObject& item = *pl->GetAt(k);
      if (item.m_pStory != &story) continue;
      if (!IsValidFpsCode(item.m_nVideoFpsCode)) {
        message = kMsgAddVideoFirst;
        return 0;
      }
      CChapters list;
      list.m_nFpsCode = item.m_nVideoFpsCode;
      if (!ParseTimedChapters(text, list, message)) return 0;
      item.m_chapters.CopyFrom(list);
      ++items;
    }
  }
  if (items == 0) message = "no title plays the clip";
  return items;
}

}  // namespace zv

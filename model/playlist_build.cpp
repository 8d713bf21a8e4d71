// Writing the playlist files of a playlist object: play items from the
// clips the build just wrote, stream entries from the tracks, chapters as
// marks on entry points.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "bdnav/playlist_file.h"
#include "model/playlist_stn.h"
#include "chapters/chapters.h"
#include "model/build.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"
#include "mux/clip_info.h"
#include "mux/mux_track.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

namespace {

constexpr uint16_t kPrimaryVideoPid = 0x1011;
constexpr uint16_t kMenuPid = 0x1400;  // the one stream of a menu clip
constexpr uint64_t kEpTimeStep = 512;  // 90 kHz ticks of one PTS_EP_fine step

std::string Five(int32_t n) {
  char name[16];
  std::snprintf(name, sizeof name, "%05d", static_cast<int>(n));
  return name;
}

std::string WithSlash(std::string path) {
  path = NormalizeSeparators(path);
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

// The menu as the playlist's one interactive-graphics sub-path, and the one
// IG entry of every play item pointing into it. Pop-up on and off must stay
// allowed wherever the menu is shown.
void AddMenuSubPath(PlaylistFile& rec, const SMenuClip& menu) {
  if (!menu.builds) return;
  // An earlier menu sub-path goes; entries of the sub-paths after it move
  // down with them.
  for (size_t k = rec.subPaths.size(); k-- > 0;) {
    if (rec.subPaths[k].SubPathType != 3) continue;
    rec.subPaths.erase(rec.subPaths.begin() + static_cast<std::ptrdiff_t>(k));
    for (PLAY_ITEM& pi : rec.playItems) {
      STN_TABLE& stn = pi.stn;
      for (CPseFolder* list : {&stn.primaryVideo, &stn.primaryAudio, &stn.pgTextSt, &stn.pipPgTextSt, &stn.ig})
        for (PRIMARY_STREAM_ENTRY& e : *list)
          if (e.entry.type != 1 && e.entry.RefToSubPathId > k) --e.entry.RefToSubPathId;
      for (auto& e : stn.secondaryAudio)
        if (e.entry.type != 1 && e.entry.RefToSubPathId > k) --e.entry.RefToSubPathId;
      for (auto& e : stn.secondaryVideo)
        if (e.entry.type != 1 && e.entry.RefToSubPathId > k) --e.entry.RefToSubPathId;
    }
  }
  SUB_PATH sp;
  sp.SubPathType = 3;  // IG menu
  SUB_PLAY_ITEM spi;
  spi.ClipName = Five(menu.clipNumber);
  spi.InTime = static_cast<uint32_t>(menu.start) / 2;
  spi.OutTime = static_cast<uint32_t>(menu.end) / 2;
  sp.items.push_back(spi);
  rec.subPaths.push_back(sp);
  const uint8_t index = static_cast<uint8_t>(rec.subPaths.size() - 1);
  for (PLAY_ITEM& pi : rec.playItems) {
    PRIMARY_STREAM_ENTRY e;
    e.entry.type = 2;  // a stream of a sub-path's clip
    e.entry.RefToSubPathId = index;
    e.entry.RefToSubClipEntryId = 0;
    e.entry.RefToStreamPidOfSubClip = kMenuPid;
    e.attributes.StreamCodingType = kSctIg;
    e.attributes.Language = menu.language;
    pi.stn.ig.clear();
    pi.stn.ig.push_back(e);
  }
  rec.AudioMixAppFlag = true;
  rec.ClearUoBit(24);
  rec.ClearUoBit(25);
}

namespace {

bool WriteRecord(PlaylistFile& rec, int32_t number, const std::string& bdmv, IPrompt& prompt) {
  // Measured first, so a playlist of any size gets a buffer of its size.
  std::vector<uint8_t> buffer(rec.WritePlaylist(nullptr, 0));
  const size_t size = rec.WritePlaylist(buffer.data(), buffer.size());
  const std::string name = Five(number) + ".mpls";
  std::string error;
  for (const std::string& path : {bdmv + "PLAYLIST/" + name, bdmv + "BACKUP/PLAYLIST/" + name}) {
    if (!WriteFileAtomic(path, buffer.data(), size, error)) {
      prompt.Message(error);
      return false;
    }
  }
  return true;
}

}  // namespace

uint32_t ChapterMarkTime(int32_t frames, double fps, uint32_t inTime, uint32_t outTime,
                         const std::vector<KEY_POINT_INFO>& entryPoints) {
  if (frames == 0) return inTime;
  if (frames < 0) return outTime;  // -1: the end
  if (fps <= 0) return inTime;
  const uint64_t target = static_cast<uint64_t>(std::trunc(frames / fps * 90000.0 + 0.5)) + 2ull * inTime;
  for (size_t i = 0; i < entryPoints.size(); ++i) {
    const uint64_t pts = entryPoints[i].pts;
    // The EP map keeps times to 512 ticks: an entry that far before the
    // target is the target's own picture, even when it is the last entry.
    if (pts <= target && target - pts < kEpTimeStep) return static_cast<uint32_t>(pts / 2);
    if (pts < target) continue;
    if (pts == target || i == 0) return static_cast<uint32_t>(pts / 2);
    const uint64_t before = entryPoints[i - 1].pts;
    // A tie goes to the earlier entry.
    return static_cast<uint32_t>((target - before <= pts - target ? before : pts) / 2);
  }
  // Past the last entry but still inside the clip: the last GOP holds the
  // chapter's picture. A mark at the out time would be an empty chapter at
  // the very end, which players skip or end the title on.
  if (!entryPoints.empty() && target < 2ull * outTime) return static_cast<uint32_t>(entryPoints.back().pts / 2);
  return outTime;
}

bool ChapterPastEnd(int32_t frames, double fps, uint32_t inTime, uint32_t outTime) {
  if (frames <= 0 || fps <= 0) return false;
  const uint64_t target = static_cast<uint64_t>(std::trunc(frames / fps * 90000.0 + 0.5)) + 2ull * inTime;
  return target >= 2ull * outTime;
}

bool BuildPlayItem(CPiObject& item, PlaylistFile& rec, const std::string& bdmvPath, std::string& error,
                   std::vector<std::string>* leftOut) {
  CStoryObject* story = item.m_pStory;
  if (!story) {
    error = "a play item plays no clip";
    return false;
  }
  const std::string clpiPath = WithSlash(bdmvPath) + "CLIPINF/" + Five(story->m_nClipNumber) + ".clpi";
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(clpiPath, bytes, error)) return false;
  ClipInformationFile clip;
  if (clip.Parse(bytes.data(), bytes.size(), &error) != kOk) {
    error = "\"" + clpiPath + "\": " + error;
    return false;
  }
  if (clip.atcSequences.empty() || clip.atcSequences[0].stc.empty()) {
    error = "\"" + clpiPath + "\" has no presentation times";
    return false;
  }
  const STC_INFO& stc = clip.atcSequences[0].stc[0];
  const size_t index = rec.playItems.size();

  PLAY_ITEM pi;
  pi.ClipName = Five(story->m_nClipNumber);
  pi.CodecId = "M2TS";
  pi.ConnectionCondition = 1;
  pi.RefToStcId = 0;
  pi.InTime = stc.PresentationStartTime;
  pi.OutTime = stc.PresentationEndTime;

  std::vector<SStreamSel> sel = item.m_streamSel;
  std::stable_sort(sel.begin(), sel.end(), [](const SStreamSel& a, const SStreamSel& b) { return a.order < b.order; });
  for (const SStreamSel& e : sel) {
    const int at = story->TrackIndexOf(e.track);
    if (!e.selected || at < 0) continue;
    const SMuxTrack* t = story->m_vecTracks[static_cast<size_t>(at)];
    // A disabled track is not in the clip: an entry for it would point at
    // nothing.
    if (!t->m_bEnabled || !t->m_bPrimary) continue;
    AddToStn(*t, pi.stn);
  }

  if (index > 0 && item.m_nAngles < 2 && item.m_nConnection == 5) pi.ConnectionCondition = 5;
  pi.RandomAccessFlag = item.m_bRandomAccess;
  pi.StillMode = item.m_nStillMode;
  pi.StillTime = item.m_nStillMode == 1 ? item.m_nStillTime : 0;
  std::copy(std::begin(item.m_uoMask), std::end(item.m_uoMask), pi.uoMask.begin());
  if (item.m_nAngles >= 2) {
    SAngleBlock angles;
    for (int a = 2; a <= item.m_nAngles; ++a) {
      ANGLE_CLIP_ENTRY entry;
      entry.ClipName = pi.ClipName;
      entry.CodecId = pi.CodecId;
      entry.RefToStcId = pi.RefToStcId;
      angles.entries.push_back(entry);
    }
    pi.angles = angles;
  }

  // Chapters count frames at the rate of their list, which is the clip's
  // video rate unless the list was made for another one: then the frame
  // counts are converted through time rather than read at the wrong rate.
  double fps = FpsOfCode(item.m_chapters.m_nFpsCode);
  if (fps <= 0)
    for (const auto& seq : clip.programInfo.sequences)
      for (const auto& s : seq.streams)
        if (s.StreamPID == kPrimaryVideoPid) fps = FpsOfCode(s.coding.FrameRate);
  std::vector<KEY_POINT_INFO> entryPoints;
  for (const auto& e : clip.cpi.entries)
    if (e.StreamPid == kPrimaryVideoPid) entryPoints = e.keyPoints;
  std::vector<PLAY_MARK> marks;
  for (size_t c = 0; c < item.m_chapters.m_points.size(); ++c) {
    const CChapterPoint& p = item.m_chapters.m_points[c];
    if (ChapterPastEnd(p.time, fps, pi.InTime, pi.OutTime)) {
      if (leftOut) {
        std::string text = "chapter " + std::to_string(c + 1);
        if (!p.name.empty()) text += " (" + p.name + ")";
        text += " at " + FormatTimecode(p.time, fps) + " is at or after the end of clip " + pi.ClipName +
                " and is left out";
        leftOut->push_back(text);
      }
      continue;
    }
    PLAY_MARK mark;
    mark.MarkType = p.type;
    mark.RefToPlayItemId = static_cast<uint16_t>(index);
    mark.MarkTimeStamp = ChapterMarkTime(p.time, fps, pi.InTime, pi.OutTime, entryPoints);
    // A chapter begins at a picture a player can start from: one asked for
    // elsewhere is moved, and the move is told with both times.
    if (p.time > 0 && fps > 0 && leftOut) {
      const int64_t target = static_cast<int64_t>(std::trunc(p.time / fps * 90000.0 + 0.5)) + 2ll * pi.InTime;
      const int64_t moved = 2ll * mark.MarkTimeStamp - target;
      if (moved <= -static_cast<int64_t>(kEpTimeStep) || moved >= static_cast<int64_t>(kEpTimeStep)) {
        const double at = static_cast<double>(2ll * mark.MarkTimeStamp - 2ll * pi.InTime) / 90000.0 * fps;
        std::string text = "chapter " + std::to_string(c + 1);
        if (!p.name.empty()) text += " (" + p.name + ")";
        text += " " + FormatTimecode(p.time, fps) + " -> " +
                FormatTimecode(static_cast<int32_t>(std::trunc(at + 0.5)), fps) + ", the " +
                (moved < 0 ? "preceding" : "following") + " I picture";
        leftOut->push_back(text);
      }
    }
    mark.EntryEsPid = 0xFFFF;
    mark.Duration = 0;
    marks.push_back(mark);
  }
  // Players step through the marks in file order, which must be time
  // order; chapters may have been added or imported in any order.
  std::stable_sort(marks.begin(), marks.end(),
                   [](const PLAY_MARK& a, const PLAY_MARK& b) { return a.MarkTimeStamp < b.MarkTimeStamp; });
  rec.marks.insert(rec.marks.end(), marks.begin(), marks.end());
  rec.playItems.push_back(std::move(pi));
  return true;
}

bool WritePlaylists(CPlObject& pl, const std::string& bdmvPath, IPrompt& prompt, const Progress& progress) {
  const std::string bdmv = WithSlash(bdmvPath);
  // An item is built once per playlist holding it; its notes are told once.
  std::vector<std::string> notes;
  auto build = [&](size_t i, PlaylistFile& rec, std::string& error) {
    std::vector<std::string> leftOut;
    if (!BuildPlayItem(*pl.GetAt(i), rec, bdmv, error, &leftOut)) return false;
    for (const std::string& t : leftOut) {
      const CFilmObject* film = FilmOf(&pl);
      const std::string note =
          (film ? film->m_strName + ":" : std::string()) + pl.m_strName + ":PI#" + std::to_string(i + 1) + ": " + t;
      if (std::find(notes.begin(), notes.end(), note) == notes.end()) notes.push_back(note);
    }
    return true;
  };
  // Condition 5 promises a clip multiplexed to follow the one before it
  // seamlessly; an item whose clip was not prepared so joins with 1.
  for (size_t i = 1; i < pl.GetCount(); ++i) {
    CPiObject& item = *pl.GetAt(i);
    const CStoryObject* previous = pl.GetAt(i - 1)->m_pStory;
    const bool prepared = item.m_pStory && previous &&
                          std::find(item.m_pStory->m_vecPrevClips.begin(), item.m_pStory->m_vecPrevClips.end(),
                                    previous) != item.m_pStory->m_vecPrevClips.end();
    item.m_nConnection = pl.m_nConnection == 5 && !prepared ? 1 : pl.m_nConnection;
  }
  const SMenuClip menu = MenuClipOf(pl);

  std::vector<std::pair<int32_t, std::unique_ptr<PlaylistFile>>> records;
  int32_t number = pl.m_nPlaylistNumber;
  std::string error;
  if (pl.m_nPlayMode != kSeparate) {
    auto rec = std::make_unique<PlaylistFile>();
    rec->PlaybackType = pl.m_nPlaybackType;
    if (pl.m_nPlaybackType != 1) rec->PlaybackCount = pl.m_nPlaybackCount;
    rec->RandomAccessFlag = pl.m_bRandomAccess;
    rec->AudioMixAppFlag = pl.m_bAudioMix;
    rec->LosslessMayBypassMixerFlag = pl.m_bLosslessBypass;
    std::copy(std::begin(pl.m_uoMask), std::end(pl.m_uoMask), rec->uoMask.begin());
    for (size_t i = 0; i < pl.GetCount(); ++i) {
      if (!build(i, *rec, error)) {
        prompt.Message(error);
        return false;
      }
    }
    AddMenuSubPath(*rec, menu);
    records.emplace_back(number++, std::move(rec));
  }
  if (pl.m_nPlayMode != kPlayAll) {
    for (size_t i = 0; i < pl.GetCount(); ++i) {
      auto rec = std::make_unique<PlaylistFile>();
      if (!build(i, *rec, error)) {
        prompt.Message(error);
        return false;
      }
      AddMenuSubPath(*rec, menu);
      records.emplace_back(number++, std::move(rec));
    }
  }
  for (auto& [n, rec] : records)
    if (!WriteRecord(*rec, n, bdmv, prompt)) return false;
  for (const std::string& note : notes) progress.Item(LogLine(note));
  return true;
}

}  // namespace zv

#include "model/playlist.h"

#include <algorithm>

#include "model/menu.h"
#include "model/project.h"
#include "model/story.h"

namespace zv {

const char* PlayModeName(uint8_t mode) {
  switch (mode) {
    case kPlayAll: return "PlayAll";
    case kSeparate: return "Separate";
    case kSeparateAndPlayAll: return "Separate and PlayAll";
    default: return "?";
  }
}

const char* ConnectionName(uint8_t condition) {
  switch (condition) {
    case 1: return "NonSeamless (1)";
    case 5: return "Seamless with clean break (5)";
    case 6: return "Seamless without break (6)";
    default: return "?";
  }
}

ZV_IMPLEMENT_DYNCREATE(CPiObject, 1)

int32_t CPiObject::StoryId() const { return m_pStory ? m_pStory->m_nId : m_nStoryId; }

void CPiObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.ZeroByte();
  int32_t storyId = StoryId();
  ar.Int(storyId);
  if (ar.IsLoading()) {
    m_nStoryId = storyId;
    m_pStory = nullptr;
  }
  ar.Byte(m_nAngles);
  ar.Int(m_nReserved1);
  ar.Int(m_nReserved2);
  ar.Bool(m_bRandomAccess);
  ar.Byte(m_nStillMode);
  ar.Word(m_nStillTime);
  ar.Byte(m_nConnection);
  ar.Byte(m_nReservedFlag1);
  ar.Byte(m_nReservedFlag2);
  ar.Bytes(m_uoMask, sizeof m_uoMask);
  if (ar.IsStoring()) m_chapters.Store(ar.Out());
  else m_chapters.Load(ar.In());
  ar.ZeroByte();
  uint32_t n = static_cast<uint32_t>(m_streamSel.size());
  ar.Dword(n);
  if (ar.IsLoading()) {
    ar.CheckCount(n, 10);
    m_streamSel.assign(n, SStreamSel{});
  }
  for (auto& e : m_streamSel) {
    ar.ZeroByte();
    ar.Int(e.track);
    ar.Byte(e.selected);
    ar.Int(e.order);
  }
}

void CPiObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* s = dynamic_cast<const CPiObject*>(&src);
  if (!s || s == this) return;
  m_pStory = s->m_pStory;
  m_nStoryId = s->m_nStoryId;
  m_chapters.CopyFrom(s->m_chapters);
  m_nVideoFpsCode = s->m_nVideoFpsCode;
  m_nAngles = s->m_nAngles;
  m_nReserved1 = s->m_nReserved1;
  m_nReserved2 = s->m_nReserved2;
  m_bRandomAccess = s->m_bRandomAccess;
  m_nStillMode = s->m_nStillMode;
  m_nStillTime = s->m_nStillTime;
  m_nConnection = s->m_nConnection;
  m_nReservedFlag1 = s->m_nReservedFlag1;
  m_nReservedFlag2 = s->m_nReservedFlag2;
  std::copy(std::begin(s->m_uoMask), std::end(s->m_uoMask), m_uoMask);
  m_streamSel = s->m_streamSel;
}

bool CPiObject::ReloadSources(CGosObject& stories) {
  int32_t id = StoryId();
  if (id == -1) return false;
  CNamedPtrCollection candidates;
  stories.Gather(candidates);
  auto* story = static_cast<CStoryObject*>(candidates.FindById(id));
  if (!story) {
    m_pStory = nullptr;
    m_nStoryId = -1;
    return true;
  }
  LinkStory(*this, story);
  return false;
}

void RelinkPlayItems(CFilmObject& film, CStoryObject& story) {
  for (size_t i = 0; i < film.m_playlists.GetCount(); ++i) {
    CPlObject* pl = film.m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k)
      if (pl->GetAt(k)->m_pStory == &story) LinkStory(*pl->GetAt(k), &story);
  }
}

void LinkStory(CPiObject& item, CStoryObject* story) {
  item.m_pStory = story;
  item.m_nStoryId = story ? story->m_nId : -1;
  std::vector<STrackRef> tracks = story ? story->TrackRefs() : std::vector<STrackRef>{};
  auto& sel = item.m_streamSel;
  sel.erase(std::remove_if(sel.begin(), sel.end(),
                           [&](const SStreamSel& e) {
                             return std::none_of(tracks.begin(), tracks.end(),
                                                 [&](const STrackRef& t) { return t.number == e.track; });
                           }),
            sel.end());
  int32_t nextOrder = 0;
  for (const auto& e : sel) nextOrder = std::max(nextOrder, e.order + 1);
  for (const auto& t : tracks) {
    auto it = std::find_if(sel.begin(), sel.end(), [&](const SStreamSel& e) { return e.track == t.number; });
    if (it != sel.end()) {
      it->enabled = t.enabled;
    } else {
      sel.push_back(SStreamSel{t.number, t.enabled, 1, nextOrder++});
    }
  }
  item.m_nVideoFpsCode = 0;
  for (const auto& t : tracks)
    if (t.video) {
      item.m_nVideoFpsCode = t.fpsCode;
      break;
    }
}

void AddStoriesToPlaylist(CPlObject& playlist, const CGosObject& stories) {
  for (size_t i = 0; i < stories.GetCount(); ++i) {
    CStoryObject* story = stories.GetAt(i);
    bool played = false;
    for (size_t k = 0; k < playlist.GetCount() && !played; ++k) played = playlist.GetAt(k)->m_pStory == story;
    if (played) continue;
    CPiObject* item = playlist.Add(std::make_unique<CPiObject>());
    LinkStory(*item, story);
  }
}

// ---------------------------------------------------------------------------

ZV_IMPLEMENT_DYNCREATE(CPlObject, 1)

int32_t CPlObject::MenuId() const { return m_pMenu ? m_pMenu->m_nId : m_nMenuId; }

void CPlObject::SetMenu(CZvIgObject* menu) {
  m_pMenu = menu;
  m_nMenuId = menu ? menu->m_nId : -1;
}

void CPlObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  uint8_t version = 1;
  ar.Byte(version);
  ar.Bool(m_bHasTitle);
  ar.Byte(m_nPlayMode);
  int32_t menuId = MenuId();
  ar.Int(menuId);
  if (ar.IsLoading()) {
    m_nMenuId = menuId;
    m_pMenu = nullptr;
  }
  ar.Byte(m_nPlaybackType);
  ar.Word(m_nPlaybackCount);
  ar.Bool(m_bRandomAccess);
  ar.Bool(m_bAudioMix);
  ar.Bool(m_bLosslessBypass);
  if (version >= 1) ar.Byte(m_nConnection);
  else m_nConnection = 1;
  ar.Bytes(m_uoMask, sizeof m_uoMask);
  SerializeArray(ar);
}

void CPlObject::Copy(const CNamedPtrArray<CPiObject>& src) {
  CNamedPtrArray<CPiObject>::Copy(src);
  auto* s = dynamic_cast<const CPlObject*>(&src);
  if (!s) return;
  m_pMenu = s->m_pMenu;
  m_nMenuId = s->m_nMenuId;
  m_bHasTitle = s->m_bHasTitle;
  m_nPlayMode = s->m_nPlayMode;
  m_nPlaylistNumber = s->m_nPlaylistNumber;
  m_nTitleNumber = s->m_nTitleNumber;
  m_nConnection = s->m_nConnection;
  m_nPlaybackType = s->m_nPlaybackType;
  m_nPlaybackCount = s->m_nPlaybackCount;
  m_bRandomAccess = s->m_bRandomAccess;
  m_bAudioMix = s->m_bAudioMix;
  m_bLosslessBypass = s->m_bLosslessBypass;
  std::copy(std::begin(s->m_uoMask), std::end(s->m_uoMask), m_uoMask);
}

bool CPlObject::ReloadSources(CGosObject& stories, CGoigObject& menus) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(stories);
  int32_t id = MenuId();
  if (id != -1) {
    CNamedPtrCollection candidates;
    menus.Gather(candidates);
    auto* menu = static_cast<CZvIgObject*>(candidates.FindById(id));
    if (!menu) changed = true;
    SetMenu(menu);
  }
  return changed;
}

bool CGoplObject::ReloadSources(CGosObject& stories, CGoigObject& menus) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(stories, menus);
  return changed;
}

}  // namespace zv

// ---------------------------------------------------------------------------
// Build: checks and per-build linking.

namespace zv {

const char* const kMsgPlaylistEmpty = "\"%s\" is empty! ";
const char* const kMsgMenuSizeMismatch = "\"%s\": size of video and menu mismatch! ";

constexpr size_t kMaxPlaylistEntries = 999;

namespace {

// The item's selected tracks that the clip holds (enabled ones), in
// selection order.
std::vector<STrackRef> SelectedTracks(const CPiObject& item) {
  std::vector<STrackRef> out;
  if (!item.m_pStory) return out;
  const std::vector<STrackRef> tracks = item.m_pStory->TrackRefs();
  std::vector<SStreamSel> sel = item.m_streamSel;
  std::stable_sort(sel.begin(), sel.end(), [](const SStreamSel& a, const SStreamSel& b) { return a.order < b.order; });
  for (const SStreamSel& e : sel) {
    if (!e.selected) continue;
    for (const STrackRef& t : tracks)
      if (t.number == e.track && t.enabled) out.push_back(t);
  }
  return out;
}

void FrameSizeOf(uint8_t videoFormat, uint16_t& w, uint16_t& h) {
  switch (videoFormat) {
    case 1: case 3: w = 720; h = 480; break;
    case 2: case 7: w = 720; h = 576; break;
    case 4: case 6: w = 1920; h = 1080; break;
    case 5: w = 1280; h = 720; break;
    default: w = 0; h = 0; break;
  }
}

}  // namespace

SMenuClip MenuClipOf(const CPlObject& playlist) {
  SMenuClip c;
  const CZvIgObject* menu = playlist.m_pMenu;
  if (!menu || menu->IsEmpty() || !menu->m_bOutOfMux) return c;
  c.builds = true;
  c.clipNumber = menu->m_nClipNumber;
  c.start = menu->m_nClipStart;
  c.end = menu->m_nClipEnd;
  if (const char* code = LanguageCodeAt(menu->m_nLanguage); code && *code) c.language = code;
  return c;
}

bool ValidatePlaylist(CPlObject& pl, const std::string& prefix, IPrompt& prompt) {
  const std::string label = prefix + pl.m_strName;
  if (pl.GetCount() == 0) {
    // Every film has a "Title#1": the message alone does not say which.
    std::string film = prefix;
    while (!film.empty() && film.back() == ':') film.pop_back();
    prompt.Message(FormatMessage(kMsgPlaylistEmpty, pl.m_strName) +
                   (film.empty() ? std::string() : "\n(a title of \"" + film + "\" without play items)"));
    return false;
  }
  for (size_t i = 0; i < pl.GetCount(); ++i) {
    // Tracks added to the story since the item was linked get their entries.
    if (pl.GetAt(i)->m_pStory) LinkStory(*pl.GetAt(i), pl.GetAt(i)->m_pStory);
    const CPiObject& item = *pl.GetAt(i);
    const std::string itemLabel = label + ":PI#" + std::to_string(i + 1);
    if (!item.m_pStory) {
      prompt.Message(FormatMessage(kMsgPlaylistEmpty, itemLabel));
      return false;
    }
    int video = 0;
    for (const STrackRef& t : SelectedTracks(item))
      if (t.primary && t.kind == StreamKind::kVideo) ++video;
    if (video != 1) {
      prompt.Message(FormatMessage(kMsgPrimaryVideoOne, itemLabel));
      return false;
    }
  }
  // A playlist file holds at most 999 play items and 999 marks; more would
  // overflow the file and its counts.
  size_t marks = 0, mostMarks = 0;
  for (size_t i = 0; i < pl.GetCount(); ++i) {
    marks += pl.GetAt(i)->m_chapters.m_points.size();
    mostMarks = std::max(mostMarks, pl.GetAt(i)->m_chapters.m_points.size());
  }
  if (pl.m_nPlayMode == kSeparate) marks = mostMarks;
  if (pl.GetCount() > kMaxPlaylistEntries || marks > kMaxPlaylistEntries) {
    const bool items = pl.GetCount() > kMaxPlaylistEntries;
    prompt.Message("\"" + label + "\": " + std::to_string(items ? pl.GetCount() : marks) +
                   (items ? " play items" : " chapters") + " in one playlist, the disc allows at most " +
                   std::to_string(kMaxPlaylistEntries));
    return false;
  }
  // Condition 6 would need clips multiplexed as one continuous stream; a
  // project file may still hold it from before it was refused in `set`.
  if (pl.m_nConnection != 1 && pl.m_nConnection != 5) {
    prompt.Message("\"" + label + "\": connection " + std::to_string(pl.m_nConnection) +
                   ": only 1 and 5 are supported");
    return false;
  }
  // The combined playlist (PlayAll, or the first of Separate and PlayAll)
  // joins its items with the object's condition; the per-item playlists of
  // the other modes hold one item each and join nothing.
  if (pl.m_nPlayMode != kSeparate && pl.m_nConnection == 5) {
    const CPiObject& first = *pl.GetAt(0);
    const std::vector<STrackRef> a = SelectedTracks(first);
    for (size_t i = 1; i < pl.GetCount(); ++i) {
      const CPiObject& item = *pl.GetAt(i);
      if (CStoryObject::CompareTracks(prefix, *first.m_pStory, *item.m_pStory, prompt)) return false;
      const std::vector<STrackRef> b = SelectedTracks(item);
      const std::string na = label + ":PI1", nb = label + ":PI" + std::to_string(i + 1);
      const char* failed = nullptr;
      if (a.size() != b.size()) {
        failed = kMsgTrackCountConflict;
      } else {
        for (size_t k = 0; k < a.size() && !failed; ++k)
          if (!SameTrackCoding(a[k], b[k])) failed = kMsgTrackMismatch;
      }
      if (failed) {
        prompt.Message(label + ":" + ": " + FormatMessage(failed, na, nb));
        return false;
      }
    }
  }
  if (MenuClipOf(pl).builds) {
    // The menu is drawn over the video, so their frames must match.
    uint16_t w = 0, h = 0;
    uint8_t fps = 0;
    for (const STrackRef& t : pl.GetAt(0)->m_pStory->TrackRefs()) {
      if (t.enabled && t.primary && t.kind == StreamKind::kVideo) {
        FrameSizeOf(t.videoFormat, w, h);
        fps = t.fpsCode;
        break;
      }
    }
    CZvIgObject* menu = pl.m_pMenu;
    // A menu made without a size yet takes its video's.
    if (menu->m_video.width == 0 && menu->m_video.height == 0) {
      menu->m_video.width = w;
      menu->m_video.height = h;
    }
    if (menu->m_video.width != w || menu->m_video.height != h) {
      prompt.Message(FormatMessage(kMsgMenuSizeMismatch, label) + "(video " + std::to_string(w) + "x" +
                     std::to_string(h) + ", menu " + std::to_string(menu->m_video.width) + "x" +
                     std::to_string(menu->m_video.height) + ")");
      return false;
    }
    menu->m_video.frameRateCode = fps;
  }
  return true;
}

void PreparePlaylist(CPlObject& pl) {
  CStoryObject* previous = nullptr;
  for (size_t i = 0; i < pl.GetCount(); ++i) {
    CPiObject* item = pl.GetAt(i);
    CStoryObject* story = item->m_pStory;
    if (story) {
      story->m_vecUses.emplace_back(&pl, item);
      if (pl.m_nPlayMode != kSeparate && pl.m_nConnection == 5 && i > 0 && previous)
        story->m_vecPrevClips.push_back(previous);
    }
    previous = story;
  }
}

}  // namespace zv

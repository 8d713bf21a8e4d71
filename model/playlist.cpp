#include "model/playlist.h"

#include <algorithm>

#include "model/menu.h"
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

// Playlist objects of a film: each lists play items that play one story of
// the same film with its chapters, and may show one of the film's menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chapters/chapters.h"
#include "model/named/containers.h"

namespace zv {

class CStoryObject;
class CGosObject;
class CZvIgObject;
class CGoigObject;

enum PlayMode : uint8_t { kPlayAll = 0, kSeparate = 1, kSeparateAndPlayAll = 2 };
const char* PlayModeName(uint8_t mode);         // "PlayAll", ...
const char* ConnectionName(uint8_t condition);  // "NonSeamless (1)", ...

// One track of the story as the play item selects it.
struct SStreamSel {
  int32_t track = 0;     // track number within the story
  bool enabled = true;   // copy of the track's flag, refreshed on linking
  uint8_t selected = 1;
  int32_t order = 0;
};

class CPiObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CPiObject)

 public:
  CStoryObject* m_pStory = nullptr;
  int32_t m_nStoryId = -1;  // stored form of m_pStory
  CChapters m_chapters;
  uint8_t m_nVideoFpsCode = 0;  // from the story's first video track
  uint8_t m_nAngles = 1;
  int32_t m_nReserved1 = 0;  // stored unchanged
  int32_t m_nReserved2 = -1;
  bool m_bRandomAccess = false;
  uint8_t m_nStillMode = 0;  // 0 No, 1 Finite, 2 Infinite
  uint16_t m_nStillTime = 0;
  uint8_t m_nConnection = 1;
  uint8_t m_nReservedFlag1 = 0;  // stored unchanged
  uint8_t m_nReservedFlag2 = 1;
  uint8_t m_uoMask[8] = {};
  std::vector<SStreamSel> m_streamSel;

  // The id written to the file: the linked story's, or the stored one.
  int32_t StoryId() const;
  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;
  // Re-links the item to its story among `stories`; true when the stored
  // story no longer exists.
  bool ReloadSources(CGosObject& stories);
};

class CPlObject : public CNamedPtrArray<CPiObject> {
  ZV_DECLARE_DYNCREATE(CPlObject)

 public:
  CZvIgObject* m_pMenu = nullptr;
  int32_t m_nMenuId = -1;  // stored form of m_pMenu
  bool m_bHasTitle = true;
  uint8_t m_nPlayMode = kPlayAll;
  int32_t m_nPlaylistNumber = -1;  // of the current build
  int32_t m_nTitleNumber = -1;
  uint8_t m_nConnection = 1;
  uint8_t m_nPlaybackType = 1;
  uint16_t m_nPlaybackCount = 0;
  bool m_bRandomAccess = false;
  bool m_bAudioMix = true;
  bool m_bLosslessBypass = true;
  uint8_t m_uoMask[8] = {};

  int32_t MenuId() const;
  void SetMenu(CZvIgObject* menu);
  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CPiObject>& src) override;
  // Re-links every item and the menu; true when a stored link was lost.
  bool ReloadSources(CGosObject& stories, CGoigObject& menus);
};

class CGoplObject : public CGroupObject<CPlObject> {
 public:
  CGoplObject() { SetName("Titles"); }
  const char* DefaultBaseName() const override { return "Title"; }
  bool ReloadSources(CGosObject& stories, CGoigObject& menus);
};

// Sets the item's story and brings its stream selection in line with the
// story's tracks.
void LinkStory(CPiObject& item, CStoryObject* story);
// Appends an unnamed play item for every story of `stories` that no item of
// `playlist` plays yet.
void AddStoriesToPlaylist(CPlObject& playlist, const CGosObject& stories);

}  // namespace zv

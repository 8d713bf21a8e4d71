// Playlist objects of a film: each lists play items that play one story of
// the same film with its chapters, and may show one of the film's menus.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chapters/chapters.h"
#include "named/containers.h"
#include "platform/progress.h"
#include "platform/prompt.h"

namespace zv {

class CFilmObject;
class CStoryObject;
class CGosObject;
class CZvIgObject;
class CGoigObject;
class PlaylistFile;
struct KEY_POINT_INFO;

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
// LinkStory again for every play item of `film` that plays `story`, after
// its tracks changed: items keep one stream-selection entry per track.
void RelinkPlayItems(CFilmObject& film, CStoryObject& story);
// Appends an unnamed play item for every story of `stories` that no item of
// `playlist` plays yet.
void AddStoriesToPlaylist(CPlObject& playlist, const CGosObject& stories);

// The build's texts.
extern const char* const kMsgPlaylistEmpty;     // "\"%s\" is empty! "
extern const char* const kMsgMenuSizeMismatch;  // "\"%s\": size of video and menu mismatch! "

// Checks before a build; `prefix` is the film's label ("Movie#1:"). The
// first failing check shows its message.
bool ValidatePlaylist(CPlObject& playlist, const std::string& prefix, IPrompt& prompt);
// Tells every played story who plays it, and which story precedes it
// seamlessly.
void PreparePlaylist(CPlObject& playlist);
// Writes the playlist files of the object into PLAYLIST and BACKUP/PLAYLIST
// below `bdmvPath`, after its stories were multiplexed.
// Chapters left out or moved are told in the build log through `progress`.
bool WritePlaylists(CPlObject& playlist, const std::string& bdmvPath, IPrompt& prompt,
                    const Progress& progress = Progress{});
// Appends the play item (and its chapter marks) to `record`, reading the
// clip information the build just wrote. False with `error` set. A chapter
// at or after the item's out time would be an empty last chapter: it is
// left out and, with `leftOut`, told there as a log text; so is a chapter
// moved to the entry point (I picture) nearest to it, with both times.
bool BuildPlayItem(CPiObject& item, PlaylistFile& record, const std::string& bdmvPath, std::string& error,
                   std::vector<std::string>* leftOut = nullptr);
// True for a chapter at a frame count (not the start or the end) that falls
// at or after the out time (45 kHz).
bool ChapterPastEnd(int32_t frames, double fps, uint32_t inTime, uint32_t outTime);
// The 45 kHz mark time of a chapter at `frames` (0 start, -1 end) of a play
// item from `inTime` to `outTime` (45 kHz), snapped to the nearest entry
// point (90 kHz presentation times, in order) of the clip's video; a
// chapter at or past the out time marks the out time.
uint32_t ChapterMarkTime(int32_t frames, double fps, uint32_t inTime, uint32_t outTime,
                         const std::vector<KEY_POINT_INFO>& entryPoints);

// The clip a linked menu builds for itself, if any.
struct SMenuClip {
  bool builds = false;
  int32_t clipNumber = -1;
  int32_t start = 0;  // 90 kHz
  int32_t end = 0;
  std::string language = "eng";
};
SMenuClip MenuClipOf(const CPlObject& playlist);
// Makes the menu the playlist's only interactive-graphics sub-path and the
// only IG stream of every play item (nothing for a menu that builds no clip).
void AddMenuSubPath(PlaylistFile& rec, const SMenuClip& menu);

}  // namespace zv

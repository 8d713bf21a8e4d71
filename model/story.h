// Stories: the future clips of a film, each a set of source files and the
// tracks chosen from them. At build time every story a playlist plays is
// multiplexed into STREAM/%05d.m2ts with its CLIPINF/%05d.clpi.
//
// This header stays free of the multiplexer's headers so that the shell and
// the rest of the model can use stories through plain records.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "named/containers.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/coding_type.h"
#include "subtitles/text_script.h"

namespace zv {

class SMuxTrack;
class SRawTrack;
struct SRawTracks;
struct SRipTracks;
class CPlObject;
class CPiObject;

// The story's texts, shown as they stand.
extern const char* const kMsgSourceAdded;        // "\"%s\"\r\n has been added! "
extern const char* const kMsgPrimaryVideoOne;    // "\"%s\": Primary video track must be one! "
extern const char* const kMsgTooManyAudio;       // "\"%s\": Primary audio track count can not exceed 32! "
extern const char* const kMsgTooManySubtitles;   // "\"%s\": subtitle track count can not exceed 32! "
extern const char* const kMsgTrackCountConflict;  // "\"%s\" and \"%s\": have a conflict of track count! "
extern const char* const kMsgTrackMismatch;       // "\"%s\" and \"%s\": mismatch between tracks! "

// Replaces the "%s" of a message text in order.
std::string FormatMessage(const char* text, const std::string& a, const std::string& b = {});

// One track of a story as the rest of the model and the shell see it.
struct STrackRef {
  int32_t number = 0;  // track number within the story (play items refer to it)
  bool enabled = true;
  bool primary = true;
  bool video = false;
  StreamKind kind = StreamKind::kOther;
  uint8_t codingType = 0;
  uint8_t fpsCode = 0;      // frame-rate code of a video track
  uint8_t videoFormat = 0;  // video format code of a video track
  uint8_t aspectRatio = 0;
  uint8_t presentationType = 0;   // audio
  uint8_t samplingFrequency = 0;  // audio
  int32_t delay = 0;        // 90 kHz
  uint16_t pid = 0;         // of the last build
  std::string language;     // three letters
  std::string description;
  std::string path;  // main stream file, or the existing clip of a reused track
  bool reused = false;     // taken from an existing clip
  uint16_t sourcePid = 0;  // PID in that clip
};

// Same primary flag and the same stream coding information as far as
// seamless playback cares: the coding type, and for video the format, frame
// rate and aspect ratio, for audio the presentation type and sampling
// frequency.
bool SameTrackCoding(const STrackRef& a, const STrackRef& b);

// The settings of one track the user can change.
struct STrackSettings {
  int enabled = -1;  // -1 unchanged, else 0/1
  int primary = -1;
  std::string language;  // empty unchanged
  bool setDelay = false;
  int32_t delay = 0;
};

// How a text-subtitle source is drawn: the style keys the user set, and
// the forced flag.
struct STextTrackStyle {
  SSubtitleStyle style;
  bool forced = false;
};

// A source stream the project made from another file: a video encoded for
// the disc, or the audio beside it converted (and slowed when its video
// plays 0.1 % slower than recorded). Kept so that the encode can be redone
// with other settings or undone.
struct SSourceEncode {
  std::string original;    // the file the user gave (absolute)
  bool video = true;       // false: audio converted with the video's retime
  std::string format;      // video: target format name; empty: chosen from the source
  int32_t quality = -1;    // video: constant quality (-1 the default)
  int32_t bitrateKbps = 0; // video: average rate instead of constant quality
  int32_t stillMs = 0;     // video made of a picture: its duration
  uint32_t slowNum = 1;    // audio: slowed num/den with its video
  uint32_t slowDen = 1;
};

// An encode change asked of a video track by a setting, carried out (with
// progress) by the edit layer before the project is saved; never stored.
struct SEncodeAsk {
  bool on = false;
  std::string format;  // empty: chosen from the source
};

class CStoryObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CStoryObject)

 public:
  CStoryObject();
  ~CStoryObject() override;

  int32_t m_nReserved1 = 0;  // stored and restored unchanged
  std::string m_strClipPath;   // an existing clip whose tracks are reused
  std::string m_strClipPath2;  // its companion path, cleared with it
  std::unique_ptr<SRawTracks> m_pRawTracks;
  std::unique_ptr<SRipTracks> m_pRipTracks;  // tracks of the existing clip
  int32_t m_nReserved2 = 0;
  int32_t m_nReserved3 = -1;
  int32_t m_nClipNumber = -1;  // of the current build
  std::vector<std::string> m_vecSources;  // absolute paths, in the order added
  std::vector<SMuxTrack*> m_vecTracks;    // not owned
  std::vector<std::pair<CPlObject*, CPiObject*>> m_vecUses;  // per build: who plays the story
  std::vector<CStoryObject*> m_vecPrevClips;  // per build: seamless predecessors
  int32_t m_nNextTrackId = 0;
  // By text-subtitle source path; sources drawn as by default have none.
  std::map<std::string, STextTrackStyle> m_textStyles;
  // By the path of a source made from another file.
  std::map<std::string, SSourceEncode> m_encodes;
  std::map<int32_t, SEncodeAsk> m_encodeAsks;  // by track number

  // The story's tracks in order. Virtual so that tests of the build can
  // give a story tracks without stream files.
  virtual std::vector<STrackRef> TrackRefs() const;
  // -1 when no track has that number.
  int TrackIndexOf(int32_t number) const;
  // True when some track is enabled.
  bool HasEnabledTrack() const;

  void Serialize(CArchive& ar) override;
  void Reset() override;
  void CopyFrom(const CNamedObject& src) override;

  // Opens and analyses `path` (made absolute) as a new raw track. The same
  // path in any letter case is refused. With `addTracks` the track gets the
  // next track number and joins the track list. kOk, kCancelled or kFailed;
  // every failure has shown its message.
  int AddSource(const std::string& path, bool addTracks, const Progress& progress, IPrompt& prompt);
  // An existing clip (.m2ts with its clip information) whose streams on
  // `pids` (all when empty) become reused tracks; a story reuses one clip
  // at most. kOk or kFailed; every failure has shown its message.
  // With `playlistPath`, an existing playlist that plays the clip: its
  // stream entries (attributes, languages and order) are taken over for the
  // reused streams; a playlist that does not play the clip or lists a stream
  // the clip does not have refuses the whole source.
  int AddClipSource(const std::string& path, const std::vector<uint16_t>& pids, bool addTracks, IPrompt& prompt,
                    const std::string& playlistPath = {});
  // The playlist source of a reused clip when its project is reopened: the
  // stored tracks keep their own order and languages. kOk or kFailed.
  int AddPlaylistSource(const std::string& path, bool addTracks, IPrompt& prompt);
  // Removes the source at `index` with its tracks; false for a bad index.
  bool RemoveSource(size_t index);
  // Drops every ".ac3" file that has a ".thd" or ".mlp" file of the same
  // name in the same selection: the lossless stream carries the core.
  static std::vector<std::string> DropCoveredAc3(const std::vector<std::string>& paths);

  // Applies the settings to the track at `index`; false with `error` set.
  bool ChangeTrack(size_t index, const STrackSettings& s, std::string& error);

  // The text-subtitle source drawn into the track at `index`, or empty.
  std::string TextSourceOf(size_t index) const;
  // Draws again every text-subtitle source whose stream is not current for
  // its style and re-reads its track. kOk, kCancelled or kFailed.
  int RefreshTextSubtitles(const Progress& progress, IPrompt& prompt);

  // Re-opens the source files after a load and matches the stored tracks;
  // true when a source or track had to be dropped.
  virtual bool ReloadSources(const Progress& progress, IPrompt& prompt);

  // Exactly one enabled primary video track, at most 32 primary audio and
  // 32 subtitle tracks; the first failing check shows its message.
  bool CheckTrackCounts(const std::string& prefix, IPrompt& prompt) const;
  // Compares the enabled tracks of two stories in multiplexing order; true
  // when a difference was shown.
  static bool CompareTracks(const std::string& prefix, CStoryObject& a, CStoryObject& b, IPrompt& prompt);

  // The enabled tracks in the order the multiplexer takes them, with PIDs
  // assigned.
  std::vector<SMuxTrack*> AssignPids();
  // Multiplexes the story into STREAM/%05d.m2ts and CLIPINF/%05d.clpi below
  // `bdmvPath` (with its BACKUP copy). kOk, kCancelled or kFailed; on any
  // failure both output files are gone.
  int MuxStory(const std::string& bdmvPath, const Progress& progress, IPrompt& prompt);
  // Clears the per-build lists.
  void ClearBuildLists();
  // Frees what the tracks held for multiplexing.
  void ReleaseBuildState();

 private:
  // Tracks read from the project file, kept until ReloadSources matches them.
  std::vector<std::unique_ptr<SMuxTrack>> m_loadedTracks;
};

class CGosObject : public CGroupObject<CStoryObject> {
 public:
  CGosObject() { SetName("Clips"); }
  const char* DefaultBaseName() const override { return "Clip"; }
  bool ReloadSources(const Progress& progress, IPrompt& prompt);
  // Multiplexes every story that a playlist plays and that has an enabled
  // track; the first non-zero result is returned.
  int BuildStories(const std::string& bdmvPath, const Progress& progress, IPrompt& prompt);
  void ClearBuildLists();
};

}  // namespace zv

#include "model/story_playlist.h"

#include <algorithm>
#include <filesystem>

#include "bdnav/playlist_file.h"
#include "model/story.h"
#include "mux/rip_track.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "records/dump_tree.h"
#include "streams/coding_type.h"

namespace zv {

namespace {

// Playlists are small; a huge file is not one.
constexpr int64_t kMaxPlaylistBytes = int64_t{16} << 20;

SRipTrack* TrackOfPid(const SRipTracks& tracks, uint16_t pid) {
  for (const auto& t : tracks.items)
    if (t->m_nSourcePid == pid && !t->m_bSecond) return t.get();
  return nullptr;
}

// One list of an STN table with the stream kind it may hold.
struct SListOf {
  const char* name;
  bool (*fits)(uint8_t codingType);
};

bool IsVideo(uint8_t t) { return StreamKindOf(t) == StreamKind::kVideo; }
bool IsAudio(uint8_t t) { return StreamKindOf(t) == StreamKind::kAudio; }
bool IsSubtitle(uint8_t t) { return StreamKindOf(t) == StreamKind::kPg || StreamKindOf(t) == StreamKind::kTextSt; }
bool IsMenu(uint8_t t) { return StreamKindOf(t) == StreamKind::kIg; }

// Calls f(entry, list) for every entry in the order the table is written.
template <typename F>
void ForEachEntry(const STN_TABLE& stn, F f) {
  for (const auto& e : stn.primaryVideo) f(e, SListOf{"video", IsVideo});
  for (const auto& e : stn.primaryAudio) f(e, SListOf{"audio", IsAudio});
  for (const auto& e : stn.pgTextSt) f(e, SListOf{"subtitle", IsSubtitle});
  for (const auto& e : stn.pipPgTextSt) f(e, SListOf{"subtitle", IsSubtitle});
  for (const auto& e : stn.ig) f(e, SListOf{"interactive graphics", IsMenu});
  for (const auto& e : stn.secondaryAudio) f(e, SListOf{"audio", IsAudio});
  for (const auto& e : stn.secondaryVideo) f(e, SListOf{"video", IsVideo});
}

}  // namespace

bool ReadPlaylistStreams(const std::string& path, const std::string& clipName, const SRipTracks& tracks,
                         std::vector<STakenStream>& out, std::string& error) {
  out.clear();
  if (FileSize(path) > kMaxPlaylistBytes) {
    error = "\"" + path + "\" is too large to be a playlist";
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  PlaylistFile playlist;
  std::string parseError;
  if (playlist.Parse(bytes.data(), bytes.size(), &parseError) != kOk) {
    error = "\"" + path + "\" is not a readable playlist: " + parseError;
    return false;
  }
  bool plays = false;
  for (const PLAY_ITEM& item : playlist.playItems) {
    if (item.ClipName != clipName) continue;
    const bool first = !plays;
    plays = true;
    ForEachEntry(item.stn, [&](const PRIMARY_STREAM_ENTRY& e, const SListOf& list) {
      // Entries of sub-path clips name streams of other clips.
      if (!error.empty() || (e.entry.type != 1 && e.entry.type != 3)) return;
      const uint16_t pid = e.entry.RefToStreamPidOfMainClip;
      const uint8_t type = e.attributes.StreamCodingType;
      const SRipTrack* t = TrackOfPid(tracks, pid);
      if (!t) {
        error = "\"" + path + "\" lists stream " + HexText(pid, 4) + ", which clip " + clipName + " does not have";
        return;
      }
      if (type != t->GetStreamCodingType()) {
        error = "\"" + path + "\" lists stream " + HexText(pid, 4) + " as type " + HexText(type, 2) + ", but clip " +
                clipName + " holds type " + HexText(t->GetStreamCodingType(), 2) + " there";
        return;
      }
      if (!list.fits(type)) {
        error = "\"" + path + "\" lists stream " + HexText(pid, 4) + " of type " + HexText(type, 2) + " among its " +
                list.name + " streams";
        return;
      }
      if (!first || std::any_of(out.begin(), out.end(), [&](const STakenStream& s) { return s.pid == pid; }))
        return;
      STakenStream s;
      s.pid = pid;
      s.attributes.streamCodingType = type;
      if (IsVideo(type)) {
        s.attributes.videoFormat = e.attributes.Format;
        s.attributes.frameRate = e.attributes.Rate;
        // The playlist has no aspect ratio; the clip's stays.
        s.attributes.aspectRatio = t->m_codingInfo.coding.AspectRatio;
      } else if (IsAudio(type)) {
        s.attributes.presentationType = e.attributes.Format;
        s.attributes.samplingFrequency = e.attributes.Rate;
      }
      if (!IsVideo(type)) s.language = e.attributes.Language;
      out.push_back(s);
    });
    if (!error.empty()) {
      out.clear();
      return false;
    }
  }
  if (!plays) {
    error = "\"" + path + "\" does not play clip " + clipName;
    return false;
  }
  return true;
}

void ApplyPlaylistStreams(SRipTracks& tracks, const std::vector<STakenStream>& taken, bool setLanguages) {
  for (auto& t : tracks.items) t->m_takenAttributes.reset();
  for (const STakenStream& s : taken) {
    SRipTrack* t = TrackOfPid(tracks, s.pid);
    if (!t) continue;
    t->m_takenAttributes = s.attributes;
    // A code outside the table would turn into "eng"; the clip's language
    // is the better guess then.
    const int lang = LanguageIndexOf(ToLower(s.language));
    if (setLanguages && lang >= 0) t->SetLanguage(lang);
  }
}

int CStoryObject::AddPlaylistSource(const std::string& pathIn, bool addTracks, IPrompt& prompt) {
  std::error_code ec;
  const std::string path = CombinePath(std::filesystem::current_path(ec).generic_string(), NormalizeSeparators(pathIn));
  std::string error;
  if (!CheckPathLength(path, error)) {
    prompt.Message(error);
    return kFailed;
  }
  if (addTracks) {
    prompt.Message("\"" + path + "\": a playlist is added together with the existing clip it plays");
    return kFailed;
  }
  if (m_strClipPath.empty()) {
    prompt.Message("\"" + m_strName + "\" reuses no existing clip to take the stream entries of \"" + path + "\" for");
    return kFailed;
  }
  for (const std::string& s : m_vecSources) {
    if (EqualsNoCase(ExtensionOf(s), ".mpls")) {
      prompt.Message("\"" + m_strName + "\" already takes its stream entries from \"" + s + "\"");
      return kFailed;
    }
  }
  std::vector<STakenStream> taken;
  if (!ReadPlaylistStreams(path, std::filesystem::path(m_strClipPath).stem().string(), *m_pRipTracks, taken, error)) {
    prompt.Message(error);
    return kFailed;
  }
  // The stored tracks bring their own languages when the project reloads.
  ApplyPlaylistStreams(*m_pRipTracks, taken, false);
  m_vecSources.push_back(path);
  return kOk;
}

}  // namespace zv

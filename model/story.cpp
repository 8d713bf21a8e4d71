#include "model/story.h"

#include <algorithm>
#include <filesystem>

#include "model/story_playlist.h"
#include "model/text_subtitle.h"
#include "subtitles/style_keys.h"
#include "mux/mux_track.h"
#include "streams/coding_type.h"
#include "mux/rip_track.h"
#include "platform/paths.h"

namespace zv {

const char* const kMsgSourceAdded = "\"%s\"\r\n has been added! ";
const char* const kMsgPrimaryVideoOne = "\"%s\": Primary video track must be one! ";
const char* const kMsgTooManyAudio = "\"%s\": Primary audio track count can not exceed 32! ";
const char* const kMsgTooManySubtitles = "\"%s\": subtitle track count can not exceed 32! ";
const char* const kMsgTrackCountConflict = "\"%s\" and \"%s\": have a conflict of track count! ";
const char* const kMsgTrackMismatch = "\"%s\" and \"%s\": mismatch between tracks! ";

std::string FormatMessage(const char* text, const std::string& a, const std::string& b) {
  std::string s = text;
  size_t at = s.find("%s");
  if (at == std::string::npos) return s;
  s.replace(at, 2, a);
  at = s.find("%s", at + a.size());
  if (at != std::string::npos) s.replace(at, 2, b);
  return s;
}

namespace {

bool TrackUsesFile(const SMuxTrack* t, const std::string& path) {
  auto* raw = dynamic_cast<const SRawTrack*>(t);
  return raw && (raw->m_source.m_strPath == path || raw->m_source.m_strSecondPath == path);
}

// Watches a progress callback for the user's stop, so a failed analysis can
// tell a cancel from a refusal.
struct CancelWatch {
  Progress inner;
  bool cancelled = false;

  static int Callback(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<CancelWatch*>(ctx);
    if (self->inner.Report(*info)) return 1;
    self->cancelled = true;
    return 0;
  }
  Progress Wrapped() { return Progress{&CancelWatch::Callback, this}; }
};

// Passes messages on and counts them.
class CountingPrompt : public IPrompt {
 public:
  explicit CountingPrompt(IPrompt& next) : next_(next) {}
  void Message(const std::string& text) override {
    ++messages;
    next_.Message(text);
  }
  Answer Ask(const std::string& text) override { return next_.Ask(text); }
  int messages = 0;

 private:
  IPrompt& next_;
};

STrackRef RefOf(const SMuxTrack& t) {
  STrackRef r;
  r.number = t.m_nTrackNumber;
  r.enabled = t.m_bEnabled;
  r.primary = t.m_bPrimary;
  r.codingType = t.GetStreamCodingType();
  r.kind = StreamKindOf(r.codingType);
  r.video = r.kind == StreamKind::kVideo;
  if (r.codingType != 0) {
    STREAM_INFO si;
    t.FillCodingInfo(si);
    r.videoFormat = si.coding.VideoFormat;
    r.fpsCode = si.coding.FrameRate;
    r.aspectRatio = si.coding.AspectRatio;
    r.presentationType = si.coding.AudioPresentationType;
    r.samplingFrequency = si.coding.SamplingFrequency;
  }
  r.delay = t.m_nDelay;
  r.pid = t.m_nPid;
  r.language = t.GetLanguageCode();
  r.description = t.GetDescription();
  if (auto* raw = dynamic_cast<const SRawTrack*>(&t)) r.path = raw->m_source.m_strPath;
  if (auto* rip = dynamic_cast<const SRipTrack*>(&t)) {
    r.reused = true;
    r.sourcePid = static_cast<uint16_t>(rip->m_nSourcePid);
  }
  return r;
}

}  // namespace

ZV_IMPLEMENT_DYNCREATE(CStoryObject, 1)

CStoryObject::CStoryObject()
    : m_pRawTracks(std::make_unique<SRawTracks>()), m_pRipTracks(std::make_unique<SRipTracks>()) {}

namespace {

// A track of the kind stored before it: 1 reused clip, 0 raw.
std::unique_ptr<SMuxTrack> NewTrackOfKind(uint8_t kind) {
  if (kind == 1) return std::make_unique<SRipTrack>();
  if (kind == 0) return std::make_unique<SRawTrack>();
  throw ArchiveError("the project file holds a track of an unknown kind");
}

}  // namespace
CStoryObject::~CStoryObject() = default;

bool SameTrackCoding(const STrackRef& a, const STrackRef& b) {
  if (a.primary != b.primary || a.codingType != b.codingType) return false;
  switch (a.kind) {
    case StreamKind::kVideo:
      return a.videoFormat == b.videoFormat && a.fpsCode == b.fpsCode && a.aspectRatio == b.aspectRatio;
    case StreamKind::kAudio:
      return a.presentationType == b.presentationType && a.samplingFrequency == b.samplingFrequency;
    default:
      return true;
  }
}

std::vector<STrackRef> CStoryObject::TrackRefs() const {
  std::vector<STrackRef> refs;
  for (const SMuxTrack* t : m_vecTracks) {
    refs.push_back(RefOf(*t));
    if (refs.back().reused) refs.back().path = m_strClipPath;
  }
  return refs;
}

int CStoryObject::TrackIndexOf(int32_t number) const {
  for (size_t i = 0; i < m_vecTracks.size(); ++i)
    if (m_vecTracks[i]->m_nTrackNumber == number) return static_cast<int>(i);
  return -1;
}

bool CStoryObject::HasEnabledTrack() const {
  for (const STrackRef& t : TrackRefs())
    if (t.enabled) return true;
  return false;
}

// Name and id, a version byte, the three reserved values, the sources
// relative to the project file, then every track with its kind byte
// (1 reused clip, 0 raw) and its own record; from version 1 the styles of
// text-subtitle sources follow (count, then path, style lines, forced);
// from version 2 the sources made from other files (count, then path,
// original path, kind, format, quality, bitrate, still duration, slowing).
void CStoryObject::Serialize(CArchive& ar) {
  if (ar.IsLoading()) Reset();
  CNamedObject::Serialize(ar);
  // Projects without styles or encodes keep the bytes they had.
  uint8_t version = !m_encodes.empty() ? 2 : m_textStyles.empty() ? 0 : 1;
  ar.Byte(version);
  if (ar.IsLoading() && version > 2) throw ArchiveError("a clip has an unknown version");
  ar.Int(m_nReserved1);
  ar.Int(m_nReserved2);
  ar.Int(m_nReserved3);
  uint32_t n = static_cast<uint32_t>(m_vecSources.size());
  ar.Dword(n);
  if (ar.IsLoading()) {
    ar.CheckCount(n, 1);
    m_vecSources.resize(n);
  }
  for (auto& path : m_vecSources) ar.Path(path);

  uint32_t tracks = static_cast<uint32_t>(m_vecTracks.size());
  ar.Dword(tracks);
  if (ar.IsStoring()) {
    for (SMuxTrack* t : m_vecTracks) {
      uint8_t kind = t->m_nReused;
      ar.Byte(kind);
      t->Serialize(ar);
    }
  } else {
    ar.CheckCount(tracks, 16);
    for (uint32_t i = 0; i < tracks; ++i) {
      uint8_t kind = 0;
      ar.Byte(kind);
      std::unique_ptr<SMuxTrack> t = NewTrackOfKind(kind);
      t->Serialize(ar);
      m_vecTracks.push_back(t.get());
      m_loadedTracks.push_back(std::move(t));
    }
    // The counter is not stored: new tracks must not reuse a stored number.
    for (SMuxTrack* t : m_vecTracks)
      if (t->m_nTrackNumber >= m_nNextTrackId && t->m_nTrackNumber < INT32_MAX) m_nNextTrackId = t->m_nTrackNumber + 1;
  }
  if (version < 1) return;
  uint32_t styles = static_cast<uint32_t>(m_textStyles.size());
  ar.Dword(styles);
  if (ar.IsStoring()) {
    for (auto& [pathKey, s] : m_textStyles) {
      std::string path = pathKey, text = SubtitleStyleText(s.style);
      ar.Path(path);
      ar.Str(text);
      ar.Bool(s.forced);
    }
  } else {
    ar.CheckCount(styles, 3);
    for (uint32_t i = 0; i < styles; ++i) {
      std::string path, text;
      STextTrackStyle s;
      ar.Path(path);
      ar.Str(text);
      ar.Bool(s.forced);
      if (!ReadSubtitleStyleText(text, s.style)) throw ArchiveError("a subtitle style of a clip cannot be read");
      m_textStyles[path] = s;
    }
  }
  if (version < 2) return;
  uint32_t encodes = static_cast<uint32_t>(m_encodes.size());
  ar.Dword(encodes);
  if (ar.IsLoading()) ar.CheckCount(encodes, 8);
  auto one = [&ar](std::string& path, SSourceEncode& e) {
    ar.Path(path);
    ar.Path(e.original);
    ar.Bool(e.video);
    ar.Str(e.format);
    ar.Int(e.quality);
    ar.Int(e.bitrateKbps);
    ar.Int(e.stillMs);
    ar.Dword(e.slowNum);
    ar.Dword(e.slowDen);
  };
  if (ar.IsStoring()) {
    for (auto& [pathKey, e] : m_encodes) {
      std::string path = pathKey;
      one(path, e);
    }
    return;
  }
  for (uint32_t i = 0; i < encodes; ++i) {
    std::string path;
    SSourceEncode e;
    one(path, e);
    if (e.slowNum == 0 || e.slowDen == 0) throw ArchiveError("an encoded source of a clip has a zero rate");
    m_encodes[path] = e;
  }
}

void CStoryObject::Reset() {
  m_strClipPath.clear();
  m_strClipPath2.clear();
  m_vecSources.clear();
  m_vecTracks.clear();
  m_vecUses.clear();
  m_vecPrevClips.clear();
  m_loadedTracks.clear();
  m_pRawTracks = std::make_unique<SRawTracks>();
  m_pRipTracks = std::make_unique<SRipTracks>();
  m_nNextTrackId = 0;
  m_textStyles.clear();
  m_encodes.clear();
  m_encodeAsks.clear();
}

void CStoryObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  auto* s = dynamic_cast<const CStoryObject*>(&src);
  if (!s || s == this) return;
  Reset();
  m_nReserved1 = s->m_nReserved1;
  m_nReserved2 = s->m_nReserved2;
  m_nReserved3 = s->m_nReserved3;
  m_nClipNumber = s->m_nClipNumber;
  m_strClipPath = s->m_strClipPath;
  m_strClipPath2 = s->m_strClipPath2;
  m_vecSources = s->m_vecSources;
  m_vecUses = s->m_vecUses;
  m_vecPrevClips = s->m_vecPrevClips;
  m_nNextTrackId = s->m_nNextTrackId;
  m_textStyles = s->m_textStyles;
  m_encodes = s->m_encodes;
  // Tracks own open streams and cannot be shared: the copy holds their
  // stored form, as after a load, until its sources are reopened.
  for (const SMuxTrack* t : s->m_vecTracks) {
    ArchiveOut out;
    CArchive w(out);
    const_cast<SMuxTrack*>(t)->Serialize(w);
    ArchiveIn in(out.Bytes());
    CArchive r(in);
    std::unique_ptr<SMuxTrack> copy = NewTrackOfKind(t->m_nReused);
    copy->Serialize(r);
    m_vecTracks.push_back(copy.get());
    m_loadedTracks.push_back(std::move(copy));
  }
}

int CStoryObject::AddSource(const std::string& pathIn, bool addTracks, const Progress& progress, IPrompt& prompt) {
  if (EqualsNoCase(ExtensionOf(pathIn), ".m2ts")) return AddClipSource(pathIn, {}, addTracks, prompt);
  if (EqualsNoCase(ExtensionOf(pathIn), ".mpls")) return AddPlaylistSource(pathIn, addTracks, prompt);
  const std::string path = AbsolutePath(NormalizeSeparators(pathIn));
  // A path the project file cannot be loaded with again must not get in.
  std::string error;
  if (!CheckPathLength(path, error)) {
    prompt.Message(error);
    return kFailed;
  }
  for (const std::string& s : m_vecSources) {
    // Identity, not spelling: "X.ac3" and "x.ac3" are two files here, while
    // a link to a source already added is that source.
    if (IsSameFileIdentity(s, path)) {
      prompt.Message(FormatMessage(kMsgSourceAdded, path));
      return kFailed;
    }
  }
  CancelWatch watch{progress};
  CountingPrompt counted(prompt);
  // A text subtitle is drawn for the clip's video and added as the PG
  // stream rendered beside it.
  const bool text = IsTextSubtitlePath(path);
  if (text) {
    STrackVideoFormat video;
    bool found = false;
    for (const auto& t : m_pRawTracks->items)
      if (!found && StreamKindOf(t->GetStreamCodingType()) == StreamKind::kVideo) found = t->GetVideoDescriptor(video);
    if (!found) {
      prompt.Message("\"" + path + "\": add the clip's video first; subtitles are drawn for its frame size and rate");
      return kFailed;
    }
    const auto style = m_textStyles.find(path);
    const STextTrackStyle drawn = style == m_textStyles.end() ? STextTrackStyle{} : style->second;
    const int rc = PrepareTextSubtitle(path, video, drawn.style, drawn.forced, watch.Wrapped(), prompt);
    if (rc != kOk) return watch.cancelled ? kCancelled : rc;
  }
  auto track = std::make_unique<SRawTrack>();
  if (!track->SetSource(text ? RenderedSubtitlePath(path) : path, watch.Wrapped(), &counted)) {
    if (watch.cancelled) return kCancelled;
    // Analysis shows its own messages; anything else still needs saying.
    if (counted.messages == 0) prompt.Message(track->LastError().empty() ? path : track->LastError());
    return kFailed;
  }
  if (addTracks) {
    if (text && !LanguageFromFileName(path).empty()) track->SetLanguageCode(LanguageFromFileName(path));
    track->m_nTrackNumber = m_nNextTrackId++;
    m_vecTracks.push_back(track.get());
  }
  m_pRawTracks->items.push_back(std::move(track));
  m_vecSources.push_back(path);
  return kOk;
}

int CStoryObject::AddClipSource(const std::string& pathIn, const std::vector<uint16_t>& pids, bool addTracks,
                                IPrompt& prompt, const std::string& playlistIn) {
  const std::string path = AbsolutePath(NormalizeSeparators(pathIn));
  const std::string playlist = playlistIn.empty() ? std::string() : AbsolutePath(NormalizeSeparators(playlistIn));
  std::string error;
  for (const std::string& p : {path, playlist}) {
    if (p.empty()) continue;
    if (!CheckPathLength(p, error)) {
      prompt.Message(error);
      return kFailed;
    }
    for (const std::string& s : m_vecSources) {
      if (IsSameFileIdentity(s, p)) {
        prompt.Message(FormatMessage(kMsgSourceAdded, p));
        return kFailed;
      }
    }
  }
  if (!m_strClipPath.empty()) {
    prompt.Message("\"" + m_strName + "\" already reuses the tracks of \"" + m_strClipPath + "\"; a clip reuses one existing clip at most");
    return kFailed;
  }
  SClipListing listing;
  if (ListClipStreams(path, listing, error) != kOk) {
    prompt.Message(error);
    return kFailed;
  }
  std::vector<const SClipStream*> chosen;
  for (uint16_t pid : pids) {
    auto it = std::find_if(listing.streams.begin(), listing.streams.end(), [&](const SClipStream& s) { return s.pid == pid; });
    if (it == listing.streams.end()) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "0x%04X", pid);
      prompt.Message("\"" + path + "\" has no stream on PID " + buf);
      return kFailed;
    }
    if (std::find(chosen.begin(), chosen.end(), &*it) == chosen.end()) chosen.push_back(&*it);
  }
  // The tracks cover every stream of the clip, so that a project reloads
  // them all; those not chosen stay out of the track list.
  auto tracks = std::make_unique<SRipTracks>();
  std::vector<SMuxTrack*> added;
  for (const SClipStream& s : listing.streams) {
    tracks->items.push_back(MakeRipTrack(listing, s));
    const bool wanted = pids.empty() || std::find(chosen.begin(), chosen.end(), &s) != chosen.end();
    if (wanted) added.push_back(tracks->items.back().get());
    // A stream left out is not cut into units by the build.
    if (addTracks && !wanted) tracks->items.back()->m_bEnabled = false;
  }
  if (!playlist.empty()) {
    std::vector<STakenStream> taken;
    const std::string clipName = std::filesystem::path(path).stem().string();
    if (!ReadPlaylistStreams(playlist, clipName, *tracks, taken, error)) {
      prompt.Message(error);
      return kFailed;
    }
    ApplyPlaylistStreams(*tracks, taken, addTracks);
    // Within each kind, the streams the playlist lists come first, in its
    // order, in the places the clip's order gave that kind.
    auto rank = [&](const SMuxTrack* t) {
      const auto* rip = static_cast<const SRipTrack*>(t);
      for (size_t i = 0; i < taken.size(); ++i)
        if (taken[i].pid == rip->m_nSourcePid) return i;
      return taken.size();
    };
    for (StreamKind kind : {StreamKind::kVideo, StreamKind::kAudio, StreamKind::kPg, StreamKind::kIg, StreamKind::kTextSt,
                            StreamKind::kOther}) {
      std::vector<size_t> places;
      std::vector<SMuxTrack*> same;
      for (size_t i = 0; i < added.size(); ++i)
        if (StreamKindOf(added[i]->GetStreamCodingType()) == kind) {
          places.push_back(i);
          same.push_back(added[i]);
        }
      std::stable_sort(same.begin(), same.end(), [&](const SMuxTrack* a, const SMuxTrack* b) { return rank(a) < rank(b); });
      for (size_t k = 0; k < places.size(); ++k) added[places[k]] = same[k];
    }
  }
  if (addTracks) {
    for (SMuxTrack* t : added) {
      t->m_nTrackNumber = m_nNextTrackId++;
      m_vecTracks.push_back(t);
    }
  }
  m_pRipTracks = std::move(tracks);
  m_strClipPath = path;
  m_strClipPath2 = listing.clpiPath;
  m_vecSources.push_back(path);
  if (!playlist.empty()) m_vecSources.push_back(playlist);
  return kOk;
}

bool CStoryObject::RemoveSource(size_t index) {
  if (index >= m_vecSources.size()) return false;
  const std::string path = m_vecSources[index];
  if (EqualsNoCase(ExtensionOf(path), ".m2ts")) {
    std::erase_if(m_vecTracks, [](const SMuxTrack* t) { return t->m_nReused != 0; });
    std::erase_if(m_loadedTracks, [](const std::unique_ptr<SMuxTrack>& t) { return t->m_nReused != 0; });
    m_pRipTracks = std::make_unique<SRipTracks>();
    // The playlist taken over belongs to the clip and goes with it.
    for (size_t i = m_vecSources.size(); i-- > 0;)
      if (i != index && EqualsNoCase(ExtensionOf(m_vecSources[i]), ".mpls")) {
        m_vecSources.erase(m_vecSources.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < index) --index;
      }
  } else if (EqualsNoCase(ExtensionOf(path), ".mpls")) {
    for (auto& t : m_pRipTracks->items) t->m_takenAttributes.reset();
  } else {
    // A text subtitle's track reads the stream drawn from it.
    const std::string file = IsTextSubtitlePath(path) ? RenderedSubtitlePath(path) : path;
    std::erase_if(m_vecTracks, [&](const SMuxTrack* t) { return TrackUsesFile(t, file); });
    std::erase_if(m_pRawTracks->items, [&](const std::unique_ptr<SRawTrack>& t) { return TrackUsesFile(t.get(), file); });
    std::erase_if(m_loadedTracks, [&](const std::unique_ptr<SMuxTrack>& t) { return TrackUsesFile(t.get(), file); });
    m_textStyles.erase(path);
    m_encodes.erase(path);
  }
  if (!m_strClipPath.empty() && path == m_strClipPath) {
    m_strClipPath.clear();
    m_strClipPath2.clear();
  }
  m_vecSources.erase(m_vecSources.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

std::vector<std::string> CStoryObject::DropCoveredAc3(const std::vector<std::string>& paths) {
  auto covered = [&](const std::string& ac3) {
    for (const char* ext : {".thd", ".mlp"})
      for (const std::string& other : paths)
        if (EqualsNoCase(ExtensionOf(other), ext) && RenameExtension(other, ".ac3") == RenameExtension(ac3, ".ac3"))
          return true;
    return false;
  };
  std::vector<std::string> kept;
  for (const std::string& p : paths)
    if (!(EqualsNoCase(ExtensionOf(p), ".ac3") && covered(p))) kept.push_back(p);
  return kept;
}

bool CStoryObject::ChangeTrack(size_t index, const STrackSettings& s, std::string& error) {
  if (index >= m_vecTracks.size()) {
    error = "\"" + m_strName + "\" has " + std::to_string(m_vecTracks.size()) + " tracks";
    return false;
  }
  SMuxTrack* t = m_vecTracks[index];
  if (!s.language.empty() && LanguageIndexOf(ToLower(s.language)) < 0) {
    error = "\"" + s.language + "\" is not an ISO 639-2 language code";
    return false;
  }
  if (s.enabled >= 0) t->m_bEnabled = s.enabled != 0;
  if (s.primary >= 0) t->m_bPrimary = s.primary != 0;
  if (!s.language.empty()) t->SetLanguageCode(ToLower(s.language));
  if (s.setDelay) t->m_nDelay = s.delay;
  return true;
}

std::string CStoryObject::TextSourceOf(size_t index) const {
  if (index >= m_vecTracks.size()) return {};
  const auto* raw = dynamic_cast<const SRawTrack*>(m_vecTracks[index]);
  if (!raw) return {};
  for (const std::string& s : m_vecSources)
    if (IsTextSubtitlePath(s) && raw->m_source.m_strPath == RenderedSubtitlePath(s)) return s;
  return {};
}

int CStoryObject::RefreshTextSubtitles(const Progress& progress, IPrompt& prompt) {
  STrackVideoFormat video;
  bool found = false;
  for (const auto& t : m_pRawTracks->items)
    if (!found && StreamKindOf(t->GetStreamCodingType()) == StreamKind::kVideo) found = t->GetVideoDescriptor(video);
  if (!found) return kOk;
  for (const std::string& path : m_vecSources) {
    if (!IsTextSubtitlePath(path)) continue;
    const auto style = m_textStyles.find(path);
    const STextTrackStyle drawn = style == m_textStyles.end() ? STextTrackStyle{} : style->second;
    bool rendered = false;
    CancelWatch watch{progress};
    const int rc = PrepareTextSubtitle(path, video, drawn.style, drawn.forced, watch.Wrapped(), prompt, &rendered);
    if (rc != kOk) return watch.cancelled ? kCancelled : rc;
    if (!rendered) continue;
    // The track analysed the stream drawn before; it reads the new one.
    for (auto& t : m_pRawTracks->items) {
      if (t->m_source.m_strPath != RenderedSubtitlePath(path)) continue;
      if (!t->SetSource(RenderedSubtitlePath(path), watch.Wrapped(), &prompt)) {
        if (watch.cancelled) return kCancelled;
        prompt.Message(t->LastError().empty() ? RenderedSubtitlePath(path) : t->LastError());
        return kFailed;
      }
    }
  }
  return kOk;
}

bool CStoryObject::ReloadSources(const Progress& progress, IPrompt& prompt) {
  bool changed = false;
  std::vector<std::string> sources = std::move(m_vecSources);
  std::vector<SMuxTrack*> stored = std::move(m_vecTracks);
  // The old tracks stay alive until their settings are copied over.
  std::unique_ptr<SRawTracks> oldRaw = std::move(m_pRawTracks);
  std::unique_ptr<SRipTracks> oldRip = std::move(m_pRipTracks);
  std::vector<std::unique_ptr<SMuxTrack>> oldLoaded = std::move(m_loadedTracks);
  m_vecSources.clear();
  m_vecTracks.clear();
  m_strClipPath.clear();
  m_strClipPath2.clear();
  m_pRawTracks = std::make_unique<SRawTracks>();
  m_pRipTracks = std::make_unique<SRipTracks>();

  for (const std::string& path : sources)
    if (AddSource(path, false, progress, prompt) != kOk) changed = true;

  std::vector<const SMuxTrack*> taken;
  for (SMuxTrack* old : stored) {
    SMuxTrack* match = nullptr;
    if (auto* oldRip = dynamic_cast<SRipTrack*>(old)) {
      for (auto& t : m_pRipTracks->items) {
        if (t->m_nSourcePid == oldRip->m_nSourcePid && t->m_bSecond == oldRip->m_bSecond &&
            std::find(taken.begin(), taken.end(), t.get()) == taken.end()) {
          // The clip the track was made from, so that a build notices a
          // clip replaced since.
          if (oldRip->m_clipIdentity.size >= 0) t->m_clipIdentity = oldRip->m_clipIdentity;
          match = t.get();
          break;
        }
      }
    }
    if (auto* oldRawTrack = dynamic_cast<SRawTrack*>(old)) {
      for (auto& t : m_pRawTracks->items) {
        if (t->m_source.m_strPath == oldRawTrack->m_source.m_strPath &&
            std::find(taken.begin(), taken.end(), t.get()) == taken.end()) {
          // The user's range of the stream goes with the track.
          t->m_source.m_nTimeMode = oldRawTrack->m_source.m_nTimeMode;
          t->m_source.m_nInPoint = oldRawTrack->m_source.m_nInPoint;
          t->m_source.m_nOutPoint = oldRawTrack->m_source.m_nOutPoint;
          t->m_source.m_nGraphicsOffset = oldRawTrack->m_source.m_nGraphicsOffset;
          match = t.get();
          break;
        }
      }
    }
    if (!match) {
      changed = true;
      continue;
    }
    taken.push_back(match);
    match->m_nTrackNumber = old->m_nTrackNumber;
    match->m_bEnabled = old->m_bEnabled;
    match->m_bPrimary = old->m_bPrimary;
    match->m_bSecond = old->m_bSecond;
    match->m_nRefIndex = old->m_nRefIndex;
    match->SetLanguage(old->m_nLanguage);
    match->m_nDelay = old->m_nDelay;
    m_vecTracks.push_back(match);
  }
  for (SMuxTrack* t : m_vecTracks)
    if (t->m_nTrackNumber >= m_nNextTrackId && t->m_nTrackNumber < INT32_MAX) m_nNextTrackId = t->m_nTrackNumber + 1;
  // Streams of the existing clip that are not tracks of the story are not
  // cut into units by the build.
  for (auto& t : m_pRipTracks->items)
    if (std::find(taken.begin(), taken.end(), t.get()) == taken.end()) t->m_bEnabled = false;
  return changed;
}

bool CStoryObject::CheckTrackCounts(const std::string& prefix, IPrompt& prompt) const {
  const std::string name = prefix + m_strName;
  int video = 0, audio = 0, pg = 0;
  for (const STrackRef& t : TrackRefs()) {
    if (!t.enabled || !t.primary) continue;
    if (t.kind == StreamKind::kVideo) ++video;
    else if (t.kind == StreamKind::kAudio) ++audio;
    else if (t.kind == StreamKind::kPg) ++pg;
  }
  const char* failed = video != 1 ? kMsgPrimaryVideoOne
                       : audio > 32 ? kMsgTooManyAudio
                       : pg > 32    ? kMsgTooManySubtitles
                                    : nullptr;
  if (!failed) return true;
  prompt.Message(FormatMessage(failed, name));
  return false;
}

bool CStoryObject::CompareTracks(const std::string& prefix, CStoryObject& a, CStoryObject& b, IPrompt& prompt) {
  const std::vector<SMuxTrack*> x = a.AssignPids();
  const std::vector<SMuxTrack*> y = b.AssignPids();
  const std::string na = prefix + a.m_strName, nb = prefix + b.m_strName;
  if (x.size() != y.size()) {
    prompt.Message(FormatMessage(kMsgTrackCountConflict, na, nb));
    return true;
  }
  for (size_t i = 0; i < x.size(); ++i) {
    if (!SameTrackCoding(RefOf(*x[i]), RefOf(*y[i]))) {
      prompt.Message(FormatMessage(kMsgTrackMismatch, na, nb));
      return true;
    }
  }
  return false;
}

std::vector<SMuxTrack*> CStoryObject::AssignPids() {
  std::vector<SMuxTrack*> reused, raw;
  for (size_t i = 0; i < m_vecTracks.size(); ++i) {
    SMuxTrack* t = m_vecTracks[i];
    if (!t->m_bEnabled) continue;
    t->m_nOrderKey = static_cast<int32_t>(i);
    (t->m_nReused ? reused : raw).push_back(t);
  }
  reused.insert(reused.end(), raw.begin(), raw.end());
  return zv::AssignPids(reused);
}

void CStoryObject::ClearBuildLists() {
  m_vecUses.clear();
  m_vecPrevClips.clear();
}

void CStoryObject::ReleaseBuildState() {
  for (SMuxTrack* t : m_vecTracks) {
    t->ReleaseMux();
    t->ReleaseSource();
  }
}

// ---------------------------------------------------------------------------

bool CGosObject::ReloadSources(const Progress& progress, IPrompt& prompt) {
  bool changed = false;
  for (size_t i = 0; i < GetCount(); ++i) changed |= GetAt(i)->ReloadSources(progress, prompt);
  return changed;
}

void CGosObject::ClearBuildLists() {
  for (size_t i = 0; i < GetCount(); ++i) GetAt(i)->ClearBuildLists();
}

int CGosObject::BuildStories(const std::string& bdmvPath, const Progress& progress, IPrompt& prompt) {
  bool any = false;
  for (size_t i = 0; i < GetCount() && !any; ++i) any = GetAt(i)->HasEnabledTrack();
  if (!any) return kOk;
  int rc = kOk;
  for (size_t i = 0; i < GetCount() && rc == kOk; ++i) {
    CStoryObject* story = GetAt(i);
    if (story->m_vecUses.empty() || !story->HasEnabledTrack()) continue;
    rc = story->MuxStory(bdmvPath, progress, prompt);
  }
  for (size_t i = 0; i < GetCount(); ++i) GetAt(i)->ReleaseBuildState();
  return rc;
}

}  // namespace zv

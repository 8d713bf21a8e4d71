#include "edit/track_encode.h"

#include <algorithm>
#include <cmath>

#include "mux/mux_track.h"
#include "platform/paths.h"
#include "streams/sif_data.h"
#include "transcode/video_encode.h"

namespace zvedit {

namespace {

zv::SRawTrack* RawTrackAt(const zv::CStoryObject& story, size_t index) {
  if (index >= story.m_vecTracks.size()) return nullptr;
  auto* raw = dynamic_cast<zv::SRawTrack*>(story.m_vecTracks[index]);
  return raw && !raw->IsPlaceholder() ? raw : nullptr;
}

std::string Absolute(const std::string& path) { return zv::AbsolutePath(zv::NormalizeSeparators(path)); }

// The video encode the track plays now, or null.
const zv::SSourceEncode* VideoEncodeOf(const zv::CStoryObject& story, const std::string& stream) {
  const auto it = story.m_encodes.find(stream);
  return it != story.m_encodes.end() && it->second.video ? &it->second : nullptr;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += (out.empty() ? "" : ", ") + l;
  return out;
}

// The analysis says the file on a line of its own before the reason.
std::string Reasons(const std::vector<std::string>& messages) {
  std::vector<std::string> out;
  for (std::string m : messages) {
    if (const size_t nl = m.rfind('\n'); nl != std::string::npos) m = m.substr(nl + 1);
    while (!m.empty() && (m.back() == ' ' || m.back() == '\r')) m.pop_back();
    if (!m.empty()) out.push_back(m);
  }
  return Joined(out);
}

// Points `track` at `to` in place of `from` (its number, language and other
// settings stay), and the story's source list with it. False after the
// analysis refused `to`, with its messages in `why`; the track is then unchanged.
bool SwitchSource(zv::CStoryObject& story, zv::SRawTrack& track, const std::string& from, const std::string& to,
                  const zv::Progress& progress, bool& cancelled, std::string& why) {
  zv::ScriptedPrompt said;
  bool stopped = false;
  struct Watch {
    const zv::Progress& inner;
    bool& stopped;
    static int Call(void* ctx, const zv::SProgressInfo* info) {
      auto* self = static_cast<Watch*>(ctx);
      if (self->inner.Report(*info)) return 1;
      self->stopped = true;
      return 0;
    }
  } watch{progress, stopped};
  if (!track.SetSource(to, zv::Progress{&Watch::Call, &watch}, &said)) {
    cancelled = stopped;
    if (!track.LastError().empty() && std::find(said.messages.begin(), said.messages.end(), track.LastError()) ==
                                          said.messages.end())
      said.messages.push_back(track.LastError());
    why = Reasons(said.messages);
    return false;
  }
  std::replace(story.m_vecSources.begin(), story.m_vecSources.end(), from, to);
  return true;
}

// Brings every audio track converted along with the clip's video (or
// taken as it is) to `retime`: slowed from its original file, or back to
// it. kOk, kCancelled, or kFailed after telling `display`.
int RetimeClipAudio(zv::CStoryObject& story, const SRetime& retime, ISourceDisplay& display) {
  for (size_t i = 0; i < story.m_vecTracks.size(); ++i) {
    zv::SRawTrack* track = RawTrackAt(story, i);
    if (!track || zv::StreamKindOf(track->GetStreamCodingType()) != zv::StreamKind::kAudio) continue;
    const std::string stream = track->m_source.m_strPath;
    const auto it = story.m_encodes.find(stream);
    const bool converted = it != story.m_encodes.end() && !it->second.video;
    const std::string original = converted ? it->second.original : stream;
    const SRetime now = converted ? SRetime{it->second.slowNum, it->second.slowDen} : SRetime{};
    if (now.num * retime.den == retime.num * now.den) continue;
    std::string to, why;
    bool cancelled = false;
    // Not slowed any more: the original itself when the disc takes it.
    if (!retime.Slowed() && converted &&
        SwitchSource(story, *track, stream, original, display.Callback(), cancelled, why)) {
      story.m_encodes.erase(stream);
      display.Finish();
      display.Message("\"" + original + "\" is played as it is again, as its video is no longer slowed");
      continue;
    }
    if (cancelled) return display.Finish(), zv::kCancelled;
    std::string note, error;
    const int rc = ClipAudioToAdd(original, "", retime, display.Callback(), to, note, error);
    if (rc == zv::kCancelled) return display.Finish(), zv::kCancelled;
    if (rc != zv::kOk || to.empty()) {
      display.Finish();
      return Fail(display, "\"" + original + "\" cannot follow the new timing of its video: " +
                               (error.empty() ? "it holds no audio libavformat reads" : error));
    }
    to = Absolute(to);
    if (!SwitchSource(story, *track, stream, to, display.Callback(), cancelled, why)) {
      display.Finish();
      if (cancelled) return zv::kCancelled;
      return Fail(display, "\"" + to + "\" was not taken: " + why);
    }
    story.m_encodes.erase(stream);
    story.m_encodes[to] = {original, false, {}, -1, 0, 0, retime.num, retime.den};
    display.Finish();
    display.Message("\"" + original + "\" is played as \"" + to + "\"" +
                    (retime.Slowed() ? ", slowed as its video" : ", at its recorded speed as its video"));
  }
  return zv::kOk;
}

// As adding a source warns of a video format the disc knows but does not allow.
void WarnDisallowed(const zv::CStoryObject& story, const std::string& stream, ISourceDisplay& display) {
  for (const zv::STrackRef& ref : story.TrackRefs()) {
    if (ref.path != stream || !ref.video) continue;
    const std::string warning = zv::DisallowedVideoWarning(stream, ref.videoFormat, ref.fpsCode);
    if (!warning.empty()) display.Message("warning: " + warning);
  }
}

// Encoding on, or with another format.
int EncodeTrack(zv::CStoryObject& story, zv::SRawTrack& track, const zv::SEncodeAsk& ask, const std::string& name,
                ISourceDisplay& display) {
  const std::string stream = track.m_source.m_strPath;
  const zv::SSourceEncode* now = VideoEncodeOf(story, stream);
  SEncodeRequest request;
  request.encode = true;
  request.options.format = ask.format;
  const std::string original = now ? now->original : stream;
  if (now) {
    request.options.quality = now->quality;
    request.options.bitrateKbps = now->bitrateKbps;
    request.options.stillSeconds = now->stillMs / 1000.0;
  }
  if (!zv::PathExists(original))
    return Fail(display, "\"" + name + "\" cannot be encoded: its source \"" + original + "\" is missing");
  const SRetime retime = PlannedRetime({original}, request);
  std::string encoded;
  if (int rc = EncodeForStory(original, request, story, display, encoded)) return rc;
  encoded = Absolute(encoded);
  if (encoded != stream) {
    std::string why;
    bool cancelled = false;
    if (!SwitchSource(story, track, stream, encoded, display.Callback(), cancelled, why)) {
      display.Finish();
      if (cancelled) return zv::kCancelled;
      return Fail(display, "\"" + encoded + "\" was not taken: " + why);
    }
    display.Finish();
    story.m_encodes.erase(stream);
    NoteEncodedSource(story, encoded, original, request);
    display.Message("\"" + name + "\" plays \"" + encoded + "\", encoded from \"" + original + "\"");
    WarnDisallowed(story, encoded, display);
  }
  return RetimeClipAudio(story, retime, display);
}

// Encoding off: back to the source when the disc takes it.
int UnencodeTrack(zv::CStoryObject& story, zv::SRawTrack& track, const std::string& name, ISourceDisplay& display) {
  const std::string stream = track.m_source.m_strPath;
  const zv::SSourceEncode* now = VideoEncodeOf(story, stream);
  if (!now) return zv::kOk;
  const std::string original = now->original;
  const std::string refused = "\"" + name + "\" stays encoded: ";
  if (IsStillPicture(original))
    return Fail(display, refused + "it is made of the picture \"" + original + "\", which a disc carries only encoded");
  if (!zv::PathExists(original)) return Fail(display, refused + "its source \"" + original + "\" is missing");
  std::string why;
  bool cancelled = false;
  if (!SwitchSource(story, track, stream, original, display.Callback(), cancelled, why)) {
    display.Finish();
    if (cancelled) return zv::kCancelled;
    return Fail(display, refused + "the disc cannot take \"" + original + "\" as it is (" +
                             (why.empty() ? "its video is not a stream a disc carries" : why) + ")");
  }
  story.m_encodes.erase(stream);
  display.Finish();
  display.Message("\"" + name + "\" plays its source \"" + original + "\" again");
  WarnDisallowed(story, original, display);
  return RetimeClipAudio(story, SRetime{}, display);
}

}  // namespace

bool IsTrackEncodeKey(const std::string& key) { return key == "encode" || key == "encode-format"; }

bool HasTrackEncode(const zv::CStoryObject& story, size_t index) {
  const zv::SRawTrack* raw = RawTrackAt(story, index);
  return raw && zv::StreamKindOf(raw->GetStreamCodingType()) == zv::StreamKind::kVideo;
}

STrackEncodeState TrackEncodeState(const zv::CStoryObject& story, size_t index) {
  STrackEncodeState s;
  const zv::SRawTrack* raw = RawTrackAt(story, index);
  if (!raw) return s;
  s.original = raw->m_source.m_strPath;
  if (const zv::SSourceEncode* e = VideoEncodeOf(story, raw->m_source.m_strPath)) {
    s.on = true;
    if (!e->format.empty()) s.format = e->format;
    s.original = e->original;
  }
  return s;
}

std::vector<std::string> EncodeFormatChoices() {
  std::vector<std::string> out = {"auto"};
  const std::vector<std::string>& names = zv::VideoTargetNames();
  out.insert(out.end(), names.begin(), names.end());
  return out;
}

bool AskTrackEncode(zv::CStoryObject& story, size_t index, const std::string& key, const std::string& value,
                    std::string& error) {
  if (!HasTrackEncode(story, index)) {
    error = "only a video track read from a stream file can be encoded";
    return false;
  }
  const int32_t number = story.m_vecTracks[index]->m_nTrackNumber;
  auto it = story.m_encodeAsks.find(number);
  if (it == story.m_encodeAsks.end()) {
    const STrackEncodeState s = TrackEncodeState(story, index);
    it = story.m_encodeAsks.emplace(number, zv::SEncodeAsk{s.on, s.format == "auto" ? std::string() : s.format}).first;
  }
  zv::SEncodeAsk ask = it->second;
  const std::string v = zv::ToLower(value);
  if (key == "encode") {
    if (v == "yes" || v == "on" || v == "1" || v == "true") ask.on = true;
    else if (v == "no" || v == "off" || v == "0" || v == "false") ask.on = false;
    else return error = "expected yes or no", false;
  } else {
    const std::vector<std::string> choices = EncodeFormatChoices();
    if (std::find(choices.begin(), choices.end(), value) == choices.end())
      return error = "expected auto (chosen from the video) or a disc format: " + Joined(zv::VideoTargetNames()), false;
    ask.format = value == "auto" ? std::string() : value;
    // A format is a request to encode.
    ask.on = true;
  }
  it->second = ask;
  return true;
}

int RunTrackEncodes(zv::CStoryObject& story, const std::string& clipName, ISourceDisplay& display) {
  const std::map<int32_t, zv::SEncodeAsk> asks = std::move(story.m_encodeAsks);
  story.m_encodeAsks.clear();
  for (const auto& [number, ask] : asks) {
    const int index = story.TrackIndexOf(number);
    zv::SRawTrack* track = index < 0 ? nullptr : RawTrackAt(story, static_cast<size_t>(index));
    if (!track) continue;
    const std::string name = clipName + "/Track#" + std::to_string(index + 1);
    const int rc = ask.on ? EncodeTrack(story, *track, ask, name, display) : UnencodeTrack(story, *track, name, display);
    if (rc != zv::kOk) return rc;
  }
  return zv::kOk;
}

void NoteEncodedSource(zv::CStoryObject& story, const std::string& stream, const std::string& original,
                       const SEncodeRequest& request) {
  story.m_encodes[Absolute(stream)] = {Absolute(original), true, request.options.format, request.options.quality,
                                       request.options.bitrateKbps,
                                       static_cast<int32_t>(std::lround(request.options.stillSeconds * 1000)), 1, 1};
}

void NoteConvertedAudio(zv::CStoryObject& story, const std::string& audio, const std::string& original,
                        const SRetime& retime) {
  story.m_encodes[Absolute(audio)] = {Absolute(original), false, {}, -1, 0, 0, retime.num, retime.den};
}

}  // namespace zvedit

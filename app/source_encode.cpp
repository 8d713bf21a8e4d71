#include "app/source_encode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "media/container.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"
#include "app/source_convert.h"
#include "platform/paths.h"
#include "transcode/audio_convert.h"

namespace zvapp {

namespace {

constexpr double kDefaultStillSeconds = 5;

bool ReadNumber(const std::string& text, double& out) {
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return !text.empty() && end && *end == '\0' && std::isfinite(out);
}

const zv::CFilmObject* FilmOf(const zv::CStoryObject& story) {
  for (const zv::CNamedObject* o = story.m_pParent; o; o = o->m_pParent)
    if (auto* film = dynamic_cast<const zv::CFilmObject*>(o)) return film;
  return nullptr;
}

// The disc format of the film's menus (the size of their design and the
// rate of their video), 1080p23.976 when they have none yet.
std::string MenuFormat(const zv::CStoryObject& story) {
  const zv::CFilmObject* film = FilmOf(story);
  if (!film) return "1080p23.976";
  for (size_t i = 0; i < film->m_menus.GetCount(); ++i) {
    const zv::SVideoDescriptor& v = film->m_menus.GetAt(i)->m_video;
    const unsigned fr = v.frameRateCode;
    if (v.height == 1080) {
      if (fr == 2) return "1080p24";
      if (fr == 3) return "1080i25";
      if (fr == 4) return "1080i29.97";
      return "1080p23.976";
    }
    if (v.height == 720) {
      if (fr == 2) return "720p24";
      if (fr == 3 || fr == 6) return "720p50";
      if (fr == 4 || fr == 7) return "720p59.94";
      return "720p23.976";
    }
    if (v.height == 576) return "576i25";
    if (v.height == 480) return "480i29.97";
  }
  return "1080p23.976";
}

// The chapter marks of the play items that show `story`, in seconds from
// the start of its clip (the start itself and "end" left out).
std::vector<double> ChapterSeconds(const zv::CStoryObject& story) {
  std::vector<double> out;
  const zv::CFilmObject* film = FilmOf(story);
  if (!film) return out;
  for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
    const zv::CPlObject* pl = film->m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k) {
      const zv::CPiObject* item = pl->GetAt(k);
      const double fps = zv::FpsOfCode(item->m_chapters.m_nFpsCode);
      if (item->m_pStory != &story || fps <= 0) continue;
      for (const zv::CChapterPoint& point : item->m_chapters.m_points)
        if (point.time > 0) out.push_back(point.time / fps);
    }
  }
  return out;
}

}  // namespace

bool ReadEncodeOptions(const Args& args, SEncodeRequest& r, std::string& error) {
  r.encode = args.Has("--encode");
  r.options.format = args.Value("--format");
  const std::string quality = args.Value("--quality");
  const std::string bitrate = args.Value("--bitrate");
  const std::string duration = args.Value("--duration");
  double v = 0;
  if (!quality.empty()) {
    if (!ReadNumber(quality, v) || v < 0 || v > 51 || v != std::floor(v)) {
      error = "--quality: \"" + quality + "\" is not a number from 0 (best) to 51";
      return false;
    }
    r.options.quality = static_cast<int>(v);
  }
  if (!bitrate.empty()) {
    // kbit/s, or with M (Mbit/s)
    std::string digits = bitrate;
    double scale = 1;
    if (digits.back() == 'M' || digits.back() == 'm') {
      digits.pop_back();
      scale = 1000;
    } else if (digits.back() == 'k' || digits.back() == 'K') {
      digits.pop_back();
    }
    if (!ReadNumber(digits, v) || v * scale < 100 || v * scale > 40000) {
      error = "--bitrate: \"" + bitrate + "\" is not a rate from 100 to 40000 kbit/s (e.g. 15000 or 15M)";
      return false;
    }
    r.options.bitrateKbps = static_cast<int>(std::lround(v * scale));
  }
  if (!quality.empty() && !bitrate.empty()) {
    error = "--quality and --bitrate exclude each other";
    return false;
  }
  if (!duration.empty()) {
    if (!ReadNumber(duration, v) || v <= 0 || v > 3600) {
      error = "--duration: \"" + duration + "\" is not a number of seconds (up to 3600)";
      return false;
    }
    r.options.stillSeconds = v;
  }
  std::string why;
  if (!zv::CheckVideoEncodeOptions(r.options, why)) {
    error = "--format: " + why;
    return false;
  }
  return true;
}

bool IsStillPicture(const std::string& file) {
  const std::string ext = zv::ToLower(zv::ExtensionOf(file));
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".gif";
}

int EncodeForStory(const CommandInfo& self, const std::string& file, const SEncodeRequest& request,
                   const zv::CStoryObject& story, ProgressDisplay& display, std::string& stream) {
  zv::SVideoEncodeOptions options = request.options;
  if (IsStillPicture(file)) {
    if (options.stillSeconds <= 0) options.stillSeconds = kDefaultStillSeconds;
    if (options.format.empty()) options.format = MenuFormat(story);
  } else {
    options.stillSeconds = 0;
    // Chapters already marked on the clip, and those coming with it, start
    // a closed GOP each.
    options.idrSeconds = ChapterSeconds(story);
    for (const zv::STimedChapter& c : request.chapters) options.idrSeconds.push_back(c.startMs / 1000.0);
  }
  std::string message;
  // Audio and subtitle files given with the video are added as they are.
  zv::SVideoSourceInfo info;
  if (!IsStillPicture(file) && !zv::ProbeVideoSource(file, -1, info, message) && message == zv::kMsgNoVideoStream) {
    stream = file;
    return kExitOk;
  }
  zv::SVideoEncodePlan plan;
  if (!zv::PlanVideoEncode(file, options, plan, message)) {
    display.Finish();
    std::fprintf(stderr, "zelvane %s: \"%s\" cannot be encoded: %s\n", self.name, file.c_str(), message.c_str());
    return kExitFailed;
  }
  display.SetFrames(plan.frames);
  zv::SVideoEncodeResult result;
  const int rc = zv::EncodeVideo(file, options, result, message, display.Callback());
  display.SetFrames(0);
  display.Finish();
  if (rc == zv::kCancelled) return kExitCancelled;
  if (rc != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: \"%s\" cannot be encoded: %s\n", self.name, file.c_str(), message.c_str());
    return kExitFailed;
  }
  if (result.reused)
    std::fprintf(stderr, "zelvane %s: \"%s\": the earlier encode \"%s\" is used\n", self.name, file.c_str(),
                 result.path.c_str());
  if (result.toneMapped)
    std::fprintf(stderr, "zelvane %s: \"%s\" is HDR video; its pictures are tone-mapped to BT.709 SDR\n", self.name,
                 file.c_str());
  if (result.retime != 1.0)
    std::fprintf(stderr, "zelvane %s: \"%s\" plays at %s, 0.1%% slower than recorded\n", self.name, file.c_str(),
                 result.target.name.c_str());
  stream = result.path;
  return kExitOk;
}

SRetime PlannedRetime(const std::vector<std::string>& files, const SEncodeRequest& request) {
  SRetime r;
  if (!request.encode) return r;
  for (const std::string& file : files) {
    if (IsStillPicture(file) || zv::EqualsNoCase(zv::ExtensionOf(file), ".m2ts")) continue;
    zv::SVideoSourceInfo info;
    zv::SVideoEncodePlan plan;
    std::string why;
    // A file that cannot be planned is refused with its reason when its turn comes.
    if (!zv::ProbeVideoSource(file, -1, info, why) || !zv::PlanVideoEncode(file, request.options, plan, why)) continue;
    if (plan.retime != 1.0) {
      // Retimes are rates over a thousandth: 1001/1000 from 30 to 29.97.
      r.num = static_cast<uint32_t>(std::lround(plan.retime * 1000));
      r.den = 1000;
    }
    return r;
  }
  return r;
}

int ClipAudioToAdd(const std::string& file, const std::string& convert, const SRetime& retime,
                   const zv::Progress& progress, std::string& toAdd, std::string& note, std::string& error) {
  toAdd.clear();
  note.clear();
  zv::SAudioTarget target;
  if (!convert.empty() && !zv::ParseAudioTarget(convert, target, error)) return zv::kFailed;
  zv::SAudioFacts facts;
  std::string why;
  // No sound in the video, or a file that is no audio (subtitles): nothing
  // to add here. Damaged audio is refused with its reason when added as it is.
  if (!zv::ProbeAudio(file, -1, facts, why)) return zv::kOk;
  if (convert.empty() && facts.bits > 0) target.kind = zv::SAudioTarget::kLpcm;
  target.slowNum = retime.num;
  target.slowDen = retime.den;
  zv::SConvertedAudio out;
  const int rc = zv::ConvertAudio(file, facts.streamIndex, target, progress, out, error);
  if (rc != zv::kOk) return rc;
  toAdd = out.path;
  note = out.note;
  return zv::kOk;
}

int AudioBesideEncode(const CommandInfo& self, const std::string& file, bool encoded, const std::string& convert,
                      const SRetime& retime, ProgressDisplay& display, std::string& toAdd, std::string& withAudio) {
  withAudio.clear();
  if (IsStillPicture(file)) return kExitOk;
  std::string converted, note, error;
  int rc = zv::kOk;
  if (encoded || retime.Slowed()) {
    rc = ClipAudioToAdd(file, convert, retime, display.Callback(), converted, note, error);
  } else {
    rc = AudioSourceToAdd(file, convert, display.Callback(), converted, note, error);
    if (converted == file) converted.clear();
  }
  if (rc == zv::kCancelled) {
    display.Finish();
    return kExitCancelled;
  }
  if (rc != zv::kOk) {
    display.Finish();
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, error.c_str());
    return kExitFailed;
  }
  if (converted.empty()) {
    // Subtitle times are not stretched: they drift 0.1 % from the video.
    if (!encoded && retime.Slowed()) {
      display.Finish();
      std::fprintf(stderr, "zelvane %s: warning: \"%s\" is added as it is, not slowed %u/%u as the video it goes with\n",
                   self.name, file.c_str(), retime.num, retime.den);
    }
    return kExitOk;
  }
  display.Finish();
  if (!note.empty()) std::fprintf(stderr, "zelvane %s: \"%s\": %s\n", self.name, file.c_str(), note.c_str());
  if (encoded) {
    withAudio = converted;
    std::fprintf(stderr, "zelvane %s: \"%s\": its audio is added as \"%s\"%s\n", self.name, file.c_str(),
                 converted.c_str(), retime.Slowed() ? ", slowed as its video" : "");
  } else {
    toAdd = converted;
    std::fprintf(stderr, "zelvane %s: \"%s\" is added as its conversion \"%s\"%s\n", self.name, file.c_str(),
                 converted.c_str(), retime.Slowed() ? ", slowed as the video it goes with" : "");
  }
  return kExitOk;
}

int ReadEncodeChapters(const CommandInfo& self, const std::string& file, const SRetime& retime, SEncodeRequest& request) {
  zv::SContainerInfo info;
  std::string error;
  if (zv::ProbeContainer(zv::AbsolutePath(file), info, error) != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: %s\n", self.name, error.c_str());
    return kExitFailed;
  }
  request.chapters.clear();
  for (const zv::SContainerChapter& c : info.chapters)
    request.chapters.push_back({c.startMs * retime.num / retime.den, c.title});
  return kExitOk;
}

int SetEncodeChapters(const CommandInfo& self, const std::string& file, zv::CStoryObject& story,
                      const SEncodeRequest& request) {
  if (zv::CFilmObject* film = zv::FilmOf(&story)) zv::RelinkPlayItems(*film, story);
  std::string message;
  const size_t items = zv::SetClipChapters(story, request.chapters, message);
  if (items == 0) {
    std::fprintf(stderr, "zelvane %s: \"%s\": no chapters taken: %s\n", self.name, file.c_str(), message.c_str());
    return kExitFailed;
  }
  std::printf("%zu chapters to %zu play item%s\n", request.chapters.size(), items, items == 1 ? "" : "s");
  return kExitOk;
}

void HoldStillItems(zv::CStoryObject& story) {
  const zv::CFilmObject* film = FilmOf(story);
  if (!film) return;
  for (size_t i = 0; i < film->m_playlists.GetCount(); ++i) {
    const zv::CPlObject* pl = film->m_playlists.GetAt(i);
    for (size_t k = 0; k < pl->GetCount(); ++k) {
      zv::CPiObject* item = pl->GetAt(k);
      if (item->m_pStory == &story && item->m_nStillMode == 0) {
        item->m_nStillMode = 2;  // infinite
        item->m_nStillTime = 0;
      }
    }
  }
}

std::string EncodeHint(const std::string& file) {
  zv::SVideoSourceInfo info;
  std::string why;
  if (!zv::ProbeVideoSource(file, -1, info, why)) return {};
  return "; to have its video encoded for the disc, add it with --encode";
}

}  // namespace zvapp

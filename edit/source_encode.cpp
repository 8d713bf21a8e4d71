#include "edit/source_encode.h"

#include <cmath>

#include "edit/source_convert.h"
#include "media/container.h"
#include "model/object_path.h"
#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"
#include "platform/paths.h"
#include "transcode/audio_convert.h"

namespace zvedit {

namespace {

constexpr double kDefaultStillSeconds = 5;

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

bool IsStillPicture(const std::string& file) {
  const std::string ext = zv::ToLower(zv::ExtensionOf(file));
  return ext == ".png" || ext == ".jpg" || ext == ".jpeg" || ext == ".bmp" || ext == ".gif";
}

int EncodeForStory(const std::string& file, const SEncodeRequest& request, const zv::CStoryObject& story,
                   ISourceDisplay& display, std::string& stream) {
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
    return zv::kOk;
  }
  zv::SVideoEncodePlan plan;
  if (!zv::PlanVideoEncode(file, options, plan, message)) {
    display.Finish();
    return Fail(display, "\"" + file + "\" cannot be encoded: " + message);
  }
  display.SetFrames(plan.frames);
  zv::SVideoEncodeResult result;
  const int rc = zv::EncodeVideo(file, options, result, message, display.Callback());
  display.SetFrames(0);
  display.Finish();
  if (rc == zv::kCancelled) return zv::kCancelled;
  if (rc != zv::kOk) {
    return Fail(display, "\"" + file + "\" cannot be encoded: " + message);
  }
  if (result.reused)
    display.Message("\"" + file + "\": the earlier encode \"" + result.path + "\" is used");
  if (result.toneMapped)
    display.Message("\"" + file + "\" is HDR video; its pictures are tone-mapped to BT.709 SDR");
  if (result.retime != 1.0)
    display.Message("\"" + file + "\" plays at " + result.target.name + ", 0.1% slower than recorded");
  stream = result.path;
  return zv::kOk;
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
  return ConvertInto(file, facts.streamIndex, target, progress, toAdd, note, error);
}

int AudioBesideEncode(const std::string& file, bool encoded, const std::string& convert, const SRetime& retime,
                      ISourceDisplay& display, std::string& toAdd, std::string& withAudio) {
  withAudio.clear();
  if (IsStillPicture(file)) return zv::kOk;
  std::string converted, note, error;
  int rc = zv::kOk;
  if (encoded || retime.Slowed()) {
    rc = ClipAudioToAdd(file, convert, retime, display.Callback(), converted, note, error);
  } else {
    rc = AudioSourceToAdd(file, convert, display.Callback(), converted, note, error);
    if (converted == file) converted.clear();
  }
  if (rc != zv::kOk) return EndUnlessOk(display, rc, error);
  const std::string factor = std::to_string(retime.num) + "/" + std::to_string(retime.den);
  if (converted.empty()) {
    // Subtitle times are not stretched: they drift 0.1 % from the video.
    if (!encoded && retime.Slowed()) {
      display.Finish();
      display.Message("warning: \"" + file + "\" is added as it is, not slowed " + factor +
                      " as the video it goes with");
    }
    return zv::kOk;
  }
  display.Finish();
  if (!note.empty()) display.Message("\"" + file + "\": " + note);
  if (encoded) {
    withAudio = converted;
    display.Message("\"" + file + "\": its audio is added as \"" + converted + "\"" +
                    (retime.Slowed() ? ", slowed as its video" : ""));
  } else {
    toAdd = converted;
    display.Message("\"" + file + "\" is added as its conversion \"" + converted + "\"" +
                    (retime.Slowed() ? ", slowed as the video it goes with" : ""));
  }
  return zv::kOk;
}

int ReadEncodeChapters(const std::string& file, const SRetime& retime, SEncodeRequest& request,
                       ISourceDisplay& display) {
  zv::SContainerInfo info;
  std::string error;
  if (zv::ProbeContainer(zv::AbsolutePath(file), info, error) != zv::kOk) return Fail(display, error);
  request.chapters.clear();
  for (const zv::SContainerChapter& c : info.chapters)
    request.chapters.push_back({c.startMs * retime.num / retime.den, c.title});
  return zv::kOk;
}

int SetEncodeChapters(const std::string& file, zv::CStoryObject& story, const SEncodeRequest& request,
                      ISourceDisplay& display) {
  if (zv::CFilmObject* film = zv::FilmOf(&story)) zv::RelinkPlayItems(*film, story);
  std::string message;
  const size_t items = zv::SetClipChapters(story, request.chapters, message);
  if (items == 0) return Fail(display, "\"" + file + "\": no chapters taken: " + message);
  display.Listing(std::to_string(request.chapters.size()) + " chapters to " + std::to_string(items) + " play item" +
                  (items == 1 ? "" : "s"));
  return zv::kOk;
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

}  // namespace zvedit

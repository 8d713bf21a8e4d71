#include "edit/source_encode.h"

#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"
#include "platform/paths.h"

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
  if (result.retime != 1.0)
    display.Message("\"" + file + "\" plays at " + result.target.name + ", 0.1% slower than recorded");
  stream = result.path;
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

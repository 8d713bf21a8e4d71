#include "model/menu_render.h"

#include "graphics/ig_compiler.h"
#include "model/project.h"
#include "streams/sif_data.h"

namespace zv {

bool EnsureMenuVideoFormat(CMenuIgObject& menu, const std::string& name, std::string& error) {
  uint32_t num = 0, den = 0;
  if (FrameRateOf(menu.m_video.frameRateCode, num, den) && menu.m_video.width && menu.m_video.height) return true;
  CFilmObject* film = nullptr;
  for (CNamedObject* o = menu.m_pParent; o && !film; o = o->m_pParent) film = dynamic_cast<CFilmObject*>(o);
  if (film)
    for (size_t i = 0; i < film->m_stories.GetCount(); ++i)
      for (const STrackRef& t : film->m_stories.GetAt(i)->TrackRefs()) {
        if (!t.video || !t.primary) continue;
        SCodingAttributes a;
        a.streamCodingType = t.codingType;
        a.videoFormat = t.videoFormat;
        a.frameRate = t.fpsCode;
        a.aspectRatio = t.aspectRatio;
        SVideoDescriptor kept = menu.m_video;
        if (menu.MatchVideoStream(a) && FrameRateOf(menu.m_video.frameRateCode, num, den)) return true;
        menu.m_video = kept;
      }
  error = "\"" + name + "\" has no video format, and its film has no video track of a known size and rate to take it "
          "from";
  return false;
}

bool CompileMenuPages(CMenuIgObject& menu, CCompiledPage& out, std::string& error, const Progress& log) {
  if (menu.IsEmpty() || menu.GetCount() == 0 || menu.GetAt(0)->GetCount() == 0) {
    error = "\"" + menu.m_strName + "\" has no page with a button group";
    return false;
  }
  // Error lines of the compilation become the message; the caller's log
  // still sees every line.
  struct Sink {
    const Progress& log;
    std::string errors;
  } sink{log, {}};
  const Progress collect{[](void* ctx, const SProgressInfo* info) {
                           auto* s = static_cast<Sink*>(ctx);
                           if (info->kind == kProgressItem && info->item.find(" Error:") != std::string::npos)
                             s->errors += (s->errors.empty() ? "" : "\n") + info->item;
                           return s->log.Report(*info) ? 1 : 0;
                         },
                         &sink};
  CMenuBuildCopy copy(menu, collect);
  if (!copy.Ok()) {
    error = sink.errors.empty() ? "\"" + menu.m_strName + "\" cannot be prepared for compiling" : sink.errors;
    return false;
  }
  CEpoch& epoch = *menu.GetAt(0);
  LoadGraphicSizes(epoch);
  CDsData ds;
  if (!CompileDisplaySet(menu, epoch, *epoch.GetAt(0), collect, ds)) {
    error = sink.errors.empty() ? "Cannot compile \"" + menu.m_strName + "\"" : sink.errors;
    return false;
  }
  return out.Load(ds, error);
}

int CompiledPageId(const CMenuIgObject& menu, const CPage& page) {
  if (menu.GetCount() == 0) return -1;
  const CEpoch& epoch = *menu.GetAt(0);
  if (epoch.GetCount() == 0) return -1;
  const int at = epoch.GetAt(0)->IndexOf(&page);
  return at < 0 ? -1 : at + 1;  // the build puts its front page first
}

CPage* FindMenuPage(const CMenuIgObject& menu, const std::string& name) {
  if (menu.GetCount() == 0 || menu.GetAt(0)->GetCount() == 0) return nullptr;
  const CDisplaySet& ds = *menu.GetAt(0)->GetAt(0);
  for (size_t i = 0; i < ds.GetCount(); ++i)
    if (ds.GetAt(i)->m_strName == name) return ds.GetAt(i);
  return nullptr;
}

}  // namespace zv

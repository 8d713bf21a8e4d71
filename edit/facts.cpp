// What an object shows but `set` does not change: ids, sizes, sources,
// chapters, display sets and effect sequences. `show`, `--json` and the
// grid (greyed, under the settings) read these rows, so each is worked out
// here once.
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "chapters/chapters.h"
#include "edit/rows.h"
#include "edit/values.h"
#include "graphics/effects.h"
#include "graphics/graphic_object.h"
#include "graphics/menu_model.h"
#include "model/button_types.h"
#include "model/menu.h"
#include "model/project.h"
#include "model/story.h"

namespace zvedit {

namespace {

const char* RefName(const zv::CNamedObject* o) { return o ? o->m_strName.c_str() : "none"; }

class FactRows {
 public:
  std::vector<PropertyInfo> rows;

  void Text(const std::string& key, const std::string& value) { rows.push_back({key, ValueKind::kText, 0, 0, {}, value}); }
  void Int(const std::string& key, int64_t value) {
    rows.push_back({key, ValueKind::kInt, static_cast<long>(value), static_cast<long>(value), {}, std::to_string(value)});
  }
  void Bool(const std::string& key, bool value) { rows.push_back({key, ValueKind::kBool, 0, 0, {}, value ? "yes" : "no"}); }
};

const char* FilmTypeName(uint8_t type) {
  switch (type) {
    case zv::kFilmLogos: return "Logos";
    case zv::kFilmTopMenu: return "Top Menu";
    case zv::kFilmMovie: return "Movie";
    case zv::kFilmTrailers: return "Trailers";
    default: return "?";
  }
}

// Every prohibited operation the mask holds, the fixed ones too (`set`
// offers only the others).
void Prohibited(const uint8_t (&mask)[8], FactRows& r) {
  for (const std::string& label : UoLabelsSet(mask)) r.Text("prohibited", label);
}

void PlayItemFacts(const zv::CPiObject& pi, FactRows& r) {
  r.Text("story", RefName(pi.m_pStory));
  const zv::CChapters& ch = pi.m_chapters;
  r.Int("fps-code", ch.m_nFpsCode);
  r.Text("fps", zv::IsValidFpsCode(ch.m_nFpsCode) ? zv::FpsNameOfCode(ch.m_nFpsCode) : "");
  r.Int("chapters", static_cast<int64_t>(ch.m_points.size()));
  r.Int("stream-selections", static_cast<int64_t>(pi.m_streamSel.size()));
  Prohibited(pi.m_uoMask, r);
  // Four rows per chapter, in chapter order; RowValues lines them up.
  for (const zv::CChapterPoint& p : ch.m_points) {
    r.Text("chapter", ChapterTime(p, ch.m_nFpsCode));
    r.Text("chapter-name", p.name);
    r.Int("chapter-type", p.type);
    r.Int("chapter-frames", p.time);
  }
}

}  // namespace

std::string ChapterTime(const zv::CChapterPoint& p, uint8_t fpsCode) {
  if (p.time == -1) return "end";
  if (p.time == 0) return "00:00:00:00";
  if (!zv::IsValidFpsCode(fpsCode)) return "frame " + std::to_string(p.time);
  return zv::FormatTimecode(p.time, zv::FpsOfCode(fpsCode));
}

std::vector<PropertyInfo> Facts(zv::CNamedObject& obj) {
  FactRows r;
  if (auto* project = dynamic_cast<zv::CZvObject*>(&obj)) {
    r.Text("sound-file", project->m_strSoundPath);  // empty: none
  } else if (auto* film = dynamic_cast<zv::CFilmObject*>(&obj)) {
    r.Int("id", film->m_nId);
    r.Text("type", FilmTypeName(film->m_nFilmType));
    r.Int("type-code", film->m_nFilmType);
  } else if (auto* s = dynamic_cast<zv::CStoryObject*>(&obj)) {
    r.Int("id", s->m_nId);
    for (const std::string& src : s->m_vecSources) r.Text("source", src);
  } else if (auto* m = dynamic_cast<zv::CZvIgObject*>(&obj)) {
    r.Int("id", m->m_nId);
    // Stored for always-on menus too, where `set` does not offer it.
    r.Int("user-timeout", m->m_nUserTimeout);
    r.Int("epochs", static_cast<int64_t>(m->GetCount()));
    r.Bool("empty", m->IsEmpty());
  } else if (auto* e = dynamic_cast<zv::CEpoch*>(&obj)) {
    r.Int("id", e->m_nId);
  } else if (auto* g = dynamic_cast<zv::CGraphicObject*>(&obj)) {
    r.Int("id", g->m_nId);
    r.Int("width", g->m_nWidth);
    r.Int("height", g->m_nHeight);
    r.Text("path", g->m_strPath);
  } else if (auto* pal = dynamic_cast<zv::CErgbPalette*>(&obj)) {
    r.Int("id", pal->m_nId);
    r.Int("entries", static_cast<int64_t>(pal->GetCount()));
  } else if (auto* ds = dynamic_cast<zv::CDisplaySet*>(&obj)) {
    r.Int("id", ds->m_nId);
    r.Int("user-interface-model", ds->m_nUserInterfaceModel);
    r.Int("user-timeout", ds->m_nUserTimeoutDuration);
    r.Int("start-frame", ds->m_nStartFrame);
    r.Int("state", ds->m_nCompositionState);
  } else if (auto* page = dynamic_cast<zv::CPage*>(&obj)) {
    r.Int("id", page->m_nId);
    // The setting says "current" for the pseudo-button; this is its name.
    r.Text("default-activated-button", RefName(page->m_defaultActivated.p));
    r.Int("in-effects", static_cast<int64_t>(page->m_inEffects.GetCount()));
    r.Int("out-effects", static_cast<int64_t>(page->m_outEffects.GetCount()));
  } else if (auto* seq = dynamic_cast<zv::CEffectSequenceObject*>(&obj)) {
    r.Int("windows", static_cast<int64_t>(seq->m_windows.GetCount()));
    r.Int("effects", static_cast<int64_t>(seq->GetCount()));
  } else if (auto* w = dynamic_cast<zv::CWindowObject*>(&obj)) {
    r.Int("id", w->m_nId);
    r.Int("x", w->m_rect.left);
    r.Int("y", w->m_rect.top);
    r.Int("width", w->m_rect.Width());
    r.Int("height", w->m_rect.Height());
  } else if (auto* ef = dynamic_cast<zv::CEffectObject*>(&obj)) {
    r.Int("duration", ef->m_nDuration);
    r.Text("palette", RefName(ef->m_palette.p));
  } else if (auto* c = dynamic_cast<zv::CCompositionObject*>(&obj)) {
    r.Text("graphic", RefName(c->m_graphic.p));
    r.Text("window", RefName(c->m_window.p));
    r.Int("x", c->m_nX);
    r.Int("y", c->m_nY);
    r.Bool("cropped", c->m_bCropped);
    r.Bool("forced-on", c->m_bForcedOn);
  } else if (auto* bog = dynamic_cast<zv::CBog*>(&obj)) {
    r.Int("id", bog->m_nId);
  } else if (auto* b = dynamic_cast<zv::CBdButton*>(&obj)) {
    r.Int("id", b->m_nId);
    r.Int("width", b->Width());
    r.Int("height", b->Height());
    r.Int("type-code", b->m_nButtonType);
    const zv::CButtonType& type = zv::ButtonTypeOf(b->m_nButtonType);
    r.Text("type-name", b->m_nButtonType == 0 ? "own commands" : type.Code() == b->m_nButtonType ? type.Name() : "");
    // The normal state has no sound to set; its stored id is shown as it is.
    const uint8_t sound = b->m_states[0].m_nSoundId;
    r.Text("normal-sound", sound == 0xFF ? "none" : std::to_string(sound));
    for (uint32_t v : b->m_params) r.Int("parameter", v);
    for (const zv::CNavCmd& c : b->m_commands) r.Text("command", zv::CommandText(c));
  } else if (auto* pl = dynamic_cast<zv::CPlObject*>(&obj)) {
    r.Int("id", pl->m_nId);
    Prohibited(pl->m_uoMask, r);
  } else if (auto* pi = dynamic_cast<zv::CPiObject*>(&obj)) {
    PlayItemFacts(*pi, r);
  }
  return r.rows;
}

std::vector<PropertyInfo> TrackFacts(zv::CStoryObject& story, size_t index) {
  FactRows r;
  const std::vector<zv::STrackRef> refs = story.TrackRefs();
  if (index >= refs.size()) return r.rows;
  const zv::STrackRef& t = refs[index];
  r.Int("number", t.number);
  r.Text("description", t.description);
  r.Text("path", t.path);
  r.Int("coding-type", t.codingType);
  // A reused track names its stream in the existing clip.
  if (t.reused) r.Int("source-pid", t.sourcePid);
  return r.rows;
}

}  // namespace zvedit

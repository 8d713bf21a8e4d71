#include "model/menu_import.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "graphics/effect_forms.h"
#include "graphics/ig_compiler.h"
#include "graphics/psd_file.h"
#include "graphics/psd_import.h"
#include "model/button_types.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/xml.h"

namespace zv {

const char* const kMsgImportOk = "Import OK";
const char* const kMsgFileOpenError = "File open error! ";
const char* const kMsgWrongFileFormat = "Wrong file format! ";

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool ShowsAPicture(const CBdButton& b) {
  for (const CButtonStateInfo& s : b.m_states)
    for (const CGraphicObject* g : {s.m_start.p, s.m_end.p})
      if (g && g->m_nWidth > 0 && g->m_nHeight > 0) return true;
  return false;
}

// Walking every list from its end: BOGs without a button that shows a
// picture, then pages, display sets and epochs left empty.
void RemoveEmptyParts(CIgObject& ig) {
  for (size_t e = ig.GetCount(); e-- > 0;) {
    CEpoch& epoch = *ig.GetAt(e);
    for (size_t d = epoch.GetCount(); d-- > 0;) {
      CDisplaySet& ds = *epoch.GetAt(d);
      for (size_t p = ds.GetCount(); p-- > 0;) {
        CPage& page = *ds.GetAt(p);
        for (size_t g = page.GetCount(); g-- > 0;) {
          CBog& bog = *page.GetAt(g);
          bool shows = false;
          for (size_t b = 0; b < bog.GetCount() && !shows; ++b) shows = ShowsAPicture(*bog.GetAt(b));
          if (shows) continue;
          for (size_t b = 0; b < bog.GetCount(); ++b) page.ForgetButton(bog.GetAt(b));
          page.RemoveAt(g);
        }
        if (page.GetCount() == 0) ds.RemoveAt(p);
      }
      if (ds.GetCount() == 0) epoch.RemoveAt(d);
    }
    if (epoch.GetCount() == 0) ig.RemoveAt(e);
  }
}

// The model becomes the menu's; the menu's settings apply to it.
void HandOver(CZvIgObject& menu, CIgObject& model, const std::string& path) {
  if (!EqualsNoCase(menu.m_strSourcePath, path)) menu.m_strSourcePath = path;
  // The menu's epochs keep their names, so that paths into the menu (the
  // scripts' `set` paths) survive a new import of its design.
  std::vector<std::string> names;
  for (size_t e = 0; e < menu.GetCount(); ++e) names.push_back(menu.GetAt(e)->m_strName);
  menu.TakeOver(model);
  for (size_t e = 0; e < names.size() && e < menu.GetCount(); ++e) {
    bool taken = false;
    for (size_t o = 0; o < menu.GetCount(); ++o) taken = taken || (o != e && menu.GetAt(o)->m_strName == names[e]);
    if (!taken) menu.GetAt(e)->SetName(names[e]);
  }
  menu.SetPopup(menu.m_bPopup, menu.m_nUserTimeout);
  menu.SetStreamModel(menu.m_bOutOfMux);
}

}  // namespace

void ButtonTypesFromNames(CIgObject& ig) {
  for (size_t e = 0; e < ig.GetCount(); ++e)
    for (size_t d = 0; d < ig.GetAt(e)->GetCount(); ++d) {
      CDisplaySet& ds = *ig.GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds.GetCount(); ++p)
        for (size_t g = 0; g < ds.GetAt(p)->GetCount(); ++g) {
          CBog& bog = *ds.GetAt(p)->GetAt(g);
          const CButtonType* type = nullptr;
          for (size_t b = 0; b < bog.GetCount(); ++b) {
            const CButtonType* t = FindButtonType(Trim(bog.GetAt(b)->m_strName));
            if (t && t->Code() != kButtonImageOnly) type = t;
          }
          if (!type) continue;
          for (size_t b = 0; b < bog.GetCount(); ++b) bog.GetAt(b)->SetButtonType(type->Code());
        }
    }
}

namespace {

// ------------------------------------------------------------ description

struct Failure {
  std::string what;
};

constexpr int kMaxEffectMs = 0xFFFFFF / 90;  // 24 bits of 90 kHz ticks

[[noreturn]] void Fail(const XmlElement& e, const std::string& what) {
  throw Failure{"line " + std::to_string(e.line) + ": <" + e.name + ">: " + what};
}

int Number(const XmlElement& e, const char* key, int lo, int hi, bool required, int fallback = 0) {
  const std::string* v = e.Attribute(key);
  if (!v) {
    if (required) Fail(e, std::string("needs ") + key + "=\"...\"");
    return fallback;
  }
  char* end = nullptr;
  const long n = std::strtol(v->c_str(), &end, 10);
  if (v->empty() || *end || n < lo || n > hi)
    Fail(e, std::string(key) + "=\"" + *v + "\" is not a number from " + std::to_string(lo) + " to " + std::to_string(hi));
  return static_cast<int>(n);
}

void OnlyAttributes(const XmlElement& e, std::initializer_list<const char*> allowed,
                    const std::vector<std::string>& more = {}) {
  for (const auto& [k, v] : e.attributes) {
    bool ok = std::find(more.begin(), more.end(), k) != more.end();
    for (const char* a : allowed) ok = ok || k == a;
    if (!ok) Fail(e, "unknown attribute " + k);
  }
}

// What a <Button> asks of its type, applied once the model sits in the
// project (the choices are the project's movies, trailers and pages).
struct TypeRequest {
  CBdButton* button;
  const CButtonType* type;
  std::vector<std::pair<int, std::string>> params;  // parameter index, value
  const XmlElement* element;
};

struct PlacedButton {
  const CBdButton* button;
  const CBog* bog;
  const XmlElement* element;
};

class DescriptionBuilder {
 public:
  DescriptionBuilder(const std::string& folder, CIgObject& ig) : folder_(folder), ig_(ig) {}

  void Build(const XmlElement& root, uint16_t menuWidth, uint16_t menuHeight) {
    if (root.name != "HDMVExport") Fail(root, "the root element must be <HDMVExport>");
    OnlyAttributes(root, {"version"});
    const XmlElement* igElement = nullptr;
    for (const auto& c : root.children) {
      if (c->name != "InteractiveGraphic") Fail(*c, "expected <InteractiveGraphic>");
      if (igElement) Fail(*c, "a menu has one <InteractiveGraphic>");
      igElement = c.get();
    }
    if (!igElement) Fail(root, "holds no <InteractiveGraphic>");
    const XmlElement& ige = *igElement;
    OnlyAttributes(ige, {"name", "width", "height"});
    width_ = Number(ige, "width", 1, 1920, false, menuWidth);
    height_ = Number(ige, "height", 1, 1080, false, menuHeight);
    if (width_ == 0 || height_ == 0) Fail(ige, "the menu has no video size yet: give width=\"...\" and height=\"...\"");
    ig_.m_video.width = static_cast<uint16_t>(width_);
    ig_.m_video.height = static_cast<uint16_t>(height_);
    epoch_ = ig_.AddEpoch();
    int sets = 0;
    for (const auto& c : ige.children) {
      if (c->name != "DisplaySet") Fail(*c, "expected <DisplaySet>");
      if (++sets > 1) Fail(*c, "a menu has one <DisplaySet>");
      DisplaySet(*c);
    }
    if (!sets) Fail(ige, "holds no <DisplaySet>");
  }

  std::vector<TypeRequest>& Types() { return types_; }

 private:
  void DisplaySet(const XmlElement& e) {
    OnlyAttributes(e, {"name"});
    CDisplaySet* ds = epoch_->AddDisplaySet();
    if (const std::string* n = e.Attribute("name")) ds->SetName(*n);
    for (const auto& c : e.children) {
      if (c->name != "Page") Fail(*c, "expected <Page>");
      Page(*c, *ds);
    }
    if (ds->GetCount() == 0) Fail(e, "holds no <Page>");
  }

  void Page(const XmlElement& e, CDisplaySet& ds) {
    OnlyAttributes(e, {"name", "PalettePath", "animation-frame-rate"});
    CPage* page = ds.AddPage();
    if (const std::string* n = e.Attribute("name")) page->SetName(*n);
    page->m_nAnimationFrameRateCode = static_cast<uint8_t>(Number(e, "animation-frame-rate", 0, 255, false, 0));
    if (const std::string* p = e.Attribute("PalettePath")) {
      CPicture pic;
      std::string error;
      if (!DecodeImageFile(Resolve(*p), pic, error)) Fail(e, "cannot read the palette \"" + *p + "\": " + error);
      auto palette = std::make_unique<CErgbPalette>();
      if (PaletteFromImage(*palette, 1.0, pic) <= 0) Fail(e, "\"" + *p + "\" gives no palette");
      palette->m_nId = static_cast<int32_t>(epoch_->m_palettes.GetCount());
      palette->SetName(page->m_strName + " palette");
      page->m_palette.Set(epoch_->m_palettes.Add(std::move(palette)));
    }
    std::vector<PlacedButton> placed;
    std::vector<const XmlElement*> effects;
    for (const auto& c : e.children) {
      if (c->name == "InEffect" || c->name == "OutEffect") {
        for (const XmlElement* x : effects)
          if (x->name == c->name) Fail(*c, "is given twice");
        effects.push_back(c.get());
        continue;
      }
      if (c->name != "ButtonOverlapGroup") Fail(*c, "expected <ButtonOverlapGroup>, <InEffect> or <OutEffect>");
      Bog(*c, *page, placed);
    }
    if (page->GetCount() == 0) Fail(e, "holds no <ButtonOverlapGroup>");
    for (size_t i = 0; i < placed.size(); ++i)
      for (size_t k = i + 1; k < placed.size(); ++k) {
        const PlacedButton& a = placed[i];
        const PlacedButton& b = placed[k];
        if (a.bog == b.bog) continue;
        const bool apart = a.button->m_nX + a.button->Width() <= b.button->m_nX ||
                           b.button->m_nX + b.button->Width() <= a.button->m_nX ||
                           a.button->m_nY + a.button->Height() <= b.button->m_nY ||
                           b.button->m_nY + b.button->Height() <= a.button->m_nY;
        if (!apart)
          Fail(*b.element, "overlaps the button of line " + std::to_string(a.element->line) +
                               " in another <ButtonOverlapGroup>");
      }
    page->m_defaultSelected.Set(page->GetAt(0)->GetAt(0));
    ComputeNeighbours(*page, kNeighboursSpatial);
    // Effects come last: their palettes derive from the page's.
    for (const XmlElement* x : effects) Effects(*x, *page);
  }

  // <InEffect>/<OutEffect>: a ready-made form (type="fade" or type="slide")
  // on one picture, or the full form of windows and effects.
  void Effects(const XmlElement& e, CPage& page) {
    const bool in = e.name == "InEffect";
    if (e.Attribute("type")) {
      OnlyAttributes(e, {"type", "side", "path", "x", "y", "duration", "steps"});
      if (!e.children.empty()) Fail(e, "a ready-made effect has no child elements");
      SEffectForm form;
      const std::string type = ToLower(Trim(*e.Attribute("type")));
      if (type == "fade") form.kind = SEffectForm::kFade;
      else if (type == "slide") form.kind = SEffectForm::kSlide;
      else Fail(e, "type=\"" + *e.Attribute("type") + "\" is not fade or slide");
      if (form.kind == SEffectForm::kSlide) {
        const std::string* side = e.Attribute("side");
        if (!side) Fail(e, "a slide needs side=\"left|right|top|bottom\"");
        if (!ParseEffectSide(*side, form.side)) Fail(e, "side=\"" + *side + "\" is not left, right, top or bottom");
      } else if (e.Attribute("side")) {
        Fail(e, "a fade has no side");
      }
      const std::string* path = e.Attribute("path");
      if (!path) Fail(e, "needs path=\"...\"");
      form.graphic = Graphic(e, *path, true);
      form.x = Number(e, "x", 0, width_ - 1, true);
      form.y = Number(e, "y", 0, height_ - 1, true);
      form.duration = static_cast<uint32_t>(Number(e, "duration", 0, kMaxEffectMs, true)) * 90;
      form.steps = Number(e, "steps", 1, kMaxFormSteps, false, 8);
      Inside(e, form.x, form.y, form.graphic->m_nWidth, form.graphic->m_nHeight);
      std::string error;
      if (!ApplyEffectForm(page, in, form, error)) Fail(e, error);
      return;
    }
    OnlyAttributes(e, {});
    CEffectSequenceObject& seq = in ? page.m_inEffects : page.m_outEffects;
    std::map<std::string, CWindowObject*> windows;
    std::vector<CEffectObject*> ownPalette;
    for (const auto& c : e.children) {
      if (c->name == "Window") {
        OnlyAttributes(*c, {"name", "x", "y", "width", "height"});
        if (seq.GetCount() > 0) Fail(*c, "windows come before the effects");
        CWindowObject* w = seq.AddWindow();
        if (!w) Fail(*c, "a sequence has at most 2 windows");
        const int x = Number(*c, "x", 0, width_ - 1, true), y = Number(*c, "y", 0, height_ - 1, true);
        const int ww = Number(*c, "width", 1, width_, true), hh = Number(*c, "height", 1, height_, true);
        Inside(*c, x, y, ww, hh);
        w->m_rect = SRect{x, y, x + ww, y + hh};
        if (const std::string* n = c->Attribute("name")) w->SetName(*n);
        windows[ToLower(w->m_strName)] = w;
        windows[std::to_string(seq.m_windows.GetCount() - 1)] = w;
        continue;
      }
      if (c->name != "Effect") Fail(*c, "expected <Window> or <Effect>");
      OnlyAttributes(*c, {"name", "duration", "PalettePath"});
      CEffectObject* fx = seq.AddEffect();
      if (!fx) Fail(*c, "a sequence has at most 128 effects");
      if (const std::string* n = c->Attribute("name")) fx->SetName(*n);
      fx->m_nDuration = static_cast<uint32_t>(Number(*c, "duration", 0, kMaxEffectMs, true)) * 90;
      if (const std::string* p = c->Attribute("PalettePath")) fx->m_palette.Set(PaletteFile(*c, *p, fx->m_strName));
      else ownPalette.push_back(fx);
      for (const auto& o : c->children) {
        if (o->name != "Object") Fail(*o, "expected <Object>");
        OnlyAttributes(*o, {"path", "window", "x", "y", "crop-x", "crop-y", "crop-width", "crop-height", "forced-on"});
        CCompositionObject* co = fx->AddCompositionObject();
        if (!co) Fail(*o, "an effect shows at most 2 objects");
        const std::string* path = o->Attribute("path");
        if (!path) Fail(*o, "needs path=\"...\"");
        co->m_graphic.Set(Graphic(*o, *path, true));
        const std::string* win = o->Attribute("window");
        if (!win) Fail(*o, "needs window=\"...\" (a <Window> of the sequence, by name or number)");
        auto w = windows.find(ToLower(Trim(*win)));
        if (w == windows.end()) Fail(*o, "window=\"" + *win + "\" names no <Window> before it");
        co->m_window.Set(w->second);
        co->m_nX = Number(*o, "x", 0, width_ - 1, true);
        co->m_nY = Number(*o, "y", 0, height_ - 1, true);
        const int gw = co->m_graphic.p->m_nWidth, gh = co->m_graphic.p->m_nHeight;
        if (o->Attribute("crop-x") || o->Attribute("crop-y") || o->Attribute("crop-width") || o->Attribute("crop-height")) {
          co->m_bCropped = true;
          const int cx = Number(*o, "crop-x", 0, gw - 1, false, 0), cy = Number(*o, "crop-y", 0, gh - 1, false, 0);
          const int cw = Number(*o, "crop-width", 1, gw - cx, false, gw - cx);
          const int ch = Number(*o, "crop-height", 1, gh - cy, false, gh - cy);
          co->m_crop = SRect{cx, cy, cx + cw, cy + ch};
        }
        const int shownW = co->m_bCropped ? co->m_crop.Width() : gw, shownH = co->m_bCropped ? co->m_crop.Height() : gh;
        const SRect& r = w->second->m_rect;
        if (co->m_nX < r.left || co->m_nY < r.top || co->m_nX + shownW > r.right || co->m_nY + shownH > r.bottom)
          Fail(*o, "a " + std::to_string(shownW) + "x" + std::to_string(shownH) + " object at " +
                       std::to_string(co->m_nX) + "," + std::to_string(co->m_nY) + " lies outside its window");
        if (const std::string* f = o->Attribute("forced-on")) co->m_bForcedOn = IsYes(*o, "forced-on", *f);
      }
    }
    if (seq.GetCount() == 0) Fail(e, "holds no <Effect>");
    if (!ownPalette.empty()) {
      CErgbPalette* base = EnsurePagePalette(page, *epoch_);
      if (!base) Fail(e, "no palette can be made from the page's pictures");
      for (CEffectObject* fx : ownPalette) fx->m_palette.Set(base);
    }
    seq.RefreshIds();
  }

  void Inside(const XmlElement& e, int x, int y, int w, int h) const {
    if (x + w > width_ || y + h > height_)
      Fail(e, "a " + std::to_string(w) + "x" + std::to_string(h) + " picture at " + std::to_string(x) + "," +
                  std::to_string(y) + " lies outside the " + std::to_string(width_) + "x" + std::to_string(height_) +
                  " page");
  }

  static bool IsYes(const XmlElement& e, const char* key, const std::string& v) {
    const std::string l = ToLower(Trim(v));
    if (l == "yes" || l == "1" || l == "true") return true;
    if (l == "no" || l == "0" || l == "false") return false;
    Fail(e, std::string(key) + "=\"" + v + "\" is not yes or no");
  }

  CErgbPalette* PaletteFile(const XmlElement& e, const std::string& path, const std::string& name) {
    CPicture pic;
    std::string error;
    if (!DecodeImageFile(Resolve(path), pic, error)) Fail(e, "cannot read the palette \"" + path + "\": " + error);
    auto palette = std::make_unique<CErgbPalette>();
    if (PaletteFromImage(*palette, 1.0, pic) <= 0) Fail(e, "\"" + path + "\" gives no palette");
    int32_t id = 0;
    for (size_t i = 0; i < epoch_->m_palettes.GetCount(); ++i) id = std::max(id, epoch_->m_palettes.GetAt(i)->m_nId + 1);
    palette->m_nId = id;
    palette->SetName(name + " palette");
    return epoch_->m_palettes.Add(std::move(palette));
  }

  void Bog(const XmlElement& e, CPage& page, std::vector<PlacedButton>& placed) {
    OnlyAttributes(e, {"name"});
    CBog* bog = page.AddBog();
    if (const std::string* n = e.Attribute("name")) bog->SetName(*n);
    for (const auto& c : e.children) {
      if (c->name != "Button") Fail(*c, "expected <Button>");
      CBdButton* b = Button(*c, *bog);
      placed.push_back({b, bog, c.get()});
    }
    if (bog->GetCount() == 0) Fail(e, "holds no <Button>");
  }

  CBdButton* Button(const XmlElement& e, CBog& bog) {
    CBdButton* b = bog.AddButton();
    if (!b) Fail(e, "the page has no button id left");
    const CButtonType* type = nullptr;
    std::vector<std::string> paramNames;
    if (const std::string* t = e.Attribute("type")) {
      type = FindButtonType(Trim(*t));
      if (!type) {
        std::string names;
        for (const CButtonType* k : ButtonTypeRegistry()) names += (names.empty() ? "" : ", ") + k->Name();
        Fail(e, "no button type is called \"" + *t + "\" (there are " + names + ")");
      }
      for (int i = 0; i < type->ParameterCount(); ++i)
        if (type->ParameterName(i)) paramNames.push_back(type->ParameterName(i));
    }
    OnlyAttributes(e, {"name", "x", "y", "width", "height", "type"}, paramNames);
    if (const std::string* n = e.Attribute("name")) b->SetName(*n);
    b->m_nX = static_cast<uint16_t>(Number(e, "x", 0, width_ - 1, true));
    b->m_nY = static_cast<uint16_t>(Number(e, "y", 0, height_ - 1, true));
    bool normal = false;
    for (const auto& c : e.children) {
      const int state = c->name == "Normal" ? 0 : c->name == "Selected" ? 1 : c->name == "Activated" ? 2 : -1;
      if (state < 0) Fail(*c, "expected <Normal>, <Selected> or <Activated>");
      if (b->m_states[static_cast<size_t>(state)].HasGraphics()) Fail(*c, "is given twice");
      State(*c, b->m_states[static_cast<size_t>(state)]);
      normal = normal || state == 0;
    }
    if (!normal) Fail(e, "needs a <Normal> picture");
    const int w = b->Width(), h = b->Height();
    if (e.Attribute("width") && Number(e, "width", 1, 4096, true) != w)
      Fail(e, "width=\"" + *e.Attribute("width") + "\" but its picture is " + std::to_string(w) + " wide");
    if (e.Attribute("height") && Number(e, "height", 1, 4096, true) != h)
      Fail(e, "height=\"" + *e.Attribute("height") + "\" but its picture is " + std::to_string(h) + " high");
    if (b->m_nX + w > width_ || b->m_nY + h > height_)
      Fail(e, "a " + std::to_string(w) + "x" + std::to_string(h) + " button at " + std::to_string(b->m_nX) + "," +
                  std::to_string(b->m_nY) + " lies outside the " + std::to_string(width_) + "x" +
                  std::to_string(height_) + " page");
    if (type) {
      TypeRequest r{b, type, {}, &e};
      for (int i = 0; i < type->ParameterCount(); ++i)
        if (const char* name = type->ParameterName(i))
          if (const std::string* v = e.Attribute(name)) r.params.emplace_back(i, *v);
      types_.push_back(r);
    }
    return b;
  }

  // A state's pictures: one through path="...", or an animation of
  // <Graphic path="..."/> frames, which get consecutive ids.
  void State(const XmlElement& e, CButtonStateInfo& state) {
    OnlyAttributes(e, {"path"});
    std::vector<const XmlElement*> frames;
    for (const auto& c : e.children) {
      if (c->name != "Graphic") Fail(*c, "expected <Graphic path=\"...\"/>");
      OnlyAttributes(*c, {"path"});
      frames.push_back(c.get());
    }
    if (const std::string* p = e.Attribute("path")) {
      if (!frames.empty()) Fail(e, "has both path=\"...\" and <Graphic> frames");
      // One picture: the state starts and ends with it.
      state.m_start.Set(Graphic(e, *p, true));
      state.m_end.Set(state.m_start.p);
      return;
    }
    if (frames.empty()) Fail(e, "needs path=\"...\" or <Graphic> frames");
    for (size_t i = 0; i < frames.size(); ++i) {
      const std::string* p = frames[i]->Attribute("path");
      if (!p) Fail(*frames[i], "needs path=\"...\"");
      CGraphicObject* g = Graphic(*frames[i], *p, frames.size() == 1);
      if (i == 0) state.m_start.Set(g);
      if (i + 1 == frames.size()) state.m_end.Set(g);
    }
  }

  // A single picture used in several places is one graphic; animation
  // frames are each their own, so that their ids follow one another.
  CGraphicObject* Graphic(const XmlElement& e, const std::string& path, bool share) {
    const std::string full = Resolve(path);
    if (share)
      if (auto it = shared_.find(full); it != shared_.end()) return it->second;
    auto g = std::make_unique<CGraphicObject>();
    if (std::string why; !g->SetImageFile(full, &why))
      Fail(e, "\"" + path + "\" is not a picture that can be read: " + why);
    if (nextGraphic_ > 0xFFFE) Fail(e, "too many pictures");
    g->m_nId = nextGraphic_++;
    g->SetName(FileNameOf(full) + (share ? "" : "#" + std::to_string(g->m_nId)));
    CGraphicObject* added = epoch_->m_graphics.Add(std::move(g));
    if (share) shared_[full] = added;
    return added;
  }

  std::string Resolve(const std::string& path) const {
    std::filesystem::path p(NormalizeSeparators(path));
    if (p.is_relative()) p = std::filesystem::path(folder_) / p;
    return p.lexically_normal().generic_string();
  }

  std::string folder_;
  CIgObject& ig_;
  CEpoch* epoch_ = nullptr;
  int width_ = 0, height_ = 0;
  int32_t nextGraphic_ = 0;
  std::map<std::string, CGraphicObject*> shared_;
  std::vector<TypeRequest> types_;
};

// Sets a requested type and its parameters (choice numbers from 0, or the
// names the choices are listed by).
void ApplyType(const TypeRequest& r) {
  SelectButtonType(*r.button, *r.type);
  // Where the choices come from (an audio button's movie) before the
  // choices themselves.
  std::vector<std::pair<int, std::string>> params = r.params;
  std::stable_sort(params.begin(), params.end(), [&](const auto& a, const auto& b) {
    return !r.type->ParameterActive(a.first) && r.type->ParameterActive(b.first);
  });
  for (const auto& [i, value] : params) {
    if (!r.type->ParameterApplies(*r.button, i))
      Fail(*r.element, std::string(r.type->ParameterName(i)) + "=\"" + value + "\" does not apply here: a movie's own menu " +
                           "chooses among that movie's streams");
    const std::vector<std::string> options = r.type->FillParameterOptions(*r.button, i);
    int32_t choice = -1;
    for (size_t k = 0; k < options.size() && choice < 0; ++k)
      if (EqualsNoCase(options[k], Trim(value))) choice = static_cast<int32_t>(k);
    if (choice < 0) {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (!value.empty() && !*end && n >= 0 && static_cast<size_t>(n) < options.size()) choice = static_cast<int32_t>(n);
    }
    if (choice < 0) {
      std::string names;
      for (const std::string& o : options) names += (names.empty() ? "\"" : ", \"") + o + "\"";
      Fail(*r.element, std::string(r.type->ParameterName(i)) + "=\"" + value + "\" names no choice" +
                           (names.empty() ? std::string(" (there is none)") : " (there are " + names + ")"));
    }
    r.type->ApplyParameter(*r.button, i, choice);
  }
}

}  // namespace

void AdoptDesign(CZvIgObject& menu, CIgObject& model, const std::string& path) {
  RemoveEmptyParts(model);
  HandOver(menu, model, path);
  ButtonTypesFromNames(menu);
}

bool ImportIesIntoMenu(CZvIgObject& menu, const std::string& path, std::string& error) {
  CIgObject model;
  if (!model.ImportStream(path, error)) return false;
  AdoptDesign(menu, model, path);
  return true;
}

namespace {

// Reads the design and builds a fresh model from it: kOk, kCancelled, or
// kFailed with `error` set.
int ConvertDesign(const std::string& path, CIgObject& ig, const Progress& progress, std::string& error) {
  CPsdFile psd;
  std::string fileError, detail;
  if (ParsePsdFile(path, psd, fileError, &detail) != kOk) {
    if (!fileError.empty()) error = fileError;
    else error = path + ":\n" + PsdImportMessage(kPsdWrongFile) + "\n(" + detail + ")";
    return kFailed;
  }
  const int rc = BuildMenuFromPsd(ig, psd, progress);
  if (rc == kPsdImportCancelled) return kCancelled;
  if (rc != kPsdImportOk) {
    error = PsdImportMessage(rc);
    return kFailed;
  }
  return kOk;
}

}  // namespace

namespace {

// Whether a menu of w x h can be shown on one of the disc's video formats.
bool IsVideoFrameSize(int w, int h) {
  for (int i = 0; i < kVideoFormatCount; ++i) {
    CIgObject format;
    format.SetVideoFormat(i);
    if (format.m_video.width == w && format.m_video.height == h) return true;
  }
  return false;
}

// The names of the model's pages, BOGs and buttons in stream order, as the
// side file of a converted design keeps them.
std::vector<std::string> DesignNames(CIgObject& ig) {
  std::vector<std::string> out;
  for (size_t e = 0; e < ig.GetCount(); ++e)
    for (size_t d = 0; d < ig.GetAt(e)->GetCount(); ++d) {
      CDisplaySet& ds = *ig.GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        CPage& page = *ds.GetAt(p);
        out.push_back("page\t" + page.m_strName);
        for (size_t g = 0; g < page.GetCount(); ++g) {
          CBog& bog = *page.GetAt(g);
          out.push_back("bog\t" + bog.m_strName);
          for (size_t b = 0; b < bog.GetCount(); ++b) out.push_back("button\t" + bog.GetAt(b)->m_strName);
        }
      }
    }
  return out;
}

// Gives the model the names `lines` list; false, changing nothing, when
// they do not describe its pages, BOGs and buttons one for one.
bool ApplyDesignNames(CIgObject& ig, const std::vector<std::string>& lines) {
  std::vector<std::string> now = DesignNames(ig);
  if (now.size() != lines.size()) return false;
  for (size_t i = 0; i < now.size(); ++i)
    if (now[i].substr(0, now[i].find('\t')) != lines[i].substr(0, lines[i].find('\t'))) return false;
  size_t at = 0;
  auto name = [&]() { const std::string& l = lines[at++]; return l.substr(l.find('\t') + 1); };
  for (size_t e = 0; e < ig.GetCount(); ++e)
    for (size_t d = 0; d < ig.GetAt(e)->GetCount(); ++d) {
      CDisplaySet& ds = *ig.GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds.GetCount(); ++p) {
        CPage& page = *ds.GetAt(p);
        page.SetName(name());
        for (size_t g = 0; g < page.GetCount(); ++g) {
          CBog& bog = *page.GetAt(g);
          bog.SetName(name());
          for (size_t b = 0; b < bog.GetCount(); ++b) bog.GetAt(b)->SetName(name());
        }
      }
    }
  return true;
}

}  // namespace

int ImportPsdIntoMenu(CZvIgObject& menu, const std::string& design, bool force, const Progress& progress,
                      std::string& error, std::string& warning) {
  // The stream, not the design, is what the menu imports; while it is newer
  // than the design the conversion is skipped. The stream does not carry
  // the names the buttons' types come from: they are read from its side
  // file, and a stream without them is converted again.
  const std::string stream = ConvertedStreamPath(design);
  if (!force && ConvertedStreamIsCurrent(design, stream)) {
    if (std::optional<std::vector<std::string>> names = ReadConversionSideFile(stream); names && !names->empty()) {
      CIgObject model;
      if (!model.ImportStream(stream, error)) return kFailed;
      RemoveEmptyParts(model);
      if (ApplyDesignNames(model, *names)) {
        AdoptDesign(menu, model, stream);
        warning = "imported \"" + stream + "\", converted before, with the names and button types kept beside it";
        return kOk;
      }
    }
    warning = "converted the design again: \"" + stream + "\" does not keep its button names and types";
  }
  CIgObject built;
  if (const int rc = ConvertDesign(design, built, progress, error); rc != kOk) return rc;
  if (menu.m_video.width && menu.m_video.height) {
    if (built.m_video.width != menu.m_video.width || built.m_video.height != menu.m_video.height) {
      error = "\"" + design + "\": the canvas is " + std::to_string(built.m_video.width) + "x" +
              std::to_string(built.m_video.height) + "; this menu's video is " + std::to_string(menu.m_video.width) +
              "x" + std::to_string(menu.m_video.height);
      return kFailed;
    }
  } else if (!IsVideoFrameSize(built.m_video.width, built.m_video.height)) {
    error = "\"" + design + "\": the canvas is " + std::to_string(built.m_video.width) + "x" +
            std::to_string(built.m_video.height) + ", not a video size (1920x1080, 1440x1080, 1280x720, 720x576 or 720x480)";
    return kFailed;
  }
  built.m_video.frameRateCode = menu.m_video.frameRateCode != 0 ? menu.m_video.frameRateCode : 1;
  if (!built.ExportStream(stream, false, error, progress)) {
    if (error.empty()) error = "the design cannot be compiled into \"" + stream + "\"";
    return kFailed;
  }
  // The side file keeps the names the button types come from. A conversion
  // that cannot have it fails as a whole: the stream goes too, so that a
  // later import does not take it as current.
  RemoveEmptyParts(built);
  if (!WriteConversionSideFile(stream, error, DesignNames(built))) {
    std::error_code ec;
    std::filesystem::remove(stream, ec);
    return kFailed;
  }
  // Converted just now, the model is the stream's (the export numbered its
  // graphics as the stream does) and still carries the design's names. Its
  // pictures are the design's own, not yet quantised: they are replaced by
  // the stream's, or a build right after the import would differ from one
  // of the saved project.
  AdoptDesign(menu, built, stream);
  menu.PicturesFromSource();
  return kOk;
}

bool ImportMenuDescription(CZvIgObject& menu, const std::string& path, std::string& error) {
  std::vector<uint8_t> bytes;
  std::string reason;
  constexpr int64_t kMaxDescription = 4 << 20;
  const int64_t size = FileSize(path);
  if (size > kMaxDescription) {
    error = std::string(kMsgWrongFileFormat) + "\n\"" + path + "\" is larger than 4 MiB";
    return false;
  }
  if (!ReadWholeFile(path, bytes, reason)) {
    error = std::string(kMsgFileOpenError) + "\n" + reason;
    return false;
  }
  const std::string text(bytes.begin(), bytes.end());
  std::unique_ptr<XmlElement> root = ParseXml(text, reason);
  if (!root) {
    error = std::string(kMsgWrongFileFormat) + "\n" + path + ": " + reason;
    return false;
  }
  CZvIgObject before;
  before.Copy(menu);
  CIgObject model;
  model.CopyHeader(menu);
  bool handedOver = false;
  try {
    DescriptionBuilder builder(std::filesystem::path(path).parent_path().string(), model);
    builder.Build(*root, menu.m_video.width, menu.m_video.height);
    // The design replaces whatever stream the menu came from.
    HandOver(menu, model, std::string());
    handedOver = true;
    // Types choose among the project's objects, so they go on once the
    // model is the menu's.
    for (const TypeRequest& r : builder.Types()) ApplyType(r);
  } catch (const Failure& f) {
    if (handedOver) {
      // The menu gets its own model back.
      menu.m_strSourcePath = before.m_strSourcePath;
      CIgObject dropped;
      dropped.TakeOver(menu);
      menu.TakeOver(before);
    }
    error = std::string(kMsgWrongFileFormat) + "\n" + path + ": " + f.what;
    return false;
  }
  return true;
}

}  // namespace zv

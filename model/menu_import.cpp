#include "model/menu_import.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

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
  menu.TakeOver(model);
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
    OnlyAttributes(e, {"name", "PalettePath"});
    CPage* page = ds.AddPage();
    if (const std::string* n = e.Attribute("name")) page->SetName(*n);
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
    for (const auto& c : e.children) {
      if (c->name != "ButtonOverlapGroup") Fail(*c, "expected <ButtonOverlapGroup>");
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
        if (type->ParameterActive(i) && type->ParameterName(i)) paramNames.push_back(type->ParameterName(i));
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
    if (!g->SetImageFile(full)) Fail(e, "\"" + path + "\" is not a picture that can be read");
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
  for (const auto& [i, value] : r.params) {
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

int ImportPsdIntoMenu(CZvIgObject& menu, const std::string& design, bool force, const Progress& progress,
                      std::string& error, std::string& warning) {
  // The stream, not the design, is what the menu imports; while it is newer
  // than the design the conversion is skipped.
  const std::string stream = ConvertedStreamPath(design);
  if (!force && ConvertedStreamIsCurrent(design, stream))
    return ImportIesIntoMenu(menu, stream, error) ? kOk : kFailed;
  CIgObject built;
  if (const int rc = ConvertDesign(design, built, progress, error); rc != kOk) return rc;
  built.m_video.frameRateCode = menu.m_video.frameRateCode != 0 ? menu.m_video.frameRateCode : 1;
  // The side file goes first: a conversion that cannot have it fails as a
  // whole, before a stream exists that a later import would take as current.
  warning.clear();
  if (!WriteConversionSideFile(stream, error)) return kFailed;
  if (!built.ExportStream(stream, false, error, progress)) {
    if (error.empty()) error = "the design cannot be compiled into \"" + stream + "\"";
    return kFailed;
  }
  // Converted just now, the model is the stream's (the export numbered its
  // graphics as the stream does) and still carries the design's names.
  AdoptDesign(menu, built, stream);
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

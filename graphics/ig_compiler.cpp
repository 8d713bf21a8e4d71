#include "graphics/ig_compiler.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "graphics/composition.h"
#include "graphics/object_coding.h"
#include "mux/std_models.h"
#include "mux/ts_syntax.h"
#include "platform/file.h"
#include "platform/parallel.h"
#include "platform/paths.h"
#include "streams/sif_data.h"

namespace zv {

namespace {

struct SVideoFormat {
  uint16_t width, height;
  uint8_t rate;
  const char* name;
};

constexpr SVideoFormat kVideoFormats[kVideoFormatCount] = {
    {720, 480, 4, "720 x 480, 29.97"},       {720, 576, 3, "720 x 576, 25"},
    {1920, 1080, 4, "1920 x 1080, 29.97"},   {1920, 1080, 3, "1920 x 1080, 25"},
    {1920, 1080, 2, "1920 x 1080, 24"},      {1920, 1080, 1, "1920 x 1080, 23.976"},
    {1440, 1080, 4, "1440 x 1080, 29.97"},   {1440, 1080, 3, "1440 x 1080, 25"},
    {1440, 1080, 2, "1440 x 1080, 24"},      {1440, 1080, 1, "1440 x 1080, 23.976"},
    {1280, 720, 7, "1280 x 720, 59.94"},     {1280, 720, 6, "1280 x 720, 50"},
    {1280, 720, 2, "1280 x 720, 24"},        {1280, 720, 1, "1280 x 720, 23.976"},
};

// Decoding rates of the model: object data into the decoded object buffer
// (without a PCS), and the graphics plane.
constexpr int64_t kObjectRate = kIgObjectRate;
constexpr int64_t kPlaneRate = kGraphicsPlaneRate;
constexpr int64_t kMinComposition = 131070;  // where every parsed stream starts
constexpr size_t kIcsFragment = 65510;
// The decoded-object buffer of an interactive-graphics decoder: every object
// of a display set stays decoded in it, one byte a pixel.
constexpr int64_t kDecodedObjectBuffer = kIgDecodedObjectBuffer;
// A menu clip carries its stream alone, at the clip rate; a little is kept
// back for the PSI and PCR packets between the stream's own.
constexpr int64_t kMenuClipRate = 48000000;
constexpr int64_t kPacketTicks = (int64_t{188} * 8 * kTicksPerSecond * 102 / 100 + kMenuClipRate - 1) / kMenuClipRate;
// The PES header of a segment with PTS and DTS.
constexpr int32_t kPesHeader = 19;
// The multiplexer sends no unit's first packet more than 0.9 s before the
// unit's decoding time.
constexpr int64_t kMaxUnitLead90k = 81000;

// The log of one compilation: lines go to the caller's callback; an answer
// of 0 stops compilation at the next check.
class CLog {
 public:
  explicit CLog(const Progress& user) : user_(user) {}
  Progress Inner() { return Progress{&CLog::Forward, this}; }
  void Line(const std::string& s) {
    if (!user_.Item(s)) stopped_ = true;
  }
  void Enter(const std::string& prefix, const std::string& name) { Line(prefix + " " + name + "..."); }
  void Message(const std::string& prefix, const char* level, const std::string& text) {
    Line(prefix + " " + level + ":" + text);
  }
  bool Stopped() const { return stopped_; }

 private:
  static int Forward(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<CLog*>(ctx);
    if (!self->user_.Report(*info)) self->stopped_ = true;
    return 1;
  }
  const Progress& user_;
  bool stopped_ = false;
};

const CGraphicObject* FirstGraphic(const CButtonStateInfo& s) { return s.m_start.p ? s.m_start.p : s.m_end.p; }

int64_t Area(const CGraphicObject* g) { return g ? int64_t{g->m_nWidth} * g->m_nHeight : 0; }

int32_t RefId(const CModelRef<CGraphicObject>& r) { return r.p ? r.p->m_nId : r.id; }

bool Intersect(const CBdButton& a, const CBdButton& b) {
  const int al = a.m_nX, at = a.m_nY, ar = a.m_nX + a.Width(), ab = a.m_nY + a.Height();
  const int bl = b.m_nX, bt = b.m_nY, br = b.m_nX + b.Width(), bb = b.m_nY + b.Height();
  return al < br && bl < ar && at < bb && bt < ab;
}

// The page's default selected button as far as the first display goes: an
// invisible one (a menu build's entry button, which passes the selection
// on) counts as none.
CBdButton* ShownSelected(CPage& page) {
  CBdButton* b = page.m_defaultSelected.p;
  if (b == &page.m_currentSelected || (b && !b->m_states[CBdButton::kSelected].HasGraphics())) return nullptr;
  return b;
}

// The objects of one display set in the order the decoder needs them.
class CObjectOrder {
 public:
  explicit CObjectOrder(const CEpoch& epoch) {
    CNamedPtrCollection all;
    GatherGraphics(epoch, all);
    for (size_t i = 0; i < all.GetCount(); ++i) {
      auto* g = static_cast<CGraphicObject*>(all.GetAt(i));
      byId_.emplace(g->m_nId, g);  // the first of equal ids wins
    }
  }
  void Add(CGraphicObject* g) {
    if (g && seen_.insert(g).second) list_.push_back(g);
  }
  // Every object from the start id to the end id, both included.
  void Range(const CButtonStateInfo& s) {
    const int32_t a = RefId(s.m_start), b = RefId(s.m_end);
    if (a < 0 || b < 0) {
      Add(s.m_start.p);
      Add(s.m_end.p);
      return;
    }
    const int32_t step = a <= b ? 1 : -1;
    for (int32_t id = a;; id += step) {
      auto it = byId_.find(id);
      if (it != byId_.end()) Add(it->second);
      if (id == b) break;
    }
  }
  size_t Size() const { return list_.size(); }
  const std::vector<CGraphicObject*>& List() const { return list_; }

  void Page(CPage& page, size_t* lastNeeded) {
    CBdButton* selected = ShownSelected(page);
    for (CGraphicObject* g : page.m_inEffects.Graphics()) Add(g);
    for (size_t i = 0; i < page.GetCount(); ++i)
      if (CBdButton* d = page.GetAt(i)->m_defaultButton.p) Range(d->m_states[CBdButton::kNormal]);
    const size_t afterNormal = Size();
    if (selected) Range(selected->m_states[CBdButton::kSelected]);
    const size_t beforeSelected = Size();
    for (size_t i = 0; i < page.GetCount(); ++i)
      if (CBdButton* d = page.GetAt(i)->m_defaultButton.p) Range(d->m_states[CBdButton::kSelected]);
    const size_t afterSelected = Size();
    for (size_t i = 0; i < page.GetCount(); ++i)
      if (CBdButton* d = page.GetAt(i)->m_defaultButton.p) Range(d->m_states[CBdButton::kActivated]);
    for (size_t i = 0; i < page.GetCount(); ++i) {
      CBog& bog = *page.GetAt(i);
      for (size_t k = 0; k < bog.GetCount(); ++k) {
        CBdButton* b = bog.GetAt(k);
        if (b == bog.m_defaultButton.p || b == selected) continue;
        for (const CButtonStateInfo& s : b->m_states) Range(s);
      }
    }
    for (CGraphicObject* g : page.m_outEffects.Graphics()) Add(g);
    if (lastNeeded) {
      if (selected) *lastNeeded = afterNormal;
      else if (afterSelected > beforeSelected) *lastNeeded = afterSelected;
    }
  }

 private:
  std::map<int32_t, CGraphicObject*> byId_;
  std::set<const CGraphicObject*> seen_;
  std::vector<CGraphicObject*> list_;
};

// Time to draw the first page's buttons: every BOG's default button in its
// normal state, one of them (the page's default selected button, or the
// largest) in its selected state instead.
int64_t DrawingBits(CPage& page) {
  int64_t bits = 0;
  CBdButton* largest = nullptr;
  int64_t largestArea = -1;
  for (size_t i = 0; i < page.GetCount(); ++i) {
    CBdButton* d = page.GetAt(i)->m_defaultButton.p;
    if (!d) continue;
    const int64_t a = Area(FirstGraphic(d->m_states[CBdButton::kNormal]));
    bits += 8 * a;
    if (a > largestArea) {
      largest = d;
      largestArea = a;
    }
  }
  CBdButton* selected = ShownSelected(page);
  if (!selected) selected = largest;
  if (selected) {
    bits -= 8 * Area(FirstGraphic(selected->m_states[CBdButton::kNormal]));
    bits += 8 * Area(FirstGraphic(selected->m_states[CBdButton::kSelected]));
  }
  return std::max<int64_t>(bits, 0);
}

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// The lowest palette id no PDS of the display set has; -1 when all 256 are
// taken.
int FreePaletteId(const CDsData& out) {
  for (int id = 0; id < 256; ++id)
    if (!out.FindPds(static_cast<uint8_t>(id))) return id;
  return -1;
}

// The pages of a display set that get an automatic palette, grouped so
// that pages showing a common picture are in one group: `group` gives each
// page the first page of its group (itself for a page with a palette of its
// own), and the first page of a group lists the pictures of all its pages,
// in the epoch's order, but for those a page with a palette of its own
// shows too. Such a picture is coded with that palette (`own`: the first
// page's with one that shows it), and a group showing one keeps that
// palette's entries (`base`).
struct SAutoPalettes {
  std::vector<size_t> group;
  std::vector<std::vector<const CGraphicObject*>> graphics;
  std::vector<const CErgbPalette*> base;
  std::map<const CGraphicObject*, const CErgbPalette*> own;
  // Per page, per picture of the epoch: whether the page shows it.
  std::vector<std::vector<char>> uses;
  std::vector<const CGraphicObject*> all;
};

SAutoPalettes GroupAutoPalettePages(const CEpoch& epoch, CDisplaySet& ds) {
  CNamedPtrCollection gathered;
  GatherGraphics(epoch, gathered);
  const size_t pages = ds.GetCount();
  SAutoPalettes out;
  for (size_t g = 0; g < gathered.GetCount(); ++g)
    out.all.push_back(static_cast<const CGraphicObject*>(gathered.GetAt(g)));
  const size_t pictures = out.all.size();
  out.group.resize(pages);
  out.graphics.resize(pages);
  out.base.assign(pages, nullptr);
  out.uses.assign(pages, std::vector<char>(pictures, 0));
  std::vector<const CErgbPalette*> palette(pages, nullptr);
  for (size_t i = 0; i < pages; ++i) {
    out.group[i] = i;
    const CPage& page = *ds.GetAt(i);
    palette[i] = page.m_palette.p;
    const std::vector<CBdButton*> buttons = page.Buttons();
    for (size_t g = 0; g < pictures; ++g)
      for (const CBdButton* b : buttons)
        if (b->UsesGraphic(out.all[g]->m_nId)) {
          out.uses[i][g] = 1;
          break;
        }
    if (palette[i])
      for (size_t g = 0; g < pictures; ++g)
        if (out.uses[i][g]) out.own.emplace(out.all[g], palette[i]);
  }
  auto shared = [&](size_t i, size_t j) {
    for (size_t g = 0; g < pictures; ++g)
      if (out.uses[i][g] && out.uses[j][g]) return true;
    return false;
  };
  // Each page joins the group of the first earlier page it shares a
  // picture with, and groups it links are merged into the earliest.
  auto root = [&](size_t i) {
    while (out.group[i] != i) i = out.group[i];
    return i;
  };
  for (size_t i = 0; i < pages; ++i)
    for (size_t j = 0; j < i && !palette[i]; ++j) {
      if (palette[j] || !shared(i, j)) continue;
      const size_t a = root(i), b = root(j);
      out.group[std::max(a, b)] = std::min(a, b);
    }
  for (size_t i = 0; i < pages; ++i) out.group[i] = root(i);
  for (size_t i = 0; i < pages; ++i) {
    if (palette[i] || out.group[i] != i) continue;
    for (size_t g = 0; g < pictures; ++g) {
      bool used = false;
      for (size_t j = i; j < pages && !used; ++j) used = out.group[j] == i && !palette[j] && out.uses[j][g];
      if (used && !out.own.count(out.all[g])) out.graphics[i].push_back(out.all[g]);
    }
    for (size_t k = 0; k < pages && !out.base[i]; ++k) {
      if (!palette[k]) continue;
      for (size_t j = i; j < pages && !out.base[i]; ++j)
        if (out.group[j] == i && !palette[j] && shared(j, k)) out.base[i] = palette[k];
    }
  }
  return out;
}

class CCompiler {
 public:
  CCompiler(CIgObject& ig, CEpoch& epoch, CLog& log) : ig_(ig), epoch_(epoch), log_(log) {}

  // Display sets in order, each handed to `write` once compiled (its
  // segments are dropped afterwards).
  bool CompileEpoch(bool renumber, const std::function<bool(CDsData&)>& write) {
    if (renumber) RenumberEpoch(epoch_);
    LoadGraphicSizes(epoch_);
    log_.Enter("", epoch_.m_strName);
    if (epoch_.m_graphics.TotalCount() == 0) log_.Message("", "Warning", "no graphics");
    if (epoch_.m_palettes.GetCount() == 0) log_.Message("", "Warning", "no palette");
    for (size_t d = 0; d < epoch_.GetCount(); ++d) {
      CDsData out;
      SDsTiming t;
      if (!CompileDisplaySet(*epoch_.GetAt(d), out, t) || log_.Stopped()) return false;
      if (!write(out)) return false;
    }
    return true;
  }

  bool CompileDisplaySet(CDisplaySet& ds, CDsData& out, SDsTiming& t) {
    out.Clear();
    out.m_nCompositionState = ds.m_nCompositionState;
    uint32_t num = 0, den = 0;
    if (!FrameRateOf(ig_.m_video.frameRateCode, num, den)) return false;
    const std::string prefix;
    log_.Enter(prefix, ds.m_strName);
    if (ds.GetCount() == 0) {
      log_.Message(prefix, "Error", "no pages");
      return false;
    }
    // Palettes of the pages and their effects, each once. A PDS carries
    // the palette's own id, which is what pages and effects refer to.
    std::vector<CErgbPalette*> palettes;
    auto collect = [&](CErgbPalette* p) {
      if (p && std::find(palettes.begin(), palettes.end(), p) == palettes.end()) palettes.push_back(p);
    };
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      CPage& page = *ds.GetAt(i);
      collect(page.m_palette.p);
      for (CErgbPalette* p : page.m_inEffects.Palettes()) collect(p);
      for (CErgbPalette* p : page.m_outEffects.Palettes()) collect(p);
    }
    for (CErgbPalette* p : palettes) {
      if (p->m_nId < 0 || p->m_nId > 255 || out.FindPds(static_cast<uint8_t>(p->m_nId))) {
        log_.Message(prefix, "Error", p->m_strName + " needs a palette id of its own from 0 to 255");
        return false;
      }
      auto pds = std::make_unique<CPds>();
      pds->m_nPaletteId = static_cast<uint8_t>(p->m_nId);
      PaletteToPds(*pds, *p, ColorMatrixForHeight(ig_.m_video.height));
      out.m_pds.push_back(std::move(pds));
    }
    // Pages.
    std::vector<int> generated(ds.GetCount(), -1);
    std::vector<std::shared_ptr<CErgbPalette>> made(ds.GetCount());
    const SAutoPalettes automatic = GroupAutoPalettePages(epoch_, ds);
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      CPage& page = *ds.GetAt(i);
      page.m_nId = static_cast<int32_t>(i);
      if (!CompilePage("  " + prefix, page, automatic, i, out, generated, made) || log_.Stopped()) return false;
    }
    // The interactive composition, cut into ICS.
    std::vector<uint8_t> bytes;
    try {
      SInteractiveComposition ic = ds.ToRecord();
      for (size_t i = 0; i < generated.size(); ++i)
        if (generated[i] >= 0) ic.pages[i].paletteIdRef = static_cast<uint8_t>(generated[i]);
      bytes = WriteComposition(ic);
    } catch (const std::out_of_range& e) {
      log_.Message(prefix, "Error", std::string("the interactive composition cannot be written: ") + e.what());
      return false;
    }
    CIcs model;
    model.m_composition.video = ig_.m_video;
    model.m_composition.number = 0;
    model.m_composition.state = ds.m_nCompositionState;
    FragmentComposition(bytes, model, out.m_ics, kIcsFragment);
    // Objects.
    // An object is coded once, with the palette of the first page with a
    // palette of its own that shows it, else with that of the first page
    // that shows it; every page draws it with its own palette.
    CObjectOrder order(epoch_);
    // The first display waits for the objects of the first page that shows
    // any: pages before it (a menu build's invisible front page) pass the
    // viewer on to the next page at once.
    size_t lastNeeded = 0;
    size_t firstShown = ds.GetCount();
    std::map<const CGraphicObject*, const CErgbPalette*> paletteOf;
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      const size_t before = order.Size();
      order.Page(*ds.GetAt(i), firstShown == ds.GetCount() ? &lastNeeded : nullptr);
      if (firstShown == ds.GetCount() && order.Size() > before) firstShown = i;
      const CErgbPalette* palette = made[i] ? made[i].get() : ds.GetAt(i)->m_palette.p;
      for (size_t k = before; k < order.Size(); ++k) {
        const auto own = automatic.own.find(order.List()[k]);
        paletteOf.emplace(order.List()[k], own != automatic.own.end() ? own->second : palette);
      }
    }
    WarnOfOtherColours("  " + prefix, ds, automatic, made, paletteOf);
    auto line = [&](const std::string& s) { log_.Line(s); };
    // Objects are coded a few at a time, one on each core, and added in
    // order: the stream and the log are those of coding them one by one,
    // and a stop asked for in the log ends the work after the current few.
    const std::vector<CGraphicObject*>& objects = order.List();
    const size_t batch = std::max<size_t>(1, ParallelWidth(objects.size()));
    std::vector<std::vector<uint8_t>> coded(batch);
    // Each place of a batch keeps the nearest entries it found for a
    // palette for the objects it codes later: no two jobs of one place run
    // at once.
    std::vector<std::map<const CErgbPalette*, std::unique_ptr<CPaletteMapper>>> mappers(batch);
    for (size_t first = 0; first < objects.size(); first += batch) {
      const size_t n = std::min(batch, objects.size() - first);
      ParallelFor(n, [&](size_t k) {
        const CGraphicObject* g = objects[first + k];
        const auto found = paletteOf.find(g);
        const CErgbPalette* palette = found == paletteOf.end() ? nullptr : found->second;
        CPaletteMapper* mapper = nullptr;
        if (palette) {
          std::unique_ptr<CPaletteMapper>& m = mappers[k][palette];
          if (!m) m = std::make_unique<CPaletteMapper>(*palette);
          mapper = m.get();
        }
        coded[k] = CodeGraphicObject(*g, palette, mapper);
      });
      for (size_t k = 0; k < n; ++k) {
        CGraphicObject* g = objects[first + k];
        if (g->m_nId < 0 || g->m_nId > 0xFFFE) {
          log_.Message("  " + prefix, "Error", g->m_strName + " needs an id from 0 to 65534");
          return false;
        }
        if (!AddCodedObject(*g, "  " + prefix, line, out, coded[k]) || log_.Stopped()) return false;
        std::vector<uint8_t>().swap(coded[k]);
      }
    }
    out.m_end = std::make_unique<CEs>();
    // Timing.
    t = SDsTiming{};
    t.frameDuration = int64_t{90000} * den / num;
    for (size_t i = 0; i < lastNeeded && i < order.Size(); ++i) {
      const CGraphicObject* g = order.List()[i];
      t.decode += ObjectDecodeTicks(g->m_nWidth, g->m_nHeight, kObjectRate);
    }
    if (ds.m_nCompositionState == 2)
      t.decode = std::max(t.decode, ObjectDecodeTicks(ig_.m_video.width, ig_.m_video.height, kPlaneRate));
    t.drawBits = DrawingBits(*ds.GetAt(firstShown < ds.GetCount() ? firstShown : 0));
    t.duration = t.decode + ObjectDecodeTicks(t.drawBits / 8, 1, kPlaneRate);
    const int64_t frames = std::max<int32_t>(ds.m_nStartFrame, 0);
    t.composition = (2 * frames * 90000 * den + num) / (2 * int64_t{num});
    t.composition = std::max(t.composition, CeilDiv(t.duration, t.frameDuration) * t.frameDuration);
    t.composition = std::max(t.composition, kMinComposition);
    Stamp(out, t);
    return FitDecoder(prefix, ds, order, lastNeeded, out, t);
  }

 private:
  // A picture shown by pages whose palettes hold other colours at the
  // entries it is coded with (two palettes of the author's own) looks
  // different on those pages: said, as the author may not mean it.
  void WarnOfOtherColours(const std::string& prefix, CDisplaySet& ds, const SAutoPalettes& automatic,
                          const std::vector<std::shared_ptr<CErgbPalette>>& made,
                          const std::map<const CGraphicObject*, const CErgbPalette*>& paletteOf) {
    for (size_t g = 0; g < automatic.all.size(); ++g) {
      const auto coded = paletteOf.find(automatic.all[g]);
      if (coded == paletteOf.end() || !coded->second) continue;
      const CErgbPalette& c = *coded->second;
      std::vector<char> used;
      for (size_t i = 0; i < ds.GetCount(); ++i) {
        if (!automatic.uses[i][g]) continue;
        const CErgbPalette* d = made[i] ? made[i].get() : ds.GetAt(i)->m_palette.p;
        // A made palette keeps the entries of the palette it was built around.
        if (!d || d == &c || (made[i] && automatic.base[automatic.group[i]] == &c)) continue;
        if (used.empty() && !UsedEntries(*automatic.all[g], c, used)) return;
        if (SameAt(c, *d, used)) continue;
        log_.Message(prefix, "Warning",
                     "\"" + automatic.all[g]->m_strName + "\" is coded for the palette \"" + c.m_strName + "\"; page \"" +
                         ds.GetAt(i)->m_strName + "\" draws it with other colours from its own palette");
      }
    }
  }

  // Which entries of `palette` the picture takes, one flag per index.
  static bool UsedEntries(const CGraphicObject& g, const CErgbPalette& palette, std::vector<char>& used) {
    CPicture decoded;
    const CPicture* pic = g.m_picture.get();
    std::string error;
    if (!pic) {
      if (!g.LoadPicture(decoded, error)) return false;
      pic = &decoded;
    }
    const CPicture mapped = MapToPalette(*pic, palette);
    used.assign(256, 0);
    for (int y = 0; y < mapped.height; ++y) {
      const uint8_t* row = mapped.Row(y);
      for (int x = 0; x < mapped.width; ++x) used[row[x]] = 1;
    }
    return true;
  }

  static bool SameAt(const CErgbPalette& a, const CErgbPalette& b, const std::vector<char>& used) {
    auto entries = [](const CErgbPalette& p) {
      std::vector<std::optional<ERGBQUAD>> at(256);
      for (size_t i = 0; i < p.GetCount(); ++i) at[p.GetAt(i)->index] = *p.GetAt(i);
      return at;
    };
    const auto ea = entries(a), eb = entries(b);
    for (size_t i = 0; i < used.size(); ++i)
      if (used[i] && ea[i] != eb[i]) return false;
    return true;
  }

  bool CompilePage(const std::string& prefix, CPage& page, const SAutoPalettes& automatic, size_t index,
                   CDsData& out, std::vector<int>& generated, std::vector<std::shared_ptr<CErgbPalette>>& made) {
    log_.Enter(prefix, page.m_strName);
    if (page.GetCount() == 0) {
      log_.Message(prefix, "Error", "has no buttons");
      return false;
    }
    for (size_t g = 0; g < page.GetCount(); ++g)
      for (size_t h = g + 1; h < page.GetCount(); ++h)
        for (size_t i = 0; i < page.GetAt(g)->GetCount(); ++i)
          for (size_t k = 0; k < page.GetAt(h)->GetCount(); ++k) {
            const CBdButton& a = *page.GetAt(g)->GetAt(i);
            const CBdButton& b = *page.GetAt(h)->GetAt(k);
            if (!Intersect(a, b)) continue;
            log_.Line(prefix + " Error:Buttons of different group overlapped (" + a.m_strName + " - " + b.m_strName + ")");
            return false;
          }
    page.m_inEffects.RefreshIds();
    page.m_outEffects.RefreshIds();
    page.m_defaultSelected.Refresh();
    page.m_defaultActivated.Refresh();
    if (!page.m_palette.p) {
      log_.Message(prefix, "Warning", "no palette defined, will get from image automatically.");
      // Pages that share a picture share one palette, made from all their
      // pictures: the object is coded once and drawn with each page's
      // palette.
      const size_t first = automatic.group[index];
      if (first != index) {
        generated[index] = generated[first];
        made[index] = made[first];
      } else if (std::unique_ptr<CErgbPalette> palette =
                     BuildPagePalette(automatic.graphics[index], automatic.base[index])) {
        const int id = FreePaletteId(out);
        if (id < 0) {
          log_.Message(prefix, "Error", "no palette id is left for the page's palette");
          return false;
        }
        auto pds = std::make_unique<CPds>();
        pds->m_nPaletteId = static_cast<uint8_t>(id);
        PaletteToPds(*pds, *palette, ColorMatrixForHeight(ig_.m_video.height));
        out.m_pds.push_back(std::move(pds));
        generated[index] = id;
        made[index] = std::move(palette);
      }
    }
    Progress inner = log_.Inner();
    for (size_t g = 0; g < page.GetCount(); ++g) {
      CBog& bog = *page.GetAt(g);
      bog.m_defaultButton.Refresh();
      if (!ValidateBog(inner, "  " + prefix, bog) || log_.Stopped()) return false;
    }
    return true;
  }

  // What the player's decoder can hold and when the pictures are there:
  // refuses pages whose decoded pictures can never fit the decoded-object
  // buffer, delays each object's decoding until its coded data has arrived
  // through the coded-data buffer (as the multiplexer will deliver it), lets
  // the first page wait for the objects it needs, and warns of pages whose
  // pictures are ready only after the menu shows.
  bool FitDecoder(const std::string& prefix, CDisplaySet& ds, const CObjectOrder& order, size_t lastNeeded,
                  CDsData& out, SDsTiming& t) {
    auto mb = [](int64_t bytes) {
      char b[32];
      std::snprintf(b, sizeof b, "%.1f MB", static_cast<double>(bytes) / 1e6);
      return std::string(b);
    };
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      CPage& page = *ds.GetAt(i);
      CObjectOrder own(epoch_);
      own.Page(page, nullptr);
      const int64_t bytes = DecodedBytes(own.List());
      if (bytes > kDecodedObjectBuffer) {
        log_.Message(prefix, "Error", "Page \"" + page.m_strName + "\": " + mb(bytes) +
                                          " of decoded pictures, the player holds 16 MB");
        return false;
      }
    }
    if (const int64_t bytes = DecodedBytes(order.List()); bytes > kDecodedObjectBuffer) {
      log_.Message(prefix, "Error", "the pages' pictures together take " + mb(bytes) +
                                        " decoded, the player holds 16 MB for a display set");
      return false;
    }
    // Objects in stream order: the ODS index of each first fragment.
    std::vector<size_t> firsts;
    for (size_t k = 0; k < out.m_ods.size(); ++k)
      if (out.m_ods[k]->m_sequence.first) firsts.push_back(k);
    t.objectWait.assign(firsts.size(), 0);
    const int64_t plainComposition = t.composition;
    const int64_t drawTicks = ObjectDecodeTicks(t.drawBits / 8, 1, kPlaneRate);
    // Waits only grow; each round settles at least one more object.
    std::vector<int64_t> sizes;
    for (const CSegmentBase* seg : out.Segments())
      sizes.push_back(static_cast<int64_t>(const_cast<CSegmentBase*>(seg)->Write(nullptr)));
    for (size_t round = 0; round < 2 * firsts.size() + 8; ++round) {
      const std::optional<std::pair<size_t, int64_t>> late = FirstLateObject(out, sizes, firsts);
      if (late) {
        t.objectWait[late->first] += late->second;
      } else {
        // The first page shows once the objects it needs are decoded.
        if (lastNeeded == 0 || lastNeeded > firsts.size()) break;
        const int64_t ready = out.m_ods[firsts[lastNeeded - 1]]->m_nPts - t.Start();
        const int64_t need = ready + drawTicks;
        if (need <= t.duration) break;
        t.decode += need - t.duration;
        t.duration = need;
        t.composition = std::max(plainComposition, CeilDiv(t.duration, t.frameDuration) * t.frameDuration);
      }
      Stamp(out, t);
    }
    if (t.composition > plainComposition)
      log_.Message(prefix, "Warning", "the menu shows " + Seconds(t.composition - plainComposition) +
                                          " late: the first page's pictures need " + Seconds(t.duration) +
                                          " to arrive and decode");
    std::map<int32_t, int64_t> readyAt;
    for (size_t k : firsts) readyAt[out.m_ods[k]->m_nObjectId] = out.m_ods[k]->m_nPts;
    for (size_t i = 0; i < ds.GetCount(); ++i) {
      CPage& page = *ds.GetAt(i);
      CObjectOrder own(epoch_);
      own.Page(page, nullptr);
      int64_t ready = 0;
      for (const CGraphicObject* g : own.List())
        if (auto it = readyAt.find(g->m_nId); it != readyAt.end()) ready = std::max(ready, it->second);
      if (ready > t.composition)
        log_.Message(prefix, "Warning", "Page \"" + page.m_strName + "\": its pictures are decoded " +
                                            Seconds(ready - t.composition) + " after the menu shows");
    }
    return true;
  }

  static int64_t DecodedBytes(const std::vector<CGraphicObject*>& list) {
    int64_t bytes = 0;
    for (const CGraphicObject* g : list) bytes += Area(g);
    return bytes;
  }

  static std::string Seconds(int64_t ticks) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f s", static_cast<double>(ticks) / 90000);
    return b;
  }

  // Replays the segments' delivery into the coded-data buffer as the
  // multiplexer schedules a menu clip: packet after packet, none into a
  // full buffer, none more than 0.9 s before its unit's decoding time.
  // Returns the first object (index among `firsts`) whose last fragment
  // arrives after its decoding time, with the ticks it is late.
  // `sizes` are the segments' sizes in writing order.
  static std::optional<std::pair<size_t, int64_t>> FirstLateObject(const CDsData& out,
                                                                    const std::vector<int64_t>& sizes,
                                                                    const std::vector<size_t>& firsts) {
    CIgStd eb;
    std::map<const CSegmentBase*, int64_t> arrived;
    int64_t now = 0;
    const std::vector<const CSegmentBase*> segments = out.Segments();
    for (size_t i = 0; i < segments.size(); ++i) {
      const CSegmentBase* s = segments[i];
      const uint32_t dts = s->m_nDts ? s->m_nDts : s->m_nPts;
      eb.AddAccessUnit(dts, s->m_nPts);
      const int64_t lead = dts > kMaxUnitLead90k ? (int64_t{dts} - kMaxUnitLead90k) * kTicksPer90k : 0;
      int64_t next = std::max(lead, eb.GetNextTime());
      int64_t left = sizes[i] + kPesHeader;
      while (left > 0) {
        const int64_t at = std::max(now, next);
        const auto carried = static_cast<int32_t>(std::min<int64_t>(left, kTsPayloadSize));
        eb.DeliverPacket(SPacketArrival{at, carried});
        left -= carried;
        now = at + kPacketTicks;
        if (const int64_t m = eb.GetNextTime(); m != 0) next = std::max(next, m);
      }
      arrived[s] = now;
    }
    for (size_t k = 0; k < firsts.size(); ++k) {
      const size_t end = k + 1 < firsts.size() ? firsts[k + 1] : out.m_ods.size();
      const int64_t dts = int64_t{out.m_ods[firsts[k]]->m_nDts} * kTicksPer90k;
      const int64_t last = arrived[out.m_ods[end - 1].get()];
      if (last > dts) return std::make_pair(k, CeilDiv(last - dts, kTicksPer90k));
    }
    return std::nullopt;
  }

  static void Stamp(CDsData& out, const SDsTiming& t) {
    const auto n = static_cast<uint32_t>(t.composition);
    const auto a = static_cast<uint32_t>(t.Start());
    if (out.m_pcs) {
      out.m_pcs->m_nPts = n;
      out.m_pcs->m_nDts = a;
    }
    for (auto& i : out.m_ics) {
      i->m_nPts = n;
      i->m_nDts = a;
    }
    for (auto& p : out.m_pds) {
      p->m_nPts = a;
      p->m_nDts = 0;
    }
    const int64_t rate = out.m_pcs ? kPlaneRate : kObjectRate;
    if (out.m_wds) {
      int64_t fill = 0;
      for (const SWindow& w : out.m_wds->m_windows) fill += int64_t{w.width} * w.height;
      out.m_wds->m_nDts = a;
      out.m_wds->m_nPts = static_cast<uint32_t>(
          std::max<int64_t>(a, t.composition - ObjectDecodeTicks(fill, 1, out.m_pcs ? 256000000 : kPlaneRate)));
    }
    uint32_t at = a, lastDts = a, lastPts = a;
    size_t object = 0;
    for (auto& o : out.m_ods) {
      if (o->m_sequence.first) {
        const auto& f = o->m_sequence.fragment;
        const int64_t w = f.size() >= 7 ? (f[3] << 8 | f[4]) : 0;
        const int64_t h = f.size() >= 7 ? (f[5] << 8 | f[6]) : 0;
        if (object < t.objectWait.size()) at += static_cast<uint32_t>(t.objectWait[object]);
        ++object;
        lastDts = at;
        lastPts = static_cast<uint32_t>(at + ObjectDecodeTicks(w, h, rate));
        at = lastPts;
      }
      o->m_nDts = lastDts;
      o->m_nPts = lastPts;
    }
    if (out.m_end) {
      out.m_end->m_nPts = out.m_ods.empty() ? a : out.m_ods.back()->m_nPts;
      out.m_end->m_nDts = 0;
    }
  }

  CIgObject& ig_;
  CEpoch& epoch_;
  CLog& log_;
};

}  // namespace

// ---------------------------------------------------------------- helpers

const char* VideoFormatName(int index) {
  return index >= 0 && index < kVideoFormatCount ? kVideoFormats[index].name : nullptr;
}

bool FrameRateOf(uint8_t code, uint32_t& num, uint32_t& den) {
  switch (code) {
    case 1: num = 24000, den = 1001; return true;
    case 2: num = 24, den = 1; return true;
    case 3: num = 25, den = 1; return true;
    case 4: num = 30000, den = 1001; return true;
    case 6: num = 50, den = 1; return true;
    case 7: num = 60000, den = 1001; return true;
  }
  return false;
}

int64_t ObjectDecodeTicks(int64_t w, int64_t h, int64_t bitsPerSecond) {
  return CeilDiv(w * h * 90000 * 8, bitsPerSecond);
}

void RenumberEpoch(CEpoch& epoch) {
  CNamedPtrCollection all;
  GatherGraphics(epoch, all);
  for (size_t i = 0; i < all.GetCount(); ++i) all.GetAt(i)->m_nId = static_cast<int32_t>(i);
  for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i) epoch.m_palettes.GetAt(i)->m_nId = static_cast<int32_t>(i);
  epoch.RefreshIds();
}

void LoadGraphicSizes(CEpoch& epoch) {
  CNamedPtrCollection all;
  GatherGraphics(epoch, all);
  for (size_t i = 0; i < all.GetCount(); ++i) {
    auto* g = static_cast<CGraphicObject*>(all.GetAt(i));
    if (g->m_nWidth != 0 || (g->m_strPath.empty() && !g->m_picture)) continue;
    CPicture pic;
    std::string error;
    if (g->LoadPicture(pic, error)) {
      g->m_nWidth = pic.width;
      g->m_nHeight = pic.height;
    }
  }
}

bool CompileDisplaySet(CIgObject& ig, CEpoch& epoch, CDisplaySet& ds, const Progress& log, CDsData& out,
                       SDsTiming* timing) {
  CLog l(log);
  CCompiler c(ig, epoch, l);
  SDsTiming t;
  const bool ok = c.CompileDisplaySet(ds, out, t) && !l.Stopped();
  if (timing) *timing = t;
  return ok;
}

// ---------------------------------------------------------------- the IG object

bool CIgObject::SetVideoFormat(int index) {
  if (index < 0 || index >= kVideoFormatCount) return false;
  m_video.width = kVideoFormats[index].width;
  m_video.height = kVideoFormats[index].height;
  m_video.frameRateCode = kVideoFormats[index].rate;
  return true;
}

bool CIgObject::MatchVideoStream(const SCodingAttributes& video) {
  switch (video.streamCodingType) {
    case kSctMpeg2:
    case kSctH264:
    case kSctSecondView:
    case kSctVc1: break;
    default: return false;
  }
  uint16_t w = 0, h = 0;
  switch (video.videoFormat) {
    case kVf480i:
    case kVf480p: w = 720, h = 480; break;
    case kVf576i:
    case kVf576p: w = 720, h = 576; break;
    case kVf1080i:
    case kVf1080p: w = 1920, h = 1080; break;
    case kVf720p: w = 1280, h = 720; break;
    default: return false;
  }
  // A menu with a size keeps it: the stream must match.
  if ((m_video.width || m_video.height) && (m_video.width != w || m_video.height != h)) return false;
  m_video.width = w;
  m_video.height = h;
  m_video.frameRateCode = video.frameRate;
  m_bWideScreen = video.aspectRatio == kAspect16x9;
  return true;
}

bool CIgObject::ComputeNeighbours(int mode) {
  bool changed = false;
  for (size_t e = 0; e < GetCount(); ++e)
    for (size_t d = 0; d < GetAt(e)->GetCount(); ++d) {
      CDisplaySet& ds = *GetAt(e)->GetAt(d);
      for (size_t p = 0; p < ds.GetCount(); ++p) changed |= ::zv::ComputeNeighbours(*ds.GetAt(p), mode);
    }
  return changed;
}

void CIgObject::CopyHeader(const CIgObject& other) {
  m_nEpochCounter = other.m_nEpochCounter;
  m_video = other.m_video;
  m_bWideScreen = other.m_bWideScreen;
}

void CIgObject::TakeOver(CIgObject& other) {
  if (&other == this) return;
  CNamedPtrArray<CEpoch>::Reset();
  while (other.GetCount() > 0) Add(other.RemoveAt(0));
  CopyHeader(other);
  other.CIgObject::Reset();
}

bool CIgObject::WriteStream(File& file, File* index, bool raw, const Progress& log, bool renumber,
                            std::string& error) {
  static const uint8_t kIndexHead[4] = {0, 0, 0, 3};
  if (index && !index->Write(kIndexHead, sizeof kIndexHead)) {
    error = index->Error();
    return false;
  }
  CLog l(log);
  for (size_t e = 0; e < GetCount(); ++e) {
    CCompiler c(*this, *GetAt(e), l);
    if (!c.CompileEpoch(renumber, [&](CDsData& out) { return WriteDisplaySet(file, out, !raw, index, error); })) {
      if (l.Stopped() && error.empty()) error = "the compilation of \"" + m_strName + "\" was stopped";
      return false;
    }
  }
  if (index) {
    uint8_t last[14] = {0xFF};
    if (!index->Write(last, sizeof last)) {
      error = index->Error();
      return false;
    }
  }
  return true;
}

namespace {

// A file written under a temporary name beside its path and renamed into
// place when complete; removed otherwise.
struct STempOutput {
  std::string path, temp;
  File file;
  bool Open(const std::string& p, std::string& error) {
    path = p;
    temp = CreateTempBeside(p, error);
    if (temp.empty()) return false;
    if (file.Open(temp, File::kCreate)) return true;
    error = file.Error();
    std::remove(temp.c_str());
    temp.clear();
    return false;
  }
  bool Commit(std::string& error) {
    if (!file.Close()) {
      error = file.Error();
      return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
      error = File::ErrorText("create", path, errno);
      return false;
    }
    temp.clear();
    return true;
  }
  ~STempOutput() {
    if (!temp.empty()) {
      file.Close();
      std::remove(temp.c_str());
    }
  }
};

}  // namespace

bool CIgObject::ExportStream(const std::string& path, bool withIndex, std::string& error, const Progress& log) {
  STempOutput stream, index;
  if (!stream.Open(path, error)) return false;
  if (withIndex && !index.Open(path + ".mui", error)) return false;
  error.clear();
  if (!WriteStream(stream.file, withIndex ? &index.file : nullptr, true, log, true, error)) {
    if (error.empty()) error = "\"" + m_strName + "\" did not compile";
    return false;
  }
  if (withIndex && !index.Commit(error)) return false;
  return stream.Commit(error);
}

bool ReadGsData(CSegmentInput& in, bool headed, CGsData& out, std::string& error) {
  out.m_epochs.clear();
  CEpochData* current = nullptr;
  bool haveVideo = false;
  for (;;) {
    auto ds = std::make_unique<CDsData>();
    const int rc = ReadDisplaySet(in, *ds, headed, error);
    if (rc == kDsEndOfFile) return true;
    if (rc != kDsOk) return false;
    if (!haveVideo && (ds->m_pcs || !ds->m_ics.empty())) {
      out.m_video = ds->m_pcs ? ds->m_pcs->m_composition.video : ds->m_ics.front()->m_composition.video;
      haveVideo = true;
    }
    if (!current || (ds->m_nCompositionState == 2 && !current->m_displaySets.empty())) {
      out.m_epochs.push_back(std::make_unique<CEpochData>());
      current = out.m_epochs.back().get();
    }
    const bool closes = ds->m_pcs && ds->m_pcs->m_objects.empty() && ds->m_ics.empty();
    current->m_displaySets.push_back(std::move(ds));
    if (closes) current = nullptr;
  }
}

bool CIgObject::ImportStream(const std::string& path, std::string& error) {
  File f;
  if (!f.Open(path, File::kRead)) {
    error = f.Error();
    return false;
  }
  uint8_t head[2] = {0, 0};
  const int64_t n = f.Read(head, 2);
  if (n < 0 || !f.Seek(0)) {
    error = f.Error();
    return false;
  }
  CFileInput in(f);
  CGsData gs;
  if (!ReadGsData(in, IsHeadedFraming(head, static_cast<size_t>(n)), gs, error)) {
    error = "\"" + path + "\": " + error;
    return false;
  }
  if (gs.m_epochs.empty()) {
    error = "\"" + path + "\" holds no display set";
    return false;
  }
  // A subtitle stream reads as display sets too, but holds no menu: taking
  // it would leave the menu empty.
  bool interactive = false;
  for (const auto& e : gs.m_epochs)
    for (const auto& d : e->m_displaySets) interactive = interactive || !d->m_ics.empty();
  if (!interactive) {
    error = "\"" + path + "\" is a presentation-graphics (subtitle) stream, not an interactive-graphics menu";
    return false;
  }
  // Built aside, so that a stream that does not make a model leaves this one
  // as it was.
  CIgObject built;
  if (!built.BuildFromStream(gs, &error)) {
    error = "\"" + path + "\": " + error;
    return false;
  }
  TakeOver(built);
  return true;
}

bool CIgObject::BuildFromStream(const CGsData& stream, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  CIgObject::Reset();
  m_video = stream.m_video;
  m_nEpochCounter = 0;
  const ColorMatrix matrix = ColorMatrixForHeight(m_video.height);
  uint32_t num = 0, den = 0;
  const bool rate = FrameRateOf(m_video.frameRateCode, num, den);
  for (const auto& epochData : stream.m_epochs) {
    CEpoch& epoch = *AddEpoch();
    std::vector<std::pair<const CDsData*, CDisplaySet*>> sets;
    for (const auto& d : epochData->m_displaySets) {
      CDisplaySet& ds = *epoch.AddDisplaySet();
      sets.emplace_back(d.get(), &ds);
      if (!d->m_ics.empty()) {
        std::vector<uint8_t> ic = d->Composition();
        if (ds.ParseBytes(ic.data(), ic.size(), nullptr) == 0)
          return fail("the interactive composition of " + ds.m_strName + " cannot be read");
      }
      ds.m_nCompositionState = d->m_nCompositionState;
      uint32_t pts = 0;
      if (d->m_pcs) pts = d->m_pcs->m_nPts;
      else if (!d->m_ics.empty()) pts = d->m_ics.front()->m_nPts;
      if (rate) {
        const int64_t ms = pts / 90;
        ds.m_nStartFrame = static_cast<int32_t>((2 * ms * num + int64_t{den} * 1000) / (int64_t{den} * 2000));
      }
    }
    // Palettes by id, each id once (the first PDS that carries it).
    std::map<int, const CPds*> pds;
    for (const auto& [d, ds] : sets)
      for (const auto& p : d->m_pds) pds.emplace(p->m_nPaletteId, p.get());
    for (const auto& [id, p] : pds) {
      CErgbPalette& palette = *epoch.m_palettes.AddPalette();
      palette.m_nId = id;
      std::vector<SColor> table = PdsToPalette(*p, matrix);
      std::set<uint8_t> present;
      for (const SPaletteEntry& e : p->m_entries)
        if (e.id < CErgbPalette::kMaxEntries) present.insert(e.id);
      for (uint8_t i : present) {
        const SColor& c = table[i];
        palette.Add(ERGBQUAD{i, c.b, c.g, c.r, c.a});
      }
    }
    // Objects, each id once, drawn with the palette of the first page that
    // shows them.
    auto paletteOf = [&](int32_t id) -> int {
      for (const auto& [d, ds] : sets)
        for (size_t i = 0; i < ds->GetCount(); ++i) {
          CPage& page = *ds->GetAt(i);
          bool uses = false;
          for (const CBdButton* b : page.Buttons()) uses = uses || b->UsesGraphic(id);
          for (const CEffectSequenceObject* seq : {&page.m_inEffects, &page.m_outEffects})
            for (size_t k = 0; k < seq->GetCount(); ++k)
              for (size_t c = 0; c < seq->GetAt(k)->GetCount(); ++c)
                uses = uses || seq->GetAt(k)->GetAt(c)->m_graphic.id == id;
          if (uses) return page.m_palette.id;
        }
      return 255;
    };
    // In id order, so that renumbering the folder keeps the stream's ids.
    std::map<int32_t, std::unique_ptr<CGraphicObject>> made;
    for (const auto& [d, ds] : sets) {
      size_t at = 0;
      while (at < d->m_ods.size()) {
        if (!d->m_ods[at]->m_sequence.first) {
          ++at;
          continue;
        }
        const uint16_t id = d->m_ods[at]->m_nObjectId;
        std::optional<std::vector<uint8_t>> data = JoinFragments(d->m_ods, at);
        std::optional<SDecodedObject> obj;
        if (data) obj = DecodeObject(data->data(), data->size());
        if (!obj) return fail("object " + std::to_string(id) + " of " + ds->m_strName + " does not decode");
        if (made.count(id)) continue;
        auto g = std::make_unique<CGraphicObject>();
        g->m_nId = id;
        g->SetName("Graphic#" + std::to_string(id));
        auto pic = std::make_unique<CPicture>();
        pic->Allocate(obj->width, obj->height, PixelFormat::Indexed8);
        pic->pixels = std::move(obj->pixels);
        pic->table.assign(256, SColor{0, 0, 0, 0});
        pic->tableHasAlpha = true;
        const int pal = paletteOf(id);
        auto it = pds.find(pal);
        if (it != pds.end()) {
          PdsToPalette(*it->second, *pic, matrix);
          CErgbPalette& own = g->Palette();
          for (const SPaletteEntry& e : it->second->m_entries)
            if (e.id < CErgbPalette::kMaxEntries) {
              const SColor& c = pic->table[e.id];
              own.Add(ERGBQUAD{e.id, c.b, c.g, c.r, c.a});
            }
        }
        g->m_nWidth = pic->width;
        g->m_nHeight = pic->height;
        g->m_picture = std::move(pic);
        made.emplace(id, std::move(g));
      }
    }
    for (auto& [id, g] : made) epoch.m_graphics.Add(std::move(g));
    epoch.ResolveLinks();
  }
  return true;
}

// ---------------------------------------------------------------- story IG objects

ZV_IMPLEMENT_DYNCREATE(CStoryIgObject, 1)

bool CStoryIgObject::IsEmpty() const { return m_strSourcePath.empty() && CIgObject::IsEmpty(); }

void CStoryIgObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.Bool(m_bFlag);
  ar.Path(m_strSourcePath);
  if (m_bFlag) {
    ar.Byte(m_nOption);
    ar.Path(m_strSecondPath);
  }
  SerializeHeader(ar);
  SerializeChildren(ar);
}

void CStoryIgObject::Copy(const CNamedPtrArray<CEpoch>& src) {
  CIgObject::Copy(src);
  if (auto* s = dynamic_cast<const CStoryIgObject*>(&src)) {
    m_bFlag = s->m_bFlag;
    m_strSourcePath = s->m_strSourcePath;
    m_nOption = s->m_nOption;
    m_strSecondPath = s->m_strSecondPath;
  }
}

}  // namespace zv

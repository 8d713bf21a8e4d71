#include "graphics/effect_forms.h"

#include <algorithm>
#include <set>
#include <utility>

#include "platform/paths.h"

namespace zv {

namespace {

// Names of the palettes made here, so that only they are ever removed.
constexpr const char* kFadeMark = " fade ";

std::vector<CPage*> PagesOf(CEpoch& epoch) {
  std::vector<CPage*> pages;
  for (size_t d = 0; d < epoch.GetCount(); ++d)
    for (size_t p = 0; p < epoch.GetAt(d)->GetCount(); ++p) pages.push_back(epoch.GetAt(d)->GetAt(p));
  return pages;
}

std::vector<CErgbPalette*> SequencePalettes(const CEffectSequenceObject& seq) { return seq.Palettes(); }

// The (ceil) share of `total` that step `k` of `n` reaches.
int32_t Part(int32_t total, int32_t k, int32_t n) { return static_cast<int32_t>((int64_t{total} * k + n - 1) / n); }

// A palette with the lowest id no other palette of the epoch has, so that
// replacing effects again and again does not run out of the 256 ids.
CErgbPalette* NewPalette(CEpoch& epoch, const std::string& name) {
  std::set<int32_t> taken;
  for (size_t i = 0; i < epoch.m_palettes.GetCount(); ++i) taken.insert(epoch.m_palettes.GetAt(i)->m_nId);
  CErgbPalette* p = epoch.m_palettes.AddPalette();
  int32_t id = 0;
  while (taken.count(id)) ++id;
  p->m_nId = id;
  p->SetName(name);
  return p;
}

// The entries only: `to` keeps its name and id.
void CopyEntries(CErgbPalette& to, const CErgbPalette& from) {
  const std::string name = to.m_strName;
  const int32_t id = to.m_nId;
  to.Copy(from);
  to.m_strName = name;
  to.m_nId = id;
}

}  // namespace

bool ParseEffectSide(const std::string& text, EffectSide& out) {
  static const std::pair<const char*, EffectSide> kSides[] = {
      {"left", EffectSide::kLeft}, {"right", EffectSide::kRight}, {"top", EffectSide::kTop}, {"bottom", EffectSide::kBottom}};
  for (const auto& [name, side] : kSides)
    if (EqualsNoCase(text, name)) return out = side, true;
  return false;
}

CErgbPalette* EnsurePagePalette(CPage& page, CEpoch& epoch, const CGraphicObject* extra) {
  if (page.m_palette.p) return page.m_palette.p;
  std::vector<const CGraphicObject*> used;
  std::set<const CGraphicObject*> seen;
  auto use = [&](const CGraphicObject* g) {
    if (g && seen.insert(g).second) used.push_back(g);
  };
  for (const CBdButton* b : page.Buttons())
    for (const CButtonStateInfo& s : b->m_states) {
      use(s.m_start.p);
      use(s.m_end.p);
    }
  for (const CEffectSequenceObject* seq : {&page.m_inEffects, &page.m_outEffects})
    for (const CGraphicObject* g : seq->Graphics()) use(g);
  use(extra);
  std::unique_ptr<CErgbPalette> made = BuildPagePalette(used);
  if (!made) return nullptr;
  CErgbPalette* palette = NewPalette(epoch, page.m_strName + " palette");
  CopyEntries(*palette, *made);
  page.m_palette.Set(palette);
  return palette;
}

void DropEffectPalettes(CEpoch& epoch, const std::vector<CErgbPalette*>& candidates) {
  std::set<const CErgbPalette*> inUse;
  for (CPage* page : PagesOf(epoch)) {
    inUse.insert(page->m_palette.p);
    for (const CEffectSequenceObject* seq : {&page->m_inEffects, &page->m_outEffects})
      for (CErgbPalette* p : SequencePalettes(*seq)) inUse.insert(p);
  }
  for (CErgbPalette* p : candidates) {
    if (inUse.count(p) || p->m_strName.find(kFadeMark) == std::string::npos) continue;
    const int at = epoch.m_palettes.IndexOf(p);
    if (at >= 0) epoch.m_palettes.RemoveAt(static_cast<size_t>(at));
  }
}

void ClearEffects(CPage& page, bool in) {
  CEffectSequenceObject& seq = in ? page.m_inEffects : page.m_outEffects;
  const std::vector<CErgbPalette*> old = SequencePalettes(seq);
  seq.Reset();
  if (CEpoch* epoch = EpochOf(&page)) DropEffectPalettes(*epoch, old);
}

bool ApplyEffectForm(CPage& page, bool in, const SEffectForm& form, std::string& error) {
  CEpoch* epoch = EpochOf(&page);
  CGraphicObject* g = form.graphic;
  if (!epoch) return error = "the page belongs to no epoch", false;
  if (!g || g->m_nWidth <= 0 || g->m_nHeight <= 0) return error = "the effect needs a picture with a size", false;
  if (form.steps < 1 || form.steps > kMaxFormSteps)
    return error = "an effect has 1 to " + std::to_string(kMaxFormSteps) + " steps", false;
  if (form.x < 0 || form.y < 0 || form.x + g->m_nWidth > 0xFFFF || form.y + g->m_nHeight > 0xFFFF)
    return error = "the picture does not fit on the page there", false;
  if (form.duration > 0xFFFFFF) return error = "an effect lasts at most 186 s", false;

  CErgbPalette* base = EnsurePagePalette(page, *epoch, g);
  if (!base) return error = "no palette can be made from the page's pictures", false;
  CEffectSequenceObject& seq = in ? page.m_inEffects : page.m_outEffects;
  ClearEffects(page, in);
  CWindowObject* window = seq.AddWindow();
  window->m_rect = SRect{form.x, form.y, form.x + g->m_nWidth, form.y + g->m_nHeight};

  const int32_t n = form.steps;
  const uint32_t each = (form.duration + static_cast<uint32_t>(n) - 1) / static_cast<uint32_t>(n);
  const std::string label = page.m_strName + (in ? " in" : " out") + kFadeMark;
  for (int32_t i = 0; i < n; ++i) {
    // Step k of n shows k/n of the picture: rising when it comes in,
    // falling to nothing when it goes.
    const int32_t k = in ? i + 1 : n - 1 - i;
    CEffectObject* e = seq.AddEffect();
    e->m_nDuration = each;
    if (form.kind == SEffectForm::kFade) {
      CErgbPalette* p = NewPalette(*epoch, label + std::to_string(i + 1) + "/" + std::to_string(n));
      CopyEntries(*p, *base);
      for (size_t c = 0; c < p->GetCount(); ++c)
        p->GetAt(c)->alpha = static_cast<uint8_t>((p->GetAt(c)->alpha * k + n / 2) / n);
      e->m_palette.Set(p);
      if (k == 0) continue;  // fully faded: the window stays empty
      CCompositionObject* c = e->AddCompositionObject();
      c->m_graphic.Set(g);
      c->m_window.Set(window);
      c->m_nX = form.x;
      c->m_nY = form.y;
      continue;
    }
    e->m_palette.Set(base);
    if (k == 0) continue;
    const int32_t w = g->m_nWidth, h = g->m_nHeight;
    CCompositionObject* c = e->AddCompositionObject();
    c->m_graphic.Set(g);
    c->m_window.Set(window);
    c->m_bCropped = true;
    c->m_nX = form.x;
    c->m_nY = form.y;
    c->m_crop = SRect{0, 0, w, h};
    // The part already in view is the one nearest the side it comes from.
    switch (form.side) {
      case EffectSide::kLeft: c->m_crop.left = w - Part(w, k, n); break;
      case EffectSide::kRight:
        c->m_crop.right = Part(w, k, n);
        c->m_nX = form.x + w - Part(w, k, n);
        break;
      case EffectSide::kTop: c->m_crop.top = h - Part(h, k, n); break;
      case EffectSide::kBottom:
        c->m_crop.bottom = Part(h, k, n);
        c->m_nY = form.y + h - Part(h, k, n);
        break;
    }
  }
  seq.RefreshIds();
  return true;
}

}  // namespace zv

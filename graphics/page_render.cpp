#include "graphics/page_render.h"

#include <algorithm>

#include "graphics/menu_model.h"
#include "platform/bytes.h"

namespace zv {

bool CCompiledPage::Load(const CDsData& ds, std::string& error) {
  objects_.clear();
  palettes_.clear();
  if (ds.m_ics.empty()) {
    error = "the display set has no interactive composition";
    return false;
  }
  const SVideoDescriptor& video = ds.m_ics.front()->m_composition.video;
  width_ = video.width;
  height_ = video.height;
  try {
    const std::vector<uint8_t> bytes = ds.Composition();
    ic_ = ParseComposition(bytes.data(), bytes.size());
  } catch (const FormatError& e) {
    error = std::string("the interactive composition does not parse: ") + e.what();
    return false;
  }
  // Palettes through the colour matrix the player reads them with.
  const ColorMatrix matrix = ColorMatrixForHeight(height_);
  for (const auto& p : ds.m_pds) palettes_[p->m_nPaletteId] = PdsToPalette(*p, matrix);
  size_t at = 0;
  while (at < ds.m_ods.size()) {
    const uint16_t id = ds.m_ods[at]->m_nObjectId;
    auto data = JoinFragments(ds.m_ods, at);
    if (!data) {
      error = "the fragments of object " + std::to_string(id) + " are incomplete or out of order";
      return false;
    }
    auto obj = DecodeObject(data->data(), data->size());
    if (!obj) {
      error = "object " + std::to_string(id) + " does not decode";
      return false;
    }
    objects_[id] = SObject{obj->width, obj->height, std::move(obj->pixels)};
  }
  return true;
}

const SIgPage* CCompiledPage::FindPage(int pageId) const {
  for (const SIgPage& p : ic_.pages)
    if (p.id == pageId) return &p;
  return nullptr;
}

int CCompiledPage::ShownButton(const SBog& bog, int button) {
  for (const SButton& b : bog.buttons)
    if (b.id == button) return button;
  for (const SButton& b : bog.buttons)
    if (b.id == bog.defaultButtonIdRef) return b.id;
  return -1;
}

namespace {

const SButtonState& StateOf(const SButton& b, int state) {
  return state == CBdButton::kSelected ? b.selected : state == CBdButton::kActivated ? b.activated : b.normal;
}

}  // namespace

int CCompiledPage::FrameCount(const SButton& b, int state) {
  const SButtonState& s = StateOf(b, state);
  if (s.startObjectId == 0xFFFF || s.endObjectId == 0xFFFF || s.endObjectId <= s.startObjectId) return 1;
  return s.endObjectId - s.startObjectId + 1;
}

const CCompiledPage::SObject* CCompiledPage::Object(const SButton& b, int state, int frame) const {
  const SButtonState& s = StateOf(b, state);
  if (s.startObjectId == 0xFFFF) return nullptr;
  const int id = s.startObjectId + std::clamp(frame, 0, FrameCount(b, state) - 1);
  auto it = objects_.find(id);
  return it == objects_.end() ? nullptr : &it->second;
}

bool CCompiledPage::Draw(const SPageView& view, CPicture& out, std::string& error) const {
  const SIgPage* page = FindPage(view.page);
  if (!page) {
    error = "the composition has no page " + std::to_string(view.page);
    return false;
  }
  static const std::vector<SColor> kNone(256, SColor{0, 0, 0, 0});
  auto pal = palettes_.find(page->paletteIdRef);
  const std::vector<SColor>& palette = pal == palettes_.end() ? kNone : pal->second;
  // The plane as palette colours: a drawn object replaces what was there,
  // transparent pixels included, as on the player's graphics plane.
  std::vector<SColor> plane(static_cast<size_t>(width_) * static_cast<size_t>(height_), SColor{0, 0, 0, 0});
  for (const SBog& bog : page->bogs) {
    const int shown = ShownButton(bog, view.button);
    for (const SButton& b : bog.buttons) {
      if (b.id != shown) continue;
      const SObject* o = b.id == view.button ? Object(b, view.state, view.frame) : Object(b, CBdButton::kNormal);
      if (!o) continue;
      const int w = std::min(o->width, width_ - b.x), h = std::min(o->height, height_ - b.y);
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = &o->pixels[static_cast<size_t>(y) * static_cast<size_t>(o->width)];
        SColor* dst = &plane[static_cast<size_t>(b.y + y) * static_cast<size_t>(width_) + b.x];
        for (int x = 0; x < w; ++x) dst[x] = palette[src[x]];
      }
    }
  }
  out.Allocate(width_, height_, PixelFormat::Argb32);
  const CPicture* under = view.backdrop;
  if (under && (under->width != width_ || under->height != height_ || under->format != PixelFormat::Argb32)) {
    error = "the picture under the page is not " + std::to_string(width_) + "x" + std::to_string(height_);
    return false;
  }
  uint8_t* d = out.pixels.data();
  const uint8_t* u = under ? under->pixels.data() : nullptr;
  for (const SColor& c : plane) {
    const SColor bg = u ? SColor{u[1], u[2], u[3], 255} : view.background;
    if (u) u += 4;
    if (bg.a == 0) {
      d[0] = c.a, d[1] = c.r, d[2] = c.g, d[3] = c.b;
    } else {
      // Straight alpha over an opaque colour, rounded.
      auto mix = [&](uint8_t fg, uint8_t low) {
        return static_cast<uint8_t>((fg * c.a + low * (255 - c.a) + 127) / 255);
      };
      d[0] = 255, d[1] = mix(c.r, bg.r), d[2] = mix(c.g, bg.g), d[3] = mix(c.b, bg.b);
    }
    d += 4;
  }
  return true;
}

}  // namespace zv

// Menu text drawn through libass with fonts found by fontconfig: labels of
// generated buttons, anti-aliased, with an optional outline.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/image.h"

namespace zv {

struct STextLook {
  std::string font = "DejaVu Sans";  // a family fontconfig resolves
  int size = 40;                     // pixels
  bool bold = false;
  uint32_t colour = 0xFFFFFF;        // 0xRRGGBB
  uint32_t outlineColour = 0x000000;
  double outline = 0;                // pixels; 0 none
};

enum class TextAlign : uint8_t { kLeft, kCentre };

class CTextDrawer {
 public:
  CTextDrawer();
  ~CTextDrawer();
  CTextDrawer(const CTextDrawer&) = delete;
  CTextDrawer& operator=(const CTextDrawer&) = delete;

  // Starts the renderer; false with `error` when libass cannot be started.
  bool Open(std::string& error);
  // Draws one line of `text` (UTF-8) over the Argb32 `canvas`, vertically
  // centred in the box (x, y, w, h) and aligned in it as `align` says; a
  // line wider than the box is drawn smaller so that it fits. False with
  // `error` when the renderer cannot read it.
  bool Draw(CPicture& canvas, const std::string& text, const STextLook& look, int x, int y, int w, int h,
            TextAlign align, std::string& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Straight-alpha "over": `colour` with opacity `alpha` (0..255) onto one
// Argb32 pixel. Inline: drawing calls it for every pixel.
inline void BlendPixel(uint8_t* d, uint8_t r, uint8_t g, uint8_t b, int alpha) {
  if (alpha <= 0) return;
  const int da = d[0];
  if (alpha == 255 || (da == 0 && alpha < 255)) {
    // What the mix below gives exactly for an opaque source or an empty
    // destination, without its divisions: most pixels of a drawn picture.
    d[0] = static_cast<uint8_t>(alpha);
    d[1] = r;
    d[2] = g;
    d[3] = b;
    return;
  }
  const int oa = alpha + da * (255 - alpha) / 255;
  if (oa == 0) return;
  auto mix = [&](int s, int dc) { return static_cast<uint8_t>((s * alpha + dc * da * (255 - alpha) / 255) / oa); };
  d[1] = mix(r, d[1]);
  d[2] = mix(g, d[2]);
  d[3] = mix(b, d[3]);
  d[0] = static_cast<uint8_t>(oa);
}

}  // namespace zv

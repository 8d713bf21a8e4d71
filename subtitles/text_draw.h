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
// Argb32 pixel.
void BlendPixel(uint8_t* argb, uint8_t r, uint8_t g, uint8_t b, int alpha);

}  // namespace zv

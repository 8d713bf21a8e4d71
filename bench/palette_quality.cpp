// How far the colours a player shows are from a page's pictures: the page's
// automatic palette is made, each picture coded with it, and every visible
// pixel's palette entry, as the palette segment carries it (BT.709 Y, Cr,
// Cb), compared with the pixel's own colour converted alike. Prints the
// mean and the largest difference (the largest of the three components per
// pixel) over the opaque pixels, and the mean alpha difference over the
// partly transparent ones.
// Usage: bench_palette_quality --bench | FILE...  (the files: one page)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "menu_pictures.h"

int main(int argc, char** argv) {
  std::vector<std::unique_ptr<zv::CGraphicObject>> owned;
  if (argc > 1 && std::strcmp(argv[1], "--bench") == 0) {
    // The 20 buttons of bench_page_render in their three states.
    for (int b = 0; b < 20; ++b)
      for (int s = 0; s < 3; ++s) {
        owned.push_back(std::make_unique<zv::CGraphicObject>());
        owned.back()->m_picture = zvbench::ButtonPicture(s, b);
      }
  } else {
    for (int i = 1; i < argc; ++i) {
      auto pic = std::make_unique<zv::CPicture>();
      std::string error;
      if (!zv::DecodeImageFile(argv[i], *pic, error)) {
        std::fprintf(stderr, "bench_palette_quality: %s\n", error.c_str());
        return 2;
      }
      owned.push_back(std::make_unique<zv::CGraphicObject>());
      owned.back()->m_picture = std::move(pic);
    }
  }
  if (owned.empty()) {
    std::fprintf(stderr, "usage: bench_palette_quality --bench | FILE...\n");
    return 64;
  }
  std::vector<const zv::CGraphicObject*> graphics;
  for (auto& g : owned) {
    g->m_nWidth = g->m_picture->width;
    g->m_nHeight = g->m_picture->height;
    graphics.push_back(g.get());
  }
  std::unique_ptr<zv::CErgbPalette> palette = zv::BuildPagePalette(graphics);
  if (!palette) {
    std::fprintf(stderr, "bench_palette_quality: no palette\n");
    return 2;
  }
  zv::CPds pds;
  zv::PaletteToPds(pds, *palette, zv::ColorMatrix::Bt709);
  std::vector<zv::SPaletteEntry> entries(256);
  std::vector<bool> defined(256, false);
  for (const zv::SPaletteEntry& e : pds.m_entries) entries[e.id] = e, defined[e.id] = true;
  double sum = 0, alphaSum = 0;
  std::vector<size_t> histogram(256, 0);
  int worst = 0;
  size_t opaque = 0, soft = 0, lost = 0;
  for (const zv::CGraphicObject* g : graphics) {
    const zv::CPicture& pic = *g->m_picture;
    const zv::CPicture coded = zv::MapToPalette(pic, *palette);
    for (int y = 0; y < pic.height; ++y)
      for (int x = 0; x < pic.width; ++x) {
        const zv::SColor c = pic.At(x, y);
        const uint8_t i = coded.Row(y)[x];
        const zv::SPaletteEntry shown = defined[i] ? entries[i] : zv::SPaletteEntry{i, 16, 128, 128, 0};
        if (c.a < 5) {
          lost += shown.t != 0;
          continue;
        }
        if (c.a < 250) {
          ++soft;
          alphaSum += std::abs(shown.t - c.a);
          continue;
        }
        const zv::SPaletteEntry want = zv::RgbToYCrCb(0, c.r, c.g, c.b, 255, zv::ColorMatrix::Bt709);
        const int d = std::max({std::abs(shown.y - want.y), std::abs(shown.cr - want.cr), std::abs(shown.cb - want.cb)});
        sum += d;
        ++histogram[static_cast<size_t>(d)];
        worst = std::max(worst, d);
        ++opaque;
      }
  }
  // The difference that all but one pixel in a thousand stay within.
  int p999 = 0;
  for (size_t seen = 0; p999 < 255 && (seen += histogram[static_cast<size_t>(p999)]) * 1000 < opaque * 999;) ++p999;
  std::printf("%zu pictures, %zu palette entries: opaque pixels %zu, mean %.3f, 99.9%% within %d, max %d; soft pixels "
              "%zu, mean alpha %.3f; invisible pixels shown %zu\n",
              graphics.size(), palette->GetCount(), opaque, opaque ? sum / static_cast<double>(opaque) : 0.0, p999,
              worst, soft, soft ? alphaSum / static_cast<double>(soft) : 0.0, lost);
  return 0;
}

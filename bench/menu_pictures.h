// The menus the menu benchmarks share, made in memory (no image files are
// read): a 1080p page of 20 buttons of 360x160 in three states, each
// picture a gradient with noise and soft rounded corners.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/ig_compiler.h"
#include "graphics/menu_model.h"

namespace zvbench {

using zv::CPicture;

inline std::unique_ptr<CPicture> ButtonPicture(int state, int n) {
  auto p = std::make_unique<CPicture>();
  p->Allocate(360, 160, zv::PixelFormat::Argb32);
  uint32_t seed = 777u + static_cast<uint32_t>(n * 3 + state);
  for (int y = 0; y < p->height; ++y) {
    uint8_t* row = p->Row(y);
    for (int x = 0; x < p->width; ++x, row += 4) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 29) - 4;
      // Rounded corners: cut out, with a soft rim.
      const int dx = std::max({0, 20 - x, x - 339}), dy = std::max({0, 20 - y, y - 139});
      const int d2 = dx * dx + dy * dy;
      row[0] = d2 > 400 ? 0 : d2 > 300 ? 128 : 255;
      row[1] = static_cast<uint8_t>(std::clamp(40 + state * 70 + x / 4 + noise, 0, 255));
      row[2] = static_cast<uint8_t>(std::clamp(60 + y + noise, 0, 255));
      row[3] = static_cast<uint8_t>(std::clamp(200 - x / 3 + n * 5 + noise, 0, 255));
    }
  }
  return p;
}

struct Menu {
  zv::CIgObject ig;
  zv::CEpoch* epoch = nullptr;
  int64_t pixels = 0;
  int nextId = 0;

  Menu() {
    ig.SetVideoFormat(5);
    epoch = ig.AddEpoch();
  }
  zv::CGraphicObject* Graphic(std::unique_ptr<CPicture> pic) {
    auto g = std::make_unique<zv::CGraphicObject>();
    g->m_nId = nextId++;
    g->SetName("G" + std::to_string(g->m_nId));
    g->m_nWidth = pic->width;
    g->m_nHeight = pic->height;
    pixels += int64_t{pic->width} * pic->height;
    g->m_picture = std::move(pic);
    return epoch->m_graphics.Add(std::move(g));
  }
  void Button(zv::CPage* page, int x, int y, const std::vector<zv::CGraphicObject*>& states) {
    zv::CBdButton* b = page->AddBog()->AddButton();
    b->m_nX = static_cast<uint16_t>(x);
    b->m_nY = static_cast<uint16_t>(y);
    for (size_t s = 0; s < states.size(); ++s) {
      b->m_states[s].m_start.Set(states[s]);
      b->m_states[s].m_end.Set(states[s]);
    }
  }
};

inline void Buttons(Menu& m) {
  zv::CPage* page = m.epoch->AddDisplaySet()->AddPage();
  for (int b = 0; b < 20; ++b)
    m.Button(page, 40 + (b % 4) * 470, 40 + (b / 4) * 200,
             {m.Graphic(ButtonPicture(0, b)), m.Graphic(ButtonPicture(1, b)), m.Graphic(ButtonPicture(2, b))});
}

}  // namespace zvbench

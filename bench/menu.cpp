// Menu compilation speed in megapixels of button pictures per second: the
// palette each page gets from its pictures, quantizing, mapping and run-length
// coding, for two menus made in memory (no image files are read):
//   full-width  three display sets of one page each with three buttons of
//               1920x360 in three states (27 pictures, 200 colours each)
//   buttons     one 1080p page of 20 buttons of 360x160 in three states
//               (60 pictures, gradients of many colours, soft corners)
// Medians of RUNS runs. Usage: bench_menu [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "graphics/ig_compiler.h"
#include "graphics/menu_model.h"
#include "menu_pictures.h"

namespace {

using zv::CPicture;
using zvbench::Menu;
using zvbench::Buttons;

std::unique_ptr<CPicture> WidePicture(int state, int n) {
  auto p = std::make_unique<CPicture>();
  p->Allocate(1920, 360, zv::PixelFormat::Argb32);
  for (int y = 0; y < p->height; ++y) {
    uint8_t* row = p->Row(y);
    for (int x = 0; x < p->width; ++x, row += 4) {
      // 200 colours in bands of ten columns and forty rows.
      const int k = (x / 10 + (y / 40) * 7 + n) % 200;
      row[0] = 255;
      row[1] = static_cast<uint8_t>(k * 5 / 4);
      row[2] = static_cast<uint8_t>(255 - k);
      row[3] = static_cast<uint8_t>((k * 37 + state * 60) & 255);
    }
  }
  return p;
}

void FullWidth(Menu& m) {
  for (int d = 0; d < 3; ++d) {
    zv::CPage* page = m.epoch->AddDisplaySet()->AddPage();
    for (int b = 0; b < 3; ++b)
      m.Button(page, 0, b * 360,
               {m.Graphic(WidePicture(0, d * 3 + b)), m.Graphic(WidePicture(1, d * 3 + b)),
                m.Graphic(WidePicture(2, d * 3 + b))});
  }
}

// Seconds to compile every display set of the menu.
double Compile(Menu& m) {
  const auto t0 = std::chrono::steady_clock::now();
  for (size_t d = 0; d < m.epoch->GetCount(); ++d) {
    zv::CDsData out;
    if (!zv::CompileDisplaySet(m.ig, *m.epoch, *m.epoch->GetAt(d), {}, out)) {
      std::fprintf(stderr, "bench_menu: display set %zu did not compile\n", d);
      std::exit(2);
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  struct Case {
    const char* name;
    void (*make)(Menu&);
  };
  for (const Case& c : {Case{"full-width page (27 x 1920x360)", FullWidth}, Case{"1080p page of 20 buttons x 3", Buttons}}) {
    Menu m;
    c.make(m);
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) t.push_back(Compile(m));
    std::sort(t.begin(), t.end());
    const double median = t[t.size() / 2];
    std::printf("menu compile, %-33s %6.1f MP in %7.1f ms: %6.1f MP/s (median of %d)\n", c.name, m.pixels / 1e6,
                median * 1e3, m.pixels / 1e6 / median, runs);
  }
  return 0;
}

// Drawing a menu page as the player draws it, the way `menu render` and the
// page editor do, for a 1080p page of 20 buttons in three states (goal: under
// 150 ms):
//   compile+draw  the display set compiled, its objects decoded, the page
//                 drawn over a colour (a new picture, or `menu render`)
//   redraw        the page drawn again from the decoded objects (a button
//                 moved or another state shown in the editor)
// Medians of RUNS runs. Usage: bench_page_render [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "graphics/page_render.h"
#include "menu_pictures.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench_page_render: %s\n", what);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  zvbench::Menu m;
  zvbench::Buttons(m);
  zv::CDisplaySet& ds = *m.epoch->GetAt(0);
  zv::SPageView view;
  view.page = 0;
  view.button = 7;
  view.state = 1;
  view.background = zv::SColor{0x80, 0x80, 0x00, 255};
  std::vector<double> full, redraw;
  zv::CCompiledPage page;
  zv::CPicture pic;
  std::string error;
  for (int i = 0; i < runs; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    zv::CDsData out;
    if (!zv::CompileDisplaySet(m.ig, *m.epoch, ds, {}, out)) Fail("the page did not compile");
    if (!page.Load(out, error) || !page.Draw(view, pic, error)) Fail(error.c_str());
    full.push_back(Seconds(t0));
    t0 = std::chrono::steady_clock::now();
    view.button = (view.button + 1) % 20;
    if (!page.Draw(view, pic, error)) Fail(error.c_str());
    redraw.push_back(Seconds(t0));
  }
  std::sort(full.begin(), full.end());
  std::sort(redraw.begin(), redraw.end());
  std::printf("page render, 1080p page of 20 buttons x 3: compile+draw %7.1f ms, redraw %6.1f ms (goal 150 ms; median of %d)\n",
              full[full.size() / 2] * 1e3, redraw[redraw.size() / 2] * 1e3, runs);
  return 0;
}

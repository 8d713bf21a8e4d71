// A picture shown by two pages that each get an automatic palette, as
// libbluray's graphics controller composes both pages: the picture is coded
// once, so both pages must draw it with palettes that agree on its colours.
// Each page has a picture of its own in other colours beside it, so that
// palettes made from each page alone would put the shared picture's colours
// at different entries. The same holds when one of the pages has a palette
// of the author's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "platform/image.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kW = 320, kH = 90;

// A gradient with noise, hundreds of colours, opaque but for cut-out
// corners; `hue` picks its colours.
zv::CPicture Noisy(int hue) {
  zv::CPicture p;
  p.Allocate(kW, kH, zv::PixelFormat::Argb32);
  uint32_t seed = 4242u + static_cast<uint32_t>(hue);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 29) - 4;
      auto level = [&](int v) { return static_cast<uint8_t>(std::clamp(v + noise, 0, 255)); };
      uint8_t* d = p.Row(y) + static_cast<size_t>(x) * 4;
      const bool corner = (x < 8 || x >= kW - 8) && (y < 8 || y >= kH - 8);
      d[0] = corner ? 0 : 255;
      if (hue == 0) d[1] = level(20 + x / 8), d[2] = level(30 + y / 2), d[3] = level(110 + x / 3);  // navy
      if (hue == 1) d[1] = level(150 + x / 4), d[2] = level(40 + y), d[3] = level(20 + x / 10);     // red
      if (hue == 2) d[1] = level(30 + y / 2), d[2] = level(120 + x / 3), d[3] = level(50 + x / 6);   // green
    }
  return p;
}

// Steps of colour, few enough for a palette of the author's: 48 colours and
// cut-out corners; `hue` 0 navy, 1 yellow.
zv::CPicture Smooth(int hue) {
  zv::CPicture p;
  p.Allocate(kW, kH, zv::PixelFormat::Argb32);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* d = p.Row(y) + static_cast<size_t>(x) * 4;
      const bool corner = (x < 8 || x >= kW - 8) && (y < 8 || y >= kH - 8);
      const int a = x / 20 * 8, b = y / 30 * 20;
      d[0] = corner ? 0 : 255;
      if (hue == 0) d[1] = static_cast<uint8_t>(20 + a / 2), d[2] = static_cast<uint8_t>(30 + b), d[3] = static_cast<uint8_t>(110 + a);
      if (hue == 1) d[1] = static_cast<uint8_t>(200 + a / 4), d[2] = static_cast<uint8_t>(170 + b), d[3] = static_cast<uint8_t>(20 + a / 2);
    }
  return p;
}

// Mean over the picture's opaque pixels of the largest channel difference
// between the plane at (x0, y0) and the picture; a pixel the plane shows
// transparent counts 255.
double MeanError(const std::vector<uint8_t>& plane, int x0, int y0, const zv::CPicture& pic) {
  if (plane.size() != 1920u * 1080u * 4u) return 255;
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x) {
      const zv::SColor c = pic.At(x, y);
      if (c.a < 250) continue;
      const uint8_t* p = &plane[(static_cast<size_t>(y0 + y) * 1920 + static_cast<size_t>(x0 + x)) * 4];
      ++n;
      if (p[3] < 250) {
        sum += 255;
        continue;
      }
      double rgb[3];
      zvtest::PlaneRgb(p, rgb);
      const double want[3] = {double(c.r), double(c.g), double(c.b)};
      double worst = 0;
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(std::clamp(rgb[k], 0.0, 255.0) - want[k]));
      sum += worst;
    }
  return n ? sum / static_cast<double>(n) : 255;
}

std::string Button(const std::string& name, int x, int y, const std::string& file, const std::string& type) {
  return "<ButtonOverlapGroup><Button name=\"" + name + "\" x=\"" + std::to_string(x) + "\" y=\"" +
         std::to_string(y) + "\" " + type + "><Normal path=\"" + file + "\"/><Selected path=\"" + file +
         "\"/></Button></ButtonOverlapGroup>";
}

// A project whose top menu is `pages` (the display set's XML), built to
// `d`/out.
void BuildMenuDisc(const std::string& d, const std::string& pages) {
  const std::string p = d + "/p.zvpj";
  zvtest::WriteText(d + "/menu.xml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HDMVExport><InteractiveGraphic width=\"1920\" "
                    "height=\"1080\"><DisplaySet>" +
                        pages + "</DisplaySet></InteractiveGraphic></HDMVExport>\n");
  fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
  fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/bg.264");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"new", p},
           {"source", "add", p, "Movie#1/Clip#1", d + "/v.264"},
           {"source", "add", p, "Top Menu/Background AV", d + "/bg.264"},
           {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
           {"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"},
           {"build", p, d + "/out", "--yes"}}) {
    std::vector<std::string> argv{ZV_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const zvtest::RunResult r = zvtest::Run(argv);
    ASSERT_EQ(r.status, 0) << args[0] << ":\n" << r.err << r.out;
  }
}

// The plane libbluray shows after `keys` (each pressed in turn).
std::vector<uint8_t> PlaneAfter(const std::string& d, const std::vector<std::string>& keys) {
  std::vector<std::string> args;
  for (const std::string& k : keys) args.insert(args.end(), {"--press", k});
  const std::string overlays = d + "/planes";
  fs::remove_all(overlays);
  const std::vector<std::string> lines = zvtest::PlayDisc(d + "/out/Zelvane/DISC", args, overlays);
  const long menu = zvtest::Find(lines, "event TITLE 0");
  const long last = keys.empty() ? menu : zvtest::Find(lines, "press " + keys.back());
  EXPECT_GE(menu, 0);
  EXPECT_GE(last, menu);
  if (menu < 0 || last < menu) return {};
  const std::string shown = zvtest::Shown(lines, last);
  EXPECT_FALSE(shown.empty());
  return shown.empty() ? std::vector<uint8_t>{} : zvtest::ReadPlane(overlays + "/" + shown);
}

TEST(MenuSharedPicture, APageWithItsOwnPaletteAndPagesWithMadeOnesDrawTheSharedPictureAlike) {
  zvtest::TempDir dir;
  const std::string d = dir.Path();
  const zv::CPicture shared = Smooth(0), third = Smooth(1), first = Noisy(1), second = Noisy(2);
  // The author's palette lists the third page's colours first, so its
  // entries of the shared picture's colours differ from a made palette's.
  zv::CPicture palette;
  palette.Allocate(kW, 2 * kH, zv::PixelFormat::Argb32);
  for (int y = 0; y < 2 * kH; ++y)
    std::copy_n((y < kH ? third.Row(y) : shared.Row(y - kH)), kW * 4, palette.Row(y));
  std::string error;
  for (const auto& [name, pic] : std::vector<std::pair<std::string, const zv::CPicture*>>{
           {"shared", &shared}, {"third", &third}, {"first", &first}, {"second", &second}, {"palette", &palette}})
    ASSERT_TRUE(zv::WritePngFile(d + "/" + name + ".png", *pic, error)) << error;
  const std::string title = "type=\"Title\" movie-group=\"Movie#1\" movie=\"Title#1\"";
  BuildMenuDisc(d, "<Page name=\"First\">" + Button("One", 800, 200, "first.png", title) +
                       Button("Next", 800, 500, "shared.png", "type=\"Page\" page=\"Second\"") +
                       Button("Last", 800, 800, "third.png", "type=\"Page\" page=\"Third\"") +
                       "</Page><Page name=\"Second\">" + Button("Two", 800, 200, "second.png", title) +
                       Button("Back", 800, 500, "shared.png", "type=\"Page\" page=\"First\"") +
                       "</Page><Page name=\"Third\" PalettePath=\"palette.png\">" +
                       Button("Three", 800, 200, "third.png", title) +
                       Button("Home", 800, 500, "shared.png", "type=\"Page\" page=\"First\"") + "</Page>");
  if (HasFatalFailure()) return;
  const std::vector<uint8_t> a = PlaneAfter(d, {});
  const std::vector<uint8_t> b = PlaneAfter(d, {"down", "enter"});
  const std::vector<uint8_t> c = PlaneAfter(d, {"down", "down", "enter"});
  constexpr double kTolerance = 8.0;
  EXPECT_LE(MeanError(a, 800, 200, first), kTolerance) << "the first page's own picture";
  EXPECT_LE(MeanError(b, 800, 200, second), kTolerance) << "the second page's own picture (the page did not open?)";
  EXPECT_LE(MeanError(c, 800, 200, third), kTolerance) << "the third page's own picture (the page did not open?)";
  EXPECT_LE(MeanError(a, 800, 800, third), kTolerance) << "the third page's picture on the first page";
  EXPECT_LE(MeanError(a, 800, 500, shared), kTolerance) << "the shared picture on the first page";
  EXPECT_LE(MeanError(b, 800, 500, shared), kTolerance) << "the shared picture on the second page";
  EXPECT_LE(MeanError(c, 800, 500, shared), kTolerance) << "the shared picture on the page with its own palette";
}

TEST(MenuSharedPicture, BothPagesDrawTheSharedPictureInItsOwnColours) {
  zvtest::TempDir dir;
  const std::string d = dir.Path();
  const zv::CPicture shared = Noisy(0), first = Noisy(1), second = Noisy(2);
  std::string error;
  ASSERT_TRUE(zv::WritePngFile(d + "/shared.png", shared, error)) << error;
  ASSERT_TRUE(zv::WritePngFile(d + "/first.png", first, error)) << error;
  ASSERT_TRUE(zv::WritePngFile(d + "/second.png", second, error)) << error;
  const std::string title = "type=\"Title\" movie-group=\"Movie#1\" movie=\"Title#1\"";
  BuildMenuDisc(d, "<Page name=\"First\">" + Button("One", 800, 300, "first.png", title) +
                       Button("Next", 800, 600, "shared.png", "type=\"Page\" page=\"Second\"") +
                       "</Page><Page name=\"Second\">" + Button("Two", 800, 300, "second.png", title) +
                       Button("Back", 800, 600, "shared.png", "type=\"Page\" page=\"First\"") + "</Page>");
  if (HasFatalFailure()) return;
  // Down to "Next", ENTER: the second page.
  const std::vector<uint8_t> a = PlaneAfter(d, {});
  const std::vector<uint8_t> b = PlaneAfter(d, {"down", "enter"});

  // Quantizing noise of +-4 to a shared palette leaves a few steps.
  constexpr double kTolerance = 8.0;
  EXPECT_LE(MeanError(a, 800, 300, first), kTolerance) << "the first page's own picture";
  EXPECT_LE(MeanError(b, 800, 300, second), kTolerance) << "the second page's own picture (the page did not open?)";
  EXPECT_LE(MeanError(a, 800, 600, shared), kTolerance) << "the shared picture on the first page";
  EXPECT_LE(MeanError(b, 800, 600, shared), kTolerance) << "the shared picture on the second page";
}

}  // namespace

// An HD menu page made from a description file without a palette of its
// own, as libbluray's graphics controller composes it: saturated colours
// arrive at their BT.709 levels, a soft shadow and anti-aliased edges keep
// their partial transparency, and a button of 30,000 colours keeps its
// gradient. The source pictures are written by the test itself.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "graphics/object_coding.h"
#include "interop/ig_plane.h"
#include "platform/image.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct Button {
  std::string name;
  int x, y;
  zv::CPicture pic;
};

void SetArgb(zv::CPicture& p, int x, int y, zv::SColor c) {
  uint8_t* d = p.Row(y) + static_cast<size_t>(x) * 4;
  d[0] = c.a, d[1] = c.r, d[2] = c.g, d[3] = c.b;
}

// Six flat saturated stripes.
zv::CPicture Stripes() {
  const zv::SColor colours[6] = {{255, 255, 0, 255}, {255, 0, 0, 255},   {0, 255, 0, 255},
                                 {0, 0, 255, 255},   {255, 0, 255, 255}, {0, 255, 255, 255}};
  zv::CPicture p;
  p.Allocate(240, 80, zv::PixelFormat::Argb32);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 240; ++x) SetArgb(p, x, y, colours[x / 40]);
  return p;
}

// A white plate with a round, anti-aliased outline and a black shadow at
// alpha 128 whose outer edge fades out over 12 pixels.
zv::CPicture Shadowed() {
  zv::CPicture p;
  p.Allocate(240, 120, zv::PixelFormat::Argb32);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 240; ++x) {
      // The shadow: a rectangle 20..230 x 20..110, its border fading.
      const double inside = std::min({x - 8.0, 232.0 - x, y - 8.0, 112.0 - y}) / 12.0;
      const double shadow = std::clamp(inside, 0.0, 1.0) * 128.0;
      // The plate: an ellipse centred at 110,55, with a one-pixel soft edge.
      const double d = std::hypot((x - 110) / 90.0, (y - 55) / 40.0);
      const double plate = std::clamp((1.0 - d) * 40.0, 0.0, 1.0);
      // Plate over shadow.
      const double a = plate + shadow / 255.0 * (1 - plate);
      const double white = a > 0 ? plate / a : 0;
      const uint8_t v = static_cast<uint8_t>(std::lround(255 * white));
      SetArgb(p, x, y, zv::SColor{v, v, v, static_cast<uint8_t>(std::lround(a * 255))});
    }
  return p;
}

// 200 x 150 pixels, each of its own colour.
zv::CPicture Gradient() {
  zv::CPicture p;
  p.Allocate(200, 150, zv::PixelFormat::Argb32);
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x)
      SetArgb(p, x, y,
              zv::SColor{static_cast<uint8_t>(x * 256 / 200), static_cast<uint8_t>(y * 256 / 150),
                         static_cast<uint8_t>(96 + (x + y) / 8), 255});
  return p;
}

class MenuColourDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    buttons_ = {{"Stripes", 200, 200, Stripes()}, {"Shadow", 600, 200, Shadowed()},
                {"Gradient", 1000, 200, Gradient()}};
    std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<HDMVExport>
  <InteractiveGraphic width="1920" height="1080">
    <DisplaySet>
      <Page name="Main">)";
    for (const Button& b : buttons_) {
      std::string error;
      const std::string file = b.name + ".png";
      if (!zv::WritePngFile(d + "/" + file, b.pic, error)) return error;
      xml += "\n        <ButtonOverlapGroup><Button name=\"" + b.name + "\" x=\"" + std::to_string(b.x) + "\" y=\"" +
             std::to_string(b.y) + "\"><Normal path=\"" + file + "\"/><Selected path=\"" + file +
             "\"/></Button></ButtonOverlapGroup>";
    }
    xml += R"(
      </Page>
    </DisplaySet>
  </InteractiveGraphic>
</HDMVExport>
)";
    zvtest::WriteText(d + "/menu.xml", xml);
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    const std::string p = d + "/p.zvpj";
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Movie#1/Clip#1", d + "/v.264"},
        {"source", "add", p, "Top Menu/Background AV", d + "/v.264"},
        {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
        {"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"},
        {"build", p, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      std::vector<std::string> argv{ZV_BINARY};
      argv.insert(argv.end(), args.begin(), args.end());
      const zvtest::RunResult r = zvtest::Run(argv);
      if (r.status != 0) return args[0] + " " + (args.size() > 1 ? args[1] : "") + " failed:\n" + r.err + r.out;
      if (args[0] == "build") buildLog_ = zvtest::Lines(r.out + r.err);
    }
    const std::string overlays = d + "/planes";
    fs::create_directories(overlays);
    const zvtest::RunResult r = zvtest::Run({ZV_BDCLIENT, "play", "--max-reads", "20000", "--stop-on-repeat",
                                             "--overlay-dir", overlays, d + "/out/Zelvane/DISC"});
    if (r.status != 0) return "the client failed:\n" + r.err + r.out;
    const std::vector<std::string> lines = zvtest::Lines(r.out);
    const long menu = zvtest::Find(lines, "event TITLE 0");
    if (menu < 0) return "the top menu did not play:\n" + r.out;
    const std::string file = zvtest::Shown(lines, menu);
    if (file.empty()) return "nothing was drawn:\n" + r.out;
    plane_ = zvtest::ReadPlane(overlays + "/" + file);
    if (plane_.size() != 1920u * 1080u * 4u) return "the plane has " + std::to_string(plane_.size()) + " bytes";
    return {};
  }

  // Y, Cr, Cb, T of the plane where pixel (x, y) of button `b` shows.
  static const uint8_t* At(const Button& b, int x, int y) {
    return &plane_[(static_cast<size_t>(b.y + y) * 1920 + static_cast<size_t>(b.x + x)) * 4];
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_;
  static std::vector<std::string> buildLog_;
  static std::vector<Button> buttons_;
  static std::vector<uint8_t> plane_;
};

std::unique_ptr<zvtest::TempDir> MenuColourDisc::dir_;
std::string MenuColourDisc::error_;
std::vector<std::string> MenuColourDisc::buildLog_;
std::vector<Button> MenuColourDisc::buttons_;
std::vector<uint8_t> MenuColourDisc::plane_;

// The build warns about the author's buttons (none has an activated
// picture) and not about the invisible ones it adds itself.
TEST_F(MenuColourDisc, TheBuildWarnsOnlyAboutTheAuthorsButtons) {
  std::string item;
  int warnings = 0;
  for (const std::string& l : buildLog_) {
    if (l.size() > 3 && l.compare(l.size() - 3, 3, "...") == 0) item = l;
    if (l.find("has no graphics") == std::string::npos) continue;
    ++warnings;
    bool authors = false;
    for (const Button& b : buttons_) authors = authors || item.find(" " + b.name + "...") != std::string::npos;
    EXPECT_TRUE(authors) << l << " after " << item;
  }
  EXPECT_EQ(warnings, 3) << "the activated state of each of the three buttons";
}

TEST_F(MenuColourDisc, SaturatedColoursShowAtTheirBt709Levels) {
  const Button& b = buttons_[0];
  int far = 0;
  for (int y = 0; y < b.pic.height; ++y)
    for (int x = 0; x < b.pic.width; ++x) {
      const zv::SColor c = b.pic.At(x, y);
      const zv::SPaletteEntry want = zv::RgbToYCrCb(0, c.r, c.g, c.b, 255, zv::ColorMatrix::Bt709);
      const uint8_t* p = At(b, x, y);
      const bool near = std::abs(p[0] - want.y) <= 2 && std::abs(p[1] - want.cr) <= 2 &&
                        std::abs(p[2] - want.cb) <= 2 && p[3] == 255;
      if (!near && far++ == 0)
        ADD_FAILURE() << "at " << x << "," << y << " colour " << +c.r << " " << +c.g << " " << +c.b << ": Y Cr Cb T "
                      << +p[0] << " " << +p[1] << " " << +p[2] << " " << +p[3] << ", BT.709 gives " << +want.y << " "
                      << +want.cr << " " << +want.cb;
    }
  EXPECT_EQ(far, 0);
}

TEST_F(MenuColourDisc, ShadowsAndSoftEdgesKeepTheirTransparency) {
  const Button& b = buttons_[1];
  double error = 0;
  int soft = 0, halfShadow = 0, halfShadowRight = 0;
  for (int y = 0; y < b.pic.height; ++y)
    for (int x = 0; x < b.pic.width; ++x) {
      const zv::SColor c = b.pic.At(x, y);
      const uint8_t* p = At(b, x, y);
      if (c.a < 5) {
        EXPECT_EQ(p[3], 0) << x << "," << y;
        continue;
      }
      if (c.a > 250) continue;
      ++soft;
      error += std::abs(p[3] - c.a);
      if (c.a == 128) {
        ++halfShadow;
        halfShadowRight += std::abs(p[3] - 128) <= 8;
      }
    }
  ASSERT_GT(soft, 1000);
  EXPECT_LE(error / soft, 8.0) << "mean alpha error over " << soft << " soft pixels";
  EXPECT_EQ(halfShadowRight, halfShadow) << "the shadow at alpha 128";
}

TEST_F(MenuColourDisc, AThirtyThousandColourGradientKeepsItsColours) {
  const Button& b = buttons_[2];
  double sum = 0;
  int n = 0;
  for (int y = 0; y < b.pic.height; ++y)
    for (int x = 0; x < b.pic.width; ++x) {
      const zv::SColor c = b.pic.At(x, y);
      double rgb[3];
      zvtest::PlaneRgb(At(b, x, y), rgb);
      const double want[3] = {double(c.r), double(c.g), double(c.b)};
      for (int k = 0; k < 3; ++k) {
        const double e = std::clamp(rgb[k], 0.0, 255.0) - want[k];
        sum += e * e;
        ++n;
      }
    }
  const double psnr = 10 * std::log10(255.0 * 255.0 / (sum / n));
  EXPECT_GE(psnr, 30.0);
}

}  // namespace

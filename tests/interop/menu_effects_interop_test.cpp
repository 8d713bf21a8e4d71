// Page effects authored in a menu description, as libbluray plays them, and
// menus held to the decoder's buffers: a menu too large for the decoded
// object buffer is refused, a large one that fits is built so that its clip
// passes an independent re-simulation of the coded-data buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "interop/menu_clip_check.h"
#include "platform/image.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::Find;
using zvtest::StartsWith;

namespace {

const std::string kPictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/";

zvtest::RunResult Zelvane(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return zvtest::Run(argv);
}

// Runs the steps; the failing one with its output, empty when all pass.
std::string Steps(const std::vector<std::vector<std::string>>& steps, std::string* buildLog = nullptr) {
  for (const auto& args : steps) {
    const zvtest::RunResult r = Zelvane(args);
    if (args[0] == "build" && buildLog) *buildLog = r.err + r.out;
    if (r.status != 0) {
      std::string line = "zelvane";
      for (const std::string& a : args) line += " " + a;
      return line + " failed:\n" + r.err + r.out;
    }
  }
  return {};
}

// Pictures of w x h named n00.png...: noise (as large coded as decoded), or
// one flat colour each.
void Pictures(const std::string& dir, int count, int w, int h, bool noise) {
  uint32_t seed = 7;
  for (int i = 0; i < count; ++i) {
    zv::CPicture pic;
    pic.Allocate(w, h, zv::PixelFormat::Indexed8);
    for (int c = 0; c < 256; ++c)
      pic.table.push_back(zv::SColor{static_cast<uint8_t>(c), static_cast<uint8_t>(c * 7), static_cast<uint8_t>(c * 13), 255});
    for (uint8_t& p : pic.pixels) {
      seed = seed * 1103515245u + 12345u;
      p = static_cast<uint8_t>(noise ? seed >> 24 : i);
    }
    char name[32];
    std::snprintf(name, sizeof name, "/n%02d.png", i);
    std::string error;
    ASSERT_TRUE(zv::WritePngFile(dir + name, pic, error)) << error;
  }
}

// A page of `rows` groups of 1920 x 360 buttons, `perRow` buttons each,
// every state a picture of its own.
std::string PageOfPictures(int rows, int perRow) {
  std::string groups;
  int k = 0;
  for (int r = 0; r < rows; ++r) {
    groups += "<ButtonOverlapGroup name=\"G" + std::to_string(r) + "\">";
    for (int b = 0; b < perRow; ++b) {
      char names[3][16];
      for (auto& n : names) std::snprintf(n, sizeof n, "n%02d.png", k++);
      groups += "<Button x=\"0\" y=\"" + std::to_string(r * 360) + "\"><Normal path=\"" + names[0] +
                "\"/><Selected path=\"" + names[1] + "\"/><Activated path=\"" + names[2] + "\"/></Button>";
    }
    groups += "</ButtonOverlapGroup>\n";
  }
  return "<?xml version=\"1.0\"?>\n<HDMVExport><InteractiveGraphic width=\"1920\" height=\"1080\"><DisplaySet>"
         "<Page name=\"Chapters\">\n" + groups + "</Page></DisplaySet></InteractiveGraphic></HDMVExport>\n";
}

class MenuLimits : public ::testing::Test {
 protected:
  zvtest::TempDir dir;
  std::string p;
  void SetUp() override {
    const std::string d = dir.Path();
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    p = d + "/p.zvpj";
    ASSERT_EQ(Steps({{"new", p},
                     {"source", "add", p, "Movie#1/Clip#1", d + "/v.264"},
                     {"source", "add", p, "Top Menu/Background AV", d + "/v.264"}}),
              "");
  }
};

TEST_F(MenuLimits, APageBeyondTheDecodedObjectBufferIsRefusedNamingItsSize) {
  const std::string d = dir.Path();
  Pictures(d, 27, 1920, 360, false);
  zvtest::WriteText(d + "/menu.xml", PageOfPictures(3, 3));
  ASSERT_EQ(Steps({{"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"}}), "");
  const zvtest::RunResult r = Zelvane({"build", p, d + "/out", "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE((r.err + r.out).find("Page \"Chapters\": 18.7 MB of decoded pictures, the player holds 16 MB"),
            std::string::npos)
      << r.err << r.out;
  EXPECT_FALSE(fs::exists(d + "/out/Zelvane/DISC/BDMV/index.bdmv"));
}

TEST_F(MenuLimits, ALargeMenuThatFitsIsBuiltDecodableAndItsLatePagesWarnedOf) {
  const std::string d = dir.Path();
  // 12 pictures of noise: 8.3 MB decoded, about as much coded.
  Pictures(d, 12, 1920, 360, true);
  zvtest::WriteText(d + "/menu.xml", PageOfPictures(2, 2));
  std::string log;
  ASSERT_EQ(Steps({{"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"},
                   {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
                   {"build", p, d + "/out", "--yes"}},
                  &log),
            "");
  // The page's pictures arrive over more than a second: either the menu
  // waits for them or they come after it shows; the log says which.
  const bool said = log.find("Warning:the menu shows ") != std::string::npos ||
                    log.find("Warning:Page \"Chapters\": its pictures are decoded ") != std::string::npos;
  EXPECT_TRUE(said) << log;
  EXPECT_EQ(zvtest::ExpectMenuClipsDecodable(d + "/out/Zelvane/DISC"), 1);
}

// A description whose first page fades a picture in and slides it out.
class EffectDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    const std::string d = dir_->Path();
    for (const auto& e : fs::directory_iterator(kPictures))
      if (e.path().extension() == ".png") fs::copy_file(e.path(), d + "/" + e.path().filename().string());
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    zvtest::WriteText(d + "/menu.xml", R"(<?xml version="1.0"?>
<HDMVExport>
  <InteractiveGraphic width="1920" height="1080">
    <DisplaySet>
      <Page name="Main" animation-frame-rate="2">
        <InEffect type="fade" path="play_s.png" x="760" y="200" duration="800" steps="4"/>
        <OutEffect type="slide" side="left" path="play_s.png" x="760" y="200" duration="400" steps="2"/>
        <ButtonOverlapGroup>
          <Button name="More" x="760" y="620" type="Page" page="1">
            <Normal path="chapters_n.png"/><Selected path="chapters_s.png"/><Activated path="chapters_a.png"/>
          </Button>
        </ButtonOverlapGroup>
      </Page>
      <Page name="Second">
        <ButtonOverlapGroup>
          <Button name="Back" x="760" y="840" type="Page" page="0"><Normal path="back_n.png"/><Selected path="back_s.png"/></Button>
        </ButtonOverlapGroup>
      </Page>
    </DisplaySet>
  </InteractiveGraphic>
</HDMVExport>
)");
    const std::string p = d + "/p.zvpj";
    error_ = Steps({{"new", p},
                    {"source", "add", p, "Movie#1/Clip#1", d + "/v.264"},
                    {"source", "add", p, "Top Menu/Background AV", d + "/v.264"},
                    {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
                    {"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"},
                    {"build", p, d + "/out", "--yes"}});
    disc_ = d + "/out/Zelvane/DISC";
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::vector<std::string> Play(const std::vector<std::string>& keys, const std::string& overlays) {
    return zvtest::PlayDisc(disc_, keys, overlays);
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_;
};

std::unique_ptr<zvtest::TempDir> EffectDisc::dir_;
std::string EffectDisc::error_, EffectDisc::disc_;

// The largest transparency drawn in a rectangle of a composed plane.
int MaxAlpha(const std::vector<uint8_t>& plane, int x0, int y0, int w, int h) {
  int best = 0;
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) {
      const size_t at = (static_cast<size_t>(y) * 1920 + static_cast<size_t>(x)) * 4 + 3;
      if (at < plane.size()) best = std::max(best, static_cast<int>(plane[at]));
    }
  return best;
}

// libbluray plays the in effect (the picture in its window, more opaque at
// every step) before it draws the page's button, and the page's out effect
// (the picture's right half, sliding out to the left) when the "More" button
// opens the second page, before that page's button.
TEST_F(EffectDisc, TheFadeInPlaysBeforeThePageAndTheSlideOutWhenAButtonLeavesIt) {
  const std::string dir = dir_->Path() + "/play";
  const std::vector<std::string> lines = Play({"--settle", "1500", "--press", "enter"}, dir);
  const long button = Find(lines, "overlay ig draw 760 620 400 72");
  ASSERT_GT(button, 0) << ::testing::PrintToString(lines);
  std::vector<int> alphas;
  for (long i = 0; i < button; ++i) {
    const std::string& l = lines[static_cast<size_t>(i)];
    if (StartsWith(l, "overlay ig draw ")) {
      EXPECT_EQ(l, "overlay ig draw 760 200 400 72") << "only the effect's window";
    }
    if (!StartsWith(l, "overlay ig flush 1920 1080 ")) continue;
    const int alpha = MaxAlpha(zvtest::ReadPlane(dir + "/" + l.substr(l.rfind(' ') + 1)), 760, 200, 400, 72);
    if (alphas.empty() || alphas.back() != alpha) alphas.push_back(alpha);
  }
  // Four steps: a quarter, half, three quarters, all of the page's opacity.
  ASSERT_EQ(alphas.size(), 4u) << ::testing::PrintToString(alphas);
  for (size_t k = 0; k < 4; ++k) EXPECT_NEAR(alphas[k], 255 * static_cast<int>(k + 1) / 4, 2) << k;

  const long enter = Find(lines, "press enter", button);
  ASSERT_GT(enter, button);
  const long slide = Find(lines, "overlay ig draw 760 200 200 72", enter);
  const long second = Find(lines, "overlay ig draw 760 840 400 72", enter);
  EXPECT_GT(slide, enter) << "no out effect after the page's button was pressed";
  EXPECT_GT(second, slide) << "the second page came before the out effect ended";
}

TEST_F(EffectDisc, TheMenuClipIsDecodable) { EXPECT_EQ(zvtest::ExpectMenuClipsDecodable(disc_), 1); }

}  // namespace

// `zelvane menu render` against libbluray: the demo's top menu pages drawn
// by the render must be the planes libbluray's graphics controller composes
// on the built disc, pixel for pixel once both go through the same YCrCb to
// RGB conversion.
#include <gtest/gtest.h>

#include <cstdlib>
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

using zvtest::Find;
using zvtest::Lines;

class MenuRender : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    const zvtest::RunResult r = zvtest::Run({ZV_BINARY, "demo", dir_->Path() + "/demo", "--yes"});
    if (r.status != 0) error_ = "zelvane demo failed:\n" + r.err;
    project_ = dir_->Path() + "/demo/demo.zvpj";
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  // The disc played from first play with `keys` pressed; the lines of the
  // client, the planes in `overlays`.
  // Keys starting with "--" are passed as they are, with what follows.
  static std::vector<std::string> Play(const std::vector<std::string>& keys, const std::string& overlays) {
    fs::create_directories(overlays);
    std::vector<std::string> args = {ZV_BDCLIENT, "play", "--max-reads", "20000", "--stop-on-repeat"};
    bool raw = false;
    for (const std::string& k : keys) {
      raw = raw || k.rfind("--", 0) == 0;
      if (raw) args.push_back(k);
      else args.insert(args.end(), {"--press", k});
    }
    args.insert(args.end(), {"--overlay-dir", overlays, dir_->Path() + "/demo/Zelvane/DISC"});
    const zvtest::RunResult r = zvtest::Run(args);
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    return Lines(r.out);
  }

  // `menu render` of the top menu's `page` with `extra` options.
  static zv::CPicture Render(const std::string& page, const std::vector<std::string>& extra,
                             const std::string& name, const std::string& menu = "Top Menu/IG#1") {
    const std::string out = dir_->Path() + "/" + name + ".png";
    std::vector<std::string> args = {ZV_BINARY, "menu", "render", project_, menu, page, out};
    args.insert(args.end(), extra.begin(), extra.end());
    const zvtest::RunResult r = zvtest::Run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    zv::CPicture pic;
    std::string error;
    EXPECT_TRUE(zv::DecodeImageFile(out, pic, error)) << error;
    return pic;
  }

  // Every pixel of the plane file (Y, Cr, Cb, T, BT.709 as for HD) through
  // the render's own conversion must match the render within 2 levels;
  // colour counts only where something is visible.
  static void ExpectSame(const std::string& planeFile, const zv::CPicture& render, const std::string& what,
                         size_t buttons = 4) {
    const std::vector<uint8_t> plane = zvtest::ReadPlane(planeFile);
    ASSERT_EQ(plane.size(), 1920u * 1080u * 4u) << what << ": " << planeFile;
    ASSERT_EQ(render.width, 1920) << what;
    ASSERT_EQ(render.height, 1080) << what;
    size_t off = 0, visible = 0;
    for (int y = 0; y < 1080; ++y)
      for (int x = 0; x < 1920; ++x) {
        const uint8_t* p = &plane[(static_cast<size_t>(y) * 1920 + static_cast<size_t>(x)) * 4];
        zv::SPaletteEntry e;
        e.y = p[0], e.cr = p[1], e.cb = p[2], e.t = p[3];
        const zv::SColor want = zv::YCrCbToRgb(e, zv::ColorMatrix::Bt709);
        const zv::SColor got = render.At(x, y);
        bool same = std::abs(got.a - p[3]) <= 2;
        if (p[3] > 0 && got.a > 0)
          same = same && std::abs(got.r - want.r) <= 2 && std::abs(got.g - want.g) <= 2 &&
                 std::abs(got.b - want.b) <= 2;
        visible += p[3] > 0;
        if (!same && off++ < 3)
          ADD_FAILURE() << what << " at " << x << "," << y << ": render " << +got.r << " " << +got.g << " " << +got.b
                        << " " << +got.a << ", libbluray " << +want.r << " " << +want.g << " " << +want.b << " "
                        << +p[3];
      }
    EXPECT_EQ(off, 0u) << what;
    EXPECT_GT(visible, buttons * 400u * 60u) << what << ": the plane shows fewer than " << buttons << " buttons";
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, project_;
};

std::unique_ptr<zvtest::TempDir> MenuRender::dir_;
std::string MenuRender::error_, MenuRender::project_;

// The main page as it opens and after "down", then the Chapters page as it
// opens and after "down": each plane shown before the next key.
TEST_F(MenuRender, TheTopMenuPagesAreWhatLibblurayComposes) {
  const std::string dir = dir_->Path() + "/chapters";
  const std::vector<std::string> lines = Play({"down", "enter", "down"}, dir);
  const long menu = Find(lines, "event PLAYLIST 00001");
  ASSERT_GE(menu, 0) << "the top menu did not play";
  const long down1 = Find(lines, "press down", menu);
  const long enter = Find(lines, "press enter", down1);
  const long down2 = Find(lines, "press down", enter);
  ASSERT_GT(down2, enter);
  ExpectSame(dir + "/" + zvtest::Shown(lines, menu), Render("Main", {"--transparent"}, "main"), "Main as it opens");
  ExpectSame(dir + "/" + zvtest::Shown(lines, down1), Render("Main", {"--transparent", "--button", "chapters"}, "main2"),
             "Main with chapters selected");
  ExpectSame(dir + "/" + zvtest::Shown(lines, enter), Render("Chapters", {"--transparent"}, "chapters"),
             "Chapters as it opens");
  ExpectSame(dir + "/" + zvtest::Shown(lines, down2),
             Render("Chapters", {"--transparent", "--state", "selected", "--button", "chapter2"}, "chapters2"),
             "Chapters with chapter2 selected");
}

// The Audio page opens on the current language: its entry button shows
// the "on" button of the English group, which --button names (the render
// does not run the page's commands; a group shows its default otherwise).
TEST_F(MenuRender, TheAudioPageWithItsCurrentLanguage) {
  const std::string dir = dir_->Path() + "/audio";
  const std::vector<std::string> lines = Play({"down", "down", "enter"}, dir);
  const long enter = Find(lines, "press enter");
  ASSERT_GE(enter, 0);
  ExpectSame(dir + "/" + zvtest::Shown(lines, enter), Render("Audio", {"--transparent", "--button", "english_on"}, "audio"),
             "Audio as it opens", 3);
}

// The movie's pop-up menu, imported from a layered design with soft edges
// and its own palette, as it pops up during the movie.
TEST_F(MenuRender, ThePopUpMenuFromALayeredDesign) {
  const std::string dir = dir_->Path() + "/popup";
  const std::vector<std::string> lines = Play({"--press", "enter", "--press-in", "00002", "popup"}, dir);
  ASSERT_GE(Find(lines, "event PLAYLIST 00002"), 0) << "the movie's playlist is not 00002";
  const long popup = Find(lines, "press popup");
  ASSERT_GE(popup, 0);
  ExpectSame(dir + "/" + zvtest::Shown(lines, popup),
             Render("Pop-up", {"--transparent", "--button", "TopMenu"}, "popup", "Movie#1/IG#1"), "the pop-up menu", 2);
}

// Without --transparent the plane lies over "BG Color" of the settings.
TEST_F(MenuRender, ThePageLiesOverTheBackgroundColour) {
  const std::string config = dir_->Path() + "/config";
  fs::create_directories(config + "/zelvane");
  zvtest::WriteText(config + "/zelvane/settings.ini", "[General]\nBG Color=0x204060\n");
  const std::string out = dir_->Path() + "/bg.png";
  const zvtest::RunResult r = zvtest::Run(
      {"env", "XDG_CONFIG_HOME=" + config, ZV_BINARY, "menu", "render", project_, "Top Menu/IG#1", "Main", out});
  ASSERT_EQ(r.status, 0) << r.err;
  zv::CPicture bg, plain = Render("Main", {"--transparent"}, "plain");
  std::string error;
  ASSERT_TRUE(zv::DecodeImageFile(out, bg, error)) << error;
  EXPECT_EQ(bg.At(10, 10), (zv::SColor{0x20, 0x40, 0x60, 255}));
  // An opaque pixel of the "Play movie" button keeps its colour.
  const zv::SColor button = plain.At(760 + 200, 520 + 36);
  ASSERT_EQ(button.a, 255);
  EXPECT_EQ(bg.At(760 + 200, 520 + 36), button);
}

// Bad names are refused with the reason, and no picture is written.
TEST_F(MenuRender, UnknownPagesAndButtonsAreRefused) {
  const std::string out = dir_->Path() + "/none.png";
  zvtest::RunResult r = zvtest::Run({ZV_BINARY, "menu", "render", project_, "Top Menu/IG#1", "Nowhere", out});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no page \"Nowhere\""), std::string::npos) << r.err;
  r = zvtest::Run({ZV_BINARY, "menu", "render", project_, "Top Menu/IG#1", "Main", out, "--button", "nobody"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("has no button \"nobody\""), std::string::npos) << r.err;
  r = zvtest::Run({ZV_BINARY, "menu", "render", project_, "Top Menu/IG#1", "Main", out, "--state", "pressed"});
  EXPECT_EQ(r.status, 64);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace

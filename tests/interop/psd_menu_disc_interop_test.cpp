// A GIMP-made layered design becomes the top menu of a disc built with the
// zelvane commands, and libbluray shows and runs it: the composed
// interactive-graphics plane is compared with psd-tools' composite of the
// design's own layers (one page, one button in its selected state; made by
// tests/data/make-psd-fixtures.sh), keys come through bd_user_input.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "interop/menu_clip_check.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::Find;
using zvtest::StartsWith;

namespace {

class PsdMenuDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    // The import converts the design beside it: it works on a copy.
    for (const char* f : {"psd/menu_disc.psd", "h264_1080p2398.264", "ac3_stereo.ac3"})
      fs::copy_file(zvtest::DataPath(f), d + "/" + fs::path(f).filename().string());
    const std::string p = d + "/p.zvpj", psd = d + "/menu_disc.psd";
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Movie#1/Clip#1", d + "/h264_1080p2398.264", d + "/ac3_stereo.ac3"},
        {"source", "add", p, "Top Menu/Background AV", d + "/h264_1080p2398.264"},
        {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
        {"menu", "import-psd", p, "Top Menu/IG#1", psd},
        // The type came from the button's name; which page it shows is the
        // user's choice.
        {"set", p, "Top Menu/IG#1/Epoch#1/Main/Main/More/Page", "page=Second"},
        {"build", p, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      std::vector<std::string> argv{ZV_BINARY};
      argv.insert(argv.end(), args.begin(), args.end());
      const zvtest::RunResult r = zvtest::Run(argv);
      if (r.status != 0) {
        std::string line = "zelvane";
        for (const std::string& a : args) line += " " + a;
        return line + " failed:\n" + r.err + r.out;
      }
      if (args[1] == "import-psd") importOut_ = r.out;
    }
    disc_ = d + "/out/Zelvane/DISC";
    return {};
  }

  // Runs the disc with the keys given; the planes go to a folder of their own.
  static std::vector<std::string> Play(const std::vector<std::string>& keys, const std::string& overlays) {
    return zvtest::PlayDisc(disc_, keys, overlays);
  }

  // The distance of the plane shown after line `from` to the design's
  // composite named `composite` (e.g. "Main-Title": page Main, button
  // Title selected).
  static zvtest::Distance DistanceTo(const std::string& overlays, const std::vector<std::string>& lines, long from,
                                     const std::string& composite) {
    const std::string file = zvtest::Shown(lines, from);
    EXPECT_FALSE(file.empty()) << "nothing was drawn after line " << from;
    std::string error;
    const std::vector<uint8_t> want = zvtest::RgbaOf(zvtest::DataPath("psd/menu_disc-" + composite + ".png"), error);
    EXPECT_FALSE(want.empty()) << error;
    if (file.empty() || want.empty()) return {1920u * 1080u, 255};
    return zvtest::Compare(zvtest::ReadPlane(overlays + "/" + file), want);
  }

  static void ExpectShows(const std::string& overlays, const std::vector<std::string>& lines, long from,
                          const std::string& composite) {
    const zvtest::Distance d = DistanceTo(overlays, lines, from, composite);
    EXPECT_TRUE(zvtest::WithinPaletteTolerance(d))
        << composite << ": " << d.transparency << " pixels differ in transparency, mean colour difference " << d.mean;
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, importOut_;
};

std::unique_ptr<zvtest::TempDir> PsdMenuDisc::dir_;
std::string PsdMenuDisc::error_, PsdMenuDisc::disc_, PsdMenuDisc::importOut_;

TEST_F(PsdMenuDisc, TheDesignsPagesAndButtonsAreImported) {
  EXPECT_NE(importOut_.find("Top Menu/IG#1: 2 pages, 4 buttons from "), std::string::npos) << importOut_;
}

// The first page as the player composes it, then each key's result: the
// arrow keys move the selected state along the spatial neighbours, and the
// "Page" button shows the second page with its first button selected.
TEST_F(PsdMenuDisc, TheOverlayShowsTheDesignAndFollowsTheKeys) {
  const std::string dir = dir_->Path() + "/keys";
  const std::vector<std::string> lines =
      Play({"--press", "down", "--press", "up", "--press", "down", "--press", "enter", "--press", "right"}, dir);
  const long menu = Find(lines, "event TITLE 0");
  ASSERT_GE(menu, 0) << "the top menu never started";
  ExpectShows(dir, lines, menu, "Main-Title");
  // The comparison tells the selected button apart.
  EXPECT_FALSE(zvtest::WithinPaletteTolerance(DistanceTo(dir, lines, menu, "Main-Page")));

  struct Step {
    const char* key;
    const char* composite;
  };
  long at = menu;
  for (const Step& s : {Step{"down", "Main-Page"}, Step{"up", "Main-Title"}, Step{"down", "Main-Page"},
                        Step{"enter", "Second-Page"}, Step{"right", "Second-Title"}}) {
    at = Find(lines, std::string("press ") + s.key, at + 1);
    ASSERT_GE(at, 0) << s.key;
    SCOPED_TRACE(std::string("after ") + s.key);
    ExpectShows(dir, lines, at, s.composite);
  }
}

TEST_F(PsdMenuDisc, TheTitleButtonPlaysTitle1) {
  const std::vector<std::string> lines = Play({"--press", "enter"}, dir_->Path() + "/title");
  const long menu = Find(lines, "event TITLE 0");
  const long press = Find(lines, "press enter");
  ASSERT_GE(menu, 0);
  ASSERT_GT(press, menu);
  long menuPlaylist = -1;
  for (long i = menu; i < press && menuPlaylist < 0; ++i)
    if (StartsWith(lines[static_cast<size_t>(i)], "event PLAYLIST ")) menuPlaylist = i;
  ASSERT_GE(menuPlaylist, 0);
  const long title = Find(lines, "event TITLE 1", press);
  ASSERT_GT(title, press) << "activating \"Title\" starts no title 1";
  // The movie's playlist follows, not the menu's again.
  long playlist = -1;
  for (size_t i = static_cast<size_t>(title); i < lines.size() && playlist < 0; ++i)
    if (StartsWith(lines[i], "event PLAYLIST ")) playlist = static_cast<long>(i);
  ASSERT_GT(playlist, title);
  EXPECT_NE(lines[static_cast<size_t>(playlist)], lines[static_cast<size_t>(menuPlaylist)]);
}

// On the second page, "Page" keeps the choice its type starts with: the
// first page, shown again.
TEST_F(PsdMenuDisc, TheSecondPagesPageButtonReturnsToTheFirstPage) {
  const std::string dir = dir_->Path() + "/back";
  const std::vector<std::string> lines = Play({"--press", "down", "--press", "enter", "--press", "enter"}, dir);
  const long second = Find(lines, "press enter");
  ASSERT_GE(second, 0);
  ExpectShows(dir, lines, second, "Second-Page");
  const long back = Find(lines, "press enter", second + 1);
  ASSERT_GT(back, second);
  const std::string file = zvtest::Shown(lines, back);
  ASSERT_FALSE(file.empty());
  // Which button the first page selects on return is the player's choice
  // (the page names no default): either of the two pictures is right.
  EXPECT_TRUE(zvtest::WithinPaletteTolerance(DistanceTo(dir, lines, back, "Main-Title")) ||
              zvtest::WithinPaletteTolerance(DistanceTo(dir, lines, back, "Main-Page")));
}

// The menu clips pass the independent transport reading and the replay of
// the graphics decoder's coded-data buffer.
TEST_F(PsdMenuDisc, EveryMenuClipIsDecodableInTime) { EXPECT_EQ(zvtest::ExpectMenuClipsDecodable(disc_), 1); }

}  // namespace

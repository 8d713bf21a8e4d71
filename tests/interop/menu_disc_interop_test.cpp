// The demo disc's menus as libbluray shows and runs them: its HDMV VM runs
// the movie objects and the generated button commands, its IG decoder and
// graphics controller compose the menu, and the test client writes the
// composed interactive-graphics plane at every flush. Keys come through
// bd_user_input, as a remote control's would.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "interop/menu_clip_check.h"
#include "platform/image.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

const std::string kPictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/";

using zvtest::Compare;
using zvtest::Distance;
using zvtest::Find;
using zvtest::Lines;
using zvtest::StartsWith;

// A button as the demo places it: its picture and top-left corner.
struct Placed {
  std::string picture;  // e.g. "play_s.png"
  int x, y;
};

// The IG plane a player should show: the buttons' pictures on a
// transparent 1920x1080 plane, as RGBA.
std::vector<uint8_t> Expected(const std::vector<Placed>& buttons) {
  std::vector<uint8_t> plane(1920u * 1080u * 4u, 0);
  for (const Placed& b : buttons) {
    zv::CPicture pic;
    std::string error;
    EXPECT_TRUE(zv::DecodeImageFile(kPictures + b.picture, pic, error)) << error;
    for (int y = 0; y < pic.height; ++y)
      for (int x = 0; x < pic.width; ++x) {
        const zv::SColor c = pic.At(x, y);
        uint8_t* p = &plane[(static_cast<size_t>(b.y + y) * 1920 + static_cast<size_t>(b.x + x)) * 4];
        p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = c.a;
      }
  }
  return plane;
}

class MenuDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    const zvtest::RunResult r = zvtest::Run({ZV_BINARY, "demo", dir_->Path() + "/demo", "--yes"});
    if (r.status != 0) {
      error_ = "zelvane demo failed:\n" + r.err;
      return;
    }
    disc_ = dir_->Path() + "/demo/Zelvane/DISC";
    // The movie's playlist, as the demo lists it.
    for (const std::string& l : Lines(r.out))
      if (StartsWith(l, "title 1 ")) moviePlaylist_ = l.substr(l.size() - 10, 5);
    if (moviePlaylist_.empty()) error_ = "the demo lists no title 1:\n" + r.out;
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  // Runs the disc from first play with the keys given (as the client's
  // arguments) and returns its lines; the IG planes go to `overlays`.
  static std::vector<std::string> Play(const std::vector<std::string>& keys, const std::string& overlays = {}) {
    return zvtest::PlayDisc(disc_, keys, overlays);
  }

  static void ExpectShows(const std::string& file, const std::vector<Placed>& buttons, const std::string& what,
                          double maxMean = 4.0) {
    ASSERT_FALSE(file.empty()) << what << ": nothing was drawn";
    const Distance d = Compare(zvtest::ReadPlane(file), Expected(buttons));
    // A few pixels of the rounded corners may fall either way.
    EXPECT_LE(d.transparency, 200u) << what;
    EXPECT_LE(d.mean, maxMean) << what;
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, moviePlaylist_;
};

std::unique_ptr<zvtest::TempDir> MenuDisc::dir_;
std::string MenuDisc::error_, MenuDisc::disc_, MenuDisc::moviePlaylist_;

const int kX = (1920 - 400) / 2;

std::vector<Placed> MainPage(int selected) {
  const char* names[4] = {"play", "chapters", "audio", "trailer"};
  std::vector<Placed> out;
  for (int i = 0; i < 4; ++i) out.push_back({std::string(names[i]) + (i == selected ? "_s.png" : "_n.png"), kX, 520 + 100 * i});
  return out;
}

TEST_F(MenuDisc, TheTopMenuAppearsAfterTheLogoWithItsFirstButtonSelected) {
  const std::string dir = dir_->Path() + "/first";
  const std::vector<std::string> lines = Play({}, dir);
  const long logo = Find(lines, "event PLAYLIST 00000");
  const long menu = Find(lines, "event PLAYLIST 00001");
  ASSERT_GE(logo, 0);
  ASSERT_GT(menu, logo) << "the top menu plays after the logo";
  ExpectShows(dir + "/" + zvtest::Shown(lines, menu), MainPage(0), "the top menu");
}

TEST_F(MenuDisc, ArrowKeysMoveTheSelectionAsTheNeighboursSay) {
  const std::string dir = dir_->Path() + "/arrows";
  const std::vector<std::string> lines = Play({"--press", "down", "--press", "down", "--press", "up"}, dir);
  // Each key gives a plane with the next button selected.
  const char* keys[3] = {"down", "down", "up"};
  const int selected[3] = {1, 2, 1};
  long at = Find(lines, "event PLAYLIST 00001");
  ASSERT_GE(at, 0);
  for (int k = 0; k < 3; ++k) {
    at = Find(lines, std::string("press ") + keys[k], at + 1);
    ASSERT_GE(at, 0);
    ExpectShows(dir + "/" + zvtest::Shown(lines, at), MainPage(selected[k]), "key " + std::to_string(k));
    // Selecting a button plays the menu's select sound (sound 0).
    const long sound = Find(lines, "event SOUND_EFFECT 0", at);
    long next = at + 1;
    while (next < static_cast<long>(lines.size()) && !StartsWith(lines[static_cast<size_t>(next)], "press ")) ++next;
    EXPECT_GT(sound, at) << "key " << k;
    EXPECT_LT(sound, next) << "key " << k;
  }
}

TEST_F(MenuDisc, PlayMovieStartsTitle1) {
  const std::vector<std::string> lines = Play({"--press", "enter"});
  const long press = Find(lines, "press enter");
  ASSERT_GE(press, 0);
  const long title = Find(lines, "event TITLE 1", press);
  ASSERT_GT(title, press);
  EXPECT_GT(Find(lines, "event PLAYLIST " + moviePlaylist_, title), title);
  // Activating plays the activate sound (sound 1) first.
  const long sound = Find(lines, "event SOUND_EFFECT 1", press);
  EXPECT_GT(sound, press);
  EXPECT_LT(sound, title);
}

TEST_F(MenuDisc, TheThirdChapterButtonStartsTitle1AtChapter3) {
  // Main page: down to "Chapters", enter; chapters page: down twice, enter.
  const std::vector<std::string> lines =
      Play({"--press", "down", "--press", "enter", "--press", "down", "--press", "down", "--press", "enter"});
  const long press = Find(lines, "press enter", Find(lines, "press down", Find(lines, "press down", 0) + 2));
  ASSERT_GE(press, 0);
  const long title = Find(lines, "event TITLE 1", press);
  ASSERT_GT(title, press);
  const long playlist = Find(lines, "event PLAYLIST " + moviePlaylist_, title);
  ASSERT_GT(playlist, title);
  // Playback jumps to the third mark: the chapter after the jump is 3, and
  // the second chapter is never played.
  long chapter = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > static_cast<size_t>(playlist) && StartsWith(lines[i], "event SEEK ") && chapter < 0) chapter = -2;
    if (chapter == -2 && StartsWith(lines[i], "event CHAPTER ")) chapter = static_cast<long>(i);
  }
  ASSERT_GE(chapter, 0) << "no jump to a chapter";
  EXPECT_EQ(lines[static_cast<size_t>(chapter)], "event CHAPTER 3");
  EXPECT_EQ(Find(lines, "event CHAPTER 2", playlist), -1);
}

TEST_F(MenuDisc, TheSecondAudioButtonMakesAudioStream2CurrentInTheTitle) {
  // Main page: "Audio"; audio page: "French"; back to the main page and
  // "Play movie".
  const std::vector<std::string> lines =
      Play({"--press", "down", "--press", "down", "--press", "enter", "--press", "down", "--press", "enter",
            "--press", "down", "--press", "enter", "--press", "enter"});
  const long title = Find(lines, "event TITLE 1");
  ASSERT_GE(title, 0);
  const long playlist = Find(lines, "event PLAYLIST " + moviePlaylist_, title);
  ASSERT_GT(playlist, title);
  long audio = -1;
  for (size_t i = static_cast<size_t>(title); i < lines.size(); ++i)
    if (StartsWith(lines[i], "event AUDIO_STREAM ")) audio = static_cast<long>(i);
  ASSERT_GE(audio, 0);
  EXPECT_EQ(lines[static_cast<size_t>(audio)], "event AUDIO_STREAM 2");
}

TEST_F(MenuDisc, ThePopUpMenuOpensDuringTheMovieAndItsTopMenuButtonReturnsThere) {
  const std::string dir = dir_->Path() + "/popup";
  const std::vector<std::string> lines =
      Play({"--press", "enter", "--press-in", moviePlaylist_, "popup", "--press-in", moviePlaylist_, "enter"}, dir);
  const long popup = Find(lines, "press popup");
  ASSERT_GE(popup, 0);
  const std::vector<Placed> buttons = {{"topmenu_s.png", 1920 / 2 - 420, 900}, {"close_n.png", 1920 / 2 + 20, 900}};
  // The pop-up menu is imported from its layered design (menu/popup.psd,
  // made of these pictures): its six pictures share one dithered palette of
  // their many text shades, which leaves the flat plates a little grainier.
  ExpectShows(dir + "/" + zvtest::Shown(lines, popup), buttons, "the pop-up menu", 7.0);
  const long enter = Find(lines, "press enter", popup);
  ASSERT_GT(enter, popup);
  EXPECT_GT(Find(lines, "event TITLE 0", enter), enter) << "the top menu title starts again";
}

// Each menu clip holds one stream, at 0x1400 (ffmpeg has no decoder for
// interactive graphics; it still lists the stream).
TEST_F(MenuDisc, EachMenuClipHoldsOneStreamAt0x1400) {
  for (const char* clip : {"00002", "00004"}) {
    const std::string path = disc_ + "/BDMV/STREAM/" + clip + ".m2ts";
    const zvtest::RunResult n =
        zvtest::Run({"ffprobe", "-v", "quiet", "-show_entries", "format=nb_streams", "-of", "csv=p=0", path});
    ASSERT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(n.out, "1\n") << clip;
    const zvtest::RunResult r =
        zvtest::Run({"ffprobe", "-v", "quiet", "-show_entries", "stream=id", "-of", "csv=p=0", path});
    for (const std::string& l : Lines(r.out)) {
      if (l.empty()) continue;
      EXPECT_EQ(l, "0x1400") << clip;
    }
  }
}

// The pop-up key opens the movie's menu and closes it again.
TEST_F(MenuDisc, ThePopUpKeyOpensAndClosesThePopUpMenu) {
  const std::vector<std::string> lines =
      Play({"--press", "enter", "--press-in", moviePlaylist_, "popup", "--press-in", moviePlaylist_, "popup"});
  const long open = Find(lines, "press popup");
  ASSERT_GE(open, 0);
  const long shown = Find(lines, "event MENU 1", open);
  const long close = Find(lines, "press popup", open + 1);
  ASSERT_GT(shown, open);
  ASSERT_GT(close, shown);
  EXPECT_GT(Find(lines, "event MENU 0", close), close);
  // The movie plays on to its end.
  const long end = Find(lines, "event END_OF_TITLE 0", close);
  ASSERT_GT(end, close);
  const long top = Find(lines, "event TITLE 0", open);
  EXPECT_TRUE(top < 0 || top > end) << "closing the menu does not leave the title";
}

// The menu clips pass the independent transport reading and the replay of
// the graphics decoder's coded-data buffer.
TEST_F(MenuDisc, EveryMenuClipIsDecodableInTime) { EXPECT_EQ(zvtest::ExpectMenuClipsDecodable(disc_), 2); }

}  // namespace

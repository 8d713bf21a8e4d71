// Menus made by `menu generate` for a project of three movies with
// chapters, two audio and two subtitle languages, run by libbluray: its
// HDMV VM runs the generated commands, its IG decoder composes the pages,
// and keys come through bd_user_input as a remote control's would.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

using zvtest::Find;
using zvtest::Lines;
using zvtest::StartsWith;

const std::string kMedia = std::string(ZV_TEST_DATA) + "/../../demo/media/";

// The classic template's places on a 1920x1080 page.
constexpr int kListX = 600, kListY = 220, kRowStep = 92, kButtonH = 76;
constexpr int kThumbX = 272, kThumbY = 150, kThumbStep = 348, kBorder = 6, kThumbW = 320, kThumbH = 180;
// The frames the demo chapters start at (00:00:05:00 steps at 24).
constexpr int kChapterFrames[4] = {0, 120, 240, 360};

class GeneratedMenus : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    const std::string d = dir_->Path();
    project_ = d + "/p.zvpj";
    auto run = [](const std::vector<std::string>& argv) {
      const zvtest::RunResult r = zvtest::Run(argv);
      if (r.status != 0 && error_.empty()) error_ = argv[1] + " failed:\n" + r.err + r.out;
      return r;
    };
    run({ZV_BINARY, "new", project_});
    run({ZV_BINARY, "movie", "add", project_});
    run({ZV_BINARY, "movie", "add", project_});
    const std::string sup = std::string(ZV_TEST_DATA) + "/subtitles/";
    for (int n = 1; n <= 3; ++n) {
      const std::string m = d + "/m" + std::to_string(n);
      fs::copy_file(kMedia + "movie.264", m + ".264");
      fs::copy_file(kMedia + "movie_audio_eng.ac3", m + "_eng.ac3");
      fs::copy_file(kMedia + "movie_audio_fra.ac3", m + "_fra.ac3");
      fs::copy_file(sup + "subs_eng.sup", m + "s_eng.sup");
      fs::copy_file(sup + "subs_fra.sup", m + "s_fra.sup");
      const std::string movie = "Movie#" + std::to_string(n);
      run({ZV_BINARY, "source", "add", project_, movie + "/Clip#1", m + ".264", m + "_eng.ac3", m + "_fra.ac3",
           m + "s_eng.sup", m + "s_fra.sup", "--yes"});
      run({ZV_BINARY, "chapters", project_, movie + "/Title#1/PI#1", "import", kMedia + "chapters.csv"});
    }
    run({ZV_BINARY, "menu", "generate", project_, "Top Menu/IG#1", "--yes"});
    run({ZV_BINARY, "build", project_, d + "/out", "--yes"});
    if (!error_.empty()) return;
    disc_ = d + "/out/Zelvane/DISC";
    const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
    for (const std::string& l : Lines(info.out))
      for (int t = 1; t <= 3; ++t)
        if (l == "disc_title " + std::to_string(t) + " playlist " + l.substr(l.size() < 5 ? 0 : l.size() - 5))
          playlists_[t] = l.substr(l.size() - 5);
    if (playlists_.size() != 3) error_ = "the disc does not list three titles:\n" + info.out;
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::vector<std::string> Play(const std::vector<std::string>& keys, const std::string& overlays = {}) {
    return zvtest::PlayDisc(disc_, keys, overlays);
  }

  // "--press KEY" for each key.
  static std::vector<std::string> Keys(const std::vector<std::string>& keys) {
    std::vector<std::string> out;
    for (const std::string& k : keys) out.insert(out.end(), {"--press", k});
    return out;
  }

  // The planes shown after each key press, in order.
  static std::vector<std::vector<uint8_t>> PlanesAfterKeys(const std::vector<std::string>& lines,
                                                            const std::string& dir) {
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < lines.size(); ++i)
      if (StartsWith(lines[i], "press ")) {
        const std::string f = zvtest::Shown(lines, long(i));
        out.push_back(f.empty() ? std::vector<uint8_t>{} : zvtest::ReadPlane(dir + "/" + f));
      }
    return out;
  }

  // The last value of an event after line `from`; -1 when it never comes.
  static long LastEvent(const std::vector<std::string>& lines, const std::string& name, long from) {
    long v = -1;
    for (size_t i = size_t(std::max(from, 0L)); i < lines.size(); ++i)
      if (StartsWith(lines[i], "event " + name + " ")) v = std::stol(lines[i].substr(name.size() + 7));
    return v;
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, project_;
  static std::map<int, std::string> playlists_;
};

std::unique_ptr<zvtest::TempDir> GeneratedMenus::dir_;
std::string GeneratedMenus::error_, GeneratedMenus::disc_, GeneratedMenus::project_;
std::map<int, std::string> GeneratedMenus::playlists_;

// RGB of a plane pixel.
std::array<double, 3> At(const std::vector<uint8_t>& plane, int x, int y) {
  double rgb[3];
  zvtest::PlaneRgb(&plane[(size_t(y) * 1920 + size_t(x)) * 4], rgb);
  return {std::clamp(rgb[0], 0.0, 255.0), std::clamp(rgb[1], 0.0, 255.0), std::clamp(rgb[2], 0.0, 255.0)};
}

// The chosen mark (the template's orange #fca311) before row `row` of a list.
bool MarkShown(const std::vector<uint8_t>& plane, int row) {
  const auto c = At(plane, kListX + 24 + 12, kListY + row * kRowStep + kButtonH / 2);
  return std::abs(c[0] - 0xfc) < 40 && std::abs(c[1] - 0xa3) < 40 && std::abs(c[2] - 0x11) < 60;
}

TEST_F(GeneratedMenus, EachTitleButtonPlaysItsTitle) {
  for (int t = 1; t <= 3; ++t) {
    std::vector<std::string> keys(size_t(t - 1), "down");
    keys.push_back("enter");
    const std::vector<std::string> lines = Play(Keys(keys));
    const long press = Find(lines, "press enter");
    ASSERT_GE(press, 0);
    const long title = Find(lines, "event TITLE " + std::to_string(t), press);
    ASSERT_GT(title, press) << "title " << t;
    EXPECT_GT(Find(lines, "event PLAYLIST " + playlists_[t], title), title) << "title " << t;
    for (int other = 1; other <= 3; ++other) {
      if (other == t) continue;
      EXPECT_EQ(Find(lines, "event TITLE " + std::to_string(other), press), -1) << other;
    }
  }
}

TEST_F(GeneratedMenus, AChapterButtonStartsItsTitleAtItsChapter) {
  // Main: "Chapters" (the fourth button); the titles' page: Movie#2; its
  // chapter page: the third picture.
  const std::vector<std::string> lines =
      Play(Keys({"down", "down", "down", "enter", "down", "enter", "right", "right", "enter"}));
  const long press = Find(lines, "press enter", Find(lines, "press right") + 1);
  ASSERT_GE(press, 0);
  const long title = Find(lines, "event TITLE 2", press);
  ASSERT_GT(title, press);
  const long playlist = Find(lines, "event PLAYLIST " + playlists_[2], title);
  ASSERT_GT(playlist, title);
  long chapter = -1;
  for (size_t i = size_t(playlist); i < lines.size() && chapter < 0; ++i)
    if (StartsWith(lines[i], "event SEEK "))
      for (size_t k = i; k < lines.size() && chapter < 0; ++k)
        if (StartsWith(lines[k], "event CHAPTER ")) chapter = long(k);
  ASSERT_GE(chapter, 0) << "no jump to a chapter";
  EXPECT_EQ(lines[size_t(chapter)], "event CHAPTER 3");
  EXPECT_EQ(Find(lines, "event CHAPTER 2", playlist), -1);
}

TEST_F(GeneratedMenus, TheAudioPageShowsAndChangesTheStream) {
  const std::string dir = dir_->Path() + "/audio";
  // Main: "Audio" (fifth); "Français"; "Back"; then the first title.
  const std::vector<std::string> lines =
      Play(Keys({"down", "down", "down", "down", "enter", "down", "enter", "down", "enter", "enter"}), dir);
  const auto planes = PlanesAfterKeys(lines, dir);
  ASSERT_EQ(planes.size(), 10u);
  ASSERT_FALSE(planes[4].empty());
  EXPECT_TRUE(MarkShown(planes[4], 0)) << "English, the current stream, is marked";
  EXPECT_FALSE(MarkShown(planes[4], 1));
  ASSERT_FALSE(planes[6].empty());
  EXPECT_TRUE(MarkShown(planes[6], 1)) << "Français is marked once chosen";
  EXPECT_FALSE(MarkShown(planes[6], 0));
  const long title = Find(lines, "event TITLE 1");
  ASSERT_GE(title, 0);
  EXPECT_EQ(LastEvent(lines, "AUDIO_STREAM", title), 2);
}

TEST_F(GeneratedMenus, TheSubtitlePageChoosesAStreamOrNone) {
  {
    // "Subtitles" (sixth); "Français"; "Back" (two down); the first title.
    const std::vector<std::string> lines = Play(
        Keys({"down", "down", "down", "down", "down", "enter", "down", "enter", "down", "down", "enter", "enter"}));
    const long title = Find(lines, "event TITLE 1");
    ASSERT_GE(title, 0);
    EXPECT_EQ(LastEvent(lines, "PG_TEXTST_STREAM", title), 2);
    EXPECT_EQ(LastEvent(lines, "PG_TEXTST", title), 1);
  }
  {
    // "Off"; "Back"; the first title.
    const std::vector<std::string> lines = Play(
        Keys({"down", "down", "down", "down", "down", "enter", "down", "down", "enter", "down", "enter", "enter"}));
    const long title = Find(lines, "event TITLE 1");
    ASSERT_GE(title, 0);
    EXPECT_EQ(LastEvent(lines, "PG_TEXTST", title), 0) << "subtitles are off";
  }
}

TEST_F(GeneratedMenus, ArrowKeysReachEveryButtonAndBackReturns) {
  const std::string dir = dir_->Path() + "/reach";
  // Main page: six buttons down the column, then back up; "Chapters",
  // "Movie#1"; its chapter page: three to the right and down to "Back",
  // which returns to the titles' page, whose "Back" returns to the main page.
  const std::vector<std::string> keys = {"down", "down", "down", "down", "down", "up", "up", "up", "up", "up",
                                         "down", "down", "down", "enter", "enter", "right", "right", "right", "down",
                                         "enter", "down", "down", "down", "enter"};
  const std::vector<std::string> lines = Play(Keys(keys), dir);
  const long menu = Find(lines, "event MENU 1");
  ASSERT_GE(menu, 0);
  const std::string first = zvtest::Shown(lines, menu);
  ASSERT_FALSE(first.empty());
  const std::vector<uint8_t> main = zvtest::ReadPlane(dir + "/" + first);
  const auto planes = PlanesAfterKeys(lines, dir);
  ASSERT_EQ(planes.size(), keys.size());
  // Six different selections on the main page, and up returns to the first.
  std::set<std::vector<uint8_t>> seen = {main};
  for (size_t k = 0; k < 5; ++k) seen.insert(planes[k]);
  EXPECT_EQ(seen.size(), 6u) << "each down selects another button";
  EXPECT_TRUE(planes[9] == main) << "up five times returns to the first button";
  // The chapter page: four pictures and "Back", each selected in turn.
  std::set<std::vector<uint8_t>> chapters;
  for (size_t k = 14; k <= 18; ++k) chapters.insert(planes[k]);
  EXPECT_EQ(chapters.size(), 5u);
  // "Back" twice: the main page as it opened.
  EXPECT_TRUE(planes.back() == main) << "Back leads to the main page";
}

TEST_F(GeneratedMenus, ThePopUpMenuWorksDuringEachMovie) {
  for (int t = 1; t <= 3; ++t) {
    const std::string pl = playlists_[t];
    std::vector<std::string> keys(size_t(t - 1), "down");
    keys.push_back("enter");
    std::vector<std::string> args = Keys(keys);
    // Pop-up row: Chapters, Audio, Subtitles, Top menu, Close.
    for (const char* k : {"popup", "right", "right", "right", "enter"}) args.insert(args.end(), {"--press-in", pl, k});
    const std::vector<std::string> lines = Play(args);
    const long popup = Find(lines, "press popup");
    ASSERT_GE(popup, 0) << "title " << t;
    EXPECT_GT(Find(lines, "event MENU 1", popup), popup) << "title " << t;
    const long enter = Find(lines, "press enter", popup);
    ASSERT_GT(enter, popup);
    EXPECT_GT(Find(lines, "event TITLE 0", enter), enter) << "\"Top menu\" returns to the top menu, title " << t;
  }
  // The pop-up's chapter page moves within the movie that plays.
  const std::string pl = playlists_[1];
  std::vector<std::string> args = Keys({"enter"});
  for (const char* k : {"popup", "enter", "right", "right", "right", "enter"}) args.insert(args.end(), {"--press-in", pl, k});
  const std::vector<std::string> lines = Play(args);
  const long last = Find(lines, "press enter", Find(lines, "press right"));
  ASSERT_GT(last, 0);
  long chapter = -1;
  for (size_t i = size_t(last); i < lines.size() && chapter < 0; ++i)
    if (StartsWith(lines[i], "event CHAPTER ")) chapter = long(i);
  ASSERT_GE(chapter, 0);
  EXPECT_EQ(lines[size_t(chapter)], "event CHAPTER 4");
}

// Each chapter picture on the page is the movie's frame at that chapter,
// as ffmpeg decodes and scales it.
TEST_F(GeneratedMenus, ChapterPicturesShowTheirChapter) {
  const std::string dir = dir_->Path() + "/thumbs";
  const std::vector<std::string> lines = Play(Keys({"down", "down", "down", "enter", "enter"}), dir);
  const auto planes = PlanesAfterKeys(lines, dir);
  ASSERT_EQ(planes.size(), 5u);
  const std::vector<uint8_t>& page = planes.back();
  ASSERT_EQ(page.size(), 1920u * 1080u * 4u);
  for (int c = 0; c < 4; ++c) {
    const std::string ref = dir + "/ref" + std::to_string(c) + ".rgb";
    const zvtest::RunResult r = zvtest::Run(
        {"ffmpeg", "-v", "error", "-y", "-i", dir_->Path() + "/m1.264", "-vf",
         "select=eq(n\\," + std::to_string(kChapterFrames[c]) + "),scale=" + std::to_string(kThumbW) + ":" +
             std::to_string(kThumbH),
         "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", ref});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> want = zvtest::ReadBytes(ref);
    ASSERT_EQ(want.size(), size_t(kThumbW) * kThumbH * 3);
    double sum = 0;
    for (int y = 0; y < kThumbH; ++y)
      for (int x = 0; x < kThumbW; ++x) {
        const auto got = At(page, kThumbX + c * kThumbStep + kBorder + x, kThumbY + kBorder + y);
        for (int k = 0; k < 3; ++k) {
          const double d = got[size_t(k)] - want[(size_t(y) * kThumbW + size_t(x)) * 3 + size_t(k)];
          sum += d * d;
        }
      }
    const double mse = sum / (double(kThumbW) * kThumbH * 3);
    const double psnr = 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-9));
    EXPECT_GE(psnr, 25.0) << "chapter " << c + 1;
  }
}

TEST_F(GeneratedMenus, RefusalsLeaveTheProjectAsItWas) {
  const std::vector<uint8_t> before = zvtest::ReadBytes(project_);
  zvtest::RunResult r = zvtest::Run({ZV_BINARY, "menu", "generate", project_, "Top Menu/IG#1", "--template", "nosuch"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no template \"nosuch\" (there are: cinema, classic, modern)"), std::string::npos) << r.err;
  EXPECT_TRUE(zvtest::ReadBytes(project_) == before);

  const std::string empty = dir_->Path() + "/empty.zvpj";
  ASSERT_EQ(zvtest::Run({ZV_BINARY, "new", empty}).status, 0);
  const std::vector<uint8_t> fresh = zvtest::ReadBytes(empty);
  r = zvtest::Run({ZV_BINARY, "menu", "generate", empty, "Top Menu/IG#1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("the project has no title with a video to make menus for"), std::string::npos) << r.err;
  EXPECT_TRUE(zvtest::ReadBytes(empty) == fresh);

  r = zvtest::Run({ZV_BINARY, "menu", "generate", project_, "Movie#1/IG#1"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("is not a menu of the top menu"), std::string::npos) << r.err;
  r = zvtest::Run({ZV_BINARY, "menu", "generate", project_, "Top Menu/IG#1", "--pages", "titles,extras"});
  EXPECT_EQ(r.status, 64);
  EXPECT_TRUE(zvtest::ReadBytes(project_) == before);
}

}  // namespace

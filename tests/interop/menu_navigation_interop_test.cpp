// Menu navigation as libbluray runs it, on menus made the way users make
// them (a menu description, `set`, an IES file): the button a page opens on,
// the arrow keys over a layout, the top menu's audio and subtitle choices
// reaching the title, and "Resume" after a top-menu call. Which button is
// selected is read from the composed interactive-graphics plane: each
// button's place shows the picture of one of its looks, normal or selected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "interop/ig_plane.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::Find;
using zvtest::Lines;
using zvtest::StartsWith;

namespace {

const std::string kPictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/";
constexpr int kW = 400, kH = 72;  // every picture of the demo's menus

// A button's place and the pictures it may show there ("english" stands for
// english_n.png and english_s.png).
struct Spot {
  std::string name;
  int x, y;
  std::vector<std::string> looks;
};

const std::vector<uint8_t>& Picture(const std::string& file) {
  static std::map<std::string, std::vector<uint8_t>> cache;
  auto it = cache.find(file);
  if (it == cache.end()) {
    std::string error;
    it = cache.emplace(file, zvtest::RgbaOf(kPictures + file, error)).first;
    EXPECT_EQ(it->second.size(), size_t{kW} * kH * 4) << file << ": " << error;
  }
  return it->second;
}

// Mean colour difference of the plane at (x, y) from a picture, counting a
// pixel transparent in one and opaque in the other as 255.
double DistanceAt(const std::vector<uint8_t>& plane, int x0, int y0, const std::vector<uint8_t>& pic) {
  if (plane.size() != 1920u * 1080u * 4u || pic.size() != size_t{kW} * kH * 4) return 255;
  double sum = 0;
  size_t n = 0;
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const uint8_t* w = &pic[(static_cast<size_t>(y) * kW + static_cast<size_t>(x)) * 4];
      const uint8_t* p = &plane[(static_cast<size_t>(y0 + y) * 1920 + static_cast<size_t>(x0 + x)) * 4];
      if (w[3] < 250) continue;
      ++n;
      if (p[3] < 250) {
        sum += 255;
        continue;
      }
      const double l = 1.164 * (p[0] - 16), cr = p[1] - 128, cb = p[2] - 128;
      const double rgb[3] = {l + 1.596 * cr, l - 0.813 * cr - 0.391 * cb, l + 2.018 * cb};
      double worst = 0;
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(std::clamp(rgb[k], 0.0, 255.0) - w[k]));
      sum += worst;
    }
  return n ? sum / static_cast<double>(n) : 255;
}

// The picture a spot shows ("english_on_s"): the nearest of its looks.
std::string LookAt(const std::vector<uint8_t>& plane, const Spot& s) {
  std::string best;
  double bestDistance = 1e9;
  for (const std::string& look : s.looks)
    for (const char* suffix : {"_n", "_s"}) {
      const double d = DistanceAt(plane, s.x, s.y, Picture(look + suffix + ".png"));
      if (d < bestDistance) best = look + suffix, bestDistance = d;
    }
  return best;
}

// The spot shown selected, "" when none, "?" when several are.
std::string SelectedIn(const std::vector<uint8_t>& plane, const std::vector<Spot>& spots) {
  std::string selected;
  for (const Spot& s : spots) {
    const std::string look = LookAt(plane, s);
    if (look.size() > 2 && look.compare(look.size() - 2, 2, "_s") == 0) selected = selected.empty() ? s.name : "?";
  }
  return selected;
}

// The plane shown after line `from` (see zvtest::Shown), read.
std::vector<uint8_t> PlaneAfter(const std::string& overlays, const std::vector<std::string>& lines, long from) {
  const std::string file = zvtest::Shown(lines, from);
  EXPECT_FALSE(file.empty()) << "nothing was drawn after line " << from;
  return file.empty() ? std::vector<uint8_t>{} : zvtest::ReadPlane(overlays + "/" + file);
}

// The first line at or after `from` that starts with `prefix`; -1 if none.
long FindPrefix(const std::vector<std::string>& lines, const std::string& prefix, long from = 0) {
  for (size_t i = static_cast<size_t>(std::max(from, 0L)); i < lines.size(); ++i)
    if (StartsWith(lines[i], prefix)) return static_cast<long>(i);
  return -1;
}

std::string Button(const std::string& name, int x, int y, const std::string& look, const std::string& type = {}) {
  return "<Button name=\"" + name + "\" x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"" +
         (type.empty() ? "" : " " + type) + "><Normal path=\"" + look + "_n.png\"/><Selected path=\"" + look +
         "_s.png\"/><Activated path=\"" + look + "_a.png\"/></Button>";
}

std::string Group(const std::string& buttons) { return "<ButtonOverlapGroup>" + buttons + "</ButtonOverlapGroup>"; }

std::string Description(const std::string& pages) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HDMVExport><InteractiveGraphic width=\"1920\" height=\"1080\">"
         "<DisplaySet>" +
         pages + "</DisplaySet></InteractiveGraphic></HDMVExport>\n";
}

// The main page: four buttons in a column.
const std::vector<Spot> kMain = {{"Play", 760, 420, {"play"}},
                                 {"Setup", 760, 520, {"audio"}},
                                 {"Chapters", 760, 620, {"chapters"}},
                                 {"Resume", 760, 720, {"trailer"}}};
// The setup page: two audio groups and two subtitle groups (a plain look
// and a chosen one each) in a column, "Back" below.
const std::vector<Spot> kSetup = {{"Audio: English", 760, 220, {"english", "english_on"}},
                                  {"Audio: French", 760, 320, {"french", "french_on"}},
                                  {"Subtitles: English", 760, 520, {"english", "english_on"}},
                                  {"Subtitles: French", 760, 620, {"french", "french_on"}},
                                  {"Back", 760, 840, {"back"}}};
// The chapters page: a 2x2 grid, "Back" centred below, lined up with
// neither column.
const std::vector<Spot> kChapters = {{"Chapter 1", 260, 300, {"chapter1"}},
                                     {"Chapter 2", 1260, 300, {"chapter2"}},
                                     {"Chapter 3", 260, 400, {"chapter3"}},
                                     {"Chapter 4", 1260, 400, {"chapter4"}},
                                     {"Back", 760, 520, {"topmenu"}}};

// A group of a plain look and a chosen one ("english" and "english_on").
std::string Choice(const std::string& name, const std::string& look, int x, int y, const std::string& type) {
  return Group(Button(name, x, y, look, type) + Button(name + " chosen", x, y, look + "_on"));
}

std::string TopMenuDescription() {
  const std::string title = "type=\"Title\" movie-group=\"Movie#1\" movie=\"Title#1\"";
  std::string main = "<Page name=\"Main\">" + Group(Button("Play", 760, 420, "play", title)) +
                     Group(Button("Setup", 760, 520, "audio", "type=\"Page\" page=\"Setup\"")) +
                     Group(Button("Chapters", 760, 620, "chapters", "type=\"Page\" page=\"Chapters\"")) +
                     Group(Button("Resume", 760, 720, "trailer", "type=\"Resume\"")) + "</Page>";
  // The choices come from the movie: the top menu's own film holds only
  // its background.
  std::string setup = "<Page name=\"Setup\">" + Choice("Audio: English", "english", 760, 220, "type=\"Audio\" audio=\"0\"") +
                      Choice("Audio: French", "french", 760, 320, "type=\"Audio\" audio=\"1\"") +
                      Choice("Subtitles: English", "english", 760, 520, "type=\"Subtitle\" subtitle=\"0\"") +
                      Choice("Subtitles: French", "french", 760, 620, "type=\"Subtitle\" subtitle=\"1\"") +
                      Group(Button("Back", 760, 840, "back", "type=\"Page\" page=\"Main\"")) + "</Page>";
  std::string chapters = "<Page name=\"Chapters\">";
  for (int c = 0; c < 4; ++c)
    chapters += Group(Button("Chapter " + std::to_string(c + 1), c % 2 ? 1260 : 260, c < 2 ? 300 : 400,
                             "chapter" + std::to_string(c + 1), title));
  // Each page has pictures of its own: a page's palette is made from its
  // own pictures.
  chapters += Group(Button("Back", 760, 520, "topmenu", "type=\"Page\" page=\"Main\"")) + "</Page>";
  return Description(main + setup + chapters);
}

class MenuNavigation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDiscs();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::string Zelvane(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<std::string> argv{ZV_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const zvtest::RunResult r = zvtest::Run(argv);
    if (out) *out = r.out;
    if (r.status == 0) return {};
    std::string line = "zelvane";
    for (const std::string& a : args) line += " " + a;
    return line + " failed:\n" + r.err + r.out;
  }

  // The name of the top menu's epoch, as `show` lists it.
  static std::string TopMenuEpoch(const std::string& project) {
    std::string out;
    if (!Zelvane({"show", project}, &out).empty()) return {};
    for (const std::string& l : Lines(out))
      if (const size_t at = l.find("Epoch#"); at != std::string::npos) return l.substr(at, l.find(' ', at) - at);
    return {};
  }

  static std::string BuildDiscs() {
    const std::string d = dir_->Path();
    for (const char* f : {"h264_1080p2398.264", "ac3_stereo.ac3"}) zvtest::CopyFixture(f, d);
    fs::copy_file(d + "/ac3_stereo.ac3", d + "/a_fra.ac3");
    fs::copy_file(d + "/h264_1080p2398.264", d + "/bg.264");
    fs::copy_file(zvtest::DataPath("subtitles/subs_eng.sup"), d + "/subs_eng.sup");
    fs::copy_file(zvtest::DataPath("subtitles/subs_fra.sup"), d + "/subs_fra.sup");
    for (const auto& e : fs::directory_iterator(kPictures))
      if (e.path().extension() == ".png") fs::copy_file(e.path(), d + "/" + e.path().filename().string());

    // The movie: English and French audio and subtitles.
    const std::string p = d + "/p.zvpj";
    zvtest::WriteText(d + "/menu.xml", TopMenuDescription());
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"new", p},
             {"source", "add", p, "Movie#1/Clip#1", d + "/h264_1080p2398.264", d + "/ac3_stereo.ac3", d + "/a_fra.ac3",
              d + "/subs_eng.sup", d + "/subs_fra.sup"},
             {"source", "add", p, "Top Menu/Background AV", d + "/bg.264"},
             {"set", p, "Top Menu/Title#1/PI#1", "still=Infinite"},
             {"menu", "import", p, "Top Menu/IG#1", d + "/menu.xml"}})
      if (std::string e = Zelvane(args); !e.empty()) return e;
    const std::string pages = "Top Menu/IG#1/" + TopMenuEpoch(p) + "/DisplaySet#1/";
    // The chapters page opens on its second button.
    if (std::string e = Zelvane({"set", p, pages + "Chapters", "default-selected=Chapter 2"}); !e.empty()) return e;
    if (std::string e = Zelvane({"build", p, d + "/out", "--yes"}); !e.empty()) return e;
    disc_ = d + "/out/Zelvane/DISC";

    // A menu from an IES file whose button ids start at 1: a page of three
    // buttons loses its first, is exported and imported again.
    const std::string q = d + "/q.zvpj";
    zvtest::WriteText(d + "/ies.xml", Description("<Page name=\"Main\">" + Group(Button("Gone", 760, 320, "trailer")) +
                                                  Group(Button("Top", 760, 520, "play")) +
                                                  Group(Button("Movie", 760, 620, "chapters")) + "</Page>"));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"new", q},
             {"source", "add", q, "Movie#1/Clip#1", d + "/h264_1080p2398.264", d + "/ac3_stereo.ac3"},
             {"source", "add", q, "Top Menu/Background AV", d + "/bg.264"},
             {"set", q, "Top Menu/Title#1/PI#1", "still=Infinite"},
             {"menu", "import", q, "Top Menu/IG#1", d + "/ies.xml"}})
      if (std::string e = Zelvane(args); !e.empty()) return e;
    const std::string page = "Top Menu/IG#1/" + TopMenuEpoch(q) + "/DisplaySet#1/Main/";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"delete", q, page + "Bog#1"},
             {"set", q, page + "Bog#2/Top", "commands=JumpTitle 0"},
             {"set", q, page + "Bog#3/Movie", "commands=JumpTitle 1"},
             {"set", q, page, "default-selected=Top"},
             {"menu", "export", q, "Top Menu/IG#1", d + "/from1.ies"},
             {"menu", "import-ies", q, "Top Menu/IG#1", d + "/from1.ies"},
             {"build", q, d + "/ies", "--yes"}})
      if (std::string e = Zelvane(args); !e.empty()) return e;
    iesDisc_ = d + "/ies/Zelvane/DISC";
    return {};
  }

  // Runs `disc` from first play with the keys given (the client's
  // arguments); the planes go to a folder of their own.
  static std::vector<std::string> Play(const std::string& disc, const std::vector<std::string>& keys,
                                       const std::string& overlays) {
    std::vector<std::string> args = {ZV_BDCLIENT, "play", "--max-reads", "20000"};
    for (const std::string& k : keys) {
      // "PLAYLIST:key" presses while that playlist plays.
      if (const size_t colon = k.find(':'); colon != std::string::npos) {
        args.insert(args.end(), {"--press-in", k.substr(0, colon), k.substr(colon + 1)});
      } else {
        args.insert(args.end(), {"--press", k});
      }
    }
    fs::create_directories(overlays);
    args.insert(args.end(), {"--overlay-dir", overlays, disc});
    const zvtest::RunResult r = zvtest::Run(args);
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    return Lines(r.out);
  }

  // Presses `keys` after `opening` and checks the button selected once the
  // player has reacted to each: `expected` names the button selected after
  // the last of `opening`, then after each of `keys`.
  static void ExpectWalk(const std::string& name, const std::vector<std::string>& opening,
                         const std::vector<std::string>& keys, const std::vector<Spot>& spots,
                         const std::vector<std::string>& expected) {
    const std::string dir = dir_->Path() + "/" + name;
    std::vector<std::string> all = opening;
    all.insert(all.end(), keys.begin(), keys.end());
    const std::vector<std::string> lines = Play(disc_, all, dir);
    long at = -1;
    for (size_t k = 0; k < all.size(); ++k) {
      at = Find(lines, "press " + all[k], at + 1);
      ASSERT_GE(at, 0) << "key " << k << " was never pressed";
      if (k + 1 < opening.size()) continue;
      const size_t step = k + 1 - opening.size();
      EXPECT_EQ(SelectedIn(PlaneAfter(dir, lines, at), spots), expected[step])
          << name << ": after " << (step == 0 ? "the page opened" : "key " + std::to_string(step) + " (" + keys[step - 1] + ")");
    }
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, iesDisc_;
};

std::unique_ptr<zvtest::TempDir> MenuNavigation::dir_;
std::string MenuNavigation::error_, MenuNavigation::disc_, MenuNavigation::iesDisc_;

// The chapters page names its second button as default: it opens there, and
// the arrow keys reach "Back" below the grid from either column and every
// other button from there.
TEST_F(MenuNavigation, AGridWithBackBelowOpensOnItsDefaultAndEveryButtonIsReached) {
  ExpectWalk("grid", {"down", "down", "enter"}, {"down", "down", "up", "up", "right", "left", "down", "down"},
             kChapters,
             {"Chapter 2", "Chapter 4", "Back", "Chapter 3", "Chapter 1", "Chapter 2", "Chapter 1", "Chapter 3",
              "Back"});
}

// The setup page opens on its first button, "Audio: English" (in its chosen
// look: audio 1 is current), and DOWN goes through every group to "Back"
// and round again.
TEST_F(MenuNavigation, TheSetupPagesGroupsAndBackAreReachedInLayoutOrder) {
  ExpectWalk("setup", {"down", "enter"}, {"down", "down", "down", "down", "down", "up"}, kSetup,
             {"Audio: English", "Audio: French", "Subtitles: English", "Subtitles: French", "Back", "Audio: English",
              "Back"});
  const std::vector<std::string> lines = Play(disc_, {"down", "enter"}, dir_->Path() + "/setup-look");
  const std::vector<uint8_t> plane = PlaneAfter(dir_->Path() + "/setup-look", lines, Find(lines, "press enter"));
  EXPECT_EQ(LookAt(plane, kSetup[0]), "english_on_s") << "the current audio shows chosen, and selected";
  EXPECT_EQ(LookAt(plane, kSetup[2]), "english_on_n") << "subtitle 1 is on from the start";
}

// French audio and French subtitles chosen on the setup page, back to the
// main page and "Play": the title starts with both.
TEST_F(MenuNavigation, AudioAndSubtitleChosenInTheTopMenuReachTheTitle) {
  const std::vector<std::string> lines =
      Play(disc_,
           {"down", "enter",                  // Setup
            "down", "enter",                  // Audio: French
            "down", "down", "enter",          // Subtitles: French
            "down", "enter", "enter"},        // Back, Play
           dir_->Path() + "/choose");
  const long title = Find(lines, "event TITLE 1");
  ASSERT_GE(title, 0) << "the title never started";
  const long playlist = FindPrefix(lines, "event PLAYLIST ", title);
  ASSERT_GT(playlist, title);
  for (const char* want : {"event AUDIO_STREAM 2", "event PG_TEXTST 1", "event PG_TEXTST_STREAM 2"})
    EXPECT_GT(Find(lines, want, playlist), playlist) << want;
  const long end = FindPrefix(lines, "event END_OF_TITLE", playlist);
  for (const char* wrong : {"event AUDIO_STREAM 1", "event PG_TEXTST 0", "event PG_TEXTST_STREAM 1"}) {
    const long at = Find(lines, wrong, playlist);
    EXPECT_TRUE(at < 0 || (end >= 0 && at > end)) << wrong;
  }
}

// The top menu called during the movie, then "Resume": the movie goes on
// where it was.
TEST_F(MenuNavigation, ResumeAfterATopMenuCallContinuesTheMovie) {
  // The movie's playlist: the one title 1 plays.
  std::vector<std::string> lines = Play(disc_, {"enter"}, dir_->Path() + "/movie");
  long title = Find(lines, "event TITLE 1");
  ASSERT_GE(title, 0);
  const long playlistLine = FindPrefix(lines, "event PLAYLIST ", title);
  ASSERT_GT(playlistLine, title);
  const std::string movie = lines[static_cast<size_t>(playlistLine)].substr(15);

  const std::string dir = dir_->Path() + "/resume";
  lines = Play(disc_, {"enter", movie + ":menu", "down", "down", "down", "enter"}, dir);
  const long menu = Find(lines, "press menu");
  ASSERT_GE(menu, 0) << "the movie ended before the menu key";
  ASSERT_LT(menu + 1, static_cast<long>(lines.size()));
  ASSERT_TRUE(StartsWith(lines[static_cast<size_t>(menu + 1)], "time "));
  const long left = std::stol(lines[static_cast<size_t>(menu + 1)].substr(5));
  EXPECT_GT(Find(lines, "event TITLE 0", menu), menu) << "the top menu comes up";
  const long enter = Find(lines, "press enter", menu);
  ASSERT_GT(enter, menu);
  long down = menu;
  for (int k = 0; k < 3; ++k) down = Find(lines, "press down", down + 1);
  ASSERT_GT(down, menu);
  EXPECT_EQ(SelectedIn(PlaneAfter(dir, lines, down), kMain), "Resume");
  title = Find(lines, "event TITLE 1", enter);
  ASSERT_GT(title, enter) << "\"Resume\" does not go back to the movie";
  EXPECT_GT(Find(lines, "event PLAYLIST " + movie, title), title);
  // Playback goes on from the time it left (the seek lands on that time),
  // and does not start again from 0 only.
  long seek = -1;
  for (long i = title; i < static_cast<long>(lines.size()); ++i)
    if (StartsWith(lines[static_cast<size_t>(i)], "event SEEK ") && lines[static_cast<size_t>(i)] != "event SEEK 0") {
      seek = std::stol(lines[static_cast<size_t>(i)].substr(11));
      break;
    }
  ASSERT_GE(seek, 0) << "no seek to where the movie was";
  EXPECT_GT(left, 0);
  EXPECT_NEAR(static_cast<double>(seek), static_cast<double>(left), 45000 * 0.1);
}

// A menu whose buttons have ids 1 and 2 (an IES file): it opens with its
// default (id 1) selected, DOWN selects the other and ENTER runs it.
TEST_F(MenuNavigation, AnIesMenuWithIdsFrom1OpensOnItsDefaultAndObeysTheKeys) {
  const std::vector<Spot> spots = {{"Top", 760, 520, {"play"}}, {"Movie", 760, 620, {"chapters"}}};
  const std::string dir = dir_->Path() + "/ies";
  const std::vector<std::string> lines = Play(iesDisc_, {"down", "enter"}, dir);
  const long menu = Find(lines, "event TITLE 0");
  ASSERT_GE(menu, 0);
  EXPECT_EQ(SelectedIn(PlaneAfter(dir, lines, menu), spots), "Top");
  const long down = Find(lines, "press down", menu);
  ASSERT_GT(down, menu) << "the menu never waited for a key";
  EXPECT_EQ(SelectedIn(PlaneAfter(dir, lines, down), spots), "Movie");
  const long enter = Find(lines, "press enter", down);
  ASSERT_GT(enter, down);
  EXPECT_GT(Find(lines, "event TITLE 1", enter), enter);
}

}  // namespace

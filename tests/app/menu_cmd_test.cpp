// Building a menu through the shell: pages, BOGs, buttons and graphics
// added, edited with set (refusals leave the file alone) and shown.
#include <gtest/gtest.h>

#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(MenuCommands, BuildEditShowAndDelete) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  const std::string img = std::string(ZV_TEST_DATA) + "/images/rgba.png";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string M = "Movie#1/IG#1";
  const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";
  RunResult page = Zv({"page", "add", p, M});
  ASSERT_EQ(page.status, 0) << page.err;
  EXPECT_EQ(page.out, P + "\n");
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(Zv({"bog", "add", p, P}).out, P + "/Bog#" + std::to_string(i) + "\n");
  for (int i = 1; i <= 3; ++i)
    EXPECT_EQ(Zv({"button", "add", p, P + "/Bog#" + std::to_string(i)}).out,
              P + "/Bog#" + std::to_string(i) + "/Button#" + std::to_string(i) + "\n");
  RunResult g = Zv({"graphic", "add", p, M, img});
  ASSERT_EQ(g.status, 0) << g.err;
  EXPECT_EQ(g.out, "rgba.png  48x32\n");
  EXPECT_EQ(Zv({"graphic", "add", p, M, dir / "missing.png"}).status, 2);

  // Button sound ids name sounds of the project's sound file.
  const std::string sounds = std::string(ZV_TEST_DATA) + "/sounds/";
  ASSERT_EQ(Zv({"sound", "build", dir / "Sound.bdmv", sounds + "click_48k.wav", sounds + "mono_48k.wav",
                sounds + "stereo_48k.wav"}).status, 0);
  ASSERT_EQ(Zv({"sound", "set", p, dir / "Sound.bdmv"}).status, 0);

  const std::string B1 = P + "/Bog#1/Button#1";
  RunResult set = Zv({"set", p, B1, "normal=rgba.png", "selected=rgba.png,rgba.png", "x=100", "y=40",
                      "commands=JumpTitle 1; Nop", "numeric=3", "auto-action=yes", "activated-sound=2"});
  ASSERT_EQ(set.status, 0) << set.err;
  ASSERT_EQ(Zv({"set", p, P + "/Bog#2/Button#2", "normal=rgba.png", "x=300", "y=40"}).status, 0);
  ASSERT_EQ(Zv({"set", p, P + "/Bog#3/Button#3", "normal=rgba.png", "x=500", "y=45"}).status, 0);
  RunResult nb = Zv({"set", p, P, "neighbours=spatial", "default-selected=Button#2", "default-activated=current"});
  ASSERT_EQ(nb.status, 0) << nb.err;

  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  struct Refusal {
    std::string object, pair, why;
  };
  for (const Refusal& r : std::vector<Refusal>{
           {B1, "up=Button#9", "expected a button of page"},
           {B1, "commands=Bogus 3", "is not a navigation command"},
           {B1, "numeric=10000", "0 to 9999"},
           {B1, "normal=nothing.png", "expected graphics"},
           {B1, "name=Button#2", "already has that name"},
           {B1, "name=None", "stands for no object"},
           {B1, "name=current", "stands for the selected button"},
           {B1, "selected-sound=3", "has 3 sounds, ids 0 to 2"},
           {P, "neighbours=diagonal", "spatial or sequential"},
           {P + "/Bog#1", "default=Button#2", "a button of this BOG"},
           {P + "/Bog#1", "colour=red", "has no setting"}}) {
    // A good pair first: it must not be saved either.
    const std::string good = r.object == P ? "default-selected=none" : r.object == B1 ? "x=7" : "default=none";
    RunResult bad = Zv({"set", p, r.object, good, r.pair});
    EXPECT_EQ(bad.status, 2) << r.pair;
    EXPECT_TRUE(Has(bad.err, r.why)) << bad.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(p), before) << "a refused value leaves the project unchanged";

  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  const std::string& o = show.out;
  EXPECT_TRUE(Has(o, "Page#1  [id 0]  default selected Button#2, default activated Current Selected Button, palette none\n"))
      << o;
  EXPECT_TRUE(Has(o, "Bog#1  [id 0]  default Button#1\n"));
  EXPECT_TRUE(Has(o, "Button#1  [id 0]  at 100,40  size 48x32  type 0 (own commands)  numeric 3  auto-action yes\n"));
  EXPECT_TRUE(Has(o, "selected: rgba.png .. rgba.png, sound none\n"));
  EXPECT_TRUE(Has(o, "activated: none, sound 2\n"));
  // One row: the ends wrap around.
  EXPECT_TRUE(Has(o, "neighbours: up none, down none, left Button#3, right Button#2\n"));
  EXPECT_TRUE(Has(o, "neighbours: up none, down none, left Button#2, right Button#1\n"));
  EXPECT_TRUE(Has(o, "command 1: JumpTitle 1\n"));
  EXPECT_TRUE(Has(o, "command 2: Nop\n"));

  RunResult json = Zv({"show", p, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_TRUE(Has(json.out, "\"defaultSelected\":\"Button#2\",\"defaultActivated\":\"Current Selected Button\"")) << json.out;
  EXPECT_TRUE(Has(json.out, "\"neighbours\":{\"up\":null,\"down\":null,\"left\":\"Button#3\",\"right\":\"Button#2\"}"));
  EXPECT_TRUE(Has(json.out, "\"commands\":[\"JumpTitle 1\",\"Nop\"]"));

  ASSERT_EQ(Zv({"set", p, P, "neighbours=sequential"}).status, 0);
  EXPECT_TRUE(Has(Zv({"show", p}).out, "neighbours: up Button#3, down Button#2, left Button#3, right Button#2\n"));

  // Deleting a button drops the references to it; its id is free again.
  ASSERT_EQ(Zv({"delete", p, P + "/Bog#2/Button#2"}).status, 0);
  show = Zv({"show", p});
  EXPECT_TRUE(Has(show.out, "default selected none")) << show.out;
  EXPECT_TRUE(Has(show.out, "Bog#2  [id 1]  default none\n"));
  EXPECT_FALSE(Has(show.out, "Button#2"));
  EXPECT_EQ(Zv({"button", "add", p, P + "/Bog#2"}).out, P + "/Bog#2/Button#2\n");
  EXPECT_EQ(Zv({"set", p, B1, "type=4"}).status, 0);
  EXPECT_FALSE(Has(Zv({"show", p}).out, "command 1: JumpTitle 1")) << "a typed button drops its own commands";
}

// The top menu's own film holds only its background: its audio and
// subtitle buttons choose among the streams of the movie they name, the
// first movie when they name none; a movie's own menu has no such choice.
TEST(MenuCommands, TopMenuStreamButtonsChooseFromTheMovie) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string eng = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string fra = zvtest::CopyFixture("ac3_mono.ac3", dir.Path());
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", video, eng, fra}).status, 0);
  ASSERT_EQ(Zv({"movie", "add", p}).status, 0);
  ASSERT_EQ(Zv({"source", "add", p, "Movie#2/Clip#1", video, eng}).status, 0);
  ASSERT_EQ(Zv({"source", "add", p, "Top Menu/Background AV", video}).status, 0);
  const std::string M = "Top Menu/IG#1";
  const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";
  ASSERT_EQ(Zv({"page", "add", p, M}).status, 0);
  ASSERT_EQ(Zv({"bog", "add", p, P}).status, 0);
  ASSERT_EQ(Zv({"button", "add", p, P + "/Bog#1"}).status, 0);
  const std::string B = P + "/Bog#1/Button#1";
  RunResult set = Zv({"set", p, B, "type=Audio", "audio=ac3_mono.ac3, eng"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(Has(Zv({"show", p}).out, "choices: audio ac3_mono.ac3, eng, movie-group none, movie none\n"));
  set = Zv({"set", p, B, "movie-group=Movie#2", "audio=none"});
  ASSERT_EQ(set.status, 0) << set.err;
  RunResult bad = Zv({"set", p, B, "audio=ac3_mono.ac3, eng"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad.err, "no audio of that name; there are \"ac3_stereo.ac3, eng\"")) << bad.err;
  set = Zv({"set", p, B, "movie-group=Movie#1", "movie=Title#1", "audio=ac3_mono.ac3, eng"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_TRUE(Has(Zv({"show", p}).out, "choices: audio ac3_mono.ac3, eng, movie-group Movie#1, movie Title#1\n"));

  // In a movie's pop-up menu the streams are that movie's own.
  const std::string Q = "Movie#2/IG#1/Epoch#1/DisplaySet#1/Page#1";
  ASSERT_EQ(Zv({"page", "add", p, "Movie#2/IG#1"}).status, 0);
  ASSERT_EQ(Zv({"bog", "add", p, Q}).status, 0);
  ASSERT_EQ(Zv({"button", "add", p, Q + "/Bog#1"}).status, 0);
  bad = Zv({"set", p, Q + "/Bog#1/Button#1", "type=Subtitle", "movie-group=Movie#1"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_TRUE(Has(bad.err, "a button of type \"Subtitle\" has the choices subtitle")) << bad.err;
}

// Typed buttons through the shell: the type by its name and its choices by
// the names of what they choose, for the whole BOG; a name that does not
// exist is refused with the names that do, and nothing is saved.
TEST(MenuCommands, ButtonTypesAndChoicesByName) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string eng = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string fra = zvtest::CopyFixture("ac3_mono.ac3", dir.Path());
  RunResult added = Zv({"source", "add", p, "Movie#1/Clip#1", video, eng, fra});
  ASSERT_EQ(added.status, 0) << added.err;
  ASSERT_EQ(Zv({"set", p, "Movie#1/Clip#1/Track#3", "language=fra"}).status, 0);
  ASSERT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:00:00:00", "Opening", "--fps", "1"}).status, 0);
  ASSERT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:00:01:00", "Journey", "--fps", "1"}).status, 0);
  const std::string M = "Movie#1/IG#1";
  const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";
  ASSERT_EQ(Zv({"page", "add", p, M}).status, 0);
  ASSERT_EQ(Zv({"page", "add", p, M}).status, 0);
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(Zv({"bog", "add", p, P}).status, 0);
  for (const char* bog : {"/Bog#1", "/Bog#1", "/Bog#2", "/Bog#3"}) ASSERT_EQ(Zv({"button", "add", p, P + bog}).status, 0);
  const std::string B1 = P + "/Bog#1/Button#1", B3 = P + "/Bog#2/Button#3", B4 = P + "/Bog#3/Button#4";

  RunResult set = Zv({"set", p, B1, "type=audio", "audio=ac3_mono.ac3, fra"});
  ASSERT_EQ(set.status, 0) << set.err;
  set = Zv({"set", p, B3, "type=Chapter", "movie-group=Movie#1", "movie=Title#1", "chapter=journey"});
  ASSERT_EQ(set.status, 0) << set.err;
  set = Zv({"set", p, B4, "commands=JumpTitle 1", "type=Page", "page=Page#2"});
  ASSERT_EQ(set.status, 0) << set.err;
  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  const std::string& o = show.out;
  // Both buttons of the audio BOG took the type and the choice.
  EXPECT_TRUE(Has(o, "Button#1  [id 0]  at 0,0  size 0x0  type 25 (Audio)")) << o;
  EXPECT_TRUE(Has(o, "Button#2  [id 1]  at 0,0  size 0x0  type 25 (Audio)")) << o;
  size_t at = 0, count = 0;
  while ((at = o.find("choices: audio ac3_mono.ac3, fra\n", at)) != std::string::npos) ++count, ++at;
  EXPECT_EQ(count, 2u) << o;
  EXPECT_TRUE(Has(o, "type 16 (Chapter)")) << o;
  EXPECT_TRUE(Has(o, "choices: movie-group Movie#1, movie Title#1, chapter Journey\n")) << o;
  EXPECT_TRUE(Has(o, "type 20 (Page)")) << o;
  EXPECT_TRUE(Has(o, "choices: page Page#2\n")) << o;
  EXPECT_FALSE(Has(o, "command 1: JumpTitle 1")) << "a new type drops the button's own commands";

  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  struct Refusal {
    std::string object, first, pair, why;
  };
  // A good pair first: it must not be saved either.
  for (const Refusal& r : std::vector<Refusal>{
           {B1, "x=9", "type=Bogus", "the types are \"Image Only\", \"TopMenu\", \"Call TopMenu\", \"Title\""},
           {B1, "x=9", "audio=dts", "no audio of that name; there are \"ac3_stereo.ac3, eng\", \"ac3_mono.ac3, fra\""},
           {B1, "x=9", "page=Page#1", "a button of type \"Audio\" has the choices audio"},
           {B3, "x=9", "movie=Title#9", "no movie of that name; there are \"Title#1\""},
           {B3, "x=9", "chapter=Finale", "there are \"Opening\", \"Journey\""},
           {B4, "x=9", "page=Page#3", "no page of that name; there are \"Page#1\", \"Page#2\""},
           {B4, "type=Trailer", "trailer=Title#1/PI#1", "there is no trailer to choose"}}) {
    RunResult bad = Zv({"set", p, r.object, r.first, r.pair});
    EXPECT_EQ(bad.status, 2) << r.pair;
    EXPECT_TRUE(Has(bad.err, r.why)) << bad.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(p), before) << "a refused choice leaves the project unchanged";

  // Choosing the movie again drops the chapter chosen within it; none clears.
  ASSERT_EQ(Zv({"set", p, B3, "movie=Title#1"}).status, 0);
  EXPECT_TRUE(Has(Zv({"show", p}).out, "choices: movie-group Movie#1, movie Title#1, chapter none\n"));
  ASSERT_EQ(Zv({"set", p, B3, "movie-group=none", "type=Call Title", "movie-group=movie#1", "movie=Title#1"}).status, 0);
  EXPECT_TRUE(Has(Zv({"show", p}).out, "type 11 (Call Title)"));
  EXPECT_TRUE(Has(Zv({"show", p}).out, "choices: movie-group Movie#1, movie Title#1\n"));
}

// Page effects through set: the ready-made fade and slide become windows,
// effects and composition objects (shown by show, written by the export),
// the fade's palettes go with the effect, and bad values are refused.
TEST(MenuCommands, PageEffectsAndAnimationRateBySet) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  const std::string img = std::string(ZV_TEST_DATA) + "/images/rgba.png";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string M = "Movie#1/IG#1";
  const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";
  ASSERT_EQ(Zv({"page", "add", p, M}).status, 0);
  ASSERT_EQ(Zv({"bog", "add", p, P}).status, 0);
  ASSERT_EQ(Zv({"button", "add", p, P + "/Bog#1"}).status, 0);
  ASSERT_EQ(Zv({"graphic", "add", p, M, img}).status, 0);
  ASSERT_EQ(Zv({"set", p, P + "/Bog#1/Button#1", "normal=rgba.png", "x=100", "y=500"}).status, 0);
  // The menu takes its video format from its film's video.
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", video}).status, 0);

  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  for (const auto& [pair, why] : std::vector<std::pair<std::string, std::string>>{
           {"in-effect=fade,nothing.png,0,0,400", "is no graphic of the menu"},
           {"in-effect=wobble,rgba.png,0,0,400", "expected none, fade"},
           {"in-effect=slide,up,rgba.png,0,0,400", "expected none, fade"},
           {"out-effect=fade,rgba.png,0,0,400,65", "expected none, fade"},
           {"animation-frame-rate=256", "0..255"}}) {
    RunResult bad = Zv({"set", p, P, pair});
    EXPECT_EQ(bad.status, 2) << pair;
    EXPECT_TRUE(Has(bad.err, why)) << pair << ": " << bad.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(p), before) << "a refused value leaves the project unchanged";

  RunResult set = Zv({"set", p, P, "in-effect=fade,rgba.png,100,100,400,4", "out-effect=slide,right,rgba.png,100,100,200,2",
                      "animation-frame-rate=2"});
  ASSERT_EQ(set.status, 0) << set.err;
  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_TRUE(Has(show.out, "In Effect: windows 1, effects 4\n")) << show.out;
  EXPECT_TRUE(Has(show.out, "Out Effect: windows 1, effects 2\n")) << show.out;
  EXPECT_TRUE(Has(show.out, "duration 9000, palette Page#1 in fade 1/4\n")) << show.out;
  EXPECT_TRUE(Has(show.out, "graphic rgba.png in Window#0 at 124,100, cropped\n")) << show.out;

  // The compiled page carries the effects and the rate.
  ASSERT_EQ(Zv({"menu", "export", p, M, dir / "m.ies"}).status, 0);
  RunResult dump = Zv({"dump", dir / "m.ies"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_TRUE(Has(dump.out, "AnimationFrameRateCode: 2\n")) << dump.out;
  EXPECT_TRUE(Has(dump.out, "NumberOfEffects: 4\n"));
  EXPECT_TRUE(Has(dump.out, "ObjectCroppedFlag: 1\n"));

  // Cleared, the fade takes its palettes with it.
  ASSERT_EQ(Zv({"set", p, P, "in-effect=none"}).status, 0);
  show = Zv({"show", p});
  EXPECT_FALSE(Has(show.out, "In Effect:")) << show.out;
  EXPECT_TRUE(Has(show.out, "Out Effect: windows 1, effects 2\n")) << show.out;
  RunResult json = Zv({"show", p, "--json"});
  EXPECT_FALSE(Has(json.out, "in fade")) << json.out;
  EXPECT_TRUE(Has(json.out, "Page#1 palette")) << json.out;
}

// A menu whose size is not its background video's is refused at the build
// with both sizes named.
TEST(MenuCommands, AMenuOfAnotherSizeThanItsVideoNamesBoth) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  const std::string pictures = std::string(ZV_TEST_DATA) + "/../../demo/media/menu/";
  zvtest::WriteText(dir / "menu.xml", R"(<HDMVExport><InteractiveGraphic width="1280" height="720"><DisplaySet>
<Page name="Main"><ButtonOverlapGroup><Button name="Play" x="100" y="100"><Normal path=")" + pictures +
                                          R"(play_n.png"/></Button></ButtonOverlapGroup></Page>
</DisplaySet></InteractiveGraphic></HDMVExport>)");
  ASSERT_EQ(Zv({"new", p}).status, 0);
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", std::string(ZV_TEST_DATA) + "/h264_1080p2398.264"}).status, 0);
  ASSERT_EQ(Zv({"source", "add", p, "Top Menu/Background AV", std::string(ZV_TEST_DATA) + "/h264_1080p2398.264"}).status, 0);
  RunResult r = Zv({"menu", "import", p, "Top Menu/IG#1", dir / "menu.xml"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Zv({"build", p, dir / "out", "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err + r.out, "size of video and menu mismatch! (video 1920x1080, menu 1280x720)")) << r.err << r.out;
}

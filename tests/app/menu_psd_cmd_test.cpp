// `zelvane menu import-psd`: a GIMP-made design becomes the model of a
// menu; refused designs leave the project file byte for byte as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

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

// The import writes its converted stream beside the design: the tests work
// on copies. The small designs get the canvas of a video size (the header's
// height and width; the merged picture after the layers is not read), as
// the import takes no other.
std::string Psd(const std::string& name, bool videoCanvas = true) {
  static zvtest::TempDir copies;
  const std::string to = copies / name;
  std::vector<uint8_t> bytes = zvtest::ReadBytes(zvtest::DataPath("psd/" + name));
  if (videoCanvas && bytes.size() >= 26) {
    const uint8_t size[8] = {0, 0, 0x04, 0x38, 0, 0, 0x07, 0x80};  // 1080, 1920
    std::copy(size, size + 8, bytes.begin() + 14);
  }
  zvtest::WriteBytes(to, bytes);
  return to;
}

}  // namespace

TEST(MenuImportPsd, DesignBecomesMenuModel) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", Psd("design.psd")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Movie#1/IG#1: 2 pages, 5 buttons from ")) << r.out;
  // One progress line per page.
  EXPECT_TRUE(Has(r.err, "Home: 2 BOGs, 2 buttons, 7 graphics")) << r.err;
  EXPECT_TRUE(Has(r.err, "Setup: 2 BOGs, 3 buttons, 6 graphics")) << r.err;

  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  for (const char* part :
       {"Main  [id 0]  pop-up, user time-out 720000", "Home  [id 0]  default selected none, default activated none, palette Palettte#0",
        "Play  [id 0]  at 16,18", "Chapters  [id 1]  at 120,20",
        "selected: Home.Chapters.Selected .. Home.Chapters.Selected.2",
        "English  [id 0]  at 20,60", "French  [id 1]  at 100,60", "Back  [id 2]  at 20,120",
        "neighbours: up English, down English"})
    EXPECT_TRUE(Has(show.out, part)) << part << "\n" << show.out;

  // The menu's pages are replaced by a second import, not added to.
  r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", Psd("design_raw.psd"), "--force"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "1 pages, 1 buttons")) << r.out;
  show = Zv({"show", p});
  EXPECT_TRUE(Has(show.out, "Only  [id 0]"));
  EXPECT_FALSE(Has(show.out, "Home  [id 0]"));
}

TEST(MenuImportPsd, RefusedDesignsLeaveProjectAsItWas) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  ASSERT_EQ(Zv({"menu", "import-psd", p, "Movie#1/IG#1", Psd("design_raw.psd")}).status, 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  struct Case {
    std::string file;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {Psd("bad_state_first.psd"), "Undefined Button Layer group: B! "},
           {Psd("bad_two_ig.psd"), "Multi-IG Layer groups are defined! "},
           {Psd("bad_empty_layer.psd"), "Failed to create layer image, layer may be empty? "},
           {Psd("bad_ds_without_ig.psd"), "Undefined IG Layer group:Ig! "},
           {zvtest::DataPath("images/rgb.png"), ":\nWrong or unsupported PSD file! "},
           {dir / "missing.psd", "Cannot open"},
       }) {
    RunResult r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", c.file});
    EXPECT_EQ(r.status, 2) << c.file;
    EXPECT_TRUE(Has(r.err, c.message)) << c.file << ": " << r.err;
    EXPECT_EQ(zvtest::ReadBytes(p), before) << c.file;
  }
  RunResult notMenu = Zv({"menu", "import-psd", p, "Movie#1/Clip#1", Psd("design.psd")});
  EXPECT_EQ(notMenu.status, 2);
  EXPECT_TRUE(Has(notMenu.err, "is not a menu")) << notMenu.err;
  EXPECT_EQ(Zv({"menu", "import-psd", p, "Movie#1/IG#1", Psd("design.psd"), "--bogus"}).status, 64);
  EXPECT_EQ(Zv({"menu", "import-psd", p, "Movie#1/IG#1"}).status, 64);
  EXPECT_EQ(zvtest::ReadBytes(p), before);
}

// A canvas that no video format has is refused, naming the design and the
// sizes a menu may have.
TEST(MenuImportPsd, ACanvasOfNoVideoSizeIsRefused) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", Psd("design_raw.psd", false)});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "design_raw.psd\": the canvas is 64x48")) << r.err;
  EXPECT_TRUE(Has(r.err, "1920x1080")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), before);
}

// The design converted for one menu is reused for a second one without
// --force: the stream's side file gives back the names of its pages, BOGs
// and buttons, and with them the buttons' types. A stream whose side file
// lacks them is converted again. The output says which happened.
TEST(MenuImportPsd, ASecondMenuGetsTheDesignsNamesAndTypesFromTheConvertedStream) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string design = dir / "menu_disc.psd";
  std::filesystem::copy_file(zvtest::DataPath("psd/menu_disc.psd"), design);
  RunResult r = Zv({"menu", "import-psd", p, "Top Menu/IG#1", design});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string firstShow = Zv({"show", p}).out;
  ASSERT_TRUE(Has(firstShow, "Page  [id ")) << firstShow;

  r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", design});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "converted before, with the names and button types kept")) << r.err;
  // Both menus now show the same buttons with the same types.
  const std::string show = Zv({"show", p}).out;
  auto buttonLines = [](const std::string& text, const std::string& under) {
    std::vector<std::string> out;
    const size_t from = text.find(under);
    std::istringstream in(text.substr(from == std::string::npos ? text.size() : from));
    for (std::string l; std::getline(in, l);)
      if (Has(l, "  type ")) out.push_back(l.substr(l.find_first_not_of(' ')));
    return out;
  };
  const std::vector<std::string> top = buttonLines(firstShow, "  Top Menu  [");
  const std::vector<std::string> movie = buttonLines(show, "  Movie#1  [");
  ASSERT_FALSE(top.empty()) << firstShow;
  ASSERT_GE(movie.size(), top.size()) << show;
  for (size_t i = 0; i < top.size(); ++i) EXPECT_EQ(movie[i].substr(0, movie[i].find("  neighbours")),
                                                    top[i].substr(0, top[i].find("  neighbours")));

  // A side file without the names (an older import's): converted again.
  zvtest::WriteText(dir / "menu_disc.txt", "1\n0\n1\n");
  r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", design});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "converted the design again")) << r.err;
  EXPECT_NE(zvtest::ReadText(dir / "menu_disc.txt"), "1\n0\n1\n") << "the side file now keeps the names";
}

// A side file that cannot be written fails the import as a whole: exit 2,
// the project byte for byte as it was, no converted stream left to be
// taken as current by the next import.
TEST(MenuImportPsd, SideFileThatCannotBeWrittenFailsTheImport) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  const std::string design = dir / "menu.psd";
  std::filesystem::copy_file(Psd("design.psd"), design);
  // A folder where the side file goes cannot be replaced.
  std::filesystem::create_directory(dir / "menu.txt");
  RunResult r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", design});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_TRUE(Has(r.err, "menu.txt")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "menu.ies"));
  // With the way clear, the same import goes through and keeps the names.
  std::filesystem::remove(dir / "menu.txt");
  r = Zv({"menu", "import-psd", p, "Movie#1/IG#1", design});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zvtest::ReadText(dir / "menu.txt").rfind("1\n0\n1\n", 0), 0u);
  EXPECT_NE(zvtest::ReadBytes(p), before);
}

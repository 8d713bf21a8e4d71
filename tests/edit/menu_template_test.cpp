// Templates of generated menus: the shipped ones load, a new file is found
// without code, and a wrong line is refused with its number and the rule.
#include <gtest/gtest.h>

#include <string>

#include "edit/menu_generate.h"
#include "edit/menu_template.h"
#include "support/test_support.h"

namespace {

const std::string kTemplates = std::string(ZV_TEST_DATA) + "/../../templates";

TEST(MenuTemplate, TheShippedTemplatesLoadAndDifferInLayoutAndLook) {
  const std::vector<std::string> folders = {kTemplates};
  EXPECT_EQ(zvedit::TemplateNames(folders), (std::vector<std::string>{"cinema", "classic", "modern"}));
  zvedit::SMenuTemplate c, m, k;
  std::string error;
  ASSERT_TRUE(zvedit::LoadMenuTemplate("classic", folders, c, error)) << error;
  ASSERT_TRUE(zvedit::LoadMenuTemplate("modern", folders, m, error)) << error;
  ASSERT_TRUE(zvedit::LoadMenuTemplate("cinema", folders, k, error)) << error;
  EXPECT_EQ(c.columns, 1);
  EXPECT_TRUE(m.alignLeft);
  EXPECT_EQ(m.columns, 2);
  EXPECT_EQ(k.columns, 4);
  EXPECT_EQ(c.selectedBar, 0x3c6e9fu);
  EXPECT_EQ(c.text.font, "DejaVu Serif");
  EXPECT_NE(c.background, m.background);
  EXPECT_NE(m.background, k.background);
  // Every list and chapter grid fits above the row of Back / Next.
  for (const zvedit::SMenuTemplate* t : {&c, &m, &k}) {
    const int grid = t->thumbTop + t->thumbRows * (t->thumbHeight + 2 * t->thumbBorder + t->thumbTextSize * 3 / 2 + t->gap);
    EXPECT_LE(grid, t->navY) << t->name;
    EXPECT_LE(t->area.y + t->buttonHeight, t->navY) << t->name;
  }
}

TEST(MenuTemplate, ANewFileIsATemplateAndItsFaultsAreNamed) {
  zvtest::TempDir dir;
  zvtest::WriteText(dir / "gold.ini",
                    "# a comment line\nbackground = #102030 ; after a value\ntext-size = 50\nfont = DejaVu Sans\n");
  zvtest::WriteText(dir / "bad.ini", "background = #102030\n\ntext-size = huge\n");
  zvtest::WriteText(dir / "odd.ini", "glow = 3\n");
  const std::vector<std::string> folders = {dir.Path(), kTemplates};
  zvedit::SMenuTemplate t;
  std::string error;
  ASSERT_TRUE(zvedit::LoadMenuTemplate("gold", folders, t, error)) << error;
  EXPECT_EQ(t.background, 0x102030u);
  EXPECT_EQ(t.text.size, 50);
  EXPECT_EQ(t.name, "gold");

  EXPECT_FALSE(zvedit::LoadMenuTemplate("bad", folders, t, error));
  EXPECT_EQ(error, "\"" + dir.Path() + "/bad.ini\": line 3: text-size is 8 to 200 pixels, not \"huge\"");
  EXPECT_FALSE(zvedit::LoadMenuTemplate("odd", folders, t, error));
  EXPECT_NE(error.find("line 1: unknown key \"glow\""), std::string::npos) << error;
  EXPECT_FALSE(zvedit::LoadMenuTemplate("none", folders, t, error));
  EXPECT_EQ(error, "no template \"none\" (there are: bad, cinema, classic, gold, modern, odd)");
  // A name is a file stem in the folders, never a path.
  zvtest::WriteText(dir / "sub.ini", "");
  EXPECT_FALSE(zvedit::LoadMenuTemplate("../" + std::string(dir.Path()).substr(1) + "/sub", {kTemplates}, t, error));

  std::string text = "area = 0 0 100 50\n";
  EXPECT_FALSE(zvedit::ParseMenuTemplate(text, t, error));
  EXPECT_EQ(error, "the area holds no button of 640x72");
  text = "button-height = 80\nnav-y = 1010\n";
  t = {};
  EXPECT_FALSE(zvedit::ParseMenuTemplate(text, t, error));
  EXPECT_EQ(error, "nav-y puts the Back row below the picture");
}

TEST(MenuTemplate, PagesAndLanguageNames) {
  zvedit::SGenerateOptions o;
  std::string error;
  ASSERT_TRUE(zvedit::ParseMenuPages("audio,titles", o, error)) << error;
  EXPECT_TRUE(o.titles && o.audio);
  EXPECT_FALSE(o.chapters || o.subtitles);
  EXPECT_FALSE(zvedit::ParseMenuPages("titles,,audio", o, error));
  EXPECT_EQ(error, "--pages takes titles, chapters, audio and subtitles, not \"\"");
  EXPECT_EQ(zvedit::LanguageName("deu"), "Deutsch");
  EXPECT_EQ(zvedit::LanguageName("ger"), "Deutsch");
  EXPECT_EQ(zvedit::LanguageName("fra"), "Français");
  EXPECT_EQ(zvedit::LanguageName("eng"), "English");
  EXPECT_EQ(zvedit::LanguageName("xyz"), "xyz");
}

}  // namespace

// The read-only rows `show`, `--json` and the grid share: each object kind
// gives what it holds, and reading them changes nothing. A button state
// whose end picture is missing is described so that setting the value back
// keeps it missing.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "edit/chapter_import.h"
#include "edit/commands.h"
#include "edit/properties.h"
#include "edit/rows.h"
#include "graphics/menu_model.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> Bytes(zv::CZvObject& p) { return zv::StoreProject(p, std::string()); }

// key -> every value of it, in order; reading leaves the project bytes as they were.
std::map<std::string, std::vector<std::string>> FactsOf(zv::CZvObject& project, zv::CNamedObject& obj) {
  const std::vector<uint8_t> before = Bytes(project);
  std::map<std::string, std::vector<std::string>> out;
  for (const zvedit::PropertyInfo& row : zvedit::Facts(obj)) out[row.key].push_back(row.value);
  EXPECT_EQ(Bytes(project), before) << obj.m_strName;
  return out;
}

zv::CNamedObject& Find(zv::CZvObject& project, const std::string& path) {
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, path, error);
  EXPECT_NE(obj, nullptr) << path << ": " << error;
  return *obj;
}

void Set(zv::CZvObject& project, const std::string& path, const std::string& key, const std::string& value) {
  zvedit::Target t;
  std::string error;
  ASSERT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  ASSERT_TRUE(zvedit::ApplyProperty(project, t, key, value, error)) << key << "=" << value << ": " << error;
}

using Values = std::vector<std::string>;

TEST(EditFacts, EveryObjectKindGivesWhatItHolds) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  zv::ScriptedPrompt prompt;
  std::string error, where;
  auto& clip = dynamic_cast<zv::CStoryObject&>(Find(project, "Movie#1/Clip#1"));
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  ASSERT_EQ(clip.AddSource(video, true, zv::Progress{}, prompt), zv::kOk);
  ASSERT_EQ(clip.AddSource(audio, true, zv::Progress{}, prompt), zv::kOk);
  project.ReloadSources(zv::Progress{}, prompt);
  auto& item = dynamic_cast<zv::CPiObject&>(Find(project, "Movie#1/Title#1/PI#1"));
  int code = 0;
  ASSERT_TRUE(zvedit::ChapterRateFor(item, 0, "Movie#1/Title#1/PI#1", code, error)) << error;
  ASSERT_EQ(code, 1);
  ASSERT_NE(zvedit::AddChapter(item, code, "00:00:00:00", "One", error), 0u) << error;
  ASSERT_NE(zvedit::AddChapter(item, code, "00:00:02:10", "Two", error), 0u) << error;
  ASSERT_NE(zvedit::AddChapter(item, code, "end", "", error), 0u) << error;
  ASSERT_EQ(item.m_chapters.m_points.size(), 3u);

  zv::CNamedObject& menu = Find(project, "Movie#1/IG#1");
  zv::CPage* page = zvedit::AddPage(menu, "Movie#1/IG#1", where, error);
  ASSERT_NE(page, nullptr) << error;
  const std::string pagePath = where + "/" + page->m_strName;
  const std::string picture = zvtest::CopyFixture("images/gray.png", dir.Path());
  zv::CGraphicObject* graphic = zvedit::AddGraphic(menu, "Movie#1/IG#1", picture, error);
  ASSERT_NE(graphic, nullptr) << error;
  zv::CBog* bog = zvedit::AddBog(*page, pagePath, error);
  ASSERT_NE(bog, nullptr) << error;
  zv::CBdButton* button = zvedit::AddButton(*bog, pagePath + "/" + bog->m_strName, error);
  ASSERT_NE(button, nullptr) << error;
  const std::string buttonPath = pagePath + "/" + bog->m_strName + "/" + button->m_strName;
  Set(project, buttonPath, "normal", graphic->m_strName);
  Set(project, pagePath, "default-activated", "current");
  Set(project, pagePath, "in-effect", "fade," + graphic->m_strName + ",10,20,400,4");

  auto f = FactsOf(project, Find(project, "Movie#1"));
  EXPECT_EQ(f["type"], Values{"Movie"});
  EXPECT_EQ(f["type-code"], Values{std::to_string(zv::kFilmMovie)});
  EXPECT_EQ(f["id"].size(), 1u);

  f = FactsOf(project, clip);
  ASSERT_EQ(f["source"].size(), 2u);
  EXPECT_EQ(f["source"][0], clip.m_vecSources[0]);
  EXPECT_NE(f["source"][1].find("ac3_stereo.ac3"), std::string::npos) << f["source"][1];

  f = FactsOf(project, menu);
  EXPECT_EQ(f["epochs"], Values{"1"});
  EXPECT_EQ(f["empty"], Values{"no"});
  EXPECT_EQ(f["user-timeout"], Values{std::to_string(dynamic_cast<zv::CZvIgObject&>(menu).m_nUserTimeout)});

  std::map<std::string, std::vector<std::string>> track;
  for (const zvedit::PropertyInfo& row : zvedit::TrackFacts(clip, 1)) track[row.key].push_back(row.value);
  EXPECT_EQ(track["number"], Values{std::to_string(clip.TrackRefs()[1].number)});
  EXPECT_EQ(track["coding-type"], Values{"129"});  // AC-3
  EXPECT_EQ(track["path"], Values{clip.TrackRefs()[1].path});
  EXPECT_EQ(track.count("source-pid"), 0u);  // not taken from an existing clip
  EXPECT_TRUE(zvedit::TrackFacts(clip, 2).empty());

  EXPECT_EQ(FactsOf(project, project)["sound-file"], Values{""});
  Set(project, "Movie#1/Title#1", "uo.ChapterSearch", "1");
  Set(project, "Movie#1/Title#1/PI#1", "uo.TimeSearch", "1");
  EXPECT_EQ(FactsOf(project, Find(project, "Movie#1/Title#1"))["prohibited"], Values{"ChapterSearch"});

  f = FactsOf(project, item);
  EXPECT_EQ(f["prohibited"], Values{"TimeSearch"});
  EXPECT_EQ(f["stream-selections"], Values{"2"});
  EXPECT_EQ(f["story"], Values{"Clip#1"});
  EXPECT_EQ(f["fps-code"], Values{"1"});
  EXPECT_EQ(f["fps"], Values{zv::FpsNameOfCode(1)});
  EXPECT_EQ(f["chapters"], Values{"3"});
  // Four rows per chapter, lined up.
  EXPECT_EQ(f["chapter"], (Values{"00:00:00:00", "00:00:02:10", "end"}));
  EXPECT_EQ(f["chapter-name"], (Values{"One", "Two", ""}));
  EXPECT_EQ(f["chapter-frames"], (Values{"0", "58", "-1"}));
  EXPECT_EQ(f["chapter-type"], (Values{"1", "1", "1"}));

  zvedit::LoadGraphicSizes(dynamic_cast<zv::CIgObject&>(menu));
  f = FactsOf(project, *graphic);
  EXPECT_EQ(f["width"], Values{"48"});
  EXPECT_EQ(f["height"], Values{"32"});
  EXPECT_EQ(f["path"], Values{picture});

  zv::CEpoch& epoch = *zv::EpochOf(page);
  ASSERT_GT(epoch.m_palettes.GetCount(), 1u);
  f = FactsOf(project, *epoch.m_palettes.GetAt(0));
  EXPECT_EQ(f["entries"], Values{std::to_string(epoch.m_palettes.GetAt(0)->GetCount())});

  f = FactsOf(project, *epoch.GetAt(0));
  EXPECT_EQ(f["user-interface-model"], Values{"1"});  // the movie's menu is a pop-up
  EXPECT_EQ(f["state"], Values{"2"});

  f = FactsOf(project, *page);
  EXPECT_EQ(f["default-activated-button"], Values{page->m_currentSelected.m_strName});
  EXPECT_EQ(f["in-effects"], Values{"4"});
  EXPECT_EQ(f["out-effects"], Values{"0"});

  f = FactsOf(project, page->m_inEffects);
  EXPECT_EQ(f["windows"], Values{"1"});
  EXPECT_EQ(f["effects"], Values{"4"});
  f = FactsOf(project, *page->m_inEffects.m_windows.GetAt(0));
  EXPECT_EQ(f["x"], Values{"10"});
  EXPECT_EQ(f["y"], Values{"20"});
  EXPECT_EQ(f["width"], Values{"48"});
  EXPECT_EQ(f["height"], Values{"32"});
  zv::CEffectObject& effect = *page->m_inEffects.GetAt(0);
  f = FactsOf(project, effect);
  EXPECT_EQ(f["duration"], Values{std::to_string(effect.m_nDuration)});
  EXPECT_NE(f["palette"], Values{"none"});
  f = FactsOf(project, *effect.GetAt(0));
  EXPECT_EQ(f["graphic"], Values{graphic->m_strName});
  EXPECT_EQ(f["window"], Values{page->m_inEffects.m_windows.GetAt(0)->m_strName});
  EXPECT_EQ(f["cropped"], Values{"no"});

  f = FactsOf(project, *button);
  EXPECT_EQ(f["width"], Values{"48"});
  EXPECT_EQ(f["height"], Values{"32"});
  EXPECT_EQ(f["type-code"], Values{"0"});
  EXPECT_EQ(f["type-name"], Values{"own commands"});
  EXPECT_EQ(f["normal-sound"], Values{"none"});
  EXPECT_EQ(f["parameter"].size(), 4u);
  EXPECT_EQ(f.count("command"), 0u);
  Set(project, buttonPath, "commands", "Nop; JumpTitle 2");
  EXPECT_EQ(FactsOf(project, *button)["command"], (Values{"Nop", "JumpTitle 2"}));
  // A code of no known type has no name; a known type has its own.
  button->m_nButtonType = 99;
  EXPECT_EQ(FactsOf(project, *button)["type-name"], Values{""});
  Set(project, buttonPath, "type", "Title");
  EXPECT_EQ(FactsOf(project, *button)["type-name"], Values{"Title"});
  EXPECT_EQ(FactsOf(project, *bog)["id"], Values{std::to_string(bog->m_nId)});
}

TEST(EditFacts, StatePicturesWithAMissingEndAreTakenBackUnchanged) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  std::string error, where;
  zv::CNamedObject& menu = Find(project, "Movie#1/IG#1");
  zv::CPage* page = zvedit::AddPage(menu, "Movie#1/IG#1", where, error);
  ASSERT_NE(page, nullptr) << error;
  const std::string pagePath = where + "/" + page->m_strName;
  zv::CGraphicObject* a = zvedit::AddGraphic(menu, "Movie#1/IG#1", zvtest::CopyFixture("images/gray.png", dir.Path()), error);
  ASSERT_NE(a, nullptr) << error;
  zv::CBog* bog = zvedit::AddBog(*page, pagePath, error);
  ASSERT_NE(bog, nullptr) << error;
  zv::CBdButton* b = zvedit::AddButton(*bog, pagePath + "/" + bog->m_strName, error);
  ASSERT_NE(b, nullptr) << error;
  const std::string path = pagePath + "/" + bog->m_strName + "/" + b->m_strName;
  zvedit::Target t;
  ASSERT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  const auto row = [&](const char* key) { return zvedit::RowValue(zvedit::Describe(project, t), key); };

  Set(project, path, "selected", a->m_strName);
  EXPECT_EQ(row("selected"), a->m_strName);
  EXPECT_EQ(b->m_states[1].m_end.p, a);

  // A picture from A to nothing, and from nothing to A (a graphic deleted
  // from an imported menu leaves such states).
  b->m_states[1].m_end.Clear();
  b->m_states[2].m_start.Clear();
  b->m_states[2].m_end.Set(a);
  EXPECT_EQ(row("selected"), a->m_strName + ",none");
  EXPECT_EQ(row("activated"), "none," + a->m_strName);
  EXPECT_EQ(zvedit::StatePair(row("selected")), std::make_pair(a->m_strName, std::string("none")));
  const std::vector<uint8_t> before = Bytes(project);
  Set(project, path, "selected", row("selected"));
  Set(project, path, "activated", row("activated"));
  EXPECT_EQ(Bytes(project), before);
  EXPECT_EQ(b->m_states[1].m_end.p, nullptr);
  EXPECT_EQ(b->m_states[2].m_start.p, nullptr);

  Set(project, path, "selected", "none");
  EXPECT_EQ(row("selected"), "none");
  EXPECT_EQ(b->m_states[1].m_start.p, nullptr);
  EXPECT_FALSE(zvedit::ApplyProperty(project, t, "selected", "none,missing.png", error));
  EXPECT_NE(error.find("expected graphics of the epoch"), std::string::npos) << error;
}

}  // namespace

// Rows of the grid whose values are worked out rather than stored: a play
// item's tracks, menu sounds, page neighbours, effects and a button type's
// choices. Each shows what `set` made, and reading them changes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "edit/commands.h"
#include "edit/properties.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> Bytes(zv::CZvObject& p) { return zv::StoreProject(p, std::string()); }

// The rows of `key` of the object at `path`; the project bytes stay as they were.
std::vector<zvedit::PropertyInfo> RowsOf(zv::CZvObject& project, const std::string& path, const std::string& key) {
  zvedit::Target t;
  std::string error;
  EXPECT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  const std::vector<uint8_t> before = Bytes(project);
  std::vector<zvedit::PropertyInfo> out;
  for (const zvedit::PropertyInfo& row : zvedit::Describe(project, t))
    if (row.key == key) out.push_back(row);
  EXPECT_EQ(Bytes(project), before) << path;
  return out;
}

std::string ValueOf(zv::CZvObject& project, const std::string& path, const std::string& key) {
  const auto rows = RowsOf(project, path, key);
  return rows.empty() ? "(no row)" : rows[0].value;
}

void Set(zv::CZvObject& project, const std::string& path, const std::string& key, const std::string& value) {
  zvedit::Target t;
  std::string error;
  ASSERT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  ASSERT_TRUE(zvedit::ApplyProperty(project, t, key, value, error)) << key << "=" << value << ": " << error;
  zvedit::FinishChange(t);
}

bool Offers(const zvedit::PropertyInfo& row, const std::string& choice) {
  return std::find(row.choices.begin(), row.choices.end(), choice) != row.choices.end();
}

TEST(EditGridRows, PlayItemTracksOneRowEach) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  zv::ScriptedPrompt prompt;
  std::string error;
  auto* clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(project, "Movie#1/Clip#1", error));
  ASSERT_NE(clip, nullptr) << error;
  ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("h264_1080p2398.264", dir.Path()), true, zv::Progress{}, prompt), zv::kOk);
  ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("ac3_stereo.ac3", dir.Path()), true, zv::Progress{}, prompt), zv::kOk);
  ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("ac3_mono.ac3", dir.Path()), true, zv::Progress{}, prompt), zv::kOk);
  project.ReloadSources(zv::Progress{}, prompt);
  const std::string item = "Movie#1/Title#1/PI#1";
  std::vector<zvedit::PropertyInfo> rows = RowsOf(project, item, "track");
  ASSERT_GE(rows.size(), 2u);
  std::vector<std::string> values;
  for (const auto& r : rows) {
    EXPECT_EQ(r.kind, zvedit::ValueKind::kChoice);
    EXPECT_EQ(r.choices.size(), 2u);
    EXPECT_TRUE(Offers(r, r.value)) << r.value;
    values.push_back(r.value);
  }
  EXPECT_NE(std::find(values.begin(), values.end(), "3:on"), values.end()) << ::testing::PrintToString(values);

  Set(project, item, "track", "3:off");
  values.clear();
  for (const auto& r : RowsOf(project, item, "track")) values.push_back(r.value);
  EXPECT_NE(std::find(values.begin(), values.end(), "3:off"), values.end()) << ::testing::PrintToString(values);
  EXPECT_EQ(std::find(values.begin(), values.end(), "3:on"), values.end());
}

TEST(EditGridRows, PageNeighboursEffectsSoundsAndTypeChoices) {
  zv::CZvObject project;
  project.InitNew();
  std::string error, where;
  zv::CNamedObject* menu = zv::FindObject(project, "Movie#1/IG#1", error);
  ASSERT_NE(menu, nullptr) << error;
  zv::CPage* page = zvedit::AddPage(*menu, "Movie#1/IG#1", where, error);
  ASSERT_NE(page, nullptr) << error;
  const std::string pagePath = where + "/" + page->m_strName;
  std::vector<std::string> buttons;
  for (int i = 0; i < 3; ++i) {
    zv::CBog* bog = zvedit::AddBog(*page, pagePath, error);
    ASSERT_NE(bog, nullptr) << error;
    zv::CBdButton* b = zvedit::AddButton(*bog, pagePath + "/" + bog->m_strName, error);
    ASSERT_NE(b, nullptr) << error;
    buttons.push_back(pagePath + "/" + bog->m_strName + "/" + b->m_strName);
    Set(project, pagePath + "/" + bog->m_strName, "default", b->m_strName);
    Set(project, buttons.back(), "x", std::to_string(100 + 300 * i));
  }

  // Neighbours: the rule they follow, or none when set one by one.
  Set(project, pagePath, "neighbours", "sequential");
  EXPECT_EQ(ValueOf(project, pagePath, "neighbours"), "sequential");
  Set(project, pagePath, "neighbours", "spatial");
  EXPECT_EQ(ValueOf(project, pagePath, "neighbours"), "spatial");
  Set(project, buttons[0], "up", "none");
  Set(project, buttons[0], "left", "none");
  Set(project, buttons[0], "right", zv::FindObject(project, buttons[2], error)->m_strName);
  const auto custom = RowsOf(project, pagePath, "neighbours");
  ASSERT_EQ(custom.size(), 1u);
  EXPECT_EQ(custom[0].value, "");
  EXPECT_TRUE(Offers(custom[0], "spatial"));

  EXPECT_EQ(ValueOf(project, pagePath, "in-effect"), "none");
  EXPECT_EQ(ValueOf(project, pagePath, "out-effect"), "none");

  // Without a sound file only none is offered, and every button has it.
  const auto sound = RowsOf(project, "Movie#1/IG#1", "selected-sound");
  ASSERT_EQ(sound.size(), 1u);
  EXPECT_EQ(sound[0].value, "none");
  EXPECT_EQ(sound[0].choices, std::vector<std::string>{"none"});

  // A type's choices, each with what it offers once the one before is made.
  Set(project, buttons[1], "type", "Title");
  auto group = RowsOf(project, buttons[1], "movie-group");
  ASSERT_EQ(group.size(), 1u);
  EXPECT_EQ(group[0].value, "none");
  ASSERT_TRUE(Offers(group[0], "Movie#1")) << ::testing::PrintToString(group[0].choices);
  Set(project, buttons[1], "movie-group", "Movie#1");
  EXPECT_EQ(ValueOf(project, buttons[1], "movie-group"), "Movie#1");
  const auto movie = RowsOf(project, buttons[1], "movie");
  ASSERT_EQ(movie.size(), 1u);
  ASSERT_TRUE(Offers(movie[0], "Title#1")) << ::testing::PrintToString(movie[0].choices);
  Set(project, buttons[1], "movie", "Title#1");
  EXPECT_EQ(ValueOf(project, buttons[1], "movie"), "Title#1");
}

}  // namespace

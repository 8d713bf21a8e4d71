// The shared description of settings and commands, and the undo history.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "edit/commands.h"
#include "edit/history.h"
#include "edit/properties.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

std::vector<uint8_t> Bytes(zv::CZvObject& p) { return zv::StoreProject(p, std::string()); }

void Set(zv::CZvObject& project, const std::string& path, const std::string& key, const std::string& value) {
  zvedit::Target t;
  std::string error;
  ASSERT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  ASSERT_TRUE(zvedit::ApplyProperty(project, t, key, value, error)) << path << " " << key << ": " << error;
  zvedit::FinishChange(t);
}

// A project with a clip of two tracks, a second title and a menu page with
// two BOGs of one button each: every kind of object that has settings.
void MakeProject(zv::CZvObject& project, const std::string& folder) {
  project.InitNew();
  std::string error;
  zv::ScriptedPrompt prompt;
  auto* clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(project, "Movie#1/Clip#1", error));
  ASSERT_NE(clip, nullptr) << error;
  ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("h264_1080p2398.264", folder), true, zv::Progress{}, prompt), zv::kOk);
  ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("ac3_stereo.ac3", folder), true, zv::Progress{}, prompt), zv::kOk);
  project.ReloadSources(zv::Progress{}, prompt);
  auto* film = dynamic_cast<zv::CFilmObject*>(zv::FindObject(project, "Movie#1", error));
  ASSERT_NE(zvedit::AddTitle(*film), nullptr);
  zv::CNamedObject* menu = zv::FindObject(project, "Movie#1/IG#1", error);
  ASSERT_NE(menu, nullptr) << error;
  std::string where;
  zv::CPage* page = zvedit::AddPage(*menu, "Movie#1/IG#1", where, error);
  ASSERT_NE(page, nullptr) << error;
  for (int i = 0; i < 2; ++i) {
    zv::CBog* bog = zvedit::AddBog(*page, where, error);
    ASSERT_NE(bog, nullptr) << error;
    ASSERT_NE(zvedit::AddButton(*bog, where, error), nullptr) << error;
  }
}

// Every object path of the project that has settings, tracks included.
std::vector<std::string> SettablePaths(zv::CZvObject& project) {
  std::vector<std::string> out;
  std::function<void(zv::CNamedObject*, const std::string&)> walk = [&](zv::CNamedObject* level, const std::string& prefix) {
    for (const auto& [name, obj] : zv::ChildrenOf(project, level)) {
      const std::string path = prefix.empty() ? name : prefix + "/" + name;
      zvedit::Target t;
      std::string error;
      if (zvedit::FindTarget(project, path, t, error) && zvedit::HasSettings(t)) out.push_back(path);
      if (t.story)
        for (size_t k = 0; k < t.story->m_vecTracks.size(); ++k) out.push_back(path + "/Track#" + std::to_string(k + 1));
      walk(obj, path);
    }
  };
  walk(nullptr, "");
  return out;
}

// The description and the setter agree: every described value is taken back
// unchanged, and values outside a described range or list are refused
// without touching the project.
TEST(EditProperties, DescriptionsMatchWhatSetTakes) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  MakeProject(project, dir.Path());
  const std::vector<uint8_t> before = Bytes(project);
  const std::vector<std::string> paths = SettablePaths(project);
  std::set<std::string> kinds;
  size_t checked = 0;
  for (const std::string& path : paths) {
    zvedit::Target t;
    std::string error;
    ASSERT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
    const auto rows = zvedit::Describe(project, t);
    EXPECT_FALSE(rows.empty()) << path;
    for (const auto& row : rows) {
      kinds.insert(row.key);
      // Choosing a button type again clears its choices, as `set` does.
      if (!row.value.empty() && row.key != "type") {
        EXPECT_TRUE(zvedit::ApplyProperty(project, t, row.key, row.value, error)) << path << " " << row.key << "="
                                                                                    << row.value << ": " << error;
        ++checked;
      }
      std::string bad;
      if (row.kind == zvedit::ValueKind::kInt) bad = std::to_string(row.hi + 1);
      if (row.kind == zvedit::ValueKind::kBool) bad = "maybe";
      if (row.kind == zvedit::ValueKind::kChoice && row.key != "neighbours") bad = "no-such-choice";
      if (!bad.empty()) {
        EXPECT_FALSE(zvedit::ApplyProperty(project, t, row.key, bad, error)) << path << " " << row.key << "=" << bad;
        EXPECT_NE(error.find("\"" + row.key + "=" + bad + "\": "), std::string::npos) << error;
      }
      EXPECT_EQ(Bytes(project), before) << path << " " << row.key;
    }
  }
  EXPECT_GT(checked, 100u);
  for (const char* key : {"language", "delay", "playback", "uo.ChapterSearch", "still", "timeout", "default-selected",
                          "default", "type", "normal-repeat", "name"})
    EXPECT_TRUE(kinds.count(key)) << key;
}

TEST(EditProperties, RefusalsKeepSetsWords) {
  zv::CZvObject project;
  project.InitNew();
  zvedit::Target t;
  std::string error;
  ASSERT_TRUE(zvedit::FindTarget(project, "Movie#1/Title#1", t, error)) << error;
  EXPECT_FALSE(zvedit::ApplyProperty(project, t, "playback", "Backwards", error));
  EXPECT_EQ(error, "\"playback=Backwards\": expected Sequential, Random or Shuffle");
  EXPECT_FALSE(zvedit::ApplyProperty(project, t, "colour", "red", error));
  EXPECT_EQ(error.rfind("a title has no setting \"colour\"", 0), 0u) << error;
  EXPECT_FALSE(zvedit::FindTarget(project, "Movie#1/Title#1/Track#1", t, error));
  EXPECT_EQ(error, "\"Movie#1/Title#1\" is not a clip, so it has no tracks");
}

// Undo and redo put back exactly the saved project, across settings, object
// commands and a track change that needs the sources reopened.
TEST(EditHistory, UndoRedoRestoreTheSavedFileByteForByte) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  MakeProject(project, dir.Path());
  const std::string file = dir / "p.zvpj";
  std::string message;
  zvedit::CHistory history;
  history.Reset(project);
  EXPECT_FALSE(history.IsModified());

  std::vector<std::vector<uint8_t>> saved;
  auto save = [&] {
    EXPECT_EQ(zv::SaveProjectFile(file, project, message), zv::kOk) << message;
    return zvtest::ReadBytes(file);
  };
  saved.push_back(save());
  Set(project, "Movie#1/Clip#1/Track#2", "language", "fra");
  history.Commit(project);
  saved.push_back(save());
  Set(project, "Movie#1/Title#1", "playback", "Random");
  Set(project, "Movie#1/Title#1", "uo.ChapterSearch", "1");
  history.Commit(project);
  saved.push_back(save());
  std::string error;
  auto* film = dynamic_cast<zv::CFilmObject*>(zv::FindObject(project, "Movie#1", error));
  zvedit::AddClip(*film);
  ASSERT_TRUE(zvedit::Delete(project, zv::FindObject(project, "Movie#1/Title#2", error), "Movie#1/Title#2", error));
  history.Commit(project);
  saved.push_back(save());
  history.Commit(project);  // no change: no step
  EXPECT_EQ(history.UndoSteps(), 3u);
  EXPECT_TRUE(history.IsModified());

  zv::ScriptedPrompt prompt;
  for (size_t i = saved.size() - 1; i > 0; --i) {
    ASSERT_EQ(history.Undo(project, prompt, message), zv::kOk) << message;
    EXPECT_EQ(save(), saved[i - 1]) << "after undo to step " << i - 1;
  }
  EXPECT_FALSE(history.CanUndo());
  EXPECT_FALSE(history.IsModified());
  EXPECT_NE(history.Undo(project, prompt, message), zv::kOk);
  for (size_t i = 1; i < saved.size(); ++i) {
    ASSERT_EQ(history.Redo(project, prompt, message), zv::kOk) << message;
    EXPECT_EQ(save(), saved[i]) << "after redo to step " << i;
  }
  EXPECT_FALSE(history.CanRedo());
  EXPECT_TRUE(prompt.messages.empty());

  // A new change after an undo forgets the redo steps.
  ASSERT_EQ(history.Undo(project, prompt, message), zv::kOk);
  Set(project, "Movie#1", "name", "Feature");
  history.Commit(project);
  EXPECT_FALSE(history.CanRedo());
}

TEST(EditHistory, KeepsWithinItsBound) {
  zv::CZvObject project;
  project.InitNew();
  const size_t one = Bytes(project).size();
  zvedit::CHistory history(one * 5 / 2);
  history.Reset(project);
  for (int i = 0; i < 10; ++i) {
    Set(project, "Movie#1/Title#1", "playback-count", std::to_string(i + 1));
    history.Commit(project);
    EXPECT_LE(history.HeldBytes(), one * 5 / 2);
  }
  EXPECT_EQ(history.UndoSteps(), 2u);
  zv::ScriptedPrompt prompt;
  std::string message;
  ASSERT_EQ(history.Undo(project, prompt, message), zv::kOk);
  ASSERT_EQ(history.Undo(project, prompt, message), zv::kOk);
  EXPECT_FALSE(history.CanUndo());
  zvedit::Target t;
  ASSERT_TRUE(zvedit::FindTarget(project, "Movie#1/Title#1", t, message));
  EXPECT_EQ(static_cast<zv::CPlObject*>(t.object)->m_nPlaybackCount, 8);
}

}  // namespace

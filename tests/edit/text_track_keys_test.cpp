// The style keys of a track drawn from text subtitles: described for the
// property grid, applied and refused as `set` does, kept in the project
// file, and gone with the source.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "edit/properties.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

std::map<std::string, zvedit::PropertyInfo> Rows(zv::CZvObject& project, const std::string& path) {
  zvedit::Target t;
  std::string error;
  EXPECT_TRUE(zvedit::FindTarget(project, path, t, error)) << error;
  std::map<std::string, zvedit::PropertyInfo> rows;
  for (const auto& r : zvedit::Describe(project, t)) rows[r.key] = r;
  return rows;
}

bool Apply(zv::CZvObject& project, const std::string& path, const std::string& key, const std::string& value,
           std::string& error) {
  zvedit::Target t;
  return zvedit::FindTarget(project, path, t, error) && zvedit::ApplyProperty(project, t, key, value, error);
}

class TextTrackKeys : public ::testing::Test {
 protected:
  void SetUp() override {
    project.InitNew();
    std::string error;
    clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(project, "Movie#1/Clip#1", error));
    ASSERT_NE(clip, nullptr) << error;
    zvtest::WriteText(dir / "film_eng.srt", "1\n00:00:00,300 --> 00:00:01,200\nHello\n");
    ASSERT_EQ(clip->AddSource(zvtest::CopyFixture("h264_1080p2398.264", dir.Path()), true, zv::Progress{}, prompt),
              zv::kOk);
    ASSERT_EQ(clip->AddSource(dir / "film_eng.srt", true, zv::Progress{}, prompt), zv::kOk);
    // As a project is after opening.
    project.ReloadSources(zv::Progress{}, prompt);
  }

  zvtest::TempDir dir;
  zv::ScriptedPrompt prompt;
  zv::CZvObject project;
  zv::CStoryObject* clip = nullptr;
  const std::string video = "Movie#1/Clip#1/Track#1", text = "Movie#1/Clip#1/Track#2";
};

TEST_F(TextTrackKeys, DescribedOnlyForTextTracksAndKeptInTheProjectFile) {
  const std::vector<std::string> keys = {"font",          "size",     "colour", "outline", "shadow",
                                         "bottom-margin", "position", "forced"};
  auto rows = Rows(project, text);
  for (const std::string& k : keys) {
    ASSERT_TRUE(rows.count(k)) << k;
    // Unset: the file's or the default style holds.
    EXPECT_EQ(rows[k].value, k == "forced" ? "no" : "") << k;
  }
  EXPECT_EQ(rows["position"].kind, zvedit::ValueKind::kChoice);
  EXPECT_EQ(rows["position"].choices, (std::vector<std::string>{"", "top", "bottom"}));
  EXPECT_EQ(rows["forced"].kind, zvedit::ValueKind::kBool);
  const auto videoRows = Rows(project, video);
  for (const std::string& k : keys) EXPECT_FALSE(videoRows.count(k)) << k;

  const std::vector<uint8_t> plain = zv::StoreProject(project, dir / "p.zvpj");
  std::string error;
  for (const auto& [k, v] : std::vector<std::pair<std::string, std::string>>{{"font", "DejaVu Serif"},
                                                                              {"size", "7.5"},
                                                                              {"colour", "yellow"},
                                                                              {"outline", "0"},
                                                                              {"shadow", "2"},
                                                                              {"bottom-margin", "10"},
                                                                              {"position", "top"},
                                                                              {"forced", "yes"}})
    ASSERT_TRUE(Apply(project, text, k, v, error)) << k << ": " << error;
  const std::map<std::string, std::string> want = {{"font", "DejaVu Serif"}, {"size", "7.5"}, {"colour", "#FFFF00"},
                                                   {"outline", "0"},          {"shadow", "2"},  {"bottom-margin", "10"},
                                                   {"position", "top"},       {"forced", "yes"}};
  rows = Rows(project, text);
  for (const auto& [k, v] : want) EXPECT_EQ(rows[k].value, v) << k;

  // Stored, loaded and reopened: the same values, and the stream drawn for
  // them.
  const std::vector<uint8_t> styled = zv::StoreProject(project, dir / "p.zvpj");
  EXPECT_NE(styled, plain);
  zv::CZvObject loaded;
  std::string message;
  ASSERT_EQ(zv::LoadProject(styled, dir / "p.zvpj", loaded, message), zv::kOk) << message;
  loaded.ReloadSources(zv::Progress{}, prompt);
  rows = Rows(loaded, text);
  for (const auto& [k, v] : want) EXPECT_EQ(rows[k].value, v) << k;
  EXPECT_EQ(zv::StoreProject(loaded, dir / "p.zvpj"), styled);

  // Unset again, the clip is stored as projects without styles always were.
  for (const auto& [k, v] : want) ASSERT_TRUE(Apply(loaded, text, k, k == "forced" ? "no" : "", error)) << error;
  EXPECT_EQ(zv::StoreProject(loaded, dir / "p.zvpj"), plain);
}

TEST_F(TextTrackKeys, RefusedValuesChangeNothing) {
  std::string error;
  ASSERT_TRUE(Apply(project, text, "size", "6", error)) << error;
  const std::vector<uint8_t> before = zv::StoreProject(project, dir / "p.zvpj");
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"size", "0"},      {"size", "big"},     {"colour", "#12345"}, {"outline", "21"},
      {"shadow", "-1"},   {"bottom-margin", "46"}, {"position", "middle"}, {"forced", "maybe"},
      {"font", "A, B"}};
  for (const auto& [k, v] : bad) {
    EXPECT_FALSE(Apply(project, text, k, v, error)) << k << "=" << v;
    EXPECT_EQ(error.rfind("\"" + k + "=" + v + "\": expected ", 0), 0u) << error;
    EXPECT_EQ(zv::StoreProject(project, dir / "p.zvpj"), before) << k << "=" << v;
  }
  EXPECT_FALSE(Apply(project, video, "size", "6", error));
  EXPECT_NE(error.find("only a track drawn from text subtitles"), std::string::npos) << error;
  EXPECT_EQ(zv::StoreProject(project, dir / "p.zvpj"), before);
}

// A shell keeps the project open, so the build itself draws a stream whose
// style changed since the sources were opened.
TEST_F(TextTrackKeys, ABuildDrawsAChangedStyleOfAnOpenProject) {
  const std::string key = dir / "film_eng.srt.sup.key";
  const std::vector<uint8_t> plainKey = zvtest::ReadBytes(key), plainSup = zvtest::ReadBytes(dir / "film_eng.srt.sup");
  ASSERT_FALSE(plainKey.empty());
  ASSERT_EQ(clip->RefreshTextSubtitles(zv::Progress{}, prompt), zv::kOk);
  EXPECT_EQ(zvtest::ReadBytes(key), plainKey);
  std::string error;
  ASSERT_TRUE(Apply(project, text, "position", "top", error)) << error;
  ASSERT_EQ(clip->RefreshTextSubtitles(zv::Progress{}, prompt), zv::kOk);
  EXPECT_NE(zvtest::ReadBytes(key), plainKey);
  EXPECT_NE(zvtest::ReadBytes(dir / "film_eng.srt.sup"), plainSup);
  // The track reads the new stream: it is still the clip's subtitle track.
  const auto refs = clip->TrackRefs();
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_EQ(refs[1].kind, zv::StreamKind::kPg);
}

TEST_F(TextTrackKeys, RemovingTheTextSourceTakesItsTrackAndStyle) {
  std::string error;
  ASSERT_TRUE(Apply(project, text, "position", "top", error)) << error;
  ASSERT_EQ(clip->m_vecSources.size(), 2u);
  ASSERT_TRUE(clip->RemoveSource(1));
  EXPECT_EQ(clip->m_vecTracks.size(), 1u);
  EXPECT_TRUE(clip->m_textStyles.empty());
}

}  // namespace

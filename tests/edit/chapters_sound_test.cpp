// Chapter import and the button-sound file through the engine side both
// shells call.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "bdnav/sound_bdmv.h"
#include "chapters/chapters.h"
#include "edit/chapter_import.h"
#include "edit/sound_build.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

TEST(EditChapters, RateImportAndEveryRefuseWhatTheyCannotTake) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  std::string error;
  auto* item = dynamic_cast<zv::CPiObject*>(zv::FindObject(project, "Movie#1/Title#1/PI#1", error));
  ASSERT_NE(item, nullptr) << error;
  int code = 0;
  // An item without video has no rate of its own.
  EXPECT_FALSE(zvedit::ChapterRateFor(*item, 0, "Movie#1/Title#1/PI#1", code, error));
  EXPECT_EQ(error, zv::kMsgAddVideoFirst);
  ASSERT_TRUE(zvedit::ChapterRateFor(*item, 1, "Movie#1/Title#1/PI#1", code, error)) << error;
  EXPECT_EQ(code, 1);

  const std::string list = std::string(ZV_TEST_DATA) + "/chapters/mkvextract_simple.txt";
  ASSERT_TRUE(zvedit::ImportChapters(*item, code, list, error)) << error;
  ASSERT_EQ(item->m_chapters.m_points.size(), 3u);
  EXPECT_EQ(item->m_chapters.m_points[1].name, "The Storm, again");
  // The list counts frames at 23.976 now: another rate is refused.
  EXPECT_FALSE(zvedit::ChapterRateFor(*item, 3, "Movie#1/Title#1/PI#1", code, error));
  EXPECT_EQ(error, "the chapters of \"Movie#1/Title#1/PI#1\" count frames at 23.976 fps; remove them before changing "
                   "the frame rate");

  const std::string empty = dir / "empty.txt";
  std::ofstream(empty) << "\n";
  EXPECT_FALSE(zvedit::ImportChapters(*item, 1, empty, error));
  EXPECT_EQ(error, "\"" + empty + "\" holds no chapter points");
  EXPECT_EQ(item->m_chapters.m_points.size(), 3u);

  // Chapters at an interval need the clip's video.
  EXPECT_FALSE(zvedit::ChaptersEvery(*item, 1, 60000, error));
  EXPECT_EQ(error, zv::kMsgAddVideoFirst);
}

TEST(EditSound, BuildsAsksBeforeReplacingAndRefusesWholly) {
  zvtest::TempDir dir;
  const std::string wav = zvtest::CopyFixture("lpcm_20_16_48.wav", dir.Path());
  const std::string out = dir / "sound.bdmv";
  zv::ScriptedPrompt prompt(zv::Answer::No);
  std::vector<zvedit::SBuiltSound> built;
  std::string error;
  ASSERT_EQ(zvedit::BuildSoundFile(out, {wav, wav}, prompt, built, error), zv::kOk) << error;
  ASSERT_EQ(built.size(), 1u);
  EXPECT_FALSE(built[0].mono);
  EXPECT_EQ(built[0].frames, (192044u - 44u) / 4u);
  EXPECT_EQ(prompt.messages, std::vector<std::string>{wav + " is listed already; skipped"});
  const std::vector<uint8_t> first = zvtest::ReadBytes(out);
  ASSERT_FALSE(first.empty());

  // No to the question leaves the file as it was; so does a refused WAV.
  built.clear();
  EXPECT_EQ(zvedit::BuildSoundFile(out, {wav}, prompt, built, error), zv::kCancelled);
  EXPECT_EQ(prompt.questions, std::vector<std::string>{"\"" + out + "\" exists. Replace it? "});
  const std::string bad = zvtest::CopyFixture("lpcm_20_24_192.wav", dir.Path());
  EXPECT_EQ(zvedit::BuildSoundFile(out, {wav, bad}, prompt, built, error), zv::kFailed);
  EXPECT_EQ(error.rfind(bad + ": " + zv::kMsgIncompatibleWav, 0), 0u) << error;
  EXPECT_EQ(zvtest::ReadBytes(out), first);
  EXPECT_TRUE(built.empty());
}

}  // namespace

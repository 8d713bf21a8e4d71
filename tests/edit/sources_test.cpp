// Adding and removing a clip's stream files through the engine side both
// shells call: what the display is told, the result codes, the project.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "edit/commands.h"
#include "edit/sources.h"
#include "model/object_path.h"
#include "model/project.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

// Records what a shell would show; stops the work when told to.
struct Recorder : zvedit::ISourceDisplay {
  zv::Progress Callback() override { return {&Recorder::Answer, this}; }
  void SetFrames(int64_t) override {}
  void Finish() override { ++finishes; }
  void Message(const std::string& text) override { messages.push_back(text); }
  void Listing(const std::string& line) override { listing.push_back(line); }
  static int Answer(void* self, const zv::SProgressInfo*) { return static_cast<Recorder*>(self)->stop ? 0 : 1; }

  bool stop = false;
  int finishes = 0;
  std::vector<std::string> messages, listing;
};

bool Has(const std::vector<std::string>& lines, const std::string& part) {
  for (const std::string& l : lines)
    if (l.find(part) != std::string::npos) return true;
  return false;
}

zv::CStoryObject* Clip(zv::CZvObject& project, const std::string& path) {
  std::string error;
  return dynamic_cast<zv::CStoryObject*>(zv::FindObject(project, path, error));
}

TEST(EditSources, AddTellsTheDisplayAndRefusesWhatTheCommandLineRefuses) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  zv::ScriptedPrompt prompt;
  zv::CStoryObject* clip = Clip(project, "Movie#1/Clip#1");
  ASSERT_NE(clip, nullptr);
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());

  zvedit::SAddSources request;
  request.clipName = "Movie#1/Clip#1";
  request.files = {video, audio};
  Recorder shown;
  ASSERT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kOk) << ::testing::PrintToString(shown.messages);
  EXPECT_EQ(clip->m_vecSources.size(), 2u);
  EXPECT_EQ(clip->TrackRefs().size(), 2u);
  EXPECT_TRUE(shown.messages.empty()) << shown.messages.front();
  EXPECT_GE(shown.finishes, 1);  // the progress line is ended before the shell prints

  // A clip plays one main video.
  request.files = {zvtest::CopyFixture("h264_720p5994.264", dir.Path())};
  shown = Recorder();
  EXPECT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kFailed);
  EXPECT_TRUE(Has(shown.messages, "\": \"Movie#1/Clip#1\" already has a video track"))
      << ::testing::PrintToString(shown.messages);

  request.files = {dir.Path()};
  shown = Recorder();
  EXPECT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kFailed);
  ASSERT_EQ(shown.messages.size(), 1u);
  EXPECT_EQ(shown.messages[0], "\"" + dir.Path() + "\" is a folder, not a stream file");

  request.files = {zvtest::CopyFixture("fail_44k.ac3", dir.Path())};
  shown = Recorder();
  EXPECT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kFailed);
  EXPECT_TRUE(Has(shown.messages, "fail_44k.ac3\" was not added to \"Movie#1/Clip#1\""))
      << ::testing::PrintToString(shown.messages);

  // A stop asked through the progress callback cancels.
  zv::CFilmObject* film = zv::FilmOf(clip);
  ASSERT_NE(film, nullptr);
  zv::CStoryObject* second = zvedit::AddClip(*film);
  ASSERT_NE(second, nullptr);
  request.clipName = "Movie#1/" + second->m_strName;
  request.files = {zvtest::CopyFixture("h264_576i25.264", dir.Path())};
  shown = Recorder();
  shown.stop = true;
  EXPECT_EQ(zvedit::AddSources(*second, request, shown, prompt), zv::kCancelled);
}

TEST(EditSources, ContainerTracksAreListedBeforeTheyAreAdded) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  zv::ScriptedPrompt prompt;
  zv::CStoryObject* clip = Clip(project, "Movie#1/Clip#1");
  ASSERT_NE(clip, nullptr);
  zvedit::SAddSources request;
  request.clipName = "Movie#1/Clip#1";
  request.files = {std::string(ZV_TEST_DATA) + "/containers/movie.mkv"};
  request.tracks = {9999};
  Recorder shown;
  EXPECT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kFailed);
  ASSERT_FALSE(shown.listing.empty());
  EXPECT_EQ(shown.listing[0].rfind(request.files[0] + ": ", 0), 0u) << shown.listing[0];
  EXPECT_EQ(shown.listing.size(), 1 + std::stoul(shown.listing[0].substr(request.files[0].size() + 2)));
  EXPECT_EQ(shown.messages, std::vector<std::string>{"\"" + request.files[0] + "\" has no track 9999"});
  EXPECT_TRUE(clip->m_vecSources.empty());
}

TEST(EditSources, RemoveByNumberOrNameAndSayWhatIsThere) {
  zvtest::TempDir dir;
  zv::CZvObject project;
  project.InitNew();
  zv::ScriptedPrompt prompt;
  zv::CStoryObject* clip = Clip(project, "Movie#1/Clip#1");
  ASSERT_NE(clip, nullptr);
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  Recorder shown;
  zvedit::SAddSources request;
  request.clipName = "Movie#1/Clip#1";
  request.files = {video, audio};
  ASSERT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kOk);

  std::string removed, error;
  EXPECT_EQ(zvedit::RemoveSource(project, *clip, "Movie#1/Clip#1", "p.zvpj", "3", prompt, removed, error), zv::kFailed);
  EXPECT_EQ(error, "\"Movie#1/Clip#1\" has no source \"3\" (it has 2)");
  ASSERT_EQ(zvedit::RemoveSource(project, *clip, "Movie#1/Clip#1", "p.zvpj", "ac3_stereo.ac3", prompt, removed, error),
            zv::kOk)
      << error;
  EXPECT_EQ(zv::FileNameOf(removed), "ac3_stereo.ac3");
  ASSERT_EQ(clip->m_vecSources.size(), 1u);
  EXPECT_EQ(zv::FileNameOf(clip->m_vecSources[0]), "h264_1080p2398.264");
  ASSERT_EQ(zvedit::RemoveSource(project, *clip, "Movie#1/Clip#1", "p.zvpj", "1", prompt, removed, error), zv::kOk);
  EXPECT_TRUE(clip->m_vecSources.empty());
  EXPECT_TRUE(clip->TrackRefs().empty());
}

}  // namespace

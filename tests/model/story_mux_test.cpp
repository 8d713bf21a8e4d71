#include <gtest/gtest.h>

#include <filesystem>

#include "model/playlist.h"
#include "model/project.h"
#include "model/story.h"
#include "story_fixture.h"

using namespace zv;
namespace fs = std::filesystem;

namespace {

// Answers 0 at the first report after the second story's "Muxing" line, so
// the multiplexer of that story is the one that sees the cancel.
struct CancelSecond {
  int muxing = 0;
  bool cancelled = false;
  static int Callback(void* ctx, const SProgressInfo* info) {
    auto* self = static_cast<CancelSecond*>(ctx);
    if (info->kind == kProgressItem && info->item.rfind("Muxing ", 0) == 0) {
      ++self->muxing;
      return 1;
    }
    if (self->muxing == 2) {
      self->cancelled = true;
      return 0;
    }
    return 1;
  }
};

TEST(StoryMux, CancelDuringSecondStoryKeepsTheFirstClip) {
  zvtest::StoryMedia media;
  CFilmObject film;
  film.SetFilmType(kFilmMovie);
  CStoryObject* s1 = film.m_stories.GetAt(0);
  CStoryObject* s2 = film.m_stories.CreateChild();
  CStoryObject* unplayed = film.m_stories.CreateChild();
  media.Fill(*s1, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  media.Fill(*s2, {"h264_1080p2398.264", "ac3_mono.ac3"});
  media.Fill(*unplayed, {"h264_1080p2398.264"});
  CPlObject* pl = film.m_playlists.GetAt(0);
  AddStoriesToPlaylist(*pl, film.m_stories);
  pl->RemoveAt(2);  // nobody plays the third story
  s1->m_nClipNumber = 0;
  s2->m_nClipNumber = 1;
  unplayed->m_nClipNumber = 2;
  const std::string bdmv = media.MakeBdmv();

  film.m_stories.ClearBuildLists();
  PreparePlaylist(*pl);
  ASSERT_EQ(s1->m_vecUses.size(), 1u);
  EXPECT_TRUE(unplayed->m_vecUses.empty());

  CancelSecond cancel;
  ScriptedPrompt prompt;
  EXPECT_EQ(film.m_stories.BuildStories(bdmv, Progress{&CancelSecond::Callback, &cancel}, prompt), kCancelled);
  EXPECT_TRUE(cancel.cancelled);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_GT(fs::file_size(bdmv + "STREAM/00000.m2ts"), 0u);
  EXPECT_TRUE(fs::exists(bdmv + "CLIPINF/00000.clpi"));
  EXPECT_EQ(zvtest::ReadBytes(bdmv + "CLIPINF/00000.clpi"), zvtest::ReadBytes(bdmv + "BACKUP/CLIPINF/00000.clpi"));
  for (const char* f : {"STREAM/00001.m2ts", "CLIPINF/00001.clpi", "BACKUP/CLIPINF/00001.clpi", "STREAM/00002.m2ts"})
    EXPECT_FALSE(fs::exists(bdmv + f)) << f;

  // Built again without a cancel, the unplayed story still writes nothing.
  EXPECT_EQ(film.m_stories.BuildStories(bdmv, Progress{}, prompt), kOk);
  EXPECT_TRUE(fs::exists(bdmv + "STREAM/00001.m2ts"));
  EXPECT_FALSE(fs::exists(bdmv + "STREAM/00002.m2ts"));
}

TEST(StoryMux, SeamlessSuccessorGetsItsPredecessor) {
  zvtest::StoryMedia media;
  CFilmObject film;
  film.SetFilmType(kFilmMovie);
  CStoryObject* s1 = film.m_stories.GetAt(0);
  CStoryObject* s2 = film.m_stories.CreateChild();
  CPlObject* pl = film.m_playlists.GetAt(0);
  AddStoriesToPlaylist(*pl, film.m_stories);
  pl->m_nConnection = 5;
  PreparePlaylist(*pl);
  EXPECT_TRUE(s1->m_vecPrevClips.empty());
  ASSERT_EQ(s2->m_vecPrevClips.size(), 1u);
  EXPECT_EQ(s2->m_vecPrevClips[0], s1);
  // Separate playlists never connect seamlessly.
  film.m_stories.ClearBuildLists();
  pl->m_nPlayMode = kSeparate;
  PreparePlaylist(*pl);
  EXPECT_TRUE(s2->m_vecPrevClips.empty());
  EXPECT_EQ(s2->m_vecUses.size(), 1u);
}

}  // namespace

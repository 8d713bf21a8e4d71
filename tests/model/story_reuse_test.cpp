// Stories that reuse the streams of a clip an earlier story wrote: the
// chosen streams become tracks, copies keep their kind, and the build
// refuses an existing clip that is no longer the one the tracks came from.
#include <gtest/gtest.h>

#include <filesystem>

#include "model/story.h"
#include "mux/rip_track.h"
#include "story_fixture.h"

using namespace zv;
namespace fs = std::filesystem;

namespace {

struct Reuse {
  zvtest::StoryMedia media;
  std::string bdmv = media.MakeBdmv();
  std::string clip = bdmv + "STREAM/00000.m2ts";

  Reuse() {
    CStoryObject first;
    first.SetName("First");
    media.Fill(first, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"});
    first.m_nClipNumber = 0;
    ScriptedPrompt prompt;
    EXPECT_EQ(first.MuxStory(bdmv, Progress{}, prompt), kOk);
    first.ReleaseBuildState();
  }
};

TEST(StoryReuse, ChosenStreamsBecomeTracksAndCopiesKeepTheirKind) {
  Reuse r;
  CStoryObject story;
  story.SetName("Again");
  ScriptedPrompt prompt;
  ASSERT_EQ(story.AddClipSource(r.clip, {0x1011, 0x1101}, true, prompt), kOk) << prompt.messages.at(0);
  const std::vector<STrackRef> refs = story.TrackRefs();
  ASSERT_EQ(refs.size(), 2u);
  EXPECT_TRUE(refs[0].reused && refs[1].reused);
  EXPECT_EQ(refs[1].sourcePid, 0x1101);
  EXPECT_EQ(refs[1].presentationType, 6);
  EXPECT_EQ(refs[0].path, r.clip);
  ASSERT_EQ(story.m_pRipTracks->items.size(), 3u) << "every stream of the clip is held";
  EXPECT_FALSE(story.m_pRipTracks->items[1]->m_bEnabled) << "the stream left out is not scanned";

  CStoryObject copy;
  copy.CopyFrom(story);
  ASSERT_EQ(copy.m_vecTracks.size(), 2u);
  EXPECT_EQ(copy.m_vecTracks[1]->m_nReused, 1);
  EXPECT_FALSE(copy.ReloadSources(Progress{}, prompt)) << "the copy finds its tracks in the clip again";
  ASSERT_EQ(copy.TrackRefs().size(), 2u);
  EXPECT_EQ(copy.TrackRefs()[1].sourcePid, 0x1101);

  // Built as clip 1: the reused streams keep their PIDs in story order.
  story.m_nClipNumber = 1;
  ASSERT_EQ(story.MuxStory(r.bdmv, Progress{}, prompt), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  SClipListing built;
  std::string error;
  ASSERT_EQ(ListClipStreams(r.bdmv + "STREAM/00001.m2ts", built, error), kOk) << error;
  ASSERT_EQ(built.streams.size(), 2u);
  EXPECT_EQ(built.streams[1].pid, 0x1100);
  EXPECT_EQ(built.streams[1].info.coding.AudioPresentationType, 6);
  story.ReleaseBuildState();
}

TEST(StoryReuse, AClipChangedOrCutShortIsRefused) {
  Reuse r;
  CStoryObject story;
  story.SetName("Again");
  ScriptedPrompt prompt;
  ASSERT_EQ(story.AddClipSource(r.clip, {}, true, prompt), kOk);
  story.m_nClipNumber = 1;
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(r.clip);
  zvtest::WriteBytes(r.clip, std::vector<uint8_t>(bytes.begin(), bytes.end() - 192));
  EXPECT_EQ(story.MuxStory(r.bdmv, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("changed since its tracks were added"), std::string::npos) << prompt.messages[0];
  EXPECT_FALSE(fs::exists(r.bdmv + "STREAM/00001.m2ts"));

  // Even without the recorded identity (an older project), the clip
  // information's packet count gives the cut away.
  for (auto& t : story.m_pRipTracks->items) t->m_clipIdentity = {};
  prompt.messages.clear();
  EXPECT_EQ(story.MuxStory(r.bdmv, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("clip information counts"), std::string::npos) << prompt.messages[0];
  EXPECT_FALSE(fs::exists(r.bdmv + "STREAM/00001.m2ts"));
}

}  // namespace

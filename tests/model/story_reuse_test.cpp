// Stories that reuse the streams of a clip an earlier story wrote: the
// chosen streams become tracks, copies keep their kind, and the build
// refuses an existing clip that is no longer the one the tracks came from.
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "bdnav/playlist_file.h"
#include "model/playlist_stn.h"
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

// A clip replaced in place by one of the same size and modification time
// (a copy keeping times) is told by its content, also after the project
// was stored and loaded.
TEST(StoryReuse, AClipReplacedWithTheSameSizeAndTimeIsRefused) {
  Reuse r;
  CStoryObject story;
  story.SetName("Again");
  ScriptedPrompt prompt;
  ASSERT_EQ(story.AddClipSource(r.clip, {}, true, prompt), kOk);
  story.m_nClipNumber = 1;
  // Stored and loaded again, as a project file keeps it.
  for (auto& t : story.m_pRipTracks->items) {
    ArchiveOut out;
    t->Store(out);
    SRipTrack back;
    ArchiveIn in(out.Bytes());
    back.Load(in);
    EXPECT_EQ(back.m_clipIdentity, t->m_clipIdentity);
    EXPECT_NE(back.m_clipIdentity.fingerprint, 0u);
  }
  const auto time = fs::last_write_time(r.clip);
  std::vector<uint8_t> bytes = zvtest::ReadBytes(r.clip);
  bytes[bytes.size() - 100] ^= 0xFF;  // payload of the last packet
  zvtest::WriteBytes(r.clip, bytes);
  fs::last_write_time(r.clip, time);
  EXPECT_EQ(story.MuxStory(r.bdmv, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("changed since its tracks were added"), std::string::npos) << prompt.messages[0];
  EXPECT_FALSE(fs::exists(r.bdmv + "STREAM/00001.m2ts"));
}

// A playlist of the old disc that plays clip `clip` with `entries` (PID,
// coding type, language) in its primary lists, written beside the clip.
std::string WritePlaylist(const Reuse& r, const std::string& clip,
                          std::vector<std::tuple<uint16_t, uint8_t, std::string>> entries) {
  PlaylistFile pl;
  PLAY_ITEM pi;
  pi.ClipName = clip;
  for (const auto& [pid, type, lang] : entries) {
    PRIMARY_STREAM_ENTRY e;
    e.entry.RefToStreamPidOfMainClip = pid;
    e.attributes.StreamCodingType = type;
    if (type == 0x1B) {
      e.attributes.Format = 6;
      e.attributes.Rate = 1;
      pi.stn.primaryVideo.push_back(e);
    } else {
      e.attributes.Format = 3;
      e.attributes.Rate = 1;
      e.attributes.Language = lang;
      pi.stn.primaryAudio.push_back(e);
    }
  }
  pl.playItems.push_back(pi);
  std::vector<uint8_t> bytes(pl.WritePlaylist(nullptr, 0));
  pl.WritePlaylist(bytes.data(), bytes.size());
  const std::string path = r.bdmv + "PLAYLIST/" + clip + ".mpls";
  fs::create_directories(r.bdmv + "PLAYLIST");
  zvtest::WriteBytes(path, bytes);
  return path;
}

TEST(StoryReuse, APlaylistGivesTheReusedStreamsItsEntriesOrderAndLanguages) {
  Reuse r;
  // The old disc listed the 5.1 track first, in Japanese and with a
  // presentation type its clip information does not give; the stereo one
  // in French.
  const std::string mpls = WritePlaylist(r, "00000", {{0x1011, 0x1B, ""}, {0x1101, 0x81, "jpn"}, {0x1100, 0x81, "fra"}});
  CStoryObject story;
  story.SetName("Again");
  ScriptedPrompt prompt;
  ASSERT_EQ(story.AddClipSource(r.clip, {}, true, prompt, mpls), kOk) << prompt.messages.at(0);
  ASSERT_EQ(story.m_vecSources.size(), 2u);
  EXPECT_EQ(story.m_vecSources[1], mpls);
  std::vector<STrackRef> refs = story.TrackRefs();
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_EQ(refs[1].sourcePid, 0x1101);
  EXPECT_EQ(refs[1].language, "jpn");
  EXPECT_EQ(refs[2].sourcePid, 0x1100);
  EXPECT_EQ(refs[2].language, "fra");

  // New PIDs in the playlist's order; the entries carry its attributes.
  const std::vector<SMuxTrack*> order = story.AssignPids();
  STN_TABLE stn;
  for (const SMuxTrack* t : order) EXPECT_TRUE(AddToStn(*t, stn));
  ASSERT_EQ(stn.primaryAudio.size(), 2u);
  EXPECT_EQ(stn.primaryAudio[0].entry.RefToStreamPidOfMainClip, 0x1100);
  EXPECT_EQ(stn.primaryAudio[0].attributes.Language, "jpn");
  EXPECT_EQ(stn.primaryAudio[0].attributes.Format, 3) << "taken from the playlist, not the clip's 5.1";
  EXPECT_EQ(stn.primaryAudio[1].entry.RefToStreamPidOfMainClip, 0x1101);
  EXPECT_EQ(stn.primaryAudio[1].attributes.Language, "fra");
  // A language set afterwards still reaches the playlist.
  std::string error;
  STrackSettings set;
  set.language = "deu";
  ASSERT_TRUE(story.ChangeTrack(2, set, error)) << error;
  PRIMARY_STREAM_ENTRY e;
  FillStreamEntry(*story.m_vecTracks[2], e);
  EXPECT_EQ(e.attributes.Language, "deu");

  // A reopened project takes the entries over again and keeps the stored
  // order and languages.
  CStoryObject copy;
  copy.CopyFrom(story);
  EXPECT_FALSE(copy.ReloadSources(Progress{}, prompt)) << (prompt.messages.empty() ? "" : prompt.messages.back());
  refs = copy.TrackRefs();
  ASSERT_EQ(refs.size(), 3u);
  EXPECT_EQ(refs[1].sourcePid, 0x1101);
  EXPECT_EQ(refs[2].language, "deu");
  FillStreamEntry(*copy.m_vecTracks[1], e);
  EXPECT_EQ(e.attributes.Format, 3);

  // The playlist goes with its clip.
  ASSERT_TRUE(copy.RemoveSource(0));
  EXPECT_TRUE(copy.m_vecSources.empty());
  EXPECT_TRUE(copy.m_vecTracks.empty());
}

TEST(StoryReuse, APlaylistThatDoesNotFitTheClipRefusesTheSource) {
  Reuse r;
  struct Case {
    std::string clip;
    std::vector<std::tuple<uint16_t, uint8_t, std::string>> entries;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"00007", {{0x1011, 0x1B, ""}}, "does not play clip 00000"},
      {"00000", {{0x1011, 0x1B, ""}, {0x1102, 0x81, "eng"}}, "lists stream 0x1102, which clip 00000 does not have"},
      {"00000", {{0x1100, 0x1B, ""}}, "lists stream 0x1100 as type 0x1B, but clip 00000 holds type 0x81 there"},
      {"00000", {{0x1011, 0x81, "eng"}}, "lists stream 0x1011 as type 0x81"},
  };
  for (const Case& c : cases) {
    const std::string mpls = WritePlaylist(r, c.clip, c.entries);
    CStoryObject story;
    story.SetName("Again");
    ScriptedPrompt prompt;
    EXPECT_EQ(story.AddClipSource(r.clip, {}, true, prompt, mpls), kFailed) << c.message;
    ASSERT_EQ(prompt.messages.size(), 1u) << c.message;
    EXPECT_NE(prompt.messages[0].find(c.message), std::string::npos) << prompt.messages[0];
    EXPECT_TRUE(story.m_vecSources.empty() && story.m_vecTracks.empty() && story.m_strClipPath.empty()) << c.message;
    fs::remove(mpls);
  }

  // An audio stream in the video list, and a file cut short.
  std::string mpls = WritePlaylist(r, "00000", {{0x1100, 0x81, "eng"}});
  {
    std::vector<uint8_t> bytes = zvtest::ReadBytes(mpls);
    PlaylistFile pl;
    ASSERT_EQ(pl.Parse(bytes.data(), bytes.size(), nullptr), kOk);
    pl.playItems[0].stn.primaryVideo = pl.playItems[0].stn.primaryAudio;
    pl.playItems[0].stn.primaryAudio.clear();
    bytes.assign(pl.WritePlaylist(nullptr, 0), 0);
    pl.WritePlaylist(bytes.data(), bytes.size());
    zvtest::WriteBytes(mpls, bytes);
    CStoryObject story;
    ScriptedPrompt prompt;
    EXPECT_EQ(story.AddClipSource(r.clip, {}, true, prompt, mpls), kFailed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("of type 0x81 among its video streams"), std::string::npos) << prompt.messages[0];

    bytes.resize(bytes.size() / 2);
    zvtest::WriteBytes(mpls, bytes);
    prompt.messages.clear();
    EXPECT_EQ(story.AddClipSource(r.clip, {}, true, prompt, mpls), kFailed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("is not a readable playlist"), std::string::npos) << prompt.messages[0];
    EXPECT_TRUE(story.m_vecSources.empty());
  }

  // A playlist alone, or one for a story without a clip, is refused too.
  CStoryObject story;
  story.SetName("Plain");
  ScriptedPrompt prompt;
  EXPECT_EQ(story.AddSource(mpls, true, Progress{}, prompt), kFailed);
  EXPECT_EQ(story.AddSource(mpls, false, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_NE(prompt.messages[1].find("reuses no existing clip"), std::string::npos) << prompt.messages[1];
}

}  // namespace

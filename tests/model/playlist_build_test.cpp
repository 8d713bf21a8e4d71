#include <gtest/gtest.h>

#include <filesystem>

#include "bdnav/playlist_file.h"
#include "model/build.h"
#include "model/playlist.h"
#include "model/project.h"
#include "mux/clip_info.h"
#include "story_fixture.h"

using namespace zv;
namespace fs = std::filesystem;

namespace {

std::vector<KEY_POINT_INFO> Points(std::initializer_list<uint64_t> pts) {
  std::vector<KEY_POINT_INFO> v;
  for (uint64_t p : pts) {
    KEY_POINT_INFO k;
    k.pts = p;
    v.push_back(k);
  }
  return v;
}

TEST(ChapterMarks, SnapToTheNearestEntryPoint) {
  const double fps = 24000.0 / 1001.0;
  // In time 67500 (45 kHz) is 135000 at 90 kHz. Frame 48 is 2.002 s: 180180
  // ticks, so the target is 315180.
  const auto eps = Points({135000, 300000, 330000});
  EXPECT_EQ(ChapterMarkTime(0, fps, 67500, 90000, eps), 67500u);
  EXPECT_EQ(ChapterMarkTime(-1, fps, 67500, 90000, eps), 90000u);
  // 315180 - 300000 = 15180, 330000 - 315180 = 14820: the later entry.
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, eps), 165000u);
  // 330360 - 315180 = 15180: a tie goes to the earlier entry.
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, Points({135000, 300000, 330360})), 150000u);
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, Points({135000, 315180})), 157590u);
  // An entry less than one EP-map time step (512 ticks) before the target is
  // its picture, even as the last entry.
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, Points({135000, 314880})), 157440u);
  // Before the first entry: the first.
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, Points({400000})), 200000u);
  // After the last entry: the last entry while the target is inside the clip
  // (out time 200000 = 400000 ticks), the out time once it is past the end.
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 200000, Points({135000, 200000})), 100000u);
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 157590, Points({135000, 200000})), 157590u);
  EXPECT_EQ(ChapterMarkTime(48, fps, 67500, 90000, Points({135000, 200000})), 90000u);
  // 25 fps: frame 25 is exactly one second.
  EXPECT_EQ(ChapterMarkTime(25, 25.0, 0, 90000, Points({0, 90000, 180000})), 45000u);
}

class PlaylistBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    film.SetFilmType(kFilmMovie);
    film.SetName("Movie#1");
    s1 = film.m_stories.GetAt(0);
    s2 = film.m_stories.CreateChild();
    media.Fill(*s1, {"h264_1080p2398.264", "ac3_stereo.ac3"});
    pl = film.m_playlists.GetAt(0);
    pl->SetMenu(nullptr);
    bdmv = media.MakeBdmv();
  }
  CPiObject* Item(size_t i) { return pl->GetAt(i); }
  int Build(const Progress& progress = Progress{}) {
    for (size_t i = 0; i < film.m_stories.GetCount(); ++i) film.m_stories.GetAt(i)->m_nClipNumber = static_cast<int>(i);
    pl->m_nPlaylistNumber = 3;
    if (!ValidatePlaylist(*pl, "Movie#1:", prompt)) return kFailed;
    film.m_stories.ClearBuildLists();
    PreparePlaylist(*pl);
    if (int rc = film.m_stories.BuildStories(bdmv, Progress{}, prompt)) return rc;
    return WritePlaylists(*pl, bdmv, prompt, progress) ? kOk : kFailed;
  }
  PlaylistFile Read(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "PLAYLIST/%05d.mpls", n);
    std::vector<uint8_t> bytes = zvtest::ReadBytes(bdmv + name);
    EXPECT_EQ(bytes, zvtest::ReadBytes(bdmv + "BACKUP/" + name));
    PlaylistFile f;
    std::string error;
    EXPECT_EQ(f.Parse(bytes.data(), bytes.size(), &error), kOk) << error;
    return f;
  }
  ClipInformationFile Clip(int n) {
    char name[32];
    std::snprintf(name, sizeof name, "CLIPINF/%05d.clpi", n);
    std::vector<uint8_t> bytes = zvtest::ReadBytes(bdmv + name);
    ClipInformationFile c;
    std::string error;
    EXPECT_EQ(c.Parse(bytes.data(), bytes.size(), &error), kOk) << error;
    return c;
  }

  zvtest::StoryMedia media;
  CFilmObject film;
  CStoryObject *s1 = nullptr, *s2 = nullptr;
  CPlObject* pl = nullptr;
  std::string bdmv;
  ScriptedPrompt prompt;
};

TEST_F(PlaylistBuild, SeparateAndPlayAllWritesTheWholeListFirstWithStreamsAndMarks) {
  media.Fill(*s2, {"h264_1080p2398.264", "ac3_51.ac3", "ac3_mono_fre.ac3"});
  AddStoriesToPlaylist(*pl, film.m_stories);
  pl->m_nPlayMode = kSeparateAndPlayAll;
  Item(0)->m_chapters.m_nFpsCode = 1;
  Item(0)->m_chapters.m_points = {{"Start", 1, 0}, {"Mid", 1, 13}, {"End", 2, -1}};
  Item(1)->m_uoMask[3] = 0xC0;  // pop-up bits stay without a menu
  ASSERT_EQ(Build(), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  for (int n : {3, 4, 5}) {
    char name[32];
    std::snprintf(name, sizeof name, "PLAYLIST/%05d.mpls", n);
    EXPECT_TRUE(fs::exists(bdmv + name)) << name;
  }
  EXPECT_FALSE(fs::exists(bdmv + "PLAYLIST/00006.mpls"));

  const ClipInformationFile clip0 = Clip(0);
  const STC_INFO& stc = clip0.atcSequences.at(0).stc.at(0);
  PlaylistFile all = Read(3);
  ASSERT_EQ(all.playItems.size(), 2u);
  EXPECT_EQ(all.playItems[0].ClipName, "00000");
  EXPECT_EQ(all.playItems[1].ClipName, "00001");
  EXPECT_EQ(all.playItems[0].InTime, stc.PresentationStartTime);
  EXPECT_EQ(all.playItems[0].OutTime, stc.PresentationEndTime);
  // 48 frames at 23.976: two seconds and two milliseconds of 45 kHz.
  EXPECT_NEAR(static_cast<double>(stc.PresentationEndTime - stc.PresentationStartTime), 90090.0, 1877.0);
  EXPECT_EQ(all.playItems[1].uoMask[3], 0xC0);

  const STN_TABLE& stn = all.playItems[1].stn;
  ASSERT_EQ(stn.primaryVideo.size(), 1u);
  EXPECT_EQ(stn.primaryVideo[0].entry.RefToStreamPidOfMainClip, 0x1011);
  EXPECT_EQ(stn.primaryVideo[0].attributes.StreamCodingType, 0x1B);
  ASSERT_EQ(stn.primaryAudio.size(), 2u);
  EXPECT_EQ(stn.primaryAudio[0].entry.RefToStreamPidOfMainClip, 0x1100);
  EXPECT_EQ(stn.primaryAudio[1].entry.RefToStreamPidOfMainClip, 0x1101);
  EXPECT_EQ(stn.primaryAudio[1].attributes.StreamCodingType, 0x81);
  EXPECT_EQ(stn.primaryAudio[1].attributes.Language, "fre");

  // Marks: at the in time, on an entry point of the video, at the out time.
  ASSERT_EQ(all.marks.size(), 3u);
  EXPECT_EQ(all.marks[0].MarkTimeStamp, stc.PresentationStartTime);
  EXPECT_EQ(all.marks[2].MarkTimeStamp, stc.PresentationEndTime);
  EXPECT_EQ(all.marks[2].MarkType, 2);
  std::vector<uint32_t> entryTimes;
  for (const auto& e : clip0.cpi.entries)
    if (e.StreamPid == 0x1011)
      for (const auto& k : e.keyPoints) entryTimes.push_back(static_cast<uint32_t>(k.pts / 2));
  ASSERT_GE(entryTimes.size(), 2u);
  EXPECT_NE(std::find(entryTimes.begin(), entryTimes.end(), all.marks[1].MarkTimeStamp), entryTimes.end());
  // Frame 13 is 0.542 s in: the GOPs of the fixture start every 12 frames, so
  // the mark lands on the second one.
  EXPECT_EQ(all.marks[1].MarkTimeStamp, entryTimes[1]);
  for (const auto& m : all.marks) EXPECT_EQ(m.RefToPlayItemId, 0);

  // The per-item playlists hold one item each, with its own marks.
  PlaylistFile second = Read(5);
  ASSERT_EQ(second.playItems.size(), 1u);
  EXPECT_EQ(second.playItems[0].ClipName, "00001");
  EXPECT_TRUE(second.marks.empty());
  EXPECT_EQ(Read(4).marks.size(), 3u);
}

TEST_F(PlaylistBuild, ValidationMessages) {
  // No play items.
  pl->RemoveAt(0);
  EXPECT_EQ(Build(), kFailed);
  media.Fill(*s2, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_mono.ac3"});
  AddStoriesToPlaylist(*pl, film.m_stories);
  // A deselected video leaves the item without one.
  Item(0)->m_streamSel[0].selected = 0;
  EXPECT_EQ(Build(), kFailed);
  Item(0)->m_streamSel[0].selected = 1;
  // Seamless PlayAll: the second story has one audio track more.
  pl->m_nConnection = 5;
  EXPECT_EQ(Build(), kFailed);
  // With that track disabled the stories agree, but the item still offers a
  // different selection when the first item drops its audio.
  std::string error;
  STrackSettings off;
  off.enabled = 0;
  ASSERT_TRUE(s2->ChangeTrack(2, off, error));
  Item(0)->m_streamSel[1].selected = 0;
  EXPECT_EQ(Build(), kFailed);
  Item(0)->m_streamSel[1].selected = 1;
  // Same tracks everywhere: the build goes through.
  EXPECT_EQ(Build(), kOk) << prompt.messages.back();
  EXPECT_EQ(prompt.messages,
            (std::vector<std::string>{
                "\"Title#1\" is empty! \n(a title of \"Movie#1\" without play items)",
                "\"Movie#1:Title#1:PI#1\": Primary video track must be one! ",
                "\"Movie#1:Clip#1\" and \"Movie#1:Clip#2\": have a conflict of track count! ",
                "Movie#1:Title#1:: \"Movie#1:Title#1:PI1\" and \"Movie#1:Title#1:PI2\": have a conflict of track count! ",
            }));
  PlaylistFile f = Read(3);
  ASSERT_EQ(f.playItems.size(), 2u);
  EXPECT_EQ(f.playItems[0].ConnectionCondition, 1);
  EXPECT_EQ(f.playItems[1].ConnectionCondition, 5);
  // The disabled track is not offered.
  EXPECT_EQ(f.playItems[1].stn.primaryAudio.size(), 1u);
}

TEST_F(PlaylistBuild, SeparateAndPlayAllJoinsSeamlesslyOnlyWhatWasCheckedAndPrepared) {
  pl->m_nPlayMode = kSeparateAndPlayAll;
  pl->m_nConnection = 5;
  // The combined playlist of mode 2 joins 1080p23.976 + AC-3 to 720p59.94
  // video alone: refused as in PlayAll.
  media.Fill(*s2, {"h264_720p5994.264"});
  AddStoriesToPlaylist(*pl, film.m_stories);
  EXPECT_EQ(Build(), kFailed);
  EXPECT_EQ(prompt.messages, (std::vector<std::string>{"\"Movie#1:Clip#1\" and \"Movie#1:Clip#2\": have a conflict "
                                                       "of track count! "}));
  EXPECT_FALSE(fs::exists(bdmv + "PLAYLIST/00003.mpls"));

  // Matching clips: the second is multiplexed to follow the first, and only
  // the combined playlist joins them with 5.
  ASSERT_TRUE(s2->RemoveSource(0));
  media.Fill(*s2, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  LinkStory(*Item(1), s2);
  prompt.messages.clear();
  ASSERT_EQ(Build(), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  EXPECT_EQ(s2->m_vecPrevClips, (std::vector<CStoryObject*>{s1}));
  EXPECT_TRUE(s1->m_vecPrevClips.empty());
  PlaylistFile all = Read(3);
  ASSERT_EQ(all.playItems.size(), 2u);
  EXPECT_EQ(all.playItems[0].ConnectionCondition, 1);
  EXPECT_EQ(all.playItems[1].ConnectionCondition, 5);
  for (int n : {4, 5}) {
    PlaylistFile one = Read(n);
    ASSERT_EQ(one.playItems.size(), 1u);
    EXPECT_EQ(one.playItems[0].ConnectionCondition, 1);
  }

  // Playlists written for clips that were not prepared to follow each other
  // do not claim a seamless join.
  film.m_stories.ClearBuildLists();
  ASSERT_TRUE(WritePlaylists(*pl, bdmv, prompt));
  EXPECT_EQ(Read(3).playItems.at(1).ConnectionCondition, 1);

  // Condition 6 is not built: a project holding it is refused, not written
  // as 1.
  pl->m_nConnection = 6;
  prompt.messages.clear();
  EXPECT_EQ(Build(), kFailed);
  EXPECT_EQ(prompt.messages,
            (std::vector<std::string>{"\"Movie#1:Title#1\": connection 6: only 1 and 5 are supported"}));
}

TEST_F(PlaylistBuild, ChaptersCountAtTheirListsRateAndOnesPastTheEndAreLeftOutAndLogged) {
  // A list made at 50 fps for the 23.976 fps clip (two seconds, entry
  // points every 12 frames): frame 48 is 0.96 s in, next to the entry point
  // at 1.001 s. Read at the clip's rate it would be 2.002 s, the very end.
  Item(0)->m_chapters.m_nFpsCode = 6;
  Item(0)->m_chapters.m_points = {{"Start", 1, 0}, {"One", 1, 48}, {"Late", 1, 150}, {"End", 2, -1}};
  std::vector<std::string> log;
  Progress progress{[](void* ctx, const SProgressInfo* info) {
                      if (info->kind == kProgressItem) static_cast<std::vector<std::string>*>(ctx)->push_back(info->item);
                      return 1;
                    },
                    &log};
  ASSERT_EQ(Build(progress), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  const ClipInformationFile clip = Clip(0);
  const STC_INFO& stc = clip.atcSequences.at(0).stc.at(0);
  std::vector<uint32_t> entryTimes;
  for (const auto& e : clip.cpi.entries)
    if (e.StreamPid == 0x1011)
      for (const auto& k : e.keyPoints) entryTimes.push_back(static_cast<uint32_t>(k.pts / 2));
  ASSERT_GE(entryTimes.size(), 3u);
  PlaylistFile f = Read(3);
  // The chapter 3 s in lies past the clip's end: no mark, one log line.
  ASSERT_EQ(f.marks.size(), 3u);
  EXPECT_EQ(f.marks[0].MarkTimeStamp, stc.PresentationStartTime);
  EXPECT_EQ(f.marks[1].MarkTimeStamp, entryTimes[2]);
  EXPECT_EQ(f.marks[2].MarkTimeStamp, stc.PresentationEndTime);
  EXPECT_EQ(f.marks[2].MarkType, 2);
  int leftOut = 0;
  for (const std::string& line : log)
    if (line.find("]: Movie#1:Title#1:PI#1: chapter 3 (Late) at 00:00:03:00 is at or after the end of clip 00000 "
                  "and is left out") != std::string::npos)
      ++leftOut;
  EXPECT_EQ(leftOut, 1) << ::testing::PrintToString(log);
  // The chapter 0.96 s in starts at the entry point 1.001 s in; said with
  // both times at the list's rate.
  int moved = 0;
  for (const std::string& line : log) {
    if (line.find("]: Movie#1:Title#1:PI#1: chapter 2 (One) 00:00:00:48 -> 00:00:01:00, the following I picture") !=
        std::string::npos)
      ++moved;
    EXPECT_EQ(line.find("chapter 1 (Start)"), std::string::npos) << line;  // the start stays the start
  }
  EXPECT_EQ(moved, 1) << ::testing::PrintToString(log);

  EXPECT_FALSE(ChapterPastEnd(0, 25, 100, 200));   // the start
  EXPECT_FALSE(ChapterPastEnd(-1, 25, 100, 200));  // the end, as asked for
  // 0.16 s is 7200 units of 45 kHz after the in time: at the out time is
  // already too late.
  EXPECT_FALSE(ChapterPastEnd(4, 25, 100, 7301));
  EXPECT_TRUE(ChapterPastEnd(4, 25, 100, 7300));
}

TEST_F(PlaylistBuild, MarksAreInTimeOrderAndWithinTheDiscLimit) {
  // Chapters listed out of order (added one by one, or an unsorted file).
  Item(0)->m_chapters.m_nFpsCode = 1;
  Item(0)->m_chapters.m_points = {{"End", 2, -1}, {"Mid", 1, 13}, {"Start", 1, 0}};
  ASSERT_EQ(Build(), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  const ClipInformationFile clip = Clip(0);
  const STC_INFO& stc = clip.atcSequences.at(0).stc.at(0);
  PlaylistFile f = Read(3);
  ASSERT_EQ(f.marks.size(), 3u);
  EXPECT_EQ(f.marks[0].MarkTimeStamp, stc.PresentationStartTime);
  EXPECT_GT(f.marks[1].MarkTimeStamp, stc.PresentationStartTime);
  EXPECT_LT(f.marks[1].MarkTimeStamp, stc.PresentationEndTime);
  EXPECT_EQ(f.marks[2].MarkTimeStamp, stc.PresentationEndTime);
  EXPECT_EQ(f.marks[2].MarkType, 2);  // the end's type moved with it

  // 1000 chapters cannot be written; the title is named.
  Item(0)->m_chapters.m_points.assign(1000, CChapterPoint{"c", 1, 0});
  prompt.messages.clear();
  EXPECT_EQ(Build(), kFailed);
  EXPECT_EQ(prompt.messages, (std::vector<std::string>{"\"Movie#1:Title#1\": 1000 chapters in one playlist, the disc "
                                                       "allows at most 999"}));
  Item(0)->m_chapters.m_points.resize(999);
  EXPECT_EQ(Build(), kOk);
  EXPECT_EQ(Read(3).marks.size(), 999u);
}

TEST_F(PlaylistBuild, ItemWithoutStoryIsEmpty) {
  AddStoriesToPlaylist(*pl, film.m_stories);
  LinkStory(*Item(1), nullptr);
  EXPECT_EQ(Build(), kFailed);
  EXPECT_EQ(prompt.messages, (std::vector<std::string>{"\"Movie#1:Title#1:PI#2\" is empty! "}));
}

// --- the whole build -----------------------------------------------------------

struct NullDialog : ITaskDialog {
  Progress Open() override { return Progress{}; }
  void Close() override {}
};

TEST(PlaylistBuildDisc, DenseNumberingAndAnUnplayedStory) {
  zvtest::StoryMedia media;
  CZvObject p;
  p.InitNew();
  media.Fill(*p.m_logos.m_stories.GetAt(0), {"h264_1080p2398.264"});
  CFilmObject* m1 = p.m_movies.GetAt(0);
  media.Fill(*m1->m_stories.GetAt(0), {"h264_1080p2398.264", "ac3_stereo.ac3"});
  CStoryObject* unplayed = m1->m_stories.CreateChild();
  media.Fill(*unplayed, {"h264_1080p2398.264"});
  CFilmObject* m2 = p.m_movies.CreateChild();
  m2->SetFilmType(kFilmMovie);
  media.Fill(*m2->m_stories.GetAt(0), {"h264_1080p2398.264", "ac3_51.ac3"});
  for (int i = 0; i < 2; ++i) media.Fill(*p.m_trailers.m_stories.CreateChild(), {"h264_1080p2398.264"});
  AddStoriesToPlaylist(*p.m_trailers.m_playlists.GetAt(0), p.m_trailers.m_stories);

  const SBuildCounts n = AssignNumbers(p);
  EXPECT_EQ(n.clips, 6);
  EXPECT_EQ(n.playlists, 5);
  EXPECT_EQ(n.titles, 4);
  EXPECT_EQ(p.m_logos.m_stories.GetAt(0)->m_nClipNumber, 0);
  EXPECT_EQ(p.m_topMenu.m_stories.GetAt(0)->m_nClipNumber, -1);
  EXPECT_EQ(m1->m_stories.GetAt(0)->m_nClipNumber, 1);
  EXPECT_EQ(unplayed->m_nClipNumber, 2);
  EXPECT_EQ(m2->m_stories.GetAt(0)->m_nClipNumber, 3);
  EXPECT_EQ(p.m_trailers.m_stories.GetAt(1)->m_nClipNumber, 5);
  EXPECT_EQ(m1->m_playlists.GetAt(0)->m_nPlaylistNumber, 1);
  EXPECT_EQ(m2->m_playlists.GetAt(0)->m_nPlaylistNumber, 2);
  EXPECT_EQ(p.m_trailers.m_playlists.GetAt(0)->m_nPlaylistNumber, 3);
  EXPECT_EQ(m2->m_playlists.GetAt(0)->m_nTitleNumber, 2);
  EXPECT_EQ(p.m_trailers.m_playlists.GetAt(0)->m_nTitleNumber, 3);

  zvtest::TempDir out;
  const std::string bdmv = out / "Zelvane/DISC/BDMV/";
  fs::create_directories(bdmv + "STREAM");
  fs::create_directories(bdmv + "CLIPINF");
  zvtest::WriteText(bdmv + "STREAM/00002.m2ts", "old clip of a story nobody plays");
  zvtest::WriteText(bdmv + "CLIPINF/00002.clpi", "old");
  ScriptedPrompt prompt(Answer::Yes);
  NullDialog dialog;
  ASSERT_EQ(BuildProject(p, out.Path(), prompt, dialog, nullptr), kOk)
      << (prompt.messages.empty() ? "" : prompt.messages[0]);
  EXPECT_EQ(unplayed->m_nClipNumber, 2);
  for (const char* f : {"STREAM/00000.m2ts", "STREAM/00001.m2ts", "STREAM/00003.m2ts", "STREAM/00005.m2ts",
                        "PLAYLIST/00004.mpls", "BACKUP/PLAYLIST/00004.mpls"})
    EXPECT_TRUE(fs::exists(bdmv + f)) << f;
  for (const char* f : {"STREAM/00002.m2ts", "CLIPINF/00002.clpi", "PLAYLIST/00005.mpls"})
    EXPECT_FALSE(fs::exists(bdmv + f)) << f;
}

}  // namespace

#include <gtest/gtest.h>

#include <filesystem>

#include "model/project.h"
#include "model/story.h"
#include "platform/paths.h"
#include "story_fixture.h"

using namespace zv;
namespace fs = std::filesystem;

namespace {

TEST(StorySources, AddRemoveAndRefusals) {
  zvtest::StoryMedia media;
  CStoryObject story;
  story.SetName("Clip#1");
  media.Fill(story, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  ASSERT_EQ(story.m_vecTracks.size(), 2u);
  EXPECT_EQ(story.TrackRefs()[0].number, 0);
  EXPECT_EQ(story.TrackRefs()[1].number, 1);
  EXPECT_TRUE(story.TrackRefs()[0].video);
  EXPECT_EQ(story.TrackRefs()[1].codingType, 0x81);

  // The same file again, reached through a link, is refused; a name that
  // differs in letter case is another file here (missing in this case).
  ScriptedPrompt prompt;
  const std::string link = media.dir / "media/again.ac3";
  std::filesystem::create_symlink(media.Media("ac3_stereo.ac3"), link);
  EXPECT_EQ(story.AddSource(link, true, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], "\"" + link + "\"\r\n has been added! ");
  EXPECT_EQ(story.m_vecSources.size(), 2u);
  prompt.messages.clear();
  const std::string upper = media.dir / "media/AC3_STEREO.AC3";
  EXPECT_EQ(story.AddSource(upper, true, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], "Cannot open \"" + upper + "\": No such file or directory");
  EXPECT_EQ(story.m_vecSources.size(), 2u);

  // Not a stream: the parser's message, nothing added.
  zvtest::WriteText(media.dir / "media/notes.ac3", "just text, no sync words here");
  prompt.messages.clear();
  EXPECT_EQ(story.AddSource(media.Media("notes.ac3"), true, Progress{}, prompt), kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(story.m_vecTracks.size(), 2u);

  // A path the project file could not be loaded with again is refused, so
  // that the project stays loadable.
  std::string deep = media.dir.Path();
  while (deep.size() < kMaxPath) deep += "/" + std::string(40, 'd');
  fs::create_directories(deep);
  fs::copy_file(media.Media("ac3_mono.ac3"), deep + "/a.ac3");
  prompt.messages.clear();
  EXPECT_EQ(story.AddSource(deep + "/a.ac3", true, Progress{}, prompt), kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("Path is too long"), std::string::npos) << prompt.messages[0];
  EXPECT_NE(prompt.messages[0].find(deep + "/a.ac3"), std::string::npos) << prompt.messages[0];
  EXPECT_EQ(story.m_vecSources.size(), 2u);

  // A third track gets the next number; removing the first source drops its
  // track and keeps the others' numbers.
  media.Fill(story, {"ac3_mono.ac3"});
  ASSERT_TRUE(story.RemoveSource(0));
  EXPECT_FALSE(story.RemoveSource(5));
  ASSERT_EQ(story.m_vecTracks.size(), 2u);
  EXPECT_EQ(story.TrackRefs()[0].number, 1);
  EXPECT_EQ(story.TrackRefs()[1].number, 2);
  EXPECT_EQ(story.m_vecSources[0], media.Media("ac3_stereo.ac3"));
}

TEST(StorySources, Ac3BesideLosslessFileIsDropped) {
  const std::vector<std::string> in = {"/m/a.ac3", "/m/a.thd", "/m/b.ac3", "/m/c.AC3", "/m/c.mlp", "/n/a.ac3"};
  EXPECT_EQ(CStoryObject::DropCoveredAc3(in),
            (std::vector<std::string>{"/m/a.thd", "/m/b.ac3", "/m/c.mlp", "/n/a.ac3"}));
}

TEST(StoryChecks, TrackCountsCountEnabledPrimaryTracks) {
  zvtest::StoryMedia media;
  CStoryObject story;
  story.SetName("Clip#1");
  ScriptedPrompt prompt;
  media.Fill(story, {"ac3_stereo.ac3"});
  EXPECT_FALSE(story.CheckTrackCounts("Movie#1:", prompt));
  media.Fill(story, {"h264_1080p2398.264"});
  EXPECT_TRUE(story.CheckTrackCounts("Movie#1:", prompt));
  media.Fill(story, {"h264_576i25.264"});
  EXPECT_FALSE(story.CheckTrackCounts("Movie#1:", prompt));
  // A disabled second video passes.
  std::string error;
  STrackSettings off;
  off.enabled = 0;
  ASSERT_TRUE(story.ChangeTrack(2, off, error)) << error;
  EXPECT_TRUE(story.CheckTrackCounts("Movie#1:", prompt));
  EXPECT_EQ(prompt.messages, (std::vector<std::string>{"\"Movie#1:Clip#1\": Primary video track must be one! ",
                                                       "\"Movie#1:Clip#1\": Primary video track must be one! "}));
  // Unknown language codes are refused, known ones taken.
  STrackSettings lang;
  lang.language = "xx";
  EXPECT_FALSE(story.ChangeTrack(0, lang, error));
  lang.language = "FRE";
  ASSERT_TRUE(story.ChangeTrack(0, lang, error));
  EXPECT_EQ(story.TrackRefs()[0].language, "fre");
}

TEST(StoryChecks, CompareTracksInMultiplexingOrder) {
  zvtest::StoryMedia media;
  CStoryObject a, b, c, d;
  a.SetName("Clip#1");
  b.SetName("Clip#2");
  c.SetName("Clip#3");
  d.SetName("Clip#4");
  media.Fill(a, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  // Audio added first: the multiplexing order still puts video first.
  media.Fill(b, {"ac3_stereo.ac3", "h264_1080p2398.264"});
  media.Fill(c, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_mono.ac3"});
  media.Fill(d, {"h264_1080p2398.264", "ac3_51.ac3"});
  ScriptedPrompt prompt;
  EXPECT_FALSE(CStoryObject::CompareTracks("Movie#1:", a, b, prompt));
  EXPECT_TRUE(CStoryObject::CompareTracks("Movie#1:", a, c, prompt));
  EXPECT_TRUE(CStoryObject::CompareTracks("", a, d, prompt));
  EXPECT_EQ(prompt.messages,
            (std::vector<std::string>{"\"Movie#1:Clip#1\" and \"Movie#1:Clip#3\": have a conflict of track count! ",
                                      "\"Clip#1\" and \"Clip#4\": mismatch between tracks! "}));
  // PIDs follow the category lists.
  std::vector<STrackRef> refs = c.TrackRefs();
  EXPECT_EQ(refs[0].pid, 0x1011);
  EXPECT_EQ(refs[1].pid, 0x1100);
  EXPECT_EQ(refs[2].pid, 0x1101);
}

// --- project round trips ------------------------------------------------------

struct Opened {
  CZvObject project;
  bool modified = false;
  ScriptedPrompt prompt;
  std::vector<std::string> actions;
};

int Record(void* ctx, const SProgressInfo* info) {
  auto* actions = static_cast<std::vector<std::string>*>(ctx);
  if (info->kind == kProgressAction) actions->push_back(info->action);
  if (info->kind == kProgressItem) actions->push_back(info->item);
  return 1;
}

void OpenInto(const std::string& path, Opened& o) {
  std::string msg;
  ASSERT_EQ(OpenProjectFile(path, o.project, o.prompt, Progress{&Record, &o.actions}, o.modified, msg), kOk) << msg;
}

TEST(StoryProject, SaveOpenMoveAndLoseASource) {
  zvtest::StoryMedia media;
  const std::string path = media.dir / "p.zvpj";
  {
    CZvObject p;
    p.InitNew();
    CStoryObject* story = p.m_movies.GetAt(0)->m_stories.GetAt(0);
    media.Fill(*story, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_mono.ac3"});
    STrackSettings s;
    s.language = "fre";
    s.setDelay = true;
    s.delay = 900;
    s.primary = 0;
    std::string error;
    ASSERT_TRUE(story->ChangeTrack(1, s, error)) << error;
    story->RemoveSource(2);  // track numbers now 0 and 1; the next is 3
    media.Fill(*story, {"ac3_mono.ac3"});
    LinkStory(*p.m_movies.GetAt(0)->m_playlists.GetAt(0)->GetAt(0), story);
    std::string msg;
    ASSERT_EQ(SaveProjectFile(path, p, msg), kOk) << msg;
  }
  const int64_t sifTime = FileTimeNs(media.Media("h264_1080p2398.264.dsi"));
  ASSERT_GT(sifTime, 0);

  // Reopened from the stream-information files: nothing is analysed again.
  {
    Opened o;
    OpenInto(path, o);
    EXPECT_FALSE(o.modified);
    EXPECT_TRUE(o.prompt.messages.empty());
    for (const std::string& a : o.actions) EXPECT_EQ(a.find("Pars"), std::string::npos) << a;
    EXPECT_EQ(FileTimeNs(media.Media("h264_1080p2398.264.dsi")), sifTime);
    CStoryObject* story = o.project.m_movies.GetAt(0)->m_stories.GetAt(0);
    std::vector<STrackRef> t = story->TrackRefs();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].number, 0);
    EXPECT_EQ(t[1].number, 1);
    EXPECT_EQ(t[2].number, 3);
    EXPECT_EQ(t[1].language, "fre");
    EXPECT_EQ(t[1].delay, 900);
    EXPECT_FALSE(t[1].primary);
    EXPECT_EQ(t[1].path, media.Media("ac3_stereo.ac3"));
    // A new track does not reuse a stored number.
    media.Fill(*story, {"ac3_51.ac3"});
    EXPECT_EQ(story->TrackRefs()[3].number, 4);
    // The play item keeps one selection entry per track.
    EXPECT_EQ(o.project.m_movies.GetAt(0)->m_playlists.GetAt(0)->GetAt(0)->m_streamSel.size(), 3u);
  }

  // The project folder moves together with its media.
  fs::rename(media.dir / "media", media.dir / "moved-media-tmp");
  fs::create_directories(media.dir / "disc");
  fs::rename(media.dir / "moved-media-tmp", media.dir / "disc/media");
  fs::rename(path, media.dir / "disc/p.zvpj");
  {
    Opened o;
    OpenInto(media.dir / "disc/p.zvpj", o);
    // The stored "./media/..." paths resolve in the new folder.
    EXPECT_FALSE(o.modified);
    CStoryObject* story = o.project.m_movies.GetAt(0)->m_stories.GetAt(0);
    ASSERT_EQ(story->m_vecSources.size(), 3u);
    for (const std::string& s : story->m_vecSources) EXPECT_EQ(s.rfind(media.dir / "disc/media/", 0), 0u) << s;
    ASSERT_EQ(story->TrackRefs().size(), 3u);
  }

  // A source that is gone: its track is dropped with the parser's message.
  fs::remove(media.dir / "disc/media/ac3_stereo.ac3");
  {
    Opened o;
    OpenInto(media.dir / "disc/p.zvpj", o);
    EXPECT_TRUE(o.modified);
    ASSERT_EQ(o.prompt.messages.size(), 1u);
    EXPECT_NE(o.prompt.messages[0].find("Cannot open \"" + (media.dir / "disc/media/ac3_stereo.ac3") + "\""),
              std::string::npos)
        << o.prompt.messages[0];
    CStoryObject* story = o.project.m_movies.GetAt(0)->m_stories.GetAt(0);
    EXPECT_EQ(story->m_vecSources.size(), 2u);
    std::vector<STrackRef> t = story->TrackRefs();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].number, 0);
    EXPECT_EQ(t[1].number, 3);
    EXPECT_EQ(o.project.m_movies.GetAt(0)->m_playlists.GetAt(0)->GetAt(0)->m_streamSel.size(), 2u);
  }
}

}  // namespace

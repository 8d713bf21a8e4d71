// Drives the zelvane binary through the project commands.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

}  // namespace

TEST(ProjectCommands, NewShowAddAndDelete) {
  zvtest::TempDir dir;
  std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult again = Zv({"new", p});
  EXPECT_EQ(again.status, 2);  // never overwritten by accident
  EXPECT_NE(again.err.find("exists"), std::string::npos);

  RunResult movie = Zv({"movie", "add", p});
  ASSERT_EQ(movie.status, 0) << movie.err;
  EXPECT_EQ(movie.out, "Movie#2\n");
  EXPECT_EQ(Zv({"clip", "add", p, "Movie#2"}).out, "Movie#2/Clip#2\n");
  EXPECT_EQ(Zv({"title", "add", p, "Movie#2"}).out, "Movie#2/Title#2\n");
  EXPECT_EQ(Zv({"ig", "add", p, "Top Menu"}).out, "Top Menu/IG#2\n");

  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  // The new title plays both clips of Movie#2.
  EXPECT_NE(show.out.find("Title#2  [id 1]  title: yes, play mode: PlayAll, connection: NonSeamless (1), menu: none\n"
                          "        playback: Sequential, count 0, random access: no, audio mix: yes, lossless bypass: yes, "
                          "prohibited: none\n"
                          "        PI#1  story: Clip#1, chapters: 0\n"
                          "          angles: 1, still: No, still time: 0 s, random access: no, prohibited: none, tracks: none\n"
                          "        PI#2  story: Clip#2, chapters: 0\n"),
            std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("IG#2  [id 1]  always-on"), std::string::npos);

  // Deleting a clip takes its play items along; a deleted menu unlinks.
  ASSERT_EQ(Zv({"delete", p, "Movie#2/Clip#1"}).status, 0);
  ASSERT_EQ(Zv({"delete", p, "Movie#2/IG#1"}).status, 0);
  RunResult json = Zv({"show", p, "--json"});
  ASSERT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("{\"name\":\"Title#1\",\"id\":0,\"hasTitle\":true,\"playMode\":\"PlayAll\",\"connection\":1,"
                          "\"menu\":null,\"playbackType\":\"Sequential\",\"playbackCount\":0,\"randomAccess\":false,"
                          "\"audioMix\":true,\"losslessBypass\":true,\"prohibited\":[],\"items\":[]}"),
            std::string::npos)
      << json.out;
  // Ids are not reused: the next movie is Movie#3 even after deleting Movie#2.
  ASSERT_EQ(Zv({"delete", p, "Movie#2"}).status, 0);
  EXPECT_EQ(Zv({"movie", "add", p}).out, "Movie#3\n");

  std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult bad = Zv({"delete", p, "Movie#1/Title#9"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("\"Title#1\""), std::string::npos);  // lists what exists
  EXPECT_EQ(Zv({"delete", p, "Logos"}).status, 2);             // embedded films stay
  EXPECT_EQ(zvtest::ReadBytes(p), before);
}

TEST(ProjectCommands, Chapters) {
  zvtest::TempDir dir;
  std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string item = "Movie#1/Title#1/PI#1";

  // Without a frame rate there is nothing to count frames in.
  RunResult noFps = Zv({"chapters", p, item, "add", "00:01:00:12"});
  EXPECT_EQ(noFps.status, 2);
  EXPECT_NE(noFps.err.find("Please add video track first! "), std::string::npos);

  // 00:01:00:12 at 25 fps is frame 1512.
  RunResult add = Zv({"chapters", p, item, "add", "00:01:00:12", "Intro", "--fps", "3"});
  ASSERT_EQ(add.status, 0) << add.err;
  ASSERT_EQ(Zv({"chapters", p, item, "add", "end"}).status, 0);
  RunResult json = Zv({"show", p, "--json"});
  EXPECT_NE(json.out.find("{\"name\":\"Intro\",\"type\":1,\"frames\":1512,\"timecode\":\"00:01:00:12\"}"),
            std::string::npos)
      << json.out;

  // Added out of order, a chapter takes its place in time and its number.
  RunResult early = Zv({"chapters", p, item, "add", "00:00:30:00", "Early"});
  ASSERT_EQ(early.status, 0) << early.err;
  EXPECT_EQ(early.out, "1\t00:00:30:00\tEarly\n");
  EXPECT_EQ(Zv({"chapters", p, item, "list"}).out, "1\t00:00:30:00\tEarly\n2\t00:01:00:12\tIntro\n3\tend\t\n");
  // Frame 25 does not exist at 25 fps.
  std::vector<uint8_t> sorted = zvtest::ReadBytes(p);
  RunResult badFrame = Zv({"chapters", p, item, "add", "00:00:01:25"});
  EXPECT_EQ(badFrame.status, 2);
  EXPECT_NE(badFrame.err.find("\"00:00:01:25\": a second has frames 00 to 24 at 25 fps"), std::string::npos)
      << badFrame.err;
  EXPECT_EQ(zvtest::ReadBytes(p), sorted);

  // A CSV file naming its own rate: 00:05:00:00 at 23.976 stays at five
  // minutes in the item, whose video runs at 25 fps: frame 7500.
  zvtest::WriteText(dir / "ch.csv", "FrameRate 23.976\nDrop\n00:05:00:00 Scene2\n");
  RunResult imp = Zv({"chapters", p, item, "import", dir / "ch.csv"});
  ASSERT_EQ(imp.status, 0) << imp.err;
  EXPECT_NE(Zv({"show", p, "--json"}).out.find("\"frames\":7500"), std::string::npos);
  EXPECT_EQ(Zv({"chapters", p, item, "list"}).out, "1\t00:05:00:00\tScene2\n");

  // JSON stays UTF-8 when a chapter file is in a single-byte code page:
  // "caf\xe9" (Latin-1) is escaped, "\xc3\xa9" (UTF-8) passes unchanged.
  zvtest::WriteText(dir / "latin1.csv", "FrameRate 25\nNonDrop\n00:00:01:00 caf\xe9\n00:00:02:00 \xc3\xa9t\xc3\xa9\n");
  ASSERT_EQ(Zv({"chapters", p, item, "import", dir / "latin1.csv"}).status, 0);
  const std::string shown = Zv({"show", p, "--json"}).out;
  EXPECT_NE(shown.find("\"name\":\"caf\\u00e9\""), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"name\":\"\xc3\xa9t\xc3\xa9\""), std::string::npos) << shown;
  ASSERT_EQ(Zv({"chapters", p, item, "import", dir / "ch.csv"}).status, 0);

  std::vector<uint8_t> before = zvtest::ReadBytes(p);
  zvtest::WriteText(dir / "bad.csv", "00:01:00:00 x\n");
  RunResult badImport = Zv({"chapters", p, item, "import", dir / "bad.csv"});
  EXPECT_EQ(badImport.status, 2);
  EXPECT_NE(badImport.err.find("Frame rate is not defined! "), std::string::npos);
  EXPECT_EQ(Zv({"chapters", p, item, "remove", "2"}).status, 2);
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  ASSERT_EQ(Zv({"chapters", p, item, "remove", "1"}).status, 0);
  EXPECT_EQ(Zv({"chapters", p, item, "list"}).out, "");
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Clip#1", "list"}).status, 2);  // not a play item
}

TEST(ProjectCommands, ChaptersFollowTheRateOfTheItemsVideo) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_720p5994.264", dir.Path());
  ASSERT_EQ(Zv({"new", p}).status, 0);
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", video}).status, 0);
  const std::string item = "Movie#1/Title#1/PI#1";

  // At 59.94 fps a second has frames 00 to 59, as an import reads them.
  RunResult add = Zv({"chapters", p, item, "add", "00:00:01:45", "Late"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_EQ(add.out, "1\t00:00:01:45\tLate\n");
  EXPECT_NE(Zv({"show", p, "--json"}).out.find("\"frames\":105"), std::string::npos);  // 60 + 45
  ASSERT_EQ(Zv({"chapters", p, item, "add", "00:00:00:59", "--fps", "7"}).status, 0);

  // Another rate than the video's would be read at the video's rate later.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult other = Zv({"chapters", p, item, "add", "00:00:01:00", "--fps", "3"});
  EXPECT_EQ(other.status, 2);
  EXPECT_NE(other.err.find("--fps 3 (25 fps) differs from the video of \"" + item + "\" (59.94 fps)"),
            std::string::npos)
      << other.err;
  zvtest::WriteText(dir / "ch.txt", "00:00:01:00 One\n");
  EXPECT_EQ(Zv({"chapters", p, item, "import", dir / "ch.txt", "--fps", "6"}).status, 2);
  EXPECT_EQ(zvtest::ReadBytes(p), before);
  EXPECT_EQ(Zv({"chapters", p, item, "list"}).out, "1\t00:00:00:59\t\n2\t00:00:01:45\tLate\n");
}

TEST(ProjectCommands, UsageErrorsAndUnreadableProjects) {
  zvtest::TempDir dir;
  std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  EXPECT_EQ(Zv({"show"}).status, 64);
  EXPECT_EQ(Zv({"show", p, "--bogus"}).status, 64);
  EXPECT_EQ(Zv({"title", "add", p}).status, 64);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "jump"}).status, 64);
  // Understood but refused values are failures, not usage errors.
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:61:00:00", "--fps", "3"}).status, 2);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:01:00:00", "--fps", "5"}).status, 2);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "remove", "0"}).status, 2);
  RunResult help = Zv({"chapters", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("example:"), std::string::npos);

  std::vector<uint8_t> bytes = zvtest::ReadBytes(p);
  bytes.resize(bytes.size() / 2);
  zvtest::WriteBytes(p, bytes);
  RunResult cut = Zv({"show", p});
  EXPECT_EQ(cut.status, 2);
  EXPECT_NE(cut.err.find("truncated or corrupt"), std::string::npos);
  RunResult add = Zv({"movie", "add", p});
  EXPECT_EQ(add.status, 2);
  EXPECT_EQ(zvtest::ReadBytes(p), bytes);

  RunResult missing = Zv({"show", dir / "none.zvpj"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("Cannot open"), std::string::npos);

  // A file of another kind given in place of the project is refused, never
  // replaced by a project.
  const std::string notes = dir / "notes.txt";
  zvtest::WriteText(notes, "my notes\n");
  for (const std::vector<std::string>& cmd :
       {std::vector<std::string>{"movie", "add", notes}, {"set", notes, "Logos", "name=X"}, {"show", notes}}) {
    RunResult r = Zv(cmd);
    EXPECT_EQ(r.status, 2) << cmd[0];
    EXPECT_NE(r.err.find("\"" + notes + "\" is not a project file"), std::string::npos) << r.err;
  }
  EXPECT_EQ(zvtest::ReadText(notes), "my notes\n");
}

// A source file that is missing for a while (a drive not mounted) must not
// vanish from the project with its track settings the next time any
// command saves it; dropping it is an explicit `source remove`.
TEST(ProjectCommands, LostSourceIsKeptUntilRemovedOnPurpose) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult add = Zv({"source", "add", p, "Movie#1/Clip#1", video, audio});
  ASSERT_EQ(add.status, 0) << add.err;
  ASSERT_EQ(Zv({"set", p, "Movie#1/Clip#1/Track#2", "language=ger"}).status, 0);
  const std::vector<uint8_t> stored = zvtest::ReadBytes(p);

  std::filesystem::rename(audio, audio + ".away");
  for (const std::vector<std::string>& cmd :
       {std::vector<std::string>{"set", p, "Movie#1/Title#1", "mode=Separate"},
        {"chapters", p, "Movie#1/Title#1/PI#1", "add", "end", "--fps", "1"},
        {"source", "add", p, "Movie#1/Clip#1", video},
        {"clip", "add", p, "Movie#1"}}) {
    RunResult r = Zv(cmd);
    EXPECT_EQ(r.status, 2) << cmd[0];
    EXPECT_NE(r.err.find("Cannot open \"" + audio + "\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("was left as it was"), std::string::npos) << r.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(p), stored);
  RunResult show = Zv({"show", p});  // reading still works
  EXPECT_EQ(show.status, 0);
  EXPECT_NE(show.err.find("needed changes"), std::string::npos) << show.err;

  // Back in place, nothing was lost.
  std::filesystem::rename(audio + ".away", audio);
  EXPECT_NE(Zv({"show", p}).out.find("Track#2  ac3_stereo.ac3, ger  [enabled, primary, language ger"),
            std::string::npos);

  // Gone for good: removing it by name is the way to drop it.
  std::filesystem::remove(audio);
  RunResult removed = Zv({"source", "remove", p, "Movie#1/Clip#1", "ac3_stereo.ac3"});
  ASSERT_EQ(removed.status, 0) << removed.err;
  show = Zv({"show", p});
  EXPECT_EQ(show.err, "");
  EXPECT_EQ(show.out.find("ac3_stereo"), std::string::npos) << show.out;
  EXPECT_EQ(Zv({"set", p, "Movie#1/Title#1", "mode=Separate"}).status, 0);
}

TEST(ProjectCommands, MovedIntoADeepFolderTheProjectOpensAndNamesTheSourcePastTheLimit) {
  zvtest::TempDir dir;
  const std::string a = dir / "a";
  const std::string sub = "media/" + std::string(150, 's');
  std::filesystem::create_directories(a + "/" + sub);
  const std::string p = a + "/disc.zvpj";
  zvtest::CopyFixture("h264_1080p2398.264", a + "/media");
  zvtest::CopyFixture("ac3_stereo.ac3", a + "/" + sub);
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult add =
      Zv({"source", "add", p, "Movie#1/Clip#1", a + "/media/h264_1080p2398.264", a + "/" + sub + "/ac3_stereo.ac3"});
  ASSERT_EQ(add.status, 0) << add.err;

  // The stored paths are relative ("./media/..."): moved with the project
  // into a deep folder, the audio's combines to more than the limit allows.
  const std::string deep = dir / std::string(100, 'd');
  std::filesystem::create_directories(deep);
  std::filesystem::rename(a, deep + "/a");
  const std::string moved = deep + "/a/disc.zvpj";
  const std::string audio = deep + "/a/" + sub + "/ac3_stereo.ac3";
  ASSERT_GE(audio.size(), 260u);

  RunResult show = Zv({"show", moved});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("h264_1080p2398.264"), std::string::npos) << show.out;
  EXPECT_NE(show.err.find("Path is too long"), std::string::npos) << show.err;
  EXPECT_NE(show.err.find("\"" + audio + "\""), std::string::npos) << show.err;
  // A change is refused until the lost source is dealt with ...
  EXPECT_EQ(Zv({"set", moved, "Movie#1/Title#1", "mode=Separate"}).status, 2);
  // ... by removing it, after which a replacement can be added.
  RunResult removed = Zv({"source", "remove", moved, "Movie#1/Clip#1", "ac3_stereo.ac3"});
  ASSERT_EQ(removed.status, 0) << removed.err;
  show = Zv({"show", moved});
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.err, "");
  const std::string replacement = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  add = Zv({"source", "add", moved, "Movie#1/Clip#1", replacement});
  ASSERT_EQ(add.status, 0) << add.err;
  show = Zv({"show", moved});
  EXPECT_EQ(show.err, "");
  EXPECT_NE(show.out.find("Track#2  ac3_stereo.ac3"), std::string::npos) << show.out;
}

TEST(ProjectCommands, AKnownButDisallowedVideoRateIsAcceptedWithAPlainWarning) {
  zvtest::TempDir dir;
  const std::string video = zvtest::CopyFixture("warn_1080p25.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string warning = "warning: \"" + video +
                              "\": 1080p at 25 fps is not a Blu-ray video format; Blu-ray players may refuse it";
  RunResult analysed = Zv({"analyse", video});
  EXPECT_EQ(analysed.status, 0) << analysed.err;
  EXPECT_NE(analysed.out.find("video format:       1080p"), std::string::npos) << analysed.out;
  EXPECT_NE(analysed.err.find("zelvane analyse: " + warning), std::string::npos) << analysed.err;
  RunResult good = Zv({"analyse", zvtest::CopyFixture("h264_1080p2398.264", dir.Path())});
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.err.find("warning"), std::string::npos) << good.err;

  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult add = Zv({"source", "add", p, "Movie#1/Clip#1", video, audio});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.err.find("zelvane source add: " + warning), std::string::npos) << add.err;

  RunResult built = Zv({"build", p, dir / "out", "--yes"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_NE(built.err.find("]: Clip#1: " + warning.substr(9)), std::string::npos) << built.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "out/Zelvane/DISC/BDMV/STREAM/00000.m2ts"));
}

// A subtitle stream joins a clip as a track with its file's language; a
// broken one is refused with the analysis message and leaves no stream
// information behind, and the project as it was.
TEST(ProjectCommands, SubtitleStreamsAreAddedOrRefused) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string good = zvtest::CopyFixture("subtitles/subs_eng.sup", dir.Path());
  const std::string fra = dir / "movie_fra.sup";
  std::filesystem::copy_file(good, fra);
  const std::string cut = dir / "cut.sup";
  auto bytes = zvtest::ReadBytes(good);
  bytes.resize(40);  // inside the first segment
  zvtest::WriteBytes(cut, bytes);

  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult refused = Zv({"source", "add", p, "Movie#1/Clip#1", cut});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find(cut + "\nSyntax illegal! "), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(cut + ".dsi"));
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  RunResult added = Zv({"source", "add", p, "Movie#1/Clip#1", fra});
  ASSERT_EQ(added.status, 0) << added.err;
  EXPECT_NE(added.out.find("Movie#1/Clip#1/Track#1  movie_fra.sup, fra\n"), std::string::npos) << added.out;
  ASSERT_EQ(Zv({"set", p, "Movie#1/Clip#1/Track#1", "language=ger"}).status, 0);
  RunResult show = Zv({"show", p});
  EXPECT_NE(show.out.find("Track#1  movie_fra.sup, ger  [enabled, primary, language ger, delay 0]"), std::string::npos)
      << show.out;
}

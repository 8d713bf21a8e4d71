// Drives the zelvane binary through the project commands.
#include <gtest/gtest.h>

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

  // A CSV file naming its own rate: 00:05:00:00 at 23.976 is frame 7193,
  // which the item, whose video runs at 25 fps, shows as 00:04:47:18.
  zvtest::WriteText(dir / "ch.csv", "FrameRate 23.976\nDrop\n00:05:00:00 Scene2\n");
  RunResult imp = Zv({"chapters", p, item, "import", dir / "ch.csv"});
  ASSERT_EQ(imp.status, 0) << imp.err;
  EXPECT_NE(Zv({"show", p, "--json"}).out.find("\"frames\":7193"), std::string::npos);
  EXPECT_EQ(Zv({"chapters", p, item, "list"}).out, "1\t00:04:47:18\tScene2\n");

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

TEST(ProjectCommands, UsageErrorsAndUnreadableProjects) {
  zvtest::TempDir dir;
  std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  EXPECT_EQ(Zv({"show"}).status, 64);
  EXPECT_EQ(Zv({"show", p, "--bogus"}).status, 64);
  EXPECT_EQ(Zv({"title", "add", p}).status, 64);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "jump"}).status, 64);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:61:00:00", "--fps", "3"}).status, 64);
  EXPECT_EQ(Zv({"chapters", p, "Movie#1/Title#1/PI#1", "add", "00:01:00:00", "--fps", "5"}).status, 64);
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
}

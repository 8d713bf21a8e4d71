// `zelvane quick`: an MKV (H.264, two AC-3 tracks, a PG track, chapters),
// a phone's MP4 (30 frames a second, 44.1 kHz AAC) and two SRT files made
// into a disc and its image by one command, read back by libbluray, udfinfo
// and 7-Zip; and the refusals and the cancel, which leave no OUT behind.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zvtest;

namespace {

// The lines libbluray's listing gives the playlist that disc title
// `number` plays, without their "title K " prefix.
std::string TitleLines(const std::string& info, int number) {
  std::istringstream in(info);
  std::string playlist, prefix, out;
  const std::string wanted = "disc_title " + std::to_string(number) + " playlist ";
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(wanted)) playlist = line.substr(wanted.size());
  std::istringstream again(info);
  for (std::string line; std::getline(again, line);) {
    const size_t at = line.find(" playlist " + playlist + " ");
    if (!playlist.empty() && line.starts_with("title ") && at != std::string::npos) prefix = line.substr(0, at + 1);
    if (!prefix.empty() && line.starts_with(prefix)) out += line.substr(prefix.size()) + "\n";
  }
  return out;
}

class QuickDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed (scripts/install-deps)";
    mkv_ = dir_ / "trip.mkv";
    fs::copy_file(DataPath("containers/movie.mkv"), mkv_);
    // A phone's clip: a rate no disc has, audio no disc carries.
    phone_ = dir_ / "phone.mp4";
    RunResult made = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30",
                          "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-t", "1.5", "-c:v", "libx264",
                          "-preset", "ultrafast", "-threads", "1", "-c:a", "aac", "-b:a", "64k", "-shortest", phone_});
    ASSERT_EQ(made.status, 0) << made.err;
    subs_ = {dir_ / "trip_eng.srt", dir_ / "phone_fra.srt"};
    for (const std::string& s : subs_) fs::copy_file(DataPath("subtitles/track_eng.srt"), s);
  }

  std::vector<std::string> Args(const std::string& out) const {
    return {"quick", out, mkv_, phone_, "--subtitles", subs_[0] + "," + subs_[1]};
  }

  TempDir dir_;
  std::string mkv_, phone_;
  std::vector<std::string> subs_;
};

TEST_F(QuickDisc, FilesBecomeADiscAndAnImageInOneCommand) {
  const std::string out = dir_ / "trip";
  const std::string iso = dir_ / "trip.iso";
  std::vector<std::string> args = Args(out);
  args.insert(args.end(), {"--image", iso});
  RunResult quick = Zelvane(args);
  ASSERT_EQ(quick.status, 0) << quick.err << quick.out;
  // What had to change is said; what the disc carries is not touched.
  EXPECT_NE(quick.err.find("\"" + phone_ + "\": the disc cannot carry its video as it is (30 frames a second is not "
                           "a disc rate); it is encoded"),
            std::string::npos)
      << quick.err;
  EXPECT_NE(quick.err.find("its audio is added as"), std::string::npos) << quick.err;
  EXPECT_EQ(quick.err.find("\"" + mkv_ + "\": the disc cannot carry"), std::string::npos) << quick.err;
  // The chapter buttons show their pictures, the MKV's too.
  EXPECT_EQ(quick.err.find("the chapter pictures could not be made"), std::string::npos) << quick.err;
  EXPECT_NE(quick.out.find("2 chapters to 1 play item"), std::string::npos) << quick.out;
  EXPECT_NE(quick.out.find("\"" + phone_ + "\" has no chapters: one every 5 minutes"), std::string::npos) << quick.out;
  // Each file its own movie, named after it (and so in the menus).
  RunResult show = Zelvane({"show", out + "/trip.zvpj"});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("\n  trip  [Movie, id 0]\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\n  phone  [Movie, id 1]\n"), std::string::npos) << show.out;

  const std::string disc = out + "/Zelvane/DISC";
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc});
  ASSERT_EQ(info.status, 0) << info.err;
  // Two titles besides the top menu's background.
  EXPECT_TRUE(HasLine(info.out, "titles TITLES_ALL count 3")) << info.out;
  EXPECT_FALSE(HasLine(info.out, "disc_title top_menu playlist none")) << info.out;
  // The MKV as it was: 1080p23.976 H.264, both AC-3 tracks, its PG track
  // and the SRT drawn beside it, its two chapters.
  const std::string movie = TitleLines(info.out, 1);
  for (const char* line :
       {"clip 0 stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -",
        "clip 0 stream audio 0 coding 0x81 pid 0x1100 format 6 rate 1 aspect 0 subpath 255 lang eng",
        "clip 0 stream audio 1 coding 0x81 pid 0x1101 format 3 rate 1 aspect 0 subpath 255 lang fre",
        "clip 0 stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang ger",
        "clip 0 stream pg 1 coding 0x90 pid 0x1201 format 0 rate 0 aspect 0 subpath 255 lang eng",
        "chapter 1 start 0 duration 44672 clip 0", "chapter 2 start 44672 duration 135508 clip 0"})
    EXPECT_TRUE(HasLine(movie, line)) << line << "\n" << info.out;
  // The phone's clip encoded to 480i29.97 (4:3) H.264 with its audio as
  // AC-3, its subtitles in French (from the file name), one chapter.
  const std::string phone = TitleLines(info.out, 2);
  for (const char* line :
       {"clip 0 stream video 0 coding 0x1b pid 0x1011 format 1 rate 4 aspect 2 subpath 255 lang -",
        "clip 0 stream audio 0 coding 0x81 pid 0x1100 format 1 rate 1 aspect 0 subpath 255 lang eng",
        "clip 0 stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang fra"})
    EXPECT_TRUE(HasLine(phone, line)) << line << "\n" << info.out;
  EXPECT_EQ(phone.find("clip 0 stream audio 1"), std::string::npos) << info.out;
  EXPECT_EQ(phone.find("clip 0 stream pg 1"), std::string::npos) << info.out;
  // 45 frames of 29.97 are 135135 ticks; the clip's end may round one down.
  const size_t chapter = phone.find("chapter 1 start 0 duration ");
  ASSERT_NE(chapter, std::string::npos) << info.out;
  EXPECT_NEAR(std::stol(phone.substr(chapter + 27)), 135135, 1) << info.out;
  EXPECT_EQ(phone.find("chapter 2 "), std::string::npos) << info.out;

  // The generated top menu: its first button plays the first title, the
  // one below it the second, each to its end.
  RunResult first = zvtest::Run({ZV_BDCLIENT, "play", "--max-reads", "400", "--press", "enter", disc});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_TRUE(HasLine(first.out, "event MENU 1")) << first.out;
  EXPECT_TRUE(HasLine(first.out, "event TITLE 1")) << first.out;
  EXPECT_FALSE(HasLine(first.out, "event TITLE 2")) << first.out;
  RunResult second =
      zvtest::Run({ZV_BDCLIENT, "play", "--max-reads", "400", "--press", "down", "--press", "enter", disc});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(HasLine(second.out, "event TITLE 2")) << second.out;
  EXPECT_FALSE(HasLine(second.out, "event TITLE 1")) << second.out;
  for (const auto& [run, number] : {std::pair{&first, 1}, std::pair{&second, 2}}) {
    const std::string wanted = "disc_title " + std::to_string(number) + " playlist ";
    const std::string playlist = info.out.substr(info.out.find(wanted) + wanted.size(), 5);
    EXPECT_NE(run->out.find("played " + playlist), std::string::npos) << run->out;
  }

  // The phone's video as ffmpeg decodes it from the disc: 45 pictures of
  // 720x480, stretched to 29.97.
  const size_t id = phone.find("clip 0 id ");
  ASSERT_NE(id, std::string::npos) << info.out;
  const std::string clip = disc + "/BDMV/STREAM/" + phone.substr(id + 10, 5) + ".m2ts";
  RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_frames", "-show_entries",
                         "stream=width,height,nb_read_frames", "-of", "csv=p=0", clip});
  ASSERT_EQ(probe.status, 0) << probe.err;
  // ffprobe lists the stream once alone and once in its program.
  EXPECT_EQ(probe.out.substr(0, probe.out.find('\n')), "720,480,45") << probe.out;

  if (!HaveProgram("udfinfo") || !HaveProgram("7z")) GTEST_SKIP() << "udftools or p7zip-full not installed";
  RunResult udf = zvtest::Run({"udfinfo", iso});
  ASSERT_EQ(udf.status, 0) << udf.err;
  EXPECT_TRUE(HasLine(udf.out, "label=trip")) << udf.out;
  RunResult list = zvtest::Run({"7z", "l", iso});
  ASSERT_EQ(list.status, 0) << list.err;
  for (const char* f : {"BDMV/index.bdmv", "BDMV/MovieObject.bdmv", "BDMV/PLAYLIST/00002.mpls",
                        "BDMV/STREAM/00002.m2ts"})
    EXPECT_NE(list.out.find(f), std::string::npos) << f << "\n" << list.out;
}

// Video at a disc's rate that the analysis refuses (baseline profile, a
// size no disc has) is encoded in place of the refused try, which leaves
// no track behind.
TEST_F(QuickDisc, VideoTheAnalysisRefusesIsEncoded) {
  const std::string small = dir_ / "small.mp4";
  RunResult made = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                "testsrc2=size=640x360:rate=25", "-f", "lavfi", "-i",
                                "sine=frequency=440:sample_rate=48000", "-t", "1", "-c:v", "libx264", "-preset",
                                "ultrafast", "-threads", "1", "-c:a", "aac", "-shortest", small});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string out = dir_ / "small";
  RunResult quick = Zelvane({"quick", out, small});
  ASSERT_EQ(quick.status, 0) << quick.err << quick.out;
  EXPECT_NE(quick.err.find("\"" + small + "\": the disc cannot carry its video as it is (Wrong profile!); it is encoded"),
            std::string::npos)
      << quick.err;
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", out + "/Zelvane/DISC"});
  ASSERT_EQ(info.status, 0) << info.err;
  const std::string movie = TitleLines(info.out, 1);
  EXPECT_TRUE(HasLine(movie, "clip 0 stream video 0 coding 0x1b pid 0x1011 format 2 rate 3 aspect 3 subpath 255 lang -"))
      << info.out;
  EXPECT_TRUE(HasLine(movie, "clip 0 stream audio 0 coding 0x81 pid 0x1100 format 1 rate 1 aspect 0 subpath 255 lang eng"))
      << info.out;
  EXPECT_EQ(movie.find("stream video 1"), std::string::npos) << info.out;
  EXPECT_EQ(movie.find("stream audio 1"), std::string::npos) << info.out;
}

// A file that is missing, one that is no media file, a subtitle that goes
// with no movie, a template that is not there: the message names the file and no OUT is left.
TEST_F(QuickDisc, RefusedFilesLeaveNoFolder) {
  const std::string junk = dir_ / "broken.mkv";
  WriteText(junk, "this is not a Matroska file, only text that says so\n");
  const std::string stray = dir_ / "other.srt";
  fs::copy_file(subs_[0], stray);
  struct Case {
    std::vector<std::string> files;
    std::string why;
  };
  const std::vector<Case> cases = {
      {{mkv_, dir_ / "missing.mp4"}, "zelvane quick: \"" + dir_ / "missing.mp4" + "\" does not exist"},
      {{mkv_, junk}, "zelvane quick: \"" + junk + "\": Invalid data found when processing input"},
      {{mkv_, phone_, "--subtitles", stray}, "zelvane quick: \"" + stray + "\" goes with no movie"},
      {{mkv_, "--template", "nosuch"}, "zelvane quick: no template \"nosuch\" (there are: "},
  };
  for (const Case& c : cases) {
    const std::string out = dir_ / "refused";
    std::vector<std::string> args = {"quick", out};
    args.insert(args.end(), c.files.begin(), c.files.end());
    args.insert(args.end(), {"--image", dir_ / "refused.iso"});
    RunResult r = Zelvane(args);
    EXPECT_EQ(r.status, 2) << c.why;
    EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out)) << c.why;
    EXPECT_FALSE(fs::exists(dir_ / "refused.iso")) << c.why;
  }
  // A folder with something in it is not taken over.
  const std::string used = dir_ / "used";
  fs::create_directory(used);
  WriteText(used + "/notes.txt", "mine\n");
  RunResult r = Zelvane({"quick", used, mkv_});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("exists and is not an empty folder"), std::string::npos) << r.err;
  EXPECT_EQ(ReadText(used + "/notes.txt"), "mine\n");
}

// Stopped while it encodes, the command removes the folder it made.
TEST_F(QuickDisc, StoppedCommandLeavesNoFolder) {
  const std::string out = dir_ / "stopped";
  bool sent = false;
  RunResult r = RunWatched(Args(out), nullptr, [&](const std::string& line, pid_t pid) {
    if (!sent && line.starts_with("Encoding ")) sent = kill(pid, SIGTERM) == 0;
  });
  ASSERT_TRUE(sent) << r.err;
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace

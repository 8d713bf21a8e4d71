// The libbluray test client on its own: its errors on a folder that is not a
// disc, and its readings of a tiny hand-made disc whose values are known.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "support/run_tools.h"
#include "support/test_support.h"

using zvtest::TempDir;

using zvtest::HasLine;

namespace {

const std::string kClient = ZV_BDCLIENT;

TEST(BdClient, FolderThatIsNotADiscIsAClearErrorForEveryCommand) {
  TempDir dir;
  std::filesystem::create_directories(dir / "BDMV");  // a BDMV folder without index.bdmv
  const std::string out = dir / "out.m2ts";
  for (const auto& argv : std::vector<std::vector<std::string>>{
           {kClient, "info", dir.Path()},
           {kClient, "info", "--json", dir.Path()},
           {kClient, "play", dir.Path()},
           {kClient, "read", dir.Path(), "0", out},
           {kClient, "info", dir / "missing"}}) {
    auto r = zvtest::Run(argv);
    EXPECT_EQ(r.status, 2) << argv[1];
    EXPECT_EQ(r.out, "") << argv[1];
    EXPECT_NE(r.err.find("cannot open disc \""), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(out + ".tmp~"));
}

TEST(BdClient, BadArgumentsAreAUsageError) {
  EXPECT_EQ(zvtest::Run({kClient}).status, 64);
  EXPECT_EQ(zvtest::Run({kClient, "list", "x"}).status, 64);
  EXPECT_EQ(zvtest::Run({kClient, "info", "--bogus", "x"}).status, 64);
  EXPECT_EQ(zvtest::Run({kClient, "read", "x", "one", "y"}).status, 64);
  EXPECT_EQ(zvtest::Run({kClient, "play", "--press", "jump", "x"}).status, 64);
}

class MiniDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"python3", "ffmpeg", "ffprobe", "mkvmerge"})
      if (!zvtest::HaveProgram(tool)) GTEST_SKIP() << tool << " not installed";
    auto r = zvtest::Run({"python3", std::string(ZV_TEST_DATA) + "/../interop/make_mini_disc.py",
                  disc_.Path(), zvtest::DataPath("h264_1080p2398.264"),
                  zvtest::DataPath("ac3_stereo.ac3")});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(std::sscanf(r.out.c_str(), "packets %lu in_time %lu out_time %lu", &packets_,
                          &in_, &out_),
              3)
        << r.out;
  }
  TempDir disc_;
  unsigned long packets_ = 0, in_ = 0, out_ = 0;  // as written, 45 kHz times
};

TEST_F(MiniDisc, InfoListsTitlesClipsStreamsAndChapters) {
  auto r = zvtest::Run({kClient, "info", disc_.Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* line :
       {"disc bluray_detected 1", "disc first_play_supported 1", "disc top_menu_supported 1",
        "disc num_titles 1", "disc_title 1 movie_object 1 interactive 0 accessible 1 hidden 0",
        "disc_title 1 playlist 00000", "disc_title top_menu playlist 00000",
        // First play only jumps to title 1: it plays no playlist of its own.
        "disc_title first_play playlist none", "titles TITLES_ALL count 1",
        "title 0 clip 0 stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 "
        "subpath 255 lang -",
        "title 0 clip 0 stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 "
        "subpath 255 lang eng"})
    EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
  // Playlist times are 45 kHz on disc and 90 kHz in libbluray.
  const unsigned long duration = 2 * (out_ - in_);
  EXPECT_TRUE(HasLine(r.out, "title 0 playlist 00000 duration " + std::to_string(duration) +
                                 " clips 1 chapters 2 marks 2 angles 1"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "title 0 clip 0 id 00000 in_time " + std::to_string(2 * in_) +
                                 " out_time " + std::to_string(2 * out_) +
                                 " start_time 0 packets " + std::to_string(packets_) +
                                 " still_mode 0"))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "title 0 chapter 1 start 0 duration 90090 clip 0")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "title 0 chapter 2 start 90090 duration " +
                                 std::to_string(duration - 90090) + " clip 0"))
      << r.out;
}

TEST_F(MiniDisc, JsonCarriesTheSameFacts) {
  auto r = zvtest::Run({kClient, "info", "--json", disc_.Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  // python3's parser both validates the JSON and reads the values back.
  auto check = zvtest::Run({"python3", "-c",
                    "import json,sys; d=json.load(sys.stdin); t=d['titles'][0]; "
                    "print(d['num_titles'], t['playlist'], len(t['chapters']), "
                    "t['clips'][0]['streams'][1]['lang'], t['clips'][0]['streams'][0]['pid'], "
                    "[x['playlist'] for x in d['disc_titles']])"},
                   r.out);
  ASSERT_EQ(check.status, 0) << check.err << r.out;
  EXPECT_EQ(check.out, "1 0 2 eng 4113 [0, 0, None]\n");
}

TEST_F(MiniDisc, PlayRunsFirstPlayIntoTheTitleAndStops) {
  auto r = zvtest::Run({kClient, "play", disc_.Path()});
  ASSERT_EQ(r.status, 0) << r.err;
  // Order matters: first play, then the jump to title 1 and its playlist.
  const auto first_play = r.out.find("event TITLE 65535\n");
  const auto title1 = r.out.find("event TITLE 1\n");
  const auto playlist = r.out.find("event PLAYLIST 00000\n");
  const auto end = r.out.find("event END_OF_TITLE 0\n");
  ASSERT_NE(first_play, std::string::npos) << r.out;
  ASSERT_NE(title1, std::string::npos) << r.out;
  ASSERT_NE(playlist, std::string::npos) << r.out;
  ASSERT_NE(end, std::string::npos) << r.out;
  EXPECT_LT(first_play, title1);
  EXPECT_LT(title1, playlist);
  EXPECT_LT(playlist, end);
  EXPECT_TRUE(HasLine(r.out, "event CHAPTER 2")) << r.out;
  EXPECT_TRUE(HasLine(r.out, "bytes " + std::to_string(packets_ * 192))) << r.out;
  EXPECT_TRUE(HasLine(r.out, "end idle")) << r.out;
}

TEST_F(MiniDisc, ReadCopiesTheClipAndLeavesNothingOnFailure) {
  TempDir out;
  auto r = zvtest::Run({kClient, "read", disc_.Path(), "0", out / "t.m2ts"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "read bytes " + std::to_string(packets_ * 192) + " packets " +
                       std::to_string(packets_) + "\n");
  EXPECT_EQ(zvtest::ReadBytes(out / "t.m2ts"),
            zvtest::ReadBytes(disc_ / "BDMV/STREAM/00000.m2ts"));

  r = zvtest::Run({kClient, "read", "--playlist", disc_.Path(), "0", out / "p.m2ts"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(std::filesystem::exists(out / "p.m2ts"));

  for (const auto& argv : std::vector<std::vector<std::string>>{
           {kClient, "read", disc_.Path(), "1", out / "bad.m2ts"},
           {kClient, "read", "--playlist", disc_.Path(), "7", out / "bad.m2ts"}}) {
    r = zvtest::Run(argv);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot be selected"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(out / "bad.m2ts"));
  EXPECT_FALSE(std::filesystem::exists(out / "bad.m2ts.tmp~"));
}

}  // namespace

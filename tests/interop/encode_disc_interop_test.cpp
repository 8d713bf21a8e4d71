// A disc made of what a disc cannot carry as it is: a phone clip added with
// `source add --encode` and a PNG as the top menu's background, read back
// by libbluray (stream attributes) and by a re-simulation of the buffers.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>
#include <string>
#include <vector>

#include "mux/muxer_clip_check.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;
namespace fs = std::filesystem;

TEST(EncodeDisc, PhoneClipAndStillBackgroundPlayInLibbluray) {
  TempDir dir;
  const std::string d = dir.Path();
  // 1080p at 30 frames a second with two late frames, and a picture.
  RunResult made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-t", "0.7",
                        "-vf", "setpts='N/30/TB+between(N,5,6)*0.02/TB'", "-fps_mode", "vfr", "-c:v", "libx264",
                        "-preset", "ultrafast", d + "/phone.mp4"});
  ASSERT_EQ(made.status, 0) << made.err;
  made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=800x600", "-frames:v", "1", d + "/bg.png"});
  ASSERT_EQ(made.status, 0) << made.err;

  CopyFixture("ac3_stereo.ac3", d);
  const std::string p = d + "/p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  // Refused as it is, with the way to take it.
  RunResult refused = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4"});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("add it with --encode"), std::string::npos) << refused.err;
  RunResult badFormat = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", "--encode", "--format", "1080p30"});
  EXPECT_EQ(badFormat.status, 64);
  EXPECT_NE(badFormat.err.find("unknown video format \"1080p30\""), std::string::npos) << badFormat.err;

  // Settings that cannot be taken are refused before any work.
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--quality", "60"}, "--quality: \"60\" is not a number from 0 (best) to 51"},
      {{"--quality", "20", "--bitrate", "5M"}, "--quality and --bitrate exclude each other"},
      {{"--bitrate", "50M"}, "--bitrate: \"50M\" is not a rate from 100 to 40000 kbit/s"},
  };
  for (const auto& [options, why] : bad) {
    std::vector<std::string> args = {"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", "--encode"};
    args.insert(args.end(), options.begin(), options.end());
    RunResult r = Zelvane(args);
    EXPECT_EQ(r.status, 64) << why;
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  }
  EXPECT_FALSE(fs::exists(d + "/phone.mp4.1080i29.97-q20.264"));

  const std::vector<std::vector<std::string>> steps = {
      {"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", d + "/ac3_stereo.ac3", "--encode", "--quality", "24"},
      {"source", "add", p, "Top Menu/Background AV", d + "/bg.png", "--duration", "2"},
      {"build", p, d + "/out", "--yes"},
  };
  for (const auto& args : steps) {
    RunResult r = Zelvane(args);
    ASSERT_EQ(r.status, 0) << args[0] << "\n" << r.err;
  }
  EXPECT_TRUE(fs::exists(d + "/phone.mp4.1080i29.97-q24.264"));
  EXPECT_TRUE(fs::exists(d + "/bg.png.1080p23.976-still2s-q20.264"));
  // The background holds its picture.
  RunResult show = Zelvane({"show", p});
  const size_t bg = show.out.find("PI#1  story: Background AV");
  ASSERT_NE(bg, std::string::npos) << show.out;
  EXPECT_EQ(show.out.find("still: Infinite", bg), show.out.find("still:", bg)) << show.out;

  const std::string root = d + "/out/Zelvane/DISC";
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", root});
  ASSERT_EQ(info.status, 0) << info.err;
  auto has = [&](const std::string& part) { return info.out.find(part) != std::string::npos; };
  // 1080i at 29.97 (progressive pictures coded as interlaced), 16:9.
  EXPECT_TRUE(has("stream video 0 coding 0x1b pid 0x1011 format 4 rate 4 aspect 3")) << info.out;
  EXPECT_TRUE(has("stream audio 0 coding 0x81 pid 0x1100")) << info.out;
  // The background at the menu's 1080p23.976.
  EXPECT_TRUE(has("stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3")) << info.out;

  int clips = 0;
  for (const auto& e : fs::directory_iterator(root + "/BDMV/STREAM")) {
    const ClipReading clip = ReadClip(e.path().string());
    if (clip.units.count(0x1011) == 0) continue;
    ++clips;
    EXPECT_EQ(ReplayStd(clip, 0x1011, AvcLevel41()), "") << e.path();
  }
  EXPECT_EQ(clips, 2);
}

}  // namespace

// A track encoded by its setting after it was added (`set ... encode=yes`),
// then back to its source (`encode=no`), and a phone clip whose encode can
// only change format: the discs read back by libbluray (format attributes)
// and the re-simulation of the video buffer, the settings kept across
// loads of the project.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mux/muxer_clip_check.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;
namespace fs = std::filesystem;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Builds the project and returns what libbluray lists of the disc, after
// checking the video buffer of every clip with video.
std::string BuildAndRead(const std::string& project, const std::string& out) {
  fs::remove_all(out);
  const RunResult built = Zelvane({"build", project, out, "--yes"});
  EXPECT_EQ(built.status, 0) << built.err;
  const std::string root = out + "/Zelvane/DISC";
  if (built.status != 0) return {};
  for (const auto& e : fs::directory_iterator(root + "/BDMV/STREAM")) {
    const ClipReading clip = ReadClip(e.path().string());
    if (clip.units.count(0x1011)) {
      EXPECT_EQ(ReplayStd(clip, 0x1011, AvcLevel41()), "") << e.path();
    }
  }
  const RunResult info = zvtest::Run({ZV_BDCLIENT, "info", root});
  EXPECT_EQ(info.status, 0) << info.err;
  return info.out;
}

TEST(EncodeSetting, TrackEncodedByItsSettingAndBack) {
  TempDir dir;
  const std::string d = dir.Path();
  // 1080p at 29.97: a format the disc knows but does not allow progressive.
  RunResult made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30000/1001",
                                "-t", "0.7", "-c:v", "libx264", "-preset", "veryfast", "-profile:v", "high", "-level",
                                "4.1", "-x264opts", "bluray-compat=1:keyint=15", d + "/camera.264"});
  ASSERT_EQ(made.status, 0) << made.err;
  // 1080p at exactly 30 with its own sound: the disc takes neither as it is.
  made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30", "-f", "lavfi",
                      "-i", "sine=f=440:r=48000", "-t", "0.7", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac",
                      d + "/phone.mp4"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string p = d + "/p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);

  // As today: the phone clip is refused, the camera stream taken with a warning.
  const std::string empty = ReadText(p);
  RunResult r = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4"});
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_EQ(ReadText(p), empty);
  r = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/camera.264"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "1080p at 29.97 fps is not a Blu-ray video format")) << r.err;

  // Values the setting cannot take leave the project as it was.
  const std::string before = ReadText(p);
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode-format=1080p30"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "expected auto (chosen from the video) or a disc format")) << r.err;
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode=maybe"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "\"encode=maybe\": expected yes or no")) << r.err;
  EXPECT_EQ(ReadText(p), before);

  // Encoded by the setting: 1080i29.97 (progressive pictures coded as
  // interlaced), accepted by our analysis without a warning.
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode=yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(Has(r.err, "warning")) << r.err;
  const std::string encoded = d + "/camera.264.1080i29.97-q20.264";
  ASSERT_TRUE(fs::exists(encoded)) << r.err;
  RunResult analysed = Zelvane({"analyse", encoded});
  EXPECT_EQ(analysed.status, 0) << analysed.err;
  EXPECT_FALSE(Has(analysed.out + analysed.err, "warning")) << analysed.out << analysed.err;
  // Kept in the project: the next command loads it and plays the encode.
  RunResult show = Zelvane({"show", p});
  EXPECT_TRUE(Has(show.out, "source " + encoded)) << show.out;
  std::string info = BuildAndRead(p, d + "/out");
  EXPECT_TRUE(Has(info, "stream video 0 coding 0x1b pid 0x1011 format 4 rate 4 aspect 3")) << info;

  // Asked again with the same settings: the kept encode is used, nothing changes.
  const std::string encodedProject = ReadText(p);
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode=yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadText(p), encodedProject);

  // Back to the source, with its warning again, and played as it is.
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode=no"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "plays its source")) << r.err;
  EXPECT_TRUE(Has(r.err, "1080p at 29.97 fps is not a Blu-ray video format")) << r.err;
  show = Zelvane({"show", p});
  EXPECT_TRUE(Has(show.out, "source " + d + "/camera.264\n")) << show.out;
  info = BuildAndRead(p, d + "/out");
  EXPECT_TRUE(Has(info, "stream video 0 coding 0x1b pid 0x1011 format 6 rate 4")) << info;

  // The phone clip added with --encode: its audio is slowed with the video
  // (30 to 29.97); without the encode the disc cannot take it.
  ASSERT_EQ(Zelvane({"source", "remove", p, "Movie#1/Clip#1", "1"}).status, 0);
  r = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", "--encode"});
  ASSERT_EQ(r.status, 0) << r.err;
  show = Zelvane({"show", p});
  EXPECT_TRUE(Has(show.out, "source " + d + "/phone.mp4.a1.slow1001-1000.ac3-448.ac3")) << show.out;
  const std::string phoneProject = ReadText(p);
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode=no"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "\"Movie#1/Clip#1/Track#1\" stays encoded: the disc cannot take \"" + d + "/phone.mp4\" as it is"))
      << r.err;
  EXPECT_EQ(ReadText(p), phoneProject);

  // Another format: 1080p23.976 drops frames instead of slowing, so the
  // audio goes back to its recorded speed.
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode-format=1080p23.976"});
  ASSERT_EQ(r.status, 0) << r.err;
  show = Zelvane({"show", p});
  EXPECT_TRUE(Has(show.out, "source " + d + "/phone.mp4.1080p23.976-q20.264")) << show.out;
  EXPECT_TRUE(Has(show.out, "source " + d + "/phone.mp4.a1.ac3-448.ac3")) << show.out;
  EXPECT_FALSE(Has(show.out, "slow1001-1000")) << show.out;
  // And back to the chosen format: slowed again.
  r = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "encode-format=auto"});
  ASSERT_EQ(r.status, 0) << r.err;
  show = Zelvane({"show", p});
  EXPECT_TRUE(Has(show.out, "source " + d + "/phone.mp4.1080i29.97-q20.264")) << show.out;
  EXPECT_TRUE(Has(show.out, "source " + d + "/phone.mp4.a1.slow1001-1000.ac3-448.ac3")) << show.out;
  info = BuildAndRead(p, d + "/out");
  EXPECT_TRUE(Has(info, "stream video 0 coding 0x1b pid 0x1011 format 4 rate 4 aspect 3")) << info;
  EXPECT_TRUE(Has(info, "stream audio 0 coding 0x81 pid 0x1100")) << info;
}

}  // namespace

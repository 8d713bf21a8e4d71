// Discs whose clip reuses the streams of a clip made earlier by `zelvane
// mux`, as independent readers see them: ffmpeg decodes every reused
// stream frame for frame like the original clip (and every added raw
// stream like its file), libbluray lists the streams with their PIDs and
// attributes, and the decoder buffers replayed from the built clip neither
// overflow nor starve, with PCRs at most 100 ms apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "mux/muxer_clip_check.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

RunResult Zv(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return Run(args);
}

// Frame checksums of one stream, without the header naming the input.
std::string FrameMd5(const std::string& input, const std::string& map) {
  std::vector<std::string> argv{"ffmpeg", "-v", "error", "-i", input};
  if (!map.empty()) argv.insert(argv.end(), {"-map", map});
  argv.insert(argv.end(), {"-f", "framemd5", "-"});
  const RunResult r = Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    // Stream index, then dts, pts, duration, size and hash: the raw file's
    // index and times differ from the clip's, so only size and hash count.
    size_t comma = line.find(',');
    for (int i = 0; i < 3 && comma != std::string::npos; ++i) comma = line.find(',', comma + 1);
    out += line.substr(comma == std::string::npos ? 0 : comma + 1) + "\n";
  }
  EXPECT_FALSE(out.empty()) << input << " " << map;
  return out;
}

bool HasLine(const std::string& text, const std::string& line) {
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}

class ReuseDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    src = dir / "src";
    std::filesystem::create_directories(src);
    for (const char* f : {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"}) CopyFixture(f, src);
    CopyFixture("subtitles/subs_eng.sup", src);
    clip = src + "/00001.m2ts";
    const RunResult r = Zv({"mux", clip, src + "/h264_1080p2398.264", "--lang", "fra", src + "/ac3_stereo.ac3",
                            src + "/ac3_51.ac3", src + "/subs_eng.sup", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // Builds a project whose movie clip takes `pids` of the clip plus the
  // raw files; returns the built clip.
  std::string Build(const std::string& name, const std::string& pids, const std::vector<std::string>& raw) {
    const std::string p = dir / (name + ".zvpj");
    EXPECT_EQ(Zv({"new", p}).status, 0);
    std::vector<std::string> add{"source", "add", p, "Movie#1/Clip#1", clip};
    if (!pids.empty()) add.insert(add.end(), {"--pids", pids});
    RunResult r = Zv(add);
    EXPECT_EQ(r.status, 0) << r.err;
    if (!raw.empty()) {
      std::vector<std::string> more{"source", "add", p, "Movie#1/Clip#1"};
      more.insert(more.end(), raw.begin(), raw.end());
      r = Zv(more);
      EXPECT_EQ(r.status, 0) << r.err;
    }
    r = Zv({"build", p, dir / name, "--yes"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    root = dir / (name + "/Zelvane/DISC");
    return root + "/BDMV/STREAM/00000.m2ts";
  }

  void CheckBuffers(const std::string& built, const std::vector<std::pair<uint16_t, StdParams>>& streams) {
    const ClipReading c = ReadClip(built);
    ASSERT_TRUE(c.error.empty()) << c.error;
    for (const auto& [pid, sp] : streams) EXPECT_EQ(ReplayStd(c, pid, sp), "") << std::hex << pid;
    EXPECT_LE(MaxPcrGap(c), kMaxPcrGap);
  }

  std::string BdInfo() {
    const RunResult r = zvtest::Run({ZV_BDCLIENT, "info", root});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TempDir dir;
  std::string src, clip, root;
};

TEST_F(ReuseDisc, EveryStreamReusedDecodesLikeTheOriginal) {
  const std::string built = Build("all", "", {});
  for (const char* map : {"0:0", "0:1", "0:2"}) EXPECT_EQ(FrameMd5(built, map), FrameMd5(clip, map)) << map;
  // Subtitles are compared packet for packet.
  const RunResult a = zvtest::Run({"ffmpeg", "-v", "error", "-i", clip, "-map", "0:3", "-c", "copy", "-f", "framemd5", "-"});
  const RunResult b = zvtest::Run({"ffmpeg", "-v", "error", "-i", built, "-map", "0:3", "-c", "copy", "-f", "framemd5", "-"});
  EXPECT_EQ(a.out.substr(a.out.find("\n0,")), b.out.substr(b.out.find("\n0,")));
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});

  const std::string info = BdInfo();
  const std::string c = "title 0 clip 0 ";
  EXPECT_TRUE(HasLine(info, c + "stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang fra")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang eng")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang eng")) << info;
}

TEST_F(ReuseDisc, ReusedVideoWithNewAudioAndSubtitles) {
  const std::string ac3 = CopyFixture("ac3_51.ac3", dir / "");
  const std::string sup = CopyFixture("subtitles/subs_fra.sup", dir / "");
  const std::string built = Build("mix", "0x1011,0x1100", {ac3, sup});
  EXPECT_EQ(FrameMd5(built, "0:0"), FrameMd5(clip, "0:0"));
  EXPECT_EQ(FrameMd5(built, "0:1"), FrameMd5(clip, "0:1"));
  EXPECT_EQ(FrameMd5(built, "0:2"), FrameMd5(ac3, ""));
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});

  // Every stream starts where it starts in the clip multiplexed from the
  // files themselves.
  const std::string ref = dir / "ref.m2ts";
  const RunResult r = Zv({"mux", ref, src + "/h264_1080p2398.264", "--lang", "fra", src + "/ac3_stereo.ac3", ac3,
                          "--lang", "fra", sup, "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  const ClipReading c = ReadClip(built), want = ReadClip(ref);
  ASSERT_TRUE(c.error.empty() && want.error.empty()) << c.error << want.error;
  for (uint16_t pid : {0x1011, 0x1100, 0x1101, 0x1200}) {
    ASSERT_TRUE(c.units.count(pid) && want.units.count(pid)) << std::hex << pid;
    EXPECT_LE(std::llabs(static_cast<int64_t>(c.units.at(pid).front().pts) -
                         static_cast<int64_t>(want.units.at(pid).front().pts)),
              3754)
        << std::hex << pid;
  }

  const std::string info = BdInfo();
  const std::string ci = "title 0 clip 0 ";
  EXPECT_TRUE(HasLine(info, ci + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang fra")) << info;
  EXPECT_TRUE(HasLine(info, ci + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang eng")) << info;
  EXPECT_TRUE(HasLine(info, ci + "stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang fra")) << info;
}

}  // namespace

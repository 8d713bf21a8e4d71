// Text-subtitle tracks inside containers: `source add movie.mkv` lists an
// SRT and an ASS track (and an MP4's mov_text), adds them as subtitle
// tracks drawn exactly as the text files they came from (the same PG
// stream, byte for byte, as `subtitles render` of those files), with the
// container's language and forced flag; ffmpeg's PGS decoder shows every
// event on its first frame and clears it after its last.
#include <gtest/gtest.h>

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

// (frame, rectangles) of each display set ffmpeg's PGS decoder reads from
// subtitle stream `n` of the clip, frames counted from the video's first.
std::vector<std::pair<int64_t, int>> DecodedFrames(const std::string& clip, int n) {
  RunResult v = Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=start_pts", "-of",
                     "csv=p=0", clip});
  EXPECT_EQ(v.status, 0) << v.err;
  const int64_t base = std::stoll(v.out);
  RunResult r = Run({"ffprobe", "-v", "error", "-select_streams", "s:" + std::to_string(n), "-show_entries",
                     "subtitle=pts,num_rects", "-of", "csv=p=0", clip});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<int64_t, int>> out;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    const size_t c = line.find(',');
    if (c == std::string::npos) continue;
    // pts in microseconds; a frame of 23.976 is 3753.75 ticks of 90 kHz.
    const int64_t ticks = std::stoll(line.substr(0, c)) * 9 / 100 - base;
    out.emplace_back((ticks * 4 + 7507) / 15015, std::stoi(line.substr(c + 1)));
  }
  return out;
}

// `subtitles render` of a committed text file, as the disc's clip would
// draw it.
std::vector<uint8_t> RenderedAlone(const std::string& text, const std::string& out, bool forced) {
  std::vector<std::string> args{"subtitles", "render", DataPath("subtitles/" + text), out, "--video",
                                "1920x1080@23.976"};
  if (forced) args.push_back("--forced");
  RunResult r = Zelvane(args);
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadBytes(out);
}

}  // namespace

TEST(ContainerTextSubtitles, MatroskaSrtAndAssTracksAreDrawnAsTheirFilesOnTheirFrames) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string mkv = dir / "text_tracks.mkv";
  fs::copy_file(DataPath("containers/text_tracks.mkv"), mkv);
  const std::string p = dir / "p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", mkv});
  ASSERT_EQ(add.status, 0) << add.err << add.out;
  EXPECT_NE(add.out.find("1  subtitle subrip             eng  default  (text, drawn as subtitles)"), std::string::npos)
      << add.out;
  EXPECT_NE(add.out.find("2  subtitle ass                fre  default  forced  (text, drawn as subtitles)"), std::string::npos)
      << add.out;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#2  text_tracks.mkv.s1.srt.sup, eng"), std::string::npos) << add.out;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#3  text_tracks.mkv.s2.ass.sup, fre"), std::string::npos) << add.out;

  // Drawn as the files the tracks were made from: the SRT plainly, the ASS
  // with its own header's styles and the container's forced flag.
  EXPECT_EQ(ReadBytes(dir / "text_tracks.mkv.s1.srt.sup"), RenderedAlone("track_eng.srt", dir / "eng.sup", false));
  EXPECT_EQ(ReadBytes(dir / "text_tracks.mkv.s2.ass.sup"), RenderedAlone("track_fra.ass", dir / "fra.sup", true));

  RunResult build = Zelvane({"build", p, dir / "out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  const std::string disc = dir / "out/Zelvane/DISC";
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(HasLine(info.out, "title 0 clip 0 stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 "
                                "subpath 255 lang eng"))
      << info.out;
  EXPECT_TRUE(HasLine(info.out, "title 0 clip 0 stream pg 1 coding 0x90 pid 0x1201 format 0 rate 0 aspect 0 "
                                "subpath 255 lang fre"))
      << info.out;

  std::string clip;
  for (const auto& e : fs::directory_iterator(disc + "/BDMV/STREAM")) clip = e.path().string();
  // SRT 0.300-0.900 and 1.000-1.700 s: frames 8-21 and 24-40 at 23.976.
  EXPECT_EQ(DecodedFrames(clip, 0), (std::vector<std::pair<int64_t, int>>{{8, 1}, {22, 0}, {24, 1}, {41, 0}}));
  // ASS 0.20-0.80 and 0.90-1.60 s: frames 5-19 and 22-38.
  EXPECT_EQ(DecodedFrames(clip, 1), (std::vector<std::pair<int64_t, int>>{{5, 1}, {20, 0}, {22, 1}, {39, 0}}));
}

TEST(ContainerTextSubtitles, Mp4MovTextIsDrawnAsItsSrt) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string mp4 = dir / "text_track.mp4";
  fs::copy_file(DataPath("containers/text_track.mp4"), mp4);
  const std::string p = dir / "p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", mp4});
  ASSERT_EQ(add.status, 0) << add.err << add.out;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#2  text_track.mp4.s1.srt.sup, eng"), std::string::npos) << add.out;
  // The decoder gives italics as an ASS tag, which draws as <i> does.
  EXPECT_EQ(ReadBytes(dir / "text_track.mp4.s1.srt.sup"), RenderedAlone("track_eng.srt", dir / "eng.sup", false));
  RunResult build = Zelvane({"build", p, dir / "out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  std::string clip;
  for (const auto& e : fs::directory_iterator(dir / "out/Zelvane/DISC/BDMV/STREAM")) clip = e.path().string();
  EXPECT_EQ(DecodedFrames(clip, 0), (std::vector<std::pair<int64_t, int>>{{8, 1}, {22, 0}, {24, 1}, {41, 0}}));
}

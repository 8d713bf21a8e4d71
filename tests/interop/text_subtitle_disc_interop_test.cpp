// A movie whose subtitles come as an SRT file: `source add` renders it for
// the clip's video, libbluray lists the PG stream with the language of the
// file name, the clip's PG stream passes the independent buffer replay, and
// a changed text is drawn again at the next build.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "mux/muxer_clip_check.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zvtest;

namespace {

const char* kFrench =
    "1\n00:00:00,300 --> 00:00:00,900\n<i>Premi\xC3\xA8re ligne</i>\n\n"
    "2\n00:00:00,600 --> 00:00:01,200\n{\\an8}En haut, en m\xC3\xAAme temps\n\n"
    "3\n00:00:01,300 --> 00:00:01,700\nDeux lignes,\nla seconde plus longue que la premi\xC3\xA8re\n";

}  // namespace

TEST(TextSubtitleDisc, SrtSourceBecomesAPgStreamListedWithItsLanguageAndWithinBuffers) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = CopyFixture("h264_1080p2398.264", dir.Path());
  WriteText(dir / "film_fra.srt", kFrench);
  const std::string p = dir / "p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", video, dir / "film_fra.srt"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#2  film_fra.srt.sup, fra"), std::string::npos) << add.out;
  ASSERT_TRUE(fs::exists(dir / "film_fra.srt.sup"));

  RunResult build = Zelvane({"build", p, dir / "out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  const std::string disc = dir / "out/Zelvane/DISC";
  RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(HasLine(info.out, "title 0 clip 0 stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 "
                                "subpath 255 lang fra"))
      << info.out;

  std::string clip;
  for (const auto& e : fs::directory_iterator(disc + "/BDMV/STREAM")) clip = e.path().string();
  const ClipReading reading = ReadClip(clip);
  EXPECT_EQ(ReplayStd(reading, 0x1200, GraphicsStream()), "");
  EXPECT_EQ(ReplayStd(reading, 0x1011, AvcLevel41()), "");

  // The same events in the clip as in the text: ffprobe sees one display
  // set per change (show, overlap, clear, show, clear).
  RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "s:0", "-show_entries", "subtitle=num_rects",
                         "-of", "csv=p=0", clip});
  ASSERT_EQ(probe.status, 0) << probe.err;
  std::vector<std::string> rects;
  std::istringstream in(probe.out);
  for (std::string l; std::getline(in, l);)
    if (!l.empty()) rects.push_back(l);
  EXPECT_EQ(rects, (std::vector<std::string>{"1", "2", "1", "0", "1", "0"})) << probe.out;

  // With the subtitles on, libbluray draws each picture on its frame
  // (23.976: frames 8, 15 (two windows), 22 and 32) and wipes the last one
  // on frame 41. (The clip is short: libbluray decodes a display set only
  // once the stream has been read up to its decoding time.)
  RunResult vpts = zvtest::Run(
      {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=start_pts", "-of", "csv=p=0", clip});
  ASSERT_EQ(vpts.status, 0) << vpts.err;
  const int64_t base = std::stoll(vpts.out);
  fs::create_directories(dir / "overlays");
  RunResult play = zvtest::Run(
      {ZV_BDCLIENT, "play", "--stop-on-repeat", "--pg", "1", "--overlay-dir", dir / "overlays", disc});
  ASSERT_EQ(play.status, 0) << play.err << play.out;
  std::vector<int64_t> drawn, flushed;
  std::istringstream lines(play.out);
  for (std::string l; std::getline(lines, l) && l.rfind("played ", 0) != 0;) {
    if (l.rfind("overlay pg draw ", 0) == 0) drawn.push_back(std::stoll(l.substr(l.find(" pts ") + 5)) - base);
    if (l.rfind("overlay pg flush pts ", 0) == 0) flushed.push_back(std::stoll(l.substr(21)) - base);
  }
  auto tick = [](int64_t frame) { return (frame * 90000 * 1001 * 2 + 24000) / 48000; };
  EXPECT_EQ(drawn, (std::vector<int64_t>{tick(8), tick(15), tick(15), tick(22), tick(32)})) << play.out;
  ASSERT_FALSE(flushed.empty()) << play.out;
  EXPECT_EQ(flushed.back(), tick(41)) << play.out;

  // A changed text is drawn again when the project's sources are reopened.
  const auto before = fs::last_write_time(dir / "film_fra.srt.sup");
  WriteText(dir / "film_fra.srt", std::string(kFrench) + "\n4\n00:00:03,800 --> 00:00:03,900\nfin\n");
  RunResult again = Zelvane({"build", p, dir / "out2", "--yes"});
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(fs::last_write_time(dir / "film_fra.srt.sup"), before);
  RunResult probe2 = zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "subtitle=num_rects", "-of", "csv=p=0",
                          dir / "film_fra.srt.sup"});
  EXPECT_EQ(std::count(probe2.out.begin(), probe2.out.end(), '\n'), 8) << probe2.out;
}

// The style of a text-subtitle track set with `set`: the next build draws
// the stream again, and ffmpeg's PGS decoder shows the text where and in
// the colour the keys say. Refused values leave the project as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace zvtest;

namespace {

// Where the subtitle of frame `frame` shows: the rows it covers and the
// colour of its brightest pixel, from ffmpeg's overlay of the clip's PG
// stream on a black picture.
struct Drawn {
  int top = -1, bottom = -1;
  int r = 0, g = 0, b = 0;
};

Drawn DrawnAt(const std::string& disc, int frame, const std::string& scratch) {
  std::string clip;
  for (const auto& e : fs::directory_iterator(disc + "/BDMV/STREAM")) clip = e.path().string();
  RunResult r = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip, "-filter_complex",
                     "[0:v]drawbox=c=black:t=fill,format=gbrp[b];[b][0:s]overlay=format=gbrp,format=rgb24,select=eq(n\\," +
                         std::to_string(frame) + ")",
                     "-fps_mode", "passthrough", "-frames:v", "1", "-f", "rawvideo", scratch});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> pic = ReadBytes(scratch);
  Drawn d;
  EXPECT_EQ(pic.size(), size_t{1920} * 1080 * 3);
  if (pic.size() != size_t{1920} * 1080 * 3) return d;
  int best = -1;
  for (int y = 0; y < 1080; ++y)
    for (int x = 0; x < 1920; ++x) {
      const uint8_t* p = &pic[(static_cast<size_t>(y) * 1920 + x) * 3];
      const int sum = p[0] + p[1] + p[2];
      if (sum > 60) {
        if (d.top < 0) d.top = y;
        d.bottom = y;
      }
      if (sum > best) best = sum, d.r = p[0], d.g = p[1], d.b = p[2];
    }
  return d;
}

// Composition objects of a ".sup" stream, and how many of them carry the
// forced-on flag.
std::pair<size_t, size_t> ForcedObjects(const std::string& sup) {
  const std::vector<uint8_t> b = ReadBytes(sup);
  size_t objects = 0, forced = 0;
  for (size_t at = 0; at + 13 <= b.size();) {
    EXPECT_TRUE(b[at] == 'P' && b[at + 1] == 'G') << "segment at " << at;
    if (b[at] != 'P' || b[at + 1] != 'G') break;
    const uint8_t type = b[at + 10];
    const size_t size = (size_t{b[at + 11]} << 8) | b[at + 12];
    const size_t body = at + 13;
    if (type == 0x16 && body + 11 <= b.size()) {
      size_t o = body + 11;
      for (int n = b[body + 10]; n > 0 && o + 4 <= b.size(); --n) {
        ++objects;
        forced += (b[o + 3] & 0x40) != 0;
        o += (b[o + 3] & 0x80) ? 16 : 8;
      }
    }
    at = body + size;
  }
  return {objects, forced};
}

}  // namespace

TEST(TextSubtitleStyle, SetKeysRedrawTheStreamAtTheNextBuildAndRefusalsChangeNothing) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = CopyFixture("h264_1080p2398.264", dir.Path());
  WriteText(dir / "film_eng.srt", "1\n00:00:00,300 --> 00:00:01,600\nHello there\n");
  const std::string p = dir / "p.zvpj", track = "Movie#1/Clip#1/Track#2";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", video, dir / "film_eng.srt"});
  ASSERT_EQ(add.status, 0) << add.err;

  RunResult build = Zelvane({"build", p, dir / "out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  // Frame 20 is 0.834 s: the event shows, white, at the foot of the picture.
  const Drawn plain = DrawnAt(dir / "out/Zelvane/DISC", 20, dir / "a.rgb");
  ASSERT_GE(plain.top, 0) << "no subtitle drawn";
  EXPECT_GT(plain.top, 1080 / 2);
  EXPECT_GT(plain.b, 200);

  // Refused values name the key and the reason and leave the file alone.
  const std::vector<uint8_t> before = ReadBytes(p);
  struct Refusal {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {{"size=500"}, "\"size=500\": expected a number from 1 to 50"},
      {{"position=middle"}, "\"position=middle\": expected top or bottom"},
      {{"colour=#12345"}, "\"colour=#12345\": expected a colour name or #RRGGBB"},
      {{"outline=-1"}, "\"outline=-1\": expected a number from 0 to 20"},
      {{"forced=maybe"}, "\"forced=maybe\": expected yes or no"},
      // A valid key before a refused one is not applied either.
      {{"position=top", "shadow=x"}, "\"shadow=x\": expected a number from 0 to 20"},
  };
  for (const Refusal& r : refusals) {
    std::vector<std::string> args{"set", p, track};
    args.insert(args.end(), r.args.begin(), r.args.end());
    RunResult set = Zelvane(args);
    EXPECT_NE(set.status, 0) << r.message;
    EXPECT_NE(set.err.find(r.message), std::string::npos) << set.err;
    EXPECT_EQ(ReadBytes(p), before) << r.message;
  }
  RunResult onVideo = Zelvane({"set", p, "Movie#1/Clip#1/Track#1", "position=top"});
  EXPECT_NE(onVideo.status, 0);
  EXPECT_NE(onVideo.err.find("only a track drawn from text subtitles"), std::string::npos) << onVideo.err;
  EXPECT_EQ(ReadBytes(p), before);

  RunResult set = Zelvane({"set", p, track, "position=top", "colour=yellow", "forced=yes"});
  ASSERT_EQ(set.status, 0) << set.err;
  build = Zelvane({"build", p, dir / "out2", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  const Drawn styled = DrawnAt(dir / "out2/Zelvane/DISC", 20, dir / "b.rgb");
  ASSERT_GE(styled.top, 0) << "no subtitle drawn";
  EXPECT_LT(styled.bottom, 1080 / 2);
  EXPECT_GT(styled.r, 200);
  EXPECT_GT(styled.g, 200);
  EXPECT_LT(styled.b, 100);
  EXPECT_EQ(ForcedObjects(dir / "film_eng.srt.sup"), std::make_pair(size_t{1}, size_t{1}));
  const std::vector<uint8_t> styledSup = ReadBytes(dir / "film_eng.srt.sup");

  // The same style given to `source add` draws the same stream from the
  // start, and the project keeps it for the next build; a bad option adds
  // nothing.
  {
    TempDir other;
    const std::string v2 = CopyFixture("h264_1080p2398.264", other.Path());
    WriteText(other / "film_eng.srt", "1\n00:00:00,300 --> 00:00:01,600\nHello there\n");
    const std::string p2 = other / "p.zvpj";
    ASSERT_EQ(Zelvane({"new", p2}).status, 0);
    const std::vector<uint8_t> empty = ReadBytes(p2);
    RunResult bad = Zelvane({"source", "add", p2, "Movie#1/Clip#1", v2, other / "film_eng.srt", "--position", "middle"});
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.err.find("position \"middle\" is not top or bottom"), std::string::npos) << bad.err;
    EXPECT_EQ(ReadBytes(p2), empty);
    RunResult styledAdd = Zelvane({"source", "add", p2, "Movie#1/Clip#1", v2, other / "film_eng.srt", "--position",
                                   "top", "--colour", "yellow", "--forced"});
    ASSERT_EQ(styledAdd.status, 0) << styledAdd.err;
    EXPECT_TRUE(ReadBytes(other / "film_eng.srt.sup") == styledSup);
    ASSERT_EQ(Zelvane({"build", p2, other / "out", "--yes"}).status, 0);
    EXPECT_TRUE(ReadBytes(other / "film_eng.srt.sup") == styledSup);
  }

  // Unsetting the keys draws it as at first again.
  ASSERT_EQ(Zelvane({"set", p, track, "position=", "colour=", "forced=no"}).status, 0);
  build = Zelvane({"build", p, dir / "out3", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  const Drawn back = DrawnAt(dir / "out3/Zelvane/DISC", 20, dir / "c.rgb");
  EXPECT_EQ(back.top, plain.top);
  EXPECT_EQ(back.bottom, plain.bottom);
}

// A movie with subtitles made with the zelvane commands: a 1080p H.264
// track, an AC-3 track and two presentation-graphics tracks (one named by
// its file-name suffix, one by `set language=`), as ffprobe, libbluray and
// ffmpeg's PGS decoder see the built disc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interop/json_reader.h"
#include "platform/image.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::JsonValue;

using zvtest::Zelvane;
using zvtest::HasLine;

namespace {

// The pictures ffmpeg's PGS decoder draws over a grey 10 fps background:
// one hash per frame. `shift` (seconds) moves the background onto the
// input's own time stamps, which are kept as they are.
std::vector<std::string> Drawn(const std::string& input, int stream, const std::string& shift) {
  const std::string graph = "color=c=gray:s=1920x1080:r=10:d=2,format=rgb24,setpts=PTS+" + shift +
                            "/TB[bg];[bg][0:s:" + std::to_string(stream) + "]overlay=eof_action=pass,format=rgb24";
  const zvtest::RunResult r = zvtest::Run(
      {"ffmpeg", "-nostdin", "-v", "error", "-copyts", "-i", input, "-filter_complex", graph, "-an", "-f", "framemd5", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> hashes;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);)
    if (!l.empty() && l[0] != '#') hashes.push_back(l.substr(l.find_last_of(',') + 1));
  return hashes;
}

// One subtitle of a fixture stream: its picture, times and place.
struct Shown {
  std::string png;
  int64_t startMs, endMs;
  int x, y;
};

// Largest difference between a picture libbluray drew (Y, Cr, Cb, T per
// pixel, studio-range BT.601) and the source picture, whose top-left colour
// is the transparent background; -1 when the transparency differs.
int PictureDistance(const std::vector<uint8_t>& drawn, const zv::CPicture& source) {
  if (drawn.size() != static_cast<size_t>(source.width) * source.height * 4) return -1;
  const zv::SColor background = source.At(0, 0);
  int worst = 0;
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      const uint8_t* p = &drawn[(static_cast<size_t>(y) * source.width + x) * 4];
      const zv::SColor c = source.At(x, y);
      if (c == background) {
        if (p[3] != 0) return -1;
        continue;
      }
      if (p[3] != 255) return -1;
      const double l = 1.164 * (p[0] - 16), cr = p[1] - 128, cb = p[2] - 128;
      const double rgb[3] = {l + 1.596 * cr, l - 0.813 * cr - 0.391 * cb, l + 2.018 * cb};
      const int want[3] = {c.r, c.g, c.b};
      for (int k = 0; k < 3; ++k)
        worst = std::max(worst, static_cast<int>(std::lround(std::abs(std::clamp(rgb[k], 0.0, 255.0) - want[k]))));
    }
  }
  return worst;
}

class SubtitleDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    fs::copy_file(zvtest::DataPath("ac3_stereo.ac3"), d + "/a_eng.ac3");
    fs::copy_file(zvtest::DataPath("subtitles/subs_eng.sup"), d + "/subs_eng.sup");
    fs::copy_file(zvtest::DataPath("subtitles/subs_fra.sup"), d + "/french.sup");
    const std::string p = d + "/p.zvpj";
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Movie#1/Clip#1", d + "/v.264", d + "/a_eng.ac3", d + "/subs_eng.sup", d + "/french.sup"},
        {"set", p, "Movie#1/Clip#1/Track#4", "language=fra"},
        {"title", "add", p, "Movie#1"},  // a second playlist playing the same clip
        {"build", p, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      const zvtest::RunResult r = Zelvane(args);
      if (r.status != 0) {
        std::string line = "zelvane";
        for (const std::string& a : args) line += " " + a;
        return line + " failed:\n" + r.err;
      }
    }
    disc_ = d + "/out/Zelvane/DISC";
    // The movie is the only clip with content: logos and top menu are empty.
    for (const auto& e : fs::directory_iterator(disc_ + "/BDMV/STREAM")) clip_ = e.path().string();
    return {};
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, clip_;
};

std::unique_ptr<zvtest::TempDir> SubtitleDisc::dir_;
std::string SubtitleDisc::error_, SubtitleDisc::disc_, SubtitleDisc::clip_;

TEST_F(SubtitleDisc, FfprobeListsTwoPgStreamsWithPidsAndLanguages) {
  const zvtest::RunResult r = zvtest::Run({"ffprobe", "-v", "error", "-show_entries",
                                           "stream=index,codec_name,id:stream_tags=language", "-of", "json", clip_});
  ASSERT_EQ(r.status, 0) << r.err;
  const JsonValue probe = JsonValue::Parse(r.out);
  std::vector<std::string> pg;
  for (const JsonValue& s : probe["streams"].Items())
    if (s["codec_name"].Str() == "hdmv_pgs_subtitle") pg.push_back(s["id"].Str() + " " + s["tags"]["language"].Str());
  EXPECT_EQ(pg, (std::vector<std::string>{"0x1200 eng", "0x1201 fra"})) << r.out;
}

TEST_F(SubtitleDisc, LibblurayListsBothPgStreamsInEveryTitleOfTheClip) {
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
  ASSERT_EQ(info.status, 0) << info.err;
  // Each playlist's stream table, as libbluray reads it.
  for (const std::string t : {"0", "1"}) {
    const std::string c = "title " + t + " clip 0 stream ";
    EXPECT_TRUE(HasLine(info.out, c + "video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -"))
        << info.out;
    EXPECT_TRUE(HasLine(info.out, c + "audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang eng"));
    EXPECT_TRUE(HasLine(info.out, c + "pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang eng"));
    EXPECT_TRUE(HasLine(info.out, c + "pg 1 coding 0x90 pid 0x1201 format 0 rate 0 aspect 0 subpath 255 lang fra"));
  }
  EXPECT_TRUE(HasLine(info.out, "title 1 playlist 00001 duration 180180 clips 1 chapters 0 marks 0 angles 1")) << info.out;
}

TEST_F(SubtitleDisc, ClipInformationNamesBothPgStreams) {
  const std::string clpi = disc_ + "/BDMV/CLIPINF/" + fs::path(clip_).stem().string() + ".clpi";
  const zvtest::RunResult r = Zelvane({"dump", clpi});
  ASSERT_EQ(r.status, 0) << r.err;
  size_t pg = 0;
  std::istringstream in(r.out);
  std::vector<std::string> languages;
  bool inPg = false;
  for (std::string l; std::getline(in, l);) {
    if (l.find("StreamCodingType: PG/Subtitle(0x90)") != std::string::npos) {
      ++pg;
      inPg = true;
    } else if (inPg && l.find("Language: ") != std::string::npos) {
      languages.push_back(l.substr(l.find("Language: ") + 10));
      inPg = false;
    }
  }
  EXPECT_EQ(pg, 2u) << r.out;
  EXPECT_EQ(languages, (std::vector<std::string>{"eng", "fra"}));
}

// ffmpeg draws the same pictures at the same times from the clip as from
// the stream files: the clip's time stamps are the files' shifted by the
// clip's first video time stamp.
TEST_F(SubtitleDisc, FfmpegDrawsTheSamePicturesFromTheClipAsFromTheFiles) {
  const zvtest::RunResult r = zvtest::Run(
      {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=start_time", "-of", "csv=p=0", clip_});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string start = r.out.substr(0, r.out.find_first_of("\r\n"));
  ASSERT_FALSE(start.empty());
  const std::string d = dir_->Path();
  const std::vector<std::pair<std::string, size_t>> files = {{d + "/subs_eng.sup", 3}, {d + "/french.sup", 2}};
  for (int s = 0; s < 2; ++s) {
    SCOPED_TRACE(files[s].first);
    const auto fromFile = Drawn(files[s].first, 0, "0");
    const auto fromClip = Drawn(clip_, s, start);
    ASSERT_EQ(fromFile.size(), 20u);
    EXPECT_EQ(fromClip, fromFile);
    // Background alone and each picture: the drawing is not all grey.
    EXPECT_EQ(std::set<std::string>(fromFile.begin(), fromFile.end()).size(), files[s].second);
  }
}

// With a subtitle stream selected, libbluray's overlay callback draws each
// source picture at its place when its time comes and wipes it at its end.
TEST_F(SubtitleDisc, LibblurayDrawsTheSubtitlePicturesAtTheirTimes) {
  const zvtest::RunResult probe = zvtest::Run(
      {"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=start_pts", "-of", "csv=p=0", clip_});
  ASSERT_EQ(probe.status, 0) << probe.err;
  const int64_t base = std::stoll(probe.out);
  const std::string pics = zvtest::DataPath("subtitles");
  const std::vector<std::vector<Shown>> streams = {
      {{"hello.png", 200, 900, 780, 900}, {"bar.png", 1000, 1600, 800, 960}},
      {{"bonjour.png", 300, 1500, 760, 900}}};
  for (size_t s = 0; s < streams.size(); ++s) {
    SCOPED_TRACE("pg stream " + std::to_string(s + 1));
    const std::string out = dir_->Path() + "/overlays" + std::to_string(s + 1);
    fs::create_directories(out);
    const zvtest::RunResult r = zvtest::Run({ZV_BDCLIENT, "play", "--stop-on-repeat", "--pg", std::to_string(s + 1),
                                             "--overlay-dir", out, disc_});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    // The draw lines and the flush that follows each wipe, in order, while
    // the first title plays.
    std::vector<std::string> draws, wipes;
    std::istringstream in(r.out);
    bool wiped = false;
    for (std::string l; std::getline(in, l) && l.rfind("played ", 0) != 0;) {
      if (l.rfind("overlay pg draw ", 0) == 0) draws.push_back(l);
      if (l.rfind("overlay pg wipe ", 0) == 0) wiped = true;
      if (wiped && l.rfind("overlay pg flush pts ", 0) == 0) {
        wipes.push_back(l.substr(21));
        wiped = false;
      }
    }
    const std::vector<Shown>& shown = streams[s];
    ASSERT_EQ(draws.size(), shown.size()) << r.out;
    ASSERT_EQ(wipes.size(), shown.size()) << r.out;
    for (size_t k = 0; k < shown.size(); ++k) {
      const Shown& e = shown[k];
      zv::CPicture source;
      std::string error;
      ASSERT_TRUE(zv::DecodeImageFile(pics + "/" + e.png, source, error)) << error;
      const std::string file = "pg00" + std::to_string(k) + ".ycrcbt";
      EXPECT_EQ(draws[k], "overlay pg draw " + std::to_string(e.x) + " " + std::to_string(e.y) + " " +
                              std::to_string(source.width) + " " + std::to_string(source.height) + " pts " +
                              std::to_string(base + e.startMs * 90) + " file " + file);
      EXPECT_EQ(wipes[k], std::to_string(base + e.endMs * 90));
      const int distance = PictureDistance(zvtest::ReadBytes(out + "/" + file), source);
      EXPECT_GE(distance, 0) << e.png << ": transparency differs";
      EXPECT_LE(distance, 3) << e.png;
    }
  }
}

}  // namespace

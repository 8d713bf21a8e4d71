// Encodes small sources made by ffmpeg and reads the results with our own
// analysis (no refusal, no warning) and with ffmpeg (decodes cleanly, frame
// count, picture against the source scaled the same way).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "streams/parse_result.h"
#include "streams/parser_base.h"
#include "streams/sif_data.h"
#include "platform/paths.h"
#include "streams/stream_context.h"
#include "support/test_support.h"
#include "transcode/video_encode.h"

namespace {

using zvtest::Run;
using zvtest::TempDir;

// Tests encode fast: the settings are the product's except the preset.
zv::SVideoEncodeOptions Fast() {
  zv::SVideoEncodeOptions o;
  o.preset = "superfast";
  return o;
}

void MakeSource(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  const zvtest::RunResult r = Run(argv);
  ASSERT_EQ(r.status, 0) << r.err;
}

int CountFrames(const std::string& path) {
  const zvtest::RunResult r = Run({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                                   "stream=nb_read_frames", "-of", "csv=p=0", path});
  EXPECT_EQ(r.status, 0) << r.err;
  return std::atoi(r.out.c_str());
}

// Our analysis of the encoded stream: accepted as the disc takes it.
void ExpectDiscStream(const std::string& path, const zv::SVideoTarget& t) {
  zv::SStreamContext ctx;
  std::string message;
  ASSERT_EQ(zv::AnalyseStreamFile(path, ctx, message, zv::Progress{}), zv::kParseOk) << message;
  auto* video = dynamic_cast<zv::CVideoSif*>(ctx.sif.get());
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->width, t.width);
  EXPECT_EQ(video->height, t.height);
  EXPECT_EQ(zv::DisallowedVideoWarning(path, video->videoFormat, video->frameRate), "");
  EXPECT_NE(video->frameRate, zv::kFrUnknown);
  EXPECT_EQ(video->progressive != 0, t.scan == zv::ScanMode::kProgressive);
}

// The encode decoded by ffmpeg without a complaint, and its pictures
// against the source put through the same retime, scale and box by
// ffmpeg's filters: the share of frames at 35 dB or better. Sources
// without colour information are BT.601 below 720 lines, BT.709 above,
// converted to the target's matrix.
double ShareAtPsnr(const std::string& encoded, const std::string& source, const zv::SVideoTarget& t,
                   const zv::SActiveArea& a, bool srcHd, double retime, bool vfr, TempDir& dir) {
  const zvtest::RunResult clean = Run({"ffmpeg", "-v", "error", "-i", encoded, "-f", "null", "-"});
  EXPECT_EQ(clean.status, 0);
  EXPECT_EQ(clean.err, "");
  char rate[64];
  std::snprintf(rate, sizeof rate, "%u/%u", t.fpsNum, t.fpsDen);
  std::ostringstream f;
  // Frame for frame, unless the rate varies: then by time stamp (ffmpeg's
  // fps filter misplaces a frame now and then at constant rates).
  f << "[1:v]";
  if (vfr) f << "setpts=(PTS-STARTPTS)*" << retime << ",fps=" << rate << ":round=near,";
  f << "scale="
    << a.width << ":" << a.height << ":flags=bicubic:in_color_matrix=" << (srcHd ? "bt709" : "bt601")
    << ":out_color_matrix=" << (t.Hd() ? "bt709" : "bt601") << ",pad=" << t.width << ":" << t.height << ":" << a.x << ":" << a.y
    << ":black,format=yuv420p,setpts=N/(" << rate << ")/TB[ref];[0:v]setpts=N/(" << rate
    << ")/TB[enc];[enc][ref]psnr=stats_file=" << dir / "psnr.log";
  const zvtest::RunResult r = Run({"ffmpeg", "-v", "error", "-i", encoded, "-i", source, "-lavfi", f.str(), "-f", "null", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream log(zvtest::ReadText(dir / "psnr.log"));
  std::string line;
  int good = 0, all = 0;
  while (std::getline(log, line)) {
    const size_t at = line.find("psnr_y:");
    if (at == std::string::npos) continue;
    const double y = line.compare(at + 7, 3, "inf") == 0 ? 99 : std::atof(line.c_str() + at + 7);
    ++all;
    good += y >= 35;
  }
  EXPECT_GT(all, 0);
  return all ? static_cast<double>(good) / all : 0;
}

struct SCase {
  const char* name;
  std::vector<std::string> make;  // ffmpeg arguments making source.EXT
  const char* file;
  const char* expect;       // the format chosen
  int sourceFrames;
  bool vfr = false;
  bool interlaced = false;  // coded as fields of the source's pictures
};

class EncodeCases : public ::testing::TestWithParam<SCase> {};

TEST_P(EncodeCases, DiscStreamMatchingTheSource) {
  const SCase& c = GetParam();
  TempDir dir;
  const std::string source = dir / c.file;
  std::vector<std::string> make = c.make;
  make.push_back(source);
  MakeSource(make);
  ASSERT_EQ(CountFrames(source), c.sourceFrames);

  zv::SVideoEncodeResult res;
  std::string message;
  std::vector<int> percents;
  std::vector<std::string> actions;
  struct Seen {
    std::vector<int>* percents;
    std::vector<std::string>* actions;
  } seen{&percents, &actions};
  zv::Progress progress{[](void* ctx, const zv::SProgressInfo* i) {
                          auto* s = static_cast<Seen*>(ctx);
                          if (i->kind == zv::kProgressValue) s->percents->push_back(i->value);
                          if (i->kind == zv::kProgressAction) s->actions->push_back(i->action);
                          return 1;
                        },
                        &seen};
  ASSERT_EQ(zv::EncodeVideo(source, Fast(), res, message, progress), zv::kOk) << message;
  EXPECT_EQ(res.target.name, c.expect);
  EXPECT_EQ(res.target.scan == zv::ScanMode::kInterlaced, c.interlaced);
  EXPECT_EQ(res.path, zv::EncodedPathBeside(source, Fast(), res.target));
  ExpectDiscStream(res.path, res.target);
  // Frames kept one for one (retimed, not resampled), within one frame.
  const int frames = CountFrames(res.path);
  EXPECT_NEAR(frames, c.sourceFrames, 1);
  EXPECT_EQ(frames, res.frames);
  zv::SVideoSourceInfo info;
  ASSERT_TRUE(zv::ProbeVideoSource(source, -1, info, message)) << message;
  EXPECT_GE(ShareAtPsnr(res.path, source, res.target, zv::FitPicture(info, res.target), info.height >= 720, res.retime, c.vfr, dir),
            c.vfr ? 0.95 : 1.0);
  ASSERT_FALSE(percents.empty());
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(actions, std::vector<std::string>{"Encoding " + std::string(c.file) + " as " + c.expect});
  zv::SVideoEncodePlan plan;
  ASSERT_TRUE(zv::PlanVideoEncode(source, Fast(), plan, message)) << message;
  EXPECT_EQ(plan.target.name, c.expect);
  EXPECT_NEAR(plan.frames, frames, 1);

  // A second encode of the unchanged source reuses the stream.
  zv::SVideoEncodeResult again;
  ASSERT_EQ(zv::EncodeVideo(source, Fast(), again, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_TRUE(again.reused);
  EXPECT_EQ(again.path, res.path);
}

const std::string kTestSrc = "testsrc2=size=";
INSTANTIATE_TEST_SUITE_P(
    Sources, EncodeCases,
    ::testing::Values(
        // A phone clip: 1080p at 30 with a variable rate (frames 10 to 14
        // arrive 20 ms late), retimed to 29.97 and coded as interlaced.
        SCase{"Phone1080p30Vfr",
              {"-f", "lavfi", "-i", kTestSrc + "1920x1080:rate=30", "-t", "1.5", "-vf",
               "setpts='N/30/TB+between(N,10,14)*0.02/TB'", "-fps_mode", "vfr", "-c:v", "libx264", "-preset",
               "ultrafast", "-qp", "10"},
              "phone.mp4", "1080i29.97", 45, true},
        // 1080p60: 1080 lines carry no 60 frames a second; 720p59.94.
        SCase{"Phone1080p60",
              {"-f", "lavfi", "-i", kTestSrc + "1920x1080:rate=60", "-t", "0.5", "-c:v", "libx264", "-preset",
               "ultrafast", "-qp", "10"},
              "p60.mov", "720p59.94", 30},
        // An interlaced camera recording stays interlaced (field pairs coded
        // as the source's top-field-first frames).
        SCase{"Interlaced1080i25",
              {"-f", "lavfi", "-i", kTestSrc + "1920x1080:rate=50", "-t", "0.5", "-vf",
               "tinterlace=interleave_top,setfield=tff", "-flags", "+ildct+ilme", "-c:v", "mpeg2video", "-q:v", "2",
               "-top", "1"},
              "camera.mpg", "1080i25", 13, false, true},
        // A camera at 720p50.
        SCase{"Camera720p50",
              {"-f", "lavfi", "-i", kTestSrc + "1280x720:rate=50", "-t", "2", "-c:v", "libx264", "-preset",
               "ultrafast", "-qp", "10"},
              "camera.mkv", "720p50", 100},
        // HEVC, a 24p frame size between the disc's, scaled up to 720p24.
        SCase{"Hevc",
              {"-f", "lavfi", "-i", kTestSrc + "960x540:rate=24", "-t", "2", "-c:v", "libx265", "-preset",
               "ultrafast", "-x265-params", "log-level=error:qp=8", "-tag:v", "hvc1"},
              "hevc.mp4", "720p24", 48},
        // HEVC at 2160p (a 4K camera or phone), scaled down to 1080p24.
        SCase{"Hevc2160p",
              {"-f", "lavfi", "-i", kTestSrc + "3840x2160:rate=24", "-frames:v", "6", "-c:v", "libx265", "-preset",
               "ultrafast", "-x265-params", "log-level=error:qp=8", "-tag:v", "hvc1"},
              "uhd.mp4", "1080p24", 6},
        // 4:3 PAL with non-square pixels, pillar-boxed to the disc's 4:3 frame.
        SCase{"Sd4x3NonSquare",
              {"-f", "lavfi", "-i", kTestSrc + "720x576:rate=25", "-t", "2", "-vf", "setsar=16/15", "-c:v",
               "mpeg2video", "-q:v", "2"},
              "sd.mpg", "576i25-4:3", 50}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeVideo, FormatGivenOverridesTheChoice) {
  TempDir dir;
  const std::string source = dir / "small.mkv";
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "320x240:rate=25", "-t", "1", "-c:v", "libx264", "-preset", "ultrafast",
              source});
  zv::SVideoEncodeOptions o = Fast();
  o.format = "720p50";
  o.quality = 30;
  zv::SVideoEncodeResult res;
  std::string message;
  ASSERT_EQ(zv::EncodeVideo(source, o, res, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_EQ(res.target.name, "720p50");
  ExpectDiscStream(res.path, res.target);
  // 25 pictures a second shown at 50: each twice.
  EXPECT_NEAR(CountFrames(res.path), 50, 1);

  o.format = "1080p30";
  EXPECT_EQ(zv::EncodeVideo(source, o, res, message, zv::Progress{}), zv::kFailed);
  EXPECT_NE(message.find("unknown video format \"1080p30\""), std::string::npos) << message;
}

TEST(EncodeVideo, DamagedOrUnreadableInputRefusedWithTheReasonAndNothingLeft) {
  TempDir dir;
  const std::string junk = dir / "junk.mp4";
  zvtest::WriteText(junk, std::string(4096, 'x'));
  zv::SVideoEncodeResult res;
  std::string message;
  EXPECT_EQ(zv::EncodeVideo(junk, Fast(), res, message, zv::Progress{}), zv::kFailed);
  EXPECT_EQ(message, "Invalid data found when processing input");

  // A recording cut off before its index was written (an MP4's index is
  // at its end).
  const std::string cut = dir / "cut.mp4";
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "320x240:rate=25", "-t", "2", "-c:v", "libx264", "-preset", "ultrafast",
              cut});
  std::vector<uint8_t> bytes = zvtest::ReadBytes(cut);
  bytes.resize(bytes.size() / 2);
  zvtest::WriteBytes(cut, bytes);
  EXPECT_EQ(zv::EncodeVideo(cut, Fast(), res, message, zv::Progress{}), zv::kFailed);
  EXPECT_EQ(message, "Invalid data found when processing input");

  EXPECT_EQ(zv::EncodeVideo(dir / "missing.mp4", Fast(), res, message, zv::Progress{}), zv::kFailed);
  EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
  // Only what the test made is left.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"cut.mp4", "junk.mp4"}));
}

TEST(EncodeVideo, CancelLeavesNothing) {
  TempDir dir;
  const std::string source = dir / "clip.mkv";
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "320x240:rate=25", "-t", "2", "-c:v", "libx264", "-preset", "ultrafast",
              source});
  int calls = 0;
  zv::Progress stop{[](void* ctx, const zv::SProgressInfo* i) {
                      if (i->kind != zv::kProgressValue) return 1;
                      ++*static_cast<int*>(ctx);
                      return 0;
                    },
                    &calls};
  zv::SVideoEncodeResult res;
  std::string message;
  EXPECT_EQ(zv::EncodeVideo(source, Fast(), res, message, stop), zv::kCancelled);
  EXPECT_EQ(calls, 1);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"clip.mkv"});
}

TEST(EncodeVideo, StreamGoesToTheTemporaryFolderWhenItCannotLieBesideTheSource) {
  TempDir dir;
  // A name so long that the stream's own name beside it would be too long
  // for the folder (what a read-only folder does to it too).
  const std::string source = dir / (std::string(220, 'n') + ".mkv");
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "320x240:rate=25", "-t", "0.4", "-c:v", "libx264", "-preset",
              "ultrafast", source});
  zv::SVideoEncodeResult res;
  std::string message;
  ASSERT_EQ(zv::EncodeVideo(source, Fast(), res, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_EQ(res.path, zv::EncodedPathInTemp(source, Fast(), res.target));
  EXPECT_EQ(res.path.rfind(zv::TempFolder() + "/", 0), 0u) << res.path;
  ExpectDiscStream(res.path, res.target);
  zv::SVideoEncodeResult again;
  ASSERT_EQ(zv::EncodeVideo(source, Fast(), again, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_TRUE(again.reused);
  EXPECT_EQ(again.path, res.path);
  std::filesystem::remove(res.path);
  std::filesystem::remove(res.path + ".dsi");
}

TEST(VideoTarget, ChoiceFromTheSource) {
  auto choose = [](uint32_t w, uint32_t h, double fps, uint32_t sn = 1, uint32_t sd = 1) {
    zv::SVideoSourceInfo s;
    s.width = w;
    s.height = h;
    s.fps = fps;
    s.sarNum = sn;
    s.sarDen = sd;
    return zv::ChooseVideoTarget(s).name;
  };
  EXPECT_EQ(choose(3840, 2160, 23.976), "1080p23.976");
  EXPECT_EQ(choose(3840, 2160, 60), "720p59.94");
  EXPECT_EQ(choose(1920, 1080, 29.5), "1080i29.97");
  EXPECT_EQ(choose(1920, 1080, 25), "1080i25");
  EXPECT_EQ(choose(1080, 1920, 30), "1080i29.97");  // a phone held upright
  EXPECT_EQ(choose(1280, 720, 30), "1080i29.97");
  EXPECT_EQ(choose(640, 480, 30), "480i29.97-4:3");
  EXPECT_EQ(choose(720, 576, 25, 64, 45), "576i25");
  EXPECT_EQ(choose(854, 480, 15), "720p23.976");

  zv::SVideoTarget t;
  ASSERT_TRUE(zv::ParseVideoTarget("1080p23.976", t));
  EXPECT_DOUBLE_EQ(zv::RetimeFactor(24.0, t), 1.001);
  EXPECT_DOUBLE_EQ(zv::RetimeFactor(23.976, t), 1.0);
  ASSERT_TRUE(zv::ParseVideoTarget("720p59.94", t));
  EXPECT_DOUBLE_EQ(zv::RetimeFactor(60.0, t), 1.001);
  EXPECT_DOUBLE_EQ(zv::RetimeFactor(50.0, t), 1.0);

  // An upright 9:16 picture in a 16:9 frame: pillar-boxed, centred.
  zv::SVideoSourceInfo upright;
  upright.width = 1080;
  upright.height = 1920;
  ASSERT_TRUE(zv::ParseVideoTarget("1080i29.97", t));
  const zv::SActiveArea a = zv::FitPicture(upright, t);
  EXPECT_EQ(a.height, 1080u);
  EXPECT_EQ(a.width, 608u);
  EXPECT_EQ(a.x, 656u);
  EXPECT_EQ(a.y, 0u);
}

}  // namespace

namespace {

// The average luma PSNR of `encoded` against `source` put through `chain`
// (ffmpeg's filters ending in the encode's size and pixel format).
double MeanPsnr(const std::string& encoded, const std::string& source, const std::string& chain) {
  const zvtest::RunResult r =
      Run({"ffmpeg", "-v", "info", "-nostdin", "-i", encoded, "-i", source, "-lavfi",
           "[1:v]" + chain + ",setpts=N/24/TB[ref];[0:v]setpts=N/24/TB[enc];[enc][ref]psnr", "-f", "null", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  const size_t at = r.err.find("PSNR y:");
  EXPECT_NE(at, std::string::npos) << r.err;
  return at == std::string::npos ? 0 : std::atof(r.err.c_str() + at + 7);
}

// An HDR (PQ, BT.2020) recording becomes BT.709 SDR: its pictures match the
// source tone-mapped by ffmpeg's own filters, and not the source merely
// scaled with its colours taken as they are.
TEST(EncodeVideo, HdrIsToneMappedToSdr) {
  TempDir dir;
  const std::string source = dir / "hdr.mkv";
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "1280x720:rate=24", "-frames:v", "6", "-pix_fmt", "yuv420p10le", "-c:v",
              "libx265", "-preset", "ultrafast", "-x265-params",
              "log-level=error:qp=8:colorprim=bt2020:transfer=smpte2084:colormatrix=bt2020nc", "-color_primaries",
              "bt2020", "-color_trc", "smpte2084", "-colorspace", "bt2020nc", source});
  zv::SVideoEncodeResult res;
  std::string message;
  ASSERT_EQ(zv::EncodeVideo(source, Fast(), res, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_TRUE(res.toneMapped);
  EXPECT_EQ(res.target.name, "720p24");
  ExpectDiscStream(res.path, res.target);
  EXPECT_EQ(CountFrames(res.path), 6);
  const zvtest::RunResult clean = zvtest::Run({"ffmpeg", "-v", "error", "-i", res.path, "-f", "null", "-"});
  EXPECT_EQ(clean.err, "");
  const double mapped = MeanPsnr(
      res.path, source,
      "zscale=tin=smpte2084:pin=bt2020:min=bt2020nc:rin=tv:t=linear:npl=100,format=gbrpf32le,zscale=p=bt709,"
      "tonemap=tonemap=hable:desat=0,zscale=t=bt709:m=bt709:r=tv,format=yuv420p");
  const double plain = MeanPsnr(res.path, source, "format=yuv420p");
  EXPECT_GE(mapped, 35) << "plain " << plain;
  EXPECT_LT(plain, mapped - 5) << "mapped " << mapped;

  // An SDR source is not mapped.
  const std::string sdr = dir / "sdr.mkv";
  MakeSource({"-f", "lavfi", "-i", kTestSrc + "320x240:rate=25", "-frames:v", "2", "-c:v", "libx264", "-preset",
              "ultrafast", sdr});
  ASSERT_EQ(zv::EncodeVideo(sdr, Fast(), res, message, zv::Progress{}), zv::kOk) << message;
  EXPECT_FALSE(res.toneMapped);
}

}  // namespace

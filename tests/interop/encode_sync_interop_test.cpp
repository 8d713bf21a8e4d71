// Audio and video of a 30 frames a second recording stay in sync on the
// disc: the video plays at 29.97, so its own audio and an audio file added
// with it are slowed alike. The source shows a white picture from 10 s and
// has a click at 10 s; both are found again by ffmpeg in the built clip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;
namespace fs = std::filesystem;

constexpr double kFrame = 1001.0 / 30000;

// The start times of the streams of one kind, in stream order (ffprobe
// lists each stream twice, once more under its program).
std::vector<double> StartTimes(const std::string& clip, const char* kind) {
  const RunResult r = Run({"ffprobe", "-v", "error", "-select_streams", kind, "-show_entries", "stream=index,start_time",
                           "-of", "csv=p=0", clip});
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<int, double> byIndex;
  for (const std::string& l : Lines(r.out)) byIndex[std::atoi(l.c_str())] = std::atof(l.c_str() + l.find(',') + 1);
  std::vector<double> out;
  for (const auto& [index, start] : byIndex) out.push_back(start);
  return out;
}

// The index of the first frame whose mean luma is above mid-grey; -1 if none.
int FirstWhiteFrame(const std::string& clip, const fs::path& dir) {
  const std::string log = (dir / "luma.txt").string();
  const RunResult r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-map", "0:v:0", "-vf",
                           "signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=" + log, "-f", "null", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream in(ReadText(log));
  int frame = -1;
  for (std::string l; std::getline(in, l);) {
    if (l.compare(0, 6, "frame:") == 0) frame = std::atoi(l.c_str() + 6);
    const size_t at = l.find("YAVG=");
    if (at != std::string::npos && std::atof(l.c_str() + at + 5) > 128) return frame;
  }
  return -1;
}

// The index of the first sample of audio stream `n` louder than half scale; -1 if none.
long FirstLoudSample(const std::string& clip, int n) {
  const RunResult r = Run({"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-map", "0:a:" + std::to_string(n), "-ac",
                           "1", "-ar", "48000", "-f", "s16le", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (size_t i = 0; i + 1 < r.out.size(); i += 2) {
    const int16_t s = static_cast<int16_t>(static_cast<uint8_t>(r.out[i]) | static_cast<uint8_t>(r.out[i + 1]) << 8);
    if (std::abs(s) > 16384) return static_cast<long>(i / 2);
  }
  return -1;
}

TEST(EncodeSync, SlowedVideoKeepsItsAudioAndAudioBesideInSync) {
  TempDir dir;
  const std::string d = dir.Path();
  // 12 s at 30 frames a second: black, white from 10 s; its sound (AAC)
  // and a WAV beside it silent but for a 1 kHz click at 10 s.
  const std::string click = "aevalsrc='0.9*sin(2*PI*1000*t)*between(t,10,10.01)':s=48000:d=12";
  RunResult made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                        "color=c=black:size=320x240:rate=30:duration=12,drawbox=c=white:t=fill:enable='gte(t,10)'",
                        "-f", "lavfi", "-i", click, "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-b:a",
                        "192k", "-shortest", d + "/phone.mp4"});
  ASSERT_EQ(made.status, 0) << made.err;
  made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", click, "-c:a", "pcm_s16le", d + "/click.wav"});
  ASSERT_EQ(made.status, 0) << made.err;

  const std::string p = d + "/p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  CopyFixture("subtitles/subs_eng.sup", d);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", d + "/click.wav",
                           d + "/subs_eng.sup", "--encode"});
  ASSERT_EQ(add.status, 0) << add.err;
  // Subtitles keep their times, and the command says so.
  EXPECT_NE(add.err.find("warning: \"" + d + "/subs_eng.sup\" is added as it is, not slowed 1001/1000"),
            std::string::npos)
      << add.err;
  EXPECT_NE(add.err.find("its audio is added as"), std::string::npos) << add.err;
  EXPECT_NE(add.err.find("slowed as the video it goes with"), std::string::npos) << add.err;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#4"), std::string::npos) << add.out;
  RunResult build = Zelvane({"build", p, d + "/out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;

  std::string clip;
  for (const auto& e : fs::directory_iterator(d + "/out/Zelvane/DISC/BDMV/STREAM"))
    if (e.path().extension() == ".m2ts") clip = e.path().string();
  ASSERT_FALSE(clip.empty());
  const std::vector<double> video = StartTimes(clip, "v");
  const std::vector<double> audio = StartTimes(clip, "a");
  ASSERT_EQ(video.size(), 1u);
  ASSERT_EQ(audio.size(), 2u);  // the recording's own (AC-3) and the WAV (LPCM)

  // Every frame kept: the white picture is the 301st, at 10.01 s at 29.97.
  const int white = FirstWhiteFrame(clip, dir.Path());
  EXPECT_EQ(white, 300);
  const double picture = white * kFrame;
  for (int n = 0; n < 2; ++n) {
    const long sample = FirstLoudSample(clip, n);
    ASSERT_GE(sample, 0) << "audio " << n;
    const double sound = audio[n] - video[0] + sample / 48000.0;
    // At 10 s within a frame, as the recording has it; and with its
    // picture within 3 ms (unslowed audio would be 10 ms early).
    EXPECT_NEAR(sound, 10.0, kFrame) << "audio " << n;
    EXPECT_NEAR(sound, picture, 0.003) << "audio " << n << " picture at " << picture;
  }
}

// The chapter starts of the disc's titles as libbluray lists them, in 90 kHz
// ticks from the title's start; `info` keeps the listing for messages.
std::vector<long> ChapterStarts(const std::string& disc, RunResult& info) {
  info = zvtest::Run({ZV_BDCLIENT, "info", disc});
  EXPECT_EQ(info.status, 0) << info.err;
  std::vector<long> starts;
  for (const std::string& l : Lines(info.out)) {
    const size_t at = l.find(" start ");
    if (l.compare(0, 6, "title ") == 0 && l.find(" chapter ") != std::string::npos && at != std::string::npos)
      starts.push_back(std::atol(l.c_str() + at + 7));
  }
  return starts;
}

// A mark stands at its entry point's time, which the clip information keeps
// to 512 ticks; 3003 ticks a frame.
void ExpectOnFrame(long start, long frame, const std::string& listing) {
  EXPECT_LE(start, frame * 3003) << listing;
  EXPECT_GT(start, frame * 3003 - 512) << listing;
}

// Chapters marked before the encode get an IDR picture each, so libbluray
// finds them at their own frames, not moved to the next GOP's start.
TEST(EncodeSync, ChaptersMarkedBeforeTheEncodeLandOnTheirFrames) {
  TempDir dir;
  const std::string d = dir.Path();
  RunResult made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=4",
                        "-c:v", "libx264", "-preset", "ultrafast", d + "/phone.mp4"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string p = d + "/p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  // Frames 47 and 100 at 29.97: neither is a whole second, where the
  // encoder puts its own IDR pictures.
  for (const char* at : {"00:00:01:17", "00:00:03:10"}) {
    RunResult r = Zelvane({"chapters", p, "Movie#1/Title#1/PI#1", "add", at, "--fps", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/phone.mp4", "--encode"});
  ASSERT_EQ(add.status, 0) << add.err;
  RunResult build = Zelvane({"build", p, d + "/out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out.find("I picture"), std::string::npos) << build.out;
  EXPECT_EQ(build.err.find("I picture"), std::string::npos) << build.err;

  RunResult info;
  const std::vector<long> starts = ChapterStarts(d + "/out/Zelvane/DISC", info);
  ASSERT_EQ(starts.size(), 2u) << info.out;
  ExpectOnFrame(starts[0], 47, info.out);
  ExpectOnFrame(starts[1], 100, info.out);
}

// A 30 frames a second MKV with chapters, added with --encode --chapters:
// the chapters are slowed with the video, each gets an IDR picture, and
// libbluray finds them at their own frames.
TEST(EncodeSync, ContainerChaptersComeWithTheEncodeOnTheirFrames) {
  TempDir dir;
  const std::string d = dir.Path();
  // Frames 47 and 100 at 30 frames a second.
  WriteText(d + "/meta.txt", ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/30\nSTART=0\nEND=47\ntitle=One\n"
                             "[CHAPTER]\nTIMEBASE=1/30\nSTART=47\nEND=100\ntitle=Two\n"
                             "[CHAPTER]\nTIMEBASE=1/30\nSTART=100\nEND=120\ntitle=Three\n");
  RunResult made = zvtest::Run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=4",
                                "-i", d + "/meta.txt", "-map_chapters", "1", "-c:v", "libx264", "-preset", "ultrafast",
                                d + "/camera.mkv"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string p = d + "/p.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);
  RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/camera.mkv", "--encode", "--chapters"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_TRUE(HasLine(add.out, "3 chapters to 1 play item")) << add.out;
  RunResult build = Zelvane({"build", p, d + "/out", "--yes"});
  ASSERT_EQ(build.status, 0) << build.err;
  EXPECT_EQ(build.out.find("I picture"), std::string::npos) << build.out;

  RunResult info;
  const std::vector<long> starts = ChapterStarts(d + "/out/Zelvane/DISC", info);
  ASSERT_EQ(starts.size(), 3u) << info.out;
  EXPECT_EQ(starts[0], 0);
  ExpectOnFrame(starts[1], 47, info.out);
  ExpectOnFrame(starts[2], 100, info.out);
}

}  // namespace

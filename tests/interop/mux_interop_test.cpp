// Clips written by `zelvane mux`, read by ffprobe and decoded by ffmpeg: the
// program and its streams as an independent demuxer sees them, and every
// decoded frame identical to what the input files decode to.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "mux/muxer_clip_check.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

void MuxAndCompare(const std::vector<std::string>& audio) {
  if (!HaveProgram("ffprobe") || !HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = CopyFixture("h264_1080p2398.264", dir.Path());
  std::vector<std::string> argv{ZV_BINARY, "mux", dir / "00000.m2ts", video};
  std::vector<std::string> audioPaths;
  for (const std::string& a : audio) {
    audioPaths.push_back(CopyFixture(a, dir.Path()));
    argv.push_back(audioPaths.back());
  }
  argv.push_back("--yes");
  RunResult mux = Run(argv);
  ASSERT_EQ(mux.status, 0) << mux.err;
  const std::string clip = dir / "00000.m2ts";
  // The summary's peak rate, counted while multiplexing, is the file's own.
  char peak[96];
  std::snprintf(peak, sizeof peak, "  peak rate:        %.3f Mbit/s",
                MaxPacketsPerSecond(ReadClip(clip)) * 188.0 * 8.0 / 1e6);
  EXPECT_NE(mux.out.find(peak), std::string::npos) << mux.out;

  RunResult probe = Run({"ffprobe", "-v", "error", "-show_programs", "-show_entries",
                         "program=program_id,nb_streams:stream=id,codec_name", "-of", "default=noprint_wrappers=1", clip});
  ASSERT_EQ(probe.status, 0) << probe.err;
  // The program's own stream list comes first; stream types show as the
  // codec ffprobe derives from them.
  std::vector<std::string> want{"program_id=1", "nb_streams=" + std::to_string(1 + audio.size()), "codec_name=h264",
                                "id=0x1011"};
  for (size_t i = 0; i < audio.size(); ++i) {
    char id[16];
    std::snprintf(id, sizeof id, "id=0x%x", 0x1100 + static_cast<unsigned>(i));
    want.push_back("codec_name=ac3");
    want.push_back(id);
  }
  std::vector<std::string> got;
  for (const std::string& line : Lines(probe.out))
    for (const char* key : {"program_id=", "nb_streams=", "codec_name=", "id="})
      if (line.rfind(key, 0) == 0) got.push_back(line);
  EXPECT_EQ(std::count_if(got.begin(), got.end(), [](auto& l) { return l.rfind("program_id=", 0) == 0; }), 1)
      << "one program";
  ASSERT_GE(got.size(), want.size()) << probe.out;
  got.resize(want.size());
  EXPECT_EQ(got, want) << probe.out;

  std::vector<std::string> in = FrameHashes(video, "");
  std::vector<std::string> out = FrameHashes(clip, "0:v:0");
  EXPECT_EQ(in.size(), 48u);
  EXPECT_EQ(out, in) << "video frames";
  for (size_t i = 0; i < audio.size(); ++i) {
    std::vector<std::string> ain = FrameHashes(audioPaths[i], "");
    ASSERT_FALSE(ain.empty());
    EXPECT_EQ(FrameHashes(clip, "0:a:" + std::to_string(i)), ain) << audio[i];
  }
}

TEST(MuxInterop, VideoAndStereoAudioDecodeLikeTheirInputs) { MuxAndCompare({"ac3_stereo.ac3"}); }

TEST(MuxInterop, ThreeAudioTracksDecodeLikeTheirInputs) {
  MuxAndCompare({"ac3_stereo.ac3", "ac3_51.ac3", "ac3_mono.ac3"});
}

}  // namespace

// H.264 as ffmpeg's libx264 writes it by default (constant rate, but
// fixed_frame_rate_flag 0): multiplexed with the flag set and every other
// byte as it was, decoded by ffmpeg frame for frame like the input.
#include <gtest/gtest.h>

#include <sstream>

#include "mux/muxer_clip_check.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

// Every value of one syntax element ffmpeg's trace_headers reads in `path`.
std::vector<std::string> Traced(const std::string& path, const std::string& element) {
  RunResult r = zvtest::Run({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "trace", "-i", path, "-map", "0:v:0",
                             "-c", "copy", "-bsf:v", "trace_headers", "-f", "null", "-"});
  std::vector<std::string> values;
  for (const std::string& line : Lines(r.err)) {
    if (line.find("[trace_headers") == std::string::npos) continue;
    std::istringstream words(line.substr(line.find(']') + 1));
    std::string w, first, last;
    while (words >> w) {
      if (first.empty() && !std::isdigit(static_cast<unsigned char>(w[0]))) first = w;
      last = w;
    }
    if (first == element) values.push_back(last);
  }
  return values;
}

TEST(EncoderOutput, UnsetFixedRateFlagIsSetInTheClipAndNothingElseChanges) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string video = CopyFixture("ffmpeg_x264_1080p2398.264", dir.Path());
  const std::string clip = dir / "00000.m2ts";
  RunResult mux = zvtest::Run({ZV_BINARY, "mux", clip, video, "--yes"});
  ASSERT_EQ(mux.status, 0) << mux.err;
  EXPECT_NE(mux.err.find("fixed_frame_rate_flag is 0, but all 12 pictures last one frame period"), std::string::npos)
      << mux.err;

  // ffmpeg traces the one SPS as extradata and again in the first packet.
  const std::vector<std::string> before = Traced(video, "fixed_frame_rate_flag");
  const std::vector<std::string> after = Traced(clip, "fixed_frame_rate_flag");
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(before, std::vector<std::string>(before.size(), "0"));
  EXPECT_EQ(after, std::vector<std::string>(before.size(), "1"));
  const std::vector<std::string> in = FrameHashes(video, "");
  ASSERT_EQ(in.size(), 12u);
  EXPECT_EQ(FrameHashes(clip, "0:v:0"), in);

  // The video carried by the clip is the file's bytes but for the SPS.
  const ClipReading reading = ReadClip(clip);
  ASSERT_TRUE(reading.error.empty()) << reading.error;
  std::vector<uint8_t> carried;
  for (const ClipUnit& u : reading.units.at(0x1011)) carried.insert(carried.end(), u.payload.begin(), u.payload.end());
  const std::vector<uint8_t> original = ReadBytes(video);
  ASSERT_EQ(carried.size(), original.size());
  size_t first = original.size(), last = 0;
  for (size_t i = 0; i < original.size(); ++i)
    if (carried[i] != original[i]) {
      first = std::min(first, i);
      last = i;
    }
  ASSERT_LT(first, original.size()) << "the SPS was not changed";
  // Both ends within the first SPS (after the 00 00 00 01 67 that begins it).
  size_t sps = 0;
  while (sps + 4 < original.size() && !(original[sps] == 0 && original[sps + 1] == 0 && original[sps + 2] == 1 &&
                                        (original[sps + 3] & 0x1F) == 7))
    ++sps;
  size_t spsEnd = sps + 3;
  while (spsEnd + 3 < original.size() && !(original[spsEnd] == 0 && original[spsEnd + 1] == 0 &&
                                           (original[spsEnd + 2] == 1 || original[spsEnd + 2] == 0)))
    ++spsEnd;
  EXPECT_GT(first, sps + 3);
  EXPECT_LT(last, spsEnd);
}

}  // namespace

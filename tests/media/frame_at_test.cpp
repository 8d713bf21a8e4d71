// Pictures at frame numbers: the same pictures ffmpeg decodes and scales,
// from a raw stream (counted from its start) and from a container (found by
// time, with a seek to a picture far ahead).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "media/frame_at.h"
#include "support/test_support.h"

namespace {

// PSNR of an Argb32 picture against ffmpeg's RGB picture number `n` of
// `path` at the same size.
double Psnr(const zv::CPicture& got, const std::string& path, int n, const zvtest::TempDir& dir) {
  const std::string ref = dir / ("ref" + std::to_string(n) + ".rgb");
  const zvtest::RunResult r = zvtest::Run({"ffmpeg", "-v", "error", "-y", "-i", path, "-vf",
                                           "select=eq(n\\," + std::to_string(n) + "),scale=" +
                                               std::to_string(got.width) + ":" + std::to_string(got.height),
                                           "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", ref});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> want = zvtest::ReadBytes(ref);
  if (want.size() != size_t(got.width) * size_t(got.height) * 3) return 0;
  double sum = 0;
  for (size_t i = 0; i < want.size() / 3; ++i)
    for (size_t k = 0; k < 3; ++k) {
      const double d = double(got.pixels[i * 4 + 1 + k]) - want[i * 3 + k];
      sum += d * d;
    }
  const double mse = sum / double(want.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(FramesAt, ARawStreamGivesThePicturesOfItsNumbersAndTheLastPastTheEnd) {
  zvtest::TempDir dir;
  const std::string path = zvtest::DataPath("h264_1080p2398.264");  // 48 pictures
  std::vector<zv::CPicture> pics;
  std::string error;
  ASSERT_EQ(zv::DecodeFramesAt(path, {30, 5, 1000}, 320, 180, pics, {}, error), zv::kOk) << error;
  ASSERT_EQ(pics.size(), 3u);
  EXPECT_GE(Psnr(pics[0], path, 30, dir), 40.0);
  EXPECT_GE(Psnr(pics[1], path, 5, dir), 40.0);
  EXPECT_LT(Psnr(pics[1], path, 30, dir), 40.0) << "pictures 5 and 30 differ";
  EXPECT_GE(Psnr(pics[2], path, 47, dir), 40.0);
}

TEST(FramesAt, AContainerIsSoughtByTime) {
  zvtest::TempDir dir;
  const std::string path = zvtest::DataPath("containers/movie.mkv");  // 48 pictures at 23.976
  std::vector<zv::CPicture> pics;
  std::string error;
  ASSERT_EQ(zv::DecodeFramesAt(path, {46, 2}, 256, 144, pics, {}, error), zv::kOk) << error;
  EXPECT_GE(Psnr(pics[0], path, 46, dir), 40.0);
  EXPECT_GE(Psnr(pics[1], path, 2, dir), 40.0);
  EXPECT_LT(Psnr(pics[0], path, 2, dir), 40.0);
}

TEST(FramesAt, AFileWithoutVideoIsRefusedByName) {
  std::vector<zv::CPicture> pics;
  std::string error;
  const std::string path = zvtest::DataPath("ac3_stereo.ac3");
  EXPECT_EQ(zv::DecodeFramesAt(path, {0}, 64, 36, pics, {}, error), zv::kFailed);
  EXPECT_EQ(error, "Cannot decode the pictures of \"" + path + "\": it has no video stream that can be decoded");
}

}  // namespace

// Pictures of a container's track, named as the project names it
// ("movie.mkv#0.264"): decoded from the container, they are the pictures
// of the elementary stream the container was made from.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/frame_at.h"
#include "platform/byte_source.h"
#include "support/test_support.h"

namespace {

TEST(FramesAtTrack, AContainersTrackGivesThePicturesOfItsStream) {
  const std::string mkv = zvtest::DataPath("containers/movie.mkv");  // made of h264_1080p2398.264
  std::vector<zv::CPicture> fromTrack, fromStream;
  std::string error;
  ASSERT_EQ(zv::DecodeFramesAt(zv::TrackPath(mkv, 0, ".264"), {30, 0}, 160, 90, fromTrack, {}, error), zv::kOk)
      << error;
  ASSERT_EQ(zv::DecodeFramesAt(zvtest::DataPath("h264_1080p2398.264"), {30, 0}, 160, 90, fromStream, {}, error),
            zv::kOk)
      << error;
  ASSERT_EQ(fromTrack.size(), 2u);
  EXPECT_EQ(fromTrack[0].pixels, fromStream[0].pixels);
  EXPECT_EQ(fromTrack[1].pixels, fromStream[1].pixels);
  EXPECT_NE(fromTrack[0].pixels, fromTrack[1].pixels);

  // An audio track has no pictures.
  const std::string audio = zv::TrackPath(mkv, 1, ".ac3");
  EXPECT_EQ(zv::DecodeFramesAt(audio, {0}, 160, 90, fromTrack, {}, error), zv::kFailed);
  EXPECT_EQ(error, "Cannot decode the pictures of \"" + audio + "\": it has no video stream that can be decoded");
}

}  // namespace

// The tracks of one container open together share one demuxer: the file is
// read once for all of them, each track reads exactly its own bytes, and
// what waits for a lagging track stays within the bounds however far apart
// the tracks are read.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>

#include "media/container.h"
#include "media/container_demux.h"
#include "media/container_direct.h"
#include "platform/byte_source.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Tracks of movie.mkv: H.264, two AC-3, PGS.
const char* const kExts[] = {".264", ".ac3", ".ac3", ".sup"};

// The rest of `f` in reads of 4 KiB, as a parser reads.
std::vector<uint8_t> ReadRest(zv::File& f) {
  std::vector<uint8_t> out(static_cast<size_t>(f.Length() - f.Tell()));
  for (size_t at = 0; at < out.size(); at += 4096) {
    if (!f.ReadExact(out.data() + at, std::min<size_t>(4096, out.size() - at))) {
      ADD_FAILURE() << f.Error();
      return {};
    }
  }
  return out;
}

class SharedDemuxer : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::RegisterContainerTracks();
    // The demuxer shared by the tracks, which read straight from the file
    // when the index found their bytes in it.
    zv::SetDirectContainerReading(false);
    mkv_ = dir_ / "movie.mkv";
    fs::copy_file(zvtest::DataPath("containers/movie.mkv"), mkv_);
    std::map<int, int64_t> lengths;
    std::string error;
    ASSERT_EQ(zv::IndexContainer(mkv_, lengths, error), zv::kOk) << error;
    // Each track read alone, one after another.
    for (int i = 0; i < 4; ++i) {
      zv::File f;
      ASSERT_TRUE(f.Open(Track(i), zv::File::kRead)) << f.Error();
      alone_[i].resize(static_cast<size_t>(f.Length()));
      ASSERT_TRUE(f.ReadExact(alone_[i].data(), alone_[i].size())) << f.Error();
    }
    saved_ = zv::ContainerBounds();
  }
  void TearDown() override {
    zv::SetContainerBounds(saved_);
    zv::SetDirectContainerReading(true);
  }

  std::string Track(int i) const { return zv::TrackPath(mkv_, i, kExts[i]); }

  // Bytes the demuxer of one track read alone read from the file.
  int64_t OneTrackFileBytes() {
    zv::ResetContainerReadStats();
    {
      zv::File f;
      EXPECT_TRUE(f.Open(Track(0), zv::File::kRead)) << f.Error();
      std::vector<uint8_t> all(static_cast<size_t>(f.Length()));
      EXPECT_TRUE(f.ReadExact(all.data(), all.size())) << f.Error();
    }
    return zv::ContainerReadStats().fileBytesRead;
  }

  zvtest::TempDir dir_;
  std::string mkv_;
  std::vector<uint8_t> alone_[4];
  zv::SContainerBounds saved_;
};

TEST_F(SharedDemuxer, TracksReadTogetherReadTheFileOnceAndKeepTheirBytes) {
  EXPECT_EQ(alone_[1], zvtest::ReadBytes(zvtest::DataPath("ac3_51.ac3")));
  EXPECT_EQ(alone_[2], zvtest::ReadBytes(zvtest::DataPath("ac3_stereo.ac3")));
  const int64_t once = OneTrackFileBytes();
  ASSERT_GT(once, 0);

  zv::ResetContainerReadStats();
  {
    zv::File f[4];
    std::vector<uint8_t> got[4];
    // The video is opened and read first; the audio is opened once only
    // to check that it opens (as the stream information's check does).
    ASSERT_TRUE(f[0].Open(Track(0), zv::File::kRead)) << f[0].Error();
    got[0].resize(alone_[0].size());
    ASSERT_TRUE(f[0].ReadExact(got[0].data(), 100000)) << f[0].Error();
    ASSERT_TRUE(f[1].Open(Track(1), zv::File::kRead)) << f[1].Error();
    f[1].Close();
    for (int i = 1; i < 4; ++i) {
      ASSERT_TRUE(f[i].Open(Track(i), zv::File::kRead)) << f[i].Error();
      got[i].resize(alone_[i].size());
    }
    ASSERT_TRUE(f[0].Seek(0)) << f[0].Error();
    // Round after round, every track reads its next fortieth, as a
    // multiplexer moving through the clip's time does.
    for (int step = 1; step <= 40; ++step) {
      for (int i = 0; i < 4; ++i) {
        const size_t from = got[i].size() * (step - 1) / 40, to = got[i].size() * step / 40;
        ASSERT_TRUE(f[i].ReadExact(got[i].data() + from, to - from)) << f[i].Error();
      }
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], alone_[i]) << "track " << i;
  }
  const zv::SContainerReadStats s = zv::ContainerReadStats();
  EXPECT_EQ(s.demuxers, 1);
  // One demuxer per track read the file four times over.
  EXPECT_LE(s.fileBytesRead, once + once / 10);
  EXPECT_GT(s.peakHeld, 0);
}

TEST_F(SharedDemuxer, FarApartTracksStayWithinTheBoundsAndReadExactly) {
  zv::SContainerBounds b;
  b.keep = 4 << 10;
  b.ahead = 32 << 10;
  b.early = 8 << 10;
  zv::SetContainerBounds(b);
  zv::ResetContainerReadStats();
  {
    zv::File video, audio;
    ASSERT_TRUE(video.Open(Track(0), zv::File::kRead)) << video.Error();
    ASSERT_TRUE(audio.Open(Track(1), zv::File::kRead)) << audio.Error();
    // The audio read to its end first: the video it passes cannot all wait.
    EXPECT_EQ(ReadRest(audio), alone_[1]);
    EXPECT_EQ(ReadRest(video), alone_[0]);
    // A track opened after the bytes kept for it were let go.
    zv::File late;
    ASSERT_TRUE(late.Open(Track(2), zv::File::kRead)) << late.Error();
    EXPECT_EQ(ReadRest(late), alone_[2]);
  }
  const zv::SContainerReadStats s = zv::ContainerReadStats();
  // Held at most: the lagging video's allowance, the audio's keep and
  // read, the kept bytes of unopened tracks, and a packet for each (the
  // largest of this file is about 21 KB). All of the video is 268 KB.
  EXPECT_LE(s.peakHeld, b.ahead + b.keep + 4096 + b.early + 3 * 22000);
  EXPECT_GT(s.peakHeld, b.ahead);
  // The shared demuxer, the video's own once it fell behind, the late
  // track's own.
  EXPECT_EQ(s.demuxers, 3);
}

TEST_F(SharedDemuxer, AFastReaderWaitsForASlowOneOnAnotherThread) {
  zv::SContainerBounds b;
  b.keep = 4 << 10;
  b.ahead = 32 << 10;
  b.early = 8 << 10;
  zv::SetContainerBounds(b);
  zv::ResetContainerReadStats();
  std::vector<uint8_t> audio, video;
  {
    zv::File a, v;
    ASSERT_TRUE(a.Open(Track(1), zv::File::kRead)) << a.Error();
    ASSERT_TRUE(v.Open(Track(0), zv::File::kRead)) << v.Error();
    // The video's reader parses slowly; the audio's would race ahead.
    std::thread slow([&] {
      std::vector<uint8_t> part(4096);
      for (int64_t at = 0; at < v.Length(); at += 4096) {
        const auto n = static_cast<size_t>(std::min<int64_t>(4096, v.Length() - at));
        if (!v.ReadExact(part.data(), n)) {
          ADD_FAILURE() << v.Error();
          return;
        }
        video.insert(video.end(), part.begin(), part.begin() + static_cast<std::ptrdiff_t>(n));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    });
    audio = ReadRest(a);
    slow.join();
  }
  EXPECT_EQ(audio, alone_[1]);
  EXPECT_EQ(video, alone_[0]);
  const zv::SContainerReadStats s = zv::ContainerReadStats();
  // One reading of the file; what waited stayed within the bounds.
  EXPECT_EQ(s.demuxers, 1);
  EXPECT_LE(s.peakHeld, b.ahead + b.keep + 4096 + b.early + 3 * 22000);
}

TEST_F(SharedDemuxer, TracksReadOnThreadsOfTheirOwnGetTheirBytes) {
  // As the multiplexer's read-ahead and the parallel analysis read: each
  // track on its own thread, the packets read by whichever needs them.
  for (int round = 0; round < 3; ++round) {
    zv::ResetContainerReadStats();
    std::vector<uint8_t> got[4];
    {
      zv::File f[4];
      for (int i = 0; i < 4; ++i) ASSERT_TRUE(f[i].Open(Track(i), zv::File::kRead)) << f[i].Error();
      std::vector<std::thread> readers;
      for (int i = 0; i < 4; ++i) readers.emplace_back([&, i] { got[i] = ReadRest(f[i]); });
      for (std::thread& t : readers) t.join();
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(got[i], alone_[i]) << "track " << i << ", round " << round;
    EXPECT_EQ(zv::ContainerReadStats().demuxers, 1);
  }
}

}  // namespace

// Tracks read straight from the container's file give exactly the bytes the
// demuxer gives (whole, and in reads at any position), for Matroska and MP4;
// a track whose packets are not the file's bytes (zlib-compressed blocks,
// presentation graphics) and a damaged table leave the track to the demuxer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "media/container.h"
#include "media/container_demux.h"
#include "media/container_direct.h"
#include "platform/byte_source.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct SRead {
  std::vector<uint8_t> bytes;
  int64_t demuxers = 0;  // demuxers opened while it was read
};

// The whole track, in reads of odd sizes, then again in shuffled reads that
// must give the same bytes.
SRead ReadTrack(const std::string& path) {
  SRead out;
  zv::ResetContainerReadStats();
  zv::File f;
  if (!f.Open(path, zv::File::kRead)) {
    ADD_FAILURE() << f.Error();
    return out;
  }
  out.bytes.resize(static_cast<size_t>(f.Length()));
  for (size_t at = 0; at < out.bytes.size(); at += 65537) {
    if (!f.ReadExact(out.bytes.data() + at, std::min<size_t>(65537, out.bytes.size() - at))) {
      ADD_FAILURE() << f.Error();
      return out;
    }
  }
  std::vector<size_t> starts;
  for (size_t at = 0; at < out.bytes.size(); at += 3001) starts.push_back(at);
  std::shuffle(starts.begin(), starts.end(), std::mt19937(5));
  for (size_t at : starts) {
    const size_t n = std::min<size_t>(3001, out.bytes.size() - at);
    std::vector<uint8_t> got(n);
    EXPECT_TRUE(f.ReadExactAt(static_cast<int64_t>(at), got.data(), n)) << f.Error();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), out.bytes.begin() + static_cast<std::ptrdiff_t>(at))) << at;
  }
  out.demuxers = zv::ContainerReadStats().demuxers;
  return out;
}

class DirectTracks : public ::testing::Test {
 protected:
  void SetUp() override { zv::RegisterContainerTracks(); }
  void TearDown() override {
    zv::SetDirectContainerReading(true);
    zv::SetDirectTableSizes(size_t{1} << 16, 4096);
  }

  // Copies the fixture, indexes it and reads `tracks` both ways; `direct`
  // says which of them must have been read without a demuxer.
  void Compare(const std::string& fixture, const std::map<int, std::string>& tracks, const std::vector<int>& direct) {
    const std::string file = dir_ / fs::path(fixture).filename();
    fs::copy_file(zvtest::DataPath(fixture), file);
    std::map<int, int64_t> lengths;
    std::string error;
    ASSERT_EQ(zv::IndexContainer(file, lengths, error), zv::kOk) << error;
    for (const auto& [stream, ext] : tracks) {
      const std::string path = zv::TrackPath(file, stream, ext);
      zv::SetDirectContainerReading(true);
      const SRead a = ReadTrack(path);
      zv::SetDirectContainerReading(false);
      const SRead b = ReadTrack(path);
      ASSERT_EQ(static_cast<int64_t>(a.bytes.size()), lengths[stream]) << fixture << " track " << stream;
      EXPECT_TRUE(a.bytes == b.bytes) << fixture << " track " << stream;
      const bool isDirect = std::find(direct.begin(), direct.end(), stream) != direct.end();
      EXPECT_EQ(a.demuxers == 0, isDirect) << fixture << " track " << stream;
      EXPECT_GT(b.demuxers, 0) << fixture << " track " << stream;
    }
  }

  zvtest::TempDir dir_;
};

TEST_F(DirectTracks, MatroskaAndMp4TracksReadAsTheDemuxerGivesThem) {
  // Records written out every 10 packets and read in blocks of 7, as a
  // long film's are.
  zv::SetDirectTableSizes(10, 7);
  // H.264 with its parameter sets put in front of the first picture,
  // AC-3 in laced blocks; the graphics get headers, so go through the demuxer.
  Compare("containers/movie.mkv", {{0, ".264"}, {1, ".ac3"}, {2, ".ac3"}, {3, ".sup"}}, {0, 1, 2});
  Compare("containers/phone.mp4", {{0, ".264"}}, {0});
  EXPECT_TRUE(ReadTrack(zv::TrackPath(dir_ / "movie.mkv", 2, ".ac3")).bytes ==
              zvtest::ReadBytes(zvtest::DataPath("ac3_stereo.ac3")));
}

TEST_F(DirectTracks, CompressedBlocksAndADamagedTableGoThroughTheDemuxer) {
  Compare("containers/compressed.mkv", {{0, ".264"}, {1, ".ac3"}}, {0});
  const std::string mkv = dir_ / "compressed.mkv";
  EXPECT_TRUE(ReadTrack(zv::TrackPath(mkv, 1, ".ac3")).bytes == zvtest::ReadBytes(zvtest::DataPath("ac3_stereo.ac3")));

  // A table cut short, or with a record pointing elsewhere, is not used or
  // fails the read; it never gives other bytes.
  const std::string table = mkv + ".zvd";
  ASSERT_TRUE(fs::exists(table));
  const std::vector<uint8_t> whole = zvtest::ReadBytes(table);
  zv::SetDirectContainerReading(false);
  const std::vector<uint8_t> video = ReadTrack(zv::TrackPath(mkv, 0, ".264")).bytes;
  zv::SetDirectContainerReading(true);
  zvtest::WriteBytes(table, std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2)));
  const SRead cut = ReadTrack(zv::TrackPath(mkv, 0, ".264"));
  EXPECT_GT(cut.demuxers, 0);
  EXPECT_TRUE(cut.bytes == video);

  // The last record given the elementary offset of the one before it:
  // offsets that do not rise are refused when the records are read.
  std::vector<uint8_t> bad = whole;
  const size_t last = bad.size() - 24, before = bad.size() - 48;
  std::copy(bad.begin() + static_cast<std::ptrdiff_t>(before + 8), bad.begin() + static_cast<std::ptrdiff_t>(before + 16),
            bad.begin() + static_cast<std::ptrdiff_t>(last + 8));
  zvtest::WriteBytes(table, bad);
  zv::File f;
  ASSERT_TRUE(f.Open(zv::TrackPath(mkv, 0, ".264"), zv::File::kRead)) << f.Error();
  std::vector<uint8_t> tail(4096);
  EXPECT_FALSE(f.ReadExactAt(f.Length() - 4096, tail.data(), tail.size()));
  EXPECT_NE(f.Error().find("does not fit"), std::string::npos) << f.Error();
  f.Close();

  // Any byte of the table changed (past its identity line): the track
  // reads as it is, or the read fails naming the table.
  const size_t from = static_cast<size_t>(std::find(whole.begin(), whole.end(), '\n') - whole.begin()) + 1;
  int failed = 0;
  for (size_t at = from; at < whole.size(); at += 5) {
    std::vector<uint8_t> flipped = whole;
    flipped[at] ^= 0x21;
    zvtest::WriteBytes(table, flipped);
    zv::File g;
    ASSERT_TRUE(g.Open(zv::TrackPath(mkv, 0, ".264"), zv::File::kRead)) << g.Error();
    std::vector<uint8_t> got(video.size());
    if (g.ReadExact(got.data(), got.size())) {
      ASSERT_TRUE(got == video) << "byte " << at;
    } else {
      ASSERT_NE(g.Error().find("does not fit"), std::string::npos) << g.Error();
      ++failed;
    }
  }
  EXPECT_GT(failed, 0);
}

}  // namespace

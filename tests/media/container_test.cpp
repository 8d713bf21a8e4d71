// Tracks of a Matroska file (made by mkvmerge from the elementary fixtures)
// read through File as the streams they carry: the AC-3 tracks are the
// original files byte for byte, the PGS track the original segments with
// the .sup framing, and the H.264 track reads the same in any order
// (reads behind the window start the demuxer again).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>

#include "media/container.h"
#include "platform/byte_source.h"
#include "platform/file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadTrack(const std::string& path, std::string* error = nullptr) {
  zv::File f;
  if (!f.Open(path, zv::File::kRead)) {
    if (error) *error = f.Error();
    return {};
  }
  std::vector<uint8_t> out(static_cast<size_t>(f.Length()));
  if (!f.ReadExact(out.data(), out.size())) {
    if (error) *error = f.Error();
    return {};
  }
  return out;
}

// The segments of a .sup file without their times: type, length, body.
std::vector<std::vector<uint8_t>> Segments(const std::vector<uint8_t>& sup) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t at = 0; at + 13 <= sup.size();) {
    const size_t len = 3 + (size_t{sup[at + 11]} << 8 | sup[at + 12]);
    out.emplace_back(sup.begin() + static_cast<std::ptrdiff_t>(at + 10),
                     sup.begin() + static_cast<std::ptrdiff_t>(std::min(sup.size(), at + 10 + len)));
    at += 10 + len;
  }
  return out;
}

class ContainerTracks : public ::testing::Test {
 protected:
  void SetUp() override {
    zv::RegisterContainerTracks();
    mkv_ = dir_ / "movie.mkv";
    fs::copy_file(zvtest::DataPath("containers/movie.mkv"), mkv_);
  }
  zvtest::TempDir dir_;
  std::string mkv_;
};

TEST_F(ContainerTracks, ListingAndPassThroughTracksAreTheOriginalBytes) {
  zv::SContainerInfo info;
  std::string error;
  ASSERT_EQ(zv::ProbeContainer(mkv_, info, error), zv::kOk) << error;
  ASSERT_EQ(info.tracks.size(), 4u);
  EXPECT_EQ(info.tracks[1].language, "eng");
  EXPECT_EQ(info.tracks[1].title, "English 5.1");
  EXPECT_EQ(info.tracks[2].language, "fre");
  EXPECT_FALSE(info.tracks[2].isDefault);
  EXPECT_TRUE(info.tracks[3].forced);
  ASSERT_EQ(info.chapters.size(), 2u);
  EXPECT_EQ(info.chapters[1].startMs, 500);
  EXPECT_EQ(info.chapters[1].title, "The Storm, again");
  for (const zv::SContainerTrack& t : info.tracks) EXPECT_EQ(t.verdict.need, zv::TrackNeed::kCarried) << t.codec;

  std::map<int, int64_t> lengths;
  ASSERT_EQ(zv::IndexContainer(mkv_, lengths, error), zv::kOk) << error;
  EXPECT_EQ(ReadTrack(zv::TrackPath(mkv_, 1, ".ac3")), zvtest::ReadBytes(zvtest::DataPath("ac3_51.ac3")));
  EXPECT_EQ(ReadTrack(zv::TrackPath(mkv_, 2, ".ac3")), zvtest::ReadBytes(zvtest::DataPath("ac3_stereo.ac3")));
  const std::vector<uint8_t> sup = ReadTrack(zv::TrackPath(mkv_, 3, ".sup"));
  EXPECT_EQ(static_cast<int64_t>(sup.size()), lengths[3]);
  EXPECT_EQ(Segments(sup), Segments(zvtest::ReadBytes(zvtest::DataPath("subtitles/subs_eng.sup"))));
  ASSERT_GE(sup.size(), 13u);
  EXPECT_EQ(sup[0], 'P');
  EXPECT_EQ(sup[1], 'G');
}

TEST_F(ContainerTracks, VideoStartsWithParameterSetsAndReadsTheSameInAnyOrder) {
  const std::string video = zv::TrackPath(mkv_, 0, ".264");
  std::string error;
  const std::vector<uint8_t> whole = ReadTrack(video, &error);
  ASSERT_GE(whole.size(), 64u) << error;
  // Annex B: a start code, and the SPS the MKV kept in its codec data.
  EXPECT_EQ(std::vector<uint8_t>(whole.begin(), whole.begin() + 4), (std::vector<uint8_t>{0, 0, 0, 1}));
  static const uint8_t kSps[] = {0, 0, 1, 0x67};
  EXPECT_NE(std::search(whole.begin(), whole.begin() + 64, std::begin(kSps), std::end(kSps)), whole.begin() + 64);

  zv::File f;
  ASSERT_TRUE(f.Open(video, zv::File::kRead)) << f.Error();
  EXPECT_EQ(f.Length(), static_cast<int64_t>(whole.size()));
  std::vector<size_t> starts;
  for (size_t at = 0; at < whole.size(); at += 7001) starts.push_back(at);
  std::shuffle(starts.begin(), starts.end(), std::mt19937(33));
  for (size_t at : starts) {
    const size_t n = std::min<size_t>(7001, whole.size() - at);
    std::vector<uint8_t> got(n);
    ASSERT_TRUE(f.ReadExactAt(static_cast<int64_t>(at), got.data(), n)) << f.Error();
    ASSERT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + static_cast<std::ptrdiff_t>(at))) << at;
  }
  uint8_t past[2];
  EXPECT_FALSE(f.ReadExactAt(static_cast<int64_t>(whole.size()) - 1, past, 2));
}

TEST_F(ContainerTracks, ChangedContainerIsRefusedAndAMissingIndexIsMadeAgain) {
  std::map<int, int64_t> lengths;
  std::string error;
  ASSERT_EQ(zv::IndexContainer(mkv_, lengths, error), zv::kOk) << error;
  fs::remove(mkv_ + ".zvi");
  EXPECT_FALSE(ReadTrack(zv::TrackPath(mkv_, 1, ".ac3")).empty());
  EXPECT_TRUE(fs::exists(mkv_ + ".zvi"));

  fs::last_write_time(mkv_, fs::last_write_time(mkv_) + std::chrono::seconds(3));
  zv::File f;
  EXPECT_FALSE(f.Open(zv::TrackPath(mkv_, 1, ".ac3"), zv::File::kRead));
  EXPECT_NE(f.Error().find("changed since its tracks were added"), std::string::npos) << f.Error();
  // A track the container does not carry, and a real file of a track's name.
  ASSERT_EQ(zv::IndexContainer(mkv_, lengths, error), zv::kOk) << error;
  EXPECT_FALSE(f.Open(zv::TrackPath(mkv_, 9, ".ac3"), zv::File::kRead));
  zvtest::WriteBytes(zv::TrackPath(mkv_, 1, ".ac3"), {1, 2, 3});
  ASSERT_TRUE(f.Open(zv::TrackPath(mkv_, 1, ".ac3"), zv::File::kRead));
  EXPECT_EQ(f.Length(), 3);
}

TEST(TrackPaths, SplitOnlyTheFormWeWrite) {
  std::string c, ext;
  int n = -1;
  EXPECT_TRUE(zv::SplitTrackPath("/a/b#c/movie.mkv#12.264", c, n, ext));
  EXPECT_EQ(c, "/a/b#c/movie.mkv");
  EXPECT_EQ(n, 12);
  EXPECT_EQ(ext, ".264");
  EXPECT_EQ(zv::TrackPath(c, n, ext), "/a/b#c/movie.mkv#12.264");
  for (const char* bad : {"movie.mkv", "movie.mkv#.264", "movie.mkv#1", "movie.mkv#x.ac3", "movie.mkv#1.AC3",
                          "movie.mkv#12345.ac3", "#1.ac3"})
    EXPECT_FALSE(zv::SplitTrackPath(bad, c, n, ext)) << bad;
}

}  // namespace

// The decisions of `quick` made before any file is read through: which
// movie each subtitle goes with, which files can be taken at all, and which
// videos are known to need encoding from their headers alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "edit/quick.h"
#include "support/test_support.h"

namespace {

using Lists = std::vector<std::vector<std::string>>;

TEST(QuickSubtitles, EachGoesWithTheMovieItsNameStartsWith) {
  Lists per;
  std::string error;
  // The longest name wins: "trip_2_fra" is the second trip's.
  ASSERT_TRUE(zvedit::MatchSubtitles({"a/trip.mkv", "b/trip_2.mp4"},
                                     {"x/trip_2_fra.srt", "trip_eng.srt", "trip_2.srt"}, per, error))
      << error;
  EXPECT_EQ(per, (Lists{{"trip_eng.srt"}, {"x/trip_2_fra.srt", "trip_2.srt"}}));
  // With one movie every subtitle is its own, whatever its name.
  ASSERT_TRUE(zvedit::MatchSubtitles({"film.mkv"}, {"english.srt", "french.srt"}, per, error));
  EXPECT_EQ(per, (Lists{{"english.srt", "french.srt"}}));
  EXPECT_FALSE(zvedit::MatchSubtitles({"trip.mkv", "phone.mp4"}, {"other.srt"}, per, error));
  EXPECT_EQ(error, "\"other.srt\" goes with no movie: name it after its movie, e.g. \"trip_fra.srt\" for \"trip.mkv\"");
}

TEST(QuickFiles, MissingFoldersEmptyFilesAndMoviesWithoutVideoAreRefusedByName) {
  zvtest::TempDir dir;
  zvtest::WriteText(dir / "film.mkv", "x");
  zvtest::WriteText(dir / "empty.srt", "");
  std::filesystem::create_directory(dir / "folder.mkv");
  std::string error;
  zvedit::SQuickRequest r;
  r.movies = {dir / "film.mkv"};
  EXPECT_TRUE(zvedit::CheckQuickFiles(r, error)) << error;
  r.subtitles = {dir / "empty.srt"};
  EXPECT_FALSE(zvedit::CheckQuickFiles(r, error));
  EXPECT_EQ(error, "\"" + dir / "empty.srt" + "\" is empty or cannot be read");
  r.subtitles.clear();
  r.movies.push_back(dir / "folder.mkv");
  EXPECT_FALSE(zvedit::CheckQuickFiles(r, error));
  EXPECT_EQ(error, "\"" + dir / "folder.mkv" + "\" is not a file");
  // A file without video is no movie.
  r.movies = {zvtest::CopyFixture("ac3_stereo.ac3", dir.Path())};
  EXPECT_FALSE(zvedit::CheckQuickFiles(r, error));
  EXPECT_EQ(error, "\"" + r.movies[0] + "\" has no video: each file is a movie (subtitles go with --subtitles)");
  r.movies = {dir / "gone.mp4"};
  EXPECT_FALSE(zvedit::CheckQuickFiles(r, error));
  EXPECT_EQ(error, "\"" + dir / "gone.mp4" + "\" does not exist");
}

TEST(QuickVideo, CodecsAndRatesNoDiscHasAreEncoded) {
  zvtest::TempDir dir;
  EXPECT_EQ(zvedit::VideoNeedsEncode(zvtest::CopyFixture("containers/hevc.mkv", dir.Path())),
            "hevc video is not a disc format");
  // H.264 at 23.976 and MPEG-2 at 29.97 are left to the analysis.
  EXPECT_EQ(zvedit::VideoNeedsEncode(zvtest::CopyFixture("containers/movie.mkv", dir.Path())), "");
  EXPECT_EQ(zvedit::VideoNeedsEncode(zvtest::CopyFixture("containers/dvd.vob", dir.Path())), "");
  EXPECT_EQ(zvedit::VideoNeedsEncode(zvtest::CopyFixture("fail_1080p30.264", dir.Path())),
            "30 frames a second is not a disc rate");
}

}  // namespace

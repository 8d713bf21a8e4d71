#include <gtest/gtest.h>

#include <string>

#include "platform/cache_path.h"
#include "platform/paths.h"

namespace {

// A file derived from a stream goes to the temporary folder under the
// stream's name; whatever that name's length, the name it is written under
// first (".tmp~" and a process id added) must still fit in a folder.
TEST(CachePathInTemp, WritingNameFitsWhateverTheStreamNameLength) {
  for (const std::string suffix : {".dsi", ".1080i29.97-still2.5s-b40000-superfast.264"}) {
    std::string previous;
    for (size_t n = 1; n <= 255; ++n) {
      const std::string stream = "/media/" + std::string(n, 'a');
      const std::string name = zv::FileNameOf(zv::CachePathInTemp(stream, suffix));
      EXPECT_LE(name.size() + std::string(".tmp~4194304").size(), 255u) << n << " " << suffix;
      EXPECT_EQ(name.substr(name.size() - suffix.size()), suffix);
      EXPECT_EQ(zv::FolderOf(zv::CachePathInTemp(stream, suffix)), zv::TempFolder());
    }
  }
  // One name, one place, on every run; other folders, other places.
  EXPECT_EQ(zv::CachePathInTemp("/a/film.264", ".dsi"), zv::CachePathInTemp("/a/film.264", ".dsi"));
  EXPECT_NE(zv::CachePathInTemp("/a/film.264", ".dsi"), zv::CachePathInTemp("/b/film.264", ".dsi"));
}

}  // namespace

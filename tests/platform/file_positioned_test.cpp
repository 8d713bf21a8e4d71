// Positioned reads and in-place rewriting, which the stream readers and the
// clip writer rely on.
#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"
#include "support/test_support.h"

namespace {

TEST(FilePositioned, ReadAtLeavesThePositionAndFailsPastTheEnd) {
  zvtest::TempDir dir;
  const std::string path = dir / "f.bin";
  zvtest::WriteText(path, "0123456789");
  zv::File f;
  ASSERT_TRUE(f.Open(path, zv::File::kRead));
  char two[3] = {};
  ASSERT_TRUE(f.ReadExact(two, 2));
  char b[4] = {};
  ASSERT_TRUE(f.ReadExactAt(6, b, 4));
  EXPECT_EQ(std::string(b, 4), "6789");
  // The sequential position did not move.
  ASSERT_TRUE(f.ReadExact(two, 2));
  EXPECT_EQ(std::string(two, 2), "23");
  EXPECT_FALSE(f.ReadExactAt(8, b, 4));
  EXPECT_EQ(f.Error(), "Cannot read \"" + path + "\": unexpected end of file");
  EXPECT_FALSE(f.ReadExactAt(-1, b, 1));
}

TEST(FilePositioned, OverwriteKeepsTheOldBytesUntilCutToLength) {
  zvtest::TempDir dir;
  const std::string path = dir / "clip.m2ts";
  zvtest::WriteText(path, "old old old");
  zv::File f;
  ASSERT_TRUE(f.Open(path, zv::File::kOverwrite));
  EXPECT_EQ(f.Length(), 11);
  ASSERT_TRUE(f.Write("new", 3));
  ASSERT_TRUE(f.Truncate(3));
  ASSERT_TRUE(f.Close());
  EXPECT_EQ(zvtest::ReadText(path), "new");
  // A missing file is created.
  zv::File g;
  ASSERT_TRUE(g.Open(dir / "fresh.m2ts", zv::File::kOverwrite));
  EXPECT_EQ(g.Length(), 0);
  // A folder is refused with the create wording.
  zv::File h;
  EXPECT_FALSE(h.Open(dir.Path(), zv::File::kOverwrite));
  EXPECT_EQ(h.Error().rfind("Cannot create \"" + dir.Path() + "\": ", 0), 0u) << h.Error();
}

}  // namespace

#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

}  // namespace

// Saving over an existing file (a project, a settings file) must update that
// file as the user set it up: through a link, with its permissions, and
// without a trace when the write fails.
TEST(WriteFileAtomic, ReplacesTheLinkedFileKeepsItsModeAndFailsCleanly) {
  zvtest::TempDir dir;
  const std::string real = dir / "real.zvpj", link = dir / "link.zvpj";
  zvtest::WriteText(real, "old");
  ASSERT_EQ(::chmod(real.c_str(), 0600), 0);
  fs::create_symlink(real, link);

  std::string error;
  ASSERT_TRUE(zv::WriteFileAtomic(link, "new", 3, error)) << error;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(zvtest::ReadText(real), "new");
  EXPECT_EQ(ModeOf(real), 0600u);

  // A folder that does not exist: the error names the file, nothing is left.
  const std::string missing = dir / "none/p.zvpj";
  EXPECT_FALSE(zv::WriteFileAtomic(missing, "x", 1, error));
  EXPECT_NE(error.find("Cannot create \"" + (dir / "none/.p.zvpj.")), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

// Stream input must be a seekable regular file. A named pipe without a writer
// would block the open forever; one with a writer would be read as a stream
// of unknown length. Both are refused with the file's name.
TEST(File, ReadRefusesPipesAndFolders) {
  zvtest::TempDir dir;
  const std::string fifo = dir / "audio.ac3";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Held open for writing, so that a reader that does open it cannot hang
  // this test.
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  zv::File f;
  EXPECT_FALSE(f.Open(fifo, zv::File::kRead));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Error(), "Cannot open \"" + fifo + "\": Not a regular file");
  ::close(writer);
  // Without a writer the refusal comes at once as well.
  EXPECT_FALSE(f.Open(fifo, zv::File::kRead));
  EXPECT_EQ(f.Error(), "Cannot open \"" + fifo + "\": Not a regular file");

  EXPECT_FALSE(f.Open(dir.Path(), zv::File::kRead));
  EXPECT_EQ(f.Error(), "Cannot open \"" + dir.Path() + "\": Is a directory");
}

// `zelvane build` as a user runs it: exit codes, the question before reusing
// an output folder, the messages, and the remembered OutFolder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"

using zvtest::RunResult;
using zvtest::TempDir;
namespace fs = std::filesystem;

namespace {

class BuildCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(ZV_BINARY)) << "build the zelvane target first: " << ZV_BINARY;
    project = dir / "disc.zvpj";
    ASSERT_EQ(Zelvane({"new", project}).status, 0);
  }
  // The settings file goes to this test's own folder.
  RunResult Zelvane(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"env", "XDG_CONFIG_HOME=" + dir.Path() + "/config", ZV_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return zvtest::Run(argv);
  }
  std::string Root() const { return out.Path() + "/Zelvane"; }

  TempDir dir, out;
  std::string project;
};

std::map<std::string, std::tuple<int64_t, int64_t>> SizesAndTimes(const std::string& root) {
  std::map<std::string, std::tuple<int64_t, int64_t>> m;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    struct stat st;
    EXPECT_EQ(::lstat(it->path().c_str(), &st), 0);
    m[it->path().string()] = {st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return m;
}

TEST_F(BuildCommand, BuildsAnEmptyProjectAndAsksBeforeReusingTheFolder) {
  RunResult r = Zelvane({"build", project, out.Path(), "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\"disc.zvpj\" built sucessfully! \n");
  EXPECT_TRUE(std::regex_search(r.err, std::regex(R"((^|\n)\[\d\d:\d\d:\d\d\]: Start to build\.\.\.\n)"))) << r.err;
  EXPECT_TRUE(std::regex_search(r.err, std::regex(R"(\n\[\d\d:\d\d:\d\d\]: Finalizing\.\.\.\n)"))) << r.err;
  EXPECT_EQ(fs::file_size(Root() + "/DISC/BDMV/index.bdmv"), 108u);
  EXPECT_EQ(fs::file_size(Root() + "/DISC/CERTIFICATE/id.bdmv"), 104u);
  EXPECT_NE(zvtest::ReadText(dir / "config/zelvane/settings.ini").find("OutFolder=" + out.Path() + "/\n"),
            std::string::npos);

  // Without a terminal the question is answered No: nothing changes.
  const auto before = SizesAndTimes(out.Path());
  r = Zelvane({"build", project, out.Path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(Root() + "\n exists, overwrite ? "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Start to build"), std::string::npos) << r.err;
  EXPECT_EQ(SizesAndTimes(out.Path()), before);
}

TEST_F(BuildCommand, OutputFolderThatCannotBeCreatedFails) {
  zvtest::WriteText(out / "file", "x");
  RunResult r = Zelvane({"build", project, out / "file/sub", "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Cannot create " + out.Path() + "/file/sub/Zelvane ! "), std::string::npos) << r.err;
}

TEST_F(BuildCommand, WriteErrorIsAFailureNeverASuccess) {
  fs::create_directories(Root() + "/DISC/BDMV/index.bdmv");
  RunResult r = Zelvane({"build", project, out.Path(), "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Cannot write \"" + Root() + "/DISC/BDMV/index.bdmv\": Is a directory"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(Root() + "/DISC/CERTIFICATE/id.bdmv"));
}

// A stream file that cannot be opened again would leave its tracks out of
// the disc; that is a failed build, not a smaller disc.
TEST_F(BuildCommand, LostSourceFileFailsTheBuild) {
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  RunResult add = Zelvane({"source", "add", project, "Movie#1/Clip#1", video, audio});
  ASSERT_EQ(add.status, 0) << add.err;
  fs::remove(audio);
  RunResult r = Zelvane({"build", project, out.Path(), "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("Cannot open \"" + audio + "\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"" + project + "\" was not built"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Root()));
}

TEST_F(BuildCommand, BadArgumentsAreUsageErrorsAndAMissingProjectFails) {
  EXPECT_EQ(Zelvane({"build", project}).status, 64);
  EXPECT_EQ(Zelvane({"build", project, out.Path(), "extra"}).status, 64);
  EXPECT_EQ(Zelvane({"build", project, out.Path(), "--force"}).status, 64);
  RunResult r = Zelvane({"build", dir / "missing.zvpj", out.Path(), "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.zvpj"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(Root()));
}

}  // namespace

// A disc built by zelvane as libbluray sees it. libbluray quietly reads the
// BACKUP copy of a navigation file it cannot parse, so the disc is also
// opened without its BACKUP folder, and the backups are checked separately.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

using zvtest::TempDir;
namespace fs = std::filesystem;

using zvtest::HasLine;

namespace {

class EmptyDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::string> env = {"env", "XDG_CONFIG_HOME=" + work_.Path() + "/config", ZV_BINARY};
    auto run = [&](std::vector<std::string> args) {
      std::vector<std::string> argv = env;
      argv.insert(argv.end(), args.begin(), args.end());
      return zvtest::Run(argv);
    };
    auto r = run({"new", work_ / "disc.zvpj"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run({"build", work_ / "disc.zvpj", work_ / "out", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    disc_ = work_ / "out/Zelvane/DISC";
  }

  // What libbluray reports for a disc of first play and top menu only.
  static void ExpectEmptyDisc(const std::string& disc) {
    auto r = zvtest::Run({ZV_BDCLIENT, "info", disc});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"disc bluray_detected 1", "disc bdj_detected 0", "disc first_play_supported 1",
                             "disc top_menu_supported 1", "disc num_titles 0", "disc num_hdmv_titles 0",
                             "disc_title top_menu movie_object 1 interactive 1 accessible 1 hidden 0",
                             "disc_title first_play movie_object 0 interactive 0 accessible 1 hidden 0",
                             "titles TITLES_ALL count 0"})
      EXPECT_TRUE(HasLine(r.out, line)) << line << "\n" << r.out;
  }

  TempDir work_;
  std::string disc_;
};

TEST_F(EmptyDisc, LibblurayOpensItWithFirstPlayAndTopMenu) {
  ExpectEmptyDisc(disc_);
  if (!zvtest::HaveProgram("bd_info")) GTEST_SKIP() << "bd_info not installed";
  auto r = zvtest::Run({"bd_info", disc_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("First Play supported: yes"), std::string::npos) << r.out;
}

TEST_F(EmptyDisc, MainFilesStandAloneAndBackupsAreIdentical) {
  TempDir copy;
  fs::copy(disc_, copy.Path(), fs::copy_options::recursive);
  fs::remove_all(copy / "BDMV/BACKUP");
  fs::remove_all(copy / "CERTIFICATE/BACKUP");
  ExpectEmptyDisc(copy.Path());

  for (const char* f : {"index.bdmv", "MovieObject.bdmv"}) {
    const auto main = zvtest::ReadBytes(disc_ + "/BDMV/" + f);
    EXPECT_FALSE(main.empty()) << f;
    EXPECT_EQ(zvtest::ReadBytes(disc_ + "/BDMV/BACKUP/" + f), main) << f;
  }
  EXPECT_EQ(zvtest::ReadBytes(disc_ + "/CERTIFICATE/BACKUP/id.bdmv"),
            zvtest::ReadBytes(disc_ + "/CERTIFICATE/id.bdmv"));
}

}  // namespace

// `zelvane image` refuses what a disc image cannot hold, naming the entry,
// reads nothing outside the folder, and leaves no image behind when it
// refuses, fails or is cancelled.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

class ImageCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    disc_ = work_ / "DISC";
    fs::create_directories(disc_ + "/BDMV/STREAM");
    fs::create_directories(work_ / "out");
    zvtest::WriteText(disc_ + "/BDMV/index.bdmv", "INDX0200");
    out_ = work_ / "out/disc.iso";
  }
  // Refused with exit 2, the message naming `what`, and nothing written.
  void ExpectRefused(const std::vector<std::string>& extra, const std::string& what) {
    std::vector<std::string> args = {"image", disc_, out_};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = zvtest::Zelvane(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(Contains(r.err, what)) << r.err;
    EXPECT_TRUE(fs::is_empty(work_ / "out")) << "a refused image left a file";
  }
  zvtest::TempDir work_;
  std::string disc_, out_;
};

TEST_F(ImageCommand, RefusesWhatUdfCannotHoldNamingTheEntry) {
  // A link to a file outside the folder: its bytes must never be read.
  zvtest::WriteText(work_ / "secret.txt", "outside");
  const std::string link = disc_ + "/BDMV/STREAM/00000.m2ts";
  ASSERT_EQ(::symlink((work_ / "secret.txt").c_str(), link.c_str()), 0);
  ExpectRefused({}, "\"" + link + "\" is a symbolic link");
  fs::remove(link);

  const std::string fifo = disc_ + "/BDMV/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ExpectRefused({}, "\"" + fifo + "\" is not a regular file or folder");
  fs::remove(fifo);

  const std::string latin1 = disc_ + "/BDMV/caf\xE9.txt";  // not UTF-8
  zvtest::WriteText(latin1, "x");
  ExpectRefused({}, "\"" + latin1 + "\": UDF cannot store this name");
  fs::remove(latin1);

  const std::string emoji = disc_ + "/BDMV/\xF0\x9F\x8E\xAC.txt";  // beyond U+FFFF
  zvtest::WriteText(emoji, "x");
  ExpectRefused({}, "UDF cannot store this name");
  fs::remove(emoji);

  const std::string longName = disc_ + "/" + std::string(100, 'a') + "\xC4\x80";  // 101 wide characters fit
  zvtest::WriteText(longName, "x");
  EXPECT_EQ(zvtest::Zelvane({"image", disc_, out_}).status, 0);
  fs::remove(out_);
  const std::string tooLong = disc_ + "/" + std::string(127, 'b') + "\xC4\x80";  // 128 wide characters do not
  zvtest::WriteText(tooLong, "x");
  ExpectRefused({}, "the name is too long for UDF");
  fs::remove(tooLong);
  fs::remove(longName);

  // The folder must be a disc, and the image must not go into it.
  const auto notDisc = zvtest::Zelvane({"image", work_ / "out", work_ / "x.iso"});
  EXPECT_EQ(notDisc.status, 2);
  EXPECT_TRUE(Contains(notDisc.err, "holds no BDMV folder")) << notDisc.err;
  const auto inside = zvtest::Zelvane({"image", disc_, disc_ + "/disc.iso"});
  EXPECT_EQ(inside.status, 2);
  EXPECT_TRUE(Contains(inside.err, "must go outside the disc folder")) << inside.err;
  EXPECT_FALSE(fs::exists(disc_ + "/disc.iso"));

  // Options that cannot be met are refused before any work.
  ExpectRefused({"--label", std::string(31, 'L')}, "too long");
  ExpectRefused({"--label", "a\tb"}, "control character");
  ExpectRefused({"--time", "2026-02-30T00:00:00Z"}, "--time");
  ExpectRefused({"--capacity", "BD-30"}, "--capacity");
  // What is left is a good image.
  const auto ok = zvtest::Zelvane({"image", disc_, out_, "--label", "OK"});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(fs::file_size(out_) % 2048, 0u);
  if (zvtest::HaveProgram("7z")) {
    const auto l = zvtest::Run({"7z", "l", out_});
    EXPECT_EQ(l.status, 0) << l.out;
    EXPECT_EQ(l.out.find("ERROR"), std::string::npos) << l.out;
    // The line of index.bdmv: its 8 bytes, one block.
    const size_t k = l.out.find("BDMV/index.bdmv");
    ASSERT_NE(k, std::string::npos) << l.out;
    const std::string line = l.out.substr(l.out.rfind('\n', k) + 1, k - l.out.rfind('\n', k) - 1);
    EXPECT_NE(line.find(" 8 "), std::string::npos) << line;
  }
}

TEST_F(ImageCommand, WarnsWhenTheDiscTypeIsTooSmallAndKeepsAnExistingImageOnNo) {
  const auto r = zvtest::Zelvane({"image", disc_, out_, "--capacity", "1000000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.err, "warning: the image (")) << r.err;
  EXPECT_TRUE(Contains(r.err, "exceeds the capacity of 1,000,000 bytes")) << r.err;
  const auto before = zvtest::ReadBytes(out_);
  // Without a terminal the question is answered No.
  zvtest::WriteText(disc_ + "/BDMV/MovieObject.bdmv", "MOBJ0200");
  const auto again = zvtest::Zelvane({"image", disc_, out_});
  EXPECT_EQ(again.status, 1) << again.err;
  EXPECT_TRUE(zvtest::ReadBytes(out_) == before);
  const auto yes = zvtest::Zelvane({"image", disc_, out_, "--yes"});
  EXPECT_EQ(yes.status, 0) << yes.err;
  EXPECT_FALSE(Contains(yes.err, "warning")) << yes.err;
  EXPECT_FALSE(zvtest::ReadBytes(out_) == before);
}

}  // namespace

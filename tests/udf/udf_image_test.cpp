// The image writer's own promises that the readers of the interop test do
// not see: the reading order of file data, and that a cancel or a failed
// write leaves no image, finished-looking or not.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "support/test_support.h"
#include "udf/udf_descriptors.h"
#include "udf/udf_image.h"

namespace fs = std::filesystem;

namespace {

TEST(UdfDescriptors, CrcIsCrcItuT) {
  // The check value of CRC-16 with polynomial 0x1021 and initial value 0.
  const std::string s = "123456789";
  EXPECT_EQ(zv::udf::CrcItuT(reinterpret_cast<const uint8_t*>(s.data()), s.size()), 0x31C3);
}

class UdfImage : public ::testing::Test {
 protected:
  void SetUp() override {
    disc_ = work_ / "DISC";
    // Written out of reading order; each file's bytes are unique so they
    // can be found in the image.
    for (const char* f : {"BDMV/BACKUP/index.bdmv", "BDMV/STREAM/00001.m2ts", "BDMV/STREAM/00000.m2ts",
                          "BDMV/CLIPINF/00000.clpi", "BDMV/PLAYLIST/00000.mpls", "BDMV/MovieObject.bdmv",
                          "BDMV/index.bdmv", "CERTIFICATE/id.bdmv"}) {
      fs::create_directories(fs::path(disc_ + "/" + f).parent_path());
      zvtest::WriteText(disc_ + "/" + f, std::string("content of ") + f + std::string(3000, '.'));
    }
    fs::create_directories(work_ / "out");
    out_ = work_ / "out/disc.iso";
  }
  zvtest::TempDir work_;
  std::string disc_, out_;
};

TEST_F(UdfImage, FileDataComesInReadingOrder) {
  zv::udf::SImageTree tree;
  std::string error;
  ASSERT_EQ(zv::udf::ScanDiscFolder(disc_, tree, error), zv::kOk) << error;
  zv::udf::SImageOptions o{"ORDER", 1700000000};
  ASSERT_EQ(zv::udf::WriteDiscImage(tree, out_, o, zv::Progress{}, error), zv::kOk) << error;
  const auto image = zvtest::ReadBytes(out_);
  EXPECT_EQ(image.size(), zv::udf::ImageBytes(tree));
  std::vector<size_t> at;
  for (const char* f : {"BDMV/index.bdmv", "BDMV/MovieObject.bdmv", "BDMV/PLAYLIST/00000.mpls",
                        "BDMV/CLIPINF/00000.clpi", "CERTIFICATE/id.bdmv", "BDMV/STREAM/00000.m2ts",
                        "BDMV/STREAM/00001.m2ts", "BDMV/BACKUP/index.bdmv"}) {
    const std::string needle = std::string("content of ") + f;
    const auto it = std::search(image.begin(), image.end(), needle.begin(), needle.end());
    ASSERT_NE(it, image.end()) << f;
    const size_t pos = static_cast<size_t>(it - image.begin());
    EXPECT_EQ(pos % 2048, 0u) << f << " does not start a block";
    at.push_back(pos);
  }
  EXPECT_TRUE(std::is_sorted(at.begin(), at.end()));
  // Each file follows the one before without a gap: 3000-odd bytes take two blocks.
  EXPECT_EQ(at.back() - at.front(), 7u * 2 * 2048);
}

int StopAt(void* ctx, const zv::SProgressInfo* info) {
  int& calls = *static_cast<int*>(ctx);
  return info->kind == zv::kProgressValue && ++calls > 2 ? 0 : 1;
}

TEST_F(UdfImage, CancelAndWriteFailureLeaveNoImage) {
  zv::udf::SImageTree tree;
  std::string error;
  ASSERT_EQ(zv::udf::ScanDiscFolder(disc_, tree, error), zv::kOk) << error;
  zv::udf::SImageOptions o{"GONE", 0};
  int calls = 0;
  EXPECT_EQ(zv::udf::WriteDiscImage(tree, out_, o, zv::Progress{&StopAt, &calls}, error), zv::kCancelled);
  EXPECT_TRUE(fs::is_empty(work_ / "out"));

  // A full disk, as the file-size limit makes it: the write error is
  // reported and the partial image removed.
  zvtest::WriteText(disc_ + "/BDMV/STREAM/00002.m2ts", std::string(3 << 20, 'x'));
  ASSERT_EQ(zv::udf::ScanDiscFolder(disc_, tree, error), zv::kOk) << error;
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 1 << 20;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const int rc = zv::udf::WriteDiscImage(tree, out_, o, zv::Progress{}, error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(rc, zv::kFailed);
  EXPECT_NE(error.find("Cannot write"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_empty(work_ / "out"));
}

TEST(UdfCapacity, NamesTheDiscTypeExceeded) {
  using namespace zv::udf;
  EXPECT_EQ(CapacityWarning(kBd25Bytes, 0), "");
  EXPECT_EQ(CapacityWarning(kBd25Bytes + 2048, 0),
            "the image (25,025,316,864 bytes) exceeds a BD-25 (25,025,314,816 bytes); it needs a BD-50");
  EXPECT_NE(CapacityWarning(kBd100Bytes + 1, 0).find("a BD-100 (100,103,356,416 bytes), the largest disc"),
            std::string::npos);
  EXPECT_TRUE(CapacityWarning(kBd25Bytes + 1, kBd50Bytes).empty());
  uint64_t c = 0;
  EXPECT_TRUE(ParseCapacity("bd-50", c));
  EXPECT_EQ(c, kBd50Bytes);
  EXPECT_FALSE(ParseCapacity("BD-30", c));
  EXPECT_EQ(LabelFromName("My \x01Movie: the extended, remastered director's cut"),
            "My Movie: the extended, remast");
  EXPECT_EQ(LabelFromName("\x01"), "DISC");
}

}  // namespace

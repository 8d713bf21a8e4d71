// Where units come from: a main file with a second file on the same PID,
// and file lists played as one stream.
#include <gtest/gtest.h>

#include <filesystem>

#include "mux/file_pipe.h"
#include "mux/fl_pipe.h"
#include "pipe_ts_reader.h"
#include "support/test_support.h"

using namespace zv;

namespace {

constexpr uint32_t kAc3Units = 63;    // ffprobe: 63 frames in each AC-3 fixture
constexpr uint32_t kAc3Ticks = 2880;  // 32 ms at 90 kHz

SPipeSource List(std::vector<CFileItem> files) {
  SPipeSource s;
  s.files = std::move(files);
  return s;
}

}  // namespace

TEST(PipeSourcesTest, SecondFileMergesByDtsMainFirst) {
  zvtest::TempDir dir;
  SPipeSource src;
  src.params.path = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  src.params.secondPath = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  const auto mainBytes = zvtest::ReadBytes(src.params.path);
  const auto secondBytes = zvtest::ReadBytes(src.params.secondPath);
  CFilePipe pipe(src);
  ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
  ASSERT_NE(pipe.GetSecondStream(), nullptr);

  SStartInfo start;
  ASSERT_TRUE(pipe.GetStartInfo(start));
  // Both first units: 1792 and 2560 bytes with 167 bytes of room in their
  // first packets: 10 + 15 packets.
  EXPECT_EQ(start.packets, 25u);
  EXPECT_EQ(pipe.GetTotalBytes(), mainBytes.size() + secondBytes.size());

  // Equal times throughout: main, second, main, second ... then the end unit.
  std::vector<bool> fromMain;
  std::vector<uint32_t> dts;
  while (const AUI* au = pipe.NextAu()) {
    if (au->size == 0) {
      EXPECT_EQ(au->pts, 131070 + kAc3Units * kAc3Ticks);
      continue;
    }
    fromMain.push_back(pipe.IsBaseAu());
    dts.push_back(au->dts);
    // The unit's bytes come from the file it was served for.
    const auto& file = pipe.IsBaseAu() ? mainBytes : secondBytes;
    std::vector<uint8_t> bytes(au->size);
    ASSERT_EQ(pipe.ReadAuBytes(bytes.data(), bytes.size()), bytes.size());
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), file.begin() + au->offset));
  }
  ASSERT_EQ(fromMain.size(), 2 * kAc3Units);
  for (size_t i = 0; i < fromMain.size(); ++i) {
    EXPECT_EQ(fromMain[i], i % 2 == 0) << "unit " << i;
    EXPECT_EQ(dts[i], 131070 + (i / 2) * kAc3Ticks) << "unit " << i;
  }
  EXPECT_EQ(pipe.NextAu(), nullptr);
}

TEST(PipeSourcesTest, SecondFileUnitsKeepTheirOwnExtensionAndNoKeyPoints) {
  zvtest::TempDir dir;
  SPipeSource src;
  src.params.path = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  src.params.secondPath = zvtest::CopyFixture("ac3_mono.ac3", dir.Path());
  CFilePipe pipe(src);
  ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
  auto units = pipetest::Drain(pipe, 0x1100, 0, true);
  ASSERT_EQ(units.size(), 2 * kAc3Units + 1);
  // The continuity counter runs across both files: they share one PID.
  uint8_t expectCc = 0;
  for (const auto& u : units)
    for (const auto& p : u.packets) {
      ASSERT_EQ(p[3] & 0x0F, expectCc);
      expectCc = (expectCc + 1) & 0x0F;
    }
  // Key points index the main file's units only.
  for (const auto& kp : pipe.KeyPoints()) EXPECT_EQ(kp.pts, 131070 + uint64_t(kp.auIndex) * kAc3Ticks);
  EXPECT_EQ(pipe.KeyPoints().size(), 4u);
}

TEST(PipeSourcesTest, FileListContinuesAfterItemDuration) {
  zvtest::TempDir dir;
  const std::string a = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string bDir = dir / "b";
  std::filesystem::create_directories(bDir);
  const std::string b = zvtest::CopyFixture("ac3_stereo.ac3", bDir);

  // 1000 ms rounds to 31 units, fewer than the file's 63: the file's own
  // length counts, trunc(63 x 32 x 90) = 181440 ticks.
  // 10000 ms is 312.5 units, rounded up to 313: trunc(313 x 32 x 90) = 901440.
  for (auto [itemMs, shift] : {std::pair{1000, 181440u}, std::pair{10000, 901440u}}) {
    SCOPED_TRACE(itemMs);
    CFlPipe pipe(List({{a, itemMs}, {b, 1000}}));
    ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
    EXPECT_EQ(pipe.GetTotalBytes(), 2u * 112896);
    SStartInfo start;
    ASSERT_TRUE(pipe.GetStartInfo(start));
    EXPECT_EQ(start.pts, 131070u);

    std::vector<uint32_t> pts;
    std::vector<size_t> file;
    while (const AUI* au = pipe.NextAu()) {
      ASSERT_GT(au->size, 0u);  // a list has no empty end unit
      pts.push_back(au->pts);
      file.push_back(pipe.CurrentFileIndex());
    }
    ASSERT_EQ(pts.size(), 2 * kAc3Units);
    EXPECT_EQ(pts[kAc3Units - 1], 131070 + (kAc3Units - 1) * kAc3Ticks);
    EXPECT_EQ(file[kAc3Units - 1], 0u);
    EXPECT_EQ(file[kAc3Units], 1u);
    EXPECT_EQ(pts[kAc3Units], 131070 + shift);
    EXPECT_EQ(pts.back(), 131070 + shift + (kAc3Units - 1) * kAc3Ticks);
    // Exhausted for good.
    EXPECT_EQ(pipe.NextAu(), nullptr);
    EXPECT_EQ(pipe.NextAu(), nullptr);
    EXPECT_FALSE(pipe.Failed());
    // Start values still describe the first file once it is closed.
    ASSERT_TRUE(pipe.GetStartInfo(start));
    EXPECT_EQ(start.pts, 131070u);
    EXPECT_EQ(start.packets, 10u);
  }
}

TEST(PipeSourcesTest, FileListKeyPointsSpanTheFiles) {
  zvtest::TempDir dir;
  const std::string a = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  std::filesystem::create_directories(dir / "b");
  const std::string b = zvtest::CopyFixture("ac3_stereo.ac3", dir / "b");
  CFlPipe pipe(List({{a, 0}, {b, 0}}));
  ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
  auto units = pipetest::Drain(pipe, 0x1100, 0, true);
  ASSERT_EQ(units.size(), 2 * kAc3Units);
  const CKpiFolder& kps = pipe.KeyPoints();
  ASSERT_FALSE(kps.empty());
  for (size_t i = 1; i < kps.size(); ++i) {
    EXPECT_GE(kps[i].pts - kps[i - 1].pts, 45000u);
    EXPECT_GT(kps[i].auIndex, kps[i - 1].auIndex);
  }
  // Indices count from the list's first unit: the one at 126 x 2880 ticks
  // past the start is unit 126 of the list (63 of the second file).
  EXPECT_EQ(kps.back().pts, 131070 + uint64_t(kps.back().auIndex) * kAc3Ticks);
  EXPECT_GE(kps.back().auIndex, int32_t(kAc3Units));
}

TEST(PipeSourcesTest, FileListOfDifferentStreamsIsRefused) {
  zvtest::TempDir dir;
  const std::string stereo = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string surround = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  for (const auto& other : {surround, video}) {
    SCOPED_TRACE(other);
    ScriptedPrompt prompt;
    CFlPipe pipe(List({{stereo, 0}, {other, 0}}));
    EXPECT_EQ(pipe.Open(Progress{}, &prompt), kFailed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find(other), std::string::npos);
    EXPECT_EQ(pipe.NextAu(), nullptr);
  }
  ScriptedPrompt prompt;
  CFlPipe empty(List({}));
  EXPECT_EQ(empty.Open(Progress{}, &prompt), kFailed);
  EXPECT_EQ(prompt.messages.size(), 1u);
}

TEST(PipeSourcesTest, MissingFileFailsOpen) {
  zvtest::TempDir dir;
  SPipeSource src;
  src.params.path = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  src.params.secondPath = dir / "absent.thd";
  ScriptedPrompt prompt;
  CFilePipe pipe(src);
  EXPECT_EQ(pipe.Open(Progress{}, &prompt), kFailed);
  EXPECT_EQ(pipe.GetStream(), nullptr);
  EXPECT_EQ(pipe.NextAu(), nullptr);
  EXPECT_EQ(pipe.GetPresentationStart(), 131070u);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_NE(prompt.messages[0].find("absent.thd"), std::string::npos);
}

// A stream served while it is analysed: the same units, bytes and times as
// the finished analysis gives, and no end of stream when the analysis ends
// otherwise than what was served announced.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "streams/live_analysis.h"
#include "streams/stream_context.h"
#include "support/test_support.h"

namespace {

using zvtest::TempDir;

struct SServed {
  uint64_t offset = 0;
  uint32_t size = 0, pts = 0, dts = 0, flags = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const SServed&) const = default;
};

std::vector<SServed> ServeAll(zv::SStreamContext& ctx) {
  std::vector<SServed> v;
  while (const zv::AUI* au = zv::NextAu(ctx))
    v.push_back({au->offset, au->size, au->pts, au->dts, au->flags,
                 std::vector<uint8_t>(ctx.unitBytes, ctx.unitBytes + au->size)});
  return v;
}

zv::SSourceParams Whole(const std::string& path) {
  zv::SSourceParams p;
  p.path = path;
  return p;
}

TEST(LiveAnalysis, ServesWhatTheFinishedAnalysisHolds) {
  TempDir dir;
  // Long enough for the reader to wait on the parser now and then.
  const std::vector<uint8_t> gops = zvtest::ReadBytes(zvtest::CopyFixture("h264_1080p2398.264", dir.Path()));
  const std::string path = dir / "long.264";
  {
    std::ofstream f(path, std::ios::binary);
    for (int i = 0; i < 20; ++i) f.write(reinterpret_cast<const char*>(gops.data()), static_cast<long>(gops.size()));
  }
  std::vector<SServed> live;
  int64_t liveOffset = 0;
  {
    zv::CLiveAnalysis analysis(path);
    zv::SStreamContext ctx;
    ASSERT_EQ(zv::OpenStream(Whole(path), ctx, {}, nullptr), zv::kOk);
    EXPECT_EQ(ctx.live, &analysis);
    liveOffset = ctx.timeOffset;
    live = ServeAll(ctx);
    EXPECT_TRUE(ctx.Exhausted());
    // Went on from the finished stream information.
    EXPECT_EQ(ctx.live, nullptr);
    EXPECT_EQ(ctx.header.auCount, 960u);
    EXPECT_EQ(analysis.Wait(), zv::kOk);
    EXPECT_FALSE(analysis.Diverged());
  }
  zv::SStreamContext ctx;
  ASSERT_EQ(zv::OpenStream(Whole(path), ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.live, nullptr);
  EXPECT_EQ(ctx.timeOffset, liveOffset);
  const std::vector<SServed> stored = ServeAll(ctx);
  ASSERT_EQ(stored.size(), 960u);
  EXPECT_TRUE(live == stored);
}

TEST(LiveAnalysis, AnAnalysisThatEndsOtherwiseStopsTheStream) {
  TempDir dir;
  // One picture alone is a still, which the PMT announces: known only at
  // the end, after the unit was published as an ordinary picture.
  const std::string full = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  uint32_t firstSize = 0;
  {
    zv::SStreamContext ctx;
    ASSERT_EQ(zv::OpenStream(Whole(full), ctx, {}, nullptr), zv::kOk);
    auto au = zv::GetAu(0, ctx);
    ASSERT_TRUE(au);
    ASSERT_EQ(au->offset, 0u);
    firstSize = au->size;
  }
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(full);
  const std::string still = dir / "still.264";
  std::ofstream(still, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), firstSize);
  const std::string vfr = zvtest::CopyFixture("fail_vfr.264", dir.Path());

  for (const std::string& path : {still, vfr}) {
    SCOPED_TRACE(path);
    zv::CLiveAnalysis analysis(path);
    zv::SStreamContext ctx;
    ASSERT_EQ(zv::OpenStream(Whole(path), ctx, {}, nullptr), zv::kOk);
    ASSERT_EQ(ctx.live, &analysis);
    const std::vector<SServed> served = ServeAll(ctx);
    // Units may have been served, but the stream fails instead of ending.
    EXPECT_FALSE(ctx.Exhausted());
    if (path == still) {
      EXPECT_EQ(served.size(), 1u);
      EXPECT_EQ(analysis.Wait(), zv::kOk);
      EXPECT_TRUE(analysis.Diverged());
    } else {
      EXPECT_NE(analysis.Wait(), zv::kOk);
      EXPECT_FALSE(std::filesystem::exists(zv::SifPathBeside(vfr)));
    }
  }
}

}  // namespace

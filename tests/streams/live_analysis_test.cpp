// A stream served while it is analysed: the same units, bytes and times as
// the finished analysis gives, and no end of stream when the analysis ends
// otherwise than what was served announced.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "streams/live_analysis.h"
#include "streams/stream_context.h"
#include "streams/video_builders.h"
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

// Long enough for the reader to wait on the parser now and then: a fixture
// 20 times over.
std::string Repeated(const TempDir& dir, const std::string& fixture, const std::string& name) {
  const std::vector<uint8_t> once = zvtest::ReadBytes(zvtest::CopyFixture(fixture, dir.Path()));
  std::ofstream f(dir / name, std::ios::binary);
  for (int i = 0; i < 20; ++i) f.write(reinterpret_cast<const char*>(once.data()), static_cast<long>(once.size()));
  return dir / name;
}

TEST(LiveAnalysis, ServesWhatTheFinishedAnalysisHolds) {
  TempDir dir;
  std::string segments = "IPBBPBB";
  for (int i = 0; i < 150; ++i) segments += "|IPBBPBB";
  zvtest::WriteBytes(dir / "long.vc1", zvtest::Vc1Stream(zvtest::Vc1Sequence{}, segments));
  const std::pair<std::string, uint32_t> streams[] = {{Repeated(dir, "h264_1080p2398.264", "long.264"), 960},
                                                      {Repeated(dir, "m2v_1080p2398.m2v", "long.m2v"), 0},
                                                      {dir / "long.vc1", 151 * 7}};
  for (const auto& [path, units] : streams) {
    SCOPED_TRACE(path);
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
      EXPECT_EQ(analysis.Wait(), zv::kOk);
      EXPECT_FALSE(analysis.Diverged());
    }
    zv::SStreamContext ctx;
    ASSERT_EQ(zv::OpenStream(Whole(path), ctx, {}, nullptr), zv::kOk);
    EXPECT_EQ(ctx.live, nullptr);
    EXPECT_EQ(ctx.timeOffset, liveOffset);
    const std::vector<SServed> stored = ServeAll(ctx);
    if (units) {
      EXPECT_EQ(stored.size(), units);
    }
    EXPECT_GT(stored.size(), 100u);
    EXPECT_TRUE(live == stored);
  }
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

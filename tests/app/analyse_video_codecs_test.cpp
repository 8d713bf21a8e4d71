// `zelvane analyse` on MPEG-2 and VC-1 video: the codec's own names and
// record values in the text and JSON reports.
#include <gtest/gtest.h>

#include "streams/stream_test_util.h"
#include "streams/video_builders.h"
#include "support/test_support.h"

namespace {

zvtest::RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return zvtest::Run(argv);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(AnalyseVideoCodecs, Mpeg2ReportAndRecord) {
  zvtest::TempDir dir;
  const std::string v = zvtest::CopyFixture("m2v_1440x1080i25.m2v", dir.Path());
  auto r = Zv({"analyse", v});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "MPEG-2 video")) << r.out;
  EXPECT_TRUE(Has(r.out, "Main@High 1440")) << r.out;
  EXPECT_TRUE(Has(r.out, "1080i")) << r.out;
  EXPECT_TRUE(Has(r.out, "1440x1080")) << r.out;
  EXPECT_TRUE(Has(r.out, "access units:       25")) << r.out;

  auto j = Zv({"analyse", "--json", v});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_TRUE(Has(j.out, "\"streamCodingType\":2")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"sequenceHeaders\":2")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"sequenceEnds\":0")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"firstSequenceHeader\":{\"offset\":0,\"length\":22}")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"progressive\":false")) << j.out;
}

TEST(AnalyseVideoCodecs, Vc1ReportAndRecord) {
  zvtest::TempDir dir;
  zvtest::Vc1Sequence s;
  s.codedWidth = s.displayWidth = 1280;
  s.codedHeight = s.displayHeight = 720;
  s.interlace = s.pulldown = false;
  s.frameRateNr = 5;
  zvtest::WriteBytes(dir / "v.vc1", zvtest::Vc1Stream(s, "IPBB|IPBB"));
  auto r = Zv({"analyse", dir / "v.vc1"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "VC-1")) << r.out;
  EXPECT_TRUE(Has(r.out, "Advanced@L3")) << r.out;
  EXPECT_TRUE(Has(r.out, "720p")) << r.out;
  EXPECT_TRUE(Has(r.out, "59.94")) << r.out;
  auto j = Zv({"analyse", "--json", dir / "v.vc1"});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_TRUE(Has(j.out, "\"streamCodingType\":234")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"hrdRate\":19988480,\"hrdBufferBits\":14999552")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"accessUnits\":8")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"progressive\":true")) << j.out;
}

}  // namespace

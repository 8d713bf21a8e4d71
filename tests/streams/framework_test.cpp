// The parser framework: choosing a parser, the stream-information cache and
// its fallback folder, cancellation, range selection and serving units.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/parse_result.h"
#include "streams/parser_base.h"
#include "support/test_support.h"

using namespace zvtest;
namespace fs = std::filesystem;

namespace {

TEST(Framework, RecognisesByContentWhateverTheExtension) {
  TempDir dir;
  // H.264 under the AC-3 extension: the AC-3 parser declines, H.264 takes it.
  fs::copy_file(DataPath("h264_720p5994.264"), dir / "video.ac3");
  // AC-3 under the WAV extension, whose parser is tried first.
  fs::copy_file(DataPath("ac3_mono.ac3"), dir / "audio.wav");
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "video.ac3", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctH264);
  ASSERT_EQ(OpenWhole(dir / "audio.wav", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctAc3);

  WriteText(dir / "notes.264", "just some text, no stream at all\n");
  zv::ScriptedPrompt prompt;
  EXPECT_EQ(OpenWhole(dir / "notes.264", ctx, &prompt), zv::kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0], dir / "notes.264" + "\nUnknown file format! ");
  EXPECT_FALSE(zv::PathExists(dir / "notes.264.dsi"));

  prompt.messages.clear();
  EXPECT_EQ(OpenWhole(dir / "missing.264", ctx, &prompt), zv::kFailed);
  ASSERT_EQ(prompt.messages.size(), 1u);
  EXPECT_EQ(prompt.messages[0].rfind("Cannot open \"" + dir / "missing.264" + "\": ", 0), 0u);
}

TEST(Framework, StreamInformationIsReusedUntilTheStreamChanges) {
  TempDir dir;
  std::string path = CopyFixture("h264_720p5994.264", dir.Path());
  ParseCounter counter;
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 1);
  const uint32_t count = ctx.header.auCount;
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 1);
  EXPECT_EQ(ctx.header.auCount, count);

  // A new modification time makes it stale.
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::seconds(2));
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 2);
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 2);

  // A damaged file is silently rebuilt.
  auto dsi = ReadBytes(path + ".dsi");
  dsi.resize(dsi.size() - 10);
  WriteBytes(path + ".dsi", dsi);
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 3);
  EXPECT_EQ(ctx.header.auCount, count);

  // So is a table whose header still reads well but whose units do not fit
  // the stream: unit 1's offset (bytes 4..11 of its 28-byte record) points
  // past the end of the file.
  dsi = ReadBytes(path + ".dsi");
  const size_t unit1 = ctx.header.auTablePos + 28 + 4;
  ASSERT_LT(unit1 + 8, dsi.size());
  for (size_t i = 0; i < 8; ++i) dsi[unit1 + i] = 0x7F;
  WriteBytes(path + ".dsi", dsi);
  fs::last_write_time(path + ".dsi", fs::last_write_time(path));
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 4);
  EXPECT_EQ(ctx.header.auCount, count);
}

TEST(Framework, UnwritableFolderUsesTheTemporaryFolder) {
  TempDir dir;
  // A unique name: the fallback file is named after the stream only.
  std::string name = "zv-fallback-" + zv::FileNameOf(dir.Path()) + ".ac3";
  fs::copy_file(DataPath("ac3_stereo.ac3"), dir / name);
  // The stream-information name beside the stream is taken by a folder, so
  // it cannot be created there (permission bits would not stop root).
  fs::create_directory(dir / (name + ".dsi"));
  const std::string temp = zv::SifPathInTemp(dir / name);
  struct Cleanup {
    std::string p;
    ~Cleanup() { std::error_code ec; fs::remove(p, ec); }
  } cleanup{temp};

  ParseCounter counter;
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / name, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.sifPath, temp);
  EXPECT_TRUE(zv::PathExists(temp));
  ASSERT_EQ(OpenWhole(dir / name, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 1);
  EXPECT_EQ(ctx.header.auCount, 63u);
}

TEST(Framework, CancelLeavesNothingAndShowsNothing) {
  TempDir dir;
  std::string path = CopyFixture("h264_1080p2398.264", dir.Path());
  struct Stopper {
    int values = 0;
    static int Cb(void* c, const zv::SProgressInfo* i) {
      auto* s = static_cast<Stopper*>(c);
      return (i->kind == zv::kProgressValue && ++s->values > 20) ? 0 : 1;
    }
  } stopper;
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt, zv::Progress{&Stopper::Cb, &stopper}), zv::kCancelled);
  EXPECT_TRUE(prompt.messages.empty());
  EXPECT_FALSE(zv::PathExists(path + ".dsi"));
}

class Ranges : public ::testing::Test {
 protected:
  // 48 frames with an IDR every 12 (0, 12, 24, 36).
  void SetUp() override { path_ = CopyFixture("h264_1080p2398.264", dir_.Path()); }
  int Open(int timeMode, int64_t in, int64_t out) {
    zv::SSourceParams src;
    src.path = path_;
    src.timeMode = timeMode;
    src.in = in;
    src.out = out;
    return zv::OpenStream(src, ctx_, {}, nullptr);
  }
  TempDir dir_;
  std::string path_;
  zv::SStreamContext ctx_;
};

TEST_F(Ranges, KeyUnitSearchTiesGoForward) {
  ASSERT_EQ(Open(0, 0, 0), zv::kOk);
  EXPECT_EQ(zv::FindKeyAu(ctx_, 12), 12);
  EXPECT_EQ(zv::FindKeyAu(ctx_, 17), 12);  // 5 back, 7 on
  EXPECT_EQ(zv::FindKeyAu(ctx_, 18), 24);  // 6 either way
  EXPECT_EQ(zv::FindKeyAu(ctx_, 40), 36);
  // With no key unit ahead, the end of the stream counts as the next one.
  EXPECT_EQ(zv::FindKeyAu(ctx_, 41), 36);  // 5 back, 7 to the end
  EXPECT_EQ(zv::FindKeyAu(ctx_, 43), 48);  // 7 back, 5 to the end
}

TEST_F(Ranges, InAndOutPointsSnapToKeyUnits) {
  struct Case {
    int64_t in, out, first, last;
  };
  for (const Case& c : {Case{5, 0, 0, 47}, Case{6, 0, 12, 47}, Case{13, 17, 12, 11}, Case{13, 30, 12, 35},
                        Case{13, 29, 12, 23}, Case{0, 47, 0, 47}, Case{24, 100, 24, 47}}) {
    SCOPED_TRACE(::testing::Message() << c.in << ".." << c.out);
    ASSERT_EQ(Open(0, c.in, c.out), zv::kOk);
    EXPECT_EQ(ctx_.first, c.first);
    EXPECT_EQ(ctx_.last, c.last);
  }
  // Milliseconds: 12 frames of 41.708 ms start at 500.5 ms.
  ASSERT_EQ(Open(1, 500, 1000), zv::kOk);
  EXPECT_EQ(ctx_.first, 12);
  EXPECT_EQ(ctx_.last, 23);  // 1000 ms is frame 24, a key unit
}

TEST_F(Ranges, ServedUnitsStartAtTheCommonOrigin) {
  ASSERT_EQ(Open(0, 12, 23), zv::kOk);
  auto raw = AllUnits(ctx_);
  const auto file = ReadBytes(path_);
  int64_t served = 0;
  uint32_t minPts = UINT32_MAX;
  while (const zv::AUI* au = zv::NextAu(ctx_)) {
    const zv::AUI& r = raw[static_cast<size_t>(12 + served)];
    EXPECT_EQ(au->offset, r.offset);
    EXPECT_EQ(static_cast<int64_t>(au->pts) - r.pts, static_cast<int64_t>(zv::kFirstPts) - raw[12].pts);
    EXPECT_EQ(static_cast<int64_t>(au->dts) - r.dts, static_cast<int64_t>(au->pts) - r.pts);
    EXPECT_EQ(ctx_.bytesLeft, au->size);
    EXPECT_EQ(0, std::memcmp(ctx_.unitBytes, file.data() + au->offset, au->size));
    minPts = std::min(minPts, au->pts);
    ++served;
  }
  EXPECT_EQ(served, 12);
  EXPECT_EQ(minPts, zv::kFirstPts);
  EXPECT_EQ(zv::NextAu(ctx_), nullptr);
}

TEST(Framework, LpcmSamplesBecomeBigEndian) {
  std::vector<uint8_t> s16 = {0x01, 0x02, 0x03, 0x04};
  zv::SwapLpcmBytes(s16.data(), s16.size(), 16);
  EXPECT_EQ(s16, (std::vector<uint8_t>{0x02, 0x01, 0x04, 0x03}));
  std::vector<uint8_t> s24 = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  zv::SwapLpcmBytes(s24.data(), s24.size(), 24);
  EXPECT_EQ(s24, (std::vector<uint8_t>{0x03, 0x02, 0x01, 0x06, 0x05, 0x04}));
}

}  // namespace

// AC-3 analysis: computed units, presentation types and the refusals.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/ac3_parser.h"
#include "support/test_support.h"

using namespace zvtest;
namespace fs = std::filesystem;

namespace {

constexpr size_t kFrame448 = 1792;  // 896 words at 448 kbit/s, 48 kHz

std::string RefusedWith(const std::string& path) {
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  EXPECT_FALSE(zv::PathExists(path + ".dsi"));
  if (prompt.messages.empty()) return "";
  std::string m = prompt.messages.back();
  EXPECT_EQ(m.rfind(path + "\n", 0), 0u);
  return m.substr(path.size() + 1);
}

TEST(Ac3, ThousandFramesGiveThousandComputedUnits) {
  TempDir dir;
  auto src = ReadBytes(DataPath("ac3_stereo.ac3"));
  ASSERT_EQ(src.size() % kFrame448, 0u);
  const size_t have = src.size() / kFrame448;
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < 1000; ++i)
    bytes.insert(bytes.end(), src.begin() + (i % have) * kFrame448, src.begin() + (i % have + 1) * kFrame448);
  bytes.insert(bytes.end(), src.begin(), src.begin() + 100);  // a cut-off frame is not a unit
  WriteBytes(dir / "long.ac3", bytes);

  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "long.ac3", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctAc3);
  EXPECT_EQ(ctx.header.auCount, 1000u);
  EXPECT_DOUBLE_EQ(ctx.header.auDuration, 32.0);
  EXPECT_EQ(ctx.header.bitRate, 448000u);
  EXPECT_EQ(ctx.header.payloadSize, 1000u * kFrame448);
  auto last = zv::GetAu(999, ctx);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->size, kFrame448);
  EXPECT_EQ(last->offset, 999u * kFrame448);
  EXPECT_EQ(last->pts, 131070u + 999u * 2880u);
  EXPECT_EQ(last->dts, last->pts);
  EXPECT_FALSE(zv::GetAu(1000, ctx));

  // Served units carry the file's bytes.
  size_t served = 0;
  while (const zv::AUI* au = zv::NextAu(ctx)) {
    ASSERT_EQ(au->size, kFrame448);
    ASSERT_EQ(0, std::memcmp(ctx.unitBytes, bytes.data() + au->offset, au->size));
    ++served;
  }
  EXPECT_EQ(served, 1000u);

  // No table: the file is the 57-byte header, the 21-byte record and the
  // check trailer.
  auto dsi = ReadBytes(dir / "long.ac3.dsi");
  ASSERT_EQ(dsi.size(), 78u + zv::SSifTrailer::kSize);
  EXPECT_EQ(dsi[8], 0x81);
  EXPECT_EQ(dsi[37], 78);                // access-unit table position
  EXPECT_EQ(dsi[57], 1);                 // record version
  EXPECT_EQ(dsi[63], 30);                // frmsizecod of 448 kbit/s
  EXPECT_EQ(dsi[74] | dsi[75] << 8, 1792);  // frame size
}

// A stream cut short with its modification time put back (a copy tool that
// keeps times, a restore) must not be served from the old unit count: the
// units past the new end could not be read in the middle of a mux.
TEST(Ac3, StreamCutShortWithItsTimeRestoredIsAnalysedAgain) {
  TempDir dir;
  const std::string path = CopyFixture("ac3_stereo.ac3", dir.Path());
  ParseCounter counter;
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  const auto fullCount = ctx.header.auCount;
  ASSERT_GT(fullCount, 10u);
  ctx.Close();

  const auto time = fs::last_write_time(path);
  fs::resize_file(path, 10 * kFrame448 + 5);
  fs::last_write_time(path, time);
  ASSERT_EQ(OpenWhole(path, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 2);
  EXPECT_EQ(ctx.header.auCount, 10u);
  size_t served = 0;
  while (zv::NextAu(ctx)) ++served;
  EXPECT_EQ(served, 10u);
}

TEST(Ac3, PresentationTypesOfTheFixtures) {
  struct Case {
    const char* file;
    uint8_t presentation;
    uint32_t bitRate;
  };
  for (const Case& c : {Case{"ac3_mono.ac3", 1, 192000}, Case{"ac3_stereo.ac3", 3, 448000},
                        Case{"ac3_51.ac3", 6, 640000}}) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(CopyFixture(c.file, dir.Path()), ctx), zv::kOk);
    auto* d = dynamic_cast<zv::AC3_AUDIO_DESCRIPTOR*>(ctx.sif.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->GetPresentationType(), c.presentation);
    EXPECT_EQ(d->GetSamplingFrequency(), 1);
    EXPECT_EQ(ctx.header.bitRate, c.bitRate);
    // 48 kHz frames: bit rate x 32 ms / 8 bytes.
    EXPECT_EQ(d->frameSize, c.bitRate / 250);
    EXPECT_EQ(ctx.header.auCount * d->frameSize, zv::FileSize(dir / c.file));
  }
}

// The disc's E-AC-3: an AC-3 core frame and a dependent E-AC-3 frame per
// frame time, served as two units (core, then extension) of one time.
TEST(Ac3, CoreWithADependentSubstreamIsTheDiscsEnhancedAc3) {
  TempDir dir;
  const std::string path = CopyFixture("eac3_71.ac3", dir.Path());
  constexpr size_t kCore = 1792, kExt = 770;  // 448 kbit/s; 385 words
  const size_t bytes = zv::FileSize(path);
  ASSERT_EQ(bytes % (kCore + kExt), 0u);
  const size_t frames = bytes / (kCore + kExt);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctEac3);
  EXPECT_EQ(ctx.header.auCount, 2 * frames);
  EXPECT_DOUBLE_EQ(ctx.header.auDuration, 32.0);
  EXPECT_EQ(ctx.header.payloadSize, bytes);
  auto* d = dynamic_cast<zv::AC3_AUDIO_DESCRIPTOR*>(ctx.sif.get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->eac3Present, 1);
  EXPECT_EQ(d->corePresent, 1);
  EXPECT_EQ(d->acmod, 7);             // 3/2 core
  EXPECT_EQ(d->eac3.streamType, 1);  // dependent
  EXPECT_EQ(d->eac3.acmod, 2);
  EXPECT_EQ(d->eac3.channelMap, 0x0200);  // the Lrs/Rrs pair
  EXPECT_EQ(d->frameSize, kCore + kExt);
  EXPECT_EQ(d->GetPresentationType(), 6);
  for (int64_t n : {int64_t{0}, int64_t{1}, int64_t{7}}) {
    auto au = zv::GetAu(n, ctx);
    ASSERT_TRUE(au);
    EXPECT_EQ(au->size, n % 2 ? kExt : kCore) << n;
    EXPECT_EQ(au->offset, (n / 2) * (kCore + kExt) + (n % 2 ? kCore : 0)) << n;
    EXPECT_EQ(au->pts, 131070u + (n / 2) * 2880u) << n;
    EXPECT_EQ(au->flags, n % 2 ? 1u : 0u) << n;
  }

  // The first dependent frame made independent: not the disc's form.
  auto mixed = ReadBytes(path);
  mixed[kCore + 2] &= 0x3F;
  WriteBytes(dir / "mixed.ac3", mixed);
  const std::string m = RefusedWith(dir / "mixed.ac3");
  EXPECT_EQ(m.rfind("Incompatible file! \n", 0), 0u) << m;
  EXPECT_NE(m.find("dependent E-AC-3 substream"), std::string::npos) << m;
}

TEST(Ac3, RefusedStreamsGiveTheirMessage) {
  TempDir dir;
  EXPECT_EQ(RefusedWith(CopyFixture("fail_44k.ac3", dir.Path())), "Wrong sample rate! ");
  // E-AC-3 without a core: the message says why and how to convert it.
  const std::string eac3 = RefusedWith(CopyFixture("fail_eac3.ac3", dir.Path()));
  EXPECT_EQ(eac3.rfind("Incompatible file! \n", 0), 0u) << eac3;
  EXPECT_NE(eac3.find("E-AC-3 without an AC-3 core"), std::string::npos) << eac3;
  EXPECT_NE(eac3.find("primary audio needs the AC-3 core"), std::string::npos) << eac3;
  EXPECT_NE(eac3.find("ffmpeg -i IN -c:a ac3 -b:a 640k"), std::string::npos) << eac3;

  const auto good = ReadBytes(DataPath("ac3_stereo.ac3"));
  struct Edit {
    const char* what;
    size_t offset;
    uint8_t mask, value;
    const char* message;
  };
  const Edit edits[] = {
      {"garbage where frame 4's syncword belongs", 3 * kFrame448, 0xFF, 0x42,
       "Syntax illegal! \n(at byte 5376 of the stream file)"},
      {"32 kbit/s (frmsizecod 0)", 4, 0x3F, 0x00, "Wrong bitrate! "},
      {"1+1 dual mono (acmod 0)", 6, 0xE0, 0x00, "Wrong audio coding mode! "},
      {"bsid 9", 5, 0xF8, 9 << 3, "Wrong bitstream Id! "},
      {"44.1 kHz in the second frame", kFrame448 + 4, 0xC0, 0x40, "Wrong sample rate! "},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.what);
    auto bytes = good;
    bytes[e.offset] = static_cast<uint8_t>((bytes[e.offset] & ~e.mask) | e.value);
    WriteBytes(dir / "edit.ac3", bytes);
    EXPECT_EQ(RefusedWith(dir / "edit.ac3"), e.message);
  }
  WriteBytes(dir / "short.ac3", std::vector<uint8_t>(good.begin(), good.begin() + 2 * kFrame448 + 10));
  EXPECT_EQ(RefusedWith(dir / "short.ac3"), "Read file erorr! ");
}

TEST(Ac3, TimeRangeSelectsWholeFrames) {
  TempDir dir;
  zv::SStreamContext ctx;
  zv::SSourceParams src;
  src.path = CopyFixture("ac3_stereo.ac3", dir.Path());
  src.timeMode = 1;
  src.in = 330;   // 10.3 frames: 10
  src.out = 656;  // 20.5 frames: 21 (halves round up)
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.first, 10);
  EXPECT_EQ(ctx.last, 21);
  const zv::AUI* au = zv::NextAu(ctx);
  ASSERT_NE(au, nullptr);
  EXPECT_EQ(au->pts, zv::kFirstPts);  // the cut starts at the common origin
  EXPECT_EQ(au->offset, 10 * kFrame448);
}

}  // namespace

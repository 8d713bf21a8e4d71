// Dolby lossless (TrueHD) analysis: units cut by the sizes in their headers,
// the major sync read into the record, the refusals, and how the record
// announces the pair with its AC-3 core.
#include <gtest/gtest.h>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/mlp_parser.h"
#include "support/test_support.h"

using namespace zvtest;

namespace {

// Independent walk of the fixture: unit sizes from the 12-bit length field
// (in 16-bit words), and which units start with the major sync F8 72 6F.
struct Scanned {
  uint64_t offset;
  uint32_t size;
  bool major;
};
std::vector<Scanned> Scan(const std::vector<uint8_t>& b) {
  std::vector<Scanned> out;
  for (size_t pos = 0; pos + 4 <= b.size();) {
    const uint32_t size = ((b[pos] & 0x0F) << 8 | b[pos + 1]) * 2u;
    if (size == 0 || pos + size > b.size()) break;
    out.push_back({pos, size, b[pos + 4] == 0xF8 && b[pos + 5] == 0x72 && b[pos + 6] == 0x6F});
    pos += size;
  }
  return out;
}

TEST(Mlp, TrueHdFileIsCutIntoItsAccessUnits) {
  TempDir dir;
  const std::string path = CopyFixture("thd_51.thd", dir.Path());
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::vector<Scanned> want = Scan(bytes);
  ASSERT_EQ(want.size(), 1200u) << "one second of 40-sample units";

  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, 0x83);
  EXPECT_EQ(ctx.header.auCount, want.size());
  EXPECT_EQ(ctx.header.payloadSize, bytes.size());
  EXPECT_NEAR(ctx.header.auDuration, 1000.0 / 1200, 1e-12);
  const std::vector<zv::AUI> units = AllUnits(ctx);
  ASSERT_EQ(units.size(), want.size());
  size_t majors = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(units[i].offset, want[i].offset) << i;
    EXPECT_EQ(units[i].size, want[i].size) << i;
    EXPECT_EQ(units[i].flags, want[i].major ? 1u : 0u) << i;
    // Exactly 75 ticks a unit: no drift against the AC-3 core.
    EXPECT_EQ(units[i].pts, 131070u + 75 * i) << i;
    EXPECT_EQ(units[i].dts, units[i].pts);
    majors += want[i].major;
  }
  EXPECT_GT(majors, 1u);
  EXPECT_LT(majors, units.size());

  auto* rec = dynamic_cast<zv::MLP_HEADER_INFO*>(ctx.sif.get());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->format, 0xBA);
  EXPECT_EQ(rec->wordSize1, 24);
  EXPECT_EQ(rec->sampleRate1, 48000u);
  EXPECT_EQ(rec->samplesPerAu, 40u);
  EXPECT_EQ(rec->secondBlockSize, 64u);
  EXPECT_EQ(rec->ChannelCount(), 6u) << "5.1 from the presentation assignments";
  EXPECT_GE(rec->substreams, 1);
  EXPECT_GT(rec->peakRate, 0u);
  EXPECT_EQ(ctx.header.bitRate, rec->peakRate);
}

TEST(Mlp, BrokenUnitsAreSyntaxErrors) {
  TempDir dir;
  const std::vector<uint8_t> good = ReadBytes(DataPath("thd_51.thd"));
  const uint32_t first = ((good[0] & 0x0F) << 8 | good[1]) * 2u;
  auto refused = [&](const std::vector<uint8_t>& bytes) {
    const std::string path = dir / "broken.thd";
    WriteBytes(path, bytes);
    zv::ScriptedPrompt prompt;
    zv::SStreamContext ctx;
    EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
    EXPECT_FALSE(zv::PathExists(path + ".dsi"));
    return prompt.messages.empty() ? std::string() : prompt.messages.back();
  };
  auto b = good;
  b[7] = 0xBC;  // neither TrueHD nor MLP
  EXPECT_NE(refused(b).find("Syntax illegal! "), std::string::npos);
  b = good;
  b[12] ^= 0xFF;  // the major sync's signature
  EXPECT_NE(refused(b).find("Syntax illegal! "), std::string::npos);
  b = good;
  b[first] &= 0xF0;  // the second unit's length 0
  b[first + 1] = 0;
  const std::string zero = refused(b);
  EXPECT_NE(zero.find("Syntax illegal! "), std::string::npos);
  EXPECT_NE(zero.find("at byte " + std::to_string(first)), std::string::npos) << zero;
  b.assign(good.begin(), good.begin() + first / 2);  // the only unit cut short
  EXPECT_NE(refused(b).find("Syntax illegal! "), std::string::npos);
  b = good;
  b[5] = 0x00;  // no major sync at the start: not this format
  EXPECT_NE(refused(b).find("Unknown file format! "), std::string::npos);

  // A last unit cut off by the end of the file is left out, not served
  // half.
  b.assign(good.begin(), good.end() - 3);
  WriteBytes(dir / "cut.thd", b);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "cut.thd", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.auCount, 1199u);
  EXPECT_LE(ctx.header.payloadSize, b.size());
  // However little of it is left: down to its first byte.
  zv::SStreamContext ten;
  ASSERT_EQ(OpenWhole(dir / "cut.thd", ten), zv::kOk);
  const std::vector<zv::AUI> units = AllUnits(ten);
  ASSERT_GT(units.size(), 11u);
  const uint64_t tenEnd = units[9].offset + units[9].size;
  for (uint64_t extra : {1u, 2u, 3u, 5u, 31u}) {
    SCOPED_TRACE(extra);
    b.assign(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(tenEnd + extra));
    WriteBytes(dir / "few.thd", b);
    zv::SStreamContext few;
    ASSERT_EQ(OpenWhole(dir / "few.thd", few), zv::kOk);
    EXPECT_EQ(few.header.auCount, 10u);
    EXPECT_EQ(few.header.payloadSize, tenEnd);
  }
}

TEST(Mlp, DvdAudioMlpIsRefusedBecauseDiscsCarryTrueHd) {
  TempDir dir;
  std::vector<uint8_t> b = ReadBytes(DataPath("thd_51.thd"));
  b[7] = 0xBB;  // the MLP format of the major sync
  WriteBytes(dir / "dvd.mlp", b);
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(dir / "dvd.mlp", ctx, &prompt), zv::kFailed);
  EXPECT_FALSE(zv::PathExists(dir / "dvd.mlp.dsi"));
  ASSERT_FALSE(prompt.messages.empty());
  const std::string m = prompt.messages.back();
  EXPECT_NE(m.find("Incompatible file! "), std::string::npos) << m;
  EXPECT_NE(m.find("MLP (DVD-Audio"), std::string::npos) << m;
  EXPECT_NE(m.find("discs carry Dolby TrueHD"), std::string::npos) << m;
}

TEST(Mlp, PairWithTheCoreIsAnnouncedAsLossless) {
  zv::MLP_HEADER_INFO m;
  m.format = 0xBA;
  m.sampleRate1 = 48000;
  // Presentation type from the core's (written first) and the lossless
  // channel count.
  struct Case {
    uint8_t core;
    uint16_t assign8;
    uint8_t assign6;
    uint8_t want;
  } cases[] = {
      {3, 0, 0x0F, 12},   // stereo core, 5.1 lossless (L/R, C, LFE, Ls/Rs)
      {3, 0, 0x01, 3},    // stereo core, stereo lossless
      {6, 0, 0x0F, 6},    // multi-channel core
      {1, 0, 0, 1},       // mono core, nothing known of the lossless stream
      {1, 0, 0x01, 0},
      {3, 0x4F, 0x0F, 12},  // the 8-channel assignment wins: 7.1
  };
  for (const Case& c : cases) {
    m.assignment8ch = c.assign8;
    m.assignment6ch = c.assign6;
    zv::SCodingAttributes a;
    a.streamCodingType = 0x81;
    a.presentationType = c.core;
    m.FillCodingInfo(a);
    EXPECT_EQ(a.streamCodingType, 0x83);
    EXPECT_EQ(a.presentationType, c.want) << int(c.core) << " " << c.assign8 << " " << int(c.assign6);
    EXPECT_EQ(a.samplingFrequency, 1);
  }
  m.assignment8ch = 0x4F;
  EXPECT_EQ(m.ChannelCount(), 8u);
  zv::SCodingAttributes a;
  m.sampleRate1 = 96000;
  m.FillStreamAttributes(a);
  EXPECT_EQ(a.samplingFrequency, 14);
  m.sampleRate1 = 192000;
  m.FillStreamAttributes(a);
  EXPECT_EQ(a.samplingFrequency, 12);

  zv::SPacketRule core, lossless;
  ASSERT_EQ(m.CreatePacketRules(&core, &lossless), 2);
  EXPECT_EQ(core.model, zv::SPacketRule::kAc3);
  EXPECT_EQ(lossless.model, zv::SPacketRule::kMlp);

  // MLP (0xBB) streams name their channels by the MLP assignment.
  m.format = 0xBB;
  m.mlpAssignment = 12;
  EXPECT_EQ(m.ChannelCount(), 6u);
}

}  // namespace

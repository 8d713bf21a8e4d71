// Clip information files that use every block: write, read, write again.
#include <gtest/gtest.h>

#include <cstring>

#include "mux/clip_info.h"
#include "platform/progress.h"

using namespace zv;

namespace {

std::vector<uint8_t> Write(ClipInformationFile& c) {
  std::vector<uint8_t> out(c.WriteClipInformation(nullptr, 0));
  c.WriteClipInformation(out.data(), out.size());
  return out;
}

ClipInformationFile FullClip() {
  ClipInformationFile c;
  c.ApplicationType = 1;
  c.NumberOfSourcePackets = 500000;
  c.atcDeltas = {{1000, "00002", "M2TS"}, {2000, "00003", "M2TS"}};
  c.atcSequences[0].stc = {{0x1001, 0, 27000000, 27450000}, {0x1001, 250000, 27450000, 28000000}};
  SAtcSequence second;
  second.SpnAtcStart = 400000;
  second.OffsetStcId = 2;
  second.stc = {{0x1001, 400000, 100, 200}};
  c.atcSequences.push_back(second);

  auto& streams = c.programInfo.sequences[0].streams;
  StreamCodingInfo v;
  v.StreamCodingType = 0x1B;
  v.VideoFormat = 6;
  v.FrameRate = 1;
  v.AspectRatio = 3;
  v.CcFlag = true;
  std::memcpy(v.Isrc.data(), "USABC2400001", 12);
  streams.push_back({0x1011, v});
  StreamCodingInfo a;
  a.StreamCodingType = 0x83;
  a.AudioPresentationType = 6;
  a.SamplingFrequency = 12;
  a.Language = "fra";
  streams.push_back({0x1100, a});
  StreamCodingInfo pg;
  pg.StreamCodingType = 0x90;
  pg.Language = "deu";
  streams.push_back({0x1200, pg});
  StreamCodingInfo ig;
  ig.StreamCodingType = 0x91;
  ig.Language = "eng";
  streams.push_back({0x1400, ig});
  StreamCodingInfo ts;
  ts.StreamCodingType = 0x92;
  ts.CharacterCode = 1;
  ts.Language = "jpn";
  streams.push_back({0x1800, ts});
  StreamCodingInfo odd;
  odd.StreamCodingType = 0x05;
  streams.push_back({0x1F00, odd});

  STREAM_PID_ENTRY ve;
  ve.StreamPid = 0x1011;
  for (uint32_t i = 0; i < 40; ++i) {
    KEY_POINT_INFO k;
    k.pts = 54000000 + 45045ull * i;
    k.firstSpn = 7000 * i;
    k.lastSpn = 7000 * i + 300 + 50 * i;
    ve.keyPoints.push_back(k);
  }
  c.cpi.entries.push_back(ve);
  STREAM_PID_ENTRY ae;
  ae.StreamPid = 0x1100;
  ae.EpStreamType = 3;
  for (uint32_t i = 0; i < 5; ++i) {
    KEY_POINT_INFO k;
    k.pts = 54000000 + 90000ull * i;
    k.firstSpn = 10 + 7000 * i;
    ae.keyPoints.push_back(k);
  }
  c.cpi.entries.push_back(ae);

  CEdeFolder ext = MakeToolFolder();
  SExtDataEntry unknown;
  unknown.id1 = 0x7777;
  unknown.id2 = 3;
  unknown.data = {1, 2, 3, 4, 5};  // odd size: padded in the file
  ext.entries.push_back(unknown);
  c.extensionData = ext;
  return c;
}

}  // namespace

TEST(ClipInfoRoundTrip, EveryBlockSurvivesWriteReadWrite) {
  ClipInformationFile c = FullClip();
  std::vector<uint8_t> first = Write(c);

  ClipInformationFile r;
  std::string err;
  ASSERT_EQ(r.Parse(first.data(), first.size(), &err), kOk) << err;
  EXPECT_EQ(Write(r), first);

  ASSERT_EQ(r.atcDeltas.size(), 2u);
  EXPECT_EQ(r.atcDeltas[1].AtcDelta, 2000u);
  EXPECT_EQ(r.atcDeltas[1].FollowingClipName, "00003");
  ASSERT_EQ(r.atcSequences.size(), 2u);
  EXPECT_EQ(r.atcSequences[0].stc.size(), 2u);
  EXPECT_EQ(r.atcSequences[1].OffsetStcId, 2);
  const auto& s = r.programInfo.sequences[0].streams;
  ASSERT_EQ(s.size(), 6u);
  EXPECT_TRUE(s[0].coding.CcFlag);
  EXPECT_EQ(s[2].coding.Language, "deu");
  EXPECT_EQ(s[4].coding.CharacterCode, 1);
  EXPECT_EQ(s[5].coding.StreamCodingType, 0x05);
  ASSERT_EQ(r.cpi.entries.size(), 2u);
  EXPECT_EQ(r.cpi.entries[0].keyPoints.size(), 40u);
  EXPECT_EQ(r.cpi.entries[1].EpStreamType, 3);
  ASSERT_TRUE(r.extensionData);
  ASSERT_EQ(r.extensionData->entries.size(), 2u);
  EXPECT_EQ(r.extensionData->entries[1].data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  ASSERT_TRUE(r.extensionData->ToolData());
  EXPECT_EQ(r.extensionData->ToolData()->company, "Morquin");
}

// A coding type outside the known groups must keep its length byte
// consistent with the bytes that follow, or the next stream is misread.
TEST(ClipInfoRoundTrip, UnknownCodingTypeLengthCountsItsBytes) {
  ClipInformationFile c;
  c.toolData.reset();
  StreamCodingInfo odd;
  odd.StreamCodingType = 0x05;
  c.programInfo.sequences[0].streams.push_back({0x1F00, odd});
  c.programInfo.sequences[0].streams.push_back({0x1100, StreamCodingInfo{}});
  std::vector<uint8_t> b = Write(c);
  size_t pi = (b[12] << 24) | (b[13] << 16) | (b[14] << 8) | b[15];
  size_t first = pi + 14;
  EXPECT_EQ(b[first + 2], 17);  // length
  size_t second = first + 2 + 18;
  EXPECT_EQ((b[second] << 8) | b[second + 1], 0x1100);
  EXPECT_EQ(b[second + 2], 21);
}

TEST(ClipInfoRoundTrip, DumpNamesCodedValues) {
  ClipInformationFile c = FullClip();
  Write(c);
  std::string t = c.DumpText();
  EXPECT_NE(t.find("StreamCodingType: MPEG-4 AVC/h.264(0x1B)\n"), std::string::npos);
  EXPECT_NE(t.find("VideoFormat: 1080p(6)\n"), std::string::npos);
  EXPECT_NE(t.find("FrameRate: 23.976(1)\n"), std::string::npos);
  EXPECT_NE(t.find("AspectRatio: 16:9(3)\n"), std::string::npos);
  EXPECT_NE(t.find("SamplingFrequency: 48K/96K+192K(12)\n"), std::string::npos);
  EXPECT_NE(t.find("StreamPID: 0x1011\n"), std::string::npos);
  EXPECT_NE(t.find("StreamInfo 1: \n"), std::string::npos);
  EXPECT_NE(t.find("CountryCode: US\n"), std::string::npos);
  EXPECT_NE(t.find("RecordingNumber: 00001\n"), std::string::npos);
  EXPECT_NE(t.find("Company: Morquin\n"), std::string::npos);
  EXPECT_NE(t.find("NumberOfPidEnties: 2\n"), std::string::npos);
  EXPECT_NE(t.find("ExtDataEntry_ID1: 0x7777\n"), std::string::npos);
  // nested lines are one level deeper than their block
  EXPECT_NE(t.find("ProgramInfo: \n  Length: "), std::string::npos);

  const auto& s = c.programInfo.sequences[0].streams;
  EXPECT_EQ(s[0].coding.Summary(true), "1080p, 23.976, 16:9 CC");
  EXPECT_EQ(s[1].coding.Summary(true), "Multi, 48K/96K+192K, fra");
  EXPECT_EQ(s[1].coding.Summary(false), "Multi, 48K/96K+192K");
  EXPECT_EQ(s[2].coding.Summary(true), "deu");
  EXPECT_EQ(s[4].coding.Summary(true), "1, jpn");
  StreamCodingInfo v;
  v.StreamCodingType = 0x02;
  v.VideoFormat = 4;
  v.FrameRate = 4;
  EXPECT_EQ(v.Summary(true), "1080i, 29.97");
}

TEST(ClipInfoRoundTrip, TruncatedOrInconsistentFilesGiveErrors) {
  ClipInformationFile c = FullClip();
  std::vector<uint8_t> good = Write(c);
  // Every truncation fails cleanly (the ExtensionData block ends the file).
  for (size_t n = 0; n < good.size(); ++n) {
    ClipInformationFile r;
    std::string err;
    ASSERT_EQ(r.Parse(good.data(), n, &err), kFailed) << n;
    EXPECT_FALSE(err.empty());
  }
  auto expectFail = [](std::vector<uint8_t> b, const char* what) {
    ClipInformationFile r;
    std::string err;
    EXPECT_EQ(r.Parse(b.data(), b.size(), &err), kFailed) << what;
    EXPECT_NE(err.find(what), std::string::npos) << err;
  };
  std::vector<uint8_t> b = good;
  b[0] = 'X';
  expectFail(b, "HDMV");
  b = good;
  b[12] = 0x7F;  // ProgramInfo address far outside the file
  expectFail(b, "ProgramInfo");
  b = good;
  size_t pi = (good[12] << 24) | (good[13] << 16) | (good[14] << 8) | good[15];
  b[pi + 12] = 200;  // more streams than the block holds
  expectFail(b, "ProgramInfo");
  b = good;
  size_t cpi = (good[16] << 24) | (good[17] << 16) | (good[18] << 8) | good[19];
  b[cpi + 6 + 1] = 9;  // more PID entries than the map holds
  expectFail(b, "CPI");
  b = good;
  b[cpi + 6 + 2 + 8] = 0x7F;  // first stream's map address past the end
  expectFail(b, "CPI");
  b = good;
  b[cpi + 6 + 2 + 12 * 2 + 4 + 1] |= 0x40;  // first coarse entry refers to fine entry 1
  expectFail(b, "coarse entry");
}

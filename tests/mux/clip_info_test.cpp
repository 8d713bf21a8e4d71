#include "mux/clip_info.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/progress.h"

using namespace zv;

namespace {

std::vector<uint8_t> Write(ClipInformationFile& c) {
  std::vector<uint8_t> out(c.WriteClipInformation(nullptr, 0));
  size_t n = c.WriteClipInformation(out.data(), out.size());
  EXPECT_EQ(n, out.size());
  return out;
}

uint32_t Be32(const std::vector<uint8_t>& b, size_t off) {
  return (uint32_t{b[off]} << 24) | (uint32_t{b[off + 1]} << 16) | (uint32_t{b[off + 2]} << 8) | b[off + 3];
}

KEY_POINT_INFO Kp(uint64_t pts, uint32_t first, uint32_t last = 0) {
  KEY_POINT_INFO k;
  k.pts = pts;
  k.firstSpn = first;
  k.lastSpn = last;
  return k;
}

StreamCodingInfo Ac3Eng() {
  StreamCodingInfo s;
  s.StreamCodingType = 0x81;
  s.AudioPresentationType = 3;
  s.SamplingFrequency = 1;
  s.Language = "eng";
  return s;
}

}  // namespace

// One audio-only clip written out field by field; the writer must produce
// exactly these bytes and the reader must give the fields back.
TEST(ClipInfo, SmallAudioClipMatchesHandWrittenBytes) {
  std::vector<uint8_t> exp(292);
  BeWriter w(exp);
  w.Bytes("HDMV0200", 8);    // type indicator, version
  w.U32(220);                // SequenceInfo: 40 + 180
  w.U32(246);                // ProgramInfo: 220 + 26
  w.U32(284);                // CPI: 246 + 38
  w.U32(288);                // ClipMark: empty CPI is 4 bytes
  w.U32(0);                  // no ExtensionData
  w.Zeros(12);               // reserved
  w.U32(176);                // ClipInfo length
  w.U16(0);                  // reserved
  w.U8(1);                   // ClipStreamType
  w.U8(1);                   // ApplicationType
  w.U32(0);                  // IsAtcDelta 0
  w.U32(6000000);            // TsRecordingRate
  w.U32(1234);               // NumberOfSourcePackets
  w.Zeros(128);              // reserved (no tool data)
  w.U16(30);                 // TsTypeInfoBlock length
  w.U8(0x80);                // ValidityFlags
  w.Bytes("HDMV", 4);        // format identifier
  w.Zeros(8 + 1 + 16);       // NetworkInformation, reserved, StreamFormatName
  w.U32(22);                 // SequenceInfo length
  w.U8(0);                   // reserved
  w.U8(1);                   // ATC sequences
  w.U32(0);                  // SpnAtcStart
  w.U8(1);                   // STC sequences
  w.U8(0);                   // OffsetStcId
  w.U16(0x1001);             // PCR PID
  w.U32(0);                  // SpnStcStart
  w.U32(27000000);           // presentation start, 45 kHz
  w.U32(27045000);           // presentation end
  w.U32(34);                 // ProgramInfo length
  w.U8(0);                   // reserved
  w.U8(1);                   // program sequences
  w.U32(0);                  // SpnProgramSequenceStart
  w.U16(0x0100);             // program map PID
  w.U8(1);                   // streams
  w.U8(0);                   // groups
  w.U16(0x1100);             // StreamPID
  w.U8(21);                  // StreamCodingInfo length
  w.U8(0x81);                // AC-3
  w.U8(0x31);                // stereo, 48 kHz
  w.Bytes("eng", 3);         // language
  w.Zeros(12);               // ISRC
  w.Zeros(4);                // reserved
  w.U32(0);                  // CPI length: no EP map
  w.U32(0);                  // ClipMark length
  ASSERT_EQ(w.Size(), exp.size());

  ClipInformationFile c;
  c.toolData.reset();
  c.NumberOfSourcePackets = 1234;
  c.atcSequences[0].stc.push_back({0x1001, 0, Ticks27MHzTo45k(int64_t{54000000} * 300),
                                   Ticks27MHzTo45k(int64_t{54090000} * 300)});
  c.programInfo.sequences[0].streams.push_back({0x1100, Ac3Eng()});
  EXPECT_EQ(Write(c), exp);

  ClipInformationFile r;
  std::string err;
  ASSERT_EQ(r.Parse(exp.data(), exp.size(), &err), kOk) << err;
  EXPECT_FALSE(r.toolData.has_value());
  EXPECT_EQ(r.NumberOfSourcePackets, 1234u);
  ASSERT_EQ(r.atcSequences.size(), 1u);
  ASSERT_EQ(r.atcSequences[0].stc.size(), 1u);
  EXPECT_EQ(r.atcSequences[0].stc[0].PresentationStartTime, 27000000u);
  ASSERT_EQ(r.programInfo.sequences[0].streams.size(), 1u);
  const StreamCodingInfo& s = r.programInfo.sequences[0].streams[0].coding;
  EXPECT_EQ(s.StreamCodingType, 0x81);
  EXPECT_EQ(s.AudioPresentationType, 3);
  EXPECT_EQ(s.SamplingFrequency, 1);
  EXPECT_EQ(s.Language, "eng");
  EXPECT_TRUE(r.cpi.entries.empty());
}

TEST(ClipInfo, TimesConvertTo45kHz) {
  EXPECT_EQ(Ticks27MHzTo45k(int64_t{54000000} * 300), 27000000u);
  EXPECT_EQ(Ticks27MHzTo45k(449), 0u);   // rounds to 1 tick of 90 kHz, halved to 0
  EXPECT_EQ(Ticks27MHzTo45k(450), 1u);   // rounds to 2 ticks
  EXPECT_EQ(Ticks27MHzTo45k(899), 1u);   // 3 ticks, remainder dropped
}

// The company text sits scrambled with "KQVW" in the ClipInfo reserved area.
TEST(ClipInfo, ToolDataContainerInReservedArea) {
  ClipInformationFile c;
  std::vector<uint8_t> b = Write(c);
  EXPECT_EQ(std::memcmp(&b[60], "MRQN", 4), 0);
  uint32_t dataLen = 1 + 7 + 1 + static_cast<uint32_t>(c.toolData->ToolData()->descriptor.size());
  EXPECT_EQ(Be32(b, 64), 8 + 12 + ((dataLen + 3) & ~3u));  // block length
  EXPECT_EQ(Be32(b, 68), 24u);                              // data block start
  EXPECT_EQ(b[75], 1);                                      // one entry
  EXPECT_EQ(b[76], 0x10);                                   // ID1 0x1000
  EXPECT_EQ(b[77], 0x00);
  EXPECT_EQ(b[79], 0x01);                                   // ID2 0x0001
  EXPECT_EQ(Be32(b, 80), 24u);
  EXPECT_EQ(Be32(b, 84), dataLen);
  const uint8_t company[] = {7, 0x06, 0x3E, 0x24, 0x26, 0x3E, 0x38, 0x38};  // "Morquin" ^ "KQVWKQV"
  EXPECT_EQ(std::memcmp(&b[88], company, sizeof company), 0);
  EXPECT_EQ(b[188], 0);  // TsTypeInfoBlock length
  EXPECT_EQ(b[189], 30);

  ClipInformationFile r;
  std::string err;
  ASSERT_EQ(r.Parse(b.data(), b.size(), &err), kOk) << err;
  ASSERT_TRUE(r.toolData && r.toolData->ToolData());
  EXPECT_EQ(r.toolData->ToolData()->company, "Morquin");
  EXPECT_EQ(r.toolData->ToolData()->descriptor, c.toolData->ToolData()->descriptor);
  EXPECT_EQ(ScrambleText(ScrambleText("abcdef")), "abcdef");
  EXPECT_EQ(ScrambleText("ab", ""), "ab");
}

// Coarse entries open when PTS bits 32..19 change: at 0.5 s steps from
// 54,000,000 they change at points 1, 12 and 24 (boundaries 103, 104 and
// 105 times 2^19).
TEST(EpMap, CoarseEntriesFollowPtsHighBits) {
  STREAM_PID_ENTRY e;
  e.StreamPid = 0x1011;
  for (uint32_t i = 0; i < 30; ++i) e.keyPoints.push_back(Kp(54000000 + 45000ull * i, 100 * i + 5));
  e.Build();
  EXPECT_EQ(e.coarseStarts, (std::vector<uint32_t>{0, 1, 12, 24}));
  EXPECT_EQ(e.NumberOfCoarseEntries, 4);
  EXPECT_EQ(e.NumberOfFineEntries, 30u);
}

TEST(EpMap, CoarseEntriesOnPacketNumberWrapAndBytes) {
  ClipInformationFile c;
  c.toolData.reset();
  STREAM_PID_ENTRY e;
  e.StreamPid = 0x1011;
  // PTS coarse bits stay 102 (53,477,376 .. 54,001,663); the second point
  // crosses 131072 packets, the third does not open an entry.
  e.keyPoints = {Kp(53500000, 131000), Kp(53500000 + 3003, 131100), Kp(53500000 + 6006, 131300)};
  c.cpi.entries.push_back(e);
  std::vector<uint8_t> b = Write(c);
  size_t cpi = Be32(b, 16);
  EXPECT_EQ(Be32(b, cpi), 2u + 2 + 12 + 4 + 2 * 8 + 3 * 4);  // CPI length
  EXPECT_EQ(b[cpi + 5] & 0x0F, 1);                           // CpiType
  size_t map = cpi + 6;
  EXPECT_EQ(b[map + 1], 1);                                  // one PID entry
  EXPECT_EQ((b[map + 2] << 8) | b[map + 3], 0x1011);
  // 10 reserved bits, EpStreamType 1, coarse 2 (16 bits), fine 3 (18 bits)
  uint64_t bits = 0;
  for (int i = 4; i < 10; ++i) bits = (bits << 8) | b[map + i];
  EXPECT_EQ((bits >> 34) & 0xF, 1u);
  EXPECT_EQ((bits >> 18) & 0xFFFF, 2u);
  EXPECT_EQ(bits & 0x3FFFF, 3u);
  EXPECT_EQ(Be32(b, map + 10), 14u);                         // map start: 2 + 12
  size_t one = map + 14;
  EXPECT_EQ(Be32(b, one), 4u + 2 * 8);                       // fine table start
  // coarse 0: ref 0, PTS coarse 102, SPN 131000
  EXPECT_EQ(Be32(b, one + 4), (0u << 14) | 102u);
  EXPECT_EQ(Be32(b, one + 8), 131000u);
  // coarse 1: ref 1, SPN 131100
  EXPECT_EQ(Be32(b, one + 12), (1u << 14) | 102u);
  EXPECT_EQ(Be32(b, one + 16), 131100u);
  // fine 1: angle 0, code 0 (end unknown), PTS bits 19..9, SPN mod 2^17 = 28
  uint32_t f1 = Be32(b, one + 20 + 4);
  EXPECT_EQ(f1 >> 31, 0u);
  EXPECT_EQ((f1 >> 28) & 7, 0u);
  EXPECT_EQ((f1 >> 17) & 0x7FF, ((53500000u + 3003) >> 9) & 0x7FF);
  EXPECT_EQ(f1 & 0x1FFFF, 28u);
}

// Reading back must give the same packet numbers, also after a jump of
// more than 2^17 packets that lands on larger low bits.
TEST(EpMap, ParsedKeyPointsKeepPacketNumbersAcrossLargeJumps) {
  ClipInformationFile c;
  STREAM_PID_ENTRY e;
  e.StreamPid = 0x1011;
  e.keyPoints = {Kp(54000000, 100), Kp(54003003, 131072 + 200), Kp(54006006, 400000), Kp(54009009, 400001)};
  c.cpi.entries.push_back(e);
  std::vector<uint8_t> b = Write(c);
  ClipInformationFile r;
  std::string err;
  ASSERT_EQ(r.Parse(b.data(), b.size(), &err), kOk) << err;
  ASSERT_EQ(r.cpi.entries.size(), 1u);
  const auto& kp = r.cpi.entries[0].keyPoints;
  ASSERT_EQ(kp.size(), 4u);
  for (size_t i = 0; i < kp.size(); ++i) {
    EXPECT_EQ(kp[i].firstSpn, e.keyPoints[i].firstSpn) << i;
    EXPECT_EQ(kp[i].pts, e.keyPoints[i].pts & ~uint64_t{0x1FF}) << i;  // low 9 bits are not stored
  }
}

TEST(EpMap, IPictureEndCodes) {
  EXPECT_EQ(IEndPositionCode(1000, 1000 + 681), 1);  // 682 packets = 130,944 bytes
  EXPECT_EQ(IEndPositionCode(1000, 1000 + 682), 2);  // 683 packets = 131,136 bytes
  EXPECT_EQ(IEndPositionCode(0, 2047), 4);           // 393,216 bytes
  EXPECT_EQ(IEndPositionCode(0, 6826), 7);           // 1,310,784 bytes
  EXPECT_EQ(IEndPositionCode(5, 0), 0);              // end not known

  STREAM_PID_ENTRY video;
  video.keyPoints = {Kp(0, 1000, 1681), Kp(3003, 2000, 2682), Kp(6006, 3000, 3000)};
  video.keyPoints[2].iEndCode = 5;  // an existing code is kept
  video.Build();
  EXPECT_EQ(video.keyPoints[0].iEndCode, 1);
  EXPECT_EQ(video.keyPoints[1].iEndCode, 2);
  EXPECT_EQ(video.keyPoints[2].iEndCode, 5);

  // Audio and graphics maps carry code 0 in every fine entry.
  for (uint8_t type : {3, 4, 6, 7}) {
    ClipInformationFile c;
    c.toolData.reset();
    STREAM_PID_ENTRY a;
    a.StreamPid = 0x1100;
    a.EpStreamType = type;
    a.keyPoints = {Kp(0, 10, 20), Kp(90000, 30, 5000)};
    c.cpi.entries.push_back(a);
    std::vector<uint8_t> b = Write(c);
    size_t fine = Be32(b, 16) + 6 + 14 + 4 + 8;
    EXPECT_EQ((b[fine] >> 4) & 7, 0) << int(type);
    EXPECT_EQ((b[fine + 4] >> 4) & 7, 0) << int(type);
  }
}

TEST(EpMap, NoVideoGivesEmptyCpi) {
  ClipInformationFile c;
  c.programInfo.sequences[0].streams.push_back({0x1100, Ac3Eng()});
  std::vector<uint8_t> b = Write(c);
  uint32_t cpi = Be32(b, 16);
  EXPECT_EQ(Be32(b, cpi), 0u);
  EXPECT_EQ(Be32(b, 20), cpi + 4);         // ClipMark right after
  EXPECT_EQ(Be32(b, cpi + 4), 0u);         // ClipMark length 0
  EXPECT_EQ(Be32(b, 24), 0u);              // no ExtensionData
  EXPECT_EQ(b.size(), cpi + 8u);
}

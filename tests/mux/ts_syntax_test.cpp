// Transport packet header, adaptation field, PCR, time stamps and PES
// headers against hand-computed encodings.
#include <gtest/gtest.h>

#include "mux/psi.h"
#include "mux/ts_syntax.h"

using namespace zv;
using Bytes = std::vector<uint8_t>;

namespace {

// Measures, writes into a buffer of exactly that size and checks both agree.
template <class R, class... Extra>
Bytes WriteAll(const R& r, const Extra&... extra) {
  size_t n = Write(r, nullptr, 0, extra...);
  Bytes out(n, 0xEE);
  EXPECT_EQ(Write(r, out.data(), out.size(), extra...), n);
  return out;
}

// Every proper prefix of a parseable encoding must fail to parse.
template <class R>
void ExpectTruncationFails(const Bytes& b) {
  for (size_t n = 0; n < b.size(); ++n) {
    R r;
    EXPECT_EQ(Parse(b.data(), n, r), 0u) << "prefix of " << n << " bytes";
  }
}

}  // namespace

TEST(PcrAndTimeStamp, HandComputedBytesAndRoundTrip) {
  // base 1, extension 1: base bit 0 in bit 7 of byte 4, six reserved ones,
  // extension bit 8 = 0, then extension bits 7..0.
  EXPECT_EQ(WriteAll(PCR_FIELD{1, 1}), (Bytes{0x00, 0x00, 0x00, 0x00, 0xFE, 0x01}));
  // base bit 32 is the top bit of byte 0; extension bit 8 ends byte 4.
  EXPECT_EQ(WriteAll(PCR_FIELD{1ull << 32, 0x100}), (Bytes{0x80, 0x00, 0x00, 0x00, 0x7F, 0x00}));

  // PTS 90000 (one second): '0010', bits 32..30 = 0, marker; 15 bits = 2,
  // marker; 15 bits = 0x5F90, marker.
  EXPECT_EQ(WriteAll(TIME_STAMP{0x2, 90000}), (Bytes{0x21, 0x00, 0x05, 0xBF, 0x21}));
  EXPECT_EQ(WriteAll(TIME_STAMP{0x3, 1ull << 32}), (Bytes{0x39, 0x00, 0x01, 0x00, 0x01}));

  for (PCR_FIELD pcr : {PCR_FIELD{0x1FFFFFFFFull, 299}, PCR_FIELD{12345678, 7}}) {
    Bytes b = WriteAll(pcr);
    PCR_FIELD back;
    EXPECT_EQ(Parse(b.data(), b.size(), back), 6u);
    EXPECT_EQ(back, pcr);
  }
  TIME_STAMP ts{0x1, 0x1ABCDEF01ull};
  Bytes b = WriteAll(ts);
  TIME_STAMP back;
  EXPECT_EQ(Parse(b.data(), b.size(), back), 5u);
  EXPECT_EQ(back, ts);
  ExpectTruncationFails<TIME_STAMP>(b);
  EXPECT_THROW(WriteAll(TIME_STAMP{0x2, 1ull << 33}), std::out_of_range);
}

TEST(TsPacketHeader, FieldsMaskedAndPcrPacketTemplate) {
  TS_PACKET_HEADER h;
  h.payload_unit_start_indicator = true;
  h.PID = 0x1011;
  h.continuity_counter = 0x15;  // masked to 4 bits
  h.adaptation_field_control = 1;
  EXPECT_EQ(WriteAll(h), (Bytes{0x47, 0x50, 0x11, 0x15}));

  // The multiplexer's PCR packet: adaptation field only, 183 bytes long.
  TS_PACKET_HEADER pcr;
  pcr.PID = kPcrPid;
  pcr.adaptation_field_control = 2;
  ADAPTATION_FIELD af;
  af.PCR = PCR_FIELD{1, 1};
  af.stuffing = 176;
  pcr.adaptation_field = af;
  Bytes b = WriteAll(pcr);
  ASSERT_EQ(b.size(), kTsPacketSize);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 12), (Bytes{0x47, 0x10, 0x01, 0x20, 0xB7, 0x10, 0, 0, 0, 0, 0xFE, 0x01}));
  EXPECT_EQ(b.back(), 0xFF);

  TS_PACKET_HEADER back;
  EXPECT_EQ(Parse(b.data(), b.size(), back), kTsPacketSize);
  pcr.adaptation_field->adaptation_field_length = 183;  // filled in by the parser
  EXPECT_EQ(back, pcr);
}

TEST(TsPacketHeader, ParserRejectsLostSyncAndTruncation) {
  Bytes b{0x47, 0x50, 0x11, 0x35, 0x05, 0x10, 0, 0, 0, 0};  // PCR cut short
  TS_PACKET_HEADER h;
  h.PID = 0x123;
  EXPECT_EQ(Parse(b.data(), b.size(), h), 0u);
  Bytes bad{0x46, 0x50, 0x11, 0x10};
  EXPECT_EQ(Parse(bad.data(), bad.size(), h), 0u);
  EXPECT_EQ(h.PID, kNullPid);  // reset before the sync check
}

TEST(TsPacketHeader, PsiPacketsCarryPointerFieldAndSection) {
  TS_PACKET_HEADER h;
  h.PID = kPatPid;
  h.payload_unit_start_indicator = true;
  PAT_SECTION pat;
  TS_PAYLOAD_START follow;
  follow.pat = &pat;
  Bytes b = WriteAll(h, follow);
  ASSERT_EQ(b.size(), 4u + 1 + 20);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 6), (Bytes{0x47, 0x40, 0x00, 0x10, 0x00, 0x00}));

  // The parser's header length includes the pointer_field and what it skips.
  Bytes pkt(kTsPacketSize, 0xFF);
  std::copy(b.begin(), b.end(), pkt.begin());
  pkt[4] = 2;
  TS_PACKET_HEADER back;
  EXPECT_EQ(Parse(pkt.data(), pkt.size(), back), 7u);

  // An elementary PID with payload_unit_start_indicator continues with the PES header.
  TS_PACKET_HEADER v;
  v.PID = 0x1011;
  v.payload_unit_start_indicator = true;
  PES_HEADER pes;
  SetTimeStamps(pes, 90000);
  follow = {};
  follow.pes = &pes;
  EXPECT_EQ(WriteAll(v, follow).size(), 4u + 14);
  v.payload_unit_start_indicator = false;
  EXPECT_EQ(WriteAll(v, follow).size(), 4u);
}

TEST(StuffPacket, OneTwoAndMoreBytes) {
  TS_PACKET_HEADER h;
  h.PID = 0x1100;
  StuffPacket(h, 0);
  EXPECT_FALSE(h.adaptation_field);
  EXPECT_EQ(WriteAll(h), (Bytes{0x47, 0x11, 0x00, 0x10}));

  StuffPacket(h, 1);  // empty field: length 0, no flags byte
  EXPECT_EQ(h.adaptation_field_control, 3);
  EXPECT_EQ(WriteAll(h), (Bytes{0x47, 0x11, 0x00, 0x30, 0x00}));
  StuffPacket(h, 2);  // length 1, flags 0x00
  EXPECT_EQ(WriteAll(h), (Bytes{0x47, 0x11, 0x00, 0x30, 0x01, 0x00}));
  StuffPacket(h, 5);
  EXPECT_EQ(WriteAll(h), (Bytes{0x47, 0x11, 0x00, 0x30, 0x04, 0x00, 0xFF, 0xFF, 0xFF}));

  TS_PACKET_HEADER none;
  none.adaptation_field_control = 0;
  StuffPacket(none, 3);
  EXPECT_EQ(none.adaptation_field_control, 2);

  for (int n : {1, 2, 5, 184}) {
    TS_PACKET_HEADER s;
    s.PID = 0x1200;
    StuffPacket(s, n);
    Bytes b = WriteAll(s);
    EXPECT_EQ(b.size(), 4u + n);
    TS_PACKET_HEADER back;
    EXPECT_EQ(Parse(b.data(), b.size(), back), b.size());
    EXPECT_EQ(back, s);
  }
}

TEST(AdaptationField, AllOptionalPartsRoundTrip) {
  ADAPTATION_FIELD af;
  af.discontinuity_indicator = true;
  af.random_access_indicator = true;
  af.PCR = PCR_FIELD{0x123456789ull, 123};
  af.OPCR = PCR_FIELD{42, 0};
  af.splice_countdown = 0xFE;
  af.private_data = Bytes{1, 2, 3};
  AF_EXTENSION ext;
  ext.ltw = 0x8123;
  ext.piecewise_rate = 0x3ABCDE;
  ext.seamless_splice = AF_SEAMLESS_SPLICE{5, 0x1FFFFFFFFull};
  ext.reserved_bytes = 2;
  af.extension = ext;
  af.stuffing = 3;
  Bytes b = WriteAll(af);
  // flags, PCR, OPCR, countdown, private (1+3), extension (1+1+2+3+5+2), stuffing
  ASSERT_EQ(b.size(), 1u + 1 + 6 + 6 + 1 + 4 + 14 + 3);
  EXPECT_EQ(b[0], b.size() - 1);
  EXPECT_EQ(b[1], 0xDF);  // all flags but the ES priority
  ADAPTATION_FIELD back;
  EXPECT_EQ(Parse(b.data(), b.size(), back), b.size());
  af.adaptation_field_length = static_cast<uint8_t>(b.size() - 1);
  EXPECT_EQ(back, af);
  ExpectTruncationFails<ADAPTATION_FIELD>(b);

  // A length byte that promises less than the flags announce.
  Bytes lying{0x02, 0x10, 0x00};
  EXPECT_EQ(Parse(lying.data(), lying.size(), back), 0u);
}

TEST(PesHeader, DiscHeaderSizesAndBytes) {
  PES_HEADER pts;
  SetTimeStamps(pts, 90000);
  EXPECT_EQ(WriteAll(pts), (Bytes{0, 0, 1, 0xE0, 0, 0, 0x84, 0x80, 0x05, 0x21, 0x00, 0x05, 0xBF, 0x21}));

  PES_HEADER both;
  SetTimeStamps(both, 1ull << 32, 90000);
  EXPECT_EQ(WriteAll(both), (Bytes{0, 0, 1, 0xE0, 0, 0, 0x84, 0xC0, 0x0A, 0x39, 0x00, 0x01, 0x00, 0x01, 0x11, 0x00,
                                   0x05, 0xBF, 0x21}));

  // Audio with the stream_id_extension: flags 0x0F, then marker + length 1.
  PES_HEADER ext;
  ext.stream_id = 0xFD;
  ext.PES_packet_length = 0x1234;
  SetTimeStamps(ext, 90000);
  ext.extension.emplace().extension_field = Bytes{0x71};
  EXPECT_EQ(WriteAll(ext), (Bytes{0, 0, 1, 0xFD, 0x12, 0x34, 0x84, 0x81, 0x08, 0x21, 0x00, 0x05, 0xBF, 0x21, 0x0F,
                                  0x81, 0x71}));
  ext.DTS = TIME_STAMP{0x1, 1};
  ext.PTS->prefix = 0x3;
  EXPECT_EQ(WriteAll(ext).size(), 22u);

  // Text subtitles: private stream 2 has no optional header at all.
  PES_HEADER txt;
  txt.stream_id = 0xBF;
  txt.PES_packet_length = 0x0102;
  SetTimeStamps(txt, 90000);
  EXPECT_EQ(WriteAll(txt), (Bytes{0, 0, 1, 0xBF, 0x01, 0x02}));

  // The alignment record follows the header and is not counted in it.
  PES_HEADER aligned = pts;
  aligned.alignment_type = 1;
  Bytes a = WriteAll(aligned);
  ASSERT_EQ(a.size(), 17u);
  EXPECT_EQ(a[8], 5);
  EXPECT_EQ(Bytes(a.end() - 3, a.end()), (Bytes{0x06, 0x01, 0x01}));
  aligned.data_alignment_indicator = false;
  EXPECT_EQ(WriteAll(aligned).size(), 14u);

  PES_HEADER dtsOnly;
  dtsOnly.DTS = TIME_STAMP{0x1, 0};
  EXPECT_THROW(WriteAll(dtsOnly), std::logic_error);
}

TEST(PesHeader, EveryOptionalFieldRoundTrips) {
  PES_HEADER h;
  h.stream_id = 0xEA;
  h.PES_scrambling_control = 1;
  h.PES_priority = true;
  h.copyright = true;
  h.original_or_copy = true;
  SetTimeStamps(h, 0x1FFFFFFFFull, 0x123456789ull);
  h.ESCR = PCR_FIELD{0x1ABCDEF12ull, 299};
  h.ES_rate = 0x2AAAAA;
  h.trick_mode = PES_TRICK_MODE{3, 0x15};
  h.additional_copy_info = 0x55;
  h.previous_PES_packet_CRC = 0xBEEF;
  PES_EXTENSION& e = h.extension.emplace();
  e.PES_private_data = std::array<uint8_t, 16>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  e.pack_header = Bytes{9, 8, 7};
  e.sequence_counter = PES_SEQUENCE_COUNTER{0x7F, true, 0x2A};
  e.P_STD_buffer = PES_P_STD_BUFFER{true, 0x1ABC};
  e.extension_field = Bytes{0x72, 0x00};
  h.stuffing = 4;
  Bytes b = WriteAll(h);
  // 9 + PTS/DTS 10 + ESCR 6 + rate 3 + trick 1 + copy 1 + CRC 2
  // + extension (1 + 16 + 4 + 2 + 2 + 3) + stuffing 4
  ASSERT_EQ(b.size(), 9u + 10 + 6 + 3 + 1 + 1 + 2 + 28 + 4);
  EXPECT_EQ(b[8], b.size() - 9);
  PES_HEADER back;
  EXPECT_EQ(Parse(b.data(), b.size(), back), b.size());
  EXPECT_EQ(back, h);
  ExpectTruncationFails<PES_HEADER>(b);

  Bytes noStart{0, 0, 2, 0xE0, 0, 0, 0x80, 0, 0};
  EXPECT_EQ(Parse(noStart.data(), noStart.size(), back), 0u);
  Bytes forbidden{0, 0, 1, 0xE0, 0, 0, 0x80, 0x40, 0};  // PTS_DTS_flags 01
  EXPECT_EQ(Parse(forbidden.data(), forbidden.size(), back), 0u);
}

TEST(SectionPackets, LongSectionSpansPacketsWithOnePointerField) {
  Bytes section(400);
  for (size_t i = 0; i < section.size(); ++i) section[i] = static_cast<uint8_t>(i * 7);
  TS_PACKET_HEADER h;
  h.PID = kPmtPid;
  h.continuity_counter = 3;
  EXPECT_EQ(SectionPacketCount(183), 1u);
  EXPECT_EQ(SectionPacketCount(184), 2u);
  EXPECT_EQ(SectionPacketCount(367), 2u);
  EXPECT_EQ(SectionPacketCount(368), 3u);
  ASSERT_EQ(SectionPacketCount(section.size()), 3u);

  Bytes payload;
  size_t sent = 0;
  for (int i = 0; sent < section.size(); ++i) {
    Bytes pkt(kTsPacketSize, 0xFF);
    size_t k = WriteSectionPacket(h, section.data() + sent, section.size() - sent, i == 0, pkt.data());
    EXPECT_EQ(k, i == 0 ? 183u : std::min<size_t>(184, section.size() - sent));
    EXPECT_EQ(pkt[0], 0x47);
    EXPECT_EQ(pkt[1], i == 0 ? 0x41 : 0x01);
    EXPECT_EQ(pkt[3], 0x13 + i);  // payload only, counter as given
    size_t start = i == 0 ? 5 : 4;
    if (i == 0) {
      EXPECT_EQ(pkt[4], 0x00);
    }
    payload.insert(payload.end(), pkt.begin() + start, pkt.begin() + start + k);
    if (start + k < kTsPacketSize) {
      EXPECT_EQ(pkt[start + k], 0xFF);  // left as the buffer held it
    }
    sent += k;
    h.continuity_counter = (h.continuity_counter + 1) & 0xF;
  }
  EXPECT_EQ(payload, section);
}

TEST(StreamTables, PidRangesAndNames) {
  for (uint32_t pid : {0x1011u, 0x1100u, 0x111Fu, 0x1200u, 0x12FFu, 0x1400u, 0x141Fu, 0x1800u, 0x1A00u, 0x1A1Fu,
                       0x1B00u, 0x1B1Fu})
    EXPECT_TRUE(IsElementaryPid(pid)) << std::hex << pid;
  for (uint32_t pid : {0x0000u, 0x001Fu, 0x0100u, 0x1001u, 0x1010u, 0x1012u, 0x1120u, 0x1300u, 0x1420u, 0x1801u,
                       0x1A20u, 0x1B20u, 0x1FFFu})
    EXPECT_FALSE(IsElementaryPid(pid)) << std::hex << pid;

  EXPECT_STREQ(GetStreamTypeName(0x1B), "MPEG-4 AVC/h.264");
  EXPECT_STREQ(GetStreamTypeShortName(0x1B), "MPEG-4 AVC/H.264");
  EXPECT_STREQ(GetStreamTypeName(0x20), "MPEG-4 MVC");
  EXPECT_EQ(GetStreamTypeShortName(0x20), nullptr);
  EXPECT_STREQ(GetStreamTypeShortName(0xA1), "EAC-3");
  EXPECT_STREQ(GetStreamTypeName(0xA2), "DTS-HD LBR (2nd Audio)");
  EXPECT_STREQ(GetStreamTypeShortName(0x90), "PG(Subtitle)");
  EXPECT_EQ(GetStreamTypeName(0x03), nullptr);
}

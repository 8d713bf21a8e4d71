// The packet dump over packets the multiplexer's own writers produce: a PMT
// that spans packets, PES headers with their optional fields, and damaged
// packets that must stop the walk with the packet named.
#include <gtest/gtest.h>

#include <cstring>

#include "mux/psi.h"
#include "mux/ts_dump.h"
#include "mux/ts_syntax.h"

using namespace zv;

namespace {

using Packet = std::array<uint8_t, kSourcePacketSize>;

Packet Blank(uint32_t ats) {
  Packet p;
  p.fill(0xFF);
  p[0] = static_cast<uint8_t>(0x40 | (ats >> 24));  // copy permission 1
  p[1] = static_cast<uint8_t>(ats >> 16);
  p[2] = static_cast<uint8_t>(ats >> 8);
  p[3] = static_cast<uint8_t>(ats);
  return p;
}

// The child block or line at "label/label index/...", or null.
const SDumpNode* Find(const SDumpNode& n, const std::string& path) {
  const SDumpNode* at = &n;
  size_t from = 0;
  while (at && from <= path.size()) {
    size_t to = path.find('/', from);
    std::string part = path.substr(from, to == std::string::npos ? std::string::npos : to - from);
    const SDumpNode* next = nullptr;
    for (const auto& c : at->children)
      if ((c.index < 0 ? c.label : c.label + " " + std::to_string(c.index)) == part) next = &c;
    at = next;
    if (to == std::string::npos) break;
    from = to + 1;
  }
  return at;
}

std::string Value(const SDumpNode& n, const std::string& path) {
  const SDumpNode* f = Find(n, path);
  return f ? f->value : "<missing " + path + ">";
}

TEST(SourcePacketDump, PmtSpanningPacketsIsDecodedUnderThePacketThatCompletesIt) {
  PMT_SECTION pmt;
  for (uint16_t i = 0; i < 20; ++i) {
    ESI& e = pmt.streams.emplace_back();
    e.stream_type = 0x90;
    e.elementary_PID = static_cast<uint16_t>(0x1200 + i);
    e.language = ISO639_LANGUAGE_DESCRIPTOR{{'d', 'e', 'u'}, 0};
  }
  std::vector<uint8_t> section(Write(pmt, nullptr, 0));
  Write(pmt, section.data(), section.size());
  ASSERT_GT(section.size(), 183u);
  ASSERT_EQ(SectionPacketCount(section.size()), 2u);

  TS_PACKET_HEADER h;
  h.PID = kPmtPid;
  Packet first = Blank(1000), second = Blank(2000);
  size_t sent = WriteSectionPacket(h, section.data(), section.size(), true, first.data() + 4);
  h.continuity_counter = 1;
  sent += WriteSectionPacket(h, section.data() + sent, section.size() - sent, false, second.data() + 4);
  ASSERT_EQ(sent, section.size());

  CSourcePacketDump dump;
  SDumpNode root;
  std::string error;
  ASSERT_TRUE(dump.Add(first.data(), 7, root, error)) << error;
  ASSERT_TRUE(dump.Add(second.data(), 8, root, error)) << error;
  EXPECT_EQ(Value(root, "SourcePacket 7/TP_extra_header/copy_permission_indicator"), "1");
  EXPECT_EQ(Value(root, "SourcePacket 7/TP_extra_header/arrival_time_stamp"), "1000");
  EXPECT_EQ(Value(root, "SourcePacket 7/transport_packet/pointer_field"), "0");
  EXPECT_EQ(Find(root, "SourcePacket 7/PMT"), nullptr);
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/begins_in_packet"), "7");
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/section_length"), std::to_string(section.size() - 3));
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/program_info_length"), "12");
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/stream 19/elementary_PID"), "0x1213");
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/stream 19/stream_type"), "0x90 PG/Subtitle");
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/stream 19/ES_info_length"), "6");
  EXPECT_EQ(Value(root, "SourcePacket 8/PMT/stream 19/descriptor 0/ISO_639_language_code"), "deu");
  EXPECT_EQ(Find(root, "SourcePacket 8/PMT/error"), nullptr);

  // Only the first packet dumped: the section is named as left open.
  CSourcePacketDump part;
  SDumpNode partRoot;
  ASSERT_TRUE(part.Add(first.data(), 0, partRoot, error));
  part.Finish(partRoot);
  EXPECT_NE(partRoot.Render().find("note: the section on PID 0x0100 begun in packet 0 continues"), std::string::npos)
      << partRoot.Render();
}

TEST(SourcePacketDump, PesHeadersShowTheirOptionalFields) {
  TS_PACKET_HEADER h;
  h.PID = 0x1100;
  h.payload_unit_start_indicator = true;
  StuffPacket(h, 10);
  h.adaptation_field->PCR = PCR_FIELD{0x1FFFFFFFFull, 299};
  PES_HEADER pes;
  pes.stream_id = 0xFD;
  pes.PES_packet_length = 1234;
  SetTimeStamps(pes, 0x1ABCDEF01ull, 54000000);
  pes.extension.emplace().extension_field = std::vector<uint8_t>{0x71};
  Packet a = Blank(0);
  ASSERT_GT(Write(h, a.data() + 4, kTsPacketSize, TS_PAYLOAD_START{nullptr, nullptr, &pes}), 0u);

  // Text subtitles carry no optional header.
  PES_HEADER text;
  text.stream_id = 0xBF;
  text.PES_packet_length = 77;
  TS_PACKET_HEADER th;
  th.PID = 0x1800;
  th.payload_unit_start_indicator = true;
  Packet b = Blank(0);
  Write(th, b.data() + 4, kTsPacketSize, TS_PAYLOAD_START{nullptr, nullptr, &text});

  CSourcePacketDump dump;
  SDumpNode root;
  std::string error;
  ASSERT_TRUE(dump.Add(a.data(), 0, root, error)) << error;
  ASSERT_TRUE(dump.Add(b.data(), 1, root, error)) << error;
  const std::string af = "SourcePacket 0/transport_packet/adaptation_field/";
  EXPECT_EQ(Value(root, af + "adaptation_field_length"), "15");  // flags, PCR and the 8 stuffing bytes
  EXPECT_EQ(Value(root, af + "PCR/value_27MHz"), std::to_string(0x1FFFFFFFFull * 300 + 299));
  EXPECT_EQ(Value(root, af + "stuffing_bytes"), "8");
  EXPECT_EQ(Value(root, "SourcePacket 0/transport_packet/payload_bytes"), "168");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/stream_id"), "0xFD");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/PES_packet_length"), "1234");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/PTS_DTS_flags"), "3");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/PES_header_data_length"), "13");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/PTS"), std::to_string(0x1ABCDEF01ull));
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/DTS"), "54000000");
  EXPECT_EQ(Value(root, "SourcePacket 0/PES_header/PES_extension/stream_id_extension"), "0x71");
  EXPECT_EQ(Value(root, "SourcePacket 1/PES_header/stream_id"), "0xBF");
  EXPECT_EQ(Value(root, "SourcePacket 1/PES_header/PES_packet_length"), "77");
  EXPECT_EQ(Find(root, "SourcePacket 1/PES_header/PTS_DTS_flags"), nullptr);
}

TEST(SourcePacketDump, DamageIsReportedWithThePacket) {
  PAT_SECTION pat;
  TS_PACKET_HEADER h;
  h.PID = kPatPid;
  h.payload_unit_start_indicator = true;
  Packet good = Blank(0);
  Write(h, good.data() + 4, kTsPacketSize, TS_PAYLOAD_START{&pat, nullptr, nullptr});

  // A flipped bit in the section: shown, CRC marked, fields not decoded.
  Packet corrupt = good;
  corrupt[4 + 5 + 10] ^= 0x01;
  CSourcePacketDump dump;
  SDumpNode root;
  std::string error;
  ASSERT_TRUE(dump.Add(corrupt.data(), 3, root, error)) << error;
  EXPECT_NE(Value(root, "SourcePacket 3/PAT/CRC_32").find("(does not check)"), std::string::npos);
  EXPECT_EQ(Find(root, "SourcePacket 3/PAT/program 0"), nullptr);
  EXPECT_NE(Find(root, "SourcePacket 3/PAT/error"), nullptr);

  Packet lost = good;
  lost[4] = 0x48;
  EXPECT_FALSE(dump.Add(lost.data(), 4, root, error));
  EXPECT_EQ(error, "packet 4 (byte 768): lost sync: the transport packet begins with 0x48, not 0x47");
  EXPECT_EQ(Find(root, "SourcePacket 4"), nullptr);

  Packet longAf = Blank(0);
  TS_PACKET_HEADER a;
  a.PID = 0x1011;
  a.adaptation_field_control = 3;
  Write(a, longAf.data() + 4, kTsPacketSize);
  longAf[4 + 4] = 184;  // one more than fits after the length byte
  EXPECT_FALSE(dump.Add(longAf.data(), 5, root, error));
  EXPECT_EQ(error, "packet 5 (byte 960): the adaptation field (length 184) runs past the end of the packet");

  // A section whose start the dump never saw is noted, not decoded.
  Packet tail = good;
  tail[4 + 1] &= ~0x40;  // payload_unit_start_indicator off
  CSourcePacketDump fresh;
  SDumpNode freshRoot;
  ASSERT_TRUE(fresh.Add(tail.data(), 0, freshRoot, error)) << error;
  EXPECT_EQ(Value(freshRoot, "SourcePacket 0/note"), "continues a section that began before the dumped packets");
}

}  // namespace

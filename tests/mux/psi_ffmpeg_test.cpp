// PAT and PMT written by ffmpeg: parse them, write them again, and the bytes
// (CRC included) must be the same.
#include <gtest/gtest.h>

#include "mux/psi.h"
#include "support/test_support.h"

using namespace zv;
using Bytes = std::vector<uint8_t>;

namespace {

struct Sections {
  Bytes pat;
  Bytes pmt;
};

// The first PAT and the first PMT section of a transport stream of
// `stride`-byte packets (188, or 192 for m2ts) whose sections fit one packet.
Sections FindSections(const Bytes& ts, size_t stride) {
  Sections s;
  const size_t skip = stride - kTsPacketSize;
  int pmtPid = -1;
  for (size_t off = 0; off + stride <= ts.size() && (s.pat.empty() || s.pmt.empty()); off += stride) {
    const uint8_t* pkt = ts.data() + off + skip;
    TS_PACKET_HEADER h;
    size_t hl = Parse(pkt, kTsPacketSize, h);
    if (hl == 0 || !h.payload_unit_start_indicator) continue;
    // The header parser consumes the pointer_field on the disc PSI PIDs
    // only; ffmpeg's PMT PID may be elsewhere.
    if (h.PID != kPatPid && h.PID != kSitPid && h.PID != kPmtPid) hl += 1 + pkt[hl];
    const uint8_t* sec = pkt + hl;
    size_t len = 3 + (((sec[1] & 0x0F) << 8) | sec[2]);
    if (hl + len > kTsPacketSize) continue;
    if (h.PID == kPatPid && s.pat.empty()) {
      s.pat.assign(sec, sec + len);
      PAT_SECTION pat;
      if (Parse(s.pat.data(), s.pat.size(), pat))
        for (const PI& pi : pat.programs)
          if (pi.program_number != 0) pmtPid = pi.PID;
    } else if (static_cast<int>(h.PID) == pmtPid && s.pmt.empty()) {
      s.pmt.assign(sec, sec + len);
    }
  }
  return s;
}

template <class R>
void ExpectRewriteIdentical(const Bytes& section) {
  R r;
  ASSERT_EQ(Parse(section.data(), section.size(), r), section.size());
  Bytes again(Write(r, nullptr, 0));
  ASSERT_EQ(Write(r, again.data(), again.size()), section.size());
  EXPECT_EQ(again, section);
  EXPECT_EQ(Crc32Mpeg2(section.data(), section.size()), 0u);
}

class FfmpegPsi : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  }

  Bytes Make(const std::vector<std::string>& codecArgs, const std::string& name) {
    std::vector<std::string> argv{"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc=size=64x64:rate=25",
                                  "-f", "lavfi", "-i", "sine", "-t", "0.2"};
    argv.insert(argv.end(), codecArgs.begin(), codecArgs.end());
    argv.push_back(dir_ / name);
    auto r = zvtest::Run(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    return zvtest::ReadBytes(dir_ / name);
  }

  zvtest::TempDir dir_;
};

}  // namespace

TEST_F(FfmpegPsi, PlainTransportStreamPatAndPmt) {
  Bytes ts = Make({"-map", "0", "-map", "1", "-c:v", "mpeg2video", "-c:a", "ac3", "-metadata:s:a:0", "language=eng",
                   "-f", "mpegts"},
                  "plain.ts");
  Sections s = FindSections(ts, 188);
  ASSERT_FALSE(s.pat.empty());
  ASSERT_FALSE(s.pmt.empty());
  ExpectRewriteIdentical<PAT_SECTION>(s.pat);
  ExpectRewriteIdentical<PMT_SECTION>(s.pmt);

  PMT_SECTION pmt;
  ASSERT_TRUE(Parse(s.pmt.data(), s.pmt.size(), pmt));
  ASSERT_EQ(pmt.streams.size(), 2u);
  EXPECT_EQ(pmt.streams[0].stream_type, 0x02);
  EXPECT_EQ(pmt.streams[1].stream_type, 0x81);
  EXPECT_TRUE(pmt.streams[1].ac3_registration);
  ASSERT_TRUE(pmt.streams[1].language);
  EXPECT_EQ(std::string(pmt.streams[1].language->language.data(), 3), "eng");
}

TEST_F(FfmpegPsi, M2tsModeProgramDescriptors) {
  Bytes ts = Make({"-map", "0", "-map", "1", "-map", "1", "-c:v", "mpeg2video", "-c:a:0", "ac3", "-c:a:1", "mp2",
                   "-metadata:s:a:0", "language=eng", "-metadata:s:a:1", "language=fra", "-mpegts_m2ts_mode", "1",
                   "-f", "mpegts"},
                  "bd.m2ts");
  Sections s = FindSections(ts, 192);
  ASSERT_FALSE(s.pat.empty());
  ASSERT_FALSE(s.pmt.empty());
  ExpectRewriteIdentical<PAT_SECTION>(s.pat);
  ExpectRewriteIdentical<PMT_SECTION>(s.pmt);

  PMT_SECTION pmt;
  ASSERT_TRUE(Parse(s.pmt.data(), s.pmt.size(), pmt));
  EXPECT_TRUE(pmt.hdmv_registration);
  EXPECT_TRUE(pmt.copy_control);
  EXPECT_EQ(pmt.PCR_PID, 0x1011);
  ASSERT_EQ(pmt.streams.size(), 3u);
  EXPECT_EQ(pmt.streams[0].elementary_PID, 0x1011);
  EXPECT_EQ(pmt.streams[1].elementary_PID, 0x1100);
}

// PAT, PMT, SIT, ESI entries and descriptors against hand-computed bytes
// (CRCs from an independent bitwise computation), and round trips.
#include <gtest/gtest.h>

#include "mux/psi.h"

using namespace zv;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Hex(const char* s) {
  Bytes out;
  auto nib = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
  for (; *s; ++s) {
    if (*s == ' ') continue;
    out.push_back(static_cast<uint8_t>(nib(s[0]) << 4 | nib(s[1])));
    ++s;
  }
  return out;
}

template <class R>
Bytes WriteAll(const R& r) {
  size_t n = Write(r, nullptr, 0);
  Bytes out(n, 0xEE);
  EXPECT_EQ(Write(r, out.data(), out.size()), n);
  return out;
}

template <class R>
R ParseAll(const Bytes& b) {
  R r;
  EXPECT_EQ(Parse(b.data(), b.size(), r), b.size());
  return r;
}

LanguageCode Lang(const char* s) { return {s[0], s[1], s[2]}; }

}  // namespace

TEST(Crc32, KnownValuesAndSelfCheck) {
  const char* check = "123456789";
  EXPECT_EQ(Crc32Mpeg2(reinterpret_cast<const uint8_t*>(check), 9), 0x0376E6E7u);
  // CRC of a PAT written by ffmpeg, as it stands in that file.
  Bytes pat = Hex("00b00d0001c100000001f000");
  EXPECT_EQ(Crc32Mpeg2(pat.data(), pat.size()), 0x2AB104B2u);
  pat.insert(pat.end(), {0x2A, 0xB1, 0x04, 0xB2});
  EXPECT_EQ(Crc32Mpeg2(pat.data(), pat.size()), 0u);
}

TEST(PsiSections, DiscPatAndSitBytes) {
  EXPECT_EQ(WriteAll(PAT_SECTION{}), Hex("00B0110000C10000 0000E01F 0001E100 235AAB82"));
  EXPECT_EQ(WriteAll(SIT_SECTION{}), Hex("7FB019 FFFF C1 00 00 F00A 6308C1D4C0FFFFFFFFFF 0001 8000 94CB51DA"));
  EXPECT_EQ(ParseAll<PAT_SECTION>(WriteAll(PAT_SECTION{})), PAT_SECTION{});
  EXPECT_EQ(ParseAll<SIT_SECTION>(WriteAll(SIT_SECTION{})), SIT_SECTION{});
}

TEST(PsiSections, PmtWithVideoAndAc3Entries) {
  PMT_SECTION pmt;
  ESI video;
  video.stream_type = 0x1B;
  video.elementary_PID = 0x1011;
  video.video_registration = HDMV_VIDEO_REGISTRATION{0x1B, 6, 1, 3};  // 1080p, 23.976, 16:9
  ESI audio;
  audio.stream_type = 0x81;
  audio.elementary_PID = 0x1100;
  audio.ac3_registration = true;
  audio.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("eng"), 0};
  pmt.streams = {video, audio};
  Bytes b = WriteAll(pmt);
  EXPECT_EQ(b, Hex("02B0390001C10000F001F00C 050448444D56 88040FFFFFFC"
                   "1BF011F00A 050848444D56FF1B613F"
                   "81F100F00C 050441432D33 0A04656E6700"
                   "EB1102BE"));
  EXPECT_EQ(ParseAll<PMT_SECTION>(b), pmt);

  // The extra program descriptor follows the two HDMV ones.
  pmt.extra_descriptors.push_back(RAW_DESCRIPTOR{0x89, {0xAA, 0xBB}});
  Bytes withExtra = WriteAll(pmt);
  EXPECT_EQ(withExtra[11], 12 + 4);  // program_info_length
  EXPECT_EQ(Bytes(withExtra.begin() + 24, withExtra.begin() + 28), (Bytes{0x89, 0x02, 0xAA, 0xBB}));
  EXPECT_EQ(ParseAll<PMT_SECTION>(withExtra), pmt);
}

TEST(PsiSections, ParsersRejectCorruptionAndTruncation) {
  PMT_SECTION pmt;
  ESI pg;
  pg.stream_type = 0x90;
  pg.elementary_PID = 0x1200;
  pg.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("deu"), 0};
  pmt.streams = {pg};
  Bytes b = WriteAll(pmt);
  PMT_SECTION r;
  for (size_t n = 0; n < b.size(); ++n) EXPECT_EQ(Parse(b.data(), n, r), 0u) << n;
  for (size_t i = 0; i < b.size(); ++i) {
    Bytes bad = b;
    bad[i] ^= 0x01;
    EXPECT_EQ(Parse(bad.data(), bad.size(), r), 0u) << "flipped byte " << i;
  }
  PAT_SECTION pat;
  EXPECT_EQ(Parse(b.data(), b.size(), pat), 0u);  // wrong table_id

  // Trailing bytes after the section are not consumed.
  b.insert(b.end(), {0xFF, 0xFF});
  EXPECT_EQ(Parse(b.data(), b.size(), r), b.size() - 2);
}

TEST(PsiSections, SectionLongerThanAPsiSectionMayBeIsRefused) {
  PMT_SECTION pmt;
  for (int i = 0; i < 100; ++i) {
    ESI e;
    e.stream_type = 0x90;
    e.elementary_PID = static_cast<uint16_t>(0x1200 + i);
    e.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("eng"), 0};
    pmt.streams.push_back(e);
  }
  EXPECT_THROW(Write(pmt, nullptr, 0), std::length_error);
}

TEST(EsiEntries, DescriptorsFollowTheStreamType) {
  // DTS and graphics carry only the language.
  ESI dts;
  dts.stream_type = 0x82;
  dts.elementary_PID = 0x1101;
  dts.ac3_registration = true;  // not a descriptor of this type
  dts.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("jpn"), 0};
  EXPECT_EQ(WriteAll(dts), Hex("82F101F006 0A046A706E00"));
  ESI pg = dts;
  pg.stream_type = 0x90;
  pg.elementary_PID = 0x1200;
  EXPECT_EQ(WriteAll(pg), Hex("90F200F006 0A046A706E00"));

  ESI lpcm;
  lpcm.stream_type = 0x80;
  lpcm.elementary_PID = 0x1100;
  lpcm.lpcm_registration = HDMV_LPCM_REGISTRATION{0x80, 3, 1, 1};  // stereo, 48 kHz, 16 bit
  lpcm.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("eng"), 0};
  Bytes b = WriteAll(lpcm);
  EXPECT_EQ(b, Hex("80F100F010 050848444D56FF80317F 0A04656E6700"));
  EXPECT_EQ(ParseAll<ESI>(b), lpcm);

  // AVC: registration, AVC video, timing/HRD, captions.
  ESI avc;
  avc.stream_type = 0x1B;
  avc.elementary_PID = 0x1011;
  avc.video_registration = HDMV_VIDEO_REGISTRATION{0x1B, 4, 3, 2};
  avc.avc_video = AVC_VIDEO_DESCRIPTOR{100, true, false, true, 0x03, 41, true, false};
  avc.avc_timing_hrd = Bytes{0x7E, 0xFF};
  CAPTION_SERVICE_INFO cc{Lang("eng"), false, false, true, false};
  CAPTION_SERVICE_INFO cc21{Lang("fra"), true, true, false, true};
  avc.caption_services = std::vector<CAPTION_SERVICE_INFO>{cc, cc21};
  b = WriteAll(avc);
  EXPECT_EQ(b, Hex("1BF011F023 050848444D56FF1B432F 2804 64A3 29 80 2A027EFF"
                   "860DE2 656E67 41 BF FF 667261 FF 7F FF"));
  EXPECT_EQ(ParseAll<ESI>(b), avc);

  // VC-1: registration with its sub-descriptors, then captions.
  ESI vc1;
  vc1.stream_type = 0xEA;
  vc1.elementary_PID = 0x1011;
  vc1.vc1_registration = VC1_REGISTRATION{0x93, 0x80, VC1_BUFFER_SIZE{4, 0x1234}};
  b = WriteAll(vc1);
  EXPECT_EQ(b, Hex("EAF011F00E 050C56432D31 0193 0280 03F41234"));
  EXPECT_EQ(ParseAll<ESI>(b), vc1);
}

TEST(EsiEntries, Ac3DescriptorLanguageFlags) {
  AC3_DESCRIPTOR d;
  d.bsid = 8;
  d.bit_rate_code = 0x0E;
  d.num_channels = 7;
  d.full_svc = true;
  d.priority = 1;
  d.text_code = true;
  d.language = Lang("eng");
  Bytes b = WriteAll(d);
  EXPECT_EQ(b, Hex("810A 08 38 0F 00 0F 01 BF 656E67"));
  EXPECT_EQ(b[8] & 0x80, 0x80);
  EXPECT_EQ(ParseAll<AC3_DESCRIPTOR>(b), d);

  // num_channels 0 adds langcod2; bsmod >= 2 writes asvcflags; both
  // languages, text and additional info.
  AC3_DESCRIPTOR full;
  full.bsmod = 2;
  full.num_channels = 0;
  full.langcod2 = 0x55;
  full.asvcflags = 0xA5;
  full.text = {'h', 'i'};
  full.language = Lang("eng");
  full.language_2 = Lang("spa");
  full.additional_info = {0x01, 0x02};
  b = WriteAll(full);
  EXPECT_EQ(b, Hex("8112 00 00 40 00 55 A5 04 6869 FF 656E67 737061 0102"));
  EXPECT_EQ(ParseAll<AC3_DESCRIPTOR>(b), full);

  ESI e;
  e.stream_type = 0x84;
  e.elementary_PID = 0x1100;
  e.ac3_registration = true;
  e.ac3_audio = d;
  e.language = ISO639_LANGUAGE_DESCRIPTOR{Lang("eng"), 0};
  EXPECT_EQ(ParseAll<ESI>(WriteAll(e)), e);
}

TEST(EsiEntries, UnmodelledDescriptorsAreKeptVerbatim) {
  // An MPEG audio entry with a private descriptor, then the language; and a
  // short AC-3 descriptor that cannot be read as the full form.
  Bytes mp2 = Hex("03F101F00B C0 03 010203 0A04667261 00");
  ESI e = ParseAll<ESI>(mp2);
  EXPECT_EQ(e.other_descriptors, Hex("C003010203"));
  ASSERT_TRUE(e.language);
  EXPECT_EQ(e.language->language, Lang("fra"));
  EXPECT_EQ(WriteAll(e), mp2);

  Bytes shortAc3 = Hex("81F100F00A 050441432D33 8102 0838");
  e = ParseAll<ESI>(shortAc3);
  EXPECT_TRUE(e.ac3_registration);
  EXPECT_FALSE(e.ac3_audio);
  EXPECT_EQ(e.other_descriptors, Hex("81020838"));
  EXPECT_EQ(WriteAll(e), shortAc3);

  // A descriptor loop that runs past ES_info_length is an error.
  Bytes broken = Hex("90F200F003 0A0465");
  ESI r;
  EXPECT_EQ(Parse(broken.data(), broken.size(), r), 0u);
}

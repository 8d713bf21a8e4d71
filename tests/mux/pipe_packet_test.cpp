// Packetizing real streams through CFilePipe, checked with an independent
// packet reader against the stream files' own bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "mux/file_pipe.h"
#include "pipe_ts_reader.h"
#include "streams/other_sif.h"
#include "support/test_support.h"

using namespace zv;
using pipetest::DrainedUnit;
using pipetest::TsView;

namespace {

constexpr int64_t kOffset = 54000000 - 131070;  // a track's usual offset
constexpr uint64_t kMask33 = (uint64_t{1} << 33) - 1;

SPipeSource OneFile(const std::string& path) {
  SPipeSource s;
  s.params.path = path;
  return s;
}

// Independent packet count: the payload room of a unit's first packet is
// 170 bytes with a PTS alone, 165 with PTS and DTS, 3 less with a
// stream_id_extension.
uint32_t ExpectedPackets(uint32_t size, bool withDts, bool withExtension) {
  int64_t h = withDts ? 165 : 170;
  if (withExtension) h -= 3;
  if (size <= h) return 1;
  return static_cast<uint32_t>(1 + (size - h + 183) / 184);
}

struct Expect {
  uint16_t pid;
  uint8_t streamId;
  std::optional<uint8_t> extension;
  bool dtsWhenDiffers;  // H.264: DTS written when it differs from the PTS
};

// The checks every packetized unit must pass; returns all packets in order.
void CheckUnits(const std::vector<DrainedUnit>& units, const std::vector<uint8_t>& file, const Expect& e,
                std::vector<pipetest::Packet>& all) {
  for (size_t i = 0; i < units.size(); ++i) {
    const DrainedUnit& u = units[i];
    SCOPED_TRACE("unit " + std::to_string(i));
    if (u.au.size == 0) {
      EXPECT_TRUE(u.packets.empty());
      continue;
    }
    ASSERT_FALSE(u.packets.empty());
    std::vector<uint8_t> es;
    size_t pesBytes = 0;
    TsView first;
    for (size_t k = 0; k < u.packets.size(); ++k) {
      TsView v;
      ASSERT_TRUE(pipetest::ReadPacket(u.packets[k], v));
      EXPECT_EQ(v.pid, e.pid);
      EXPECT_EQ(v.pusi, k == 0);
      EXPECT_TRUE(v.afStuffingOk);
      // Only the unit's last packet may be shortened.
      if (k + 1 < u.packets.size()) {
        EXPECT_EQ(v.afc, 1);
      }
      if (k == 0) first = v;
      pesBytes += 188 - v.pesStart;
      es.insert(es.end(), u.packets[k].begin() + v.esStart, u.packets[k].end());
      all.push_back(u.packets[k]);
    }
    // The unit's bytes, and nothing else, fill its packets to the end.
    ASSERT_LE(u.au.offset + u.au.size, file.size());
    EXPECT_TRUE(es == std::vector<uint8_t>(file.begin() + u.au.offset, file.begin() + u.au.offset + u.au.size));
    const size_t lengthValue = pesBytes - 6;
    EXPECT_EQ(first.pesLength, lengthValue < 65536 ? lengthValue : 0);
    EXPECT_EQ(first.streamId, e.streamId);
    EXPECT_EQ(first.idExtension, e.extension);
    ASSERT_TRUE(first.pts.has_value());
    EXPECT_EQ(*first.pts, (kOffset + u.au.pts) & kMask33);
    const bool wantDts = e.dtsWhenDiffers && u.au.dts != 0 && u.au.dts != u.au.pts;
    EXPECT_EQ(first.dts.has_value(), wantDts);
    if (wantDts && first.dts) {
      EXPECT_EQ(*first.dts, (kOffset + u.au.dts) & kMask33);
    }
    EXPECT_EQ(u.packets.size(), ExpectedPackets(u.au.size, wantDts, e.extension.has_value()));
  }
}

void CheckContinuity(const std::vector<pipetest::Packet>& all) {
  ASSERT_GT(all.size(), 16u);
  bool wrapped = false;
  for (size_t i = 1; i < all.size(); ++i) {
    uint8_t prev = all[i - 1][3] & 0x0F, cur = all[i][3] & 0x0F;
    ASSERT_EQ(cur, (prev + 1) % 16) << "packet " << i;
    wrapped = wrapped || (prev == 15 && cur == 0);
  }
  EXPECT_TRUE(wrapped);
}

// Exp-Golomb reader over the first bytes of a slice header.
struct Bits {
  const uint8_t* p;
  size_t n, pos = 0;
  unsigned Bit() {
    unsigned v = pos / 8 < n ? (p[pos / 8] >> (7 - pos % 8)) & 1 : 0;
    ++pos;
    return v;
  }
  unsigned Ue() {
    int zeros = 0;
    while (Bit() == 0 && zeros < 32) ++zeros;
    unsigned v = 0;
    for (int i = 0; i < zeros; ++i) v = (v << 1) | Bit();
    return (1u << zeros) - 1 + v;
  }
};

// Whether the access unit holds an IDR slice, and whether its first slice is
// an I slice, read from the stream bytes.
void SliceKinds(const uint8_t* p, size_t n, bool& idr, bool& iSlice) {
  idr = false;
  iSlice = false;
  bool firstSlice = true;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    const uint8_t type = p[i + 3] & 0x1F;
    if (type == 5) idr = true;
    if ((type == 1 || type == 5) && firstSlice) {
      Bits b{p + i + 4, std::min<size_t>(16, n - i - 4)};
      b.Ue();  // first_mb_in_slice
      iSlice = b.Ue() % 5 == 2;
      firstSlice = false;
    }
    i += 2;
  }
}

}  // namespace

TEST(PipePacketTest, H264UnitsFillWholePacketsWithTheirOwnBytes) {
  zvtest::TempDir dir;
  const std::string path = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const auto file = zvtest::ReadBytes(path);
  CFilePipe pipe(OneFile(path));
  ScriptedPrompt prompt;
  ASSERT_EQ(pipe.Open(Progress{}, &prompt), kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  EXPECT_EQ(pipe.GetStreamCodingType(), kSctH264);
  EXPECT_EQ(pipe.GetAuCount(), 48);  // ffprobe counts 48 frames

  SStartInfo start;
  ASSERT_TRUE(pipe.GetStartInfo(start));
  EXPECT_EQ(start.pts, 131070u);
  auto units = pipetest::Drain(pipe, 0x1011, kOffset, true);
  EXPECT_FALSE(pipe.Failed());
  ASSERT_EQ(units.size(), 49u);  // 48 pictures and the empty end unit
  std::vector<pipetest::Packet> all;
  CheckUnits(units, file, {0x1011, 0xE0, std::nullopt, true}, all);
  CheckContinuity(all);

  // Start information: the first unit (the whole file is served, so its time
  // base is the file's) and exactly the packets it produced.
  EXPECT_EQ(units[0].au.pts, start.pts);
  EXPECT_EQ(start.dts, units[0].au.dts ? units[0].au.dts : units[0].au.pts);
  EXPECT_EQ(start.packets, units[0].packets.size());

  // The end unit lies one frame (1001/24 ms = 3753.75 ticks, truncated)
  // after the last picture.
  const AUI& end = units.back().au;
  const AUI& lastPic = units[units.size() - 2].au;
  EXPECT_EQ(end.size, 0u);
  EXPECT_EQ(end.pts, lastPic.pts + 3753);
  EXPECT_EQ(pipe.NextAu(), nullptr);

  // Key points: every IDR picture is one, and every key point is an I picture
  // whose PTS is the one written in its PES header.
  std::set<int32_t> keyIndices;
  for (const auto& kp : pipe.KeyPoints()) keyIndices.insert(kp.auIndex);
  EXPECT_EQ(keyIndices.size(), pipe.KeyPoints().size());
  ASSERT_FALSE(keyIndices.empty());
  EXPECT_EQ(*keyIndices.begin(), 0);
  for (size_t i = 0; i + 1 < units.size(); ++i) {
    bool idr = false, iSlice = false;
    SliceKinds(file.data() + units[i].au.offset, units[i].au.size, idr, iSlice);
    const bool isKey = keyIndices.count(static_cast<int32_t>(i)) > 0;
    if (idr) {
      EXPECT_TRUE(isKey) << "IDR unit " << i;
    }
    if (isKey) {
      EXPECT_TRUE(iSlice) << "key unit " << i;
      ASSERT_TRUE(units[i].keyPoint.has_value());
      TsView v;
      ASSERT_TRUE(pipetest::ReadPacket(units[i].packets[0], v));
      EXPECT_EQ(units[i].keyPoint->pts, *v.pts);
    } else {
      EXPECT_FALSE(units[i].keyPoint.has_value()) << "unit " << i;
    }
  }

  // The PMT entry announces 1080p at 23.976 Hz, 16:9, without a language.
  const ESI* esi = pipe.CreateEsInfo(0x1011);
  ASSERT_NE(esi, nullptr);
  EXPECT_EQ(esi->stream_type, 0x1B);
  EXPECT_EQ(esi->elementary_PID, 0x1011);
  ASSERT_TRUE(esi->video_registration.has_value());
  EXPECT_EQ(esi->video_registration->video_format, 6);
  EXPECT_EQ(esi->video_registration->frame_rate, 1);
  EXPECT_EQ(esi->video_registration->aspect_ratio, 3);
  EXPECT_FALSE(esi->language.has_value());
  EXPECT_EQ(pipe.GetPresentationStart(), 131070u);  // the first picture is also shown first
  EXPECT_EQ(pipe.GetTotalBytes(), file.size() - units[0].au.offset);
}

TEST(PipePacketTest, Ac3UnitsKeyPointsAndEndUnit) {
  zvtest::TempDir dir;
  const std::string path = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const auto file = zvtest::ReadBytes(path);
  SPipeSource src = OneFile(path);
  src.language = {'f', 'r', 'a'};
  CFilePipe pipe(src);
  ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
  EXPECT_EQ(pipe.GetAuCount(), 63);  // 112896 bytes of 1792-byte frames (448 kbit/s)
  EXPECT_TRUE(pipe.IsBaseAu() == false);  // nothing current yet

  uint32_t ptsStart = 0, ptsEnd = 0;
  ASSERT_TRUE(pipe.GetPtsRange(ptsStart, ptsEnd));
  EXPECT_EQ(ptsStart, 131070u);
  EXPECT_EQ(ptsEnd, 131070u + 63 * 2880);
  SStartInfo start;
  ASSERT_TRUE(pipe.GetStartInfo(start));
  EXPECT_EQ(start.packets, ExpectedPackets(1792, false, true));  // 1 + ceil((1792-167)/184) = 10

  auto units = pipetest::Drain(pipe, 0x1100, kOffset, true);
  ASSERT_EQ(units.size(), 64u);
  EXPECT_EQ(start.packets, units[0].packets.size());
  std::vector<pipetest::Packet> all;
  CheckUnits(units, file, {0x1100, 0xFD, 0x71, false}, all);
  CheckContinuity(all);
  for (size_t i = 0; i + 1 < units.size(); ++i) EXPECT_EQ(units[i].au.pts, 131070u + i * 2880);
  EXPECT_EQ(units.back().au.size, 0u);
  EXPECT_EQ(units.back().au.pts, 131070u + 63 * 2880);
  EXPECT_EQ(pipe.NextAu(), nullptr);

  // Audio key points: the first unit, then the first unit at least 0.5 s on.
  const CKpiFolder& kps = pipe.KeyPoints();
  ASSERT_GE(kps.size(), 2u);
  EXPECT_EQ(kps[0].auIndex, 0);
  EXPECT_EQ(kps[0].pts, uint64_t(kOffset) + 131070);
  for (size_t i = 1; i < kps.size(); ++i) {
    EXPECT_GE(kps[i].pts - kps[i - 1].pts, 45000u);
    EXPECT_LT(kps[i].pts - kps[i - 1].pts, 45000u + 2880);  // not one unit later than needed
    EXPECT_EQ(kps[i].pts, uint64_t(kOffset) + 131070 + uint64_t(kps[i].auIndex) * 2880);
  }
  // 63 units of 2880 ticks: key points at units 0, 16, 32, 48 (16 x 2880 = 46080).
  EXPECT_EQ(kps.size(), 4u);

  // The PMT entry: AC-3 with its registration, a 2/0 channel layout and the
  // track's language.
  const ESI* esi = pipe.CreateEsInfo(0x1100);
  ASSERT_NE(esi, nullptr);
  EXPECT_EQ(esi->stream_type, 0x81);
  EXPECT_TRUE(esi->ac3_registration);
  ASSERT_TRUE(esi->ac3_audio.has_value());
  EXPECT_EQ(esi->ac3_audio->num_channels, 2);
  EXPECT_EQ(esi->ac3_audio->sample_rate_code, 0);  // 48 kHz
  EXPECT_EQ(esi->ac3_audio->bit_rate_code, 15);    // 448 kbit/s in the A/52 rate table
  ASSERT_TRUE(esi->language.has_value());
  EXPECT_EQ(std::string(esi->language->language.data(), 3), "fra");

  STREAM_INFO info;
  pipe.FillCodingInfo(info, 0x1100);
  EXPECT_EQ(info.StreamPID, 0x1100);
  EXPECT_EQ(info.coding.StreamCodingType, 0x81);
  EXPECT_EQ(info.coding.AudioPresentationType, 3);  // stereo
  EXPECT_EQ(info.coding.SamplingFrequency, 1);
  EXPECT_EQ(info.coding.Language, "fra");
  EXPECT_EQ(pipe.GetTotalBytes(), file.size());
}

TEST(PipePacketTest, ReadAuBytesServesTheUnitInOrder) {
  zvtest::TempDir dir;
  const std::string path = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const auto file = zvtest::ReadBytes(path);
  CFilePipe pipe(OneFile(path));
  ASSERT_EQ(pipe.Open(Progress{}, nullptr), kOk);
  EXPECT_FALSE(pipe.AtAuStart());
  ASSERT_NE(pipe.NextAu(), nullptr);
  ASSERT_NE(pipe.NextAu(), nullptr);  // second frame: offset 1792
  EXPECT_TRUE(pipe.AtAuStart());
  std::vector<uint8_t> buf(2000, 0);
  EXPECT_EQ(pipe.ReadAuBytes(buf.data(), 1793), 0u);  // more than the unit holds
  EXPECT_EQ(pipe.GetAuBytesLeft(), 1792u);
  EXPECT_EQ(pipe.ReadAuBytes(buf.data(), 1000), 1000u);
  EXPECT_FALSE(pipe.AtAuStart());
  EXPECT_EQ(pipe.ReadAuBytes(buf.data() + 1000, 792), 792u);
  EXPECT_EQ(pipe.GetAuBytesLeft(), 0u);
  EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 1792, file.begin() + 1792));
  // Nothing left: no packet can be built.
  std::array<uint8_t, 188> pkt{};
  SFillRequest req;
  req.packet = pkt.data();
  EXPECT_FALSE(pipe.FillPacket(req));
}

TEST(PipePacketTest, LpcmHeaderFields) {
  // 48 kHz, 16-bit stereo: 960-byte units (0x03C0), assignment 3, 48 kHz
  // code 1, bits code 1 in the top two bits.
  PCM_WAVE_FORMAT stereo;
  stereo.formatTag = 1;
  stereo.channels = 2;
  stereo.samplesPerSec = 48000;
  stereo.avgBytesPerSec = 192000;
  stereo.bitsPerSample = 16;
  EXPECT_EQ(MakeLpcmHeader(stereo), (std::array<uint8_t, 4>{0x03, 0xC0, 0x31, 0x40}));

  // 96 kHz, 24-bit 5.1 with LFE: 96000 x 6 x 3 / 200 = 8640 (0x21C0) bytes,
  // assignment 9, code 4, bits code 3.
  PCM_WAVE_FORMAT surround = stereo;
  surround.formatTag = 0xFFFE;
  surround.channels = 6;
  surround.samplesPerSec = 96000;
  surround.avgBytesPerSec = 96000 * 6 * 3;
  surround.bitsPerSample = 24;
  surround.channelMask = 0x3F;  // FL FR FC LFE BL BR
  EXPECT_EQ(MakeLpcmHeader(surround), (std::array<uint8_t, 4>{0x21, 0xC0, 0x94, 0xC0}));
  surround.channelMask = 0x60F;  // FL FR FC LFE SL SR: the same 5.1
  EXPECT_EQ(MakeLpcmHeader(surround)[2], 0x94);

  // Four channels: 4.0 (also a WAV without a mask) or quad, every channel
  // on a speaker of its own.
  PCM_WAVE_FORMAT quad = stereo;
  quad.channels = 4;
  quad.channelMask = 0;
  EXPECT_EQ(MakeLpcmHeader(quad)[2] >> 4, 6);
  quad.channelMask = 0x107;  // FL FR FC BC
  EXPECT_EQ(MakeLpcmHeader(quad)[2] >> 4, 6);
  quad.channelMask = 0x603;  // FL FR SL SR
  EXPECT_EQ(MakeLpcmHeader(quad)[2] >> 4, 7);
  quad.channelMask = 0x33;  // FL FR BL BR
  EXPECT_EQ(MakeLpcmHeader(quad)[2] >> 4, 7);
}

TEST(PipePacketTest, PacketCountBoundaries) {
  // The first packet holds 170 bytes after a PTS-only header, 165 after PTS
  // and DTS; the formula must agree with the header actually chosen.
  AUI au;
  au.pts = au.dts = 4000;
  for (auto [size, packets] : {std::pair{0u, 0u}, {170u, 1u}, {171u, 2u}, {354u, 2u}, {355u, 3u}}) {
    au.size = size;
    EXPECT_EQ(PacketsForUnit(0x1B, au), packets) << size;
  }
  au.dts = 1000;
  au.size = 165;
  EXPECT_EQ(PacketsForUnit(0x1B, au), 1u);
  au.size = 166;
  EXPECT_EQ(PacketsForUnit(0x1B, au), 2u);
  // A graphics segment carries a DTS even when it equals the PTS; text
  // subtitles (private stream 2) carry no optional header at all.
  au.flags = 0x16;  // PCS
  au.dts = au.pts;
  EXPECT_EQ(UnitHeaderBytes(0x90, au), 19u);
  EXPECT_EQ(UnitHeaderBytes(0x92, au), 6u);
}

// Clips multiplexed from the committed H.264 and AC-3 fixtures, read back
// and checked independently: decoder buffers replayed from the file, the
// 48 Mbit/s ceiling, the packet grid, and the clip information against the
// packets it describes.
#include <gtest/gtest.h>

#include "mux/clip_info.h"
#include "mux/muxer.h"
#include "muxer_clip_check.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

struct BuiltClip {
  std::string m2ts, clpi;
  zv::SClipTiming timing;
  std::vector<uint16_t> pids;
};

// Multiplexes the fixtures (copied beside each other) as a story would.
BuiltClip Build(const TempDir& dir, const std::vector<std::string>& fixtures) {
  BuiltClip b;
  std::vector<std::unique_ptr<zv::SRawTrack>> owned;
  std::vector<zv::SMuxTrack*> tracks;
  zv::ScriptedPrompt prompt;
  for (size_t i = 0; i < fixtures.size(); ++i) {
    auto t = std::make_unique<zv::SRawTrack>();
    EXPECT_TRUE(t->SetSource(CopyFixture(fixtures[i], dir.Path()), {}, &prompt)) << t->LastError();
    t->m_nOrderKey = static_cast<int32_t>(i);
    tracks.push_back(t.get());
    owned.push_back(std::move(t));
  }
  std::vector<zv::SMuxTrack*> ordered = zv::AssignPids(tracks);
  for (auto* t : ordered) b.pids.push_back(t->m_nPid);
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  EXPECT_TRUE(muxer.Prepare(&ordered, prep)) << muxer.Error();
  b.m2ts = dir / "00001.m2ts";
  b.clpi = dir / "00001.clpi";
  std::string error;
  EXPECT_EQ(zv::MuxClipFiles(muxer, b.m2ts, b.clpi, false, {}, error), zv::kOk) << error;
  b.timing = muxer.Timing();
  return b;
}

// Exp-Golomb reader over RBSP bytes (emulation prevention is irrelevant for
// the first two fields of a slice header).
struct Bits {
  const uint8_t* p;
  size_t n, pos = 0;
  unsigned Bit() {
    const unsigned b = pos / 8 < n ? (p[pos / 8] >> (7 - pos % 8)) & 1 : 0;
    ++pos;
    return b;
  }
  unsigned Ue() {
    int zeros = 0;
    while (Bit() == 0 && zeros < 32) ++zeros;
    unsigned v = 0;
    for (int i = 0; i < zeros; ++i) v = v << 1 | Bit();
    return (1u << zeros) - 1 + v;
  }
};

// True when the access unit holds an IDR picture or an I slice.
bool HasIntraPicture(const std::vector<uint8_t>& au) {
  for (size_t i = 0; i + 4 < au.size(); ++i) {
    if (au[i] != 0 || au[i + 1] != 0 || au[i + 2] != 1) continue;
    const uint8_t type = au[i + 3] & 0x1F;
    if (type == 5) return true;
    if (type == 1) {
      Bits b{au.data() + i + 4, au.size() - i - 4};
      b.Ue();  // first_mb_in_slice
      const unsigned sliceType = b.Ue();
      if (sliceType % 5 == 2) return true;
    }
  }
  return false;
}

uint8_t EndCodeFor(size_t packets) {
  const size_t s = packets * 192;
  const size_t bands[6] = {131072, 262144, 393216, 589824, 917504, 1310720};
  for (uint8_t i = 0; i < 6; ++i)
    if (s < bands[i]) return i + 1;
  return 7;
}

void CheckClip(const BuiltClip& b, const std::vector<uint8_t>& audioTypes) {
  ClipReading c = ReadClip(b.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;
  ASSERT_EQ(c.bytes.size() % 6144, 0u);

  // Decodable: replayed buffers and decoding deadlines.
  EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "");
  for (size_t i = 0; i < audioTypes.size(); ++i) EXPECT_EQ(ReplayStd(c, 0x1100 + i, Ac3Primary()), "") << i;
  EXPECT_LE(MaxPacketsPerSecond(c) * 1504, 48000000u + 1504);
  EXPECT_LE(MaxPcrGap(c), kMaxPcrGap);
  for (size_t i = 1; i < c.packets.size(); ++i) ASSERT_EQ((c.packets[i].time - c.packets[0].time) % 846, 0) << i;

  // Clip information against the packets.
  zv::ClipInformationFile ci;
  std::vector<uint8_t> raw = ReadBytes(b.clpi);
  std::string err;
  ASSERT_EQ(ci.Parse(raw.data(), raw.size(), &err), zv::kOk) << err;
  EXPECT_EQ(ci.NumberOfSourcePackets, c.bytes.size() / 192);
  EXPECT_EQ(ci.TsRecordingRate, 6000000u);
  const auto& video = c.units.at(0x1011);
  uint64_t minPts = UINT64_MAX, maxPts = 0;
  for (auto& u : video) {
    minPts = std::min(minPts, u.pts);
    maxPts = std::max(maxPts, u.pts);
  }
  ASSERT_EQ(ci.atcSequences.size(), 1u);
  ASSERT_EQ(ci.atcSequences[0].stc.size(), 1u);
  const zv::STC_INFO& stc = ci.atcSequences[0].stc[0];
  EXPECT_EQ(stc.PcrPid, 0x1001);
  EXPECT_EQ(stc.PresentationStartTime, 27000000u) << "every clip starts at the base time";
  EXPECT_EQ(minPts, 54000000u);
  // The last picture plus one frame (1001/24 ms = 3753.75 ticks of 90 kHz,
  // rounded up to 3754), in 45 kHz units.
  EXPECT_EQ(stc.PresentationEndTime, static_cast<uint32_t>((maxPts + 3754) / 2));

  const auto& streams = ci.programInfo.sequences.at(0).streams;
  ASSERT_EQ(streams.size(), 1 + audioTypes.size());
  EXPECT_EQ(streams[0].StreamPID, 0x1011);
  EXPECT_EQ(streams[0].coding.StreamCodingType, 0x1B);
  EXPECT_EQ(streams[0].coding.VideoFormat, 6);  // 1080p
  EXPECT_EQ(streams[0].coding.FrameRate, 1);    // 23.976
  for (size_t i = 0; i < audioTypes.size(); ++i) {
    EXPECT_EQ(streams[1 + i].StreamPID, 0x1100 + i);
    EXPECT_EQ(streams[1 + i].coding.StreamCodingType, 0x81);
    EXPECT_EQ(streams[1 + i].coding.AudioPresentationType, audioTypes[i]);
    EXPECT_EQ(streams[1 + i].coding.Language, "eng");
  }

  // EP map: exactly the intra pictures, each at the first packet of its unit.
  ASSERT_EQ(ci.cpi.entries.size(), 1u);
  const zv::STREAM_PID_ENTRY& ep = ci.cpi.entries[0];
  EXPECT_EQ(ep.StreamPid, 0x1011);
  EXPECT_EQ(ep.EpStreamType, 1);
  std::vector<const ClipUnit*> intra;
  for (auto& u : video)
    if (HasIntraPicture(u.payload)) intra.push_back(&u);
  ASSERT_GE(intra.size(), 2u);
  ASSERT_EQ(ep.keyPoints.size(), intra.size());
  for (size_t i = 0; i < intra.size(); ++i) {
    const zv::KEY_POINT_INFO& kp = ep.keyPoints[i];
    ASSERT_LT(kp.firstSpn, c.packets.size());
    const ClipPacket& at = c.packets[kp.firstSpn];
    EXPECT_EQ(at.pid, 0x1011) << i;
    EXPECT_TRUE(at.pusi) << i;
    EXPECT_EQ(kp.firstSpn, intra[i]->firstPacket) << i;
    EXPECT_EQ(kp.pts, intra[i]->pts & ~uint64_t{0x1FF}) << i;
    EXPECT_EQ(kp.iEndCode, EndCodeFor(intra[i]->lastPacket - intra[i]->firstPacket + 1)) << i;
  }
}

TEST(MuxerClip, VideoAndStereoAudio) {
  TempDir dir;
  BuiltClip b = Build(dir, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  EXPECT_EQ(b.pids, (std::vector<uint16_t>{0x1011, 0x1100}));
  CheckClip(b, {3});
}

TEST(MuxerClip, VideoAndThreeAudioTracksInStoryOrder) {
  TempDir dir;
  // The audio files are given before the video: PIDs still follow the kinds.
  BuiltClip b = Build(dir, {"ac3_stereo.ac3", "ac3_51.ac3", "h264_1080p2398.264", "ac3_mono.ac3"});
  EXPECT_EQ(b.pids, (std::vector<uint16_t>{0x1011, 0x1100, 0x1101, 0x1102}));
  CheckClip(b, {3, 6, 1});
}

}  // namespace

namespace {

TEST(MuxerClip, EveryVideoFixtureKeepsPcrGapsAndBuffers) {
  // Each picture format of the fixtures (all level 4.1) with each AC-3
  // layout: decodable under zero-slack replay, PCRs never more than 100 ms apart.
  for (const char* video : {"h264_1080p2398.264", "h264_576i25.264", "h264_720p5994.264"}) {
    for (const char* audio : {"ac3_stereo.ac3", "ac3_51.ac3", "ac3_mono.ac3"}) {
      TempDir dir;
      BuiltClip b = Build(dir, {video, audio});
      ClipReading c = ReadClip(b.m2ts);
      ASSERT_TRUE(c.error.empty()) << c.error;
      EXPECT_LE(MaxPcrGap(c), kMaxPcrGap) << video << " " << audio;
      EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "") << video << " " << audio;
      EXPECT_EQ(ReplayStd(c, 0x1100, Ac3Primary()), "") << video << " " << audio;
    }
  }
}

}  // namespace

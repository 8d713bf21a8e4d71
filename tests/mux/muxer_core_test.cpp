// The multiplexer's schedule on synthetic tracks whose sizes and times are
// chosen to hit each rule: packet grid and PSI/PCR cadence, end alignment,
// tie-breaking, the seamless-connection start, cancel and write errors.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "mux/muxer.h"
#include "muxer_clip_check.h"
#include "muxer_fake_track.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

struct MuxResult {
  int code = -1;
  std::string error;
  zv::SClipTiming timing;
  uint32_t peak = 0;
  std::string m2ts, clpi;
};

MuxResult MuxFakes(const TempDir& dir, std::vector<zv::SMuxTrack*> tracks, bool seamless = false,
                   zv::Progress progress = {}) {
  MuxResult r;
  r.m2ts = dir / "00000.m2ts";
  r.clpi = dir / "00000.clpi";
  zv::CMuxer muxer;
  if (!muxer.Prepare(&tracks)) {
    r.error = muxer.Error();
    return r;
  }
  r.code = zv::MuxClipFiles(muxer, r.m2ts, r.clpi, seamless, progress, r.error);
  r.timing = muxer.Timing();
  r.peak = muxer.PeakPacketsPerSecond();
  // Every clip keeps its PCRs within 100 ms of each other.
  if (r.code == zv::kOk) {
    EXPECT_LE(MaxPcrGap(ReadClip(r.m2ts)), kMaxPcrGap) << r.m2ts;
  }
  return r;
}

std::vector<const ClipPacket*> OnPid(const ClipReading& c, uint16_t pid) {
  std::vector<const ClipPacket*> v;
  for (auto& k : c.packets)
    if (k.pid == pid) v.push_back(&k);
  return v;
}

TEST(MuxerCadence, OpeningGroupGridAndRecurringTables) {
  TempDir dir;
  // 12 s of 23.976 fps video around 30 Mbit/s with larger key units, and two
  // audio tracks: long enough for many PAT/PMT, SIT and PCR periods.
  std::vector<FakeUnit> video = VideoUnits(288, 150000);
  for (auto& u : video)
    if (u.key) u.size = 500000;
  FakeTrack v(0x1B, 0x1011, video, 1001.0 / 24);
  FakeTrack a1(0x81, 0x1100, AudioUnits(375, 1792), 32);
  FakeTrack a2(0x81, 0x1101, AudioUnits(375, 2560), 32);
  MuxResult m = MuxFakes(dir, {&v, &a1, &a2});
  ASSERT_EQ(m.code, zv::kOk) << m.error;
  ClipReading c = ReadClip(m.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;
  ASSERT_GT(c.packets.size(), 100000u);

  // PAT, PMT, SIT, PCR open the clip, one packet time apart.
  const uint16_t opening[4] = {0x0000, 0x0100, 0x001F, 0x1001};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(c.packets[i].pid, opening[i]) << i;
    EXPECT_EQ(c.packets[i].time - c.packets[0].time, 846 * i) << i;
  }
  EXPECT_EQ(m.timing.firstPacketTime, c.packets[0].time);

  // Every arrival time on the 846-tick grid of the first packet, strictly increasing.
  for (size_t i = 1; i < c.packets.size(); ++i) {
    ASSERT_GE(c.packets[i].time - c.packets[i - 1].time, 846) << i;
    ASSERT_EQ((c.packets[i].time - c.packets[0].time) % 846, 0) << i;
  }

  // PAT every 2,538,000 ticks, each followed by its PMT; an SIT after every ninth group.
  auto pats = OnPid(c, 0x0000);
  ASSERT_GT(pats.size(), 100u);
  for (size_t i = 1; i < pats.size(); ++i) {
    EXPECT_EQ(pats[i]->time - pats[i - 1]->time, 2538000) << "PAT " << i;
    EXPECT_EQ(c.packets[pats[i]->index + 1].pid, 0x0100) << "PAT " << i;
  }
  auto sits = OnPid(c, 0x001F);
  ASSERT_GE(sits.size(), 10u);
  for (size_t i = 1; i < sits.size(); ++i) {
    size_t between = 0;
    for (auto* p : pats) between += p->index > sits[i - 1]->index && p->index < sits[i]->index;
    EXPECT_EQ(between, 9u) << "SIT " << i;
    EXPECT_EQ(c.packets[sits[i]->index - 1].pid, 0x0100) << "SIT " << i << " follows a PMT";
  }

  // The first PCR is the fourth packet; PCR k is due k * 2,430,000 after the
  // first packet and goes in the first slot from the current time on: only
  // PSI packets may come between its due time and it.
  auto pcrs = OnPid(c, 0x1001);
  ASSERT_GT(pcrs.size(), 100u);
  const int64_t t0 = c.packets[0].time;
  for (size_t k = 0; k < pcrs.size(); ++k) {
    const int64_t due = k == 0 ? t0 + 3 * 846 : t0 + static_cast<int64_t>(k) * 2430000;
    ASSERT_GE(pcrs[k]->time, due) << "PCR " << k;
    for (size_t i = pcrs[k]->index; i-- > 0 && c.packets[i].time >= due;)
      EXPECT_TRUE(c.packets[i].pid == 0 || c.packets[i].pid == 0x100 || c.packets[i].pid == 0x1F)
          << "PCR " << k << " late behind packet " << i << " on PID " << c.packets[i].pid;
    EXPECT_EQ(pcrs[k]->pcr - 45, pcrs[k]->time) << "PCR " << k;
  }

  // The decoder buffers replayed from the file never overflow and no unit is late.
  EXPECT_EQ(ReplayStd(c, 0x1011, AvcLevel41()), "");
  EXPECT_EQ(ReplayStd(c, 0x1100, Ac3Primary()), "");
  EXPECT_EQ(ReplayStd(c, 0x1101, Ac3Primary()), "");
  // 48 Mbit/s in any second (a window can hold one grid slot more than 48,000,000 / 1504).
  EXPECT_LE(MaxPacketsPerSecond(c) * 1504, 48000000u + 1504);
  // The peak the multiplexer counted while writing is the file's.
  EXPECT_EQ(m.peak, MaxPacketsPerSecond(c));

  // Every unit arrived whole: sizes and payload bytes as the track made them.
  for (const FakeTrack* t : {&v, &a1, &a2}) {
    const auto& units = c.units[t->m_nPid];
    ASSERT_EQ(units.size(), t->Units().size());
    for (size_t i = 0; i < units.size(); ++i) {
      ASSERT_EQ(units[i].payload.size(), t->Units()[i].size) << i;
      ASSERT_EQ(units[i].payload.back(), static_cast<uint8_t>((t->Units()[i].size - 1) ^ (t->Units()[i].pts & 0xFF)));
    }
  }
}

TEST(MuxerEnd, NullPacketsCompleteTheLastAlignedUnit) {
  // 4 opening packets plus 28 packets of one video unit (165 + 27 * 184
  // bytes) end exactly on a 6144-byte boundary: one whole unit of 32 null
  // packets still follows. One packet less is completed by a single one.
  struct Case {
    uint32_t size;
    size_t fileBytes;
    size_t nulls;
  } cases[] = {{165 + 27 * 184, 12288, 32}, {165 + 26 * 184, 6144, 1}};
  for (const Case& k : cases) {
    TempDir dir;
    FakeTrack v(0x1B, 0x1011, VideoUnits(1, k.size), 1001.0 / 24);
    MuxResult m = MuxFakes(dir, {&v});
    ASSERT_EQ(m.code, zv::kOk) << m.error;
    ClipReading c = ReadClip(m.m2ts);
    ASSERT_EQ(c.bytes.size(), k.fileBytes);
    size_t nulls = 0;
    for (size_t i = c.packets.size(); i-- > 0 && c.packets[i].pid == 0x1FFF;) {
      const uint8_t* p = c.packets[i].bytes;
      EXPECT_EQ(p[4], 0x47);
      EXPECT_EQ(p[5], 0x1F);
      EXPECT_EQ(p[6], 0xFF);
      EXPECT_EQ(p[7], 0x10);
      EXPECT_EQ(p[191], 0xFF);
      EXPECT_EQ(c.packets[i].time - c.packets[i - 1].time, 846);
      ++nulls;
    }
    EXPECT_EQ(nulls, k.nulls);
    // Null packets are in the file but not in the source packet count.
    zv::ClipInformationFile ci;
    std::vector<uint8_t> b = ReadBytes(m.clpi);
    std::string err;
    ASSERT_EQ(ci.Parse(b.data(), b.size(), &err), zv::kOk) << err;
    EXPECT_EQ(ci.NumberOfSourcePackets, k.fileBytes / 192);
  }
}

TEST(MuxerOrder, TiesGoByDecodingTimeThenPid) {
  // The video track opens the clip (unsorted) at its own time, later than
  // the audio tracks could start: afterwards all three are due at once.
  struct Case {
    uint32_t dtsA, dtsB;  // tracks on 0x1100 and 0x1101
    uint16_t firstPid;
  } cases[] = {{54000000, 54000000, 0x1100}, {54000100, 54000000, 0x1101}, {54000000, 54000100, 0x1100}};
  for (const Case& k : cases) {
    TempDir dir;
    FakeTrack v(0x1B, 0x1011, VideoUnits(2, 40000, 54100000), 1001.0 / 24);
    FakeTrack a(0x81, 0x1100, AudioUnits(2, 1792, k.dtsA), 32);
    FakeTrack b(0x81, 0x1101, AudioUnits(2, 1792, k.dtsB), 32);
    MuxResult m = MuxFakes(dir, {&v, &a, &b});
    ASSERT_EQ(m.code, zv::kOk) << m.error;
    ClipReading c = ReadClip(m.m2ts);
    ASSERT_EQ(c.packets[4].pid, 0x1011) << "the video unit starts the clip";
    uint16_t first = 0;
    for (auto& p : c.packets)
      if (p.pid == 0x1100 || p.pid == 0x1101) {
        first = p.pid;
        break;
      }
    EXPECT_EQ(first, k.firstPid) << k.dtsA << " " << k.dtsB;
  }
}

TEST(MuxerSeamless, FirstPacketMovesByOpeningUnitSize) {
  // Packets of a unit with a DTS: 1 + (size - 165) / 184.
  auto sizeFor = [](uint32_t packets) { return 165 + 184 * (packets - 1); };
  struct Case {
    uint32_t videoPackets, audioPackets;
    int64_t shift;
  } cases[] = {
      {957, 0, 23490000},   // 809,622 ticks
      {958, 0, 22950000},   // 810,468 ticks
      {1000, 0, 22950000},  // 846,000 ticks
      {1500, 95, 22950000}, // 1,349,370 ticks with the audio unit of the same DTS
      {1500, 96, 22410000}, // 1,350,216 ticks
  };
  for (const Case& k : cases) {
    int64_t first[2] = {0, 0};
    for (int seamless = 0; seamless < 2; ++seamless) {
      TempDir dir;
      std::vector<FakeUnit> vu = VideoUnits(2, sizeFor(k.videoPackets));
      FakeTrack v(0x1B, 0x1011, vu, 1001.0 / 24);
      // Audio units with the video's first DTS and PTS = DTS: 170 bytes in the first packet.
      FakeTrack a(0x81, 0x1100, AudioUnits(2, k.audioPackets ? 170 + 184 * (k.audioPackets - 1) : 1792, vu[0].dts), 32);
      std::vector<zv::SMuxTrack*> tracks{&v};
      if (k.audioPackets) tracks.push_back(&a);
      MuxResult m = MuxFakes(dir, tracks, seamless != 0);
      ASSERT_EQ(m.code, zv::kOk) << m.error;
      ClipReading c = ReadClip(m.m2ts);
      EXPECT_EQ(c.packets[0].ats, static_cast<uint32_t>(m.timing.firstPacketTime % (int64_t{1} << 30)));
      first[seamless] = m.timing.firstPacketTime;
    }
    EXPECT_EQ(first[1] - first[0], k.shift) << k.videoPackets << "+" << k.audioPackets;
  }
}

TEST(MuxerClock, ArrivalStampsWrapButTheClockDoesNot) {
  // 45 s of audio: the 30-bit arrival time stamps wrap (every ~39.8 s), while
  // PCR values keep counting and agree with the unwrapped times.
  TempDir dir;
  FakeTrack a(0x81, 0x1100, AudioUnits(1406, 1792), 32);
  MuxResult m = MuxFakes(dir, {&a});
  ASSERT_EQ(m.code, zv::kOk) << m.error;
  ClipReading c = ReadClip(m.m2ts);
  ASSERT_TRUE(c.error.empty()) << c.error;
  size_t wraps = 0;
  for (size_t i = 1; i < c.packets.size(); ++i) wraps += c.packets[i].ats < c.packets[i - 1].ats;
  EXPECT_GE(wraps, 1u);
  size_t checked = 0;
  for (auto& p : c.packets) {
    if (!p.hasPcr) continue;
    EXPECT_EQ(p.pcr - 45, p.time) << "packet " << p.index;
    EXPECT_EQ(p.ats, static_cast<uint32_t>(p.time % (int64_t{1} << 30)));
    ++checked;
  }
  EXPECT_GT(checked, 400u);
  EXPECT_EQ(ReplayStd(c, 0x1100, Ac3Primary()), "");
}

struct CancelAt {
  int calls = 0;
  std::vector<int> values;
};

int CancelOnFirstReport(void* ctx, const zv::SProgressInfo* info) {
  auto* c = static_cast<CancelAt*>(ctx);
  if (info->kind != zv::kProgressValue) return 1;
  c->values.push_back(info->value);
  return info->value > 0 ? 0 : 1;
}

TEST(MuxerRun, CancelDuringTheRunLeavesNoFiles) {
  TempDir dir;
  // 30 MB of payload: the first report comes after 24 MiB.
  FakeTrack v(0x1B, 0x1011, VideoUnits(200, 150000), 1001.0 / 24);
  CancelAt state;
  MuxResult m = MuxFakes(dir, {&v}, false, zv::Progress{&CancelOnFirstReport, &state});
  EXPECT_EQ(m.code, zv::kCancelled);
  EXPECT_TRUE(m.error.empty());
  ASSERT_EQ(state.values.size(), 2u);
  EXPECT_EQ(state.values[0], 0);
  EXPECT_EQ(state.values[1], 83);  // just over 24 MiB of 30,000,000 payload bytes
  EXPECT_FALSE(std::filesystem::exists(m.m2ts));
  EXPECT_FALSE(std::filesystem::exists(m.clpi));
}

TEST(MuxerRun, AClipWrittenOverALargerOneHasOnlyItsOwnBytes) {
  // 15 MB of video: several buffer halves go out while the next fills.
  TempDir fresh, reused;
  FakeTrack v1(0x1B, 0x1011, VideoUnits(100, 150000), 1001.0 / 24);
  FakeTrack a1(0x81, 0x1100, AudioUnits(130, 1792), 32);
  MuxResult first = MuxFakes(fresh, {&v1, &a1});
  ASSERT_EQ(first.code, zv::kOk) << first.error;

  // The same clip over 40 MB of other bytes, then over a clip too short.
  WriteBytes(reused / "00000.m2ts", std::vector<uint8_t>(40000000, 0x5A));
  FakeTrack v2(0x1B, 0x1011, VideoUnits(100, 150000), 1001.0 / 24);
  FakeTrack a2(0x81, 0x1100, AudioUnits(130, 1792), 32);
  MuxResult second = MuxFakes(reused, {&v2, &a2});
  ASSERT_EQ(second.code, zv::kOk) << second.error;
  const std::vector<uint8_t> expect = ReadBytes(first.m2ts);
  EXPECT_EQ(expect.size() % 6144, 0u);
  EXPECT_TRUE(ReadBytes(second.m2ts) == expect);
  EXPECT_TRUE(ReadBytes(second.clpi) == ReadBytes(first.clpi));

  WriteBytes(reused / "00000.m2ts", std::vector<uint8_t>(1000, 0x5A));
  FakeTrack v3(0x1B, 0x1011, VideoUnits(100, 150000), 1001.0 / 24);
  FakeTrack a3(0x81, 0x1100, AudioUnits(130, 1792), 32);
  MuxResult third = MuxFakes(reused, {&v3, &a3});
  ASSERT_EQ(third.code, zv::kOk) << third.error;
  EXPECT_TRUE(ReadBytes(third.m2ts) == expect);
}

TEST(MuxerRun, WriteErrorEndsTheRunWithItsMessage) {
  TempDir dir;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file-size limit makes the first flush fail with EFBIG.
    signal(SIGXFSZ, SIG_IGN);
    rlimit lim{1 << 20, 1 << 20};
    setrlimit(RLIMIT_FSIZE, &lim);
    FakeTrack v(0x1B, 0x1011, VideoUnits(200, 150000), 1001.0 / 24);
    MuxResult m = MuxFakes(dir, {&v});
    int status = 0;
    if (m.code != zv::kFailed) status |= 1;
    if (m.error.rfind("Cannot write \"" + m.m2ts + "\"", 0) != 0) status |= 2;
    if (std::filesystem::exists(m.m2ts) || std::filesystem::exists(m.clpi)) status |= 4;
    _exit(status);
  }
  int ws = 0;
  ASSERT_EQ(waitpid(child, &ws, 0), child);
  ASSERT_TRUE(WIFEXITED(ws));
  EXPECT_EQ(WEXITSTATUS(ws), 0) << "bit 1: result, bit 2: message, bit 4: files left";
}

}  // namespace

namespace {

TEST(MuxerRun, NothingToMultiplexIsAFailureNotAnEmptyClip) {
  zvtest::TempDir dir;
  zvtest::FakeTrack v(0x1B, 0x1011, {}, 1001.0 / 24);
  MuxResult m = MuxFakes(dir, {&v});
  EXPECT_EQ(m.code, zv::kFailed);
  EXPECT_FALSE(m.error.empty());
  EXPECT_FALSE(std::filesystem::exists(m.m2ts));
  EXPECT_FALSE(std::filesystem::exists(m.clpi));
}

}  // namespace

namespace {

// A track that fails by throwing (an allocation, a broken invariant) while
// a buffer half is still being written in the background.
class ThrowingTrack : public zvtest::FakeTrack {
 public:
  ThrowingTrack(std::vector<zvtest::FakeUnit> units, int throwAt)
      : FakeTrack(0x1B, 0x1011, std::move(units), 1001.0 / 24), throwAt_(throwAt) {}
  bool NextAu() override {
    if (++calls_ == throwAt_) throw std::runtime_error("unit lost");
    return FakeTrack::NextAu();
  }

 private:
  int throwAt_;
  int calls_ = 0;
};

TEST(MuxerRun, AnExceptionEndsTheRunAfterTheBackgroundWriteAndRemovesTheFiles) {
  zvtest::TempDir dir;
  // 70 units of 150,000 bytes pass the first 9 MiB half: its write is under
  // way when the 71st unit throws.
  ThrowingTrack v(zvtest::VideoUnits(200, 150000), 71);
  // A previous, longer clip is written over in place and must go too.
  zvtest::WriteBytes(dir / "00000.m2ts", std::vector<uint8_t>(40000000, 0x5A));
  MuxResult m;
  ASSERT_NO_THROW(m = MuxFakes(dir, {&v}));
  EXPECT_EQ(m.code, zv::kFailed);
  EXPECT_EQ(m.error, "Cannot multiplex \"" + m.m2ts + "\": unit lost");
  EXPECT_FALSE(std::filesystem::exists(m.m2ts));
  EXPECT_FALSE(std::filesystem::exists(m.clpi));
}

}  // namespace

namespace {

TEST(MuxerClock, PacketTimeIsExactAtEveryRate) {
  // 1504 and 81 bit times in whole ticks: rates where the floating-point
  // quotient lands just under an integer (43.2 Mbit/s: 939.999...) must not
  // lose a tick.
  struct Case {
    uint32_t rate, packet, pcrOffset;
  } cases[] = {{48000000, 846, 45}, {43200000, 940, 50}, {21600000, 1880, 101},
               {10800000, 3760, 202}, {5400000, 7520, 405}, {1080000, 37600, 2025}};
  for (const Case& k : cases) {
    zvtest::TempDir dir;
    zvtest::FakeTrack a(0x81, 0x1100, zvtest::AudioUnits(40, 1792), 32);
    std::vector<zv::SMuxTrack*> tracks{&a};
    zv::CMuxer muxer;
    zv::SMuxPrepare prep;
    prep.rate = k.rate;
    ASSERT_TRUE(muxer.Prepare(&tracks, prep)) << muxer.Error();
    EXPECT_EQ(muxer.PacketDuration(), k.packet) << k.rate;
    std::string error;
    ASSERT_EQ(zv::MuxClipFiles(muxer, dir / "a.m2ts", dir / "a.clpi", false, {}, error), zv::kOk) << error;
    zvtest::ClipReading c = zvtest::ReadClip(dir / "a.m2ts");
    ASSERT_TRUE(c.error.empty()) << c.error;
    // Every packet, tables included, on the grid of the first one.
    for (size_t i = 1; i < c.packets.size(); ++i)
      ASSERT_EQ((c.packets[i].time - c.packets[0].time) % k.packet, 0u) << k.rate << " packet " << i;
    for (const zvtest::ClipPacket& p : c.packets)
      if (p.hasPcr) {
        EXPECT_EQ((p.pcr - p.ats) & ((int64_t{1} << 30) - 1), k.pcrOffset) << k.rate;
        break;
      }
  }
}

TEST(MuxerClock, ALongMinimumDurationDoesNotWrap) {
  // 100 s is 2.7e9 ticks, past what 32 bits hold.
  zvtest::TempDir dir;
  zvtest::FakeTrack a(0x81, 0x1100, zvtest::AudioUnits(40, 1792), 32);
  std::vector<zv::SMuxTrack*> tracks{&a};
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.applicationType = 4;
  prep.durationMs = 100000;
  ASSERT_TRUE(muxer.Prepare(&tracks, prep));
  std::string error;
  ASSERT_EQ(zv::MuxClipFiles(muxer, dir / "a.m2ts", dir / "a.clpi", false, {}, error), zv::kOk) << error;
  const zv::SClipTiming& t = muxer.Timing();
  EXPECT_EQ(t.durationTicks, int64_t{2700000000});
  EXPECT_EQ(t.presentationEnd - t.presentationStart, int64_t{2700000000});
}

}  // namespace

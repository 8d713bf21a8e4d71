// T-STD buffer models: the draining rules, the EB room and access-unit
// limits, the level tables and the model choice per stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "mux/mux_track.h"
#include "mux/std_models.h"
#include "streams/ac3_parser.h"
#include "streams/h264_parser.h"
#include "streams/gs_parser.h"
#include "streams/other_sif.h"
#include "streams/mpeg2_parser.h"
#include "streams/vc1_parser.h"

using namespace zv;

TEST(TransBuffer, PeriodicEmptyRuleForcesFullDrain) {
  // AC-3: 512-byte TB leaking 2 Mbit/s = 1/108 byte per tick. A packet every
  // 20304 ticks drains 188 bytes while 189 are held: the bucket never runs
  // dry but always has room for another packet.
  CAc3Std ac3;
  ac3.AddAccessUnit(1000000, 1000000);
  ac3.DeliverPacket({0, 184});
  int64_t t = 20196;  // drains 187 of 188: one byte stays
  ac3.DeliverPacket({t, 184});
  ASSERT_EQ(ac3.Tb().Fullness(), 189);
  bool forced = false;
  while (t < 27000000) {
    t += 20304;
    ac3.DeliverPacket({t, 0});
    ASSERT_EQ(ac3.Tb().Fullness(), 189);
    ASSERT_EQ(ac3.Tb().Content(), 189 * CTransBuffer::kUnitsPerByte);
    ASSERT_EQ(ac3.Tb().LastEmptyTime(), 0);
    if (t + 20412 < CTransBuffer::kPeriodicEmptyTicks) {
      ASSERT_EQ(ac3.Tb().NextTime(), 0) << t;
    } else {
      // 189 bytes take exactly 189 * 108 = 20412 ticks to leave.
      EXPECT_EQ(ac3.Tb().NextTime(), t + 20412);
      forced = true;
      break;
    }
  }
  ASSERT_TRUE(forced);
  // Arriving once the bucket is dry restarts the period.
  int64_t drained = ac3.Tb().NextTime();
  ac3.DeliverPacket({drained, 0});
  EXPECT_EQ(ac3.Tb().LastEmptyTime(), drained);
  EXPECT_EQ(ac3.Tb().NextTime(), 0);
}

TEST(TransBuffer, SameTickMakesNoLeakProgressAndFullBucketWaits) {
  CAvcStd avc;  // TB 512 bytes at 48 Mbit/s = 2/9 byte per tick
  avc.AddAccessUnit(900000, 900000);
  avc.DeliverPacket({1000, 184});
  avc.DeliverPacket({1000, 184});
  EXPECT_EQ(avc.Tb().Fullness(), 376);
  // 512 - 376 - 188 = -52: 52 bytes need exactly 234 ticks.
  EXPECT_EQ(avc.Tb().NextTime(), 1234);
  EXPECT_EQ(avc.GetNextTime(), std::max({avc.Tb().NextTime(), avc.Mb().NextTime(), avc.Eb().NextTime()}));
  avc.DeliverPacket({1100, 184});  // 22 2/9 bytes leave: 541 7/9 held, counted whole
  EXPECT_EQ(avc.Tb().Fullness(), 376 - 22 + 188);
  EXPECT_EQ(avc.Tb().Content(), (376 + 188) * CTransBuffer::kUnitsPerByte - int64_t{100} * 48000000);
  // 217 7/9 bytes over the 324 that leave room: exactly 980 ticks.
  EXPECT_EQ(avc.Tb().NextTime(), 1100 + 980);
  // Video TBs have no periodic-empty rule.
  EXPECT_FALSE(avc.Tb().PeriodicEmpty());
}

TEST(TransBuffer, WaitsAreRoundedUpToWholeTicks) {
  // 40 Mbit/s: 5.4 ticks per byte. Two packets at once leave 52 bytes too
  // many for a third: 280.8 ticks, so the third may come at 281, not 280.
  for (int64_t at : {280, 281}) {
    CTransBuffer tb;
    tb.Configure(512, 40000000);
    tb.Update(0);
    tb.Update(0);
    EXPECT_EQ(tb.NextTime(), 281);
    tb.Update(at);
    EXPECT_EQ(tb.Content() <= 512 * CTransBuffer::kUnitsPerByte, at == 281) << at;
  }
  // A gap of days drains the bucket without overflowing the product.
  CTransBuffer tb;
  tb.Configure(512, 48000000);
  tb.Update(0);
  tb.Update(int64_t{27000000} * 86400 * 400);
  EXPECT_EQ(tb.Fullness(), 188);
  EXPECT_EQ(tb.LastEmptyTime(), int64_t{27000000} * 86400 * 400);
}

TEST(ElementaryBuffer, RoomOfExactly184BytesIsEnough) {
  CPgStd pg;  // EB 1,048,576 bytes
  pg.AddAccessUnit(1000, 1000);
  pg.DeliverPacket({1, 1048576 - 184 - 100});
  pg.DeliverPacket({2, 100});
  EXPECT_EQ(pg.GetNextTime(), 0);
  pg.DeliverPacket({3, 1});  // one byte over: wait for the unit's decode
  EXPECT_EQ(pg.GetNextTime(), 1000 * 300);
  // Once decoded (and a newer unit opened) the buffer has room again.
  pg.AddAccessUnit(2000, 2000);
  pg.DeliverPacket({1000 * 300, 10});
  EXPECT_EQ(pg.Eb().Units().size(), 1u);
  EXPECT_EQ(pg.GetNextTime(), 0);
}

TEST(ElementaryBuffer, WaitsForTheOldestUnitsThatFreeEnoughRoom) {
  CDtsStd dts;  // EB 43,972 bytes
  dts.AddAccessUnit(100, 100);
  dts.DeliverPacket({1, 20000});
  dts.AddAccessUnit(200, 200);
  dts.DeliverPacket({2, 20000});
  dts.AddAccessUnit(300, 300);
  dts.DeliverPacket({3, 3972});  // held 43,972: room = -184
  EXPECT_EQ(dts.Eb().NextTime(), 100 * 300);
  dts.DeliverPacket({4, 20000});  // room = -20,184: the first two units must go
  EXPECT_EQ(dts.Eb().NextTime(), 200 * 300);
  dts.DeliverPacket({100 * 300, 0});  // the first unit has been decoded
  EXPECT_EQ(dts.Eb().Units().size(), 2u);
  EXPECT_EQ(dts.Eb().NextTime(), 200 * 300);
}

TEST(ElementaryBuffer, AccessUnitLimitOnlyRaisesAWaitForRoom) {
  // 128 units held; the oldest decodes last (dts 9000), the others early.
  auto fill = [](CStdBase& m, int32_t newestBytes) {
    m.AddAccessUnit(9000, 9000);
    m.DeliverPacket({1, 1});
    for (uint32_t i = 1; i < 128; ++i) {
      m.AddAccessUnit(100 + i, 100 + i);
      m.DeliverPacket({1, 1});
    }
    m.DeliverPacket({1, newestBytes - 1});
  };
  CPgStd roomy;
  fill(roomy, 1000);
  EXPECT_EQ(roomy.Eb().Units().size(), 128u);
  EXPECT_EQ(roomy.GetNextTime(), 0);  // room left: the count does not matter

  // held = 127 + B; room = 1,048,576 - 184 - 127 - B = -2 frees up at unit 1.
  const int32_t b = 1048576 - 184 - 127 + 2;
  CPgStd pg;
  fill(pg, b);
  EXPECT_EQ(pg.GetNextTime(), 9000 * 300);  // PG holds at most 128 units
  CIgStd ig;
  fill(ig, b);
  EXPECT_EQ(ig.GetNextTime(), 101 * 300);  // IG allows 5000
}

TEST(ElementaryBuffer, PacketBeforeAnyAccessUnitIsACallerBug) {
  CPgStd pg;
  EXPECT_THROW(pg.DeliverPacket({0, 184}), std::logic_error);
}

TEST(TextSubtitleModel, NeverDelays) {
  CTxtStStd txt;
  for (int i = 0; i < 1000; ++i) {
    txt.AddAccessUnit(i, i);
    txt.DeliverPacket({i, 184});
  }
  EXPECT_EQ(txt.GetNextTime(), 0);
  EXPECT_TRUE(txt.Eb().Units().empty());
}

TEST(LevelTables, UnknownValuesAndSecondaryStreams) {
  CMpeg2Std m2;
  m2.SetLevel(0x48, true);
  m2.SetLevel(0x99, true);  // unknown: main-level values stay
  EXPECT_EQ(m2.Tb().LeakRate(), 18000000u);
  EXPECT_EQ(m2.Mb().Size(), 10000);
  EXPECT_EQ(m2.Mb().LeakRate(), 15000000u);
  EXPECT_EQ(m2.Eb().Size(), 229376);
  CMpeg2Std fresh;
  fresh.SetLevel(0x46, false);
  EXPECT_EQ(fresh.Mb().Size(), 40000);
  EXPECT_EQ(fresh.Eb().Size(), 917504);

  CVc1Std vc1;
  vc1.SetLevel(2, false);
  EXPECT_EQ(vc1.Eb().Size(), 1500000);
  vc1.SetLevel(7, true);  // unknown: unchanged
  EXPECT_EQ(vc1.Tb().LeakRate(), 24000000u);
  EXPECT_EQ(vc1.Mb().LeakRate(), 20000000u);
  EXPECT_EQ(vc1.Mb().Size(), 26666);
  EXPECT_EQ(vc1.Eb().Size(), 1500000);

  CAvcStd avc;
  EXPECT_EQ(avc.Mb().Size(), 40000);
  EXPECT_EQ(avc.Eb().Size(), 3750000);
  for (int unknown : {0, 33, 39, 42, 51}) {
    avc.SetLevel(unknown, true);
    EXPECT_EQ(avc.Tb().LeakRate(), 18000000u) << unknown;
    EXPECT_EQ(avc.Mb().LeakRate(), 15000000u);
    EXPECT_EQ(avc.Eb().Size(), 1500000);
    EXPECT_EQ(avc.Mb().Size(), 40000);
  }
  avc.SetLevel(32, false);
  EXPECT_EQ(avc.Tb().LeakRate(), 9600000u);
  EXPECT_EQ(avc.Mb().LeakRate(), 8000000u);
  avc.SetLevel(32, true);
  EXPECT_EQ(avc.Eb().Size(), 3000000);

  CDdpStd ddp;
  EXPECT_EQ(ddp.Eb().Size(), 137936);
  ddp.SetPrimary(false);
  EXPECT_EQ(ddp.Tb().LeakRate(), 2000000u);
  EXPECT_EQ(ddp.Eb().Size(), 7456);
  ddp.SetPrimary(true);  // only the flag changes
  EXPECT_TRUE(ddp.Primary());
  EXPECT_EQ(ddp.Eb().Size(), 7456);
  CDtsHdStd dtshd;
  dtshd.SetPrimary(false);
  EXPECT_EQ(dtshd.Tb().LeakRate(), 2000000u);
  EXPECT_EQ(dtshd.Eb().Size(), 7456);
  EXPECT_TRUE(dtshd.Tb().PeriodicEmpty());

  CLpcmStd lpcm;
  lpcm.SetSamplingFrequencyCode(5);
  EXPECT_EQ(lpcm.Tb().LeakRate(), 30000000u);
  EXPECT_EQ(lpcm.Eb().Size(), 1073664);
  lpcm.SetSamplingFrequencyCode(12);  // not a rate code the model knows
  EXPECT_EQ(lpcm.Eb().Size(), 1073664);
  lpcm.SetSamplingFrequencyCode(1);
  EXPECT_EQ(lpcm.Eb().Size(), 536832);
}

namespace {
// Identifies a model by its buffer constants: the TB rate and EB size pairs
// are unique per model class.
std::pair<uint32_t, int32_t> Signature(const std::unique_ptr<CStdBase>& m) {
  return m ? std::make_pair(m->Tb().LeakRate(), m->Eb().Size()) : std::make_pair(0u, -1);
}
const auto kAc3 = std::make_pair(2000000u, 18640);
const auto kDdp = std::make_pair(48000000u, 137936);
const auto kDts = std::make_pair(5000000u, 43972);
const auto kDtsHd = std::make_pair(48000000u, 713563);
const auto kMlp = std::make_pair(48000000u, 404250);
const auto kSecondary = std::make_pair(2000000u, 7456);
const auto kNone = std::make_pair(0u, -1);
}  // namespace

// The models a track gets from its stream-information record, the way the
// multiplexer's tracks create them.
TEST(ModelChoice, FromAnalysedStreams) {
  struct Case {
    const char* name;
    std::unique_ptr<CSifData> rec;
    bool trackPrimary;
    std::pair<uint32_t, int32_t> primary, secondary;
  };
  auto ac3 = [](bool eac3, bool core) {
    auto r = std::make_unique<AC3_AUDIO_DESCRIPTOR>();
    r->eac3Present = eac3;
    r->corePresent = core;
    return r;
  };
  auto dts = [](uint8_t type) {
    auto r = std::make_unique<CDTSSif>();
    r->main.substream = type == 0xA2;
    r->hasExtension = type == 0x85 || type == 0x86;
    r->extension.substream = 1;
    r->extension.extensionType = type == 0x86 ? SDtsFrame::kExtXll : SDtsFrame::kExtXbr;
    EXPECT_EQ(r->CodingType(), type);
    return r;
  };
  auto lpcm = [](uint32_t rate) {
    auto r = std::make_unique<PCM_WAVE_FORMAT>();
    r->samplesPerSec = rate;
    return r;
  };
  auto avc = [](uint8_t level) {
    auto r = std::make_unique<CH264VideoSif>();
    r->level = level;
    return r;
  };
  auto mpeg2 = [](uint8_t profile, uint8_t level) {
    auto r = std::make_unique<CMpeg2VideoSif>();
    r->profile = profile;
    r->level = level;
    return r;
  };
  auto vc1 = [](uint8_t level) {
    auto r = std::make_unique<CVc1Sif>();
    r->level = level;
    return r;
  };
  auto gs = [](uint8_t type) {
    auto r = std::make_unique<SGsSif>();
    r->type = type;
    return r;
  };
  Case cases[] = {
      {"AC-3", ac3(false, true), true, kAc3, kNone},
      {"E-AC-3 with core", ac3(true, true), true, kAc3, kDdp},
      {"E-AC-3 alone", ac3(true, false), true, kSecondary, kNone},
      {"DTS", dts(0x82), true, kDts, kNone},
      {"DTS-HD HR", dts(0x85), true, kDts, kDtsHd},
      {"DTS-HD MA", dts(0x86), true, kDts, kDtsHd},
      {"DTS-HD secondary", dts(0xA2), true, kSecondary, kNone},
      {"TrueHD", std::make_unique<MLP_HEADER_INFO>(), true, kAc3, kMlp},
      {"LPCM 192 kHz", lpcm(192000), true, {30000000u, 1073664}, kNone},
      {"LPCM 96 kHz", lpcm(96000), true, {20000000u, 536832}, kNone},
      {"AVC 4.0", avc(40), true, {28800000u, 3750000}, kNone},
      {"AVC 3.2 primary", avc(32), true, {28800000u, 3000000}, kNone},
      {"AVC 3.2 secondary", avc(32), false, {9600000u, 1500000}, kNone},
      {"AVC 3.5", avc(35), true, {18000000u, 1500000}, kNone},
      {"MPEG-2 MP@ML", mpeg2(4, 8), true, {18000000u, 229376}, kNone},
      {"MPEG-2 unknown", mpeg2(1, 10), true, {48000000u, 1222656}, kNone},
      {"VC-1 level 2", vc1(2), true, {24000000u, 3750000}, kNone},
      {"VC-1 level 2 secondary", vc1(2), false, {24000000u, 1500000}, kNone},
      {"PG", gs(0x90), true, {48000000u, 1048576}, kNone},
  };
  for (const Case& c : cases) {
    SStdModels m = CreateModelsFromRecord(*c.rec, c.trackPrimary);
    EXPECT_EQ(Signature(m.primary), c.primary) << c.name;
    EXPECT_EQ(Signature(m.secondary), c.secondary) << c.name;
  }
  SStdModels alone = CreateModelsFromRecord(*ac3(true, false), true);
  EXPECT_FALSE(alone.primary->Primary());
  EXPECT_TRUE(alone.primary->Tb().PeriodicEmpty());
  EXPECT_NE(dynamic_cast<CDdpStd*>(alone.primary.get()), nullptr);
  SStdModels withCore = CreateModelsFromRecord(*ac3(true, true), true);
  EXPECT_TRUE(withCore.secondary->Primary());
  SStdModels mlp = CreateModelsFromRecord(MLP_HEADER_INFO{}, true);
  EXPECT_NE(dynamic_cast<CAc3Std*>(mlp.primary.get()), nullptr) << "the core's model comes first";
  EXPECT_NE(dynamic_cast<CMlpStd*>(mlp.secondary.get()), nullptr);
  EXPECT_NE(dynamic_cast<CIgStd*>(CreateModelsFromRecord(*gs(0x91), true).primary.get()), nullptr);
}

TEST(ModelChoice, FromStreamCodingInformation) {
  // video_format 1 (480i) is SD, 6 (1080p) is not.
  auto avc = CreateStdModels(SStdCodingParams{0x1B, 1, 0, 0, 0});
  EXPECT_EQ(Signature(avc.primary), std::make_pair(14400000u, 1500000));  // level 30
  avc = CreateStdModels(SStdCodingParams{0x1B, 6, 0, 0, 0});
  EXPECT_EQ(Signature(avc.primary), std::make_pair(48000000u, 3750000));  // constructor
  avc = CreateStdModels(SStdCodingParams{0x1B, 1, 0, 100, 31});
  EXPECT_EQ(Signature(avc.primary), std::make_pair(20160000u, 2100000));  // found
  avc = CreateStdModels(SStdCodingParams{0x1B, 6, 0, 100, 0});  // level not found
  EXPECT_EQ(Signature(avc.primary), std::make_pair(48000000u, 3750000));
  avc = CreateStdModels(SStdCodingParams{0x1B, 6, 0, 100, 32, false});
  EXPECT_EQ(Signature(avc.primary), std::make_pair(9600000u, 1500000));

  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0x02, 7}).primary), std::make_pair(18000000u, 229376));
  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0x02, 4, 0, 4, 6}).primary),
            std::make_pair(48000000u, 917504));  // 4 * 16 + 6 = 0x46
  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0xEA, 3}).primary), std::make_pair(24000000u, 3750000));
  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0xEA, 3, 0, 1, 2, false}).primary),
            std::make_pair(24000000u, 1500000));

  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0x80, 0, 5}).primary), std::make_pair(30000000u, 1073664));
  SStdModels a1 = CreateStdModels(SStdCodingParams{0xA1});
  EXPECT_EQ(Signature(a1.primary), kSecondary);
  EXPECT_FALSE(a1.primary->Primary());
  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0xA2}).primary), kSecondary);
  SStdModels hd = CreateStdModels(SStdCodingParams{0x85});
  EXPECT_EQ(Signature(hd.primary), kDts);
  EXPECT_EQ(Signature(hd.secondary), kDtsHd);
  EXPECT_EQ(Signature(CreateStdModels(SStdCodingParams{0x84}).secondary), kDdp);
  EXPECT_NE(dynamic_cast<CTxtStStd*>(CreateStdModels(SStdCodingParams{0x92}).primary.get()), nullptr);
  EXPECT_EQ(CreateStdModels(SStdCodingParams{0x20}).primary, nullptr);
}

// A run of packets handed over in one call ends up exactly where the same
// packets delivered one by one do, stopping at the first that arrives before
// there is room; the models that bind the calls in their own loop (video,
// audio) and the generic one (graphics) alike.
TEST(StdModels, RunDeliveryMatchesPacketByPacket) {
  auto check = [](std::unique_ptr<CStdBase> run, std::unique_ptr<CStdBase> one, int64_t meanGap) -> size_t {
    // Times at a stride of two, the other slot holding junk the call must skip.
    std::vector<int64_t> slots;
    uint32_t seed = 12345;
    int64_t t = 0;
    for (int i = 0; i < 6000; ++i) {
      seed = seed * 1103515245u + 12345u;
      t += meanGap / 4 + static_cast<int64_t>((seed >> 8) % static_cast<uint32_t>(meanGap * 3 / 2));
      slots.push_back(t);
      slots.push_back(-1);
    }
    const size_t n = slots.size() / 2;
    size_t at = 0, early = 0;
    uint32_t dts = 9000;
    while (at < n) {
      run->AddAccessUnit(dts, dts);
      one->AddAccessUnit(dts, dts);
      dts += 3000;
      const size_t end = std::min(n, at + 40);
      // Each run's first packet arrives on the very tick there is room.
      if (const int64_t late = one->GetNextTime() - slots[2 * at]; late > 0)
        for (size_t i = at; i < n; ++i) slots[2 * i] += late;
      while (at < end) {
        const size_t got = run->DeliverWhileRoom(reinterpret_cast<const uint8_t*>(&slots[2 * at]), 2 * sizeof(int64_t), end - at, 184);
        size_t want = 0;
        while (at + want < end && slots[2 * (at + want)] >= one->GetNextTime()) {
          one->DeliverPacket({slots[2 * (at + want)], 184});
          ++want;
        }
        if (got != want) {
          ADD_FAILURE() << "packet " << at << ": " << got << " delivered where " << want << " were";
          return 0;
        }
        at += got;
        if (at == end) break;
        // The one that arrived early goes in all the same.
        ++early;
        run->DeliverPacket({slots[2 * at], 184});
        one->DeliverPacket({slots[2 * at], 184});
        ++at;
      }
      if (run->Tb().Content() != one->Tb().Content() || run->Eb().Units().size() != one->Eb().Units().size() ||
          run->GetNextTime() != one->GetNextTime()) {
        ADD_FAILURE() << "the models differ after packet " << at;
        return 0;
      }
    }
    return early;
  };
  // Gaps around the TB's drain time of one packet: some arrive early.
  EXPECT_GT(check(std::make_unique<CAvcStd>(), std::make_unique<CAvcStd>(), 800), 0u);
  EXPECT_GT(check(std::make_unique<CAc3Std>(), std::make_unique<CAc3Std>(), 20304), 0u);
  EXPECT_GT(check(std::make_unique<CPgStd>(), std::make_unique<CPgStd>(), 800), 0u);
}

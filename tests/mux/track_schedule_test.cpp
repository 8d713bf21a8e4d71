// What a track tells the multiplexer: when its next packet may go, which
// models a unit goes to, and which PID it gets among the story's tracks.
#include <gtest/gtest.h>

#include "mux/mux_track.h"
#include "muxer_fake_track.h"

namespace {

using namespace zvtest;

TEST(TrackNextTime, FirstPacketAtMostNineTenthsOfASecondEarly) {
  struct Case {
    uint32_t dts, pts;
    int64_t next;
  } cases[] = {
      {131070, 135000, (131070 - 81000) * 300},  // 15,021,000
      {0, 131070, (131070 - 81000) * 300},       // no DTS: the PTS decides
      {81000, 90000, 0},
      {50, 90000, 0},
  };
  for (const Case& k : cases) {
    FakeUnit u{k.dts, k.pts, 1000, false};
    FakeTrack t(0x1B, 0x1011, {u}, 1001.0 / 24);
    ASSERT_TRUE(t.PrepareForMux({}));
    t.UpdateNextTime();
    EXPECT_EQ(t.m_nNextTime, k.next) << k.dts << "/" << k.pts;
  }
}

// A unit whose core/extension part is chosen by the test.
struct PartAu : zv::SMuxAu {
  bool base = true;
  const uint8_t* BuildPacket(uint32_t&, uint32_t&) override { return nullptr; }
  bool IsBaseUnit() const override { return base; }
};

struct TwoModelTrack : FakeTrack {
  TwoModelTrack() : FakeTrack(0x84, 0x1100, {}) {}
  void CreateModels() override {
    m_pPrimaryModel = std::make_unique<zv::CAc3Std>();
    m_pSecondaryModel = std::make_unique<zv::CDdpStd>();
  }
};

TEST(TrackRouting, CoreUnitsFeedBothModelsExtensionUnitsOnlyTheirs) {
  TwoModelTrack t;
  t.CreateModels();
  PartAu core, ext;
  ext.base = false;
  core.size = ext.size = 100;
  core.dts = core.pts = 1000;
  ext.dts = ext.pts = 1000;
  t.EnterAu(core);
  EXPECT_FALSE(t.m_bRoutedSecondary);
  t.EnterAu(ext);
  EXPECT_TRUE(t.m_bRoutedSecondary);
  EXPECT_EQ(t.m_pPrimaryModel->Eb().Units().size(), 1u);
  EXPECT_EQ(t.m_pSecondaryModel->Eb().Units().size(), 2u);

  // An extension unit's first packet also waits for the core's buffers:
  // three packets at one tick fill the core's 512-byte transport buffer.
  struct OneUnit : TwoModelTrack {
    PartAu unit;
    zv::SMuxAu* GetCurrentAu() override { return &unit; }
  } u;
  u.CreateModels();
  u.m_pPrimaryModel->AddAccessUnit(90000, 90000);
  for (int i = 0; i < 3; ++i) u.m_pPrimaryModel->DeliverPacket({1000000, 0});
  const int64_t coreNext = u.m_pPrimaryModel->GetNextTime();
  ASSERT_GT(coreNext, 1000000);
  ASSERT_EQ(u.GetModelNextTime(true), 0);
  u.unit.base = false;
  u.unit.size = 100;
  u.unit.dts = u.unit.pts = 50;  // due at once: only the buffers hold it back
  u.m_nBytesLeft = 100;
  u.m_bRoutedSecondary = true;
  u.UpdateNextTime();
  EXPECT_EQ(u.m_nNextTime, coreNext);
}

TEST(TrackRouting, ReusedClipUnitsAlternateWhenTheyClaimToBeCore) {
  TwoModelTrack t;
  t.m_nReused = 1;
  t.CreateModels();
  PartAu a, b, c, d;
  for (PartAu* u : {&a, &b, &c, &d}) u->size = 100;
  d.base = false;
  t.m_nAuServed = 0;
  t.EnterAu(a);  // the first unit: core
  EXPECT_FALSE(t.m_bRoutedSecondary);
  t.m_nAuServed = 1;
  t.EnterAu(b);  // "core" again: the opposite of the one before
  EXPECT_TRUE(t.m_bRoutedSecondary);
  t.m_nAuServed = 2;
  t.EnterAu(c);
  EXPECT_FALSE(t.m_bRoutedSecondary);
  t.m_nAuServed = 3;
  t.EnterAu(d);  // not core: extension
  EXPECT_TRUE(t.m_bRoutedSecondary);
}

TEST(TrackPids, StoryOrderWithinKindLists) {
  struct Spec {
    uint8_t type;
    bool primary;
    int32_t key;
    uint16_t pid;     // current PID (breaks ties of equal keys)
    uint16_t expect;  // PID given
  } specs[] = {
      {0x81, true, 0, 0, 0x1100},    {0x1B, true, 1, 0, 0x1011},    {0x90, true, 2, 0, 0x1200},
      {0x81, false, 3, 0, 0x1A00},   {0x81, true, 4, 0x1105, 0x1102}, {0x81, true, 4, 0x1104, 0x1101},
      {0x91, true, 5, 0, 0x1400},    {0x92, true, 6, 0, 0x1800},    {0x1B, false, 7, 0, 0x1B00},
      {0x90, false, 8, 0, 0x1B01},   {0x90, true, 9, 0, 0x1201},
  };
  std::vector<std::unique_ptr<FakeTrack>> owned;
  std::vector<zv::SMuxTrack*> tracks;
  for (const Spec& s : specs) {
    owned.push_back(std::make_unique<FakeTrack>(s.type, s.pid, std::vector<FakeUnit>{}));
    owned.back()->m_bPrimary = s.primary;
    owned.back()->m_nOrderKey = s.key;
    tracks.push_back(owned.back().get());
  }
  std::vector<zv::SMuxTrack*> order = zv::AssignPids(tracks);
  for (size_t i = 0; i < owned.size(); ++i) EXPECT_EQ(owned[i]->m_nPid, specs[i].expect) << i;
  std::vector<uint16_t> pids;
  for (auto* t : order) pids.push_back(t->m_nPid);
  EXPECT_EQ(pids, (std::vector<uint16_t>{0x1011, 0x1100, 0x1101, 0x1102, 0x1200, 0x1201, 0x1400, 0x1800, 0x1A00,
                                         0x1B00, 0x1B01}));
}

}  // namespace

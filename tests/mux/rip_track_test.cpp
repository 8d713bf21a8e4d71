// Reusing streams of an existing clip: the scan into access units on
// hand-made clips, serving with new PIDs and time stamps, and clips made
// from the committed fixtures multiplexed again from their own packets.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <typeinfo>

#include "mux/clip_info.h"
#include "mux/muxer.h"
#include "mux/rip_track.h"
#include "muxer_clip_check.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

// ---------------------------------------------------------------- hand-made clips

struct SynthClip {
  std::vector<uint8_t> bytes;
  uint8_t cc[0x2000] = {};

  // One source packet; a PES start carries the given time stamps and
  // `payload` follows its header.
  void Add(uint16_t pid, bool start, std::optional<uint32_t> pts, std::optional<uint32_t> dts,
           const std::vector<uint8_t>& payload = {}, bool priority = false) {
    std::vector<uint8_t> p(192, 0xFF);
    p[0] = p[1] = p[2] = p[3] = 0;
    p[4] = 0x47;
    p[5] = static_cast<uint8_t>((start ? 0x40 : 0) | (priority ? 0x20 : 0) | (pid >> 8));
    p[6] = pid & 0xFF;
    p[7] = static_cast<uint8_t>(0x10 | (cc[pid]++ & 15));
    size_t at = 8;
    if (start) {
      const uint8_t head[] = {0, 0, 1, 0xBD, 0, 0, 0x80};
      std::copy(std::begin(head), std::end(head), p.begin() + 8);
      at = 15;
      p[at++] = pts ? (dts ? 0xC0 : 0x80) : 0;
      p[at++] = pts ? (dts ? 10 : 5) : 0;
      auto put = [&](uint8_t prefix, uint64_t v) {
        p[at++] = static_cast<uint8_t>(prefix << 4 | ((v >> 29) & 0x0E) | 1);
        p[at++] = static_cast<uint8_t>(v >> 22);
        p[at++] = static_cast<uint8_t>(((v >> 14) & 0xFE) | 1);
        p[at++] = static_cast<uint8_t>(v >> 7);
        p[at++] = static_cast<uint8_t>(((v << 1) & 0xFE) | 1);
      };
      if (pts) put(dts ? 3 : 2, *pts);
      if (pts && dts) put(1, *dts);
    }
    for (size_t i = 0; i < payload.size() && at < 192; ++i) p[at++] = payload[i];
    bytes.insert(bytes.end(), p.begin(), p.end());
  }
  std::string Write(const TempDir& dir, const std::string& name = "00007.m2ts") const {
    const std::string path = dir / name;
    WriteBytes(path, bytes);
    return path;
  }
};

std::unique_ptr<zv::SRipTrack> Track(int pid, uint8_t type) {
  auto t = std::make_unique<zv::SRipTrack>();
  t->m_nSourcePid = pid;
  t->m_nPid = static_cast<uint16_t>(pid);
  t->m_codingInfo.StreamPID = static_cast<uint16_t>(pid);
  t->m_codingInfo.coding.StreamCodingType = type;
  return t;
}

// Serves every unit of a prepared track the way the multiplexer does,
// numbering the packets as they go out.
std::vector<std::vector<uint8_t>> Serve(zv::SRipTrack& t) {
  std::vector<std::vector<uint8_t>> out;
  while (zv::SMuxAu* au = t.GetCurrentAu()) {
    uint32_t left = 0, payload = 0;
    const size_t first = out.size();
    while (const uint8_t* p = au->BuildPacket(left, payload)) {
      out.emplace_back(p, p + 192);
      if (left == 0) break;
    }
    if (zv::KEY_POINT_INFO* kp = au->GetKeyPoint()) {
      kp->firstSpn = static_cast<uint32_t>(first);
      kp->lastSpn = static_cast<uint32_t>(out.size() - 1);
    }
    EXPECT_TRUE(t.NextAu()) << t.LastError();
  }
  return out;
}

int Scan(zv::SRipTracks& tracks, const std::string& path, std::string* error = nullptr) {
  zv::CReusedClip clip;
  std::string e;
  if (!clip.Open(path, e)) {
    ADD_FAILURE() << e;
    return -1;
  }
  return zv::ScanReusedClip(tracks, clip, {}, error);
}

std::vector<uint8_t> Segment(uint8_t type, uint8_t state = 0, uint8_t objects = 0) {
  // type, length, width, height, frame rate, composition number, state,
  // palette update, palette id, object count
  return {type, 0, 11, 0x07, 0x80, 0x04, 0x38, 0x10, 0, 1, static_cast<uint8_t>(state << 6), 0, 0, objects};
}

TEST(RipScan, EmptyAndTruncatedClipsAreRefusedAndLeaveTracksAlone) {
  TempDir dir;
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x81));
  tracks.items[0]->m_nPacketCount = 7;
  WriteBytes(dir / "empty.m2ts", {});
  EXPECT_EQ(Scan(tracks, dir / "empty.m2ts"), zv::kScanEmptyFile);
  EXPECT_EQ(tracks.items[0]->m_nPacketCount, 7);

  SynthClip c;
  c.Add(0x1100, true, 900000, std::nullopt);
  c.bytes.resize(c.bytes.size() - 10);
  std::string error;
  EXPECT_EQ(Scan(tracks, c.Write(dir), &error), zv::kScanFailed);
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
}

TEST(RipScan, UnitsFollowPesStartsAndKeepTheirPacketRuns) {
  TempDir dir;
  SynthClip c;
  c.Add(0x1011, true, 1000, 900, {0, 0, 1, 9, 0x10, 0, 0, 1, 0x67, 0x64, 0, 0x29, 0, 0, 1, 0x65});
  c.Add(0x1100, true, 900000, std::nullopt);
  c.Add(0x1011, false, {}, {});
  c.Add(0x1011, false, {}, {});
  c.Add(0x1FFF, false, {}, {});
  c.bytes[4 * 192 + 4] = 0x00;  // lost sync: numbered but ignored
  c.Add(0x1011, true, 4000, std::nullopt, {0, 0, 1, 9, 0x30, 0, 0, 1, 0x41});
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1011, 0x1B));
  tracks.items.push_back(Track(0x1100, 0x81));
  ASSERT_EQ(Scan(tracks, c.Write(dir)), zv::kOk);
  const auto& v = tracks.items[0]->m_units;
  ASSERT_EQ(v.size(), 2u);
  EXPECT_EQ(v[0].ranges, (std::vector<zv::SRipAu::Range>{{0, 0}, {2, 3}}));
  EXPECT_EQ(v[0].size, 3 * 192);
  EXPECT_EQ(v[0].pts, 1000u);
  EXPECT_EQ(v[0].dts, 900u);
  EXPECT_EQ(v[0].type, zv::kRipRandomAccess) << "delimiter and sequence parameter set before the slice";
  EXPECT_EQ(v[1].ranges, (std::vector<zv::SRipAu::Range>{{5, 5}}));
  EXPECT_EQ(v[1].type, 0u);
  EXPECT_EQ(v[1].dts, 4000u) << "a PTS alone is the DTS too";
  EXPECT_EQ(tracks.items[0]->m_nPacketCount, 4);
  EXPECT_EQ(tracks.items[1]->m_nPacketCount, 1);
  EXPECT_FALSE(tracks.items[0]->m_pmtEntry) << "the clip has no PMT";
}

TEST(RipScan, SecondTrackOfAPidAndDisabledTracksGetNoUnits) {
  TempDir dir;
  SynthClip c;
  for (uint32_t i = 0; i < 4; ++i) {
    c.Add(0x1100, true, 900000 + i * 2880, std::nullopt);
    c.Add(0x1101, true, 900000 + i * 2880, std::nullopt);
  }
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x81));
  tracks.items.push_back(Track(0x1100, 0x81));
  tracks.items.push_back(Track(0x1101, 0x81));
  tracks.items[2]->m_bEnabled = false;
  zv::SCpi ep;
  ep.entries.resize(1);
  ep.entries[0].StreamPid = 0x1101;
  ep.entries[0].keyPoints.resize(2);
  ASSERT_EQ(Scan(tracks, c.Write(dir)), zv::kOk);
  zv::AttachKeyPoints(tracks, ep);
  EXPECT_EQ(tracks.items[0]->m_units.size(), 4u);
  EXPECT_EQ(tracks.items[0]->m_nPacketCount, 4);
  EXPECT_TRUE(tracks.items[1]->m_units.empty());
  EXPECT_EQ(tracks.items[1]->m_nPacketCount, 0);
  EXPECT_TRUE(tracks.items[2]->m_units.empty());
  EXPECT_EQ(tracks.items[2]->m_nPacketCount, 4) << "counted although disabled";
  EXPECT_FALSE(tracks.items[2]->m_epKeyPoints);
}

TEST(RipScan, CancelEmptiesEverything) {
  TempDir dir;
  SynthClip c;
  c.Add(0x1100, true, 900000, std::nullopt);
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x81));
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(c.Write(dir), e));
  int calls = 0;
  auto stop = [](void* ctx, const zv::SProgressInfo* info) {
    return info->kind == zv::kProgressValue && ++*static_cast<int*>(ctx) > 1 ? 0 : 1;
  };
  EXPECT_EQ(zv::ScanReusedClip(tracks, clip, zv::Progress{stop, &calls}), zv::kCancelled);
  EXPECT_TRUE(tracks.items[0]->m_units.empty());
  EXPECT_EQ(tracks.items[0]->m_nPacketCount, 0);
}

TEST(RipScan, SubtitlesEndWithTheirLastClearingDisplaySet) {
  auto scan = [](const std::vector<std::vector<uint8_t>>& segments) {
    TempDir dir;
    SynthClip c;
    uint32_t pts = 900000;
    for (const auto& s : segments) c.Add(0x1200, true, pts += 100, std::nullopt, s);
    zv::SRipTracks tracks;
    tracks.items.push_back(Track(0x1200, 0x90));
    EXPECT_EQ(Scan(tracks, c.Write(dir)), zv::kOk);
    std::vector<uint32_t> types;
    for (const auto& u : tracks.items[0]->m_units) types.push_back(u.type);
    EXPECT_EQ(tracks.items[0]->m_nPacketCount, static_cast<int32_t>(types.size()));
    return types;
  };
  const auto show = Segment(0x16, 2, 1), clear = Segment(0x16, 0, 0), wds = Segment(0x17), end = Segment(0x80);
  const uint32_t S = 0x16 | 2 << 8, C = 0x16 | zv::kRipNoObjects, W = 0x17, E = 0x80;
  // A display set shown after the last clearing one is dropped.
  EXPECT_EQ(scan({show, wds, end, clear, wds, end, show, wds, end}), (std::vector<uint32_t>{S, W, E, C, W, E}));
  // Ending with the clearing set: unchanged.
  EXPECT_EQ(scan({show, wds, end, clear, wds, end}), (std::vector<uint32_t>{S, W, E, C, W, E}));
  // No clearing composition at all: only the first display set stays.
  EXPECT_EQ(scan({show, wds, end, show, wds, end}), (std::vector<uint32_t>{S, W, E}));
}

// ---------------------------------------------------------------- serving

TEST(RipServe, NewPidDelayedTimeStampsAndPayloadUntouched) {
  TempDir dir;
  SynthClip c;
  c.Add(0x1100, true, 900000, std::nullopt, {0x0B, 0x77, 1, 2, 3});
  c.Add(0x1100, false, {}, {}, {4, 5, 6});
  c.Add(0x1100, true, 902880, 902000, {0x0B, 0x77, 7});
  const std::string path = c.Write(dir);
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x81));
  zv::SRipTrack& t = *tracks.items[0];
  ASSERT_EQ(Scan(tracks, path), zv::kOk);
  EXPECT_EQ(t.m_units[0].dts, 900000u);
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e));
  t.SetClip(&clip);
  t.m_nPid = 0x1102;
  t.m_nDelay = 90000;
  ASSERT_TRUE(t.PrepareForMux({}));
  uint32_t pts, dts, packets;
  t.GetStartInfo(pts, dts, packets);
  EXPECT_EQ(pts, 990000u);
  EXPECT_EQ(dts, 990000u);
  EXPECT_EQ(packets, 2u);
  const auto out = Serve(t);
  ASSERT_EQ(out.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const uint8_t* o = out[i].data();
    const uint8_t* in = c.bytes.data() + i * 192;
    EXPECT_EQ(((o[5] & 0x1F) << 8) | o[6], 0x1102);
    EXPECT_EQ(o[5] & 0x20, 0x20) << "AC-3 is sent with transport_priority set";
    EXPECT_EQ(o[5] & 0x40, in[5] & 0x40);
    EXPECT_EQ(o[7], in[7]) << "continuity counters stay";
  }
  EXPECT_EQ(ReadTimeStamp(out[0].data() + 17), 990000u);
  EXPECT_EQ(ReadTimeStamp(out[2].data() + 17), 992880u);
  EXPECT_EQ(ReadTimeStamp(out[2].data() + 22), 992000u);
  EXPECT_EQ(out[2][17] >> 4, 3);
  EXPECT_EQ(out[2][22] >> 4, 1);
  EXPECT_TRUE(std::equal(out[1].begin() + 8, out[1].end(), c.bytes.begin() + 192 + 8));
  EXPECT_TRUE(std::equal(out[0].begin() + 22, out[0].end(), c.bytes.begin() + 22));
}

TEST(RipServe, AudioKeyPointsEveryHalfSecondWithoutAnEpMap) {
  TempDir dir;
  SynthClip c;
  for (uint32_t i = 0; i < 40; ++i) c.Add(0x1100, true, 900000 + i * 2880, std::nullopt);
  const std::string path = c.Write(dir);
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x81));
  zv::SRipTrack& t = *tracks.items[0];
  ASSERT_EQ(Scan(tracks, path), zv::kOk);
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e));
  t.SetClip(&clip);
  t.m_bWantKeyPoints = true;
  ASSERT_TRUE(t.PrepareForMux({}));
  Serve(t);
  t.CollectKeyPoints();
  // 45,000 / 2,880 = 15.6: units 0, 16 and 32.
  ASSERT_EQ(t.m_keyPoints.keyPoints.size(), 3u);
  EXPECT_EQ(t.m_keyPoints.keyPoints[0].pts, 900000u);
  EXPECT_EQ(t.m_keyPoints.keyPoints[1].pts, 900000u + 16 * 2880);
  EXPECT_EQ(t.m_keyPoints.keyPoints[2].pts, 900000u + 32 * 2880);
  EXPECT_EQ(t.m_keyPoints.keyPoints[1].auIndex, 16);
  EXPECT_EQ(t.m_keyPoints.keyPoints[1].firstSpn, 16u);
}

TEST(RipServe, EpMapPointsMoveToTheServedUnitsTheyName) {
  TempDir dir;
  SynthClip c;
  for (uint32_t i = 0; i < 6; ++i) {
    c.Add(0x1011, true, 900000 + i * 3754, std::nullopt, {0, 0, 1, 9, 0x10});
    c.Add(0x1011, false, {}, {});
  }
  const std::string path = c.Write(dir);
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1011, 0x1B));
  zv::SRipTrack& t = *tracks.items[0];
  ASSERT_EQ(Scan(tracks, path), zv::kOk);
  zv::SCpi ep;
  ep.entries.resize(1);
  ep.entries[0].StreamPid = 0x1011;
  zv::KEY_POINT_INFO a, b;
  a.pts = (900000 + 2 * 3754) & ~0x1FFu;  // as an EP map holds it
  a.auIndex = 5;
  b.pts = 800000;                          // no such unit
  ep.entries[0].keyPoints = {a, b};
  zv::AttachKeyPoints(tracks, ep);
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e));
  t.SetClip(&clip);
  t.m_bWantKeyPoints = true;
  ASSERT_TRUE(t.PrepareForMux({}));
  Serve(t);
  t.CollectKeyPoints();
  ASSERT_EQ(t.m_keyPoints.keyPoints.size(), 1u);
  EXPECT_EQ(t.m_keyPoints.keyPoints[0].pts, 900000u + 2 * 3754);
  EXPECT_EQ(t.m_keyPoints.keyPoints[0].firstSpn, 4u);
  EXPECT_EQ(t.m_keyPoints.keyPoints[0].lastSpn, 5u);
  EXPECT_EQ(t.m_keyPoints.keyPoints[0].auIndex, 5);
}

TEST(RipServe, TwoModelStreamsMarkTheirCoreUnits) {
  // TrueHD with its AC-3 core on one PID: core units carry transport_priority.
  TempDir dir;
  SynthClip c;
  for (uint32_t i = 0; i < 3; ++i) {
    c.Add(0x1100, true, 900000 + i * 2880, std::nullopt, {0x0B, 0x77}, true);
    c.Add(0x1100, true, 900000 + i * 2880, std::nullopt, {0xF8, 0x72}, false);
  }
  const std::string path = c.Write(dir);
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1100, 0x83));
  zv::SRipTrack& t = *tracks.items[0];
  ASSERT_EQ(Scan(tracks, path), zv::kOk);
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e));
  t.SetClip(&clip);
  ASSERT_TRUE(t.PrepareForMux({}));
  ASSERT_TRUE(t.m_pSecondaryModel);
  const auto out = Serve(t);
  ASSERT_EQ(out.size(), 6u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ((out[i][5] & 0x20) != 0, i % 2 == 0) << i;
}

TEST(RipServe, ModelsFollowTheStreamCodingType) {
  struct Case {
    uint8_t type;
    const std::type_info& primary;
    const std::type_info* secondary;
  };
  const Case cases[] = {
      {0x02, typeid(zv::CMpeg2Std), nullptr},       {0x1B, typeid(zv::CAvcStd), nullptr},
      {0xEA, typeid(zv::CVc1Std), nullptr},         {0x80, typeid(zv::CLpcmStd), nullptr},
      {0x81, typeid(zv::CAc3Std), nullptr},         {0x82, typeid(zv::CDtsStd), nullptr},
      {0x83, typeid(zv::CAc3Std), &typeid(zv::CMlpStd)}, {0x86, typeid(zv::CDtsStd), &typeid(zv::CDtsHdStd)},
      {0x90, typeid(zv::CPgStd), nullptr},          {0x91, typeid(zv::CIgStd), nullptr},
  };
  for (const Case& k : cases) {
    auto t = Track(0x1100, k.type);
    t->CreateModels();
    ASSERT_TRUE(t->m_pPrimaryModel) << int(k.type);
    const zv::CStdBase& primary = *t->m_pPrimaryModel;
    EXPECT_EQ(typeid(primary), k.primary) << int(k.type);
    EXPECT_EQ(t->m_pSecondaryModel != nullptr, k.secondary != nullptr) << int(k.type);
    if (k.secondary && t->m_pSecondaryModel) {
      const zv::CStdBase& secondary = *t->m_pSecondaryModel;
      EXPECT_EQ(typeid(secondary), *k.secondary) << int(k.type);
    }
  }
}

TEST(RipTrack, DescriptionLanguageAndStoredForm) {
  auto t = Track(0x1100, 0x81);
  t->m_codingInfo.coding.AudioPresentationType = 3;
  t->m_codingInfo.coding.SamplingFrequency = 1;
  t->m_pmtEntry = zv::ESI{};
  t->m_pmtEntry->language = zv::ISO639_LANGUAGE_DESCRIPTOR{};
  EXPECT_TRUE(t->SetLanguageCode("fra"));
  EXPECT_FALSE(t->SetLanguage(t->m_nLanguage));
  EXPECT_EQ(t->GetDescription(), "0x1100, " + std::string(zv::GetStreamTypeName(0x81)) + "(0x81), Stereo, 48K, fra");
  t->m_nClipNumber = 3;
  EXPECT_EQ(t->GetDescription().substr(0, 18), "00003.M2TS, 0x1100");
  zv::ESI esi;
  t->m_nPid = 0x1101;
  t->FillEsInfo(esi);
  EXPECT_EQ(esi.elementary_PID, 0x1101);
  ASSERT_TRUE(esi.language);
  EXPECT_EQ(std::string(esi.language->language.data(), 3), "fra");

  t->m_clipIdentity = {1234, 5678};
  t->m_bPrimary = false;
  zv::ArchiveOut out;
  t->Store(out);
  zv::SRipTrack back;
  zv::ArchiveIn in(out.Bytes());
  back.Load(in);
  EXPECT_EQ(back.m_nSourcePid, 0x1100);
  EXPECT_EQ(back.GetLanguageCode(), "fra");
  EXPECT_FALSE(back.m_bPrimary);
  EXPECT_EQ(back.m_clipIdentity, (zv::CReusedClip::Identity{1234, 5678}));
  EXPECT_EQ(back.m_nReused, 1);
  // A stored PID outside the elementary ranges is refused.
  std::vector<uint8_t> bad = out.Bytes();
  bad[1] = bad[2] = bad[3] = bad[4] = 0;
  zv::ArchiveIn badIn(bad);
  zv::SRipTrack refused;
  EXPECT_THROW(refused.Load(badIn), zv::ArchiveError);
}

// ---------------------------------------------------------------- clips of the fixtures

struct MadeClip {
  std::string m2ts, clpi;
};

// Multiplexes fixtures into STREAM/00001.m2ts and CLIPINF/00001.clpi below `dir`.
MadeClip MakeClip(const TempDir& dir, const std::vector<std::string>& fixtures,
                  int64_t base = zv::kDefaultBasePresentationTime) {
  std::filesystem::create_directories(dir / "BDMV/STREAM");
  std::filesystem::create_directories(dir / "BDMV/CLIPINF");
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
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  prep.basePresentationTime = base;
  EXPECT_TRUE(muxer.Prepare(&ordered, prep)) << muxer.Error();
  MadeClip m{dir / "BDMV/STREAM/00001.m2ts", dir / "BDMV/CLIPINF/00001.clpi"};
  std::string error;
  EXPECT_EQ(zv::MuxClipFiles(muxer, m.m2ts, m.clpi, false, {}, error), zv::kOk) << error;
  return m;
}

// Multiplexes the listed streams of an existing clip again (plus raw
// tracks), the way a story prepares reused tracks.
struct Remux {
  zv::SClipListing listing;
  zv::SRipTracks rip;
  zv::CReusedClip clip;
  std::string m2ts, clpi;
};

void RemuxClip(Remux& r, const TempDir& out, const std::string& source, const std::vector<uint16_t>& pids,
               const std::vector<zv::SMuxTrack*>& raw = {}) {
  std::string error;
  ASSERT_EQ(zv::ListClipStreams(source, r.listing, error), zv::kOk) << error;
  for (const zv::SClipStream& s : r.listing.streams)
    if (std::find(pids.begin(), pids.end(), s.pid) != pids.end()) r.rip.items.push_back(zv::MakeRipTrack(r.listing, s));
  ASSERT_TRUE(r.clip.Open(source, error)) << error;
  zv::SMuxPrepare prep;
  ASSERT_EQ(zv::PrepareReusedClip(r.rip, r.clip, r.listing.clpiPath, {}, prep.basePresentationTime, error), zv::kOk)
      << error;
  std::vector<zv::SMuxTrack*> tracks;
  for (auto& t : r.rip.items) {
    t->m_nOrderKey = static_cast<int32_t>(tracks.size());
    tracks.push_back(t.get());
  }
  for (zv::SMuxTrack* t : raw) {
    t->m_nOrderKey = static_cast<int32_t>(tracks.size());
    tracks.push_back(t);
  }
  std::vector<zv::SMuxTrack*> ordered = zv::AssignPids(tracks);
  zv::CMuxer muxer;
  ASSERT_TRUE(muxer.Prepare(&ordered, prep)) << muxer.Error();
  r.m2ts = out / "00002.m2ts";
  r.clpi = out / "00002.clpi";
  ASSERT_EQ(zv::MuxClipFiles(muxer, r.m2ts, r.clpi, false, {}, error), zv::kOk) << error;
}

zv::ClipInformationFile ReadInfo(const std::string& path) {
  zv::ClipInformationFile ci;
  std::vector<uint8_t> raw = ReadBytes(path);
  std::string err;
  EXPECT_EQ(ci.Parse(raw.data(), raw.size(), &err), zv::kOk) << err;
  return ci;
}

TEST(RipClip, ListingChecksTheClipAgainstItsInformation) {
  TempDir dir;
  MadeClip m = MakeClip(dir, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"});
  zv::SClipListing l;
  std::string error;
  ASSERT_EQ(zv::ListClipStreams(m.m2ts, l, error), zv::kOk) << error;
  EXPECT_EQ(l.clpiPath, m.clpi);
  EXPECT_EQ(l.clipNumber, 1);
  ASSERT_EQ(l.streams.size(), 3u);
  EXPECT_EQ(l.streams[0].pid, 0x1011);
  EXPECT_EQ(l.streams[0].info.coding.StreamCodingType, 0x1B);
  EXPECT_EQ(l.streams[2].pid, 0x1101);
  EXPECT_EQ(l.streams[2].info.coding.AudioPresentationType, 6);

  // Cut short by one packet: the clip information counts more.
  std::vector<uint8_t> bytes = ReadBytes(m.m2ts);
  WriteBytes(m.m2ts, std::vector<uint8_t>(bytes.begin(), bytes.end() - 192));
  EXPECT_EQ(zv::ListClipStreams(m.m2ts, l, error), zv::kFailed);
  EXPECT_NE(error.find("clip information"), std::string::npos) << error;
  WriteBytes(m.m2ts, std::vector<uint8_t>(bytes.begin(), bytes.end() - 100));
  EXPECT_EQ(zv::ListClipStreams(m.m2ts, l, error), zv::kFailed);
  EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  WriteBytes(m.m2ts, bytes);
  std::filesystem::remove(m.clpi);
  EXPECT_EQ(zv::ListClipStreams(m.m2ts, l, error), zv::kFailed);
  EXPECT_NE(error.find("no clip information"), std::string::npos) << error;
}

TEST(RipClip, EveryReusedStreamIsCarriedOverUnchanged) {
  TempDir dir, out;
  MadeClip m = MakeClip(dir, {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"});
  Remux r;
  RemuxClip(r, out, m.m2ts, {0x1011, 0x1100, 0x1101});
  ClipReading a = ReadClip(m.m2ts), b = ReadClip(r.m2ts);
  ASSERT_TRUE(a.error.empty() && b.error.empty()) << a.error << b.error;
  for (uint16_t pid : {0x1011, 0x1100, 0x1101}) {
    const auto& ua = a.units.at(pid);
    const auto& ub = b.units.at(pid);
    ASSERT_EQ(ua.size(), ub.size()) << pid;
    for (size_t i = 0; i < ua.size(); ++i) {
      ASSERT_EQ(ua[i].payload, ub[i].payload) << pid << " unit " << i;
      ASSERT_EQ(ua[i].pts, ub[i].pts) << pid << " unit " << i;
      ASSERT_EQ(ua[i].dts, ub[i].dts) << pid << " unit " << i;
    }
  }
  // Decodable under the independent replay, PCRs at most 100 ms apart.
  EXPECT_EQ(ReplayStd(b, 0x1011, AvcLevel41()), "");
  EXPECT_EQ(ReplayStd(b, 0x1100, Ac3Primary()), "");
  EXPECT_EQ(ReplayStd(b, 0x1101, Ac3Primary()), "");
  EXPECT_LE(MaxPcrGap(b), kMaxPcrGap);

  // The same start time, streams and pictures in the EP map.
  zv::ClipInformationFile ia = ReadInfo(m.clpi), ib = ReadInfo(r.clpi);
  EXPECT_EQ(ib.atcSequences[0].stc[0].PresentationStartTime, ia.atcSequences[0].stc[0].PresentationStartTime);
  const auto& sa = ia.programInfo.sequences[0].streams;
  const auto& sb = ib.programInfo.sequences[0].streams;
  ASSERT_EQ(sa.size(), sb.size());
  for (size_t i = 0; i < sa.size(); ++i) {
    EXPECT_EQ(sa[i].StreamPID, sb[i].StreamPID);
    EXPECT_EQ(sa[i].coding.StreamCodingType, sb[i].coding.StreamCodingType);
    EXPECT_EQ(sa[i].coding.AudioPresentationType, sb[i].coding.AudioPresentationType);
  }
  ASSERT_EQ(ib.cpi.entries.size(), 1u);
  const auto& ka = ia.cpi.entries[0].keyPoints;
  const auto& kb = ib.cpi.entries[0].keyPoints;
  ASSERT_EQ(ka.size(), kb.size());
  for (size_t i = 0; i < kb.size(); ++i) {
    EXPECT_EQ(ka[i].pts, kb[i].pts) << i;
    const ClipPacket& at = b.packets.at(kb[i].firstSpn);
    EXPECT_EQ(at.pid, 0x1011) << i;
    EXPECT_TRUE(at.pusi) << i;
  }
}

TEST(RipClip, RawTracksLineUpWithReusedOnes) {
  TempDir dir, out;
  // The old clip starts away from the default base time, so that the
  // alignment is what puts the new track in place.
  MadeClip m = MakeClip(dir, {"h264_1080p2398.264", "ac3_stereo.ac3"}, 36000000);
  zv::ScriptedPrompt prompt;
  zv::SRawTrack ac3;
  ASSERT_TRUE(ac3.SetSource(CopyFixture("ac3_51.ac3", out.Path()), {}, &prompt)) << ac3.LastError();
  Remux r;
  RemuxClip(r, out, m.m2ts, {0x1011}, {&ac3});
  ClipReading a = ReadClip(m.m2ts), b = ReadClip(r.m2ts);
  ASSERT_TRUE(a.error.empty() && b.error.empty()) << a.error << b.error;
  ASSERT_TRUE(b.units.count(0x1100));
  const int64_t oldGap = int64_t(a.units.at(0x1100)[0].pts) - int64_t(a.units.at(0x1011)[0].pts);
  const int64_t newGap = int64_t(b.units.at(0x1100)[0].pts) - int64_t(b.units.at(0x1011)[0].pts);
  EXPECT_LE(std::abs(oldGap - newGap), 3754) << "within one frame";
  EXPECT_EQ(a.units.at(0x1011).size(), b.units.at(0x1011).size());
  EXPECT_EQ(b.units.at(0x1011)[0].pts, 36000000u);
  EXPECT_EQ(ReplayStd(b, 0x1011, AvcLevel41()), "");
  EXPECT_EQ(ReplayStd(b, 0x1100, Ac3Primary()), "");
  EXPECT_LE(MaxPcrGap(b), kMaxPcrGap);
}

// ---------------------------------------------------------------- core and extension on one PID

// A clip of H.264 and a core-and-extension audio stream, reused whole: each
// model takes what players route to it, and the stream is carried unchanged.
void CheckReusedCoreAndExtension(const std::vector<std::string>& audio, const StdParams& coreModel,
                                 const StdParams& wholeModel, bool unmarked) {
  SCOPED_TRACE(audio.front() + (unmarked ? " without priority marks" : ""));
  TempDir dir, out;
  for (size_t i = 1; i < audio.size(); ++i) CopyFixture(audio[i], dir.Path());
  MadeClip m = MakeClip(dir, {"h264_1080p2398.264", audio.front()});
  ClipReading a = ReadClip(m.m2ts);
  ASSERT_TRUE(a.error.empty()) << a.error;
  EXPECT_EQ(CoreMarking(a, 0x1100), "");
  EXPECT_EQ(ReplayStd(a, 0x1100, coreModel, IsCoreUnit), "");
  EXPECT_EQ(ReplayStd(a, 0x1100, wholeModel), "");
  if (unmarked) {
    // As a clip that does not mark its core packets leaves them.
    std::vector<uint8_t> bytes = ReadBytes(m.m2ts);
    for (size_t i = 0; i + 192 <= bytes.size(); i += 192) bytes[i + 5] &= static_cast<uint8_t>(~0x20);
    WriteBytes(m.m2ts, bytes);
  }
  Remux r;
  RemuxClip(r, out, m.m2ts, {0x1011, 0x1100});
  ClipReading b = ReadClip(r.m2ts);
  ASSERT_TRUE(b.error.empty()) << b.error;
  const auto& ua = a.units.at(0x1100);
  const auto& ub = b.units.at(0x1100);
  ASSERT_EQ(ua.size(), ub.size());
  for (size_t i = 0; i < ua.size(); ++i) {
    ASSERT_EQ(ua[i].payload, ub[i].payload) << i;
    ASSERT_EQ(ua[i].idExtension, ub[i].idExtension) << i;
  }
  EXPECT_EQ(CoreMarking(b, 0x1100), "");
  EXPECT_EQ(ReplayStd(b, 0x1100, coreModel, IsCoreUnit), "");
  EXPECT_EQ(ReplayStd(b, 0x1100, wholeModel), "");
  EXPECT_EQ(ReplayStd(b, 0x1011, AvcLevel41()), "");
  EXPECT_LE(MaxPcrGap(b), kMaxPcrGap);
}

TEST(RipClip, ReusedTrueHdKeepsItsCoreUnderTheAc3Model) {
  for (bool unmarked : {false, true})
    CheckReusedCoreAndExtension({"thd_51.thd", "thd_51.ac3"}, Ac3Primary(), Mlp(), unmarked);
}

TEST(RipClip, ReusedDtsHdKeepsItsCoreUnderTheDtsModel) {
  for (bool unmarked : {false, true}) {
    CheckReusedCoreAndExtension({"dtshd_ma.dtshd"}, DtsCore(), DtsHdPrimary(), unmarked);
    CheckReusedCoreAndExtension({"dtshd_hra.dts"}, DtsCore(), DtsHdPrimary(), unmarked);
  }
}

TEST(RipClip, ClipInformationOfAnotherClipIsRefused) {
  TempDir dir, out;
  MadeClip m = MakeClip(dir, {"h264_1080p2398.264", "ac3_stereo.ac3"});
  // The same packet count and PIDs, but an EP map naming pictures the clip
  // does not have (as another clip's information would).
  zv::ClipInformationFile ci = ReadInfo(m.clpi);
  ASSERT_FALSE(ci.cpi.entries.empty());
  for (auto& e : ci.cpi.entries)
    for (auto& k : e.keyPoints) k.pts += 90000 * 3600;
  std::vector<uint8_t> bytes(ci.WriteClipInformation(nullptr, 0));
  ci.WriteClipInformation(bytes.data(), bytes.size());
  WriteBytes(m.clpi, bytes);
  zv::SClipListing listing;
  std::string error;
  ASSERT_EQ(zv::ListClipStreams(m.m2ts, listing, error), zv::kOk) << error;
  zv::SRipTracks rip;
  for (const zv::SClipStream& s : listing.streams) rip.items.push_back(zv::MakeRipTrack(listing, s));
  zv::CReusedClip clip;
  ASSERT_TRUE(clip.Open(m.m2ts, error)) << error;
  int64_t base = 0;
  EXPECT_EQ(zv::PrepareReusedClip(rip, clip, listing.clpiPath, {}, base, error), zv::kFailed);
  EXPECT_NE(error.find("does not belong to"), std::string::npos) << error;
  EXPECT_NE(error.find("0x1011"), std::string::npos) << error;
}

// Every audio fixture, multiplexed from its file and reused from that clip:
// its buffers, PES headers held with the payload until a unit is decoded,
// neither overflow nor starve on either path.
TEST(RipClip, EveryAudioFixtureFitsItsBuffersMadeAndReused) {
  struct Case {
    std::vector<std::string> files;
    StdParams model;
    std::optional<StdParams> extension;  // the whole stream's, when a core rides along
  } cases[] = {
      {{"ac3_mono.ac3"}, Ac3Primary(), {}},
      {{"ac3_stereo.ac3"}, Ac3Primary(), {}},
      {{"ac3_51.ac3"}, Ac3Primary(), {}},
      {{"dts_51.dts"}, DtsCore(), {}},
      {{"dtshd_ma.dtshd"}, DtsCore(), DtsHdPrimary()},
      {{"dtshd_hra.dts"}, DtsCore(), DtsHdPrimary()},
      {{"thd_51.thd", "thd_51.ac3"}, Ac3Primary(), Mlp()},
      {{"lpcm_20_16_48.wav"}, Lpcm(false), {}},
      {{"lpcm_51_24_48.wav"}, Lpcm(false), {}},
      {{"lpcm_71_24_96.wav"}, Lpcm(false), {}},
      {{"lpcm_20_24_192.wav"}, Lpcm(true), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files.front());
    TempDir dir, out;
    for (size_t i = 1; i < c.files.size(); ++i) CopyFixture(c.files[i], dir.Path());
    MadeClip m = MakeClip(dir, {"h264_1080p2398.264", c.files.front()});
    Remux r;
    RemuxClip(r, out, m.m2ts, {0x1011, 0x1100});
    for (const std::string& path : {m.m2ts, r.m2ts}) {
      SCOPED_TRACE(path);
      const ClipReading k = ReadClip(path);
      ASSERT_TRUE(k.error.empty()) << k.error;
      if (c.extension) {
        EXPECT_EQ(ReplayStd(k, 0x1100, c.model, IsCoreUnit), "");
        EXPECT_EQ(ReplayStd(k, 0x1100, *c.extension), "");
      } else {
        EXPECT_EQ(ReplayStd(k, 0x1100, c.model), "");
      }
      EXPECT_EQ(ReplayStd(k, 0x1011, AvcLevel41()), "");
    }
  }
}

}  // namespace


// The stored scan of a reused clip: what is kept, when it is used instead
// of reading the clip, and serving units from the clip's shared mapped
// windows (or reading those that do not fit one).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "mux/rip_scan_cache.h"
#include "mux/rip_track.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

// A clip of `count` source packets whose PIDs come from `pidOf(n)`; a PES
// starts wherever `startOf(n)` says, with the PTS 1000 + n.
template <class Pid, class Start>
std::vector<uint8_t> MakeClip(uint32_t count, Pid pidOf, Start startOf) {
  std::vector<uint8_t> bytes(size_t{count} * 192);
  uint8_t cc[0x2000] = {};
  for (uint32_t n = 0; n < count; ++n) {
    uint8_t* p = bytes.data() + size_t{n} * 192;
    const uint16_t pid = pidOf(n);
    const bool start = startOf(n);
    const bool audio = pid >= 0x1100 && pid < 0x1200;
    p[4] = 0x47;
    p[5] = static_cast<uint8_t>((start ? 0x40 : 0) | (audio ? 0x20 : 0) | (pid >> 8));
    p[6] = pid & 0xFF;
    p[7] = static_cast<uint8_t>(0x10 | (cc[pid]++ & 15));
    size_t at = 8;
    if (start) {
      const uint32_t pts = 1000 + n;
      const uint8_t head[] = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5,
                              static_cast<uint8_t>(0x21 | ((pts >> 29) & 0x0E)), static_cast<uint8_t>(pts >> 22),
                              static_cast<uint8_t>((pts >> 14) | 1), static_cast<uint8_t>(pts >> 7),
                              static_cast<uint8_t>((pts << 1) | 1)};
      std::copy(std::begin(head), std::end(head), p + 8);
      at += sizeof head;
    }
    // A payload that differs in every packet, so a packet served from the
    // wrong place shows.
    for (; at < 192; ++at) p[at] = static_cast<uint8_t>(n * 7 + at);
  }
  return bytes;
}

std::unique_ptr<zv::SRipTrack> Track(int pid, uint8_t type) {
  auto t = std::make_unique<zv::SRipTrack>();
  t->m_nSourcePid = pid;
  t->m_nPid = static_cast<uint16_t>(pid);
  t->m_codingInfo.coding.StreamCodingType = type;
  return t;
}

struct EnvCache {
  TempDir dir;
  std::string saved;
  bool had = false;
  EnvCache() {
    if (const char* v = std::getenv("XDG_CACHE_HOME")) {
      had = true;
      saved = v;
    }
    ::setenv("XDG_CACHE_HOME", dir.Path().c_str(), 1);
  }
  ~EnvCache() {
    if (had)
      ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
      ::unsetenv("XDG_CACHE_HOME");
  }
};

zv::SClipScan ScanOf(const zv::SRipTracks& tracks) {
  zv::SClipScan scan;
  for (const auto& t : tracks.items)
    scan.streams.push_back(zv::SScannedStream{static_cast<uint16_t>(t->m_nSourcePid),
                                              static_cast<uint32_t>(t->m_nPacketCount), t->m_units, false});
  return scan;
}

bool SameUnits(const std::vector<zv::SRipAu>& a, const std::vector<zv::SRipAu>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].pts != b[i].pts || a[i].dts != b[i].dts || a[i].type != b[i].type || a[i].size != b[i].size ||
        a[i].ranges != b[i].ranges)
      return false;
  return true;
}

TEST(RipScanCache, StoredFormRoundTripsAndRefusesAnyMismatchOrDamage) {
  zv::SClipScan scan;
  scan.streams.resize(2);
  scan.streams[0].pid = 0x1011;
  scan.streams[0].packetCount = 900;
  scan.streams[1].pid = 0x1100;
  scan.streams[1].packetCount = 40;
  scan.streams[1].oversized = true;
  zv::SRipAu u;
  u.pts = 0x12345678;
  u.dts = 0x1234;
  u.type = zv::kRipRandomAccess;
  u.ranges = {{0, 3}, {5, 5}, {200, 899}};
  u.size = (4 + 1 + 700) * 192;
  scan.streams[0].units = {u};
  u.ranges = {{900, 900}, {70000, 70005}};
  u.size = 7 * 192;
  u.type = 0;
  scan.streams[0].units.push_back(u);
  zv::SClipKey key{"/discs/old/BDMV/STREAM/00001.m2ts", 2049, 77, 100000 * 192, 1700000000000000001, 1700000000000000002};

  const std::vector<uint8_t> bytes = zv::EncodeClipScan(key, scan);
  zv::SClipScan back;
  ASSERT_TRUE(zv::DecodeClipScan(bytes.data(), bytes.size(), key, 100000, back));
  ASSERT_EQ(back.streams.size(), 2u);
  EXPECT_TRUE(SameUnits(back.streams[0].units, scan.streams[0].units));
  EXPECT_EQ(back.streams[0].packetCount, 900u);
  EXPECT_TRUE(back.streams[1].oversized);
  EXPECT_EQ(back.Find(0x1100), &back.streams[1]);
  EXPECT_EQ(back.Find(0x1101), nullptr);

  // Another file, or the same one changed, is not this entry's clip.
  for (int field = 0; field < 6; ++field) {
    zv::SClipKey other = key;
    switch (field) {
      case 0: other.path += "x"; break;
      case 1: other.device++; break;
      case 2: other.inode++; break;
      case 3: other.size -= 192; break;
      case 4: other.mtimeNs++; break;
      case 5: other.ctimeNs++; break;
    }
    EXPECT_FALSE(zv::DecodeClipScan(bytes.data(), bytes.size(), other, 100000, back)) << "field " << field;
  }
  // Packet numbers beyond the clip.
  EXPECT_FALSE(zv::DecodeClipScan(bytes.data(), bytes.size(), key, 70005, back));
  // Every cut and every flipped bit is found.
  for (size_t n = 0; n < bytes.size(); ++n)
    ASSERT_FALSE(zv::DecodeClipScan(bytes.data(), n, key, 100000, back)) << "cut at " << n;
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::vector<uint8_t> bad = bytes;
    bad[i] ^= static_cast<uint8_t>(1u << (i % 8));
    ASSERT_FALSE(zv::DecodeClipScan(bad.data(), bad.size(), key, 100000, back)) << "byte " << i;
  }
}

TEST(RipScanCache, ScanUsesTheEntryOnlyWhileTheClipIsTheSame) {
  EnvCache env;
  TempDir dir;
  const std::string path = dir / "00001.m2ts";
  // Video units of 10 packets with an audio packet after every 4th.
  WriteBytes(path, MakeClip(
                       600, [](uint32_t n) -> uint16_t { return n % 5 == 4 ? 0x1100 : 0x1011; },
                       [](uint32_t n) { return n % 5 == 4 || n % 50 == 0; }));
  auto scan = [&](std::vector<int> pids) {
    zv::SRipTracks tracks;
    for (int pid : pids) tracks.items.push_back(Track(pid, pid == 0x1011 ? 0x1B : 0x81));
    zv::CReusedClip clip;
    std::string e;
    EXPECT_TRUE(clip.Open(path, e)) << e;
    EXPECT_EQ(zv::ScanReusedClip(tracks, clip, {}, &e), zv::kOk) << e;
    return tracks;
  };
  const zv::SRipTracks first = scan({0x1011, 0x1100});
  ASSERT_EQ(first.items[0]->m_units.size(), 12u);
  ASSERT_EQ(first.items[1]->m_units.size(), 120u);
  // Just written: a change within its time stamp could not be told, so
  // nothing is kept.
  const std::string entry = zv::ClipScanEntryPath({}, zv::AbsolutePath(path));
  ASSERT_FALSE(entry.empty());
  EXPECT_FALSE(std::filesystem::exists(entry));

  // An entry for the clip as it is, marked so that its use shows.
  zv::File f;
  ASSERT_TRUE(f.Open(path, zv::File::kRead));
  const std::optional<zv::SClipKey> key = zv::ClipKeyOf(f);
  ASSERT_TRUE(key);
  zv::SClipScan marked = ScanOf(first);
  marked.streams[1].units[0].pts = 4242;
  auto store = [&](const zv::SClipScan& s) {
    const std::vector<uint8_t> bytes = zv::EncodeClipScan(*key, s);
    std::filesystem::create_directories(std::filesystem::path(entry).parent_path());
    WriteBytes(entry, bytes);
  };
  store(marked);
  zv::SRipTracks cached = scan({0x1011, 0x1100});
  EXPECT_EQ(cached.items[1]->m_units[0].pts, 4242u) << "the entry was not used";
  EXPECT_TRUE(SameUnits(cached.items[0]->m_units, first.items[0]->m_units));
  EXPECT_EQ(cached.items[0]->m_nPacketCount, first.items[0]->m_nPacketCount);
  EXPECT_EQ(cached.items[1]->m_nPacketCount, first.items[1]->m_nPacketCount);

  // A stream the entry does not have: the clip is read.
  zv::SClipScan videoOnly = marked;
  videoOnly.streams.pop_back();
  store(videoOnly);
  EXPECT_EQ(scan({0x1011, 0x1100}).items[1]->m_units[0].pts, first.items[1]->m_units[0].pts);

  // A damaged entry: the clip is read.
  std::vector<uint8_t> bytes = zv::EncodeClipScan(*key, marked);
  bytes[bytes.size() / 2] ^= 0x40;
  WriteBytes(entry, bytes);
  EXPECT_EQ(scan({0x1011, 0x1100}).items[1]->m_units[0].pts, first.items[1]->m_units[0].pts);

  // The clip touched since: the entry is stale.
  store(marked);
  EXPECT_EQ(scan({0x1100}).items[0]->m_units[0].pts, 4242u);
  const timespec times[2] = {{0, UTIME_OMIT}, {1600000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_EQ(scan({0x1100}).items[0]->m_units[0].pts, first.items[1]->m_units[0].pts);
}

TEST(RipScanCache, OnlySettledClipsAreStoredAndTheFolderStaysSmall) {
  TempDir dir;
  zv::SClipScan scan;
  scan.streams.push_back(zv::SScannedStream{0x1011, 3, {}, false});
  zv::SClipKey key{"/a/00001.m2ts", 1, 2, 3 * 192, 0, 0};
  const std::string folder = dir / "cache";
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  key.mtimeNs = key.ctimeNs = static_cast<int64_t>(now.tv_sec) * 1000000000;
  zv::SaveClipScan(folder, key, scan);
  EXPECT_FALSE(std::filesystem::exists(zv::ClipScanEntryPath(folder, key.path)));
  key.mtimeNs = key.ctimeNs = (static_cast<int64_t>(now.tv_sec) - 60) * 1000000000;
  zv::SaveClipScan(folder, key, scan);
  zv::SClipScan back;
  EXPECT_TRUE(zv::LoadClipScan(folder, key, 3, {0x1011}, back));
  EXPECT_FALSE(zv::LoadClipScan(folder, key, 3, {0x1011, 0x1100}, back));
  struct stat st {};
  ASSERT_EQ(::stat(folder.c_str(), &st), 0);
  // Something else standing in an entry's place is not waited on.
  const std::string entry = zv::ClipScanEntryPath(folder, key.path);
  ASSERT_EQ(::unlink(entry.c_str()), 0);
  ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
  EXPECT_FALSE(zv::LoadClipScan(folder, key, 3, {0x1011}, back));
  ::unlink(entry.c_str());
  EXPECT_EQ(st.st_mode & 0777, 0700u) << "the entries name the user's files";

  for (int i = 0; i < 70; ++i) {
    key.path = "/a/" + std::to_string(i) + ".m2ts";
    zv::SaveClipScan(folder, key, scan);
  }
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) entries += e.path().extension() == ".scan";
  EXPECT_LE(entries, 64u);
  EXPECT_GE(entries, 60u);
}

// Serves every unit of a prepared track the way the multiplexer does.
std::vector<std::vector<uint8_t>> Serve(zv::SRipTrack& t) {
  std::vector<std::vector<uint8_t>> out;
  std::vector<uint8_t> packet(192);
  while (zv::SMuxAu* au = t.GetCurrentAu()) {
    uint32_t left = 0, payload = 0;
    while (au->BuildPacketInto(packet.data(), left, payload)) {
      out.push_back(packet);
      if (left == 0) break;
    }
    if (!t.NextAu()) break;
  }
  return out;
}

TEST(RipServe, UnitsComeWholeFromSharedWindowsOrAreReadWhenTheirSpanIsTooLong) {
  TempDir dir;
  const std::string path = dir / "00002.m2ts";
  // 19 MiB: units cross the first window's step. Video everywhere, an
  // audio packet every 7th, and one audio unit whose second packet comes
  // 12,000 packets (over 2 MiB) after its first.
  constexpr uint32_t kCount = 19u * 1024 * 1024 / 192;
  auto pidOf = [](uint32_t n) -> uint16_t { return n % 7 == 3 || n == 40000 + 12000 ? 0x1100 : 0x1011; };
  auto startOf = [](uint32_t n) {
    if (n == 40000 + 12000) return false;
    return n % 7 == 3 ? n % 14 == 3 && (n < 40000 || n > 52000) : n % 300 == 0;
  };
  const std::vector<uint8_t> bytes = MakeClip(kCount, pidOf, startOf);
  WriteBytes(path, bytes);

  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1011, 0x1B));
  tracks.items.push_back(Track(0x1100, 0x81));
  for (auto& t : tracks.items) t->m_bWantKeyPoints = true;
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e)) << e;
  ASSERT_EQ(zv::ScanReusedClip(tracks, clip, {}, &e), zv::kOk) << e;
  const auto& audioUnits = tracks.items[1]->m_units;
  ASSERT_TRUE(std::any_of(audioUnits.begin(), audioUnits.end(), [](const zv::SRipAu& u) {
    return (u.ranges.back().second - u.ranges.front().first + 1) * 192 > zv::CReusedClip::kSpanMax;
  }));
  // Both tracks are served in turn, a unit at a time, as the multiplexer
  // interleaves them; each packet must be the clip's own.
  for (auto& t : tracks.items) {
    t->SetClip(&clip);
    ASSERT_TRUE(t->PrepareForMux({})) << t->LastError();
  }
  std::vector<std::vector<uint8_t>> served[2];
  std::vector<uint8_t> packet(192);
  for (bool busy = true; busy;) {
    busy = false;
    for (int i = 0; i < 2; ++i) {
      zv::SRipTrack& t = *tracks.items[static_cast<size_t>(i)];
      zv::SMuxAu* au = t.GetCurrentAu();
      if (!au) continue;
      busy = true;
      uint32_t left = 0, payload = 0;
      while (au->BuildPacketInto(packet.data(), left, payload)) {
        served[i].push_back(packet);
        if (left == 0) break;
      }
      ASSERT_TRUE(t.NextAu()) << t.LastError();
    }
  }
  for (int i = 0; i < 2; ++i) {
    const uint16_t pid = i == 0 ? 0x1011 : 0x1100;
    size_t k = 0;
    bool started = false;
    for (uint32_t n = 0; n < kCount; ++n) {
      if (pidOf(n) != pid) continue;
      started = started || startOf(n);
      if (!started) continue;
      ASSERT_LT(k, served[i].size());
      const uint8_t* want = bytes.data() + size_t{n} * 192;
      ASSERT_TRUE(std::equal(want + 4, want + 192, served[i][k].begin() + 4)) << "PID " << pid << " packet " << n;
      ++k;
    }
    EXPECT_EQ(k, served[i].size());
  }
}

TEST(RipServe, AClipCutShortWhileServedFailsTheTrack) {
  TempDir dir;
  const std::string path = dir / "00003.m2ts";
  constexpr uint32_t kCount = 20000;
  WriteBytes(path, MakeClip(
                       kCount, [](uint32_t) -> uint16_t { return 0x1011; }, [](uint32_t n) { return n % 100 == 0; }));
  zv::SRipTracks tracks;
  tracks.items.push_back(Track(0x1011, 0x1B));
  zv::CReusedClip clip;
  std::string e;
  ASSERT_TRUE(clip.Open(path, e)) << e;
  ASSERT_EQ(zv::ScanReusedClip(tracks, clip, {}, &e), zv::kOk) << e;
  zv::SRipTrack& t = *tracks.items[0];
  t.SetClip(&clip);
  ASSERT_TRUE(t.PrepareForMux({})) << t.LastError();
  ASSERT_EQ(::truncate(path.c_str(), 192 * 5000), 0);
  // The unit that met the cut may have gone out as zeros; the track then
  // fails, and with it the run, instead of ending as if complete.
  const auto served = Serve(t);
  EXPECT_LE(served.size(), 5100u);
  EXPECT_NE(t.LastError().find("Cannot read the packets"), std::string::npos) << t.LastError();
}

}  // namespace

// Entries whose CRC was made to fit damage: times that go back or jump,
// packets claimed by two streams, counts beyond the clip, units that do not
// begin where the clip's packets of their stream begin, and any entry in a
// folder other users can write. Each is passed over and the clip is read.
TEST(RipScanCache, EntriesThatDoNotFitTheClipAreNotTrusted) {
  zv::SClipScan scan;
  scan.streams.resize(2);
  scan.streams[0].pid = 0x1011;
  scan.streams[0].packetCount = 30;
  scan.streams[1].pid = 0x1100;
  scan.streams[1].packetCount = 10;
  for (uint32_t i = 0; i < 10; ++i) {
    zv::SRipAu v;
    v.pts = v.dts = 1000 + i * 3754;
    v.ranges = {{i * 4, i * 4 + 2}};
    v.size = 3 * 192;
    scan.streams[0].units.push_back(v);
    zv::SRipAu a;
    a.pts = a.dts = 1000 + i * 2880;
    a.ranges = {{i * 4 + 3, i * 4 + 3}};
    a.size = 192;
    scan.streams[1].units.push_back(a);
  }
  const zv::SClipKey key{"/discs/old/BDMV/STREAM/00001.m2ts", 1, 2, 40 * 192, 3, 4};
  zv::SClipScan back;
  auto accepted = [&](const zv::SClipScan& s, uint64_t packets = 40) {
    const std::vector<uint8_t> bytes = zv::EncodeClipScan(key, s);  // a CRC that fits
    return zv::DecodeClipScan(bytes.data(), bytes.size(), key, packets, back);
  };
  ASSERT_TRUE(accepted(scan));
  zv::SClipScan bad = scan;
  bad.streams[0].units[5].dts = 900;  // back in time
  EXPECT_FALSE(accepted(bad));
  bad = scan;
  for (size_t i = 5; i < 10; ++i) bad.streams[1].units[i].dts += 30 * 90000;  // a 30 s jump
  EXPECT_FALSE(accepted(bad));
  bad = scan;
  bad.streams[1].units[2].ranges = {{9, 9}};  // a packet of a video unit
  EXPECT_FALSE(accepted(bad));
  bad = scan;
  bad.streams[1].packetCount = 11;  // 41 packets in a clip of 40
  EXPECT_FALSE(accepted(bad));
  // Graphics may pause for long; its times still may not go back.
  bad = scan;
  bad.streams[1].pid = 0x1200;
  for (size_t i = 5; i < 10; ++i) bad.streams[1].units[i].dts += 30 * 90000;
  EXPECT_TRUE(accepted(bad));
  bad.streams[1].units[7].dts = 0;
  EXPECT_FALSE(accepted(bad));
}

TEST(RipScanCache, EntriesMustBeginWhereTheClipsStreamsDoAndBeTheUsersAlone) {
  EnvCache env;
  TempDir dir;
  const std::string path = dir / "00001.m2ts";
  WriteBytes(path, MakeClip(
                       600, [](uint32_t n) -> uint16_t { return n % 5 == 4 ? 0x1100 : 0x1011; },
                       [](uint32_t n) { return n % 5 == 4 || n % 50 == 0; }));
  auto scan = [&] {
    zv::SRipTracks tracks;
    tracks.items.push_back(Track(0x1011, 0x1B));
    tracks.items.push_back(Track(0x1100, 0x81));
    zv::CReusedClip clip;
    std::string e;
    EXPECT_TRUE(clip.Open(path, e)) << e;
    EXPECT_EQ(zv::ScanReusedClip(tracks, clip, {}, &e), zv::kOk) << e;
    return tracks;
  };
  const zv::SRipTracks first = scan();
  zv::File f;
  ASSERT_TRUE(f.Open(path, zv::File::kRead));
  const std::optional<zv::SClipKey> key = zv::ClipKeyOf(f);
  ASSERT_TRUE(key);
  const std::string entry = zv::ClipScanEntryPath({}, zv::AbsolutePath(path));
  const std::string folder = std::filesystem::path(entry).parent_path();
  auto store = [&](const zv::SClipScan& s) {
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    WriteBytes(entry, zv::EncodeClipScan(*key, s));
    ::chmod(entry.c_str(), 0600);
  };
  zv::SClipScan marked = ScanOf(first);
  marked.streams[1].units[0].pts = 4242;
  store(marked);
  EXPECT_EQ(scan().items[1]->m_units[0].pts, 4242u) << "a good entry is used";

  // The audio units moved one packet on, onto video packets: consistent in
  // itself, but not with the clip.
  zv::SClipScan shifted = marked;
  for (zv::SRipAu& u : shifted.streams[1].units)
    for (auto& r : u.ranges) r.first = r.second = r.first - 1;
  shifted.streams[0].units.clear();
  store(shifted);
  zv::SRipTracks again = scan();
  EXPECT_TRUE(SameUnits(again.items[1]->m_units, first.items[1]->m_units));
  EXPECT_TRUE(SameUnits(again.items[0]->m_units, first.items[0]->m_units));

  // A folder, or an entry, that others can write.
  store(marked);
  ::chmod(folder.c_str(), 0777);
  EXPECT_EQ(scan().items[1]->m_units[0].pts, first.items[1]->m_units[0].pts);
  store(marked);
  ::chmod(entry.c_str(), 0666);
  EXPECT_EQ(scan().items[1]->m_units[0].pts, first.items[1]->m_units[0].pts);
  store(marked);
  EXPECT_EQ(scan().items[1]->m_units[0].pts, 4242u);
}

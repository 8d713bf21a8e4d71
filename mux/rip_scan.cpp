// Reading an existing clip for reuse: its streams, its PMT, its start time
// and the cut of each reused stream into access units.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "mux/rip_track.h"
#include "mux/rip_scan_cache.h"
#include "mux/ts_syntax.h"

namespace zv {

// ---------------------------------------------------------------- the clip file

CReusedClip::Identity CReusedClip::IdentityOf(const std::string& path) {
  Identity id;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return id;
  id.size = static_cast<int64_t>(st.st_size);
  id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

bool CReusedClip::Open(const std::string& path, std::string& error) {
  if (!m_file.Open(path, File::kRead)) {
    error = m_file.Error();
    return false;
  }
  m_length = m_file.Length();
  m_identity = IdentityOf(path);
  if (m_length < 0) {
    error = m_file.Error();
    return false;
  }
  // FNV-1a over the first and the last MiB (the whole of a smaller clip).
  constexpr int64_t kPart = int64_t{1} << 20;
  std::vector<uint8_t> part(static_cast<size_t>(std::min(kPart, m_length)));
  uint64_t h = 0xcbf29ce484222325ull;
  for (const int64_t at : {int64_t{0}, std::max<int64_t>(kPart, m_length - kPart)}) {
    if (at >= m_length) break;
    const size_t n = static_cast<size_t>(std::min<int64_t>(kPart, m_length - at));
    if (ReadAt(at, part.data(), n) != static_cast<int64_t>(n)) {
      error = File::ErrorText("read", path, EIO);
      return false;
    }
    for (size_t i = 0; i < n; ++i) h = (h ^ part[i]) * 0x100000001b3ull;
  }
  m_identity.fingerprint = h != 0 ? h : 1;
  return true;
}

int64_t CReusedClip::ReadAt(int64_t pos, void* buf, size_t n) {
  if (pos < 0 || pos >= m_length) return 0;
  const size_t want = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), m_length - pos));
  // Also called from the scan's read-ahead worker: nothing is recorded.
  if (m_file.ReadExactAtShared(pos, buf, want) != 0) return -1;
  return static_cast<int64_t>(want);
}

std::shared_ptr<CFileView> CReusedClip::Window(int64_t index) {
  auto it = m_windows.find(index);
  if (it != m_windows.end()) return it->second;
  std::shared_ptr<CFileView> view;
  if (m_pendingIndex == index) {
    m_pendingIndex = -1;
    if (m_worker.Wait() > 0) view = std::move(m_pendingView);
    m_pendingView.reset();
  }
  // Window i's bytes: its step and the overlap, as far as the clip goes.
  auto range = [this](int64_t i) {
    const int64_t at = i * static_cast<int64_t>(kWindowStep);
    return std::pair{at, static_cast<size_t>(std::min<int64_t>(kWindowStep + kSpanMax, m_length - at))};
  };
  if (!view) {
    auto v = std::make_shared<CFileView>();
    const auto [pos, n] = range(index);
    if (!v->Map(m_file.Descriptor(), pos, n)) return nullptr;
    view = std::move(v);
  }
  m_windows.emplace(index, view);
  // The tracks keep close together: the window before stays for the one
  // lagging behind, older ones go (a track still serving from one holds it).
  while (!m_windows.empty() && m_windows.begin()->first < index - 1) m_windows.erase(m_windows.begin());
  const int64_t next = index + 1;
  if (next * static_cast<int64_t>(kWindowStep) < m_length && !m_windows.count(next) && !m_worker.Pending()) {
    m_pendingView = std::make_shared<CFileView>();
    m_pendingIndex = next;
    CFileView* v = m_pendingView.get();
    const int fd = m_file.Descriptor();
    const std::pair<int64_t, size_t> r = range(next);
    m_worker.Start([v, fd, r]() -> int64_t { return v->Map(fd, r.first, r.second) ? 1 : -1; });
  }
  return view;
}

CReusedClip::Span CReusedClip::MapSpan(int64_t pos, size_t n) {
  if (n == 0 || n > kSpanMax || pos < 0 || pos > m_length - static_cast<int64_t>(n) || m_file.Descriptor() < 0)
    return {};
  const int64_t index = pos / static_cast<int64_t>(kWindowStep);
  std::shared_ptr<CFileView> view = Window(index);
  if (!view) return {};
  const uint8_t* data = view->Data() + (pos - view->Position());
  return {std::move(view), data};
}

bool CReusedClip::Unchanged(std::string& error) const {
  if (IdentityOf(m_file.Path()).Matches(m_identity)) return true;
  error = "\"" + m_file.Path() + "\" changed while it was being read";
  return false;
}

// ---------------------------------------------------------------- PIDs and headers

bool IsReusablePid(uint32_t pid) {
  return pid == 0x1011 || (pid >= 0x1100 && pid <= 0x111F) || (pid >= 0x1200 && pid <= 0x12FF) ||
         (pid >= 0x1400 && pid <= 0x141F) || pid == 0x1800 || (pid >= 0x1A00 && pid <= 0x1A1F) ||
         (pid >= 0x1B00 && pid <= 0x1B1F);
}

namespace {

constexpr size_t kScanBlock = 6291456;  // 32,768 source packets
constexpr size_t kSmallBlock = 19200;   // 100 source packets

// The PES header at the start of a packet's payload; the header bytes, or
// 0 when there is none.
size_t PesHeaderAt(const uint8_t* ts, size_t tsHeader, PES_HEADER& pes) {
  if (!(ts[1] & 0x40) || !(ts[3] & 0x10) || tsHeader >= 188) return 0;
  const size_t n = Parse(ts + tsHeader, 188 - tsHeader, pes);
  // A header cut off by the packet end parses as nothing.
  return n;
}

// Position of a 3-byte start code followed by `code` in p[0..n), or n.
size_t FindStartCode(const uint8_t* p, size_t n, uint8_t code) {
  for (size_t i = 0; i + 3 < n; ++i)
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && p[i + 3] == code) return i;
  return n;
}

// A random-access H.264 unit starts with an access unit delimiter and a
// sequence parameter set before its first slice.
bool AvcRandomAccess(const uint8_t* p, size_t n) {
  bool aud = false, sps = false;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    const uint8_t type = p[i + 3] & 0x1F;
    if (type == 9) aud = true;
    if (type == 7) sps = true;
    if (type == 1 || type == 5) return aud && sps;
    i += 2;
  }
  return aud && sps;
}

uint32_t ClassifyUnit(uint8_t codingType, const uint8_t* p, size_t n) {
  switch (codingType) {
    case kSctPg:
    case kSctIg: {
      if (n < 1) return 0;
      const uint8_t segment = p[0];
      uint32_t flags = segment;
      if ((segment == 0x16 || segment == 0x18) && n > 10) flags |= uint32_t{static_cast<uint8_t>(p[10] >> 6)} << 8;
      if (segment == 0x16 && n > 13 && p[13] == 0) flags |= kRipNoObjects;
      return flags;
    }
    case kSctMpeg2: return FindStartCode(p, n, 0xB3) < n ? kRipRandomAccess : 0;
    case kSctH264: return AvcRandomAccess(p, n) ? kRipRandomAccess : 0;
    case kSctVc1: return FindStartCode(p, n, 0x0F) < n ? kRipRandomAccess : 0;
    default: return 0;
  }
}

void FinishUnit(STrackAu& s) {
  if (s.au && s.packets != 0) {
    s.au->size = static_cast<int32_t>(s.packets * 192);
    s.stream->units.push_back(std::move(*s.au));
  }
  s.au.reset();
  s.packets = 0;
}

// A subtitle stream ends with the display set of its last clearing
// composition: display sets after it would stay on screen past the clip.
void TrimGraphicsEnd(SRipTrack& t) {
  std::vector<SRipAu>& u = t.m_units;
  std::optional<size_t> end;
  for (size_t i = u.size(); i-- > 0;) {
    const uint32_t segment = u[i].type & 0xFF;
    if (segment == 0x80) end = i;
    if ((segment == 0x16 || segment == 0x18) && (u[i].type & kRipNoObjects)) break;
  }
  if (!end) return;
  for (size_t i = *end + 1; i < u.size(); ++i) t.m_nPacketCount -= static_cast<int32_t>(u[i].PacketCount());
  t.m_nPacketCount = std::max(t.m_nPacketCount, 0);
  u.erase(u.begin() + static_cast<std::ptrdiff_t>(*end + 1), u.end());
}

}  // namespace

// ---------------------------------------------------------------- the scan

namespace {

// Hands the clip's transport packets in sync, from its start, to `take`
// until it returns true; reads 100 source packets at a time, since what is
// sought lies near the start.
template <class F>
void TakeFromStart(CReusedClip& clip, F&& take) {
  std::vector<uint8_t> block(kSmallBlock);
  for (int64_t pos = 0; pos < clip.Length(); pos += static_cast<int64_t>(kSmallBlock)) {
    const int64_t got = clip.ReadAt(pos, block.data(), block.size());
    if (got <= 0) return;
    for (size_t off = 0; off + 192 <= static_cast<size_t>(got); off += 192) {
      const uint8_t* ts = block.data() + off + 4;
      if (ts[0] == 0x47 && take(ts)) return;
    }
  }
}

}  // namespace

std::optional<PMT_SECTION> ReadClipPmt(CReusedClip& clip) {
  std::optional<PMT_SECTION> found;
  std::vector<uint8_t> section;
  bool collecting = false;
  TakeFromStart(clip, [&](const uint8_t* ts) {
    if ((((ts[1] & 0x1F) << 8) | ts[2]) != kPmtPid || !(ts[3] & 0x10)) return false;
    const size_t h = TsHeaderBytes(ts);
    if (h == 0 || h >= 188) return false;
    const uint8_t* p = ts + h;
    size_t n = 188 - h;
    if (ts[1] & 0x40) {
      const size_t pointer = p[0];
      if (pointer + 1 >= n) return false;
      section.assign(p + 1 + pointer, p + n);
      collecting = true;
    } else if (collecting) {
      section.insert(section.end(), p, p + n);
    } else {
      return false;
    }
    if (section.size() < 3) return false;
    const size_t length = 3 + (((section[1] & 0x0F) << 8) | section[2]);
    if (section.size() < length) {
      if (section.size() > 4096) collecting = false;  // not a section a clip carries
      return false;
    }
    PMT_SECTION pmt;
    if (Parse(section.data(), length, pmt) != 0) {
      found = std::move(pmt);
      return true;
    }
    collecting = false;
    return false;
  });
  return found;
}

std::optional<int64_t> ReadClipStartPts(CReusedClip& clip) {
  std::optional<int64_t> found;
  TakeFromStart(clip, [&](const uint8_t* ts) {
    if (!IsReusablePid(((ts[1] & 0x1F) << 8) | ts[2])) return false;
    const size_t h = TsHeaderBytes(ts);
    PES_HEADER pes;
    if (h == 0 || PesHeaderAt(ts, h, pes) == 0 || !pes.PTS) return false;
    found = static_cast<int64_t>(pes.PTS->value);
    return true;
  });
  return found;
}

namespace {

// Whether a key point of an EP map names a unit of the scanned stream (by
// its PTS at the map's 512-tick precision, in the units' 32 bits).
bool AnyKeyPointMatches(const CKpiFolder& keyPoints, const std::vector<SRipAu>& units) {
  std::vector<uint32_t> starts;
  starts.reserve(units.size());
  for (const SRipAu& u : units) starts.push_back(u.pts >> 9);
  std::sort(starts.begin(), starts.end());
  for (const KEY_POINT_INFO& k : keyPoints)
    if (std::binary_search(starts.begin(), starts.end(), static_cast<uint32_t>(k.pts) >> 9)) return true;
  return false;
}

}  // namespace

void AttachKeyPoints(SRipTracks& tracks, const SCpi& epMap) {
  for (const STREAM_PID_ENTRY& e : epMap.entries) {
    for (auto& t : tracks.items) {
      if (t->m_nSourcePid != e.StreamPid || t->m_bSecond) continue;
      if (t->m_bEnabled) t->m_epKeyPoints = e;
      break;
    }
  }
}

namespace {

// Reads the whole clip and cuts the streams of `map` into units. kOk,
// kCancelled or kScanFailed.
int ScanClipPackets(CReusedClip& clip, CTrackAuMap& map, const Progress& progress, std::string& error) {
  const int64_t length = clip.Length();
  // Every packet of the clip is looked up: a table by PID spares the map's
  // search (its entries do not move while it lives).
  std::vector<STrackAu*> byPid(0x2000, nullptr);
  for (auto& [pid, s] : map)
    if (pid < byPid.size() && IsReusablePid(pid)) byPid[pid] = &s;
  // Two blocks: the next is read in the background while one is cut. Not
  // cleared: every byte used is read first.
  const size_t blockSize = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kScanBlock), length));
  std::unique_ptr<uint8_t[]> blocks[2] = {std::make_unique_for_overwrite<uint8_t[]>(blockSize),
                                          std::make_unique_for_overwrite<uint8_t[]>(blockSize)};
  // Declared after the blocks it reads into: it ends first.
  CWorker reader;
  auto readAhead = [&](int slot, int64_t pos) {
    uint8_t* dst = blocks[slot].get();
    CReusedClip* c = &clip;
    reader.Start([c, dst, pos, blockSize] { return c->ReadAt(pos, dst, blockSize); });
  };
  readAhead(0, 0);
  int slot = 0;
  uint32_t number = 0;
  for (int64_t pos = 0; pos < length; pos += static_cast<int64_t>(blockSize), slot ^= 1) {
    if (!progress.Value(static_cast<int32_t>(pos * 100 / length))) return kCancelled;
    const int64_t got = reader.Wait();
    if (got > 0 && pos + static_cast<int64_t>(blockSize) < length) readAhead(slot ^ 1, pos + static_cast<int64_t>(blockSize));
    const uint8_t* const block = blocks[slot].get();
    if (got <= 0) {
      error = got < 0 ? "Cannot read \"" + clip.Path() + "\"" : "\"" + clip.Path() + "\" is shorter than it was";
      return kScanFailed;
    }
    for (size_t off = 0; off + 192 <= static_cast<size_t>(got); off += 192, ++number) {
      const uint8_t* ts = block + off + 4;
      if (ts[0] != 0x47) continue;
      STrackAu* const found = byPid[((ts[1] & 0x1F) << 8) | ts[2]];
      if (!found) continue;
      STrackAu& s = *found;
      SScannedStream& stream = *s.stream;
      ++stream.packetCount;
      if (stream.oversized) continue;
      if (ts[1] & 0x40) {
        const size_t h = TsHeaderBytes(ts);
        PES_HEADER pes;
        const size_t ph = h != 0 ? PesHeaderAt(ts, h, pes) : 0;
        if (ph != 0) {
          FinishUnit(s);
          s.au = std::make_unique<SRipAu>();
          if (pes.PTS) {
            s.au->pts = static_cast<uint32_t>(pes.PTS->value);
            s.au->dts = pes.DTS ? static_cast<uint32_t>(pes.DTS->value) : s.au->pts;
          }
          s.au->type = ClassifyUnit(s.track->GetStreamCodingType(), ts + h + ph, 188 - h - ph);
        }
      }
      // Packets before the stream's first PES start belong to no unit.
      if (!s.au) continue;
      if (s.packets >= kRipMaxUnitPackets) {
        // Nothing of this stream can be served; only its packets are counted.
        stream.oversized = true;
        stream.units.clear();
        s.au.reset();
        s.packets = 0;
        continue;
      }
      std::vector<SRipAu::Range>& runs = s.au->ranges;
      if (!runs.empty() && runs.back().second + 1 == number)
        runs.back().second = number;
      else
        runs.emplace_back(number, number);
      ++s.packets;
    }
  }
  for (auto& [pid, s] : map) FinishUnit(s);
  return kOk;
}

// An entry that passed its CRC and its own checks must also fit the clip
// it names: the first unit, the last and up to 256 spread between of every
// stream begin with a PES start on that stream's PID.
bool EntryAgreesWithClip(CReusedClip& clip, const SClipScan& scan) {
  uint8_t sp[192];
  auto starts = [&](uint16_t pid, const SRipAu& u) {
    if (u.ranges.empty() || clip.ReadAt(int64_t{u.ranges[0].first} * 192, sp, sizeof sp) != 192) return false;
    const uint8_t* ts = sp + 4;
    if (ts[0] != 0x47 || !(ts[1] & 0x40) || (((ts[1] & 0x1F) << 8) | ts[2]) != pid) return false;
    const size_t h = TsHeaderBytes(ts);
    PES_HEADER pes;
    return h != 0 && PesHeaderAt(ts, h, pes) != 0;
  };
  for (const SScannedStream& st : scan.streams) {
    const size_t n = st.units.size();
    if (n == 0) continue;
    const size_t step = std::max<size_t>(1, n / 256);
    for (size_t i = 0; i < n; i += step)
      if (!starts(st.pid, st.units[i])) return false;
    if (!starts(st.pid, st.units[n - 1])) return false;
  }
  return true;
}

}  // namespace

int ScanReusedClip(SRipTracks& tracks, CReusedClip& clip, const Progress& progress, std::string* error) {
  const int64_t length = clip.Length();
  if (length == 0) return kScanEmptyFile;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return kScanFailed;
  };
  // A clip that is not whole source packets was cut short: its last unit
  // would be served incomplete.
  if (length % 192 != 0) return fail("\"" + clip.Path() + "\" is truncated (not whole 192-byte source packets)");
  if (length / 192 > UINT32_MAX) return fail("\"" + clip.Path() + "\" has more source packets than a clip can number");

  bool counting = true;
  for (auto& t : tracks.items)
    if (t->m_nPacketCount != 0) counting = false;
  CTrackAuMap map;
  for (auto& t : tracks.items) {
    t->m_units.clear();
    t->m_units.shrink_to_fit();
    t->m_epKeyPoints.reset();
    map.try_emplace(static_cast<uint32_t>(t->m_nSourcePid), STrackAu{t.get(), nullptr, nullptr, 0});
  }
  if (!progress.Action("Parsing") || !progress.Item(clip.Path()) || !progress.Value(0)) return kCancelled;

  tracks.pmt = ReadClipPmt(clip);
  if (tracks.pmt) {
    for (ESI& e : tracks.pmt->streams) {
      for (auto& t : tracks.items) {
        if (t->m_nSourcePid != e.elementary_PID || t->m_bSecond) continue;
        t->m_pmtEntry = std::move(e);
        break;
      }
    }
    tracks.pmt->streams.clear();
  }

  // Every stream of the tracks is cut, enabled or not, so that the stored
  // scan serves whichever of them a later build enables.
  SClipScan scan;
  std::vector<uint16_t> pids;
  for (auto& [pid, s] : map)
    if (IsReusablePid(pid)) pids.push_back(static_cast<uint16_t>(pid));
  const uint64_t packets = static_cast<uint64_t>(length / 192);
  const std::optional<SClipKey> key = ClipKeyOf(clip.Handle());
  if (!key || key->size != static_cast<uint64_t>(length) || !LoadClipScan({}, *key, packets, pids, scan) ||
      !EntryAgreesWithClip(clip, scan)) {
    scan.streams.clear();
    for (uint16_t pid : pids) scan.streams.push_back(SScannedStream{pid, 0, {}, false});
    for (SScannedStream& st : scan.streams) map[st.pid].stream = &st;
    std::string why;
    const int rc = ScanClipPackets(clip, map, progress, why);
    if (rc == kCancelled) return kCancelled;
    if (rc != kOk) return fail(why);
    if (key) SaveClipScan({}, *key, scan);
  }

  for (auto& [pid, s] : map) {
    SScannedStream* st = scan.Find(static_cast<uint16_t>(pid));
    if (!st) continue;
    if (counting) s.track->m_nPacketCount = static_cast<int32_t>(std::min<uint32_t>(st->packetCount, INT32_MAX));
    if (!s.track->m_bEnabled) continue;
    if (st->oversized) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "stream 0x%04X has an access unit larger than 16 MiB", pid);
      for (auto& t : tracks.items) {
        t->m_units.clear();
        if (counting) t->m_nPacketCount = 0;
      }
      return fail("\"" + clip.Path() + "\": " + buf);
    }
    s.track->m_units = std::move(st->units);
    if (s.track->GetStreamCodingType() == kSctPg) TrimGraphicsEnd(*s.track);
  }
  if (!progress.Value(100)) return kCancelled;
  return kOk;
}

int PrepareReusedClip(SRipTracks& tracks, CReusedClip& clip, const std::string& clpiPath, const Progress& progress,
                      int64_t& basePresentationTime, std::string& error) {
  std::optional<ClipInformationFile> info;
  if (!clpiPath.empty() && std::filesystem::exists(clpiPath)) {
    std::vector<uint8_t> bytes;
    std::string why;
    info.emplace();
    if (CReusedClip::IdentityOf(clpiPath).size > (int64_t{64} << 20) || !ReadWholeFile(clpiPath, bytes, why) ||
        info->Parse(bytes.data(), bytes.size(), &why) != kOk) {
      error = "\"" + clpiPath + "\": " + (why.empty() ? std::string("too large to be clip information") : why);
      return kFailed;
    }
    if (clip.Length() % 192 == 0 && info->NumberOfSourcePackets != static_cast<uint64_t>(clip.Length() / 192)) {
      error = "\"" + clip.Path() + "\" has " + std::to_string(clip.Length() / 192) +
              " source packets but its clip information counts " + std::to_string(info->NumberOfSourcePackets);
      return kFailed;
    }
  }
  const int rc = ScanReusedClip(tracks, clip, progress, &error);
  if (rc == kCancelled) return kCancelled;
  if (rc == kScanEmptyFile) error = "\"" + clip.Path() + "\" is empty";
  if (rc != kOk) return kFailed;
  if (info && !info->atcSequences.empty() && !info->atcSequences.front().stc.empty()) {
    AttachKeyPoints(tracks, info->cpi);
    // Clip information of another clip with the same packet count and PIDs
    // would leave the new clip without an EP map, without a word.
    for (const auto& t : tracks.items) {
      if (!t->m_bEnabled || !t->m_epKeyPoints || t->m_epKeyPoints->keyPoints.empty() || t->m_units.empty()) continue;
      if (!AnyKeyPointMatches(t->m_epKeyPoints->keyPoints, t->m_units)) {
        char pid[16];
        std::snprintf(pid, sizeof pid, "0x%04X", static_cast<unsigned>(t->m_nSourcePid));
        error = "\"" + clpiPath + "\" does not belong to \"" + clip.Path() + "\": no entry point of its EP map for stream " +
                pid + " is a unit of the clip";
        return kFailed;
      }
    }
    basePresentationTime = 2 * int64_t{info->atcSequences.front().stc.front().PresentationStartTime};
  } else if (std::optional<int64_t> start = ReadClipStartPts(clip)) {
    basePresentationTime = *start;
  }
  for (auto& t : tracks.items) t->SetClip(&clip);
  return kOk;
}

// ---------------------------------------------------------------- listing a clip

std::string CompanionClipInfoPath(const std::string& clipPath) {
  namespace fs = std::filesystem;
  const fs::path p(clipPath);
  const std::string name = p.stem().string() + ".clpi";
  const fs::path dir = p.parent_path();
  const fs::path beside = dir.parent_path() / "CLIPINF" / name;
  std::error_code ec;
  if (fs::exists(beside, ec)) return beside.string();
  return (dir / name).string();
}

int ListClipStreams(const std::string& clipPath, SClipListing& out, std::string& error) {
  out = SClipListing{};
  out.clipPath = clipPath;
  out.clpiPath = CompanionClipInfoPath(clipPath);
  const std::string stem = std::filesystem::path(clipPath).stem().string();
  if (stem.size() == 5 && std::all_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; }))
    out.clipNumber = std::stoi(stem);

  CReusedClip clip;
  if (!clip.Open(clipPath, error)) return kFailed;
  out.identity = clip.OpenedIdentity();
  if (clip.Length() == 0 || clip.Length() % 192 != 0) {
    error = "\"" + clipPath + "\" is " + (clip.Length() == 0 ? "empty" : "truncated (not whole 192-byte source packets)");
    return kFailed;
  }
  // Clip information files are small; a huge one is not one.
  const CReusedClip::Identity clpiId = CReusedClip::IdentityOf(out.clpiPath);
  if (clpiId.size > (int64_t{64} << 20)) {
    error = "\"" + out.clpiPath + "\" is too large to be clip information";
    return kFailed;
  }
  std::vector<uint8_t> bytes;
  std::string readError;
  if (!ReadWholeFile(out.clpiPath, bytes, readError)) {
    error = "\"" + clipPath + "\" has no clip information file to reuse it with: " + readError;
    return kFailed;
  }
  std::string parseError;
  if (out.info.Parse(bytes.data(), bytes.size(), &parseError) != kOk) {
    error = "\"" + out.clpiPath + "\": " + parseError;
    return kFailed;
  }
  const uint64_t packets = static_cast<uint64_t>(clip.Length() / 192);
  if (out.info.NumberOfSourcePackets != packets) {
    error = "\"" + clipPath + "\" has " + std::to_string(packets) + " source packets but its clip information \"" +
            out.clpiPath + "\" counts " + std::to_string(out.info.NumberOfSourcePackets);
    return kFailed;
  }
  const std::optional<PMT_SECTION> pmt = ReadClipPmt(clip);
  if (!pmt) {
    error = "\"" + clipPath + "\" has no program map table";
    return kFailed;
  }
  for (const SProgramSequence& seq : out.info.programInfo.sequences) {
    for (const STREAM_INFO& si : seq.streams) {
      if (std::any_of(out.streams.begin(), out.streams.end(), [&](const SClipStream& s) { return s.pid == si.StreamPID; }))
        continue;
      SClipStream s;
      s.pid = si.StreamPID;
      s.info = si;
      for (const ESI& e : pmt->streams)
        if (e.elementary_PID == si.StreamPID) {
          s.inPmt = true;
          if (e.stream_type != si.coding.StreamCodingType) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "stream 0x%04X is of type 0x%02X in the clip but 0x%02X in its clip information",
                          si.StreamPID, e.stream_type, si.coding.StreamCodingType);
            error = "\"" + clipPath + "\": " + buf;
            return kFailed;
          }
        }
      if (!s.inPmt || !IsReusablePid(s.pid)) {
        char buf[96];
        std::snprintf(buf, sizeof buf,
                      s.inPmt ? "stream 0x%04X is not on a PID a disc clip carries streams on"
                              : "stream 0x%04X of the clip information is not in the clip",
                      si.StreamPID);
        error = "\"" + clipPath + "\": " + buf;
        return kFailed;
      }
      out.streams.push_back(std::move(s));
    }
  }
  if (out.streams.empty()) {
    error = "\"" + clipPath + "\" has no stream to reuse";
    return kFailed;
  }
  return kOk;
}

std::unique_ptr<SRipTrack> MakeRipTrack(const SClipListing& clip, const SClipStream& s) {
  auto t = std::make_unique<SRipTrack>();
  t->m_nClipNumber = clip.clipNumber;
  t->m_nSourcePid = s.pid;
  t->m_nPid = s.pid;
  t->m_codingInfo = s.info;
  t->m_clipIdentity = clip.identity;
  const int lang = LanguageIndexOf(s.info.coding.Language);
  t->m_nLanguage = lang >= 0 ? lang : DefaultLanguageIndex();
  t->m_codingInfo.coding.Language = LanguageCodeAt(t->m_nLanguage);
  // Secondary streams keep their place on secondary PIDs.
  t->m_bPrimary = !((s.pid >= 0x1A00 && s.pid <= 0x1A1F) || (s.pid >= 0x1B00 && s.pid <= 0x1B1F));
  const StreamKind c = StreamKindOf(s.info.coding.StreamCodingType);
  if (c == StreamKind::kPg || c == StreamKind::kIg) {
    // Graphics are drawn on the plane of the clip's main video.
    for (const SClipStream& v : clip.streams) {
      if (StreamKindOf(v.info.coding.StreamCodingType) != StreamKind::kVideo) continue;
      SRipTrack probe;
      probe.m_codingInfo = v.info;
      STrackVideoFormat f;
      if (probe.GetVideoDescriptor(f)) t->m_graphicsVideo = f;
      break;
    }
    if (!t->m_graphicsVideo) t->m_graphicsVideo = STrackVideoFormat{1920, 1080, 1};
  }
  return t;
}

}  // namespace zv

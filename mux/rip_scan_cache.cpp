#include "mux/rip_scan_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "platform/archive_io.h"
#include "platform/paths.h"
#include "streams/sif_data.h"

namespace zv {

namespace {

constexpr char kMagic[4] = {'Z', 'V', 'R', 'S'};
constexpr uint32_t kVersion = 1;
// A clip changed this recently may change again within the same time stamp.
constexpr int64_t kSettledNs = int64_t{3} * 1000000000;
// Entries kept; the least recently written go first.
constexpr size_t kMaxEntries = 64;

void PutVar(ArchiveOut& out, uint64_t v) {
  while (v >= 0x80) {
    out.U8(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.U8(static_cast<uint8_t>(v));
}

uint64_t GetVar(ArchiveIn& in) {
  uint64_t v = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    const uint8_t b = in.U8();
    v |= uint64_t{b & 0x7Fu} << shift;
    if (!(b & 0x80)) return v;
  }
  throw ArchiveError("varint too long");
}

void PutU64(ArchiveOut& out, uint64_t v) {
  out.U32(static_cast<uint32_t>(v));
  out.U32(static_cast<uint32_t>(v >> 32));
}

uint64_t GetU64(ArchiveIn& in) {
  const uint64_t lo = in.U32();
  return lo | uint64_t{in.U32()} << 32;
}

void PutKey(ArchiveOut& out, const SClipKey& key) {
  out.U32(static_cast<uint32_t>(key.path.size()));
  out.Raw(key.path.data(), key.path.size());
  PutU64(out, key.device);
  PutU64(out, key.inode);
  PutU64(out, key.size);
  PutU64(out, static_cast<uint64_t>(key.mtimeNs));
  PutU64(out, static_cast<uint64_t>(key.ctimeNs));
}

bool SameKey(ArchiveIn& in, const SClipKey& key) {
  const uint32_t n = in.U32();
  if (n != key.path.size() || n > in.Remaining()) return false;
  std::string path(n, '\0');
  in.Raw(path.data(), n);
  return path == key.path && GetU64(in) == key.device && GetU64(in) == key.inode && GetU64(in) == key.size &&
         GetU64(in) == static_cast<uint64_t>(key.mtimeNs) && GetU64(in) == static_cast<uint64_t>(key.ctimeNs);
}

std::string EntryPath(const std::string& folder, const std::string& clipPath) {
  // FNV-1a of the path names the entry; the entry holds the path itself.
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : clipPath) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  char name[32];
  std::snprintf(name, sizeof name, "%016llx.scan", static_cast<unsigned long long>(h));
  return folder + "/" + name;
}

// The folder of the entries: below `folder`, or the user's cache folder.
std::string EntryFolder(const std::string& folder) {
  if (!folder.empty()) return folder;
  const std::string base = UserCacheFolder();
  return base.empty() ? std::string() : base + "/reuse";
}

void PruneEntries(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<std::pair<fs::file_time_type, fs::path>> entries;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() != ".scan") continue;
    std::error_code tec;
    const fs::file_time_type t = e.last_write_time(tec);
    if (!tec) entries.emplace_back(t, e.path());
  }
  if (entries.size() <= kMaxEntries) return;
  std::sort(entries.begin(), entries.end());
  for (size_t i = 0; i + kMaxEntries < entries.size(); ++i) fs::remove(entries[i].second, ec);
}

// Decoding times of a stream's units never go back (a 32-bit difference,
// so a wrap is no step back), and video and audio have no gap longer than
// any real stream: a damaged time would otherwise stretch the clip built
// from the entry.
bool TimesInOrder(const SScannedStream& s) {
  constexpr int64_t kMaxGap = 10 * 90000;
  const bool continuous = s.pid >= 0x1011 && s.pid < 0x1200;
  for (size_t i = 1; i < s.units.size(); ++i) {
    const int64_t step = static_cast<int32_t>(s.units[i].dts - s.units[i - 1].dts);
    if (step < 0 || (continuous && step > kMaxGap)) return false;
  }
  return true;
}

// Every packet belongs to one stream: the streams' counts fit the clip and
// no packet is in the units of two streams.
bool PacketsAddUp(const SClipScan& scan, uint64_t clipPackets) {
  uint64_t total = 0;
  std::vector<SRipAu::Range> all;
  for (const SScannedStream& s : scan.streams) {
    total += s.packetCount;
    for (const SRipAu& u : s.units) all.insert(all.end(), u.ranges.begin(), u.ranges.end());
  }
  if (total > clipPackets) return false;
  std::sort(all.begin(), all.end());
  for (size_t i = 1; i < all.size(); ++i)
    if (all[i].first <= all[i - 1].second) return false;
  return true;
}

// A folder or entry that another user can write could hold anything with a
// correct CRC: only the user's own, writable by the user alone, is used.
bool PrivateToUser(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

}  // namespace

const SScannedStream* SClipScan::Find(uint16_t pid) const {
  auto it = std::lower_bound(streams.begin(), streams.end(), pid,
                             [](const SScannedStream& s, uint16_t p) { return s.pid < p; });
  return it != streams.end() && it->pid == pid ? &*it : nullptr;
}

std::string ClipScanEntryPath(const std::string& folder, const std::string& clipPath) {
  const std::string dir = EntryFolder(folder);
  return dir.empty() ? std::string() : EntryPath(dir, clipPath);
}

std::optional<SClipKey> ClipKeyOf(const File& file) {
  struct stat st {};
  if (file.Descriptor() < 0 || ::fstat(file.Descriptor(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  SClipKey key;
  key.path = AbsolutePath(file.Path());
  if (key.path.empty() || key.path[0] != '/') return std::nullopt;
  key.device = static_cast<uint64_t>(st.st_dev);
  key.inode = static_cast<uint64_t>(st.st_ino);
  key.size = static_cast<uint64_t>(st.st_size);
  key.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  key.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return key;
}

// Little-endian: magic, version, the key, the stream count, then per
// stream its PID, packet count, oversized flag and units; per unit PTS,
// DTS, type and its packet runs as variable-length numbers (the gap after
// the previous run, the run's length less one); a CRC of all before it.
std::vector<uint8_t> EncodeClipScan(const SClipKey& key, const SClipScan& scan) {
  ArchiveOut out;
  out.Raw(kMagic, 4);
  out.U32(kVersion);
  PutKey(out, key);
  out.U32(static_cast<uint32_t>(scan.streams.size()));
  for (const SScannedStream& s : scan.streams) {
    out.U16(s.pid);
    out.U32(s.packetCount);
    out.U8(s.oversized ? 1 : 0);
    out.U32(static_cast<uint32_t>(s.units.size()));
    uint64_t next = 0;  // the packet after the previous run
    for (const SRipAu& u : s.units) {
      out.U32(u.pts);
      out.U32(u.dts);
      out.U32(u.type);
      PutVar(out, u.ranges.size());
      for (const SRipAu::Range& r : u.ranges) {
        PutVar(out, r.first - next);
        PutVar(out, r.second - r.first);
        next = uint64_t{r.second} + 1;
      }
    }
  }
  std::vector<uint8_t>& bytes = out.Bytes();
  const uint32_t crc = SifCrc32(bytes.data(), bytes.size());
  out.U32(crc);
  return std::move(out.Bytes());
}

bool DecodeClipScan(const uint8_t* data, size_t n, const SClipKey& key, uint64_t clipPackets, SClipScan& out) {
  out = SClipScan{};
  if (n < 12 || std::memcmp(data, kMagic, 4) != 0) return false;
  ArchiveIn crcIn(data + n - 4, 4);
  if (crcIn.U32() != SifCrc32(data, n - 4)) return false;
  try {
    ArchiveIn in(data + 4, n - 8);
    if (in.U32() != kVersion || !SameKey(in, key)) return false;
    const uint32_t count = in.U32();
    if (count > 0x2000 || count > in.Remaining() / 11) return false;
    out.streams.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      SScannedStream& s = out.streams[i];
      s.pid = in.U16();
      if (!IsReusablePid(s.pid) || (i > 0 && s.pid <= out.streams[i - 1].pid)) return false;
      s.packetCount = in.U32();
      s.oversized = in.U8() != 0;
      const uint32_t units = in.U32();
      // A unit takes at least 15 bytes: no count can claim more than there is.
      if (units > in.Remaining() / 15 || s.packetCount > clipPackets) return false;
      s.units.resize(units);
      uint64_t next = 0, inUnits = 0;
      for (SRipAu& u : s.units) {
        u.pts = in.U32();
        u.dts = in.U32();
        u.type = in.U32();
        const uint64_t runs = GetVar(in);
        if (runs == 0 || runs > in.Remaining() / 2) return false;
        u.ranges.resize(runs);
        uint64_t packets = 0;
        for (SRipAu::Range& r : u.ranges) {
          const uint64_t first = next + GetVar(in);
          const uint64_t last = first + GetVar(in);
          if (last >= clipPackets || last < first) return false;
          r = {static_cast<uint32_t>(first), static_cast<uint32_t>(last)};
          packets += last - first + 1;
          next = last + 1;
        }
        if (packets > kRipMaxUnitPackets) return false;
        u.size = static_cast<int32_t>(packets * 192);
        inUnits += packets;
      }
      if (inUnits > s.packetCount) return false;
      if (!TimesInOrder(s)) return false;
    }
    return in.AtEnd() && PacketsAddUp(out, clipPackets);
  } catch (const ArchiveError&) {
    return false;
  }
}

bool LoadClipScan(const std::string& folder, const SClipKey& key, uint64_t clipPackets,
                  const std::vector<uint16_t>& pids, SClipScan& out) {
  const std::string path = ClipScanEntryPath(folder, key.path);
  if (path.empty() || !PrivateToUser(EntryFolder(folder))) return false;
  // Only a regular file of a sensible size is read: whatever else stands
  // there (a pipe, a device) is passed over without waiting on it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  std::vector<uint8_t> bytes;
  // An entry far larger than the clip's packet numbers could need is not one.
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0 &&
            st.st_size >= 0 &&
            static_cast<uint64_t>(st.st_size) <= std::min<uint64_t>(clipPackets * 40 + (1u << 20), uint64_t{1} << 30);
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    for (size_t at = 0; ok && at < bytes.size();) {
      const ssize_t n = ::pread(fd, bytes.data() + at, bytes.size() - at, static_cast<off_t>(at));
      if (n > 0)
        at += static_cast<size_t>(n);
      else if (n == 0 || errno != EINTR)
        ok = false;
    }
  }
  ::close(fd);
  if (!ok || !DecodeClipScan(bytes.data(), bytes.size(), key, clipPackets, out)) return false;
  return std::all_of(pids.begin(), pids.end(), [&](uint16_t pid) { return out.Find(pid) != nullptr; });
}

void SaveClipScan(const std::string& folder, const SClipKey& key, const SClipScan& scan) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const int64_t nowNs = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  if (nowNs - std::max(key.mtimeNs, key.ctimeNs) < kSettledNs) return;
  const std::string dir = EntryFolder(folder);
  if (dir.empty()) return;
  // The entries name the user's files: the folder is the user's alone.
  if (!MakePrivateFolders(dir) || !PrivateToUser(dir)) return;
  const std::vector<uint8_t> bytes = EncodeClipScan(key, scan);
  // Renamed into place whole, but not synced: waiting for the disk (which
  // may be busy with the clip just written) would cost more than a lost
  // entry, and a damaged one fails its CRC.
  const std::string path = EntryPath(dir, key.path);
  std::string error;
  RemoveDeadTempsBeside(path);
  const std::string tmp = CreateTempBeside(path, error);
  if (tmp.empty()) return;
  // Writable by the user alone, or the next load refuses it.
  ::chmod(tmp.c_str(), 0600);
  File f;
  bool ok = f.Open(tmp, File::kReadWrite) && f.Write(bytes.data(), bytes.size());
  ok = f.Close() && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return;
  }
  PruneEntries(dir);
}

}  // namespace zv

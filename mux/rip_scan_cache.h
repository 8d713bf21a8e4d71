// What a scan of an existing clip found, kept in the user's cache folder:
// building again with the same clip takes its streams' units from there
// instead of reading the whole clip a second time (the run reads it anyway).
// An entry names the clip by path and by the identity of the file (device,
// inode, size, modification and change times); any difference, and any
// damage (a CRC covers the entry), makes the scan read the clip again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mux/rip_track.h"

namespace zv {

// One stream of the clip as the scan cut it.
struct SScannedStream {
  uint16_t pid = 0;
  uint32_t packetCount = 0;  // every packet on the PID
  std::vector<SRipAu> units;
  bool oversized = false;  // a unit too large to serve; its units are dropped
};

struct SClipScan {
  std::vector<SScannedStream> streams;  // by PID, ascending
  const SScannedStream* Find(uint16_t pid) const;
  SScannedStream* Find(uint16_t pid) { return const_cast<SScannedStream*>(std::as_const(*this).Find(pid)); }
};

struct SClipKey {
  std::string path;  // absolute
  uint64_t device = 0, inode = 0, size = 0;
  int64_t mtimeNs = 0, ctimeNs = 0;
};
// The key of the clip open on `file`; none when it cannot be had (no
// regular file, no absolute path).
std::optional<SClipKey> ClipKeyOf(const File& file);

// The stored form of a scan, and reading it back. Decoding checks every
// count against the bytes it has and every packet number against
// `clipPackets`; false on any mismatch with `key` or damage.
std::vector<uint8_t> EncodeClipScan(const SClipKey& key, const SClipScan& scan);
bool DecodeClipScan(const uint8_t* data, size_t n, const SClipKey& key, uint64_t clipPackets, SClipScan& out);

// The file of the entry of the clip at `clipPath` (absolute) in `folder`
// (empty: "reuse" in the user's cache folder); empty without a folder.
std::string ClipScanEntryPath(const std::string& folder, const std::string& clipPath);
// The entry of `key` in `folder`, when it holds every PID of `pids`.
bool LoadClipScan(const std::string& folder, const SClipKey& key, uint64_t clipPackets,
                  const std::vector<uint16_t>& pids, SClipScan& out);
// Best effort: a cache that cannot be written only costs the next build
// its time. A clip changed in the last seconds is not stored, since a
// change within the file system's time resolution would go unnoticed.
void SaveClipScan(const std::string& folder, const SClipKey& key, const SClipScan& scan);

}  // namespace zv

// Fuzz target: the stored scan of a reused clip, read back from the cache
// folder. The harness writes the header and the key an entry must carry and
// appends a matching CRC, so the fuzzed bytes reach the stream and unit
// readers. An accepted entry must name only packets of the clip and read
// back the same once stored again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mux/rip_scan_cache.h"
#include "streams/sif_data.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr uint64_t kPackets = 5000;
  const zv::SClipKey key{"/clips/00001.m2ts", 1, 2, kPackets * 192, 3, 4};
  // The encoded empty scan is header, key, a zero stream count and the CRC.
  std::vector<uint8_t> bytes = zv::EncodeClipScan(key, zv::SClipScan{});
  bytes.resize(bytes.size() - 8);
  bytes.insert(bytes.end(), data, data + size);
  const uint32_t crc = zv::SifCrc32(bytes.data(), bytes.size());
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(crc >> (8 * i)));

  zv::SClipScan scan;
  if (!zv::DecodeClipScan(bytes.data(), bytes.size(), key, kPackets, scan)) return 0;
  for (const zv::SScannedStream& s : scan.streams) {
    for (const zv::SRipAu& u : s.units) {
      if (u.ranges.empty() || u.size != static_cast<int32_t>(u.PacketCount() * 192)) std::abort();
      for (const zv::SRipAu::Range& r : u.ranges)
        if (r.first > r.second || r.second >= kPackets) std::abort();
    }
  }
  zv::SClipScan again;
  const std::vector<uint8_t> re = zv::EncodeClipScan(key, scan);
  if (!zv::DecodeClipScan(re.data(), re.size(), key, kPackets, again) || again.streams.size() != scan.streams.size())
    std::abort();
  return 0;
}

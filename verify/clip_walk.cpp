#include "verify/clip_walk.h"

#include <algorithm>

#include "mux/ts_dump.h"
#include "mux/ts_syntax.h"
#include "platform/file.h"

namespace zv::check {

bool WalkSourcePackets(const std::string& path, const std::function<bool(const uint8_t*, uint32_t)>& packet,
                       const std::function<bool(int64_t)>& bytesDone, std::string& error, bool* cancelled) {
  if (cancelled) *cancelled = false;
  File f;
  if (!f.Open(path, File::kRead)) {
    error = f.Error();
    return false;
  }
  constexpr size_t kBlock = kSourcePacketSize * 2048;  // whole packets, about 384 KiB
  std::vector<uint8_t> buf(kBlock);
  int64_t done = 0;
  uint32_t spn = 0;
  for (;;) {
    size_t have = 0;
    while (have < kBlock) {
      const int64_t n = f.Read(buf.data() + have, kBlock - have);
      if (n < 0) {
        error = f.Error();
        return false;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
    for (size_t at = 0; at + kSourcePacketSize <= have; at += kSourcePacketSize)
      if (!packet(buf.data() + at, spn++)) return true;
    done += static_cast<int64_t>(have);
    if (bytesDone && !bytesDone(done)) {
      if (cancelled) *cancelled = true;
      return false;
    }
    if (have < kBlock) return true;
  }
}

bool JoinPesPayloads(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  std::vector<uint8_t> pes;
  auto flush = [&] {
    PES_HEADER h;
    const size_t n = pes.empty() ? 0 : Parse(pes.data(), pes.size(), h);
    if (n > 0 && n <= pes.size()) {
      // A PES packet length, when given, bounds the payload.
      size_t end = pes.size();
      if (h.PES_packet_length != 0) end = std::min(end, size_t{6} + h.PES_packet_length);
      if (end > n) out.insert(out.end(), pes.begin() + static_cast<std::ptrdiff_t>(n), pes.begin() + static_cast<std::ptrdiff_t>(end));
    }
    pes.clear();
  };
  bool started = false;
  const bool ok = WalkSourcePackets(
      path,
      [&](const uint8_t* sp, uint32_t) {
        const uint8_t* ts = sp + 4;
        if (ts[0] != 0x47) return true;
        if (((ts[1] & 0x1F) << 8 | ts[2]) != pid || !(ts[3] & 0x10)) return true;
        const size_t h = TsHeaderBytes(ts);
        if (h == 0) return true;
        if (ts[1] & 0x40) {
          flush();
          started = true;
        }
        if (started) pes.insert(pes.end(), ts + h, ts + kTsPacketSize);
        return true;
      },
      {}, error);
  flush();
  return ok;
}

}  // namespace zv::check

#include "verify/clip_walk.h"

#include <algorithm>
#include <functional>

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

namespace {

// Calls `pes(header, payload, size)` with every whole PES packet of `pid`.
bool EachPes(const std::string& path, uint16_t pid,
             const std::function<void(const PES_HEADER&, const uint8_t*, size_t)>& pes, std::string& error) {
  std::vector<uint8_t> bytes;
  auto flush = [&] {
    PES_HEADER h;
    const size_t n = bytes.empty() ? 0 : Parse(bytes.data(), bytes.size(), h);
    if (n > 0 && n <= bytes.size()) {
      // A PES packet length, when given, bounds the payload.
      size_t end = bytes.size();
      if (h.PES_packet_length != 0) end = std::min(end, size_t{6} + h.PES_packet_length);
      if (end > n) pes(h, bytes.data() + n, end - n);
    }
    bytes.clear();
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
        if (started) bytes.insert(bytes.end(), ts + h, ts + kTsPacketSize);
        return true;
      },
      {}, error);
  flush();
  return ok;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace

bool JoinPesPayloads(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  return EachPes(
      path, pid, [&](const PES_HEADER&, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }, error);
}

bool JoinGraphicsSegments(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  return EachPes(
      path, pid,
      [&](const PES_HEADER& h, const uint8_t* p, size_t n) {
        const auto pts = static_cast<uint32_t>(h.PTS ? h.PTS->value : 0);
        const auto dts = static_cast<uint32_t>(h.DTS ? h.DTS->value : 0);
        size_t at = 0;
        while (at < n) {
          // Segment type and 16-bit length; what does not fit goes on whole.
          const size_t len = at + 3 <= n ? 3 + (size_t{p[at + 1]} << 8 | p[at + 2]) : n - at;
          const size_t take = std::min(len, n - at);
          out.push_back('I');
          out.push_back('G');
          Put32(out, pts);
          Put32(out, dts);
          out.insert(out.end(), p + at, p + at + take);
          at += take;
        }
      },
      error);
}

}  // namespace zv::check

#include "verify/clip_walk.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "mux/ts_dump.h"
#include "mux/ts_syntax.h"
#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/worker.h"

namespace zv::check {

namespace {

// Whole packets read with read(2): what cannot be mapped (a pipe, a device).
bool ReadSourcePackets(File& f, const std::function<bool(const uint8_t*, size_t, uint32_t)>& block,
                       const std::function<bool(int64_t)>& bytesDone, std::string& error, bool* cancelled) {
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
    const size_t whole = have / kSourcePacketSize * kSourcePacketSize;
    if (whole > 0 && !block(buf.data(), whole, spn)) return true;
    spn += static_cast<uint32_t>(whole / kSourcePacketSize);
    done += static_cast<int64_t>(have);
    if (bytesDone && !bytesDone(done)) {
      if (cancelled) *cancelled = true;
      return false;
    }
    if (have < kBlock) return true;
  }
}

// Closes a descriptor from OpenForMapping.
struct SDescriptor {
  int fd;
  ~SDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

bool WalkPacketBlocks(const std::string& path, const std::function<bool(const uint8_t*, size_t, uint32_t)>& block,
                      const std::function<bool(int64_t)>& bytesDone, std::string& error, bool* cancelled) {
  if (cancelled) *cancelled = false;
  int64_t size = -1;
  const SDescriptor d{OpenForMapping(path, size)};
  if (d.fd < 0 || size < 0) {
    File f;
    if (!f.Open(path, File::kRead)) {
      error = f.Error();
      return false;
    }
    return ReadSourcePackets(f, block, bytesDone, error, cancelled);
  }
  // Mapped windows of whole packets and whole pages. The worker unmaps the
  // window walked before and maps the next one on the other core while this
  // one is walked: no copies, and the memory held stays two windows for a
  // clip of any length. The page tables are not filled by the kernel page
  // by page: faults map the page cache many pages at a time, at a fraction
  // of the cost, so the worker takes them by reading the window.
  constexpr size_t kWindow = kSourcePacketSize * 4096 * 4;  // 3 MiB
  const int64_t whole = size / static_cast<int64_t>(kSourcePacketSize) * static_cast<int64_t>(kSourcePacketSize);
  auto windowBytes = [&](int64_t pos) { return static_cast<size_t>(std::min<int64_t>(kWindow, whole - pos)); };
  auto current = std::make_unique<CFileView>();
  auto next = std::make_unique<CFileView>();
  CWorker ahead;
  uint32_t spn = 0;
  bool mapped = false;  // `current` holds the window at `pos`
  for (int64_t pos = 0; pos < whole; pos += static_cast<int64_t>(kWindow)) {
    if (ahead.Pending()) {
      mapped = ahead.Wait() > 0;
      std::swap(current, next);
    }
    if (!mapped && !current->Map(d.fd, pos, windowBytes(pos), CFileView::kNoPopulate)) {
      error = "cannot map " + path + ": " + std::strerror(errno);
      return false;
    }
    const int64_t after = pos + static_cast<int64_t>(kWindow);
    if (after < whole) {
      CFileView* v = next.get();
      const int fd = d.fd;
      const size_t n = windowBytes(after);
      ahead.Start([v, fd, after, n]() -> int64_t {
        if (!v->Map(fd, after, n, CFileView::kNoPopulate)) return -1;
        // One read every 16 pages takes the faults here, not in the walk (each
        // fault maps at least that many); more reads only add cache misses.
        const volatile uint8_t* bytes = v->Data();
        for (size_t at = 0; at < n; at += 4096 * 16) (void)bytes[at];
        return 1;
      });
    }
    mapped = false;
    const uint8_t* p = current->Data();
    const size_t n = current->Size();
    const bool stop = n > 0 && !block(p, n, spn);
    spn += static_cast<uint32_t>(n / kSourcePacketSize);
    // Bytes past a cut read as zeros: what they gave is not trusted.
    if (current->Shortened()) {
      error = path + " was shortened while it was read";
      return false;
    }
    if (stop) return true;
    const int64_t done = pos + static_cast<int64_t>(n) == whole ? size : pos + static_cast<int64_t>(n);
    if (bytesDone && !bytesDone(done)) {
      if (cancelled) *cancelled = true;
      return false;
    }
  }
  if (whole == 0 && bytesDone && !bytesDone(size)) {
    if (cancelled) *cancelled = true;
    return false;
  }
  return true;
}

namespace {

}  // namespace

bool EachPesPacket(const std::string& path, uint16_t pid,
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

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

}  // namespace

bool JoinPesPayloads(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  return EachPesPacket(
      path, pid, [&](const PES_HEADER&, const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }, error);
}

bool JoinGraphicsSegments(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  return EachPesPacket(
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

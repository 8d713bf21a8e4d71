// Reading a clip's source packets in order, in large blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mux/ts_dump.h"
#include "mux/ts_syntax.h"
#include "platform/progress.h"

namespace zv::check {

// Calls `block(p, n, spn)` with the whole 192-byte source packets of `path`
// in blocks, in order (`n` bytes, a multiple of 192; `spn` the number of the
// block's first packet; a trailing partial packet is not passed); `block`
// returns false to stop. `bytesDone` (may be empty) hears the file offset
// after each block and returns false to cancel. False with `error` when the
// file cannot be read; `cancelled` says whether a false came from
// `bytesDone`.
bool WalkPacketBlocks(const std::string& path, const std::function<bool(const uint8_t*, size_t, uint32_t)>& block,
                      const std::function<bool(int64_t)>& bytesDone, std::string& error, bool* cancelled = nullptr);

// The same packet by packet: `packet(p, spn)` with each source packet,
// returning false to stop. A template, so that a walk's per-packet work is
// compiled into its loop rather than called through a function object.
template <class F>
bool WalkSourcePackets(const std::string& path, F&& packet, const std::function<bool(int64_t)>& bytesDone,
                       std::string& error, bool* cancelled = nullptr) {
  return WalkPacketBlocks(
      path,
      [&packet](const uint8_t* p, size_t n, uint32_t spn) {
        // Packets a few ahead are asked for early: the walk reads only their
        // headers, too little for the hardware to see a stream across pages.
        constexpr size_t kAhead = kSourcePacketSize * 16;
        for (size_t at = 0; at < n; at += kSourcePacketSize, ++spn) {
          if (at + kAhead < n) __builtin_prefetch(p + at + kAhead);
          if (!packet(p + at, spn)) return false;
        }
        return true;
      },
      bytesDone, error, cancelled);
}

// Calls `pes(header, payload, size)` with every whole PES packet of `pid`
// in stream order, the payload bounded by PES_packet_length when given.
bool EachPesPacket(const std::string& path, uint16_t pid,
                   const std::function<void(const PES_HEADER&, const uint8_t*, size_t)>& pes, std::string& error);

// The PES payloads of `pid`, joined in stream order (PES headers dropped):
// the raw segment stream of a graphics PID. False with `error`.
bool JoinPesPayloads(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error);

// The segments of the graphics PID `pid` in the headed stream-file framing,
// each after a 10-byte header with the PTS and DTS of the PES packet that
// carried it, so the segment readers see the stream's decoder times. A PES
// payload that is not whole segments is passed on as it is, for the
// segment reader to refuse.
bool JoinGraphicsSegments(const std::string& path, uint16_t pid, std::vector<uint8_t>& out, std::string& error);

}  // namespace zv::check

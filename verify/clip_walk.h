// Reading a clip's source packets in order, in large blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "mux/ts_syntax.h"
#include "platform/progress.h"

namespace zv::check {

// Calls `packet(p, spn)` with each whole 192-byte source packet of `path`
// (a trailing partial packet is not passed); `packet` returns false to stop.
// `bytesDone` (may be empty) hears the file offset after each block and
// returns false to cancel. False with `error` when the file cannot be read;
// `cancelled` says whether a false came from `bytesDone`.
bool WalkSourcePackets(const std::string& path, const std::function<bool(const uint8_t*, uint32_t)>& packet,
                       const std::function<bool(int64_t)>& bytesDone, std::string& error, bool* cancelled = nullptr);

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

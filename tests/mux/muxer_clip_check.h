// An independent reader of written clips and a slow re-simulation of the
// decoder buffers, used to check the multiplexer's schedule. It parses the
// 192-byte packets by hand (not with the transport-syntax parsers) and keeps
// the buffer constants of the format in its own table.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace zvtest {

struct ClipPacket {
  size_t index = 0;
  int64_t time = 0;  // absolute 27 MHz arrival time, rebuilt from ATS and PCR
  uint32_t ats = 0;
  uint16_t pid = 0;
  bool pusi = false;
  bool priority = false;  // transport_priority
  uint8_t cc = 0;
  bool hasPcr = false;
  int64_t pcr = 0;  // 27 MHz
  size_t payloadOffset = 192;  // where the transport payload (a PES header first) starts
  size_t esOffset = 0;  // where elementary-stream bytes start in the 192 bytes
  uint32_t esBytes = 0;
  const uint8_t* bytes = nullptr;
};

struct ClipUnit {
  uint16_t pid = 0;
  uint8_t streamId = 0;
  size_t firstPacket = 0, lastPacket = 0;
  uint64_t pts = 0, dts = 0;  // dts = pts when the header carries none
  bool hasDts = false;
  uint8_t idExtension = 0;  // stream_id_extension; 0 when the header has none
  uint32_t pesLength = 0;
  std::vector<uint8_t> payload;
};

struct ClipReading {
  std::vector<uint8_t> bytes;
  std::vector<ClipPacket> packets;
  std::map<uint16_t, std::vector<ClipUnit>> units;
  std::string error;
};

inline uint64_t ReadTimeStamp(const uint8_t* p) {
  return (uint64_t(p[0] >> 1) & 7) << 30 | uint64_t(p[1]) << 22 | uint64_t(p[2] >> 1) << 15 | uint64_t(p[3]) << 7 |
         uint64_t(p[4] >> 1);
}

inline bool IsEsPid(uint16_t pid) { return pid >= 0x1011 && pid != 0x1FFF; }

// Reads the clip; `error` names the first malformed packet.
inline ClipReading ReadClip(const std::string& path) {
  ClipReading r;
  r.bytes = ReadBytes(path);
  if (r.bytes.size() % 192 != 0) {
    r.error = "file length is not a multiple of 192";
    return r;
  }
  const size_t n = r.bytes.size() / 192;
  int64_t rel = 0;
  uint32_t prevAts = 0;
  std::map<uint16_t, ClipUnit*> open;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = r.bytes.data() + i * 192;
    ClipPacket k;
    k.index = i;
    k.bytes = p;
    k.ats = (uint32_t(p[0] & 0x3F) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    if (i > 0) rel += (k.ats - prevAts) & 0x3FFFFFFF;
    prevAts = k.ats;
    k.time = rel;
    if (p[4] != 0x47) {
      r.error = "lost sync at packet " + std::to_string(i);
      return r;
    }
    k.pusi = p[5] & 0x40;
    k.priority = p[5] & 0x20;
    k.pid = static_cast<uint16_t>((p[5] & 0x1F) << 8 | p[6]);
    const uint8_t afc = (p[7] >> 4) & 3;
    k.cc = p[7] & 15;
    size_t pos = 8;
    if (afc & 2) {
      const uint8_t afl = p[8];
      if (afl > 0 && (p[9] & 0x10)) {
        const uint64_t base = uint64_t(p[10]) << 25 | uint64_t(p[11]) << 17 | uint64_t(p[12]) << 9 |
                              uint64_t(p[13]) << 1 | (p[14] >> 7);
        const uint64_t ext = uint64_t(p[14] & 1) << 8 | p[15];
        k.hasPcr = true;
        k.pcr = static_cast<int64_t>(base * 300 + ext);
      }
      pos = 9 + afl;
    }
    if (!(afc & 1)) pos = 192;
    if (pos > 192) {
      r.error = "adaptation field too long at packet " + std::to_string(i);
      return r;
    }
    if (IsEsPid(k.pid) && (afc & 1)) {
      k.payloadOffset = pos;
      if (k.pusi) {
        const uint8_t* h = p + pos;
        if (pos + 9 > 192 || h[0] != 0 || h[1] != 0 || h[2] != 1) {
          r.error = "no PES start at packet " + std::to_string(i);
          return r;
        }
        ClipUnit u;
        u.pid = k.pid;
        u.streamId = h[3];
        u.pesLength = uint32_t(h[4]) << 8 | h[5];
        const uint8_t flags = h[7];
        const uint8_t hdrLen = h[8];
        if (flags & 0x80) u.pts = ReadTimeStamp(h + 9);
        if ((flags & 0xC0) == 0xC0) {
          u.dts = ReadTimeStamp(h + 14);
          u.hasDts = true;
        } else {
          u.dts = u.pts;
        }
        if ((flags & 0x01) && pos + 9 + hdrLen <= 192) {
          // The PES extension follows the optional fields the flags announce.
          size_t x = 9 + ((flags & 0x80) ? 5 : 0) + ((flags & 0x40) ? 5 : 0) + ((flags & 0x20) ? 6 : 0) +
                     ((flags & 0x10) ? 3 : 0) + ((flags & 0x08) ? 1 : 0) + ((flags & 0x04) ? 1 : 0) +
                     ((flags & 0x02) ? 2 : 0);
          const uint8_t ext = h[x++];
          if (ext & 0x80) x += 16;
          if (ext & 0x40) x += 1 + h[x];
          if (ext & 0x20) x += 2;
          if (ext & 0x10) x += 2;
          if ((ext & 0x01) && x + 1 < 9u + hdrLen && (h[x] & 0x7F) >= 1) u.idExtension = h[x + 1];
        }
        u.firstPacket = i;
        pos += 9 + hdrLen;
        auto& list = r.units[k.pid];
        list.push_back(u);
        open[k.pid] = &list.back();
      }
      auto it = open.find(k.pid);
      if (it == open.end()) {
        r.error = "payload before any PES start at packet " + std::to_string(i);
        return r;
      }
      k.esOffset = pos;
      k.esBytes = static_cast<uint32_t>(192 - pos);
      it->second->payload.insert(it->second->payload.end(), p + pos, p + 192);
      it->second->lastPacket = i;
    }
    r.packets.push_back(k);
    // Pointers into a growing vector: re-seat after every push.
    for (auto& [pid, list] : r.units) open[pid] = &list.back();
  }
  // Absolute times: a PCR packet arrives 81 bit-times (45 ticks at 48 Mbit/s)
  // before the last bit of its PCR base.
  for (const ClipPacket& k : r.packets) {
    if (!k.hasPcr) continue;
    const int64_t t0 = k.pcr - 45 - k.time;
    for (ClipPacket& q : r.packets) q.time += t0;
    break;
  }
  return r;
}

// Buffer constants of one stream (sizes in bytes, rates in bit/s).
struct StdParams {
  int64_t tbSize = 512;
  int64_t tbRate = 0;  // 0: no transport buffer
  int64_t mbSize = 0;
  int64_t mbRate = 0;  // 0: no multiplexing buffer
  int64_t ebSize = 0;
  // An audio buffer holds the PES header bytes with the unit's payload
  // until the unit is decoded; video's elementary buffer only the payload.
  bool pesHeadersInEb = false;
};

inline StdParams AvcLevel41() { return {512, 48000000, 40000, 40000000, 3750000}; }
inline StdParams Ac3Primary() { return {512, 2000000, 0, 0, 18640, true}; }
inline StdParams Lpcm(bool rate192k) {
  return rate192k ? StdParams{512, 30000000, 0, 0, 1073664, true} : StdParams{512, 20000000, 0, 0, 536832, true};
}
inline StdParams Mlp() { return {512, 48000000, 0, 0, 404250, true}; }
inline StdParams DtsCore() { return {512, 5000000, 0, 0, 43972, true}; }
inline StdParams DtsHdPrimary() { return {512, 48000000, 0, 0, 713563, true}; }
// Graphics streams (menus and subtitles) have an elementary (coded-data)
// buffer of 1 MiB only; the transport buffer's rate is not replayed.
inline StdParams GraphicsStream() { return {512, 0, 0, 0, 1048576}; }

// Replays the stream on `pid` through TB, MB and EB and reports the first
// overflow or late unit; empty when the stream is decodable. The leaky
// buckets count exactly, in bits x ticks per second (a byte is 8 * 27e6 of
// them), and allow no slack at all.
// `accept`, when given, picks the units of the PID that enter these buffers
// (a core model sees only the core's units); the others' packets pass by.
inline std::string ReplayStd(const ClipReading& clip, uint16_t pid, const StdParams& sp,
                             const std::function<bool(const ClipUnit&)>& accept = {}) {
  constexpr int64_t kByte = 8 * 27000000;
  struct Leaky {
    int64_t full = 0;
    int64_t last = 0;
    void Fill(int64_t t, int64_t rate) {
      const int64_t dt = t - last;
      full = dt >= full / rate + 1 ? 0 : std::max<int64_t>(0, full - rate * dt);
      last = t;
      full += 188 * kByte;
    }
  } tb, mb;
  auto it = clip.units.find(pid);
  if (it == clip.units.end()) return "no units on the PID";
  const std::vector<ClipUnit>& units = it->second;
  // Units receiving bytes, oldest first: {dts ticks, bytes}.
  std::vector<std::pair<int64_t, int64_t>> eb;
  size_t unit = 0;
  char msg[200];
  bool taken = true;
  for (const ClipPacket& k : clip.packets) {
    if (k.pid != pid) continue;
    if (k.pusi) {
      while (unit < units.size() && units[unit].firstPacket != k.index) ++unit;
      if (unit == units.size()) return "unit bookkeeping lost";
      taken = !accept || accept(units[unit]);
      if (taken) eb.push_back({static_cast<int64_t>(units[unit].dts) * 300, 0});
    }
    if (!taken) continue;
    if (sp.tbRate > 0) {
      tb.Fill(k.time, sp.tbRate);
      if (tb.full > sp.tbSize * kByte) {
        std::snprintf(msg, sizeof msg, "TB overflow at packet %zu (time %lld): %.3f bytes", k.index,
                      static_cast<long long>(k.time), static_cast<double>(tb.full) / kByte);
        return msg;
      }
    }
    if (sp.mbRate > 0) {
      mb.Fill(k.time, sp.mbRate);
      if (mb.full > sp.mbSize * kByte) {
        std::snprintf(msg, sizeof msg, "MB overflow at packet %zu (time %lld): %.3f bytes", k.index,
                      static_cast<long long>(k.time), static_cast<double>(mb.full) / kByte);
        return msg;
      }
    }
    if (eb.empty()) return "payload before any unit";
    // Units decoded by now leave the buffer (the one being received stays).
    while (eb.size() > 1 && eb.front().first <= k.time) eb.erase(eb.begin());
    eb.back().second += sp.pesHeadersInEb ? static_cast<int64_t>(192 - k.payloadOffset) : k.esBytes;
    int64_t held = 0;
    for (auto& e : eb) held += e.second;
    if (sp.ebSize > 0 && held > sp.ebSize) {
      std::snprintf(msg, sizeof msg, "EB overflow at packet %zu: %lld bytes", k.index, static_cast<long long>(held));
      return msg;
    }
  }
  for (const ClipUnit& u : units) {
    if (accept && !accept(u)) continue;
    const int64_t arrival = clip.packets[u.lastPacket].time;
    if (arrival > static_cast<int64_t>(u.dts) * 300) {
      std::snprintf(msg, sizeof msg, "unit at packet %zu complete at %lld, after its decoding time %lld", u.firstPacket,
                    static_cast<long long>(arrival), static_cast<long long>(u.dts * 300));
      return msg;
    }
  }
  return {};
}

// A core unit of a stream whose core and extension share a PID: 0x71 (AC-3
// or DTS core), 0x76 (AC-3 core beside a lossless stream).
inline bool IsCoreUnit(const ClipUnit& u) { return u.idExtension == 0x71 || u.idExtension == 0x76; }

// Players take a core's packets by transport_priority: every packet of a
// core unit carries it, no packet of an extension unit does. "" when so.
inline std::string CoreMarking(const ClipReading& c, uint16_t pid) {
  for (const ClipUnit& u : c.units.at(pid))
    for (size_t i = u.firstPacket; i <= u.lastPacket; ++i)
      if (c.packets[i].pid == pid && c.packets[i].priority != IsCoreUnit(u))
        return "packet " + std::to_string(i) + " of the unit starting at " + std::to_string(u.firstPacket);
  return "";
}

// Largest distance in 27 MHz ticks between consecutive PCR values (0 with
// fewer than two PCRs). Transport streams allow at most 100 ms.
inline constexpr int64_t kMaxPcrGap = 2700000;
inline int64_t MaxPcrGap(const ClipReading& clip) {
  int64_t best = 0, last = -1;
  for (const ClipPacket& k : clip.packets) {
    if (!k.hasPcr) continue;
    if (last >= 0) best = std::max(best, k.pcr - last);
    last = k.pcr;
  }
  return best;
}

// Most transport packets arriving in any one-second window.
inline size_t MaxPacketsPerSecond(const ClipReading& clip) {
  size_t lo = 0, best = 0;
  for (size_t hi = 0; hi < clip.packets.size(); ++hi) {
    while (clip.packets[hi].time - clip.packets[lo].time >= 27000000) ++lo;
    best = std::max(best, hi - lo + 1);
  }
  return best;
}

}  // namespace zvtest

// A deliberately small transport-packet reader for the pipe tests, written
// from ISO/IEC 13818-1 and independent of mux/ts_syntax, plus a helper that
// drains a pipe into packets grouped by access unit.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "mux/pipe.h"

namespace pipetest {

using Packet = std::array<uint8_t, 188>;

struct TsView {
  bool pusi = false;
  uint16_t pid = 0;
  uint8_t afc = 0;
  uint8_t cc = 0;
  size_t afLength = 0;     // adaptation_field_length, when present
  bool afStuffingOk = true;  // flags 0x00 and only 0xFF stuffing after it
  size_t pesStart = 0;     // first byte after the adaptation field
  // PES header, on packets with payload_unit_start_indicator.
  uint8_t streamId = 0;
  uint16_t pesLength = 0;
  std::optional<uint64_t> pts, dts;
  std::optional<uint8_t> idExtension;
  size_t esStart = 0;  // first elementary-stream byte
};

inline uint64_t ReadTimeStamp(const uint8_t* b) {
  return (uint64_t((b[0] >> 1) & 7) << 30) | (uint64_t(b[1]) << 22) | (uint64_t(b[2] >> 1) << 15) |
         (uint64_t(b[3]) << 7) | (b[4] >> 1);
}

// Fails the calling test (and returns false) on anything malformed.
inline bool ReadPacket(const Packet& p, TsView& v) {
  v = TsView{};
  if (p[0] != 0x47) return ADD_FAILURE() << "sync byte", false;
  v.pusi = p[1] & 0x40;
  v.pid = uint16_t(((p[1] & 0x1F) << 8) | p[2]);
  v.afc = (p[3] >> 4) & 3;
  v.cc = p[3] & 0x0F;
  size_t pos = 4;
  if (v.afc & 2) {
    v.afLength = p[4];
    if (v.afLength > 183) return ADD_FAILURE() << "adaptation field too long", false;
    if (v.afLength >= 1 && p[5] != 0x00) v.afStuffingOk = false;
    for (size_t i = 6; i < 5 + v.afLength; ++i)
      if (p[i] != 0xFF) v.afStuffingOk = false;
    pos = 5 + v.afLength;
  }
  if (!(v.afc & 1)) return ADD_FAILURE() << "packet without payload", false;
  v.pesStart = pos;
  v.esStart = pos;
  if (!v.pusi) return true;
  if (pos + 9 > 188 || p[pos] != 0 || p[pos + 1] != 0 || p[pos + 2] != 1)
    return ADD_FAILURE() << "PES start code", false;
  v.streamId = p[pos + 3];
  v.pesLength = uint16_t((p[pos + 4] << 8) | p[pos + 5]);
  if ((p[pos + 6] & 0xC0) != 0x80) return ADD_FAILURE() << "PES marker bits", false;
  const uint8_t flags = p[pos + 7];
  const size_t hdl = p[pos + 8];
  size_t q = pos + 9;
  if ((flags & 0xC0) == 0x80 || (flags & 0xC0) == 0xC0) {
    v.pts = ReadTimeStamp(&p[q]);
    EXPECT_EQ(p[q] >> 4, (flags & 0x40) ? 3 : 2) << "PTS prefix";
    q += 5;
  }
  if ((flags & 0xC0) == 0xC0) {
    v.dts = ReadTimeStamp(&p[q]);
    EXPECT_EQ(p[q] >> 4, 1) << "DTS prefix";
    q += 5;
  }
  EXPECT_EQ(flags & 0x3E, 0) << "unexpected optional PES fields";
  if (flags & 0x01) {
    const uint8_t extFlags = p[q++];
    EXPECT_EQ(extFlags & 0xF0, 0) << "only PES_extension_flag_2 expected";
    if (extFlags & 0x01) {
      const uint8_t len = p[q++] & 0x7F;
      EXPECT_EQ(len, 1);
      v.idExtension = p[q];
      q += len;
    }
  }
  if (q != pos + 9 + hdl) return ADD_FAILURE() << "PES_header_data_length", false;
  v.esStart = q;
  return true;
}

struct DrainedUnit {
  zv::AUI au;
  std::vector<Packet> packets;
  std::optional<zv::KEY_POINT_INFO> keyPoint;  // as the request reported it after the unit
};

// Pulls every unit from an opened pipe and packetizes it.
inline std::vector<DrainedUnit> Drain(zv::CPipe& pipe, uint16_t pid, int64_t offset, bool keyPoints) {
  std::vector<DrainedUnit> units;
  zv::SFillRequest req;
  req.pid = pid;
  req.timeOffset = offset;
  req.keyPointWanted = keyPoints;
  while (const zv::AUI* au = pipe.NextAu()) {
    DrainedUnit u;
    u.au = *au;
    Packet pkt;
    pkt.fill(0xAA);  // catch bytes the pipe leaves unwritten
    req.packet = pkt.data();
    while (pipe.FillPacket(req)) {
      u.packets.push_back(pkt);
      pkt.fill(0xAA);  // catch bytes the pipe leaves unwritten
      if (u.packets.size() > 100000) break;
    }
    if (!u.packets.empty() && req.keyPoint) u.keyPoint = *req.keyPoint;
    units.push_back(std::move(u));
  }
  return units;
}

}  // namespace pipetest

#include "mux/ep_map.h"

namespace zv {

static constexpr uint32_t kSpnFineBits = 17;

static uint32_t PtsCoarse(uint64_t pts) { return static_cast<uint32_t>((pts >> 19) & 0x3FFF); }
static uint32_t PtsFine(uint64_t pts) { return static_cast<uint32_t>((pts >> 9) & 0x7FF); }

uint8_t IEndPositionCode(uint32_t firstSpn, uint32_t lastSpn) {
  if (lastSpn == 0 || lastSpn < firstSpn) return 0;
  uint64_t s = (uint64_t{lastSpn} - firstSpn + 1) * 192;
  if (s < 131072) return 1;
  if (s < 262144) return 2;
  if (s < 393216) return 3;
  if (s < 589824) return 4;
  if (s < 917504) return 5;
  if (s < 1310720) return 6;
  return 7;
}

void STREAM_PID_ENTRY::Build() {
  coarseStarts.clear();
  for (size_t i = 0; i < keyPoints.size(); ++i) {
    KEY_POINT_INFO& k = keyPoints[i];
    if (EpStreamType == 1) {
      if (k.iEndCode == 0) k.iEndCode = IEndPositionCode(k.firstSpn, k.lastSpn);
    } else {
      k.iEndCode = 0;
    }
    // A reader rebuilds a point from its coarse entry's high bits and the
    // fine entry's low bits, so any change of those high bits (a rise, a
    // wrap, or a jump of 2^17 packets or more) needs a coarse entry.
    if (i == 0 || PtsCoarse(k.pts) != PtsCoarse(keyPoints[i - 1].pts) ||
        (k.firstSpn >> kSpnFineBits) != (keyPoints[i - 1].firstSpn >> kSpnFineBits))
      coarseStarts.push_back(static_cast<uint32_t>(i));
  }
  NumberOfCoarseEntries = static_cast<uint16_t>(coarseStarts.size());
  NumberOfFineEntries = static_cast<uint32_t>(keyPoints.size());
  if (coarseStarts.size() > 0xFFFF || keyPoints.size() > 0x3FFFF)
    throw std::out_of_range("EP map too large for its count fields");
}

void SCpi::Layout() {
  uint32_t addr = static_cast<uint32_t>(2 + 12 * entries.size());
  for (auto& e : entries) {
    e.Build();
    e.EpMapForOneStreamStartAddress = addr;
    addr += static_cast<uint32_t>(e.MapSize());
  }
}

size_t SCpi::Size() const {
  if (entries.empty()) return 4;
  size_t n = 4 + 2 + 2 + 12 * entries.size();
  for (const auto& e : entries) n += e.MapSize();
  return n;
}

void SCpi::Write(BeWriter& w) const {
  w.U32(Size() - 4);
  if (entries.empty()) return;
  w.U8(0);
  w.Bits(4, 0);
  w.Bits(4, CpiType);
  // EP map header
  w.U8(0);
  w.U8(entries.size());
  for (const auto& e : entries) {
    w.U16(e.StreamPid);
    w.Bits(10, 0);
    w.Bits(4, e.EpStreamType);
    w.Bits(16, e.coarseStarts.size());
    w.Bits(18, e.keyPoints.size());
    w.U32(e.EpMapForOneStreamStartAddress);
  }
  for (const auto& e : entries) {
    w.U32(4 + 8 * e.coarseStarts.size());  // EP fine table start address
    for (uint32_t ref : e.coarseStarts) {
      if (ref >= e.keyPoints.size()) throw std::logic_error("EP map written before Layout");
      const KEY_POINT_INFO& k = e.keyPoints[ref];
      w.Bits(18, ref);
      w.Bits(14, PtsCoarse(k.pts));
      w.U32(k.firstSpn);
    }
    for (const auto& k : e.keyPoints) {
      w.Bits(1, 0);  // is_angle_change_point
      w.Bits(3, k.iEndCode);
      w.Bits(11, PtsFine(k.pts));
      w.Bits(17, k.firstSpn & ((1u << kSpnFineBits) - 1));
    }
  }
}

void SCpi::Parse(BeReader& outer) {
  entries.clear();
  uint32_t len = outer.U32();
  if (len == 0) return;
  BeReader r = outer.Sub(len);
  r.Skip(1);
  r.Bits(4);
  CpiType = static_cast<uint8_t>(r.Bits(4));
  // Map addresses count from the EP map header.
  BeReader map(r.Here(), r.Remaining());
  map.Skip(1);
  unsigned n = map.U8();
  for (unsigned i = 0; i < n; ++i) {
    STREAM_PID_ENTRY e;
    e.StreamPid = map.U16();
    map.Bits(10);
    e.EpStreamType = static_cast<uint8_t>(map.Bits(4));
    e.NumberOfCoarseEntries = static_cast<uint16_t>(map.Bits(16));
    e.NumberOfFineEntries = static_cast<uint32_t>(map.Bits(18));
    e.EpMapForOneStreamStartAddress = map.U32();
    entries.push_back(std::move(e));
  }
  for (auto& e : entries) {
    BeReader m(map.Data(), map.Size());
    m.Seek(e.EpMapForOneStreamStartAddress);
    BeReader one(m.Here(), m.Remaining());
    uint32_t fineStart = one.U32();
    struct Coarse {
      uint32_t ref, pts, spn;
    };
    std::vector<Coarse> coarse;
    for (unsigned i = 0; i < e.NumberOfCoarseEntries; ++i) {
      Coarse c;
      c.ref = static_cast<uint32_t>(one.Bits(18));
      c.pts = static_cast<uint32_t>(one.Bits(14));
      c.spn = one.U32();
      // Each coarse entry must open a later fine entry than the one before.
      if (c.ref >= e.NumberOfFineEntries || (coarse.empty() ? c.ref != 0 : c.ref <= coarse.back().ref))
        throw FormatError("EP map coarse entry refers to a wrong fine entry");
      coarse.push_back(c);
    }
    if (coarse.empty() && e.NumberOfFineEntries != 0) throw FormatError("EP map has fine entries but no coarse entry");
    one.Seek(fineStart);
    size_t ci = 0;
    for (uint32_t j = 0; j < e.NumberOfFineEntries; ++j) {
      while (ci + 1 < coarse.size() && coarse[ci + 1].ref <= j) ++ci;
      KEY_POINT_INFO k;
      one.Bits(1);
      k.iEndCode = static_cast<uint8_t>(one.Bits(3));
      uint64_t ptsFine = one.Bits(11);
      uint32_t spnFine = static_cast<uint32_t>(one.Bits(17));
      // Bit 19 is in both halves; the coarse entry's copy is used.
      k.pts = (uint64_t{coarse[ci].pts} << 19) | ((ptsFine & 0x3FF) << 9);
      k.firstSpn = (coarse[ci].spn & ~((1u << kSpnFineBits) - 1)) | spnFine;
      k.auIndex = static_cast<int32_t>(j);
      e.keyPoints.push_back(k);
    }
    for (const auto& c : coarse) e.coarseStarts.push_back(c.ref);
  }
}

void SCpi::Dump(SDumpNode& out) const {
  SDumpNode& b = out.Block("CPI");
  b.Int("Length", static_cast<int64_t>(Size() - 4));
  if (entries.empty()) return;
  b.Int("CpiType", CpiType);
  SDumpNode& m = b.Block("EpMap");
  m.Int("NumberOfPidEnties", static_cast<int64_t>(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& e = entries[i];
    SDumpNode& p = m.Block("PidEntry", static_cast<int>(i));
    p.Hex4("StreamPid", e.StreamPid);
    p.Int("EpStreamType", e.EpStreamType);
    p.Int("NumberOfCoarseEntries", e.NumberOfCoarseEntries);
    p.Int("NumberOfFineEntries", e.NumberOfFineEntries);
    p.Int("EpMapForOneStreamStartAddress", e.EpMapForOneStreamStartAddress);
    p.Int("KeyPointCount", static_cast<int64_t>(e.keyPoints.size()));
    for (size_t j = 0; j < e.keyPoints.size(); ++j) {
      const auto& k = e.keyPoints[j];
      SDumpNode& kn = p.Block("KeyPoint", static_cast<int>(j));
      kn.Int("PTS", static_cast<int64_t>(k.pts));
      kn.Int("Spn Start", k.firstSpn);
      kn.Int("IEndPostion", k.iEndCode);
    }
  }
}

}  // namespace zv

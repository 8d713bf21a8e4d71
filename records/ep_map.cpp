#include "records/ep_map.h"

#include "records/syntax.h"

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

// From the length field on; an empty map is the length 0 alone. Map
// addresses count from the EP map header.
template <class IO>
void Syntax(IO& io, SCpi& c) {
  auto len = io.Length(32, "Length");
  const bool empty = IO::kReading ? len.Value() == 0 : c.entries.empty();
  if constexpr (IO::kReading) c.entries.clear();
  if (empty) return len.End();
  io.Reserved(8 + 4);
  io.Bits(4, "CpiType", c.CpiType);
  io.Section("EpMap", [&] {
    const size_t map = io.Pos();
    io.Reserved(8);
    std::vector<rec::AddressField> at;
    io.Array(8, "NumberOfPidEnties", c.entries, [&](STREAM_PID_ENTRY& e, uint64_t i) {
      io.Section("PidEntry", static_cast<int>(i), [&] {
        io.U16("StreamPid", e.StreamPid, rec::Hex{4});
        io.Reserved(10);
        io.Bits(4, "EpStreamType", e.EpStreamType);
        uint64_t coarse = e.coarseStarts.size(), fine = e.keyPoints.size();
        io.Bits(16, "NumberOfCoarseEntries", coarse);
        io.Bits(18, "NumberOfFineEntries", fine);
        at.push_back(io.Address(32, "EpMapForOneStreamStartAddress", map));
        if constexpr (IO::kReading) {
          e.NumberOfCoarseEntries = static_cast<uint16_t>(coarse);
          e.NumberOfFineEntries = static_cast<uint32_t>(fine);
          e.EpMapForOneStreamStartAddress = static_cast<uint32_t>(at.back().value);
        }
      });
    });
    for (size_t i = 0; i < c.entries.size(); ++i) {
      STREAM_PID_ENTRY& e = c.entries[i];
      io.Continue("PidEntry", static_cast<int>(i), [&] {
        io.At(at[i]);
        const size_t one = io.Pos();
        auto fineTable = io.Address(32, "EpFineTableStartAddress", one);
        struct Coarse {
          uint32_t ref = 0, pts = 0, spn = 0;
        };
        std::vector<Coarse> coarse;
        const uint64_t nCoarse = IO::kWriting ? e.coarseStarts.size() : e.NumberOfCoarseEntries;
        const uint64_t nFine = IO::kWriting ? e.keyPoints.size() : e.NumberOfFineEntries;
        for (uint64_t j = 0; j < nCoarse; ++j) {
          Coarse k;
          if constexpr (IO::kWriting) {
            k.ref = e.coarseStarts[j];
            if (k.ref >= e.keyPoints.size()) throw std::logic_error("EP map written before Layout");
            k.pts = PtsCoarse(e.keyPoints[k.ref].pts);
            k.spn = e.keyPoints[k.ref].firstSpn;
          }
          io.Section("EpCoarse", static_cast<int>(j), [&] {
            io.Bits(18, "RefToEpFineId", k.ref);
            io.Bits(14, "PtsEpCoarse", k.pts);
            io.U32("SpnEpCoarse", k.spn);
          });
          // Each coarse entry must open a later fine entry than the one before.
          if constexpr (IO::kReading)
            if (k.ref >= nFine || (coarse.empty() ? k.ref != 0 : k.ref <= coarse.back().ref))
              io.Fail("EP map coarse entry refers to a wrong fine entry");
          coarse.push_back(k);
        }
        if constexpr (IO::kReading)
          if (coarse.empty() && nFine != 0) io.Fail("EP map has fine entries but no coarse entry");
        io.At(fineTable);
        if constexpr (IO::kReading) e.keyPoints.clear();
        size_t ci = 0;
        for (uint64_t j = 0; j < nFine; ++j) {
          KEY_POINT_INFO k = IO::kWriting ? e.keyPoints[j] : KEY_POINT_INFO{};
          uint8_t angle = 0;
          uint32_t ptsFine = PtsFine(k.pts), spnFine = k.firstSpn & ((1u << kSpnFineBits) - 1);
          io.Section("KeyPoint", static_cast<int>(j), [&] {
            io.Bits(1, "IsAngleChangePoint", angle);
            io.Bits(3, "IEndPositionOffset", k.iEndCode);
            io.Bits(11, "PtsEpFine", ptsFine);
            io.Bits(17, "SpnEpFine", spnFine);
            if constexpr (IO::kReading) {
              while (ci + 1 < coarse.size() && coarse[ci + 1].ref <= j) ++ci;
              // Bit 19 is in both halves; the coarse entry's copy is used.
              k.pts = (uint64_t{coarse[ci].pts} << 19) | ((uint64_t{ptsFine} & 0x3FF) << 9);
              k.firstSpn = (coarse[ci].spn & ~((1u << kSpnFineBits) - 1)) | spnFine;
              k.auIndex = static_cast<int32_t>(j);
              e.keyPoints.push_back(k);
            }
            if constexpr (IO::kDumping) {
              io.Node().Int("PTS", static_cast<int64_t>(k.pts));
              io.Node().Int("Spn Start", k.firstSpn);
            }
          });
        }
        if constexpr (IO::kReading) {
          e.coarseStarts.clear();
          for (const auto& k : coarse) e.coarseStarts.push_back(k.ref);
        }
      });
    }
  });
  len.EndSkippingRest();
}

ZV_SYNTAX_INSTANTIATE(SCpi);

size_t SCpi::Size() const { return rec::Encode(*this).size(); }

void SCpi::Write(BeWriter& w) const {
  std::vector<uint8_t> b = rec::Encode(*this);
  w.Bytes(b.data(), b.size());
}

void SCpi::Parse(BeReader& r) {
  SCpi x;
  r.Skip(rec::Decode(r.Here(), r.Remaining(), x));
  *this = std::move(x);
}

void SCpi::Dump(SDumpNode& out) const { rec::DumpRecord(*this, out.Block("CPI")); }

}  // namespace zv

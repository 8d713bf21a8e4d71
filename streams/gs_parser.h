// Presentation- and interactive-graphics stream files in the ".sup" framing
// (a 10-byte "PG"/"IG" header with PTS and DTS before every segment). Each
// segment becomes one access unit, so that the multiplexer sends every
// segment as a PES packet of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class SGsSif : public CSifData {
 public:
  SGsSif() { version = 0; }
  uint8_t type = kSctPg;    // 0x91 once an ICS was met
  uint8_t streamModel = 0;  // IG: 1 = out-of-mux
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t frameRate = 0;     // high nibble of the descriptor's frame-rate byte
  uint8_t frameRateLow = 0;  // its low nibble; not stored

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override { return 0; }
  void FillEsInfo(SEsInfoFill& es) const override { es.streamCodingType = type; }
  void FillCodingInfo(SCodingAttributes& rec) const override { rec.streamCodingType = type; }
  void FillStreamAttributes(SCodingAttributes& rec) const override { rec.streamCodingType = type; }
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  bool IsMultiplexedGraphics() const override { return streamModel == 0; }
};

// Segment types, as they sit in the low byte of a unit's flags.
enum : uint8_t { kGsPds = 0x14, kGsOds = 0x15, kGsPcs = 0x16, kGsWds = 0x17, kGsIcs = 0x18, kGsEnd = 0x80 };
// Flags of a graphics unit: composition state in bits 8-9, and a PCS that
// shows no objects.
constexpr uint32_t kGsEmptyComposition = 1u << 16;

class CGsParser : public CParserBase {
 public:
  CGsParser() : CParserBase(kSctPg, {".sup", ".pg", ".ig"}) {}
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;

  // The last composition's video: width, height, frame-rate byte nibbles.
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t frameRate = 0;
  uint8_t frameRateLow = 0;
  bool icsSeen = false;
  uint8_t streamModel = 0;
};

// A display set as a range of units with its start and end decoding times.
struct SDisplaySetInterval {
  int64_t firstUnit = 0;
  int64_t lastUnit = 0;
  int64_t start = 0;
  int64_t end = 0;
};

// What the interval walk needs of each unit, in stream order.
struct SGsUnitTime {
  uint32_t flags = 0;
  uint32_t dts = 0;
};

// Every composition that shows objects opens an interval; one without
// objects ends the open interval at its DTS; the last interval ends at the
// last unit's DTS.
std::vector<SDisplaySetInterval> DisplaySetIntervals(const std::vector<SGsUnitTime>& units);
// The units from the first display set starting at or after `in` up to the
// one holding `out` (90 kHz); out 0 means the end of the stream. False when
// nothing is selected.
bool SelectDisplaySets(const std::vector<SDisplaySetInterval>& sets, int64_t unitCount, int64_t in, int64_t out,
                       int64_t& first, int64_t& last);

}  // namespace zv

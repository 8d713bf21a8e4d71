// The CPI block of a clip information file: the EP map that ties the
// presentation times of random-access points to source packet numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "records/extension_data.h"
#include "platform/bytes.h"

namespace zv {

// One random-access point gathered while packetizing.
struct KEY_POINT_INFO {
  int32_t auIndex = 0;
  uint64_t pts = 0;        // 90 kHz, 33 bits used, time offset applied
  uint32_t firstSpn = 0;   // source packet holding the unit's first byte
  uint32_t lastSpn = 0;    // ... and its last byte; 0 while unknown
  uint8_t iEndCode = 0;    // I-picture end position code, 0 = not computed
};
using CKpiFolder = std::vector<KEY_POINT_INFO>;

struct STREAM_PID_ENTRY {
  uint16_t StreamPid = 0;
  uint8_t EpStreamType = 1;
  uint16_t NumberOfCoarseEntries = 0;
  uint32_t NumberOfFineEntries = 0;
  uint32_t EpMapForOneStreamStartAddress = 0;  // relative to the EP map
  CKpiFolder keyPoints;
  std::vector<uint32_t> coarseStarts;  // key point index opening each coarse entry

  // Decides the coarse entries, the counts and (for video) the I-picture end codes.
  void Build();
  size_t MapSize() const { return 4 + 8 * coarseStarts.size() + 4 * keyPoints.size(); }
};
using CSpeFolder = std::vector<STREAM_PID_ENTRY>;

// I-picture end position code for an I picture spanning first..last.
uint8_t IEndPositionCode(uint32_t firstSpn, uint32_t lastSpn);

struct SCpi {
  uint8_t CpiType = 1;  // EP map
  CSpeFolder entries;

  // Builds every entry and decides the map addresses; call before Write.
  void Layout();
  // From the length field on; an empty map is the length 0 alone.
  size_t Size() const;
  void Write(BeWriter& w) const;
  // `r` at the length field; left after the block.
  void Parse(BeReader& r);
  void Dump(SDumpNode& out) const;
};

// The block's syntax, walked by clip information files.
template <class IO>
void Syntax(IO& io, SCpi& c);

}  // namespace zv

// Stream coding types: the disc's codes for each stream format, the one
// classification every layer uses, and their display names.
#pragma once

#include <cstdint>

namespace zv {

enum StreamCodingType : uint8_t {
  kSctMpeg2 = 0x02,
  kSctH264 = 0x1B,
  kSctSecondView = 0x20,
  kSctLpcm = 0x80,
  kSctAc3 = 0x81,
  kSctDts = 0x82,
  kSctMlp = 0x83,
  kSctEac3 = 0x84,
  kSctDtsHdHr = 0x85,
  kSctDtsHdMa = 0x86,
  kSctPg = 0x90,
  kSctIg = 0x91,
  kSctTextSt = 0x92,
  kSctEac3Secondary = 0xA1,
  kSctDtsHdSecondary = 0xA2,
  kSctVc1 = 0xEA,
};

// What a stream is, from its coding type. The first five values are those
// the project model has always used for its tracks.
enum class StreamKind : uint8_t { kVideo, kAudio, kPg, kIg, kOther, kTextSt };
StreamKind StreamKindOf(uint8_t codingType);

// Presentation or interactive graphics.
inline bool IsGraphicsKind(StreamKind k) { return k == StreamKind::kPg || k == StreamKind::kIg; }
bool IsVideoType(uint8_t type);
bool IsGraphicsType(uint8_t type);
// Fixed-rate audio keeps no access-unit table; units are computed.
bool IsFixedRateAudio(uint8_t type);

// Display names of a stream coding type; nullptr when the type has none.
const char* GetStreamTypeName(uint8_t streamType);
const char* GetStreamTypeShortName(uint8_t streamType);

}  // namespace zv

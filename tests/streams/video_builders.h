// Builders for synthetic MPEG-2 and VC-1 video elementary streams: real
// header syntax with stand-in picture data, for the cases no encoder here
// makes (field pictures, VC-1 of any kind, broken headers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

// ---- MPEG-2

struct M2vSequence {
  uint32_t width = 1920, height = 1080;
  uint8_t aspect = 3;        // aspect_ratio_information
  uint8_t rateCode = 4;      // frame_rate_code
  uint32_t bitRate = 50000;  // bit_rate_value, 400 bit/s units (20 Mbit/s)
  uint8_t profileLevel = 0x44;  // Main@High
  bool progressive = false;
  uint8_t chroma = 1;
  bool extension = true;  // false: an MPEG-1 style sequence
};
struct M2vPicture {
  unsigned tr = 0;
  unsigned type = 1;       // 1 I, 2 P, 3 B
  unsigned structure = 3;  // 1 top field, 2 bottom field, 3 frame
  bool tff = true, rff = false, progressiveFrame = false;
  bool extension = true;   // false: a slice follows the picture header
  bool gop = false;        // a GOP header goes before it
  bool sequence = false;   // a sequence header (and extension) go before it
  bool sequenceEnd = false;  // a sequence end code follows it
  size_t dataBytes = 64;
  bool wholeRows = true;   // false: its slices stop short of the bottom row (cut off)
};
std::vector<uint8_t> M2vSequenceHeader(const M2vSequence& s);
std::vector<uint8_t> M2vStream(const M2vSequence& s, const std::vector<M2vPicture>& pictures);
// Pictures from a type string in decode order ("IBBPBB"): temporal
// references counted per GOP as an encoder with closed GOPs gives them, a
// GOP header before every I picture, and the sequence header before the
// first.
std::vector<M2vPicture> M2vGop(const std::string& types);

// ---- VC-1 advanced profile

struct Vc1Sequence {
  unsigned profile = 3, level = 3;
  uint32_t codedWidth = 1920, codedHeight = 1080;
  bool pulldown = true, interlace = true, tfcntr = false, psf = false;
  bool displayExt = true, aspectFlag = true;
  uint32_t displayWidth = 1920, displayHeight = 1080;
  unsigned aspectIndex = 1, aspectHoriz = 0, aspectVert = 0;
  bool framerateFlag = true, framerateInd = false;
  unsigned frameRateNr = 3, frameRateDr = 2;  // 30000/1001
  unsigned frameRateExp = 0;
  bool hrd = true;
  unsigned rateExponent = 8, bufferExponent = 8;  // units of 2^14 bit/s and 2^12 bits
  unsigned hrdRate = 1219, hrdBuffer = 3661;      // 19,988,480 bit/s; 14,999,552 bits
  // Entry points.
  bool panscan = false;
  bool codedSize = false;
  uint32_t entryWidth = 1920, entryHeight = 1080;
};
// A start-code unit: 00 00 01, the suffix, the body with emulation
// prevention.
std::vector<uint8_t> Vc1Unit(uint8_t suffix, const std::vector<uint8_t>& body);
std::vector<uint8_t> Vc1SequenceHeader(const Vc1Sequence& s);
std::vector<uint8_t> Vc1EntryPoint(const Vc1Sequence& s);
// One frame: 'I', 'P', 'B', 'b' (BI) or 'S' (skipped); field-interlaced
// when `fieldPair` (its first field's type then decides, 'I' gives I/P).
std::vector<uint8_t> Vc1Frame(const Vc1Sequence& s, char type, bool fieldPair = false, size_t dataBytes = 48);
// Segments separated by '|', each beginning with a sequence header and an
// entry point: "IPBB|IPBB".
std::vector<uint8_t> Vc1Stream(const Vc1Sequence& s, const std::string& segments,
                               std::vector<size_t>* frameStarts = nullptr);

}  // namespace zvtest

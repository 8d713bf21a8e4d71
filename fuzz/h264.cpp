// Fuzz target: H.264 analysis and unit serving on arbitrary bytes, and the
// SPS rewrite the multiplexer applies to a unit.
#include <vector>

#include "stream_fuzz.h"
#include "streams/h264_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> unit(data, data + size);
  zv::SetFixedFrameRateFlag(unit.data(), unit.size());
  return FuzzStreamFile(data, size, ".264");
}

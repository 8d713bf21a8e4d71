// Fuzz target: DTS and DTS-HD analysis and unit serving on arbitrary bytes.
#include "stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return FuzzStreamFile(data, size, ".dts"); }

// Fuzz target: graphics stream analysis, unit serving, and the cut by time
// (in and out taken from the input's last bytes).
#include "stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStreamFile(data, size, ".sup");
  if (size < 4) return 0;
  std::string error;
  if (!zv::WriteWholeFile(FuzzPath(), data, size, error)) std::abort();
  zv::SStreamContext ctx;
  zv::SSourceParams src;
  src.path = FuzzPath();
  src.timeMode = 1;
  src.in = data[size - 4] << 8 | data[size - 3];
  src.out = data[size - 2] << 8 | data[size - 1];
  if (zv::OpenStream(src, ctx, {}, nullptr) == zv::kOk) {
    while (zv::NextAu(ctx)) {
    }
  }
  ::unlink((FuzzPath() + ".dsi").c_str());
  return 0;
}

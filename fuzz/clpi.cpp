// Clip information reader on untrusted bytes.
#include "fuzz/rewrite_fuzz.h"
#include "mux/clip_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzRewriteStable<zv::ClipInformationFile>(
      data, size, [](zv::ClipInformationFile& c, uint8_t* buf, size_t cap) { return c.WriteClipInformation(buf, cap); });
}

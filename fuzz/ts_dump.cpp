// The packet dump of `zelvane dump CLIP.m2ts`: no sequence of source packets
// may crash it or read outside a packet, and a packet it refuses must say why.
#include <cstdlib>

#include "mux/ts_dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CSourcePacketDump dump;
  zv::SDumpNode root;
  std::string error;
  for (size_t at = 0, spn = 0; at + zv::kSourcePacketSize <= size; at += zv::kSourcePacketSize, ++spn) {
    if (!dump.Add(data + at, spn, root, error)) {
      if (error.empty()) std::abort();
      break;
    }
  }
  dump.Finish(root);
  root.Render();
  return 0;
}

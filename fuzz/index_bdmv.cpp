// index.bdmv reader: no input may crash it or read outside the buffer, and
// whatever it accepts must write back to a file that reads the same.
#include <cstdlib>

#include "bdnav/index_bdmv.h"
#include "platform/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::INDEX_BDMV x;
  try {
    zv::ParseIndex(data, size, x);
  } catch (const zv::FormatError&) {
    return 0;
  }
  zv::DumpIndex(x);
  std::vector<uint8_t> once = zv::EncodeIndex(x);
  zv::INDEX_BDMV back;
  if (zv::ParseIndex(once.data(), once.size(), back) != once.size()) std::abort();
  if (zv::EncodeIndex(back) != once) std::abort();
  return 0;
}

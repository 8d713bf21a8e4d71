// Graphics stream reader on untrusted bytes, raw and headed framing: every
// segment read is written again and reads back; the interactive composition
// is stable once written.
#include <cstdlib>
#include <string>

#include "graphics/composition.h"
#include "graphics/segments.h"
#include "platform/bytes.h"

namespace {

void ReadAll(const uint8_t* data, size_t size, bool headed) {
  zv::CMemoryInput in(data, size);
  std::string error;
  for (int n = 0; n < 1000; ++n) {
    zv::CDsData ds;
    if (zv::ReadDisplaySet(in, ds, headed, error) != zv::kDsOk) return;
    std::vector<uint8_t> ic = ds.Composition();
    try {
      // Reserved bits and bytes after the composition are not kept: what we
      // write must read back to the same bytes.
      zv::SInteractiveComposition c = zv::ParseComposition(ic.data(), ic.size());
      std::vector<uint8_t> written = zv::WriteComposition(c);
      zv::SInteractiveComposition again = zv::ParseComposition(written.data(), written.size());
      if (zv::WriteComposition(again) != written) std::abort();
    } catch (const zv::FormatError&) {
    }
    for (const zv::CSegmentBase* s : ds.Segments()) {
      std::vector<uint8_t> bytes = s->Bytes();
      if (bytes.empty()) continue;  // a WDS of more than two windows is not written
      zv::CDsData again;
      zv::CMemoryInput back(bytes.data(), bytes.size());
      if (!zv::ReadSegment(back, again, error)) std::abort();
      std::string text;
      s->Dump(text, "");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadAll(data, size, false);
  ReadAll(data, size, true);
  return 0;
}

// A menu imported from an untrusted graphics stream (raw or headed): the
// import fails cleanly or gives a model that compiles (or stops with a
// logged error) without reading or writing out of bounds.
#include <cstdlib>

#include "graphics/ig_compiler.h"
#include "platform/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CMemoryInput in(data, size);
  zv::CGsData gs;
  std::string error;
  if (!zv::ReadGsData(in, zv::IsHeadedFraming(data, size), gs, error)) return 0;
  zv::CIgObject ig;
  if (!ig.BuildFromStream(gs, &error)) return 0;
  zv::File sink;
  if (!sink.Open("/dev/null", zv::File::kReadWrite)) std::abort();
  ig.WriteStream(sink, nullptr, true, {}, true, error);
  return 0;
}

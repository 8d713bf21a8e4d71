// Bmp decoder on untrusted bytes; whatever decodes also converts to an
// indexed picture.
#include "graphics/graphic_object.h"
#include "platform/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CPicture pic;
  std::string error;
  if (!zv::DecodeBmp(data, size, pic, error)) return 0;
  if (static_cast<size_t>(pic.width) * pic.height <= (1u << 16)) zv::ToIndexedImage(pic);
  return 0;
}

// Object data decoder on untrusted bytes; a decoded object codes again to
// data that decodes to the same pixels.
#include <cstdlib>

#include "graphics/object_coding.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto obj = zv::DecodeObject(data, size);
  if (size >= 2) {
    std::vector<uint8_t> line(static_cast<size_t>(data[0]) * 8);
    zv::DecodeLine(data + 2, size - 2, line.data(), static_cast<int>(line.size()));
  }
  if (!obj || static_cast<size_t>(obj->width) * obj->height > (1u << 20)) return 0;
  zv::CPicture pic;
  pic.Allocate(obj->width, obj->height, zv::PixelFormat::Indexed8);
  pic.pixels = obj->pixels;
  std::vector<uint8_t> coded = zv::EncodeObject(pic);
  auto back = zv::DecodeObject(coded.data(), coded.size());
  if (coded.size() - 3 <= 0xFFFFFF && (!back || back->pixels != obj->pixels)) std::abort();
  return 0;
}

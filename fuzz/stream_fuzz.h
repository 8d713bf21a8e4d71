// Shared body of the stream-parser fuzz targets: the input becomes a stream
// file with the given extension, is analysed, and every unit is served.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <string>

#include "fuzz_temp.h"
#include "platform/file.h"
#include "streams/stream_context.h"

inline std::string& FuzzPath() {
  static std::string path;
  return path;
}

inline int FuzzStreamFile(const uint8_t* data, size_t size, const char* ext) {
  std::string& path = FuzzPath();
  if (path.empty()) path = FuzzFolder() + "/input" + ext;
  std::string error;
  if (!zv::WriteWholeFile(path, data, size, error)) std::abort();
  ::unlink((path + ".dsi").c_str());
  {
    zv::SStreamContext ctx;
    zv::SSourceParams src;
    src.path = path;
    if (zv::OpenStream(src, ctx, {}, nullptr) == zv::kOk) {
      while (zv::NextAu(ctx)) {
      }
    }
  }
  ::unlink((path + ".dsi").c_str());
  return 0;
}

// MovieObject.bdmv reader and the command disassembler: no input may crash
// them; accepted files write back unchanged in content, and every command
// shown as text assembles to the same bytes.
#include <cstdlib>

#include "bdnav/movie_objects.h"
#include "platform/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::MOVIE_OBJECTS x;
  try {
    zv::ParseMovieObjects(data, size, x);
  } catch (const zv::FormatError&) {
    return 0;
  }
  zv::DumpMovieObjects(x);
  for (const auto& o : x.objects)
    for (const auto& c : o.commands) {
      std::string text = zv::CommandText(c);
      if (text.rfind("raw ", 0) == 0) continue;
      zv::CNavCmd again;
      if (!zv::ParseCommandText(text, again) || !(again == c)) std::abort();
    }
  std::vector<uint8_t> once = zv::EncodeMovieObjects(x);
  zv::MOVIE_OBJECTS back;
  if (zv::ParseMovieObjects(once.data(), once.size(), back) != once.size()) std::abort();
  if (!(back.objects == x.objects) || zv::EncodeMovieObjects(back) != once) std::abort();
  return 0;
}

// Sound file reader: no input may crash it or read outside the buffer, and
// whatever it accepts must write back to a file that reads the same.
#include <cstdlib>

#include "bdnav/sound_bdmv.h"
#include "platform/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::CSoundBdmv x;
  std::string error;
  if (!x.Parse(data, size, &error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  zv::SDumpNode tree;
  zv::DumpSoundBytes(data, size, tree);
  std::vector<uint8_t> once;
  if (!x.Encode(once, &error)) {
    // The format's count field reaches 255; the writer stops at 128.
    if (x.Count() > zv::kMaxSoundEntries) return 0;
    std::abort();
  }
  zv::CSoundBdmv back;
  if (!back.Parse(once.data(), once.size(), &error)) std::abort();
  std::vector<uint8_t> twice;
  if (!back.Encode(twice, &error) || twice != once) std::abort();
  return 0;
}

#include "app/properties.h"

#include "bdnav/playlist_file.h"
#include "platform/paths.h"

namespace zvapp {

const char* PlaybackTypeName(uint8_t type) {
  switch (type) {
    case 1: return "Sequential";
    case 2: return "Random";
    case 3: return "Shuffle";
    default: return "Reserved";
  }
}

const char* StillModeName(uint8_t mode) {
  switch (mode) {
    case 0: return "No";
    case 1: return "Finite";
    case 2: return "Infinite";
    default: return "?";
  }
}

bool GetUoBit(const uint8_t (&mask)[8], int bit) { return (mask[bit / 8] & (0x80 >> (bit % 8))) != 0; }

void SetUoBit(uint8_t (&mask)[8], int bit, bool on) {
  const auto m = static_cast<uint8_t>(0x80 >> (bit % 8));
  if (on) mask[bit / 8] = static_cast<uint8_t>(mask[bit / 8] | m);
  else mask[bit / 8] = static_cast<uint8_t>(mask[bit / 8] & ~m);
}

bool IsFixedUoBit(int bit) { return bit == 0 || bit == 1 || bit == 6 || bit == 9 || bit == 22 || bit == 32; }

int UoBitOfLabel(const std::string& label) {
  for (int bit = 0; bit < zv::kNamedUoBits; ++bit)
    if (!IsFixedUoBit(bit) && zv::EqualsNoCase(label, zv::UoBitLabel(bit))) return bit;
  return -1;
}

std::vector<std::string> UoLabelsSet(const uint8_t (&mask)[8]) {
  std::vector<std::string> out;
  for (int bit = 0; bit < zv::kNamedUoBits; ++bit)
    if (GetUoBit(mask, bit)) out.emplace_back(zv::UoBitLabel(bit));
  return out;
}

}  // namespace zvapp

#include "edit/values.h"

#include <cstdlib>

#include "bdnav/playlist_file.h"
#include "model/project.h"
#include "platform/paths.h"

namespace zvedit {

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

bool ParseSoundId(const zv::CNamedObject& obj, const std::string& value, int32_t& id, std::string& why) {
  if (zv::EqualsNoCase(value, "none")) return id = -1, true;
  const zv::CNamedObject* top = &obj;
  while (top->m_pParent) top = top->m_pParent;
  const auto* project = dynamic_cast<const zv::CZvObject*>(top);
  const size_t count = project ? project->SoundCount() : 0;
  char* end = nullptr;
  const long n = std::strtol(value.c_str(), &end, 10);
  if (value.empty() || *end != '\0' || n < 0 || n > 254) return why = "expected a sound id, 0 to 254, or none", false;
  if (count == 0)
    return why = "the project has no sound file (choose one with \"zelvane sound set P.zvpj FILE\")", false;
  if (static_cast<size_t>(n) >= count)
    return why = "the project's sound file has " + std::to_string(count) + " sounds, ids 0 to " +
                 std::to_string(count - 1),
           false;
  id = static_cast<int32_t>(n);
  return true;
}

}  // namespace zvedit

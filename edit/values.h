// Names and values of the settings that `show` prints and `set` changes, so
// that every shell speaks the same words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "named/named_object.h"

namespace zvedit {

const char* PlaybackTypeName(uint8_t type);  // 1 "Sequential", 2 "Random", 3 "Shuffle"
const char* StillModeName(uint8_t mode);     // 0 "No", 1 "Finite", 2 "Infinite"

// User-operation mask tables as the model stores them: 8 bytes, bit n in
// byte n / 8 under mask 0x80 >> (n % 8); a set bit prohibits the operation.
bool GetUoBit(const uint8_t (&mask)[8], int bit);
void SetUoBit(uint8_t (&mask)[8], int bit, bool on);
// Bits the user may not change (menu call, title search, first play, pause
// off and the reserved ones).
bool IsFixedUoBit(int bit);
// The bit whose label ("ChapterSearch") matches `label` in any letter case
// and that the user may change; -1 when none.
int UoBitOfLabel(const std::string& label);
// Labels of the named bits that are set.
std::vector<std::string> UoLabelsSet(const uint8_t (&mask)[8]);

// Button sound ids as `set` takes them: "N" or "none" (-1) for an object of
// a project; false with `why` when the value is not a number or the
// project's sound file has no sound N.
bool ParseSoundId(const zv::CNamedObject& obj, const std::string& value, int32_t& id, std::string& why);

}  // namespace zvedit

// Button sound ids as `set` takes them: a sound of the project's sound file,
// or none.
#pragma once

#include <cstdint>
#include <string>

#include "named/named_object.h"

namespace zvapp {

// "N" or "none" (-1) for an object of a project; false with `why` when the
// value is not a number or the project's sound file has no sound N.
bool ParseSoundId(const zv::CNamedObject& obj, const std::string& value, int32_t& id, std::string& why);

}  // namespace zvapp

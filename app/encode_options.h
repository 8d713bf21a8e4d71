// The encode options of `source add` (--encode, --format, --quality,
// --bitrate, --duration).
#pragma once

#include <string>

#include "app/command.h"
#include "edit/source_encode.h"

namespace zvapp {

// False with `error` for a value that cannot be taken.
bool ReadEncodeOptions(const Args& args, zvedit::SEncodeRequest& request, std::string& error);

}  // namespace zvapp

// Opening a project for a shell command.
#pragma once

#include <string>

#include "model/project.h"
#include "platform/prompt.h"

namespace zvapp {

// Opens `path` (reopening every source, whose messages go to `prompt`) and
// prints why when it cannot. A command that saves the project afterwards
// passes `forChange`: then a project that could not be reopened as stored
// (a source file missing or no longer readable) is refused, because saving
// it would silently drop those sources and their track settings.
bool LoadProjectFor(const char* command, const std::string& path, zv::CZvObject& project, zv::IPrompt& prompt,
                    bool forChange);

}  // namespace zvapp

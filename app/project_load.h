// Opening a project for a shell command.
#pragma once

#include <string>

#include "model/project.h"
#include "platform/file_lock.h"
#include "platform/prompt.h"

namespace zvapp {

// Opens `path` (reopening every source, whose messages go to `prompt`) and
// prints why when it cannot. A command that saves the project afterwards
// passes `forChange`: then a project that could not be reopened as stored
// (a source file missing or no longer readable) is refused, because saving
// it would silently drop those sources and their track settings. A command
// that saves also passes `lock`, which then holds the project's lock (see
// LockProject) until the caller drops it after saving.
bool LoadProjectFor(const char* command, const std::string& path, zv::CZvObject& project, zv::IPrompt& prompt,
                    bool forChange, zv::CFileLock* lock = nullptr);

// LoadProjectFor (for a change, holding `lock`), then the menu at
// `menuPath`: null, having printed why, when the project does not open or
// the path names no menu (`notAMenu` completes the sentence "\"PATH\" ...")
// or, with `inTopMenu`, no menu of the top menu.
zv::CZvIgObject* LoadMenuFor(const char* command, const std::string& path, const std::string& menuPath,
                             zv::CZvObject& project, zv::IPrompt& prompt, zv::CFileLock& lock,
                             const std::string& notAMenu, bool inTopMenu = false);

// Takes the advisory lock on the project file that every command changing
// it holds from reading to saving, so that two commands on one project take
// turns instead of one losing the other's change. Refuses a project that is
// not a regular file or is read-only; prints why and returns false.
bool LockProject(const char* command, const std::string& path, zv::CFileLock& lock);

}  // namespace zvapp

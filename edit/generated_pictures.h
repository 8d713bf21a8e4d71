// The pictures `menu generate` wrote into its folder are listed there, so
// that generating again removes the ones no menu uses any more: only files
// it made itself, never the user's.
#pragma once

#include <string>
#include <vector>

#include "model/project.h"

namespace zvedit {

// The list's name inside the picture folder.
inline constexpr const char* kGeneratedList = ".zelvane-generated";

// Removes the files of `folder`'s list that are not in `written` and that no
// graphic of `project` refers to, then lists `written` and the kept ones.
// Call it once the project that uses `written` is saved. False with `error`
// naming the file when one cannot be removed or the list not written.
bool RemoveStalePictures(zv::CZvObject& project, const std::string& folder, const std::vector<std::string>& written,
                         std::string& error);

}  // namespace zvedit

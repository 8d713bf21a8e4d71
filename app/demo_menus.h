// The menus of the sample disc.
#pragma once

#include <filesystem>
#include <string>

#include "model/project.h"

namespace zvapp {

// Fills the top menu and the movie's pop-up menu of the demo project from
// the button pictures in `pictures` (made by make-menu-media.sh). False with
// `error` when a picture cannot be read.
bool AddDemoMenus(zv::CZvObject& project, const std::filesystem::path& pictures, std::string& error);

}  // namespace zvapp

// The menus of the sample disc.
#pragma once

#include <filesystem>
#include <string>

#include "model/project.h"
#include "platform/prompt.h"

namespace zvapp {

// Fills the top menu of the demo project from the button pictures in
// `pictures` (made by make-menu-media.sh) and the movie's pop-up menu from
// the layered design popup.psd there (made by make-menu-psd.sh). False with
// `error` when a picture or the design cannot be read; `warning` tells of a
// side file of the converted design that was not written.
bool AddDemoMenus(zv::CZvObject& project, const std::filesystem::path& pictures, std::string& error,
                  std::string& warning);

// Builds `media`/Sound.bdmv from menu/select.wav and menu/activate.wav,
// makes it the project's sound file and gives every button of both menus
// sound 0 when selected and sound 1 when activated.
bool AddDemoSounds(zv::CZvObject& project, const std::filesystem::path& media, zv::IPrompt& prompt,
                   std::string& error);

}  // namespace zvapp

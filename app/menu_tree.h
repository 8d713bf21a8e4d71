// The menu model in the shell: the tree `show` prints, and the settings
// `set` changes on pages, button overlap groups and buttons.
#pragma once

#include <string>

#include "model/menu.h"

namespace zvapp {

// Epochs, display sets, graphics, pages, BOGs and buttons, each line
// starting with `indent`.
void PrintMenuTree(zv::CZvIgObject& menu, const std::string& indent);

// The same tree as a JSON array of epochs.
void MenuTreeJson(zv::CZvIgObject& menu, class Json& j);

// Whether `obj` is a page, a BOG or a button.
bool IsMenuPart(const zv::CNamedObject& obj);
// Applies KEY=VALUE to a page, BOG or button; false with `error` set when
// the value is refused.
bool SetMenuPart(zv::CNamedObject& obj, const std::string& key, const std::string& value, std::string& error);

// Reads the size of every graphic of the menu's epochs whose picture has
// not been decoded yet (sizes are not stored in the project file).
void LoadGraphicSizes(zv::CIgObject& menu);

}  // namespace zvapp

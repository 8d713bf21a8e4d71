// The menu model in the shell: the tree `show` prints.
#pragma once

#include <string>

#include "edit/properties.h"
#include "model/menu.h"

namespace zvapp {

// Epochs, display sets, graphics, pages, BOGs and buttons, each line
// starting with `indent`.
void PrintMenuTree(zv::CZvIgObject& menu, const std::string& indent);

// The same tree as a JSON array of epochs.
void MenuTreeJson(zv::CZvIgObject& menu, class Json& j);

using zvedit::LoadGraphicSizes;

}  // namespace zvapp

// Finding the menu a menu command compiles.
#pragma once

#include "app/command.h"
#include "model/project.h"

namespace zvapp {

// Loads P.zvpj (args[0]) read-only and finds MENU (args[1]), which must have
// a page with a button group and a video format (taken from its film when
// it has none); null with `rc` set and the reason shown otherwise.
zv::CZvIgObject* MenuToCompile(const CommandInfo& self, const Args& args, zv::CZvObject& project, const char* what,
                               int& rc);

}  // namespace zvapp

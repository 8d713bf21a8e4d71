// Where the shell looks for menu templates besides the folder the program
// was built with.
#pragma once

#include <string>
#include <vector>

namespace zvapp {

// Beside the program (a build tree), then the installed share folder.
std::vector<std::string> ProgramTemplateFolders();

}  // namespace zvapp

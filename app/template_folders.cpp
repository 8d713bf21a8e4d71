#include "app/template_folders.h"

#include <filesystem>
#include <system_error>

namespace zvapp {

std::vector<std::string> ProgramTemplateFolders() {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    out.push_back((exe.parent_path() / "templates").string());
    out.push_back((exe.parent_path().parent_path() / "share" / "zelvane" / "templates").string());
  }
  return out;
}

}  // namespace zvapp

#include "app/project_load.h"

#include <cstdio>

namespace zvapp {

bool LoadProjectFor(const char* command, const std::string& path, zv::CZvObject& project, zv::IPrompt& prompt,
                    bool forChange) {
  bool modified = false;
  std::string message;
  if (zv::OpenProjectFile(path, project, prompt, zv::Progress{}, modified, message) != zv::kOk) {
    std::fprintf(stderr, "zelvane %s: cannot load \"%s\": %s\n", command, path.c_str(), message.c_str());
    return false;
  }
  if (!modified) return true;
  if (forChange) {
    std::fprintf(stderr,
                 "zelvane %s: \"%s\" was left as it was: what it refers to could not all be opened again (see "
                 "above); put the files back, or drop a lost one with \"zelvane source remove %s CLIP FILE\"\n",
                 command, path.c_str(), path.c_str());
    return false;
  }
  std::fprintf(stderr, "zelvane %s: \"%s\" needed changes while it was opened\n", command, path.c_str());
  return true;
}

}  // namespace zvapp

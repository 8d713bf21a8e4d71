#include "app/project_load.h"

#include "model/object_path.h"
#include "platform/file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace zvapp {

bool LockProject(const char* command, const std::string& path, zv::CFileLock& lock) {
  const auto fail = [&](const std::string& why) {
    std::fprintf(stderr, "zelvane %s: %s\n", command, why.c_str());
    return false;
  };
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return fail("cannot load \"" + path + "\": " + zv::File::ErrorText("open", path, errno));
  if (!S_ISREG(st.st_mode)) return fail("\"" + path + "\" is not a regular file; it is left alone");
  // Saving renames a new file into place, which a read-only file would not
  // stop: the mode is the user's word. (access() alone says yes to root.)
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0)
    return fail("\"" + path + "\" is read-only; it was left as it was");
  // A save replaces the file, so a lock taken on the file that was there
  // while we waited locks nothing any more: take it again on the new one.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(zv::CFileLock::kDefaultWaitMs);
  for (;;) {
    const int waitMs = static_cast<int>(std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
    struct stat before, after;
    if (::stat(path.c_str(), &before) != 0) return fail(zv::File::ErrorText("open", path, errno));
    std::string error;
    if (!lock.Lock(path, error, waitMs)) return fail(error);
    if (::stat(path.c_str(), &after) == 0 && after.st_ino == before.st_ino && after.st_dev == before.st_dev) return true;
    lock.Unlock();
    if (std::chrono::steady_clock::now() >= deadline)
      return fail("Cannot lock \"" + path + "\": it is in use by another zelvane command");
  }
}

bool LoadProjectFor(const char* command, const std::string& path, zv::CZvObject& project, zv::IPrompt& prompt,
                    bool forChange, zv::CFileLock* lock) {
  if (lock && !LockProject(command, path, *lock)) return false;
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

zv::CZvIgObject* LoadMenuFor(const char* command, const std::string& path, const std::string& menuPath,
                             zv::CZvObject& project, zv::IPrompt& prompt, zv::CFileLock& lock,
                             const std::string& notAMenu, bool inTopMenu) {
  if (!LoadProjectFor(command, path, project, prompt, true, &lock)) return nullptr;
  std::string error;
  zv::CNamedObject* obj = zv::FindObject(project, menuPath, error);
  auto* menu = dynamic_cast<zv::CZvIgObject*>(obj);
  bool placed = !inTopMenu;
  for (zv::CNamedObject* o = menu; o && !placed; o = o->m_pParent) placed = o == &project.m_topMenu;
  if (menu && placed) return menu;
  const std::string why = !obj ? error : "\"" + menuPath + "\" " + notAMenu;
  std::fprintf(stderr, "zelvane %s: %s\n", command, why.c_str());
  return nullptr;
}

}  // namespace zvapp

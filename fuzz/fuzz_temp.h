// The temporary folder of one fuzzing run: unique to the run (its process
// id and a random part in the name), the process's TMPDIR while it runs so
// that stream information falling back to the temporary folder lands there
// too, and removed at exit. A crash skips that removal; the next run of any
// target removes the folders of runs whose process is gone.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/paths.h"

inline void RemoveFuzzFolder();

inline std::string& FuzzFolderPath() {
  static std::string folder;
  return folder;
}

inline const std::string& FuzzFolder() {
  std::string& folder = FuzzFolderPath();
  if (!folder.empty()) return folder;
  namespace fs = std::filesystem;
  const std::string base = zv::TempFolder();
  std::error_code ec;
  const std::string prefix = "zv-fuzz-";
  for (const fs::directory_entry& e : fs::directory_iterator(base, ec)) {
    const std::string name = e.path().filename().string();
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    const size_t dash = name.find('-', prefix.size());
    if (dash == std::string::npos) continue;
    const std::string pid = name.substr(prefix.size(), dash - prefix.size());
    if (pid.empty() || pid.size() > 10 || pid.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code sec;
    if (!fs::is_directory(fs::symlink_status(e.path(), sec))) continue;
    if (::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH) fs::remove_all(e.path(), sec);
  }
  std::string tmpl = base + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(tmpl.data())) std::abort();
  folder = tmpl;
  ::setenv("TMPDIR", folder.c_str(), 1);
  std::atexit(RemoveFuzzFolder);
  return folder;
}

inline void RemoveFuzzFolder() {
  std::error_code ec;
  if (!FuzzFolderPath().empty()) std::filesystem::remove_all(FuzzFolderPath(), ec);
}

// An advisory lock (flock) held on a file or folder for as long as the
// object lives. Two Zelvane processes that lock the same path take turns:
// the second waits a moment and then gives up with a message that names
// the lock, instead of both writing the same files at once.
#pragma once

#include <string>

namespace zv {

class CFileLock {
 public:
  // How long a second process waits for the holder before it gives up.
  static constexpr int kDefaultWaitMs = 3000;

  CFileLock() = default;
  ~CFileLock() { Unlock(); }
  CFileLock(const CFileLock&) = delete;
  CFileLock& operator=(const CFileLock&) = delete;

  // Takes an exclusive lock on `path` (an existing file or folder; a
  // symbolic link is followed), waiting up to `waitMs` for another holder.
  // False with `error` set: "Cannot lock "PATH": <reason>", where the reason
  // is "it is in use by another zelvane command" when the wait ran out.
  bool Lock(const std::string& path, std::string& error, int waitMs = kDefaultWaitMs);
  void Unlock();
  bool Locked() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace zv

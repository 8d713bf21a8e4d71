#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace zv {

bool CFileLock::Lock(const std::string& path, std::string& error, int waitMs) {
  Unlock();
  // Read-only and non-blocking: a folder can be opened this way, and a
  // named pipe put in the lock's place does not hang the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = "Cannot lock \"" + path + "\": " + std::strerror(errno);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
    const int err = errno;
    if (err == EINTR) continue;
    if (err != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
      ::close(fd);
      error = "Cannot lock \"" + path + "\": " +
              (err == EWOULDBLOCK ? std::string("it is in use by another zelvane command") : std::strerror(err));
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void CFileLock::Unlock() {
  if (fd_ < 0) return;
  // Closing the descriptor drops the lock.
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace zv

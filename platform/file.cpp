#include "platform/file.h"

#include "platform/byte_source.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zv {

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& o) noexcept
    : fd_(o.fd_), src_(std::move(o.src_)), pos_(o.pos_), path_(std::move(o.path_)), error_(std::move(o.error_)) {
  o.fd_ = -1;
}

File& File::operator=(File&& o) noexcept {
  if (this != &o) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = o.fd_;
    src_ = std::move(o.src_);
    pos_ = o.pos_;
    path_ = std::move(o.path_);
    error_ = std::move(o.error_);
    o.fd_ = -1;
  }
  return *this;
}

std::string File::ErrorText(const char* verb, const std::string& path, int err) {
  return std::string("Cannot ") + verb + " \"" + path + "\": " + std::strerror(err);
}

bool File::Fail(const char* verb, int err) {
  error_ = ErrorText(verb, path_, err);
  return false;
}

bool File::Open(const std::string& path, Mode mode) {
  if (IsOpen()) Close();
  path_ = path;
  error_.clear();
  if (mode == kRead && IsTrackPath(path)) {
    const ByteSourceOpener opener = GetByteSourceOpener();
    if (!opener) {
      error_ = "Cannot open \"" + path_ + "\": container tracks are not readable here";
      return false;
    }
    std::string why;
    std::unique_ptr<IByteSource> src = opener(path, why);
    if (!src) {
      error_ = "Cannot open \"" + path_ + "\": " + why;
      return false;
    }
    src_ = std::move(src);
    pos_ = 0;
    return true;
  }
  int flags = O_CLOEXEC;
  const char* verb = "open";
  switch (mode) {
    // Non-blocking, so that a named pipe without a writer is refused below
    // instead of hanging the open.
    case kRead: flags |= O_RDONLY | O_NONBLOCK; break;
    case kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; verb = "create"; break;
    case kReadWrite: flags |= O_RDWR; break;
    case kOverwrite: flags |= O_RDWR | O_CREAT; verb = "create"; break;
    case kCreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; verb = "create"; break;
  }
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) return Fail(verb, errno);
  struct stat st;
  const int err = ::fstat(fd_, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err != 0) {
    ::close(fd_);
    fd_ = -1;
    return Fail(verb, err);
  }
  if (mode == kRead) {
    // Everything read here is seeked in and measured: pipes, sockets and
    // devices cannot serve that.
    if (!S_ISREG(st.st_mode)) {
      ::close(fd_);
      fd_ = -1;
      error_ = "Cannot open \"" + path_ + "\": Not a regular file";
      return false;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
  }
  return true;
}

bool File::Close() {
  src_.reset();
  if (fd_ < 0) return true;
  int r = ::close(fd_);
  fd_ = -1;
  if (r != 0) return Fail("write", errno);
  return true;
}

int64_t File::Read(void* buf, size_t n) {
  if (src_) {
    const int64_t len = src_->Length();
    const size_t want = pos_ >= len ? 0 : static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), len - pos_));
    std::string why;
    if (want > 0 && src_->ReadAt(pos_, buf, want, why) != 0) {
      error_ = "Cannot read \"" + path_ + "\": " + why;
      return -1;
    }
    pos_ += static_cast<int64_t>(want);
    return static_cast<int64_t>(want);
  }
  size_t done = 0;
  auto* p = static_cast<uint8_t*>(buf);
  while (done < n) {
    ssize_t r = ::read(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      Fail("read", errno);
      return -1;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(done);
}

bool File::ReadExact(void* buf, size_t n) {
  int64_t r = Read(buf, n);
  if (r < 0) return false;
  if (static_cast<size_t>(r) != n) {
    error_ = "Cannot read \"" + path_ + "\": unexpected end of file";
    return false;
  }
  return true;
}

int File::ReadExactAtShared(int64_t pos, void* buf, size_t n) const {
  if (pos < 0) return EINVAL;
  if (src_) {
    std::string why;
    return src_->ReadAt(pos, buf, n, why);
  }
  size_t done = 0;
  auto* p = static_cast<uint8_t*>(buf);
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(pos + static_cast<int64_t>(done)));
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (r == 0) return -1;
    done += static_cast<size_t>(r);
  }
  return 0;
}

bool File::ReadExactAt(int64_t pos, void* buf, size_t n) {
  if (src_) {
    // The source's own reason (a damaged container) says more than errno.
    std::string why;
    const int err = pos < 0 ? EINVAL : src_->ReadAt(pos, buf, n, why);
    if (err == 0) return true;
    error_ = "Cannot read \"" + path_ + "\": " + (err < 0 ? std::string("unexpected end of file") : why);
    return false;
  }
  const int err = ReadExactAtShared(pos, buf, n);
  if (err == 0) return true;
  if (err < 0) {
    error_ = "Cannot read \"" + path_ + "\": unexpected end of file";
    return false;
  }
  return Fail("read", err);
}

bool File::Write(const void* buf, size_t n) {
  if (src_) return Fail("write", EBADF);
  size_t done = 0;
  auto* p = static_cast<const uint8_t*>(buf);
  while (done < n) {
    ssize_t r = ::write(fd_, p + done, n - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Fail("write", errno);
    }
    if (r == 0) return Fail("write", ENOSPC);
    done += static_cast<size_t>(r);
  }
  return true;
}

bool File::Seek(int64_t pos) {
  if (src_) {
    if (pos < 0) return Fail("read", EINVAL);
    pos_ = pos;
    return true;
  }
  if (::lseek(fd_, pos, SEEK_SET) < 0) return Fail("read", errno);
  return true;
}

int64_t File::Tell() const { return src_ ? pos_ : ::lseek(fd_, 0, SEEK_CUR); }

int64_t File::Length() const {
  if (src_) return src_->Length();
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

bool File::Truncate(int64_t len) {
  if (src_) return Fail("write", EBADF);
  if (::ftruncate(fd_, len) != 0) return Fail("write", errno);
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error) {
  File f;
  if (!f.Open(path, File::kRead)) {
    error = f.Error();
    return false;
  }
  int64_t len = f.Length();
  if (len < 0) {
    error = File::ErrorText("read", path, errno);
    return false;
  }
  out.resize(static_cast<size_t>(len));
  if (!f.ReadExact(out.data(), out.size())) {
    error = f.Error();
    return false;
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t n, std::string& error) {
  File f;
  if (!f.Open(path, File::kCreate) || !f.Write(data, n) || !f.Close()) {
    error = f.Error();
    return false;
  }
  return true;
}

std::string CreateTempBeside(const std::string& path, std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string folder = [&] {
    const size_t k = path.find_last_of('/');
    return k == std::string::npos ? std::string() : path.substr(0, k + 1);
  }();
  // The name keeps a readable part of the original, cut so that it stays
  // within the file-name limit.
  std::string name = path.substr(folder.size()).substr(0, 180);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string tmp = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                            std::to_string(counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return tmp;
    }
    if (errno != EEXIST) {
      error = File::ErrorText("create", tmp, errno);
      return {};
    }
  }
  error = File::ErrorText("create", path, EEXIST);
  return {};
}

namespace {
bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() <= 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}
// Only a process that is certainly gone: one of another user, or an id
// taken again, counts as running.
bool ProcessGone(long pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH; }
}  // namespace

void RemoveTempsOfDeadRuns(const std::string& folderIn, const std::string& prefix, bool counted) {
  const std::string folder = folderIn.empty() ? std::string(".") : folderIn;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    std::string rest = name.substr(prefix.size()), pid = rest;
    if (counted) {
      const size_t dot = rest.find('.');
      if (dot == std::string::npos || rest.size() < 4 || rest.compare(rest.size() - 4, 4, ".tmp") != 0) continue;
      pid = rest.substr(0, dot);
      if (!AllDigits(rest.substr(dot + 1, rest.size() - 4 - dot - 1))) continue;
    }
    if (!AllDigits(pid) || std::stol(pid) == static_cast<long>(::getpid()) || !ProcessGone(std::stol(pid))) continue;
    const std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
  }
  ::closedir(dir);
}

void RemoveDeadTempsBeside(const std::string& path) {
  const size_t k = path.find_last_of('/');
  const std::string folder = k == std::string::npos ? std::string() : path.substr(0, k);
  const std::string name = path.substr(k == std::string::npos ? 0 : k + 1).substr(0, 180);
  RemoveTempsOfDeadRuns(folder, "." + name + ".", true);
}

bool WriteFileAtomic(const std::string& pathIn, const void* data, size_t n, std::string& error, AtLink atLink) {
  // Through a symbolic link the file it points to is replaced; replacing the
  // link itself would leave that file stale.
  std::string path = pathIn;
  struct stat st;
  if (atLink == AtLink::kFollow && ::lstat(pathIn.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* target = ::realpath(pathIn.c_str(), nullptr)) {
      path = target;
      std::free(target);
    }
  }
  // The new file keeps the permissions of the one it replaces.
  const int got = atLink == AtLink::kReplace ? ::lstat(path.c_str(), &st) : ::stat(path.c_str(), &st);
  const bool replacing = got == 0 && S_ISREG(st.st_mode);
  // A name of its own, so that two processes saving one file at once never
  // write into or rename away each other's temporary file.
  RemoveDeadTempsBeside(path);
  const std::string tmp = CreateTempBeside(path, error);
  if (tmp.empty()) return false;
  {
    File f;
    bool ok = f.Open(tmp, File::kReadWrite) && f.Write(data, n);
    if (ok) {
      // Open() has no accessor for the descriptor; reopen to sync the bytes.
      int fd = ::open(tmp.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
      }
    }
    ok = ok && f.Close();
    if (ok && replacing) ::chmod(tmp.c_str(), st.st_mode & 07777);
    if (!ok) {
      error = f.Error();
      ::unlink(tmp.c_str());
      return false;
    }
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    error = File::ErrorText("write", path, errno);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace zv

#include "platform/file_view.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

namespace zv {

namespace {

// Mapped views the SIGBUS handler knows. The handler only reads the table;
// a slot is published by its end address last and withdrawn by it first.
struct SViewSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<std::atomic<bool>*> flag{nullptr};
  std::atomic<bool> used{false};
};
constexpr int kSlots = 64;
SViewSlot g_slots[kSlots];
struct sigaction g_previous;
std::once_flag g_installed;
uintptr_t g_pageSize = 4096;  // read once, before the handler can run

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  const uintptr_t page = g_pageSize;
  for (SViewSlot& s : g_slots) {
    const uintptr_t end = s.end.load(std::memory_order_acquire);
    const uintptr_t begin = s.begin.load(std::memory_order_acquire);
    if (end == 0 || at < begin || at >= end) continue;
    // Zero pages from the faulting one to the end of the view: the file
    // has nothing there any more.
    const uintptr_t from = at & ~(page - 1);
    if (::mmap(reinterpret_cast<void*>(from), end - from, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
      break;
    if (std::atomic<bool>* f = s.flag.load(std::memory_order_acquire)) f->store(true, std::memory_order_release);
    return;
  }
  // Not a view of ours: what would have happened without this handler.
  if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
  } else {
    // Returning retries the access, which now ends the process as usual.
    ::signal(SIGBUS, SIG_DFL);
  }
}

void InstallHandler() {
  g_pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  struct sigaction sa {};
  sa.sa_sigaction = OnBusError;
  sa.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGBUS, &sa, &g_previous);
}

}  // namespace

int OpenForMapping(const std::string& path, int64_t& size) {
  size = -1;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  if (S_ISREG(st.st_mode)) size = static_cast<int64_t>(st.st_size);
  return fd;
}

bool CFileView::Map(int fd, int64_t pos, size_t n, size_t populateFrom) {
  Unmap();
  if (fd < 0 || pos < 0 || n == 0) {
    errno = EINVAL;
    return false;
  }
  std::call_once(g_installed, InstallHandler);
  int slot = -1;
  for (int i = 0; i < kSlots && slot < 0; ++i) {
    bool expected = false;
    if (g_slots[i].used.compare_exchange_strong(expected, true)) slot = i;
  }
  if (slot < 0) {
    errno = EMFILE;
    return false;
  }
  const auto page = static_cast<int64_t>(g_pageSize);
  const int64_t start = pos / page * page;
  const size_t length = n + static_cast<size_t>(pos - start);
  // Private and writable: a caller may rewrite bytes in place, which
  // copies just that page.
  void* base = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd,
                      static_cast<off_t>(start));
  if (base == MAP_FAILED) {
    const int err = errno;
    g_slots[slot].used.store(false);
    errno = err;
    return false;
  }
  // Page tables filled up front when asked, in the caller's thread (which
  // may be a read-ahead worker), without the copies MAP_POPULATE would make
  // of a writable private mapping. Otherwise, or where that is not
  // supported, pages come in on first access.
#ifdef MADV_POPULATE_READ
  const size_t skip = populateFrom == kNoPopulate ? length : std::min(length, (static_cast<size_t>(pos - start) + populateFrom) / g_pageSize * g_pageSize);
  if (skip < length) ::madvise(static_cast<uint8_t*>(base) + skip, length - skip, MADV_POPULATE_READ);
#endif
  ::madvise(base, length, MADV_SEQUENTIAL);
  base_ = base;
  length_ = length;
  data_ = static_cast<uint8_t*>(base) + (pos - start);
  size_ = n;
  pos_ = pos;
  slot_ = slot;
  shortened_.store(false);
  SViewSlot& s = g_slots[slot];
  s.flag.store(&shortened_, std::memory_order_release);
  s.begin.store(reinterpret_cast<uintptr_t>(base), std::memory_order_release);
  s.end.store(reinterpret_cast<uintptr_t>(base) + length, std::memory_order_release);
  return true;
}

void CFileView::Unmap() {
  if (slot_ >= 0) {
    SViewSlot& s = g_slots[slot_];
    s.end.store(0, std::memory_order_release);
    s.begin.store(0, std::memory_order_release);
    s.flag.store(nullptr, std::memory_order_release);
    s.used.store(false, std::memory_order_release);
    slot_ = -1;
  }
  if (base_) ::munmap(base_, length_);
  base_ = nullptr;
  length_ = 0;
  data_ = nullptr;
  size_ = 0;
}

}  // namespace zv

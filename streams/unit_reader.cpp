#include "streams/unit_reader.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace zv {

namespace {
constexpr size_t kSlotSize = CUnitReader::kCarry + CUnitReader::kWindow;
}  // namespace

CUnitReader::~CUnitReader() {
  Wait();
  views_[0].Unmap();
  views_[1].Unmap();
  if (fd_ >= 0) ::close(fd_);
}

int64_t CUnitReader::Wait() {
  if (!worker_.Pending()) return -1;
  pendingPos_ = -1;
  return worker_.Wait();
}

void CUnitReader::Prefetch(File& file, int64_t length, int slot, int64_t pos) {
  if (pos >= length) return;
  const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kWindow), length - pos));
  uint8_t* dst = slots_[slot].get() + kCarry;
  const File* f = &file;
  pendingSlot_ = slot;
  pendingPos_ = pos;
  // Records no error: the owner reads again itself when this fails.
  worker_.Start([f, dst, pos, n]() -> int64_t { return f->ReadExactAtShared(pos, dst, n) == 0 ? static_cast<int64_t>(n) : -1; });
}

void CUnitReader::PrefetchMap(int64_t length, int slot, int64_t pos) {
  if (pos >= length) return;
  const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kMapWindow), length - pos));
  CFileView* v = &views_[slot];
  const int fd = fd_;
  pendingSlot_ = slot;
  pendingPos_ = pos;
  // The carry room repeats the end of the current window, whose pages are
  // in use there: only the bytes after it are loaded up front. The view
  // being mapped over is unmapped here too, off the caller's thread.
  worker_.Start([v, fd, pos, n]() -> int64_t { return v->Map(fd, pos, n, kCarry) ? static_cast<int64_t>(n) : -1; });
}

uint8_t* CUnitReader::GetMapped(File& file, int64_t length, int64_t offset, uint32_t size) {
  if (fd_ < 0) {
    // A descriptor of its own: the file's position and buffer stay the
    // caller's. A file shorter than the stream it was opened as is refused.
    int64_t size = 0;
    const int fd = OpenForMapping(file.Path(), size);
    if (fd < 0) return nullptr;
    if (size < length) {
      ::close(fd);
      shortened_ = true;
      return nullptr;
    }
    fd_ = fd;
  }
  auto holds = [&](const CFileView& v) {
    return v.Mapped() && offset >= v.Position() && offset + size <= v.Position() + static_cast<int64_t>(v.Size());
  };
  CFileView& cur = views_[cur_];
  if (holds(cur)) return cur.Data() + (offset - cur.Position());
  // Moving on: the window mapped in the background, or (after a jump or a
  // failed background map) one mapped here.
  const bool ahead = pendingPos_ >= 0;
  Wait();
  // Left mapped: the next background map into its slot unmaps it.
  shortened_ = shortened_ || cur.Shortened();
  cur_ ^= 1;
  CFileView& next = views_[cur_];
  shortened_ = shortened_ || next.Shortened();
  if (!ahead || !holds(next)) {
    const auto n = static_cast<size_t>(
        std::max<int64_t>(size, std::min<int64_t>(static_cast<int64_t>(kMapWindow), length - offset)));
    if (!next.Map(fd_, offset, n)) return nullptr;
  }
  const int64_t end = next.Position() + static_cast<int64_t>(next.Size());
  if (end < length) PrefetchMap(length, cur_ ^ 1, end - static_cast<int64_t>(kCarry));
  return next.Data() + (offset - next.Position());
}

uint8_t* CUnitReader::Get(File& file, int64_t length, uint64_t offsetIn, uint32_t size) {
  const auto offset = static_cast<int64_t>(offsetIn);
  if (size > kCarry || offset < 0) return nullptr;
  if (mapped_) return GetMapped(file, length, offset, size);
  if (data_ && offset >= start_ && offset + size <= end_) return data_ + (offset - start_);
  if (!slots_[0]) {
    slots_[0] = std::make_unique_for_overwrite<uint8_t[]>(kSlotSize);
    slots_[1] = std::make_unique_for_overwrite<uint8_t[]>(kSlotSize);
  }

  // The usual case: the unit begins in the current window (or right after
  // it) and the background read holds what follows. The unit's first part
  // moves in front of that window.
  if (data_ && pendingPos_ == end_ && offset >= start_ && offset <= end_ &&
      end_ - offset <= static_cast<int64_t>(kCarry)) {
    const int slot = pendingSlot_;
    const int64_t got = Wait();
    if (got > 0 && offset + size <= end_ + got) {
      const auto tail = static_cast<size_t>(end_ - offset);
      uint8_t* next = slots_[slot].get() + kCarry - tail;
      std::memcpy(next, data_ + (offset - start_), tail);
      cur_ = slot;
      data_ = next;
      start_ = offset;
      end_ += got;
      Prefetch(file, length, cur_ ^ 1, end_);
      return data_;
    }
  }

  // A jump (the first unit, a cut range) or a failed background read: read
  // here, then look ahead again.
  Wait();
  const size_t n = static_cast<size_t>(
      std::max<int64_t>(size, std::min<int64_t>(static_cast<int64_t>(kWindow), length - offset)));
  cur_ ^= 1;
  uint8_t* dst = slots_[cur_].get() + kCarry;
  if (!file.ReadExactAt(offset, dst, n)) {
    data_ = nullptr;
    return nullptr;
  }
  data_ = dst;
  start_ = offset;
  end_ = offset + static_cast<int64_t>(n);
  Prefetch(file, length, cur_ ^ 1, end_);
  return data_;
}

}  // namespace zv

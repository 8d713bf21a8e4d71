// Start-code search through a large read buffer, shared by the parsers of
// start-code streams (H.264, MPEG-2 video): hands out the position of every
// start code and the head of the unit behind it; the bulk of picture data is
// only scanned, never copied.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/worker.h"
#include "streams/nal_reader.h"

namespace zv {

// A regular file is scanned through a mapped window that moves along it,
// so its bytes are never copied out of the page cache. Otherwise the buffer
// is one of two slots: while one is scanned, the bytes that will follow it
// are read into the other in the background, leaving room in front for the
// bytes a refill keeps. Either way each refill presents exactly what one
// read into a single buffer of kBufferSize would, so where units start never
// depends on the reading. In a large mapped file the start codes are found
// ahead on other threads (see StartFinders), with the same result.
class CStartCodeScanner {
 public:
  // 1 MiB: a slot the scan has just read is still in the cache, which
  // makes the copy out of the page cache several times cheaper than into
  // larger buffers.
  static constexpr size_t kBufferSize = 0x100000;

  CStartCodeScanner(File& f, std::vector<uint8_t>& storage) : f_(f) {
    if (OpenMapped()) {
      StartFinders();
      return;
    }
    storage.resize(2 * kSlot);
    slots_[0] = storage.data();
    slots_[1] = storage.data() + kSlot;
    buf_ = slots_[0] + kCarry;
    Prefetch(1, 0);
  }
  ~CStartCodeScanner() {
    worker_.Wait();
    for (CWorker& w : finders_) w.Wait();
    for (SFound& f : finds_) f.view.Unmap();
    if (holdsFinders_) WithFinders().fetch_sub(1);
    view_.Unmap();
    if (fd_ >= 0) ::close(fd_);
  }
  CStartCodeScanner(const CStartCodeScanner&) = delete;
  CStartCodeScanner& operator=(const CStartCodeScanner&) = delete;

  // A file shortened while mapped reads as zeros from the cut on: that is
  // a read error too.
  bool ReadError() const { return readError_ || view_.Shortened(); }
  uint64_t Consumed() const { return static_cast<uint64_t>(base_) + scan_; }

  // The next start code: the offset of its first zero byte and of the byte
  // after its 0x01. False at the end of the file.
  bool Next(int64_t& nalStart, int64_t& payload) {
    // Leading zeros never reach back into the unit before.
    const int64_t lower = base_ + static_cast<int64_t>(scan_);
    for (;;) {
      const size_t j = found_ ? FoundStartCode() : FindStartCode(buf_, scan_, fill_);
      if (j < fill_) {
        size_t k = j - 2;
        while (k > 0 && buf_[k - 1] == 0 && base_ + static_cast<int64_t>(k) > lower) --k;
        nalStart = base_ + static_cast<int64_t>(k);
        payload = base_ + static_cast<int64_t>(j) + 1;
        scan_ = j + 1;
        ++foundNext_;
        return true;
      }
      scan_ = std::max(scan_, fill_);
      // Keep a few bytes so a start code split by the refill is still seen.
      if (!Fill(base_ + static_cast<int64_t>(scan_) - kKeep)) return false;
    }
  }

  // Up to `max` bytes of the unit beginning at `payload`, ending before
  // the next start code; with `raw`, the bytes as they are (for fixed-size
  // headers whose fields may hold a run of zero bytes).
  void Head(int64_t payload, size_t max, std::vector<uint8_t>& out, bool raw = false) {
    out.clear();
    size_t at = static_cast<size_t>(payload - base_);
    if (fill_ - at < max + 3) {
      Fill(payload);
      at = static_cast<size_t>(payload - base_);
    }
    size_t end = std::min(fill_, at + max);
    size_t i = at;
    if (raw) i = end;
    for (; i < end; ++i) {
      if (buf_[i] == 0 && i + 2 < fill_ && buf_[i + 1] == 0 && buf_[i + 2] <= 1) break;
    }
    out.assign(buf_ + at, buf_ + i);
  }

 private:
  static constexpr int64_t kKeep = 64;
  // Room for the bytes a refill keeps: at most a unit head (64 KiB and a
  // start code) or kKeep. A longer tail takes the slow path.
  static constexpr size_t kCarry = 0x20000;
  static constexpr size_t kSlot = kCarry + kBufferSize;

  // Start codes are found ahead of the parser, a chunk of the file at a
  // time on threads of their own, each through its own mapped view: the
  // search reads every byte, the parser only the heads of units. Each
  // chunk lists every offset in it that ends 00 00 01; the parser's window
  // moves exactly as when it searched itself.
  static constexpr int64_t kChunk = int64_t{4} << 20;
  static constexpr int kFinders = 2;
  struct SFound {
    CFileView view;
    std::vector<int64_t> codes;  // file offsets of the 0x01 bytes, rising
  };

  // Files of more than one chunk only: a thread costs more than it saves
  // on less. A few scanners at a time take finders: mapped views are a
  // shared, limited resource, and the parser's own must never lack one.
  static constexpr int kMaxWithFinders = 4;
  static std::atomic<int>& WithFinders() {
    static std::atomic<int> n{0};
    return n;
  }
  void StartFinders() {
    if (length_ <= kChunk) return;
    if (WithFinders().fetch_add(1) >= kMaxWithFinders) {
      WithFinders().fetch_sub(1);
      return;
    }
    holdsFinders_ = true;
    for (int i = 0; i < kFinders; ++i) StartFind(i);
    chunk_ = 0;
    found_ = WaitFind(0);
  }

  void StartFind(int64_t chunk) {
    const int64_t start = chunk * kChunk;
    if (start >= length_) return;
    SFound* f = &finds_[chunk % kFinders];
    const int64_t end = std::min(length_, start + kChunk);
    const int64_t from = std::max<int64_t>(0, start - 2);
    const int fd = fd_;
    finders_[chunk % kFinders].Start([f, fd, start, end, from]() -> int64_t {
      f->codes.clear();
      if (!f->view.Map(fd, from, static_cast<size_t>(end - from))) return -1;
      const uint8_t* p = f->view.Data();
      const size_t n = f->view.Size();
      for (size_t j = static_cast<size_t>(start - from); (j = FindStartCode(p, j, n)) < n; ++j)
        f->codes.push_back(from + static_cast<int64_t>(j));
      // A file shortened under the view reads as zeros: the parser's own
      // search sees it and reports it.
      return f->view.Shortened() ? -1 : 0;
    });
  }

  // The list of chunk `chunk`, once found; null when it failed.
  SFound* WaitFind(int64_t chunk) {
    if (finders_[chunk % kFinders].Wait() < 0) return nullptr;
    foundNext_ = 0;
    return &finds_[chunk % kFinders];
  }

  // What FindStartCode(buf_, scan_, fill_) gives, from the found lists.
  size_t FoundStartCode() {
    const int64_t from = base_ + static_cast<int64_t>(std::max<size_t>(scan_, 2));
    const int64_t end = base_ + static_cast<int64_t>(fill_);
    for (;;) {
      while (foundNext_ < found_->codes.size() && found_->codes[foundNext_] < from) ++foundNext_;
      if (foundNext_ < found_->codes.size()) {
        const int64_t at = found_->codes[foundNext_];
        return at < end ? static_cast<size_t>(at - base_) : fill_;
      }
      // None left in this chunk: the window ends in it, or the next one is
      // waited for and its slot takes the one after.
      const int64_t next = (chunk_ + 1) * kChunk;
      if (next >= end || next >= length_) return fill_;
      StartFind(chunk_ + kFinders);
      ++chunk_;
      found_ = WaitFind(chunk_);
      if (!found_) {
        // Searched here from now on.
        for (CWorker& w : finders_) w.Wait();
        return FindStartCode(buf_, scan_, fill_);
      }
    }
  }

  // Reads up to kBufferSize bytes at `pos` into slot `slot`, behind its
  // carry room, in the background.
  void Prefetch(int slot, int64_t pos) {
    uint8_t* dst = slots_[slot] + kCarry;
    File* f = &f_;
    prefetchSlot_ = slot;
    prefetchPos_ = pos;
    worker_.Start([f, dst, pos]() -> int64_t {
      if (!f->Seek(pos)) return -1;
      return f->Read(dst, kBufferSize);
    });
  }

  // A descriptor of its own for the mapping, so the caller's file position
  // stays as it is. False where the file cannot be mapped (not a regular
  // file), which leaves the reading path.
  bool OpenMapped() {
    int64_t size = 0;
    const int fd = OpenForMapping(f_.Path(), size);
    if (fd < 0) return false;
    if (size <= 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    length_ = size;
    return true;
  }

  // Moves the bytes from `keepFrom` on to the front and reads more. False
  // when nothing more could be read.
  bool Fill(int64_t keepFrom) {
    if (keepFrom < base_) keepFrom = base_;
    size_t from = static_cast<size_t>(keepFrom - base_);
    if (from > fill_) from = fill_;
    const size_t tail = fill_ - from;
    const int64_t end = base_ + static_cast<int64_t>(fill_);  // file offset of the next byte to read
    if (fd_ >= 0 && !eof_) {
      if (view_.Shortened()) readError_ = true;
      const int64_t start = base_ + static_cast<int64_t>(from);
      // Nothing new past the kept bytes ends the scan, as a read would.
      if (end >= length_ || readError_ || start + static_cast<int64_t>(kBufferSize) <= end) {
        eof_ = true;
      } else {
        const auto n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kBufferSize), length_ - start));
        // With the start codes found elsewhere, only the pages the parser
        // reads come in.
        if (!view_.Map(fd_, start, n, found_ ? CFileView::kNoPopulate : 0)) {
          readError_ = eof_ = true;
          view_.Unmap();
          buf_ = nullptr;
          fill_ = scan_ = 0;
          base_ = start;
          return false;
        }
        buf_ = view_.Data();
        fill_ = n;
        scan_ -= std::min(scan_, from);
        base_ = start;
        return true;
      }
    }
    if (eof_) {
      buf_ += from;
      fill_ = tail;
      scan_ -= std::min(scan_, from);
      base_ += static_cast<int64_t>(from);
      return false;
    }
    const int other = prefetchSlot_;
    int64_t r = worker_.Wait();
    uint8_t* next = slots_[other] + kCarry - tail;
    if (tail > kCarry || prefetchPos_ != end) {
      // Slow path: the kept bytes do not fit in front of the read-ahead.
      next = slots_[other];
      std::memmove(next, buf_ + from, tail);
      r = f_.Seek(end) ? f_.Read(next + tail, kBufferSize - tail) : -1;
    } else {
      std::memcpy(next, buf_ + from, tail);
      // Only what one read after the kept bytes would have given.
      if (r > 0) r = std::min<int64_t>(r, static_cast<int64_t>(kBufferSize - tail));
    }
    buf_ = next;
    fill_ = tail;
    scan_ -= std::min(scan_, from);
    base_ += static_cast<int64_t>(from);
    if (r < 0) readError_ = true;
    if (r <= 0) {
      eof_ = true;
      return false;
    }
    fill_ += static_cast<size_t>(r);
    Prefetch(other ^ 1, base_ + static_cast<int64_t>(fill_));
    return true;
  }

  File& f_;
  int fd_ = -1;  // for the mapped window; -1 when reading
  int64_t length_ = 0;
  CFileView view_;
  uint8_t* slots_[2] = {nullptr, nullptr};
  uint8_t* buf_ = nullptr;  // the window: file bytes [base_, base_ + fill_)
  CWorker worker_;
  int prefetchSlot_ = 1;
  int64_t prefetchPos_ = 0;
  int64_t base_ = 0;
  size_t fill_ = 0;
  size_t scan_ = 0;
  bool eof_ = false;
  bool readError_ = false;
  SFound finds_[kFinders];
  SFound* found_ = nullptr;  // the list being used; null when searching here
  size_t foundNext_ = 0;
  int64_t chunk_ = 0;
  bool holdsFinders_ = false;  // counted in WithFinders()
  // Declared after the lists they fill: they end first.
  CWorker finders_[kFinders];
};

}  // namespace zv

// A read-only view of a range of a file, mapped instead of copied: large
// sequential readers take their bytes straight from the page cache.
//
// A file cut shorter while it is mapped would end the process with SIGBUS
// at the next access past its new end. Instead, the pages from the fault on
// read as zeros and Shortened() turns true; a reader checks it before
// trusting what it read and reports the file as shortened.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>


namespace zv {

// Opens `path` read-only for mapping, with a descriptor of its own so the
// caller's File keeps its position. The descriptor, or -1; `size` is the
// file's length, or -1 when it is not a regular file.
int OpenForMapping(const std::string& path, int64_t& size);

class CFileView {
 public:
  CFileView() = default;
  ~CFileView() { Unmap(); }
  CFileView(const CFileView&) = delete;
  CFileView& operator=(const CFileView&) = delete;

  // Maps the bytes [pos, pos + n) of the file open on descriptor `fd`,
  // which must lie within the file's length as the caller knows it. False
  // (errno set) when the range cannot be mapped. Page tables are filled up
  // front from `populateFrom` bytes into the range on; what lies before
  // comes in on first access (a caller that has those bytes mapped in
  // another view touches few of them here). With `kNoPopulate` none are:
  // pages come in on first access, which the kernel maps many at a time and
  // costs far less for a reader that walks every page anyway.
  static constexpr size_t kNoPopulate = SIZE_MAX;
  bool Map(int fd, int64_t pos, size_t n, size_t populateFrom = 0);
  void Unmap();

  // The mapped bytes, writable: a write changes this view only, never the
  // file.
  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  int64_t Position() const { return pos_; }
  bool Mapped() const { return data_ != nullptr; }
  // Some of the range was gone when it was read: the file was shortened.
  bool Shortened() const { return shortened_.load(std::memory_order_acquire); }

 private:
  void* base_ = nullptr;  // page-aligned start of the mapping
  size_t length_ = 0;     // of the mapping
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  int64_t pos_ = 0;
  int slot_ = -1;  // in the table the SIGBUS handler looks in
  std::atomic<bool> shortened_{false};
};

}  // namespace zv

// Read-ahead for the bytes of a large stream's access units: while the
// multiplexer packs the units of one window of the file, the window after it
// is read in the background.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/file.h"
#include "platform/worker.h"

namespace zv {

class CUnitReader {
 public:
  static constexpr size_t kWindow = size_t{2} << 20;  // bytes per background read
  // Room in front of each window for the part of a unit that began in the
  // window before; also the largest unit served from the windows (callers
  // read larger ones themselves).
  static constexpr size_t kCarry = size_t{2} << 20;

  CUnitReader() = default;
  ~CUnitReader();
  CUnitReader(const CUnitReader&) = delete;
  CUnitReader& operator=(const CUnitReader&) = delete;

  // The bytes [offset, offset + size) of `file`, whose length is `length`;
  // valid until the next call, and writable (the caller may rewrite the
  // unit in place). Null when they cannot be read, file.Error() then says
  // why. `file` must not be used elsewhere while the reader is in use.
  uint8_t* Get(File& file, int64_t length, uint64_t offset, uint32_t size);

 private:
  // Reads the window from `pos` into slot `slot`, behind its carry room.
  void Prefetch(File& file, int64_t length, int slot, int64_t pos);
  // Waits for the background read; its byte count, or -1 when it failed.
  int64_t Wait();

  std::unique_ptr<uint8_t[]> slots_[2];
  int cur_ = 0;
  uint8_t* data_ = nullptr;  // file bytes [start_, end_) of the current window
  int64_t start_ = 0;
  int64_t end_ = 0;
  // Declared after the slots, which its read fills: it ends first.
  CWorker worker_;
  int pendingSlot_ = 0;
  int64_t pendingPos_ = -1;
};

}  // namespace zv

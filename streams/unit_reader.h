// Read-ahead for the bytes of a large stream's access units: while the
// multiplexer packs the units of one window of the file, the window after it
// is made ready in the background. A mapping reader maps the windows (no
// copy out of the page cache); a reading one reads them into two buffers,
// for streams whose bytes are rewritten in place throughout (LPCM).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/worker.h"

namespace zv {

class CUnitReader {
 public:
  static constexpr size_t kWindow = size_t{2} << 20;  // bytes per background read
  // Room in front of each window for the part of a unit that began in the
  // window before; also the largest unit served from the windows (callers
  // read larger ones themselves).
  static constexpr size_t kCarry = size_t{2} << 20;

  // Mapped windows: each overlaps the one before by kCarry, so any unit up
  // to kCarry lies wholly in one of them.
  static constexpr size_t kMapWindow = size_t{8} << 20;

  explicit CUnitReader(bool mapped = false) : mapped_(mapped) {}
  ~CUnitReader();
  CUnitReader(const CUnitReader&) = delete;
  CUnitReader& operator=(const CUnitReader&) = delete;

  // The bytes [offset, offset + size) of `file`, whose length is `length`;
  // valid until the next call, and writable (the caller may rewrite the
  // unit in place). Null when they cannot be read; a reading reader's
  // file.Error() then says why. `file` must not be used elsewhere while the reader is in use.
  uint8_t* Get(File& file, int64_t length, uint64_t offset, uint32_t size);
  // The file was found shortened while mapped bytes were read: what Get
  // served since may be zeros, not the file's bytes.
  bool Shortened() const { return shortened_ || views_[0].Shortened() || views_[1].Shortened(); }

 private:
  uint8_t* GetMapped(File& file, int64_t length, int64_t offset, uint32_t size);
  // Maps the window from `pos` into view `slot` in the background.
  void PrefetchMap(int64_t length, int slot, int64_t pos);
  // Reads the window from `pos` into slot `slot`, behind its carry room.
  void Prefetch(File& file, int64_t length, int slot, int64_t pos);
  // Waits for the background read; its byte count, or -1 when it failed.
  int64_t Wait();

  const bool mapped_;
  int fd_ = -1;  // the mapping reader's own descriptor of the file
  bool shortened_ = false;  // a view unmapped since had found the file shortened
  CFileView views_[2];
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

// A bit reader over a file through a 256 KiB buffer, for the parsers that
// walk whole files frame by frame (AC-3, DTS, VC-1). Reads past the end of
// the file fail; after the first failure every read fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"

namespace zv {

class CBitFile {
 public:
  static constexpr size_t kBufferSize = 0x40000;

  CBitFile() : buf_(kBufferSize) {}
  bool Open(const std::string& path);
  void Close() { file_.Close(); }
  int64_t Length() const { return file_.IsOpen() ? file_.Length() : -1; }

  // Most significant bit first; n <= 32. False at the end of the file.
  bool Read(unsigned n, uint32_t& value);
  bool Skip(uint64_t n);
  // The next 16 bits, without consuming them.
  bool Peek16(uint16_t& value);
  // The next n bytes from the current (byte-aligned) position, without
  // consuming them.
  bool PeekBytes(uint8_t* out, size_t n);

  uint64_t BitsConsumed() const { return bitsConsumed_; }
  uint64_t BytesConsumed() const { return bitsConsumed_ / 8; }
  bool Eof() const { return eof_; }
  bool ReadError() const { return readError_; }

 private:
  bool Refill();

  File file_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0;          // next byte in buf_
  unsigned bitsLeft_ = 8;   // bits left in buf_[pos_]
  size_t valid_ = 0;        // bytes valid in buf_
  uint64_t bitsConsumed_ = 0;
  bool eof_ = false;
  bool readError_ = false;
};

}  // namespace zv

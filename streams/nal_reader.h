// Bit reader over the payload of one NAL unit. Emulation-prevention bytes
// (0x03 after two zero bytes) are dropped as they are met, so callers read
// the raw byte sequence payload. Reading past the end throws FormatError.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"

namespace zv {

// Index of the 0x01 of the first start code (00 00 01) whose 0x01 lies in
// p[from, n); its zeros may lie before `from`. n when there is none.
size_t FindStartCode(const uint8_t* p, size_t from, size_t n);
// The same search without the widest vectors the machine has, so both ways
// are checked wherever the tests run.
size_t FindStartCodeBaseline(const uint8_t* p, size_t from, size_t n);

class CNalReader {
 public:
  CNalReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}

  uint32_t Bits(unsigned n);  // n <= 32
  bool Flag() { return Bits(1) != 0; }
  uint32_t Ue();              // unsigned Exp-Golomb, up to 2^32 - 2
  int32_t Se();
  // Skips n bits.
  void Skip(uint64_t n);
  bool ByteAligned() const { return bitsLeft_ == 0; }
  // Bits read so far, after emulation-prevention removal.
  uint64_t BitPos() const { return bitPos_; }
  // True when only the stop bit and alignment (or nothing) remain.
  bool AtTrailingBits() const;

 private:
  bool NextByte();
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;       // next raw byte
  unsigned zeros_ = 0;   // zero bytes just before pos_
  uint8_t cur_ = 0;
  unsigned bitsLeft_ = 0;
  uint64_t bitPos_ = 0;
};

}  // namespace zv

// Little-endian primitives of the project-file archive: bytes, 16/32-bit
// values and length-prefixed strings. Class tags and object records are
// built on top of these (named). The reader throws ArchiveError on a
// short or corrupt archive.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zv {

struct ArchiveError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class ArchiveOut {
 public:
  void U8(uint8_t v) { buf_.push_back(v); }
  void Bool(bool v) { U8(v ? 1 : 0); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Raw(const void* p, size_t n);
  // Length below 255: one byte; up to 65533: 0xFF then 16-bit; larger:
  // 0xFF, 0xFFFF, then 32-bit.
  void String(const std::string& s);
  const std::vector<uint8_t>& Bytes() const { return buf_; }
  std::vector<uint8_t>& Bytes() { return buf_; }

 private:
  std::vector<uint8_t> buf_;
};

class ArchiveIn {
 public:
  ArchiveIn(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  explicit ArchiveIn(const std::vector<uint8_t>& v) : p_(v.data()), n_(v.size()) {}
  uint8_t U8();
  bool Bool() { return U8() != 0; }
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  void Raw(void* dst, size_t n);
  std::string String();
  size_t Pos() const { return pos_; }
  size_t Remaining() const { return n_ - pos_; }
  bool AtEnd() const { return pos_ == n_; }

 private:
  void Need(size_t n) const;
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

}  // namespace zv

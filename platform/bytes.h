// Big-endian byte and bit writers/readers for the disc file formats.
//
// Writers are used twice: first without a buffer to measure, then with a
// caller-sized buffer to write. A value that does not fit its field is a
// programming error and throws std::out_of_range. Readers throw FormatError
// when a read would pass the end of the buffer, so a parse never sees a
// silent zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace zv {

struct FormatError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class BeWriter {
 public:
  BeWriter() = default;  // measuring only
  BeWriter(uint8_t* buf, size_t cap) : buf_(buf), cap_(cap) {}
  explicit BeWriter(std::vector<uint8_t>& v) : buf_(v.data()), cap_(v.size()) {}

  bool Measuring() const { return buf_ == nullptr; }
  size_t Size() const { return pos_; }

  void U8(uint64_t v) { Put(v, 1); }
  void U16(uint64_t v) { Put(v, 2); }
  void U24(uint64_t v) { Put(v, 3); }
  void U32(uint64_t v) { Put(v, 4); }
  void U64(uint64_t v) { Put(v, 8); }
  void Bytes(const void* p, size_t n);
  void Zeros(size_t n);
  void Fill(uint8_t byte, size_t n);
  // Bit fields, most significant bit first; must end on a byte boundary
  // before any byte-level write.
  void Bits(unsigned n, uint64_t v);
  bool Aligned() const { return bitCount_ == 0; }
  // Overwrite an earlier field (lengths known only after the body).
  void PatchU16(size_t off, uint64_t v) { Patch(off, v, 2); }
  void PatchU32(size_t off, uint64_t v) { Patch(off, v, 4); }

 private:
  void Put(uint64_t v, unsigned n);
  void Patch(size_t off, uint64_t v, unsigned n);
  void Need(size_t n);
  uint8_t* buf_ = nullptr;
  size_t cap_ = 0;
  size_t pos_ = 0;
  uint64_t bitAcc_ = 0;
  unsigned bitCount_ = 0;
};

// Runs a measure-first writer `write(buf, cap)` twice: once without a
// buffer for the size, then into a vector of exactly that size.
template <typename W>
std::vector<uint8_t> MeasureThenWrite(W&& write) {
  std::vector<uint8_t> out(write(nullptr, 0));
  write(out.data(), out.size());
  return out;
}

// Runs one section parser, naming the section in the FormatError it raises,
// so a reader's message says where the data went wrong.
template <typename F>
void ParseSection(const char* name, F&& f) {
  try {
    f();
  } catch (const FormatError& e) {
    throw FormatError(std::string(name) + ": " + e.what());
  }
}

class BeReader {
 public:
  BeReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  explicit BeReader(const std::vector<uint8_t>& v) : p_(v.data()), n_(v.size()) {}

  size_t Pos() const { return pos_; }
  size_t Size() const { return n_; }
  size_t Remaining() const { return n_ - pos_; }
  const uint8_t* Data() const { return p_; }
  const uint8_t* Here() const { return p_ + pos_; }

  uint8_t U8() { return static_cast<uint8_t>(Get(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Get(2)); }
  uint32_t U24() { return static_cast<uint32_t>(Get(3)); }
  uint32_t U32() { return static_cast<uint32_t>(Get(4)); }
  uint64_t U64() { return Get(8); }
  void Bytes(void* dst, size_t n);
  std::vector<uint8_t> Vec(size_t n);
  std::string Str(size_t n);
  void Skip(size_t n);
  void Seek(size_t pos);
  uint64_t Bits(unsigned n);
  bool Aligned() const { return bitCount_ == 0; }
  // A reader over the next n bytes; advances this one past them.
  BeReader Sub(size_t n);

 private:
  uint64_t Get(unsigned n);
  void Need(size_t n) const;
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  uint8_t bitByte_ = 0;
  unsigned bitCount_ = 0;  // bits left in bitByte_
};

}  // namespace zv

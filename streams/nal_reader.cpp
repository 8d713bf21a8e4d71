#include "streams/nal_reader.h"

namespace zv {

bool CNalReader::NextByte() {
  if (pos_ < n_ && zeros_ >= 2 && p_[pos_] == 0x03) {
    ++pos_;
    zeros_ = 0;
  }
  if (pos_ >= n_) return false;
  cur_ = p_[pos_++];
  zeros_ = cur_ == 0 ? zeros_ + 1 : 0;
  bitsLeft_ = 8;
  return true;
}

uint32_t CNalReader::Bits(unsigned n) {
  uint64_t v = 0;
  while (n > 0) {
    if (bitsLeft_ == 0 && !NextByte()) throw FormatError("NAL unit ends inside a syntax element");
    unsigned take = n < bitsLeft_ ? n : bitsLeft_;
    v = (v << take) | ((cur_ >> (bitsLeft_ - take)) & ((1u << take) - 1));
    bitsLeft_ -= take;
    n -= take;
    bitPos_ += take;
  }
  return static_cast<uint32_t>(v);
}

uint32_t CNalReader::Ue() {
  unsigned zeros = 0;
  while (Bits(1) == 0) {
    if (++zeros > 31) throw FormatError("Exp-Golomb code too long");
  }
  if (zeros == 0) return 0;
  uint64_t v = (uint64_t{1} << zeros) - 1 + Bits(zeros);
  if (v > 0xFFFFFFFEull) throw FormatError("Exp-Golomb value out of range");
  return static_cast<uint32_t>(v);
}

int32_t CNalReader::Se() {
  uint32_t k = Ue();
  int64_t v = (k & 1) ? (int64_t{k} + 1) / 2 : -(int64_t{k} / 2);
  return static_cast<int32_t>(v);
}

void CNalReader::Skip(uint64_t n) {
  while (n >= 32) {
    Bits(32);
    n -= 32;
  }
  if (n) Bits(static_cast<unsigned>(n));
}

bool CNalReader::AtTrailingBits() const {
  // What is left of the current byte plus the raw bytes after it.
  if (pos_ >= n_) return bitsLeft_ == 0 || (cur_ & ((1u << bitsLeft_) - 1)) == (1u << (bitsLeft_ - 1));
  if (bitsLeft_ == 0) return pos_ + 1 == n_ && p_[pos_] == 0x80;
  return false;
}

}  // namespace zv

#include "platform/archive_io.h"

#include <cstring>

namespace zv {

void ArchiveOut::U16(uint16_t v) {
  buf_.push_back(static_cast<uint8_t>(v));
  buf_.push_back(static_cast<uint8_t>(v >> 8));
}

void ArchiveOut::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) buf_.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void ArchiveOut::Raw(const void* p, size_t n) {
  const auto* b = static_cast<const uint8_t*>(p);
  buf_.insert(buf_.end(), b, b + n);
}

void ArchiveOut::String(const std::string& s) {
  size_t n = s.size();
  if (n < 255) {
    U8(static_cast<uint8_t>(n));
  } else if (n < 0xFFFE) {
    U8(0xFF);
    U16(static_cast<uint16_t>(n));
  } else {
    U8(0xFF);
    U16(0xFFFF);
    U32(static_cast<uint32_t>(n));
  }
  Raw(s.data(), n);
}

void ArchiveIn::Need(size_t n) const {
  if (n > n_ - pos_) throw ArchiveError("the project file is truncated or corrupt");
}

uint8_t ArchiveIn::U8() {
  Need(1);
  return p_[pos_++];
}

uint16_t ArchiveIn::U16() {
  Need(2);
  uint16_t v = static_cast<uint16_t>(p_[pos_] | (p_[pos_ + 1] << 8));
  pos_ += 2;
  return v;
}

uint32_t ArchiveIn::U32() {
  Need(4);
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p_[pos_ + static_cast<size_t>(i)];
  pos_ += 4;
  return v;
}

void ArchiveIn::Raw(void* dst, size_t n) {
  Need(n);
  if (n) std::memcpy(dst, p_ + pos_, n);
  pos_ += n;
}

std::string ArchiveIn::String() {
  size_t n = U8();
  if (n == 0xFF) {
    n = U16();
    if (n == 0xFFFF) n = U32();
  }
  Need(n);
  std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
  pos_ += n;
  return s;
}

}  // namespace zv

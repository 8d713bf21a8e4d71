#include "streams/bit_file.h"

#include <cstring>

namespace zv {

bool CBitFile::Open(const std::string& path) {
  pos_ = valid_ = 0;
  bitsLeft_ = 8;
  bitsConsumed_ = 0;
  eof_ = readError_ = false;
  return file_.Open(path, File::kRead);
}

bool CBitFile::Refill() {
  if (eof_) return false;
  int64_t r = file_.Read(buf_.data(), buf_.size());
  if (r <= 0) {
    readError_ = r < 0;
    eof_ = true;
    return false;
  }
  valid_ = static_cast<size_t>(r);
  pos_ = 0;
  bitsLeft_ = 8;
  return true;
}

bool CBitFile::Read(unsigned n, uint32_t& value) {
  value = 0;
  while (n > 0) {
    if (eof_ || (pos_ >= valid_ && !Refill())) return false;
    if (bitsLeft_ == 8 && n >= 8) {
      value = (value << 8) | buf_[pos_++];
      n -= 8;
      bitsConsumed_ += 8;
      continue;
    }
    unsigned take = n < bitsLeft_ ? n : bitsLeft_;
    uint32_t bits = (buf_[pos_] >> (bitsLeft_ - take)) & ((1u << take) - 1);
    value = (value << take) | bits;
    bitsLeft_ -= take;
    n -= take;
    bitsConsumed_ += take;
    if (bitsLeft_ == 0) {
      bitsLeft_ = 8;
      ++pos_;
    }
  }
  return true;
}

bool CBitFile::Skip(uint64_t n) {
  uint32_t dummy;
  // Finish the partial byte, jump over whole bytes, then the remainder.
  while (n > 0 && bitsLeft_ != 8) {
    if (!Read(1, dummy)) return false;
    --n;
  }
  uint64_t bytes = n / 8;
  while (bytes > 0) {
    if (eof_ || (pos_ >= valid_ && !Refill())) return false;
    size_t step = valid_ - pos_;
    if (step > bytes) step = static_cast<size_t>(bytes);
    pos_ += step;
    bytes -= step;
    bitsConsumed_ += step * 8;
  }
  return Read(static_cast<unsigned>(n % 8), dummy);
}

bool CBitFile::PeekBytes(uint8_t* out, size_t n) {
  if (eof_ || bitsLeft_ != 8) return false;
  if (valid_ - pos_ < n) {
    // Move the rest to the front and top the buffer up; the file position
    // stays where the buffer ends, so nothing is read twice.
    size_t rest = valid_ - pos_;
    std::memmove(buf_.data(), buf_.data() + pos_, rest);
    pos_ = 0;
    valid_ = rest;
    int64_t r = file_.Read(buf_.data() + rest, buf_.size() - rest);
    if (r < 0) {
      readError_ = true;
      return false;
    }
    valid_ += static_cast<size_t>(r);
    if (valid_ < n) return false;
  }
  std::memcpy(out, buf_.data() + pos_, n);
  return true;
}

bool CBitFile::Peek16(uint16_t& value) {
  uint8_t b[2];
  if (!PeekBytes(b, 2)) return false;
  value = static_cast<uint16_t>((b[0] << 8) | b[1]);
  return true;
}

}  // namespace zv

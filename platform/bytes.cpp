#include "platform/bytes.h"

namespace zv {

void BeWriter::Need(size_t n) {
  if (!Aligned()) throw std::logic_error("byte write inside a bit field");
  if (buf_ && pos_ + n > cap_) throw std::out_of_range("write past the end of the buffer");
}

void BeWriter::Put(uint64_t v, unsigned n) {
  if (n < 8 && (v >> (8 * n)) != 0) throw std::out_of_range("value does not fit its field");
  Need(n);
  if (buf_)
    for (unsigned i = 0; i < n; ++i) buf_[pos_ + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
  pos_ += n;
}

void BeWriter::Patch(size_t off, uint64_t v, unsigned n) {
  if (n < 8 && (v >> (8 * n)) != 0) throw std::out_of_range("value does not fit its field");
  if (off + n > pos_) throw std::out_of_range("patch outside the written bytes");
  if (buf_)
    for (unsigned i = 0; i < n; ++i) buf_[off + i] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
}

void BeWriter::Bytes(const void* p, size_t n) {
  Need(n);
  if (buf_ && n) std::memcpy(buf_ + pos_, p, n);
  pos_ += n;
}

void BeWriter::Zeros(size_t n) { Fill(0, n); }

void BeWriter::Fill(uint8_t byte, size_t n) {
  Need(n);
  if (buf_ && n) std::memset(buf_ + pos_, byte, n);
  pos_ += n;
}

void BeWriter::Bits(unsigned n, uint64_t v) {
  if (n > 64) throw std::out_of_range("bit field wider than 64");
  if (n < 64 && (v >> n) != 0) throw std::out_of_range("value does not fit its bit field");
  for (unsigned i = n; i-- > 0;) {
    bitAcc_ = (bitAcc_ << 1) | ((v >> i) & 1);
    if (++bitCount_ == 8) {
      bitCount_ = 0;
      if (buf_) {
        if (pos_ + 1 > cap_) throw std::out_of_range("write past the end of the buffer");
        buf_[pos_] = static_cast<uint8_t>(bitAcc_);
      }
      ++pos_;
      bitAcc_ = 0;
    }
  }
}

void BeReader::Need(size_t n) const {
  if (bitCount_ != 0) throw FormatError("byte read inside a bit field");
  if (n > n_ - pos_) throw FormatError("unexpected end of data");
}

uint64_t BeReader::Get(unsigned n) {
  Need(n);
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | p_[pos_ + i];
  pos_ += n;
  return v;
}

void BeReader::Bytes(void* dst, size_t n) {
  Need(n);
  if (n) std::memcpy(dst, p_ + pos_, n);
  pos_ += n;
}

std::vector<uint8_t> BeReader::Vec(size_t n) {
  Need(n);
  std::vector<uint8_t> v(p_ + pos_, p_ + pos_ + n);
  pos_ += n;
  return v;
}

std::string BeReader::Str(size_t n) {
  Need(n);
  std::string s(reinterpret_cast<const char*>(p_ + pos_), n);
  pos_ += n;
  return s;
}

void BeReader::Skip(size_t n) {
  Need(n);
  pos_ += n;
}

void BeReader::Seek(size_t pos) {
  if (bitCount_ != 0) throw FormatError("seek inside a bit field");
  if (pos > n_) throw FormatError("address outside the data");
  pos_ = pos;
}

uint64_t BeReader::Bits(unsigned n) {
  if (n > 64) throw FormatError("bit field wider than 64");
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) {
    if (bitCount_ == 0) {
      if (pos_ >= n_) throw FormatError("unexpected end of data");
      bitByte_ = p_[pos_++];
      bitCount_ = 8;
    }
    --bitCount_;
    v = (v << 1) | ((bitByte_ >> bitCount_) & 1);
  }
  return v;
}

BeReader BeReader::Sub(size_t n) {
  Need(n);
  BeReader r(p_ + pos_, n);
  pos_ += n;
  return r;
}

}  // namespace zv

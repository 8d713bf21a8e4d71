#include "records/syntax.h"

namespace zv::rec {

std::string SyntaxPath::Message(const std::string& what) const {
  std::string m;
  for (const auto& f : frames_) {
    m += f.label;
    if (f.index >= 0) m += " " + std::to_string(f.index);
    m += ": ";
  }
  if (field_) {
    m += field_;
    m += ": ";
  }
  return m + what;
}

static bool ByteWidth(unsigned bits) { return bits == 8 || bits == 16 || bits == 32; }

// ---------------------------------------------------------------- Reader

void Reader::Fail(const std::string& what) const { throw FormatError(path_.Message(what)); }

void Reader::Need(size_t n) const {
  if (bitCount_ != 0) Fail("byte field inside a bit field");
  if (n > end_ - pos_) Fail(end_ < n_ ? "runs past the end of its section" : "unexpected end of data");
}

uint64_t Reader::GetBytes(unsigned n) {
  Need(n);
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) v = (v << 8) | p_[pos_ + i];
  pos_ += n;
  return v;
}

uint64_t Reader::GetBits(unsigned n) {
  if (n > 64) Fail("bit field wider than 64");
  if (bitCount_ == 0 && n % 8 == 0) return GetBytes(n / 8);
  uint64_t v = 0;
  for (unsigned i = 0; i < n; ++i) {
    if (bitCount_ == 0) {
      if (pos_ >= end_) Fail(end_ < n_ ? "runs past the end of its section" : "unexpected end of data");
      bitByte_ = p_[pos_++];
      bitCount_ = 8;
    }
    --bitCount_;
    v = (v << 1) | ((bitByte_ >> bitCount_) & 1);
  }
  return v;
}

void Reader::Skip(size_t n, const char* label) {
  path_.SetField(label);
  Need(n);
  pos_ += n;
}

void Reader::Fixed(unsigned bits, const char* label, uint64_t expected) {
  path_.SetField(label);
  uint64_t v = GetBits(bits);
  if (v != expected) Fail("is " + std::to_string(v) + ", not " + std::to_string(expected));
}

void Reader::Text(size_t n, const char* label, std::string& s) {
  path_.SetField(label);
  Need(n);
  s.assign(reinterpret_cast<const char*>(p_ + pos_), n);
  pos_ += n;
}

void Reader::Reserved(unsigned bits) {
  path_.SetField("reserved");
  if (bitCount_ == 0 && bits % 8 == 0) {
    Need(bits / 8);
    pos_ += bits / 8;
    return;
  }
  while (bits > 0) {
    unsigned n = bits > 64 ? 64 : bits;
    GetBits(n);
    bits -= n;
  }
}

LengthInfo Reader::OpenLength(unsigned bits, const char* label) {
  path_.SetField(label);
  if (!ByteWidth(bits)) Fail("length field of " + std::to_string(bits) + " bits");
  LengthInfo l;
  l.label = label;
  l.at = pos_;
  l.bytes = bits / 8;
  l.value = GetBytes(l.bytes);
  if (l.value > end_ - pos_)
    Fail("is " + std::to_string(l.value) + ", more than the " + std::to_string(end_ - pos_) + " bytes left");
  l.outer = end_;
  end_ = pos_ + l.value;
  return l;
}

void Reader::EndLength(const LengthInfo& l, bool skipRest) {
  path_.SetField(l.label);
  if (bitCount_ != 0) Fail("body ends inside a bit field");
  size_t bodyEnd = l.at + l.bytes + l.value;
  if (pos_ != bodyEnd && !skipRest) {
    path_.SetField(l.label);
    Fail("the body uses " + std::to_string(pos_ - l.at - l.bytes) + " of its " + std::to_string(l.value) + " bytes");
  }
  pos_ = bodyEnd;
  end_ = l.outer;
}

AddressField Reader::Address(unsigned bits, const char* label) {
  path_.SetField(label);
  if (!ByteWidth(bits)) Fail("address field of " + std::to_string(bits) + " bits");
  AddressField a;
  a.at = pos_;
  a.bytes = bits / 8;
  a.value = GetBytes(a.bytes);
  return a;
}

void Reader::At(const AddressField& a, const char* section) {
  path_.SetField(section);
  if (bitCount_ != 0) Fail("address inside a bit field");
  if (a.value > end_) Fail("address " + std::to_string(a.value) + " outside the data");
  pos_ = static_cast<size_t>(a.value);
}

void Reader::Align(size_t n) {
  size_t pad = (n - pos_ % n) % n;
  Skip(pad, "padding");
}

// ---------------------------------------------------------------- Writer

void Writer::Fail(const std::string& what) const { throw std::out_of_range(path_.Message(what)); }

std::vector<uint8_t> Writer::Take() {
  if (bitCount_ != 0) throw std::logic_error(path_.Message("record ends inside a bit field"));
  return std::move(out_);
}

void Writer::NeedAligned(const char* label) const {
  if (bitCount_ != 0) throw std::logic_error(path_.Message(std::string(label) + ": byte field inside a bit field"));
}

void Writer::PutBits(unsigned n, const char* label, uint64_t v) {
  path_.SetField(label);
  if (n > 64) Fail("bit field wider than 64");
  if (n < 64 && (v >> n) != 0) Fail("value " + std::to_string(v) + " does not fit " + std::to_string(n) + " bits");
  if (bitCount_ == 0 && n % 8 == 0) {
    for (unsigned i = n / 8; i-- > 0;) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return;
  }
  for (unsigned i = n; i-- > 0;) {
    bitAcc_ = (bitAcc_ << 1) | ((v >> i) & 1);
    if (++bitCount_ == 8) {
      out_.push_back(static_cast<uint8_t>(bitAcc_));
      bitCount_ = 0;
      bitAcc_ = 0;
    }
  }
}

void Writer::PutBytes(unsigned n, const char* label, uint64_t v) {
  NeedAligned(label);
  PutBits(8 * n, label, v);
}

void Writer::PutRaw(size_t n, const char* label, const std::vector<uint8_t>& v) {
  path_.SetField(label);
  NeedAligned(label);
  if (v.size() != n) Fail("holds " + std::to_string(v.size()) + " bytes, not " + std::to_string(n));
  out_.insert(out_.end(), v.begin(), v.end());
}

void Writer::Text(size_t n, const char* label, const std::string& s) {
  path_.SetField(label);
  NeedAligned(label);
  if (s.size() != n) Fail("\"" + s + "\" is not " + std::to_string(n) + " characters");
  out_.insert(out_.end(), s.begin(), s.end());
}

void Writer::Reserved(unsigned bits) {
  if (bitCount_ == 0 && bits % 8 == 0) {
    out_.insert(out_.end(), bits / 8, 0);
    return;
  }
  while (bits > 0) {
    unsigned n = bits > 64 ? 64 : bits;
    PutBits(n, "reserved", 0);
    bits -= n;
  }
}

void Writer::ReservedBytes(size_t n) {
  NeedAligned("reserved");
  out_.insert(out_.end(), n, 0);
}

void Writer::Patch(size_t at, unsigned bytes, uint64_t v, const char* what) {
  if (bytes < 8 && (v >> (8 * bytes)) != 0)
    Fail(std::string(what) + " " + std::to_string(v) + " does not fit " + std::to_string(8 * bytes) + " bits");
  for (unsigned i = 0; i < bytes; ++i) out_[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

LengthScope<Writer> Writer::Length(unsigned bits, const char* label) {
  path_.SetField(label);
  NeedAligned(label);
  if (!ByteWidth(bits)) Fail("length field of " + std::to_string(bits) + " bits");
  size_t at = out_.size();
  out_.insert(out_.end(), bits / 8, 0);
  LengthInfo l;
  l.label = label;
  l.at = at;
  l.bytes = bits / 8;
  return {*this, l};
}

void Writer::EndLength(const LengthInfo& l, bool) {
  path_.SetField(l.label);
  if (bitCount_ != 0) throw std::logic_error(path_.Message("body ends inside a bit field"));
  Patch(l.at, l.bytes, out_.size() - l.at - l.bytes, "length");
}

AddressField Writer::Address(unsigned bits, const char* label) {
  path_.SetField(label);
  NeedAligned(label);
  if (!ByteWidth(bits)) Fail("address field of " + std::to_string(bits) + " bits");
  AddressField a;
  a.at = out_.size();
  a.bytes = bits / 8;
  out_.insert(out_.end(), a.bytes, 0);
  return a;
}

void Writer::At(const AddressField& a, const char* section) {
  path_.SetField(section);
  NeedAligned(section);
  Patch(a.at, a.bytes, out_.size(), "address");
}

void Writer::Align(size_t n) {
  NeedAligned("padding");
  out_.insert(out_.end(), (n - out_.size() % n) % n, 0);
}

}  // namespace zv::rec

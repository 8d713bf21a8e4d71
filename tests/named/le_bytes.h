// Expected archive bytes, spelled out field by field in the tests. Written
// independently of the archive writer so that tests compare against a
// second encoding.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zvtest {

class LeBytes {
 public:
  LeBytes& u8(uint32_t v) { b_.push_back(static_cast<uint8_t>(v)); return *this; }
  LeBytes& u16(uint32_t v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
  LeBytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  LeBytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  // Short strings only: one length byte.
  LeBytes& str(const std::string& s) {
    u8(static_cast<uint32_t>(s.size()));
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  LeBytes& zeros(size_t n) { b_.insert(b_.end(), n, 0); return *this; }
  LeBytes& raw(const std::string& s) { b_.insert(b_.end(), s.begin(), s.end()); return *this; }
  const std::vector<uint8_t>& bytes() const { return b_; }
  size_t size() const { return b_.size(); }

 private:
  std::vector<uint8_t> b_;
};

}  // namespace zvtest

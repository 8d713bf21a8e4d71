// A map from packed 32-bit colours to 32-bit values: the entry of each
// colour of a picture. Noisy pictures have nearly as many colours as
// pixels, and a node-based hash map spent much of the quantizer's time
// allocating and chasing nodes. Open addressing in one flat array; key 0
// marks a free slot, so 0 is never a key (callers pack alpha, which is not
// 0 for any colour kept, into the key).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

class CColourMap {
 public:
  struct Slot {
    uint32_t key = 0;
    uint32_t value = 0;
  };

  explicit CColourMap(size_t expected = 1024) {
    size_t n = 64;
    while (n < expected * 2) n *= 2;
    slots_.resize(n);
    mask_ = n - 1;
  }

  // The value of `key` (non-zero), inserted as 0 when new.
  uint32_t& operator[](uint32_t key) {
    size_t i = Home(key);
    for (;; i = (i + 1) & mask_) {
      Slot& s = slots_[i];
      if (s.key == key) return s.value;
      if (s.key == 0) {
        if ((size_ + 1) * 2 > slots_.size()) {
          Grow();
          return (*this)[key];
        }
        s.key = key;
        ++size_;
        return s.value;
      }
    }
  }

  // The value of `key`, which must be present.
  uint32_t At(uint32_t key) const {
    size_t i = Home(key);
    while (slots_[i].key != key) i = (i + 1) & mask_;
    return slots_[i].value;
  }

  size_t size() const { return size_; }

 private:
  size_t Home(uint32_t key) const { return (static_cast<size_t>(key) * 0x9E3779B97F4A7C15ull >> 20) & mask_; }

  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    for (const Slot& s : old)
      if (s.key) {
        size_t i = Home(s.key);
        while (slots_[i].key) i = (i + 1) & mask_;
        slots_[i] = s;
      }
  }

  std::vector<Slot> slots_;
  size_t mask_ = 0;
  size_t size_ = 0;
};

}  // namespace zv

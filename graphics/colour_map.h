// A map from packed 32-bit colours to 32-bit values, for counting and
// mapping the colours of a picture. Noisy pictures have nearly as many
// colours as pixels: a node-based hash map spent most of the quantizer's
// time allocating and chasing nodes. Open addressing in one flat array;
// key 0 marks a free slot, so 0 is never a key (callers pack alpha, which
// is at least 5 for every colour counted, into the low byte).
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
  // Every slot, free ones with key 0 among them.
  std::vector<Slot>& Slots() { return slots_; }
  const std::vector<Slot>& Slots() const { return slots_; }

  // Adds the counts of `other` to this map's.
  void Add(const CColourMap& other) {
    for (const Slot& s : other.slots_)
      if (s.key) (*this)[s.key] += s.value;
  }

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

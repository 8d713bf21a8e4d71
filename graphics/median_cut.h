// Median cut over the colours of pictures, in premultiplied RGBA: the colour
// table of a quantized picture or page.
//
// Pictures with noise have nearly as many colours as pixels. Beyond
// kMaxBuckets distinct colours, colours of nearly the same value are cut as
// one bucket (low bits of each component dropped, as few as leave at most
// kMaxBuckets): cuts fall between buckets, while every sum stays exact, so
// each entry is still the true mean of the pixels it stands for. Sums are
// integers and buckets are kept in key order, so the table is the same
// however the pixels were shared out between threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/image.h"

namespace zv {

inline constexpr size_t kMaxBuckets = size_t{1} << 16;

// Colours cut as one: their pixel count and the sums of their premultiplied
// components (red, green, blue, alpha).
struct SColourBucket {
  uint32_t key = 0;  // the bucket's key, for ordering
  uint64_t count = 0;
  std::array<uint64_t, 4> sum{};
};

// The buckets of a share of pixels at one coarseness; `shift` low bits of
// each component dropped (0: each colour its own bucket).
class CBucketCounter {
 public:
  // `limit`: the most buckets before the counter gives up (0: no limit).
  CBucketCounter(int shift, size_t limit) : shift_(shift), limit_(limit), slots_(1024) {}
  // Counts one pixel of premultiplied colour (red in the top byte, alpha in
  // the lowest); false, counting nothing more, once there would be more
  // buckets than the limit. At most 2^24 pixels a counter.
  bool Add(uint32_t key);
  bool Full() const { return full_; }
  // The buckets counted, in no particular order.
  std::vector<SColourBucket> Buckets() const;

 private:
  // A bucket where the map finds it: each pixel touches one place in
  // memory, which matters when nearly every pixel has a colour of its own.
  struct SSlot {
    uint32_t key = 0;  // 0: free (no bucket key is 0)
    uint32_t count = 0;
    std::array<uint32_t, 4> sum{};
  };
  SSlot* Find(uint32_t coarse);
  void Grow();

  int shift_;
  size_t limit_;
  std::vector<SSlot> slots_;
  size_t size_ = 0;
  uint32_t lastKey_ = 0;
  SSlot* last_ = nullptr;
  bool full_ = false;
};

// The buckets of several shares joined, in key order; false when a share
// gave up or they are more than `limit` (0: no limit).
bool JoinBuckets(std::vector<CBucketCounter>& shares, std::vector<SColourBucket>& out, size_t limit);

// The buckets of coarseness `shift` (2 or more) as those of `shift` + 1
// (each count and sum the same as counting the pixels again would give), in
// key order.
void CoarsenBuckets(std::vector<SColourBucket>& buckets);

// At most `budget` colours for the buckets; each colour is its box's
// pixel-weighted mean, back from premultiplied form.
std::vector<SColor> MedianCutColours(std::vector<SColourBucket> buckets, size_t budget);

}  // namespace zv

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

// The bucket of a premultiplied colour with `shift` low bits of each
// component dropped. Opaque colours stay apart from nearly opaque ones, so
// that an opaque pixel never has to take an entry that is not.
inline uint32_t CoarseKey(uint32_t key, int shift) {
  if (shift == 0) return key;
  const uint32_t r = key >> 24, g = key >> 16 & 255, b = key >> 8 & 255, a = key & 255;
  const uint32_t alpha = a == 255 ? (256u >> shift) : a >> shift;
  return 1u << 31 | (r >> shift) << 23 | (g >> shift) << 15 | (b >> shift) << 7 | alpha;
}

// The buckets of a share of pixels at one coarseness; `shift` low bits of
// each component dropped (0: each colour its own bucket).
class CBucketCounter {
 public:
  // `limit`: the most buckets before the counter gives up (0: no limit).
  CBucketCounter(int shift, size_t limit) : shift_(shift), limit_(limit), slots_(1024), near_(kNearSlots) {}
  // Counts one pixel of premultiplied colour (red in the top byte, alpha in
  // the lowest); false, counting nothing more, once there would be more
  // buckets than the limit (found when the counts are gathered, at the
  // latest by Sorted). At most 2^24 pixels a counter.
  bool Add(uint32_t key) {
    if (full_) return false;
    const uint32_t coarse = CoarseKey(key, shift_);
    SSlot& s = near_[NearSlotOf(coarse)];
    if (s.key != coarse) {
      if (s.key && !Gather(s)) return false;
      s = SSlot{coarse, 0, {}};
    }
    ++s.count;
    s.sum[0] += key >> 24;
    s.sum[1] += key >> 16 & 255;
    s.sum[2] += key >> 8 & 255;
    s.sum[3] += key & 255;
    return true;
  }
  // True once the counter has given up.
  bool Full() const { return full_; }
  // The buckets counted, in key order (a counter that gave up: nothing).
  std::vector<SColourBucket> Sorted();

 private:
  // A bucket, in the near table or the map.
  struct SSlot {
    uint32_t key = 0;  // 0: free (no bucket key is 0)
    uint32_t count = 0;
    std::array<uint32_t, 4> sum{};
  };
  // Pixels are counted first in a small table that stays in the cache,
  // indexed by the low bits of each component, so that the colours of a
  // neighbourhood sit side by side; a bucket is added to the map when
  // another takes its place. Pictures repeat nearby colours, so the map,
  // spread over megabytes, is reached once for many pixels. (Exact keys lay
  // out their bits otherwise; for them the index is only a hash.)
  static constexpr size_t kNearSlots = 4096;
  static size_t NearSlotOf(uint32_t coarse) {
    return (coarse >> 23 & 7) << 9 | (coarse >> 15 & 7) << 6 | (coarse >> 7 & 7) << 3 |
           ((coarse ^ coarse >> 26 ^ coarse >> 18 ^ coarse >> 10) & 7);
  }
  // Adds a bucket of the near table to the map; false (and full) when the
  // map would pass the limit.
  bool Gather(const SSlot& s);
  SSlot* Find(uint32_t coarse);
  void Grow();

  int shift_;
  size_t limit_;
  std::vector<SSlot> slots_;
  size_t size_ = 0;
  std::vector<SSlot> near_;
  bool full_ = false;
};

// The buckets of several shares' sorted lists (emptied) joined, in key
// order; false when they are more than `limit` (0: no limit).
bool JoinBuckets(std::vector<std::vector<SColourBucket>>& shares, std::vector<SColourBucket>& out, size_t limit);

// The buckets of coarseness `shift` (2 or more) as those of `shift` + 1
// (each count and sum the same as counting the pixels again would give), in
// key order.
void CoarsenBuckets(std::vector<SColourBucket>& buckets);

// At most `budget` colours for the buckets; each colour is its box's
// pixel-weighted mean, back from premultiplied form.
std::vector<SColor> MedianCutColours(std::vector<SColourBucket> buckets, size_t budget);

}  // namespace zv

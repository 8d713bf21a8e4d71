#include "graphics/median_cut.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace zv {

namespace {

// A bucket as the cut sees it: its sums, and its mean rounded, which places
// it on each axis.
struct SBucket {
  std::array<double, 4> sum{};
  std::array<double, 4> sq{};
  uint64_t count = 0;
  std::array<uint8_t, 4> at{};
};

struct SBox {
  size_t begin, end;  // into the bucket list
  double error;       // weighted squared distance from the box's mean; 0 when it cannot be cut
  int axis;           // the widest axis along which its buckets differ
};

size_t SlotOf(uint32_t key, size_t mask) { return (static_cast<size_t>(key) * 0x9E3779B97F4A7C15ull >> 20) & mask; }

}  // namespace

CBucketCounter::SSlot* CBucketCounter::Find(uint32_t coarse) {
  const size_t mask = slots_.size() - 1;
  for (size_t i = SlotOf(coarse, mask);; i = (i + 1) & mask) {
    SSlot& s = slots_[i];
    if (s.key == coarse) return &s;
    if (s.key) continue;
    if (limit_ && size_ == limit_) return nullptr;
    if ((size_ + 1) * 2 > slots_.size()) {
      Grow();
      return Find(coarse);
    }
    s.key = coarse;
    ++size_;
    return &s;
  }
}

void CBucketCounter::Grow() {
  std::vector<SSlot> old(slots_.size() * 2);
  old.swap(slots_);
  const size_t mask = slots_.size() - 1;
  for (const SSlot& s : old)
    if (s.key) {
      size_t i = SlotOf(s.key, mask);
      while (slots_[i].key) i = (i + 1) & mask;
      slots_[i] = s;
    }
}

bool CBucketCounter::Gather(const SSlot& s) {
  SSlot* into = Find(s.key);
  if (!into) {
    full_ = true;
    return false;
  }
  into->count += s.count;
  for (int k = 0; k < 4; ++k) into->sum[k] += s.sum[k];
  return true;
}

std::vector<SColourBucket> CBucketCounter::Sorted() {
  for (SSlot& s : near_) {
    if (s.key && !full_) Gather(s);
    s = SSlot{};
  }
  std::vector<SColourBucket> out;
  if (full_) return out;
  out.reserve(size_);
  for (const SSlot& s : slots_)
    if (s.key) {
      SColourBucket b;
      b.key = s.key;
      b.count = s.count;
      for (int k = 0; k < 4; ++k) b.sum[k] = s.sum[k];
      out.push_back(b);
    }
  std::sort(out.begin(), out.end(), [](const SColourBucket& x, const SColourBucket& y) { return x.key < y.key; });
  return out;
}

namespace {

// Sorts by key and adds up the buckets of one key.
void SortAndMerge(std::vector<SColourBucket>& out) {
  std::sort(out.begin(), out.end(), [](const SColourBucket& a, const SColourBucket& b) { return a.key < b.key; });
  size_t n = 0;
  for (size_t i = 0; i < out.size(); ++i) {
    if (n && out[n - 1].key == out[i].key) {
      SColourBucket& into = out[n - 1];
      into.count += out[i].count;
      for (int k = 0; k < 4; ++k) into.sum[k] += out[i].sum[k];
    } else {
      out[n++] = out[i];
    }
  }
  out.resize(n);
}

}  // namespace

bool JoinBuckets(std::vector<std::vector<SColourBucket>>& shares, std::vector<SColourBucket>& out, size_t limit) {
  out.clear();
  // Merged pairwise: each list is sorted, with a key at most once.
  for (std::vector<SColourBucket>& share : shares) {
    std::vector<SColourBucket> joined;
    joined.reserve(out.size() + share.size());
    size_t i = 0, k = 0;
    while (i < out.size() || k < share.size()) {
      if (k == share.size() || (i < out.size() && out[i].key < share[k].key)) {
        joined.push_back(out[i++]);
      } else if (i == out.size() || share[k].key < out[i].key) {
        joined.push_back(share[k++]);
      } else {
        SColourBucket b = out[i++];
        const SColourBucket& c = share[k++];
        b.count += c.count;
        for (int n = 0; n < 4; ++n) b.sum[n] += c.sum[n];
        joined.push_back(b);
      }
    }
    out.swap(joined);
    std::vector<SColourBucket>().swap(share);
  }
  return !limit || out.size() <= limit;
}

void CoarsenBuckets(std::vector<SColourBucket>& buckets) {
  for (SColourBucket& b : buckets) {
    const uint32_t k = b.key;
    b.key = 1u << 31 | (k >> 23 & 255) >> 1 << 23 | (k >> 15 & 255) >> 1 << 15 | (k >> 7 & 255) >> 1 << 7 |
            (k & 127) >> 1;
  }
  SortAndMerge(buckets);
}

namespace {

SBox Measure(const std::vector<SBucket>& buckets, size_t begin, size_t end) {
  double sum[4] = {0, 0, 0, 0}, sq[4] = {0, 0, 0, 0}, n = 0;
  int lo[4] = {255, 255, 255, 255}, hi[4] = {0, 0, 0, 0};
  for (size_t i = begin; i < end; ++i) {
    const SBucket& b = buckets[i];
    n += static_cast<double>(b.count);
    for (int k = 0; k < 4; ++k) {
      sum[k] += b.sum[k];
      sq[k] += b.sq[k];
      lo[k] = std::min<int>(lo[k], b.at[k]);
      hi[k] = std::max<int>(hi[k], b.at[k]);
    }
  }
  SBox box{begin, end, 0, -1};
  double widest = -1;
  for (int k = 0; k < 4; ++k) {
    const double var = std::max(0.0, sq[k] - sum[k] * sum[k] / n);
    box.error += var;
    if (lo[k] < hi[k] && var > widest) widest = var, box.axis = k;
  }
  if (box.axis < 0) box.error = 0;
  return box;
}

// Cuts a box at the weighted median of its axis: buckets placed at or below
// the median's value go first (all but the highest value when the median is
// the highest), in their order. Returns where the second part begins.
size_t Cut(std::vector<SBucket>& buckets, std::vector<SBucket>& scratch, const SBox& box) {
  // Per value of the axis: the weight, sums and sums of squares of the
  // buckets placed there.
  struct SBin {
    double n = 0;
    double sum[4] = {0, 0, 0, 0};
    double sq = 0;
  };
  std::array<SBin, 256> bins{};
  const int axis = box.axis;
  for (size_t i = box.begin; i < box.end; ++i) {
    const SBucket& b = buckets[i];
    SBin& bin = bins[b.at[axis]];
    bin.n += static_cast<double>(b.count);
    for (int k = 0; k < 4; ++k) bin.sum[k] += b.sum[k], bin.sq += b.sq[k];
  }
  SBin all;
  for (const SBin& bin : bins) {
    all.n += bin.n, all.sq += bin.sq;
    for (int k = 0; k < 4; ++k) all.sum[k] += bin.sum[k];
  }
  auto error = [](const SBin& b) {
    double e = b.sq;
    for (int k = 0; k < 4; ++k) e -= b.sum[k] * b.sum[k] / b.n;
    return e;
  };
  // The cut between two values that leaves the least error in the two
  // parts; the first of equals.
  int value = -1;
  double least = 0;
  SBin below;
  for (int v = 0; v < 255; ++v) {
    if (bins[v].n == 0) continue;
    below.n += bins[v].n, below.sq += bins[v].sq;
    for (int k = 0; k < 4; ++k) below.sum[k] += bins[v].sum[k];
    if (below.n >= all.n) break;
    SBin above;
    above.n = all.n - below.n, above.sq = all.sq - below.sq;
    for (int k = 0; k < 4; ++k) above.sum[k] = all.sum[k] - below.sum[k];
    const double e = error(below) + error(above);
    if (value < 0 || e < least) value = v, least = e;
  }
  scratch.clear();
  size_t first = box.begin;
  for (size_t i = box.begin; i < box.end; ++i) {
    if (buckets[i].at[axis] <= value) buckets[first++] = buckets[i];
    else scratch.push_back(buckets[i]);
  }
  std::copy(scratch.begin(), scratch.end(), buckets.begin() + static_cast<long>(first));
  return first;
}

}  // namespace

std::vector<SColor> MedianCutColours(std::vector<SColourBucket> input, size_t budget) {
  std::vector<SBucket> buckets(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    SBucket& b = buckets[i];
    b.count = input[i].count;
    for (int k = 0; k < 4; ++k) {
      b.sum[k] = static_cast<double>(input[i].sum[k]);
      // As if all of a bucket's pixels had its mean: exact for a bucket of
      // one colour, and the spread inside a coarser bucket is small beside
      // that of a box.
      b.sq[k] = b.sum[k] * b.sum[k] / static_cast<double>(input[i].count);
      b.at[k] = static_cast<uint8_t>(std::clamp(
          static_cast<long>((2 * input[i].sum[k] + input[i].count) / (2 * input[i].count)), 0L, 255L));
    }
  }
  std::vector<SColourBucket>().swap(input);
  std::vector<SBox> boxes;
  std::vector<SBucket> scratch;
  if (!buckets.empty()) boxes.push_back(Measure(buckets, 0, buckets.size()));
  while (boxes.size() < std::max<size_t>(budget, 1)) {
    auto worst = std::max_element(boxes.begin(), boxes.end(),
                                  [](const SBox& a, const SBox& b) { return a.error < b.error; });
    if (worst == boxes.end() || worst->error <= 0) break;
    const SBox box = *worst;
    const size_t cut = Cut(buckets, scratch, box);
    *worst = Measure(buckets, box.begin, cut);
    boxes.push_back(Measure(buckets, cut, box.end));
  }
  std::sort(boxes.begin(), boxes.end(), [](const SBox& a, const SBox& b) { return a.begin < b.begin; });

  std::vector<SColor> table;
  for (const SBox& box : boxes) {
    uint64_t sum[4] = {0, 0, 0, 0}, n = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
      n += buckets[i].count;
      for (int k = 0; k < 4; ++k) sum[k] += static_cast<uint64_t>(buckets[i].sum[k]);
    }
    const double mean[4] = {static_cast<double>(sum[0]) / static_cast<double>(n),
                            static_cast<double>(sum[1]) / static_cast<double>(n),
                            static_cast<double>(sum[2]) / static_cast<double>(n),
                            static_cast<double>(sum[3]) / static_cast<double>(n)};
    const int a = static_cast<int>(std::lround(mean[3]));
    auto channel = [&](int k) {
      return static_cast<uint8_t>(a ? std::clamp(std::lround(mean[k] * 255.0 / a), 0L, 255L) : 0);
    };
    table.push_back(SColor{channel(0), channel(1), channel(2), static_cast<uint8_t>(a)});
  }
  return table;
}

}  // namespace zv

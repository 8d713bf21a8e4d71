// Buckets of colours: merging fine buckets into coarser ones gives what
// counting the pixels at the coarser step gives, and the shares a picture is
// counted in do not change the buckets or the colours cut from them.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graphics/median_cut.h"

using namespace zv;

namespace {

// Premultiplied colours: mostly opaque, some nearly opaque, some faint.
std::vector<uint32_t> Keys(size_t n) {
  std::mt19937 rng(7);
  std::vector<uint32_t> keys;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t kind = rng() % 4;
    const uint32_t a = kind < 2 ? 255 : kind == 2 ? 250 + rng() % 5 : 5 + rng() % 200;
    auto c = [&] { return static_cast<uint32_t>(rng() % (a + 1)); };
    keys.push_back(c() << 24 | c() << 16 | c() << 8 | a);
  }
  return keys;
}

std::vector<SColourBucket> Count(const std::vector<uint32_t>& keys, int shift, size_t shares) {
  std::vector<CBucketCounter> counters;
  for (size_t k = 0; k < shares; ++k) counters.emplace_back(shift, 0);
  for (size_t i = 0; i < keys.size(); ++i) EXPECT_TRUE(counters[i * shares / keys.size()].Add(keys[i]));
  // Each share sorted on its own, then joined, as a page's palette is.
  std::vector<std::vector<SColourBucket>> sorted;
  for (CBucketCounter& c : counters) {
    sorted.push_back(c.Sorted());
    EXPECT_FALSE(c.Full());
  }
  std::vector<SColourBucket> out;
  EXPECT_TRUE(JoinBuckets(sorted, out, 0));
  // Every pixel is in one bucket, with all of its components.
  uint64_t count = 0;
  std::array<uint64_t, 4> sum{}, expected{};
  for (const SColourBucket& b : out) {
    count += b.count;
    for (int k = 0; k < 4; ++k) sum[k] += b.sum[k];
  }
  for (uint32_t key : keys)
    for (int k = 0; k < 4; ++k) expected[k] += key >> (24 - 8 * k) & 255;
  EXPECT_EQ(count, keys.size());
  EXPECT_EQ(sum, expected);
  for (size_t i = 1; i < out.size(); ++i) EXPECT_LT(out[i - 1].key, out[i].key) << "bucket " << i;
  return out;
}

void ExpectSame(const std::vector<SColourBucket>& a, const std::vector<SColourBucket>& b, const char* what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].key, b[i].key) << what << " bucket " << i;
    EXPECT_EQ(a[i].count, b[i].count) << what << " bucket " << i;
    EXPECT_EQ(a[i].sum, b[i].sum) << what << " bucket " << i;
  }
}

TEST(ColourBuckets, CoarsenedBucketsAreThoseOfCountingCoarser) {
  const std::vector<uint32_t> keys = Keys(200000);
  std::vector<SColourBucket> merged = Count(keys, 2, 1);
  CoarsenBuckets(merged);
  ExpectSame(merged, Count(keys, 3, 1), "two bits, merged once");
  CoarsenBuckets(merged);
  ExpectSame(merged, Count(keys, 4, 1), "two bits, merged twice");
  // Opaque pixels keep buckets of their own at every step (alpha code 16
  // at four bits dropped), apart from the nearly opaque ones.
  size_t opaque = 0;
  for (const SColourBucket& b : merged) {
    if ((b.key & 127) == 16) {
      ++opaque;
      EXPECT_EQ(b.sum[3], 255 * b.count) << "bucket " << b.key;
    } else {
      EXPECT_LT(b.sum[3], 255 * b.count) << "bucket " << b.key;
    }
  }
  EXPECT_GT(opaque, 0u);
}

TEST(ColourBuckets, SharesChangeNeitherTheBucketsNorTheColours) {
  const std::vector<uint32_t> keys = Keys(50000);
  for (int shift : {0, 2}) {
    const std::vector<SColourBucket> one = Count(keys, shift, 1);
    const std::vector<SColourBucket> three = Count(keys, shift, 3);
    ExpectSame(one, three, shift ? "coarse" : "exact");
    EXPECT_EQ(MedianCutColours(one, 255), MedianCutColours(three, 255));
  }
  // A counter with a limit gives up beyond it and gives no buckets; a join
  // of more buckets than its limit says so.
  CBucketCounter limited(0, 100);
  bool refused = false;
  for (uint32_t key : keys) refused = refused || !limited.Add(key);
  EXPECT_TRUE(refused);
  EXPECT_TRUE(limited.Full());
  EXPECT_TRUE(limited.Sorted().empty());
  std::vector<std::vector<SColourBucket>> shares{Count(keys, 0, 1)};
  std::vector<SColourBucket> out;
  EXPECT_FALSE(JoinBuckets(shares, out, 100));
}

}  // namespace

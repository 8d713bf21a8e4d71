// The sorted nearest-colour search against the plain scan it replaces, with
// many ties (few distinct values) and with the weights both callers use.
#include "graphics/nearest_point.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using zv::CNearestPoint;

namespace {

size_t PlainScan(const std::vector<CNearestPoint::Point>& points, const std::array<int64_t, 4>& w,
                 const CNearestPoint::Point& p) {
  int64_t best = std::numeric_limits<int64_t>::max();
  size_t index = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    int64_t d = 0;
    for (int k = 0; k < 4; ++k) d += w[k] * (points[i][k] - p[k]) * (points[i][k] - p[k]);
    if (d < best) best = d, index = i;
  }
  return index;
}

// Palettes (all entries compared at once, with and without the vector
// instructions), large weights and more than 256 entries (the sorted walk
// of a cell), with few distinct values (many equal distances) and many.
TEST(NearestPoint, AnswersAsThePlainScanDoes) {
  std::mt19937 rng(7);
  const bool vectorised = CNearestPoint::Vectorised();
  struct SCase {
    std::array<int64_t, 4> w;
    size_t entries;
    bool vectorised;
  };
  for (const SCase& c : {SCase{{1, 1, 1, 1}, 255, vectorised}, SCase{{3, 4, 2, 3}, 255, vectorised},
                         SCase{{3, 4, 2, 3}, 255, false}, SCase{{300, 400, 200, 300}, 255, vectorised},
                         SCase{{3, 4, 2, 3}, 300, vectorised}}) {
    CNearestPoint::Vectorised() = c.vectorised;
    for (int spread : {4, 256}) {
      std::uniform_int_distribution<int> v(0, spread - 1);
      std::vector<CNearestPoint::Point> points(c.entries);
      for (auto& p : points) p = {v(rng), v(rng), v(rng), v(rng)};
      points[17] = points[200];  // a duplicate entry: the first one wins
      const CNearestPoint nearest(points, c.w);
      for (int i = 0; i < 20000; ++i) {
        const CNearestPoint::Point p{v(rng), v(rng), v(rng), v(rng)};
        ASSERT_EQ(nearest.Find(p), PlainScan(points, c.w, p))
            << "weight " << c.w[0] << ", " << c.entries << " entries, spread " << spread << ", query " << i;
      }
      const size_t first = static_cast<size_t>(std::find(points.begin(), points.end(), points[200]) - points.begin());
      EXPECT_LE(first, 17u);
      EXPECT_EQ(nearest.Find(points[200]), first);
    }
  }
  CNearestPoint::Vectorised() = vectorised;
  EXPECT_EQ(CNearestPoint({}, {1, 1, 1, 1}).Find({1, 2, 3, 4}), 0u);
}

}  // namespace

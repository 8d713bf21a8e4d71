// The sorted nearest-colour search against the plain scan it replaces, with
// many ties (few distinct values) and with the weights both callers use.
#include "graphics/nearest_point.h"

#include <gtest/gtest.h>

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

TEST(NearestPoint, AnswersAsThePlainScanDoes) {
  std::mt19937 rng(7);
  for (const std::array<int64_t, 4>& w : {std::array<int64_t, 4>{1, 1, 1, 1}, std::array<int64_t, 4>{3, 4, 2, 3}}) {
    for (int spread : {4, 256}) {  // few distinct values: many equal distances
      std::uniform_int_distribution<int> v(0, spread - 1);
      std::vector<CNearestPoint::Point> points(255);
      for (auto& p : points) p = {v(rng), v(rng), v(rng), v(rng)};
      points[17] = points[200];  // a duplicate entry: the first one wins
      const CNearestPoint nearest(points, w);
      for (int i = 0; i < 20000; ++i) {
        const CNearestPoint::Point p{v(rng), v(rng), v(rng), v(rng)};
        ASSERT_EQ(nearest.Find(p), PlainScan(points, w, p)) << "spread " << spread << " query " << i;
      }
      EXPECT_EQ(nearest.Find(points[200]), 17u);
    }
  }
  EXPECT_EQ(CNearestPoint({}, {1, 1, 1, 1}).Find({1, 2, 3, 4}), 0u);
}

}  // namespace

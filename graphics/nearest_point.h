// The nearest of a fixed set of four-component colours under a weighted
// squared distance. Pictures with noise have nearly as many colours as
// pixels; a plain scan of 255 entries for each was most of a menu's
// compilation. The entries are kept sorted along their widest axis and the
// search walks outwards from the colour, stopping where that axis alone is
// already farther than the best found. The answer is the plain scan's: the
// first entry (in the caller's order) of the smallest distance.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace zv {

class CNearestPoint {
 public:
  using Point = std::array<int, 4>;

  CNearestPoint(const std::vector<Point>& points, const std::array<int64_t, 4>& weights)
      : weights_(weights), points_(points) {
    double widest = -1;
    for (int k = 0; k < 4; ++k) {
      double sum = 0, sq = 0;
      for (const Point& p : points) sum += p[k], sq += static_cast<double>(p[k]) * p[k];
      const double n = points.empty() ? 1.0 : static_cast<double>(points.size());
      const double spread = (sq - sum * sum / n) * static_cast<double>(weights[k]);
      if (spread > widest) widest = spread, axis_ = k;
    }
    sorted_.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) sorted_.push_back(Item{points[i], i});
    std::sort(sorted_.begin(), sorted_.end(), [this](const Item& a, const Item& b) {
      return a.v[axis_] != b.v[axis_] ? a.v[axis_] < b.v[axis_] : a.index < b.index;
    });
  }

  // Position in the caller's list of the nearest point; 0 when there is none.
  // `hint`, a position likely near (the answer for the previous pixel),
  // only narrows the search: the answer is the same without it.
  size_t Find(const Point& p, size_t hint = SIZE_MAX) const {
    int64_t best = std::numeric_limits<int64_t>::max();
    size_t bestIndex = 0;
    if (hint < points_.size()) best = Distance(points_[hint], p), bestIndex = hint;
    const int a = axis_;
    const auto start = std::lower_bound(sorted_.begin(), sorted_.end(), p[a],
                                        [a](const Item& item, int v) { return item.v[a] < v; });
    auto consider = [&](const Item& item) {
      const int64_t d = Distance(item.v, p);
      if (d < best || (d == best && item.index < bestIndex)) best = d, bestIndex = item.index;
    };
    // An entry whose distance along the axis alone exceeds the best cannot
    // win, nor tie; neither can any beyond it.
    auto beyond = [&](const Item& item) {
      const int64_t diff = item.v[a] - p[a];
      return weights_[a] * diff * diff > best;
    };
    for (auto it = start; it != sorted_.end() && !beyond(*it); ++it) consider(*it);
    for (auto it = start; it != sorted_.begin();) {
      --it;
      if (beyond(*it)) break;
      consider(*it);
    }
    return bestIndex;
  }

 private:
  int64_t Distance(const Point& q, const Point& p) const {
    int64_t d = 0;
    for (int k = 0; k < 4; ++k) {
      const int64_t diff = q[k] - p[k];
      d += weights_[k] * diff * diff;
    }
    return d;
  }

  struct Item {
    Point v;
    size_t index;
  };
  std::array<int64_t, 4> weights_;
  int axis_ = 0;
  std::vector<Item> sorted_;
  std::vector<Point> points_;  // in the caller's order
};

}  // namespace zv

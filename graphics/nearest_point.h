// The nearest of a fixed set of four-component colours under a weighted
// squared distance. Pictures with noise have nearly as many colours as
// pixels; a plain scan of 255 entries for each was most of a menu's
// compilation. Colour space is cut into cells of 16 on each axis; a cell
// keeps, once first asked, the entries that can be nearest to some colour
// in it (those whose least distance to the cell is at most the least, over
// all entries, of the greatest distance), so a colour is compared with a
// few entries only. Colours outside 0 to 255 walk the entries sorted along
// their widest axis instead, outwards from the colour. Either way the
// answer is the plain scan's: the first entry (in the caller's order) of
// the smallest distance. The cells fill as colours are asked for: one
// object is used by one thread at a time.
//
// For up to 256 colours in 0 to 255 under small weights (a palette), a
// colour is compared with all of its cell's entries at once, eight at a
// time: each comparison gives the distance shifted left by 8 bits, or'd
// with the entry's position, so that the least of them is the nearest and
// the first of equals, without a branch on each.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZV_NEAREST_AVX2 1
#endif

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
    small_ = true;
    for (int k = 0; k < 4; ++k) {
      small_ = small_ && weights[k] >= 0 && weights[k] <= 1024;
      smallWeights_[k] = static_cast<int32_t>(std::clamp<int64_t>(weights[k], 0, 1024));
    }
    for (const Point& q : points) small_ = small_ && InRange(q);
    int64_t weightSum = 0;
    for (int k = 0; k < 4; ++k) weightSum += smallWeights_[k];
    // Each weighted difference fits 16 bits, each distance 23.
    packed_ = small_ && points.size() <= 256 && weightSum * 255 * 255 < (int64_t{1} << 23) &&
              *std::max_element(smallWeights_.begin(), smallWeights_.end()) <= 128;
    sorted_.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i) sorted_.push_back(Item{points[i], i});
    std::sort(sorted_.begin(), sorted_.end(), [this](const Item& a, const Item& b) {
      return a.v[axis_] != b.v[axis_] ? a.v[axis_] < b.v[axis_] : a.index < b.index;
    });
  }

  // Whether packed look-ups use the processor's vector instructions (on
  // where it has them); tests turn it off to compare both ways.
  static bool& Vectorised() {
#ifdef ZV_NEAREST_AVX2
    static bool on = __builtin_cpu_supports("avx2");
#else
    static bool on = false;
#endif
    return on;
  }

  // Position in the caller's list of the nearest point; 0 when there is none.
  size_t Find(const Point& p) const {
    if (points_.empty()) return 0;
    if (InRange(p)) {
      if (cells_.empty()) cells_.resize(size_t{1} << (4 * (8 - kCellShift)));
      const size_t cell = CellOf(p);
      if (!cells_[cell].end) FillCell(cell);
      if (packed_) return NearestInBlocks(&blocks_[cells_[cell].begin], cells_[cell].end - cells_[cell].begin, p);
      // Candidates come nearest to the cell's centre first. By the triangle
      // inequality a candidate is at least its distance from the centre,
      // less the colour's, away from the colour: once that bound passes
      // the best distance found, no later candidate can win or tie.
      const double fromCentre = std::sqrt(CentreDistance(p, p));
      int64_t best = std::numeric_limits<int64_t>::max();
      double limit = std::numeric_limits<double>::infinity();
      uint32_t bestIndex = 0;
      for (uint32_t k = cells_[cell].begin, end = cells_[cell].end; k < end; ++k) {
        const SCandidate& c = candidates_[k];
        if (c.reach > limit) break;
        const int64_t d = small_ ? SmallDistance(c.v, p) : Distance(c.v, p);
        if (d < best || (d == best && c.index < bestIndex)) {
          best = d, bestIndex = c.index;
          limit = std::sqrt(static_cast<double>(best)) + 1e-6 + fromCentre;
        }
      }
      return bestIndex;
    }
    return Walk(p);
  }

 private:
  static constexpr int kCellShift = 4;
  static constexpr int kCellsPerAxis = 256 >> kCellShift;

  static bool InRange(const Point& p) {
    for (int k = 0; k < 4; ++k)
      if (p[k] < 0 || p[k] > 255) return false;
    return true;
  }
  static size_t CellOf(const Point& p) {
    size_t cell = 0;
    for (int k = 0; k < 4; ++k) cell = cell * kCellsPerAxis + static_cast<size_t>(p[k] >> kCellShift);
    return cell;
  }

  void FillCell(size_t cell) const {
    int lo[4], hi[4];
    for (int k = 3, c = static_cast<int>(cell); k >= 0; --k, c /= kCellsPerAxis) {
      lo[k] = (c % kCellsPerAxis) << kCellShift;
      hi[k] = lo[k] + (1 << kCellShift) - 1;
    }
    std::vector<int64_t> least(points_.size());
    int64_t bound = std::numeric_limits<int64_t>::max();
    for (size_t i = 0; i < points_.size(); ++i) {
      int64_t near = 0, far = 0;
      for (int k = 0; k < 4; ++k) {
        const int64_t v = points_[i][k];
        const int64_t in = v < lo[k] ? lo[k] - v : v > hi[k] ? v - hi[k] : 0;
        const int64_t out = std::max(v - lo[k], hi[k] - v);
        near += weights_[k] * in * in;
        far += weights_[k] * out * out;
      }
      least[i] = near;
      bound = std::min(bound, far);
    }
    const Point corner{lo[0], lo[1], lo[2], lo[3]};
    if (packed_) {
      // Padded with copies of the last entry, which change no answer.
      std::vector<uint32_t> chosen;
      for (size_t i = 0; i < points_.size(); ++i)
        if (least[i] <= bound) chosen.push_back(static_cast<uint32_t>(i));
      cells_[cell].begin = static_cast<uint32_t>(blocks_.size());
      for (size_t at = 0; at < chosen.size(); at += 8) {
        SBlock& b = blocks_.emplace_back();
        for (size_t j = 0; j < 8; ++j) {
          const uint32_t i = chosen[std::min(at + j, chosen.size() - 1)];
          for (int k = 0; k < 4; ++k) b.v[k / 2][2 * j + k % 2] = static_cast<int16_t>(points_[i][k]);
          b.index[j] = static_cast<int32_t>(i);
        }
      }
      cells_[cell].end = static_cast<uint32_t>(blocks_.size());
      return;
    }
    std::vector<std::pair<double, uint32_t>> chosen;
    for (size_t i = 0; i < points_.size(); ++i)
      if (least[i] <= bound) chosen.emplace_back(std::sqrt(CentreDistance(points_[i], corner)), static_cast<uint32_t>(i));
    std::sort(chosen.begin(), chosen.end());
    cells_[cell].begin = static_cast<uint32_t>(candidates_.size());
    for (const auto& [reach, i] : chosen) candidates_.push_back(SCandidate{points_[i], i, reach});
    cells_[cell].end = static_cast<uint32_t>(candidates_.size());
  }

  // Weighted squared distance of `q` from the centre of the cell of `p`.
  double CentreDistance(const Point& q, const Point& p) const {
    double d = 0;
    for (int k = 0; k < 4; ++k) {
      const double centre = (p[k] >> kCellShift << kCellShift) + ((1 << kCellShift) - 1) / 2.0;
      const double diff = q[k] - centre;
      d += static_cast<double>(weights_[k]) * diff * diff;
    }
    return d;
  }

  size_t Walk(const Point& p) const {
    int64_t best = std::numeric_limits<int64_t>::max();
    size_t bestIndex = 0;
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

  // The same in 32 bits, when every point and the colour are in 0 to 255
  // and the weights small enough that no sum can overflow.
  int32_t SmallDistance(const Point& q, const Point& p) const {
    int32_t d = 0;
    for (int k = 0; k < 4; ++k) {
      const int32_t diff = q[k] - p[k];
      d += smallWeights_[k] * diff * diff;
    }
    return d;
  }

  int64_t Distance(const Point& q, const Point& p) const {
    int64_t d = 0;
    for (int k = 0; k < 4; ++k) {
      const int64_t diff = q[k] - p[k];
      d += weights_[k] * diff * diff;
    }
    return d;
  }

  // Eight entries: red and green of each side by side, then blue and
  // alpha, then their positions.
  struct alignas(32) SBlock {
    int16_t v[2][16];
    int32_t index[8];
  };

  size_t NearestInBlocks(const SBlock* b, size_t n, const Point& p) const {
#ifdef ZV_NEAREST_AVX2
    if (Vectorised()) return NearestInBlocksAvx2(b, n, p);
#endif
    int32_t best = std::numeric_limits<int32_t>::max();
    for (const SBlock* e = b + n; b != e; ++b)
      for (int j = 0; j < 8; ++j) {
        int32_t d = 0;
        for (int k = 0; k < 4; ++k) {
          const int32_t diff = b->v[k / 2][2 * j + k % 2] - p[k];
          d += smallWeights_[k] * diff * diff;
        }
        best = std::min(best, d << 8 | b->index[j]);
      }
    return static_cast<size_t>(best & 255);
  }

#ifdef ZV_NEAREST_AVX2
  __attribute__((target("avx2"))) size_t NearestInBlocksAvx2(const SBlock* b, size_t n, const Point& p) const {
    // Differences and weighted differences in 16 bits; each pair of
    // products summed into 32 by madd.
    __m256i colour[2], weight[2];
    for (int k = 0; k < 2; ++k) {
      colour[k] = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(p[2 * k + 1]) << 16 |
                                                         static_cast<uint32_t>(p[2 * k] & 0xFFFF)));
      weight[k] = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(smallWeights_[2 * k + 1]) << 16 |
                                                         static_cast<uint32_t>(smallWeights_[2 * k])));
    }
    __m256i best = _mm256_set1_epi32(std::numeric_limits<int32_t>::max());
    for (const SBlock* e = b + n; b != e; ++b) {
      __m256i d = _mm256_setzero_si256();
      for (int k = 0; k < 2; ++k) {
        const __m256i diff = _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i*>(b->v[k])), colour[k]);
        d = _mm256_add_epi32(d, _mm256_madd_epi16(diff, _mm256_mullo_epi16(diff, weight[k])));
      }
      const __m256i key =
          _mm256_or_si256(_mm256_slli_epi32(d, 8), _mm256_load_si256(reinterpret_cast<const __m256i*>(b->index)));
      best = _mm256_min_epi32(best, key);
    }
    __m128i m = _mm_min_epi32(_mm256_castsi256_si128(best), _mm256_extracti128_si256(best, 1));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(1, 0, 3, 2)));
    m = _mm_min_epi32(m, _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 3, 0, 1)));
    return static_cast<size_t>(_mm_cvtsi128_si32(m) & 255);
  }
#endif

  struct Item {
    Point v;
    size_t index;
  };
  std::array<int64_t, 4> weights_;
  std::array<int32_t, 4> smallWeights_{};
  bool small_ = false;
  bool packed_ = false;
  int axis_ = 0;
  std::vector<Item> sorted_;
  std::vector<Point> points_;  // in the caller's order
  // Per cell, its range in candidates_; an end of 0 until first asked (a
  // filled cell has at least one candidate).
  struct SCell {
    uint32_t begin = 0, end = 0;
  };
  mutable std::vector<SCell> cells_;
  // A cell's candidate with its distance from the cell's centre, kept
  // together so that a look-up reads one run of memory.
  struct SCandidate {
    Point v;
    uint32_t index;
    double reach;
  };
  mutable std::vector<SCandidate> candidates_;
  mutable std::vector<SBlock> blocks_;  // the cells' entries when packed_
};

}  // namespace zv

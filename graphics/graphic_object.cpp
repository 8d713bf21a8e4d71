#include "graphics/graphic_object.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <strings.h>
#include <unordered_map>

#include "graphics/colour_map.h"
#include "graphics/median_cut.h"
#include "graphics/nearest_point.h"
#include "platform/parallel.h"

namespace zv {

void ERGBQUAD::Serialize(CArchive& ar) {
  ar.Byte(index);
  ar.Byte(blue);
  ar.Byte(green);
  ar.Byte(red);
  ar.Byte(alpha);
}

// The records, then the transparent index (1 byte).
void CErgbPalette::Serialize(CArchive& ar) {
  CTypeArray<ERGBQUAD>::Serialize(ar);
  ar.Byte(m_nTransparentIndex);
}

void CErgbPalette::Copy(const CTypeArray<ERGBQUAD>& src) {
  CTypeArray<ERGBQUAD>::Copy(src);
  if (auto* p = dynamic_cast<const CErgbPalette*>(&src)) m_nTransparentIndex = p->m_nTransparentIndex;
}

CErgbPalette* CPoFolder::AddPalette() {
  auto p = std::make_unique<CErgbPalette>();
  char name[64];
  std::snprintf(name, sizeof name, "%s#%d", "Palettte", static_cast<int>(GetCount()));
  p->SetName(name);
  int32_t id = 0;
  for (size_t i = 0; i < GetCount(); ++i) id = std::max(id, GetAt(i)->m_nId + 1);
  p->m_nId = id;
  p->m_pParent = this;
  return Add(std::move(p));
}

// ---------------------------------------------------------------------------

ZV_IMPLEMENT_DYNCREATE(CGraphicObject, 1)
ZV_IMPLEMENT_DYNCREATE(CGoFolder, 1)

CErgbPalette& CGraphicObject::Palette() {
  if (!m_palette) m_palette = std::make_unique<CErgbPalette>();
  return *m_palette;
}

bool CGraphicObject::SetImageFile(const std::string& path, std::string* why) {
  if (strcasecmp(path.c_str(), m_strPath.c_str()) == 0 && !path.empty()) {
    if (why) *why = "it is the graphic's picture already";
    return false;
  }
  if (path.empty()) {
    m_strPath.clear();
    m_nWidth = m_nHeight = 0;
    m_palette.reset();
    return true;
  }
  CPicture pic;
  std::string error;
  if (!DecodeImageFile(path, pic, error)) {
    if (why) {
      std::error_code ec;
      if (!std::filesystem::exists(path, ec)) *why = "the file does not exist";
      else if (error.rfind("\"" + path + "\": ", 0) == 0) *why = error.substr(path.size() + 4);
      else *why = error;
    }
    return false;
  }
  if (PaletteFromImage(Palette(), 0.0, pic) == 0) {
    if (why) *why = "its colours cannot be converted to a palette";
    return false;
  }
  m_nWidth = pic.width;
  m_nHeight = pic.height;
  m_strPath = path;
  if (m_strName.empty() || m_strName.rfind("Graphic", 0) == 0) SetName(std::filesystem::path(path).stem().string());
  return true;
}

bool CGraphicObject::LoadPicture(CPicture& out, std::string& error) const {
  if (m_picture) {
    out = *m_picture;
    return true;
  }
  if (m_strPath.empty()) {
    error = "graphics object is empty! ";
    return false;
  }
  return DecodeImageFile(m_strPath, out, error);
}

void CGraphicObject::Serialize(CArchive& ar) {
  CNamedObject::Serialize(ar);
  ar.Path(m_strPath);
}

void CGraphicObject::CopyFrom(const CNamedObject& src) {
  CNamedObject::CopyFrom(src);
  if (auto* g = dynamic_cast<const CGraphicObject*>(&src)) {
    m_strPath = g->m_strPath;
    m_nWidth = g->m_nWidth;
    m_nHeight = g->m_nHeight;
    m_palette.reset();
    if (g->m_palette) Palette().Copy(*g->m_palette);
    m_picture = g->m_picture ? std::make_unique<CPicture>(*g->m_picture) : nullptr;
  }
}

// ---------------------------------------------------------------------------

std::pair<int, int> TransparentReferencePixel(const CPicture& pic) {
  const std::pair<int, int> pos[4] = {
      {0, 0}, {pic.width - 1, 0}, {0, pic.height - 1}, {pic.width - 1, pic.height - 1}};
  SColor c[4];
  for (int i = 0; i < 4; ++i) c[i] = pic.At(pos[i].first, pos[i].second);
  if (c[0].a == 0) return pos[0];
  int found = -1;
  for (int i = 0; i < 4; ++i)
    for (int j = i + 1; j < 4; ++j)
      if (c[i] == c[j]) found = i;  // the last agreeing pair decides
  return found < 0 ? pos[0] : pos[found];
}

namespace {

// ARGB pixels in pieces, taken as one run of `count` pixels; with
// `padded`, invisible pixels besides them (the margin of pictures of
// different sizes stacked into one).
struct SArgbPieces {
  std::vector<std::pair<const uint8_t*, size_t>> pieces;  // first pixel, pixels
  size_t count = 0;
  bool padded = false;

  void Add(const uint8_t* p, size_t n) {
    if (n) pieces.emplace_back(p, n), count += n;
  }
  // Calls f(pixel's four bytes) for pixels `from` to `to`, until f returns
  // false.
  template <class F>
  void Each(size_t from, size_t to, const F& f) const {
    size_t at = 0;
    for (const auto& [p, n] : pieces) {
      if (at >= to) return;
      if (at + n > from) {
        const size_t begin = from > at ? from - at : 0, end = std::min(n, to - at);
        for (const uint8_t *q = p + begin * 4, *e = p + end * 4; q != e; q += 4)
          if (!f(q)) return;
      }
      at += n;
    }
  }
  bool HasPartialAlpha() const {
    bool partial = false;
    Each(0, count, [&](const uint8_t* q) { return !(partial = q[0] >= 5 && q[0] < 255); });
    return partial;
  }
};

// The distinct colours of the visible pixels (keyed alpha, red, green,
// blue) and their table, plus transparent black when any pixel is
// invisible; false when there are more than 255 or fewer than 2 entries.
bool ExactColours(const SArgbPieces& px, CColourMap& index, std::vector<SColor>& table) {
  bool anyTransparent = px.padded, more = false;
  uint32_t last = 0;
  bool haveLast = false;
  px.Each(0, px.count, [&](const uint8_t* p) {
    if (p[0] == 0) {
      anyTransparent = true;
      return true;
    }
    uint32_t v = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    if (haveLast && v == last) return true;
    last = v;
    haveLast = true;
    uint32_t& entry = index[v];
    if (entry) return true;
    if (table.size() == 255) return !(more = true);
    table.push_back(SColor{p[1], p[2], p[3], p[0]});
    entry = static_cast<uint32_t>(table.size());  // one more than the entry: 0 is new
    return true;
  });
  if (more) return false;
  if (anyTransparent) {
    // The transparent entry must fit the palette's 255 entries too.
    if (table.size() == CErgbPalette::kMaxEntries) return false;
    table.push_back(SColor{0, 0, 0, 0});
  }
  return table.size() >= 2;
}

SArgbPieces PiecesOf(const CPicture& pic) {
  SArgbPieces px;
  px.Add(pic.pixels.data(), static_cast<size_t>(pic.width) * pic.height);
  return px;
}

bool ExactColours(const CPicture& pic, CColourMap& index, std::vector<SColor>& table) {
  return ExactColours(PiecesOf(pic), index, table);
}

// True when some pixel of an ARGB picture is invisible (alpha below 5).
bool HasInvisible(const CPicture& pic) {
  if (pic.format != PixelFormat::Argb32) return false;
  for (size_t i = 0; i < pic.pixels.size(); i += 4)
    if (pic.pixels[i] < 5) return true;
  return false;
}

// The colours a quantized picture may have beside its transparent entry:
// one of the palette's 255 entries goes to invisible pixels when there are
// any.
int VisibleColours(const CPicture& pic) {
  const int all = static_cast<int>(CErgbPalette::kMaxEntries);
  return HasInvisible(pic) ? all - 1 : all;
}

// Exact palette of an ARGB picture: the distinct colours of the visible
// pixels in order of first appearance, then transparent black when any
// pixel is invisible. Nothing when there are more than 255 or fewer than 2
// entries.
std::optional<CPicture> ExactPalette(const CPicture& pic) {
  CColourMap index(512);
  std::vector<SColor> table;
  if (!ExactColours(pic, index, table)) return std::nullopt;
  const size_t count = static_cast<size_t>(pic.width) * pic.height;
  uint32_t last = 0;
  int firstTransparent = 255;
  for (size_t i = 0; i < table.size(); ++i)
    if (table[i].a == 0) {
      firstTransparent = static_cast<int>(i);
      break;
    }
  CPicture out;
  out.Allocate(pic.width, pic.height, PixelFormat::Indexed8);
  const uint8_t* p = pic.pixels.data();
  uint8_t lastIndex = 0;
  bool haveLast = false;
  for (size_t i = 0; i < count; ++i, p += 4) {
    if (p[0] == 0) {
      out.pixels[i] = static_cast<uint8_t>(firstTransparent);
      continue;
    }
    uint32_t v = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    if (!haveLast || v != last) {
      lastIndex = static_cast<uint8_t>(index.At(v) - 1);
      last = v;
      haveLast = true;
    }
    out.pixels[i] = lastIndex;
  }
  out.table = std::move(table);
  out.tableHasAlpha = true;
  out.transparentIndex = firstTransparent < static_cast<int>(out.table.size()) ? firstTransparent : -1;
  return out;
}

// ---- Two-pass median-cut quantizer.
//
// Pass 1 counts pixels in a 32 x 64 x 32 histogram (5 bits of red, 6 of
// green, 5 of blue; cells saturate at 65535), cuts the occupied colour
// space into boxes (by population while fewer than half the colours exist,
// then by volume; each box split at the midpoint of its longest axis, the
// axes weighted red 2, green 3, blue 1, ties going to green, then red) and
// takes each box's population-weighted mean. Pass 2 maps pixels in
// serpentine order with Floyd-Steinberg error diffusion (7/16, 3/16, 5/16,
// 1/16), errors limited by a table that passes errors up to 16 unchanged,
// halves them up to 48 and clamps beyond; each histogram cell caches the
// nearest colour.

constexpr int kC0Shift = 3, kC1Shift = 2, kC2Shift = 3;  // 8 - histogram bits
constexpr int kC0Scale = 2, kC1Scale = 3, kC2Scale = 1;
constexpr int kHist0 = 32, kHist1 = 64, kHist2 = 32;

struct Box {
  int c0min, c0max, c1min, c1max, c2min, c2max;
  int64_t volume;
  int64_t colorcount;
};

class Quantizer {
 public:
  Quantizer() : hist_(static_cast<size_t>(kHist0) * kHist1 * kHist2, 0) {}

  uint16_t& Cell(int c0, int c1, int c2) { return hist_[(static_cast<size_t>(c0) * kHist1 + c1) * kHist2 + c2]; }

  void Count(uint8_t r, uint8_t g, uint8_t b) {
    uint16_t& h = Cell(r >> kC0Shift, g >> kC1Shift, b >> kC2Shift);
    if (h != 0xFFFF) ++h;
  }

  // Adds the counts of `other`, saturating as counting does.
  void Add(const Quantizer& other) {
    for (size_t i = 0; i < hist_.size(); ++i)
      hist_[i] = static_cast<uint16_t>(std::min<uint32_t>(uint32_t{hist_[i]} + other.hist_[i], 0xFFFF));
  }

  std::vector<SColor> SelectColors(int desired) {
    std::vector<Box> boxes(static_cast<size_t>(desired));
    boxes[0] = Box{0, kHist0 - 1, 0, kHist1 - 1, 0, kHist2 - 1, 0, 0};
    UpdateBox(boxes[0]);
    int n = MedianCut(boxes, 1, desired);
    std::vector<SColor> colors;
    for (int i = 0; i < n; ++i) colors.push_back(ComputeColor(boxes[i]));
    return colors;
  }

  void StartPass2(const std::vector<SColor>& colors) {
    colors_ = colors;
    std::fill(hist_.begin(), hist_.end(), 0);
  }

  // Nearest colour of a histogram cell (its centre), computed once.
  int Lookup(int r, int g, int b) {
    uint16_t& h = Cell(r >> kC0Shift, g >> kC1Shift, b >> kC2Shift);
    if (h == 0) {
      int c0 = ((r >> kC0Shift) << kC0Shift) + ((1 << kC0Shift) >> 1);
      int c1 = ((g >> kC1Shift) << kC1Shift) + ((1 << kC1Shift) >> 1);
      int c2 = ((b >> kC2Shift) << kC2Shift) + ((1 << kC2Shift) >> 1);
      int best = 0;
      int64_t bestDist = INT64_MAX;
      for (size_t i = 0; i < colors_.size(); ++i) {
        int64_t d0 = (c0 - colors_[i].r) * kC0Scale;
        int64_t d1 = (c1 - colors_[i].g) * kC1Scale;
        int64_t d2 = (c2 - colors_[i].b) * kC2Scale;
        int64_t d = d0 * d0 + d1 * d1 + d2 * d2;
        if (d < bestDist) {
          bestDist = d;
          best = static_cast<int>(i);
        }
      }
      h = static_cast<uint16_t>(best + 1);
    }
    return h - 1;
  }

 private:
  bool Occupied(int c0a, int c0b, int c1a, int c1b, int c2a, int c2b) {
    for (int c0 = c0a; c0 <= c0b; ++c0)
      for (int c1 = c1a; c1 <= c1b; ++c1)
        for (int c2 = c2a; c2 <= c2b; ++c2)
          if (Cell(c0, c1, c2)) return true;
    return false;
  }

  // Shrinks the box to its occupied cells and computes volume and count.
  void UpdateBox(Box& b) {
    if (b.c0max > b.c0min)
      for (int c0 = b.c0min; c0 <= b.c0max; ++c0)
        if (Occupied(c0, c0, b.c1min, b.c1max, b.c2min, b.c2max)) {
          b.c0min = c0;
          break;
        }
    if (b.c0max > b.c0min)
      for (int c0 = b.c0max; c0 >= b.c0min; --c0)
        if (Occupied(c0, c0, b.c1min, b.c1max, b.c2min, b.c2max)) {
          b.c0max = c0;
          break;
        }
    if (b.c1max > b.c1min)
      for (int c1 = b.c1min; c1 <= b.c1max; ++c1)
        if (Occupied(b.c0min, b.c0max, c1, c1, b.c2min, b.c2max)) {
          b.c1min = c1;
          break;
        }
    if (b.c1max > b.c1min)
      for (int c1 = b.c1max; c1 >= b.c1min; --c1)
        if (Occupied(b.c0min, b.c0max, c1, c1, b.c2min, b.c2max)) {
          b.c1max = c1;
          break;
        }
    if (b.c2max > b.c2min)
      for (int c2 = b.c2min; c2 <= b.c2max; ++c2)
        if (Occupied(b.c0min, b.c0max, b.c1min, b.c1max, c2, c2)) {
          b.c2min = c2;
          break;
        }
    if (b.c2max > b.c2min)
      for (int c2 = b.c2max; c2 >= b.c2min; --c2)
        if (Occupied(b.c0min, b.c0max, b.c1min, b.c1max, c2, c2)) {
          b.c2max = c2;
          break;
        }
    int64_t d0 = static_cast<int64_t>((b.c0max - b.c0min) << kC0Shift) * kC0Scale;
    int64_t d1 = static_cast<int64_t>((b.c1max - b.c1min) << kC1Shift) * kC1Scale;
    int64_t d2 = static_cast<int64_t>((b.c2max - b.c2min) << kC2Shift) * kC2Scale;
    b.volume = d0 * d0 + d1 * d1 + d2 * d2;
    int64_t count = 0;
    for (int c0 = b.c0min; c0 <= b.c0max; ++c0)
      for (int c1 = b.c1min; c1 <= b.c1max; ++c1)
        for (int c2 = b.c2min; c2 <= b.c2max; ++c2)
          if (Cell(c0, c1, c2)) ++count;
    b.colorcount = count;
  }

  int MedianCut(std::vector<Box>& boxes, int n, int desired) {
    while (n < desired) {
      Box* b1 = nullptr;
      if (n * 2 <= desired) {
        int64_t maxc = 0;
        for (int i = 0; i < n; ++i)
          if (boxes[i].colorcount > maxc && boxes[i].volume > 0) {
            b1 = &boxes[i];
            maxc = boxes[i].colorcount;
          }
      } else {
        int64_t maxv = 0;
        for (int i = 0; i < n; ++i)
          if (boxes[i].volume > maxv) {
            b1 = &boxes[i];
            maxv = boxes[i].volume;
          }
      }
      if (!b1) break;
      Box& b2 = boxes[n];
      b2 = *b1;
      int64_t c0 = static_cast<int64_t>((b1->c0max - b1->c0min) << kC0Shift) * kC0Scale;
      int64_t c1 = static_cast<int64_t>((b1->c1max - b1->c1min) << kC1Shift) * kC1Scale;
      int64_t c2 = static_cast<int64_t>((b1->c2max - b1->c2min) << kC2Shift) * kC2Scale;
      int64_t cmax = c1;
      int axis = 1;
      if (c0 > cmax) {
        cmax = c0;
        axis = 0;
      }
      if (c2 > cmax) axis = 2;
      int lb;
      switch (axis) {
        case 0:
          lb = (b1->c0max + b1->c0min) / 2;
          b1->c0max = lb;
          b2.c0min = lb + 1;
          break;
        case 1:
          lb = (b1->c1max + b1->c1min) / 2;
          b1->c1max = lb;
          b2.c1min = lb + 1;
          break;
        default:
          lb = (b1->c2max + b1->c2min) / 2;
          b1->c2max = lb;
          b2.c2min = lb + 1;
          break;
      }
      UpdateBox(*b1);
      UpdateBox(b2);
      ++n;
    }
    return n;
  }

  SColor ComputeColor(const Box& b) {
    int64_t total = 0, t0 = 0, t1 = 0, t2 = 0;
    for (int c0 = b.c0min; c0 <= b.c0max; ++c0)
      for (int c1 = b.c1min; c1 <= b.c1max; ++c1)
        for (int c2 = b.c2min; c2 <= b.c2max; ++c2) {
          int64_t count = Cell(c0, c1, c2);
          if (!count) continue;
          total += count;
          t0 += ((c0 << kC0Shift) + ((1 << kC0Shift) >> 1)) * count;
          t1 += ((c1 << kC1Shift) + ((1 << kC1Shift) >> 1)) * count;
          t2 += ((c2 << kC2Shift) + ((1 << kC2Shift) >> 1)) * count;
        }
    if (total == 0) return SColor{0, 0, 0, 255};
    return SColor{static_cast<uint8_t>((t0 + (total >> 1)) / total), static_cast<uint8_t>((t1 + (total >> 1)) / total),
                  static_cast<uint8_t>((t2 + (total >> 1)) / total), 255};
  }

  std::vector<uint16_t> hist_;
  std::vector<SColor> colors_;
};

struct ErrorLimit {
  int table[511];
  ErrorLimit() {
    int* t = table + 255;
    int in = 0, out = 0;
    for (; in < 16; ++in, ++out) t[in] = out, t[-in] = -out;
    for (; in < 48; ++in, out += (in & 1) ? 0 : 1) t[in] = out, t[-in] = -out;
    for (; in <= 255; ++in) t[in] = out, t[-in] = -out;
  }
  int operator()(int e) const { return table[255 + std::clamp(e, -255, 255)]; }
};


}  // namespace

CPicture QuantizeMedianCut(const CPicture& pic, int colors) {
  static const ErrorLimit limit;
  const int w = pic.width, h = pic.height;
  const bool argb = pic.format == PixelFormat::Argb32;
  const int bpp = CPicture::BytesPerPixel(pic.format);
  // The source as R, G, B (indexed pictures drawn through their table) and
  // which pixels are invisible.
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  std::vector<uint8_t> alpha;
  if (argb) alpha.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = pic.Row(y);
    uint8_t* d = rgb.data() + static_cast<size_t>(y) * w * 3;
    for (int x = 0; x < w; ++x, s += bpp, d += 3) {
      if (pic.format == PixelFormat::Rgb24) {
        d[0] = s[0], d[1] = s[1], d[2] = s[2];
      } else if (argb) {
        // Semi-transparent pixels keep their colour unflattened.
        alpha[static_cast<size_t>(y) * w + x] = s[0];
        d[0] = s[1], d[1] = s[2], d[2] = s[3];
      } else {
        SColor c = pic.At(x, y);
        d[0] = c.r, d[1] = c.g, d[2] = c.b;
      }
    }
  }
  auto invisible = [&](size_t i) { return argb && alpha[i] < 5; };

  Quantizer q;
  size_t count = static_cast<size_t>(w) * h;
  bool anyVisible = false;
  for (size_t i = 0; i < count; ++i)
    if (!invisible(i)) {
      q.Count(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
      anyVisible = true;
    }
  std::vector<SColor> table = anyVisible ? q.SelectColors(colors) : std::vector<SColor>{};
  q.StartPass2(table);
  const int transparent = static_cast<int>(table.size());
  std::vector<bool> alphaSet(table.size(), false);

  CPicture out;
  out.Allocate(w, h, PixelFormat::Indexed8);
  std::vector<int> errors(static_cast<size_t>(w + 2) * 3, 0);
  bool oddRow = false;
  for (int y = 0; y < h; ++y) {
    int dir = oddRow ? -1 : 1;
    int x = oddRow ? w - 1 : 0;
    // errors[] holds, for each column + 1, the error carried to this row.
    int* err = errors.data() + (oddRow ? (w + 1) * 3 : 0);
    const int dir3 = dir * 3;
    int cur[3] = {0, 0, 0}, below[3] = {0, 0, 0}, prevBelow[3] = {0, 0, 0};
    for (int n = 0; n < w; ++n, x += dir, err += dir3) {
      size_t i = static_cast<size_t>(y) * w + x;
      uint8_t& o = out.pixels[i];
      if (invisible(i) || table.empty()) {
        o = static_cast<uint8_t>(transparent);
        cur[0] = cur[1] = cur[2] = 0;
      } else {
        int v[3];
        for (int c = 0; c < 3; ++c) {
          int e = limit((cur[c] + err[dir3 + c] + 8) >> 4);
          v[c] = std::clamp(e + rgb[i * 3 + c], 0, 255);
        }
        int idx = q.Lookup(v[0], v[1], v[2]);
        o = static_cast<uint8_t>(idx);
        if (argb && !alphaSet[idx]) {
          table[idx].a = alpha[i];
          alphaSet[idx] = true;
        }
        cur[0] = v[0] - table[idx].r;
        cur[1] = v[1] - table[idx].g;
        cur[2] = v[2] - table[idx].b;
      }
      for (int c = 0; c < 3; ++c) {
        int e = cur[c];
        int next = e;
        int delta = e * 2;
        e += delta;  // 3
        err[c] = prevBelow[c] + e;
        e += delta;  // 5
        prevBelow[c] = below[c] + e;
        below[c] = next;
        e += delta;  // 7
        cur[c] = e;
      }
    }
    for (int c = 0; c < 3; ++c) err[c] = prevBelow[c];
    oddRow = !oddRow;
  }
  bool anyInvisible = false;
  for (size_t i = 0; i < count && argb; ++i) anyInvisible = anyInvisible || invisible(i);
  if (argb && (anyInvisible || table.empty())) table.push_back(SColor{0, 0, 0, 0});
  out.table = std::move(table);
  out.tableHasAlpha = true;
  if (argb) {
    out.transparentIndex = anyInvisible ? transparent : -1;
  } else {
    auto [tx, ty] = TransparentReferencePixel(pic);
    int t = out.Row(ty)[tx];
    out.table[t].a = 0;
    out.transparentIndex = t;
  }
  return out;
}

bool HasPartialAlpha(const CPicture& pic) {
  if (pic.format == PixelFormat::Indexed8) {
    if (!pic.tableHasAlpha) return false;
    for (const SColor& c : pic.table)
      if (c.a >= 5 && c.a < 255) return true;
    return false;
  }
  if (pic.format != PixelFormat::Argb32) return false;
  for (size_t i = 0; i < pic.pixels.size(); i += 4)
    if (pic.pixels[i] >= 5 && pic.pixels[i] < 255) return true;
  return false;
}

namespace {

std::array<int, 4> Premultiplied(const SColor& c) {
  return std::array<int, 4>{(c.r * c.a + 127) / 255, (c.g * c.a + 127) / 255, (c.b * c.a + 127) / 255, c.a};
}

uint32_t PremultipliedKey(const std::array<int, 4>& p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         static_cast<uint32_t>(p[3]);
}

// Colours and alpha are chosen together in premultiplied form, so that a
// faint pixel weighs by what it adds to the picture: soft edges keep their
// shades without taking the entries of the opaque colours.

// How many pixels have each premultiplied colour; pixels of alpha below 5
// are only noted.
// Pictures are counted in shares of at least this many pixels, one on each
// core: fewer would cost more in threads than they save.
constexpr size_t kPixelsPerShare = size_t{1} << 18;

// The buckets of the visible pixels' premultiplied colours (see
// median_cut.h), counted in a share of the pixels on each core: exact
// colours first, coarser buckets when there are too many. A share that
// overflows stops at once, so a picture with noise costs little at the
// coarseness it does not get.
//
// `visit(from, to, f)` calls f(colour) for pixels `from` to `to` of the
// `count` pixels, in order, until f returns false.
template <class Visit>
std::vector<SColourBucket> CountBuckets(size_t count, Visit visit, bool& anyInvisible) {
  constexpr size_t kMaxShare = size_t{1} << 24;  // a counter's limit
  const size_t shares =
      std::max(ParallelWidth(std::max<size_t>(1, count / kPixelsPerShare)), (count + kMaxShare - 1) / kMaxShare);
  // Exact colours while they are few; else two bits dropped, and more from
  // those buckets while they are too many. Colours so varied that even the
  // buckets of two bits are beyond counting start three bits down.
  struct SPass {
    int shift;
    size_t limit;
  };
  constexpr SPass kPasses[] = {{0, kMaxBuckets}, {2, size_t{1} << 18}, {3, kMaxBuckets}, {4, 0}};
  std::vector<SColourBucket> out;
  for (const SPass& pass : kPasses) {
    // Each share sorts its own buckets, on its core.
    std::vector<std::vector<SColourBucket>> sorted(shares);
    std::vector<char> invisible(shares, 0), full(shares, 0);
    ParallelFor(shares, [&](size_t k) {
      CBucketCounter counter(pass.shift, pass.limit);
      visit(count * k / shares, count * (k + 1) / shares, [&](const SColor& c) {
        if (c.a >= 5) return counter.Add(PremultipliedKey(Premultiplied(c)));
        invisible[k] = 1;
        return true;
      });
      sorted[k] = counter.Sorted();
      full[k] = counter.Full();
    });
    if (std::find(full.begin(), full.end(), 1) == full.end() && JoinBuckets(sorted, out, pass.limit)) {
      anyInvisible = std::find(invisible.begin(), invisible.end(), 1) != invisible.end();
      for (int shift = pass.shift; shift > 0 && shift < 4 && out.size() > kMaxBuckets; ++shift) CoarsenBuckets(out);
      return out;
    }
  }
  return out;
}

// A visitor (see CountBuckets) of `pixel(i)`.
template <class PixelAt>
auto EachOf(PixelAt pixel) {
  return [pixel](size_t from, size_t to, const auto& f) {
    for (size_t i = from; i < to; ++i)
      if (!f(pixel(i))) return;
  };
}

// The table of at most `colors` entries for the buckets: median cut, each
// entry its box's weighted mean back from premultiplied form. With
// `invisibleTakesEntry`, invisible pixels, when there are any, leave one of
// the `colors` entries for themselves. `entries` receives the entries in
// premultiplied form.
std::vector<SColor> MedianCutTable(std::vector<SColourBucket> buckets, bool anyInvisible, int colors,
                                   bool invisibleTakesEntry, std::vector<std::array<int, 4>>& entries) {
  const size_t budget = static_cast<size_t>(std::max(1, colors - (invisibleTakesEntry && anyInvisible ? 1 : 0)));
  std::vector<SColor> table = MedianCutColours(std::move(buckets), budget);
  entries.clear();
  for (const SColor& c : table) entries.push_back(Premultiplied(c));
  return table;
}

// `pixel(i)` gives pixel i of `count`; `index` receives each pixel's entry,
// the table's size for pixels of alpha below 5.
template <class PixelAt>
std::vector<SColor> MedianCutWithAlpha(size_t count, PixelAt pixel, int colors, bool invisibleTakesEntry,
                                       std::vector<uint8_t>& index, bool& anyInvisible) {
  std::vector<SColourBucket> buckets = CountBuckets(count, EachOf(pixel), anyInvisible);
  std::vector<std::array<int, 4>> entries;
  const std::vector<SColor> table = MedianCutTable(std::move(buckets), anyInvisible, colors, invisibleTakesEntry, entries);

  const auto invisible = static_cast<uint8_t>(table.size());
  index.resize(count);
  const CNearestPoint nearestEntry(entries, {1, 1, 1, 1});
  // Recent colours' entries in a small direct-mapped cache: drawn pictures
  // repeat a few colours, pictures with noise hardly any.
  struct SCached {
    uint32_t key = 0;  // 0: empty (alpha is at least 5 in every key)
    uint8_t entry = 0;
  };
  std::vector<SCached> cache(4096);
  for (size_t i = 0; i < count; ++i) {
    const SColor c = pixel(i);
    if (c.a < 5 || entries.empty()) {
      index[i] = invisible;
      continue;
    }
    const std::array<int, 4> p = Premultiplied(c);
    const uint32_t key = PremultipliedKey(p);
    SCached& cached = cache[(key * 0x9E3779B1u) >> 20];
    if (cached.key != key) cached = SCached{key, static_cast<uint8_t>(nearestEntry.Find(p))};
    index[i] = cached.entry;
  }
  return table;
}

}  // namespace

CPicture QuantizeWithAlpha(const CPicture& pic, int colors) {
  const int w = pic.width, h = pic.height;
  const size_t count = static_cast<size_t>(w) * h;
  CPicture out;
  out.Allocate(w, h, PixelFormat::Indexed8);
  bool anyInvisible = false;
  std::vector<SColor> table;
  if (pic.format == PixelFormat::Argb32) {
    const uint8_t* px = pic.pixels.data();
    table = MedianCutWithAlpha(
        count, [px](size_t i) { return SColor{px[i * 4 + 1], px[i * 4 + 2], px[i * 4 + 3], px[i * 4]}; }, colors, true,
        out.pixels, anyInvisible);
  } else {
    table = MedianCutWithAlpha(
        count, [&pic, w](size_t i) { return pic.At(static_cast<int>(i % w), static_cast<int>(i / w)); }, colors, true,
        out.pixels, anyInvisible);
  }
  if (anyInvisible || table.empty()) table.push_back(SColor{0, 0, 0, 0});
  out.table = std::move(table);
  out.tableHasAlpha = true;
  out.transparentIndex = anyInvisible ? static_cast<int>(out.table.size()) - 1 : -1;
  return out;
}

std::vector<SColor> QuantizeColoursWithAlpha(const std::vector<SColor>& pixels, int colors, std::vector<uint8_t>& index) {
  bool anyInvisible = false;
  return MedianCutWithAlpha(
      pixels.size(), [&pixels](size_t i) { return pixels[i]; }, colors, false, index, anyInvisible);
}

namespace {

// The colour table that ToIndexedImage gives a picture, without mapping its
// pixels: a page's palette is made from the tables alone.
struct SIndexedTable {
  std::vector<SColor> table;
  bool hasAlpha = true;
};

// The table of true-colour pixels, quantized, in at most `capacity` entries.
SIndexedTable QuantizedTable(const SArgbPieces& px, size_t capacity) {
  SIndexedTable out;
  const size_t count = px.count;
  bool anyInvisible = px.padded;
  if (px.HasPartialAlpha()) {
    bool invisible = false;
    std::vector<SColourBucket> buckets = CountBuckets(
        count,
        [&px](size_t from, size_t to, const auto& f) {
          px.Each(from, to, [&f](const uint8_t* q) { return f(SColor{q[1], q[2], q[3], q[0]}); });
        },
        invisible);
    anyInvisible = anyInvisible || invisible;
    std::vector<std::array<int, 4>> entries;
    out.table = MedianCutTable(std::move(buckets), anyInvisible, static_cast<int>(capacity), true, entries);
  } else {
    // Every visible pixel is opaque, so mapping would leave each entry's
    // alpha at 255: the first pass alone gives the table.
    // Counted in a share of the pixels on each core; cells saturate, so
    // the shares' sum, saturated, is the count of all.
    const size_t shares = ParallelWidth(std::max<size_t>(1, count / kPixelsPerShare));
    std::vector<Quantizer> q(shares);
    std::vector<char> visible(shares, 0), invisible(shares, 0);
    ParallelFor(shares, [&](size_t k) {
      px.Each(count * k / shares, count * (k + 1) / shares, [&](const uint8_t* p) {
        if (p[0] >= 5) q[k].Count(p[1], p[2], p[3]), visible[k] = 1;
        else invisible[k] = 1;
        return true;
      });
    });
    for (size_t k = 1; k < shares; ++k) q[0].Add(q[k]);
    anyInvisible = anyInvisible || std::find(invisible.begin(), invisible.end(), 1) != invisible.end();
    if (std::find(visible.begin(), visible.end(), 1) != visible.end())
      out.table = q[0].SelectColors(std::max(1, static_cast<int>(capacity) - (anyInvisible ? 1 : 0)));
  }
  if (anyInvisible || out.table.empty()) out.table.push_back(SColor{0, 0, 0, 0});
  return out;
}

std::optional<SIndexedTable> IndexedTable(const CPicture& pic) {
  if (pic.width <= 0 || pic.height <= 0 || pic.pixels.size() < pic.Stride() * pic.height) return std::nullopt;
  if (pic.format == PixelFormat::Indexed8) return SIndexedTable{pic.table, pic.tableHasAlpha};
  if (pic.format != PixelFormat::Argb32) return SIndexedTable{ToIndexedImage(pic)->table, true};
  SIndexedTable out;
  {
    CColourMap index(512);
    if (ExactColours(pic, index, out.table)) return out;
  }
  return QuantizedTable(PiecesOf(pic), CErgbPalette::kMaxEntries);
}

}  // namespace

std::optional<CPicture> ToIndexedImage(const CPicture& pic) {
  if (pic.width <= 0 || pic.height <= 0 || pic.pixels.size() < pic.Stride() * pic.height) return std::nullopt;
  if (pic.format == PixelFormat::Indexed8) {
    CPicture out = pic;
    if (out.transparentIndex < 0 && !out.tableHasAlpha) {
      auto [tx, ty] = TransparentReferencePixel(pic);
      out.transparentIndex = pic.Row(ty)[tx];
    }
    return out;
  }
  if (pic.format == PixelFormat::Argb32)
    if (auto exact = ExactPalette(pic)) return exact;
  if (HasPartialAlpha(pic)) return QuantizeWithAlpha(pic, 255);
  return QuantizeMedianCut(pic, VisibleColours(pic));
}

int PaletteFromTable(CErgbPalette& palette, double opacity, const std::vector<SColor>& table, bool hasAlpha,
                     int topLeftIndex) {
  palette.Clear();
  palette.m_nTransparentIndex = static_cast<uint8_t>(topLeftIndex);
  opacity = std::clamp(opacity, 0.0, 1.0);
  size_t n = std::min(table.size(), CErgbPalette::kMaxEntries);
  for (size_t i = 0; i < n; ++i) {
    ERGBQUAD q;
    q.index = static_cast<uint8_t>(i);
    q.red = table[i].r;
    q.green = table[i].g;
    q.blue = table[i].b;
    if (hasAlpha) q.alpha = table[i].a;
    else q.alpha = static_cast<int>(i) == topLeftIndex ? static_cast<uint8_t>(std::lround(opacity * 255)) : 255;
    palette.Add(q);
  }
  return static_cast<int>(n);
}

int PaletteFromImage(CErgbPalette& palette, double opacity, const CPicture& pic) {
  std::optional<CPicture> indexed = ToIndexedImage(pic);
  if (!indexed) {
    palette.Clear();
    return 0;
  }
  return PaletteFromTable(palette, opacity, indexed->table, indexed->tableHasAlpha, indexed->Row(0)[0]);
}

namespace {

// The palette of `graphics` in at most `capacity` entries.
std::unique_ptr<CErgbPalette> PaletteOfPictures(const std::vector<const CGraphicObject*>& graphics, size_t capacity) {
  if (graphics.empty()) return nullptr;
  // Each picture is decoded once, one on each core, and kept for quantizing
  // them together below.
  const size_t n = graphics.size();
  std::vector<CPicture> decoded(n);
  std::vector<const CPicture*> pictures(n, nullptr);
  // Shadows and soft edges keep their alpha; pages of opaque pictures with
  // cut-out backgrounds keep the opaque palette they always had.
  std::vector<char> soft(n, 0);
  ParallelFor(n, [&](size_t i) {
    const CPicture* pic = graphics[i]->m_picture.get();
    if (!pic) {
      std::string error;
      if (!graphics[i]->LoadPicture(decoded[i], error)) return;
      pic = &decoded[i];
    }
    if (pic->width <= 0 || pic->height <= 0 || pic->pixels.size() < pic->Stride() * pic->height) return;
    soft[i] = HasPartialAlpha(*pic);
    pictures[i] = pic;
  });
  if (std::find(pictures.begin(), pictures.end(), nullptr) != pictures.end()) return nullptr;
  const bool softAlpha = std::find(soft.begin(), soft.end(), 1) != soft.end();
  auto palette = std::make_unique<CErgbPalette>();
  // A full table of the designer's (a picture indexed in its file) is the
  // page's palette; one that quantizing a true-colour picture happened to
  // fill is not, or the other pictures would lose their colours.
  for (const CPicture* pic : pictures)
    if (capacity == CErgbPalette::kMaxEntries && pic->format == PixelFormat::Indexed8 && pic->table.size() == 256) {
      PaletteFromTable(*palette, 1.0, pic->table, pic->tableHasAlpha, 255);
      return palette;
    }
  // The pictures' tables in order while they fit one palette. A picture
  // that must be quantized fills a palette alone, so with others beside it
  // the tables would overflow: the pictures are quantized together at once
  // instead, without quantizing each first. Exact tables cost little.
  std::vector<std::optional<SIndexedTable>> tables(n);
  std::vector<char> quantized(n, 0);
  ParallelFor(n, [&](size_t k) {
    if ((n > 1 || capacity < CErgbPalette::kMaxEntries) && pictures[k]->format == PixelFormat::Argb32) {
      SIndexedTable exact;
      CColourMap index(512);
      if (ExactColours(*pictures[k], index, exact.table)) tables[k] = std::move(exact);
      else quantized[k] = 1;
      return;
    }
    tables[k] = IndexedTable(*pictures[k]);
  });
  std::vector<SColor> values;
  bool overflow = std::find(quantized.begin(), quantized.end(), 1) != quantized.end();
  for (size_t k = 0; k < n && !overflow; ++k) {
    if (!tables[k]) return nullptr;
    for (const SColor& c : tables[k]->table) {
      if (std::find(values.begin(), values.end(), c) != values.end()) continue;
      if (values.size() == capacity) {
        overflow = true;
        break;
      }
      values.push_back(c);
    }
  }
  if (overflow) {
    // Collecting the tables in order would leave out every colour of the
    // later pictures (a selected state drawn in the colours of the normal
    // ones): the pictures are quantized together instead, as if stacked
    // into one picture (the widest wide, transparent where no picture
    // lies), counted where they are.
    int width = 0, height = 0;
    for (const CGraphicObject* g : graphics) {
      width = std::max(width, g->m_nWidth);
      height += g->m_nHeight;
    }
    if (width <= 0 || height <= 0) return nullptr;
    SArgbPieces px;
    std::vector<CPicture> converted(n);
    size_t covered = 0;
    for (size_t i = 0, top = 0; i < n && top < static_cast<size_t>(height); top += pictures[i]->height, ++i) {
      const CPicture* pic = pictures[i];
      if (pic->format != PixelFormat::Argb32) {
        CPicture& c = converted[i];
        c.Allocate(pic->width, pic->height, PixelFormat::Argb32);
        for (int y = 0; y < pic->height; ++y) {
          uint8_t* p = c.Row(y);
          for (int x = 0; x < pic->width; ++x, p += 4) {
            const SColor colour = pic->At(x, y);
            p[0] = colour.a, p[1] = colour.r, p[2] = colour.g, p[3] = colour.b;
          }
        }
        pic = &c;
      }
      const size_t rows = std::min<size_t>(pic->height, static_cast<size_t>(height) - top);
      const size_t columns = std::min(pic->width, width);
      if (columns == static_cast<size_t>(pic->width))
        px.Add(pic->Row(0), rows * columns);
      else
        for (size_t y = 0; y < rows; ++y) px.Add(pic->Row(static_cast<int>(y)), columns);
      covered += rows * columns;
    }
    px.padded = covered < static_cast<size_t>(width) * static_cast<size_t>(height);
    values.clear();
    CColourMap index(512);
    if (!ExactColours(px, index, values) || values.size() > capacity) values = QuantizedTable(px, capacity).table;
  }
  PaletteFromTable(*palette, 1.0, values, softAlpha, 255);
  // The entry of invisible pixels stays transparent in an opaque page's
  // palette too, rather than an opaque black the pictures never show.
  for (size_t i = 0; i < palette->GetCount(); ++i)
    if (values[i].a == 0) palette->GetAt(i)->alpha = 0;
  return palette;
}

}  // namespace

std::unique_ptr<CErgbPalette> BuildPagePalette(const std::vector<const CGraphicObject*>& graphics,
                                               const CErgbPalette* base) {
  if (!base) return PaletteOfPictures(graphics, CErgbPalette::kMaxEntries);
  std::vector<const ERGBQUAD*> at(CErgbPalette::kMaxEntries, nullptr);
  size_t taken = 0;
  for (size_t i = 0; i < base->GetCount(); ++i) {
    const ERGBQUAD* q = base->GetAt(i);
    if (q->index < at.size() && !at[q->index]) at[q->index] = q, ++taken;
  }
  std::unique_ptr<CErgbPalette> own;
  if (taken < at.size() && !graphics.empty()) {
    own = PaletteOfPictures(graphics, at.size() - taken);
    if (!own) return nullptr;
  }
  // The pictures' entries fill the indexes the base leaves free, in order.
  std::vector<ERGBQUAD> free;
  for (size_t i = 0, next = 0; own && i < own->GetCount(); ++i, ++next) {
    while (next < at.size() && at[next]) ++next;
    if (next == at.size()) break;
    ERGBQUAD q = *own->GetAt(i);
    q.index = static_cast<uint8_t>(next);
    free.push_back(q);
  }
  auto palette = std::make_unique<CErgbPalette>();
  palette->m_nTransparentIndex = base->m_nTransparentIndex;
  size_t k = 0;
  for (size_t index = 0; index < at.size(); ++index) {
    if (at[index]) palette->Add(*at[index]);
    else if (k < free.size() && free[k].index == index) palette->Add(free[k++]);
  }
  return palette;
}

}  // namespace zv

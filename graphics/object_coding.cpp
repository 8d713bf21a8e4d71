#include "graphics/object_coding.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "graphics/nearest_point.h"

namespace zv {

size_t EncodeLine(uint8_t* out, const uint8_t* pixels, int width) {
  uint8_t* o = out;
  int x = 0;
  while (x < width) {
    uint8_t v = pixels[x];
    int run = 1;
    while (x + run < width && pixels[x + run] == v && run < kMaxRunLength) ++run;
    x += run;
    if (v == 0) {
      *o++ = 0x00;
      if (run < 64) {
        *o++ = static_cast<uint8_t>(run);
      } else {
        *o++ = static_cast<uint8_t>(0x40 | (run >> 8));
        *o++ = static_cast<uint8_t>(run & 0xFF);
      }
    } else if (run <= 2) {
      for (int i = 0; i < run; ++i) *o++ = v;
    } else if (run < 64) {
      *o++ = 0x00;
      *o++ = static_cast<uint8_t>(0x80 | run);
      *o++ = v;
    } else {
      *o++ = 0x00;
      *o++ = static_cast<uint8_t>(0xC0 | (run >> 8));
      *o++ = static_cast<uint8_t>(run & 0xFF);
      *o++ = v;
    }
  }
  *o++ = 0x00;
  *o++ = 0x00;
  return static_cast<size_t>(o - out);
}

size_t DecodeLine(const uint8_t* in, size_t n, uint8_t* out, int width, size_t* decoded) {
  size_t i = 0;
  size_t x = 0;
  const size_t w = width < 0 ? 0 : static_cast<size_t>(width);
  auto put = [&](uint8_t v, size_t count) {
    if (x < w) std::memset(out + x, v, std::min(count, w - x));
    x += count;
  };
  for (;;) {
    if (i >= n) return 0;
    uint8_t b = in[i++];
    if (b != 0) {
      put(b, 1);
      continue;
    }
    if (i >= n) return 0;
    uint8_t f = in[i++];
    if (f == 0) break;
    size_t len = f & 0x3F;
    if (f & 0x40) {
      if (i >= n) return 0;
      len = len << 8 | in[i++];
    }
    uint8_t v = 0;
    if (f & 0x80) {
      if (i >= n) return 0;
      v = in[i++];
    }
    put(v, len);
  }
  if (decoded) *decoded = x;
  return i;
}

std::vector<uint8_t> EncodeObject(const CPicture& pic) {
  if (pic.format != PixelFormat::Indexed8 || pic.width > 0xFFFF || pic.height > 0xFFFF) return {};
  std::vector<uint8_t> out(7 + MaxCodedLine(pic.width) * static_cast<size_t>(pic.height));
  size_t pos = 7;
  for (int y = 0; y < pic.height; ++y) pos += EncodeLine(out.data() + pos, pic.Row(y), pic.width);
  out.resize(pos);
  size_t len = pos - 3;
  if (len > 0xFFFFFF) return {};  // beyond the 24-bit length field
  out[0] = static_cast<uint8_t>(len >> 16);
  out[1] = static_cast<uint8_t>(len >> 8);
  out[2] = static_cast<uint8_t>(len);
  out[3] = static_cast<uint8_t>(pic.width >> 8);
  out[4] = static_cast<uint8_t>(pic.width);
  out[5] = static_cast<uint8_t>(pic.height >> 8);
  out[6] = static_cast<uint8_t>(pic.height);
  return out;
}

std::optional<SDecodedObject> DecodeObject(const uint8_t* data, size_t n) {
  if (n < 7) return std::nullopt;
  size_t len = static_cast<size_t>(data[0]) << 16 | data[1] << 8 | data[2];
  if (n != len + 3) return std::nullopt;
  SDecodedObject obj;
  obj.width = data[3] << 8 | data[4];
  obj.height = data[5] << 8 | data[6];
  // Every line ends with a 2-byte code; graphics never exceed 4096 pixels a
  // side. Both bound what an untrusted header can make us allocate.
  if (obj.width > kMaxObjectSide || obj.height > kMaxObjectSide || static_cast<size_t>(obj.height) * 2 > n - 7)
    return std::nullopt;
  obj.pixels.assign(static_cast<size_t>(obj.width) * obj.height, 255);
  size_t pos = 7;
  for (int y = 0; y < obj.height; ++y) {
    size_t used = DecodeLine(data + pos, n - pos, obj.pixels.data() + static_cast<size_t>(y) * obj.width, obj.width);
    if (used == 0) return std::nullopt;
    pos += used;
  }
  return obj;
}

void FragmentObject(const uint8_t* data, size_t n, uint16_t objectId, std::vector<std::unique_ptr<COds>>& ods) {
  size_t count = std::max<size_t>(1, (n + kMaxFragment - 1) / kMaxFragment);
  for (size_t i = 0; i < count; ++i) {
    auto o = std::make_unique<COds>();
    o->m_nObjectId = objectId;
    o->m_nObjectVersion = 0;
    o->m_sequence.first = i == 0;
    o->m_sequence.last = i + 1 == count;
    size_t at = i * kMaxFragment;
    size_t take = std::min(kMaxFragment, n - at);
    o->m_sequence.fragment.assign(data + at, data + at + take);
    ods.push_back(std::move(o));
  }
}

std::optional<std::vector<uint8_t>> JoinFragments(const std::vector<std::unique_ptr<COds>>& ods, size_t& at) {
  if (at >= ods.size() || !ods[at]->m_sequence.first) return std::nullopt;
  uint16_t id = ods[at]->m_nObjectId;
  std::vector<uint8_t> data;
  for (; at < ods.size(); ++at) {
    const COds& o = *ods[at];
    if (o.m_nObjectId != id || (o.m_sequence.first && !data.empty())) return std::nullopt;
    data.insert(data.end(), o.m_sequence.fragment.begin(), o.m_sequence.fragment.end());
    if (o.m_sequence.last) {
      ++at;
      return data;
    }
  }
  return std::nullopt;
}

CPaletteMapper::CPaletteMapper(const CErgbPalette& palette) : palette_(&palette), table_(256, SColor{0, 0, 0, 0}) {
  std::vector<CNearestPoint::Point> entries;
  for (size_t i = 0; i < palette.GetCount(); ++i) {
    const ERGBQUAD& q = *palette.GetAt(i);
    table_[q.index] = SColor{q.red, q.green, q.blue, q.alpha};
    if (q.alpha == 0 && transparent_ == 255) transparent_ = q.index;
    entries.push_back({q.red, q.green, q.blue, q.alpha});
    indexOf_.push_back(q.index);
  }
  nearest_ = std::make_unique<CNearestPoint>(entries, std::array<int64_t, 4>{3, 4, 2, 3});
}

CPicture CPaletteMapper::Map(const CPicture& pic) {
  CPicture out;
  out.Allocate(pic.width, pic.height, PixelFormat::Indexed8);
  out.table = table_;
  out.tableHasAlpha = true;
  // Recent colours' entries in a small direct-mapped cache: drawn pictures
  // repeat a few colours, while in pictures with noise nearly every pixel
  // has a colour of its own and a map of every colour met would cost more
  // than the look-up it saves.
  struct SCached {
    uint32_t key = 0;  // 0: empty (alpha is at least 5 in every key)
    uint8_t entry = 0;
  };
  std::vector<SCached> cache(4096);
  uint32_t lastKey = 0;
  uint8_t last = 0;
  bool haveLast = false;
  const auto transparent = static_cast<uint8_t>(transparent_);
  if (pic.format == PixelFormat::Indexed8) {
    // Each colour of the picture's table is looked up once; its pixels
    // take their colour's entry.
    std::array<uint8_t, 256> entryOf;
    for (size_t i = 0; i < entryOf.size(); ++i) {
      const SColor c = i < pic.table.size() ? pic.table[i] : SColor{0, 0, 0, 0};
      entryOf[i] = c.a < 5 || indexOf_.empty() ? transparent : indexOf_[nearest_->Find({c.r, c.g, c.b, c.a})];
    }
    for (int y = 0; y < pic.height; ++y) {
      const uint8_t* from = pic.Row(y);
      uint8_t* row = out.Row(y);
      for (int x = 0; x < pic.width; ++x) row[x] = entryOf[from[x]];
    }
    return out;
  }
  const bool argb = pic.format == PixelFormat::Argb32;
  for (int y = 0; y < pic.height; ++y) {
    uint8_t* row = out.Row(y);
    const uint8_t* from = pic.Row(y);
    for (int x = 0; x < pic.width; ++x) {
      const uint8_t* px = argb ? from + static_cast<size_t>(x) * 4 : nullptr;
      const SColor c = px ? SColor{px[1], px[2], px[3], px[0]} : pic.At(x, y);
      if (c.a < 5) {
        row[x] = transparent;
        continue;
      }
      const uint32_t key = uint32_t{c.r} << 24 | uint32_t{c.g} << 16 | uint32_t{c.b} << 8 | c.a;
      // Runs of one colour are common in drawn pictures.
      if (haveLast && key == lastKey) {
        row[x] = last;
        continue;
      }
      SCached& cached = cache[(key * 0x9E3779B1u) >> 20];
      if (cached.key != key)
        cached = SCached{key, indexOf_.empty() ? transparent : indexOf_[nearest_->Find({c.r, c.g, c.b, c.a})]};
      row[x] = last = cached.entry;
      lastKey = key;
      haveLast = true;
    }
  }
  return out;
}

CPaletteMapper::~CPaletteMapper() = default;

CPicture MapToPalette(const CPicture& pic, const CErgbPalette& palette) {
  CPaletteMapper mapper(palette);
  return mapper.Map(pic);
}

std::vector<uint8_t> CodeGraphicObject(const CGraphicObject& g, const CErgbPalette* palette, CPaletteMapper* mapper) {
  if (g.m_strPath.empty() && !g.m_picture) return {};
  // An in-memory picture is read where it is, not copied first.
  CPicture loaded;
  const CPicture* pic = g.m_picture.get();
  if (!pic) {
    std::string error;
    if (!g.LoadPicture(loaded, error)) return {};
    pic = &loaded;
  }
  std::optional<CPicture> indexed;
  if (palette && palette->GetCount() && pic->width > 0 && pic->height > 0)
    indexed = mapper && &mapper->Palette() == palette ? mapper->Map(*pic) : MapToPalette(*pic, *palette);
  else
    indexed = ToIndexedImage(*pic);
  if (!indexed) return {};
  return EncodeObject(*indexed);
}

bool AddCodedObject(const CGraphicObject& g, const std::string& prefix,
                    const std::function<void(const std::string&)>& log, CDsData& ds,
                    const std::vector<uint8_t>& data) {
  auto line = [&](const char* fmt, const std::string& a, const std::string& b) {
    char buf[1024];
    std::snprintf(buf, sizeof buf, fmt, a.c_str(), b.c_str());
    if (log) log(buf);
  };
  line("%s %s...", prefix, g.m_strName);
  if (g.m_strPath.empty() && !g.m_picture) {
    line("%s:%s", prefix + " Error", "graphics object is empty! ");
    return false;
  }
  if (data.empty()) {
    line("%s:%s", prefix + " Error", "unsupported graphics file! ");
    return false;
  }
  FragmentObject(data.data(), data.size(), static_cast<uint16_t>(g.m_nId), ds.m_ods);
  return true;
}

bool CompileGraphicObject(const CGraphicObject& g, const std::string& prefix,
                          const std::function<void(const std::string&)>& log, CDsData& ds,
                          const CErgbPalette* palette) {
  return AddCodedObject(g, prefix, log, ds, CodeGraphicObject(g, palette));
}

namespace {

// RGB to studio-range Y, Cr, Cb: rows Y, Cr, Cb of R, G, B weights.
using Matrix = std::array<std::array<double, 3>, 3>;
constexpr Matrix kBt601 = {{{0.257, 0.504, 0.098}, {0.439, -0.368, -0.071}, {-0.148, -0.291, 0.439}}};
constexpr Matrix kBt709 = {
    {{0.182586, 0.614231, 0.062007}, {0.439216, -0.398944, -0.040272}, {-0.100644, -0.338572, 0.439216}}};

Matrix Inverse(const Matrix& m) {
  const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                     m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                     m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Matrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      // The cofactor of (j, i) over the determinant.
      const int a = (j + 1) % 3, b = (j + 2) % 3, c = (i + 1) % 3, d = (i + 2) % 3;
      r[i][j] = (m[a][c] * m[b][d] - m[a][d] * m[b][c]) / det;
    }
  return r;
}

const Matrix& Forward(ColorMatrix m) { return m == ColorMatrix::Bt709 ? kBt709 : kBt601; }

const Matrix& Backward(ColorMatrix m) {
  static const Matrix bt601 = Inverse(kBt601), bt709 = Inverse(kBt709);
  return m == ColorMatrix::Bt709 ? bt709 : bt601;
}

}  // namespace

SPaletteEntry RgbToYCrCb(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t a, ColorMatrix m) {
  const Matrix& f = Forward(m);
  auto level = [&](int row, double offset, double lo, double hi) {
    const double v = f[row][0] * r + f[row][1] * g + f[row][2] * b + offset;
    return static_cast<uint8_t>(std::lround(std::clamp(v, lo, hi)));
  };
  SPaletteEntry e;
  e.id = index;
  e.y = level(0, 16, 16, 235);
  e.cr = level(1, 128, 16, 240);
  e.cb = level(2, 128, 16, 240);
  e.t = a;
  return e;
}

// The exact inverse of the conversion above, rounded: a palette read back
// and written again keeps its levels.
SColor YCrCbToRgb(const SPaletteEntry& e, ColorMatrix m) {
  const Matrix& k = Backward(m);
  const double v[3] = {e.y - 16.0, e.cr - 128.0, e.cb - 128.0};
  auto channel = [&](int row) {
    const double c = k[row][0] * v[0] + k[row][1] * v[1] + k[row][2] * v[2];
    return static_cast<uint8_t>(std::lround(std::clamp(c, 0.0, 255.0)));
  };
  return SColor{channel(0), channel(1), channel(2), e.t};
}

void PaletteToPds(CPds& pds, const CErgbPalette& palette, ColorMatrix m) {
  pds.m_entries.clear();
  for (size_t i = 0; i < palette.GetCount() && i < 256; ++i) {
    const ERGBQUAD* q = palette.GetAt(i);
    pds.m_entries.push_back(RgbToYCrCb(q->index, q->red, q->green, q->blue, q->alpha, m));
  }
}

std::vector<SColor> PdsToPalette(const CPds& pds, ColorMatrix m) {
  std::vector<SColor> table(256, SColor{0, 0, 0, 0});
  for (const SPaletteEntry& e : pds.m_entries) table[e.id] = YCrCbToRgb(e, m);
  return table;
}

bool PdsToPalette(const CPds& pds, CPicture& pic, ColorMatrix m) {
  for (const SPaletteEntry& e : pds.m_entries) {
    if (e.id >= pic.table.size()) return false;
    pic.table[e.id] = YCrCbToRgb(e, m);
  }
  pic.tableHasAlpha = true;
  return true;
}

}  // namespace zv

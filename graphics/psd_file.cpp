#include "graphics/psd_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "platform/bytes.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

namespace {

// Coordinates of a layer may lie outside the document, but never further
// than a document of the large format could reach.
constexpr int64_t kMaxCoordinate = 300000;
constexpr int64_t kMaxLayerSide = 300000;

// Smallest layer record: rectangle, channel count, blend signature and key,
// opacity, clipping, flags, filler, extra-data length.
constexpr size_t kMinLayerRecord = 16 + 2 + 4 + 4 + 4 + 4;
constexpr size_t kChannelInfoSize = 6;

int32_t S32(BeReader& r) { return static_cast<int32_t>(r.U32()); }

// Top, left, bottom, right as stored.
SRect ReadRect(BeReader& r) {
  SRect rect;
  rect.top = S32(r);
  rect.left = S32(r);
  rect.bottom = S32(r);
  rect.right = S32(r);
  return rect;
}

void CheckRect(const SRect& rect, const char* what) {
  auto inRange = [](int64_t v) { return v >= -kMaxCoordinate && v <= kMaxCoordinate; };
  if (!inRange(rect.left) || !inRange(rect.top) || !inRange(rect.right) || !inRange(rect.bottom))
    throw FormatError(std::string(what) + " lies too far outside the document");
  const int64_t w = int64_t{rect.right} - rect.left, h = int64_t{rect.bottom} - rect.top;
  if (w < 0 || h < 0) throw FormatError(std::string(what) + " has its right or bottom edge before its left or top");
  if (w > kMaxLayerSide || h > kMaxLayerSide) throw FormatError(std::string(what) + " is too large");
}

void ParseHeader(BeReader& r, SPsdHeader& h) {
  h.m_signature = r.Str(4);
  if (h.m_signature != "8BPS") throw FormatError("not a Photoshop document (no \"8BPS\" signature)");
  h.m_nVersion = r.U16();
  if (h.m_nVersion != 1) throw FormatError("version " + std::to_string(h.m_nVersion) + " (only 1 is read)");
  r.Skip(6);
  h.m_nChannels = r.U16();
  h.m_nHeight = r.U32();
  h.m_nWidth = r.U32();
  h.m_nDepth = r.U16();
  h.m_nColourMode = r.U16();
  if (h.m_nChannels < 1 || h.m_nChannels > 56) throw FormatError("channel count " + std::to_string(h.m_nChannels));
  if (h.m_nWidth < 1 || h.m_nWidth > kPsdMaxSide || h.m_nHeight < 1 || h.m_nHeight > kPsdMaxSide)
    throw FormatError("document size " + std::to_string(h.m_nWidth) + "x" + std::to_string(h.m_nHeight));
  if (h.m_nDepth != 1 && h.m_nDepth != 8 && h.m_nDepth != 16 && h.m_nDepth != 32)
    throw FormatError("depth " + std::to_string(h.m_nDepth));
}

void ParseColourData(BeReader& r, CPsdFile& out) {
  const uint32_t n = r.U32();
  const uint16_t mode = out.m_header.m_nColourMode;
  if (mode == kPsdIndexed && n != 768) throw FormatError("an indexed document needs a 768-byte colour table");
  if (mode != kPsdIndexed && mode != kPsdDuotone && n != 0) throw FormatError("colour-mode data in a mode that has none");
  out.m_colourData = r.Vec(n);
}

bool KnownResourceSignature(const std::string& s) {
  // Besides "8BIM", older versions of the editor wrote a few of their own.
  return s == "8BIM" || s == "MeSa" || s == "AgHg" || s == "PHUT" || s == "DCSR";
}

void ParseResources(BeReader& r, CImageResourceSet& out) {
  BeReader s = r.Sub(r.U32());
  while (s.Remaining() > 0) {
    CImageResource res;
    res.m_signature = s.Str(4);
    if (!KnownResourceSignature(res.m_signature)) throw FormatError("image resource without \"8BIM\" signature");
    res.m_nId = s.U16();
    const uint8_t nameLength = s.U8();
    res.m_strName = s.Str(nameLength);
    if ((1 + nameLength) % 2 != 0) s.Skip(1);
    const uint32_t dataLength = s.U32();
    res.m_data = s.Vec(dataLength);
    if (dataLength % 2 != 0 && s.Remaining() > 0) s.Skip(1);
    out.push_back(std::move(res));
  }
}

void ParseExtraData(BeReader& ex, CLayerInfo& layer) {
  {
    const uint32_t maskLength = ex.U32();
    BeReader m = ex.Sub(maskLength);
    layer.m_mask.m_nLength = maskLength;
    if (maskLength >= 18) {
      layer.m_mask.m_rect = ReadRect(m);
      layer.m_mask.m_nDefaultColour = m.U8();
      layer.m_mask.m_nFlags = m.U8();
      CheckRect(layer.m_mask.m_rect, "a layer mask");
    }
    if (maskLength >= 36) {
      layer.m_mask.m_nRealFlags = m.U8();
      layer.m_mask.m_nRealDefaultColour = m.U8();
      layer.m_mask.m_realRect = ReadRect(m);
      CheckRect(layer.m_mask.m_realRect, "a layer's real mask");
    }
  }
  {
    BeReader b = ex.Sub(ex.U32());
    layer.m_blendingRanges.reserve(b.Remaining() / 4);
    while (b.Remaining() >= 4) layer.m_blendingRanges.push_back(b.U32());
  }
  const uint8_t nameLength = ex.U8();
  layer.m_strName = ex.Str(nameLength);
  // The name with its length byte is padded to a multiple of 4.
  const size_t pad = (4 - (1 + nameLength) % 4) % 4;
  ex.Skip(std::min(pad, ex.Remaining()));
  while (ex.Remaining() >= 12) {
    const std::string signature = ex.Str(4);
    if (signature != "8BIM" && signature != "8B64")
      throw FormatError("additional layer information without \"8BIM\" signature");
    const std::string key = ex.Str(4);
    BeReader block = ex.Sub(ex.U32());
    if (key == "lsct" && block.Remaining() >= 4) layer.m_nSectionType = static_cast<int32_t>(block.U32());
  }
}

// Layer count, layer records, then the channel data of every layer.
void ParseLayerInfo(BeReader& li, CPsdFile& out) {
  int count = static_cast<int16_t>(li.U16());
  if (count < 0) {
    count = -count;
    out.m_bMergedTransparency = true;
  }
  if (static_cast<size_t>(count) > li.Remaining() / kMinLayerRecord) throw FormatError("layer count beyond the data");
  CLayerSet layers;
  layers.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    ParseSection(("layer record " + std::to_string(i)).c_str(), [&] {
      CLayerInfo layer;
      layer.m_rect = ReadRect(li);
      CheckRect(layer.m_rect, "the layer rectangle");
      const uint16_t channels = li.U16();
      if (channels > li.Remaining() / kChannelInfoSize) throw FormatError("channel count beyond the data");
      layer.resize(channels);
      for (CChannelData& c : layer) {
        c.m_nId = static_cast<int16_t>(li.U16());
        c.m_nLength = li.U32();
      }
      layer.m_blendSignature = li.Str(4);
      if (layer.m_blendSignature != "8BIM") throw FormatError("blend mode without \"8BIM\" signature");
      layer.m_blendKey = li.Str(4);
      layer.m_nOpacity = li.U8();
      layer.m_nClipping = li.U8();
      layer.m_nFlags = li.U8();
      li.Skip(1);
      const uint32_t extraLength = li.U32();
      if (extraLength > 0) {
        BeReader ex = li.Sub(extraLength);
        ParseExtraData(ex, layer);
      }
      layers.push_back(std::move(layer));
    });
  }
  for (size_t i = 0; i < layers.size(); ++i) {
    ParseSection(("channel data of layer " + std::to_string(i)).c_str(), [&] {
      for (CChannelData& c : layers[i]) {
        c.m_raw = li.Vec(c.m_nLength);
        if (c.m_raw.size() >= 2) {
          const unsigned compression = c.m_raw[0] << 8 | c.m_raw[1];
          if (compression > 1)
            throw FormatError("compression " + std::to_string(compression) + " (only raw and PackBits are read)");
        }
      }
    });
  }
  out.m_layers = std::move(layers);
}

// Documents of 16 and 32 bits may keep their layers in an "Lr16" or
// "Lr32" block after the global mask instead.
void ParseHighDepthLayers(BeReader& lm, CPsdFile& out) {
  if (lm.Remaining() < 4) return;
  lm.Sub(lm.U32());  // global layer mask
  while (lm.Remaining() >= 12) {
    const std::string signature = lm.Str(4);
    if (signature != "8BIM" && signature != "8B64") return;
    const std::string key = lm.Str(4);
    BeReader block = lm.Sub(lm.U32());
    if (key == "Lr16" || key == "Lr32") {
      ParseLayerInfo(block, out);
      return;
    }
  }
}

}  // namespace

const CChannelData* CLayerInfo::Channel(int16_t id) const {
  for (const CChannelData& c : *this)
    if (c.m_nId == id) return &c;
  return nullptr;
}

SRect CLayerInfo::ChannelRect(int16_t id) const {
  if (id == kPsdUserMaskChannel || id == kPsdRealUserMaskChannel) {
    if (id == kPsdRealUserMaskChannel && m_mask.m_nLength >= 36) return m_mask.m_realRect;
    if (m_mask.m_rect.Width() > 0 && m_mask.m_rect.Height() > 0) return m_mask.m_rect;
  }
  return m_rect;
}

int ParsePsd(const uint8_t* data, size_t n, CPsdFile& out, std::string* detail) {
  out = CPsdFile();
  try {
    BeReader r(data, n);
    ParseSection("header", [&] { ParseHeader(r, out.m_header); });
    ParseSection("colour-mode data", [&] { ParseColourData(r, out); });
    ParseSection("image resources", [&] { ParseResources(r, out.m_resources); });
    ParseSection("layer and mask information", [&] {
      BeReader lm = r.Sub(r.U32());
      if (lm.Remaining() == 0) return;
      BeReader li = lm.Sub(lm.U32());
      if (li.Remaining() > 0) ParseLayerInfo(li, out);
      if (out.m_layers.empty()) ParseHighDepthLayers(lm, out);
    });
    out.m_rest = r.Vec(r.Remaining());
  } catch (const FormatError& e) {
    if (detail) *detail = e.what();
    out = CPsdFile();
    return kFailed;
  }
  return kOk;
}

int ParsePsdFile(const std::string& path, CPsdFile& out, std::string& fileError, std::string* detail) {
  fileError.clear();
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, fileError)) return kFailed;
  return ParsePsd(bytes.data(), bytes.size(), out, detail);
}

// ---------------------------------------------------------------------------
// Channel data.

void UnpackBitsRow(const uint8_t* in, size_t n, uint8_t* out, size_t width) {
  size_t i = 0, o = 0;
  while (i < n && o < width) {
    const uint8_t c = in[i++];
    if (c == 128) continue;
    if (c > 128) {
      if (i >= n) break;
      const size_t run = std::min<size_t>(257 - c, width - o);
      std::memset(out + o, in[i++], run);
      o += run;
    } else {
      const size_t len = std::min<size_t>({size_t{c} + 1, width - o, n - i});
      std::memcpy(out + o, in + i, len);
      o += len;
      i += size_t{c} + 1;
    }
  }
  if (o < width) std::memset(out + o, 0, width - o);
}

namespace {

// Stored samples of one row to 8-bit samples.
void ConvertRow(const uint8_t* src, uint8_t* dst, int width, int depth) {
  switch (depth) {
    case 1:
      for (int x = 0; x < width; ++x) dst[x] = ((src[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 1;
      break;
    case 8:
      std::memcpy(dst, src, static_cast<size_t>(width));
      break;
    case 16:
      for (int x = 0; x < width; ++x) {
        const uint32_t v = static_cast<uint32_t>(src[2 * x]) << 8 | src[2 * x + 1];
        dst[x] = static_cast<uint8_t>(v * 255 / 65535);
      }
      break;
    default:
      // 32-bit samples are IEEE floats, 0.0 to 1.0 for the visible range.
      for (int x = 0; x < width; ++x) {
        const uint32_t bits = static_cast<uint32_t>(src[4 * x]) << 24 | static_cast<uint32_t>(src[4 * x + 1]) << 16 |
                              static_cast<uint32_t>(src[4 * x + 2]) << 8 | src[4 * x + 3];
        float f;
        std::memcpy(&f, &bits, sizeof f);
        if (!(f > 0.0f)) dst[x] = 0;  // NaN too
        else if (f >= 1.0f) dst[x] = 255;
        else dst[x] = static_cast<uint8_t>(f * 255.0f);
      }
      break;
  }
}

bool DecodeChannel(const SPsdHeader& header, const SRect& rect, CChannelData& c) {
  c.m_pixels.clear();
  c.m_nWidth = c.m_nHeight = 0;
  if (rect.Width() <= 0 || rect.Height() <= 0) return true;
  // A colour or transparency channel needs data; a mask without any is
  // simply not there.
  if (c.m_raw.size() <= 2) return c.m_nId < kPsdAlphaChannel;
  const size_t width = static_cast<size_t>(rect.Width()), height = static_cast<size_t>(rect.Height());
  if (width * height > kMaxPictureArea) return false;
  const int depth = header.m_nDepth;
  const size_t rowBytes = depth == 1 ? (width + 7) / 8 : width * static_cast<size_t>(depth / 8);
  const uint8_t* data = c.m_raw.data() + 2;
  const size_t n = c.m_raw.size() - 2;
  const unsigned compression = c.m_raw[0] << 8 | c.m_raw[1];
  std::vector<uint8_t> row(rowBytes);
  if (compression == 0) {
    if (n / rowBytes < height) return false;
    c.m_pixels.resize(width * height);
    for (size_t y = 0; y < height; ++y)
      ConvertRow(data + y * rowBytes, c.m_pixels.data() + y * width, static_cast<int>(width), depth);
  } else if (compression == 1) {
    // A row count per row, then the rows. PackBits makes at most 128 bytes
    // of 2, so a larger picture than that cannot come from this data.
    if (n / 2 < height) return false;
    if (rowBytes * height / 128 > n) return false;
    size_t at = height * 2;
    c.m_pixels.resize(width * height);
    for (size_t y = 0; y < height; ++y) {
      const size_t count = static_cast<size_t>(data[2 * y]) << 8 | data[2 * y + 1];
      const size_t have = at < n ? std::min(count, n - at) : 0;
      UnpackBitsRow(data + std::min(at, n), have, row.data(), rowBytes);
      ConvertRow(row.data(), c.m_pixels.data() + y * width, static_cast<int>(width), depth);
      at += count;
    }
  } else {
    return false;
  }
  c.m_nWidth = static_cast<int>(width);
  c.m_nHeight = static_cast<int>(height);
  return true;
}

}  // namespace

bool DecodeChannels(const SPsdHeader& header, CLayerInfo& layer) {
  for (CChannelData& c : layer)
    if (!DecodeChannel(header, layer.ChannelRect(c.m_nId), c)) {
      ReleaseChannels(layer);
      return false;
    }
  return true;
}

void ReleaseChannels(CLayerInfo& layer) {
  for (CChannelData& c : layer) {
    c.m_pixels.clear();
    c.m_pixels.shrink_to_fit();
    c.m_nWidth = c.m_nHeight = 0;
  }
}

// ---------------------------------------------------------------------------
// Rendering.

namespace {

struct SRgb {
  uint8_t r, g, b;
};

uint8_t CmykComponent(uint8_t colour, double k) {
  const double c = 1.0 - colour / 256.0;
  const double v = 255.0 * (1.0 - (k + c * (1.0 - k)));
  return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
}

SRgb LabToRgb(uint8_t lByte, uint8_t aByte, uint8_t bByte) {
  const double L = lByte * 100.0 / 256.0;
  const double a = aByte - 128.0, b = bByte - 128.0;
  double fy = (L + 16.0) / 116.0;
  double fx = a / 500.0 + fy;
  double fz = fy - b / 200.0;
  auto inverse = [](double f) {
    const double f3 = f * f * f;
    return f3 > 0.008856 ? f3 : (f - 16.0 / 116.0) / 7.787;
  };
  const double x = 95.047 * inverse(fx) / 100.0, y = 100.0 * inverse(fy) / 100.0, z = 108.883 * inverse(fz) / 100.0;
  const double lin[3] = {x * 3.2406 + y * -1.5372 + z * -0.4986, x * -0.9689 + y * 1.8758 + z * 0.0415,
                         x * 0.0557 + y * -0.2040 + z * 1.0570};
  uint8_t out[3];
  for (int i = 0; i < 3; ++i) {
    const double v = lin[i] > 0.0031308 ? 1.055 * std::pow(lin[i], 1.0 / 2.4) - 0.055 : 12.92 * lin[i];
    out[i] = static_cast<uint8_t>(std::clamp(v * 256.0, 0.0, 255.0));
  }
  return SRgb{out[0], out[1], out[2]};
}

}  // namespace

std::optional<CPicture> LayerImage(const CPsdFile& psd, const CLayerInfo& layer) {
  const int w = layer.m_rect.Width(), h = layer.m_rect.Height();
  if (w <= 0 || h <= 0) return std::nullopt;
  const uint16_t mode = psd.m_header.m_nColourMode;
  // The layer's samples of channel `id` (null when it has none).
  const size_t area = static_cast<size_t>(w) * static_cast<size_t>(h);
  auto samples = [&](int16_t id) -> const uint8_t* {
    const CChannelData* c = layer.Channel(id);
    if (!c || c->m_pixels.size() != area || c->m_nWidth != w) return nullptr;
    return c->m_pixels.data();
  };
  const uint8_t* ch[4] = {samples(0), samples(1), samples(2), samples(3)};
  const uint8_t* alpha = samples(kPsdAlphaChannel);

  std::vector<SRgb> table;
  switch (mode) {
    case kPsdRgb:
    case kPsdCmyk:
    case kPsdMultichannel:
    case kPsdLab:
      if (!ch[0] || !ch[1] || !ch[2]) return std::nullopt;
      break;
    case kPsdGrayscale:
    case kPsdDuotone:
      if (!ch[0]) return std::nullopt;
      break;
    case kPsdIndexed:
      if (!ch[0] || psd.m_colourData.size() != 768) return std::nullopt;
      table.resize(256);
      for (size_t i = 0; i < 256; ++i)
        table[i] = SRgb{psd.m_colourData[i], psd.m_colourData[256 + i], psd.m_colourData[512 + i]};
      break;
    case kPsdBitmap:
      // No colour table: a set bit (decoded as 0) is black, a clear one white.
      if (!ch[0]) return std::nullopt;
      table = {SRgb{0, 0, 0}, SRgb{255, 255, 255}};
      table.resize(256, SRgb{255, 255, 255});
      break;
    default:
      return std::nullopt;
  }

  CPicture pic;
  pic.Allocate(w, h, alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  uint8_t* d = pic.pixels.data();
  const int bpp = alpha ? 4 : 3;
  for (size_t i = 0; i < area; ++i, d += bpp) {
    SRgb c{};
    switch (mode) {
      case kPsdRgb:
        c = SRgb{ch[0][i], ch[1][i], ch[2][i]};
        break;
      case kPsdGrayscale:
      case kPsdDuotone:
        c = SRgb{ch[0][i], ch[0][i], ch[0][i]};
        break;
      case kPsdIndexed:
      case kPsdBitmap:
        c = table[ch[0][i]];
        break;
      case kPsdCmyk:
      case kPsdMultichannel: {
        const double k = ch[3] ? 1.0 - ch[3][i] / 256.0 : 0.0;
        c = SRgb{CmykComponent(ch[0][i], k), CmykComponent(ch[1][i], k), CmykComponent(ch[2][i], k)};
        break;
      }
      default:
        c = LabToRgb(ch[0][i], ch[1][i], ch[2][i]);
        break;
    }
    uint8_t* p = d;
    if (alpha) *p++ = alpha[i];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
  }
  return pic;
}

// ---------------------------------------------------------------------------
// Layer names.

namespace {

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  const size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

}  // namespace

SPsdLayerName ParseLayerName(const std::string& layerName) {
  SPsdLayerName out;
  const std::string name = Trim(layerName);
  const size_t colon = name.find(':');
  if (colon == std::string::npos || colon == 0) {
    if (name == "</Layer group>") out.kind = kPsdKindGroupEnd;
    return out;
  }
  const std::string key = Trim(name.substr(0, colon));
  const std::string value = Trim(name.substr(colon + 1));
  static const struct {
    const char* key;
    int kind;
  } kGroups[] = {{"B", kPsdKindButton}, {"BOG", kPsdKindBog}, {"P", kPsdKindPage}, {"DS", kPsdKindDisplaySet},
                 {"IG", kPsdKindIg}};
  for (const auto& g : kGroups)
    if (EqualsNoCase(key, g.key)) {
      out.kind = g.kind;
      const size_t second = value.find(':');
      out.name = second == std::string::npos ? value : Trim(value.substr(second + 1));
      return out;
    }
  const char first = key.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
  if (first == 'N') out.kind = kPsdKindNormal;
  else if (first == 'S') out.kind = kPsdKindSelected;
  else if (first == 'A') out.kind = kPsdKindActivated;
  if (out.kind != kPsdKindNone) out.name = value;
  return out;
}

SPsdLayerName ParseLayerName(const CLayerInfo& layer) {
  SPsdLayerName out = ParseLayerName(layer.m_strName);
  out.rect = layer.m_rect;
  return out;
}

}  // namespace zv

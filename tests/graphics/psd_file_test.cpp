// The layered-document reader against what psd-tools reads from documents
// written by GIMP, ImageMagick and psd-tools (tests/data/psd/*.expect), the
// rendering of each colour mode, layer names, and damaged or hostile data.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "graphics/psd_file.h"
#include "streams/sif_data.h"
#include "support/test_support.h"

using namespace zv;
using zvtest::DataPath;

namespace {

CPsdFile Parse(const std::string& name) {
  CPsdFile psd;
  std::string fileError, detail;
  EXPECT_EQ(ParsePsdFile(DataPath("psd/" + name), psd, fileError, &detail), kOk) << name << ": " << fileError << detail;
  return psd;
}

std::vector<std::string> Fixtures() {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(DataPath("psd")))
    if (e.path().extension() == ".psd") names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// Header, every layer's name, rectangle, section type and channel lengths,
// and the CRC-32 of every channel's 8-bit samples, as psd-tools read them.
TEST(PsdFile, EveryFixtureReadsAsPsdToolsReadsIt) {
  const std::vector<std::string> names = Fixtures();
  ASSERT_GE(names.size(), 19u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    CPsdFile psd = Parse(name);
    std::ifstream in(DataPath("psd/" + name + ".expect"));
    ASSERT_TRUE(in) << "no expectation file";
    std::string line;
    std::getline(in, line);
    std::istringstream h(line);
    std::string word;
    unsigned mode, depth, channels, width, height;
    h >> word >> mode >> depth >> channels >> width >> height;
    EXPECT_EQ(psd.m_header.m_nColourMode, mode);
    EXPECT_EQ(psd.m_header.m_nDepth, depth);
    EXPECT_EQ(psd.m_header.m_nChannels, channels);
    EXPECT_EQ(psd.m_header.m_nWidth, width);
    EXPECT_EQ(psd.m_header.m_nHeight, height);
    std::getline(in, line);
    size_t layers = std::stoul(line.substr(7));
    ASSERT_EQ(psd.m_layers.size(), layers);
    CLayerInfo* layer = nullptr;
    size_t channel = 0;
    while (std::getline(in, line)) {
      std::istringstream s(line);
      s >> word;
      if (word == "layer") {
        size_t index, count;
        int32_t left, top, right, bottom, section;
        s >> index >> left >> top >> right >> bottom >> section >> count;
        ASSERT_LT(index, psd.m_layers.size());
        layer = &psd.m_layers[index];
        SCOPED_TRACE("layer " + std::to_string(index));
        EXPECT_EQ(layer->m_strName, line.substr(line.find('\t') + 1));
        EXPECT_EQ(layer->m_rect, (SRect{left, top, right, bottom}));
        EXPECT_EQ(layer->m_nSectionType, section);
        ASSERT_EQ(layer->size(), count);
        ASSERT_TRUE(DecodeChannels(psd.m_header, *layer));
        channel = 0;
        continue;
      }
      ASSERT_EQ(word, "channel");
      ASSERT_NE(layer, nullptr);
      int id;
      uint32_t length;
      size_t samples;
      std::string crc;
      s >> id >> length >> samples >> crc;
      ASSERT_LT(channel, layer->size());
      const CChannelData& c = (*layer)[channel++];
      SCOPED_TRACE("channel " + std::to_string(id));
      EXPECT_EQ(c.m_nId, id);
      EXPECT_EQ(c.m_nLength, length);
      EXPECT_EQ(c.m_pixels.size(), samples);
      char hex[16];
      std::snprintf(hex, sizeof hex, "%08x", SifCrc32(c.m_pixels.data(), c.m_pixels.size()));
      EXPECT_EQ(hex, crc);
    }
  }
}

// Each colour mode rendered: the picture's colours come from the channels
// as that mode defines them.
TEST(PsdFile, LayerImageInEveryColourMode) {
  auto render = [](CPsdFile& psd, size_t layer = 0) {
    EXPECT_TRUE(DecodeChannels(psd.m_header, psd.m_layers.at(layer)));
    std::optional<CPicture> pic = LayerImage(psd, psd.m_layers.at(layer));
    EXPECT_TRUE(pic.has_value());
    return pic.value_or(CPicture{});
  };
  auto sample = [](const CPsdFile& psd, int16_t id, int x, int y) {
    const CChannelData* c = psd.m_layers[0].Channel(id);
    return c->m_pixels[static_cast<size_t>(y) * c->m_nWidth + x];
  };

  CPsdFile rgb = Parse("rgb8_raw.psd");
  CPicture p = render(rgb);
  EXPECT_EQ(p.format, PixelFormat::Rgb24);
  EXPECT_EQ(p.width, 40);
  EXPECT_EQ(p.height, 30);
  for (int y : {0, 13, 29})
    for (int x : {0, 21, 39})
      EXPECT_EQ(p.At(x, y), (SColor{sample(rgb, 0, x, y), sample(rgb, 1, x, y), sample(rgb, 2, x, y), 255}));

  CPsdFile rgba = Parse("rgba8.psd");
  p = render(rgba);
  EXPECT_EQ(p.format, PixelFormat::Argb32);
  EXPECT_EQ(p.At(7, 5).a, sample(rgba, -1, 7, 5));
  EXPECT_EQ(p.At(7, 5).g, sample(rgba, 1, 7, 5));
  EXPECT_NE(p.At(0, 0).a, p.At(39, 0).a);

  for (const char* name : {"gray8.psd", "gray16.psd", "duotone8.psd"}) {
    CPsdFile gray = Parse(name);
    p = render(gray);
    const uint8_t v = sample(gray, 0, 3, 20);
    EXPECT_EQ(p.At(3, 20), (SColor{v, v, v, 255})) << name;
  }

  // Indexed: through the 768-byte table (all reds, all greens, all blues).
  CPsdFile indexed = Parse("indexed8.psd");
  p = render(indexed);
  const uint8_t i = sample(indexed, 0, 11, 9);
  EXPECT_EQ(p.At(11, 9), (SColor{indexed.m_colourData[i], indexed.m_colourData[256 + i], indexed.m_colourData[512 + i], 255}));

  // Bitmap: the gradient's white top is white, its black bottom black.
  CPsdFile bitmap = Parse("bitmap1.psd");
  p = render(bitmap);
  EXPECT_EQ(p.At(20, 0), (SColor{255, 255, 255, 255}));
  EXPECT_EQ(p.At(20, 29), (SColor{0, 0, 0, 255}));

  // CMYK channels store 255 for no ink; the plasma's first pixel checked
  // against the conversion written out, and multichannel converts the same.
  for (const char* name : {"cmyk8.psd", "multichannel8.psd", "cmyk16.psd"}) {
    CPsdFile cmyk = Parse(name);
    p = render(cmyk);
    const double k = 1 - sample(cmyk, 3, 0, 0) / 256.0;
    auto expect = [&](int id) {
      const double c = 1 - sample(cmyk, static_cast<int16_t>(id), 0, 0) / 256.0;
      return static_cast<uint8_t>(255 * (1 - (k + c * (1 - k))));
    };
    EXPECT_EQ(p.At(0, 0), (SColor{expect(0), expect(1), expect(2), 255})) << name;
  }

  // Lab: the bytes of the red-to-blue gradient read as L, a, b. Its top row
  // (255, 0, 0) is L 99.6, a -128, b -128: light and strongly blue; its
  // bottom row (0, 0, 255) has L 0 and is dark.
  CPsdFile lab = Parse("lab8.psd");
  p = render(lab);
  const SColor first = p.At(0, 0), dark = p.At(0, 29);
  EXPECT_GT(first.b, 250);
  EXPECT_GT(first.b, first.r);
  EXPECT_LT(int{dark.r} + dark.g + dark.b, int{first.r} + first.g + first.b);

  // 32-bit floats: the same picture as the 16-bit document it came from.
  CPsdFile r16 = Parse("rgb16.psd"), r32 = Parse("rgb32.psd");
  CPicture a = render(r16), b = render(r32);
  int off = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const SColor ca = a.At(x, y), cb = b.At(x, y);
      off += std::abs(ca.r - cb.r) > 1 || std::abs(ca.g - cb.g) > 1 || std::abs(ca.b - cb.b) > 1;
    }
  EXPECT_EQ(off, 0);

  // A group header has no rectangle and gives no picture.
  CPsdFile design = Parse("design.psd");
  for (CLayerInfo& l : design.m_layers)
    if (l.IsGroup()) {
      DecodeChannels(design.m_header, l);
      EXPECT_FALSE(LayerImage(design, l).has_value());
    }
}

TEST(PsdFile, LayerNames) {
  struct Case {
    const char* text;
    int kind;
    const char* name;
  };
  for (const Case& c : std::vector<Case>{
           {"B:Play", kPsdKindButton, "Play"},
           {"B:x:Play", kPsdKindButton, "Play"},
           {" b : Play ", kPsdKindButton, "Play"},
           {"BOG:Audio", kPsdKindBog, "Audio"},
           {"p:Home", kPsdKindPage, "Home"},
           {"DS:Main", kPsdKindDisplaySet, "Main"},
           {"Ig : Menu", kPsdKindIg, "Menu"},
           {"N:1", kPsdKindNormal, "1"},
           {"Normal:1", kPsdKindNormal, "1"},
           {"n:anything", kPsdKindNormal, "anything"},
           {"Selected:x", kPsdKindSelected, "x"},
           {"a:1", kPsdKindActivated, "1"},
           {"B", kPsdKindNone, ""},
           {":Play", kPsdKindNone, ""},
           {"Button:1", kPsdKindNone, ""},
           {"Background", kPsdKindNone, ""},
           {"</Layer group>", kPsdKindGroupEnd, ""},
           {"  </Layer group> ", kPsdKindGroupEnd, ""},
       }) {
    const SPsdLayerName n = ParseLayerName(c.text);
    EXPECT_EQ(n.kind, c.kind) << '"' << c.text << '"';
    if (c.kind != kPsdKindNone && c.kind != kPsdKindGroupEnd) {
      EXPECT_EQ(n.name, c.name) << '"' << c.text << '"';
    }
  }
}

TEST(PsdFile, PackBitsRows) {
  uint8_t out[8];
  // A literal of 3, a run of 4 (257 - 253), the no-op 128, a literal of 1.
  const uint8_t row[] = {2, 10, 11, 12, 253, 7, 128, 0, 9};
  UnpackBitsRow(row, sizeof row, out, 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{10, 11, 12, 7, 7, 7, 7, 9}));
  // Data that runs out fills the rest of the row with 0; a run or literal
  // longer than the row stops at its end.
  std::memset(out, 0xEE, sizeof out);
  const uint8_t shortRow[] = {5, 1, 2};
  UnpackBitsRow(shortRow, sizeof shortRow, out, 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), (std::vector<uint8_t>{1, 2, 0, 0, 0, 0, 0, 0}));
  const uint8_t longRun[] = {129, 5};
  UnpackBitsRow(longRun, sizeof longRun, out, 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 8), std::vector<uint8_t>(8, 5));
}

namespace {

struct Writer {
  std::vector<uint8_t> b;
  void U8(uint32_t v) { b.push_back(static_cast<uint8_t>(v)); }
  void U16(uint32_t v) { U8(v >> 8), U8(v); }
  void U32(uint32_t v) { U16(v >> 16), U16(v); }
  void Str(const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
};

// A document with one layer of `rect` whose only channel (id 0) holds
// `data` (compression code included) and whose stored length is `length`.
std::vector<uint8_t> OneLayer(int32_t top, int32_t left, int32_t bottom, int32_t right, const std::vector<uint8_t>& data,
                              uint32_t length, int16_t count = 1) {
  Writer w;
  w.Str("8BPS"), w.U16(1), w.U32(0), w.U16(0), w.U16(1), w.U32(64), w.U32(64), w.U16(8), w.U16(kPsdGrayscale);
  w.U32(0), w.U32(0);
  Writer li;
  li.U16(static_cast<uint16_t>(count));
  li.U32(static_cast<uint32_t>(top)), li.U32(static_cast<uint32_t>(left)), li.U32(static_cast<uint32_t>(bottom)),
      li.U32(static_cast<uint32_t>(right));
  li.U16(1), li.U16(0), li.U32(length);
  li.Str("8BIMnorm"), li.U8(255), li.U8(0), li.U8(0), li.U8(0);
  li.U32(12), li.U32(0), li.U32(0), li.U8(3), li.Str("N:1");
  li.b.insert(li.b.end(), data.begin(), data.end());
  w.U32(static_cast<uint32_t>(li.b.size() + 4)), w.U32(static_cast<uint32_t>(li.b.size()));
  w.b.insert(w.b.end(), li.b.begin(), li.b.end());
  return w.b;
}

}  // namespace

// Cut-off and hostile documents fail cleanly, without allocating what their
// counts and lengths claim.
TEST(PsdFile, DamagedAndHostileDataFails) {
  const std::vector<uint8_t> good = zvtest::ReadBytes(DataPath("psd/design_raw.psd"));
  CPsdFile psd;
  ASSERT_EQ(ParsePsd(good.data(), good.size(), psd), kOk);
  // Every cut inside the header, resources and layers fails; only the
  // merged picture at the end may be short.
  size_t layerEnd = SPsdHeader::kSize;
  for (int section = 0; section < 3; ++section) {
    const uint8_t* p = good.data() + layerEnd;
    layerEnd += 4 + (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
  }
  for (size_t n = 0; n < layerEnd; n += 7) {
    std::string detail;
    EXPECT_EQ(ParsePsd(good.data(), n, psd, &detail), kFailed) << n;
    EXPECT_FALSE(detail.empty());
    EXPECT_TRUE(psd.m_layers.empty());
  }

  std::string detail;
  std::vector<uint8_t> bad = good;
  bad[4] = 0, bad[5] = 2;  // the large-document version
  EXPECT_EQ(ParsePsd(bad.data(), bad.size(), psd, &detail), kFailed);
  EXPECT_NE(detail.find("version"), std::string::npos);

  // A layer count of 32767 and a channel length of 4 GB in a tiny file.
  const std::vector<uint8_t> row{0, 0, 1, 2, 3, 4};
  EXPECT_EQ(ParsePsd(OneLayer(0, 0, 1, 4, row, 6).data(), OneLayer(0, 0, 1, 4, row, 6).size(), psd), kOk);
  auto many = OneLayer(0, 0, 1, 4, row, 6, 32767);
  EXPECT_EQ(ParsePsd(many.data(), many.size(), psd, &detail), kFailed);
  auto huge = OneLayer(0, 0, 1, 4, row, 0xFFFFFFF0u);
  EXPECT_EQ(ParsePsd(huge.data(), huge.size(), psd, &detail), kFailed);
  // Compression other than raw and PackBits is refused by name.
  auto zip = OneLayer(0, 0, 1, 4, {0, 2, 1, 2, 3, 4}, 6);
  EXPECT_EQ(ParsePsd(zip.data(), zip.size(), psd, &detail), kFailed);
  EXPECT_NE(detail.find("compression 2"), std::string::npos);
  // Rectangles turned inside out or far beyond any document.
  auto inverted = OneLayer(10, 10, 0, 0, row, 6);
  EXPECT_EQ(ParsePsd(inverted.data(), inverted.size(), psd), kFailed);
  auto far = OneLayer(0, 0, 1, 2000000000, row, 6);
  EXPECT_EQ(ParsePsd(far.data(), far.size(), psd), kFailed);

  // A 30000 x 30000 layer whose PackBits data is a few bytes parses (the
  // data is only read when the layer is drawn) but does not decode: such a
  // picture cannot come from so little data.
  std::vector<uint8_t> rle{0, 1};
  rle.resize(2 + 30000 * 2, 0);
  auto big = OneLayer(0, 0, 30000, 30000, rle, static_cast<uint32_t>(rle.size()));
  ASSERT_EQ(ParsePsd(big.data(), big.size(), psd), kOk);
  EXPECT_FALSE(DecodeChannels(psd.m_header, psd.m_layers[0]));
  EXPECT_TRUE(psd.m_layers[0][0].m_pixels.empty());
  // Raw data shorter than the rectangle does not decode either.
  auto shortRaw = OneLayer(0, 0, 2, 4, row, 6);
  ASSERT_EQ(ParsePsd(shortRaw.data(), shortRaw.size(), psd), kOk);
  EXPECT_FALSE(DecodeChannels(psd.m_header, psd.m_layers[0]));

  std::string fileError;
  EXPECT_EQ(ParsePsdFile(DataPath("psd/missing.psd"), psd, fileError), kFailed);
  EXPECT_NE(fileError.find("missing.psd"), std::string::npos);
}

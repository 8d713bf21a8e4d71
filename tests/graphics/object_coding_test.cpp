#include "graphics/object_coding.h"

#include <gtest/gtest.h>

#include <random>

using namespace zv;

namespace {

std::vector<uint8_t> Line(std::initializer_list<std::pair<int, uint8_t>> runs) {
  std::vector<uint8_t> px;
  for (auto [n, v] : runs) px.insert(px.end(), static_cast<size_t>(n), v);
  return px;
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& px) {
  std::vector<uint8_t> out(MaxCodedLine(static_cast<int>(px.size())));
  out.resize(EncodeLine(out.data(), px.data(), static_cast<int>(px.size())));
  return out;
}

CPicture Indexed(int w, int h, const std::vector<uint8_t>& px) {
  CPicture p;
  p.Allocate(w, h, PixelFormat::Indexed8);
  p.pixels = px;
  return p;
}

}  // namespace

TEST(RunLength, LinesCodeAsTheFormatDefines) {
  using V = std::vector<uint8_t>;
  EXPECT_EQ(Encode(Line({{10, 5}})), (V{0x00, 0x8A, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{2, 5}})), (V{0x05, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{3, 5}})), (V{0x00, 0x83, 0x05, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{100, 0}})), (V{0x00, 0x40, 0x64, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{1920, 7}})), (V{0x00, 0xC7, 0x80, 0x07, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{1, 0}, {63, 9}, {64, 9}})), (V{0x00, 0x01, 0x00, 0xC0, 0x7F, 0x09, 0x00, 0x00})) << "a run is maximal";
  EXPECT_EQ(Encode(Line({{63, 0}, {1, 4}})), (V{0x00, 0x3F, 0x04, 0x00, 0x00}));
  // Runs longer than 16383 are cut into several.
  EXPECT_EQ(Encode(Line({{16384, 3}})), (V{0x00, 0xFF, 0xFF, 0x03, 0x03, 0x00, 0x00}));
  EXPECT_EQ(Encode(Line({{16383 + 64, 0}})), (V{0x00, 0x7F, 0xFF, 0x00, 0x40, 0x40, 0x00, 0x00}));
}

TEST(RunLength, DecodeInvertsEncodeAndStaysInsideItsBuffers) {
  std::mt19937 rng(7);
  for (int t = 0; t < 300; ++t) {
    int w = 1 + static_cast<int>(rng() % 2000);
    std::vector<uint8_t> px(static_cast<size_t>(w));
    int mode = t % 3;
    for (int x = 0; x < w; ++x)
      px[x] = mode == 0 ? static_cast<uint8_t>(rng() % 3) : mode == 1 ? static_cast<uint8_t>((x / 50) % 4) : static_cast<uint8_t>(rng());
    std::vector<uint8_t> coded = Encode(px);
    ASSERT_LE(coded.size(), MaxCodedLine(w));
    std::vector<uint8_t> back(static_cast<size_t>(w), 0xEE);
    size_t decoded = 0;
    ASSERT_EQ(DecodeLine(coded.data(), coded.size(), back.data(), w, &decoded), coded.size());
    EXPECT_EQ(decoded, static_cast<size_t>(w));
    ASSERT_EQ(back, px);
    // Every cut-off prefix is refused.
    for (size_t cut = 0; cut < coded.size(); cut += 1 + coded.size() / 7)
      EXPECT_EQ(DecodeLine(coded.data(), cut, back.data(), w), 0u);
  }
  // A line longer than the picture stops at its width.
  std::vector<uint8_t> coded = {0x00, 0x8A, 0x05, 0x00, 0x00};
  std::vector<uint8_t> out(4 + 1, 0xEE);
  EXPECT_EQ(DecodeLine(coded.data(), coded.size(), out.data(), 4), 5u);
  EXPECT_EQ(out, (std::vector<uint8_t>{5, 5, 5, 5, 0xEE}));
}

TEST(GraphicObjectData, ObjectRoundTripsAndRefusesWrongLengths) {
  std::vector<uint8_t> px(37 * 11);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<uint8_t>((i / 5) % 7);
  std::vector<uint8_t> data = EncodeObject(Indexed(37, 11, px));
  ASSERT_GE(data.size(), 7u);
  EXPECT_EQ(static_cast<size_t>(data[0] << 16 | data[1] << 8 | data[2]), data.size() - 3);
  EXPECT_EQ(data[3] << 8 | data[4], 37);
  EXPECT_EQ(data[5] << 8 | data[6], 11);
  auto obj = DecodeObject(data.data(), data.size());
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->width, 37);
  EXPECT_EQ(obj->height, 11);
  EXPECT_EQ(obj->pixels, px);

  EXPECT_FALSE(DecodeObject(data.data(), data.size() - 1));
  std::vector<uint8_t> longer = data;
  longer.push_back(0);
  EXPECT_FALSE(DecodeObject(longer.data(), longer.size()));
  // A consistent length but lines missing at the end.
  std::vector<uint8_t> cut(data.begin(), data.end() - 4);
  size_t len = cut.size() - 3;
  cut[0] = static_cast<uint8_t>(len >> 16), cut[1] = static_cast<uint8_t>(len >> 8), cut[2] = static_cast<uint8_t>(len);
  EXPECT_FALSE(DecodeObject(cut.data(), cut.size()));
  // A header promising more lines than the data can hold, or a huge size.
  std::vector<uint8_t> tall = {0x00, 0x00, 0x08, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00};
  EXPECT_FALSE(DecodeObject(tall.data(), tall.size()));
  tall[6] = 0x02;
  EXPECT_TRUE(DecodeObject(tall.data(), tall.size()));
  std::vector<uint8_t> wide = {0x00, 0x00, 0x06, 0x10, 0x01, 0x00, 0x01, 0x00, 0x00};
  EXPECT_FALSE(DecodeObject(wide.data(), wide.size()));
}

TEST(GraphicObjectData, FragmentsSplitAtTheLimit) {
  struct Case {
    size_t n;
    std::vector<size_t> sizes;
  } cases[] = {{100, {100}}, {65515, {65515}}, {65516, {65515, 1}}, {2 * 65515, {65515, 65515}}};
  for (const Case& c : cases) {
    std::vector<uint8_t> data(c.n);
    for (size_t i = 0; i < c.n; ++i) data[i] = static_cast<uint8_t>(i * 31);
    std::vector<std::unique_ptr<COds>> ods;
    FragmentObject(data.data(), data.size(), 9, ods);
    ASSERT_EQ(ods.size(), c.sizes.size()) << c.n;
    for (size_t i = 0; i < ods.size(); ++i) {
      EXPECT_EQ(ods[i]->m_sequence.fragment.size(), c.sizes[i]);
      EXPECT_EQ(ods[i]->m_nObjectId, 9);
      EXPECT_EQ(ods[i]->m_nObjectVersion, 0);
      EXPECT_EQ(ods[i]->m_sequence.first, i == 0);
      EXPECT_EQ(ods[i]->m_sequence.last, i + 1 == ods.size());
    }
    size_t at = 0;
    auto joined = JoinFragments(ods, at);
    ASSERT_TRUE(joined);
    EXPECT_EQ(*joined, data);
    EXPECT_EQ(at, ods.size());
  }
}

TEST(PaletteConversion, YCrCbOfWhiteBlackAndBack) {
  SPaletteEntry w = RgbToYCrCb(3, 255, 255, 255, 200);
  EXPECT_EQ(w.id, 3);
  EXPECT_EQ(w.y, 235);
  EXPECT_EQ(w.cr, 128);
  EXPECT_EQ(w.cb, 128);
  EXPECT_EQ(w.t, 200);
  SPaletteEntry b = RgbToYCrCb(0, 0, 0, 0, 255);
  EXPECT_EQ(b.y, 16);
  EXPECT_EQ(b.cr, 128);
  EXPECT_EQ(b.cb, 128);
  EXPECT_EQ(YCrCbToRgb(w), (SColor{255, 255, 255, 200}));
  EXPECT_EQ(YCrCbToRgb(b), (SColor{0, 0, 0, 255}));
  // Pure red: Y = 81.535, Cr = 239.945, Cb = 90.26, rounded.
  SPaletteEntry r = RgbToYCrCb(0, 255, 0, 0, 255);
  EXPECT_EQ(r.y, 82);
  EXPECT_EQ(r.cr, 240);
  EXPECT_EQ(r.cb, 90);
  // The two conversions agree within a few levels on a spread of colours.
  for (int v = 0; v < 4096; ++v) {
    uint8_t R = static_cast<uint8_t>((v & 15) * 17), G = static_cast<uint8_t>(((v >> 4) & 15) * 17),
            B = static_cast<uint8_t>((v >> 8) * 17);
    SColor c = YCrCbToRgb(RgbToYCrCb(0, R, G, B, 255));
    ASSERT_LE(std::abs(c.r - R), 4) << v;
    ASSERT_LE(std::abs(c.g - G), 4) << v;
    ASSERT_LE(std::abs(c.b - B), 4) << v;
  }
}

// HD graphics are read with BT.709 (ffmpeg's PGS decoder and libbluray
// alike), SD ones with BT.601; both ways round.
TEST(PaletteConversion, HdVideoUsesBt709AndSdBt601) {
  EXPECT_EQ(ColorMatrixForHeight(1080), ColorMatrix::Bt709);
  EXPECT_EQ(ColorMatrixForHeight(720), ColorMatrix::Bt709);
  EXPECT_EQ(ColorMatrixForHeight(576), ColorMatrix::Bt601);
  EXPECT_EQ(ColorMatrixForHeight(480), ColorMatrix::Bt601);
  // Yellow in BT.709: Y = 16 + 219 x 0.9278, Cb = 128 - 112,
  // Cr = 128 + 112 x 0.0722 / 0.7874.
  SPaletteEntry y = RgbToYCrCb(0, 255, 255, 0, 255, ColorMatrix::Bt709);
  EXPECT_EQ(y.y, 219);
  EXPECT_EQ(y.cb, 16);
  EXPECT_EQ(y.cr, 138);
  SColor back = YCrCbToRgb(y, ColorMatrix::Bt709);
  EXPECT_LE(std::abs(back.r - 255) + std::abs(back.g - 255) + back.b, 2);
  // Read as BT.601 the same levels are visibly another yellow.
  SColor wrong = YCrCbToRgb(y, ColorMatrix::Bt601);
  EXPECT_GE(std::abs(wrong.r - 255) + wrong.b, 8);
  // Greys are the same in both (the BT.601 weights add up to a hair more).
  for (int v = 0; v < 256; v += 15) {
    const uint8_t g = static_cast<uint8_t>(v);
    SPaletteEntry a = RgbToYCrCb(0, g, g, g, 255, ColorMatrix::Bt601), b = RgbToYCrCb(0, g, g, g, 255, ColorMatrix::Bt709);
    EXPECT_LE(std::abs(a.y - b.y), 1) << v;
    EXPECT_EQ(b.cr, 128) << v;
    EXPECT_EQ(b.cb, 128) << v;
  }
}

// A palette read back from its segment and written again gives the same
// levels (an IES exported, imported and exported again does not drift).
TEST(PaletteConversion, PaletteSegmentsRoundTripExactly) {
  for (ColorMatrix m : {ColorMatrix::Bt601, ColorMatrix::Bt709}) {
    int drifted = 0, total = 0;
    for (int v = 0; v < 32768; ++v) {
      const uint8_t R = static_cast<uint8_t>((v & 31) * 8 + 4), G = static_cast<uint8_t>(((v >> 5) & 31) * 8 + 4),
                    B = static_cast<uint8_t>((v >> 10) * 8 + 4);
      const SPaletteEntry e = RgbToYCrCb(0, R, G, B, 255, m);
      const SColor c = YCrCbToRgb(e, m);
      const SPaletteEntry again = RgbToYCrCb(0, c.r, c.g, c.b, 255, m);
      ++total;
      // Levels outside the RGB cube come back clipped; every other colour
      // comes back exactly.
      const bool clipped = c.r == 0 || c.g == 0 || c.b == 0 || c.r == 255 || c.g == 255 || c.b == 255;
      if (!clipped) {
        EXPECT_EQ(again.y, e.y) << v;
        EXPECT_EQ(again.cr, e.cr) << v;
        EXPECT_EQ(again.cb, e.cb) << v;
      }
      drifted += !(again.y == e.y && again.cr == e.cr && again.cb == e.cb);
    }
    EXPECT_LE(drifted * 100, total) << "at most 1% of the colours, all at the cube's faces";
  }
}

TEST(PaletteConversion, PdsCarriesEveryPaletteEntry) {
  CErgbPalette pal;
  for (int i = 0; i < 255; ++i) pal.Add(ERGBQUAD{static_cast<uint8_t>(i), static_cast<uint8_t>(i), 0, 0, static_cast<uint8_t>(255 - i)});
  CPds pds;
  pds.m_entries.resize(3);
  PaletteToPds(pds, pal);
  ASSERT_EQ(pds.m_entries.size(), 255u);
  EXPECT_EQ(pds.m_entries[254].id, 254);
  EXPECT_EQ(pds.m_entries[254].t, 1);
  std::vector<SColor> table = PdsToPalette(pds);
  ASSERT_EQ(table.size(), 256u);
  EXPECT_EQ(table[255].a, 0) << "an undefined entry shows nothing";
  EXPECT_EQ(table[10].a, 245);

  CPicture pic;
  pic.Allocate(1, 1, PixelFormat::Indexed8);
  pic.table.resize(100);
  EXPECT_FALSE(PdsToPalette(pds, pic)) << "an entry id beyond the table";
  pic.table.resize(256);
  EXPECT_TRUE(PdsToPalette(pds, pic));
  EXPECT_TRUE(pic.tableHasAlpha);
}

TEST(GraphicObjectData, CompilingAnObjectLogsAndFragments) {
  std::vector<std::string> log;
  auto sink = [&](const std::string& l) { log.push_back(l); };
  CDsData ds;
  CGraphicObject empty;
  empty.SetName("Button normal");
  EXPECT_FALSE(CompileGraphicObject(empty, "  Page#1", sink, ds));
  EXPECT_EQ(log, (std::vector<std::string>{"  Page#1 Button normal...", "  Page#1 Error:graphics object is empty! "}));
  log.clear();
  CGraphicObject broken;
  broken.SetName("Broken");
  broken.m_strPath = "/nonexistent/picture.png";
  EXPECT_FALSE(CompileGraphicObject(broken, "P", sink, ds));
  EXPECT_EQ(log.back(), "P Error:unsupported graphics file! ");
  EXPECT_TRUE(ds.m_ods.empty());

  CGraphicObject g;
  g.m_nId = 12;
  g.m_picture = std::make_unique<CPicture>(Indexed(4, 2, {1, 1, 2, 2, 0, 0, 0, 0}));
  g.m_picture->table.assign(3, SColor{});
  ASSERT_TRUE(CompileGraphicObject(g, "P", sink, ds));
  ASSERT_EQ(ds.m_ods.size(), 1u);
  EXPECT_EQ(ds.m_ods[0]->m_nObjectId, 12);
  auto obj = DecodeObject(ds.m_ods[0]->m_sequence.fragment.data(), ds.m_ods[0]->m_sequence.fragment.size());
  ASSERT_TRUE(obj);
  EXPECT_EQ(obj->pixels, (std::vector<uint8_t>{1, 1, 2, 2, 0, 0, 0, 0}));
}

// An indexed picture is mapped colour by colour of its table: each pixel
// takes the entry its colour would take in a true-colour picture, and an
// index beyond the table is transparent.
TEST(PaletteConversion, AnIndexedPictureMapsAsItsColoursDo) {
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> v(0, 255);
  CErgbPalette palette;
  for (int i = 0; i < 30; ++i) {
    ERGBQUAD q;
    q.index = static_cast<uint8_t>(i);
    q.red = static_cast<uint8_t>(v(rng)), q.green = static_cast<uint8_t>(v(rng)), q.blue = static_cast<uint8_t>(v(rng));
    q.alpha = static_cast<uint8_t>(i == 0 ? 0 : v(rng));
    palette.Add(q);
  }
  CPicture indexed;
  indexed.Allocate(64, 40, PixelFormat::Indexed8);
  for (int i = 0; i < 50; ++i)
    indexed.table.push_back(SColor{static_cast<uint8_t>(v(rng)), static_cast<uint8_t>(v(rng)),
                                   static_cast<uint8_t>(v(rng)), static_cast<uint8_t>(i % 7 == 0 ? 3 : v(rng))});
  indexed.tableHasAlpha = true;
  for (uint8_t& p : indexed.pixels) p = static_cast<uint8_t>(v(rng) % 60);  // some beyond the table
  CPicture argb;
  argb.Allocate(indexed.width, indexed.height, PixelFormat::Argb32);
  for (int y = 0; y < argb.height; ++y)
    for (int x = 0; x < argb.width; ++x) {
      const SColor c = indexed.At(x, y);
      uint8_t* d = argb.Row(y) + static_cast<size_t>(x) * 4;
      d[0] = c.a, d[1] = c.r, d[2] = c.g, d[3] = c.b;
    }
  CPaletteMapper mapper(palette);
  const CPicture fromIndexed = mapper.Map(indexed), fromArgb = MapToPalette(argb, palette);
  ASSERT_EQ(fromIndexed.pixels.size(), fromArgb.pixels.size());
  EXPECT_TRUE(fromIndexed.pixels == fromArgb.pixels);
  EXPECT_TRUE(fromIndexed.table == fromArgb.table);
}

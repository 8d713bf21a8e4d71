#include "platform/image.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace zv;
using zvtest::DataPath;
using zvtest::ReadBytes;

namespace {

CPicture Decode(const std::string& name) {
  CPicture pic;
  std::string error;
  EXPECT_TRUE(DecodeImageFile(DataPath("images/" + name), pic, error)) << error;
  return pic;
}

// Compares with the pixels PIL decoded (committed by the fixture script);
// a fully transparent pixel compares by its alpha only.
void ExpectSameAsReference(const std::string& name, const CPicture& pic) {
  std::vector<uint8_t> ref = ReadBytes(DataPath("images/" + name + ".rgba"));
  ASSERT_EQ(ref.size(), static_cast<size_t>(pic.width) * pic.height * 4) << name;
  int bad = 0;
  for (int y = 0; y < pic.height && bad < 5; ++y)
    for (int x = 0; x < pic.width && bad < 5; ++x) {
      const uint8_t* r = &ref[(static_cast<size_t>(y) * pic.width + x) * 4];
      SColor c = pic.At(x, y);
      bool same = r[3] == 0 ? c.a == 0 : (c == SColor{r[0], r[1], r[2], r[3]});
      if (!same) {
        ++bad;
        ADD_FAILURE() << name << " pixel " << x << "," << y << ": ours " << +c.r << " " << +c.g << " " << +c.b
                      << " " << +c.a << ", PIL " << +r[0] << " " << +r[1] << " " << +r[2] << " " << +r[3];
      }
    }
}

}  // namespace

TEST(ImageDecode, EveryFixtureMatchesAnIndependentDecoder) {
  struct Case {
    const char* name;
    PixelFormat format;
    int width, height;
  } cases[] = {
      {"indexed_trns.png", PixelFormat::Indexed8, 40, 30}, {"indexed4.png", PixelFormat::Indexed8, 40, 30},
      {"rgb.png", PixelFormat::Rgb24, 48, 32},             {"rgba.png", PixelFormat::Argb32, 48, 32},
      {"gray.png", PixelFormat::Rgb24, 48, 32},            {"photo.png", PixelFormat::Rgb24, 140, 92},
      {"photo.jpg", PixelFormat::Rgb24, 140, 92},          {"trans.gif", PixelFormat::Indexed8, 40, 30},
      {"rgb24.bmp", PixelFormat::Rgb24, 48, 32},           {"rgb24_topdown.bmp", PixelFormat::Rgb24, 48, 32},
      {"pal8.bmp", PixelFormat::Indexed8, 48, 32},         {"pal4.bmp", PixelFormat::Indexed8, 40, 30},
      {"mono.bmp", PixelFormat::Indexed8, 48, 32},         {"argb32.bmp", PixelFormat::Argb32, 48, 32},
      {"exact200.png", PixelFormat::Argb32, 40, 20},
  };
  for (const Case& c : cases) {
    CPicture pic = Decode(c.name);
    EXPECT_EQ(pic.format, c.format) << c.name;
    EXPECT_EQ(pic.width, c.width) << c.name;
    EXPECT_EQ(pic.height, c.height) << c.name;
    ExpectSameAsReference(c.name, pic);
  }
}

TEST(ImageDecode, IndexedPngKeepsItsTableAndTransparency) {
  CPicture pic = Decode("indexed_trns.png");
  ASSERT_GE(pic.table.size(), 6u);
  EXPECT_TRUE(pic.tableHasAlpha);
  EXPECT_EQ(pic.transparentIndex, 0);
  EXPECT_EQ(pic.table[0].a, 0);
  EXPECT_EQ(pic.table[5].a, 128);
  EXPECT_EQ((pic.table[1]), (SColor{255, 0, 0, 255}));
  EXPECT_EQ(pic.Row(0)[0], 0);  // the corner is background
  EXPECT_EQ(pic.Row(10)[10], 1);

  CPicture gif = Decode("trans.gif");
  EXPECT_EQ(gif.transparentIndex, 0);
  EXPECT_EQ(gif.table[0].a, 0);
}

TEST(ImageDecode, TruncatedAndForeignInputIsRefused) {
  for (const char* name : {"indexed_trns.png", "rgb.png", "photo.jpg", "trans.gif", "rgb24.bmp", "argb32.bmp"}) {
    std::vector<uint8_t> bytes = ReadBytes(DataPath(std::string("images/") + name));
    for (size_t keep : {bytes.size() / 2, size_t{20}, size_t{5}}) {
      CPicture pic;
      std::string error;
      EXPECT_FALSE(DecodeImage(bytes.data(), keep, pic, error)) << name << " cut to " << keep;
      EXPECT_FALSE(error.empty());
    }
  }
  const uint8_t text[] = "hello, world";
  CPicture pic;
  std::string error;
  EXPECT_FALSE(DecodeImage(text, sizeof text, pic, error));
  EXPECT_EQ(error, "unsupported picture format");

  // A BMP header claiming a huge picture must not allocate it.
  std::vector<uint8_t> bmp = ReadBytes(DataPath("images/rgb24.bmp"));
  bmp[18] = 0xFF, bmp[19] = 0xFF, bmp[20] = 0xFF, bmp[21] = 0x00;
  EXPECT_FALSE(DecodeBmp(bmp.data(), bmp.size(), pic, error));
}

TEST(ImageEncode, PngRoundTripsThroughOurDecoder) {
  for (const char* name : {"rgba.png", "indexed_trns.png", "photo.jpg"}) {
    CPicture src = Decode(name);
    std::vector<uint8_t> png;
    std::string error;
    ASSERT_TRUE(EncodePng(src, png, error)) << error;
    CPicture back;
    ASSERT_TRUE(DecodePng(png.data(), png.size(), back, error)) << error;
    ASSERT_EQ(back.width, src.width);
    ASSERT_EQ(back.height, src.height);
    for (int y = 0; y < src.height; ++y)
      for (int x = 0; x < src.width; ++x) ASSERT_EQ(back.At(x, y), src.At(x, y)) << name << " " << x << "," << y;
  }
}

// Run-length coded BMPs (8 and 4 bits): runs, literal pixels, a jump and
// the picture's end, bottom line first; pixels nothing reaches are index 0.
// A run cut short is refused.
TEST(ImageDecode, RunLengthCodedBmp) {
  auto bmp = [](uint16_t bpp, uint32_t compression, const std::vector<uint8_t>& runs) {
    std::vector<uint8_t> b(14 + 40 + 4 * 4, 0);
    auto le32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    le32(10, static_cast<uint32_t>(b.size()));  // pixel data offset
    le32(14, 40);                               // header size
    le32(18, 6);                                // width
    le32(22, 3);                                // height (bottom-up)
    b[26] = 1;                                  // planes
    b[28] = static_cast<uint8_t>(bpp);
    le32(30, compression);
    le32(46, 4);  // colours used
    const uint8_t table[4][4] = {{0, 0, 0, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};  // B G R 0
    for (int i = 0; i < 4; ++i)
      for (int k = 0; k < 4; ++k) b[54 + i * 4 + k] = table[i][k];
    b.insert(b.end(), runs.begin(), runs.end());
    return b;
  };
  // Bottom line: 3 x index 1, then the literal 2 3 2 (padded to 16 bits);
  // end of line. Middle line: a jump of 2 right and 1 down lands on the
  // top line at x 2: 3 x index 3.
  const std::vector<uint8_t> rle8 = {3, 1, 0, 3, 2, 3, 2, 0, 0, 0, 0, 2, 2, 1, 3, 3, 0, 1};
  for (const auto& [bpp, compression, runs] :
       {std::tuple<uint16_t, uint32_t, std::vector<uint8_t>>{8, 1, rle8},
        // The same at 4 bits: runs of alternating nibbles, literal nibbles
        // padded to a 16-bit boundary.
        {4, 2, {3, 0x11, 0, 3, 0x23, 0x20, 0, 0, 0, 2, 2, 1, 3, 0x33, 0, 1}}}) {
    const std::vector<uint8_t> file = bmp(bpp, compression, runs);
    CPicture pic;
    std::string error;
    ASSERT_TRUE(DecodeImage(file.data(), file.size(), pic, error)) << bpp << ": " << error;
    ASSERT_EQ(pic.width, 6);
    ASSERT_EQ(pic.height, 3);
    const uint8_t want[3][6] = {{0, 0, 3, 3, 3, 0}, {0, 0, 0, 0, 0, 0}, {1, 1, 1, 2, 3, 2}};
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(pic.Row(y)[x], want[y][x]) << bpp << " at " << x << "," << y;
    EXPECT_EQ(pic.At(0, 2), (SColor{255, 0, 0, 255}));
    std::vector<uint8_t> cut = file;
    cut.resize(cut.size() - 6);
    EXPECT_FALSE(DecodeImage(cut.data(), cut.size(), pic, error));
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
  }
}

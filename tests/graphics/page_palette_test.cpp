// The page palette is made from colour tables alone, quantizing pictures on
// their own only until their tables overflow one palette, then all of them
// together: the entries are those of the indexed pictures the quantizer
// makes, and a picture that cannot be read still refuses the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "graphics/graphic_object.h"

using namespace zv;

namespace {

enum class Kind { Opaque, OpaqueCutOut, Soft, FewColours };

// A gradient with noise; `n` shifts its colours.
CPicture Picture(Kind kind, int n, int width = 200, int height = 80) {
  CPicture p;
  p.Allocate(width, height, PixelFormat::Argb32);
  uint32_t seed = 99u + static_cast<uint32_t>(n);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = kind == Kind::FewColours ? 0 : static_cast<int>(seed >> 28);
      uint8_t* px = p.Row(y) + static_cast<size_t>(x) * 4;
      const bool corner = x < 6 && y < 6;
      const bool fading = kind == Kind::Soft && x < 20;
      px[0] = kind == Kind::Opaque ? 255 : corner ? 0 : fading ? static_cast<uint8_t>(x * 12) : 255;
      px[1] = static_cast<uint8_t>(kind == Kind::FewColours ? (x / 20) * 20 : x / (width / 200) + noise + n * 7);
      px[2] = static_cast<uint8_t>(kind == Kind::FewColours ? 40 : y * 3 + noise);
      px[3] = static_cast<uint8_t>(kind == Kind::FewColours ? n * 9 : 255 - x - n * 11 + noise);
    }
  return p;
}

std::unique_ptr<CGraphicObject> Graphic(const CPicture& pic) {
  auto g = std::make_unique<CGraphicObject>();
  g->m_picture = std::make_unique<CPicture>(pic);
  g->m_nWidth = pic.width;
  g->m_nHeight = pic.height;
  return g;
}

// The palette's entries against a table (a palette holds at most 255);
// alpha only where the page keeps it.
void ExpectEntries(const CErgbPalette& palette, const std::vector<SColor>& table, bool alpha, const char* what) {
  ASSERT_EQ(palette.GetCount(), std::min(table.size(), CErgbPalette::kMaxEntries)) << what;
  for (size_t i = 0; i < palette.GetCount(); ++i) {
    const ERGBQUAD& q = *palette.GetAt(i);
    EXPECT_EQ(q.index, i) << what;
    EXPECT_EQ((SColor{q.red, q.green, q.blue, alpha ? q.alpha : table[i].a}), table[i]) << what << " entry " << i;
  }
}

TEST(PagePalette, IsTheTableOfThePicturesIndexedForm) {
  for (Kind kind : {Kind::Opaque, Kind::OpaqueCutOut, Kind::Soft, Kind::FewColours}) {
    const CPicture pic = Picture(kind, 1);
    auto g = Graphic(pic);
    std::unique_ptr<CErgbPalette> palette = BuildPagePalette({g.get()});
    ASSERT_NE(palette, nullptr);
    std::optional<CPicture> indexed = ToIndexedImage(pic);
    ASSERT_TRUE(indexed);
    if (kind != Kind::FewColours) {
      EXPECT_GT(indexed->table.size(), 200u);  // quantized, not the exact table
    }
    ExpectEntries(*palette, indexed->table, kind == Kind::Soft, "one picture");
  }
}

// Large enough to be counted in shares on several cores: the shares add up
// to the count the quantizer makes of the stacked picture in one.
TEST(PagePalette, OverflowingTablesGiveTheTableOfAllPicturesTogetherAndAnUnreadablePictureRefuses) {
  constexpr int kWidth = 800, kHeight = 180;
  for (Kind kind : {Kind::Opaque, Kind::Soft}) {
    std::vector<std::unique_ptr<CGraphicObject>> owned;
    std::vector<const CGraphicObject*> graphics;
    CPicture stacked;
    stacked.Allocate(kWidth, kHeight * 5, PixelFormat::Argb32);
    for (int n = 0; n < 5; ++n) {
      const CPicture pic = Picture(kind, n * 3, kWidth, kHeight);
      std::copy(pic.pixels.begin(), pic.pixels.end(), stacked.Row(kHeight * n));
      owned.push_back(Graphic(pic));
      graphics.push_back(owned.back().get());
    }
    std::unique_ptr<CErgbPalette> palette = BuildPagePalette(graphics);
    ASSERT_NE(palette, nullptr);
    std::optional<CPicture> together = ToIndexedImage(stacked);
    ASSERT_TRUE(together);
    ExpectEntries(*palette, together->table, kind == Kind::Soft, kind == Kind::Soft ? "soft" : "opaque");

    // The last picture's file is missing: no palette, though the first two
    // already overflowed one.
    auto missing = std::make_unique<CGraphicObject>();
    missing->m_strPath = "/nonexistent/zelvane-missing.png";
    missing->m_nWidth = kWidth;
    missing->m_nHeight = kHeight;
    graphics.push_back(missing.get());
    EXPECT_EQ(BuildPagePalette(graphics), nullptr);
  }
}

}  // namespace

namespace {

// A long list is counted in shares on several cores: colours and invisible
// pixels met only in a later share still count.
TEST(QuantizeColours, ColoursOfEveryShareOfALongListCount) {
  const size_t half = size_t{1} << 19;
  const SColor a{200, 40, 10, 255}, b{10, 60, 220, 255}, invisible{0, 0, 0, 0};
  std::vector<SColor> pixels(half, a);
  pixels.resize(2 * half, b);
  pixels.back() = invisible;
  std::vector<uint8_t> index;
  const std::vector<SColor> table = QuantizeColoursWithAlpha(pixels, 4, index);
  ASSERT_EQ(table.size(), 2u);
  ASSERT_EQ(index.size(), pixels.size());
  EXPECT_EQ(table[index.front()], a);
  EXPECT_EQ(table[index[2 * half - 2]], b);
  EXPECT_EQ(index.back(), 2);  // invisible: the table's size
}

}  // namespace

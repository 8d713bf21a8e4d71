#include <gtest/gtest.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "support/test_support.h"

using namespace zv;
using zvtest::DataPath;

namespace {

CPicture Load(const std::string& name) {
  CPicture pic;
  std::string error;
  EXPECT_TRUE(DecodeImageFile(DataPath("images/" + name), pic, error)) << error;
  return pic;
}

double Psnr(const CPicture& a, const CPicture& b) {
  double se = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      SColor p = a.At(x, y), q = b.At(x, y);
      se += (p.r - q.r) * (p.r - q.r) + (p.g - q.g) * (p.g - q.g) + (p.b - q.b) * (p.b - q.b);
    }
  double mse = se / (3.0 * a.width * a.height);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
};
void JpegExit(j_common_ptr c) { std::longjmp(reinterpret_cast<JpegErr*>(c->err)->jump, 1); }

// libjpeg's own two-pass quantizer on a JPEG file: an independent
// implementation of the same median cut and Floyd-Steinberg diffusion.
bool LibjpegQuantize(const std::vector<uint8_t>& bytes, int colors, CPicture& out) {
  jpeg_decompress_struct cinfo{};
  JpegErr err{};
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  cinfo.quantize_colors = TRUE;
  cinfo.two_pass_quantize = TRUE;
  cinfo.dither_mode = JDITHER_FS;
  cinfo.desired_number_of_colors = colors;
  jpeg_start_decompress(&cinfo);
  out.Allocate(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), PixelFormat::Indexed8);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.Row(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  for (int i = 0; i < cinfo.actual_number_of_colors; ++i)
    out.table.push_back(SColor{cinfo.colormap[0][i], cinfo.colormap[1][i], cinfo.colormap[2][i], 255});
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

}  // namespace

TEST(Quantizer, PhotographTo255ColoursWithGoodQuality) {
  CPicture photo = Load("photo.png");
  std::optional<CPicture> q = ToIndexedImage(photo);
  ASSERT_TRUE(q);
  EXPECT_EQ(q->format, PixelFormat::Indexed8);
  EXPECT_LE(q->table.size(), 255u);
  EXPECT_GT(q->table.size(), 200u);
  double psnr = Psnr(photo, *q);
  // The transparent reference entry is transparent, but keeps its colour.
  EXPECT_GE(psnr, 30.0) << psnr;
  // Deterministic.
  std::optional<CPicture> again = ToIndexedImage(photo);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->pixels, q->pixels);
  EXPECT_EQ(again->table, q->table);
  // No two corners of the rose agree: the top-left pixel's entry is the
  // transparent one, and only it.
  int t = q->Row(0)[0];
  EXPECT_EQ(q->transparentIndex, t);
  for (size_t i = 0; i < q->table.size(); ++i) EXPECT_EQ(q->table[i].a, static_cast<int>(i) == t ? 0 : 255);
}

TEST(Quantizer, MatchesLibjpegsTwoPassQuantizerExactly) {
  std::vector<uint8_t> bytes = zvtest::ReadBytes(DataPath("images/photo.jpg"));
  for (int colors : {255, 64, 16}) {
    CPicture ref;
    ASSERT_TRUE(LibjpegQuantize(bytes, colors, ref));
    CPicture rgb = Load("photo.jpg");
    CPicture ours = QuantizeMedianCut(rgb, colors);
    ASSERT_EQ(ours.table.size(), ref.table.size()) << colors;
    for (size_t i = 0; i < ref.table.size(); ++i) {
      EXPECT_EQ(ours.table[i].r, ref.table[i].r) << colors << " entry " << i;
      EXPECT_EQ(ours.table[i].g, ref.table[i].g) << colors << " entry " << i;
      EXPECT_EQ(ours.table[i].b, ref.table[i].b) << colors << " entry " << i;
    }
    size_t differ = 0;
    for (size_t i = 0; i < ref.pixels.size(); ++i) differ += ours.pixels[i] != ref.pixels[i];
    EXPECT_EQ(differ, 0u) << colors;
  }
}

TEST(Quantizer, ArgbOfFewColoursTakesTheExactPalette) {
  CPicture src = Load("exact200.png");
  ASSERT_EQ(src.format, PixelFormat::Argb32);
  std::optional<CPicture> q = ToIndexedImage(src);
  ASSERT_TRUE(q);
  std::vector<SColor> distinct;
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x)
      if (SColor c = src.At(x, y); c.a != 0 && std::find(distinct.begin(), distinct.end(), c) == distinct.end())
        distinct.push_back(c);
  ASSERT_GT(distinct.size(), 190u);
  ASSERT_EQ(q->table.size(), distinct.size() + 1) << "the colours and transparent black";
  for (size_t i = 0; i < distinct.size(); ++i) EXPECT_EQ(q->table[i], distinct[i]) << "order of first appearance";
  EXPECT_TRUE(q->tableHasAlpha);
  EXPECT_EQ(q->table.back(), (SColor{0, 0, 0, 0}));
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x) {
      SColor s = src.At(x, y);
      SColor d = q->At(x, y);
      if (s.a == 0) {
        EXPECT_EQ(q->Row(y)[x], distinct.size());
      } else {
        ASSERT_EQ(d, s) << x << "," << y;
      }
    }
  // First appearance decides the order: the first visible pixel is entry 0.
  EXPECT_EQ(q->table[0], src.At(6, 0));
}

TEST(Quantizer, ArgbOfManyColoursKeepsTransparency) {
  CPicture src = Load("rgba.png");  // a gradient with an alpha ramp
  std::optional<CPicture> q = ToIndexedImage(src);
  ASSERT_TRUE(q);
  ASSERT_LE(q->table.size(), 256u);
  for (int y = 0; y < src.height; ++y)
    for (int x = 0; x < src.width; ++x) {
      uint8_t a = src.At(x, y).a;
      uint8_t i = q->Row(y)[x];
      if (a < 5) {
        EXPECT_EQ(i, q->table.size() - 1);
        EXPECT_EQ(q->table[i].a, 0);
      } else {
        EXPECT_LT(i, q->table.size() - 1);
      }
    }
  EXPECT_EQ(q->table[q->Row(0)[47]].a, 255);
}

// An opaque picture with cut-out corners: its transparent entry is one of
// the 255 a palette holds, both when its colours need quantizing and when
// exactly 255 of them would fill the palette alone. A palette made from it
// keeps the entry, and the cut-out pixels use it.
TEST(Quantizer, CutOutPicturesKeepTheirTransparentEntryInThePalette) {
  for (int distinct : {255, 5000}) {
    CPicture src;
    src.Allocate(100, 60, PixelFormat::Argb32);
    for (int y = 0; y < src.height; ++y)
      for (int x = 0; x < src.width; ++x) {
        const int n = (y * src.width + x) % distinct;
        uint8_t* p = src.Row(y) + static_cast<size_t>(x) * 4;
        p[0] = x < 4 && y < 4 ? 0 : 255;
        p[1] = static_cast<uint8_t>(n % 17 * 15), p[2] = static_cast<uint8_t>(n / 17 % 17 * 15);
        p[3] = static_cast<uint8_t>(n / 289 * 13);
      }
    std::optional<CPicture> q = ToIndexedImage(src);
    ASSERT_TRUE(q);
    ASSERT_LE(q->table.size(), CErgbPalette::kMaxEntries) << distinct;
    const uint8_t cut = q->Row(0)[0];
    EXPECT_EQ(q->table[cut].a, 0) << distinct;
    EXPECT_EQ(q->transparentIndex, cut) << distinct;
    for (int y = 4; y < src.height; ++y) EXPECT_NE(q->table[q->Row(y)[0]].a, 0) << distinct << " row " << y;

    CErgbPalette palette;
    ASSERT_EQ(PaletteFromImage(palette, 1.0, src), static_cast<int>(q->table.size())) << distinct;
    EXPECT_EQ(palette.m_nTransparentIndex, cut);
    ASSERT_LT(cut, palette.GetCount()) << distinct << ": the transparent entry was cut off";
    EXPECT_EQ(palette.GetAt(cut)->alpha, 0) << distinct;
    const CPicture mapped = MapToPalette(src, palette);
    EXPECT_EQ(mapped.Row(2)[2], cut) << distinct << ": a cut-out pixel takes the palette's transparent entry";
  }
}

TEST(Quantizer, TransparentReferencePixelFollowsTheCorners) {
  auto pic = [](SColor tl, SColor tr, SColor bl, SColor br) {
    CPicture p;
    p.Allocate(3, 3, PixelFormat::Argb32);
    auto set = [&](int x, int y, SColor c) {
      uint8_t* d = p.Row(y) + x * 4;
      d[0] = c.a, d[1] = c.r, d[2] = c.g, d[3] = c.b;
    };
    set(0, 0, tl), set(2, 0, tr), set(0, 2, bl), set(2, 2, br);
    return p;
  };
  SColor a{1, 2, 3, 255}, b{9, 9, 9, 255}, c{200, 0, 0, 255}, d{0, 0, 200, 255}, clear{5, 5, 5, 0};
  using P = std::pair<int, int>;
  EXPECT_EQ(TransparentReferencePixel(pic(a, b, c, d)), (P{0, 0})) << "no pair agrees";
  EXPECT_EQ(TransparentReferencePixel(pic(clear, b, b, d)), (P{0, 0})) << "transparent top-left";
  EXPECT_EQ(TransparentReferencePixel(pic(a, b, c, b)), (P{2, 0})) << "pair (2,4)";
  EXPECT_EQ(TransparentReferencePixel(pic(a, a, c, c)), (P{0, 2})) << "(1,2) then (3,4): the last decides";
  EXPECT_EQ(TransparentReferencePixel(pic(a, b, a, d)), (P{0, 0}));
}

TEST(Palette, FromImageTableRules) {
  // A 256-entry colour table gives 255 entries.
  CPicture p;
  p.Allocate(4, 4, PixelFormat::Indexed8);
  for (int i = 0; i < 256; ++i) p.table.push_back(SColor{static_cast<uint8_t>(i), 1, 2, 255});
  std::fill(p.pixels.begin(), p.pixels.end(), 7);
  CErgbPalette pal;
  EXPECT_EQ(PaletteFromImage(pal, 0.5, p), 255);
  ASSERT_EQ(pal.GetCount(), 255u);
  EXPECT_EQ(pal.GetAt(254)->index, 254);
  EXPECT_EQ(pal.m_nTransparentIndex, 7);
  EXPECT_EQ(pal.GetAt(7)->alpha, 128) << "opacity x 255 rounded for the transparent index";
  EXPECT_EQ(pal.GetAt(8)->alpha, 255);
  EXPECT_EQ(PaletteFromImage(pal, 7.0, p), 255);
  EXPECT_EQ(pal.GetAt(7)->alpha, 255) << "opacity is clamped";
  EXPECT_EQ((ERGBQUAD{8, 2, 1, 8, 255}), *pal.GetAt(8));

  // An indexed PNG keeps its alpha.
  CPicture png = Load("indexed_trns.png");
  EXPECT_EQ(PaletteFromImage(pal, 1.0, png), static_cast<int>(std::min<size_t>(png.table.size(), 255)));
  EXPECT_EQ(pal.GetAt(0)->alpha, 0);
  EXPECT_EQ(pal.GetAt(5)->alpha, 128);
}

TEST(Palette, StoredFormRoundTrips) {
  CPoFolder folder;
  CErgbPalette* p0 = folder.AddPalette();
  CErgbPalette* p1 = folder.AddPalette();
  EXPECT_EQ(p0->m_strName, "Palettte#0");
  EXPECT_EQ(p1->m_strName, "Palettte#1");
  EXPECT_NE(p0->m_nId, p1->m_nId);
  p1->Add(ERGBQUAD{0, 10, 20, 30, 40});
  p1->Add(ERGBQUAD{1, 50, 60, 70, 0});
  p1->m_nTransparentIndex = 1;
  ArchiveOut out;
  {
    CArchive ar(out);
    folder.Serialize(ar);
  }
  CPoFolder back;
  ArchiveIn in(out.Bytes());
  CArchive ar(in);
  back.Serialize(ar);
  EXPECT_TRUE(in.AtEnd());
  ASSERT_EQ(back.GetCount(), 2u);
  ASSERT_EQ(back.GetAt(1)->GetCount(), 2u);
  EXPECT_EQ(*back.GetAt(1)->GetAt(1), (ERGBQUAD{1, 50, 60, 70, 0}));
  EXPECT_EQ(back.GetAt(1)->m_nTransparentIndex, 1);
  EXPECT_EQ(back.GetAt(1)->m_strName, "Palettte#1");
}

TEST(GraphicObject, SetImageFile) {
  CGraphicObject g;
  std::string path = DataPath("images/indexed_trns.png");
  EXPECT_TRUE(g.SetImageFile(path));
  EXPECT_EQ(g.m_nWidth, 40);
  EXPECT_EQ(g.m_nHeight, 30);
  EXPECT_EQ(g.m_strName, "indexed_trns");
  EXPECT_GT(g.Palette().GetCount(), 5u);
  EXPECT_FALSE(g.SetImageFile(path)) << "the same path";
  EXPECT_FALSE(g.SetImageFile(DataPath("images/missing.png")));
  EXPECT_EQ(g.m_strPath, path);
  EXPECT_TRUE(g.SetImageFile(""));
  EXPECT_EQ(g.m_nWidth, 0);
  EXPECT_EQ(g.Palette().GetCount(), 0u);
  g.SetName("My button");
  EXPECT_TRUE(g.SetImageFile(DataPath("images/rgb.png")));
  EXPECT_EQ(g.m_strName, "My button") << "a name the user gave stays";
}

TEST(Palette, PagePaletteCollectsDistinctColours) {
  CGraphicObject a, b, full;
  ASSERT_TRUE(a.SetImageFile(DataPath("images/exact200.png")));
  ASSERT_TRUE(b.SetImageFile(DataPath("images/pal4.bmp")));
  ASSERT_TRUE(full.SetImageFile(DataPath("images/indexed_trns.png")));
  EXPECT_FALSE(BuildPagePalette({}));
  CPicture ia = *ToIndexedImage(Load("exact200.png"));
  CPicture ib = *ToIndexedImage(Load("pal4.bmp"));
  ASSERT_LT(ia.table.size() + ib.table.size(), 255u);
  std::unique_ptr<CErgbPalette> pal = BuildPagePalette({&a, &b});
  ASSERT_TRUE(pal);
  EXPECT_EQ(pal->m_nTransparentIndex, 255);
  std::vector<SColor> expect = ia.table;
  for (SColor c : ib.table)
    if (std::find(expect.begin(), expect.end(), c) == expect.end()) expect.push_back(c);
  ASSERT_EQ(pal->GetCount(), expect.size());
  for (size_t i = 0; i < expect.size(); ++i) {
    EXPECT_EQ(pal->GetAt(i)->red, expect[i].r);
    EXPECT_EQ(pal->GetAt(i)->blue, expect[i].b);
    EXPECT_EQ(pal->GetAt(i)->alpha, expect[i].a) << "the half-transparent entries keep their alpha";
  }
  // A table of exactly 256 entries is the palette alone, with its alpha.
  CPicture png = Load("indexed_trns.png");
  ASSERT_EQ(png.table.size(), 256u);
  pal = BuildPagePalette({&a, &full});
  ASSERT_TRUE(pal);
  ASSERT_EQ(pal->GetCount(), 255u);
  EXPECT_EQ(pal->GetAt(0)->alpha, 0);
  EXPECT_EQ(pal->GetAt(5)->alpha, 128);
  CGraphicObject empty;
  EXPECT_FALSE(BuildPagePalette({&a, &empty}));
}

// Pages of pictures with soft alpha (an alpha ramp in every format that
// carries one): the automatic page palette keeps the ramp, and the pictures
// coded with it keep their alpha within a few levels.
TEST(Palette, PagePaletteKeepsPartialTransparencyOfEveryFormat) {
  zvtest::TempDir dir;
  std::vector<std::string> files = {DataPath("images/rgba.png"), DataPath("images/argb32.bmp"),
                                    DataPath("images/indexed_trns.png")};
  if (zvtest::HaveProgram("ffmpeg")) {
    // 16-bit RGBA and grey with alpha.
    for (const char* fmt : {"rgba64be", "ya8"}) {
      const std::string out = dir / (std::string(fmt) + ".png");
      zvtest::RunResult r = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", DataPath("images/rgba.png"),
                                         "-pix_fmt", fmt, out});
      ASSERT_EQ(r.status, 0) << r.err;
      files.push_back(out);
    }
  }
  for (const std::string& file : files) {
    CGraphicObject g;
    ASSERT_TRUE(g.SetImageFile(file)) << file;
    std::unique_ptr<CErgbPalette> pal = BuildPagePalette({&g});
    ASSERT_TRUE(pal) << file;
    CPicture src;
    std::string error;
    ASSERT_TRUE(DecodeImageFile(file, src, error)) << error;
    CPicture coded = MapToPalette(src, *pal);
    double sum = 0;
    int soft = 0;
    for (int y = 0; y < src.height; ++y)
      for (int x = 0; x < src.width; ++x) {
        const int a = src.At(x, y).a;
        if (a < 5 || a > 250) continue;
        ++soft;
        sum += std::abs(coded.At(x, y).a - a);
      }
    ASSERT_GT(soft, 30) << file;
    EXPECT_LE(sum / soft, 8.0) << file;
  }
}

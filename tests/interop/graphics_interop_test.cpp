// Presentation-graphics display sets we write, drawn by ffmpeg's PGS
// decoder over a black and over a white frame: objects at their place and
// size, colours as our own decoding shows them, transparency kept.
#include <gtest/gtest.h>

#include "graphics/graphic_object.h"
#include "graphics/object_coding.h"
#include "graphics/segments.h"
#include "platform/file.h"
#include "support/test_support.h"

using namespace zv;
using namespace zvtest;

namespace {

// ffmpeg converts palettes with BT.601 up to 576 lines and with BT.709
// above, as players do.
struct VideoSize {
  int w, h;
};
constexpr VideoSize kSd{720, 576}, kHd{1920, 1080};

struct Placed {
  std::string image;
  int x, y;
};

// One display set with every picture as an object of its own palette
// (object i uses palette i; the PCS names palette 0, so each picture gets
// its own display set in turn).
void WriteSup(const std::string& path, const CPicture& indexed, int x, int y, VideoSize v) {
  CErgbPalette palette;
  ASSERT_GT(PaletteFromImage(palette, 0.0, indexed), 0);
  CDsData ds;
  ds.m_pcs = std::make_unique<CPcs>();
  ds.m_pcs->m_composition.video = SVideoDescriptor{static_cast<uint16_t>(v.w), static_cast<uint16_t>(v.h), 3, 0};
  ds.m_pcs->m_composition.state = 2;
  SCompositionObject o;
  o.objectIdRef = 0;
  o.windowIdRef = 0;
  o.x = static_cast<uint16_t>(x);
  o.y = static_cast<uint16_t>(y);
  ds.m_pcs->m_objects.push_back(o);
  ds.m_wds = std::make_unique<CWds>();
  ds.m_wds->m_windows.push_back(SWindow{0, static_cast<uint16_t>(x), static_cast<uint16_t>(y),
                                        static_cast<uint16_t>(indexed.width), static_cast<uint16_t>(indexed.height)});
  auto pds = std::make_unique<CPds>();
  PaletteToPds(*pds, palette, ColorMatrixForHeight(v.h));
  ds.m_pds.push_back(std::move(pds));
  std::vector<uint8_t> data = EncodeObject(indexed);
  FragmentObject(data.data(), data.size(), 0, ds.m_ods);
  ds.m_end = std::make_unique<CEs>();
  for (const CSegmentBase* s : ds.Segments()) const_cast<CSegmentBase*>(s)->m_nPts = 0;
  File f;
  ASSERT_TRUE(f.Open(path, File::kCreate)) << f.Error();
  std::string error;
  ASSERT_TRUE(WriteDisplaySet(f, ds, true, nullptr, error)) << error;
  ASSERT_TRUE(f.Close());
}

// ffmpeg's picture of the stream over a plain background, as RGB.
std::vector<uint8_t> FfmpegDraw(const std::string& sup, const char* color, const std::string& out, VideoSize v) {
  std::string bg = std::string("color=c=") + color + ":s=" + std::to_string(v.w) + "x" + std::to_string(v.h) +
                   ":r=25:d=1";
  RunResult r = Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i", bg, "-i", sup, "-filter_complex",
                     // The subtitle reaches the overlay after the first frames.
                     "[0:v]format=gbrp[b];[b][1:s]overlay=format=gbrp,format=rgb24,select=eq(n\\,5)", "-frames:v", "1",
                     "-f", "rawvideo",
                     out});
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadBytes(out);
}

// Our own drawing of what we wrote: the object decoded, its palette from
// the PDS.
std::vector<SColor> OwnDrawing(const CPicture& indexed, VideoSize v) {
  CErgbPalette palette;
  PaletteFromImage(palette, 0.0, indexed);
  CPds pds;
  PaletteToPds(pds, palette, ColorMatrixForHeight(v.h));
  std::vector<uint8_t> data = EncodeObject(indexed);
  auto obj = DecodeObject(data.data(), data.size());
  EXPECT_TRUE(obj);
  std::vector<SColor> table = PdsToPalette(pds, ColorMatrixForHeight(v.h));
  std::vector<SColor> px;
  for (uint8_t i : obj->pixels) px.push_back(table[i]);
  return px;
}

void CheckDrawnByFfmpeg(const std::string& image, int x, int y, bool compareWithSource, VideoSize v = kSd) {
  const int kVideoW = v.w, kVideoH = v.h;
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  CPicture src;
  std::string error;
  ASSERT_TRUE(DecodeImageFile(DataPath("images/" + image), src, error)) << error;
  std::optional<CPicture> indexed = ToIndexedImage(src);
  ASSERT_TRUE(indexed);
  WriteSup(dir / "s.sup", *indexed, x, y, v);
  std::vector<uint8_t> black = FfmpegDraw(dir / "s.sup", "black", dir / "b.rgb", v);
  std::vector<uint8_t> white = FfmpegDraw(dir / "s.sup", "white", dir / "w.rgb", v);
  ASSERT_EQ(black.size(), static_cast<size_t>(kVideoW) * kVideoH * 3);
  ASSERT_EQ(white.size(), black.size());
  std::vector<SColor> own = OwnDrawing(*indexed, v);

  int opaque = 0, clear = 0, bad = 0;
  for (int py = 0; py < kVideoH; ++py)
    for (int px = 0; px < kVideoW; ++px) {
      const uint8_t* b = &black[(static_cast<size_t>(py) * kVideoW + px) * 3];
      const uint8_t* w = &white[(static_cast<size_t>(py) * kVideoW + px) * 3];
      bool inside = px >= x && py >= y && px < x + indexed->width && py < y + indexed->height;
      if (!inside) {
        // Nothing is drawn outside the object.
        if (b[0] + b[1] + b[2] != 0 || w[0] + w[1] + w[2] != 765) ++bad;
        continue;
      }
      SColor c = own[static_cast<size_t>(py - y) * indexed->width + (px - x)];
      if (c.a == 0) {
        ++clear;
        if (b[0] + b[1] + b[2] != 0 || w[0] + w[1] + w[2] != 765) ++bad;
      } else if (c.a == 255) {
        ++opaque;
        bool near = std::abs(b[0] - c.r) <= 2 && std::abs(b[1] - c.g) <= 2 && std::abs(b[2] - c.b) <= 2 &&
                    std::equal(b, b + 3, w);
        if (compareWithSource) {
          SColor s = src.At(px - x, py - y);
          near = near && std::abs(b[0] - s.r) <= 2 && std::abs(b[1] - s.g) <= 2 && std::abs(b[2] - s.b) <= 2;
        }
        if (!near) ++bad;
      } else {
        // Half transparent: over black the colour scaled by alpha, over
        // white lighter than over black.
        double a = c.a / 255.0;
        if (std::abs(b[0] - c.r * a) > 4 || std::abs(b[1] - c.g * a) > 4 || std::abs(b[2] - c.b * a) > 4 ||
            w[0] < b[0] || w[1] < b[1] || w[2] < b[2])
          ++bad;
      }
      if (bad == 1) {
        ADD_FAILURE() << image << " first difference at " << px << "," << py << ": ours " << +c.r << " " << +c.g << " "
                      << +c.b << " " << +c.a << ", ffmpeg over black " << +b[0] << " " << +b[1] << " " << +b[2]
                      << ", over white " << +w[0] << " " << +w[1] << " " << +w[2];
        ++bad;
      }
    }
  EXPECT_EQ(bad, 0) << image;
  EXPECT_GT(opaque, indexed->width * indexed->height / 3) << image;
  if (compareWithSource) {
    EXPECT_GT(clear, 0) << image;
  }
}

}  // namespace

TEST(GraphicsInterop, IndexedPngWithTransparencyDrawnByFfmpeg) {
  CheckDrawnByFfmpeg("indexed_trns.png", 101, 57, true);
}

TEST(GraphicsInterop, QuantizedPhotographDrawnByFfmpeg) { CheckDrawnByFfmpeg("photo.jpg", 300, 400, false); }

// On HD video the palette is BT.709: ffmpeg shows the picture's own
// colours, saturated ones included.
TEST(GraphicsInterop, HdSubtitleColoursDrawnByFfmpegAsInThePicture) {
  CheckDrawnByFfmpeg("indexed_trns.png", 1201, 657, true, kHd);
  CheckDrawnByFfmpeg("exact200.png", 64, 900, true, kHd);
}

#include "platform/image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>
#include <png.h>
#include <zlib.h>

#include "platform/file.h"

namespace zv {

void CPicture::Allocate(int w, int h, PixelFormat f) {
  width = w;
  height = h;
  format = f;
  pixels.assign(static_cast<size_t>(w) * static_cast<size_t>(h) * BytesPerPixel(f), 0);
  table.clear();
  tableHasAlpha = false;
  transparentIndex = -1;
}

SColor CPicture::At(int x, int y) const {
  const uint8_t* p = Row(y) + static_cast<size_t>(x) * BytesPerPixel(format);
  switch (format) {
    case PixelFormat::Indexed8:
      if (p[0] < table.size()) return table[p[0]];
      return SColor{0, 0, 0, 0};
    case PixelFormat::Rgb24:
      return SColor{p[0], p[1], p[2], 255};
    case PixelFormat::Argb32:
      return SColor{p[1], p[2], p[3], p[0]};
  }
  return {};
}

namespace {

bool SizeOk(uint64_t w, uint64_t h, std::string& error) {
  if (w == 0 || h == 0 || w > kMaxPictureSide || h > kMaxPictureSide || w * h > kMaxPictureArea) {
    error = "picture size " + std::to_string(w) + "x" + std::to_string(h) + " is out of range";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- PNG

struct PngSource {
  const uint8_t* p;
  size_t n;
  size_t pos;
};

struct PngErr {
  char text[200];
};

void PngRead(png_structp png, png_bytep dst, png_size_t len) {
  auto* s = static_cast<PngSource*>(png_get_io_ptr(png));
  if (len > s->n - s->pos) png_error(png, "file is truncated");
  std::memcpy(dst, s->p + s->pos, len);
  s->pos += len;
}

void PngError(png_structp png, png_const_charp msg) {
  auto* e = static_cast<PngErr*>(png_get_error_ptr(png));
  std::snprintf(e->text, sizeof e->text, "%s", msg);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Frees the read structures on every way out, including the longjmp one.
struct PngReadGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngReadGuard() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

}  // namespace

bool DecodePng(const uint8_t* data, size_t n, CPicture& out, std::string& error) {
  PngErr err{};
  PngSource src{data, n, 0};
  PngReadGuard g;
  std::vector<png_bytep> rows;
  std::vector<uint8_t> rgba;
  if (n < 8 || png_sig_cmp(data, 0, 8) != 0) {
    error = "not a PNG file";
    return false;
  }
  g.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  if (!g.png) {
    error = "out of memory";
    return false;
  }
  g.info = png_create_info_struct(g.png);
  if (!g.info) {
    error = "out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(g.png))) {
    error = std::string("PNG: ") + err.text;
    return false;
  }
  png_set_read_fn(g.png, &src, PngRead);
  png_set_user_limits(g.png, kMaxPictureSide, kMaxPictureSide);
  png_read_info(g.png, g.info);
  png_uint_32 w = png_get_image_width(g.png, g.info);
  png_uint_32 h = png_get_image_height(g.png, g.info);
  if (!SizeOk(w, h, error)) return false;
  // Deflate packs at most about 1032 bytes into one: a header promising
  // more pixels than the file can hold is refused before allocating them.
  if (static_cast<uint64_t>(w) * h > static_cast<uint64_t>(n) * 1032 * 8) {
    error = "PNG: the file is too short for its picture size";
    return false;
  }
  int colorType = png_get_color_type(g.png, g.info);
  int depth = png_get_bit_depth(g.png, g.info);

  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    // Keep the indices and the colour table; tRNS gives the table alpha.
    if (depth < 8) png_set_packing(g.png);
    png_colorp plte = nullptr;
    int count = 0;
    png_get_PLTE(g.png, g.info, &plte, &count);
    png_bytep trns = nullptr;
    int ntrns = 0;
    png_color_16p trnsColor = nullptr;
    bool hasTrns = png_get_tRNS(g.png, g.info, &trns, &ntrns, &trnsColor) != 0;
    png_read_update_info(g.png, g.info);
    out.Allocate(static_cast<int>(w), static_cast<int>(h), PixelFormat::Indexed8);
    out.table.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      out.table[i] = SColor{plte[i].red, plte[i].green, plte[i].blue, 255};
      if (hasTrns && i < ntrns) out.table[i].a = trns[i];
    }
    out.tableHasAlpha = hasTrns;
    if (hasTrns)
      for (int i = 0; i < ntrns && i < count; ++i)
        if (trns[i] == 0) {
          out.transparentIndex = i;
          break;
        }
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.Row(static_cast<int>(y));
    png_read_image(g.png, rows.data());
    png_read_end(g.png, nullptr);
    return true;
  }

  if (depth == 16) png_set_scale_16(g.png);
  if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(g.png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(g.png);
  bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0;
  if (png_get_valid(g.png, g.info, PNG_INFO_tRNS)) {
    png_set_tRNS_to_alpha(g.png);
    alpha = true;
  }
  png_set_interlace_handling(g.png);
  png_read_update_info(g.png, g.info);
  size_t channels = png_get_channels(g.png, g.info);
  if (channels != (alpha ? 4u : 3u) || png_get_bit_depth(g.png, g.info) != 8) {
    error = "PNG: unsupported pixel layout";
    return false;
  }
  out.Allocate(static_cast<int>(w), static_cast<int>(h), alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = out.Row(static_cast<int>(y));
  png_read_image(g.png, rows.data());
  png_read_end(g.png, nullptr);
  if (alpha) {
    // Read as R, G, B, A; the picture keeps A first.
    for (auto it = out.pixels.begin(); it != out.pixels.end(); it += 4) {
      uint8_t a = it[3];
      it[3] = it[2];
      it[2] = it[1];
      it[1] = it[0];
      it[0] = a;
    }
  }
  return true;
}

namespace {

struct PngWriteGuard {
  png_structp png = nullptr;
  png_infop info = nullptr;
  ~PngWriteGuard() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

void PngWrite(png_structp png, png_bytep src, png_size_t len) {
  auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  v->insert(v->end(), src, src + len);
}
void PngFlush(png_structp) {}

}  // namespace

bool EncodePng(const CPicture& pic, std::vector<uint8_t>& out, std::string& error, bool fast) {
  if (!SizeOk(static_cast<uint64_t>(pic.width), static_cast<uint64_t>(pic.height), error)) return false;
  bool alpha = pic.format == PixelFormat::Argb32 || (pic.format == PixelFormat::Indexed8 && pic.tableHasAlpha);
  int channels = alpha ? 4 : 3;
  // Rows in the PNG's own order, filled before libpng is involved so a
  // longjmp never skips a destructor of something made after setjmp.
  std::vector<uint8_t> buf(static_cast<size_t>(pic.width) * pic.height * channels);
  if (pic.format == PixelFormat::Argb32) {
    // A, R, G, B in memory to R, G, B, A, without a look-up per pixel.
    const uint8_t* s = pic.pixels.data();
    uint8_t* d = buf.data();
    for (size_t i = 0, n = static_cast<size_t>(pic.width) * pic.height; i < n; ++i, s += 4, d += 4) {
      d[0] = s[1];
      d[1] = s[2];
      d[2] = s[3];
      d[3] = s[0];
    }
  }
  for (int y = 0; y < pic.height && pic.format != PixelFormat::Argb32; ++y)
    for (int x = 0; x < pic.width; ++x) {
      SColor c = pic.At(x, y);
      uint8_t* d = buf.data() + (static_cast<size_t>(y) * pic.width + x) * channels;
      d[0] = c.r;
      d[1] = c.g;
      d[2] = c.b;
      if (alpha) d[3] = c.a;
    }
  std::vector<png_bytep> rows(static_cast<size_t>(pic.height));
  for (int y = 0; y < pic.height; ++y) rows[y] = buf.data() + static_cast<size_t>(y) * pic.width * channels;
  out.clear();
  PngErr err{};
  PngWriteGuard g;
  g.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &err, PngError, PngWarning);
  if (!g.png) {
    error = "out of memory";
    return false;
  }
  g.info = png_create_info_struct(g.png);
  if (!g.info) {
    error = "out of memory";
    return false;
  }
  if (setjmp(png_jmpbuf(g.png))) {
    error = std::string("PNG: ") + err.text;
    return false;
  }
  png_set_write_fn(g.png, &out, PngWrite, PngFlush);
  if (fast) {
    // Drawn pictures are mostly flat areas: runs and one filter compress
    // them well at a fraction of the default effort.
    png_set_compression_level(g.png, 1);
    png_set_compression_strategy(g.png, Z_RLE);
    png_set_filter(g.png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  }
  png_set_IHDR(g.png, g.info, static_cast<png_uint_32>(pic.width), static_cast<png_uint_32>(pic.height), 8,
               alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(g.png, g.info);
  png_write_image(g.png, rows.data());
  png_write_end(g.png, nullptr);
  return true;
}

bool WritePngFile(const std::string& path, const CPicture& pic, std::string& error, bool fast) {
  std::vector<uint8_t> bytes;
  if (!EncodePng(pic, bytes, error, fast)) return false;
  return WriteWholeFile(path, bytes.data(), bytes.size(), error);
}

// ---------------------------------------------------------------- JPEG

namespace {

struct JpegErr {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
  bool truncated;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->text);
  std::longjmp(e->jump, 1);
}
// libjpeg pads a cut-off file with grey and only warns; a cut-off picture is
// refused instead.
void JpegMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegErr*>(cinfo->err);
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) e->truncated = true;
}

struct JpegGuard {
  jpeg_decompress_struct cinfo{};
  bool made = false;
  ~JpegGuard() {
    if (made) jpeg_destroy_decompress(&cinfo);
  }
};

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t n, CPicture& out, std::string& error) {
  if (n < 3 || data[0] != 0xFF || data[1] != 0xD8) {
    error = "not a JPEG file";
    return false;
  }
  JpegErr err{};
  JpegGuard g;
  g.cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegErrorExit;
  err.mgr.emit_message = JpegMessage;
  if (setjmp(err.jump)) {
    error = std::string("JPEG: ") + err.text;
    return false;
  }
  jpeg_create_decompress(&g.cinfo);
  g.made = true;
  jpeg_mem_src(&g.cinfo, data, static_cast<unsigned long>(n));
  jpeg_read_header(&g.cinfo, TRUE);
  if (g.cinfo.jpeg_color_space == JCS_CMYK || g.cinfo.jpeg_color_space == JCS_YCCK) {
    std::snprintf(err.text, sizeof err.text, "CMYK pictures are not supported");
    std::longjmp(err.jump, 1);
  }
  // A JPEG takes at least a bit or so per 8 x 8 block of each component.
  if (g.cinfo.image_width == 0 || g.cinfo.image_height == 0 || g.cinfo.image_width > kMaxPictureSide ||
      g.cinfo.image_height > kMaxPictureSide ||
      static_cast<uint64_t>(g.cinfo.image_width) * g.cinfo.image_height > static_cast<uint64_t>(n) * 64 * 64) {
    std::snprintf(err.text, sizeof err.text, "picture size %ux%u is out of range", g.cinfo.image_width,
                  g.cinfo.image_height);
    std::longjmp(err.jump, 1);
  }
  g.cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&g.cinfo);
  out.Allocate(static_cast<int>(g.cinfo.output_width), static_cast<int>(g.cinfo.output_height),
               PixelFormat::Rgb24);
  while (g.cinfo.output_scanline < g.cinfo.output_height) {
    JSAMPROW row = out.Row(static_cast<int>(g.cinfo.output_scanline));
    jpeg_read_scanlines(&g.cinfo, &row, 1);
  }
  if (!err.truncated) jpeg_finish_decompress(&g.cinfo);
  if (err.truncated) {
    error = "JPEG: file is truncated";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- GIF

namespace {

struct GifSource {
  const uint8_t* p;
  size_t n;
  size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* dst, int len) {
  auto* s = static_cast<GifSource*>(gif->UserData);
  size_t want = len < 0 ? 0 : static_cast<size_t>(len);
  size_t take = std::min(want, s->n - s->pos);
  std::memcpy(dst, s->p + s->pos, take);
  s->pos += take;
  return static_cast<int>(take);
}

std::string GifError(int code) {
  const char* s = GifErrorString(code);
  return std::string("GIF: ") + (s ? s : "the file is damaged");
}

struct GifGuard {
  GifFileType* gif = nullptr;
  ~GifGuard() {
    int e = 0;
    if (gif) DGifCloseFile(gif, &e);
  }
};

}  // namespace

bool DecodeGif(const uint8_t* data, size_t n, CPicture& out, std::string& error) {
  if (n < 6 || std::memcmp(data, "GIF", 3) != 0) {
    error = "not a GIF file";
    return false;
  }
  GifSource src{data, n, 0};
  int code = 0;
  GifGuard g;
  g.gif = DGifOpen(&src, GifRead, &code);
  if (!g.gif) {
    error = GifError(code);
    return false;
  }
  if (!SizeOk(static_cast<uint64_t>(g.gif->SWidth), static_cast<uint64_t>(g.gif->SHeight), error)) return false;
  if (DGifSlurp(g.gif) != GIF_OK) {
    error = GifError(g.gif->Error);
    return false;
  }
  if (g.gif->ImageCount < 1 || !g.gif->SavedImages[0].RasterBits) {
    error = "GIF: the file holds no picture";
    return false;
  }
  const SavedImage& frame = g.gif->SavedImages[0];
  const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : g.gif->SColorMap;
  if (!map || map->ColorCount <= 0) {
    error = "GIF: the picture has no colour table";
    return false;
  }
  GraphicsControlBlock gcb{};
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  DGifSavedExtensionToGCB(g.gif, 0, &gcb);

  out.Allocate(g.gif->SWidth, g.gif->SHeight, PixelFormat::Indexed8);
  out.table.resize(static_cast<size_t>(map->ColorCount));
  for (int i = 0; i < map->ColorCount; ++i)
    out.table[i] = SColor{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue, 255};
  if (gcb.TransparentColor >= 0 && gcb.TransparentColor < map->ColorCount) {
    out.transparentIndex = gcb.TransparentColor;
    out.table[gcb.TransparentColor].a = 0;
    out.tableHasAlpha = true;
  }
  // The area outside the first frame shows the background (transparent when
  // the frame declares a transparent index).
  uint8_t fill = static_cast<uint8_t>(out.transparentIndex >= 0 ? out.transparentIndex : g.gif->SBackGroundColor);
  std::fill(out.pixels.begin(), out.pixels.end(), fill);
  const GifImageDesc& d = frame.ImageDesc;
  for (int y = 0; y < d.Height; ++y) {
    int py = d.Top + y;
    if (py < 0 || py >= out.height) continue;
    for (int x = 0; x < d.Width; ++x) {
      int px = d.Left + x;
      if (px < 0 || px >= out.width) continue;
      uint8_t v = frame.RasterBits[static_cast<size_t>(y) * d.Width + x];
      out.Row(py)[px] = v;
    }
  }
  return true;
}

// ---------------------------------------------------------------- BMP

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// The value of `mask` in `v`, scaled to 8 bits.
uint8_t MaskValue(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1)) ++shift;
  uint32_t m = mask >> shift;
  uint32_t x = (v >> shift) & m;
  return static_cast<uint8_t>((x * 255 + m / 2) / m);
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t n, CPicture& out, std::string& error) {
  auto fail = [&](const char* what) {
    error = std::string("BMP: ") + what;
    return false;
  };
  if (n < 14 + 16 || data[0] != 'B' || data[1] != 'M') return fail("not a BMP file");
  uint32_t offset = Le32(data + 10);
  uint32_t hdr = Le32(data + 14);
  if (hdr < 40 || hdr > n - 14) return fail("unsupported or truncated header");
  const uint8_t* h = data + 14;
  int32_t w = static_cast<int32_t>(Le32(h + 4));
  int32_t hh = static_cast<int32_t>(Le32(h + 8));
  uint16_t bpp = Le16(h + 14);
  uint32_t compression = Le32(h + 16);
  uint32_t clrUsed = Le32(h + 32);
  bool topDown = hh < 0;
  int64_t height = topDown ? -static_cast<int64_t>(hh) : hh;
  if (w <= 0 || !SizeOk(static_cast<uint64_t>(w), static_cast<uint64_t>(height), error)) return false;
  const bool rle = (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4);
  if (compression != 0 && compression != 3 && !rle) return fail("this compression is not supported");
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) return fail("unsupported bit depth");
  if (compression == 3 && bpp != 32) return fail("bit-field masks are supported for 32-bit pictures only");

  uint32_t rmask = 0x00FF0000, gmask = 0x0000FF00, bmask = 0x000000FF, amask = 0;
  size_t afterHeader = 14 + static_cast<size_t>(hdr);
  if (compression == 3) {
    // Masks sit in the larger headers, or follow a 40-byte header.
    const uint8_t* m = hdr >= 52 ? h + 40 : data + afterHeader;
    if (hdr < 52) {
      if (n < afterHeader + 12) return fail("truncated bit-field masks");
      afterHeader += 12;
    }
    rmask = Le32(m);
    gmask = Le32(m + 4);
    bmask = Le32(m + 8);
    if (hdr >= 56) amask = Le32(h + 52);
  }

  size_t stride = ((static_cast<size_t>(w) * bpp + 31) / 32) * 4;
  if (offset > n || (!rle && stride * static_cast<size_t>(height) > n - offset)) return fail("truncated pixel data");

  if (bpp <= 8) {
    size_t entries = clrUsed ? clrUsed : (1u << bpp);
    if (entries > 256) return fail("colour table too large");
    if (afterHeader + entries * 4 > offset) return fail("truncated colour table");
    out.Allocate(w, static_cast<int>(height), PixelFormat::Indexed8);
    out.table.resize(entries);
    for (size_t i = 0; i < entries; ++i) {
      const uint8_t* q = data + afterHeader + i * 4;
      out.table[i] = SColor{q[2], q[1], q[0], 255};
    }
    if (rle) {
      if (topDown) return fail("a run-length coded picture must be stored bottom-up");
      // Runs of one index (two alternating ones at 4 bits), escapes for
      // the line's end, the picture's end, a jump and literal pixels;
      // pixels no run reaches keep index 0.
      std::fill(out.pixels.begin(), out.pixels.end(), uint8_t{0});
      size_t at = offset;
      int64_t x = 0, y = height - 1;
      auto put = [&](uint8_t v) {
        if (v >= entries) return false;
        if (x < w && y >= 0) out.Row(static_cast<int>(y))[x] = v;
        ++x;
        return true;
      };
      for (;;) {
        if (at + 2 > n) return fail("truncated pixel data");
        const uint8_t count = data[at], value = data[at + 1];
        at += 2;
        if (count) {
          for (int i = 0; i < count; ++i)
            if (!put(bpp == 8 ? value : (i & 1) ? (value & 0x0F) : (value >> 4)))
              return fail("pixel index beyond the colour table");
        } else if (value == 0) {
          x = 0, --y;
        } else if (value == 1) {
          break;
        } else if (value == 2) {
          if (at + 2 > n) return fail("truncated pixel data");
          x += data[at], y -= data[at + 1];
          at += 2;
        } else {
          const size_t bytes = bpp == 8 ? value : (value + 1u) / 2;
          if (at + bytes > n) return fail("truncated pixel data");
          for (int i = 0; i < value; ++i)
            if (!put(bpp == 8 ? data[at + i] : (i & 1) ? (data[at + i / 2] & 0x0F) : (data[at + i / 2] >> 4)))
              return fail("pixel index beyond the colour table");
          at += bytes + (bytes & 1);
        }
        if (y < 0) break;
      }
      return true;
    }
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* src = data + offset + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
      uint8_t* dst = out.Row(static_cast<int>(y));
      for (int x = 0; x < w; ++x) {
        uint8_t v;
        if (bpp == 8) v = src[x];
        else if (bpp == 4) v = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
        else v = (src[x / 8] >> (7 - (x & 7))) & 1;
        if (v >= entries) return fail("pixel index beyond the colour table");
        dst[x] = v;
      }
    }
    return true;
  }

  bool alpha = bpp == 32 && amask != 0;
  out.Allocate(w, static_cast<int>(height), alpha ? PixelFormat::Argb32 : PixelFormat::Rgb24);
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* src = data + offset + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
    uint8_t* dst = out.Row(static_cast<int>(y));
    for (int x = 0; x < w; ++x) {
      if (bpp == 24) {
        const uint8_t* p = src + static_cast<size_t>(x) * 3;
        dst[x * 3] = p[2];
        dst[x * 3 + 1] = p[1];
        dst[x * 3 + 2] = p[0];
        continue;
      }
      uint32_t v = Le32(src + static_cast<size_t>(x) * 4);
      uint8_t r = MaskValue(v, rmask), gg = MaskValue(v, gmask), b = MaskValue(v, bmask);
      if (alpha) {
        uint8_t* d = dst + static_cast<size_t>(x) * 4;
        d[0] = MaskValue(v, amask);
        d[1] = r;
        d[2] = gg;
        d[3] = b;
      } else {
        uint8_t* d = dst + static_cast<size_t>(x) * 3;
        d[0] = r;
        d[1] = gg;
        d[2] = b;
      }
    }
  }
  return true;
}

bool DecodeImage(const uint8_t* data, size_t n, CPicture& out, std::string& error) {
  if (n >= 8 && png_sig_cmp(data, 0, 8) == 0) return DecodePng(data, n, out, error);
  if (n >= 3 && data[0] == 0xFF && data[1] == 0xD8) return DecodeJpeg(data, n, out, error);
  if (n >= 6 && std::memcmp(data, "GIF", 3) == 0) return DecodeGif(data, n, out, error);
  if (n >= 2 && data[0] == 'B' && data[1] == 'M') return DecodeBmp(data, n, out, error);
  error = "unsupported picture format";
  return false;
}

bool DecodeImageFile(const std::string& path, CPicture& out, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes, error)) return false;
  if (!DecodeImage(bytes.data(), bytes.size(), out, error)) {
    error = "\"" + path + "\": " + error;
    return false;
  }
  return true;
}

}  // namespace zv

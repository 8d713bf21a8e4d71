// The platform's picture: decoding PNG, JPEG, GIF and BMP files (or bytes)
// into one picture type, and writing PNG. Decoders take untrusted input and
// return false with a message instead of throwing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zv {

enum class PixelFormat : uint8_t {
  Indexed8,  // one byte per pixel into the colour table
  Rgb24,     // R, G, B per pixel
  Argb32,    // A, R, G, B per pixel (alpha 0 transparent .. 255 opaque)
};

struct SColor {
  uint8_t r = 0, g = 0, b = 0, a = 255;
  bool operator==(const SColor&) const = default;
};

struct CPicture {
  int width = 0;
  int height = 0;
  PixelFormat format = PixelFormat::Rgb24;
  std::vector<uint8_t> pixels;  // rows top to bottom, no padding
  std::vector<SColor> table;    // Indexed8 only
  bool tableHasAlpha = false;   // the table's alpha values carry meaning
  int transparentIndex = -1;    // the index a GIF or PNG declares transparent

  static int BytesPerPixel(PixelFormat f) { return f == PixelFormat::Indexed8 ? 1 : f == PixelFormat::Rgb24 ? 3 : 4; }
  size_t Stride() const { return static_cast<size_t>(width) * BytesPerPixel(format); }
  void Allocate(int w, int h, PixelFormat f);
  // The colour of one pixel whatever the format (an index outside the table
  // reads as transparent black).
  SColor At(int x, int y) const;
  const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * Stride(); }
  uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * Stride(); }
};

// Largest picture accepted by the decoders (a crafted header must not make
// them allocate gigabytes).
inline constexpr int kMaxPictureSide = 16384;
inline constexpr uint64_t kMaxPictureArea = uint64_t{8192} * 8192;

bool DecodePng(const uint8_t* data, size_t n, CPicture& out, std::string& error);
bool DecodeJpeg(const uint8_t* data, size_t n, CPicture& out, std::string& error);
bool DecodeGif(const uint8_t* data, size_t n, CPicture& out, std::string& error);
bool DecodeBmp(const uint8_t* data, size_t n, CPicture& out, std::string& error);
// Chooses the decoder by the content's signature.
bool DecodeImage(const uint8_t* data, size_t n, CPicture& out, std::string& error);
bool DecodeImageFile(const std::string& path, CPicture& out, std::string& error);

// Writes 8-bit RGBA for Argb32 pictures and indexed pictures whose table
// carries alpha, 8-bit RGB otherwise.
// `fast` trades a larger file for far less time (pictures made in bulk).
bool EncodePng(const CPicture& pic, std::vector<uint8_t>& out, std::string& error, bool fast = false);
bool WritePngFile(const std::string& path, const CPicture& pic, std::string& error, bool fast = false);

}  // namespace zv

// Run-length coded graphic objects, their fragments, and the palettes that
// go with them (RGB entries for pictures, YCrCb for palette segments).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <optional>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/segments.h"
#include "platform/image.h"

namespace zv {

inline constexpr size_t kMaxFragment = 65515;
inline constexpr int kMaxRunLength = 16383;
inline constexpr int kMaxObjectSide = 4096;

// Worst case of one coded line: three bytes per two pixels, plus the
// end-of-line code.
inline size_t MaxCodedLine(int width) { return (static_cast<size_t>(width) * 3 + 1) / 2 + 2; }

// Codes one line of palette indices; returns the bytes written to `out`
// (at least MaxCodedLine(width)) including the end-of-line code.
size_t EncodeLine(uint8_t* out, const uint8_t* pixels, int width);
// Decodes one line from at most `n` bytes; pixels past `width` are dropped.
// Returns the bytes consumed including the end-of-line code, or 0 when the
// line is cut off. `decoded` receives the pixel count of the line.
size_t DecodeLine(const uint8_t* in, size_t n, uint8_t* out, int width, size_t* decoded = nullptr);

// Object data: 24-bit length of what follows, width, height, coded lines.
// The picture must be 8-bit indexed; empty when it is not or its coded
// data is too long for the length field.
std::vector<uint8_t> EncodeObject(const CPicture& indexed);

struct SDecodedObject {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // preset to 255 where lines are short
};
// Nothing unless `n` is the stored length + 3, the size is at most 4096 a
// side and every line decodes.
std::optional<SDecodedObject> DecodeObject(const uint8_t* data, size_t n);

// Appends the ODS fragments of one object to `ods`.
void FragmentObject(const uint8_t* data, size_t n, uint16_t objectId, std::vector<std::unique_ptr<COds>>& ods);
// The object data of `objectId` joined from its fragments (first to last),
// or nothing when the fragments are missing or out of order.
std::optional<std::vector<uint8_t>> JoinFragments(const std::vector<std::unique_ptr<COds>>& ods, size_t& at);

// Compiles one graphic object into the display set's ODS fragments with the
// object's id, logging "PREFIX NAME..." and, on failure, "PREFIX Error:..."
// lines through `log`. False when the object is empty or cannot be decoded.
// With `palette` (the palette of the page that shows the object) every
// pixel is coded as the index of its nearest entry, so that the player,
// which draws the object with that palette, shows the picture's colours;
// without it the object is coded with its own colour table.
bool CompileGraphicObject(const CGraphicObject& g, const std::string& prefix,
                          const std::function<void(const std::string&)>& log, CDsData& ds,
                          const CErgbPalette* palette = nullptr);
// The two halves of CompileGraphicObject, so that several objects can be
// coded at once and then added in order: the coded picture (empty when the
// object is empty or its picture cannot be decoded or coded), which touches
// nothing shared; and the log lines and object segments of that result.
class CPaletteMapper;
std::vector<uint8_t> CodeGraphicObject(const CGraphicObject& g, const CErgbPalette* palette,
                                       CPaletteMapper* mapper = nullptr);
bool AddCodedObject(const CGraphicObject& g, const std::string& prefix,
                    const std::function<void(const std::string&)>& log, CDsData& ds,
                    const std::vector<uint8_t>& data);
// The picture as indices of `palette`: each colour its nearest entry (red,
// green, blue and alpha alike); nearly transparent pixels take an entry with
// alpha 0, or index 255, which no palette defines and players draw
// transparent.
CPicture MapToPalette(const CPicture& pic, const CErgbPalette& palette);

// MapToPalette for many pictures of one palette: the nearest-entry cells
// found for one picture serve the next (a page's pictures share most of
// their colours). One thread at a time; `CodeGraphicObject` uses it for
// the palette it was made for.
class CNearestPoint;
class CPaletteMapper {
 public:
  explicit CPaletteMapper(const CErgbPalette& palette);
  ~CPaletteMapper();
  CPaletteMapper(const CPaletteMapper&) = delete;
  CPaletteMapper& operator=(const CPaletteMapper&) = delete;
  const CErgbPalette& Palette() const { return *palette_; }
  CPicture Map(const CPicture& pic);

 private:
  const CErgbPalette* palette_;
  std::vector<SColor> table_;
  std::vector<uint8_t> indexOf_;
  int transparent_ = 255;
  std::unique_ptr<CNearestPoint> nearest_;
};

// Players read the palettes of graphics on HD video (more than 576 lines)
// as BT.709 and those on SD video as BT.601; both in studio range.
enum class ColorMatrix : uint8_t { Bt601, Bt709 };
inline ColorMatrix ColorMatrixForHeight(int videoHeight) {
  return videoHeight > 576 ? ColorMatrix::Bt709 : ColorMatrix::Bt601;
}

// Rounded to the nearest level both ways, so that YCrCb -> RGB -> YCrCb
// gives back the values it started from (but where RGB clips).
SPaletteEntry RgbToYCrCb(uint8_t index, uint8_t r, uint8_t g, uint8_t b, uint8_t a,
                         ColorMatrix m = ColorMatrix::Bt601);
SColor YCrCbToRgb(const SPaletteEntry& e, ColorMatrix m = ColorMatrix::Bt601);
void PaletteToPds(CPds& pds, const CErgbPalette& palette, ColorMatrix m = ColorMatrix::Bt601);
// 256 colours (undefined entries transparent black) at their entry ids.
std::vector<SColor> PdsToPalette(const CPds& pds, ColorMatrix m = ColorMatrix::Bt601);
// Fills a picture's colour table; false when an entry id is beyond it.
bool PdsToPalette(const CPds& pds, CPicture& pic, ColorMatrix m = ColorMatrix::Bt601);

}  // namespace zv

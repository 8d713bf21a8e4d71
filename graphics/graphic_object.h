// Graphic objects and palettes of a menu epoch, and the conversion of any
// picture into an 8-bit indexed one with its palette.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "named/containers.h"
#include "platform/image.h"

namespace zv {

// One palette entry as the project file stores it (5 bytes).
struct ERGBQUAD {
  static constexpr size_t kSize = 5;
  uint8_t index = 0;
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t alpha = 255;  // 0 transparent .. 255 opaque

  void Serialize(CArchive& ar);
  bool operator==(const ERGBQUAD&) const = default;
};

// At most 255 entries (indices 0..254), held in index order.
class CErgbPalette : public CTypeArray<ERGBQUAD> {
 public:
  static constexpr size_t kMaxEntries = 255;
  CErgbPalette() : CTypeArray<ERGBQUAD>() {}

  uint8_t m_nTransparentIndex = 255;

  void Clear() {
    m_records.clear();
    m_nTransparentIndex = 255;
  }
  void Serialize(CArchive& ar) override;
  void Copy(const CTypeArray<ERGBQUAD>& src) override;
};

class CPoFolder : public CNamedPtrArray<CErgbPalette> {
 public:
  CPoFolder() { SetName("Palettes"); }
  // A new palette named "Palettte#N" after the N palettes already present,
  // with an id no other palette of the folder has.
  CErgbPalette* AddPalette();
};

// A graphic of the epoch; the project file keeps only its image path.
class CGraphicObject : public CNamedObject {
  ZV_DECLARE_DYNCREATE(CGraphicObject)

 public:
  CGraphicObject() : CNamedObject("Graphic") {}
  std::string m_strPath;                    // absolute; empty for an in-memory picture
  std::unique_ptr<CErgbPalette> m_palette;  // made on demand
  std::unique_ptr<CPicture> m_picture;      // an in-memory picture (PSD import)
  int m_nWidth = 0;
  int m_nHeight = 0;

  CErgbPalette& Palette();
  // False when `path` is the current one (letter case ignored) or cannot be
  // decoded; an empty path clears size and palette.
  // `why`, when given, receives the reason a file cannot be used: that it
  // is missing, or what its decoder found (truncated, an unsupported kind).
  bool SetImageFile(const std::string& path, std::string* why = nullptr);
  // The picture to compile: the in-memory one, else the decoded file.
  bool LoadPicture(CPicture& out, std::string& error) const;

  void Serialize(CArchive& ar) override;
  void CopyFrom(const CNamedObject& src) override;
};

class CGoFolder : public CNamedFolder<CGraphicObject, CGoFolder> {
  ZV_DECLARE_DYNCREATE(CGoFolder)

 public:
  CGoFolder() { SetName("Graphics"); }
};

// ----------------------------------------------------------------------
// Conversion to indexed pictures.

// Position (x, y) of the corner whose colour stands for the background.
std::pair<int, int> TransparentReferencePixel(const CPicture& pic);

// An 8-bit indexed picture with its colour table (at most 256 entries, alpha
// meaningful), or nothing when the picture is empty. An indexed picture is
// returned unchanged.
std::optional<CPicture> ToIndexedImage(const CPicture& pic);

// The two-pass median-cut quantizer with Floyd-Steinberg diffusion, to at
// most `colors` entries. An Argb32 source sends pixels of alpha below 5 to
// one extra entry of alpha 0.
CPicture QuantizeMedianCut(const CPicture& pic, int colors);

// True when some pixel (or colour-table entry) is neither opaque nor
// invisible (alpha 5 to 254).
bool HasPartialAlpha(const CPicture& pic);
// Colour and alpha quantized together (median cut in premultiplied RGBA) to
// at most `colors` entries, pixels of alpha below 5 sharing one more entry
// of alpha 0; for pictures with soft edges or shadows.
CPicture QuantizeWithAlpha(const CPicture& pic, int colors);
// The same quantizer over a list of pixels: at most `colors` entries, all
// visible; `index` receives each pixel's entry, or the table's size for a
// pixel of alpha below 5.
std::vector<SColor> QuantizeColoursWithAlpha(const std::vector<SColor>& pixels, int colors, std::vector<uint8_t>& index);

// Fills `palette` from the indexed form of `pic`; returns the entry count.
int PaletteFromImage(CErgbPalette& palette, double opacity, const CPicture& pic);
// The same rules from a colour table, with the top-left pixel's index.
int PaletteFromTable(CErgbPalette& palette, double opacity, const std::vector<SColor>& table, bool hasAlpha,
                     int topLeftIndex);

// The automatic palette of a page from the pictures its buttons use:
// nothing when there are none or one cannot be converted. With `base`, the
// palette keeps base's entries at their indexes and the pictures' colours
// take the entries it leaves free, so that a picture coded with `base` is
// drawn alike with both.
std::unique_ptr<CErgbPalette> BuildPagePalette(const std::vector<const CGraphicObject*>& graphics,
                                               const CErgbPalette* base = nullptr);

}  // namespace zv

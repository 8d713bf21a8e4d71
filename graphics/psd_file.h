// Reading layered Photoshop documents (PSD) as far as menu designs need
// them: the header, colour table, image resources, layer records with their
// group structure, and each layer's channels decoded to 8-bit samples and
// rendered to a picture. The reader takes untrusted input: every count and
// length is checked against the data before anything is allocated.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "graphics/effects.h"
#include "platform/image.h"
#include "platform/progress.h"

namespace zv {

enum PsdColourMode : uint16_t {
  kPsdBitmap = 0,
  kPsdGrayscale = 1,
  kPsdIndexed = 2,
  kPsdRgb = 3,
  kPsdCmyk = 4,
  kPsdMultichannel = 7,
  kPsdDuotone = 8,
  kPsdLab = 9,
};

// The section type of a layer, from its "lsct" block.
enum PsdSectionType : int32_t { kPsdNormalLayer = 0, kPsdOpenGroup = 1, kPsdClosedGroup = 2, kPsdGroupEnd = 3 };

// Channel ids below 0.
inline constexpr int16_t kPsdAlphaChannel = -1;
inline constexpr int16_t kPsdUserMaskChannel = -2;
inline constexpr int16_t kPsdRealUserMaskChannel = -3;

// The document format caps both sides at 30000 pixels.
inline constexpr uint32_t kPsdMaxSide = 30000;

struct SPsdHeader {
  static constexpr size_t kSize = 26;
  std::string m_signature;  // "8BPS"
  uint16_t m_nVersion = 1;
  uint16_t m_nChannels = 0;
  uint32_t m_nHeight = 0;
  uint32_t m_nWidth = 0;
  uint16_t m_nDepth = 8;  // bits per sample: 1, 8, 16 or 32
  uint16_t m_nColourMode = kPsdRgb;
};

struct CImageResource {
  std::string m_signature;  // "8BIM"
  uint16_t m_nId = 0;
  std::string m_strName;
  std::vector<uint8_t> m_data;
};
using CImageResourceSet = std::vector<CImageResource>;

struct CChannelData {
  int16_t m_nId = 0;
  uint32_t m_nLength = 0;      // stored length, compression code included
  std::vector<uint8_t> m_raw;  // the stored bytes, compression code included
  // Filled by DecodeChannels: one 8-bit sample per pixel of the channel's
  // rectangle (the mask rectangle for the user-mask channels).
  std::vector<uint8_t> m_pixels;
  int m_nWidth = 0;
  int m_nHeight = 0;
};

struct SPsdLayerMask {
  uint32_t m_nLength = 0;  // 0, 20 or 36
  SRect m_rect;
  uint8_t m_nDefaultColour = 0;
  uint8_t m_nFlags = 0;
  // The 36-byte form adds the real user mask.
  uint8_t m_nRealFlags = 0;
  uint8_t m_nRealDefaultColour = 0;
  SRect m_realRect;
};

class CLayerInfo : public std::vector<CChannelData> {
 public:
  SRect m_rect;                  // stored as top, left, bottom, right
  std::string m_blendSignature;  // "8BIM"
  std::string m_blendKey;        // "norm", ...
  uint8_t m_nOpacity = 255;
  uint8_t m_nClipping = 0;
  uint8_t m_nFlags = 0;
  SPsdLayerMask m_mask;
  std::vector<uint32_t> m_blendingRanges;
  std::string m_strName;
  int32_t m_nSectionType = kPsdNormalLayer;

  bool TransparencyProtected() const { return (m_nFlags & 1) != 0; }
  // Bit 1 set means the layer is hidden.
  bool Visible() const { return (m_nFlags & 2) == 0; }
  bool IsGroup() const { return m_nSectionType == kPsdOpenGroup || m_nSectionType == kPsdClosedGroup; }
  const CChannelData* Channel(int16_t id) const;
  // The rectangle a channel's samples cover.
  SRect ChannelRect(int16_t id) const;
};
using CLayerSet = std::vector<CLayerInfo>;

struct CPsdFile {
  SPsdHeader m_header;
  std::vector<uint8_t> m_colourData;  // 768 bytes for indexed documents
  CImageResourceSet m_resources;
  CLayerSet m_layers;             // bottom layer first
  bool m_bMergedTransparency = false;  // a negative layer count was stored
  std::vector<uint8_t> m_rest;    // everything after the layer section
};

// kOk, or kFailed on any format error or short data; `detail` then says
// where the data went wrong.
int ParsePsd(const uint8_t* data, size_t n, CPsdFile& out, std::string* detail = nullptr);
// kOk; kFailed with `fileError` set when the file cannot be read, or with
// `fileError` empty (and `detail` set) when it is not a document we read.
int ParsePsdFile(const std::string& path, CPsdFile& out, std::string& fileError, std::string* detail = nullptr);

// Decodes every channel of the layer (raw or PackBits) to 8-bit samples:
// depth 1 gives 0 for a set bit and 1 for a clear one, depth 16 and 32 are
// scaled down. False when a channel's data is corrupt or too large.
bool DecodeChannels(const SPsdHeader& header, CLayerInfo& layer);
// Frees the decoded samples again.
void ReleaseChannels(CLayerInfo& layer);

// One row of PackBits data into `out` (`width` bytes); what the input
// leaves unfilled is 0.
void UnpackBitsRow(const uint8_t* in, size_t n, uint8_t* out, size_t width);

// The layer's decoded channels as a picture of the layer rectangle's size:
// Argb32 when the layer has a transparency channel, else Rgb24. Nothing for
// an empty rectangle, an unknown colour mode or channels not decoded.
std::optional<CPicture> LayerImage(const CPsdFile& psd, const CLayerInfo& layer);

// Kinds of layer names.
enum PsdLayerKind : int {
  kPsdKindNone = -1,
  kPsdKindGroupEnd = 0,
  kPsdKindNormal = 2,
  kPsdKindSelected = 3,
  kPsdKindActivated = 4,
  kPsdKindButton = 5,
  kPsdKindBog = 6,
  kPsdKindPage = 7,
  kPsdKindDisplaySet = 8,
  kPsdKindIg = 9,
};

struct SPsdLayerName {
  int kind = kPsdKindNone;
  SRect rect;
  std::string name;
};
// "KEY:NAME" with KEY one of B, BOG, P, DS, IG (letter case and blanks
// around the colon do not matter; "B:x:Play" names the button "Play"), a
// state layer whose key starts with N, S or A, or the group end marker.
SPsdLayerName ParseLayerName(const CLayerInfo& layer);
SPsdLayerName ParseLayerName(const std::string& layerName);

}  // namespace zv

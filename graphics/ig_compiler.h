// Compiling a menu model into an interactive-graphics stream: palettes,
// interactive composition segments, object segments and the END segment of
// every display set, with the decoder timing that gives each segment its
// PTS and DTS; reading such a stream back into display sets and epochs; and
// IG objects attached to stories.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/menu_model.h"
#include "graphics/segments.h"

namespace zv {

// ---- Parsed streams.

class CEpochData {
 public:
  std::vector<std::unique_ptr<CDsData>> m_displaySets;
};

class CGsData {
 public:
  std::vector<std::unique_ptr<CEpochData>> m_epochs;
  SVideoDescriptor m_video;  // of the first display set with a PCS or ICS
};

// Reads a whole stream (raw, or headed when `headed`) into epochs: an epoch
// starts with the first display set and with every later one in state
// "Epoch Start", and ends after a display set whose PCS shows nothing and
// that has no ICS. False with `error` on a bad segment.
bool ReadGsData(CSegmentInput& in, bool headed, CGsData& out, std::string& error);

// ---- Video formats.

inline constexpr int kVideoFormatCount = 14;
// "1920 x 1080, 23.976" and the like; nullptr outside 0..13.
const char* VideoFormatName(int index);
// Frame rate of a frame-rate code as numerator / denominator; false for
// codes without a rate (0, 5, 8 and above).
bool FrameRateOf(uint8_t code, uint32_t& num, uint32_t& den);

// ---- The pipeline, one display set at a time.

// Decoder timing of one display set, in 90 kHz ticks.
struct SDsTiming {
  int64_t frameDuration = 0;  // M
  int64_t decode = 0;         // D: objects needed before the first page shows
  int64_t drawBits = 0;       // S: the first page's buttons drawn, in bits
  int64_t duration = 0;       // L = D + drawing time
  int64_t composition = 0;    // N: presentation time of the ICS
  // Ticks each object's decoding waits, in stream order, for its coded
  // data to arrive in the coded-data buffer.
  std::vector<int64_t> objectWait;
  int64_t Start() const { return composition - duration; }  // A
};

// Compiles the display set `ds` of `epoch` of `ig` into `out` with the
// stream's time stamps, logging through `log` with the display set's
// prefix (empty at the top). False when an error stops compilation, the
// frame-rate code has no rate, or the log asks to stop.
bool CompileDisplaySet(CIgObject& ig, CEpoch& epoch, CDisplaySet& ds, const Progress& log, CDsData& out,
                       SDsTiming* timing = nullptr);

// Graphics and palettes of the epoch numbered from 0 in folder order.
void RenumberEpoch(CEpoch& epoch);
// Sizes of graphics loaded from a project (only their paths are stored).
void LoadGraphicSizes(CEpoch& epoch);

// Decoding time of an object of w x h pixels: ceil(w h 90000 8 / rate).
int64_t ObjectDecodeTicks(int64_t w, int64_t h, int64_t bitsPerSecond);

// The decoder the compiler fits menus to: objects decode at kIgObjectRate
// (presentation graphics at kGraphicsPlaneRate), and every object of a
// display set stays decoded, one byte a pixel, in kIgDecodedObjectBuffer.
inline constexpr int64_t kIgObjectRate = 64000000;
inline constexpr int64_t kGraphicsPlaneRate = 128000000;
inline constexpr int64_t kIgDecodedObjectBuffer = int64_t{16} << 20;

// ---- IG objects of stories.

// An IG object attached to a story: it may come from a stream file of its
// own, in which case it is never empty.
class CStoryIgObject : public CIgObject {
  ZV_DECLARE_DYNCREATE(CStoryIgObject)

 public:
  CStoryIgObject() { SetName("IG"); }
  bool m_bFlag = true;
  std::string m_strSourcePath;
  uint8_t m_nOption = 0;         // stored and copied, not interpreted
  std::string m_strSecondPath;   // stored only while the flag is set

  bool IsEmpty() const override;
  // The flag, the source path, and (with the flag) the option byte and the
  // second path, before the IG object's own fields.
  void Serialize(CArchive& ar) override;
  void Copy(const CNamedPtrArray<CEpoch>& src) override;
};

class CIgSet : public CNamedPtrArray<CStoryIgObject> {
 public:
  CIgSet() : CNamedPtrArray<CStoryIgObject>("IGs") {}
};

}  // namespace zv

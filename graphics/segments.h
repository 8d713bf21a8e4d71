// Segments of presentation- and interactive-graphics streams, the display
// set that holds them, and the two stream-file framings (raw, and ".sup"
// with a 10-byte header before every segment).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

class File;
class CArchive;
struct SDumpNode;

enum : uint8_t {
  kSegPds = 0x14,
  kSegOds = 0x15,
  kSegPcs = 0x16,
  kSegWds = 0x17,
  kSegIcs = 0x18,
  kSegEnd = 0x80,
};

// Width, height and frame-rate code of the video a menu is shown on.
struct SVideoDescriptor {
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t frameRateCode = 0;  // 4 bits in the stream syntax
  uint8_t reserved = 0;       // kept as parsed, 0 when created

  void Serialize(CArchive& ar);
};

const char* FrameRateName(unsigned code);      // nullptr for codes 8 and above
const char* CompositionStateName(unsigned code);
// "1920x1080 23.976", or "1920x1080" for a code without a name.
std::string VideoDescriptorText(const SVideoDescriptor& v);

struct SPaletteEntry {
  uint8_t id = 0xFF;
  uint8_t y = 0xFF;
  uint8_t cr = 0xFF;
  uint8_t cb = 0xFF;
  uint8_t t = 255;  // 0 fully transparent .. 255 opaque
};

struct SWindow {
  uint8_t id = 0;
  uint16_t x = 0, y = 0, width = 0, height = 0;
};

struct SCompositionObject {
  uint16_t objectIdRef = 0;
  uint8_t windowIdRef = 0;
  bool cropped = false;
  bool forcedOn = false;
  uint8_t reserved = 0;  // kept when parsed, written as 0
  uint16_t x = 0, y = 0;
  uint16_t cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
};

// The head of both composition segments (PCS and ICS): the video they are
// shown on and the composition descriptor.
struct SCompositionHeader {
  SVideoDescriptor video;
  uint16_t number = 0;
  uint8_t state = 0;          // 2 bits: CompositionStateName
  uint8_t stateReserved = 0;  // 6 bits, kept as parsed
};

// The sequence descriptor and the fragment it flags, the tail of ODS and
// ICS segments: an object or a composition too long for one segment is
// split across several, the first and last flagged.
struct SSequenceFragment {
  bool first = true;
  bool last = true;
  uint8_t reserved = 0;  // 6 bits, kept as parsed
  std::vector<uint8_t> fragment;
};

class CSegmentBase {
 public:
  explicit CSegmentBase(uint8_t type) : m_nType(type) {}
  virtual ~CSegmentBase() = default;

  uint8_t m_nType;
  uint16_t m_nLength = 0;  // body bytes; set by Write
  uint32_t m_nDts = 0;     // 0: the segment has no DTS
  uint32_t m_nPts = 0;
  int64_t FilePosition = -1;

  virtual void Reset() {}
  // Fills the segment from its body; throws FormatError naming the field
  // when the body is short or inconsistent. Returns the bytes consumed.
  virtual size_t Parse(const uint8_t* body, size_t n) = 0;
  // Header and body; empty when the segment cannot be written. Throws
  // std::out_of_range for a field that does not fit.
  virtual std::vector<uint8_t> Bytes() const = 0;
  // Writes header and body into `buf` (room for the returned size), or only
  // measures when `buf` is null. Returns the total size, 0 when the segment
  // cannot be written.
  size_t Write(uint8_t* buf);
  // The dump lines under `root`, and as text with `prefix` before each line.
  virtual void DumpNode(SDumpNode& root) const = 0;
  void Dump(std::string& out, const std::string& prefix) const;
  void CopyFrom(const CSegmentBase& src);
};

#define ZV_SEGMENT_OPS                                            \
  size_t Parse(const uint8_t* body, size_t n) override;           \
  std::vector<uint8_t> Bytes() const override;                    \
  void DumpNode(SDumpNode& root) const override;

class CPds : public CSegmentBase {
 public:
  CPds() : CSegmentBase(kSegPds) {}
  uint8_t m_nPaletteId = 0;
  uint8_t m_nPaletteVersion = 0;
  std::vector<SPaletteEntry> m_entries;  // at most 256 are written

  void Reset() override { m_entries.clear(); }
  ZV_SEGMENT_OPS
};

class COds : public CSegmentBase {
 public:
  COds() : CSegmentBase(kSegOds) {}
  uint16_t m_nObjectId = 0;
  uint8_t m_nObjectVersion = 0;
  SSequenceFragment m_sequence;

  void Reset() override { m_sequence.fragment.clear(); }
  ZV_SEGMENT_OPS
};

class CPcs : public CSegmentBase {
 public:
  CPcs() : CSegmentBase(kSegPcs) {}
  SCompositionHeader m_composition;
  bool m_bPaletteUpdate = false;
  uint8_t m_nPaletteIdRef = 0;
  std::vector<SCompositionObject> m_objects;

  void Reset() override { m_objects.clear(); }
  ZV_SEGMENT_OPS
};

class CWds : public CSegmentBase {
 public:
  CWds() : CSegmentBase(kSegWds) {}
  std::vector<SWindow> m_windows;  // more than two: the segment is not written

  void Reset() override { m_windows.clear(); }
  ZV_SEGMENT_OPS
};

class CIcs : public CSegmentBase {
 public:
  CIcs() : CSegmentBase(kSegIcs) {}
  SCompositionHeader m_composition;
  SSequenceFragment m_sequence;

  void Reset() override { m_sequence.fragment.clear(); }
  ZV_SEGMENT_OPS
};

class CEs : public CSegmentBase {
 public:
  CEs() : CSegmentBase(kSegEnd) {}
  ZV_SEGMENT_OPS
};

#undef ZV_SEGMENT_OPS

// "Pds", "Ods", "Pcs", "Wds", "Ics", "EndSegment".
const char* SegmentName(uint8_t type);

// One display set; owns its segments.
class CDsData {
 public:
  std::unique_ptr<CPcs> m_pcs;
  std::unique_ptr<CWds> m_wds;
  std::unique_ptr<CEs> m_end;
  std::vector<std::unique_ptr<CIcs>> m_ics;
  std::vector<std::unique_ptr<CPds>> m_pds;
  std::vector<std::unique_ptr<COds>> m_ods;
  uint8_t m_nCompositionState = 2;  // Epoch Start

  void Clear();
  const CPds* FindPds(uint8_t paletteId) const;
  // The ICS fragments in order, as one interactive composition.
  std::vector<uint8_t> Composition() const;
  // In writing order: PCS, ICS, WDS, PDS, ODS, END.
  std::vector<const CSegmentBase*> Segments() const;
  // Every segment, then the interactive composition of the ICS fragments.
  void DumpNode(SDumpNode& root) const;
};

// ---- Stream files.

// The 10-byte header of the ".sup" framing before every segment.
inline constexpr size_t kStreamFileHeaderSize = 10;
// True when `p` starts with "PG" or "IG" in any letter case.
bool IsStreamFileMagic(const uint8_t* p);
// True when a graphics stream file uses the ".sup" framing (by its first
// two bytes).
bool IsHeadedFraming(const uint8_t* p, size_t n);

// ReadDisplaySet results.
enum : int { kDsOk = 0, kDsEndOfFile = 1, kDsBad = 2 };

// Where segments are read from: a file or bytes in memory.
class CSegmentInput {
 public:
  virtual ~CSegmentInput() = default;
  // Up to n bytes (short only at the end), or -1 with Error() set.
  virtual int64_t Read(void* dst, size_t n) = 0;
  virtual int64_t Tell() const = 0;
  virtual bool Seek(int64_t pos) = 0;
  virtual const std::string& Error() const = 0;
};

class CMemoryInput : public CSegmentInput {
 public:
  CMemoryInput(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  int64_t Read(void* dst, size_t n) override;
  int64_t Tell() const override { return static_cast<int64_t>(pos_); }
  bool Seek(int64_t pos) override {
    if (pos < 0 || static_cast<size_t>(pos) > n_) return false;
    pos_ = static_cast<size_t>(pos);
    return true;
  }
  const std::string& Error() const override { return error_; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  std::string error_;
};

class CFileInput : public CSegmentInput {
 public:
  explicit CFileInput(File& f) : f_(f) {}
  int64_t Read(void* dst, size_t n) override;
  int64_t Tell() const override;
  bool Seek(int64_t pos) override;
  const std::string& Error() const override;

 private:
  File& f_;
};

// Reads one segment in raw framing at the input's position into `ds`;
// false with `error` on a short read, an unknown type, a second PCS, WDS or
// END, or a body that does not hold what its fields say.
bool ReadSegment(CSegmentInput& in, CDsData& ds, std::string& error, uint32_t pts = 0, uint32_t dts = 0);
// Reads segments up to and including the END segment (kDsOk), or finds the
// end of the input (kDsEndOfFile), or fails (kDsBad with `error`). `headed`:
// every segment is preceded by the stream file header.
int ReadDisplaySet(CSegmentInput& in, CDsData& ds, bool headed, std::string& error);

// Writes one segment; `magic` ("PG", "IG") or nullptr for raw framing;
// `index` receives the 14-byte segment index record when given.
bool WriteSegment(File& f, CSegmentBase& seg, const char* magic, File* index, std::string& error);
bool WriteDisplaySet(File& f, CDsData& ds, bool headed, File* index, std::string& error);
// The segment index record of one written segment.
void SegmentIndexRecord(const CSegmentBase& seg, size_t total, uint8_t out[14]);

// "00:00:10:000" for 900000 ticks.
std::string TicksText(uint32_t ticks);

}  // namespace zv

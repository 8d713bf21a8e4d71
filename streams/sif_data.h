// Stream information: the records every later user of a stream reads (the
// header, the access-unit and GOP tables and the per-codec record), and the
// plain attribute sets the records hand to the multiplexer side. The
// stream-information file is little-endian.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/archive_io.h"
#include "platform/cache_path.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "streams/coding_type.h"

namespace zv {

// Every parsed stream presents its first unit at this 90 kHz time.
constexpr uint32_t kFirstPts = 131070;

struct SSifHeader {
  static constexpr size_t kSize = 57;
  char magic[4] = {0, 0, 0, 0};
  uint32_t reserved1 = 0;
  uint8_t streamCodingType = 0;
  uint32_t auCount = 0;
  double auDuration = 0;  // ms per access unit
  uint32_t bitRate = 0;
  uint32_t secondRate = 0;
  uint32_t reserved2 = 0;
  uint32_t firstFrameOffset = 0;
  uint32_t auTablePos = 0;
  uint64_t payloadSize = 0;
  int64_t sourceTime = 0;  // stream file modification time, ns

  void Save(ArchiveOut& out) const;
  void Load(ArchiveIn& in);  // throws ArchiveError when short
  // Magic, a unit count and a payload: the parse that wrote it finished.
  bool IsComplete() const;
};

// Every stream-information file we write ends in a trailer behind the
// tables: the identity of the stream it was made from, then a 16-byte check:
// "ZVCI", a CRC-32 of every byte before the check, and that byte count
// (64-bit, little-endian). A file whose check is missing or does not match
// (a flipped bit, a cut) is analysed again rather than trusted. Files of
// earlier versions end in the check alone, marked "ZVCK", with no identity.
struct SSifTrailer {
  static constexpr size_t kCheckSize = 16;
  static constexpr size_t kIdentitySize = 44;
  static constexpr size_t kSize = kIdentitySize + kCheckSize;
};

// What tells one stream file from another beyond its modification time: its
// size (a copy keeping times is usually another size) and, for a cache kept
// outside the stream's folder, its device, inode and real path.
struct SStreamIdentity {
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t pathHash = 0;  // of the real path
  bool present = false;   // false: a file of an earlier version

  // Of the file at `path`, links followed; false when it cannot be read.
  static bool Of(const std::string& path, SStreamIdentity& out);
  // `beside`: the cache lies beside the stream, so the path is implied and
  // the file may move with its folder.
  bool Matches(const SStreamIdentity& now, bool beside) const;
};

// Appends identity and check to a complete stream-information file open
// for reading and writing; false with the file's error set when it cannot.
bool AppendSifTrailer(File& file, const SStreamIdentity& identity);
// Checks the trailer; on success `contentLength` is the length of the file
// without it (where the tables end) and `identity` what it stores.
bool CheckSifTrailer(File& file, int64_t& contentLength, SStreamIdentity* identity = nullptr);
// CRC-32 (the common reflected polynomial 0xEDB88320), continued from `crc`.
uint32_t SifCrc32(const uint8_t* data, size_t n, uint32_t crc = 0);

// Access-unit flags.
enum : uint32_t {
  kAuiPictureTypeMask = 0x7,  // 1 I, 2 P, 3 B
  kAuiSequenceHeader = 1u << 16,
  kAuiKey = 1u << 17,  // a valid cut point
  kAuiSequenceEnd = 1u << 18,
};

struct AUI {
  static constexpr size_t kSize = 28;
  uint32_t size = 0;
  uint64_t offset = 0;
  uint32_t flags = 0;
  uint32_t dts = 0;  // 90 kHz; 0 = no separate DTS
  uint32_t pts = 0;
  uint32_t pictureTiming = 0;

  void Save(ArchiveOut& out) const;
  void Load(ArchiveIn& in);
};

struct GOP_INF {
  static constexpr size_t kSize = 25;
  uint8_t frames = 0;
  uint32_t iIndex = 0;
  uint64_t iOffset = 0;
  uint32_t iSize = 0;
  uint32_t minPts = 0;
  uint32_t maxPts = 0;

  void Save(ArchiveOut& out) const;
  void Load(ArchiveIn& in);
};

using CAuiFolder = std::vector<AUI>;
using CGiFolder = std::vector<GOP_INF>;

// What a record contributes to its program-map entry; the transport layer
// turns it into bytes. Descriptor bodies exclude tag and length.
class AC3_AUDIO_DESCRIPTOR;
struct SDescriptor {
  uint8_t tag = 0;
  std::vector<uint8_t> body;
  bool operator==(const SDescriptor&) const = default;
};
struct SEsInfoFill {
  uint8_t streamCodingType = 0;
  std::vector<SDescriptor> descriptors;
  // AC-3 family: the audio descriptor's source values.
  std::shared_ptr<const AC3_AUDIO_DESCRIPTOR> ac3;
};

// Clip-information coding record and playlist stream attributes take the
// same values; a record leaves fields it has no notion of at 0.
struct SCodingAttributes {
  uint8_t streamCodingType = 0;
  uint8_t videoFormat = 0;
  uint8_t frameRate = 0;
  uint8_t aspectRatio = 0;
  uint8_t presentationType = 0;
  uint8_t samplingFrequency = 0;
  bool operator==(const SCodingAttributes&) const = default;
};

// A buffer model the multiplexer should create for the stream, with the
// configuration calls in the order they are made.
struct SPacketRule {
  enum Model { kNone, kAvc, kMpeg2, kVc1, kAc3, kDdp, kDts, kDtsHd, kLpcm, kMlp, kPg, kIg };
  Model model = kNone;
  std::vector<int> levels;  // SetLevel values, in order
  bool primary = true;
  bool lpcm192k = false;
  bool operator==(const SPacketRule&) const = default;
};

class CSifData {
 public:
  virtual ~CSifData() = default;
  virtual void Clear() {}
  virtual void CopyFrom(const CSifData&) {}
  virtual bool IsEqual(const CSifData&) const { return false; }
  // 0 when the stream meets the disc constraints, else a result code.
  virtual int Validate() = 0;
  virtual bool IsSpecialVariant() const { return false; }
  virtual void FillEsInfo(SEsInfoFill& es) const = 0;
  virtual void FillCodingInfo(SCodingAttributes& rec) const = 0;
  virtual void FillStreamAttributes(SCodingAttributes& rec) const = 0;
  // Fills up to two rules (core and extension); returns how many.
  virtual int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const = 0;
  // False when the stored record cannot be used (the stream is analysed again).
  virtual bool Load(ArchiveIn& in);
  virtual void Save(ArchiveOut& out) const;
  virtual bool IsMultiplexedGraphics() const { return false; }

  uint32_t version = 0;
};

// Both records make a clip the same way: the same PMT entry, stream
// attributes, coding information and buffer models.
bool SameForMultiplexing(const CSifData& a, const CSifData& b);

// Disc codes.
enum VideoFormat : uint8_t { kVf480i = 1, kVf576i = 2, kVf480p = 3, kVf1080i = 4, kVf720p = 5, kVf1080p = 6, kVf576p = 7 };
enum FrameRateCode : uint8_t { kFr23976 = 1, kFr24 = 2, kFr25 = 3, kFr2997 = 4, kFr50 = 6, kFr5994 = 7, kFrUnknown = 255 };
enum AspectCode : uint8_t { kAspect4x3 = 2, kAspect16x9 = 3 };

// Video format from the picture height; other heights keep `current`.
uint8_t DeriveVideoFormat(uint32_t height, bool progressive, uint8_t current);
bool FrameRateAllowed(uint8_t videoFormat, uint8_t frameRate);
// For a known video format with a known rate that the disc format does not
// pair (1080p25, 720p25, 1080i23.976, ...): the warning shown for `file`,
// which the analysis still accepts. Empty otherwise.
std::string DisallowedVideoWarning(const std::string& file, uint8_t videoFormat, uint8_t frameRate);
// Why a picture size and rate is refused, with what the disc takes instead:
// "1920x1080 at 30 fps is not a disc format; at 1920x1080 a disc allows ...".
// `fps` 0 leaves the rate out (a size the disc never takes).
std::string DiscVideoFormatRefusal(uint32_t width, uint32_t height, bool progressive, double fps);
// Display aspect (2, 3, or 0 unknown) from an H.264/VC-1 sample-aspect index.
uint8_t DisplayAspectFromSar(unsigned sarIndex, uint32_t width, uint32_t height);
// Index of the first entry of the H.264/VC-1 frame-rate table within 0.01
// of `fps`; kFrUnknown when none.
uint8_t FrameRateCodeFromFps(double fps);

class CVideoSif : public CSifData {
 public:
  uint8_t profile = 0;
  uint8_t level = 0;
  uint8_t videoFormat = 0;
  uint8_t aspectRatio = 0;
  uint8_t frameRate = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t progressive = 0;
  uint32_t codecValue = 0;
  uint32_t tableEnd = 0;  // where the access-unit table ends in the file
  CGiFolder gops;

  void Clear() override { gops.clear(); }
  bool IsSpecialVariant() const override { return videoFormat == kVf480p || videoFormat == kVf576p; }
  void FillCodingInfo(SCodingAttributes& rec) const override;
  void FillStreamAttributes(SCodingAttributes& rec) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  // The GOP table follows the access-unit table up to the end of the file.
  bool LoadGopTable(const std::vector<uint8_t>& tail);

 protected:
  bool SameVideoCoding(const CVideoSif& o) const;
  // The "HDMV" registration descriptor every video entry carries.
  SDescriptor HdmvRegistration(uint8_t type) const;
  virtual uint8_t CodingType() const = 0;
};

class CAudioSif : public CSifData {
 public:
  virtual uint8_t GetStreamCodingType(int part) const = 0;
  // 1 mono, 3 stereo, 6 multi-channel, 12 stereo core with multi-channel extension.
  virtual uint8_t GetPresentationType() const = 0;
  // 1 = 48 kHz, 4 = 96 kHz.
  virtual uint8_t GetSamplingFrequency() const = 0;
  void FillCodingInfo(SCodingAttributes& rec) const override;
  void FillStreamAttributes(SCodingAttributes& rec) const override { FillCodingInfo(rec); }
};

// A new zeroed record for the stream coding type; null for types no parser
// produces.
std::unique_ptr<CSifData> CreateSifData(uint8_t streamCodingType);

}  // namespace zv

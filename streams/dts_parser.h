// DTS elementary streams: core frames (16- or 14-bit words, either byte
// order), core frames each followed by a DTS-HD extension substream, and
// substream-only streams; optionally inside the "DTSHDHDR" file container.
// One stored unit per core frame and per extension substream.
#pragma once

#include <cstdint>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

// One frame's description: a core frame or an extension substream.
struct SDtsFrame {
  // Extension types.
  enum : uint8_t { kExtNone = 0, kExtXch = 1, kExtX96 = 2, kExtXxch = 3, kExtLbr = 4, kExtXll = 5, kExtXbr = 6 };

  uint8_t substream = 0;       // 1: extension substream, 0: core frame
  uint8_t extensionType = 0;
  uint8_t wordFormat = 16;     // bits per stored word of a core: 14 or 16
  uint8_t bigEndian = 1;
  uint8_t rateCode = 0;        // core RATE
  uint8_t bitsPerSample = 0;
  uint32_t sampleRate = 0;     // Hz
  uint8_t amode = 0;           // core channel arrangement; 0 in a substream
  uint8_t lfe = 0;             // core LFF; 0 in a substream
  uint32_t headerSize = 0;     // 14 for a core; the substream header's size
  uint8_t shortValue = 0;      // SHORT + 1
  uint32_t samplesPerFrame = 0;
  uint32_t frameSize = 0;      // bytes as stored in the file
  uint8_t channels = 0;
  uint8_t extPresent = 0;      // core EXT_AUDIO
  uint8_t extId = 0;           // core EXT_AUDIO_ID

  static constexpr size_t kStoredSize = 29;
  void Save(ArchiveOut& out) const;
  void Load(ArchiveIn& in);
  bool operator==(const SDtsFrame&) const = default;
};

// Parses the frame starting at `p` (at least the bytes of its header; `n`
// of them valid). A core header is read from any of its four stored forms, a
// substream from its header and asset descriptors. False when `p` holds no
// known sync word or its header cannot be read.
bool ParseDtsFrame(const uint8_t* p, size_t n, SDtsFrame& f);
// Bit rate of a core RATE code in bit/s (0 for the open, variable and
// lossless codes).
uint32_t DtsBitRate(unsigned rateCode);

class CDTSSif : public CAudioSif {
 public:
  CDTSSif() { version = 3; }
  SDtsFrame main;
  bool hasExtension = false;
  SDtsFrame extension;

  // The disc coding type: 0x82 core alone, 0x85/0x86 core with a high
  // resolution / lossless extension, 0xA2 substreams without a core.
  uint8_t CodingType() const;
  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  bool IsSpecialVariant() const override { return main.substream && !hasExtension; }
  void FillEsInfo(SEsInfoFill& es) const override { es.streamCodingType = CodingType(); }
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  uint8_t GetStreamCodingType(int) const override { return CodingType(); }
  uint8_t GetPresentationType() const override;
  uint8_t GetSamplingFrequency() const override;
};

class CDTSParser : public CParserBase {
 public:
  CDTSParser() : CParserBase(kSctDts, {".dts", ".dca", ".dtshd"}) {}
  // The format is recognised by ParseFile itself.
  bool Probe(File&) override { return false; }
  int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) override;
};

}  // namespace zv

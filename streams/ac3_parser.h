// AC-3 elementary streams: checks the first frames, counts the rest. Units
// are fixed-size frames of 32 ms and are computed, not stored.
#pragma once

#include "platform/language_code.h"
#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class AC3_AUDIO_DESCRIPTOR : public CAudioSif {
 public:
  struct SEac3 {
    uint8_t streamType = 0;
    uint8_t substreamId = 0;
    uint8_t bsid = 16;
    uint16_t frameWords = 0;  // frame size in 16-bit words
    uint8_t numBlocksCode = 0;
    uint8_t acmod = 0;
    uint16_t channelMap = 0;
    uint32_t FrameBytes() const { return frameWords * 2u; }
    bool operator==(const SEac3&) const = default;
  };

  AC3_AUDIO_DESCRIPTOR() { version = 1; }

  uint8_t fscod = 0;
  uint8_t bsid = 0;
  uint8_t frmsizecod = 0;
  uint8_t bitRateIndex = 0;  // frmsizecod / 2, not stored
  uint8_t dsurmod = 0;
  uint8_t bsmod = 0;
  uint8_t acmod = 0;
  uint8_t channelMode = 0;  // acmod as parsed; channel count when from a table descriptor
  uint8_t lfeon = 0;
  uint8_t mainId = 0;
  uint8_t priority = 0;
  uint8_t serviceFlags = 0;
  LanguageCode language;  // table descriptor only, not stored
  uint8_t eac3Present = 0;
  uint8_t corePresent = 1;
  SEac3 eac3;
  uint32_t frameSize = 0;  // bytes; core plus extension for a pair

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  bool IsSpecialVariant() const override { return eac3Present && !corePresent; }
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  uint8_t GetStreamCodingType(int part) const override;
  uint8_t GetPresentationType() const override;
  uint8_t GetSamplingFrequency() const override { return 1; }
};

// Front plus surround channels of an audio coding mode, without LFE.
unsigned Ac3Channels(unsigned acmod);
// 48 kHz frame size in bytes for a frmsizecod (0 when out of range).
uint32_t Ac3FrameBytes(unsigned frmsizecod);
// 48 kHz nominal bit rate in bit/s for a frmsizecod (0 when out of range).
uint32_t Ac3BitRate(unsigned frmsizecod);

class CAC3Parser : public CParserBase {
 public:
  CAC3Parser() : CParserBase(kSctAc3, {".ac3"}) {}
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;
};

}  // namespace zv

// Stream-information records of the codecs whose parsers are still to come.
// The records are complete enough to be created by the factory and to read
// and write their stored form; the checks belong to each codec's parser.
#pragma once

#include <array>

#include "streams/sif_data.h"

namespace zv {

// The WAV format structure itself is the stored record (no version word).
class PCM_WAVE_FORMAT : public CAudioSif {
 public:
  uint16_t formatTag = 0;  // 1 PCM, 0xFFFE extensible
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t validBits = 0;
  uint32_t channelMask = 0;
  std::array<uint8_t, 16> subFormat{};

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override { return 0; }
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  uint8_t GetStreamCodingType(int) const override { return kSctLpcm; }
  uint8_t GetPresentationType() const override;
  uint8_t GetSamplingFrequency() const override;
  // Bytes per 5 ms unit.
  uint32_t AuSize() const { return avgBytesPerSec / 200; }
};

// Holds only its version until the DTS parser defines its frame records;
// Load refuses stored records so a stream is analysed again.
class CDTSSif : public CAudioSif {
 public:
  CDTSSif() { version = 3; }
  uint8_t codingType = kSctDts;
  int Validate() override { return 0; }
  void FillEsInfo(SEsInfoFill& es) const override { es.streamCodingType = codingType; }
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn&) override { return false; }
  uint8_t GetStreamCodingType(int) const override { return codingType; }
  uint8_t GetPresentationType() const override { return 0; }
  uint8_t GetSamplingFrequency() const override { return 1; }
};

class MLP_HEADER_INFO : public CSifData {
 public:
  MLP_HEADER_INFO() { version = 0; }
  uint8_t format = 0;  // 0xBB MLP, 0xBA TrueHD
  uint8_t wordSize1 = 0;
  uint8_t wordSize2 = 0;
  uint32_t sampleRate1 = 0;
  uint32_t sampleRate2 = 0;
  uint8_t mlpAssignment = 0;
  uint8_t assignment6ch = 0;
  uint16_t assignment8ch = 0;
  uint32_t samplesPerAu = 0;
  uint32_t secondBlockSize = 0;
  uint8_t variableRate = 0;
  uint32_t peakRate = 0;
  uint8_t substreams = 0;

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override { return 0; }
  void FillEsInfo(SEsInfoFill& es) const override { es.streamCodingType = kSctMlp; }
  void FillCodingInfo(SCodingAttributes& rec) const override { rec.streamCodingType = kSctMlp; }
  void FillStreamAttributes(SCodingAttributes& rec) const override { rec.streamCodingType = kSctMlp; }
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
};

}  // namespace zv

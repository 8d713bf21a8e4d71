// Stream-information records of the codecs whose parsers are still to come.
// The records are complete enough to be created by the factory and to read
// and write their stored form; the checks belong to each codec's parser.
#pragma once

#include <array>

#include "streams/dts_parser.h"
#include "streams/sif_data.h"

namespace zv {

class CMpeg2VideoSif : public CVideoSif {
 public:
  CMpeg2VideoSif() { version = 2; }
  uint32_t sequenceHeaders = 0;
  uint32_t sequenceEnds = 0;
  uint32_t firstSequenceOffset = 0;
  uint32_t firstSequenceLength = 0;

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;

 protected:
  uint8_t CodingType() const override { return kSctMpeg2; }
};

class CVc1Sif : public CVideoSif {
 public:
  CVc1Sif() { version = 3; }
  uint32_t hrdRate = 0;    // bit/s
  uint32_t hrdBuffer = 0;  // bits

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;

 protected:
  uint8_t CodingType() const override { return kSctVc1; }
};

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

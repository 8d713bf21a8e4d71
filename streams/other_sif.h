// Stream-information records of the codecs whose parsers are still to come.
// The records are complete enough to be created by the factory and to read
// and write their stored form; the checks belong to each codec's parser.
#pragma once

#include <array>

#include "streams/lpcm_parser.h"
#include "streams/mlp_parser.h"
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

}  // namespace zv

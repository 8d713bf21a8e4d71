// Stream-information records of the codecs whose parsers are still to come.
// The records are complete enough to be created by the factory and to read
// and write their stored form; the checks belong to each codec's parser.
#pragma once

#include <array>

#include "streams/lpcm_parser.h"
#include "streams/mlp_parser.h"
#include "streams/sif_data.h"

namespace zv {

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

// Dolby lossless audio (TrueHD, and MLP) in access-unit form: one stored
// unit per MLP access unit. On the disc the stream shares its PID with an
// AC-3 core given as the main file of the same source, so the record also
// says how the pair is announced and modelled.
#pragma once

#include <cstdint>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class MLP_HEADER_INFO : public CSifData {
 public:
  static constexpr uint8_t kFormatTrueHd = 0xBA;
  static constexpr uint8_t kFormatMlp = 0xBB;

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
  uint32_t peakRate = 0;  // bit/s
  uint8_t substreams = 0;

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override { return 0; }
  void FillEsInfo(SEsInfoFill& es) const override { es.streamCodingType = kSctMlp; }
  // Both take the presentation type the AC-3 core of the PID wrote first.
  void FillCodingInfo(SCodingAttributes& rec) const override;
  void FillStreamAttributes(SCodingAttributes& rec) const override { FillCodingInfo(rec); }
  // The core's AC-3 model first, the lossless stream's second.
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;

  // Channels of the lossless presentation (0 when unknown).
  unsigned ChannelCount() const;
};

// Reads a major sync (from the unit's first byte; at least 28 bytes) into
// the record. False when it is not one the record can describe.
bool ParseMajorSync(const uint8_t* unit, size_t size, MLP_HEADER_INFO& out);

class CMlpParser : public CParserBase {
 public:
  CMlpParser() : CParserBase(kSctMlp, {".mlp", ".thd"}) {}
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;
};

}  // namespace zv

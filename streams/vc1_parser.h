// VC-1 advanced-profile elementary streams in start-code form: checks every
// sequence header and entry point against the disc constraints, makes one
// access unit per frame and orders each entry-point segment's frames for
// display.
#pragma once

#include <cstdint>
#include <vector>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class CNalReader;

class CVc1Sif : public CVideoSif {
 public:
  CVc1Sif() { version = 3; }
  uint32_t hrdRate = 0;    // bit/s, largest leaky bucket
  uint32_t hrdBuffer = 0;  // bits, largest leaky bucket

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

class CVc1Parser : public CParserBase {
 public:
  // The fields of an advanced-profile sequence header the analysis uses.
  struct SSequence {
    unsigned profile = 0, level = 0;
    uint32_t maxCodedWidth = 0, maxCodedHeight = 0;  // as coded: (size / 2) - 1
    bool pulldown = false, interlace = false, tfcntr = false, psf = false;
    uint32_t displayWidth = 0, displayHeight = 0;
    unsigned aspectIndex = 0, aspectHoriz = 0, aspectVert = 0;
    double fps = 0;
    unsigned leakyBuckets = 0;
    uint64_t hrdRate = 0, hrdBuffer = 0;
  };

  CVc1Parser();
  int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) override;
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;

  // The checks of one sequence header; 0 or a result code.
  static int ReadSequence(CNalReader& r, SSequence& s);
  // The checks of one entry point against its sequence header.
  static int ReadEntryPoint(CNalReader& r, const SSequence& s);
  // Picture type (1 I, 2 P or skipped, 3 B or BI) from a frame header.
  static unsigned ReadFrameType(CNalReader& r, const SSequence& s);
  // Display indices (1..n) of a segment's frames from their types in decode
  // order: B frames keep their place, each anchor follows the B frames
  // behind it.
  static std::vector<int64_t> DisplayOrder(const std::vector<unsigned>& types);

 private:
  std::vector<uint8_t> buffer_;
};

}  // namespace zv

// MPEG-2 video elementary streams: checks the first sequence header and
// sequence extension against the disc constraints, makes one access unit per
// coded frame (a frame picture or a field pair) and times the units from the
// decode order, the temporal references and the 3:2 pulldown flags.
#pragma once

#include <cstdint>
#include <vector>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

class CMpeg2VideoSif : public CVideoSif {
 public:
  CMpeg2VideoSif() { version = 2; }
  uint32_t sequenceHeaders = 0;
  uint32_t sequenceEnds = 0;
  uint32_t firstSequenceOffset = 0;
  // From the first sequence header up to the first user data or GOP header.
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

// The highest video bit rate a disc carries, bit/s.
constexpr uint64_t kMpeg2MaxBitRate = 40000000;

// Frame period of an MPEG-2 frame_rate_code in ms; 0 for the rates the disc
// has no period for (30 and 60 frames per second) and for reserved codes.
double Mpeg2FramePeriod(unsigned frameRateCode);

class CM2VParser : public CParserBase {
 public:
  CM2VParser();
  int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) override;
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;

  // One coded frame as the walk found it.
  struct SPicture {
    AUI au;  // offset, size and flags; stamped when its GOP is complete
    unsigned tr = 0;
    unsigned fields = 2;  // display duration in field periods
  };
  // Times the pictures of each GOP in display order: a picture is shown for
  // its own number of fields (repeated fields included), a B picture is
  // decoded when it is shown and an I or P picture when the anchor before
  // it is shown. The first picture of the stream is shown at kFirstPts.
  class CGopTimer {
   public:
    explicit CGopTimer(double framePeriodMs) : field_(framePeriodMs * 90.0 / 2.0) {}
    void Stamp(std::vector<SPicture>& gop);

   private:
    double field_;         // 90 kHz ticks per field period
    int64_t gopStart_ = 0;  // display position of the next GOP, fields
    int64_t lastAnchor_ = 0;
    bool haveAnchor_ = false;
    bool baseSet_ = false;
    double base_ = 0;
  };

 private:
  int CheckHeaders(File& file, SStreamContext& ctx);
  std::vector<uint8_t> buffer_;
};

}  // namespace zv

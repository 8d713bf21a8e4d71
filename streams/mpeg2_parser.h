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

  // The time-stamp state of a stream, fed one picture at a time in decode
  // order.
  class CClock {
   public:
    explicit CClock(double framePeriodMs) : t_(framePeriodMs * 90.0) {}
    void StartGop() {
      k_ = 0;
      maxTr_ = 0;
    }
    // DTS and PTS (90 kHz) of the next picture; the first picture is shown
    // at kFirstPts.
    void Next(unsigned tr, bool tff, bool rff, bool progressiveFrame, uint32_t& dts, uint32_t& pts);

   private:
    double t_;
    int64_t n_ = 0, k_ = 0, r_ = 0;
    unsigned maxTr_ = 0;
    bool ltff_ = false, lrff_ = false;
    bool t0Set_ = false;
    double t0_ = 0;
  };

 private:
  int CheckHeaders(File& file, SStreamContext& ctx);
  std::vector<uint8_t> buffer_;
};

}  // namespace zv

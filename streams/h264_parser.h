// H.264/AVC Annex B byte streams: checks the first sequence parameter set
// against the disc constraints, splits the stream into access units and
// times them from decode order and picture order counts.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "streams/parser_base.h"
#include "streams/sif_data.h"
#include "streams/start_code_scanner.h"

namespace zv {

class CNalReader;

// Sets fixed_frame_rate_flag in every sequence parameter set ahead of the
// first slice of one access unit that has timing information without it.
// The unit keeps its size: a set that no longer needs an emulation-prevention
// byte is followed by a zero byte, which the byte stream allows between NAL
// units. Returns the number of sets changed.
int SetFixedFrameRateFlag(uint8_t* unit, size_t size);

class CH264VideoSif : public CVideoSif {
 public:
  CH264VideoSif() { version = 3; }
  uint32_t cpbSize = 0;     // bits, largest NAL HRD schedule
  uint8_t sarIndex = 0;     // aspect_ratio_idc; used by Validate, not stored
  uint8_t stillPicture = 0;  // 0x80 for a single-picture stream
  uint8_t constraintByte = 0;  // SPS constraint flags, kept for still pictures

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;

 protected:
  uint8_t CodingType() const override { return kSctH264; }
};

class CH264Parser : public CParserBase {
 public:
  static constexpr size_t kBufferSize = CStartCodeScanner::kBufferSize;

  CH264Parser();
  ~CH264Parser() override;
  int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) override;
  bool Probe(File& file) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;

  struct SHrd {
    bool present = false;
    uint64_t maxBitRate = 0;
    uint64_t maxCpbSize = 0;
    unsigned cpbRemovalDelayLength = 24;
    unsigned dpbOutputDelayLength = 24;
  };
  struct SSps {
    bool valid = false;
    uint8_t profile = 0, constraints = 0, level = 0;
    unsigned chromaFormat = 1;
    bool separateColourPlane = false;
    unsigned log2MaxFrameNum = 4;
    unsigned pocType = 0;
    unsigned log2MaxPocLsb = 4;
    bool deltaPicOrderAlwaysZero = false;
    int32_t offsetForNonRefPic = 0, offsetForTopToBottomField = 0;
    std::vector<int32_t> refFrameOffsets;
    bool frameMbsOnly = true;
    uint32_t width = 0, height = 0;
    bool vui = false;
    uint8_t aspectIdc = 0;
    uint16_t sarWidth = 0, sarHeight = 0;
    bool timing = false;
    uint32_t numUnitsInTick = 0, timeScale = 0;
    bool fixedFrameRate = false;
    uint64_t fixedFrameRateBit = 0;  // its position after the NAL header, emulation bytes removed
    SHrd nal, vcl;
    bool picStructPresent = false;
  };
  struct SPps {
    bool valid = false;
    unsigned spsId = 0;
    bool bottomFieldPicOrderPresent = false;
    bool redundantPicCntPresent = false;
  };
  // One parsed slice header, with room for the picture-timing values an SEI
  // stores into the most recent one.
  struct SSlice {
    unsigned nalType = 0, nalRefIdc = 0;
    unsigned sliceType = 0, ppsId = 0, spsId = 0;
    uint32_t frameNum = 0;
    bool field = false, bottom = false;
    uint32_t idrPicId = 0;
    uint32_t pocLsb = 0;
    int32_t deltaPocBottom = 0;
    int32_t deltaPoc[2] = {0, 0};
    uint32_t redundantPicCnt = 0;
    bool picStructPresent = false;
    uint8_t picStruct = 0;
    bool hasCpb = false;
    uint32_t cpbRemovalDelay = 0, dpbOutputDelay = 0;
  };

 private:
  friend int SetFixedFrameRateFlag(uint8_t* unit, size_t size);
  struct SUnit {
    int64_t start = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
    int64_t decodeIndex = 0;
    int64_t poc = 0;
    uint32_t pictureTiming = 0;
    bool timingSet = false;
    bool hasSlice = false;
    // Of its first slice: a field's parity and frame_num pair it with the
    // other field of its frame.
    bool field = false, bottom = false;
    uint32_t frameNum = 0;
  };
  void Reset();
  int HandleNal(int64_t nalStart, const std::vector<uint8_t>& nal, SStreamContext& ctx);
  int HandleSlice(int64_t nalStart, unsigned type, unsigned refIdc, CNalReader& r, SStreamContext& ctx);
  int ParseSps(CNalReader& r, SStreamContext& ctx);
  int ParseVui(CNalReader& r, SSps& s, bool check);
  void ParseHrd(CNalReader& r, SHrd& h);
  int ParsePps(CNalReader& r);
  void ParseSei(CNalReader& r);
  int ParseSliceHeader(CNalReader& r, unsigned type, unsigned refIdc, SSlice& s);
  bool StartsNewPicture(const SSlice& prev, const SSlice& cur) const;
  int64_t ComputePoc(const SSlice& s);
  void BeginUnit(int64_t start);
  void CloseUnit(int64_t end);
  int FlushGop(SStreamContext& ctx, bool atIdr);
  int FlushFieldGop(SStreamContext& ctx, ArchiveOut& out);
  static uint32_t PictureTimingWord(const SSlice& s);
  void CheckPictureTiming(const SSlice& s);

  // Encoders often leave fixed_frame_rate_flag unset on streams of constant
  // rate. Such a stream is taken when every picture shows for one frame
  // period and, with HRD timing, is decoded one period after the one before;
  // the first picture that does not is remembered for the refusal.
  struct SPendingTiming {
    bool hasCpb = false, hasPicStruct = false;
    uint32_t cpbRemovalDelay = 0;
    unsigned cpbLength = 24;
    uint8_t picStruct = 0;
  };
  bool unfixedRate_ = false;
  SPendingTiming pendingTiming_;
  int64_t timedPictures_ = 0;
  bool prevHasCpb_ = false;
  uint32_t prevCpbRemovalDelay_ = 0;
  int64_t prevPeriods_ = 0;
  std::string rateFault_;

  std::vector<SSps> sps_;
  std::vector<SPps> pps_;
  std::optional<SSlice> cur_, prev_;
  std::optional<SUnit> unit_;
  std::vector<SUnit> gop_;
  int64_t unitCounter_ = 0;
  double frameDuration_ = 0;  // ms
  int64_t correction_ = 0;
  int64_t displayDelay_ = 0;  // frames (fields) between decode and display of the first picture
  // Decode time of the next GOP in field periods (frames count two), and the
  // display delay of GOPs holding fields, in field periods.
  int64_t fieldClock_ = 0;
  int64_t fieldDisplayDelay_ = 0;
  double t0_ = 0;
  bool t0Set_ = false;
  bool firstSpsPending_ = true;
  bool anySps_ = false;
  int lastDropCode_ = 0;
  uint64_t maxBitRate_ = 0;
  uint64_t payloadTotal_ = 0;
  uint32_t recordsWritten_ = 0;
  unsigned activeSps_ = 0;
  // Picture order count state.
  int64_t prevPocMsb_ = 0;
  uint32_t prevPocLsb_ = 0;
  uint32_t prevFrameNum_ = 0;
  int64_t prevFrameNumOffset_ = 0;
  std::vector<uint8_t> buffer_;
};

}  // namespace zv

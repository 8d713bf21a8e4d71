#include "streams/h264_parser.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/paths.h"
#include "streams/nal_reader.h"
#include "streams/parse_result.h"
#include "streams/start_code_scanner.h"

namespace zv {

namespace {

// A 90 kHz time as stored (wrapping at 32 bits). Timing values no real
// stream has (a frame lasting ages, a picture count far off) can put the
// time beyond 64 bits; `wild` is set and the stream is refused.
uint32_t StampOf(double v, bool& wild) {
  v = std::trunc(v);
  if (!(v > -9.2e18 && v < 9.2e18)) {
    wild = true;
    return 0;
  }
  return static_cast<uint32_t>(static_cast<int64_t>(v));
}
// A slice header that cannot be read: its picture is dropped like one with
// an unknown parameter set, without ending the analysis.
constexpr int kUnreadableSlice = 1000;
}  // namespace

// ---------------------------------------------------------------- record

void CH264VideoSif::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const CH264VideoSif*>(&o)) *this = *p;
}

bool CH264VideoSif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CH264VideoSif*>(&o);
  return p && SameVideoCoding(*p) && cpbSize == p->cpbSize;
}

int CH264VideoSif::Validate() {
  if (profile != 100 && profile != 77) return kParseWrongProfile;
  bool hd = (width == 1920 && height == 1080) || (width == 1440 && height == 1080) || (width == 1280 && height == 720);
  if (hd) {
    if (level != 41 && level != 40) return kParseWrongLevel;
    if (width == 1440 ? (sarIndex != 14 && sarIndex != 255) : sarIndex != 1) return kParseWrongAspectRatio;
  } else {
    if (width != 720) return kParseWrongVideoFormat;
    if (height == 480) {
      if (sarIndex != 3 && sarIndex != 5) return kParseWrongAspectRatio;
    } else if (height == 576) {
      if (sarIndex != 2 && sarIndex != 4) return kParseWrongAspectRatio;
    } else {
      return kParseWrongVideoFormat;
    }
    if (level != 30 && level != 31 && level != 32 && level != 40 && level != 41) return kParseWrongLevel;
  }
  videoFormat = DeriveVideoFormat(height, progressive != 0, videoFormat);
  return FrameRateAllowed(videoFormat, frameRate) ? kParseOk : kParseWrongFrameRate;
}

void CH264VideoSif::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = kSctH264;
  es.descriptors.push_back(HdmvRegistration(kSctH264));
  if (stillPicture) {
    // AVC video descriptor: constraint_set0..2 and the five compatible
    // flags are the constraint byte; still present, not 24-hour.
    es.descriptors.push_back({0x28, {profile, constraintByte, level, 0x80}});
  }
}

int CH264VideoSif::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = SPacketRule::kAvc;
  out1->levels = {41, level};
  return 1;
}

bool CH264VideoSif::Load(ArchiveIn& in) {
  if (!CVideoSif::Load(in)) return false;
  cpbSize = in.U32();
  stillPicture = in.U8();
  constraintByte = in.U8();
  return true;
}

void CH264VideoSif::Save(ArchiveOut& out) const {
  CVideoSif::Save(out);
  out.U32(cpbSize);
  out.U8(stillPicture);
  out.U8(constraintByte);
}

// ---------------------------------------------------------------- SPS flag

namespace {
// End of the NAL unit whose payload starts at `from`: the next start code's
// zeros, and zero bytes before them, belong to no NAL.
size_t NalEnd(const uint8_t* p, size_t from, size_t n, size_t& nextStart) {
  nextStart = FindStartCode(p, from, n);
  size_t end = nextStart < n ? std::max(from, nextStart - 2) : n;
  while (end > from && p[end - 1] == 0) --end;
  return end;
}
}  // namespace

int SetFixedFrameRateFlag(uint8_t* unit, size_t size) {
  int changed = 0;
  size_t code = FindStartCode(unit, 0, size);
  while (code < size) {
    const size_t begin = code + 1;
    if (begin >= size) break;
    // Parameter sets come before the slices. The type is read before the
    // end is searched for: the first slice ends the search without a scan
    // of the picture's bytes (a slice's header byte is never zero, so its
    // NAL is never empty).
    const unsigned type = unit[begin] & 0x1F;
    if (type == 1 || type == 5) break;
    size_t next;
    const size_t end = NalEnd(unit, begin, size, next);
    if (end <= begin) break;
    if (type == 7) {
      // Raw payload, the flag set, and the payload escaped again.
      std::vector<uint8_t> rbsp;
      rbsp.reserve(end - begin);
      unsigned zeros = 0;
      for (size_t i = begin + 1; i < end; ++i) {
        if (zeros >= 2 && unit[i] == 3) {
          zeros = 0;
          continue;
        }
        zeros = unit[i] == 0 ? zeros + 1 : 0;
        rbsp.push_back(unit[i]);
      }
      CH264Parser parser;
      parser.Reset();
      parser.firstSpsPending_ = false;
      SStreamContext ctx;
      CNalReader r(unit + begin + 1, end - begin - 1);
      bool parsed = false;
      try {
        parsed = parser.ParseSps(r, ctx) == kParseOk;
      } catch (const FormatError&) {
      }
      const CH264Parser::SSps& sps = parser.sps_[parser.activeSps_];
      if (parsed && sps.valid && sps.timing && !sps.fixedFrameRate && sps.fixedFrameRateBit / 8 < rbsp.size()) {
        rbsp[sps.fixedFrameRateBit / 8] |= static_cast<uint8_t>(0x80 >> (sps.fixedFrameRateBit % 8));
        std::vector<uint8_t> escaped;
        escaped.reserve(end - begin);
        escaped.push_back(unit[begin]);
        zeros = 0;
        for (uint8_t b : rbsp) {
          if (zeros >= 2 && b <= 3) {
            escaped.push_back(3);
            zeros = 0;
          }
          escaped.push_back(b);
          zeros = b == 0 ? zeros + 1 : 0;
        }
        // A bit set can only take escapes away; never grow the unit.
        if (escaped.size() <= end - begin) {
          std::copy(escaped.begin(), escaped.end(), unit + begin);
          std::fill(unit + begin + escaped.size(), unit + end, uint8_t{0});
          ++changed;
        }
      }
    }
    code = next;
  }
  return changed;
}

// ---------------------------------------------------------------- parser

CH264Parser::CH264Parser() : CParserBase(kSctH264, {".264", ".avc", ".h264"}) {}
CH264Parser::~CH264Parser() = default;

bool CH264Parser::Probe(File& file) {
  uint8_t b[4];
  size_t got;
  return ReadHead(file, b, 4, got) && got == 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1;
}

void CH264Parser::Reset() {
  sps_.assign(32, SSps{});
  pps_.assign(256, SPps{});
  cur_.reset();
  prev_.reset();
  unit_.reset();
  gop_.clear();
  unitCounter_ = 0;
  frameDuration_ = 0;
  correction_ = 0;
  displayDelay_ = 0;
  fieldClock_ = 0;
  fieldDisplayDelay_ = 0;
  t0_ = 0;
  t0Set_ = false;
  firstSpsPending_ = true;
  anySps_ = false;
  lastDropCode_ = 0;
  maxBitRate_ = 0;
  payloadTotal_ = 0;
  recordsWritten_ = 0;
  activeSps_ = 0;
  prevPocMsb_ = 0;
  prevPocLsb_ = 0;
  prevFrameNum_ = 0;
  prevFrameNumOffset_ = 0;
  unfixedRate_ = false;
  pendingTiming_ = SPendingTiming{};
  timedPictures_ = 0;
  prevHasCpb_ = false;
  prevCpbRemovalDelay_ = 0;
  prevPeriods_ = 0;
  rateFault_.clear();
}

int CH264Parser::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  if (path.empty()) return kParseOpenError;
  if (int r = ProbeFile(path)) return r;
  Reset();
  File f;
  if (!f.Open(path, File::kRead)) return kParseOpenError;
  ctx.header = SSifHeader{};
  std::memcpy(ctx.header.magic, "RSIF", 4);
  ctx.header.streamCodingType = kSctH264;
  ctx.header.sourceTime = FileTimeNs(path);
  ctx.sif = CreateSifData(kSctH264);
  if (int r = WriteSifHead(ctx)) return r;
  uint32_t tablePos = ctx.header.auTablePos;
  int r = Parse(f, ctx, progress);
  if (r == kParseOk) {
    r = WriteSifHead(ctx);
    if (r == kParseOk && ctx.header.auTablePos != tablePos) r = kParseWriteError;
  }
  Reset();
  buffer_.clear();
  buffer_.shrink_to_fit();
  return r;
}

int CH264Parser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  const int64_t length = file.Length();
  if (length <= 0 || !file.Seek(0)) return kParseReadError;
  if (!ctx.sifFile.Seek(ctx.header.auTablePos)) return kParseWriteError;
  CStartCodeScanner scan(file, buffer_);
  std::vector<uint8_t> nal;
  int64_t nalStart, payload;
  for (;;) {
    if (progress.fn && !progress.Value(static_cast<int32_t>(scan.Consumed() * 100 / static_cast<uint64_t>(length))))
      return kParseCanceled;
    if (!scan.Next(nalStart, payload)) break;
    // Only the headers are read: slice headers are short, parameter sets
    // and SEI can be long, other units are not looked into.
    scan.Head(payload, 1, nal);
    if (nal.empty()) continue;
    const unsigned type = nal[0] & 0x1F;
    if (type == 1 || type == 5)
      scan.Head(payload, 1024, nal);
    else if (type >= 6 && type <= 8)
      scan.Head(payload, 65536, nal);
    int r = HandleNal(nalStart, nal, ctx);
    if (r == kParseWrongSliceType || r == kParseNoSps || r == kParseNoPps || r == kUnreadableSlice) {
      // A picture whose slices cannot be read is left out; a picture that
      // already holds good slices is kept.
      lastDropCode_ = r == kUnreadableSlice ? kParseSyntax : r;
      if (r == kUnreadableSlice) ctx.errorOffset = nalStart;
      if (unit_ && !unit_->hasSlice) {
        unit_.reset();
        --unitCounter_;
      } else {
        CloseUnit(nalStart);
      }
      continue;
    }
    if (r != kParseOk) {
      if (r == kParseSyntax) ctx.errorOffset = nalStart;
      return r;
    }
  }
  if (scan.ReadError()) return kParseReadError;

  // Trailing non-picture units belong to the last picture.
  if (unit_ && !unit_->hasSlice) {
    if (!gop_.empty() && gop_.back().start + gop_.back().size == unit_->start) {
      gop_.back().size = static_cast<uint32_t>(length - gop_.back().start);
    }
    unit_.reset();
    --unitCounter_;
  }
  CloseUnit(length);
  if (int r = FlushGop(ctx, false)) return r;
  if (recordsWritten_ == 0) return lastDropCode_ ? lastDropCode_ : anySps_ ? kParseSyntax : kParseNoSps;

  auto* rec = static_cast<CH264VideoSif*>(ctx.sif.get());
  rec->tableEnd = ctx.header.auTablePos + recordsWritten_ * static_cast<uint32_t>(AUI::kSize);
  ArchiveOut gops;
  gops.U32(0);
  for (const auto& g : rec->gops) g.Save(gops);
  if (!ctx.sifFile.Seek(rec->tableEnd) || !ctx.sifFile.Write(gops.Bytes().data(), gops.Bytes().size()))
    return kParseWriteError;
  if (recordsWritten_ == 1) {
    rec->stillPicture = 0x80;
  } else {
    rec->stillPicture = 0;
    rec->constraintByte = 0;
  }
  if (unfixedRate_) {
    if (!rateFault_.empty()) {
      ctx.errorDetail = "The frame rate varies: " + rateFault_ +
                        ". A disc plays video of a constant frame rate; re-encode the video at one.";
      return kParseNotFixedFrameRate;
    }
    if (progress.fn) {
      char rate[32];
      std::snprintf(rate, sizeof rate, "%.3f", frameDuration_ > 0 ? 1000.0 / frameDuration_ : 0.0);
      progress.Item("note: \"" + file.Path() + "\": fixed_frame_rate_flag is 0, but all " +
                    std::to_string(timedPictures_) + " pictures last one frame period (" + rate +
                    " fps); the clip is written with the flag set");
    }
  }
  SSifHeader& h = ctx.header;
  h.auCount = recordsWritten_;
  h.auDuration = frameDuration_;
  h.bitRate = static_cast<uint32_t>(std::min<uint64_t>(maxBitRate_, 0xFFFFFFFFu));
  h.secondRate = 0;
  h.firstFrameOffset = 0;
  h.payloadSize = payloadTotal_;
  return kParseOk;
}

int CH264Parser::HandleNal(int64_t nalStart, const std::vector<uint8_t>& nal, SStreamContext& ctx) {
  const unsigned refIdc = (nal[0] >> 5) & 3;
  const unsigned type = nal[0] & 0x1F;
  CNalReader r(nal.data() + 1, nal.size() - 1);
  if (type == 1 || type == 5) return HandleSlice(nalStart, type, refIdc, r, ctx);
  if (type < 6 || type > 9) return kParseOk;  // stays inside the current unit
  if (!unit_ || unit_->hasSlice) {
    CloseUnit(nalStart);
    BeginUnit(nalStart);
  }
  if (type == 6) {
    // Only picture timing is wanted from SEI. Any other message may be long
    // (user data past the 64 KiB read here) or of a syntax not known here:
    // trouble ends the walk of this SEI, never the analysis.
    try {
      ParseSei(r);
    } catch (const FormatError&) {
    }
    return kParseOk;
  }
  try {
    switch (type) {
      case 7: return ParseSps(r, ctx);
      case 8: return ParsePps(r);
      default: break;
    }
  } catch (const FormatError&) {
    return kParseSyntax;
  }
  return kParseOk;
}

// ---- units

uint32_t CH264Parser::PictureTimingWord(const SSlice& s) {
  unsigned periods;
  if (s.picStructPresent) {
    switch (s.picStruct) {
      case 1: case 2: periods = 1; break;
      case 5: case 6: periods = 3; break;
      case 7: periods = 4; break;
      case 8: periods = 6; break;
      default: periods = s.picStruct <= 8 ? 2 : 0; break;
    }
  } else {
    periods = s.field ? 1 : 2;
  }
  return (s.field ? 1u : 0u) + 2 * periods;
}

void CH264Parser::CheckPictureTiming(const SSlice& s) {
  const SPendingTiming t = pendingTiming_;
  pendingTiming_ = SPendingTiming{};
  int64_t periods = s.field ? 1 : 2;  // field periods the picture is shown
  if (t.hasPicStruct) {
    switch (t.picStruct) {
      case 1: case 2: periods = 1; break;
      case 5: case 6: periods = 3; break;
      case 7: periods = 4; break;
      case 8: periods = 6; break;
      default: periods = 2; break;
    }
  }
  const int64_t n = ++timedPictures_;
  if (rateFault_.empty()) {
    if ((s.field ? 2 * periods : periods) != 2) {
      rateFault_ = "picture " + std::to_string(n) + " (in decode order) is shown for " + std::to_string(periods) +
                   " field periods, not one " + (s.field ? "field" : "frame") + " period";
    } else if (t.hasCpb && prevHasCpb_) {
      // Removal delays count clock ticks from the last buffering period,
      // so the distance of two consecutive pictures is their difference.
      const uint32_t mask = t.cpbLength >= 32 ? 0xFFFFFFFFu : (1u << t.cpbLength) - 1;
      const int64_t interval = (t.cpbRemovalDelay - prevCpbRemovalDelay_) & mask;
      if (interval != prevPeriods_)
        rateFault_ = "picture " + std::to_string(n) + " (in decode order) is decoded " + std::to_string(interval) +
                     " clock ticks after the one before it, which lasts " + std::to_string(prevPeriods_);
    }
  }
  prevHasCpb_ = t.hasCpb;
  prevCpbRemovalDelay_ = t.cpbRemovalDelay;
  prevPeriods_ = periods;
}

void CH264Parser::BeginUnit(int64_t start) {
  SUnit u;
  u.start = start;
  u.decodeIndex = unitCounter_++;
  if (cur_) {
    u.pictureTiming = PictureTimingWord(*cur_);
    u.timingSet = true;
  }
  unit_ = u;
}

void CH264Parser::CloseUnit(int64_t end) {
  if (!unit_) return;
  unit_->size = static_cast<uint32_t>(end - unit_->start);
  gop_.push_back(*unit_);
  unit_.reset();
}

// ---- slices

int CH264Parser::ParseSliceHeader(CNalReader& r, unsigned type, unsigned refIdc, SSlice& s) {
  s.nalType = type;
  s.nalRefIdc = refIdc;
  r.Ue();  // first_mb_in_slice
  s.sliceType = r.Ue();
  if (s.sliceType > 9) return kParseWrongSliceType;
  if (s.sliceType > 4) s.sliceType -= 5;
  s.ppsId = r.Ue();
  if (s.ppsId > 255 || !pps_[s.ppsId].valid) return kParseNoPps;
  const SPps& pps = pps_[s.ppsId];
  s.spsId = pps.spsId;
  const SSps& sps = sps_[s.spsId];
  if (!sps.valid) return kParseNoSps;
  if (sps.separateColourPlane) r.Bits(2);
  s.frameNum = r.Bits(sps.log2MaxFrameNum);
  if (!sps.frameMbsOnly) {
    s.field = r.Flag();
    if (s.field) s.bottom = r.Flag();
  }
  if (type == 5) s.idrPicId = r.Ue();
  if (sps.pocType == 0) {
    s.pocLsb = r.Bits(sps.log2MaxPocLsb);
    if (pps.bottomFieldPicOrderPresent && !s.field) s.deltaPocBottom = r.Se();
  } else if (sps.pocType == 1 && !sps.deltaPicOrderAlwaysZero) {
    s.deltaPoc[0] = r.Se();
    if (pps.bottomFieldPicOrderPresent && !s.field) s.deltaPoc[1] = r.Se();
  }
  if (pps.redundantPicCntPresent) s.redundantPicCnt = r.Ue();
  if (s.sliceType == 1) r.Flag();  // direct_spatial_mv_pred_flag
  return kParseOk;
}

bool CH264Parser::StartsNewPicture(const SSlice& p, const SSlice& c) const {
  if (c.redundantPicCnt > 0) return false;
  if (c.frameNum != p.frameNum || c.ppsId != p.ppsId || c.field != p.field) return true;
  if (c.field && c.bottom != p.bottom) return true;
  if (c.nalRefIdc != p.nalRefIdc && (c.nalRefIdc == 0 || p.nalRefIdc == 0)) return true;
  const SSps& sps = sps_[c.spsId];
  if (sps.pocType == 0 && (c.pocLsb != p.pocLsb || c.deltaPocBottom != p.deltaPocBottom)) return true;
  if (sps.pocType == 1 && (c.deltaPoc[0] != p.deltaPoc[0] || c.deltaPoc[1] != p.deltaPoc[1])) return true;
  if ((c.nalType == 5) != (p.nalType == 5)) return true;
  if (c.nalType == 5 && p.nalType == 5 && c.idrPicId != p.idrPicId) return true;
  return false;
}

int64_t CH264Parser::ComputePoc(const SSlice& s) {
  const SSps& sps = sps_[s.spsId];
  const bool idr = s.nalType == 5;
  int64_t top = 0, bottom = 0;
  if (sps.pocType == 0) {
    if (idr) {
      prevPocMsb_ = 0;
      prevPocLsb_ = 0;
    }
    const int64_t maxLsb = int64_t{1} << sps.log2MaxPocLsb;
    int64_t msb = prevPocMsb_;
    if (s.pocLsb < prevPocLsb_ && int64_t{prevPocLsb_} - s.pocLsb >= maxLsb / 2)
      msb += maxLsb;
    else if (s.pocLsb > prevPocLsb_ && int64_t{s.pocLsb} - prevPocLsb_ > maxLsb / 2)
      msb -= maxLsb;
    top = msb + s.pocLsb;
    bottom = s.field ? top : top + s.deltaPocBottom;
    if (s.nalRefIdc != 0) {
      prevPocMsb_ = msb;
      prevPocLsb_ = s.pocLsb;
    }
  } else {
    const int64_t maxFrameNum = int64_t{1} << sps.log2MaxFrameNum;
    int64_t offset = idr ? 0 : prevFrameNumOffset_ + (prevFrameNum_ > s.frameNum ? maxFrameNum : 0);
    if (sps.pocType == 1) {
      const int64_t cycle = static_cast<int64_t>(sps.refFrameOffsets.size());
      int64_t abs = cycle != 0 ? offset + s.frameNum : 0;
      if (s.nalRefIdc == 0 && abs > 0) --abs;
      int64_t expected = 0;
      if (abs > 0) {
        int64_t perCycle = 0;
        for (int32_t o : sps.refFrameOffsets) perCycle += o;
        int64_t cycles = (abs - 1) / cycle, inCycle = (abs - 1) % cycle;
        expected = cycles * perCycle;
        for (int64_t i = 0; i <= inCycle; ++i) expected += sps.refFrameOffsets[static_cast<size_t>(i)];
      }
      if (s.nalRefIdc == 0) expected += sps.offsetForNonRefPic;
      if (!s.field) {
        top = expected + s.deltaPoc[0];
        bottom = top + sps.offsetForTopToBottomField + s.deltaPoc[1];
      } else {
        top = expected + s.deltaPoc[0];
        bottom = expected + sps.offsetForTopToBottomField + s.deltaPoc[0];
      }
    } else {
      int64_t t = idr ? 0 : 2 * (offset + s.frameNum) - (s.nalRefIdc == 0 ? 1 : 0);
      top = bottom = t;
    }
    prevFrameNumOffset_ = offset;
    prevFrameNum_ = s.frameNum;
  }
  if (!s.field) return std::min(top, bottom);
  return s.bottom ? bottom : top;
}

int CH264Parser::HandleSlice(int64_t nalStart, unsigned type, unsigned refIdc, CNalReader& r, SStreamContext& ctx) {
  SSlice s;
  try {
    if (int e = ParseSliceHeader(r, type, refIdc, s)) return e;
  } catch (const FormatError&) {
    return kUnreadableSlice;
  }
  activeSps_ = s.spsId;
  const bool newPicture = !cur_ || !unit_ || !unit_->hasSlice || StartsNewPicture(*cur_, s);
  prev_ = cur_;
  cur_ = s;
  if (type == 5 && newPicture) {
    // The previous picture ends here and belongs to the GOP being flushed.
    if (unit_ && unit_->hasSlice) CloseUnit(nalStart);
    if (int e = FlushGop(ctx, true)) return e;
  }
  if (!unit_ || (newPicture && unit_->hasSlice)) {
    CloseUnit(nalStart);
    BeginUnit(nalStart);
  }
  static const uint32_t kPicType[5] = {2, 3, 1, 0, 0};  // P, B, I, SP, SI
  unit_->flags |= kPicType[s.sliceType];
  if (type == 5) unit_->flags |= kAuiKey;
  if (!unit_->timingSet) {
    unit_->pictureTiming = PictureTimingWord(s);
    unit_->timingSet = true;
  }
  if (newPicture) {
    CheckPictureTiming(s);
    unit_->poc = ComputePoc(s);
    unit_->field = s.field;
    unit_->bottom = s.bottom;
    unit_->frameNum = s.frameNum;
  }
  unit_->hasSlice = true;
  return kParseOk;
}

// ---- parameter sets

void CH264Parser::ParseHrd(CNalReader& r, SHrd& h) {
  h.present = true;
  uint32_t count = r.Ue() + 1;
  if (count > 32) throw FormatError("too many HRD schedules");
  unsigned rateScale = r.Bits(4), sizeScale = r.Bits(4);
  h.maxBitRate = h.maxCpbSize = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t rate = (uint64_t{r.Ue()} + 1) << (rateScale + 6);
    uint64_t size = (uint64_t{r.Ue()} + 1) << (sizeScale + 4);
    r.Flag();  // cbr_flag
    h.maxBitRate = std::max(h.maxBitRate, rate);
    h.maxCpbSize = std::max(h.maxCpbSize, size);
  }
  r.Bits(5);  // initial_cpb_removal_delay_length_minus1
  h.cpbRemovalDelayLength = r.Bits(5) + 1;
  h.dpbOutputDelayLength = r.Bits(5) + 1;
  r.Bits(5);  // time_offset_length
}

int CH264Parser::ParseVui(CNalReader& r, SSps& s, bool check) {
  if (r.Flag()) {  // aspect_ratio_info_present_flag
    s.aspectIdc = static_cast<uint8_t>(r.Bits(8));
    if (s.aspectIdc == 255) {
      s.sarWidth = static_cast<uint16_t>(r.Bits(16));
      s.sarHeight = static_cast<uint16_t>(r.Bits(16));
    }
  } else if (check) {
    return kParseNoAspectInfo;
  }
  if (r.Flag()) r.Flag();  // overscan_info_present_flag, overscan_appropriate_flag
  if (r.Flag()) {          // video_signal_type_present_flag
    r.Bits(4);             // video_format, video_full_range_flag
    if (r.Flag()) r.Bits(24);  // colour description
  }
  if (r.Flag()) {  // chroma_loc_info_present_flag
    r.Ue();
    r.Ue();
  }
  s.timing = r.Flag();
  if (s.timing) {
    s.numUnitsInTick = r.Bits(32);
    s.timeScale = r.Bits(32);
    s.fixedFrameRateBit = r.BitPos();
    s.fixedFrameRate = r.Flag();
  }
  if (check && (!s.timing || s.numUnitsInTick == 0 || s.timeScale == 0)) return kParseNoTimingInfo;
  // Checked against the pictures' timing when the stream has been read.
  if (s.timing && !s.fixedFrameRate) unfixedRate_ = true;
  if (r.Flag()) ParseHrd(r, s.nal);
  if (r.Flag()) ParseHrd(r, s.vcl);
  if (s.nal.present || s.vcl.present) {
    bool lowDelay = r.Flag();
    if (s.nal.present && lowDelay) return kParseWrongLowDelay;
  }
  s.picStructPresent = r.Flag();
  return kParseOk;
}

int CH264Parser::ParseSps(CNalReader& r, SStreamContext& ctx) {
  SSps s;
  s.profile = static_cast<uint8_t>(r.Bits(8));
  s.constraints = static_cast<uint8_t>(r.Bits(8));
  s.level = static_cast<uint8_t>(r.Bits(8));
  unsigned id = r.Ue();
  if (id > 31) return kParseSyntax;
  const bool check = firstSpsPending_;
  if (check && s.profile != 77 && s.profile != 100) return kParseWrongProfile;
  static const uint8_t kHighFamily[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(kHighFamily), std::end(kHighFamily), s.profile) != std::end(kHighFamily)) {
    s.chromaFormat = r.Ue();
    if (check && s.chromaFormat != 1) return kParseWrongChromaFormat;
    if (s.chromaFormat == 3) s.separateColourPlane = r.Flag();
    r.Ue();    // bit_depth_luma_minus8
    r.Ue();    // bit_depth_chroma_minus8
    r.Flag();  // qpprime_y_zero_transform_bypass_flag
    if (r.Flag()) {  // seq_scaling_matrix_present_flag
      int lists = s.chromaFormat == 3 ? 12 : 8;
      for (int i = 0; i < lists; ++i) {
        if (!r.Flag()) continue;
        int size = i < 6 ? 16 : 64, last = 8, next = 8;
        for (int j = 0; j < size && next != 0; ++j) {
          next = (last + r.Se() + 256) % 256;
          if (next != 0) last = next;
        }
      }
    }
  }
  s.log2MaxFrameNum = r.Ue() + 4;
  if (s.log2MaxFrameNum > 16) return kParseSyntax;
  s.pocType = r.Ue();
  if (s.pocType == 0) {
    s.log2MaxPocLsb = r.Ue() + 4;
    if (s.log2MaxPocLsb > 16) return kParseSyntax;
  } else if (s.pocType == 1) {
    s.deltaPicOrderAlwaysZero = r.Flag();
    s.offsetForNonRefPic = r.Se();
    s.offsetForTopToBottomField = r.Se();
    uint32_t n = r.Ue();
    if (n > 255) return kParseSyntax;
    for (uint32_t i = 0; i < n; ++i) s.refFrameOffsets.push_back(r.Se());
  } else if (s.pocType != 2) {
    return kParseSyntax;
  }
  r.Ue();  // max_num_ref_frames
  bool gaps = r.Flag();
  if (check && gaps) return kParseFrameGaps;
  uint64_t widthMbs = uint64_t{r.Ue()} + 1;
  uint64_t heightUnits = uint64_t{r.Ue()} + 1;
  s.frameMbsOnly = r.Flag();
  if (!s.frameMbsOnly) r.Flag();  // mb_adaptive_frame_field_flag
  r.Flag();                       // direct_8x8_inference_flag
  uint64_t crop[4] = {0, 0, 0, 0};
  if (r.Flag())
    for (auto& c : crop) c = r.Ue();
  s.vui = r.Flag();
  if (check && !s.vui) return kParseNoVui;
  if (s.vui) {
    int v = ParseVui(r, s, check);
    if (v != kParseOk) return v;
  }
  uint64_t width = widthMbs * 16, height = (2 - s.frameMbsOnly) * heightUnits * 16;
  uint64_t cropX = 2 * (crop[0] + crop[1]), cropY = (s.frameMbsOnly ? 2 : 4) * (crop[2] + crop[3]);
  if (width > 0xFFFF || height > 0xFFFF || cropX >= width || cropY >= height) return kParseSyntax;
  s.width = static_cast<uint32_t>(width - cropX);
  s.height = static_cast<uint32_t>(height - cropY);
  s.valid = true;
  sps_[id] = s;
  anySps_ = true;
  activeSps_ = id;
  if (s.vui && s.timing && s.timeScale != 0) frameDuration_ = s.numUnitsInTick * 2000.0 / s.timeScale;
  if (!check) return kParseOk;

  auto* rec = static_cast<CH264VideoSif*>(ctx.sif.get());
  rec->profile = s.profile;
  rec->level = s.level;
  rec->constraintByte = s.constraints;
  rec->width = s.width;
  rec->height = s.height;
  rec->progressive = s.frameMbsOnly ? 1 : 0;
  rec->sarIndex = s.aspectIdc;
  if (s.aspectIdc == 255) {
    // 4:3 only when the display shape is exactly 4:3.
    uint64_t num = uint64_t{s.sarWidth} * s.width * 3, den = uint64_t{s.sarHeight} * s.height * 4;
    rec->aspectRatio = (den != 0 && num == den) ? kAspect4x3 : kAspect16x9;
  } else {
    rec->aspectRatio = DisplayAspectFromSar(s.aspectIdc, s.width, s.height);
  }
  const double fps = s.timeScale / (2.0 * s.numUnitsInTick);
  rec->frameRate = FrameRateCodeFromFps(fps);
  if (s.nal.present) {
    rec->cpbSize = static_cast<uint32_t>(std::min<uint64_t>(s.nal.maxCpbSize, 0xFFFFFFFFu));
    maxBitRate_ = s.nal.maxBitRate;
    if (s.nal.maxCpbSize > 30000000) return kParseCpbOverflow;
    if (s.nal.maxBitRate > 40000000) return kParseBitrateOverflow;
  }
  int v = rec->Validate();
  if (v == kParseWrongFrameRate) {
    if (rec->frameRate != kFrUnknown) return kParseOk;  // a known rate: accepted, checked again on the next SPS
    if (prompt) {
      char text[96];
      std::snprintf(text, sizeof text, "Error: Unsupported FrameRate value %2.3f! ", fps);
      prompt->Message(text);
    }
    ctx.errorDetail = DiscVideoFormatRefusal(s.width, s.height, s.frameMbsOnly, fps);
    return v;
  }
  if (v == kParseWrongVideoFormat) ctx.errorDetail = DiscVideoFormatRefusal(s.width, s.height, s.frameMbsOnly, fps);
  if (v != kParseOk) return v;
  firstSpsPending_ = false;
  return kParseOk;
}

int CH264Parser::ParsePps(CNalReader& r) {
  SPps p;
  unsigned id = r.Ue();
  p.spsId = r.Ue();
  if (id > 255 || p.spsId > 31) return kParseSyntax;
  r.Flag();  // entropy_coding_mode_flag
  p.bottomFieldPicOrderPresent = r.Flag();
  uint32_t groups = r.Ue() + 1;
  if (groups > 8) return kParseSyntax;
  if (groups > 1) {
    uint32_t mapType = r.Ue();
    if (mapType == 0) {
      for (uint32_t i = 0; i < groups; ++i) r.Ue();
    } else if (mapType == 2) {
      for (uint32_t i = 0; i + 1 < groups; ++i) {
        r.Ue();
        r.Ue();
      }
    } else if (mapType >= 3 && mapType <= 5) {
      r.Flag();
      r.Ue();
    } else if (mapType == 6) {
      uint32_t units = r.Ue() + 1;
      unsigned bits = 0;
      while ((1u << bits) < groups) ++bits;
      r.Skip(uint64_t{units} * bits);
    } else if (mapType > 6) {
      return kParseSyntax;
    }
  }
  r.Ue();     // num_ref_idx_l0_default_active_minus1
  r.Ue();     // num_ref_idx_l1_default_active_minus1
  r.Bits(3);  // weighted_pred_flag, weighted_bipred_idc
  r.Se();     // pic_init_qp_minus26
  r.Se();     // pic_init_qs_minus26
  r.Se();     // chroma_qp_index_offset
  r.Bits(2);  // deblocking_filter_control_present_flag, constrained_intra_pred_flag
  p.redundantPicCntPresent = r.Flag();
  p.valid = true;
  pps_[id] = p;
  return kParseOk;
}

void CH264Parser::ParseSei(CNalReader& r) {
  const SSps& sps = sps_[activeSps_];
  while (!r.AtTrailingBits()) {
    uint32_t type = 0, size = 0, b;
    while ((b = r.Bits(8)) == 0xFF) type += 255;
    type += b;
    while ((b = r.Bits(8)) == 0xFF) size += 255;
    size += b;
    const uint64_t end = r.BitPos() + uint64_t{size} * 8;
    if (type == 1 && sps.valid) {
      // Kept for the picture this SEI begins, and (as the time stamps expect)
      // in the record of the slice before it.
      SPendingTiming t;
      const SHrd* hrd = sps.nal.present ? &sps.nal : sps.vcl.present ? &sps.vcl : nullptr;
      uint32_t dpbOutputDelay = 0;
      if (hrd) {
        t.cpbRemovalDelay = r.Bits(hrd->cpbRemovalDelayLength);
        t.cpbLength = hrd->cpbRemovalDelayLength;
        dpbOutputDelay = r.Bits(hrd->dpbOutputDelayLength);
        t.hasCpb = true;
      }
      if (sps.picStructPresent) {
        t.picStruct = static_cast<uint8_t>(r.Bits(4));
        t.hasPicStruct = true;
      }
      pendingTiming_ = t;
      if (cur_) {
        if (t.hasCpb) {
          cur_->cpbRemovalDelay = t.cpbRemovalDelay;
          cur_->dpbOutputDelay = dpbOutputDelay;
          cur_->hasCpb = true;
        }
        if (t.hasPicStruct) {
          cur_->picStruct = t.picStruct;
          cur_->picStructPresent = true;
        }
      }
    }
    if (r.BitPos() > end) return;
    r.Skip(end - r.BitPos());
  }
}

// ---- time stamps

int CH264Parser::FlushGop(SStreamContext& ctx, bool atIdr) {
  if (gop_.empty()) return kParseOk;
  const int64_t n = static_cast<int64_t>(gop_.size());
  ArchiveOut out;
  const bool fields = std::any_of(gop_.begin(), gop_.end(), [](const SUnit& u) { return u.field; });
  if (fields) {
    if (int r = FlushFieldGop(ctx, out)) return r;
  } else {
    int64_t periods = 2;
    if (cur_ && cur_->picStructPresent) {
      switch (cur_->picStruct) {
        case 0: case 3: case 4: periods = 2; break;
        case 1: case 2: periods = 1; break;
        case 5: case 6: periods = 3; break;
        case 7: periods = 4; break;
        case 8: periods = 6; break;
        default: break;
      }
    }
    // Frames are counted from the decode clock, which GOPs of fields
    // before this one advanced in field periods.
    const int64_t first = fieldClock_ / 2 - gop_.front().decodeIndex;
    auto decodeIndex = [&](const SUnit& u) { return u.decodeIndex + first; };

    std::vector<int64_t> pocs;
    pocs.reserve(gop_.size());
    for (const auto& u : gop_) pocs.push_back(u.poc);
    std::sort(pocs.begin(), pocs.end());
    const int64_t minPoc = pocs[0];
    const int64_t step = (pocs.size() >= 2 && pocs[1] - pocs[0] == 2) ? 2 : 1;
    const SUnit& lowest = *std::find_if(gop_.begin(), gop_.end(), [&](const SUnit& u) { return u.poc == minPoc; });
    // An I picture first is shown one frame after it is decoded. No picture
    // may be shown before it is decoded: B-pyramids need more delay, and the
    // delay never shrinks, or the GOPs' presentation times would overlap.
    int64_t delay = (lowest.flags & kAuiPictureTypeMask) == 1 ? 1 : 0;
    for (const auto& u : gop_)
      displayDelay_ = std::max(displayDelay_, decodeIndex(u) - (u.poc - minPoc) / step - decodeIndex(lowest));
    const int64_t base = decodeIndex(lowest) + std::max(delay, displayDelay_);

    const double tick = 90.0 * frameDuration_ * (static_cast<double>(periods) / 2.0);
    auto displayIndex = [&](const SUnit& u) { return base + (u.poc - minPoc) / step; };
    if (!t0Set_) {
      t0_ = kFirstPts - tick * static_cast<double>(displayIndex(gop_[0]) + correction_);
      t0Set_ = true;
    }
    bool wild = false;
    auto stamp = [&](int64_t index) { return StampOf(t0_ + tick * static_cast<double>(index + correction_), wild); };

    auto* rec = static_cast<CH264VideoSif*>(ctx.sif.get());
    GOP_INF gi;
    bool haveI = false;
    int64_t written = 0;
    for (const SUnit& u : gop_) {
      AUI a;
      a.size = u.size;
      a.offset = static_cast<uint64_t>(u.start);
      a.flags = u.flags;
      a.dts = stamp(decodeIndex(u));
      a.pts = stamp(displayIndex(u));
      a.pictureTiming = u.pictureTiming;
      a.Save(out);
      payloadTotal_ += a.size;
      if (!haveI && (u.flags & kAuiPictureTypeMask) == 1) {
        haveI = true;
        gi.iIndex = static_cast<uint32_t>(written);
        gi.iOffset = a.offset;
        gi.iSize = a.size;
      }
      ++written;
    }
    // Times past what 64 bits hold come only from wild timing values.
    if (wild) return kParseSyntax;
    gi.frames = static_cast<uint8_t>(std::min<int64_t>(written, 255));
    rec->gops.push_back(gi);
    recordsWritten_ += static_cast<uint32_t>(written);
    fieldClock_ += 2 * n;
  }
  gop_.clear();
  // The IDR's picture timing (stored with the slice before it) says how many
  // field periods after the previous IDR it is decoded; a delay longer than
  // the GOP just written leaves a gap before the new GOP.
  if (atIdr) {
    const int64_t wait = (prev_ && prev_->hasCpb) ? prev_->cpbRemovalDelay : 0;
    if (2 * n < wait) correction_ += wait / 2 - n;
  }
  if (!ctx.sifFile.Write(out.Bytes().data(), out.Bytes().size())) return kParseWriteError;
  ctx.Publish(recordsWritten_, frameDuration_);
  return kParseOk;
}

// A GOP holding field pictures, possibly mixed with frames. The two fields
// of a frame follow each other in decode order with opposite parity and the
// same frame_num; they become one record. A field without its partner is a
// record of its own, so that no byte of the stream is left out. Times are
// counted in field periods: a frame or field pair lasts two, a lone field
// one.
int CH264Parser::FlushFieldGop(SStreamContext& ctx, ArchiveOut& out) {
  struct SRec {
    size_t first = 0, count = 1;
    int64_t poc = 0, duration = 2, decodePos = 0, displayPos = 0;
  };
  std::vector<SRec> recs;
  int64_t clock = fieldClock_;
  for (size_t i = 0; i < gop_.size(); ++i) {
    SRec r;
    r.first = i;
    r.poc = gop_[i].poc;
    const SUnit& u = gop_[i];
    if (u.field) {
      const bool paired = i + 1 < gop_.size() && gop_[i + 1].field && gop_[i + 1].bottom != u.bottom &&
                          gop_[i + 1].frameNum == u.frameNum;
      if (paired) {
        r.count = 2;
        r.poc = std::min(u.poc, gop_[i + 1].poc);
        ++i;
      } else {
        r.duration = 1;
      }
    }
    r.decodePos = clock;
    clock += r.duration;
    recs.push_back(r);
  }
  // Display positions follow the order of the picture order counts.
  std::vector<size_t> order(recs.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return recs[a].poc < recs[b].poc; });
  int64_t rel = 0;
  for (size_t k : order) {
    recs[k].displayPos = rel;
    rel += recs[k].duration;
  }
  const SRec& lowest = recs[order[0]];
  // As for frames: an I picture first is shown one picture after it is
  // decoded, and no picture before it is decoded.
  const int64_t delay = (gop_[lowest.first].flags & kAuiPictureTypeMask) == 1 ? lowest.duration : 0;
  for (const SRec& r : recs)
    fieldDisplayDelay_ = std::max(fieldDisplayDelay_, r.decodePos - r.displayPos - lowest.decodePos);
  const int64_t base = lowest.decodePos + std::max(delay, fieldDisplayDelay_);

  const double tick = 90.0 * frameDuration_ / 2.0;  // one field period
  if (!t0Set_) {
    t0_ = kFirstPts - tick * static_cast<double>(base + recs[0].displayPos + correction_);
    t0Set_ = true;
  }
  bool wild = false;
  auto stamp = [&](int64_t pos) { return StampOf(t0_ + tick * static_cast<double>(pos + correction_), wild); };

  auto* rec = static_cast<CH264VideoSif*>(ctx.sif.get());
  GOP_INF gi;
  bool haveI = false;
  for (size_t k = 0; k < recs.size(); ++k) {
    const SRec& r = recs[k];
    const SUnit& u = gop_[r.first];
    AUI a;
    a.size = u.size;
    if (r.count == 2) a.size += gop_[r.first + 1].size;
    a.offset = static_cast<uint64_t>(u.start);
    a.flags = u.flags;
    a.dts = stamp(r.decodePos);
    a.pts = stamp(base + r.displayPos);
    a.pictureTiming = u.pictureTiming;
    a.Save(out);
    payloadTotal_ += a.size;
    if (!haveI && (u.flags & kAuiPictureTypeMask) == 1) {
      haveI = true;
      gi.iIndex = static_cast<uint32_t>(k);
      gi.iOffset = a.offset;
      gi.iSize = a.size;
    }
  }
  if (wild) return kParseSyntax;
  gi.frames = static_cast<uint8_t>(std::min<size_t>(recs.size(), 255));
  rec->gops.push_back(gi);
  recordsWritten_ += static_cast<uint32_t>(recs.size());
  fieldClock_ = clock;
  return kParseOk;
}

}  // namespace zv

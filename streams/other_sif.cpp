#include "streams/other_sif.h"

#include "streams/parse_result.h"

namespace zv {

template <class T>
static void CopyIfSame(T& self, const CSifData& o) {
  if (auto* p = dynamic_cast<const T*>(&o)) self = *p;
}

// ---- MPEG-2 video

void CMpeg2VideoSif::CopyFrom(const CSifData& o) { CopyIfSame(*this, o); }

bool CMpeg2VideoSif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CMpeg2VideoSif*>(&o);
  return p && SameVideoCoding(*p);
}

int CMpeg2VideoSif::Validate() {
  videoFormat = DeriveVideoFormat(height, progressive != 0, videoFormat);
  return FrameRateAllowed(videoFormat, frameRate) ? kParseOk : kParseWrongFrameRate;
}

void CMpeg2VideoSif::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = kSctMpeg2;
  es.descriptors.push_back(HdmvRegistration(kSctMpeg2));
}

int CMpeg2VideoSif::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = SPacketRule::kMpeg2;
  out1->levels = {68, profile * 16 + level};
  return 1;
}

bool CMpeg2VideoSif::Load(ArchiveIn& in) {
  if (!CVideoSif::Load(in)) return false;
  sequenceHeaders = in.U32();
  sequenceEnds = in.U32();
  firstSequenceOffset = in.U32();
  firstSequenceLength = in.U32();
  return true;
}

void CMpeg2VideoSif::Save(ArchiveOut& out) const {
  CVideoSif::Save(out);
  out.U32(sequenceHeaders);
  out.U32(sequenceEnds);
  out.U32(firstSequenceOffset);
  out.U32(firstSequenceLength);
}

// ---- VC-1

void CVc1Sif::CopyFrom(const CSifData& o) { CopyIfSame(*this, o); }

bool CVc1Sif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CVc1Sif*>(&o);
  return p && SameVideoCoding(*p) && hrdRate == p->hrdRate && hrdBuffer == p->hrdBuffer;
}

int CVc1Sif::Validate() {
  if (aspectRatio != kAspect4x3 && aspectRatio != kAspect16x9) return kParseWrongAspectRatio;
  if (width == 720) {
    if (level != 2) return kParseWrongLevel;
    if (hrdRate > 20000000) return kParseBitrateOverflow;
  } else if (height == 1080 || height == 720) {
    if (level != 3) return kParseWrongLevel;
    if (hrdRate > 40000000) return kParseBitrateOverflow;
  }
  if ((width == 720 || height == 1080 || height == 720) && hrdBuffer > 30000000) return kParseVideoBufferOverflow;
  return FrameRateAllowed(videoFormat, frameRate) ? kParseOk : kParseWrongFrameRate;
}

void CVc1Sif::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = kSctVc1;
  es.descriptors.push_back(HdmvRegistration(kSctVc1));
  // "VC-1" registration with the profile-level sub-descriptor (tag 1).
  es.descriptors.push_back({0x05, {'V', 'C', '-', '1', 0x01, static_cast<uint8_t>(0x91 + level)}});
}

int CVc1Sif::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = SPacketRule::kVc1;
  out1->levels = {level};
  return 1;
}

bool CVc1Sif::Load(ArchiveIn& in) {
  if (!CVideoSif::Load(in) || version < 3) return false;
  hrdRate = in.U32();
  hrdBuffer = in.U32();
  return true;
}

void CVc1Sif::Save(ArchiveOut& out) const {
  CVideoSif::Save(out);
  out.U32(hrdRate);
  out.U32(hrdBuffer);
}

// ---- DTS

int CDTSSif::CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const {
  bool hd = codingType == kSctDtsHdHr || codingType == kSctDtsHdMa;
  out1->model = codingType == kSctDtsHdSecondary ? SPacketRule::kDtsHd : SPacketRule::kDts;
  if (codingType == kSctDtsHdSecondary) out1->primary = false;
  if (!hd) return 1;
  out2->model = SPacketRule::kDtsHd;
  return 2;
}

}  // namespace zv

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

// ---- LPCM

void PCM_WAVE_FORMAT::CopyFrom(const CSifData& o) { CopyIfSame(*this, o); }

bool PCM_WAVE_FORMAT::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const PCM_WAVE_FORMAT*>(&o);
  return p && formatTag == p->formatTag && channels == p->channels && samplesPerSec == p->samplesPerSec &&
         avgBytesPerSec == p->avgBytesPerSec && blockAlign == p->blockAlign && bitsPerSample == p->bitsPerSample &&
         validBits == p->validBits && channelMask == p->channelMask && subFormat == p->subFormat;
}

uint8_t PCM_WAVE_FORMAT::GetPresentationType() const { return channels == 1 ? 1 : channels == 2 ? 3 : 6; }

uint8_t PCM_WAVE_FORMAT::GetSamplingFrequency() const {
  return samplesPerSec == 48000 ? 1 : samplesPerSec == 96000 ? 4 : 0;
}

void PCM_WAVE_FORMAT::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = kSctLpcm;
  uint8_t bits = validBits == 16 ? 1 : validBits == 20 ? 2 : 3;
  es.descriptors.push_back({0x05,
                            {'H', 'D', 'M', 'V', 0xFF, kSctLpcm,
                             static_cast<uint8_t>((GetPresentationType() << 4) | GetSamplingFrequency()),
                             static_cast<uint8_t>((bits << 6) | 0x3F)}});
}

int PCM_WAVE_FORMAT::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = SPacketRule::kLpcm;
  out1->lpcm192k = samplesPerSec == 192000;
  return 1;
}

bool PCM_WAVE_FORMAT::Load(ArchiveIn& in) {
  formatTag = in.U16();
  channels = in.U16();
  samplesPerSec = in.U32();
  avgBytesPerSec = in.U32();
  blockAlign = in.U16();
  bitsPerSample = in.U16();
  validBits = bitsPerSample;
  if (formatTag == 1) return true;
  if (formatTag != 0xFFFE) return false;
  uint16_t extSize = in.U16();
  if (extSize < 22) return false;
  validBits = in.U16();
  channelMask = in.U32();
  in.Raw(subFormat.data(), subFormat.size());
  for (uint16_t i = 22; i < extSize; ++i) in.U8();
  return validBits <= bitsPerSample;
}

void PCM_WAVE_FORMAT::Save(ArchiveOut& out) const {
  out.U16(formatTag);
  out.U16(channels);
  out.U32(samplesPerSec);
  out.U32(avgBytesPerSec);
  out.U16(blockAlign);
  out.U16(bitsPerSample);
  if (formatTag == 0xFFFE) {
    out.U16(22);
    out.U16(validBits);
    out.U32(channelMask);
    out.Raw(subFormat.data(), subFormat.size());
  }
}

// ---- MLP / TrueHD

void MLP_HEADER_INFO::CopyFrom(const CSifData& o) { CopyIfSame(*this, o); }

bool MLP_HEADER_INFO::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const MLP_HEADER_INFO*>(&o);
  return p && format == p->format && wordSize1 == p->wordSize1 && sampleRate1 == p->sampleRate1 &&
         sampleRate2 == p->sampleRate2 && mlpAssignment == p->mlpAssignment && assignment6ch == p->assignment6ch &&
         assignment8ch == p->assignment8ch && samplesPerAu == p->samplesPerAu && substreams == p->substreams;
}

int MLP_HEADER_INFO::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = SPacketRule::kMlp;
  return 1;
}

bool MLP_HEADER_INFO::Load(ArchiveIn& in) {
  version = in.U32();
  format = in.U8();
  wordSize1 = in.U8();
  wordSize2 = in.U8();  // stored as the group-1 size again
  sampleRate1 = in.U32();
  sampleRate2 = in.U32();
  mlpAssignment = in.U8();
  assignment6ch = in.U8();
  assignment8ch = in.U16();
  samplesPerAu = in.U32();
  secondBlockSize = in.U32();
  variableRate = in.U8();
  peakRate = in.U32();
  substreams = in.U8();
  return true;
}

void MLP_HEADER_INFO::Save(ArchiveOut& out) const {
  out.U32(version);
  out.U8(format);
  out.U8(wordSize1);
  out.U8(wordSize1);
  out.U32(sampleRate1);
  out.U32(sampleRate2);
  out.U8(mlpAssignment);
  out.U8(assignment6ch);
  out.U16(assignment8ch);
  out.U32(samplesPerAu);
  out.U32(secondBlockSize);
  out.U8(variableRate);
  out.U32(peakRate);
  out.U8(substreams);
}

}  // namespace zv

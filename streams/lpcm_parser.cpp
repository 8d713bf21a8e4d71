#include "streams/lpcm_parser.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <limits>

#include "platform/paths.h"
#include "streams/parse_result.h"
#include "streams/riff_wave.h"

namespace zv {

namespace {

// The integer-PCM sub-format of the extensible form
// (00000001-0000-0010-8000-00AA00389B71, stored little-endian).
constexpr std::array<uint8_t, 16> kPcmSubFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A format chunk longer than this is not a WAV format structure.
constexpr uint32_t kMaxFmtChunk = 1024;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// Disc slot -> WAV channel, for WAV's FL FR FC LFE BL BR (SL SR).
constexpr uint8_t kOrder51[6] = {0, 1, 2, 4, 5, 3};
constexpr uint8_t kOrder71[8] = {0, 1, 2, 6, 4, 5, 7, 3};

}  // namespace

// ---- record

void PCM_WAVE_FORMAT::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const PCM_WAVE_FORMAT*>(&o)) *this = *p;
}

bool PCM_WAVE_FORMAT::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const PCM_WAVE_FORMAT*>(&o);
  return p && formatTag == p->formatTag && channels == p->channels && samplesPerSec == p->samplesPerSec &&
         avgBytesPerSec == p->avgBytesPerSec && blockAlign == p->blockAlign && bitsPerSample == p->bitsPerSample &&
         validBits == p->validBits && channelMask == p->channelMask && subFormat == p->subFormat;
}

int PCM_WAVE_FORMAT::Validate() {
  if (formatTag != kTagPcm && formatTag != kTagExtensible) return kParseUnknownFormat;
  if (samplesPerSec != 48000 && samplesPerSec != 96000 && samplesPerSec != 192000) return kParseWrongSampleRate;
  if (validBits != 16 && validBits != 20 && validBits != 24) return kParseWrongSampleBits;
  const bool channelsOk = samplesPerSec == 192000 ? (channels == 2 || channels == 4 || channels == 6)
                                                  : (channels == 2 || channels == 4 || channels == 6 || channels == 8);
  if (!channelsOk) return kParseWrongChannelCount;
  // A layout no disc assignment holds whole would lose a channel.
  if (ChannelAssignment() == 0) return kParseWrongChannelCount;
  // The disc stores 2- or 3-byte samples: 24 bits in a 32-bit container, or
  // floating point behind the extensible tag, would be served as garbage.
  if (bitsPerSample != 16 && bitsPerSample != 20 && bitsPerSample != 24) return kParseWrongSampleBits;
  if (formatTag == kTagExtensible && subFormat != kPcmSubFormat) return kParseWrongSampleBits;
  // Units are cut by the byte rate: it must describe whole sample frames.
  if (blockAlign != channels * BytesPerSample() || avgBytesPerSec != samplesPerSec * blockAlign)
    return kParseUnknownFormat;
  return kParseOk;
}

uint8_t PCM_WAVE_FORMAT::GetPresentationType() const { return channels == 1 ? 1 : channels == 2 ? 3 : 6; }

uint8_t PCM_WAVE_FORMAT::GetSamplingFrequency() const {
  switch (samplesPerSec) {
    case 48000: return 1;
    case 96000: return 4;
    case 192000: return 5;
    default: return 0;
  }
}

namespace {

// WAV speaker bits.
constexpr uint32_t kFL = 1u << 0, kFR = 1u << 1, kFC = 1u << 2, kLFE = 1u << 3, kBL = 1u << 4, kBR = 1u << 5,
                   kBC = 1u << 8, kSL = 1u << 9, kSR = 1u << 10;

unsigned PopCount(uint32_t v) {
  unsigned n = 0;
  for (; v; v &= v - 1) ++n;
  return n;
}

}  // namespace

uint32_t PCM_WAVE_FORMAT::SpeakerMask() const {
  if (channelMask != 0) return channelMask;
  // Without a mask the channels are in the default layout of their count,
  // as decoders read such files: 4.0, 5.1 and 7.1.
  switch (channels) {
    case 2: return kFL | kFR;
    case 4: return kFL | kFR | kFC | kBC;
    case 6: return kFL | kFR | kFC | kLFE | kBL | kBR;
    case 8: return kFL | kFR | kFC | kLFE | kBL | kBR | kSL | kSR;
    default: return 0;
  }
}

uint8_t PCM_WAVE_FORMAT::ChannelAssignment() const {
  // Two channels are stereo whatever the mask says.
  if (channels == 2) return 3;
  // Every channel must land on a speaker of a disc layout with exactly as
  // many channels: a layout with fewer would leave one unplayed. The one
  // surround pair of quad and 5.1 is a WAV's back or side pair alike.
  const uint32_t m = SpeakerMask();
  if (PopCount(m) != channels) return 0;
  switch (channels) {
    case 4:
      if (m == (kFL | kFR | kFC | kBC)) return 6;
      if (m == (kFL | kFR | kBL | kBR) || m == (kFL | kFR | kSL | kSR)) return 7;
      return 0;
    case 6:
      return m == (kFL | kFR | kFC | kLFE | kBL | kBR) || m == (kFL | kFR | kFC | kLFE | kSL | kSR) ? 9 : 0;
    case 8: return m == (kFL | kFR | kFC | kLFE | kBL | kBR | kSL | kSR) ? 11 : 0;
    default: return 0;
  }
}

std::string PCM_WAVE_FORMAT::LayoutRefusal() const {
  static const char* const kNames[18] = {"FL", "FR", "FC", "LFE", "BL", "BR", "FLC", "FRC", "BC",
                                         "SL", "SR", "TC", "TFL", "TFC", "TFR", "TBL", "TBC", "TBR"};
  const uint32_t m = SpeakerMask();
  std::string speakers;
  for (unsigned b = 0; b < 32; ++b) {
    if (!(m & (1u << b))) continue;
    if (!speakers.empty()) speakers += ' ';
    speakers += b < 18 ? kNames[b] : "bit" + std::to_string(b);
  }
  std::string s = "The WAV has " + std::to_string(channels) + " channels";
  if (PopCount(m) != channels)
    s += " but its channel mask (0x" + [&] {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%X", m);
      return std::string(hex);
    }() + ") names " + std::to_string(PopCount(m)) + " speakers (" + speakers + ")";
  else
    s += " (" + speakers + ")";
  s += "; a disc carries LPCM as 2.0, 4.0 (FL FR FC BC), quad (FL FR and a surround pair), 5.1 or 7.1, and no "
       "channel may be left out. Remix it to one of them, e.g. `ffmpeg -i IN.wav -af "
       "aformat=channel_layouts=5.1 -c:a pcm_s24le OUT.wav`.";
  return s;
}

namespace {
uint8_t BitsCode(unsigned bits) { return bits == 16 ? 1 : bits == 20 ? 2 : bits == 24 ? 3 : 0; }
}  // namespace

uint8_t PCM_WAVE_FORMAT::ContainerBitsCode() const { return BitsCode(bitsPerSample); }

uint8_t PCM_WAVE_FORMAT::ValidBitsCode() const {
  const uint8_t c = BitsCode(validBits);
  return c ? c : 3;
}

void PCM_WAVE_FORMAT::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = kSctLpcm;
  es.descriptors.push_back({0x05,
                            {'H', 'D', 'M', 'V', 0xFF, kSctLpcm,
                             static_cast<uint8_t>((GetPresentationType() << 4) | GetSamplingFrequency()),
                             static_cast<uint8_t>((ValidBitsCode() << 6) | 0x3F)}});
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
  channelMask = 0;
  subFormat = {};
  if (formatTag == kTagPcm) return true;
  if (formatTag != kTagExtensible) return false;
  const uint16_t extSize = in.U16();
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
  if (formatTag == kTagExtensible) {
    out.U16(22);
    out.U16(validBits);
    out.U32(channelMask);
    out.Raw(subFormat.data(), subFormat.size());
  }
}

// ---- sample conversion

const uint8_t* DiscChannelOrder(const PCM_WAVE_FORMAT& fmt) {
  switch (fmt.ChannelAssignment()) {
    case 9: return kOrder51;
    case 11: return kOrder71;
    default: return nullptr;
  }
}

namespace {

// Byte order and channel order of whole frames, with the sample size and
// channel count known to the compiler.
template <unsigned B, unsigned N>
size_t ConvertFrames(uint8_t* data, size_t size, const uint8_t* order) {
  constexpr size_t kFrame = size_t{B} * N;
  size_t done = 0;
  for (; done + kFrame <= size; done += kFrame) {
    uint8_t tmp[kFrame];
    uint8_t* f = data + done;
    std::memcpy(tmp, f, kFrame);
    for (unsigned slot = 0; slot < N; ++slot) {
      const uint8_t* s = tmp + order[slot] * B;
      uint8_t* d = f + slot * B;
      d[0] = s[B - 1];
      if (B == 3) d[1] = s[1];
      d[B - 1] = s[0];
    }
  }
  return done;
}

}  // namespace

void ConvertLpcmToDisc(uint8_t* data, size_t size, const PCM_WAVE_FORMAT& fmt) {
  const unsigned bytes = fmt.BytesPerSample();
  if (bytes != 2 && bytes != 3) return;
  size_t done = 0;
  if (const uint8_t* order = DiscChannelOrder(fmt)) {
    if (fmt.channels == 6) done = bytes == 2 ? ConvertFrames<2, 6>(data, size, order) : ConvertFrames<3, 6>(data, size, order);
    if (fmt.channels == 8) done = bytes == 2 ? ConvertFrames<2, 8>(data, size, order) : ConvertFrames<3, 8>(data, size, order);
  }
  uint8_t* rest = data + done;
  const size_t left = size - done;
  if (bytes == 2) {
    for (size_t i = 0; i + 1 < left; i += 2) std::swap(rest[i], rest[i + 1]);
  } else {
    for (size_t i = 0; i + 2 < left; i += 3) std::swap(rest[i], rest[i + 2]);
  }
}

// ---- parser

bool CLPCMParser::Probe(File& file) {
  uint8_t b[44];
  size_t got = 0;
  return ReadHead(file, b, sizeof b, got) && got > 43 && IsRiffWaveHead(b, got);
}

int CLPCMParser::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  if (path.empty()) return kParseOpenError;
  File f;
  if (!f.Open(path, File::kRead)) return kParseOpenError;
  if (!Probe(f)) return kParseUnknownFormat;
  ctx.header = SSifHeader{};
  std::memcpy(ctx.header.magic, "RSIF", 4);
  ctx.header.streamCodingType = kSctLpcm;
  ctx.sif = CreateSifData(kSctLpcm);
  int r = Parse(f, ctx, progress);
  if (r != kParseOk) return r;
  ctx.header.sourceTime = FileTimeNs(path);
  // No unit table: the record's size (plain or extensible) moves nothing.
  if (int w = WriteSifHead(ctx)) return w;
  progress.Value(100);
  return kParseOk;
}

int CLPCMParser::Parse(File& file, SStreamContext& ctx, const Progress&) {
  auto* fmt = dynamic_cast<PCM_WAVE_FORMAT*>(ctx.sif.get());
  if (!fmt) return kParseUnknownFormat;
  SRiffWave wave;
  switch (ReadRiffWave(file, wave)) {
    case RiffResult::kOk: break;
    case RiffResult::kReadError:
    case RiffResult::kNoData: return kParseReadError;
    default: return kParseUnknownFormat;
  }
  if (wave.formatSize > kMaxFmtChunk) return kParseUnknownFormat;
  // Floating point is named by its tag; it is not a format the disc has.
  if (Le16(wave.format.data()) == PCM_WAVE_FORMAT::kTagFloat) return kParseWrongSampleBits;
  try {
    ArchiveIn in(wave.format);
    if (!fmt->Load(in)) return kParseUnknownFormat;
  } catch (const ArchiveError&) {
    return kParseUnknownFormat;
  }
  if (int v = fmt->Validate()) {
    // A count the disc has, in a layout it has no place for: say which.
    const bool countOk = fmt->channels == 4 || fmt->channels == 6 || (fmt->channels == 8 && fmt->samplesPerSec != 192000);
    if (v == kParseWrongChannelCount && countOk && fmt->ChannelAssignment() == 0)
      ctx.errorDetail = fmt->LayoutRefusal();
    return v;
  }

  SSifHeader& h = ctx.header;
  h.auDuration = 5.0;
  h.bitRate = fmt->avgBytesPerSec * 8;
  if (wave.dataOffset > std::numeric_limits<uint32_t>::max()) return kParseReadError;
  h.firstFrameOffset = static_cast<uint32_t>(wave.dataOffset);
  h.payloadSize = wave.dataSize;
  h.auCount = static_cast<uint32_t>(wave.dataSize / fmt->AuSize());
  // Not even one 5 ms unit: nothing to play.
  if (h.auCount == 0) return kParseReadError;
  return kParseOk;
}

}  // namespace zv

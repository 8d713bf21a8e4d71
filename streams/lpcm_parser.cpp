#include "streams/lpcm_parser.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/paths.h"
#include "streams/parse_result.h"

namespace zv {

namespace {

// The integer-PCM sub-format of the extensible form
// (00000001-0000-0010-8000-00AA00389B71, stored little-endian).
constexpr std::array<uint8_t, 16> kPcmSubFormat = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                   0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// A format chunk longer than this is not a WAV format structure.
constexpr uint32_t kMaxFmtChunk = 1024;

uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
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

uint8_t PCM_WAVE_FORMAT::ChannelAssignment() const {
  const bool fc = channelMask & kFrontCenter, lfe = channelMask & kLowFrequency, bc = channelMask & kBackCenter;
  switch (channels) {
    case 2: return 3;
    case 4:
      if (channelMask == 0) return 4;
      return fc ? (bc ? 6 : 4) : (bc ? 5 : 7);
    // Without a mask the channels are in the usual 5.1 and 7.1 order; the
    // layouts without LFE would leave the last channel unplayed.
    case 6: return lfe || channelMask == 0 ? 9 : 8;
    case 8: return lfe || channelMask == 0 ? 11 : 10;
    default: return 0;
  }
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
  return ReadHead(file, b, sizeof b, got) && got > 43 && std::memcmp(b, "RIFF", 4) == 0 &&
         std::memcmp(b + 8, "WAVE", 4) == 0 && std::memcmp(b + 12, "fmt ", 4) == 0;
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
  const int64_t length = file.Length();
  if (length < 0) return kParseReadError;
  uint8_t head[20];
  if (!file.ReadExactAt(0, head, sizeof head)) return kParseReadError;
  const uint32_t fmtSize = Le32(head + 16);
  if (fmtSize < 16 || fmtSize > kMaxFmtChunk || 20 + int64_t{fmtSize} > length) return kParseUnknownFormat;
  std::vector<uint8_t> body(fmtSize);
  if (!file.ReadExactAt(20, body.data(), body.size())) return kParseReadError;
  // Floating point is named by its tag; it is not a format the disc has.
  if (Le16(body.data()) == PCM_WAVE_FORMAT::kTagFloat) return kParseWrongSampleBits;
  try {
    ArchiveIn in(body);
    if (!fmt->Load(in)) return kParseUnknownFormat;
  } catch (const ArchiveError&) {
    return kParseUnknownFormat;
  }
  if (int v = fmt->Validate()) return v;

  SSifHeader& h = ctx.header;
  h.auDuration = 5.0;
  h.bitRate = fmt->avgBytesPerSec * 8;
  // RIFF chunks are padded to an even length.
  int64_t pos = 20 + int64_t{fmtSize} + (fmtSize & 1);
  uint8_t chunk[8];
  while (pos + 8 <= length) {
    if (!file.ReadExactAt(pos, chunk, sizeof chunk)) return kParseReadError;
    const uint32_t size = Le32(chunk + 4);
    pos += 8;
    if (std::memcmp(chunk, "data", 4) != 0) {
      pos += int64_t{size} + (size & 1);
      continue;
    }
    if (pos > std::numeric_limits<uint32_t>::max()) return kParseReadError;
    const uint64_t available = std::min<uint64_t>(size, static_cast<uint64_t>(length - pos));
    h.firstFrameOffset = static_cast<uint32_t>(pos);
    h.payloadSize = available;
    h.auCount = static_cast<uint32_t>(available / fmt->AuSize());
    // Not even one 5 ms unit: nothing to play.
    if (h.auCount == 0) return kParseReadError;
    return kParseOk;
  }
  return kParseReadError;
}

}  // namespace zv

#include "streams/ac3_parser.h"

#include <string>
#include <vector>

#include "platform/bytes.h"
#include "streams/bit_file.h"
#include "streams/parse_result.h"

namespace zv {

namespace {
const uint16_t kBitRateKbps[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
const uint16_t kFrameWords48k[19] = {64, 80, 96, 112, 128, 160, 192, 224, 256, 320,
                                     384, 448, 512, 640, 768, 896, 1024, 1152, 1280};

struct SFrameHeader {
  bool eac3 = false;
  uint8_t fscod = 0, frmsizecod = 0, bsid = 0, bsmod = 0, acmod = 0, dsurmod = 0, lfeon = 0;
  AC3_AUDIO_DESCRIPTOR::SEac3 ext;
  uint32_t frameBytes = 0;
};

// Checks the header of the frame at the reader's position without
// consuming it.
int ReadFrameHeader(CBitFile& bf, SFrameHeader& h) {
  uint8_t b[16];
  if (!bf.PeekBytes(b, 8)) return kParseReadError;
  if (b[0] != 0x0B || b[1] != 0x77) return kParseUnknownFormat;
  // bsid sits at the same place in AC-3 and E-AC-3 headers, and so does fscod.
  h.bsid = b[5] >> 3;
  if (h.bsid != 6 && h.bsid != 8 && h.bsid != 16) return kParseWrongBitstreamId;
  h.fscod = b[4] >> 6;
  if (h.fscod != 0) return kParseWrongSampleRate;
  if (h.bsid != 16) {
    BeReader r(b + 4, 4);
    r.Bits(2);                          // fscod
    h.frmsizecod = static_cast<uint8_t>(r.Bits(6));
    r.Bits(5);                          // bsid
    h.bsmod = static_cast<uint8_t>(r.Bits(3));
    h.acmod = static_cast<uint8_t>(r.Bits(3));
    if (h.frmsizecod < 8 || h.frmsizecod > 37) return kParseWrongBitrate;
    if (h.acmod == 0) return kParseWrongAudioCodingMode;
    if ((h.acmod & 1) && h.acmod != 1) r.Bits(2);  // cmixlev
    if (h.acmod & 4) r.Bits(2);                    // surmixlev
    if (h.acmod == 2) h.dsurmod = static_cast<uint8_t>(r.Bits(2));
    h.lfeon = static_cast<uint8_t>(r.Bits(1));
    h.frameBytes = Ac3FrameBytes(h.frmsizecod);
    return kParseOk;
  }
  h.eac3 = true;
  h.ext.streamType = b[2] >> 6;
  h.ext.substreamId = (b[2] >> 3) & 7;
  h.ext.frameWords = static_cast<uint16_t>((((b[2] & 7) << 8) | b[3]) + 1);
  h.ext.numBlocksCode = (b[4] >> 4) & 3;
  h.ext.acmod = (b[4] >> 1) & 7;
  h.lfeon = b[4] & 1;
  h.acmod = h.ext.acmod;
  if (h.ext.acmod == 0) return kParseWrongAudioCodingMode;
  if (h.ext.numBlocksCode != 3) return kParseWrongAudioBlocks;
  h.frameBytes = h.ext.FrameBytes();
  // A dependent substream may carry its channel map.
  if (h.ext.streamType == 1 && bf.PeekBytes(b, sizeof b)) {
    BeReader r(b + 5, sizeof b - 5);
    r.Bits(5);                    // bsid
    r.Bits(5);                    // dialnorm
    if (r.Bits(1)) r.Bits(8);     // compre, compr
    if (r.Bits(1)) h.ext.channelMap = static_cast<uint16_t>(r.Bits(16));  // chanmape, chanmap
  }
  return kParseOk;
}

constexpr const char* kConvertHint = "convert it, e.g. with `ffmpeg -i IN -c:a ac3 -b:a 640k OUT.ac3`.";

// The first three frames, or the first three pairs when the stream is the
// disc's E-AC-3 form: each AC-3 core frame followed by a dependent E-AC-3
// substream frame, both of constant size. `dependent` is left without
// E-AC-3 for a plain AC-3 stream. Any other E-AC-3 is refused with a hint.
int ReadFirstFrames(CBitFile& bf, SFrameHeader& first, SFrameHeader& dependent, std::string& detail) {
  std::vector<SFrameHeader> seen;
  for (int i = 0; i < 6; ++i) {
    // A plain AC-3 stream is judged on its first three frames.
    if (i == 3 && (seen[0].eac3 || !seen[1].eac3)) break;
    SFrameHeader h;
    if (int r = ReadFrameHeader(bf, h)) return r;
    seen.push_back(h);
    if (!bf.Skip(uint64_t{h.frameBytes} * 8)) return kParseReadError;
  }
  first = seen[0];
  const bool pairs = seen.size() == 6;
  bool ok = !first.eac3;
  for (size_t i = 0; ok && i < seen.size(); ++i) {
    const SFrameHeader& h = seen[i];
    const SFrameHeader& like = seen[i % 2 == 0 || !pairs ? 0 : 1];
    const bool wantEac3 = pairs && i % 2 == 1;
    ok = h.eac3 == wantEac3 && h.frameBytes == like.frameBytes &&
         (!wantEac3 || (h.ext.streamType == 1 && h.ext.substreamId == 0));
  }
  if (ok) {
    if (pairs) dependent = seen[1];
    return kParseOk;
  }
  // A plain AC-3 stream whose frames change size is the frame walk's to refuse.
  bool anyEac3 = false;
  for (const auto& h : seen) anyEac3 |= h.eac3;
  if (!anyEac3) return kParseOk;
  detail = first.eac3 ? std::string("The stream is E-AC-3 without an AC-3 core; a disc's primary audio needs the AC-3 "
                                    "core (E-AC-3 alone is secondary audio only): ") +
                            kConvertHint
                      : std::string("The stream mixes AC-3 and E-AC-3 frames other than an AC-3 core each followed "
                                    "by a dependent E-AC-3 substream of one size: ") +
                            kConvertHint;
  return kParseIncompatible;
}
}  // namespace

unsigned Ac3Channels(unsigned acmod) {
  static const uint8_t kChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  return acmod < 8 ? kChannels[acmod] : 0;
}

uint32_t Ac3FrameBytes(unsigned frmsizecod) { return frmsizecod < 38 ? kFrameWords48k[frmsizecod / 2] * 2u : 0; }
uint32_t Ac3BitRate(unsigned frmsizecod) { return frmsizecod < 38 ? kBitRateKbps[frmsizecod / 2] * 1000u : 0; }

// ---- descriptor

void AC3_AUDIO_DESCRIPTOR::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const AC3_AUDIO_DESCRIPTOR*>(&o)) *this = *p;
}

bool AC3_AUDIO_DESCRIPTOR::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const AC3_AUDIO_DESCRIPTOR*>(&o);
  return p && eac3Present == p->eac3Present && corePresent == p->corePresent && fscod == p->fscod &&
         frmsizecod == p->frmsizecod && bsid == p->bsid && dsurmod == p->dsurmod && bsmod == p->bsmod &&
         acmod == p->acmod && channelMode == p->channelMode && lfeon == p->lfeon && eac3 == p->eac3;
}

int AC3_AUDIO_DESCRIPTOR::Validate() {
  if (fscod != 0) return kParseWrongSampleRate;
  if (corePresent && (frmsizecod < 8 || frmsizecod > 37)) return kParseWrongBitrate;
  return kParseOk;
}

uint8_t AC3_AUDIO_DESCRIPTOR::GetStreamCodingType(int) const {
  if (!eac3Present) return kSctAc3;
  return corePresent ? kSctEac3 : kSctEac3Secondary;
}

uint8_t AC3_AUDIO_DESCRIPTOR::GetPresentationType() const {
  unsigned n = Ac3Channels(corePresent ? acmod : eac3.acmod);
  unsigned m = (eac3Present && corePresent) ? Ac3Channels(eac3.acmod) : 0;
  if (n == 1) return m == 0 ? 1 : 0;
  if (n == 2) return m > 2 ? 12 : 3;
  return 6;
}

void AC3_AUDIO_DESCRIPTOR::FillEsInfo(SEsInfoFill& es) const {
  es.streamCodingType = GetStreamCodingType(0);
  es.descriptors.push_back({0x05, {'A', 'C', '-', '3'}});
  es.ac3 = std::make_shared<AC3_AUDIO_DESCRIPTOR>(*this);
}

int AC3_AUDIO_DESCRIPTOR::CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const {
  if (!eac3Present) {
    out1->model = SPacketRule::kAc3;
    return 1;
  }
  if (!corePresent) {
    // E-AC-3 without an AC-3 core is secondary audio: its small buffers.
    out1->model = SPacketRule::kDdp;
    out1->primary = false;
    return 1;
  }
  out1->model = SPacketRule::kAc3;
  out2->model = SPacketRule::kDdp;
  return 2;
}

bool AC3_AUDIO_DESCRIPTOR::Load(ArchiveIn& in) {
  version = in.U32();
  fscod = in.U8();
  bsid = in.U8();
  frmsizecod = in.U8();
  bitRateIndex = frmsizecod / 2;
  dsurmod = in.U8();
  bsmod = in.U8();
  acmod = in.U8();
  channelMode = in.U8();
  lfeon = in.U8();
  mainId = in.U8();
  priority = in.U8();
  serviceFlags = in.U8();
  if (version >= 1) {
    eac3Present = in.U8();
    corePresent = in.U8();
    if (eac3Present) {
      eac3.streamType = in.U8();
      eac3.substreamId = in.U8();
      eac3.bsid = in.U8();
      eac3.frameWords = in.U16();
      eac3.numBlocksCode = in.U8();
      eac3.acmod = in.U8();
      eac3.channelMap = in.U16();
    }
    frameSize = in.U32();
  }
  return frameSize != 0;
}

void AC3_AUDIO_DESCRIPTOR::Save(ArchiveOut& out) const {
  out.U32(version);
  out.U8(fscod);
  out.U8(bsid);
  out.U8(frmsizecod);
  out.U8(dsurmod);
  out.U8(bsmod);
  out.U8(acmod);
  out.U8(channelMode);
  out.U8(lfeon);
  out.U8(mainId);
  out.U8(priority);
  out.U8(serviceFlags);
  out.U8(eac3Present);
  out.U8(corePresent);
  if (eac3Present) {
    out.U8(eac3.streamType);
    out.U8(eac3.substreamId);
    out.U8(eac3.bsid);
    out.U16(eac3.frameWords);
    out.U8(eac3.numBlocksCode);
    out.U8(eac3.acmod);
    out.U16(eac3.channelMap);
  }
  out.U32(frameSize);
}

// ---- parser

bool CAC3Parser::Probe(File& file) {
  uint8_t b[2];
  size_t got;
  return ReadHead(file, b, 2, got) && got == 2 && b[0] == 0x0B && b[1] == 0x77;
}

int CAC3Parser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  CBitFile bf;
  if (!bf.Open(file.Path())) return kParseOpenError;
  const int64_t length = bf.Length();
  uint16_t probe;
  if (!bf.Peek16(probe)) return kParseOpenError;

  SFrameHeader first;
  SFrameHeader dependent;  // of the first pair, when the stream is pairs
  const int r = ReadFirstFrames(bf, first, dependent, ctx.errorDetail);
  if (r != kParseOk) return r;
  const bool paired = dependent.eac3;

  auto* d = static_cast<AC3_AUDIO_DESCRIPTOR*>(ctx.sif.get());
  d->fscod = first.fscod;
  d->bsid = first.bsid;
  d->frmsizecod = first.frmsizecod;
  d->bitRateIndex = first.frmsizecod / 2;
  d->dsurmod = first.dsurmod;
  d->bsmod = first.bsmod;
  d->acmod = first.acmod;
  d->channelMode = first.acmod;
  d->lfeon = first.lfeon;
  d->eac3Present = paired ? 1 : 0;
  d->corePresent = 1;
  if (paired) d->eac3 = dependent.ext;
  d->frameSize = first.frameBytes + (paired ? dependent.frameBytes : 0);

  // Later frames are taken to have the first one's size; only their
  // syncwords are checked. A truncated last frame is not counted: serving
  // it would read past the end of the file.
  // A pair's dependent frame has its syncword checked as well.
  uint32_t frames = 3;
  CParseProgress report(progress, static_cast<int64_t>(length));
  for (;;) {
    uint64_t consumed = bf.BytesConsumed();
    if (!report.At(static_cast<int64_t>(consumed))) return kParseCanceled;
    uint32_t sync;
    if (!bf.Read(16, sync)) break;
    if (sync != 0x0B77) {
      ctx.errorOffset = static_cast<int64_t>(consumed);
      return kParseSyntax;
    }
    if (!bf.Skip(uint64_t{first.frameBytes} * 8 - 16)) break;
    if (paired) {
      consumed = bf.BytesConsumed();
      if (!bf.Read(16, sync)) break;
      if (sync != 0x0B77) {
        ctx.errorOffset = static_cast<int64_t>(consumed);
        return kParseSyntax;
      }
      if (!bf.Skip(uint64_t{dependent.frameBytes} * 8 - 16)) break;
    }
    ++frames;
  }
  if (bf.ReadError()) return kParseReadError;

  SSifHeader& h = ctx.header;
  // A pair is two units, the core's and the extension's, of one frame time.
  h.streamCodingType = paired ? kSctEac3 : kSctAc3;
  h.auCount = paired ? 2 * frames : frames;
  h.auDuration = 1536 / 48.0;
  h.bitRate = Ac3BitRate(first.frmsizecod) + (paired ? dependent.frameBytes * 8u * 1000u / 32u : 0u);
  h.payloadSize = uint64_t{d->frameSize} * frames;
  h.firstFrameOffset = 0;
  return kParseOk;
}

}  // namespace zv

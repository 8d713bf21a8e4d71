#include "streams/dts_parser.h"

#include <algorithm>
#include <cstring>

#include "platform/bytes.h"
#include "platform/paths.h"
#include "streams/bit_file.h"
#include "streams/parse_result.h"

namespace zv {

namespace {

constexpr uint32_t kSyncCoreBe = 0x7FFE8001;
constexpr uint32_t kSyncCoreLe = 0xFE7F0180;
constexpr uint32_t kSyncCore14Be = 0x1FFFE800;
constexpr uint32_t kSyncCore14Le = 0xFF1F00E8;
constexpr uint32_t kSyncSubstream = 0x64582025;
// Enough for the largest substream header (12-bit size) and the word behind it.
constexpr size_t kHeaderPeek = 4096 + 4;
constexpr size_t kFirstFrameBytes = 64;
constexpr size_t kRecordsPerWrite = 4096;

enum class Form { kNone, kBe16, kLe16, kBe14, kLe14, kSubstream };

uint32_t Be32(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }

// The stored form of the frame at p (6 bytes needed for the 14-bit forms).
Form Classify(const uint8_t* p, size_t n) {
  if (n < 4) return Form::kNone;
  switch (Be32(p)) {
    case kSyncCoreBe: return Form::kBe16;
    case kSyncCoreLe: return Form::kLe16;
    case kSyncSubstream: return Form::kSubstream;
    case kSyncCore14Be: return n >= 6 && p[4] == 0x07 && (p[5] & 0xF0) == 0xF0 ? Form::kBe14 : Form::kNone;
    case kSyncCore14Le: return n >= 6 && (p[4] & 0xF0) == 0xF0 && p[5] == 0x07 ? Form::kLe14 : Form::kNone;
    default: return Form::kNone;
  }
}

// The start of a core frame as 16-bit big-endian words (the form its
// header is defined in); returns the bytes written.
size_t NormaliseCore(const uint8_t* p, size_t n, Form form, uint8_t* out, size_t cap) {
  size_t words = n / 2, o = 0;
  if (form == Form::kBe16 || form == Form::kLe16) {
    for (size_t i = 0; i < words && o + 2 <= cap; ++i, o += 2) {
      out[o] = form == Form::kBe16 ? p[2 * i] : p[2 * i + 1];
      out[o + 1] = form == Form::kBe16 ? p[2 * i + 1] : p[2 * i];
    }
    return o;
  }
  // 14 bits of payload in each 16-bit word.
  uint32_t acc = 0;
  unsigned bits = 0;
  for (size_t i = 0; i < words && o < cap; ++i) {
    const uint16_t w = form == Form::kBe14 ? static_cast<uint16_t>(p[2 * i] << 8 | p[2 * i + 1])
                                           : static_cast<uint16_t>(p[2 * i + 1] << 8 | p[2 * i]);
    acc = (acc << 14) | (w & 0x3FFF);
    bits += 14;
    while (bits >= 8 && o < cap) {
      out[o++] = static_cast<uint8_t>(acc >> (bits - 8));
      bits -= 8;
    }
    acc &= (1u << bits) - 1;
  }
  return o;
}

const uint8_t kCoreChannels[16] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
const uint32_t kCoreRates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 96000, 192000};
const uint32_t kSubstreamRates[16] = {8000,   16000, 32000, 64000, 128000, 22050, 44100,  88200,
                                      176400, 352800, 12000, 24000, 48000, 96000, 192000, 384000};
const uint16_t kRateKbps[29] = {32,  56,  64,  96,  112, 128,  192,  224,  256,  320,  384,  448,  512,  576, 640,
                                768, 960, 1024, 1152, 1280, 1344, 1408, 1411, 1472, 1536, 1920, 2048, 3072, 3840};

// Core header fields, from the sync word on.
bool ParseCore(const uint8_t* p, size_t n, Form form, SDtsFrame& f, uint32_t& codedSize) {
  uint8_t h[24];
  if (NormaliseCore(p, n, form, h, sizeof h) < sizeof h) return false;
  BeReader r(h, sizeof h);
  r.Bits(32);                                              // sync
  r.Bits(1);                                               // FTYPE
  f.shortValue = static_cast<uint8_t>(r.Bits(5) + 1);      // SHORT
  const bool crc = r.Bits(1);                              // CPF
  const unsigned nblks = static_cast<unsigned>(r.Bits(7)); // NBLKS
  codedSize = static_cast<uint32_t>(r.Bits(14) + 1);       // FSIZE
  f.amode = static_cast<uint8_t>(r.Bits(6));               // AMODE
  f.sampleRate = kCoreRates[r.Bits(4)];                    // SFREQ
  f.rateCode = static_cast<uint8_t>(r.Bits(5));            // RATE
  r.Bits(5);                                               // MIX, DYNF, TIMEF, AUXF, HDCD
  f.extId = static_cast<uint8_t>(r.Bits(3));               // EXT_AUDIO_ID
  f.extPresent = static_cast<uint8_t>(r.Bits(1));          // EXT_AUDIO
  r.Bits(1);                                               // ASPF
  f.lfe = static_cast<uint8_t>(r.Bits(2));                 // LFF
  r.Bits(1);                                               // HFLAG
  if (crc) r.Bits(16);                                     // HCRC
  r.Bits(7);                                               // FILTS, VERNUM, CHIST
  const unsigned pcmr = static_cast<unsigned>(r.Bits(3));  // PCMR
  if (nblks < 5 || f.lfe == 3) return false;
  static const uint8_t kBits[4] = {16, 20, 24, 24};
  f.substream = 0;
  f.wordFormat = form == Form::kBe14 || form == Form::kLe14 ? 14 : 16;
  f.bigEndian = form == Form::kBe16 || form == Form::kBe14;
  f.bitsPerSample = kBits[pcmr >> 1];
  f.headerSize = 14;
  f.samplesPerFrame = (nblks + 1) * 32;
  f.channels = static_cast<uint8_t>((f.amode < 16 ? kCoreChannels[f.amode] : 0) + (f.lfe ? 1 : 0));
  // A 14-bit frame stores FSIZE + 1 bytes of payload in 16-bit words.
  f.frameSize = f.wordFormat == 14 ? (codedSize * 8 + 13) / 14 * 2 : codedSize;
  f.extensionType = SDtsFrame::kExtNone;
  if (f.extPresent) {
    if (f.extId == 0) f.extensionType = SDtsFrame::kExtXch;
    else if (f.extId == 2) f.extensionType = SDtsFrame::kExtX96;
    else if (f.extId == 3) f.extensionType = SDtsFrame::kExtXxch;
  }
  return true;
}

unsigned SamplesPerDurationUnit(uint32_t rate) {
  switch (rate) {
    case 8000: case 12000: return 128;
    case 16000: case 22050: case 24000: return 256;
    case 32000: case 44100: case 48000: return 512;
    case 64000: case 88200: case 96000: return 1024;
    case 128000: case 176400: case 192000: return 2048;
    case 352800: case 384000: return 4096;
    default: return 0;
  }
}

uint8_t ExtensionFromWord(uint32_t w) {
  switch (w) {
    case 0x5A5A5A5A: return SDtsFrame::kExtXch;
    case 0x1D95F262: return SDtsFrame::kExtX96;
    case 0x47004A03: return SDtsFrame::kExtXxch;
    case 0x0A801921: return SDtsFrame::kExtLbr;
    case 0x41A29547: return SDtsFrame::kExtXll;
    case 0x655E315E: return SDtsFrame::kExtXbr;
    default: return SDtsFrame::kExtNone;
  }
}

// Extension substream header and its asset descriptors.
bool ParseSubstream(const uint8_t* p, size_t n, SDtsFrame& f) {
  BeReader r(p, n);
  r.Bits(32);                                    // sync
  r.Bits(8);                                     // user defined bits
  const unsigned index = static_cast<unsigned>(r.Bits(2));
  const bool wide = r.Bits(1);
  const unsigned sizeBits = wide ? 20 : 16;
  f = SDtsFrame{};
  f.substream = 1;
  f.headerSize = static_cast<uint32_t>(r.Bits(wide ? 12 : 8) + 1);
  f.frameSize = static_cast<uint32_t>(r.Bits(sizeBits) + 1);
  const bool staticFields = r.Bits(1);
  unsigned presentations = 1, assets = 1, durationCode = 0;
  bool mixMetadata = false;
  if (staticFields) {
    r.Bits(2);                                   // reference clock
    durationCode = static_cast<unsigned>(r.Bits(3));
    if (r.Bits(1)) r.Bits(36);                   // time code
    presentations = static_cast<unsigned>(r.Bits(3) + 1);
    assets = static_cast<unsigned>(r.Bits(3) + 1);
    unsigned active[8];
    for (unsigned i = 0; i < presentations; ++i) active[i] = static_cast<unsigned>(r.Bits(index + 1));
    for (unsigned i = 0; i < presentations; ++i)
      for (unsigned j = 0; j <= index; ++j)
        if (active[i] & (1u << j)) r.Bits(8);    // active asset mask
    mixMetadata = r.Bits(1);
    if (mixMetadata) {
      r.Bits(2);                                 // adjustment level
      const unsigned maskBits = static_cast<unsigned>((r.Bits(2) + 1) << 2);
      const unsigned configs = static_cast<unsigned>(r.Bits(2) + 1);
      for (unsigned i = 0; i < configs; ++i) r.Bits(maskBits);
    }
  }
  for (unsigned i = 0; i < assets; ++i) r.Bits(sizeBits);  // asset sizes
  // The first asset's coding components decide the extension where its
  // descriptor names them: a lossless component makes the stream lossless
  // whatever comes before it in the asset.
  int fromDescriptor = -1;
  for (unsigned a = 0; a < assets; ++a) {
    const size_t descBits = static_cast<size_t>((r.Bits(9) + 1) * 8);
    size_t used = 9;
    auto take = [&](unsigned bits) {
      used += bits;
      return r.Bits(bits);
    };
    take(3);                                     // asset index
    unsigned channels = 0;
    bool embeddedStereo = false;
    if (staticFields) {
      if (take(1)) take(4);                      // asset type
      if (take(1)) take(24);                     // language
      if (take(1)) {                             // info text
        const unsigned textBytes = static_cast<unsigned>(take(10) + 1);
        for (unsigned i = 0; i < textBytes; ++i) take(8);
      }
      f.bitsPerSample = static_cast<uint8_t>(take(5) + 1);
      f.sampleRate = kSubstreamRates[take(4)];
      channels = static_cast<unsigned>(take(8) + 1);
      f.channels = static_cast<uint8_t>(channels);
      if (take(1)) {                             // one-to-one channel mapping
        if (channels > 2) embeddedStereo = take(1);
        if (channels > 6) take(1);               // embedded 6 channels
        unsigned maskBits = 0;
        if (take(1)) {
          maskBits = static_cast<unsigned>((take(2) + 1) << 2);
          take(maskBits);                        // speaker activity mask
        }
        const unsigned remapSets = static_cast<unsigned>(take(3));
        if (remapSets && !maskBits) return false;
        unsigned speakers[8] = {};
        for (unsigned s = 0; s < remapSets; ++s) {
          uint64_t mask = take(maskBits);
          for (unsigned b = 0; b < maskBits; ++b)
            if (mask & (uint64_t{1} << b)) speakers[s] += (0xAE66u >> b) & 1 ? 2 : 1;  // pairs: L/R and the like
        }
        for (unsigned s = 0; s < remapSets; ++s) {
          const unsigned decoded = static_cast<unsigned>(take(5) + 1);
          for (unsigned k = 0; k < speakers[s]; ++k) {
            uint64_t m = take(decoded);
            for (; m; m &= m - 1) take(5);       // remap codes
          }
        }
      } else {
        take(3);                                 // representation type
      }
    }
    if (a == 0) {
      const bool drc = take(1);
      if (drc) take(8);                          // DRC code
      if (take(1)) take(5);                      // dialog normalisation
      if (drc && embeddedStereo) take(8);        // stereo downmix DRC code
      // Mixing metadata would need the mix configurations' channel counts;
      // an asset that carries it leaves the decision to the component's
      // sync word.
      if (!mixMetadata || !take(1)) {
        switch (take(2)) {                       // coding mode
          case 0: fromDescriptor = (take(12) & 0x200) ? SDtsFrame::kExtXll : -1; break;
          case 1: fromDescriptor = SDtsFrame::kExtXll; break;
          case 2: fromDescriptor = SDtsFrame::kExtLbr; break;
          default: break;
        }
      }
    }
    if (used > descBits) return false;
    for (size_t rest = descBits - used; rest > 0;) {  // to the descriptor's end
      const unsigned step = static_cast<unsigned>(std::min<size_t>(rest, 32));
      r.Bits(step);
      rest -= step;
    }
  }
  const unsigned unit = SamplesPerDurationUnit(f.sampleRate);
  f.samplesPerFrame = staticFields ? (durationCode + 1) * unit : 0;
  if (f.headerSize + 4 <= n) f.extensionType = ExtensionFromWord(Be32(p + f.headerSize));
  if (fromDescriptor == SDtsFrame::kExtXll) f.extensionType = SDtsFrame::kExtXll;
  else if (fromDescriptor == SDtsFrame::kExtLbr && f.extensionType == SDtsFrame::kExtNone)
    f.extensionType = SDtsFrame::kExtLbr;
  return f.headerSize >= 8;
}

// Stored size of the unit at p and whether it is a substream; what the walk
// needs of every frame.
bool UnitSize(const uint8_t* p, size_t n, bool& substream, uint32_t& size) {
  const Form form = Classify(p, n);
  if (form == Form::kNone) return false;
  substream = form == Form::kSubstream;
  try {
    if (substream) {
      BeReader r(p, n);
      r.Bits(32 + 8 + 2);
      const bool wide = r.Bits(1);
      r.Bits(wide ? 12 : 8);
      size = static_cast<uint32_t>(r.Bits(wide ? 20 : 16) + 1);
      return true;
    }
    SDtsFrame f;
    uint32_t coded;
    if (!ParseCore(p, n, form, f, coded)) return false;
    size = f.frameSize;
    return true;
  } catch (const FormatError&) {
    return false;
  }
}

// Moves the reader to the next sync word of any form; false at the end.
bool FindSync(CBitFile& bf) {
  uint8_t b[6];
  for (;;) {
    if (!bf.PeekBytes(b, 4)) return false;
    const uint32_t w = Be32(b);
    if (w == kSyncCoreBe || w == kSyncCoreLe || w == kSyncSubstream) return true;
    if ((w == kSyncCore14Be || w == kSyncCore14Le) && bf.PeekBytes(b, 6) && Classify(b, 6) != Form::kNone) return true;
    if (!bf.Skip(8)) return false;
  }
}

// Peeks what is left of the file at the reader, up to `want` bytes.
size_t PeekUpTo(CBitFile& bf, int64_t length, uint8_t* out, size_t want) {
  const int64_t left = length - static_cast<int64_t>(bf.BytesConsumed());
  const size_t n = static_cast<size_t>(std::clamp<int64_t>(left, 0, static_cast<int64_t>(want)));
  return n && bf.PeekBytes(out, n) ? n : 0;
}

bool FlushRecords(SStreamContext& ctx, ArchiveOut& out) {
  if (out.Bytes().empty()) return true;
  const bool ok = ctx.sifFile.Write(out.Bytes().data(), out.Bytes().size());
  out.Bytes().clear();
  return ok;
}

}  // namespace

uint32_t DtsBitRate(unsigned rateCode) { return rateCode < 29 ? kRateKbps[rateCode] * 1000u + (rateCode == 22 ? 200 : 0) : 0; }

bool ParseDtsFrame(const uint8_t* p, size_t n, SDtsFrame& f) {
  const Form form = Classify(p, n);
  if (form == Form::kNone) return false;
  try {
    if (form == Form::kSubstream) return ParseSubstream(p, n, f);
    uint32_t coded;
    return ParseCore(p, n, form, f, coded);
  } catch (const FormatError&) {
    return false;
  }
}

// ---- record

void SDtsFrame::Save(ArchiveOut& out) const {
  out.U8(0);
  out.U8(substream);
  out.U8(extensionType);
  out.U8(wordFormat);
  out.U8(bigEndian);
  out.U8(rateCode);
  out.U8(bitsPerSample);
  out.U32(sampleRate);
  out.U8(amode);
  out.U8(lfe);
  out.U32(headerSize);
  out.U8(shortValue);
  out.U32(samplesPerFrame);
  out.U32(frameSize);
  out.U8(channels);
  out.U8(extPresent);
  out.U8(extId);
}

void SDtsFrame::Load(ArchiveIn& in) {
  in.U8();
  substream = in.U8();
  extensionType = in.U8();
  wordFormat = in.U8();
  bigEndian = in.U8();
  rateCode = in.U8();
  bitsPerSample = in.U8();
  sampleRate = in.U32();
  amode = in.U8();
  lfe = in.U8();
  headerSize = in.U32();
  shortValue = in.U8();
  samplesPerFrame = in.U32();
  frameSize = in.U32();
  channels = in.U8();
  extPresent = in.U8();
  extId = in.U8();
}

uint8_t CDTSSif::CodingType() const {
  if (main.substream) return kSctDtsHdSecondary;
  if (!hasExtension) return kSctDts;
  return extension.extensionType == SDtsFrame::kExtXll ? kSctDtsHdMa : kSctDtsHdHr;
}

void CDTSSif::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const CDTSSif*>(&o)) *this = *p;
}

bool CDTSSif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CDTSSif*>(&o);
  if (!p || hasExtension != p->hasExtension) return false;
  auto same = [](const SDtsFrame& a, const SDtsFrame& b) {
    return a.substream == b.substream && a.wordFormat == b.wordFormat && a.sampleRate == b.sampleRate &&
           a.bitsPerSample == b.bitsPerSample && a.amode == b.amode && a.lfe == b.lfe;
  };
  return same(main, p->main) && main.rateCode == p->main.rateCode && (!hasExtension || same(extension, p->extension));
}

int CDTSSif::Validate() {
  if (main.substream) return main.extensionType == SDtsFrame::kExtLbr ? kParseOk : kParseWrongExtensionMode;
  if (main.sampleRate != 48000) return kParseWrongSampleRate;
  if (main.extPresent && main.extensionType == SDtsFrame::kExtNone) return kParseWrongExtensionMode;
  if (main.amode == 1 || main.amode == 3 || main.amode >= 10) return kParseWrongAudioCodingMode;
  return kParseOk;
}

int CDTSSif::CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const {
  if (main.substream) {
    // Substreams without a core are secondary audio: its small buffers.
    out1->model = SPacketRule::kDtsHd;
    out1->primary = false;
    return 1;
  }
  out1->model = SPacketRule::kDts;
  if (!hasExtension) return 1;
  out2->model = SPacketRule::kDtsHd;
  return 2;
}

bool CDTSSif::Load(ArchiveIn& in) {
  version = in.U32();
  if (version < 3) return false;
  hasExtension = in.U8() != 0;
  main.Load(in);
  if (hasExtension) extension.Load(in);
  return main.frameSize != 0 && main.samplesPerFrame != 0 && main.sampleRate != 0;
}

void CDTSSif::Save(ArchiveOut& out) const {
  out.U32(version);
  out.U8(hasExtension ? 1 : 0);
  main.Save(out);
  if (hasExtension) extension.Save(out);
}

uint8_t CDTSSif::GetPresentationType() const {
  const unsigned n = main.channels, m = hasExtension ? extension.channels : 0;
  if (n == 1) return m == 0 ? 1 : 0;
  if (n == 2) return m > 2 ? 12 : 3;
  return 6;
}

uint8_t CDTSSif::GetSamplingFrequency() const {
  const uint32_t ext = hasExtension ? extension.sampleRate : 0;
  if (main.sampleRate == 48000) return ext == 96000 ? 14 : ext == 192000 ? 12 : 1;
  if (main.sampleRate == 96000) return ext == 192000 ? 12 : 4;
  return 0;
}

// ---- parser

int CDTSParser::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  CBitFile bf;
  if (!bf.Open(path)) return kParseOpenError;
  const int64_t length = bf.Length();
  if (length < 0) return kParseReadError;
  std::vector<uint8_t> buf(kHeaderPeek);
  const size_t headBytes = PeekUpTo(bf, length, buf.data(), 8);
  const bool container = headBytes == 8 && std::memcmp(buf.data(), "DTSHDHDR", 8) == 0;
  // Too short for a frame: not ours unless it starts like one.
  if (length <= 63) return container || Classify(buf.data(), headBytes) != Form::kNone ? kParseOpenError : kParseUnknownFormat;
  if (container && !FindSync(bf)) return kParseUnknownFormat;
  const uint64_t start = bf.BytesConsumed();

  // The first frame, and what follows it: a substream after a core makes
  // the stream DTS-HD.
  size_t n = PeekUpTo(bf, length, buf.data(), kHeaderPeek);
  if (n < kFirstFrameBytes) return kParseOpenError;
  if (Classify(buf.data(), n) == Form::kNone) return kParseUnknownFormat;
  ctx.errorOffset = static_cast<int64_t>(start);
  SDtsFrame first, second;
  if (!ParseDtsFrame(buf.data(), n, first)) return kParseSyntax;
  uint32_t coded = first.frameSize;
  if (!first.substream) {
    SDtsFrame f;
    ParseCore(buf.data(), n, Classify(buf.data(), n), f, coded);
  }
  if (coded < 95 || coded > 16383) return kParseSyntax;
  bool hasExtension = false;
  if (!first.substream) {
    if (!bf.Skip(uint64_t{first.frameSize} * 8) || !FindSync(bf)) return kParseSyntax;
    ctx.errorOffset = static_cast<int64_t>(bf.BytesConsumed());
    n = PeekUpTo(bf, length, buf.data(), kHeaderPeek);
    if (n < 60) return kParseReadError;
    if (!ParseDtsFrame(buf.data(), n, second)) return kParseSyntax;
    hasExtension = second.substream != 0;
  }
  ctx.errorOffset = -1;

  ctx.header = SSifHeader{};
  std::memcpy(ctx.header.magic, "RSIF", 4);
  ctx.header.sourceTime = FileTimeNs(path);
  auto rec = std::make_unique<CDTSSif>();
  rec->main = first;
  rec->hasExtension = hasExtension;
  if (hasExtension) rec->extension = second;
  if (int v = rec->Validate()) {
    if (first.substream && first.extensionType != SDtsFrame::kExtLbr)
      ctx.errorDetail =
          "The file holds DTS-HD extension substreams without the DTS core frames a disc needs: give the "
          "stream with its core (each core frame followed by its extension substream).";
    return v;
  }
  if (first.samplesPerFrame == 0 || first.sampleRate == 0) return kParseSyntax;
  const uint8_t type = rec->CodingType();
  streamCodingType = type;

  SSifHeader& h = ctx.header;
  h.streamCodingType = type;
  h.auDuration = first.samplesPerFrame * 1000.0 / first.sampleRate;
  h.bitRate = DtsBitRate(first.rateCode);
  h.secondRate = hasExtension ? DtsBitRate(second.rateCode) : 0;
  h.firstFrameOffset = static_cast<uint32_t>(start);
  ctx.sif = std::move(rec);
  if (int w = WriteSifHead(ctx)) return w;
  const uint32_t tablePos = h.auTablePos;
  if (!ctx.sifFile.Seek(tablePos)) return kParseWriteError;

  // The walk: one unit per core frame and per substream, from the first
  // frame on. A pair shares its core's time stamps; only the core advances
  // the clock.
  if (!bf.Open(path) || !bf.Skip(start * 8)) return kParseReadError;
  const bool paired = type == kSctDtsHdHr || type == kSctDtsHdMa;
  ArchiveOut records;
  size_t pending = 0;
  uint32_t count = 0, frames = 0;
  uint64_t payload = 0;
  CParseProgress report(progress, static_cast<int64_t>(length));
  AUI core;
  for (;;) {
    const uint64_t pos = bf.BytesConsumed();
    if (!report.At(static_cast<int64_t>(pos))) return kParseCanceled;
    if (!FindSync(bf)) break;
    const uint64_t at = bf.BytesConsumed();
    n = PeekUpTo(bf, length, buf.data(), 32);
    bool substream = false;
    uint32_t size = 0;
    if (!UnitSize(buf.data(), n, substream, size)) {
      if (n < 32) break;  // a few stray bytes at the end
      // A frame whose header cannot be read: refused rather than dropping
      // the rest of the stream.
      ctx.errorOffset = static_cast<int64_t>(at);
      return kParseSyntax;
    }
    // A cut-off last unit is not counted: serving it would read past the end.
    if (at + size > static_cast<uint64_t>(length)) break;
    // The stream keeps the layout of its first frames: the multiplexer pairs
    // and routes units by their place.
    const bool wantSubstream = paired ? (count % 2 == 1) : type == kSctDtsHdSecondary;
    if (substream != wantSubstream) {
      ctx.errorOffset = static_cast<int64_t>(at);
      return kParseSyntax;
    }
    AUI au;
    au.offset = at;
    au.size = size;
    if (paired && substream) {
      au.flags = 1;
      au.pts = core.pts;
      au.dts = core.dts;
    } else {
      au.pts = au.dts = static_cast<uint32_t>(frames * h.auDuration * 90 + kFirstPts);
      ++frames;
      core = au;
    }
    au.Save(records);
    if (++pending == kRecordsPerWrite) {
      if (!FlushRecords(ctx, records)) return kParseWriteError;
      pending = 0;
    }
    payload += size;
    ++count;
    if (!bf.Skip(uint64_t{size} * 8)) break;
  }
  if (bf.ReadError()) return kParseReadError;
  if (!FlushRecords(ctx, records)) return kParseWriteError;
  if (count == 0) return kParseSyntax;
  h.auCount = count;
  h.payloadSize = payload;
  if (int w = WriteSifHead(ctx)) return w;
  if (h.auTablePos != tablePos) return kParseWriteError;
  progress.Value(100);
  return kParseOk;
}

}  // namespace zv

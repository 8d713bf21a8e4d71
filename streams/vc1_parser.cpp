#include "streams/vc1_parser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/bytes.h"
#include "streams/nal_reader.h"
#include "streams/parse_result.h"
#include "streams/start_code_scanner.h"

namespace zv {

namespace {
constexpr uint8_t kSequenceHeaderCode = 0x0F;
constexpr uint8_t kEntryPointCode = 0x0E;
constexpr uint8_t kFrameCode = 0x0D;
constexpr unsigned kAdvancedProfile = 3;
// Enough for a sequence header with 31 leaky buckets and every extension.
constexpr size_t kHeaderBytes = 256;
constexpr size_t kFrameHeaderBytes = 8;
}  // namespace

// ---------------------------------------------------------------- record

void CVc1Sif::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const CVc1Sif*>(&o)) *this = *p;
}

bool CVc1Sif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CVc1Sif*>(&o);
  return p && SameVideoCoding(*p) && hrdRate == p->hrdRate && hrdBuffer == p->hrdBuffer;
}

int CVc1Sif::Validate() {
  if (aspectRatio != kAspect4x3 && aspectRatio != kAspect16x9) return kParseWrongAspectRatio;
  const bool sd = width == 720;
  const bool hd = !sd && (height == 1080 || height == 720);
  if (sd || hd) {
    if (level != (sd ? 2 : 3)) return kParseWrongLevel;
    if (hrdRate > (sd ? 20000000u : 40000000u)) return kParseBitrateOverflow;
    if (hrdBuffer > 30000000) return kParseVideoBufferOverflow;
  }
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

// ---------------------------------------------------------------- headers

int CVc1Parser::ReadSequence(CNalReader& r, SSequence& s) {
  s = SSequence{};
  s.profile = r.Bits(2);
  if (s.profile != kAdvancedProfile) return kParseWrongProfile;
  s.level = r.Bits(3);
  if (s.level != 2 && s.level != 3) return kParseWrongLevel;
  r.Bits(2);  // COLORDIFF_FORMAT
  r.Bits(3);  // FRMRTQ_POSTPROC
  r.Bits(5);  // BITRTQ_POSTPROC
  r.Bits(1);  // POSTPROCFLAG
  s.maxCodedWidth = r.Bits(12);
  s.maxCodedHeight = r.Bits(12);
  s.pulldown = r.Flag();
  s.interlace = r.Flag();
  s.tfcntr = r.Flag();
  r.Bits(1);  // FINTERPFLAG
  r.Bits(1);  // reserved
  s.psf = r.Flag();
  if (s.interlace && !s.pulldown) return kParseWrongPulldown;
  if (!r.Flag()) return kParseNoAspectInfo;  // DISPLAY_EXT
  s.displayWidth = r.Bits(14) + 1;
  s.displayHeight = r.Bits(14) + 1;
  if (!r.Flag()) return kParseNoAspectInfo;  // ASPECT_RATIO_FLAG
  s.aspectIndex = r.Bits(4);
  if (s.aspectIndex == 15) {
    s.aspectHoriz = r.Bits(8);
    s.aspectVert = r.Bits(8);
  }
  if (!r.Flag()) return kParseNoFramerateInfo;  // FRAMERATE_FLAG
  if (r.Flag()) {                                // FRAMERATEIND
    s.fps = (r.Bits(16) + 1) / 32.0;
  } else {
    static const double kNr[8] = {0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
    const unsigned nr = r.Bits(8);
    const unsigned dr = r.Bits(4);
    // Reserved values name no rate at all.
    if (nr == 0 || nr > 7 || (dr != 1 && dr != 2)) return kParseWrongFrameRateInfo;
    s.fps = kNr[nr] / (dr == 1 ? 1000.0 : 1001.0);
  }
  if (r.Flag()) r.Bits(24);  // COLOR_FORMAT_FLAG: primaries, transfer, matrix
  if (!r.Flag()) return kParseNoHrd;  // HRD_PARAM_FLAG
  s.leakyBuckets = r.Bits(5);
  const unsigned rateExp = r.Bits(4);
  const unsigned bufferExp = r.Bits(4);
  for (unsigned i = 0; i < s.leakyBuckets; ++i) {
    const uint64_t rate = (uint64_t{r.Bits(16)} + 1) << (rateExp + 6);
    const uint64_t buffer = (uint64_t{r.Bits(16)} + 1) << (bufferExp + 4);
    s.hrdRate = std::max(s.hrdRate, rate);
    s.hrdBuffer = std::max(s.hrdBuffer, buffer);
  }
  return kParseOk;
}

int CVc1Parser::ReadEntryPoint(CNalReader& r, const SSequence& s) {
  r.Bits(2);  // BROKEN_LINK, CLOSED_ENTRY
  if (r.Flag()) return kParseWrongPanscan;
  r.Bits(3);  // REFDIST_FLAG, LOOPFILTER, FASTUVMC
  const bool extendedMv = r.Flag();
  r.Bits(6);  // DQUANT, VSTRANSFORM, OVERLAP, QUANTIZER
  r.Skip(uint64_t{s.leakyBuckets} * 8);  // HRD_FULLNESS
  if (r.Flag()) {  // CODED_SIZE_FLAG
    const uint32_t w = r.Bits(12), h = r.Bits(12);
    if (w != s.maxCodedWidth || h != s.maxCodedHeight) return kParseWrongCodedSize;
  }
  if (extendedMv) r.Flag();  // EXTENDED_DMV
  return kParseOk;
}

unsigned CVc1Parser::ReadFrameType(CNalReader& r, const SSequence& s) {
  if (s.interlace && r.Flag() && r.Flag()) {
    // A field pair: its type is the first field's (I/I and I/P are I).
    static const unsigned kFirstField[8] = {1, 1, 2, 2, 3, 3, 3, 3};
    return kFirstField[r.Bits(3)];
  }
  // PTYPE: 0 P, 10 B, 110 I, 1110 BI, 1111 skipped.
  if (!r.Flag()) return 2;
  if (!r.Flag()) return 3;
  if (!r.Flag()) return 1;
  return r.Flag() ? 2 : 3;
}

std::vector<int64_t> CVc1Parser::DisplayOrder(const std::vector<unsigned>& types) {
  const size_t n = types.size();
  std::vector<int64_t> index(n, 0);
  std::vector<bool> used(n + 1, false);
  for (size_t i = 0; i < n; ++i) {
    if (types[i] == 3) {
      index[i] = static_cast<int64_t>(i);
      used[i] = true;
    }
  }
  size_t next = n;
  for (size_t i = n; i-- > 0;) {
    if (types[i] == 3) continue;
    while (next > 0 && used[next]) --next;
    index[i] = static_cast<int64_t>(next);
    used[next] = true;
  }
  return index;
}

// ---------------------------------------------------------------- parser

CVc1Parser::CVc1Parser() : CParserBase(kSctVc1, {".vc1"}) {}

bool CVc1Parser::Probe(File& file) {
  uint8_t b[4];
  size_t got;
  return ReadHead(file, b, 4, got) && got == 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == kSequenceHeaderCode;
}

int CVc1Parser::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  int r = CParserBase::ParseFile(path, ctx, progress);
  buffer_.clear();
  buffer_.shrink_to_fit();
  return r;
}

namespace {
uint8_t Vc1VideoFormat(uint32_t w, uint32_t h, bool interlace) {
  if (w == 720 && h == 480) return interlace ? kVf480i : kVf480p;
  if (w == 720 && h == 576) return interlace ? kVf576i : kVf576p;
  if ((w == 1920 || w == 1440) && h == 1080) return interlace ? kVf1080i : kVf1080p;
  if (w == 1280 && h == 720) return kVf720p;
  return 255;
}
}  // namespace

int CVc1Parser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  const int64_t length = file.Length();
  if (length <= 0 || !file.Seek(0)) return kParseReadError;
  if (!ctx.sifFile.Seek(ctx.header.auTablePos)) return kParseWriteError;
  auto* rec = static_cast<CVc1Sif*>(ctx.sif.get());

  struct SFrame {
    int64_t start = 0;
    unsigned type = 0;
    uint32_t flags = 0;
  };
  std::vector<SFrame> segment;
  std::vector<unsigned> types;
  SSequence seq;
  bool haveSequence = false;
  int64_t sequenceStart = -1;  // the last sequence header, until its first frame
  double tick = 0, base = 0;
  uint32_t units = 0;
  uint64_t unitBytes = 0;  // bytes in units
  ArchiveOut out;

  // Times and writes the frames of one entry-point segment; the last one
  // ends at `end`.
  auto flushSegment = [&](int64_t end) {
    if (segment.empty()) return true;
    types.clear();
    for (const SFrame& f : segment) types.push_back(f.type);
    const std::vector<int64_t> display = DisplayOrder(types);
    auto stamp = [](double v) { return static_cast<uint32_t>(static_cast<int64_t>(std::trunc(v))); };
    for (size_t i = 0; i < segment.size(); ++i) {
      AUI a;
      a.offset = static_cast<uint64_t>(segment[i].start);
      const int64_t next = i + 1 < segment.size() ? segment[i + 1].start : end;
      a.size = static_cast<uint32_t>(next - segment[i].start);
      a.flags = segment[i].type | segment[i].flags;
      a.dts = stamp((base + static_cast<double>(i)) * tick);
      a.pts = stamp((base + static_cast<double>(display[i])) * tick);
      a.Save(out);
      unitBytes += a.size;
    }
    units += static_cast<uint32_t>(segment.size());
    base += static_cast<double>(segment.size());
    segment.clear();
    bool ok = ctx.sifFile.Write(out.Bytes().data(), out.Bytes().size());
    out = ArchiveOut{};
    if (ok) ctx.Publish(units, ctx.header.auDuration);
    return ok;
  };

  CStartCodeScanner scan(file, buffer_);
  std::vector<uint8_t> head;
  int64_t start, payload;
  CParseProgress report(progress, static_cast<int64_t>(length));
  while (scan.Next(start, payload)) {
    const uint64_t consumed = scan.Consumed();
    if (!report.At(static_cast<int64_t>(consumed))) return kParseCanceled;
    scan.Head(payload, 1, head, true);
    if (head.empty()) continue;
    const uint8_t code = head[0];
    if (code != kSequenceHeaderCode && code != kFrameCode && code != kEntryPointCode) continue;
    if (!haveSequence && code != kSequenceHeaderCode) continue;  // before the first sequence header
    const int64_t codeAt = payload - 3;  // where 00 00 01 begins
    try {
      if (code == kSequenceHeaderCode) {
        if (!flushSegment(start)) return kParseWriteError;
        scan.Head(payload, kHeaderBytes, head);
        CNalReader r(head.data() + 1, head.size() - 1);
        if (int v = ReadSequence(r, seq)) return v;
        int64_t epStart, epPayload;
        if (!scan.Next(epStart, epPayload)) return kParseNoGopHeader;
        scan.Head(epPayload, kHeaderBytes, head);
        if (head.empty() || head[0] != kEntryPointCode) return kParseWrongEntryPoint;
        CNalReader e(head.data() + 1, head.size() - 1);
        if (int v = ReadEntryPoint(e, seq)) return v;
        sequenceStart = start;
        if (!haveSequence) {
          haveSequence = true;
          rec->profile = static_cast<uint8_t>(seq.profile);
          rec->level = static_cast<uint8_t>(seq.level);
          rec->width = seq.maxCodedWidth * 2 + 2;
          rec->height = seq.maxCodedHeight * 2 + 2;
          rec->progressive = seq.interlace ? 0 : 1;
          rec->videoFormat = Vc1VideoFormat(rec->width, rec->height, seq.interlace);
          if (seq.aspectIndex == 15) {
            const uint64_t num = uint64_t{seq.displayWidth} * seq.aspectHoriz * 3;
            const uint64_t den = uint64_t{seq.displayHeight} * seq.aspectVert * 4;
            rec->aspectRatio = den != 0 && num == den ? kAspect4x3 : kAspect16x9;
          } else {
            rec->aspectRatio = DisplayAspectFromSar(seq.aspectIndex, seq.displayWidth, seq.displayHeight);
          }
          rec->frameRate = FrameRateCodeFromFps(seq.fps);
          rec->hrdRate = static_cast<uint32_t>(std::min<uint64_t>(seq.hrdRate, 0xFFFFFFFFu));
          rec->hrdBuffer = static_cast<uint32_t>(std::min<uint64_t>(seq.hrdBuffer, 0xFFFFFFFFu));
          if (int v = rec->Validate()) {
            if (v == kParseWrongFrameRate)
              ctx.errorDetail = DiscVideoFormatRefusal(rec->width, rec->height, rec->progressive != 0, seq.fps);
            return v;
          }
          tick = 90.0 * 1000.0 / seq.fps;
          base = (kFirstPts - tick) / tick;
          ctx.header.auDuration = 1000.0 / seq.fps;
        }
      } else if (code == kEntryPointCode) {
        // Every entry point must directly follow its sequence header.
        return kParseWrongEntryPoint;
      } else {
        scan.Head(payload, kFrameHeaderBytes, head);
        CNalReader r(head.data() + 1, head.size() - 1);
        SFrame f;
        f.start = start;
        f.type = ReadFrameType(r, seq);
        if (sequenceStart >= 0) {
          f.start = sequenceStart;
          f.flags = kAuiSequenceHeader | kAuiKey;
          sequenceStart = -1;
        }
        segment.push_back(f);
      }
    } catch (const FormatError&) {
      // A header cut short by the end of the stream or the next start code.
      ctx.errorOffset = codeAt;
      return kParseSyntax;
    }
  }
  if (scan.ReadError()) return kParseReadError;
  if (!haveSequence) return kParseNoSequenceHeader;
  if (!flushSegment(length)) return kParseWriteError;
  if (units == 0) return kParseSyntax;

  rec->tableEnd = ctx.header.auTablePos + units * static_cast<uint32_t>(AUI::kSize);
  ArchiveOut gops;
  gops.U32(0);
  if (!ctx.sifFile.Seek(rec->tableEnd) || !ctx.sifFile.Write(gops.Bytes().data(), gops.Bytes().size()))
    return kParseWriteError;
  SSifHeader& h = ctx.header;
  h.auCount = units;
  h.bitRate = rec->hrdRate;
  h.secondRate = 0;
  h.firstFrameOffset = 0;
  h.payloadSize = unitBytes;
  return kParseOk;
}

}  // namespace zv

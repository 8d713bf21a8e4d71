#include "streams/mpeg2_parser.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/paths.h"
#include "streams/nal_reader.h"
#include "streams/parse_result.h"
#include "streams/start_code_scanner.h"

namespace zv {

namespace {
constexpr uint8_t kPictureCode = 0x00;
constexpr uint8_t kUserDataCode = 0xB2;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
constexpr uint8_t kExtensionCode = 0xB5;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint8_t kGopCode = 0xB8;
constexpr unsigned kPictureCodingExtension = 8;
constexpr unsigned kPictureFrame = 3;  // picture_structure of a frame picture
// The first headers must lie this close together.
constexpr size_t kHeaderWindow = 8192;
}  // namespace

double Mpeg2FramePeriod(unsigned code) {
  static const double kPeriods[9] = {0, 41.708333, 41.666667, 40, 33.366667, 0, 20, 16.683333, 0};
  return code < 9 ? kPeriods[code] : 0;
}

// ---------------------------------------------------------------- record

void CMpeg2VideoSif::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const CMpeg2VideoSif*>(&o)) *this = *p;
}

bool CMpeg2VideoSif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const CMpeg2VideoSif*>(&o);
  return p && SameVideoCoding(*p);
}

int CMpeg2VideoSif::Validate() {
  // Only 4:3 and 16:9 have a disc code; a square-pixel or 2.21:1 stream
  // would carry an aspect the player cannot show.
  if (aspectRatio != kAspect4x3 && aspectRatio != kAspect16x9) return kParseWrongAspectRatio;
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

// ---------------------------------------------------------------- timing

void CM2VParser::CGopTimer::Stamp(std::vector<SPicture>& gop) {
  const size_t n = gop.size();
  if (n == 0) return;
  // Display positions: temporal references order the GOP.
  std::vector<size_t> order(n);
  for (size_t i = 0; i < n; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return gop[a].tr < gop[b].tr; });
  std::vector<int64_t> pos(n);
  int64_t at = gopStart_;
  for (size_t i : order) {
    pos[i] = at;
    at += gop[i].fields;
  }
  if (!baseSet_) {
    base_ = kFirstPts - static_cast<double>(pos[0]) * field_;
    baseSet_ = true;
  }
  auto stamp = [&](int64_t p) {
    return static_cast<uint32_t>(static_cast<int64_t>(std::trunc(base_ + static_cast<double>(p) * field_)));
  };
  for (size_t i = 0; i < n; ++i) {
    SPicture& pic = gop[i];
    pic.au.pts = stamp(pos[i]);
    if ((pic.au.flags & kAuiPictureTypeMask) == 3) {
      pic.au.dts = pic.au.pts;
      continue;
    }
    int64_t decodeAt;
    if (haveAnchor_) {
      decodeAt = lastAnchor_;
    } else {
      // The first anchor is decoded a frame before the first picture shown
      // after it: itself, or the B pictures of an open GOP.
      int64_t first = pos[i];
      for (size_t j = i + 1; j < n && (gop[j].au.flags & kAuiPictureTypeMask) == 3; ++j) first = std::min(first, pos[j]);
      decodeAt = first - 2;
    }
    pic.au.dts = stamp(decodeAt);
    lastAnchor_ = pos[i];
    haveAnchor_ = true;
  }
  gopStart_ = at;
}

// ---------------------------------------------------------------- parser

CM2VParser::CM2VParser() : CParserBase(kSctMpeg2, {".mpv", ".m2v"}) {}

namespace {
// The start code value behind the first start code in p[from, n), with the
// offset of its 0x01; false when there is none with a value byte.
bool NextCode(const uint8_t* p, size_t from, size_t n, size_t& at, uint8_t& code) {
  at = FindStartCode(p, from, n);
  if (at + 1 >= n) return false;
  code = p[at + 1];
  return true;
}
}  // namespace

bool CM2VParser::Probe(File& file) {
  uint8_t head[kHeaderWindow];
  size_t got;
  if (!ReadHead(file, head, sizeof head, got)) return false;
  size_t at;
  uint8_t code;
  if (!NextCode(head, 2, got, at, code) || code != kSequenceHeaderCode) return false;
  if (!NextCode(head, at + 2, got, at, code)) return false;
  return code == kGopCode || code == kExtensionCode;
}

int CM2VParser::ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) {
  int r = CParserBase::ParseFile(path, ctx, progress);
  buffer_.clear();
  buffer_.shrink_to_fit();
  return r;
}

int CM2VParser::CheckHeaders(File& file, SStreamContext& ctx) {
  uint8_t head[kHeaderWindow];
  size_t got;
  if (!ReadHead(file, head, sizeof head, got)) return kParseReadError;
  size_t at;
  uint8_t code;
  if (!NextCode(head, 2, got, at, code) || code != kSequenceHeaderCode) return kParseUnknownFormat;
  // horizontal and vertical size (12 bits each), aspect_ratio_information,
  // frame_rate_code (4 bits each), bit_rate_value (18 bits).
  if (at + 9 > got) return kParseSyntax;
  const uint8_t* s = head + at + 2;
  const uint32_t width = (uint32_t{s[0]} << 4) | (s[1] >> 4);
  const uint32_t height = ((uint32_t{s[1]} & 0x0F) << 8) | s[2];
  const uint8_t aspect = s[3] >> 4;
  const uint8_t rateCode = s[3] & 0x0F;
  const uint32_t bitRateValue = (uint32_t{s[4]} << 10) | (uint32_t{s[5]} << 2) | (s[6] >> 6);

  if (!NextCode(head, at + 2, got, at, code) || (code != kGopCode && code != kExtensionCode)) {
    ctx.errorOffset = static_cast<int64_t>(at < got ? at - 2 : got);
    return kParseSyntax;
  }
  // sequence_extension: identifier (4), profile_and_level_indication (8),
  // progressive_sequence (1), chroma_format (2), size extensions (2 + 2),
  // bit_rate_extension (12).
  if (at + 6 > got) return kParseSyntax;
  const uint8_t* e = head + at + 2;
  const uint8_t profile = e[0] & 0x0F;
  const uint8_t level = e[1] >> 4;
  const bool progressive = (e[1] >> 3) & 1;
  const unsigned chroma = (e[1] >> 1) & 3;
  const uint32_t bitRateExtension = ((uint32_t{e[2]} & 0x1F) << 7) | (e[3] >> 1);
  if (chroma != 1) return kParseWrongChromaFormat;

  auto* rec = static_cast<CMpeg2VideoSif*>(ctx.sif.get());
  rec->width = width;
  rec->height = height;
  rec->aspectRatio = aspect;
  rec->frameRate = rateCode;
  rec->profile = profile;
  rec->level = level;
  rec->progressive = progressive ? 1 : 0;
  const uint64_t rate = uint64_t{((bitRateExtension << 18) | bitRateValue) & 0x0FFFFFFF} * 400;
  ctx.header.bitRate = static_cast<uint32_t>(std::min<uint64_t>(rate, 0xFFFFFFFFu));
  ctx.header.auDuration = Mpeg2FramePeriod(rateCode);
  if (int v = rec->Validate()) {
    if (v == kParseWrongFrameRate) {
      static const double kFps[9] = {0, 24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
      ctx.errorDetail = DiscVideoFormatRefusal(width, height, progressive, rateCode < 9 ? kFps[rateCode] : 0);
    }
    return v;
  }
  // A rate above what the disc carries cannot be multiplexed in time.
  if (rate > kMpeg2MaxBitRate) return kParseBitrateOverflow;
  return kParseOk;
}

int CM2VParser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  const int64_t length = file.Length();
  if (length <= 0) return kParseReadError;
  if (int r = CheckHeaders(file, ctx)) return r;
  if (!file.Seek(0)) return kParseReadError;
  if (!ctx.sifFile.Seek(ctx.header.auTablePos)) return kParseWriteError;
  auto* rec = static_cast<CMpeg2VideoSif*>(ctx.sif.get());
  rec->gops.clear();

  SPicture unit;
  bool unitOpen = false;
  int64_t pendingStart = -1;  // a sequence or GOP header waiting for its picture
  uint32_t pendingFlags = 0;
  uint32_t units = 0;
  uint64_t unitBytes = 0;  // bytes in units: bytes before the first header or behind an end code are in none
  bool sequenceBlockOpen = false;
  bool firstFieldPending = false;
  unsigned firstFieldStructure = 0;
  const bool progressiveSequence = rec->progressive != 0;
  // Macroblock rows of a frame and of a field: a picture whose slices stop
  // short of the bottom row was cut off.
  const unsigned frameRows = progressiveSequence ? (rec->height + 15) / 16 : 2 * ((rec->height + 31) / 32);
  const unsigned fieldRows = (rec->height + 31) / 32;
  unsigned lastSlice = 0;  // slice_vertical_position of the open unit's latest slice
  unsigned unitRows = 0;   // rows the open unit's latest picture has
  CGopTimer timer(ctx.header.auDuration);
  std::vector<SPicture> gop;
  bool gopHasHeader = false;
  ArchiveOut out;

  auto closeUnit = [&](int64_t end) {
    if (!unitOpen) return;
    unitOpen = false;
    unit.au.size = static_cast<uint32_t>(end - static_cast<int64_t>(unit.au.offset));
    gop.push_back(unit);
  };
  // Times and writes the pictures of the GOP so far.
  auto flushGop = [&]() {
    if (gop.empty()) return true;
    timer.Stamp(gop);
    GOP_INF g;
    bool haveI = false;
    for (const SPicture& p : gop) {
      p.au.Save(out);
      if (!haveI && (p.au.flags & kAuiPictureTypeMask) == 1) {
        haveI = true;
        g.iIndex = units;
        g.iOffset = p.au.offset;
        g.iSize = p.au.size;
      }
      g.minPts = g.frames == 0 ? p.au.pts : std::min(g.minPts, p.au.pts);
      g.maxPts = std::max(g.maxPts, p.au.pts);
      if (g.frames < 255) ++g.frames;
      ++units;
      unitBytes += p.au.size;
    }
    if (gopHasHeader) rec->gops.push_back(g);
    gop.clear();
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
    if (code > kPictureCode && code < kUserDataCode) {  // slices: the bulk of the stream
      lastSlice = code;
      continue;
    }
    const int64_t codeAt = payload - 3;  // where 00 00 01 begins
    switch (code) {
      case kSequenceHeaderCode:
        if (rec->sequenceHeaders++ == 0) {
          rec->firstSequenceOffset = static_cast<uint32_t>(codeAt);
          sequenceBlockOpen = true;
        }
        if (pendingStart < 0) pendingStart = start;
        pendingFlags |= kAuiSequenceHeader;
        break;
      case kUserDataCode:
      case kGopCode:
        if (sequenceBlockOpen) {
          rec->firstSequenceLength = static_cast<uint32_t>(codeAt - rec->firstSequenceOffset);
          sequenceBlockOpen = false;
        }
        if (code == kUserDataCode) break;
        ++rec->codecValue;
        if (pendingStart < 0) pendingStart = start;
        pendingFlags |= kAuiKey;
        break;
      case kSequenceEndCode:
        ++rec->sequenceEnds;
        // The end code travels with the last picture of its sequence.
        if (unitOpen) {
          unit.au.flags |= kAuiSequenceEnd;
          closeUnit(payload + 1);
        }
        break;
      case kPictureCode: {
        scan.Head(payload, 3, head, true);
        if (head.size() < 3) {
          ctx.errorOffset = codeAt;
          return kParseSyntax;
        }
        const unsigned tr = (unsigned{head[1]} << 2) | (head[2] >> 6);
        const unsigned type = (head[2] >> 3) & 7;
        int64_t extStart, extPayload;
        std::vector<uint8_t> ext;
        if (scan.Next(extStart, extPayload)) scan.Head(extPayload, 6, ext, true);
        if (ext.size() < 6 || ext[0] != kExtensionCode || (ext[1] >> 4) != kPictureCodingExtension) {
          ctx.errorOffset = codeAt;
          return kParseSyntax;
        }
        const unsigned structure = ext[3] & 3;
        const bool tff = ext[4] >> 7;
        const bool rff = (ext[4] >> 1) & 1;
        const bool progressiveFrame = ext[5] >> 7;
        if (structure != kPictureFrame) {
          // The second field of a pair has the other parity and stays in
          // the unit of the first.
          if (firstFieldPending && structure != firstFieldStructure) {
            firstFieldPending = false;
            lastSlice = 0;
            break;
          }
          firstFieldPending = true;
          firstFieldStructure = structure;
        } else {
          firstFieldPending = false;
        }
        const int64_t begin = pendingStart >= 0 ? pendingStart : start;
        closeUnit(begin);
        if (pendingFlags & kAuiKey) {
          if (!flushGop()) return kParseWriteError;
          gopHasHeader = true;
        }
        unit = SPicture{};
        unit.au.offset = static_cast<uint64_t>(begin);
        unit.au.flags = (type & kAuiPictureTypeMask) | pendingFlags;
        unit.tr = tr;
        if (progressiveSequence)
          unit.fields = rff ? (tff ? 6 : 4) : 2;
        else
          unit.fields = structure == kPictureFrame && rff && progressiveFrame ? 3 : 2;
        unitOpen = true;
        lastSlice = 0;
        unitRows = structure == kPictureFrame ? frameRows : fieldRows;
        pendingStart = -1;
        pendingFlags = 0;
        break;
      }
      default: break;
    }
  }
  if (scan.ReadError()) return kParseReadError;
  // A last picture cut off by the end of the file (slices short of the
  // bottom row, or a first field without its second) is left out, like a
  // cut-off audio frame: serving it would show a broken picture.
  if (unitOpen && (firstFieldPending || lastSlice < unitRows)) unitOpen = false;
  // Anything behind the last picture (headers of a sequence without
  // pictures, padding) stays with it.
  closeUnit(length);
  if (!flushGop()) return kParseWriteError;
  if (units == 0) return kParseSyntax;

  rec->tableEnd = ctx.header.auTablePos + units * static_cast<uint32_t>(AUI::kSize);
  ArchiveOut gops;
  gops.U32(0);
  for (const auto& g : rec->gops) g.Save(gops);
  if (!ctx.sifFile.Seek(rec->tableEnd) || !ctx.sifFile.Write(gops.Bytes().data(), gops.Bytes().size()))
    return kParseWriteError;
  SSifHeader& h = ctx.header;
  h.auCount = units;
  h.secondRate = 0;
  h.firstFrameOffset = 0;
  h.payloadSize = unitBytes;
  return kParseOk;
}

}  // namespace zv

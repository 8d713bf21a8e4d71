#include "streams/gs_parser.h"

#include <cctype>

#include "streams/parse_result.h"

namespace zv {

namespace {

constexpr size_t kHeaderBytes = 10;   // "PG"/"IG", PTS, DTS
constexpr size_t kSegmentHead = 3;    // type, length
// Enough of a body for the PCS fields and the ICS stream-model bit.
constexpr size_t kBodyPeek = 13;
constexpr size_t kRecordsPerWrite = 4096;

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

bool IsMagic(const uint8_t* p) {
  const int a = std::toupper(p[0]), b = std::toupper(p[1]);
  return (a == 'P' || a == 'I') && b == 'G';
}

bool IsKnownSegment(uint8_t t) { return (t >= kGsPds && t <= kGsIcs) || t == kGsEnd; }

bool FlushRecords(SStreamContext& ctx, ArchiveOut& out) {
  if (out.Bytes().empty()) return true;
  const bool ok = ctx.sifFile.Write(out.Bytes().data(), out.Bytes().size());
  out.Bytes().clear();
  return ok;
}

}  // namespace

// ---- record

void SGsSif::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const SGsSif*>(&o)) *this = *p;
}

bool SGsSif::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const SGsSif*>(&o);
  return p && type == p->type && streamModel == p->streamModel && width == p->width && height == p->height &&
         frameRate == p->frameRate;
}

int SGsSif::CreatePacketRules(SPacketRule* out1, SPacketRule*) const {
  out1->model = type == kSctIg ? SPacketRule::kIg : SPacketRule::kPg;
  return 1;
}

bool SGsSif::Load(ArchiveIn& in) {
  version = in.U32();
  type = in.U8();
  streamModel = in.U8();
  width = in.U16();
  height = in.U16();
  frameRate = in.U8();
  return type == kSctPg || type == kSctIg;
}

void SGsSif::Save(ArchiveOut& out) const {
  out.U32(version);
  out.U8(type);
  out.U8(streamModel);
  out.U16(width);
  out.U16(height);
  out.U8(frameRate);
}

// ---- parser

bool CGsParser::Probe(File& file) {
  uint8_t b[2];
  size_t got;
  return ReadHead(file, b, 2, got) && got == 2 && IsMagic(b);
}

int CGsParser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  const int64_t length = file.Length();
  if (length < 0) return kParseReadError;
  width = height = 0;
  frameRate = frameRateLow = 0;
  icsSeen = false;
  streamModel = 0;
  streamCodingType = kSctPg;
  if (!ctx.sifFile.Seek(ctx.header.auTablePos)) return kParseWriteError;

  ArchiveOut records;
  size_t pending = 0;
  uint32_t count = 0;
  uint64_t payload = 0;
  int64_t pos = 0;
  CParseProgress report(progress, length);
  while (pos < length) {
    if (!report.At(static_cast<int64_t>(pos))) return kParseCanceled;
    uint8_t b[kHeaderBytes + kSegmentHead + kBodyPeek] = {};
    if (!file.Seek(pos)) return kParseReadError;
    const int64_t got = file.Read(b, sizeof b);
    if (got < 0) return kParseReadError;
    // A cut-off header is as broken as a cut-off segment.
    if (got < 2) return kParseSyntax;
    if (!IsMagic(b)) return kParseUnknownFormat;
    if (got < static_cast<int64_t>(kHeaderBytes + kSegmentHead)) return kParseSyntax;
    const uint32_t pts = Be32(b + 2), dts = Be32(b + 6);
    const uint8_t type = b[10];
    const uint16_t len = Be16(b + 11);
    const int64_t end = pos + static_cast<int64_t>(kHeaderBytes + kSegmentHead) + len;
    if (end > length || !IsKnownSegment(type)) return kParseSyntax;
    const uint8_t* body = b + kHeaderBytes + kSegmentHead;

    AUI au;
    au.size = len + static_cast<uint32_t>(kSegmentHead);
    au.offset = static_cast<uint64_t>(pos) + kHeaderBytes;
    au.flags = type;
    if (type == kGsPcs || type == kGsIcs) {
      // Video descriptor (5 bytes), composition descriptor (3), and for a
      // PCS the palette update, palette id and object count.
      const size_t need = type == kGsPcs ? 11 : 8;
      if (len < need) return kParseSyntax;
      width = Be16(body);
      height = Be16(body + 2);
      frameRate = body[4] >> 4;
      frameRateLow = body[4] & 0x0F;
      au.flags |= uint32_t{static_cast<uint8_t>(body[7] >> 6)} << 8;
      if (type == kGsPcs && body[10] == 0) au.flags |= kGsEmptyComposition;
      if (type == kGsIcs && !icsSeen) {
        // Behind the sequence descriptor and the 3-byte composition length.
        if (len < 13) return kParseSyntax;
        streamModel = body[12] >> 7;
        streamCodingType = kSctIg;
      }
    }
    // Presentation segments are moved onto the common first presentation
    // time; an interactive stream keeps its own times from its first ICS on.
    if (icsSeen || type == kGsIcs) {
      au.pts = pts;
      au.dts = dts;
    } else {
      au.pts = pts + kFirstPts;
      au.dts = dts ? dts + kFirstPts : 0;
    }
    if (type == kGsIcs) icsSeen = true;

    au.Save(records);
    if (++pending == kRecordsPerWrite) {
      if (!FlushRecords(ctx, records)) return kParseWriteError;
      pending = 0;
    }
    payload += au.size;
    ++count;
    pos = end;
  }
  if (!FlushRecords(ctx, records)) return kParseWriteError;

  auto* rec = static_cast<SGsSif*>(ctx.sif.get());
  rec->type = streamCodingType;
  rec->streamModel = streamCodingType == kSctIg ? streamModel : 0;
  rec->width = width;
  rec->height = height;
  rec->frameRate = frameRate;
  rec->frameRateLow = frameRateLow;

  SSifHeader& h = ctx.header;
  h.streamCodingType = streamCodingType;
  h.auCount = count;
  h.auDuration = 0;
  h.bitRate = 0;
  h.secondRate = 0;
  h.payloadSize = payload;
  h.firstFrameOffset = 0;
  return kParseOk;
}

// ---- display sets

std::vector<SDisplaySetInterval> DisplaySetIntervals(const std::vector<SGsUnitTime>& units) {
  std::vector<SDisplaySetInterval> sets;
  bool open = false, endedByEmpty = false;
  SDisplaySetInterval cur;
  for (size_t n = 0; n < units.size(); ++n) {
    const uint8_t type = units[n].flags & 0xFF;
    if (type != kGsPcs && type != kGsIcs) continue;
    const int64_t dts = units[n].dts;
    if (!(units[n].flags & kGsEmptyComposition)) {
      if (open) {
        cur.lastUnit = static_cast<int64_t>(n) - 1;
        if (!endedByEmpty) cur.end = dts;
        sets.push_back(cur);
      }
      cur = SDisplaySetInterval{static_cast<int64_t>(n), static_cast<int64_t>(n), dts, dts};
      open = true;
      endedByEmpty = false;
    } else if (open) {
      cur.end = dts;
      endedByEmpty = true;
    }
  }
  if (open) {
    cur.lastUnit = static_cast<int64_t>(units.size()) - 1;
    cur.end = units.back().dts;
    sets.push_back(cur);
  }
  return sets;
}

bool SelectDisplaySets(const std::vector<SDisplaySetInterval>& sets, int64_t unitCount, int64_t in, int64_t out,
                       int64_t& first, int64_t& last) {
  size_t i0 = 0;
  while (i0 < sets.size() && sets[i0].start < in) ++i0;
  if (i0 == sets.size()) return false;
  first = sets[i0].firstUnit;
  if (out == 0) {
    // Like every other cut, no out point runs to the end.
    last = unitCount - 1;
    return true;
  }
  for (size_t i = i0; i < sets.size(); ++i) {
    if (out <= sets[i].start) {
      if (i == i0) return false;
      last = sets[i - 1].lastUnit;
      return true;
    }
    if (out <= sets[i].end) {
      last = sets[i].lastUnit;
      return true;
    }
  }
  last = unitCount - 1;
  return true;
}

}  // namespace zv

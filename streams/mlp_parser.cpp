#include "streams/mlp_parser.h"

#include <algorithm>
#include <vector>

#include "streams/parse_result.h"

namespace zv {

namespace {

constexpr size_t kRecordsPerWrite = 4096;
constexpr size_t kReadBlock = 1 << 20;
constexpr size_t kUnitHead = 32;  // bytes looked at per unit
constexpr size_t kMajorSyncBytes = 28;

bool HasMajorSync(const uint8_t* p, size_t n) { return n >= 7 && p[4] == 0xF8 && p[5] == 0x72 && p[6] == 0x6F; }

// 0 for the reserved code 0xF.
uint32_t SampleRate(unsigned code) {
  if (code == 0xF) return 0;
  return (code & 8 ? 44100u : 48000u) << (code & 7);
}

// Channels of the MLP channel assignment.
constexpr uint8_t kMlpChannels[32] = {1, 2, 3, 4, 3, 4, 5, 3, 4, 5, 4, 5, 6, 4, 5, 4, 5, 6, 5, 5, 6};
// Channels named by each bit of a TrueHD presentation assignment:
// L/R, C, LFE, Ls/Rs, Lvh/Rvh, Lc/Rc, Lrs/Rrs, Cs, Ts, Lsd/Rsd, Lw/Rw, Cvh, LFE2.
constexpr uint8_t kTrueHdChannels[13] = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};

unsigned TrueHdCount(unsigned assignment) {
  unsigned n = 0;
  for (unsigned bit = 0; bit < 13; ++bit)
    if (assignment & (1u << bit)) n += kTrueHdChannels[bit];
  return n;
}

uint16_t Be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

bool FlushRecords(SStreamContext& ctx, ArchiveOut& out) {
  if (out.Bytes().empty()) return true;
  const bool ok = ctx.sifFile.Write(out.Bytes().data(), out.Bytes().size());
  out.Bytes().clear();
  return ok;
}

// Reads a file forward through a block buffer.
class CBlockReader {
 public:
  explicit CBlockReader(File& f) : file_(f), buf_(kReadBlock) {}
  // Up to n bytes at `pos` (fewer only at the end of the file); null on a
  // read error.
  const uint8_t* At(int64_t pos, size_t n, size_t& got) {
    got = 0;
    if (pos < start_ || pos + static_cast<int64_t>(n) > start_ + static_cast<int64_t>(valid_)) {
      if (!file_.Seek(pos)) return nullptr;
      const int64_t r = file_.Read(buf_.data(), buf_.size());
      if (r < 0) return nullptr;
      start_ = pos;
      valid_ = static_cast<size_t>(r);
    }
    const size_t off = static_cast<size_t>(pos - start_);
    got = std::min(n, valid_ - off);
    return buf_.data() + off;
  }

 private:
  File& file_;
  std::vector<uint8_t> buf_;
  int64_t start_ = 0;
  size_t valid_ = 0;
};

}  // namespace

// ---- record

void MLP_HEADER_INFO::CopyFrom(const CSifData& o) {
  if (auto* p = dynamic_cast<const MLP_HEADER_INFO*>(&o)) *this = *p;
}

bool MLP_HEADER_INFO::IsEqual(const CSifData& o) const {
  auto* p = dynamic_cast<const MLP_HEADER_INFO*>(&o);
  return p && format == p->format && wordSize1 == p->wordSize1 && wordSize2 == p->wordSize2 &&
         sampleRate1 == p->sampleRate1 && sampleRate2 == p->sampleRate2 && mlpAssignment == p->mlpAssignment &&
         assignment6ch == p->assignment6ch && assignment8ch == p->assignment8ch && substreams == p->substreams;
}

unsigned MLP_HEADER_INFO::ChannelCount() const {
  if (format == kFormatMlp) return mlpAssignment < 32 ? kMlpChannels[mlpAssignment] : 0;
  return TrueHdCount(assignment8ch ? assignment8ch : assignment6ch);
}

void MLP_HEADER_INFO::FillCodingInfo(SCodingAttributes& rec) const {
  const unsigned count = ChannelCount();
  uint8_t type = 0;
  switch (rec.presentationType) {
    case 1: type = count == 0 ? 1 : 0; break;
    case 3: type = count >= 3 ? 12 : 3; break;
    case 6: type = 6; break;
    default: type = 0; break;
  }
  rec.streamCodingType = kSctMlp;
  rec.presentationType = type;
  rec.samplingFrequency = sampleRate1 == 96000 ? 14 : sampleRate1 == 192000 ? 12 : 1;
}

int MLP_HEADER_INFO::CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const {
  out1->model = SPacketRule::kAc3;
  out2->model = SPacketRule::kMlp;
  return 2;
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
  return (format == kFormatTrueHd || format == kFormatMlp) && sampleRate1 != 0 && samplesPerAu != 0;
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

bool ParseMajorSync(const uint8_t* p, size_t n, MLP_HEADER_INFO& m) {
  if (n < kMajorSyncBytes || !HasMajorSync(p, n)) return false;
  static const uint8_t kWordSizes[16] = {16, 20, 24};
  m.format = p[7];
  unsigned rateCode = 0;
  if (m.format == MLP_HEADER_INFO::kFormatTrueHd) {
    m.wordSize1 = 24;
    m.wordSize2 = 0;
    rateCode = p[8] >> 4;
    m.sampleRate2 = 0;
    // 4 bits of multichannel types, then two 2-bit modifiers before the
    // 6-channel assignment, and a modifier before the 8-channel one.
    m.assignment6ch = static_cast<uint8_t>(((p[9] & 0x0F) << 1 | p[10] >> 7) & 0x1F);
    m.assignment8ch = static_cast<uint16_t>(((p[10] & 0x1F) << 8 | p[11]) & 0x1FFF);
    m.mlpAssignment = 0;
  } else if (m.format == MLP_HEADER_INFO::kFormatMlp) {
    m.wordSize1 = kWordSizes[p[8] >> 4];
    m.wordSize2 = kWordSizes[p[8] & 0x0F];
    rateCode = p[9] >> 4;
    m.sampleRate2 = SampleRate(p[9] & 0x0F);
    m.mlpAssignment = p[11] & 0x1F;
    m.assignment6ch = 0;
    m.assignment8ch = 0;
  } else {
    return false;
  }
  if (Be16(p + 12) != 0xB752) return false;  // the major sync's signature
  m.sampleRate1 = SampleRate(rateCode);
  if (m.sampleRate1 == 0) return false;
  m.samplesPerAu = 40u << (rateCode & 7);
  m.secondBlockSize = 64u << (rateCode & 7);
  m.variableRate = p[18] >> 7;
  const uint32_t peak = Be16(p + 18) & 0x7FFF;
  m.peakRate = static_cast<uint32_t>((uint64_t{peak} * m.sampleRate1 + 8) / 16);
  m.substreams = p[20] >> 4;
  return true;
}

// ---- parser

bool CMlpParser::Probe(File& file) {
  uint8_t b[7];
  size_t got = 0;
  return ReadHead(file, b, sizeof b, got) && got == sizeof b && HasMajorSync(b, got);
}

int CMlpParser::Parse(File& file, SStreamContext& ctx, const Progress& progress) {
  auto* rec = dynamic_cast<MLP_HEADER_INFO*>(ctx.sif.get());
  if (!rec) return kParseUnknownFormat;
  const int64_t length = file.Length();
  if (length <= 0) return kParseReadError;
  if (!ctx.sifFile.Seek(ctx.header.auTablePos)) return kParseWriteError;
  auto fail = [&](int64_t at) {
    ctx.errorOffset = at;
    return kParseSyntax;
  };

  CBlockReader reader(file);
  ArchiveOut records;
  size_t pending = 0;
  uint64_t units = 0, payload = 0;
  CParseProgress report(progress, length);
  bool synced = false;
  for (int64_t pos = 0; pos < length;) {
    if (!report.At(static_cast<int64_t>(pos))) return kParseCanceled;
    size_t got = 0;
    const uint8_t* p = reader.At(pos, kUnitHead, got);
    if (!p) return kParseReadError;
    // A few bytes of a unit cut off by the end of the file: left out like
    // any cut-off unit.
    if (got < 4) {
      if (units == 0) return fail(pos);
      break;
    }
    const uint32_t size = (Be16(p) & 0x0FFF) * 2u;
    if (size == 0) return fail(pos);
    // A unit cut off by the end of the file is not served; one alone is
    // no stream.
    if (pos + int64_t{size} > length) {
      if (units == 0) return fail(pos);
      break;
    }
    AUI au;
    if (HasMajorSync(p, got)) {
      au.flags = 1;
      if (!synced) {
        // DVD-Audio's MLP shares the unit syntax, but no disc player here
        // decodes it as the lossless stream beside an AC-3 core.
        if (got > 7 && p[7] == MLP_HEADER_INFO::kFormatMlp) {
          ctx.errorDetail =
              "The stream is MLP (DVD-Audio, major sync 0xBB); Blu-ray discs carry Dolby TrueHD (major sync 0xBA): "
              "give the audio as TrueHD with its AC-3 core, or as LPCM in a WAV file.";
          return kParseIncompatible;
        }
        if (!ParseMajorSync(p, got, *rec)) return fail(pos);
        synced = true;
      }
    } else if (!synced) {
      return fail(pos);
    }
    au.offset = static_cast<uint64_t>(pos);
    au.size = size;
    // Exact unit times (40 samples at 48 kHz are 75 ticks), so the stream
    // keeps step with its AC-3 core however long it runs.
    au.pts = au.dts = static_cast<uint32_t>(kFirstPts + units * 90000 * rec->samplesPerAu / rec->sampleRate1);
    au.Save(records);
    if (++pending == kRecordsPerWrite) {
      if (!FlushRecords(ctx, records)) return kParseWriteError;
      pending = 0;
    }
    ++units;
    payload += size;
    pos += size;
  }
  if (!FlushRecords(ctx, records)) return kParseWriteError;
  if (units > UINT32_MAX) return fail(0);

  SSifHeader& h = ctx.header;
  h.auCount = static_cast<uint32_t>(units);
  h.auDuration = 1000.0 * rec->samplesPerAu / rec->sampleRate1;
  h.bitRate = rec->peakRate;
  h.payloadSize = payload;
  h.firstFrameOffset = 0;
  return kParseOk;
}

}  // namespace zv

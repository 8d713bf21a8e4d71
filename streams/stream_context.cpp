#include "streams/stream_context.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#include "platform/paths.h"
#include "streams/ac3_parser.h"
#include "streams/gs_parser.h"
#include "streams/h264_parser.h"
#include "streams/live_analysis.h"
#include "streams/lpcm_parser.h"
#include "streams/mpeg2_parser.h"
#include "streams/other_sif.h"
#include "streams/parse_result.h"
#include "streams/parser_base.h"

namespace zv {

void SStreamContext::Close() {
  unitReader.reset();
  unitBytes = nullptr;
  sifFile.Close();
  streamFile.Close();
  sif.reset();
  header = SSifHeader{};
  sifPath.clear();
  path.clear();
  payload.clear();
  payload.shrink_to_fit();
  payloadPos = 0;
  packetizer = SPacketizerState{};
  first = 0;
  last = -1;
  next = 0;
  current.reset();
  bytesLeft = 0;
  streamLength = -1;
  auTable.clear();
  auTable.shrink_to_fit();
  auTableFirst = auTableCount = 0;
  timeOffset = 0;
  errorOffset = -1;
  compositionNumber = 0;
  lastKeyPts = 0;
  sequenceHeader.clear();
  live = nullptr;
  served = 0;
}

void SStreamContext::Publish(int64_t units, double auDuration) const {
  if (publishTo) publishTo->Publish(*this, units, auDuration);
}

std::string SifPathBeside(const std::string& streamPath) { return CachePathBeside(streamPath, ".dsi"); }

std::string SifPathInTemp(const std::string& streamPath) { return CachePathInTemp(streamPath, ".dsi"); }

namespace {

// Reads header and record from an open stream-information file and checks
// that its tables fit the file. The GOP table of video is loaded too.
bool LoadSif(File& f, SSifHeader& header, std::unique_ptr<CSifData>& sif, SStreamIdentity* identity = nullptr) {
  // The tables end where the trailer begins.
  int64_t len = 0;
  if (!CheckSifTrailer(f, len, identity)) return false;
  std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(len, 4096)));
  if (!f.Seek(0) || !f.ReadExact(head.data(), head.size())) return false;
  try {
    ArchiveIn in(head);
    header.Load(in);
    if (!header.IsComplete()) return false;
    // Milliseconds per unit: a unit is never longer than a second or two.
    if (!std::isfinite(header.auDuration) || header.auDuration < 0 || header.auDuration > 10000) return false;
    sif = CreateSifData(header.streamCodingType);
    if (!sif || !sif->Load(in)) return false;
    if (in.Pos() != header.auTablePos) return false;
    // A WAV analysed when layouts that lose a channel were let through is
    // analysed again, and refused with the reason.
    if (header.streamCodingType == kSctLpcm && sif->Validate() != kParseOk) return false;
  } catch (const ArchiveError&) {
    return false;
  }
  if (IsFixedRateAudio(header.streamCodingType)) return true;
  uint64_t tableEnd = static_cast<uint64_t>(len);
  if (auto* video = dynamic_cast<CVideoSif*>(sif.get())) {
    tableEnd = video->tableEnd;
    if (tableEnd > static_cast<uint64_t>(len)) return false;
    std::vector<uint8_t> tail(static_cast<size_t>(static_cast<uint64_t>(len) - tableEnd));
    if (!f.Seek(static_cast<int64_t>(tableEnd)) || !f.ReadExact(tail.data(), tail.size())) return false;
    if (!video->LoadGopTable(tail)) return false;
  }
  return tableEnd >= header.auTablePos &&
         tableEnd - header.auTablePos == static_cast<uint64_t>(header.auCount) * AUI::kSize;
}

bool LoadSifPath(const std::string& path, SSifHeader& header, std::unique_ptr<CSifData>& sif,
                 SStreamIdentity& identity) {
  File f;
  return f.Open(path, File::kRead) && LoadSif(f, header, sif, &identity);
}

// A damaged table whose header still reads well would only show up later as
// a unit that cannot be read; check that every unit lies in the stream, in
// file order, and that the units add up to the payload.
bool TableFitsStream(const std::string& sifPath, const SSifHeader& header, int64_t streamSize) {
  if (streamSize < 0) return false;
  // Computed units: the stream must still hold all of them (a file cut short
  // whose time was put back keeps its old count otherwise).
  if (IsFixedRateAudio(header.streamCodingType))
    return header.firstFrameOffset <= static_cast<uint64_t>(streamSize) &&
           header.payloadSize <= static_cast<uint64_t>(streamSize) - header.firstFrameOffset;
  File f;
  if (!f.Open(sifPath, File::kRead) || !f.Seek(header.auTablePos)) return false;
  const uint64_t limit = static_cast<uint64_t>(streamSize);
  std::vector<uint8_t> chunk;
  uint64_t lastOffset = 0, total = 0;
  for (uint64_t done = 0; done < header.auCount;) {
    const uint64_t n = std::min<uint64_t>(header.auCount - done, 4096);
    chunk.resize(static_cast<size_t>(n) * AUI::kSize);
    if (!f.ReadExact(chunk.data(), chunk.size())) return false;
    ArchiveIn in(chunk);
    for (uint64_t i = 0; i < n; ++i) {
      AUI au;
      au.Load(in);
      if (au.offset < lastOffset || au.offset > limit || au.size > limit - au.offset) return false;
      lastOffset = au.offset;
      total += au.size;
    }
    done += n;
  }
  return total == header.payloadSize;
}

void Show(IPrompt* prompt, const std::string& text) {
  if (prompt) prompt->Message(text);
}

// Finds current stream information or makes it; sets ctx.sifPath.
int EnsureStreamInfo(const std::string& path, SStreamContext& ctx, const Progress& progress, IPrompt* prompt) {
  File stream;
  if (!stream.Open(path, File::kRead)) {
    Show(prompt, stream.Error());
    return kFailed;
  }
  stream.Close();
  // Beside the stream, else where a stream folder that could not take it
  // sent it; a stale file beside a read-only stream stays stale.
  for (const std::string& sifPath : {SifPathBeside(path), SifPathInTemp(path)}) {
    SSifHeader header;
    std::unique_ptr<CSifData> sif;
    if (LoadStreamInfo(sifPath, path, header, sif)) {
      ctx.sifPath = sifPath;
      return kOk;
    }
  }
  std::string message;
  int r = AnalyseStreamFile(path, ctx, message, progress, prompt);
  if (r == kParseCanceled) return kCancelled;
  if (r != kParseOk) {
    Show(prompt, path + "\n" + message);
    return kFailed;
  }
  // What the analysis wrote must read back as current: values the reader
  // refuses (a unit lasting longer than any real one) refuse the stream,
  // and no stream information is left for it.
  SSifHeader header;
  std::unique_ptr<CSifData> sif;
  if (!LoadStreamInfo(ctx.sifPath, path, header, sif)) {
    ::unlink(ctx.sifPath.c_str());
    ctx.sifPath.clear();
    Show(prompt, path + "\n" + ParseResultMessage(kParseSyntax));
    return kFailed;
  }
  return kOk;
}

}  // namespace

bool LoadStreamInfo(const std::string& sifPath, const std::string& streamPath, SSifHeader& header,
                    std::unique_ptr<CSifData>& sif) {
  SStreamIdentity stored, now;
  if (!LoadSifPath(sifPath, header, sif, stored) || !SStreamIdentity::Of(streamPath, now)) return false;
  return stored.Matches(now, sifPath == SifPathBeside(streamPath)) && header.sourceTime == now.mtimeNs &&
         TableFitsStream(sifPath, header, static_cast<int64_t>(now.size));
}

namespace {

// The unit range of the display sets between two 90 kHz times.
bool SelectPgRange(SStreamContext& ctx, int64_t inTime, int64_t outTime, int64_t& first, int64_t& last) {
  const int64_t count = ctx.header.auCount;
  std::vector<SGsUnitTime> units;
  units.reserve(static_cast<size_t>(count));
  for (int64_t n = 0; n < count; ++n) {
    auto au = GetAu(n, ctx);
    if (!au) return false;
    units.push_back({au->flags, au->dts});
  }
  return SelectDisplaySets(DisplaySetIntervals(units), count, inTime, outTime, first, last);
}

int64_t RoundHalfUp(double v) { return static_cast<int64_t>(std::floor(v + 0.5)); }

}  // namespace

namespace {

// Opens the stream file and its reader once the header is known.
bool OpenStreamFile(const SSourceParams& src, SStreamContext& ctx, IPrompt* prompt) {
  ctx.path = src.path;
  if (!ctx.streamFile.Open(src.path, File::kRead)) {
    Show(prompt, ctx.streamFile.Error());
    return false;
  }
  ctx.streamLength = ctx.streamFile.Length();
  if (ctx.streamLength < 0) {
    Show(prompt, File::ErrorText("read", src.path, errno));
    return false;
  }
  // Video carries nearly all the bytes of a clip, and LPCM most of the rest
  // in small units: worth reading ahead.
  // LPCM is rewritten in place unit by unit, so it is read, not mapped;
  // so is a container's track, which has no descriptor to map.
  if (IsVideoType(ctx.header.streamCodingType) || ctx.header.streamCodingType == kSctLpcm)
    ctx.unitReader = std::make_unique<CUnitReader>(ctx.header.streamCodingType != kSctLpcm && ctx.streamFile.Descriptor() >= 0);
  return true;
}

// MPEG-2: the block of the first sequence header.
bool ReadFirstSequence(SStreamContext& ctx, IPrompt* prompt) {
  auto* m2v = dynamic_cast<CMpeg2VideoSif*>(ctx.sif.get());
  if (!m2v || m2v->firstSequenceLength == 0) return true;
  ctx.sequenceHeader.resize(m2v->firstSequenceLength);
  if (!ctx.streamFile.Seek(m2v->firstSequenceOffset) ||
      !ctx.streamFile.ReadExact(ctx.sequenceHeader.data(), ctx.sequenceHeader.size())) {
    Show(prompt, ctx.streamFile.Error());
    return false;
  }
  return true;
}

// The whole stream, served while `live` analyses it. kOk; kFailed when the
// stream is to be opened the ordinary way instead; kCancelled.
int OpenLiveStream(const SSourceParams& src, SStreamContext& ctx, CLiveAnalysis& live, const Progress& progress) {
  CLiveAnalysis::SSnapshot snapshot;
  if (int r = live.WaitSnapshot(snapshot, progress)) return r;
  // Only video parsers publish their units as they go.
  if (!IsVideoType(snapshot.header.streamCodingType)) return kFailed;
  ctx.header = snapshot.header;
  ctx.header.auCount = 0;
  ctx.sif = CreateSifData(ctx.header.streamCodingType);
  try {
    ArchiveIn in(snapshot.record);
    if (!ctx.sif || !ctx.sif->Load(in)) return kFailed;
  } catch (const ArchiveError&) {
    return kFailed;
  }
  ctx.live = &live;
  // A failure is shown once, by the ordinary opening that follows.
  if (!OpenStreamFile(src, ctx, nullptr) || !ReadFirstSequence(ctx, nullptr)) {
    ctx.Close();
    return kFailed;
  }
  ctx.first = ctx.next = 0;
  ctx.last = INT64_MAX - 1;  // a count of selected units still fits
  auto au = GetAu(0, ctx);
  if (!au) {
    ctx.Close();
    return kFailed;
  }
  ctx.timeOffset = static_cast<int64_t>(kFirstPts) - au->pts;
  return kOk;
}

// Stored unit records folded into `h` (FNV-1a).
uint64_t FoldRecords(uint64_t h, const uint8_t* records, size_t bytes) {
  if (h == 0) h = 0xcbf29ce484222325ull;
  for (size_t i = 0; i < bytes; ++i) h = (h ^ records[i]) * 0x100000001b3ull;
  return h;
}

// At the end of a live stream: the finished stream information must hold
// exactly the units served and announce the stream as the record the clip
// was prepared from did. Then the context goes on from the finished file.
bool FinishLiveStream(SStreamContext& ctx) {
  CLiveAnalysis& live = *ctx.live;
  if (live.Wait() != kOk || live.Diverged()) return false;
  const std::string sifPath = live.SifPath();
  SSifHeader header;
  std::unique_ptr<CSifData> sif;
  bool same = LoadStreamInfo(sifPath, ctx.path, header, sif) &&
              header.streamCodingType == ctx.header.streamCodingType && header.auTablePos == ctx.header.auTablePos &&
              static_cast<int64_t>(header.auCount) == ctx.next && header.auDuration == ctx.header.auDuration &&
              SameForMultiplexing(*ctx.sif, *sif);
  if (same) {
    const auto* a = dynamic_cast<const CMpeg2VideoSif*>(ctx.sif.get());
    const auto* b = dynamic_cast<const CMpeg2VideoSif*>(sif.get());
    same = (a == nullptr) == (b == nullptr) &&
           (!a || (a->firstSequenceOffset == b->firstSequenceOffset && a->firstSequenceLength == b->firstSequenceLength));
  }
  File table;
  same = same && table.Open(sifPath, File::kRead);
  uint64_t folded = 0;
  std::vector<uint8_t> block;
  for (int64_t n = 0; same && n < ctx.next;) {
    const int64_t records = std::min<int64_t>(ctx.next - n, 4096);
    block.resize(static_cast<size_t>(records) * AUI::kSize);
    if (!table.ReadExactAt(static_cast<int64_t>(header.auTablePos) + n * static_cast<int64_t>(AUI::kSize),
                           block.data(), block.size())) {
      same = false;
      break;
    }
    folded = FoldRecords(folded, block.data(), block.size());
    n += records;
  }
  if (!same || folded != ctx.served) {
    live.SetDiverged();
    return false;
  }
  ctx.sifFile = std::move(table);
  ctx.sifPath = sifPath;
  ctx.header = header;
  ctx.sif = std::move(sif);
  ctx.auTableFirst = ctx.auTableCount = 0;
  ctx.live = nullptr;
  ctx.last = ctx.next - 1;
  return true;
}

}  // namespace

int OpenStream(const SSourceParams& src, SStreamContext& ctx, const Progress& progress, IPrompt* prompt) {
  ctx.Close();
  // A stream being analysed for this very clip: served as it is analysed.
  if (!ctx.publishTo && src.secondPath.empty() && src.in == 0 && src.out == 0) {
    if (CLiveAnalysis* live = CLiveAnalysis::Find(src.path)) {
      const int r = OpenLiveStream(src, ctx, *live, progress);
      if (r != kFailed) return r;
      // Ended before its first units, or not a stream served live: opened
      // from the file it left, or analysed again to say why it failed.
      ctx.Close();
      if (live->Wait() == kCancelled) return kCancelled;
    }
  }
  if (int r = EnsureStreamInfo(src.path, ctx, progress, prompt)) return r;
  if (!ctx.sifFile.Open(ctx.sifPath, File::kRead) || !LoadSif(ctx.sifFile, ctx.header, ctx.sif)) {
    Show(prompt, src.path + "\n" + ParseResultMessage(kParseReadError));
    ctx.Close();
    return kFailed;
  }
  ctx.auTableFirst = ctx.auTableCount = 0;
  if (!OpenStreamFile(src, ctx, prompt)) {
    ctx.Close();
    return kFailed;
  }
  const uint8_t type = ctx.header.streamCodingType;
  const int64_t count = ctx.header.auCount;

  if (!ReadFirstSequence(ctx, prompt)) {
    ctx.Close();
    return kFailed;
  }

  int64_t first = src.in, last = src.out;
  if (type == kSctPg && (src.in != 0 || src.out != 0)) {
    if (!SelectPgRange(ctx, src.in * 90, src.out * 90, first, last)) {
      first = 2;
      last = 1;
    }
  } else {
    if (src.timeMode == 1) {
      double d = ctx.header.auDuration;
      first = d > 0 ? RoundHalfUp(static_cast<double>(src.in) / d) : 0;
      last = d > 0 ? RoundHalfUp(static_cast<double>(src.out) / d) : 0;
      // One core and one extension unit per frame: keep the pairs whole.
      if (type == kSctEac3 || type == kSctDtsHdHr || type == kSctDtsHdMa) {
        first *= 2;
        if (last != 0) last = 2 * last + 1;
      }
    }
    if (last == 0) last = count - 1;
  }
  if (last >= count) last = count - 1;

  if (IsVideoType(type)) {
    if (first != 0 && first != -1) {
      int64_t k = FindKeyAu(ctx, first);
      if (k != -1) first = k;
    }
    if (last + 1 != count && last != -1) {
      int64_t k = FindKeyAu(ctx, last);
      if (k != -1) last = k - 1;
    }
  }
  if (first < 0) first = 0;
  ctx.first = first;
  ctx.last = last;
  ctx.next = first;

  if (type == kSctPg) {
    ctx.timeOffset = src.graphicsOffset;
  } else if (type == kSctIg) {
    ctx.timeOffset = 0;
  } else if (first <= last) {
    auto au = GetAu(first, ctx);
    ctx.timeOffset = au ? static_cast<int64_t>(kFirstPts) - au->pts : 0;
  }
  return kOk;
}

std::unique_ptr<AUI> GetAu(int64_t n, SStreamContext& ctx) {
  const SSifHeader& h = ctx.header;
  // A live stream counts the units published so far.
  if (ctx.live && n >= static_cast<int64_t>(h.auCount)) {
    const int64_t units = ctx.live->WaitFor(n);
    if (units < 0) return nullptr;  // to be made again from the finished analysis
    ctx.header.auCount = static_cast<uint32_t>(std::min<int64_t>(units, UINT32_MAX));
  }
  if (n < 0 || n >= static_cast<int64_t>(h.auCount) || !ctx.sif) return nullptr;
  auto au = std::make_unique<AUI>();
  // Time stamps wrap at 32 bits; a duration the loader let through cannot
  // make the conversion undefined.
  auto computedTime = [&](int64_t k) {
    const double t = static_cast<double>(k) * h.auDuration * 90 + kFirstPts;
    return static_cast<uint32_t>(static_cast<uint64_t>(std::clamp(t, 0.0, 1.8e19)));
  };
  switch (h.streamCodingType) {
    case kSctLpcm: {
      auto* w = static_cast<PCM_WAVE_FORMAT*>(ctx.sif.get());
      au->size = w->AuSize();
      au->offset = h.firstFrameOffset + static_cast<uint64_t>(n) * au->size;
      au->pts = au->dts = computedTime(n);
      return au;
    }
    case kSctAc3:
    case kSctEac3Secondary: {
      auto* a = static_cast<AC3_AUDIO_DESCRIPTOR*>(ctx.sif.get());
      au->size = h.streamCodingType == kSctAc3 ? a->frameSize : a->eac3.FrameBytes();
      au->offset = h.firstFrameOffset + static_cast<uint64_t>(n) * au->size;
      au->pts = au->dts = computedTime(n);
      return au;
    }
    case kSctEac3: {
      // Core (even index) and extension (odd index) share one frame time.
      auto* a = static_cast<AC3_AUDIO_DESCRIPTOR*>(ctx.sif.get());
      uint32_t ext = a->eac3.FrameBytes();
      uint32_t core = a->frameSize > ext ? a->frameSize - ext : 0;
      int64_t pair = n / 2;
      au->offset = h.firstFrameOffset + static_cast<uint64_t>(pair) * a->frameSize + ((n & 1) ? core : 0);
      au->size = (n & 1) ? ext : core;
      au->flags = (n & 1) ? 1 : 0;
      au->pts = au->dts = computedTime(pair);
      return au;
    }
    default: break;
  }
  // Stored table; the loader checked that it is count records of 28 bytes.
  if (n < ctx.auTableFirst || n >= ctx.auTableFirst + ctx.auTableCount) {
    const int64_t block = std::max<int64_t>(1, ctx.auTableBlock);
    const int64_t count = static_cast<int64_t>(h.auCount);
    // Scans run forward; one that runs backward (a key-unit search) gets
    // the block that ends at n.
    int64_t start = n;
    if (ctx.auTableCount > 0 && n < ctx.auTableFirst) start = std::max<int64_t>(0, n - block + 1);
    const int64_t records = std::min(block, count - start);
    ctx.auTableCount = 0;
    ctx.auTable.resize(static_cast<size_t>(records) * AUI::kSize);
    const int64_t pos = static_cast<int64_t>(h.auTablePos) + start * static_cast<int64_t>(AUI::kSize);
    if (ctx.live ? !ctx.live->ReadTable(pos, ctx.auTable.data(), ctx.auTable.size())
                 : !ctx.sifFile.ReadExactAt(pos, ctx.auTable.data(), ctx.auTable.size()))
      return nullptr;
    ctx.auTableFirst = start;
    ctx.auTableCount = records;
  }
  ArchiveIn in(ctx.auTable.data() + static_cast<size_t>(n - ctx.auTableFirst) * AUI::kSize, AUI::kSize);
  au->Load(in);
  return au;
}

int64_t FindKeyAu(SStreamContext& ctx, int64_t n) {
  int64_t count = ctx.header.auCount;
  if (count <= 0) return -1;
  if (count == 1) return 0;
  n = std::clamp<int64_t>(n, 0, count - 1);
  auto isKey = [&](int64_t i) {
    auto au = GetAu(i, ctx);
    return au && (au->flags & kAuiKey);
  };
  int64_t fwd = n;
  while (fwd < count && !isKey(fwd)) ++fwd;
  if (fwd == n) return n;
  int64_t back = n;
  while (back >= 0 && !isKey(back)) --back;
  if (back < 0 || fwd - n <= n - back) return fwd;
  return back;
}

void SwapLpcmBytes(uint8_t* data, size_t size, unsigned bitsPerSample) {
  if (bitsPerSample == 16) {
    for (size_t i = 0; i + 1 < size; i += 2) std::swap(data[i], data[i + 1]);
  } else {
    for (size_t i = 0; i + 2 < size; i += 3) std::swap(data[i], data[i + 2]);
  }
}

const AUI* NextAu(SStreamContext& ctx) {
  ctx.current.reset();
  ctx.bytesLeft = 0;
  ctx.payloadPos = 0;
  ctx.unitBytes = nullptr;
  // Zeros were served where the file had been cut: the stream fails.
  if (ctx.ReadShortened()) return nullptr;
  if (ctx.next > ctx.last) {
    ctx.payload.clear();
    ctx.payload.shrink_to_fit();
    return nullptr;
  }
  auto au = GetAu(ctx.next, ctx);
  if (!au && ctx.live && ctx.next >= static_cast<int64_t>(ctx.header.auCount) && !ctx.live->Diverged()) {
    // The analysis has ended: the stream ends here if it holds what was
    // served, else the stream fails and the clip is made again.
    if (FinishLiveStream(ctx)) {
      ctx.payload.clear();
      ctx.payload.shrink_to_fit();
    }
    return nullptr;
  }
  if (!au) return nullptr;
  // GetAu has just loaded the unit's stored record into the table window.
  if (ctx.live) {
    const size_t at = static_cast<size_t>(ctx.next - ctx.auTableFirst) * AUI::kSize;
    ctx.served = FoldRecords(ctx.served, ctx.auTable.data() + at, AUI::kSize);
  }
  // A damaged table must not make us allocate or read beyond the stream
  // (a file cut short since it was opened fails the read instead).
  const int64_t length = ctx.streamLength;
  if (length < 0 || au->offset > static_cast<uint64_t>(length) || au->size > static_cast<uint64_t>(length) - au->offset)
    return nullptr;
  uint8_t* bytes = nullptr;
  bool read = false;
  if (ctx.unitReader && au->size > 0 && au->size <= CUnitReader::kCarry) {
    bytes = ctx.unitReader->Get(ctx.streamFile, length, au->offset, au->size);
    read = bytes != nullptr;
  } else {
    if (ctx.payload.size() < au->size) ctx.payload.resize(au->size);
    bytes = ctx.payload.data();
    read = ctx.streamFile.ReadExactAt(static_cast<int64_t>(au->offset), bytes, au->size);
  }
  if (!read) return nullptr;
  if (ctx.header.streamCodingType == kSctLpcm)
    ConvertLpcmToDisc(bytes, au->size, *static_cast<PCM_WAVE_FORMAT*>(ctx.sif.get()));
  // The analysis took a constant-rate stream whose parameter sets do not
  // say so; the disc gets them saying it.
  if (ctx.header.streamCodingType == kSctH264) SetFixedFrameRateFlag(bytes, au->size);
  ctx.unitBytes = bytes;
  if (au->pts != 0) au->pts = static_cast<uint32_t>(au->pts + ctx.timeOffset);
  if (au->dts != 0) au->dts = static_cast<uint32_t>(au->dts + ctx.timeOffset);
  ctx.next++;
  ctx.bytesLeft = au->size;
  ctx.current = std::move(au);
  return ctx.current.get();
}

}  // namespace zv

#include "mux/pipe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "streams/ac3_parser.h"
#include "streams/lpcm_parser.h"
#include "streams/other_sif.h"

namespace zv {

namespace {

constexpr uint64_t kTimeStampMask = (uint64_t{1} << 33) - 1;
constexpr size_t kLpcmHeaderBytes = 4;

bool IsAudioType(uint8_t t) { return StreamKindOf(t) == StreamKind::kAudio; }
bool IsCoreExtensionType(uint8_t t) { return t == kSctEac3 || t == kSctDtsHdHr || t == kSctDtsHdMa; }

// Graphics segment types in the low byte of the flags.
constexpr uint8_t kSegOds = 0x15, kSegPcs = 0x16, kSegIcs = 0x18;
bool IsComposition(uint32_t flags) {
  uint8_t seg = flags & 0xFF;
  return seg == kSegPcs || seg == kSegIcs;
}

uint32_t EffectiveDts(const AUI& au) { return au.dts ? au.dts : au.pts; }

}  // namespace

SPipeSource SPipeSource::From(const CSource& src) {
  SPipeSource s;
  s.params.path = src.m_strPath;
  s.params.secondPath = src.m_strSecondPath;
  s.params.timeMode = src.m_nTimeMode;
  s.params.in = src.m_nInPoint;
  s.params.out = src.m_nOutPoint;
  s.params.graphicsOffset = src.m_nGraphicsOffset;
  if (src.m_pFileList) s.files = src.m_pFileList->m_items;
  s.language = src.m_language;
  auto it = s.isrc.begin();
  it = std::copy(std::begin(src.m_isrcCountry), std::end(src.m_isrcCountry), it);
  it = std::copy(std::begin(src.m_isrcOwner), std::end(src.m_isrcOwner), it);
  it = std::copy(std::begin(src.m_isrcYear), std::end(src.m_isrcYear), it);
  std::copy(std::begin(src.m_isrcNumber), std::end(src.m_isrcNumber), it);
  return s;
}

uint8_t PesStreamIdFor(uint8_t t) {
  switch (t) {
    case kSctMpeg2:
    case kSctH264:
    case kSctSecondView: return 0xE0;
    case kSctLpcm:
    case kSctPg:
    case kSctIg: return 0xBD;  // private stream 1
    case kSctTextSt: return 0xBF;  // private stream 2
    default: return 0xFD;  // extended stream id: the disc audio families and VC-1
  }
}

uint8_t PesStreamIdExtensionFor(uint8_t t, uint32_t flags) {
  if (PesStreamIdFor(t) != 0xFD) return 0;
  if (t == kSctVc1) return 0x55;
  if (t == kSctAc3 || t == kSctDts) return 0x71;
  if (IsCoreExtensionType(t)) return (flags & 1) ? 0x72 : 0x71;
  return 0x72;  // Dolby lossless and the secondary-audio types
}

bool PesCarriesDts(uint8_t t, const AUI& au) {
  const uint32_t picture = au.flags & kAuiPictureTypeMask;
  switch (t) {
    case kSctMpeg2:
    case kSctVc1: return picture == 1 || picture == 2;
    case kSctH264:
    case kSctSecondView: return au.dts != 0 && au.dts != au.pts;
    case kSctPg:
    case kSctIg: {
      uint8_t seg = au.flags & 0xFF;
      return seg >= kSegOds && seg <= kSegIcs;
    }
    default: return false;
  }
}

size_t UnitHeaderBytes(uint8_t t, const AUI& au) {
  const uint8_t id = PesStreamIdFor(t);
  if (PesHasNoOptionalHeader(id)) return 6;
  size_t n = 9 + 5;  // fixed part and PTS
  if (PesCarriesDts(t, au)) n += 5;
  if (PesStreamIdExtensionFor(t, au.flags)) n += 3;
  if (t == kSctLpcm) n += kLpcmHeaderBytes;
  return n;
}

uint32_t PacketsForUnit(uint8_t t, const AUI& au) {
  if (au.size == 0) return 0;
  const size_t first = kTsPayloadSize - UnitHeaderBytes(t, au);
  if (au.size <= first) return 1;
  return static_cast<uint32_t>(1 + (au.size - first + kTsPayloadSize - 1) / kTsPayloadSize);
}

std::array<uint8_t, 4> MakeLpcmHeader(const PCM_WAVE_FORMAT& f) {
  const uint32_t size = f.AuSize();
  return {static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size),
          static_cast<uint8_t>((f.ChannelAssignment() << 4) | (f.GetSamplingFrequency() & 0x0F)),
          static_cast<uint8_t>(f.ContainerBitsCode() << 6)};  // start flag and five bits 0
}

namespace {

// The A/52 Annex A descriptor from the AC-3 record.
AC3_DESCRIPTOR Ac3DescriptorFrom(const AC3_AUDIO_DESCRIPTOR& a) {
  AC3_DESCRIPTOR d;
  d.sample_rate_code = a.fscod & 0x7;
  d.bsid = a.bsid & 0x1F;
  d.bit_rate_code = (a.frmsizecod / 2) & 0x1F;  // exact rate: limit bit clear
  d.surround_mode = a.dsurmod & 0x3;
  d.bsmod = a.bsmod & 0x7;
  d.num_channels = a.acmod & 0x7;  // the coding mode names the channel layout
  d.full_svc = true;
  d.mainid = a.mainId & 0x7;
  d.priority = a.priority & 0x3;
  d.asvcflags = a.serviceFlags;
  if (!a.language.Empty()) d.language = a.language;
  return d;
}

bool IsFormat(const SDescriptor& d, const char* id) {
  return d.body.size() >= 4 && std::memcmp(d.body.data(), id, 4) == 0;
}

// Parses one descriptor given as tag and body into a typed record.
template <class R>
bool ParseInto(const SDescriptor& d, std::optional<R>& out) {
  if (d.body.size() > 255) return false;
  std::vector<uint8_t> bytes;
  bytes.reserve(d.body.size() + 2);
  bytes.push_back(d.tag);
  bytes.push_back(static_cast<uint8_t>(d.body.size()));
  bytes.insert(bytes.end(), d.body.begin(), d.body.end());
  R r{};
  if (Parse(bytes.data(), bytes.size(), r) != bytes.size()) return false;
  out = std::move(r);
  return true;
}

void AppendRaw(ESI& e, const SDescriptor& d) {
  if (d.body.size() > 255) return;
  e.other_descriptors.push_back(d.tag);
  e.other_descriptors.push_back(static_cast<uint8_t>(d.body.size()));
  e.other_descriptors.insert(e.other_descriptors.end(), d.body.begin(), d.body.end());
}

}  // namespace

ESI EsiFromFill(const SEsInfoFill& fill, uint16_t pid) {
  ESI e;
  e.stream_type = fill.streamCodingType;
  e.elementary_PID = pid & 0x1FFF;
  const uint8_t t = e.stream_type;
  const bool videoReg = t == kSctMpeg2 || t == kSctH264 || t == kSctSecondView;
  for (const SDescriptor& d : fill.descriptors) {
    bool used = false;
    if (d.tag == 0x05 && IsFormat(d, "HDMV")) {
      // The entry layout of each type decides which registration it carries;
      // one the type does not carry (VC-1's HDMV form) is left out.
      if (t == kSctLpcm) used = ParseInto(d, e.lpcm_registration);
      else if (videoReg) used = ParseInto(d, e.video_registration);
      else continue;
    } else if (d.tag == 0x05 && IsFormat(d, "AC-3") && d.body.size() == 4) {
      e.ac3_registration = used = true;
    } else if (d.tag == 0x05 && IsFormat(d, "VC-1")) {
      used = ParseInto(d, e.vc1_registration);
    } else if (d.tag == 0x28) {
      used = ParseInto(d, e.avc_video);
    } else if (d.tag == 0x2A) {
      e.avc_timing_hrd = d.body;
      used = true;
    }
    if (!used) AppendRaw(e, d);
  }
  if (fill.ac3) e.ac3_audio = Ac3DescriptorFrom(*fill.ac3);
  return e;
}

bool ContextStartInfo(SStreamContext& ctx, SStartInfo& out) {
  out = SStartInfo{};
  if (!ctx.sif || ctx.first > ctx.last) return false;
  auto first = GetAu(ctx.first, ctx);
  if (!first) return false;
  const uint8_t t = ctx.header.streamCodingType;
  out.pts = first->pts;
  out.dts = EffectiveDts(*first);
  out.packets = PacketsForUnit(t, *first);
  if (IsGraphicsType(t)) {
    // A display set goes out whole before its composition is shown.
    for (int64_t n = ctx.first + 1; n <= ctx.last; ++n) {
      auto au = GetAu(n, ctx);
      if (!au) return false;
      if (IsComposition(au->flags)) break;
      out.packets += PacketsForUnit(t, *au);
      out.dts = std::min(out.dts, EffectiveDts(*au));
    }
  }
  return true;
}

bool ContextPtsRange(SStreamContext& ctx, uint32_t& start, uint32_t& end) {
  start = end = 0;
  if (!ctx.sif || ctx.first > ctx.last) return false;
  const uint8_t t = ctx.header.streamCodingType;
  const auto unitTicks = static_cast<uint32_t>(ctx.header.auDuration * 90);
  if (IsVideoType(t) || IsGraphicsType(t)) {
    bool any = false;
    for (int64_t n = ctx.first; n <= ctx.last; ++n) {
      auto au = GetAu(n, ctx);
      if (!au) return false;
      if (IsGraphicsType(t) && !IsComposition(au->flags)) continue;
      start = any ? std::min(start, au->pts) : au->pts;
      end = any ? std::max(end, au->pts) : au->pts;
      any = true;
    }
    if (IsVideoType(t)) end += unitTicks;
    return any;
  }
  auto first = GetAu(ctx.first, ctx), last = GetAu(ctx.last, ctx);
  if (!first || !last) return false;
  start = first->pts;
  end = last->pts + unitTicks;
  return true;
}

uint32_t ContextPresentationStart(SStreamContext& ctx) {
  if (!ctx.sif || ctx.first > ctx.last || !IsVideoType(ctx.header.streamCodingType)) return kFirstPts;
  auto first = GetAu(ctx.first, ctx);
  if (!first) return kFirstPts;
  // Reordered pictures may present before the first decoded one.
  uint32_t lowest = first->pts;
  for (int64_t n = ctx.first + 1; n <= std::min(ctx.last, ctx.first + 8); ++n)
    if (auto au = GetAu(n, ctx)) lowest = std::min(lowest, au->pts);
  return lowest - first->pts + kFirstPts;
}

void CPipe::Close() {
  m_keyPoints.clear();
  m_esi.reset();
  if (m_cur == m_endAu.get()) m_cur = nullptr;
  m_endAu.reset();
}

bool CPipe::IsMultiplexed() const { return m_stream && m_stream->sif && m_stream->sif->IsMultiplexedGraphics(); }

bool CPipe::AtAuStart() const {
  if (!m_cur) return false;
  return !m_serving || m_serving->bytesLeft == m_cur->size;
}

int64_t CPipe::GetAuCount() const { return m_stream ? m_stream->last - m_stream->first + 1 : 0; }

uint32_t CPipe::GetAuBytesLeft() const { return m_cur && m_serving ? m_serving->bytesLeft : 0; }

size_t CPipe::ReadAuBytes(uint8_t* buffer, size_t length) {
  if (!m_cur || !m_serving || length > m_serving->bytesLeft) return 0;
  std::memcpy(buffer, m_serving->unitBytes + m_serving->payloadPos, length);
  m_serving->payloadPos += length;
  m_serving->bytesLeft -= static_cast<uint32_t>(length);
  return length;
}

void CPipe::ClearCurrent() {
  m_cur = nullptr;
  m_serving = nullptr;
}

void CPipe::Serve(SStreamContext* ctx, const AUI* au, int64_t index, bool fromSecond) {
  m_serving = ctx;
  m_cur = au;
  m_curIndex = index;
  m_curFromSecond = fromSecond;
  // A subtitle stream cut behind its first display set starts its
  // composition numbers afresh, as a player expects of a new stream.
  if (ctx->header.streamCodingType == kSctPg && ctx->first != 0 && IsComposition(au->flags) && au->size >= 10) {
    ctx->unitBytes[8] = static_cast<uint8_t>(ctx->compositionNumber >> 8);
    ctx->unitBytes[9] = static_cast<uint8_t>(ctx->compositionNumber);
    ++ctx->compositionNumber;
  }
}

bool CPipe::IsMarkedCoreUnit(uint8_t t, const AUI& au) const {
  // Where a core and its extension share a PID, players and demuxers take
  // the core's packets by their transport priority.
  if (IsCoreExtensionType(t)) return !(au.flags & 1);
  return t == kSctAc3 && !m_curFromSecond && GetSecondStream() &&
         GetSecondStream()->header.streamCodingType == kSctMlp;
}

void CPipe::InitPacketizer(SStreamContext& ctx, uint16_t pid) {
  SPacketizerState& p = ctx.packetizer;
  p.pid = pid;
  p.adaptationFieldControl = 1;
  p.pesStreamId = PesStreamIdFor(ctx.header.streamCodingType);
  if (ctx.header.streamCodingType == kSctLpcm) {
    if (auto* wav = dynamic_cast<const PCM_WAVE_FORMAT*>(ctx.sif.get())) {
      auto h = MakeLpcmHeader(*wav);
      std::copy(h.begin(), h.end(), p.lpcmHeader);
    }
  }
  p.initialised = true;
}

bool CPipe::IsKeyPoint(const AUI& au, uint64_t ptsWritten) const {
  if (m_curFromSecond) return false;  // the EP map indexes the main stream
  const uint8_t t = m_serving->header.streamCodingType;
  if (IsVideoType(t))
    return (au.flags & (kAuiSequenceHeader | kAuiKey)) || (au.flags & kAuiPictureTypeMask) == 1;
  if (IsAudioType(t)) return m_keyPoints.empty() || ptsWritten >= m_keyPoints.back().pts + 45000;
  if (IsGraphicsType(t)) return IsComposition(au.flags) && ((au.flags >> 8) & 0xFF) != 0;
  return false;
}

bool CPipe::FillPacket(SFillRequest& req) {
  req.payloadBytes = 0;
  if (!m_cur || !m_serving || m_serving->bytesLeft == 0 || !req.packet) return false;
  SStreamContext& ctx = *m_serving;
  if (!ctx.packetizer.initialised) InitPacketizer(ctx, req.pid);
  const AUI& au = *m_cur;
  const uint8_t t = ctx.header.streamCodingType;
  const bool start = ctx.bytesLeft == au.size;
  const bool core = IsMarkedCoreUnit(t, au);

  // Most packets continue a unit with a full payload: their header is four
  // fixed bytes, no need for the general writers.
  if (!start && ctx.bytesLeft >= kTsPayloadSize && ctx.packetizer.adaptationFieldControl == 1 &&
      ctx.packetizer.pid <= kNullPid) {
    uint8_t* out = req.packet;
    out[0] = 0x47;
    out[1] = static_cast<uint8_t>((core ? 0x20 : 0) | ctx.packetizer.pid >> 8);
    out[2] = static_cast<uint8_t>(ctx.packetizer.pid);
    out[3] = static_cast<uint8_t>(0x10 | m_cc);
    std::memcpy(out + 4, ctx.unitBytes + ctx.payloadPos, kTsPayloadSize);
    ctx.payloadPos += kTsPayloadSize;
    ctx.bytesLeft -= static_cast<uint32_t>(kTsPayloadSize);
    req.payloadBytes = static_cast<uint32_t>(kTsPayloadSize);
    m_cc = (m_cc + 1) & 0x0F;
    return true;
  }

  TS_PACKET_HEADER ts;
  ts.PID = ctx.packetizer.pid;
  ts.payload_unit_start_indicator = start;
  ts.adaptation_field_control = ctx.packetizer.adaptationFieldControl;
  ts.continuity_counter = m_cc;
  ts.transport_priority = core;

  PES_HEADER pes;
  size_t headerBytes = 0;
  if (start) {
    pes.stream_id = ctx.packetizer.pesStreamId;
    const uint64_t pts = static_cast<uint64_t>(req.timeOffset + au.pts) & kTimeStampMask;
    if (PesCarriesDts(t, au))
      SetTimeStamps(pes, pts, static_cast<uint64_t>(req.timeOffset + EffectiveDts(au)) & kTimeStampMask);
    else
      SetTimeStamps(pes, pts);
    uint8_t ext = PesStreamIdExtensionFor(t, au.flags);
    // The AC-3 core sharing a PID with a lossless stream has an extension of
    // its own, which is how players and demuxers tell the two apart.
    if (t == kSctAc3 && !m_curFromSecond && GetSecondStream() &&
        GetSecondStream()->header.streamCodingType == kSctMlp)
      ext = kStreamIdExtensionLosslessCore;
    if (ext) {
      PES_EXTENSION x;
      x.extension_field = std::vector<uint8_t>{ext};
      pes.extension = std::move(x);
    }
    const size_t lpcm = t == kSctLpcm ? kLpcmHeaderBytes : 0;
    const size_t pesBytes = Write(pes, nullptr, 0);
    const uint64_t length = pesBytes - 6 + lpcm + au.size;
    pes.PES_packet_length = length < 65536 ? static_cast<uint16_t>(length) : 0;
    headerBytes = pesBytes + lpcm;

    req.keyPoint = nullptr;
    if (req.keyPointWanted && IsKeyPoint(au, pts)) {
      KEY_POINT_INFO kp;
      kp.auIndex = static_cast<int32_t>(m_curIndex);
      kp.pts = pts;
      if (m_keyPoints.empty() || m_keyPoints.back().auIndex != kp.auIndex || m_keyPoints.back().pts != kp.pts)
        m_keyPoints.push_back(kp);
      req.keyPoint = &m_keyPoints.back();
    }
  }

  // The unit must end with the packet: a short remainder is padded in front
  // by adaptation-field stuffing, never by bytes of the next unit.
  const size_t room = kTsPayloadSize - headerBytes;
  const size_t take = std::min<size_t>(room, ctx.bytesLeft);
  if (take < room) StuffPacket(ts, static_cast<int>(room - take));

  uint8_t* out = req.packet;
  size_t n = Write(ts, out, kTsPacketSize);
  if (start) {
    n += Write(pes, out + n, kTsPacketSize - n);
    if (t == kSctLpcm) {
      std::memcpy(out + n, ctx.packetizer.lpcmHeader, kLpcmHeaderBytes);
      n += kLpcmHeaderBytes;
    }
  }
  std::memcpy(out + n, ctx.unitBytes + ctx.payloadPos, take);
  ctx.payloadPos += take;
  ctx.bytesLeft -= static_cast<uint32_t>(take);
  // An audio decoder's buffer holds the PES header (and the LPCM header)
  // until the unit is decoded; video buffers hold only the stream's bytes.
  req.payloadBytes = static_cast<uint32_t>(take + (IsAudioType(t) ? headerBytes : 0));
  m_cc = (m_cc + 1) & 0x0F;
  return true;
}

void CPipe::FillCodingFrom(STREAM_INFO& rec, uint16_t pid, const CSifData* main, const CSifData* second) {
  SCodingAttributes a;
  a.streamCodingType = m_type;
  if (main) main->FillCodingInfo(a);
  if (second) second->FillCodingInfo(a);
  rec.coding.StreamCodingType = a.streamCodingType;
  rec.coding.VideoFormat = a.videoFormat;
  rec.coding.FrameRate = a.frameRate;
  rec.coding.AspectRatio = a.aspectRatio;
  rec.coding.AudioPresentationType = a.presentationType;
  rec.coding.SamplingFrequency = a.samplingFrequency;
  CPipe::FillCodingInfo(rec, pid);
}

void CPipe::FillCodingInfo(STREAM_INFO& rec, uint16_t pid) {
  rec.StreamPID = pid;
  rec.coding.Language = m_source.language.Text();
  rec.coding.Isrc = m_source.isrc;
}

void CPipe::FillAttributesFrom(SPipeAttributes& rec, const CSifData* main, const CSifData* second) {
  rec.streamCodingType = m_type;
  if (main) main->FillStreamAttributes(rec);
  if (second) second->FillStreamAttributes(rec);
  CPipe::FillStreamAttributes(rec);
}

void CPipe::FillStreamAttributes(SPipeAttributes& rec) {
  rec.language = m_source.language.Text();
}

const ESI* CPipe::BuildEsInfo(uint16_t pid, const CSifData* main, const CSifData* second) {
  SEsInfoFill fill;
  fill.streamCodingType = m_type;
  if (main) main->FillEsInfo(fill);
  if (second) {
    // The companion stream shares the PID and names the entry's type.
    SEsInfoFill other;
    second->FillEsInfo(other);
    if (other.streamCodingType) fill.streamCodingType = other.streamCodingType;
  }
  auto esi = std::make_unique<ESI>(EsiFromFill(fill, pid));
  if (!IsVideoType(esi->stream_type)) {
    ISO639_LANGUAGE_DESCRIPTOR lang;
    lang.language = m_source.language;
    esi->language = lang;
  }
  m_esi = std::move(esi);
  return m_esi.get();
}

}  // namespace zv

#include "mux/rip_track.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "named/named_object.h"
#include "mux/ts_syntax.h"

namespace zv {

namespace {

// Offset of the PES header's optional fields within a packet, or 0 when the
// packet does not start a PES packet with them.
size_t PesAt(const uint8_t* ts, size_t h) {
  if (!(ts[1] & 0x40) || !(ts[3] & 0x10) || h == 0 || h + 9 > 188) return 0;
  const uint8_t* p = ts + h;
  if (p[0] != 0 || p[1] != 0 || p[2] != 1 || PesHasNoOptionalHeader(p[3]) || (p[6] & 0xC0) != 0x80) return 0;
  return h;
}

void PutTimeStamp(uint8_t* at, uint8_t prefix, uint32_t value) {
  TIME_STAMP ts;
  ts.prefix = prefix;
  ts.value = value;  // bit 32 is written as 0
  Write(ts, at, 5);
}

}  // namespace

// ---------------------------------------------------------------- SRipAu

uint32_t SRipAu::PacketCount() const {
  uint32_t n = 0;
  for (const Range& r : ranges) n += r.second - r.first + 1;
  return n;
}

const uint8_t* SRipAu::BuildPacket(uint32_t& bytesLeft, uint32_t& payload) {
  if (!reader || !BuildPacketInto(reader->m_scratch, bytesLeft, payload)) return nullptr;
  return reader->m_scratch;
}

bool SRipAu::BuildPacketInto(uint8_t* out, uint32_t& bytesLeft, uint32_t& payload) {
  SRipTrack* t = reader;
  if (!t || t->m_nNextPacket >= t->m_nUnitPackets) return false;
  std::memcpy(out, t->SourcePacket(t->m_nNextPacket), 192);
  t->RewritePacket(out, payload);
  ++t->m_nNextPacket;
  if (++t->m_nInRange > ranges[t->m_nRange].second - ranges[t->m_nRange].first) {
    ++t->m_nRange;
    t->m_nInRange = 0;
  }
  const uint32_t sent = t->m_nNextPacket * 192;
  bytesLeft = static_cast<uint32_t>(size) > sent ? static_cast<uint32_t>(size) - sent : 0;
  return true;
}

KEY_POINT_INFO* SRipAu::GetKeyPoint() {
  if (!reader || reader->m_nKeyPoint < 0) return nullptr;
  return &reader->m_ownKeyPoints[static_cast<size_t>(reader->m_nKeyPoint)];
}

bool SRipAu::IsBaseUnit() const {
  return reader && !ranges.empty() && (reader->SourcePacket(0)[5] & 0x20) != 0;
}

int SRipAu::CoreByStreamIdExtension() const {
  if (!reader || ranges.empty()) return -1;
  const uint8_t* ts = reader->SourcePacket(0) + 4;
  const size_t pes = PesAt(ts, TsHeaderBytes(ts));
  if (pes == 0 || ts[pes + 3] != 0xFD) return -1;
  PES_HEADER h;
  if (Parse(ts + pes, 188 - pes, h) == 0) return -1;
  return zv::CoreByStreamIdExtension(h);
}

void SRipAu::SetRouting(bool base) {
  if (reader) reader->m_bPriority = base;
}

// ---------------------------------------------------------------- SRipTrack

SRipTrack::SRipTrack() { m_nReused = 1; }

SRipTrack::~SRipTrack() = default;

// A version byte, the source PID, the size and modification time of the
// clip the track was made from (from version 2 also its content
// fingerprint), then the common track part.
void SRipTrack::Serialize(CArchive& ar) {
  uint8_t version = 2;
  ar.Byte(version);
  if (ar.IsLoading() && version > 2) throw ArchiveError("a track of an existing clip has an unknown version");
  ar.Int(m_nSourcePid);
  if (ar.IsLoading() && !IsReusablePid(static_cast<uint32_t>(m_nSourcePid)))
    throw ArchiveError("a track of an existing clip has a wrong PID");
  if (version >= 1) {
    uint64_t size = static_cast<uint64_t>(m_clipIdentity.size), mtime = static_cast<uint64_t>(m_clipIdentity.mtimeNs);
    ar.Qword(size);
    ar.Qword(mtime);
    m_clipIdentity.size = static_cast<int64_t>(size);
    m_clipIdentity.mtimeNs = static_cast<int64_t>(mtime);
    uint64_t fingerprint = m_clipIdentity.fingerprint;
    if (version >= 2) ar.Qword(fingerprint);
    m_clipIdentity.fingerprint = fingerprint;
  } else if (ar.IsLoading()) {
    m_clipIdentity = {};
  }
  SMuxTrack::Serialize(ar);
  if (ar.IsLoading()) m_codingInfo.coding.Language = LanguageCodeAt(m_nLanguage);
}

std::string SRipTrack::GetDescription() const {
  char where[48], type[80];
  if (m_nClipNumber < 0)
    std::snprintf(where, sizeof where, "0x%04X", static_cast<unsigned>(m_nSourcePid));
  else
    std::snprintf(where, sizeof where, "%05d.M2TS, 0x%04X", static_cast<int>(m_nClipNumber), static_cast<unsigned>(m_nSourcePid));
  const char* name = GetStreamTypeName(GetStreamCodingType());
  std::snprintf(type, sizeof type, "%s(0x%02X)", name ? name : "", GetStreamCodingType());
  StreamCodingInfo c = m_codingInfo.coding;
  c.Language = GetLanguageCode();
  return std::string(where) + ", " + type + ", " + c.Summary(true);
}

bool SRipTrack::SetLanguage(int32_t index) {
  if (!SMuxTrack::SetLanguage(index)) return false;
  const char* code = LanguageCodeAt(index);
  m_codingInfo.coding.Language = code;
  if (m_pmtEntry && m_pmtEntry->language) m_pmtEntry->language->language = LanguageAt(index);
  return true;
}

bool SRipTrack::ReadUnit(size_t i) {
  if (i >= m_units.size() || !m_clip) return false;
  m_au = m_units[i];
  if (m_nDelay > 0) {
    m_au.pts += static_cast<uint32_t>(m_nDelay);
    if (m_au.dts) m_au.dts += static_cast<uint32_t>(m_nDelay);
  }
  m_au.reader = this;
  m_nUnitPackets = m_au.PacketCount();
  m_nNextPacket = 0;
  m_nRange = 0;
  m_nInRange = 0;
  m_nKeyPoint = -1;
  m_span = nullptr;
  if (m_au.ranges.empty()) return false;
  const uint64_t first = m_au.ranges.front().first, last = m_au.ranges.back().second;
  if (last < first) return false;
  const uint64_t spanBytes = (last - first + 1) * 192;
  if (spanBytes <= CReusedClip::kSpanMax) {
    CReusedClip::Span span = m_clip->MapSpan(static_cast<int64_t>(first * 192), static_cast<size_t>(spanBytes));
    if (span.view) {
      m_spanView = std::move(span.view);
      m_span = span.data;
      return true;
    }
  }
  // The unit's packets are read run by run into one compact buffer, so a
  // unit spread over the clip costs its own size, not the span's.
  const size_t bytes = size_t{m_nUnitPackets} * 192;
  if (m_buffer.size() < bytes) m_buffer.resize(bytes);
  size_t at = 0;
  for (const SRipAu::Range& r : m_au.ranges) {
    const size_t n = size_t{r.second - r.first + 1} * 192;
    if (m_clip->ReadAt(int64_t{r.first} * 192, m_buffer.data() + at, n) != static_cast<int64_t>(n)) return false;
    at += n;
  }
  return true;
}

const uint8_t* SRipTrack::SourcePacket(uint32_t k) const {
  if (!m_span) return m_buffer.data() + size_t{k} * 192;
  // Packets in order: the k-th is the current one, or the first of a unit.
  const SRipAu::Range& r = k == 0 ? m_au.ranges.front() : m_au.ranges[m_nRange];
  const uint32_t number = k == 0 ? r.first : r.first + m_nInRange;
  return m_span + size_t{number - m_au.ranges.front().first} * 192;
}

void SRipTrack::RewritePacket(uint8_t* pkt, uint32_t& payload) const {
  uint8_t* ts = pkt + 4;
  ts[1] = static_cast<uint8_t>((ts[1] & 0xC0) | (m_bPriority ? 0x20 : 0) | ((m_nNewPid >> 8) & 0x1F));
  ts[2] = static_cast<uint8_t>(m_nNewPid & 0xFF);
  const size_t h = TsHeaderBytes(ts);
  payload = h != 0 && (ts[3] & 0x10) ? static_cast<uint32_t>(188 - h) : 0;
  if (const size_t pes = PesAt(ts, h)) {
    uint8_t* p = ts + pes;
    const unsigned flags = p[7] >> 6;
    const size_t headerData = p[8];
    if (flags == 2 && headerData >= 5 && pes + 14 <= 188) {
      PutTimeStamp(p + 9, 0x2, m_au.pts);
    } else if (flags == 3 && headerData >= 10 && pes + 19 <= 188) {
      PutTimeStamp(p + 9, 0x3, m_au.pts);
      PutTimeStamp(p + 14, 0x1, m_au.dts);
    }
  }
}

void SRipTrack::ReadProfileLevel() {
  m_nProfile = m_nLevel = 0;
  const uint8_t type = GetStreamCodingType();
  if (StreamKindOf(type) != StreamKind::kVideo || m_units.empty() || !ReadUnit(0)) return;
  int profile = 0, level = 0;
  VideoProfileLevel(type, SourcePacket(0) + 4, profile, level);
  m_nProfile = static_cast<uint8_t>(profile);
  m_nLevel = static_cast<uint8_t>(level);
  m_au = SRipAu{};
  m_span = nullptr;
}

void VideoProfileLevel(uint8_t type, const uint8_t* ts, int& profile, int& level) {
  profile = level = 0;
  const size_t h = TsHeaderBytes(ts);
  const size_t pes = PesAt(ts, h);
  if (pes == 0 || pes + 9 + ts[pes + 8] >= 188) return;
  const size_t start = pes + 9 + ts[pes + 8];
  const uint8_t* p = ts + start;
  const size_t n = 188 - start;
  for (size_t i = 0; i + 3 < n; ++i) {
    if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1) continue;
    const uint8_t code = p[i + 3];
    if (type == kSctMpeg2 && code == 0xB5 && i + 5 < n) {
      profile = p[i + 4] & 0x0F;
      level = p[i + 5] >> 4;
      return;
    }
    if (type == kSctH264) {
      const uint8_t nal = code & 0x1F;
      if (nal == 1 || nal == 5) return;
      if (nal == 7 && i + 6 < n) {
        profile = p[i + 4];
        level = p[i + 6];
        return;
      }
    }
    if (type == kSctVc1 && code == 0x0F && i + 4 < n) {
      profile = p[i + 4] >> 6;
      level = (p[i + 4] >> 3) & 7;
      return;
    }
  }
}

bool SRipTrack::PrepareForMux(const SMuxPrepare& /*prep*/) {
  ResetMuxState();
  m_hasAu = false;
  m_nNewPid = m_nPid;
  if (!m_clip && !m_units.empty()) {
    m_error = "The clip of reused stream " + GetDescription() + " is not open";
    return false;
  }
  m_spanView.reset();
  ReadProfileLevel();
  CreateModels();
  m_ownKeyPoints.clear();
  m_nLastAudioKeyPts = 0;
  m_buffer.clear();
  m_nFirstUnit = 0;
  m_nLastUnit = static_cast<int32_t>(m_units.size()) - 1;
  if (!NextAu()) return false;
  if (!m_units.empty()) {
    // Graphics start with the whole display set of the first composition.
    SRipAu first = m_units.front();
    const uint32_t delay = m_nDelay > 0 ? static_cast<uint32_t>(m_nDelay) : 0;
    auto decode = [&](const SRipAu& u) { return (u.dts ? u.dts : u.pts) + delay; };
    m_nStartPts = first.pts + delay;
    m_nStartDts = decode(first);
    m_nStartPackets = first.PacketCount();
    const StreamKind c = StreamKindOf(GetStreamCodingType());
    if (c == StreamKind::kPg || c == StreamKind::kIg) {
      for (size_t i = 1; i < m_units.size(); ++i) {
        const uint32_t segment = m_units[i].type & 0xFF;
        if (segment == 0x16 || segment == 0x18) break;
        m_nStartDts = std::min(m_nStartDts, decode(m_units[i]));
        m_nStartPackets += m_units[i].PacketCount();
      }
    }
  }
  return true;
}

void SRipTrack::ReleaseMux() {
  SMuxTrack::ReleaseMux();
  m_span = nullptr;
  m_spanView.reset();
  m_epKeyPoints.reset();
  m_ownKeyPoints.clear();
  m_ownKeyPoints.shrink_to_fit();
}

void SRipTrack::ReleaseSource() {
  // The next build scans the clip again.
  m_units.clear();
  m_units.shrink_to_fit();
  m_hasAu = false;
  m_au = SRipAu{};
  m_span = nullptr;
  m_spanView.reset();
  m_buffer.clear();
  m_buffer.shrink_to_fit();
  m_clip = nullptr;
}

SMuxAu* SRipTrack::GetCurrentAu() {
  if (!m_hasAu) {
    m_bEnded = true;
    return nullptr;
  }
  return &m_au;
}

void SRipTrack::GetStartInfo(uint32_t& pts, uint32_t& dts, uint32_t& packets) const {
  SMuxTrack::GetStartInfo(pts, dts, packets);
}

bool SRipTrack::IsRandomAccess(const SRipAu& au) {
  switch (StreamKindOf(GetStreamCodingType())) {
    case StreamKind::kVideo: return au.type == kRipRandomAccess;
    case StreamKind::kAudio:
      if (m_nAuServed == m_nFirstUnit || au.pts >= m_nLastAudioKeyPts + 45000) {
        m_nLastAudioKeyPts = au.pts;
        return true;
      }
      return false;
    case StreamKind::kPg:
    case StreamKind::kIg: {
      const uint32_t segment = au.type & 0xFF;
      return (segment == 0x16 || segment == 0x18) && ((au.type >> 8) & 0xFF) != 0;
    }
    default: return false;
  }
}

bool SRipTrack::NextAu() {
  if (m_bEnded) return true;
  ++m_nAuServed;
  // What the mapping served since the last unit came from a clip cut short.
  const bool cut = ClipShortened();
  if (!cut && (m_nAuServed > m_nLastUnit || m_nAuServed < 0)) {
    m_bEnded = true;
    m_hasAu = false;
    return true;
  }
  if (cut || !ReadUnit(static_cast<size_t>(m_nAuServed))) {
    // Serving fewer units than were scanned would cut the stream short
    // without a word: the run fails instead.
    m_bEnded = true;
    m_hasAu = false;
    m_error = "Cannot read the packets of reused stream " + GetDescription() + " from \"" +
              (m_clip ? m_clip->Path() : std::string()) + "\"";
    return false;
  }
  m_hasAu = true;
  m_nBytesLeft = static_cast<uint32_t>(m_au.size);
  if (m_bWantKeyPoints) {
    const bool every = m_epKeyPoints.has_value();
    if (every || IsRandomAccess(m_au)) {
      KEY_POINT_INFO kp;
      kp.auIndex = every ? 0 : m_nAuServed - m_nFirstUnit;
      kp.pts = m_au.pts;
      m_ownKeyPoints.push_back(kp);
      m_nKeyPoint = static_cast<int64_t>(m_ownKeyPoints.size()) - 1;
    }
  }
  EnterAu(m_au);
  return true;
}

bool SRipTrack::GetVideoDescriptor(STrackVideoFormat& out) const {
  const StreamKind c = StreamKindOf(GetStreamCodingType());
  if (c == StreamKind::kVideo) {
    static constexpr uint32_t kSize[8][2] = {{0, 0},      {720, 480},   {720, 576},   {720, 480},
                                             {1920, 1080}, {1280, 720}, {1920, 1080}, {720, 576}};
    const uint8_t f = m_codingInfo.coding.VideoFormat;
    out.width = f < 8 ? kSize[f][0] : 0;
    out.height = f < 8 ? kSize[f][1] : 0;
    out.frameRate = m_codingInfo.coding.FrameRate;
    return true;
  }
  if ((c == StreamKind::kPg || c == StreamKind::kIg) && m_graphicsVideo) {
    out = *m_graphicsVideo;
    return true;
  }
  return false;
}

double SRipTrack::GetFrameDuration() const {
  const StreamKind c = StreamKindOf(GetStreamCodingType());
  if (c == StreamKind::kVideo) return FrameDurationOfCode(m_codingInfo.coding.FrameRate);
  if ((c == StreamKind::kPg || c == StreamKind::kIg) && m_graphicsVideo)
    return FrameDurationOfCode(m_graphicsVideo->frameRate);
  return 0;
}

std::string SRipTrack::GetFormatText() const {
  const StreamKind c = StreamKindOf(GetStreamCodingType());
  if (c == StreamKind::kPg || c == StreamKind::kIg) {
    STrackVideoFormat d;
    GetVideoDescriptor(d);
    char buf[96];
    if (d.frameRate < 8)
      std::snprintf(buf, sizeof buf, "%ux%u %s", d.width, d.height, FrameRateText(d.frameRate));
    else
      std::snprintf(buf, sizeof buf, "%ux%u", d.width, d.height);
    return std::string(buf) + " " + GetLanguageCode();
  }
  StreamCodingInfo info = m_codingInfo.coding;
  info.Language = GetLanguageCode();
  return info.Summary(true);
}

void SRipTrack::FillCodingInfo(STREAM_INFO& rec) const {
  rec = m_codingInfo;
  rec.StreamPID = m_nPid;
  rec.coding.Language = GetLanguageCode();
}

void SRipTrack::FillEsInfo(ESI& esi) const {
  if (m_pmtEntry) {
    esi = *m_pmtEntry;
  } else {
    esi = ESI{};
    esi.stream_type = GetStreamCodingType();
  }
  esi.elementary_PID = m_nPid;
  if (esi.language) esi.language->language = LanguageAt(m_nLanguage);
}

void SRipTrack::GetAttributeValues(SCodingAttributes& rec, std::string& language) const {
  language = GetLanguageCode();
  if (m_takenAttributes) {
    rec = *m_takenAttributes;
    return;
  }
  const StreamCodingInfo& c = m_codingInfo.coding;
  rec = SCodingAttributes{};
  rec.streamCodingType = c.StreamCodingType;
  rec.videoFormat = c.VideoFormat;
  rec.frameRate = c.FrameRate;
  rec.aspectRatio = c.AspectRatio;
  rec.presentationType = c.AudioPresentationType;
  rec.samplingFrequency = c.SamplingFrequency;
}

void SRipTrack::CreateModels() {
  SStdCodingParams p;
  p.stream_type = GetStreamCodingType();
  p.video_format = m_codingInfo.coding.VideoFormat;
  p.sampling_frequency = m_codingInfo.coding.SamplingFrequency;
  p.profile = m_nProfile;
  p.level = m_nLevel;
  p.primary = m_bPrimary;
  SStdModels m = CreateStdModels(p);
  m_pPrimaryModel = std::move(m.primary);
  m_pSecondaryModel = std::move(m.secondary);
  const uint8_t t = GetStreamCodingType();
  m_bPriority = t >= kSctAc3 && t <= kSctDtsHdMa;
}

void SRipTrack::CollectKeyPoints() {
  if (!m_bWantKeyPoints) return;
  SMuxTrack::CollectKeyPoints();
  if (!m_epKeyPoints) {
    m_keyPoints.keyPoints = m_ownKeyPoints;
    return;
  }
  // The old map's points move to the served units they name; a point whose
  // unit was not served is dropped.
  CKpiFolder out;
  size_t from = 0;
  for (const KEY_POINT_INFO& ep : m_epKeyPoints->keyPoints) {
    const uint64_t want = ep.pts >> 9;
    for (size_t j = from; j < m_ownKeyPoints.size(); ++j) {
      const uint64_t have = m_ownKeyPoints[j].pts >> 9;
      if (have > want) break;
      if (have == want) {
        KEY_POINT_INFO k = ep;
        k.pts = m_ownKeyPoints[j].pts;
        k.firstSpn = m_ownKeyPoints[j].firstSpn;
        k.lastSpn = m_ownKeyPoints[j].lastSpn;
        // The picture's end is measured in the new clip's packets.
        k.iEndCode = 0;
        out.push_back(k);
        from = j + 1;
        break;
      }
    }
  }
  m_keyPoints.keyPoints = std::move(out);
}

}  // namespace zv

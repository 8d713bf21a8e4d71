#include "mux/muxer.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "mux/clip_info.h"
#include "mux/ts_syntax.h"

namespace zv {

namespace {

constexpr int64_t kAtsModulo = int64_t{1} << 30;

}  // namespace

void CPeakWindow::Reset(uint32_t packetDuration) {
  times_.assign(static_cast<size_t>(kTicksPerSecond / std::max<uint32_t>(packetDuration, 1)) + 2, 0);
  head_ = count_ = 0;
  best_ = 0;
}

CMuxer::CMuxer() {
  auto psiHeader = [](uint16_t pid) {
    TS_PACKET_HEADER h;
    h.PID = pid;
    h.payload_unit_start_indicator = true;
    h.adaptation_field_control = 1;
    return h;
  };
  m_patHeader = psiHeader(kPatPid);
  m_pmtHeader = psiHeader(kPmtPid);
  m_sitHeader = psiHeader(kSitPid);
  m_pcrHeader.PID = kPcrPid;
  m_pcrHeader.adaptation_field_control = 2;
  ADAPTATION_FIELD af;
  af.PCR = PCR_FIELD{};
  af.stuffing = 176;  // adaptation_field_length 183: the field fills the packet
  m_pcrHeader.adaptation_field = af;
  m_sit.peak_rate = 120000;
}

CMuxer::~CMuxer() { m_writer.Wait(); }

bool CMuxer::Fail(const std::string& message) {
  if (m_error.empty()) m_error = message;
  return false;
}

void CMuxer::MarkEpStreams() {
  std::vector<SMuxTrack*>& tracks = *m_pTracks;
  bool any = false;
  for (SMuxTrack* t : tracks) {
    t->m_bWantKeyPoints = false;
    if (t->m_nPid == 0x1011 || (t->m_nPid >= 0x1B00 && t->m_nPid <= 0x1B1F)) {
      t->m_bWantKeyPoints = true;
      t->m_nEpStreamType = 1;
      any = true;
    }
  }
  if (any || tracks.empty()) return;
  SMuxTrack* first = tracks.front();
  auto mark = [](SMuxTrack* t, uint8_t type) {
    t->m_bWantKeyPoints = true;
    t->m_nEpStreamType = type;
  };
  if (m_nApplicationType == 4) {
    mark(first, 3);
  } else if (m_nApplicationType == 7) {
    if (first->m_nPid >= 0x1100 && first->m_nPid <= 0x111F) {
      mark(first, 3);
      return;
    }
    SMuxTrack* lastSecondaryAudio = nullptr;
    for (SMuxTrack* t : tracks)
      if (t->m_nPid >= 0x1A00 && t->m_nPid <= 0x1A1F) lastSecondaryAudio = t;
    if (lastSecondaryAudio)
      mark(lastSecondaryAudio, 4);
    else if (first->m_nPid >= 0x1200 && first->m_nPid <= 0x12FF)
      mark(first, 6);
    else if (first->m_nPid >= 0x1400 && first->m_nPid <= 0x141F)
      mark(first, 7);
  }
}

bool CMuxer::BuildPmt() {
  m_pmt = PMT_SECTION{};
  for (int pass = 0; pass < 2; ++pass) {
    for (SMuxTrack* t : *m_pTracks) {
      if (t->m_bPrimary != (pass == 0)) continue;
      ESI e;
      t->FillEsInfo(e);
      m_pmt.streams.push_back(std::move(e));
    }
  }
  if (!m_extraDescriptor.empty()) m_pmt.extra_descriptors.push_back({m_nExtraDescriptorTag, m_extraDescriptor});
  size_t n = 0;
  try {
    n = Write(m_pmt, nullptr, 0);
  } catch (const std::exception&) {
    return Fail("Too many streams for the program map table");
  }
  if (n > kPmtBufferSize) return Fail("Too many streams for the program map table");
  m_pmtBytes = std::make_unique<uint8_t[]>(kPmtBufferSize);
  m_nPmtLength = Write(m_pmt, m_pmtBytes.get(), kPmtBufferSize);
  return true;
}

bool CMuxer::Prepare(std::vector<SMuxTrack*>* tracks, const SMuxPrepare& prep) {
  m_error.clear();
  m_pTracks = tracks;
  m_nApplicationType = prep.applicationType;
  m_dDuration = prep.durationMs;
  m_nRate = prep.rate ? prep.rate : 48000000;
  // Not cleared: every packet writes all of its 192 bytes.
  WaitForWrite();
  if (!m_buffer) m_buffer = std::make_unique_for_overwrite<uint8_t[]>(kBufferSize);
  m_nHalf = 0;
  m_nPos = 0;
  m_nOutputBytes = 0;
  m_nSpn = 0;
  m_nCurrent = m_nLastPacketTime = 0;
  m_nLastAts = 0;
  m_nNextPsiTime = m_nNextPcrTime = 0;
  m_nPsiGroups = 0;
  m_bPcrWritten = false;
  m_nLastPcrValue = m_nLastPcrTime = 0;
  m_nLastPcrSpn = 0;
  m_pFirstVideo = nullptr;
  m_timing = SClipTiming{};
  // Bit times in whole ticks, truncated toward zero: 846 and 45 ticks at
  // 48 Mbit/s, 940 and 50 at 43.2 Mbit/s.
  m_nPacketDuration = static_cast<uint32_t>(uint64_t{1504} * kTicksPerSecond / m_nRate);
  m_nPcrOffset = static_cast<uint32_t>(uint64_t{81} * kTicksPerSecond / m_nRate);
  m_timing.bytesPerSecond = m_nRate / 8;
  m_peak.Reset(m_nPacketDuration);
  if (!m_pTracks) return Fail("No tracks to multiplex");

  MarkEpStreams();
  for (SMuxTrack* t : *m_pTracks) {
    if (!t->PrepareForMux(prep)) {
      return Fail(t->LastError().empty() ? "A track could not be prepared for multiplexing" : t->LastError());
    }
    if (StreamKindOf(t->GetStreamCodingType()) == StreamKind::kVideo) {
      if (!m_pFirstVideo) m_pFirstVideo = t;
      if (m_dDuration == 0) m_dDuration = t->GetFrameDuration();
    }
  }
  return BuildPmt();
}

// ---------------------------------------------------------------- output

bool CMuxer::WaitForWrite() {
  if (!m_writer.Pending()) return true;
  if (m_writer.Wait() != 1) return Fail(m_pOutput ? m_pOutput->Error() : std::string("Cannot write the clip"));
  return true;
}

bool CMuxer::Flush() {
  if (m_nPos == 0) return true;
  if (!m_pOutput) return Fail("No output file");
  // The other half is reused next: its write must be done, which also keeps
  // the writes in file order.
  if (!WaitForWrite()) return false;
  const uint8_t* data = m_buffer.get() + m_nHalf * kHalfSize;
  const size_t n = m_nPos;
  File* out = m_pOutput;
  m_writer.Start([out, data, n]() -> int64_t { return out->Write(data, n) ? 1 : 0; });
  m_nOutputBytes += n;
  // No refill with 0xFF: every packet writes all its bytes (PSI packets
  // clear their own tail).
  m_nHalf ^= 1;
  m_nPos = 0;
  return true;
}

bool CMuxer::FlushWithEndAlignment() {
  const size_t justWritten = m_nPos;
  if (!Flush()) return false;
  // Players read aligned units of 32 source packets; a clip ending on a
  // unit boundary still gets one unit of null packets.
  const size_t r = justWritten % kAlignedUnit;
  const size_t count = (kAlignedUnit - r) / 192;
  // The drain time the clip waited for need not be on the packet grid.
  const int64_t d = m_nPacketDuration;
  if (m_nCurrent > m_nLastPacketTime)
    m_nCurrent = m_nLastPacketTime + (m_nCurrent - m_nLastPacketTime + d - 1) / d * d;
  for (size_t i = 0; i < count; ++i) {
    uint8_t* p = Out();
    PutExtraHeader(p, m_nCurrent);
    p[4] = 0x47;
    p[5] = 0x1F;
    p[6] = 0xFF;
    p[7] = 0x10;
    std::memset(p + 8, 0xFF, 184);
    m_peak.Add(m_nCurrent);
    m_nPos += 192;
    m_nCurrent += m_nPacketDuration;
  }
  return Flush();
}

bool CMuxer::EnsureRoom() { return m_nPos + 192 <= kHalfSize || Flush(); }

uint8_t* CMuxer::BeginSectionPacket(int64_t t) {
  if (!EnsureRoom()) return nullptr;
  uint8_t* p = Out();
  std::memset(p + 4, 0xFF, 188);  // stuffing after the section
  PutExtraHeader(p, t);
  return p;
}

void CMuxer::CommitPacket(int64_t t) {
  m_peak.Add(t);
  m_nPos += 192;
  ++m_nSpn;
  m_nLastPacketTime = t;
  m_nLastAts = static_cast<uint32_t>(t % kAtsModulo);
}

void CMuxer::PutExtraHeader(uint8_t* p, int64_t time) const {
  const uint32_t ats = static_cast<uint32_t>(time % kAtsModulo);
  p[0] = static_cast<uint8_t>((m_nCopyPermission & 3) << 6 | ((ats >> 24) & 0x3F));
  p[1] = static_cast<uint8_t>(ats >> 16);
  p[2] = static_cast<uint8_t>(ats >> 8);
  p[3] = static_cast<uint8_t>(ats);
}

bool CMuxer::WritePat(int64_t t) {
  uint8_t* p = BeginSectionPacket(t);
  if (!p) return false;
  TS_PAYLOAD_START follow;
  follow.pat = &m_pat;
  Write(m_patHeader, p + 4, 188, follow);
  m_patHeader.continuity_counter = (m_patHeader.continuity_counter + 1) & 15;
  CommitPacket(t);
  m_nNextPsiTime = t + kPsiInterval;
  return true;
}

bool CMuxer::WritePmt(int64_t& t) {
  size_t sent = 0;
  bool first = true;
  while (sent < m_nPmtLength) {
    uint8_t* p = BeginSectionPacket(t);
    if (!p) return false;
    sent += WriteSectionPacket(m_pmtHeader, m_pmtBytes.get() + sent, m_nPmtLength - sent, first, p + 4);
    first = false;
    m_pmtHeader.continuity_counter = (m_pmtHeader.continuity_counter + 1) & 15;
    CommitPacket(t);
    t += m_nPacketDuration;
  }
  return true;
}

bool CMuxer::WriteSit(int64_t t) {
  uint8_t* p = BeginSectionPacket(t);
  if (!p) return false;
  TS_PAYLOAD_START follow;
  follow.sit = &m_sit;
  Write(m_sitHeader, p + 4, 188, follow);
  m_sitHeader.continuity_counter = (m_sitHeader.continuity_counter + 1) & 15;
  CommitPacket(t);
  return true;
}

int64_t CMuxer::SlotAtOrAfter(int64_t t) const {
  const int64_t d = m_nPacketDuration;
  const int64_t next = m_nLastPacketTime + d;
  return t <= next ? next : m_nLastPacketTime + (t - m_nLastPacketTime + d - 1) / d * d;
}

bool CMuxer::WritePcr(int64_t t) {
  if (!EnsureRoom()) return false;
  const int64_t d = m_nPacketDuration;
  const int64_t value = t + m_nPcrOffset;
  m_pcrHeader.adaptation_field->PCR = PCR_FIELD{static_cast<uint64_t>(value / 300) & ((uint64_t{1} << 33) - 1),
                                                static_cast<uint16_t>(value % 300)};
  uint8_t* p = Out();
  PutExtraHeader(p, t);
  Write(m_pcrHeader, p + 4, 188);
  if (!m_bPcrWritten)
    m_nNextPcrTime = t - 3 * d + kPcrInterval;
  else
    m_nNextPcrTime += kPcrInterval;
  m_bPcrWritten = true;
  m_nLastPcrValue = value;
  m_nLastPcrTime = t;
  m_nLastPcrSpn = m_nSpn;
  CommitPacket(t);
  m_nCurrent = std::max(m_nCurrent, t + d);
  return true;
}

bool CMuxer::WritePsiGroup(int64_t t) {
  if (!WritePat(t)) return false;
  t += m_nPacketDuration;
  if (!WritePmt(t)) return false;
  if (++m_nPsiGroups > 8) {
    if (!WriteSit(t)) return false;
    m_nPsiGroups = 0;
  }
  return true;
}

bool CMuxer::InsertDuePackets() {
  for (;;) {
    // Each table goes in the first free grid slot from its due time on, even
    // when the schedule sat idle then: waiting for the next elementary-stream
    // packet would stretch the PCR interval past 100 ms. The earlier slot
    // goes first; on a tie the PAT/PMT group does.
    const bool psiDue = m_nCurrent >= m_nNextPsiTime;
    const bool pcrDue = m_nCurrent >= m_nNextPcrTime;
    if (!psiDue && !pcrDue) break;
    const int64_t psiSlot = SlotAtOrAfter(m_nNextPsiTime);
    const int64_t pcrSlot = SlotAtOrAfter(m_nNextPcrTime);
    if (psiDue && (!pcrDue || psiSlot <= pcrSlot)) {
      if (!WritePsiGroup(psiSlot)) return false;
    } else if (!WritePcr(pcrSlot)) {
      return false;
    }
  }
  m_nCurrent = std::max(m_nCurrent, m_nLastPacketTime + m_nPacketDuration);
  return true;
}

// ---------------------------------------------------------------- packets

void CMuxer::Bookkeeping(SMuxTrack& track, const SAuBase& au) {
  const int64_t t = static_cast<int64_t>(au.pts) * kTicksPer90k;
  const StreamKind kind = StreamKindOf(track.GetStreamCodingType());
  const bool video = kind == StreamKind::kVideo;
  const int64_t f = video ? static_cast<int64_t>(track.GetFrameDuration() * 27000) : 0;
  const int64_t e = video && au.size > 0 ? t + f : t;
  bool counted;
  if (m_nApplicationType < 4) {
    counted = video;
  } else {
    const uint8_t seg = au.type & 0xFF;
    const bool graphics = kind == StreamKind::kPg || kind == StreamKind::kIg;
    counted = !graphics || seg == 0x16 || seg == 0x18;
  }
  if (counted) {
    m_timing.presentationStart = m_timing.presentationStart == 0 ? t : std::min(m_timing.presentationStart, t);
    m_timing.presentationEnd = std::max(m_timing.presentationEnd, e);
  }
  if (video && &track == m_pFirstVideo) {
    m_timing.firstVideoTime = m_timing.firstVideoTime == 0 ? t : std::min(m_timing.firstVideoTime, t);
    m_timing.lastVideoTime = std::max(m_timing.lastVideoTime, e - f);
  }
}

bool CMuxer::WriteEsPacket(SMuxTrack& track) {
  SMuxAu* au = track.GetCurrentAu();
  if (!au) return Fail("Wrong: pack is empty ! ");
  const bool first = au->size > 0 && track.m_nBytesLeft == static_cast<uint32_t>(au->size);
  // Due PSI and PCR packets go first, so the unit's packet can be built in
  // its place in the output buffer.
  if (!InsertDuePackets()) return false;
  if (!EnsureRoom()) return false;
  uint8_t* p = Out();
  uint32_t bytesLeft = 0, payload = 0;
  if (!au->BuildPacketInto(p, bytesLeft, payload)) return Fail("Wrong: pack is empty ! ");
  track.m_nBytesLeft = bytesLeft;
  PutExtraHeader(p, m_nCurrent);
  track.DeliverPacket(SPacketArrival{m_nCurrent, static_cast<int32_t>(payload)});
  if (first) {
    if (KEY_POINT_INFO* kp = au->GetKeyPoint()) kp->firstSpn = m_nSpn;
    Bookkeeping(track, *au);
  }
  CommitPacket(m_nCurrent);
  m_nCurrent += m_nPacketDuration;
  return true;
}

int CMuxer::WriteAuPackets(SMuxTrack& track, int64_t limit, uint64_t& written) {
  written = 0;
  const uint32_t a = track.m_nBytesLeft;
  const int64_t d = m_nPacketDuration;
  m_nCurrent = std::max(m_nCurrent, track.m_nNextTime);
  m_nCurrent = std::max(m_nCurrent, m_nLastPacketTime + d);
  // Onto the packet grid started by the first packet.
  m_nCurrent = m_nLastPacketTime + (m_nCurrent - m_nLastPacketTime + d - 1) / d * d;
  for (;;) {
    if (!WriteEsPacket(track)) return kFailed;
    track.UpdateNextTime();
    if (track.m_nBytesLeft == 0) break;
    if (m_nCurrent >= limit || m_nCurrent < track.m_nNextTime) {
      written = a - track.m_nBytesLeft;
      return kOk;
    }
  }
  if (SMuxAu* au = track.GetCurrentAu())
    if (KEY_POINT_INFO* kp = au->GetKeyPoint()) kp->lastSpn = m_nSpn - 1;
  written = a;
  if (!track.NextAu()) {
    Fail(track.LastError().empty() ? "A track could not serve its next access unit" : track.LastError());
    return kFailed;
  }
  track.UpdateNextTime();
  return kOk;
}

// ---------------------------------------------------------------- run

int CMuxer::Run(bool seamless, const Progress& progress) {
  try {
    return RunTracks(seamless, progress);
  } catch (const std::exception& e) {
    // Cleanup waits for the background write, which must not outlive the
    // caller's file, and releases the sources.
    Fail("Cannot multiplex \"" + (m_pOutput ? m_pOutput->Path() : std::string()) + "\": " + e.what());
    Cleanup();
    return kFailed;
  }
}

int CMuxer::RunTracks(bool seamless, const Progress& progress) {
  if (!m_pTracks || !m_buffer || !m_pmtBytes) {
    Fail("The multiplexer was not prepared");
    Cleanup();
    return kFailed;
  }
  int result = kOk;
  uint64_t total = 0;
  std::vector<SMuxTrack*> active;
  for (SMuxTrack* t : *m_pTracks) {
    total += t->GetTotalBytes();
    SMuxAu* au = t->GetCurrentAu();
    if (au && au->size > 0) {
      active.push_back(t);
      t->UpdateNextTime();
    }
  }
  if (active.empty()) {
    // An empty clip would still get PSI-less output and clip information
    // that describe nothing; refuse it instead of reporting success.
    Fail("No track has an access unit to multiplex");
    Cleanup();
    return kFailed;
  }
  if (!progress.Action("Building") || !progress.Item(m_pOutput ? m_pOutput->Path() : std::string()) ||
      !progress.Value(0)) {
    Cleanup();
    return kCancelled;
  }

  const int64_t d = m_nPacketDuration;
  int64_t limit = 0;
  bool wroteAny = false;
  uint64_t written = 0, reported = 0;
  int64_t latestEnd = 0;
  while (!active.empty()) {
    StreamKind kind = StreamKindOf(active.front()->GetStreamCodingType());
    // A clip that starts with video starts with its first unit, unsorted.
    if (wroteAny || kind != StreamKind::kVideo) {
      for (SMuxTrack* t : active) t->m_nNextTime = std::max(t->m_nNextTime, m_nCurrent);
      std::stable_sort(active.begin(), active.end(), [](SMuxTrack* x, SMuxTrack* y) {
        if (x->m_nNextTime != y->m_nNextTime) return x->m_nNextTime < y->m_nNextTime;
        const uint32_t dx = SMuxTrack::DecodeTime(*x->GetCurrentAu());
        const uint32_t dy = SMuxTrack::DecodeTime(*y->GetCurrentAu());
        if (dx != dy) return dx < dy;
        return x->m_nPid < y->m_nPid;
      });
      if (active.size() >= 2) limit = active[1]->m_nNextTime;
      kind = StreamKindOf(active.front()->GetStreamCodingType());
    }
    SMuxTrack& track = *active.front();
    if (!wroteAny) {
      m_nCurrent = track.m_nNextTime;
      if (seamless) {
        // Room for the previous clip's tail: the larger the opening units,
        // the less the first packet moves.
        const uint32_t dts = SMuxTrack::DecodeTime(*track.GetCurrentAu());
        int64_t n = track.CurrentAuPackets();
        for (SMuxTrack* t : active)
          if (t != &track && SMuxTrack::DecodeTime(*t->GetCurrentAu()) == dts) n += t->CurrentAuPackets();
        if (n * d <= 810000)
          m_nCurrent += 23490000;
        else if (n * d <= 1350000)
          m_nCurrent += 22950000;
        else
          m_nCurrent += 22410000;
      }
      m_timing.firstPacketTime = m_nCurrent;
      m_nLastPacketTime = m_nCurrent - d;
      int64_t t = m_nCurrent;
      if (!WritePat(t) || !WritePmt(t += d) || !WriteSit(t)) {
        result = kFailed;
        break;
      }
      m_nCurrent = t + d;
      if (!WritePcr(m_nCurrent)) {
        result = kFailed;
        break;
      }
      wroteAny = true;
      if (kind == StreamKind::kVideo) limit = m_nCurrent + d;
    }
    if (progress.fn && written - reported > kProgressStep) {
      reported = written;
      if (!progress.Value(total ? static_cast<int32_t>(written * 100 / total) : 0)) {
        result = kCancelled;
        break;
      }
    }
    uint64_t bytes = 0;
    if (int r = WriteAuPackets(track, limit, bytes)) {
      result = r;
      break;
    }
    if (track.m_bEnded) {
      SMuxAu* au = track.GetCurrentAu();
      if (au && au->size == 0) Bookkeeping(track, *au);
      if (kind == StreamKind::kVideo || kind == StreamKind::kAudio) latestEnd = std::max(latestEnd, track.m_nNextTime);
      active.erase(active.begin());
    }
    written += bytes;
  }

  if (result == kOk) {
    m_nCurrent = std::max(m_nCurrent, latestEnd);
    if (m_nPos > 0 && !FlushWithEndAlignment()) result = kFailed;
    if (!WaitForWrite()) result = kFailed;
  }
  if (result == kOk) {
    m_timing.durationTicks = static_cast<int64_t>(m_dDuration * 27000);
    m_timing.presentationEnd =
        std::max(m_timing.presentationEnd, m_timing.presentationStart + m_timing.durationTicks);
    m_timing.endTime = m_nLastPcrValue - m_nPcrOffset - m_nLastPcrTime + m_nCurrent;
    progress.Value(100);
    if (!WriteClipInformation()) result = kFailed;
  }
  Cleanup();
  return result;
}

bool CMuxer::WriteClipInformation() {
  ClipInformationFile ci;
  ci.ApplicationType = m_nApplicationType;
  ci.TsRecordingRate = m_nRate / 8;
  ci.NumberOfSourcePackets = static_cast<uint32_t>(m_nOutputBytes / 192);
  STC_INFO stc;
  stc.PcrPid = kPcrPid;
  stc.SpnStcStart = 0;
  stc.PresentationStartTime = Ticks27MHzTo45k(m_timing.presentationStart);
  stc.PresentationEndTime = Ticks27MHzTo45k(m_timing.presentationEnd);
  ci.atcSequences.front().stc = {stc};
  CSiFolder& streams = ci.programInfo.sequences.front().streams;
  for (int pass = 0; pass < 2; ++pass) {
    for (SMuxTrack* t : *m_pTracks) {
      if (t->m_bPrimary != (pass == 0)) continue;
      STREAM_INFO si;
      t->FillCodingInfo(si);
      si.StreamPID = t->m_nPid;
      streams.push_back(std::move(si));
    }
  }
  for (SMuxTrack* t : *m_pTracks) {
    if (!t->m_bWantKeyPoints) continue;
    t->CollectKeyPoints();
    if (!t->m_keyPoints.keyPoints.empty()) ci.cpi.entries.push_back(t->m_keyPoints);
  }
  std::vector<uint8_t> buf;
  try {
    buf = ci.Encode();
  } catch (const std::exception& e) {
    return Fail(std::string("Cannot write the clip information: ") + e.what());
  }
  if (!m_pClipInfo) return Fail("No clip information file");
  if (!m_pClipInfo->Write(buf.data(), buf.size())) return Fail(m_pClipInfo->Error());
  return true;
}

void CMuxer::Cleanup() {
  if (m_pTracks) {
    int64_t lo = 0, hi = 0;
    bool any = false;
    for (SMuxTrack* t : *m_pTracks) {
      t->ReleaseSource();
      lo = any ? std::min(lo, t->m_nNextTime) : t->m_nNextTime;
      hi = any ? std::max(hi, t->m_nNextTime) : t->m_nNextTime;
      any = true;
    }
    if (any) {
      m_timing.earlyDrainMargin = std::max<int64_t>(0, lo - m_nCurrent);
      m_timing.lateDrainMargin = std::max<int64_t>(0, hi - m_nCurrent);
    }
  }
  // The background write reads the buffer: it must end first. Its error
  // matters only to a run that would otherwise succeed, which waited already.
  WaitForWrite();
  m_buffer.reset();
  m_pmtBytes.reset();
  m_nPos = 0;
}

// ---------------------------------------------------------------- files

uint64_t CMuxer::MinimumOutputBytes() const {
  if (!m_pTracks) return 0;
  uint64_t payload = 0;
  for (const SMuxTrack* t : *m_pTracks) payload += t->GetTotalBytes();
  // A source packet carries at most 184 bytes of a track's payload.
  return payload / 184 * 192;
}

namespace {

// Reserves the clip's blocks before it is written, so each write only fills
// them instead of reserving its pages one by one. No more than the clip
// will take, and beyond the file's length: the file never looks longer
// than what was written, and no block is held that the clip information or
// another file might need. A failed reservation may have got part of the
// blocks: they are given back at once, and the writes report a full disk as
// they would without it. True when blocks past the file's end may be held
// (the caller cuts the file to length at the end).
bool ReserveBlocks(File& f, uint64_t bytes) {
  const int fd = f.Descriptor();
  if (bytes == 0 || fd < 0) return false;
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0) return true;
  const int64_t length = f.Length();
  return length < 0 || ::ftruncate(fd, length) != 0;
}

}  // namespace

int MuxClipFiles(CMuxer& muxer, const std::string& m2tsPath, const std::string& clpiPath, bool seamless,
                 const Progress& progress, std::string& error, bool freshFiles) {
  error.clear();
  File ts, clpi;
  auto removeBoth = [&] {
    ts.Close();
    clpi.Close();
    std::error_code ec;
    std::filesystem::remove(m2tsPath, ec);
    std::filesystem::remove(clpiPath, ec);
  };
  // A rebuild usually replaces a clip of about the same size: writing over
  // it in place and cutting it to length at the end avoids freeing and
  // reallocating every block. Failure removes the file either way.
  if (!ts.Open(m2tsPath, freshFiles ? File::kCreateNew : File::kOverwrite)) {
    error = ts.Error();
    return kFailed;
  }
  if (!clpi.Open(clpiPath, freshFiles ? File::kCreateNew : File::kCreate)) {
    error = clpi.Error();
    // Only what this call made goes: the name that was taken is not ours.
    ts.Close();
    std::error_code ec;
    std::filesystem::remove(m2tsPath, ec);
    return kFailed;
  }
  const bool reserved = ReserveBlocks(ts, muxer.MinimumOutputBytes());
  muxer.m_pOutput = &ts;
  muxer.m_pClipInfo = &clpi;
  const int r = muxer.Run(seamless, progress);
  muxer.m_pOutput = nullptr;
  muxer.m_pClipInfo = nullptr;
  if (r != kOk) {
    if (r == kFailed) error = muxer.Error();
    removeBoth();
    return r;
  }
  const auto written = static_cast<int64_t>(muxer.OutputBytes());
  // Cutting to the written length also frees any reserved block past it.
  if (((reserved || ts.Length() > written) && !ts.Truncate(written)) || !ts.Close()) {
    error = ts.Error();
    removeBoth();
    return kFailed;
  }
  if (!clpi.Close()) {
    error = clpi.Error();
    removeBoth();
    return kFailed;
  }
  return kOk;
}

}  // namespace zv

// The multiplexer: turns a clip's tracks into a BDAV transport stream of
// 192-byte source packets under the tracks' buffer models, with PAT, PMT,
// SIT and PCR at their fixed cadence, and writes the clip information file
// at the end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mux/mux_track.h"
#include "mux/psi.h"
#include "platform/file.h"
#include "platform/progress.h"
#include "platform/worker.h"
#include "platform/prompt.h"

namespace zv {

// Timing of a finished clip, copied by the story into its object.
struct SClipTiming {
  uint32_t bytesPerSecond = 0;
  int64_t presentationStart = 0;  // ticks
  int64_t presentationEnd = 0;
  int64_t durationTicks = 0;  // past 79.5 s it would not fit 32 bits
  int64_t firstVideoTime = 0;
  int64_t lastVideoTime = 0;
  int64_t firstPacketTime = 0;
  int64_t endTime = 0;  // arrival time after the last packet, on the PCR clock
  int64_t earlyDrainMargin = 0;
  int64_t lateDrainMargin = 0;
};

// Counts packets by arrival time over a sliding one-second window and keeps
// the largest count. Packets are at least one packet duration apart, so a
// ring of a second's worth of times holds the window.
class CPeakWindow {
 public:
  void Reset(uint32_t packetDuration);
  void Add(int64_t t) {
    while (count_ != 0 && t - times_[head_] >= kTicksPerSecond) {
      if (++head_ == times_.size()) head_ = 0;
      --count_;
    }
    size_t at = head_ + count_;
    if (at >= times_.size()) at -= times_.size();
    times_[at] = t;
    if (++count_ > best_) best_ = static_cast<uint32_t>(count_);
  }
  uint32_t Best() const { return best_; }

 private:
  std::vector<int64_t> times_;
  size_t head_ = 0, count_ = 0;
  uint32_t best_ = 0;
};

class CMuxer {
 public:
  // The buffer is filled and written in halves: one half goes to the file
  // in the background while the next one fills. Halves of 128 aligned units
  // of 6144 bytes are still in the cache when they are written.
  static constexpr size_t kBufferSize = 1572864;
  static constexpr size_t kHalfSize = kBufferSize / 2;
  static constexpr size_t kAlignedUnit = 6144;
  static constexpr size_t kPmtBufferSize = 2048;
  static constexpr uint64_t kProgressStep = 25165824;  // payload bytes between reports
  static constexpr int64_t kPsiInterval = 2538000;
  static constexpr int64_t kPcrInterval = 2430000;

  CMuxer();
  ~CMuxer();
  CMuxer(const CMuxer&) = delete;
  CMuxer& operator=(const CMuxer&) = delete;

  // ---- configuration
  File* m_pOutput = nullptr;    // receives the source packets, not owned
  File* m_pClipInfo = nullptr;  // receives the clip information file, not owned
  uint8_t m_nExtraDescriptorTag = 0x89;
  std::vector<uint8_t> m_extraDescriptor;  // added to the PMT when not empty
  uint8_t m_nCopyPermission = 0;           // 2 bits

  // Prepares every track (opening and analysing its stream when needed) and
  // builds the PMT. False with Error() set when a track cannot be prepared.
  bool Prepare(std::vector<SMuxTrack*>* tracks, const SMuxPrepare& prep = {});
  // kOk, kCancelled (by the callback) or kFailed (Error() says why: a write
  // error, an unbuildable packet, a unit the track could not serve). The
  // clip information is written only on kOk.
  // `seamless`: the clip follows another one seamlessly (connection
  // condition 5), so its first packet leaves room for that clip's tail.
  int Run(bool seamless, const Progress& progress);

  const std::string& Error() const { return m_error; }
  const SClipTiming& Timing() const { return m_timing; }
  uint32_t SourcePacketCount() const { return m_nSpn; }
  uint64_t OutputBytes() const { return m_nOutputBytes; }
  uint32_t PacketDuration() const { return m_nPacketDuration; }
  // Most packets of the file (null packets included) whose arrival times lie
  // within one second of each other: the clip's peak rate in packets/s.
  uint32_t PeakPacketsPerSecond() const { return m_peak.Best(); }
  // Prepared and not yet run: the fewest bytes the clip can take, from the
  // tracks' bytes (0 otherwise). What is reserved on disk before writing.
  uint64_t MinimumOutputBytes() const;
  uint8_t ApplicationType() const { return m_nApplicationType; }
  double DurationMs() const { return m_dDuration; }

 private:
  int RunTracks(bool seamless, const Progress& progress);
  void MarkEpStreams();
  bool BuildPmt();
  bool Flush();
  // Waits for the half in the background to be written; false (with the
  // error kept) when that write failed.
  bool WaitForWrite();
  bool FlushWithEndAlignment();
  uint8_t* Out() { return m_buffer.get() + m_nHalf * kHalfSize + m_nPos; }
  bool EnsureRoom();
  // A PSI packet's start: room, stuffing and the arrival time stamp; null
  // when the buffer could not be flushed.
  uint8_t* BeginSectionPacket(int64_t t);
  // Counts a written packet that arrives at `t`.
  void CommitPacket(int64_t t);
  void PutExtraHeader(uint8_t* p, int64_t time) const;
  bool WritePat(int64_t t);
  bool WritePmt(int64_t& t);
  bool WriteSit(int64_t t);
  // The first slot of the packet grid at or after `t` that is still free.
  int64_t SlotAtOrAfter(int64_t t) const;
  bool WritePcr(int64_t t);
  bool WritePsiGroup(int64_t t);
  bool InsertDuePackets();
  bool WriteEsPacket(SMuxTrack& track);
  // 0 ok, else a result code.
  int WriteAuPackets(SMuxTrack& track, int64_t limit, uint64_t& written);
  void Bookkeeping(SMuxTrack& track, const SAuBase& au);
  bool WriteClipInformation();
  void Cleanup();
  bool Fail(const std::string& message);

  std::vector<SMuxTrack*>* m_pTracks = nullptr;
  uint8_t m_nApplicationType = 1;
  double m_dDuration = 0;
  uint32_t m_nRate = 48000000;

  std::unique_ptr<uint8_t[]> m_buffer;
  size_t m_nHalf = 0;  // the half being filled
  size_t m_nPos = 0;   // within that half
  CWorker m_writer;  // writes the filled half
  uint64_t m_nOutputBytes = 0;

  TS_PACKET_HEADER m_patHeader, m_pmtHeader, m_sitHeader, m_pcrHeader;
  PAT_SECTION m_pat;
  PMT_SECTION m_pmt;
  SIT_SECTION m_sit;
  std::unique_ptr<uint8_t[]> m_pmtBytes;
  size_t m_nPmtLength = 0;

  uint32_t m_nSpn = 0;
  int64_t m_nCurrent = 0;
  uint32_t m_nPacketDuration = 846;
  uint32_t m_nPcrOffset = 45;
  int64_t m_nLastPacketTime = 0;
  uint32_t m_nLastAts = 0;
  int64_t m_nNextPsiTime = 0;
  int64_t m_nNextPcrTime = 0;
  int32_t m_nPsiGroups = 0;
  bool m_bPcrWritten = false;
  int64_t m_nLastPcrValue = 0;
  int64_t m_nLastPcrTime = 0;
  uint32_t m_nLastPcrSpn = 0;
  const SMuxTrack* m_pFirstVideo = nullptr;

  SClipTiming m_timing;
  CPeakWindow m_peak;
  std::string m_error;
};

// Creates OUT.m2ts and OUT.clpi, runs the prepared multiplexer into them and
// closes them. On cancel or failure both files are removed, so nothing
// half-written is left behind; `error` then says why (empty on cancel).
// With `freshFiles` both must be new names (nothing there, not even a
// link), as a build's staging folder guarantees; otherwise an old clip is
// written over in place.
int MuxClipFiles(CMuxer& muxer, const std::string& m2tsPath, const std::string& clpiPath, bool seamless,
                 const Progress& progress, std::string& error, bool freshFiles = false);

}  // namespace zv

// Tracks that reuse an elementary stream of an existing clip (an .m2ts of
// 192-byte source packets with its clip information). The clip is scanned
// once per build: each stream is cut into access units at its PES starts,
// remembered as runs of source-packet numbers. While multiplexing, a unit's
// packets are read back and served with the new PID, the transport_priority
// of its routing and its PES time stamps rewritten; nothing else changes,
// so the streams decode exactly as before.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mux/clip_info.h"
#include "records/ep_map.h"
#include "mux/mux_track.h"
#include "mux/psi.h"
#include "platform/file.h"
#include "platform/file_view.h"
#include "platform/progress.h"
#include "platform/worker.h"

namespace zv {

class SRipTrack;

// Results of the scan beyond kOk and kCancelled.
inline constexpr int kScanEmptyFile = 2;
inline constexpr int kScanFailed = 3;  // unreadable, truncated or changed clip; the error says which

// The existing clip, opened read-only once per build and shared by every
// reused track of it. Its size and modification time when opened identify
// the version the tracks were made from.
class CReusedClip {
 public:
  struct Identity {
    int64_t size = -1;  // -1: not known
    int64_t mtimeNs = 0;
    // Of the clip's first and last MiB: a clip replaced in place by one of
    // the same size and time differs there. 0: not known.
    uint64_t fingerprint = 0;
    bool operator==(const Identity&) const = default;
    // Size and time equal, and the content where both know it.
    bool Matches(const Identity& o) const {
      return size == o.size && mtimeNs == o.mtimeNs &&
             (fingerprint == 0 || o.fingerprint == 0 || fingerprint == o.fingerprint);
    }
  };
  // The file's size and time now (no fingerprint); size -1 when they cannot
  // be read.
  static Identity IdentityOf(const std::string& path);

  // False with `error` set.
  bool Open(const std::string& path, std::string& error);
  const std::string& Path() const { return m_file.Path(); }
  int64_t Length() const { return m_length; }
  const Identity& OpenedIdentity() const { return m_identity; }
  // Reads up to n bytes at `pos`; the count read, -1 on an error. Records
  // no error on the handle, so a worker may read while its owner does.
  int64_t ReadAt(int64_t pos, void* buf, size_t n);
  // The shared handle.
  const File& Handle() const { return m_file; }

  // The bytes [pos, pos + n) of the clip in a mapped window that every
  // track of the clip shares (n up to kSpanMax); the view keeps the window
  // alive for its holder. No view when the bytes cannot be mapped: read
  // them instead. The window after it is mapped in the background, since
  // the tracks move through the clip together.
  struct Span {
    std::shared_ptr<CFileView> view;
    const uint8_t* data = nullptr;
  };
  static constexpr size_t kWindowStep = size_t{16} << 20;
  static constexpr size_t kSpanMax = size_t{2} << 20;
  Span MapSpan(int64_t pos, size_t n);
  // False with `error` set when the file is no longer the one opened.
  bool Unchanged(std::string& error) const;

 private:
  std::shared_ptr<CFileView> Window(int64_t index);

  File m_file;
  int64_t m_length = 0;
  Identity m_identity;
  // Window i maps [i * kWindowStep, (i + 1) * kWindowStep + kSpanMax), so a
  // span starting in its step lies wholly in it.
  std::map<int64_t, std::shared_ptr<CFileView>> m_windows;
  std::shared_ptr<CFileView> m_pendingView;
  int64_t m_pendingIndex = -1;
  // Declared last: it ends, finishing a background map, before the views go.
  CWorker m_worker;
};

// One access unit of a reused stream.
struct SRipAu : SMuxAu {
  // Video: 1 for a random-access unit. Graphics: bits 0..7 segment type,
  // 8..15 composition_state of a PCS/ICS, bit 16 a PCS without objects.
  using Range = std::pair<uint32_t, uint32_t>;  // first, last source packet
  std::vector<Range> ranges;
  SRipTrack* reader = nullptr;  // set while the unit is served

  uint32_t PacketCount() const;
  const uint8_t* BuildPacket(uint32_t& bytesLeft, uint32_t& payload) override;
  bool BuildPacketInto(uint8_t* out, uint32_t& bytesLeft, uint32_t& payload) override;
  KEY_POINT_INFO* GetKeyPoint() override;
  bool IsBaseUnit() const override;
  int CoreByStreamIdExtension() const override;
  void SetRouting(bool base) override;
};

inline constexpr uint32_t kRipRandomAccess = 1;
// A unit is served from memory: a stream whose PES packets run longer than
// any real access unit (16 MiB) is refused rather than read whole.
inline constexpr uint32_t kRipMaxUnitPackets = (16u << 20) / 192;
inline constexpr uint32_t kRipNoObjects = 1u << 16;

class SRipTrack : public SMuxTrack {
 public:
  SRipTrack();
  ~SRipTrack() override;

  int32_t m_nClipNumber = -1;  // of the existing clip, for descriptions
  int32_t m_nSourcePid = 0;
  STREAM_INFO m_codingInfo;
  std::optional<ESI> m_pmtEntry;  // attached by the scan
  int32_t m_nPacketCount = 0;
  std::vector<SRipAu> m_units;
  // Clip the track was made from, as stored in the project (size -1: not
  // known); a build refuses a clip that differs.
  CReusedClip::Identity m_clipIdentity;
  std::optional<STrackVideoFormat> m_graphicsVideo;  // PG and IG
  // EP-map key points of the existing clip for this stream.
  std::optional<STREAM_PID_ENTRY> m_epKeyPoints;
  // Playlist attributes of the stream taken over from an existing playlist
  // of the clip; the language stays the track's own, so `set` still works.
  std::optional<SCodingAttributes> m_takenAttributes;

  void Serialize(CArchive& ar) override;
  std::string GetDescription() const override;
  bool SetLanguage(int32_t index) override;
  bool PrepareForMux(const SMuxPrepare& prep) override;
  void ReleaseMux() override;
  void ReleaseSource() override;
  SMuxAu* GetCurrentAu() override;
  void GetStartInfo(uint32_t& pts, uint32_t& dts, uint32_t& packets) const override;
  bool NextAu() override;
  uint8_t GetStreamCodingType() const override { return m_codingInfo.coding.StreamCodingType; }
  bool GetVideoDescriptor(STrackVideoFormat& out) const override;
  double GetFrameDuration() const override;
  std::string GetFormatText() const override;
  void FillCodingInfo(STREAM_INFO& rec) const override;
  void FillEsInfo(ESI& esi) const override;
  void GetAttributeValues(SCodingAttributes& rec, std::string& language) const override;
  void CreateModels() override;
  uint64_t GetTotalBytes() const override { return static_cast<uint64_t>(m_nPacketCount) * 192; }
  void CollectKeyPoints() override;
  uint32_t CurrentAuPackets() const override { return m_hasAu ? m_nUnitPackets : 0; }

  // The clip the units are read from during a run; not owned.
  void SetClip(CReusedClip* clip) { m_clip = clip; }
  uint8_t Profile() const { return m_nProfile; }
  uint8_t Level() const { return m_nLevel; }
  const CKpiFolder& OwnKeyPoints() const { return m_ownKeyPoints; }

 private:
  friend struct SRipAu;
  // Reads unit i (delay applied) into the reader; false when its packets
  // cannot be read.
  bool ReadUnit(size_t i);
  void ReadProfileLevel();
  bool IsRandomAccess(const SRipAu& au);
  // The unit's k-th packet as read, and the same with the new PID, priority
  // and time stamps written into `out`.
  const uint8_t* SourcePacket(uint32_t k) const;
  void RewritePacket(uint8_t* out, uint32_t& payload) const;
  // The window of the unit served found the clip shortened: what it served
  // may be zeros.
  bool ClipShortened() const { return m_spanView && m_spanView->Shortened(); }

  CReusedClip* m_clip = nullptr;
  // A unit is served from the clip's mapped window (no copy) when its span
  // fits one; otherwise its packets are read into m_buffer.
  std::shared_ptr<CFileView> m_spanView;
  std::vector<uint8_t> m_buffer;  // the unit's packets, one after another
  const uint8_t* m_span = nullptr;  // or the mapped bytes from its first packet to its last
  uint8_t m_scratch[192] = {};  // the packet BuildPacket returns
  // Reader of the unit being served.
  uint16_t m_nNewPid = 0;
  uint32_t m_nUnitPackets = 0;  // of the unit served
  uint32_t m_nNextPacket = 0;  // index of the unit's next packet
  size_t m_nRange = 0;  // range of the next packet, and its place there
  uint32_t m_nInRange = 0;
  int64_t m_nKeyPoint = -1;  // index into the own key points
  bool m_bPriority = false;  // transport_priority to write
  SRipAu m_au;
  bool m_hasAu = false;
  CKpiFolder m_ownKeyPoints;
  uint32_t m_nLastAudioKeyPts = 0;
  uint8_t m_nProfile = 0, m_nLevel = 0;
};

// The reused tracks of a story and the PMT last read from their clip.
struct SRipTracks {
  std::vector<std::unique_ptr<SRipTrack>> items;
  std::optional<PMT_SECTION> pmt;
};

struct SScannedStream;
// Scan-time state of one PID: the first track of it, what the scan found
// of its stream and the unit being cut.
struct STrackAu {
  SRipTrack* track = nullptr;
  SScannedStream* stream = nullptr;
  std::unique_ptr<SRipAu> au;
  uint32_t packets = 0;  // of the unit being cut
};
// Source PID to its scan state (the first track of a PID wins).
using CTrackAuMap = std::map<uint32_t, STrackAu>;

// True for the PIDs the disc reserves for elementary streams that reuse
// looks at.
bool IsReusablePid(uint32_t pid);
// The profile and level a video's first access unit shows in the 188-byte
// transport packet `ts` that starts it (the sequence extension, SPS or
// sequence header of coding type `type`); 0 and 0 when it shows none.
void VideoProfileLevel(uint8_t type, const uint8_t* ts, int& profile, int& level);

// Cuts the streams of `tracks` into access units. kOk, kCancelled,
// kScanEmptyFile, or kScanFailed with `error` set (a read error, or a file
// that is not whole source packets). What it finds is kept in the user's
// cache and taken from there while the clip stays the same.
int ScanReusedClip(SRipTracks& tracks, CReusedClip& clip, const Progress& progress, std::string* error = nullptr);
// The first complete PMT section on PID 0x0100, if any.
std::optional<PMT_SECTION> ReadClipPmt(CReusedClip& clip);
// The PTS of the first PES header on an elementary PID, when there is one.
std::optional<int64_t> ReadClipStartPts(CReusedClip& clip);
// Hands each EP-map entry to the first enabled track of its PID whose
// second flag is clear.
void AttachKeyPoints(SRipTracks& tracks, const SCpi& epMap);

// Everything a build does with the existing clip before multiplexing: the
// clip information is read and checked against the clip (none at
// `clpiPath`: the start time comes from the clip's first time stamp), the
// streams are scanned, the EP-map key points attached, the tracks pointed
// at `clip`, and `basePresentationTime` set to the clip's start. kOk,
// kCancelled, or kFailed with `error` set.
int PrepareReusedClip(SRipTracks& tracks, CReusedClip& clip, const std::string& clpiPath, const Progress& progress,
                      int64_t& basePresentationTime, std::string& error);

// A stream of an existing clip that reuse can take.
struct SClipStream {
  uint16_t pid = 0;
  STREAM_INFO info;
  bool inPmt = false;
};

// The streams of an existing clip, read from its clip information and
// checked against the clip (size in packets, PMT). `clpiPath` empty: the
// file of the same number in the CLIPINF folder beside STREAM (or beside
// the clip). kOk, or kFailed with `error` set.
struct SClipListing {
  std::string clipPath, clpiPath;
  int32_t clipNumber = -1;  // from a "%05d" file name, -1 otherwise
  ClipInformationFile info;
  std::vector<SClipStream> streams;
  CReusedClip::Identity identity;
};
int ListClipStreams(const std::string& clipPath, SClipListing& out, std::string& error);
// The companion clip information path of a clip: CLIPINF beside STREAM.
std::string CompanionClipInfoPath(const std::string& clipPath);
// A reused track for one listed stream (graphics get the video's plane).
std::unique_ptr<SRipTrack> MakeRipTrack(const SClipListing& clip, const SClipStream& s);

}  // namespace zv

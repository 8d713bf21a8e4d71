// Multiplexer tracks: one elementary stream of a clip as the multiplexer sees
// it (PID, language, delay, buffer models and the bookkeeping that decides
// when its next packet may go), and the entries a track contributes to the
// PMT, the clip information and playlists.
//
// SMuxTrack holds what every track shares; SRawTrack is fed from stream
// files through a pipe. A track that reuses a stream of an existing clip
// derives from SMuxTrack the same way (reused flag 1) and serves SMuxAu
// units of its own.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "named/source.h"
#include "mux/clip_info.h"
#include "records/ep_map.h"
#include "mux/pipe.h"
#include "mux/psi.h"
#include "mux/std_models.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/sif_data.h"

namespace zv {

class CArchive;
class CPipe;
struct SFillRequest;

// ISO 639-2 language codes: stored tracks keep an index into this table.
int LanguageCount();
// Three letters, or "" for an index outside the table.
const char* LanguageCodeAt(int index);
// The same as a value; the empty code for an index outside the table.
LanguageCode LanguageAt(int index);
// Exact match (lower-case); -1 when the code is not in the table.
int LanguageIndexOf(const std::string& code);
int DefaultLanguageIndex();  // "eng"

// Frame duration in ms of a frame-rate code (0 for codes without one).
double FrameDurationOfCode(uint8_t frameRateCode);

// 90 kHz base of every clip's presentation times unless a story sets another
// (a story that reuses tracks of an existing clip aligns it to that clip).
inline constexpr int64_t kDefaultBasePresentationTime = 54000000;

// An access unit served to the multiplexer.
struct SMuxAu : SAuBase {
  // Builds the unit's next packet in a 192-byte buffer (bytes 4..191 hold the
  // transport packet) and returns it; null when no bytes are left. bytesLeft
  // receives the unit's bytes still to send, payload the bytes placed.
  virtual const uint8_t* BuildPacket(uint32_t& bytesLeft, uint32_t& payload) = 0;
  // The same, built in place: `out` receives the 192 bytes (bytes 0..3 are
  // the caller's). False when no bytes are left.
  virtual bool BuildPacketInto(uint8_t* out, uint32_t& bytesLeft, uint32_t& payload) {
    const uint8_t* p = BuildPacket(bytesLeft, payload);
    if (!p) return false;
    std::memcpy(out, p, 192);
    return true;
  }
  // The unit's EP-map key point, once its first packet was built.
  virtual KEY_POINT_INFO* GetKeyPoint() { return nullptr; }
  // The unit belongs to the core (primary-model) part of the stream.
  virtual bool IsBaseUnit() const { return true; }
  // What the PES stream_id_extension of the unit says: 1 a core unit (0x71,
  // 0x76), 0 an extension or lossless unit (0x72), -1 neither.
  virtual int CoreByStreamIdExtension() const { return -1; }
  // Told where a unit of a reused stream was routed: base units go to the
  // primary model and are marked as such in their packets.
  virtual void SetRouting(bool /*base*/) {}
};

struct STrackVideoFormat {
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t frameRate = 0;  // disc code
};

// How a clip is multiplexed, and what preparing a track may need to open
// and analyse its stream.
struct SMuxPrepare {
  uint32_t rate = 48000000;     // bit/s of the transport stream; 0 for the default
  uint8_t applicationType = 1;  // of the clip information; 1 a main movie
  double durationMs = 0;        // 0: the first video's frame duration
  Progress progress;
  IPrompt* prompt = nullptr;
  int64_t basePresentationTime = kDefaultBasePresentationTime;
};

class SMuxTrack {
 public:
  SMuxTrack() = default;
  virtual ~SMuxTrack();
  SMuxTrack(const SMuxTrack&) = delete;
  SMuxTrack& operator=(const SMuxTrack&) = delete;

  // ---- stored and set by the story
  int32_t m_nTrackNumber = 0;
  bool m_bEnabled = true;
  uint8_t m_nReused = 0;  // 1 for a track reusing a stream of an existing clip
  bool m_bPrimary = true;
  bool m_bSecond = false;
  uint16_t m_nPid = 0;
  uint8_t m_nRefIndex = 0;
  int32_t m_nOrderKey = 0;
  int32_t m_nLanguage = DefaultLanguageIndex();
  int32_t m_nDelay = 0;  // 90 kHz

  // ---- multiplexing state
  std::unique_ptr<CStdBase> m_pPrimaryModel;
  std::unique_ptr<CStdBase> m_pSecondaryModel;
  int64_t m_nNextTime = 0;  // earliest arrival time of the next packet, ticks
  bool m_bWantKeyPoints = false;
  uint8_t m_nEpStreamType = 1;
  STREAM_PID_ENTRY m_keyPoints;
  int32_t m_nAuServed = -1;
  uint32_t m_nBytesLeft = 0;
  bool m_bEnded = false;
  bool m_bRoutedSecondary = false;
  uint32_t m_nHighestDts = 0;
  uint32_t m_nStartPts = 0, m_nStartDts = 0, m_nStartPackets = 0;
  int32_t m_nFirstUnit = 0, m_nLastUnit = -1;

  // Stored form: the SMuxTrack part (the subclasses write theirs first).
  virtual void Serialize(CArchive& ar);
  void Store(ArchiveOut& out, const std::string& projectPath = {});
  void Load(ArchiveIn& in, const std::string& projectPath = {});

  virtual std::string GetDescription() const;
  virtual std::string GetLanguageCode() const;
  // Unknown codes select "eng".
  bool SetLanguageCode(const std::string& code);
  // False for -1 or the current index.
  virtual bool SetLanguage(int32_t index);

  virtual bool PrepareForMux(const SMuxPrepare& prep) = 0;
  virtual void ReleaseMux();
  // Releases what the run held open (the pipe); the key points stay.
  virtual void ReleaseSource() {}
  virtual SMuxAu* GetCurrentAu() = 0;
  // First unit's PTS and DTS with the time offset applied, and its packets.
  virtual void GetStartInfo(uint32_t& pts, uint32_t& dts, uint32_t& packets) const;
  // Advances to the next unit; false (with LastError set) when the unit
  // cannot be served.
  virtual bool NextAu() = 0;
  virtual uint8_t GetStreamCodingType() const = 0;
  virtual bool GetVideoDescriptor(STrackVideoFormat& /*out*/) const { return false; }
  double GetFrameDuration90k() const { return GetFrameDuration() * 90.0; }
  // Milliseconds; 0 for streams without frames.
  virtual double GetFrameDuration() const;
  virtual std::string GetFormatText() const;
  virtual void FillCodingInfo(STREAM_INFO& rec) const = 0;
  virtual void FillEsInfo(ESI& esi) const = 0;
  // Coding values and language of the playlist stream attributes.
  virtual void GetAttributeValues(SCodingAttributes& rec, std::string& language) const;
  virtual void CreateModels() {}
  virtual uint64_t GetTotalBytes() const = 0;
  int64_t GetModelNextTime(bool secondary) const;
  virtual void CollectKeyPoints();
  // Transport packets of the current unit (the packet-count rule of the
  // stream's headers); 0 without a unit.
  virtual uint32_t CurrentAuPackets() const = 0;

  // ---- used by the multiplexer
  // Routes a newly served unit to the models and adds it there.
  void EnterAu(SMuxAu& au);
  // Recomputes the next permitted time after a packet or a new unit.
  void UpdateNextTime();
  // Hands a written packet to the models the current unit is routed to.
  void DeliverPacket(const SPacketArrival& p);
  // The unit's decoding time (its PTS when it has no DTS), 90 kHz.
  static uint32_t DecodeTime(const SAuBase& au) { return au.dts ? au.dts : au.pts; }

  const std::string& LastError() const { return m_error; }

 protected:
  void ResetMuxState();
  std::string m_error;
};

// The unit a raw track serves: the pipe's current unit with the time offset
// applied, packetized by the pipe.
struct SRawAu : SMuxAu {
  CPipe* pipe = nullptr;
  uint8_t packet[192] = {};
  SFillRequest* request = nullptr;  // owned by the track

  const uint8_t* BuildPacket(uint32_t& bytesLeft, uint32_t& payload) override;
  // Writes every byte of the transport packet, so the output buffer needs no
  // clearing first.
  bool BuildPacketInto(uint8_t* out, uint32_t& bytesLeft, uint32_t& payload) override;
  KEY_POINT_INFO* GetKeyPoint() override;
  bool IsBaseUnit() const override;
};

class SRawTrack : public SMuxTrack {
 public:
  SRawTrack();
  ~SRawTrack() override;

  // Referenced track: when set (and not this one) the track is an empty
  // placeholder that reports the referenced track's stream.
  SMuxTrack* m_pRefTrack = nullptr;
  CSource m_source;

  bool IsPlaceholder() const { return m_pRefTrack && m_pRefTrack != this; }

  // Chooses the stream file (a ".thd"/".mlp" file rides on the ".ac3" file of
  // the same name), analyses it and takes a language from a "_xxx" name
  // ending. False with LastError set when the source is refused; the track
  // is then unchanged.
  bool SetSource(const std::string& path, const Progress& progress, IPrompt* prompt);
  // "Empty track", the file name, or "*name" for a trimmed range.
  std::string GetDisplayName(bool stripPath, bool markTrimmed) const;
  // Size of `packets` source packets, as the clip lists show it.
  static std::string FormatClipSize(uint64_t packets);

  void Serialize(CArchive& ar) override;
  std::string GetDescription() const override;
  std::string GetLanguageCode() const override;
  bool SetLanguage(int32_t index) override;
  bool PrepareForMux(const SMuxPrepare& prep) override;
  void ReleaseSource() override;
  SMuxAu* GetCurrentAu() override;
  bool NextAu() override;
  uint8_t GetStreamCodingType() const override;
  bool GetVideoDescriptor(STrackVideoFormat& out) const override;
  double GetFrameDuration() const override;
  std::string GetFormatText() const override;
  void FillCodingInfo(STREAM_INFO& rec) const override;
  void FillEsInfo(ESI& esi) const override;
  void GetAttributeValues(SCodingAttributes& rec, std::string& language) const override;
  void CreateModels() override;
  uint64_t GetTotalBytes() const override;
  void CollectKeyPoints() override;
  uint32_t CurrentAuPackets() const override;

  int64_t TimeOffset() const { return m_nTimeOffset; }
  CPipe* Pipe() const { return m_pipe.get(); }
  // The stream-information record models and attributes come from: the
  // second file's when there is one.
  const CSifData* StreamRecord() const;

 private:
  int OpenPipe(const SMuxPrepare& prep);

  std::unique_ptr<CPipe> m_pipe;
  std::unique_ptr<SFillRequest> m_request;
  SRawAu m_au;
  bool m_hasAu = false;
  uint8_t m_type = 0;  // stream coding type found when the source was set
  int64_t m_nTimeOffset = 0;  // 90 kHz
  // Attributes read while the stream was open: playlists are written after
  // the multiplexer has closed the pipe's stream contexts.
  mutable SPipeAttributes m_attributes;
  mutable bool m_bHaveAttributes = false;
};

// Owns the raw tracks of a story.
struct SRawTracks {
  std::vector<std::unique_ptr<SRawTrack>> items;
};

// Where a unit of a reused stream with a core and an extension in one PID
// goes: true to the extension's model alone. `core` is what its PES
// stream_id_extension says (CoreByStreamIdExtension), `base` its first
// packet's transport priority, `first` whether it is the stream's first
// unit, `previousToExtension` where the unit before it went.
bool RoutesToExtension(int core, bool base, bool first, bool previousToExtension);
// What a PES header's stream_id_extension says of its unit: 1 a core unit
// (0x71, 0x76), 0 an extension or lossless unit (0x72), -1 neither.
int CoreByStreamIdExtension(const PES_HEADER& h);

// Models from a stream-information record's packet rules; the primary flag is
// the track's (passed to SetLevel).
SStdModels CreateModelsFromRecord(const CSifData& rec, bool primary);
// The buffer model of one packet rule, levels applied; null for kNone.
std::unique_ptr<CStdBase> ModelFromRule(const SPacketRule& r, bool trackPrimary);

// Gives PIDs the way a story does: seven lists by category and primary flag
// (primary video, audio, PG, IG, other; secondary audio; secondary video or
// other), each sorted by order key (then PID, then reused flag; stable) and
// numbered from 0x1011, 0x1100, 0x1200, 0x1400, 0x1800, 0x1A00, 0x1B00.
// Returns the tracks in list order, the order the multiplexer takes them.
std::vector<SMuxTrack*> AssignPids(const std::vector<SMuxTrack*>& tracks);

}  // namespace zv

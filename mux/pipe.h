// Access-unit sources ("pipes"): serve one track's access units in decoding
// order and cut them into transport packets. A pipe is built on the stream
// contexts of streams/ and adds the header choices of each stream type, the
// continuity counter and the random-access points of the EP map.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "named/source.h"
#include "mux/clip_info.h"
#include "records/ep_map.h"
#include "mux/psi.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "streams/sif_data.h"
#include "streams/stream_context.h"

namespace zv {

class PCM_WAVE_FORMAT;

// First unit of a stream, in the file's own time base (no offset applied).
struct SStartInfo {
  uint32_t pts = 0;
  uint32_t dts = 0;  // the PTS when the unit has no separate DTS
  uint32_t packets = 0;
};

// One FillPacket call: the multiplexer's request and what the pipe did.
struct SFillRequest {
  uint8_t* packet = nullptr;  // 188 bytes
  uint16_t pid = 0;
  int64_t timeOffset = 0;  // 90 kHz, added to PTS and DTS
  bool keyPointWanted = false;
  // Out: the key point of the unit being sent (set on its first packet, kept
  // while its later packets go out; null when the unit is none). It points
  // into the pipe's key-point list and stays valid until the next unit starts.
  KEY_POINT_INFO* keyPoint = nullptr;
  uint32_t payloadBytes = 0;  // out
};

// Playlist stream attributes as the pipe knows them.
struct SPipeAttributes : SCodingAttributes {
  std::string language;
};

// What a pipe keeps of the track's source; the source object itself stays
// with the track.
struct SPipeSource {
  SSourceParams params;
  std::vector<CFileItem> files;  // a file list; empty for one file
  LanguageCode language = kEnglish;
  std::array<uint8_t, 12> isrc{};

  static SPipeSource From(const CSource& src);
};

// Header choices per stream type and unit.
uint8_t PesStreamIdFor(uint8_t streamCodingType);
// The stream_id_extension of an AC-3 core that shares its PID with a
// lossless stream (the lossless units keep 0x72).
constexpr uint8_t kStreamIdExtensionLosslessCore = 0x76;
// 0 when the type carries no stream_id_extension.
uint8_t PesStreamIdExtensionFor(uint8_t streamCodingType, uint32_t auFlags);
bool PesCarriesDts(uint8_t streamCodingType, const AUI& au);
// Bytes placed before the payload in a unit's first packet: PES header plus
// the LPCM header.
size_t UnitHeaderBytes(uint8_t streamCodingType, const AUI& au);
// Transport packets one unit needs (0 for an empty unit).
uint32_t PacketsForUnit(uint8_t streamCodingType, const AUI& au);
// The 4-byte header in front of every LPCM PES payload.
std::array<uint8_t, 4> MakeLpcmHeader(const PCM_WAVE_FORMAT& fmt);
// The PMT entry for what a stream-information record announces.
ESI EsiFromFill(const SEsInfoFill& fill, uint16_t pid);

// Values of one opened context (shared by the pipes).
bool ContextStartInfo(SStreamContext& ctx, SStartInfo& out);
bool ContextPtsRange(SStreamContext& ctx, uint32_t& start, uint32_t& end);
uint32_t ContextPresentationStart(SStreamContext& ctx);

class CPipe {
 public:
  explicit CPipe(SPipeSource source) : m_source(std::move(source)) {}
  virtual ~CPipe() = default;
  CPipe(const CPipe&) = delete;
  CPipe& operator=(const CPipe&) = delete;

  // Releases key points, the PMT entry and the end unit; contexts stay.
  virtual void Close();
  // The context describing the stream (the main or current file).
  SStreamContext* GetStream() const { return m_stream; }
  virtual SStreamContext* GetSecondStream() const { return nullptr; }
  bool IsMultiplexed() const;
  // 0 ok, 1 cancelled, 2 failed (the failure was shown through `prompt`).
  virtual int Open(const Progress& progress, IPrompt* prompt) = 0;
  // The current unit belongs to the core (primary) part of the stream.
  virtual bool IsBaseAu() const { return false; }
  // The next unit in decoding order, with its bytes loaded; null at the end
  // (or on a read error, see Failed).
  virtual const AUI* NextAu() = 0;
  bool AtAuStart() const;
  virtual bool GetStartInfo(SStartInfo& out) = 0;
  virtual bool GetPtsRange(uint32_t& start, uint32_t& end) = 0;
  virtual uint32_t GetPresentationStart() = 0;
  int64_t GetAuCount() const;
  // Copies the next `length` bytes of the current unit; 0 when fewer are left.
  size_t ReadAuBytes(uint8_t* buffer, size_t length);
  const AUI* GetCurrentAu() const { return m_cur; }
  uint32_t GetAuBytesLeft() const;
  virtual void FillCodingInfo(STREAM_INFO& rec, uint16_t pid);
  virtual void FillStreamAttributes(SPipeAttributes& rec);
  virtual const ESI* CreateEsInfo(uint16_t pid) = 0;
  // Fills one 188-byte packet from the current unit; false when the unit has
  // no bytes left to send.
  bool FillPacket(SFillRequest& req);
  virtual uint64_t GetTotalBytes() = 0;

  const CKpiFolder& KeyPoints() const { return m_keyPoints; }
  const ESI* GetEsInfo() const { return m_esi.get(); }
  uint8_t GetStreamCodingType() const { return m_type; }
  double GetAuDuration() const { return m_duration; }
  uint8_t ContinuityCounter() const { return m_cc; }
  // NextAu stopped because a unit could not be read, not at the end.
  bool Failed() const { return m_failed; }

 protected:
  // Makes `au` (just served by `ctx`) the current unit.
  void Serve(SStreamContext* ctx, const AUI* au, int64_t index, bool fromSecond);
  void ClearCurrent();
  const ESI* BuildEsInfo(uint16_t pid, const CSifData* main, const CSifData* second);
  void FillCodingFrom(STREAM_INFO& rec, uint16_t pid, const CSifData* main, const CSifData* second);
  void FillAttributesFrom(SPipeAttributes& rec, const CSifData* main, const CSifData* second);

  SPipeSource m_source;
  SStreamContext* m_stream = nullptr;   // describes the stream
  SStreamContext* m_serving = nullptr;  // served the current unit
  const AUI* m_cur = nullptr;
  std::unique_ptr<AUI> m_endAu;  // synthetic end-of-stream unit
  CKpiFolder m_keyPoints;
  std::unique_ptr<ESI> m_esi;
  uint8_t m_cc = 0;
  uint8_t m_type = 0;
  double m_duration = 0;  // ms per unit
  bool m_failed = false;

 private:
  void InitPacketizer(SStreamContext& ctx, uint16_t pid);
  bool IsKeyPoint(const AUI& au, uint64_t ptsWritten) const;
  // A core unit of a stream whose core and extension share the PID.
  bool IsMarkedCoreUnit(uint8_t streamCodingType, const AUI& au) const;

  int64_t m_curIndex = 0;  // of the current unit, from the first selected one
  bool m_curFromSecond = false;
};

}  // namespace zv

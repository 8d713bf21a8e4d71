// Movie playlist file (PLAYLIST/nnnnn.mpls): the record and the extension
// records it may carry, each described once by a Syntax function that reads
// untrusted files, writes and dumps.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "records/ep_map.h"
#include "records/extension_data.h"
#include "records/stream_coding.h"

namespace zv {

using UoMask = std::array<uint8_t, 8>;

// Names of the user-operation bits 0..33 (user-interface text and dump
// label); bits past 33 are reserved.
constexpr int kNamedUoBits = 34;
const char* UoBitName(int bit);
const char* UoBitLabel(int bit);
bool GetUoBit(const UoMask& m, int bit);
void SetUoBit(UoMask& m, int bit, bool on);

const char* PlaybackTypeText(uint8_t v);
const char* SubPathTypeText(uint8_t v);
const char* MarkTypeText(uint8_t v);

struct SStreamEntryRef {
  uint8_t type = 1;  // 1 play item's clip, 2 sub-path clip, 3 in-mux sub-path
  uint16_t RefToStreamPidOfMainClip = 0;
  uint8_t RefToSubPathId = 0;
  uint8_t RefToSubClipEntryId = 0;
  uint16_t RefToStreamPidOfSubClip = 0;
};

struct SStreamAttributes {
  uint8_t StreamCodingType = 0;
  uint8_t Format = 0;  // video format, or audio presentation type
  uint8_t Rate = 0;    // frame rate, or sampling frequency
  uint8_t CharacterCode = 0;
  std::string Language;  // three letters
};

struct PRIMARY_STREAM_ENTRY {
  SStreamEntryRef entry;
  SStreamAttributes attributes;

};

// A list of stream numbers (1 byte each) written with a count, a reserved
// byte and a padding byte to an even length.
using CRefList = std::vector<uint8_t>;

struct SECONDARD_AUDIO_STREAM_ENTRY : PRIMARY_STREAM_ENTRY {
  CRefList primaryAudioRefs;

};

struct SECONDARD_VIDEO_STREAM_ENTRY : PRIMARY_STREAM_ENTRY {
  CRefList secondaryAudioRefs;
  CRefList pipPgRefs;

};

using CPseFolder = std::vector<PRIMARY_STREAM_ENTRY>;
using CSaseFolder = std::vector<SECONDARD_AUDIO_STREAM_ENTRY>;
using CSvseFolder = std::vector<SECONDARD_VIDEO_STREAM_ENTRY>;

struct STN_TABLE {
  CPseFolder primaryVideo;
  CPseFolder primaryAudio;
  CPseFolder pgTextSt;
  CPseFolder pipPgTextSt;
  CPseFolder ig;
  CSaseFolder secondaryAudio;
  CSvseFolder secondaryVideo;

};

struct ANGLE_CLIP_ENTRY {
  std::string ClipName = "00000";
  std::string CodecId = "M2TS";
  uint8_t RefToStcId = 0;
};
using CAceFolder = std::vector<ANGLE_CLIP_ENTRY>;

// Angles of a play item, or the extra clips of a sub play item; the main
// clip counts as the first.
struct SAngleBlock {
  bool IsDifferentAudios = false;
  bool IsSeamlessAngleChange = false;
  CAceFolder entries;
};

struct PLAY_ITEM {
  std::string ClipName = "00000";
  std::string CodecId = "M2TS";
  uint8_t ConnectionCondition = 1;
  uint8_t RefToStcId = 0;
  uint32_t InTime = 0;   // 45 kHz
  uint32_t OutTime = 0;  // 45 kHz
  UoMask uoMask{};
  bool RandomAccessFlag = false;
  uint8_t StillMode = 0;
  uint16_t StillTime = 0;  // written only with still mode 1
  std::optional<SAngleBlock> angles;
  STN_TABLE stn;

  bool IsMultiAngle() const { return angles.has_value(); }
};
using CPlayItems = std::vector<PLAY_ITEM>;

struct SUB_PLAY_ITEM {
  std::string ClipName = "00000";
  std::string CodecId = "M2TS";
  uint8_t SpConnectionCondition = 1;
  uint8_t RefToStcId = 0;
  uint32_t InTime = 0;
  uint32_t OutTime = 0;
  uint16_t SyncPlayItemId = 0;
  uint32_t SyncStartPtsOfPlayItem = 0;
  std::optional<SAngleBlock> multiClip;  // only the entries are used

  bool IsMultiClipEntries() const { return multiClip.has_value(); }
};
using CSpiFolder = std::vector<SUB_PLAY_ITEM>;

struct SUB_PATH {
  uint8_t SubPathType = 0;
  bool IsRepeat = false;
  CSpiFolder items;

};
using CSubPaths = std::vector<SUB_PATH>;

struct PLAY_MARK {
  uint8_t MarkType = 1;  // 1 entry mark, 2 link point
  uint16_t RefToPlayItemId = 0;
  uint32_t MarkTimeStamp = 0;  // 45 kHz
  uint16_t EntryEsPid = 0xFFFF;
  uint32_t Duration = 0;
};
using CPlayMarks = std::vector<PLAY_MARK>;

// ---- extension records ----

struct SPipMetadataEntry {
  uint32_t TimeStamp = 0;
  uint16_t HorizontalPosition = 0;  // 12 bits
  uint16_t VerticalPosition = 0;    // 12 bits
  uint8_t Scale = 0;                // 4 bits
};

struct SPipMetadataBlock {
  uint16_t RefToPlayItemId = 0;
  uint8_t RefToSecondaryVideoStreamId = 0;
  uint8_t TimelineType = 0;
  bool IsLumaKey = false;
  bool TrickPlayingFlag = false;
  uint8_t UpperLimitLumaKey = 0;
  uint32_t DataStartAddress = 0;  // as read
  std::vector<SPipMetadataEntry> entries;
};

class SPipMetaData : public SExtDataBase {
 public:
  static constexpr uint16_t kId1 = 1, kId2 = 1;
  std::vector<SPipMetadataBlock> blocks;
  void Parse(BeReader& r) override;
  size_t Write(BeWriter& w) const override;
  void Dump(SDumpNode& out) const override;
  void DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const override;
};

// Records of the (2, n) entries are shown only; the entry's bytes are
// written back as read.
class SStnMeta : public SExtDataBase {
 public:
  uint16_t count = 0;
  std::vector<uint8_t> rest;  // the entries after the count, undecoded
  void Parse(BeReader& r) override;
  size_t Write(BeWriter& w) const override;
  void Dump(SDumpNode& out) const override;
  void DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const override;
};

class SSpMeta : public SStnMeta {};

class SPartMeta : public SExtDataBase {
 public:
  std::vector<std::pair<uint16_t, uint16_t>> parts;
  void Parse(BeReader& r) override;
  size_t Write(BeWriter& w) const override;
  void Dump(SDumpNode& out) const override;
  void DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const override;
};

class SPiMeta : public SExtDataBase {
 public:
  SProgramInfo programInfo;
  void Parse(BeReader& r) override { programInfo.Parse(r); }
  size_t Write(BeWriter&) const override { return 0; }
  void Dump(SDumpNode& out) const override { programInfo.Dump(out); }
  void DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const override;
};

class SCpiMeta : public SExtDataBase {
 public:
  SCpi cpi;
  void Parse(BeReader& r) override { cpi.Parse(r); }
  size_t Write(BeWriter&) const override { return 0; }
  void Dump(SDumpNode& out) const override { cpi.Dump(out); }
  void DumpData(const std::vector<uint8_t>& data, SDumpNode& out) const override;
};

std::shared_ptr<SExtDataBase> MakePlaylistExtRecord(uint16_t id1, uint16_t id2);

class PlaylistFile {
 public:
  std::string TypeIndicator = "MPLS";
  std::string Version = "0200";
  uint32_t PlayListStartAddress = 0;
  uint32_t PlayListMarkStartAddress = 0;
  uint32_t ExtensionDataStartAddress = 0;

  // AppInfoPlayList
  uint8_t PlaybackType = 1;  // sequential
  uint16_t PlaybackCount = 0;
  UoMask uoMask{};
  bool RandomAccessFlag = false;
  bool AudioMixAppFlag = false;
  bool LosslessMayBypassMixerFlag = false;

  CPlayItems playItems;
  CSubPaths subPaths;
  CPlayMarks marks;
  std::optional<CEdeFolder> extensionData;

  // Clears UO bit n (0..63) in the playlist's mask and every play item's.
  void ClearUoBit(int n);
  // Decides lengths and addresses, then writes into `buffer` (zero-filled by
  // the caller); returns the byte count. A null buffer only measures.
  size_t WritePlaylist(uint8_t* buffer, size_t capacity);
  // Reads untrusted bytes; kOk, or kFailed with `error` set.
  int Parse(const uint8_t* data, size_t size, std::string* error);
  // The file's own bytes dumped as read; throws FormatError.
  static void DumpBytes(const uint8_t* data, size_t size, SDumpNode& out);
  // The record as it would be written.
  void Dump(SDumpNode& out) const;
  std::string DumpText(const std::string& indent = "") const;
};

// The records' syntax, walked by the file and its tests.
template <class IO>
void Syntax(IO& io, PRIMARY_STREAM_ENTRY& e);
template <class IO>
void Syntax(IO& io, STN_TABLE& s);
template <class IO>
void Syntax(IO& io, PLAY_ITEM& p);
template <class IO>
void Syntax(IO& io, SUB_PLAY_ITEM& p);
template <class IO>
void Syntax(IO& io, SUB_PATH& p);
template <class IO>
void Syntax(IO& io, PlaylistFile& x);
template <class IO>
void Syntax(IO& io, SPipMetaData& m);
template <class IO>
void Syntax(IO& io, SStnMeta& m);
template <class IO>
void Syntax(IO& io, SPartMeta& m);

}  // namespace zv

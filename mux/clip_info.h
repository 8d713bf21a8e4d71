// Clip information file (CLIPINF/nnnnn.clpi): the record, its writer, its
// reader for untrusted files, and its text dump. The stream coding records
// it shares with playlists live in records/stream_coding.h.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/ep_map.h"
#include "records/extension_data.h"
#include "records/stream_coding.h"
#include "platform/bytes.h"

namespace zv {

const char* ClipApplicationTypeText(uint8_t code);

// 27 MHz ticks to the 45 kHz units stored in clip and playlist files:
// rounded to 90 kHz, then halved with the remainder dropped.
uint32_t Ticks27MHzTo45k(int64_t ticks27);

struct STC_INFO {
  uint16_t PcrPid = 0x1001;
  uint32_t SpnStcStart = 0;
  uint32_t PresentationStartTime = 0;  // 45 kHz
  uint32_t PresentationEndTime = 0;
};

struct SAtcSequence {
  uint32_t SpnAtcStart = 0;
  uint8_t OffsetStcId = 0;
  std::vector<STC_INFO> stc;
};

struct SAtcDeltaEntry {
  uint32_t AtcDelta = 0;
  std::string FollowingClipName = "00000";
  std::string ClipCodecIdentifier = "M2TS";
};

class ClipInformationFile {
 public:
  // Defaults, with the tool-data container naming this build.
  ClipInformationFile();

  std::string TypeIndicator = "HDMV";
  std::string Version = "0200";
  // Start addresses, decided when writing, as read when parsing.
  uint32_t SequenceInfoStartAddress = 0;
  uint32_t ProgramInfoStartAddress = 0;
  uint32_t CpiStartAddress = 0;
  uint32_t ClipMarkStartAddress = 0;
  uint32_t ExtensionDataStartAddress = 0;

  // ClipInfo
  uint8_t ClipStreamType = 1;
  uint8_t ApplicationType = 1;
  uint32_t TsRecordingRate = 6000000;  // bytes per second
  uint32_t NumberOfSourcePackets = 0;
  std::array<uint8_t, kToolAreaSize> reserved{};  // kept when no tool data replaces it
  std::optional<CEdeFolder> toolData;
  uint8_t ValidityFlags = 0x80;
  std::string FormatIdentifier = "HDMV";
  std::array<uint8_t, 8> NetworkInformation{};
  std::array<uint8_t, 16> StreamFormatName{};
  std::vector<SAtcDeltaEntry> atcDeltas;
  bool IsAtcDelta() const { return !atcDeltas.empty(); }

  std::vector<SAtcSequence> atcSequences = std::vector<SAtcSequence>(1);
  SProgramInfo programInfo;
  SCpi cpi;
  std::vector<uint8_t> clipMark;  // bytes after the ClipMark length, empty in files we write
  std::optional<CEdeFolder> extensionData;

  // Decides EP maps, then writes into `buffer` and keeps the addresses as
  // written; returns the byte count. A null buffer only measures; a
  // buffer that is too small throws std::out_of_range.
  size_t WriteClipInformation(uint8_t* buffer, size_t capacity);
  // The same into a vector of the file's size.
  std::vector<uint8_t> Encode();
  // Reads untrusted bytes; kOk, or kFailed with `error` set.
  int Parse(const uint8_t* data, size_t size, std::string* error);
  // The file's own bytes dumped as read; throws FormatError.
  static void DumpBytes(const uint8_t* data, size_t size, SDumpNode& out);
  // The record as it would be written.
  void Dump(SDumpNode& out) const;
  std::string DumpText(const std::string& indent = "") const;
};

}  // namespace zv

// The stream coding records clip information and playlist files share: the
// coding attributes of a stream (the clip's StreamCodingInfo, the
// playlist's stream attributes) and the ProgramInfo block, with the names
// of their coded values.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "records/syntax.h"
#include "streams/coding_type.h"

namespace zv {

// Display names of the coded values ("" for a coding type without a name,
// "Reserved" for other unknown codes).
const char* CodingTypeText(uint8_t codingType);
const char* VideoFormatText(uint8_t code);
const char* FrameRateText(uint8_t code);
const char* AspectRatioText(uint8_t code);
const char* AudioPresentationText(uint8_t code);
const char* SamplingFrequencyText(uint8_t code);

struct StreamCodingInfo {
  uint8_t StreamCodingType = kSctLpcm;
  uint8_t VideoFormat = 0;
  uint8_t FrameRate = 0;
  uint8_t AspectRatio = 0;
  bool CcFlag = false;
  uint8_t AudioPresentationType = 0;
  uint8_t SamplingFrequency = 0;
  uint8_t CharacterCode = 0;
  std::string Language;               // ISO 639-2, three letters
  std::array<uint8_t, 12> Isrc{};     // CountryCode 2, CopyrightHolder 3, RecordingYear 2, RecordingNumber 5

  // One-line summary for stream lists.
  std::string Summary(bool withLanguage) const;
};

struct STREAM_INFO {
  uint16_t StreamPID = 0;
  StreamCodingInfo coding;
};
using CSiFolder = std::vector<STREAM_INFO>;

struct SProgramSequence {
  uint32_t SpnProgramSequenceStart = 0;
  uint16_t ProgramMapPid = 0x0100;
  uint8_t NumberOfGroups = 0;
  CSiFolder streams;
};

// ProgramInfo block; also the body of a playlist extension record.
struct SProgramInfo {
  std::vector<SProgramSequence> sequences = std::vector<SProgramSequence>(1);

  size_t Size() const;
  void Write(BeWriter& w) const;
  void Parse(BeReader& r);  // at the length field
  void Dump(SDumpNode& out) const;
};

// The fields of one stream's coding attributes.
struct CodingFieldRefs {
  uint8_t& codingType;
  uint8_t& videoFormat;
  uint8_t& frameRate;
  uint8_t& presentationType;
  uint8_t& samplingFrequency;
  uint8_t& characterCode;
  std::string& language;
};

// The coding type and the attributes of its kind, laid out alike in the
// clip's StreamCodingInfo and the playlist's stream attributes up to the
// language. `videoRest` walks the 24 bits after a video's format and frame
// rate, which the two records use differently; what follows the language
// is the caller's. Returns the stream's kind.
template <class IO, class F>
StreamKind CodingAttributes(IO& io, const CodingFieldRefs& f, F&& videoRest) {
  io.U8("StreamCodingType", f.codingType, rec::Shown{[](uint64_t t) {
          return std::string(CodingTypeText(static_cast<uint8_t>(t))) + "(" + HexText(t, 2) + ")";
        }});
  const StreamKind k = StreamKindOf(f.codingType);
  switch (k) {
    case StreamKind::kVideo:
      io.Bits(4, "VideoFormat", f.videoFormat, rec::Named{VideoFormatText});
      io.Bits(4, "FrameRate", f.frameRate, rec::Named{FrameRateText});
      videoRest();
      break;
    case StreamKind::kAudio:
      io.Bits(4, "AudioPresentationType", f.presentationType, rec::Named{AudioPresentationText});
      io.Bits(4, "SamplingFrequency", f.samplingFrequency, rec::Named{SamplingFrequencyText});
      io.PaddedText(3, "Language", f.language);
      break;
    case StreamKind::kPg:
    case StreamKind::kIg:
      io.PaddedText(3, "Language", f.language);
      break;
    case StreamKind::kTextSt:
      io.U8("CharacterCode", f.characterCode);
      io.PaddedText(3, "Language", f.language);
      break;
    case StreamKind::kOther:
      break;
  }
  return k;
}

template <class IO>
void Syntax(IO& io, StreamCodingInfo& c);
template <class IO>
void Syntax(IO& io, SProgramInfo& p);

}  // namespace zv

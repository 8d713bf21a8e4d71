// LPCM from RIFF/WAVE files. The format chunk is the stream's whole record;
// units are 5 ms of samples, computed from the data chunk rather than
// stored. On the disc the samples are big-endian and the channels of 5.1
// and 7.1 sit in another order than in a WAV file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "streams/parser_base.h"
#include "streams/sif_data.h"

namespace zv {

// The WAV format structure itself is the stored record (no version word).
class PCM_WAVE_FORMAT : public CAudioSif {
 public:
  static constexpr uint16_t kTagPcm = 1;
  static constexpr uint16_t kTagFloat = 3;
  static constexpr uint16_t kTagExtensible = 0xFFFE;
  // Channel-mask bits.
  static constexpr uint32_t kFrontCenter = 1u << 2;
  static constexpr uint32_t kLowFrequency = 1u << 3;
  static constexpr uint32_t kBackCenter = 1u << 8;

  uint16_t formatTag = 0;  // 1 PCM, 0xFFFE extensible
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t validBits = 0;
  uint32_t channelMask = 0;
  std::array<uint8_t, 16> subFormat{};

  void CopyFrom(const CSifData& o) override;
  bool IsEqual(const CSifData& o) const override;
  int Validate() override;
  void FillEsInfo(SEsInfoFill& es) const override;
  int CreatePacketRules(SPacketRule* out1, SPacketRule* out2) const override;
  bool Load(ArchiveIn& in) override;
  void Save(ArchiveOut& out) const override;
  uint8_t GetStreamCodingType(int) const override { return kSctLpcm; }
  uint8_t GetPresentationType() const override;
  // 1 = 48 kHz, 4 = 96 kHz, 5 = 192 kHz.
  uint8_t GetSamplingFrequency() const override;

  // Bytes per 5 ms unit.
  uint32_t AuSize() const { return avgBytesPerSec / 200; }
  // The speakers of the channels: the mask, or without one the default
  // layout of the channel count.
  uint32_t SpeakerMask() const;
  // Disc channel assignment of the LPCM header (3 stereo, 6 for 4.0, 7 quad,
  // 9 for 5.1, 11 for 7.1); 0 when no assignment of as many channels holds
  // every speaker of the WAV.
  uint8_t ChannelAssignment() const;
  // Why ChannelAssignment is 0: the layout and how to remix it.
  std::string LayoutRefusal() const;
  // Bits code from the container size (LPCM header) or the valid bits
  // (registration descriptor): 1 16-bit, 2 20-bit, 3 24-bit.
  uint8_t ContainerBitsCode() const;
  uint8_t ValidBitsCode() const;
  unsigned BytesPerSample() const { return (bitsPerSample + 7u) / 8u; }
};

// For each disc channel slot, the WAV channel that goes there; null when
// the layout keeps the WAV order. 5.1 puts the low-frequency channel last;
// 7.1 also moves the side pair around the back pair (L R C Ls Lb Rb Rs LFE).
const uint8_t* DiscChannelOrder(const PCM_WAVE_FORMAT& fmt);

// Turns little-endian WAV sample frames into the disc's form in place:
// big-endian samples in the disc's channel order. `size` is a whole number
// of sample frames (a trailing partial frame is only byte-swapped).
void ConvertLpcmToDisc(uint8_t* data, size_t size, const PCM_WAVE_FORMAT& fmt);

class CLPCMParser : public CParserBase {
 public:
  CLPCMParser() : CParserBase(kSctLpcm, {".wav"}) {}
  bool Probe(File& file) override;
  int ParseFile(const std::string& path, SStreamContext& ctx, const Progress& progress) override;
  int Parse(File& file, SStreamContext& ctx, const Progress& progress) override;
};

}  // namespace zv

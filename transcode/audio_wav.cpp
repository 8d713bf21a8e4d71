#include "transcode/audio_wav.h"

#include <cstring>

namespace zv {

namespace {

struct Out {
  std::vector<uint8_t> b;
  void Tag(const char* t) { b.insert(b.end(), t, t + 4); }
  void U16(uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
};

// KSDATAFORMAT_SUBTYPE_PCM.
constexpr uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                  0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

std::vector<uint8_t> ConvertedWavHeader(uint16_t channels, uint32_t sampleRate, uint16_t bits, uint32_t channelMask,
                                        uint64_t dataSize) {
  const uint16_t blockAlign = static_cast<uint16_t>(channels * (bits / 8));
  const uint64_t riffSize = kConvertedWavHeaderSize - 8 + dataSize;
  const bool rf64 = riffSize > 0xFFFFFFFFull;
  Out o;
  o.Tag(rf64 ? "RF64" : "RIFF");
  o.U32(rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(riffSize));
  o.Tag("WAVE");
  // ds64 for RF64, else a JUNK chunk of the same size keeping its place.
  o.Tag(rf64 ? "ds64" : "JUNK");
  o.U32(28);
  o.U64(rf64 ? riffSize : 0);
  o.U64(rf64 ? dataSize : 0);
  o.U64(rf64 ? dataSize / (blockAlign ? blockAlign : 1) : 0);  // sample count
  o.U32(0);                                                     // table length
  o.Tag("fmt ");
  o.U32(40);
  o.U16(0xFFFE);  // WAVE_FORMAT_EXTENSIBLE
  o.U16(channels);
  o.U32(sampleRate);
  o.U32(sampleRate * blockAlign);
  o.U16(blockAlign);
  o.U16(bits);
  o.U16(22);    // extension size
  o.U16(bits);  // valid bits
  o.U32(channelMask);
  o.b.insert(o.b.end(), kPcmGuid, kPcmGuid + 16);
  o.Tag("data");
  o.U32(rf64 ? 0xFFFFFFFFu : static_cast<uint32_t>(dataSize));
  return o.b;
}

}  // namespace zv

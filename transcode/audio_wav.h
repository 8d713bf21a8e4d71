// The WAV header of converted LPCM: WAVE_FORMAT_EXTENSIBLE with the channel
// mask, and room for a ds64 chunk, so that data past 4 GiB turns the file
// into RF64 in place once its length is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zv {

// 104 bytes, before the samples. `dataSize` of 0 when not yet known.
constexpr size_t kConvertedWavHeaderSize = 104;
std::vector<uint8_t> ConvertedWavHeader(uint16_t channels, uint32_t sampleRate, uint16_t bits, uint32_t channelMask,
                                        uint64_t dataSize);

}  // namespace zv

#include "streams/riff_wave.h"

#include <algorithm>
#include <cstring>

namespace zv {

namespace {

uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | uint64_t{Le32(p + 4)} << 32; }

// More of a format chunk than any WAV format structure needs.
constexpr uint32_t kMaxFormatChunk = 1024;
// The size fields an RF64 file leaves to its ds64 chunk.
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFF;

}  // namespace

bool IsRiffWaveHead(const uint8_t* head, size_t n) {
  return n >= 12 && (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RF64", 4) == 0) &&
         std::memcmp(head + 8, "WAVE", 4) == 0;
}

RiffResult ReadRiffWave(File& file, SRiffWave& out) {
  out = SRiffWave{};
  out.fileSize = file.Length();
  if (out.fileSize < 0) return RiffResult::kReadError;
  uint8_t head[12];
  if (out.fileSize < 12) return RiffResult::kNotWave;
  if (!file.ReadExactAt(0, head, sizeof head)) return RiffResult::kReadError;
  if (!IsRiffWaveHead(head, sizeof head)) return RiffResult::kNotWave;
  out.rf64 = std::memcmp(head, "RF64", 4) == 0;
  uint64_t ds64Data = 0;
  bool haveDs64 = false, haveFormat = false;
  int64_t pos = 12;
  while (pos + 8 <= out.fileSize) {
    uint8_t chunk[8];
    if (!file.ReadExactAt(pos, chunk, sizeof chunk)) return RiffResult::kReadError;
    const uint32_t size = Le32(chunk + 4);
    const int64_t body = pos + 8;
    if (std::memcmp(chunk, "ds64", 4) == 0 && out.rf64 && size >= 16 && body + 16 <= out.fileSize) {
      uint8_t ds[16];  // RIFF size, data size
      if (!file.ReadExactAt(body, ds, sizeof ds)) return RiffResult::kReadError;
      ds64Data = Le64(ds + 8);
      haveDs64 = true;
    } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16 || body + int64_t{size} > out.fileSize) return RiffResult::kFormatTooShort;
      out.formatSize = size;
      out.format.resize(std::min(size, kMaxFormatChunk));
      if (!file.ReadExactAt(body, out.format.data(), out.format.size())) return RiffResult::kReadError;
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return RiffResult::kDataBeforeFormat;
      const uint64_t declared = out.rf64 && haveDs64 && size == kSizeInDs64 ? ds64Data : uint64_t{size};
      out.dataOffset = body;
      // A size beyond the end (a WAV written to a pipe) means "to the end".
      out.dataSize = std::min<uint64_t>(declared, static_cast<uint64_t>(out.fileSize - body));
      return RiffResult::kOk;
    }
    // Chunks are padded to an even size.
    pos = body + int64_t{size} + (size & 1);
  }
  return haveFormat ? RiffResult::kNoData : RiffResult::kNoFormat;
}

}  // namespace zv

// The chunks of a RIFF/WAVE (or RF64/WAVE) file, read in one place for the
// stream analysis and the button sounds. Writers put chunks of their own
// (JUNK reserved for a later ds64, bext, LIST) before or after the format;
// they are skipped by their sizes. RF64 files over 4 GiB give the real
// sizes in the ds64 chunk and 0xFFFFFFFF in the data chunk's size field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/file.h"

namespace zv {

struct SRiffWave {
  std::vector<uint8_t> format;  // the "fmt " chunk's body (its first 1 KiB)
  uint32_t formatSize = 0;      // as the chunk declares it
  int64_t dataOffset = 0;       // of the first sample byte
  uint64_t dataSize = 0;        // as declared, cut to what the file holds
  int64_t fileSize = 0;
  bool rf64 = false;
};

enum class RiffResult {
  kOk,
  kNotWave,        // no RIFF or RF64 header naming WAVE
  kFormatTooShort, // a format chunk under 16 bytes or past the end
  kNoFormat,
  kDataBeforeFormat,
  kNoData,
  kReadError,      // the file's error is in File::Error()
};

// A file that begins like a RIFF/WAVE or RF64/WAVE file (12 bytes or more).
bool IsRiffWaveHead(const uint8_t* head, size_t n);

// Walks the chunks of `file` up to the data chunk.
RiffResult ReadRiffWave(File& file, SRiffWave& out);

}  // namespace zv

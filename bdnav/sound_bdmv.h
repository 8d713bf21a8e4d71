// Sound.bdmv, the disc's button sounds: a header, an index of sound entries
// and the 16-bit big-endian LPCM samples of every entry, back to back; and
// the builder that makes one from WAV files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "records/dump_tree.h"

namespace zv {

class File;
class PCM_WAVE_FORMAT;

// The texts of the sound builder, shown as they stand.
extern const char* const kMsgMaxSoundCount;     // "Max sound count is 128! "
extern const char* const kMsgIncompatibleWav;   // "Incompatible(Only supports 48K, 16-bits, Mono/Stereo)! "
extern const char* const kMsgSoundTooBig;       // "Size is more than 2M! "
extern const char* const kMsgSoundBuildOk;      // "Build OK! "
extern const char* const kMsgWrongSoundFormat;  // "%s: wrong file format! "

constexpr size_t kMaxSoundEntries = 128;
// A built sound file must stay below this size, and so must every WAV.
constexpr uint64_t kMaxSoundFileSize = 0x200000;

struct SSoundEntry {
  uint8_t channelConfiguration = 0;  // 1 mono, 3 stereo
  uint8_t samplingFrequency = 1;     // 1: 48 kHz
  uint8_t bitsPerSample = 1;         // 1: 16 bit
  uint32_t start = 0;                // from the sound data start address
  uint32_t length = 0;               // bytes

  bool operator==(const SSoundEntry&) const = default;
};

struct CSoundIndex {
  std::vector<SSoundEntry> entries;
};

class CSoundBdmv {
 public:
  virtual ~CSoundBdmv() = default;

  std::string typeIndicator = "BCLK";
  std::string version = "0200";
  // As read, or as the last Write set them.
  uint32_t soundDataStartAddress = 0;
  uint32_t extensionDataStartAddress = 0;
  CSoundIndex index;
  // The samples of each entry as read (big-endian), beside the index.
  std::vector<std::vector<uint8_t>> samples;
  // The extension-data block as stored (its length field included), or empty.
  std::vector<uint8_t> extensionData;

  size_t Count() const { return index.entries.size(); }

  // The samples of entry `i` (big-endian LPCM) into `out`; their size, or
  // -1 when they cannot be had.
  virtual int64_t GetSoundData(size_t i, std::vector<uint8_t>& out);

  // Reads a whole file. False with `error` set for a file shorter than 40
  // bytes, another type indicator, an index whose length says entries but
  // whose count is 0, a short file or an extension length with its top bit
  // set. The index, samples and extension data are replaced only on success.
  bool Read(File& f, std::string* error = nullptr);
  bool Parse(const uint8_t* data, size_t size, std::string* error = nullptr);
  // The file's bytes: every entry's samples come from GetSoundData, entry
  // starts become running totals. False with `error` for more than 128
  // entries or samples that cannot be had; this object then keeps its old
  // addresses.
  virtual bool Encode(std::vector<uint8_t>& out, std::string* error = nullptr);
  // Encode, then written at the file's current position.
  bool Write(File& f, std::string* error = nullptr);

  // Text lines with the format's labels; nested levels add `indent` again.
  std::string Dump(const std::string& indent = "  ");
  void DumpTree(SDumpNode& root);
};

// A file's bytes dumped as read; throws FormatError like Parse.
void DumpSoundBytes(const uint8_t* data, size_t size, SDumpNode& root);

// What a WAV file holds, from its RIFF chunks.
struct SWavInfo {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint16_t bitsPerSample = 0;
  uint16_t blockAlign = 0;
  int64_t dataOffset = 0;  // of the first sample
  uint64_t dataSize = 0;   // whole sample frames only, cut to what the file holds
  int64_t fileSize = 0;
};

// Reads the format and finds the samples. False with `error` (the file's
// system error, or what is wrong with its chunks).
bool ReadWavInfo(const std::string& path, SWavInfo& out, std::string& error);

// Whether a WAV may become a button sound: 44 bytes to just under 2 MiB,
// plain PCM, 48 kHz, 16 bits, one or two channels. `why` says what is not
// (a value of the file, or the system's error when it cannot be read).
bool IsCompatibleWav(const std::string& path, std::string* why = nullptr);

// Makes a sound file from up to 128 WAV files, in their order.
class CSoundBdmvBuilder : public CSoundBdmv {
 public:
  std::vector<std::string> paths;

  // The WAV's samples turned big-endian; -1 for an index out of range or a
  // WAV that cannot be read.
  int64_t GetSoundData(size_t i, std::vector<uint8_t>& out) override;
  // Rebuilds the index from the WAV files (mono becomes channel
  // configuration 1, anything else 3), then encodes.
  bool Encode(std::vector<uint8_t>& out, std::string* error = nullptr) override;
};

// The "Build sound" list: the builder's paths with the checks applied when
// a sound is added, and the build into a file.
class CSoundList {
 public:
  enum AddResult { kAdded, kSkipped /* already listed */, kFull, kIncompatible };
  enum BuildResult { kBuilt, kTooBig, kBuildFailed };

  // Adds a WAV at the end. `why` gets what is wrong with an incompatible one.
  AddResult Add(const std::string& path, std::string* why = nullptr);
  bool Remove(size_t i);
  bool Swap(size_t i, size_t j);
  const std::vector<std::string>& Paths() const { return builder_.paths; }
  // The list's columns: "#%d", the path and the size as "%dK".
  std::vector<std::vector<std::string>> Rows() const;
  // Writes the sound file to `out`, under a temporary name renamed into
  // place when complete: a failed or oversize build leaves nothing (and an
  // earlier file of that name as it was). `error` gets the reason of a
  // failure.
  BuildResult Build(const std::string& out, std::string& error);
  CSoundBdmvBuilder& Builder() { return builder_; }

 private:
  CSoundBdmvBuilder builder_;
};

}  // namespace zv

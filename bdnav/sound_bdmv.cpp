#include "bdnav/sound_bdmv.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "bdnav/nav_syntax.h"
#include "platform/bytes.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "records/syntax.h"
#include "streams/riff_wave.h"
#include "streams/stream_context.h"

namespace zv {

const char* const kMsgMaxSoundCount = "Max sound count is 128! ";
const char* const kMsgIncompatibleWav = "Incompatible(Only supports 48K, 16-bits, Mono/Stereo)! ";
const char* const kMsgSoundTooBig = "Size is more than 2M! ";
const char* const kMsgSoundBuildOk = "Build OK! ";
const char* const kMsgWrongSoundFormat = "%s: wrong file format! ";

namespace {

constexpr size_t kHeaderSize = 40;
constexpr size_t kEntrySize = 10;
// The smallest and largest WAV taken as a sound.
constexpr int64_t kMinWavSize = 44;
constexpr int64_t kMaxWavSize = 2097151;

std::string ChannelName(uint64_t v) { return v == 1 ? "Mono" : v == 3 ? "Stereo" : "Reserved"; }
std::string FrequencyName(uint64_t v) { return v == 1 ? "48K" : "Reserved"; }
std::string BitsName(uint64_t v) { return v == 1 ? "16 bit" : "Reserved"; }

// "1(Mono)": the value, then its name.
template <class F>
auto ValueAndName(F name) {
  return rec::Shown{[name](uint64_t v) { return std::to_string(v) + "(" + name(v) + ")"; }};
}

template <class IO>
void Entry(IO& io, SSoundEntry& e) {
  io.Bits(4, "ChannelConfiguration", e.channelConfiguration, ValueAndName(ChannelName));
  io.Bits(4, "SamplingFrequency", e.samplingFrequency, ValueAndName(FrequencyName));
  io.Bits(2, "BitsPerSample", e.bitsPerSample, ValueAndName(BitsName));
  io.Reserved(6);
  io.U32("SoundDataStartAddress", e.start);
  io.U32("SoundDataStartLength", e.length);
}

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

// Header, index, the samples of every entry at the sound data start address
// (each at its start from there), then the optional extension data. The
// writer expects entry starts already laid out as running totals.
template <class IO>
void Syntax(IO& io, CSoundBdmv& x) {
  io.Part("Sound.bdmv", [&] {
    if constexpr (IO::kReading)
      if (io.Remaining() < kHeaderSize)
        io.Fail("the file has " + std::to_string(io.Remaining()) + " bytes, shorter than its 40-byte header");
    rec::AddressField data, extension;
    io.Part("header", [&] {
      io.Text(4, "TypeIndicator", x.typeIndicator);
      if constexpr (IO::kReading)
        if (x.typeIndicator != "BCLK")
          io.Fail("type indicator is \"" + PrintableText(x.typeIndicator) + "\", not \"BCLK\"");
      io.Text(4, "VersionNumber", x.version);
      data = io.Address(32, "SoundDataStartAddress");
      extension = io.Address(32, "ExtensionDataStartAddress");
      if constexpr (IO::kReading) {
        x.soundDataStartAddress = static_cast<uint32_t>(data.value);
        x.extensionDataStartAddress = static_cast<uint32_t>(extension.value);
      }
      io.ReservedBytes(24);
    });
    auto& entries = x.index.entries;
    io.Section("SoundIndex", [&] {
      auto len = io.Length(32, "Length");
      // A zero length ends the index: there is no count.
      const bool empty = IO::kReading ? len.Value() == 0 : entries.empty();
      if (!empty) {
        io.Reserved(8);
        uint64_t count = entries.size();
        io.U8("NumberOfSoundEntries", count);
        if constexpr (IO::kReading) {
          if (count == 0) io.Fail("the index length is " + std::to_string(len.Value()) + " but it has no entries");
          if (count * kEntrySize > io.Remaining())
            io.Fail("NumberOfSoundEntries " + std::to_string(count) + " does not fit the length " +
                    std::to_string(len.Value()));
        }
        io.Elements(entries, count, [&](SSoundEntry& e, uint64_t i) {
          io.Section("SoundEntry", static_cast<int>(i + 1), [&] { Entry(io, e); });
        });
      } else if constexpr (IO::kReading) {
        entries.clear();
      }
      len.EndSkippingRest();
    });
    // Without entries the writer still fills the reserved byte and the count.
    if constexpr (IO::kWriting)
      if (entries.empty()) io.ReservedBytes(2);
    const size_t indexEnd = io.Pos();
    io.Part("SoundData", [&] {
      if constexpr (IO::kReading) {
        if (data.value < indexEnd)
          io.Fail("SoundDataStartAddress " + std::to_string(data.value) + " points inside the sound index");
        x.samples.assign(entries.size(), {});
      }
      io.At(data);
      const size_t base = io.Pos();
      for (size_t i = 0; i < entries.size(); ++i) {
        const SSoundEntry& e = entries[i];
        io.Part("SoundEntry", [&] {
          if constexpr (IO::kReading) {
            rec::AddressField at;
            at.value = e.start;
            at.base = base;
            io.At(at);
          } else {
            if (i >= x.samples.size() || x.samples[i].size() != e.length || e.start != io.Pos() - base)
              io.Fail("entry " + std::to_string(i + 1) + " does not match its samples");
          }
          io.Raw(e.length, "Samples", x.samples[i], rec::Hidden{});
        });
      }
    });
    StoredExtensionData(io, extension, x.extensionData, "sound data");
  });
}

ZV_SYNTAX_INSTANTIATE(CSoundBdmv);

int64_t CSoundBdmv::GetSoundData(size_t i, std::vector<uint8_t>& out) {
  out.clear();
  if (i >= Count()) return -1;
  if (i < samples.size()) out = samples[i];
  return static_cast<int64_t>(out.size());
}

bool CSoundBdmv::Parse(const uint8_t* data, size_t size, std::string* error) {
  CSoundBdmv read;
  try {
    rec::Reader rd(data, size);
    Syntax(rd, read);
  } catch (const FormatError& e) {
    if (error) *error = e.what();
    return false;
  }
  typeIndicator = std::move(read.typeIndicator);
  version = std::move(read.version);
  soundDataStartAddress = read.soundDataStartAddress;
  extensionDataStartAddress = read.extensionDataStartAddress;
  index = std::move(read.index);
  samples = std::move(read.samples);
  extensionData = std::move(read.extensionData);
  return true;
}

bool CSoundBdmv::Read(File& f, std::string* error) {
  const int64_t len = f.Length();
  // Sound files are small; a bigger one is not taken into memory.
  if (len < 0 || len > static_cast<int64_t>(kMaxSoundEntries * 2 * kMaxSoundFileSize)) {
    if (error) *error = len < 0 ? f.Error() : "the file is too large for a sound file";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(len));
  if (!f.Seek(0) || !f.ReadExact(bytes.data(), bytes.size())) {
    if (error) *error = f.Error();
    return false;
  }
  return Parse(bytes.data(), bytes.size(), error);
}

bool CSoundBdmv::Encode(std::vector<uint8_t>& out, std::string* error) {
  const auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (Count() > kMaxSoundEntries)
    return fail(std::to_string(Count()) + " sounds: " + kMsgMaxSoundCount);
  CSoundBdmv laid;
  laid.typeIndicator = typeIndicator;
  laid.version = version;
  laid.index = index;
  laid.extensionData = extensionData;
  laid.samples.resize(Count());
  uint64_t running = 0;
  for (size_t i = 0; i < Count(); ++i) {
    const int64_t n = GetSoundData(i, laid.samples[i]);
    if (n < 0) return fail("the samples of sound " + std::to_string(i) + " cannot be read");
    SSoundEntry& e = laid.index.entries[i];
    if (running + static_cast<uint64_t>(n) > 0xFFFFFFFFu) return fail("the sounds exceed 4 GiB");
    e.start = static_cast<uint32_t>(running);
    e.length = static_cast<uint32_t>(n);
    running += static_cast<uint64_t>(n);
  }
  try {
    out = rec::Encode(laid);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  index = std::move(laid.index);
  soundDataStartAddress = static_cast<uint32_t>(kHeaderSize + 6 + kEntrySize * Count());
  extensionDataStartAddress = extensionData.empty() ? 0 : static_cast<uint32_t>(soundDataStartAddress + running);
  return true;
}

bool CSoundBdmv::Write(File& f, std::string* error) {
  std::vector<uint8_t> bytes;
  if (!Encode(bytes, error)) return false;
  if (!f.Write(bytes.data(), bytes.size())) {
    if (error) *error = f.Error();
    return false;
  }
  return true;
}

void CSoundBdmv::DumpTree(SDumpNode& root) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!Encode(bytes, &error)) {
    root.Text("Error", error);
    return;
  }
  DumpSoundBytes(bytes.data(), bytes.size(), root);
}

std::string CSoundBdmv::Dump(const std::string& indent) {
  SDumpNode root;
  DumpTree(root);
  return root.Render(indent);
}

void DumpSoundBytes(const uint8_t* data, size_t size, SDumpNode& root) {
  rec::DumpBytes<CSoundBdmv>(data, size, root);
}

// ---------------------------------------------------------------- WAV files

bool ReadWavInfo(const std::string& path, SWavInfo& out, std::string& error) {
  File f;
  if (!f.Open(path, File::kRead)) return error = f.Error(), false;
  SRiffWave wave;
  switch (ReadRiffWave(f, wave)) {
    case RiffResult::kOk: break;
    case RiffResult::kReadError: return error = f.Error(), false;
    case RiffResult::kNotWave: return error = "not a RIFF WAVE file", false;
    case RiffResult::kFormatTooShort: return error = "its format chunk is too short", false;
    case RiffResult::kDataBeforeFormat: return error = "its data chunk comes before the format chunk", false;
    case RiffResult::kNoData: return error = "it has no data chunk", false;
    case RiffResult::kNoFormat: return error = "it has no format chunk", false;
  }
  SWavInfo w;
  const uint8_t* fmt = wave.format.data();
  w.formatTag = Le16(fmt);
  w.channels = Le16(fmt + 2);
  w.samplesPerSec = Le32(fmt + 4);
  w.blockAlign = Le16(fmt + 12);
  w.bitsPerSample = Le16(fmt + 14);
  w.fileSize = wave.fileSize;
  w.dataOffset = wave.dataOffset;
  w.dataSize = wave.dataSize;
  if (w.blockAlign > 0) w.dataSize -= w.dataSize % w.blockAlign;
  out = w;
  return true;
}

bool IsCompatibleWav(const std::string& path, std::string* why) {
  const auto no = [&](const std::string& reason) {
    if (why) *why = reason;
    return false;
  };
  SWavInfo w;
  std::string error;
  File f;
  if (!f.Open(path, File::kRead)) return no(f.Error());
  const int64_t size = f.Length();
  if (size < 0) return no(f.Error());
  f.Close();
  if (size < kMinWavSize || size > kMaxWavSize)
    return no("the file has " + std::to_string(size) + " bytes; a sound has 44 to 2097151");
  if (!ReadWavInfo(path, w, error)) return no(error);
  if (w.samplesPerSec != 48000) return no(std::to_string(w.samplesPerSec) + " Hz");
  if (w.bitsPerSample != 16) return no(std::to_string(w.bitsPerSample) + " bits per sample");
  if (w.channels != 1 && w.channels != 2) return no(std::to_string(w.channels) + " channels");
  if (w.formatTag != 1) return no("format tag " + std::to_string(w.formatTag) + ", not plain PCM (1)");
  if (w.blockAlign != 2 * w.channels) return no("block align " + std::to_string(w.blockAlign));
  return true;
}

int64_t CSoundBdmvBuilder::GetSoundData(size_t i, std::vector<uint8_t>& out) {
  out.clear();
  if (i >= paths.size()) return -1;
  SWavInfo w;
  std::string error;
  if (!ReadWavInfo(paths[i], w, error) || w.dataSize > kMaxSoundEntries * kMaxSoundFileSize) return -1;
  File f;
  out.resize(static_cast<size_t>(w.dataSize));
  if (!f.Open(paths[i], File::kRead) || !f.ReadExactAt(w.dataOffset, out.data(), out.size())) {
    out.clear();
    return -1;
  }
  SwapLpcmBytes(out.data(), out.size(), w.bitsPerSample);
  return static_cast<int64_t>(out.size());
}

bool CSoundBdmvBuilder::Encode(std::vector<uint8_t>& out, std::string* error) {
  if (paths.size() > kMaxSoundEntries) {
    if (error) *error = std::to_string(paths.size()) + " sounds: " + kMsgMaxSoundCount;
    return false;
  }
  std::vector<SSoundEntry> entries;
  for (const std::string& p : paths) {
    // Only what the entry can describe: 48 kHz 16-bit mono or stereo.
    std::string why;
    if (!IsCompatibleWav(p, &why)) {
      if (error) *error = p + ": " + kMsgIncompatibleWav + "(" + why + ")";
      return false;
    }
    SWavInfo w;
    ReadWavInfo(p, w, why);
    SSoundEntry e;
    e.channelConfiguration = w.channels == 1 ? 1 : 3;
    e.samplingFrequency = 1;
    e.bitsPerSample = 1;
    entries.push_back(e);
  }
  index.entries = std::move(entries);
  samples.clear();
  if (CSoundBdmv::Encode(out, error)) return true;
  if (error) *error = "Sound.bdmv: " + *error;
  return false;
}

// ---------------------------------------------------------------- the list

namespace {

std::string ListedForm(const std::string& path) { return AbsolutePath(path); }

}  // namespace

CSoundList::AddResult CSoundList::Add(const std::string& path, std::string* why) {
  const std::string listed = ListedForm(path);
  for (const std::string& p : builder_.paths)
    if (p == listed) return kSkipped;
  if (builder_.paths.size() >= kMaxSoundEntries) return kFull;
  if (!IsCompatibleWav(listed, why)) return kIncompatible;
  builder_.paths.push_back(listed);
  return kAdded;
}

bool CSoundList::Remove(size_t i) {
  if (i >= builder_.paths.size()) return false;
  builder_.paths.erase(builder_.paths.begin() + static_cast<std::ptrdiff_t>(i));
  return true;
}

bool CSoundList::Swap(size_t i, size_t j) {
  if (i >= builder_.paths.size() || j >= builder_.paths.size()) return false;
  std::swap(builder_.paths[i], builder_.paths[j]);
  return true;
}

std::vector<std::vector<std::string>> CSoundList::Rows() const {
  std::vector<std::vector<std::string>> rows;
  for (size_t i = 0; i < builder_.paths.size(); ++i) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(builder_.paths[i], ec);
    rows.push_back({"#" + std::to_string(i), builder_.paths[i], std::to_string(ec ? 0 : size / 1024) + "K"});
  }
  return rows;
}

CSoundList::BuildResult CSoundList::Build(const std::string& out, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!builder_.Encode(bytes, &error)) return kBuildFailed;
  // Checked before anything is written, so no oversize file ever appears.
  if (bytes.size() > kMaxSoundFileSize) {
    error = std::to_string(bytes.size()) + " bytes";
    return kTooBig;
  }
  // A link at the output name is replaced, as the build and the
  // multiplexer replace theirs; the file it points to is not written.
  if (!WriteFileAtomic(out, bytes.data(), bytes.size(), error, AtLink::kReplace)) return kBuildFailed;
  return kBuilt;
}

}  // namespace zv

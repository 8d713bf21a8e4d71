// Sound.bdmv: layout of written files against hand-computed offsets, the
// reader's refusals, the WAV checks and the build of the "Build sound" list.
#include "bdnav/sound_bdmv.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file.h"
#include "streams/stream_context.h"
#include "support/test_support.h"

namespace zv {
namespace {

using zvtest::DataPath;
using zvtest::ReadBytes;
using zvtest::TempDir;
using zvtest::WriteBytes;

void Be32(std::vector<uint8_t>& v, uint32_t x) {
  for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
void Le(std::vector<uint8_t>& v, uint32_t x, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
uint32_t At32(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint32_t>(v[at]) << 24 | v[at + 1] << 16 | v[at + 2] << 8 | v[at + 3];
}

// A canonical 44-byte-header WAV whose samples count up from `first`.
std::vector<uint8_t> Wav(uint32_t rate, uint16_t channels, uint16_t bits, uint32_t dataBytes, uint16_t tag = 1,
                         uint16_t first = 0) {
  std::vector<uint8_t> w;
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  w.insert(w.end(), {'R', 'I', 'F', 'F'});
  Le(w, 36 + dataBytes, 4);
  w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Le(w, 16, 4);
  Le(w, tag, 2);
  Le(w, channels, 2);
  Le(w, rate, 4);
  Le(w, rate * align, 4);
  Le(w, align, 2);
  Le(w, bits, 2);
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  Le(w, dataBytes, 4);
  for (uint32_t i = 0; i < dataBytes; ++i) w.push_back(static_cast<uint8_t>(i % 2 ? (first + i / 2) >> 8 : first + i / 2));
  return w;
}

// A sound file put together byte by byte: `entries` as (channels code,
// samples), then optionally an extension block.
std::vector<uint8_t> HandMade(const std::vector<std::pair<uint8_t, std::vector<uint8_t>>>& entries,
                              const std::vector<uint8_t>& extension = {}) {
  std::vector<uint8_t> f = {'B', 'C', 'L', 'K', '0', '2', '0', '0'};
  const uint32_t dataStart = 46 + 10 * static_cast<uint32_t>(entries.size());
  uint32_t total = 0;
  for (const auto& e : entries) total += static_cast<uint32_t>(e.second.size());
  Be32(f, dataStart);
  Be32(f, extension.empty() ? 0 : dataStart + total);
  f.resize(40, 0);
  Be32(f, entries.empty() ? 0 : 10 * static_cast<uint32_t>(entries.size()) + 2);
  f.push_back(0);
  f.push_back(static_cast<uint8_t>(entries.size()));
  uint32_t start = 0;
  for (const auto& e : entries) {
    f.push_back(static_cast<uint8_t>(e.first << 4 | 1));  // channels, 48 kHz
    f.push_back(0x40);                                    // 16 bit
    Be32(f, start);
    Be32(f, static_cast<uint32_t>(e.second.size()));
    start += static_cast<uint32_t>(e.second.size());
  }
  for (const auto& e : entries) f.insert(f.end(), e.second.begin(), e.second.end());
  f.insert(f.end(), extension.begin(), extension.end());
  return f;
}

std::vector<uint8_t> Encoded(CSoundBdmv& s) {
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_TRUE(s.Encode(out, &error)) << error;
  return out;
}

TEST(SoundBdmv, NoEntriesGiveA46ByteFileWithAZeroIndexLength) {
  CSoundBdmv s;
  const std::vector<uint8_t> out = Encoded(s);
  ASSERT_EQ(out.size(), 46u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 8), "BCLK0200");
  EXPECT_EQ(At32(out, 8), 46u);  // sound data start
  EXPECT_EQ(At32(out, 12), 0u);  // no extension data
  for (size_t i = 16; i < 46; ++i) EXPECT_EQ(out[i], 0) << "byte " << i;
  EXPECT_EQ(out, HandMade({}));

  CSoundBdmv back;
  ASSERT_TRUE(back.Parse(out.data(), out.size()));
  EXPECT_EQ(back.Count(), 0u);
  EXPECT_EQ(Encoded(back), out);
}

TEST(SoundBdmv, TwoOneSecondStereoSoundsAreLaidOutAsRunningTotals) {
  TempDir dir;
  WriteBytes(dir / "a.wav", Wav(48000, 2, 16, 192000, 1, 0x0102));
  WriteBytes(dir / "b.wav", Wav(48000, 2, 16, 192000, 1, 0x0A0B));
  CSoundBdmvBuilder b;
  b.paths = {dir / "a.wav", dir / "b.wav"};
  const std::vector<uint8_t> out = Encoded(b);
  ASSERT_EQ(out.size(), 66u + 2 * 192000);
  EXPECT_EQ(At32(out, 8), 66u);
  EXPECT_EQ(At32(out, 40), 22u);  // 10 x 2 + 2
  EXPECT_EQ(out[45], 2);
  for (int i = 0; i < 2; ++i) {
    const size_t e = 46 + 10 * static_cast<size_t>(i);
    EXPECT_EQ(out[e], 0x31);      // stereo, 48 kHz
    EXPECT_EQ(out[e + 1], 0x40);  // 16 bit
    EXPECT_EQ(At32(out, e + 2), 192000u * static_cast<uint32_t>(i));
    EXPECT_EQ(At32(out, e + 6), 192000u);
  }
  // Samples big-endian: the WAV's little-endian 0x0102 becomes 01 02.
  EXPECT_EQ(out[66], 0x01);
  EXPECT_EQ(out[67], 0x02);
  EXPECT_EQ(out[66 + 192000], 0x0A);
  EXPECT_EQ(out[66 + 192001], 0x0B);
  EXPECT_EQ(b.soundDataStartAddress, 66u);
  EXPECT_EQ(b.index.entries[1].start, 192000u);

  // Read back and written again: the same bytes.
  CSoundBdmv back;
  std::string error;
  ASSERT_TRUE(back.Parse(out.data(), out.size(), &error)) << error;
  EXPECT_EQ(back.index.entries, b.index.entries);
  EXPECT_EQ(Encoded(back), out);

  const std::string dump = back.Dump("");
  for (const char* line : {"TypeIndicator: BCLK\n", "VersionNumber: 0200\n", "SoundDataStartAddress: 66\n",
                           "SoundIndex: \n", "  Length: 22\n", "  NumberOfSoundEntries: 2\n", "  SoundEntry 2: \n",
                           "    ChannelConfiguration: 3(Stereo)\n", "    SamplingFrequency: 1(48K)\n",
                           "    BitsPerSample: 1(16 bit)\n", "    SoundDataStartAddress: 192000\n",
                           "    SoundDataStartLength: 192000\n"})
    EXPECT_NE(dump.find(line), std::string::npos) << line << " not in\n" << dump;
}

TEST(SoundBdmv, FixtureWavsBecomeMonoAndStereoEntries) {
  CSoundBdmvBuilder b;
  b.paths = {DataPath("sounds/mono_48k.wav"), DataPath("sounds/stereo_48k.wav")};
  const std::vector<uint8_t> out = Encoded(b);
  ASSERT_EQ(b.Count(), 2u);
  EXPECT_EQ(b.index.entries[0].channelConfiguration, 1);
  EXPECT_EQ(b.index.entries[0].length, 9600u);  // 4800 frames
  EXPECT_EQ(b.index.entries[1].channelConfiguration, 3);
  EXPECT_EQ(b.index.entries[1].start, 9600u);
  EXPECT_EQ(b.index.entries[1].length, 38400u);  // 9600 frames
  // The WAV's samples, byte-swapped, at the entry's place.
  const std::vector<uint8_t> wav = ReadBytes(DataPath("sounds/mono_48k.wav"));
  SWavInfo w;
  std::string error;
  ASSERT_TRUE(ReadWavInfo(DataPath("sounds/mono_48k.wav"), w, error)) << error;
  for (size_t i = 0; i < 9600; i += 2) {
    ASSERT_EQ(out[66 + i], wav[static_cast<size_t>(w.dataOffset) + i + 1]) << i;
    ASSERT_EQ(out[66 + i + 1], wav[static_cast<size_t>(w.dataOffset) + i]) << i;
  }
}

TEST(SoundBdmv, ExtensionDataIsKeptAndItsLengthMustNotHaveTheTopBit) {
  const std::vector<uint8_t> ext = {0, 0, 0, 4, 0xDE, 0xAD, 0xBE, 0xEF};
  const std::vector<uint8_t> file = HandMade({{1, {1, 2, 3, 4}}}, ext);
  CSoundBdmv s;
  std::string error;
  ASSERT_TRUE(s.Parse(file.data(), file.size(), &error)) << error;
  EXPECT_EQ(s.extensionData, ext);
  EXPECT_EQ(s.extensionDataStartAddress, 60u);
  EXPECT_EQ(Encoded(s), file);
  EXPECT_NE(s.Dump().find("ExtensionData: \n"), std::string::npos);

  std::vector<uint8_t> bad = HandMade({{1, {1, 2, 3, 4}}}, {0x80, 0, 0, 0});
  EXPECT_FALSE(s.Parse(bad.data(), bad.size(), &error));
  EXPECT_NE(error.find("ExtensionData"), std::string::npos) << error;
  // A refused read leaves what was read before.
  EXPECT_EQ(s.extensionData, ext);
  EXPECT_EQ(s.Count(), 1u);
}

TEST(SoundBdmv, ReaderRefusesBrokenFiles) {
  const std::vector<uint8_t> good = HandMade({{3, {1, 2, 3, 4}}, {1, {5, 6}}});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"39 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 39)});
  cases.push_back({"index cut short", std::vector<uint8_t>(good.begin(), good.begin() + 50)});
  cases.push_back({"samples cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)});
  auto type = good;
  type[0] = 'X';
  cases.push_back({"type indicator", type});
  auto noCount = HandMade({});
  noCount[43] = 12;  // a length of 12 with a count of 0
  cases.push_back({"length without entries", noCount});
  auto shortIndex = good;
  shortIndex[43] = 21;  // 10 x 2 + 1: the second entry runs past the index
  cases.push_back({"index length short of its count", shortIndex});
  auto inside = good;
  inside[11] = 50;  // sound data start inside the index
  cases.push_back({"data inside the index", inside});
  auto past = good;
  past[46 + 10 + 5] = 200;  // second entry starts past the end
  cases.push_back({"entry past the end", past});
  for (const auto& c : cases) {
    CSoundBdmv s;
    std::string error;
    EXPECT_FALSE(s.Parse(c.bytes.data(), c.bytes.size(), &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(s.Count(), 0u) << c.what;
  }
  CSoundBdmv s;
  ASSERT_TRUE(s.Parse(good.data(), good.size()));
  ASSERT_EQ(s.samples.size(), 2u);
  EXPECT_EQ(s.samples[1], (std::vector<uint8_t>{5, 6}));
}

TEST(SoundBdmv, ReadAndWriteGoThroughFiles) {
  TempDir dir;
  const std::vector<uint8_t> good = HandMade({{3, {1, 2, 3, 4}}});
  WriteBytes(dir / "in.bdmv", good);
  File in;
  ASSERT_TRUE(in.Open(dir / "in.bdmv", File::kRead));
  CSoundBdmv s;
  ASSERT_TRUE(s.Read(in));
  File out;
  ASSERT_TRUE(out.Open(dir / "out.bdmv", File::kCreate));
  ASSERT_TRUE(s.Write(out));
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(ReadBytes(dir / "out.bdmv"), good);
}

TEST(SoundBdmv, MoreThan128EntriesAreRefused) {
  CSoundBdmv s;
  s.index.entries.resize(129);
  std::vector<uint8_t> out;
  std::string error;
  EXPECT_FALSE(s.Encode(out, &error));
  EXPECT_NE(error.find(kMsgMaxSoundCount), std::string::npos) << error;
  s.index.entries.resize(128);
  EXPECT_TRUE(s.Encode(out, &error)) << error;
  EXPECT_EQ(out.size(), 46u + 1280);
}

TEST(SoundWav, OnlyPlain48kHz16BitMonoOrStereoIsCompatible) {
  TempDir dir;
  std::string why;
  EXPECT_TRUE(IsCompatibleWav(DataPath("sounds/stereo_48k.wav"), &why)) << why;
  EXPECT_TRUE(IsCompatibleWav(DataPath("sounds/mono_48k.wav"), &why)) << why;
  const std::pair<const char*, const char*> refused[] = {{"sounds/stereo_44k.wav", "44100 Hz"},
                                                         {"sounds/stereo_24.wav", "24 bits"},
                                                         {"sounds/stereo_f32.wav", "32 bits"}};
  for (const auto& [name, reason] : refused) {
    EXPECT_FALSE(IsCompatibleWav(DataPath(name), &why)) << name;
    EXPECT_NE(why.find(reason), std::string::npos) << name << ": " << why;
  }
  WriteBytes(dir / "3ch.wav", Wav(48000, 3, 16, 600));
  EXPECT_FALSE(IsCompatibleWav(dir / "3ch.wav", &why));
  EXPECT_NE(why.find("3 channels"), std::string::npos) << why;
  WriteBytes(dir / "adpcm.wav", Wav(48000, 2, 16, 400, 2));
  EXPECT_FALSE(IsCompatibleWav(dir / "adpcm.wav", &why));
  EXPECT_NE(why.find("format tag 2"), std::string::npos) << why;
  // The size limit: 2 MiB - 1 bytes is taken, 2 MiB is not.
  WriteBytes(dir / "max.wav", Wav(48000, 1, 16, 2097151 - 44));
  EXPECT_TRUE(IsCompatibleWav(dir / "max.wav", &why)) << why;
  WriteBytes(dir / "big.wav", Wav(48000, 1, 16, 2097152 - 44));
  EXPECT_FALSE(IsCompatibleWav(dir / "big.wav", &why));
  EXPECT_NE(why.find("2097152 bytes"), std::string::npos) << why;
  auto tiny = Wav(48000, 1, 16, 0);
  tiny.pop_back();
  WriteBytes(dir / "tiny.wav", tiny);
  EXPECT_FALSE(IsCompatibleWav(dir / "tiny.wav", &why));
  EXPECT_FALSE(IsCompatibleWav(dir / "missing.wav", &why));
  EXPECT_NE(why.find("No such file"), std::string::npos) << why;
}

TEST(SoundWav, ChunksBeforeAndBetweenAreSkippedAndTheDataSizeIsCut) {
  TempDir dir;
  // fmt, an odd-sized LIST chunk (padded), then data whose size runs past the end.
  std::vector<uint8_t> w = Wav(48000, 2, 16, 8);
  std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  w.insert(w.begin() + 36, list.begin(), list.end());
  w[36 + 12 + 4] = 0xFF;  // data size 0xFF..: as far as the file goes
  w.push_back(0x77);      // half a frame more: not a sample
  WriteBytes(dir / "x.wav", w);
  SWavInfo info;
  std::string error;
  ASSERT_TRUE(ReadWavInfo(dir / "x.wav", info, error)) << error;
  EXPECT_EQ(info.dataOffset, 56);
  EXPECT_EQ(info.dataSize, 8u);
  // Without a data chunk, or with data before the format, it is refused.
  std::vector<uint8_t> noData(w.begin(), w.begin() + 48);
  WriteBytes(dir / "y.wav", noData);
  EXPECT_FALSE(ReadWavInfo(dir / "y.wav", info, error));
  EXPECT_NE(error.find("no data chunk"), std::string::npos) << error;
}

// A 48 kHz 16-bit stereo WAV (one second of samples) as recorders and
// ffmpeg's -rf64 write it: JUNK and bext before the format, LIST before the
// data; as RF64, its sizes in a ds64 chunk. Returns the data offset.
size_t ChunkyWav(std::vector<uint8_t>& w, bool rf64) {
  std::vector<uint8_t> base = Wav(48000, 2, 16, 192000);
  std::vector<uint8_t> fmt(base.begin() + 12, base.begin() + 36), data(base.begin() + 36, base.end());
  w = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  if (rf64) {
    std::copy_n("RF64", 4, w.begin());
    w.insert(w.end(), {'d', 's', '6', '4'});
    Le(w, 28, 4);
    Le(w, 0, 4), Le(w, 0, 4);        // RIFF size (filled below)
    Le(w, 192000, 4), Le(w, 0, 4);   // data size
    Le(w, 48000, 4), Le(w, 0, 4);    // sample count
    Le(w, 0, 4);                     // table length
  } else {
    w.insert(w.end(), {'J', 'U', 'N', 'K'});
    Le(w, 28, 4);
    w.insert(w.end(), 28, 0);
  }
  w.insert(w.end(), {'b', 'e', 'x', 't'});
  Le(w, 5, 4);
  w.insert(w.end(), {'z', 'v', 'z', 'v', 'z', 0});  // odd size, padded
  w.insert(w.end(), fmt.begin(), fmt.end());
  w.insert(w.end(), {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'});
  if (rf64) std::fill(data.begin() + 4, data.begin() + 8, 0xFF);  // the size is in ds64
  const size_t offset = w.size() + 8;
  w.insert(w.end(), data.begin(), data.end());
  const uint32_t riff = rf64 ? 0xFFFFFFFF : static_cast<uint32_t>(w.size() - 8);
  for (int i = 0; i < 4; ++i) w[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  if (rf64)
    for (int i = 0; i < 4; ++i) w[20 + i] = static_cast<uint8_t>((w.size() - 8) >> (8 * i));
  return offset;
}

TEST(SoundWav, AnalysisAndButtonSoundsReadTheSameChunks) {
  TempDir dir;
  for (bool rf64 : {false, true}) {
    SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
    std::vector<uint8_t> w;
    const size_t offset = ChunkyWav(w, rf64);
    // Bytes after the data chunk that are not samples.
    w.insert(w.end(), {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'});
    const std::string path = dir / (rf64 ? "rf64.wav" : "junk.wav");
    WriteBytes(path, w);
    SWavInfo info;
    std::string error;
    ASSERT_TRUE(ReadWavInfo(path, info, error)) << error;
    EXPECT_EQ(info.dataOffset, static_cast<int64_t>(offset));
    EXPECT_EQ(info.dataSize, 192000u);
    EXPECT_TRUE(IsCompatibleWav(path, &error)) << error;

    // The stream analysis finds the same samples.
    SSourceParams src;
    src.path = path;
    SStreamContext ctx;
    ASSERT_EQ(OpenStream(src, ctx, {}, nullptr), kOk);
    EXPECT_EQ(ctx.header.streamCodingType, kSctLpcm);
    EXPECT_EQ(ctx.header.firstFrameOffset, offset);
    EXPECT_EQ(ctx.header.payloadSize, 192000u);
    EXPECT_EQ(ctx.header.auCount, 200u);
  }
}

TEST(SoundList, AddSkipsDuplicatesStopsAt128AndBuildsAtomically) {
  TempDir dir;
  CSoundList list;
  const std::string click = DataPath("sounds/click_48k.wav");
  EXPECT_EQ(list.Add(click), CSoundList::kAdded);
  EXPECT_EQ(list.Add(click), CSoundList::kSkipped);
  std::string why;
  EXPECT_EQ(list.Add(DataPath("sounds/stereo_44k.wav"), &why), CSoundList::kIncompatible);
  EXPECT_EQ(list.Add(DataPath("sounds/mono_48k.wav")), CSoundList::kAdded);
  ASSERT_EQ(list.Paths().size(), 2u);
  EXPECT_TRUE(list.Swap(0, 1));
  EXPECT_EQ(list.Rows()[0][0], "#0");
  EXPECT_EQ(list.Rows()[0][2], "9K");  // 9644 bytes
  EXPECT_NE(list.Rows()[0][1].find("mono_48k.wav"), std::string::npos);

  std::string error;
  ASSERT_EQ(list.Build(dir / "Sound.bdmv", error), CSoundList::kBuilt) << error;
  CSoundBdmv s;
  File f;
  ASSERT_TRUE(f.Open(dir / "Sound.bdmv", File::kRead));
  ASSERT_TRUE(s.Read(f));
  EXPECT_EQ(s.index.entries[0].channelConfiguration, 1);
  EXPECT_EQ(s.index.entries[1].channelConfiguration, 3);

  for (int i = 0; i < 126; ++i) {
    WriteBytes(dir / ("s" + std::to_string(i) + ".wav"), Wav(48000, 1, 16, 2));
    ASSERT_EQ(list.Add(dir / ("s" + std::to_string(i) + ".wav")), CSoundList::kAdded) << i;
  }
  WriteBytes(dir / "more.wav", Wav(48000, 1, 16, 2));
  EXPECT_EQ(list.Add(dir / "more.wav"), CSoundList::kFull);
  EXPECT_TRUE(list.Remove(127));
  EXPECT_EQ(list.Add(dir / "more.wav"), CSoundList::kAdded);

  // Two sounds of 1.5 MiB: over 2 MiB together, so nothing is written and
  // the earlier file stays.
  CSoundList big;
  WriteBytes(dir / "b1.wav", Wav(48000, 2, 16, 1500000));
  WriteBytes(dir / "b2.wav", Wav(48000, 2, 16, 1500000));
  ASSERT_EQ(big.Add(dir / "b1.wav"), CSoundList::kAdded);
  ASSERT_EQ(big.Add(dir / "b2.wav"), CSoundList::kAdded);
  const std::vector<uint8_t> before = ReadBytes(dir / "Sound.bdmv");
  EXPECT_EQ(big.Build(dir / "Sound.bdmv", error), CSoundList::kTooBig);
  EXPECT_EQ(ReadBytes(dir / "Sound.bdmv"), before);
  EXPECT_EQ(big.Build(dir / "new.bdmv", error), CSoundList::kTooBig);
  EXPECT_FALSE(std::filesystem::exists(dir / "new.bdmv"));
  // A WAV that went away fails the build, leaving nothing.
  std::filesystem::remove(dir / "b2.wav");
  EXPECT_TRUE(big.Remove(0));
  EXPECT_EQ(big.Build(dir / "new.bdmv", error), CSoundList::kBuildFailed);
  EXPECT_NE(error.find("b2.wav"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(dir / "new.bdmv"));
}

}  // namespace
}  // namespace zv

// LPCM from WAV files: the format chunk in its plain and extensible forms,
// the refusals with their messages, computed 5 ms units, and the samples as
// served (big-endian, channels in the disc's order).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/lpcm_parser.h"
#include "support/test_support.h"

using namespace zvtest;

namespace {

struct WavSpec {
  uint16_t tag = 1;
  uint16_t channels = 2;
  uint32_t rate = 48000;
  uint16_t bits = 16;       // container
  uint16_t validBits = 0;   // extensible only; 0 = bits
  uint32_t mask = 0;
  bool floatGuid = false;
  uint32_t fmtSize = 0;     // 0: 16 plain, 40 extensible
  bool data = true;
  uint32_t dataBytes = 0;   // 0: 1 s
  std::vector<uint8_t> chunkBefore;  // a whole chunk placed between fmt and data
};

void Le(std::vector<uint8_t>& v, uint32_t x, int n) {
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// A RIFF/WAVE file written field by field; samples count up so every byte
// position is told apart.
std::vector<uint8_t> Wav(const WavSpec& s) {
  const uint16_t block = static_cast<uint16_t>(s.channels * ((s.bits + 7) / 8));
  const bool ext = s.tag == 0xFFFE;
  const uint32_t fmtSize = s.fmtSize ? s.fmtSize : ext ? 40 : 16;
  std::vector<uint8_t> fmt;
  Le(fmt, s.tag, 2);              // wFormatTag
  Le(fmt, s.channels, 2);         // nChannels
  Le(fmt, s.rate, 4);             // nSamplesPerSec
  Le(fmt, s.rate * block, 4);     // nAvgBytesPerSec
  Le(fmt, block, 2);              // nBlockAlign
  Le(fmt, s.bits, 2);             // wBitsPerSample
  if (ext) {
    Le(fmt, 22, 2);                                  // cbSize
    Le(fmt, s.validBits ? s.validBits : s.bits, 2);  // wValidBitsPerSample
    Le(fmt, s.mask, 4);                              // dwChannelMask
    const uint8_t guid[16] = {static_cast<uint8_t>(s.floatGuid ? 3 : 1), 0, 0, 0, 0, 0, 0x10, 0,
                              0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), guid, guid + 16);
  }
  fmt.resize(fmtSize, 0);  // an 18-byte plain chunk ends in a zero cbSize
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
  Le(out, fmtSize, 4);
  out.insert(out.end(), fmt.begin(), fmt.end());
  out.insert(out.end(), s.chunkBefore.begin(), s.chunkBefore.end());
  if (s.data) {
    const uint32_t n = s.dataBytes ? s.dataBytes : s.rate * block;
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Le(out, n, 4);
    for (uint32_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(i * 7 + 1));
  }
  const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
  std::memcpy(out.data() + 4, &riff, 4);  // little-endian host
  return out;
}

std::string Refusal(const TempDir& dir, const WavSpec& s) {
  const std::string path = dir / "refused.wav";
  WriteBytes(path, Wav(s));
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  EXPECT_FALSE(zv::PathExists(path + ".dsi")) << "a refused file leaves no stream information";
  if (prompt.messages.empty()) return "";
  const std::string& m = prompt.messages.back();
  return m.rfind(path + "\n", 0) == 0 ? m.substr(path.size() + 1) : m;
}

TEST(Lpcm, RefusalsNameTheBrokenRule) {
  TempDir dir;
  WavSpec ext51;
  ext51.tag = 0xFFFE;
  ext51.channels = 6;
  ext51.bits = 24;
  ext51.mask = 0x3F;
  ext51.dataBytes = 6 * 3 * 480;

  struct Case {
    const char* name;
    WavSpec spec;
    const char* message;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, WavSpec s, const char* message) { cases.push_back({name, s, message}); };
  WavSpec s;
  s.channels = 1;
  add("mono", s, "Wrong channel count! ");
  s = ext51;
  s.channels = 8;
  s.mask = 0x63F;
  s.rate = 192000;
  add("7.1 at 192 kHz", s, "Wrong channel count! ");
  s = {};
  s.rate = 44100;
  add("44.1 kHz", s, "Wrong sample rate! ");
  s = {};
  s.bits = 8;
  add("8-bit", s, "Wrong sample bits! ");
  s = {};
  s.tag = 3;
  s.bits = 32;
  add("32-bit float", s, "Wrong sample bits! ");
  s = ext51;
  s.bits = 32;
  s.floatGuid = true;
  add("extensible float", s, "Wrong sample bits! ");
  s = ext51;
  s.bits = 32;
  s.validBits = 24;
  add("24 bits in 32", s, "Wrong sample bits! ");
  s = ext51;
  s.validBits = 32;
  s.bits = 24;
  add("valid bits above the container", s, "Unknown file format! ");
  s = {};
  s.data = false;
  s.chunkBefore = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  add("no data chunk", s, "Read file erorr! ");
  s = {};
  s.dataBytes = 100;  // not one 5 ms unit
  add("shorter than a unit", s, "Read file erorr! ");
  s = {};
  s.fmtSize = 12;
  add("short format chunk", s, "Unknown file format! ");

  for (const Case& c : cases) EXPECT_EQ(Refusal(dir, c.spec), c.message) << c.name;

  // Inconsistent byte rate: units would not hold whole sample frames.
  std::vector<uint8_t> odd = Wav(WavSpec{});
  odd[28] ^= 0x01;  // nAvgBytesPerSec
  WriteBytes(dir / "odd.wav", odd);
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(dir / "odd.wav", ctx, &prompt), zv::kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_NE(prompt.messages.back().find("Unknown file format! "), std::string::npos);
}

TEST(Lpcm, LayoutsThatWouldLoseAChannelAreRefusedByName) {
  TempDir dir;
  struct Case {
    const char* name;
    uint16_t channels;
    uint32_t mask;
    const char* speakers;
  } cases[] = {
      {"3.1", 4, 0xF, "(FL FR FC LFE)"},
      {"6.0", 6, 0x137, "(FL FR FC BL BR BC)"},
      {"5.0 in six channels", 6, 0x37, "names 5 speakers (FL FR FC BL BR)"},
      {"7.0 and a wide pair", 8, 0x677, "(FL FR FC BL BR FLC SL SR)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WavSpec s;
    s.tag = 0xFFFE;
    s.channels = c.channels;
    s.bits = 24;
    s.mask = c.mask;
    s.dataBytes = c.channels * 3 * 480;
    const std::string m = Refusal(dir, s);
    EXPECT_EQ(m.rfind("Wrong channel count! \n", 0), 0u) << m;
    EXPECT_NE(m.find(c.speakers), std::string::npos) << m;
    EXPECT_NE(m.find("no channel may be left out"), std::string::npos) << m;
    EXPECT_NE(m.find("ffmpeg -i IN.wav -af aformat=channel_layouts=5.1"), std::string::npos) << m;
  }
  // A plain 4-channel WAV is 4.0, whose four channels the disc holds.
  WavSpec plain;
  plain.channels = 4;
  WriteBytes(dir / "four.wav", Wav(plain));
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "four.wav", ctx), zv::kOk);
  EXPECT_EQ(static_cast<zv::PCM_WAVE_FORMAT*>(ctx.sif.get())->ChannelAssignment(), 6);
}

TEST(Lpcm, TenSecondsOfStereoAre2000ComputedUnits) {
  TempDir dir;
  WavSpec s;
  s.dataBytes = 10 * 48000 * 4;
  WriteBytes(dir / "ten.wav", Wav(s));
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "ten.wav", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, 0x80);
  EXPECT_EQ(ctx.header.auCount, 2000u);
  EXPECT_DOUBLE_EQ(ctx.header.auDuration, 5.0);
  EXPECT_EQ(ctx.header.bitRate, 48000u * 4 * 8);
  EXPECT_EQ(ctx.header.firstFrameOffset, 44u);
  auto first = zv::GetAu(0, ctx), last = zv::GetAu(1999, ctx);
  ASSERT_TRUE(first && last);
  EXPECT_EQ(first->size, 960u);
  EXPECT_EQ(first->pts, 131070u);
  EXPECT_EQ(last->pts, 131070u + 1999 * 450);
  EXPECT_EQ(last->offset, 44u + 1999 * 960);
  EXPECT_FALSE(zv::GetAu(2000, ctx));
}

TEST(Lpcm, FormatChunkFormsAndPaddedChunksReadAlike) {
  TempDir dir;
  // 16-byte and 18-byte (zero extension) plain chunks; a chunk of odd size
  // before the data, padded to an even length as RIFF has it.
  WavSpec plain;
  plain.dataBytes = 960 * 3;
  WavSpec eighteen = plain;
  eighteen.fmtSize = 18;
  WavSpec padded = plain;
  padded.chunkBefore = {'J', 'U', 'N', 'K', 3, 0, 0, 0, 1, 2, 3, 0};
  for (const WavSpec* s : {&plain, &eighteen, &padded}) {
    const std::string path = dir / ("f" + std::to_string(s - &plain) + ".wav");
    const std::vector<uint8_t> bytes = Wav(*s);
    WriteBytes(path, bytes);
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(path, ctx), zv::kOk) << path;
    EXPECT_EQ(ctx.header.auCount, 3u);
    EXPECT_EQ(ctx.header.payloadSize, 960u * 3);
    EXPECT_EQ(ctx.header.firstFrameOffset, bytes.size() - 960 * 3) << path;
    auto* fmt = dynamic_cast<zv::PCM_WAVE_FORMAT*>(ctx.sif.get());
    ASSERT_TRUE(fmt);
    EXPECT_EQ(fmt->channels, 2);
    EXPECT_EQ(fmt->validBits, 16);
  }
  // A data chunk that claims more than the file holds gives what is there.
  std::vector<uint8_t> cut = Wav(plain);
  cut.resize(cut.size() - 960 - 10);
  WriteBytes(dir / "cut.wav", cut);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "cut.wav", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.auCount, 1u);
}

TEST(Lpcm, ChannelAssignmentRateAndBitsCodes) {
  zv::PCM_WAVE_FORMAT f;
  f.samplesPerSec = 48000;
  f.bitsPerSample = 24;
  f.validBits = 20;
  struct Case {
    uint16_t channels;
    uint32_t mask;
    uint8_t assignment;
  } cases[] = {{2, 0, 3},     {4, 0x107, 6},  {4, 0x33, 7},  {4, 0x603, 7},  {6, 0x3F, 9}, {6, 0x60F, 9},
               {8, 0x63F, 11},
               // Plain WAVs: the default layouts 4.0, 5.1 and 7.1.
               {4, 0, 6},     {6, 0, 9},      {8, 0, 11},
               // Layouts whose every channel no disc layout of as many channels
               // holds (a channel would be left unplayed): 3.1, 6.0, 7.0 plus
               // one, fewer speakers than channels.
               {4, 0xF, 0},   {4, 0x7, 0},    {4, 0x103, 0}, {6, 0x137, 0}, {6, 0x37, 0},  {8, 0x637, 0},
               {8, 0x677, 0}};
  for (const Case& c : cases) {
    f.channels = c.channels;
    f.channelMask = c.mask;
    EXPECT_EQ(f.ChannelAssignment(), c.assignment) << c.channels << " " << std::hex << c.mask;
  }
  EXPECT_EQ(f.ContainerBitsCode(), 3);  // the header's code: the 24-bit container
  EXPECT_EQ(f.ValidBitsCode(), 2);      // the descriptor's: 20 valid bits
  EXPECT_EQ(f.GetSamplingFrequency(), 1);
  f.samplesPerSec = 96000;
  EXPECT_EQ(f.GetSamplingFrequency(), 4);
  f.samplesPerSec = 192000;
  EXPECT_EQ(f.GetSamplingFrequency(), 5);
  zv::SPacketRule r1, r2;
  EXPECT_EQ(f.CreatePacketRules(&r1, &r2), 1);
  EXPECT_TRUE(r1.lpcm192k);

  // The stored record round-trips in its extensible form.
  zv::ArchiveOut out;
  f.formatTag = 0xFFFE;
  f.Save(out);
  EXPECT_EQ(out.Bytes().size(), 40u);
  zv::PCM_WAVE_FORMAT back;
  zv::ArchiveIn in(out.Bytes());
  ASSERT_TRUE(back.Load(in));
  EXPECT_TRUE(back.IsEqual(f));
}

TEST(Lpcm, SamplesGoBigEndianInTheDiscChannelOrder) {
  // One frame of 5.1 in WAV order FL FR FC LFE BL BR, 24-bit: each sample's
  // bytes are its channel number and 0xA0/0xB0.
  zv::PCM_WAVE_FORMAT f;
  f.channels = 6;
  f.bitsPerSample = 24;
  f.channelMask = 0x3F;
  std::vector<uint8_t> frame;
  for (uint8_t c = 0; c < 6; ++c) frame.insert(frame.end(), {c, 0xA0, 0xB0});
  std::vector<uint8_t> two = frame;
  two.insert(two.end(), frame.begin(), frame.end());
  zv::ConvertLpcmToDisc(two.data(), two.size(), f);
  // Disc: L R C Ls Rs LFE, most significant byte first.
  const uint8_t order51[6] = {0, 1, 2, 4, 5, 3};
  for (int k = 0; k < 2; ++k)
    for (int slot = 0; slot < 6; ++slot) {
      const uint8_t* s = two.data() + k * 18 + slot * 3;
      EXPECT_EQ(s[0], 0xB0);
      EXPECT_EQ(s[1], 0xA0);
      EXPECT_EQ(s[2], order51[slot]) << slot;
    }

  // 7.1, 16-bit: L R C Ls(SL) Lb(BL) Rb(BR) Rs(SR) LFE.
  f.channels = 8;
  f.bitsPerSample = 16;
  f.channelMask = 0x63F;
  std::vector<uint8_t> s71;
  for (uint8_t c = 0; c < 8; ++c) s71.insert(s71.end(), {c, 0xC0});
  zv::ConvertLpcmToDisc(s71.data(), s71.size(), f);
  const uint8_t order71[8] = {0, 1, 2, 6, 4, 5, 7, 3};
  for (int slot = 0; slot < 8; ++slot) {
    EXPECT_EQ(s71[slot * 2], 0xC0);
    EXPECT_EQ(s71[slot * 2 + 1], order71[slot]) << slot;
  }

  // Without the low-frequency channel the order stays; only bytes swap.
  f.channels = 6;
  f.channelMask = 0x637;
  std::vector<uint8_t> s50 = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  zv::ConvertLpcmToDisc(s50.data(), s50.size(), f);
  EXPECT_EQ(s50, (std::vector<uint8_t>{2, 1, 4, 3, 6, 5, 8, 7, 10, 9, 12, 11}));
}

TEST(Lpcm, ServedUnitsOfTheFixtureAreConvertedFrames) {
  TempDir dir;
  const std::string path = CopyFixture("lpcm_51_24_48.wav", dir.Path());
  const std::vector<uint8_t> wav = ReadBytes(path);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  auto* f = dynamic_cast<zv::PCM_WAVE_FORMAT*>(ctx.sif.get());
  ASSERT_TRUE(f);
  EXPECT_EQ(f->formatTag, 0xFFFE);
  EXPECT_EQ(f->channelMask, 0x3Fu);
  EXPECT_EQ(f->ChannelAssignment(), 9);
  EXPECT_EQ(ctx.header.auCount, 200u);
  size_t n = 0;
  for (const zv::AUI* au; (au = zv::NextAu(ctx)); ++n) {
    ASSERT_EQ(au->size, 240u * 18);
    std::vector<uint8_t> expect(wav.begin() + static_cast<std::ptrdiff_t>(au->offset),
                                wav.begin() + static_cast<std::ptrdiff_t>(au->offset + au->size));
    zv::ConvertLpcmToDisc(expect.data(), expect.size(), *f);
    ASSERT_EQ(std::vector<uint8_t>(ctx.unitBytes, ctx.unitBytes + au->size), expect) << n;
    EXPECT_EQ(au->pts, 131070u + n * 450);
  }
  EXPECT_EQ(n, 200u);
}

}  // namespace

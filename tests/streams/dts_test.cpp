// DTS analysis: core frames in their four stored forms, core plus DTS-HD
// extension substreams, substream-only streams, the DTSHDHDR container, and
// every refusal with its message.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/dts_parser.h"
#include "support/test_support.h"

using namespace zvtest;

namespace {

constexpr size_t kFrame = 1024;   // 512 samples at 768 kbit/s, 48 kHz
constexpr size_t kFrames = 47;    // in dts_51.dts
constexpr uint32_t kTicks = 960;  // 512 / 48000 s in 90 kHz ticks

std::string RefusedWith(const std::string& path) {
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  EXPECT_FALSE(zv::PathExists(path + ".dsi"));
  if (prompt.messages.empty()) return "";
  std::string m = prompt.messages.back();
  EXPECT_EQ(m.rfind(path + "\n", 0), 0u);
  return m.substr(path.size() + 1);
}

const zv::CDTSSif& Record(const zv::SStreamContext& ctx) {
  auto* r = dynamic_cast<const zv::CDTSSif*>(ctx.sif.get());
  EXPECT_NE(r, nullptr);
  static const zv::CDTSSif none;
  return r ? *r : none;
}

// The core fixture re-stored as 16-bit little-endian words, or with 14 bits
// of payload per 16-bit word (either byte order): each frame packed on its
// own and padded to whole words, as such streams are.
std::vector<uint8_t> Restore(const std::vector<uint8_t>& be, int wordBits, bool littleEndian) {
  std::vector<uint8_t> out;
  for (size_t f = 0; f < be.size(); f += kFrame) {
    std::vector<uint16_t> words;
    if (wordBits == 16) {
      for (size_t i = f; i < f + kFrame; i += 2) words.push_back(static_cast<uint16_t>(be[i] << 8 | be[i + 1]));
    } else {
      uint32_t acc = 0;
      unsigned bits = 0;
      for (size_t i = f; i < f + kFrame; ++i) {
        acc = (acc << 8) | be[i];
        bits += 8;
        if (bits >= 14) {
          uint16_t w = static_cast<uint16_t>((acc >> (bits - 14)) & 0x3FFF);
          bits -= 14;
          // The top two bits repeat the sign of the 14-bit value.
          words.push_back(static_cast<uint16_t>(w & 0x2000 ? w | 0xC000 : w));
        }
      }
      if (bits) {
        uint16_t w = static_cast<uint16_t>((acc << (14 - bits)) & 0x3FFF);
        words.push_back(static_cast<uint16_t>(w & 0x2000 ? w | 0xC000 : w));
      }
    }
    for (uint16_t w : words) {
      out.push_back(static_cast<uint8_t>(littleEndian ? w : w >> 8));
      out.push_back(static_cast<uint8_t>(littleEndian ? w >> 8 : w));
    }
  }
  return out;
}

TEST(Dts, CoreFramesInEveryStoredForm) {
  TempDir dir;
  const std::vector<uint8_t> be = ReadBytes(DataPath("dts_51.dts"));
  ASSERT_EQ(be.size(), kFrames * kFrame);
  struct Form {
    const char* name;
    int wordBits;
    bool littleEndian;
    size_t frameBytes;
  };
  // 1024 bytes of 14-bit payload need ceil(8192 / 14) = 586 words.
  for (const Form& form : {Form{"be16", 16, false, 1024}, Form{"le16", 16, true, 1024}, Form{"be14", 14, false, 1172},
                           Form{"le14", 14, true, 1172}}) {
    SCOPED_TRACE(form.name);
    const std::string path = dir / (std::string(form.name) + ".dts");
    const std::vector<uint8_t> bytes = form.wordBits == 16 && !form.littleEndian ? be : Restore(be, form.wordBits, form.littleEndian);
    WriteBytes(path, bytes);
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
    EXPECT_EQ(ctx.header.streamCodingType, zv::kSctDts);
    EXPECT_EQ(ctx.header.auCount, kFrames);
    EXPECT_NEAR(ctx.header.auDuration, 10.6667, 1e-3);
    EXPECT_EQ(ctx.header.bitRate, 768000u);
    EXPECT_EQ(ctx.header.secondRate, 0u);
    EXPECT_EQ(ctx.header.payloadSize, bytes.size());
    const zv::CDTSSif& r = Record(ctx);
    EXPECT_EQ(r.main.wordFormat, form.wordBits);
    EXPECT_EQ(r.main.bigEndian, form.littleEndian ? 0 : 1);
    EXPECT_EQ(r.main.amode, 9);  // L, C, R, Ls, Rs
    EXPECT_NE(r.main.lfe, 0);
    EXPECT_EQ(r.main.channels, 6);
    EXPECT_EQ(r.main.sampleRate, 48000u);
    EXPECT_EQ(r.main.samplesPerFrame, 512u);
    EXPECT_FALSE(r.hasExtension);
    EXPECT_EQ(r.GetPresentationType(), 6);
    EXPECT_EQ(r.GetSamplingFrequency(), 1);
    const std::vector<zv::AUI> aus = AllUnits(ctx);
    ASSERT_EQ(aus.size(), kFrames);
    for (size_t i = 0; i < aus.size(); ++i) {
      ASSERT_EQ(aus[i].offset, i * form.frameBytes) << i;
      ASSERT_EQ(aus[i].size, form.frameBytes) << i;
      ASSERT_EQ(aus[i].flags, 0u) << i;
      // trunc(k x 10.667 ms x 90 + 131070)
      ASSERT_EQ(aus[i].pts, 131070u + i * kTicks) << i;
      ASSERT_EQ(aus[i].dts, aus[i].pts) << i;
    }
  }
}

TEST(Dts, StoredRecordIsReadBackWithoutAnotherAnalysis) {
  TempDir dir;
  const std::string path = CopyFixture("dtshd_hra.dts", dir.Path());
  ParseCounter counter;
  zv::SStreamContext a, b;
  ASSERT_EQ(OpenWhole(path, a, nullptr, counter.Callback()), zv::kOk);
  ASSERT_EQ(OpenWhole(path, b, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 1);
  EXPECT_TRUE(Record(a).IsEqual(Record(b)));
  EXPECT_EQ(Record(a).main, Record(b).main);
  EXPECT_EQ(Record(a).extension, Record(b).extension);
  // Version, the extension flag and two 29-byte records behind the header.
  EXPECT_EQ(b.header.auTablePos, zv::SSifHeader::kSize + 4 + 1 + 2 * zv::SDtsFrame::kStoredSize);
}

// Core plus extension: two units per frame, the second flagged and timed
// like its core; the coding type follows the extension.
TEST(Dts, CoreWithExtensionSubstreamsGivesPairsOfUnits) {
  struct Case {
    const char* file;
    uint8_t type;
    uint8_t extension;
    size_t start;  // first frame offset (the container's header chunk)
  };
  for (const Case& c : {Case{"dtshd_ma.dtshd", zv::kSctDtsHdMa, zv::SDtsFrame::kExtXll, 16 + 14 + 16},
                        Case{"dtshd_hra.dts", zv::kSctDtsHdHr, zv::SDtsFrame::kExtXbr, 0}}) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const std::string path = CopyFixture(c.file, dir.Path());
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
    EXPECT_EQ(ctx.header.streamCodingType, c.type);
    EXPECT_EQ(ctx.header.firstFrameOffset, c.start);
    EXPECT_EQ(ctx.header.auCount, 2 * kFrames);
    EXPECT_EQ(ctx.header.payloadSize, zv::FileSize(path) - c.start);
    EXPECT_EQ(ctx.header.secondRate, 32000u);  // a substream has no rate code
    const zv::CDTSSif& r = Record(ctx);
    ASSERT_TRUE(r.hasExtension);
    EXPECT_EQ(r.extension.substream, 1);
    EXPECT_EQ(r.extension.extensionType, c.extension);
    EXPECT_EQ(r.extension.channels, 6);
    EXPECT_EQ(r.extension.bitsPerSample, 24);
    EXPECT_EQ(r.extension.sampleRate, 48000u);
    EXPECT_EQ(r.extension.samplesPerFrame, 512u);
    EXPECT_EQ(r.GetStreamCodingType(0), c.type);

    const std::vector<uint8_t> file = ReadBytes(path);
    const std::vector<zv::AUI> aus = AllUnits(ctx);
    ASSERT_EQ(aus.size(), 2 * kFrames);
    uint64_t next = c.start;
    for (size_t i = 0; i < aus.size(); ++i) {
      ASSERT_EQ(aus[i].offset, next) << i;
      next += aus[i].size;
      const uint8_t* p = file.data() + aus[i].offset;
      if (i % 2 == 0) {
        ASSERT_EQ(aus[i].size, kFrame) << i;
        ASSERT_EQ(aus[i].flags, 0u) << i;
        ASSERT_EQ(aus[i].pts, 131070u + i / 2 * kTicks) << i;
        ASSERT_EQ(0, std::memcmp(p, "\x7F\xFE\x80\x01", 4)) << i;
      } else {
        ASSERT_EQ(aus[i].flags, 1u) << i;
        ASSERT_EQ(aus[i].pts, aus[i - 1].pts) << i;
        ASSERT_EQ(aus[i].dts, aus[i - 1].dts) << i;
        ASSERT_EQ(0, std::memcmp(p, "\x64\x58\x20\x25", 4)) << i;
      }
    }
    EXPECT_EQ(next, file.size());
  }
}

// A cut in milliseconds keeps core and extension together.
TEST(Dts, TimeCutOfDtsHdStartsOnACoreAndEndsOnAnExtension) {
  TempDir dir;
  zv::SSourceParams src;
  src.path = CopyFixture("dtshd_ma.dtshd", dir.Path());
  src.timeMode = 1;
  src.in = 107;   // frame 10
  src.out = 213;  // frame 20
  zv::SStreamContext ctx;
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.first, 20);
  EXPECT_EQ(ctx.last, 41);
  auto first = zv::GetAu(ctx.first, ctx), last = zv::GetAu(ctx.last, ctx);
  ASSERT_TRUE(first && last);
  EXPECT_EQ(first->flags & 1, 0u);
  EXPECT_EQ(last->flags & 1, 1u);
}

TEST(Dts, SubstreamOnlyLowBitRateStreamIsSecondaryAudio) {
  TempDir dir;
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(CopyFixture("dts_lbr.dts", dir.Path()), ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctDtsHdSecondary);
  EXPECT_EQ(ctx.header.auCount, kFrames);
  const zv::CDTSSif& r = Record(ctx);
  EXPECT_EQ(r.main.substream, 1);
  EXPECT_EQ(r.main.extensionType, zv::SDtsFrame::kExtLbr);
  EXPECT_TRUE(r.IsSpecialVariant());
  const std::vector<zv::AUI> aus = AllUnits(ctx);
  for (size_t i = 0; i < aus.size(); ++i) ASSERT_EQ(aus[i].pts, 131070u + i * kTicks) << i;
}

// Header fields of the first core frame (16-bit big-endian, no header CRC).
void SetBits(std::vector<uint8_t>& b, size_t bitPos, unsigned width, uint32_t value) {
  for (unsigned i = 0; i < width; ++i) {
    const size_t bit = bitPos + i;
    const uint8_t mask = static_cast<uint8_t>(0x80 >> (bit % 8));
    if ((value >> (width - 1 - i)) & 1)
      b[bit / 8] |= mask;
    else
      b[bit / 8] &= static_cast<uint8_t>(~mask);
  }
}
constexpr size_t kAmodeBit = 60, kSfreqBit = 66, kExtIdBit = 80, kExtBit = 83;

TEST(Dts, RefusalsGiveTheirMessages) {
  TempDir dir;
  EXPECT_EQ(RefusedWith(CopyFixture("fail_dts_44k.dts", dir.Path())), "Wrong sample rate! ");
  EXPECT_EQ(RefusedWith(CopyFixture("fail_dtshd_nocore.dts", dir.Path())),
            "Wrong extention mode! \nThe file holds DTS-HD extension substreams without the DTS core frames a disc "
            "needs: give the stream with its core (each core frame followed by its extension substream).");

  const std::vector<uint8_t> good = ReadBytes(DataPath("dts_51.dts"));
  struct Edit {
    const char* what;
    size_t bit;
    unsigned width;
    uint32_t value;
    const char* message;  // null: accepted
  };
  const Edit edits[] = {
      {"XCh announced (EXT_AUDIO_ID 0)", kExtBit, 1, 1, nullptr},
      {"X96 announced (EXT_AUDIO_ID 2)", kExtIdBit, 4, 0x5, nullptr},
      {"XXCh announced (EXT_AUDIO_ID 3)", kExtIdBit, 4, 0x7, nullptr},
      {"EXT_AUDIO_ID 1", kExtIdBit, 4, 0x3, "Wrong extention mode! "},
      {"EXT_AUDIO_ID 6", kExtIdBit, 4, 0xD, "Wrong extention mode! "},
      {"dual mono (AMODE 1)", kAmodeBit, 6, 1, "Wrong audio coding mode! "},
      {"sum and difference (AMODE 3)", kAmodeBit, 6, 3, "Wrong audio coding mode! "},
      {"AMODE 10", kAmodeBit, 6, 10, "Wrong audio coding mode! "},
      {"96 kHz core", kSfreqBit, 4, 14, "Wrong sample rate! "},
  };
  int n = 0;
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.what);
    std::vector<uint8_t> bytes = good;
    SetBits(bytes, e.bit, e.width, e.value);
    const std::string path = dir / ("edit" + std::to_string(++n) + ".dts");
    WriteBytes(path, bytes);
    if (e.message) {
      EXPECT_EQ(RefusedWith(path), e.message);
    } else {
      zv::SStreamContext ctx;
      EXPECT_EQ(OpenWhole(path, ctx), zv::kOk);
      EXPECT_EQ(ctx.header.streamCodingType, zv::kSctDts);
    }
  }

  // A core stream in which extension substreams appear later would be
  // routed as core units: refused where the layout changes.
  std::vector<uint8_t> mixed(good.begin(), good.begin() + 3 * kFrame);
  const std::vector<uint8_t> hra = ReadBytes(DataPath("dtshd_hra.dts"));
  mixed.insert(mixed.end(), hra.begin(), hra.end());
  WriteBytes(dir / "mixed.dts", mixed);
  EXPECT_EQ(RefusedWith(dir / "mixed.dts"), "Syntax illegal! \n(at byte 4096 of the stream file)");

  // An unreadable header in the middle (NBLKS 2 in frame 11) stops the
  // analysis there instead of cutting the stream short.
  std::vector<uint8_t> broken = good;
  SetBits(broken, 10 * kFrame * 8 + 39, 7, 2);
  WriteBytes(dir / "broken.dts", broken);
  EXPECT_EQ(RefusedWith(dir / "broken.dts"), "Syntax illegal! \n(at byte 10240 of the stream file)");

  // Frame size below 95 bytes.
  std::vector<uint8_t> tiny = good;
  SetBits(tiny, 46, 14, 80);
  WriteBytes(dir / "tiny.dts", tiny);
  EXPECT_EQ(RefusedWith(dir / "tiny.dts"), "Syntax illegal! \n(at byte 0 of the stream file)");

  // Not DTS at all, short or long: left to the other parsers.
  WriteBytes(dir / "short.dts", std::vector<uint8_t>(40, 0x11));
  EXPECT_EQ(RefusedWith(dir / "short.dts"), "Unknown file format! ");
  WriteBytes(dir / "noise.dts", std::vector<uint8_t>(5000, 0x11));
  EXPECT_EQ(RefusedWith(dir / "noise.dts"), "Unknown file format! ");
  // A container without any frame.
  std::vector<uint8_t> empty(200, 0);
  std::memcpy(empty.data(), "DTSHDHDR", 8);
  WriteBytes(dir / "empty.dtshd", empty);
  EXPECT_EQ(RefusedWith(dir / "empty.dtshd"), "Unknown file format! ");
}

// A DTS file under a foreign extension is still found by its content, and
// a cut-off last frame is not served.
TEST(Dts, RecognisedByContentAndCutOffFrameDropped) {
  TempDir dir;
  std::vector<uint8_t> bytes = ReadBytes(DataPath("dts_51.dts"));
  bytes.resize(bytes.size() - 100);
  WriteBytes(dir / "audio.bin", bytes);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "audio.bin", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctDts);
  EXPECT_EQ(ctx.header.auCount, kFrames - 1);
  size_t served = 0;
  while (zv::NextAu(ctx)) ++served;
  EXPECT_EQ(served, kFrames - 1);
}

}  // namespace

namespace {

// An extension substream header with one asset whose descriptor names its
// components by mask (coding mode 0), followed by the first component's
// sync word.
std::vector<uint8_t> Substream(uint32_t mask, uint32_t firstWord, unsigned rateCode, unsigned channels) {
  std::vector<uint8_t> desc = BuildBits([&](zv::BeWriter& w) {
    w.Bits(9, 0);              // descriptor size - 1, patched below
    w.Bits(3, 0);              // asset index
    w.Bits(3, 0);              // no type, language or text
    w.Bits(5, 23);             // 24-bit resolution
    w.Bits(4, rateCode);       // maximum sample rate
    w.Bits(8, channels - 1);
    w.Bits(1, 0);              // no one-to-one map
    w.Bits(3, 0);              // representation type
    w.Bits(1, 0);              // no DRC
    w.Bits(1, 0);              // no dialog normalisation
    w.Bits(2, 0);              // coding mode 0
    w.Bits(12, mask);
    if (mask & 0x040) w.Bits(14, 99);     // XXCH size - 1
    if (mask & 0x200) w.Bits(16 + 1, 199 << 1);  // XLL size - 1, no sync offset
    w.Bits(8, 0);              // reserved
    while (!w.Aligned()) w.Bits(1, 0);
  });
  desc[0] = static_cast<uint8_t>((desc.size() - 1) >> 1);
  desc[1] = static_cast<uint8_t>((desc[1] & 0x7F) | (((desc.size() - 1) & 1) << 7));
  std::vector<uint8_t> out = BuildBits([&](zv::BeWriter& w) {
    w.U32(0x64582025);
    w.Bits(8, 0);              // user bits
    w.Bits(2, 0);              // substream index
    w.Bits(1, 0);              // short header
    w.Bits(8, 0);              // header size - 1, patched below
    w.Bits(16, 1999);          // substream size - 1
    w.Bits(1, 1);              // static fields
    w.Bits(2, 2);              // 48 kHz reference clock
    w.Bits(3, 1);              // frame duration code 1
    w.Bits(1, 0);              // no time code
    w.Bits(3, 0);              // one presentation
    w.Bits(3, 0);              // one asset
    w.Bits(1, 1);              // active substream mask
    w.Bits(8, 1);              // active asset mask
    w.Bits(1, 0);              // no mixing metadata
    w.Bits(16, 299);           // asset size - 1
    for (uint8_t b : desc) w.Bits(8, b);
    w.Bits(1, 0);              // no backward-compatible core
    while (!w.Aligned()) w.Bits(1, 0);
    w.U16(0);                  // header CRC (not checked)
  });
  // Header size in bits 43..50.
  const size_t headerSize = out.size();
  for (unsigned i = 0; i < 8; ++i) {
    const size_t bit = 43 + i;
    const uint8_t m = static_cast<uint8_t>(0x80 >> (bit % 8));
    if (((headerSize - 1) >> (7 - i)) & 1) out[bit / 8] |= m; else out[bit / 8] &= static_cast<uint8_t>(~m);
  }
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(firstWord >> (8 * i)));
  out.resize(out.size() + 16);
  return out;
}

// The lossless component decides the type wherever it sits in the asset;
// otherwise the first component's sync word does.
TEST(Dts, SubstreamRecordFromItsHeaderAndDescriptor) {
  struct Case {
    const char* what;
    uint32_t mask, word;
    uint8_t extension;
  };
  for (const Case& c : {Case{"XXCH then XLL", 0x240, 0x47004A03, zv::SDtsFrame::kExtXll},
                        Case{"XXCH alone", 0x040, 0x47004A03, zv::SDtsFrame::kExtXxch},
                        Case{"XLL alone", 0x200, 0x41A29547, zv::SDtsFrame::kExtXll}}) {
    SCOPED_TRACE(c.what);
    const std::vector<uint8_t> s = Substream(c.mask, c.word, 13, 8);
    zv::SDtsFrame f;
    ASSERT_TRUE(zv::ParseDtsFrame(s.data(), s.size(), f));
    EXPECT_EQ(f.substream, 1);
    EXPECT_EQ(f.extensionType, c.extension);
    EXPECT_EQ(f.frameSize, 2000u);
    EXPECT_EQ(f.headerSize, s.size() - 20);
    EXPECT_EQ(f.sampleRate, 96000u);
    EXPECT_EQ(f.samplesPerFrame, 2 * 1024u);  // duration code 1 at 96 kHz
    EXPECT_EQ(f.channels, 8);
    EXPECT_EQ(f.bitsPerSample, 24);
  }
  // Cut inside its descriptor: no record.
  const std::vector<uint8_t> s = Substream(0x200, 0x41A29547, 12, 6);
  zv::SDtsFrame f;
  EXPECT_FALSE(zv::ParseDtsFrame(s.data(), 14, f));
}

}  // namespace

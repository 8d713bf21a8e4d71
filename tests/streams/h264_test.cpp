// H.264 analysis: real fixtures against ffprobe's reading, the constraint
// checks on synthetic parameter sets, and the time stamps of field-coded,
// still and delayed streams.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/h264_parser.h"
#include "streams/parse_result.h"
#include "support/run_tools.h"
#include "support/test_support.h"

using namespace zvtest;
namespace fs = std::filesystem;

namespace {

struct ProbePacket {
  int64_t pos = 0, size = 0;
  bool key = false;
};

// Packets in decode order as ffmpeg's H.264 parser splits the file.
std::vector<ProbePacket> ProbePackets(const std::string& path) {
  auto r = Run({"ffprobe", "-v", "error", "-show_entries", "packet=pos,size,flags", "-of", "csv=p=0", path});
  std::vector<ProbePacket> v;
  for (const auto& l : Lines(r.out)) {
    ProbePacket p;
    char flags[8] = {0};
    if (std::sscanf(l.c_str(), "%ld,%ld,%7s", &p.size, &p.pos, flags) == 3) {
      p.key = flags[0] == 'K';
      v.push_back(p);
    }
  }
  return v;
}

// Picture types in presentation order, as the decoder outputs frames.
std::string ProbeDisplayTypes(const std::string& path) {
  auto r = Run({"ffprobe", "-v", "error", "-show_entries", "frame=pict_type", "-of", "csv=p=0", path});
  std::string types;
  for (const auto& l : Lines(r.out))
    if (l[0] == 'I' || l[0] == 'P' || l[0] == 'B') types += l[0];
  return types;
}

char TypeLetter(uint32_t flags) { return "?IPB"[flags & 7]; }

class H264Fixture : public ::testing::TestWithParam<const char*> {};

TEST_P(H264Fixture, UnitsAgreeWithFfprobe) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  TempDir dir;
  std::string path = CopyFixture(GetParam(), dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  auto units = AllUnits(ctx);
  auto packets = ProbePackets(path);
  ASSERT_EQ(units.size(), ctx.header.auCount);
  ASSERT_EQ(units.size(), packets.size());

  for (size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<int64_t>(units[i].offset), packets[i].pos);
    EXPECT_EQ(static_cast<int64_t>(units[i].size), packets[i].size);
    EXPECT_EQ((units[i].flags & zv::kAuiKey) != 0, packets[i].key);
  }

  // Decode steps of exactly one frame period (truncation moves by one tick).
  const double period = 90.0 * ctx.header.auDuration;
  for (size_t i = 1; i < units.size(); ++i) {
    double step = static_cast<double>(units[i].dts) - units[i - 1].dts;
    EXPECT_NEAR(step, period, 1.0) << "unit " << i;
  }
  // Presentation order: the picture types ffprobe outputs, one frame period
  // apart, the first at 131070, never before decoding.
  std::vector<zv::AUI> shown = units;
  std::sort(shown.begin(), shown.end(), [](const zv::AUI& a, const zv::AUI& b) { return a.pts < b.pts; });
  EXPECT_EQ(shown[0].pts, zv::kFirstPts);
  EXPECT_EQ(units[0].pts, zv::kFirstPts);
  std::string types;
  for (size_t i = 0; i < shown.size(); ++i) {
    types += TypeLetter(shown[i].flags);
    if (i > 0) {
      EXPECT_NEAR(static_cast<double>(shown[i].pts) - shown[i - 1].pts, period, 1.0) << "shown " << i;
    }
  }
  EXPECT_EQ(types, ProbeDisplayTypes(path));
  for (const auto& u : units) EXPECT_GE(u.pts, u.dts);

  uint64_t total = 0;
  for (const auto& u : units) total += u.size;
  EXPECT_EQ(total, ctx.header.payloadSize);
  EXPECT_EQ(total, static_cast<uint64_t>(zv::FileSize(path)));
  auto* video = dynamic_cast<zv::CH264VideoSif*>(ctx.sif.get());
  ASSERT_NE(video, nullptr);
  size_t keys = std::count_if(units.begin(), units.end(), [](const zv::AUI& u) { return u.flags & zv::kAuiKey; });
  EXPECT_EQ(video->gops.size(), keys);
  EXPECT_EQ(video->stillPicture, 0);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, H264Fixture,
                         ::testing::Values("h264_1080p2398.264", "h264_720p5994.264", "h264_576i25.264",
                                           "h264_nohrd.264"));

TEST(H264Record, FixtureAttributesAndStoredLayout) {
  TempDir dir;
  std::string path = CopyFixture("h264_1080p2398.264", dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  auto* v = dynamic_cast<zv::CH264VideoSif*>(ctx.sif.get());
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->videoFormat, zv::kVf1080p);
  EXPECT_EQ(v->frameRate, zv::kFr23976);
  EXPECT_EQ(v->aspectRatio, zv::kAspect16x9);
  EXPECT_NEAR(ctx.header.auDuration, 1001.0 / 24, 1e-9);
  // make-fixtures.sh asks x264 for a 20000 kbit/s, 15000 kbit VBV.
  EXPECT_EQ(ctx.header.bitRate, 20000000u);
  EXPECT_EQ(v->cpbSize, 15000000u);

  // Little-endian header at fixed offsets, then the version-3 record.
  auto b = ReadBytes(path + ".dsi");
  ASSERT_GT(b.size(), 89u);
  auto le32 = [&](size_t o) { return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | uint32_t{b[o + 3]} << 24; };
  EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RSIF");
  EXPECT_EQ(b[8], 0x1B);                 // stream coding type
  EXPECT_EQ(le32(9), 48u);               // ffprobe counts 48 frames
  EXPECT_EQ(le32(37), 89u);              // table after 57 + 32 record bytes
  EXPECT_EQ(le32(57), 3u);               // record version
  EXPECT_EQ(b[61], 100);                 // profile_idc (High)
  EXPECT_EQ(b[62], 41);                  // level_idc
  EXPECT_EQ(le32(66), 1920u);
  EXPECT_EQ(le32(70), 1080u);
  EXPECT_EQ(b[74], 1);                   // progressive
  EXPECT_EQ(le32(79), 89u + 48 * 28);    // table end
  EXPECT_EQ(b.size(), 89u + 48 * 28 + 4 + v->gops.size() * 25 + zv::SSifTrailer::kSize);
}

// Failure fixtures: exactly their message, and nothing left behind.
struct FailCase {
  const char* file;
  const char* message;
};
class H264Refused : public ::testing::TestWithParam<FailCase> {};

TEST_P(H264Refused, GivesItsMessage) {
  TempDir dir;
  std::string path = CopyFixture(GetParam().file, dir.Path());
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back(), path + "\n" + GetParam().message);
  EXPECT_FALSE(zv::PathExists(path + ".dsi"));
  EXPECT_FALSE(zv::PathExists(zv::SifPathInTemp(path)));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, H264Refused,
                         ::testing::Values(FailCase{"fail_baseline.264", "Wrong profile! "},
                                           FailCase{"fail_level51.264", "Wrong level! "},
                                           // High 4:2:2 is refused by its profile before its chroma format.
                                           FailCase{"fail_422.264", "Wrong profile! "},
                                           FailCase{"fail_15fps.264",
                                                    "Wrong frame rate! \n1920x1080 at 15 fps is not a disc format; at "
                                                    "1920x1080 a disc allows progressive 23.976 or 24 fps, or "
                                                    "interlaced 25 or 29.97 fps (re-encode the video to one of them)"}));

TEST(H264Refused, UnsupportedRateIsShownFirst) {
  TempDir dir;
  std::string path = CopyFixture("fail_15fps.264", dir.Path());
  zv::ScriptedPrompt prompt;
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  ASSERT_EQ(prompt.messages.size(), 2u);
  EXPECT_EQ(prompt.messages[0], "Error: Unsupported FrameRate value 15.000! ");
}

// ---- synthetic streams

std::vector<uint8_t> Header(const SpsSpec& sps) {
  std::vector<uint8_t> s;
  Append(s, Sps(sps));
  Append(s, Pps());
  return s;
}

// Analyses `bytes` as a .264 file; returns OpenStream's code and the prompt.
int Analyse(const TempDir& dir, const std::vector<uint8_t>& bytes, zv::SStreamContext& ctx,
            zv::ScriptedPrompt& prompt, const std::string& name = "s.264") {
  WriteBytes(dir / name, bytes);
  return OpenWhole(dir / name, ctx, &prompt);
}

TEST(H264Checks, ParameterSetsRefusedWithTheirCode) {
  struct Case {
    const char* what;
    std::function<void(SpsSpec&)> change;
    int code;
    const char* detail = "";  // below the result's message
  };
  const Case cases[] = {
      {"main profile passes", [](SpsSpec& s) { s.profile = 77; }, zv::kParseOk},
      {"4:2:2 in a High SPS", [](SpsSpec& s) { s.chroma = 2; }, zv::kParseWrongChromaFormat},
      {"frame-num gaps", [](SpsSpec& s) { s.gaps = true; }, zv::kParseFrameGaps},
      {"no VUI", [](SpsSpec& s) { s.vui = false; }, zv::kParseNoVui},
      {"no aspect", [](SpsSpec& s) { s.aspectInfo = false; }, zv::kParseNoAspectInfo},
      {"no timing", [](SpsSpec& s) { s.timing = false; }, zv::kParseNoTimingInfo},
      // Constant in fact: one picture of one frame period.
      {"fixed_frame_rate_flag 0", [](SpsSpec& s) { s.fixedFrameRate = false; }, zv::kParseOk},
      {"low delay", [](SpsSpec& s) { s.lowDelay = true; }, zv::kParseWrongLowDelay},
      {"41 Mbit/s", [](SpsSpec& s) { s.bitRateMinus1 = 40039; }, zv::kParseBitrateOverflow},
      {"CPB 30,000,128 bits", [](SpsSpec& s) { s.cpbSizeMinus1 = 117187; }, zv::kParseCpbOverflow},
      {"level 4.2", [](SpsSpec& s) { s.level = 42; }, zv::kParseWrongLevel},
      {"1080 with 4:3 pixels", [](SpsSpec& s) { s.aspectIdc = 2; }, zv::kParseWrongAspectRatio},
      {"1440x1080 square pixels", [](SpsSpec& s) { s.widthMbs = 90; }, zv::kParseWrongAspectRatio},
      {"1440x1080 4:3 pixels", [](SpsSpec& s) { s.widthMbs = 90; s.aspectIdc = 14; }, zv::kParseOk},
      {"1080p at 25 is a known rate", [](SpsSpec& s) { s.unitsInTick = 1; s.timeScale = 50; }, zv::kParseOk},
      {"576 with 16:11", [](SpsSpec& s) { s.widthMbs = 45; s.heightMapUnits = 36; s.cropBottom = 0;
                                          s.aspectIdc = 4; s.level = 30; s.unitsInTick = 1; s.timeScale = 50; },
       zv::kParseOk},
      {"480 with 16:11", [](SpsSpec& s) { s.widthMbs = 45; s.heightMapUnits = 30; s.cropBottom = 0;
                                          s.aspectIdc = 4; s.level = 30; s.unitsInTick = 1001; s.timeScale = 60000; },
       zv::kParseWrongAspectRatio},
      {"704 wide", [](SpsSpec& s) { s.widthMbs = 44; s.heightMapUnits = 36; s.cropBottom = 0; s.aspectIdc = 4; },
       zv::kParseWrongVideoFormat,
       "\n704x576 at 23.976 fps is not a disc format; a disc allows 1920x1080, 1440x1080, 1280x720, 720x576 and "
       "720x480 (re-encode the video to one of them)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SpsSpec spec;
    c.change(spec);
    auto bytes = Header(spec);
    Append(bytes, Slice({.nalType = 5}));
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    int r = Analyse(dir, bytes, ctx, prompt);
    if (c.code == zv::kParseOk) {
      EXPECT_EQ(r, zv::kOk);
    } else {
      EXPECT_EQ(r, zv::kFailed);
      ASSERT_FALSE(prompt.messages.empty());
      EXPECT_EQ(prompt.messages.back(), dir / "s.264" + "\n" + zv::ParseResultMessage(c.code) + c.detail);
      EXPECT_FALSE(zv::PathExists(dir / "s.264.dsi"));
    }
  }
}

// ---- fixed_frame_rate_flag left unset by the encoder

// Pictures of one frame each, decoded `intervals` clock ticks apart as their
// picture timing says, under an SPS without fixed_frame_rate_flag.
std::vector<uint8_t> UnfixedStream(const std::vector<uint32_t>& intervals) {
  SpsSpec spec;
  spec.fixedFrameRate = false;
  auto b = Header(spec);
  uint32_t delay = 0;
  for (size_t i = 0; i <= intervals.size(); ++i) {
    if (i > 0) delay += intervals[i - 1];
    Append(b, Aud());
    Append(b, PicTimingSei(delay));
    Append(b, Slice({.nalType = i == 0 ? 5u : 1u, .sliceType = i == 0 ? 2u : 0u,
                     .frameNum = static_cast<uint32_t>(i), .pocLsb = static_cast<uint32_t>(2 * i)}));
  }
  return b;
}

TEST(H264UnfixedRate, TakenWhenEveryPictureLastsOneFramePeriodRefusedWhenTheRateVaries) {
  {
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(Analyse(dir, UnfixedStream({2, 2, 2}), ctx, prompt), zv::kOk);
    EXPECT_EQ(ctx.header.auCount, 4u);
  }
  {
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(Analyse(dir, UnfixedStream({2, 4, 2}), ctx, prompt), zv::kFailed);
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_EQ(prompt.messages.back(),
              dir / "s.264" + "\nFixed frame rate is false! \nThe frame rate varies: picture 3 (in decode order) is "
                              "decoded 4 clock ticks after the one before it, which lasts 2. A disc plays video of a "
                              "constant frame rate; re-encode the video at one.");
    EXPECT_FALSE(zv::PathExists(dir / "s.264.dsi"));
  }
}

TEST(H264UnfixedRate, FfmpegDefaultsAreTakenWithANote) {
  TempDir dir;
  const std::string path = CopyFixture("ffmpeg_x264_1080p2398.264", dir.Path());
  struct Log {
    std::vector<std::string> items;
    static int Fn(void* c, const zv::SProgressInfo* i) {
      if (i->kind == zv::kProgressItem) static_cast<Log*>(c)->items.push_back(i->item);
      return 1;
    }
  } log;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(OpenWhole(path, ctx, &prompt, zv::Progress{&Log::Fn, &log}), zv::kOk) << ::testing::PrintToString(prompt.messages);
  EXPECT_EQ(ctx.header.auCount, 12u);
  EXPECT_NE(std::find(log.items.begin(), log.items.end(),
                      "note: \"" + path + "\": fixed_frame_rate_flag is 0, but all 12 pictures last one frame period "
                      "(23.976 fps); the clip is written with the flag set"),
            log.items.end())
      << ::testing::PrintToString(log.items);
}

TEST(H264UnfixedRate, RefusalsSayWhatTheDiscTakes) {
  const FailCase cases[] = {
      {"fail_vfr.264", "Fixed frame rate is false! \nThe frame rate varies: picture 2 (in decode order) is decoded 4 "
                       "clock ticks after the one before it, which lasts 2. A disc plays video of a constant frame "
                       "rate; re-encode the video at one."},
      {"fail_1080p30.264", "Wrong frame rate! \n1920x1080 at 30 fps is not a disc format; at 1920x1080 a disc allows "
                           "progressive 23.976 or 24 fps, or interlaced 25 or 29.97 fps (re-encode the video to one "
                           "of them)"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir;
    const std::string path = CopyFixture(c.file, dir.Path());
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_EQ(prompt.messages.back(), path + "\n" + c.message);
    EXPECT_FALSE(zv::PathExists(path + ".dsi"));
  }
}

// The flag set in place: the result is the SPS an encoder would have
// written with it, followed by zero bytes where an emulation-prevention byte
// is no longer needed; the rest of the unit is untouched.
TEST(H264UnfixedRate, SpsIsRewrittenAsWithTheFlagKeepingTheUnitSize) {
  int shrunk = 0, cases = 0;
  for (uint32_t timeScale : {48000u, 50u, 0x100u, 0x10000u, 0x1000000u, 0x2000000u, 0x20000u})
    for (uint32_t crop : {0u, 1u, 3u, 4u, 7u, 8u, 15u, 16u}) {
      for (uint32_t units : {1u, 0x100u, 0x10000u}) {
       for (bool hrd : {true, false}) {
        SpsSpec spec;
        spec.nalHrd = hrd;  // without it, zeros may follow the flag up to the stop bit
        spec.unitsInTick = units;
        spec.timeScale = timeScale;
        spec.cropBottom = crop;
        spec.fixedFrameRate = false;
        const std::vector<uint8_t> unfixed = Sps(spec);
        spec.fixedFrameRate = true;
        const std::vector<uint8_t> fixed = Sps(spec);
        ASSERT_LE(fixed.size(), unfixed.size());
        std::vector<uint8_t> unit = Aud(), expected = Aud();
        Append(unit, unfixed);
        Append(expected, fixed);
        expected.resize(expected.size() + unfixed.size() - fixed.size(), 0);
        for (auto* v : {&unit, &expected}) {
          Append(*v, Pps());
          Append(*v, Slice({.nalType = 5}));
        }
        SCOPED_TRACE(::testing::Message() << timeScale << " " << crop << " " << units << " " << hrd);
        EXPECT_EQ(zv::SetFixedFrameRateFlag(unit.data(), unit.size()), 1);
        EXPECT_EQ(unit, expected);
        // Set already: nothing to do.
        EXPECT_EQ(zv::SetFixedFrameRateFlag(unit.data(), unit.size()), 0);
        shrunk += fixed.size() < unfixed.size();
        ++cases;
       }
      }
    }
  EXPECT_GT(shrunk, 0) << "no case lost an emulation-prevention byte out of " << cases;
}

// The multiplexer rewrites every picture's parameter sets: the search stops
// at the first slice's header byte and reads none of the picture behind it
// (here made unreadable).
TEST(H264UnfixedRate, SearchEndsAtTheFirstSliceWithoutReadingIt) {
  SpsSpec spec;
  spec.fixedFrameRate = false;
  std::vector<uint8_t> unit = Aud();
  Append(unit, Sps(spec));
  Append(unit, Pps());
  const size_t sliceStart = unit.size();
  Append(unit, Slice({.nalType = 5, .dataBytes = 1 << 16}));
  const auto page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  // The slice's start code and some slack for vector loads stay readable.
  const size_t readable = sliceStart + 256;
  const size_t pages = (readable + page - 1) / page + 1;
  void* mem = ::mmap(nullptr, (pages + 1) * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(mem, MAP_FAILED);
  auto* base = static_cast<uint8_t*>(mem);
  ASSERT_EQ(::mprotect(base + pages * page, page, PROT_NONE), 0);
  uint8_t* at = base + pages * page - readable;
  std::copy(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(readable), at);
  EXPECT_EQ(zv::SetFixedFrameRateFlag(at, unit.size()), 1);
  ::munmap(mem, (pages + 1) * page);
}

TEST(H264Units, SingleIdrIsAStillPicture) {
  auto bytes = Header({});
  Append(bytes, Slice({.nalType = 5, .dataBytes = 500}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  ASSERT_EQ(ctx.header.auCount, 1u);
  auto* v = static_cast<zv::CH264VideoSif*>(ctx.sif.get());
  EXPECT_EQ(v->stillPicture, 0x80);
  zv::SEsInfoFill es;
  v->FillEsInfo(es);
  ASSERT_EQ(es.descriptors.size(), 2u);
  EXPECT_EQ(es.descriptors[1].tag, 0x28);
  // profile, constraint flags, level, still present and not 24-hour.
  EXPECT_EQ(es.descriptors[1].body, (std::vector<uint8_t>{100, 0, 41, 0x80}));
  auto u = AllUnits(ctx);
  EXPECT_EQ(u[0].offset, 0u);
  EXPECT_EQ(u[0].size, bytes.size());
  EXPECT_EQ(u[0].flags, zv::kAuiKey | 1);
}

TEST(H264Units, FieldPairsBecomeOneUnit) {
  SpsSpec spec;
  spec.frameMbsOnly = false;
  spec.heightMapUnits = 34;  // 2 x 34 x 16 = 1088
  spec.cropBottom = 2;       // 1088 - 4 x 2 = 1080
  spec.unitsInTick = 1001;
  spec.timeScale = 60000;    // 29.97: 1080i
  auto bytes = Header(spec);
  // I/P field pairs in decode order: I P P, each top then bottom.
  const unsigned types[3] = {2, 0, 0};
  std::vector<size_t> starts;
  for (unsigned f = 0; f < 3; ++f) {
    for (unsigned fld = 0; fld < 2; ++fld) {
      // The first unit also holds the parameter sets before it.
      starts.push_back(starts.empty() ? 0 : bytes.size());
      Append(bytes, Aud());
      SliceSpec s{.nalType = (f == 0 && fld == 0) ? 5u : 1u, .sliceType = (f == 0 && fld == 1) ? 0u : types[f],
                  .frameNum = f, .frameMbsOnly = false, .field = true, .bottom = fld == 1,
                  .pocLsb = 2 * f + fld};
      Append(bytes, Slice(s));
    }
  }
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto* v = static_cast<zv::CH264VideoSif*>(ctx.sif.get());
  EXPECT_EQ(v->videoFormat, zv::kVf1080i);
  EXPECT_EQ(v->height, 1080u);
  ASSERT_EQ(ctx.header.auCount, 3u);
  auto u = AllUnits(ctx);
  const double period = 90.0 * 1001 / 30;  // one frame in 90 kHz ticks
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(u[i].offset, starts[2 * i]);
    EXPECT_EQ(u[i].size, (i == 2 ? bytes.size() : starts[2 * i + 2]) - starts[2 * i]);
    EXPECT_EQ(u[i].pts, static_cast<uint32_t>(zv::kFirstPts + period * i));
    EXPECT_EQ(u[i].pictureTiming % 2, 1u);  // field_pic_flag
  }
  EXPECT_EQ(u[0].flags & zv::kAuiKey, zv::kAuiKey);
  EXPECT_EQ(u[0].pts - u[0].dts, static_cast<uint32_t>(std::ceil(period)));
}

TEST(H264Units, LongCpbDelayShiftsTheGopAfterIt) {
  // Two GOPs of two frames; the second IDR's timing says the decoder waited
  // 10 field periods (5 frames) after a GOP of 2 frames: 3 frames later.
  auto picture = [](std::vector<uint8_t>& b, bool idr, unsigned frameNum, unsigned poc, uint32_t delay) {
    Append(b, Aud());
    Append(b, PicTimingSei(delay));
    Append(b, Slice({.nalType = idr ? 5u : 1u, .sliceType = idr ? 2u : 0u, .frameNum = frameNum, .pocLsb = poc}));
  };
  auto stream = [&](uint32_t secondIdrDelay) {
    auto b = Header({});
    picture(b, true, 0, 0, 0);
    picture(b, false, 1, 2, 2);
    picture(b, true, 0, 0, secondIdrDelay);
    picture(b, false, 1, 2, 2);
    return b;
  };
  auto times = [&](uint32_t delay) {
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(Analyse(dir, stream(delay), ctx, prompt), zv::kOk);
    return AllUnits(ctx);
  };
  const double period = 90.0 * 1001 / 24;
  auto plain = times(4);     // 2 x 2 frames: no wait
  auto delayed = times(10);  // 10 / 2 - 2 = 3 frames
  ASSERT_EQ(plain.size(), 4u);
  ASSERT_EQ(delayed.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(plain[i].pts, static_cast<uint32_t>(zv::kFirstPts + period * i));
    double shift = i >= 2 ? 3 * period : 0;
    EXPECT_NEAR(static_cast<double>(delayed[i].pts), zv::kFirstPts + period * i + shift, 1.0);
    EXPECT_NEAR(static_cast<double>(delayed[i].dts), static_cast<double>(plain[i].dts) + shift, 1.0);
  }
}

// A later SPS with timing no stream has (a tick of 2^32 - 1 units at 1 Hz)
// and a long decoder wait put the time stamps beyond what 64 bits hold:
// the stream is refused, and no stream information is left for it. With a
// normal wait the times fit, but a unit would last longer than any reader
// accepts: refused the same way.
TEST(H264Units, WildTimingIsRefusedAndLeavesNoStreamInformation) {
  auto picture = [](std::vector<uint8_t>& b, bool idr, unsigned frameNum, unsigned poc, uint32_t delay) {
    Append(b, Aud());
    Append(b, PicTimingSei(delay));
    Append(b, Slice({.nalType = idr ? 5u : 1u, .sliceType = idr ? 2u : 0u, .frameNum = frameNum, .pocLsb = poc}));
  };
  for (uint32_t wait : {0xFFFFFFu, 4u}) {
    SCOPED_TRACE(wait);
    auto b = Header({});
    picture(b, true, 0, 0, 0);
    picture(b, false, 1, 2, 2);
    Append(b, Sps({.unitsInTick = 0xFFFFFFFFu, .timeScale = 1}));
    picture(b, true, 0, 0, wait);
    picture(b, false, 1, 2, 2);
    TempDir dir;
    fs::create_directory(dir / "tmp");
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    ::setenv("TMPDIR", (dir / "tmp").c_str(), 1);
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(Analyse(dir, b, ctx, prompt), zv::kFailed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_NE(prompt.messages[0].find("Syntax illegal! "), std::string::npos) << prompt.messages[0];
    EXPECT_FALSE(zv::PathExists(dir / "s.264.dsi"));
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    if (oldTmp) ::setenv("TMPDIR", saved.c_str(), 1);
    else ::unsetenv("TMPDIR");
  }
}

TEST(H264Units, SliceWithUnknownPpsIsDropped) {
  auto bytes = Header({});
  Append(bytes, Aud());
  Append(bytes, Slice({.nalType = 5}));
  Append(bytes, Aud());
  Append(bytes, Slice({.nalType = 1, .sliceType = 0, .ppsId = 7, .frameNum = 1, .pocLsb = 2}));
  Append(bytes, Aud());
  Append(bytes, Slice({.nalType = 1, .sliceType = 0, .frameNum = 1, .pocLsb = 2}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 2u);
  EXPECT_EQ(u[1].flags & 7, 2u);
  EXPECT_NEAR(static_cast<double>(u[1].dts) - u[0].dts, 90.0 * 1001 / 24, 1.0);
}

TEST(H264Units, NoParameterSetsIsRefused) {
  std::vector<uint8_t> bytes;
  Append(bytes, Slice({.nalType = 5}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  EXPECT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back(), dir / "s.264" + "\nNo PPS! ");
}

}  // namespace

namespace {

TEST(H264Units, UnitsFoundAcrossManyReadWindows) {
  // About 18 MB of pictures: the file is read in several windows, and the
  // start codes of some pictures fall on the seams. Every unit must start
  // at its picture's delimiter and end where the next one begins.
  auto bytes = Header({});
  std::vector<uint64_t> starts;
  for (int i = 0; i < 45; ++i) {
    starts.push_back(i == 0 ? 0 : bytes.size());
    Append(bytes, Aud());
    const bool idr = i % 12 == 0;
    Append(bytes, Slice({.nalType = idr ? 5u : 1u,
                         .sliceType = idr ? 2u : 0u,
                         .frameNum = static_cast<uint32_t>(i % 12),
                         .pocLsb = static_cast<uint32_t>((2 * (i % 12)) & 0xFF),
                         .dataBytes = 409001 + 37 * static_cast<size_t>(i)}));
  }
  ASSERT_GT(bytes.size(), 2u * zv::CH264Parser::kBufferSize);
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), starts.size());
  for (size_t i = 0; i < u.size(); ++i) {
    EXPECT_EQ(u[i].offset, starts[i]) << i;
    const uint64_t end = i + 1 < starts.size() ? starts[i + 1] : bytes.size();
    EXPECT_EQ(u[i].size, end - starts[i]) << i;
  }
}

// An SEI NAL unit holding one message of `type` with `payload` as given,
// and `declared` as its payloadSize (which may lie).
std::vector<uint8_t> SeiMessage(unsigned type, const std::vector<uint8_t>& payload, size_t declared) {
  return AnnexB(BuildBits([&](zv::BeWriter& w) {
    w.Bits(8, 0x06);  // type 6
    w.Bits(8, type);  // payloadType
    size_t n = declared;
    for (; n >= 255; n -= 255) w.Bits(8, 0xFF);  // payloadSize, in runs of 0xFF
    w.Bits(8, static_cast<uint32_t>(n));
    w.Bytes(payload.data(), payload.size());
    w.Bits(8, 0x80);  // rbsp_trailing_bits
  }));
}

TEST(H264Units, SeiTroubleEndsTheSeiWalkNotTheAnalysis) {
  auto bytes = Header({});
  std::vector<size_t> starts;
  // A 70 KB user-data message (encoders do write such), longer than the
  // 64 KiB of a NAL unit that are read.
  starts.push_back(0);
  Append(bytes, Aud());
  const std::vector<uint8_t> userData(70000, 0x5A);
  Append(bytes, SeiMessage(5, userData, userData.size()));
  Append(bytes, Slice({.nalType = 5, .sliceType = 2, .frameNum = 0, .pocLsb = 0}));
  // A message whose payloadSize runs past its NAL unit.
  starts.push_back(bytes.size());
  Append(bytes, Aud());
  Append(bytes, SeiMessage(4, {1, 2, 3}, 200));
  Append(bytes, Slice({.nalType = 1, .sliceType = 0, .frameNum = 1, .pocLsb = 2}));
  // And a good picture-timing message still read after them.
  starts.push_back(bytes.size());
  Append(bytes, Aud());
  Append(bytes, PicTimingSei(2));
  Append(bytes, Slice({.nalType = 1, .sliceType = 0, .frameNum = 2, .pocLsb = 4}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
  EXPECT_TRUE(prompt.messages.empty());
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 3u);
  const double period = 90.0 * 1001 / 24;
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(u[i].offset, starts[i]);
    EXPECT_EQ(u[i].size, (i == 2 ? bytes.size() : starts[i + 1]) - starts[i]);
    EXPECT_NEAR(static_cast<double>(u[i].pts), zv::kFirstPts + period * static_cast<double>(i), 1.0);
  }
}

TEST(H264Checks, Anamorphic1440x1080IsSixteenByNine) {
  SpsSpec spec;
  spec.widthMbs = 90;  // 1440
  spec.aspectIdc = 14;  // 4:3 pixels
  auto bytes = Header(spec);
  Append(bytes, Slice({.nalType = 5}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto* v = static_cast<zv::CH264VideoSif*>(ctx.sif.get());
  EXPECT_EQ(v->width, 1440u);
  EXPECT_EQ(v->aspectRatio, zv::kAspect16x9);
  // What the PMT, clip information and playlists are made from.
  zv::SCodingAttributes coding;
  v->FillCodingInfo(coding);
  EXPECT_EQ(coding.aspectRatio, zv::kAspect16x9);
  EXPECT_EQ(zv::DisplayAspectFromSar(15, 1280, 1080), zv::kAspect16x9);
  EXPECT_EQ(zv::DisplayAspectFromSar(14, 1920, 1080), 0);
}

TEST(H264Checks, KnownButDisallowedRatesAreAcceptedAndNamed) {
  SpsSpec spec;
  spec.timeScale = 50;  // 1080p25
  spec.unitsInTick = 1;
  auto bytes = Header(spec);
  Append(bytes, Slice({.nalType = 5}));
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto* v = static_cast<zv::CH264VideoSif*>(ctx.sif.get());
  EXPECT_EQ(zv::DisallowedVideoWarning("f.264", v->videoFormat, v->frameRate),
            "\"f.264\": 1080p at 25 fps is not a Blu-ray video format; Blu-ray players may refuse it");
  struct Pair {
    uint8_t vf, fr;
    const char* name;
  };
  for (const Pair& p : {Pair{zv::kVf720p, zv::kFr25, "720p at 25"}, Pair{zv::kVf1080p, zv::kFr2997, "1080p at 29.97"},
                        Pair{zv::kVf1080i, zv::kFr23976, "1080i at 23.976"}})
    EXPECT_NE(zv::DisallowedVideoWarning("f", p.vf, p.fr).find(p.name), std::string::npos) << p.name;
  EXPECT_EQ(zv::DisallowedVideoWarning("f", zv::kVf1080p, zv::kFr23976), "");
  EXPECT_EQ(zv::DisallowedVideoWarning("f", zv::kVf1080i, zv::kFr2997), "");
  EXPECT_EQ(zv::DisallowedVideoWarning("f", zv::kVf1080p, zv::kFrUnknown), "");
}

// The PAFF stream of PaffStream: pairs by parity and frame_num, frames
// between them, a lone field, and nothing of the stream left out.
TEST(H264Units, FieldPairsByParityAndFrameNumberAndNoUnitLeftOut) {
  std::vector<size_t> starts;
  const std::vector<uint8_t> bytes = PaffStream(&starts);
  TempDir dir;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto* v = static_cast<zv::CH264VideoSif*>(ctx.sif.get());
  EXPECT_EQ(v->videoFormat, zv::kVf1080i);
  auto u = AllUnits(ctx);
  // First picture of each record, and its decode and display times in
  // frames: a frame or field pair lasts one, the lone field half of one.
  const size_t firstPic[] = {0, 2, 4, 5, 7, 8};
  const double decodeAt[] = {0, 1, 2, 2.5, 3.5, 4.5};
  const double shownAt[] = {1, 2, 3, 3.5, 4.5, 5.5};
  ASSERT_EQ(u.size(), 6u);
  EXPECT_EQ(ctx.header.auCount, 6u);
  ASSERT_EQ(v->gops.size(), 2u);
  EXPECT_EQ(v->gops[0].frames, 3u);
  EXPECT_EQ(v->gops[1].frames, 3u);
  const double frame = 90.0 * 1001 / 30;
  uint64_t total = 0;
  for (size_t i = 0; i < u.size(); ++i) {
    SCOPED_TRACE(i);
    const size_t end = i + 1 < u.size() ? starts[firstPic[i + 1]] : bytes.size();
    EXPECT_EQ(u[i].offset, starts[firstPic[i]]);
    EXPECT_EQ(u[i].size, end - starts[firstPic[i]]);
    total += u[i].size;
    EXPECT_NEAR(static_cast<double>(u[i].pts), zv::kFirstPts + frame * (shownAt[i] - 1), 1.0);
    EXPECT_NEAR(static_cast<double>(u[i].dts), zv::kFirstPts + frame * (decodeAt[i] - 1), 1.0);
  }
  EXPECT_EQ(total, bytes.size());
  EXPECT_EQ(u[0].flags & zv::kAuiKey, zv::kAuiKey);
  EXPECT_EQ(u[3].flags & zv::kAuiKey, zv::kAuiKey);
  EXPECT_EQ(u[1].flags & zv::kAuiKey, 0u);
}

}  // namespace

// MPEG-2 video analysis: ffmpeg-encoded fixtures against ffprobe's reading,
// the refusals with their messages, and units and time stamps of synthetic
// streams (field pictures, pulldown, open GOPs, sequence ends).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/mpeg2_parser.h"
#include "streams/parse_result.h"
#include "support/run_tools.h"
#include "support/test_support.h"
#include "video_builders.h"

using namespace zvtest;

namespace {

const zv::CMpeg2VideoSif& Record(const zv::SStreamContext& ctx) {
  return *static_cast<const zv::CMpeg2VideoSif*>(ctx.sif.get());
}

unsigned Type(const zv::AUI& a) { return a.flags & zv::kAuiPictureTypeMask; }

// PTS steps in display order, in 90 kHz ticks.
std::vector<int64_t> DisplaySteps(const std::vector<zv::AUI>& u) {
  std::vector<int64_t> pts;
  for (const auto& a : u) pts.push_back(a.pts);
  std::sort(pts.begin(), pts.end());
  std::vector<int64_t> steps;
  for (size_t i = 1; i < pts.size(); ++i) steps.push_back(pts[i] - pts[i - 1]);
  return steps;
}

struct Fixture {
  const char* name;
  uint8_t videoFormat, frameRate, aspect;
  uint32_t width, height;
};

class Mpeg2Fixture : public ::testing::TestWithParam<Fixture> {};

TEST_P(Mpeg2Fixture, UnitsAndAttributesAgreeWithFfprobe) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  const Fixture& f = GetParam();
  TempDir dir;
  const std::string path = CopyFixture(f.name, dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  const auto& rec = Record(ctx);
  EXPECT_EQ(rec.videoFormat, f.videoFormat);
  EXPECT_EQ(rec.frameRate, f.frameRate);
  EXPECT_EQ(rec.aspectRatio, f.aspect);
  EXPECT_EQ(rec.width, f.width);
  EXPECT_EQ(rec.height, f.height);
  EXPECT_EQ(ctx.header.bitRate, 15000000u);  // the encoder's -maxrate
  EXPECT_EQ(ctx.header.payloadSize, static_cast<uint64_t>(zv::FileSize(path)));

  // ffmpeg's MPEG video parser cuts the file into the same frames.
  auto units = AllUnits(ctx);
  auto r = zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "packet=pos,size,flags", "-of", "csv=p=0", path});
  auto packets = Lines(r.out);
  ASSERT_EQ(units.size(), packets.size());
  for (size_t i = 0; i < units.size(); ++i) {
    SCOPED_TRACE(i);
    long size = 0, pos = 0;
    char flags[8] = {0};
    ASSERT_EQ(std::sscanf(packets[i].c_str(), "%ld,%ld,%7s", &size, &pos, flags), 3);
    EXPECT_EQ(static_cast<long>(units[i].offset), pos);
    EXPECT_EQ(static_cast<long>(units[i].size), size);
    EXPECT_EQ(Type(units[i]) == 1, flags[0] == 'K');
  }

  // Display order: the decoder's output order of picture types is the
  // order of our PTS, and every GOP header starts a GOP record at an I.
  auto frames = Lines(zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "frame=pict_type", "-of", "csv=p=0", path}).out);
  std::string decoded;
  for (const auto& l : frames) decoded += l[0];
  std::vector<zv::AUI> shown = units;
  std::stable_sort(shown.begin(), shown.end(), [](const zv::AUI& a, const zv::AUI& b) { return a.pts < b.pts; });
  std::string ours;
  for (const auto& a : shown) ours += "?IPB"[Type(a)];
  EXPECT_EQ(ours, decoded);
  ASSERT_FALSE(rec.gops.empty());
  for (const auto& g : rec.gops) {
    ASSERT_LT(g.iIndex, units.size());
    EXPECT_EQ(Type(units[g.iIndex]), 1u);
    EXPECT_TRUE(units[g.iIndex].flags & zv::kAuiKey);
    EXPECT_EQ(units[g.iIndex].offset, g.iOffset);
    EXPECT_LE(g.minPts, g.maxPts);
  }
  EXPECT_EQ(rec.codecValue, rec.gops.size());
  // The first picture is shown first, at the common start time; decode
  // times never go back and never pass the display time.
  EXPECT_EQ(shown.front().pts, zv::kFirstPts);
  for (size_t i = 0; i < units.size(); ++i) {
    EXPECT_LE(units[i].dts, units[i].pts) << i;
    if (i > 0) {
      EXPECT_GT(units[i].dts, units[i - 1].dts) << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Mpeg2Fixture,
    ::testing::Values(Fixture{"m2v_1080i2997.m2v", zv::kVf1080i, zv::kFr2997, zv::kAspect16x9, 1920, 1080},
                      Fixture{"m2v_1080i2997_pulldown.m2v", zv::kVf1080i, zv::kFr2997, zv::kAspect16x9, 1920, 1080},
                      Fixture{"m2v_1440x1080i25.m2v", zv::kVf1080i, zv::kFr25, zv::kAspect16x9, 1440, 1080},
                      Fixture{"m2v_1080p2398.m2v", zv::kVf1080p, zv::kFr23976, zv::kAspect16x9, 1920, 1080},
                      Fixture{"m2v_480i2997.m2v", zv::kVf480i, zv::kFr2997, zv::kAspect4x3, 720, 480},
                      Fixture{"m2v_576i25.m2v", zv::kVf576i, zv::kFr25, zv::kAspect16x9, 720, 576}),
    [](const auto& info) {
      std::string n = info.param.name;
      return n.substr(0, n.find('.'));
    });

TEST(Mpeg2Units, PulldownFramesLastThreeFieldsAndNoneShareATime) {
  TempDir dir;
  const std::string path = CopyFixture("m2v_1080i2997_pulldown.m2v", dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  // 3:2 cadence in display order: 3 fields, 2, 3, 2 ...
  auto steps = DisplaySteps(AllUnits(ctx));
  ASSERT_EQ(steps.size(), 31u);
  for (size_t i = 0; i < steps.size(); ++i) EXPECT_NEAR(steps[i], i % 2 == 0 ? 4504.5 : 3003, 1) << i;
}

// ---------------------------------------------------------------- refusals

struct FailCase {
  const char* file;
  const char* message;
};
class Mpeg2Refused : public ::testing::TestWithParam<FailCase> {};

TEST_P(Mpeg2Refused, GivesItsMessageAndLeavesNothing) {
  TempDir dir;
  const std::string path = CopyFixture(GetParam().file, dir.Path());
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  EXPECT_EQ(OpenWhole(path, ctx, &prompt), zv::kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back(), path + "\n" + GetParam().message);
  EXPECT_FALSE(zv::PathExists(path + ".dsi"));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg2Refused,
                         ::testing::Values(FailCase{"fail_422.m2v", "Wrong chroma format! "},
                                           FailCase{"fail_30fps.m2v",
                                                    "Wrong frame rate! \n720x480 interlaced at 30 fps is not a disc "
                                                    "format; at 720x480 a disc allows progressive 23.976, 24 or "
                                                    "29.97 fps, or interlaced 29.97 fps (re-encode the video to one "
                                                    "of them)"},
                                           FailCase{"fail_480i25.m2v",
                                                    "Wrong frame rate! \n720x480 interlaced at 25 fps is not a disc "
                                                    "format; at 720x480 a disc allows progressive 23.976, 24 or "
                                                    "29.97 fps, or interlaced 29.97 fps (re-encode the video to one "
                                                    "of them)"},
                                           FailCase{"fail_ratio_221.m2v", "Wrong aspect ratio! "},
                                           FailCase{"fail_bitrate.m2v", "Bitrate overflow! "}));

int Analyse(const TempDir& dir, const std::vector<uint8_t>& bytes, zv::SStreamContext& ctx, zv::ScriptedPrompt& prompt) {
  WriteBytes(dir / "s.m2v", bytes);
  return OpenWhole(dir / "s.m2v", ctx, &prompt);
}

TEST(Mpeg2Checks, HeadersRefusedWithTheirCode) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int code;
  };
  auto stream = [](M2vSequence s, std::vector<M2vPicture> p = M2vGop("IPBB")) { return M2vStream(s, p); };
  M2vSequence mpeg1;
  mpeg1.extension = false;
  M2vSequence sd;
  sd.width = 720;
  sd.height = 480;
  sd.aspect = 2;
  sd.profileLevel = 0x48;
  M2vSequence sd25 = sd;
  sd25.rateCode = 3;
  M2vSequence rate30 = sd;
  rate30.rateCode = 5;
  auto noExtension = M2vGop("IPBB");
  noExtension[1].extension = false;
  std::vector<uint8_t> slicesFirst = {0, 0, 1, 0x01, 0x55, 0x55};
  Append(slicesFirst, stream(M2vSequence{}));
  const std::vector<Case> cases = {
      {"480i at 29.97 passes", stream(sd), zv::kParseOk},
      {"480i at 25 fps", stream(sd25), zv::kParseWrongFrameRate},
      {"30 fps", stream(rate30), zv::kParseWrongFrameRate},
      {"MPEG-1: the GOP header read as an extension", stream(mpeg1), -1},
      {"picture header followed by a slice", stream(M2vSequence{}, noExtension), zv::kParseSyntax},
      {"first start code not a sequence header", slicesFirst, zv::kParseUnknownFormat},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    const int r = Analyse(dir, c.bytes, ctx, prompt);
    if (c.code == zv::kParseOk) {
      EXPECT_EQ(r, zv::kOk);
      continue;
    }
    EXPECT_EQ(r, zv::kFailed);
    ASSERT_FALSE(prompt.messages.empty());
    const std::string& m = prompt.messages.back();
    if (c.code < 0) {
      EXPECT_TRUE(m == dir / "s.m2v" + "\nSyntax illegal! " || m == dir / "s.m2v" + "\nWrong chroma format! ") << m;
    } else {
      EXPECT_EQ(m.substr(0, m.find('\n', m.find('\n') + 1)), dir / "s.m2v" + "\n" + zv::ParseResultMessage(c.code));
    }
    EXPECT_FALSE(zv::PathExists(dir / "s.m2v.dsi"));
  }
}

TEST(Mpeg2Checks, OnlyTheFirstSequenceHeaderIsChecked) {
  TempDir dir;
  M2vSequence good, bad;
  bad.chroma = 2;
  bad.rateCode = 5;
  auto bytes = M2vStream(good, M2vGop("IPBB"));
  auto second = M2vGop("IPBB");
  second[0].sequence = false;
  Append(bytes, M2vSequenceHeader(bad));
  Append(bytes, M2vStream(good, second));
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  EXPECT_EQ(Record(ctx).sequenceHeaders, 2u);
  EXPECT_EQ(ctx.header.auCount, 8u);
  auto u = AllUnits(ctx);
  EXPECT_EQ(u[4].flags, 1u | zv::kAuiSequenceHeader | zv::kAuiKey);
}

// ---------------------------------------------------------------- units

TEST(Mpeg2Units, FieldPicturesPairIntoOneUnitAndNoByteIsLeftOut) {
  TempDir dir;
  // I top + P bottom, P bottom + P top (the other field order), B top + B bottom.
  std::vector<M2vPicture> p(6);
  const unsigned structures[6] = {1, 2, 2, 1, 1, 2};
  const unsigned types[6] = {1, 2, 2, 2, 3, 3};
  const unsigned trs[6] = {0, 0, 2, 2, 1, 1};
  for (int i = 0; i < 6; ++i) {
    p[i].structure = structures[i];
    p[i].type = types[i];
    p[i].tr = trs[i];
  }
  p[0].sequence = p[0].gop = true;
  p[5].sequenceEnd = true;
  auto bytes = M2vStream(M2vSequence{}, p);
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 3u);
  uint64_t next = 0;
  for (const auto& a : u) {
    EXPECT_EQ(a.offset, next);
    next = a.offset + a.size;
  }
  EXPECT_EQ(next, bytes.size());
  EXPECT_EQ(u[0].flags, 1u | zv::kAuiSequenceHeader | zv::kAuiKey);
  EXPECT_EQ(u[1].flags, 2u);
  EXPECT_EQ(u[2].flags, 3u | zv::kAuiSequenceEnd);
  EXPECT_EQ(Record(ctx).sequenceEnds, 1u);
  // I, B, P in display order, one frame apart.
  const double t = 90 * 33.366667;
  EXPECT_EQ(u[0].pts, zv::kFirstPts);
  EXPECT_NEAR(u[2].pts, zv::kFirstPts + t, 1);
  EXPECT_NEAR(u[1].pts, zv::kFirstPts + 2 * t, 1);
}

TEST(Mpeg2Units, OpenGopFirstIPictureIsShownAtTheStartTime) {
  TempDir dir;
  // Decode order I(2) B(0) B(1) P(5) B(3) B(4).
  auto p = M2vGop("IBBPBB");
  auto bytes = M2vStream(M2vSequence{}, p);
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 6u);
  const double t = 90 * 33.366667;
  EXPECT_EQ(u[0].pts, zv::kFirstPts);
  EXPECT_NEAR(u[0].dts, zv::kFirstPts - 3 * t, 1);
  EXPECT_NEAR(u[1].pts, zv::kFirstPts - 2 * t, 1);
  EXPECT_NEAR(u[3].pts, zv::kFirstPts + 3 * t, 1);
  for (size_t i = 1; i < u.size(); ++i) EXPECT_NEAR(u[i].dts - u[i - 1].dts, t, 1) << i;
}

TEST(Mpeg2Units, RepeatedFieldsDelayEveryLaterPicture) {
  TempDir dir;
  // All intra, progressive frames; the second repeats its first field.
  std::vector<M2vPicture> p(4);
  for (unsigned i = 0; i < 4; ++i) {
    p[i].gop = true;
    p[i].progressiveFrame = true;
    p[i].tff = i % 2 == 0;
  }
  p[0].sequence = true;
  p[1].rff = true;
  auto bytes = M2vStream(M2vSequence{}, p);
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 4u);
  const double t = 90 * 33.366667;
  EXPECT_NEAR(u[1].pts - u[0].pts, t, 1);
  EXPECT_NEAR(u[2].pts - u[1].pts, 1.5 * t, 1);
  EXPECT_NEAR(u[3].pts - u[2].pts, t, 1);
  EXPECT_EQ(Record(ctx).gops.size(), 4u);
}

TEST(Mpeg2Record, StoredFormAndTrackValues) {
  TempDir dir;
  const std::string path = CopyFixture("m2v_1080i2997.m2v", dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
  const auto& rec = Record(ctx);
  EXPECT_EQ(rec.profile, 4);  // Main, escape bit clear
  EXPECT_EQ(rec.level, 4);    // High
  EXPECT_EQ(rec.progressive, 0);
  EXPECT_EQ(rec.firstSequenceOffset, 0u);
  // The block runs up to the first GOP header: header and both extensions.
  auto bytes = ReadBytes(path);
  ASSERT_GT(rec.firstSequenceLength, 12u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + rec.firstSequenceLength, bytes.begin() + rec.firstSequenceLength + 4),
            (std::vector<uint8_t>{0, 0, 1, 0xB8}));
  EXPECT_EQ(ctx.sequenceHeader.size(), rec.firstSequenceLength);

  zv::SEsInfoFill es;
  rec.FillEsInfo(es);
  EXPECT_EQ(es.streamCodingType, 0x02);
  ASSERT_EQ(es.descriptors.size(), 1u);
  EXPECT_EQ(es.descriptors[0].body, (std::vector<uint8_t>{'H', 'D', 'M', 'V', 0xFF, 0x02, 0x44, 0x3F}));
  zv::SCodingAttributes ci;
  rec.FillCodingInfo(ci);
  EXPECT_EQ(ci.streamCodingType, 0x02);
  EXPECT_EQ(ci.videoFormat, zv::kVf1080i);
  EXPECT_EQ(ci.frameRate, zv::kFr2997);
  EXPECT_EQ(ci.aspectRatio, zv::kAspect16x9);
  zv::SPacketRule rule;
  ASSERT_EQ(rec.CreatePacketRules(&rule, nullptr), 1);
  EXPECT_EQ(rule.model, zv::SPacketRule::kMpeg2);
  EXPECT_EQ(rule.levels, (std::vector<int>{68, 0x44}));

  // A second open reuses the stored record unchanged.
  zv::SStreamContext again;
  ParseCounter counter;
  ASSERT_EQ(OpenWhole(path, again, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 0);
  EXPECT_TRUE(again.sif->IsEqual(rec));
  EXPECT_EQ(Record(again).firstSequenceLength, rec.firstSequenceLength);
  EXPECT_EQ(Record(again).gops.size(), rec.gops.size());
}

}  // namespace

namespace {

// Stops at the first progress value below 100: the parsers report one every
// 5 MiB, so only a longer stream sees one.
struct Canceller {
  int values = 0;
  zv::Progress Callback() { return zv::Progress{&Canceller::Thunk, this}; }
  static int Thunk(void* c, const zv::SProgressInfo* i) {
    if (i->kind != zv::kProgressValue || i->value >= 100) return 1;
    ++static_cast<Canceller*>(c)->values;
    return 0;
  }
};

TEST(Mpeg2Units, CancelDuringTheWalkLeavesNothing) {
  TempDir dir;
  auto p = M2vGop("IPBB");
  for (auto& pic : p) pic.dataBytes = 2u << 20;  // 8 MiB in all
  WriteBytes(dir / "s.m2v", M2vStream(M2vSequence{}, p));
  zv::SStreamContext ctx;
  Canceller cancel;
  EXPECT_EQ(OpenWhole(dir / "s.m2v", ctx, nullptr, cancel.Callback()), zv::kCancelled);
  EXPECT_EQ(cancel.values, 1);
  EXPECT_FALSE(zv::PathExists(dir / "s.m2v.dsi"));
}

}  // namespace

namespace {

TEST(Mpeg2Units, BytesOutsideEveryUnitDoNotSpoilTheTable) {
  TempDir dir;
  // Padding before the first sequence header and behind a sequence end.
  std::vector<uint8_t> bytes = {0xFF, 0xFF, 0xFF};
  auto p = M2vGop("IPBB");
  p[3].sequenceEnd = true;
  Append(bytes, M2vStream(M2vSequence{}, p));
  bytes.insert(bytes.end(), 5, 0xAA);
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  WriteBytes(dir / "s.m2v", bytes);
  ASSERT_EQ(OpenWhole(dir / "s.m2v", ctx, &prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 4u);
  EXPECT_EQ(u[0].offset, 3u);
  EXPECT_EQ(ctx.header.payloadSize, bytes.size() - 8);
  EXPECT_EQ(Record(ctx).firstSequenceOffset, 3u);
  // Opened again from the stored table.
  zv::SStreamContext again;
  ParseCounter counter;
  ASSERT_EQ(OpenWhole(dir / "s.m2v", again, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 0);
}

TEST(Mpeg2Units, APictureCutOffByTheEndOfTheFileIsLeftOut) {
  TempDir dir;
  // Synthetic: the last picture's slices stop short of the bottom row, or
  // only the first field of a pair is there.
  auto p = M2vGop("IPBBP");
  p[4].wholeRows = false;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, M2vStream(M2vSequence{}, p), ctx, prompt), zv::kOk);
  EXPECT_EQ(AllUnits(ctx).size(), 4u);
  p[4].wholeRows = true;
  zv::SStreamContext whole;
  ASSERT_EQ(Analyse(dir, M2vStream(M2vSequence{}, p), whole, prompt), zv::kOk);
  EXPECT_EQ(AllUnits(whole).size(), 5u);
  p[4].structure = 1;
  zv::SStreamContext field;
  ASSERT_EQ(Analyse(dir, M2vStream(M2vSequence{}, p), field, prompt), zv::kOk);
  EXPECT_EQ(AllUnits(field).size(), 4u) << "a first field without its second";

  // An encoded stream cut in the middle of its last picture.
  const std::vector<uint8_t> bytes = ReadBytes(DataPath("m2v_1080p2398.m2v"));
  WriteBytes(dir / "full.m2v", bytes);
  zv::SStreamContext full;
  ASSERT_EQ(OpenWhole(dir / "full.m2v", full), zv::kOk);
  const std::vector<zv::AUI> all = AllUnits(full);
  ASSERT_GT(all.size(), 2u);
  EXPECT_EQ(all.back().offset + all.back().size, bytes.size()) << "the whole stream keeps its last picture";
  const uint64_t cut = all.back().offset + all.back().size / 2;
  WriteBytes(dir / "cut.m2v", std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
  zv::SStreamContext shortened;
  ASSERT_EQ(OpenWhole(dir / "cut.m2v", shortened), zv::kOk);
  const std::vector<zv::AUI> kept = AllUnits(shortened);
  ASSERT_EQ(kept.size(), all.size() - 1);
  EXPECT_EQ(kept.back().offset + kept.back().size, all.back().offset);
}

}  // namespace


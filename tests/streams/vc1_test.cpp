// VC-1 analysis on streams built from the advanced-profile syntax: ffprobe
// reads them as we do (a check that the builder writes well-formed
// streams), every refusal with its message, units and display order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/parse_result.h"
#include "streams/vc1_parser.h"
#include "support/run_tools.h"
#include "support/test_support.h"
#include "video_builders.h"

using namespace zvtest;

namespace {

const zv::CVc1Sif& Record(const zv::SStreamContext& ctx) { return *static_cast<const zv::CVc1Sif*>(ctx.sif.get()); }

int Analyse(const TempDir& dir, const std::vector<uint8_t>& bytes, zv::SStreamContext& ctx, zv::ScriptedPrompt& prompt) {
  WriteBytes(dir / "s.vc1", bytes);
  return OpenWhole(dir / "s.vc1", ctx, &prompt);
}

std::string Probe(const std::string& path, const char* entries) {
  auto r = Run({"ffprobe", "-v", "error", "-select_streams", "0", "-show_entries", entries, "-of",
                "default=nw=1:nk=1", path});
  return r.out;
}

TEST(Vc1Fixture, FfprobeReadsTheBuiltStreamsAsWeDo) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  struct Case {
    const char* what;
    std::function<void(Vc1Sequence&)> change;
    const char* rate;
    uint8_t videoFormat, frameRate;
  };
  const std::vector<Case> cases = {
      {"1080i 29.97", [](Vc1Sequence&) {}, "30000/1001", zv::kVf1080i, zv::kFr2997},
      {"720p 59.94",
       [](Vc1Sequence& s) {
         s.codedWidth = s.displayWidth = 1280;
         s.codedHeight = s.displayHeight = 720;
         s.interlace = false;
         s.pulldown = false;
         s.frameRateNr = 5;
       },
       "60000/1001", zv::kVf720p, zv::kFr5994},
      {"1080p 23.976",
       [](Vc1Sequence& s) {
         s.interlace = false;
         s.frameRateNr = 1;
       },
       "24000/1001", zv::kVf1080p, zv::kFr23976},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Vc1Sequence s;
    c.change(s);
    TempDir dir;
    auto bytes = Vc1Stream(s, "IPBBPBB|IPBBPBB|IP");
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk) << (prompt.messages.empty() ? "" : prompt.messages[0]);
    const auto& rec = Record(ctx);
    EXPECT_EQ(rec.videoFormat, c.videoFormat);
    EXPECT_EQ(rec.frameRate, c.frameRate);
    EXPECT_EQ(rec.aspectRatio, zv::kAspect16x9);

    const std::string path = dir / "s.vc1";
    EXPECT_EQ(Probe(path, "stream=codec_name"), "vc1\n");
    EXPECT_EQ(Probe(path, "stream=width"), std::to_string(rec.width) + "\n");
    EXPECT_EQ(Probe(path, "stream=height"), std::to_string(rec.height) + "\n");
    EXPECT_EQ(Probe(path, "stream=r_frame_rate"), std::string(c.rate) + "\n");
    // ffmpeg's VC-1 parser cuts the same frames, a sequence header and
    // entry point going with the frame after them.
    auto packets = Lines(zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "packet=pos,size", "-of", "csv=p=0", path}).out);
    auto units = AllUnits(ctx);
    ASSERT_EQ(units.size(), packets.size());
    for (size_t i = 0; i < units.size(); ++i) {
      long size = 0, pos = 0;
      ASSERT_EQ(std::sscanf(packets[i].c_str(), "%ld,%ld", &size, &pos), 2) << packets[i];
      EXPECT_EQ(static_cast<long>(units[i].offset), pos) << i;
      EXPECT_EQ(static_cast<long>(units[i].size), size) << i;
    }
  }
}

TEST(Vc1Fixture, FieldOrderAsFfprobeReadsIt) {
  if (!HaveProgram("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  TempDir dir;
  Vc1Sequence s;
  WriteBytes(dir / "s.vc1", Vc1Stream(s, "IPBB"));
  // The frames say top field first; a progressive stream says progressive.
  EXPECT_EQ(Probe(dir / "s.vc1", "stream=field_order"), "tt\n");
  s.interlace = s.pulldown = false;
  WriteBytes(dir / "p.vc1", Vc1Stream(s, "IPBB"));
  EXPECT_EQ(Probe(dir / "p.vc1", "stream=field_order"), "progressive\n");
}

// ---------------------------------------------------------------- refusals

TEST(Vc1Checks, HeadersRefusedWithTheirCode) {
  struct Case {
    const char* what;
    std::function<void(Vc1Sequence&)> change;
    int code;
    const char* detail = "";  // below the result's message
  };
  auto sd = [](Vc1Sequence& s) {
    s.codedWidth = s.displayWidth = 720;
    s.codedHeight = s.displayHeight = 480;
    s.level = 2;
    s.aspectIndex = 3;  // 10:11 pixels on 480 lines: 4:3
  };
  const std::vector<Case> cases = {
      {"1080i level 3 passes", [](Vc1Sequence&) {}, zv::kParseOk},
      {"1080i level 2", [](Vc1Sequence& s) { s.level = 2; }, zv::kParseWrongLevel},
      {"level 4", [](Vc1Sequence& s) { s.level = 4; }, zv::kParseWrongLevel},
      {"main profile", [](Vc1Sequence& s) { s.profile = 1; }, zv::kParseWrongProfile},
      {"interlaced without pulldown", [](Vc1Sequence& s) { s.pulldown = false; }, zv::kParseWrongPulldown},
      {"no display extension", [](Vc1Sequence& s) { s.displayExt = false; }, zv::kParseNoAspectInfo},
      {"no aspect ratio", [](Vc1Sequence& s) { s.aspectFlag = false; }, zv::kParseNoAspectInfo},
      {"no frame rate", [](Vc1Sequence& s) { s.framerateFlag = false; }, zv::kParseNoFramerateInfo},
      {"no HRD", [](Vc1Sequence& s) { s.hrd = false; }, zv::kParseNoHrd},
      {"reserved frame rate numerator", [](Vc1Sequence& s) { s.frameRateNr = 0; }, zv::kParseWrongFrameRateInfo},
      {"1080i at 24 fps", [](Vc1Sequence& s) { s.frameRateNr = 1; s.frameRateDr = 1; }, zv::kParseWrongFrameRate,
       "\n1920x1080 interlaced at 24 fps is not a disc format; at 1920x1080 a disc allows progressive 23.976 or 24 "
       "fps, or interlaced 25 or 29.97 fps (re-encode the video to one of them)"},
      {"frame rate as a 1/32 count: 25 fps",
       [](Vc1Sequence& s) {
         s.framerateInd = true;
         s.frameRateExp = 25 * 32 - 1;
       },
       zv::kParseOk},
      {"pan-scan entry point", [](Vc1Sequence& s) { s.panscan = true; }, zv::kParseWrongPanscan},
      {"entry point coded size differs",
       [](Vc1Sequence& s) {
         s.codedSize = true;
         s.entryWidth = 1440;
       },
       zv::kParseWrongCodedSize},
      {"entry point coded size equal", [](Vc1Sequence& s) { s.codedSize = true; }, zv::kParseOk},
      {"square aspect", [](Vc1Sequence& s) { s.aspectIndex = 0; }, zv::kParseWrongAspectRatio},
      {"explicit 4:3 aspect",
       [](Vc1Sequence& s) {
         s.aspectIndex = 15;
         s.aspectHoriz = 3;
         s.aspectVert = 4;
         s.displayWidth = 1440;
         s.displayHeight = 810;  // 1440 * 3 / (810 * 4) = 4/3
       },
       zv::kParseOk},
      {"480i passes", sd, zv::kParseOk},
      {"480i at 25 Mbit/s",
       [&](Vc1Sequence& s) {
         sd(s);
         s.hrdRate = 1525;  // 1526 x 2^14 = 25,001,984 bit/s
       },
       zv::kParseBitrateOverflow},
      {"480i at level 3",
       [&](Vc1Sequence& s) {
         sd(s);
         s.level = 3;
       },
       zv::kParseWrongLevel},
      {"1080i buffer above 30,000,000 bits", [](Vc1Sequence& s) { s.hrdBuffer = 7400; }, zv::kParseVideoBufferOverflow},
      {"720p 59.94",
       [](Vc1Sequence& s) {
         s.codedWidth = s.displayWidth = 1280;
         s.codedHeight = s.displayHeight = 720;
         s.interlace = s.pulldown = false;
         s.frameRateNr = 5;
       },
       zv::kParseOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Vc1Sequence s;
    c.change(s);
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    const int r = Analyse(dir, Vc1Stream(s, "IPBB|IPBB"), ctx, prompt);
    if (c.code == zv::kParseOk) {
      EXPECT_EQ(r, zv::kOk) << (prompt.messages.empty() ? "" : prompt.messages.back());
      continue;
    }
    EXPECT_EQ(r, zv::kFailed);
    ASSERT_FALSE(prompt.messages.empty());
    EXPECT_EQ(prompt.messages.back(), dir / "s.vc1" + "\n" + zv::ParseResultMessage(c.code) + c.detail);
    EXPECT_FALSE(zv::PathExists(dir / "s.vc1.dsi"));
  }
}

TEST(Vc1Checks, EntryPointsMustFollowTheirSequenceHeader) {
  Vc1Sequence s;
  auto message = [&](const std::vector<uint8_t>& bytes) {
    TempDir dir;
    zv::SStreamContext ctx;
    zv::ScriptedPrompt prompt;
    EXPECT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kFailed);
    return prompt.messages.empty() ? std::string() : prompt.messages.back().substr(prompt.messages.back().find('\n') + 1);
  };
  // A second entry point inside the segment.
  auto inside = Vc1Stream(s, "IPBB");
  Append(inside, Vc1EntryPoint(s));
  Append(inside, Vc1Frame(s, 'I'));
  EXPECT_EQ(message(inside), "Wrong entry point posistion! ");
  // A frame between the sequence header and its entry point.
  auto late = Vc1SequenceHeader(s);
  Append(late, Vc1Frame(s, 'I'));
  Append(late, Vc1EntryPoint(s));
  EXPECT_EQ(message(late), "Wrong entry point posistion! ");
  // Nothing after the sequence header.
  EXPECT_EQ(message(Vc1SequenceHeader(s)), "No GOP header! ");
}

// ---------------------------------------------------------------- units

TEST(Vc1Units, DisplayOrderPutsAnchorsAfterTheirBFrames) {
  using V = std::vector<int64_t>;
  EXPECT_EQ(zv::CVc1Parser::DisplayOrder({1, 2, 3, 3}), (V{1, 4, 2, 3}));
  EXPECT_EQ(zv::CVc1Parser::DisplayOrder({1, 2, 3, 3, 2, 3, 3}), (V{1, 4, 2, 3, 7, 5, 6}));
  EXPECT_EQ(zv::CVc1Parser::DisplayOrder({1, 2, 2, 2}), (V{1, 2, 3, 4}));
  // Open GOP: the B frames after the I are shown before it.
  EXPECT_EQ(zv::CVc1Parser::DisplayOrder({1, 3, 3, 2}), (V{3, 1, 2, 4}));
}

TEST(Vc1Units, FramesSegmentsAndTimes) {
  TempDir dir;
  Vc1Sequence s;
  std::vector<size_t> starts;
  // I P B B | I P BI skipped, the second segment's P frames field-coded.
  auto bytes = Vc1Stream(s, "IPBB", &starts);
  const size_t second = bytes.size();
  Append(bytes, Vc1SequenceHeader(s));
  Append(bytes, Vc1EntryPoint(s));
  Append(bytes, Vc1Frame(s, 'I', true));
  const size_t p = bytes.size();
  Append(bytes, Vc1Frame(s, 'P', true));
  const size_t bi = bytes.size();
  Append(bytes, Vc1Frame(s, 'b'));
  const size_t skip = bytes.size();
  Append(bytes, Vc1Frame(s, 'S'));
  starts.insert(starts.end(), {second, p, bi, skip});
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kOk);
  auto u = AllUnits(ctx);
  ASSERT_EQ(u.size(), 8u);
  const unsigned types[8] = {1, 2, 3, 3, 1, 2, 3, 2};
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(u[i].offset, starts[i]);
    EXPECT_EQ(u[i].size, (i + 1 < 8 ? starts[i + 1] : bytes.size()) - starts[i]);
    EXPECT_EQ(u[i].flags & 7, types[i]);
    EXPECT_EQ((u[i].flags & (zv::kAuiSequenceHeader | zv::kAuiKey)) != 0, i == 0 || i == 4);
  }
  EXPECT_EQ(u[0].flags, 1u | zv::kAuiSequenceHeader | zv::kAuiKey);
  // T = 3003.003: the first frame is shown at the start time, one frame
  // after it is decoded; the second segment follows on.
  const double t = 90.0 * 1001 / 30;
  EXPECT_EQ(u[0].pts, zv::kFirstPts);
  EXPECT_NEAR(u[0].dts, zv::kFirstPts - t, 1);
  EXPECT_NEAR(u[1].pts, zv::kFirstPts + 3 * t, 1);
  EXPECT_NEAR(u[2].pts, zv::kFirstPts + t, 1);
  EXPECT_NEAR(u[4].pts, zv::kFirstPts + 4 * t, 1);
  // Second segment I P BI skipped: shown I BI P skipped.
  EXPECT_NEAR(u[6].pts, zv::kFirstPts + 5 * t, 1);
  EXPECT_NEAR(u[5].pts, zv::kFirstPts + 6 * t, 1);
  EXPECT_NEAR(u[7].pts, zv::kFirstPts + 7 * t, 1);
  for (size_t i = 1; i < 8; ++i) EXPECT_NEAR(u[i].dts - u[i - 1].dts, t, 1) << i;

  const auto& rec = Record(ctx);
  EXPECT_EQ(rec.hrdRate, 19988480u);
  EXPECT_EQ(rec.hrdBuffer, 14999552u);
  EXPECT_EQ(ctx.header.bitRate, 19988480u);
  EXPECT_EQ(ctx.header.payloadSize, bytes.size());
  EXPECT_TRUE(rec.gops.empty());
  EXPECT_NEAR(ctx.header.auDuration, 1001.0 / 30, 1e-9);
}

TEST(Vc1Units, AStreamNotOpeningWithASequenceHeaderIsNotRecognised) {
  TempDir dir;
  std::vector<uint8_t> bytes = {0, 0, 1, 0x1F, 0x41, 0x42};  // user data first
  Append(bytes, Vc1Stream(Vc1Sequence{}, "IPBB"));
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  EXPECT_EQ(Analyse(dir, bytes, ctx, prompt), zv::kFailed);
  ASSERT_FALSE(prompt.messages.empty());
  EXPECT_EQ(prompt.messages.back(), dir / "s.vc1" + "\nUnknown file format! ");
}

TEST(Vc1Record, TrackValuesAndStoredForm) {
  TempDir dir;
  Vc1Sequence s;
  zv::SStreamContext ctx;
  zv::ScriptedPrompt prompt;
  ASSERT_EQ(Analyse(dir, Vc1Stream(s, "IPBB"), ctx, prompt), zv::kOk);
  const auto& rec = Record(ctx);
  EXPECT_EQ(rec.profile, 3);
  EXPECT_EQ(rec.level, 3);
  zv::SEsInfoFill es;
  rec.FillEsInfo(es);
  EXPECT_EQ(es.streamCodingType, 0xEA);
  ASSERT_EQ(es.descriptors.size(), 2u);
  EXPECT_EQ(es.descriptors[1].body, (std::vector<uint8_t>{'V', 'C', '-', '1', 0x01, 0x94}));
  zv::SCodingAttributes ci;
  rec.FillCodingInfo(ci);
  EXPECT_EQ(ci.streamCodingType, 0xEA);
  EXPECT_EQ(ci.videoFormat, zv::kVf1080i);
  EXPECT_EQ(ci.frameRate, zv::kFr2997);
  zv::SPacketRule rule;
  ASSERT_EQ(rec.CreatePacketRules(&rule, nullptr), 1);
  EXPECT_EQ(rule.model, zv::SPacketRule::kVc1);
  EXPECT_EQ(rule.levels, (std::vector<int>{3}));
  zv::SStreamContext again;
  ASSERT_EQ(OpenWhole(dir / "s.vc1", again), zv::kOk);
  EXPECT_TRUE(again.sif->IsEqual(rec));
}

}  // namespace

namespace {

TEST(Vc1Units, CancelDuringTheWalkLeavesNothing) {
  TempDir dir;
  Vc1Sequence s;
  auto bytes = Vc1Stream(s, "IPBB");
  Append(bytes, Vc1Frame(s, 'P', false, 6u << 20));
  Append(bytes, Vc1Frame(s, 'P'));
  WriteBytes(dir / "s.vc1", bytes);
  int values = 0;
  auto stop = [](void* c, const zv::SProgressInfo* i) {
    if (i->kind != zv::kProgressValue || i->value >= 100) return 1;
    ++*static_cast<int*>(c);
    return 0;
  };
  zv::SStreamContext ctx;
  EXPECT_EQ(OpenWhole(dir / "s.vc1", ctx, nullptr, zv::Progress{stop, &values}), zv::kCancelled);
  EXPECT_EQ(values, 1);
  EXPECT_FALSE(zv::PathExists(dir / "s.vc1.dsi"));
}

}  // namespace

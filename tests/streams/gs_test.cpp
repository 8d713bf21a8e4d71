// Graphics stream files: one unit per segment, the time shift of
// presentation graphics, interactive streams, display-set intervals and
// selection by time, and the refusals.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/gs_parser.h"
#include "streams/sif_data.h"
#include "support/test_support.h"

using namespace zvtest;

namespace {

// One segment in the ".sup" framing: magic, PTS, DTS, type, length, body.
void Segment(std::vector<uint8_t>& out, const char* magic, uint32_t pts, uint32_t dts, uint8_t type,
             const std::vector<uint8_t>& body) {
  out.push_back(static_cast<uint8_t>(magic[0]));
  out.push_back(static_cast<uint8_t>(magic[1]));
  for (uint32_t v : {pts, dts})
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
  out.push_back(type);
  out.push_back(static_cast<uint8_t>(body.size() >> 8));
  out.push_back(static_cast<uint8_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
}

// PCS body: 1920x1080, frame-rate byte 0x10 (code 1), composition number,
// state in the top two bits, no palette update, palette 0, and `objects`
// composition objects of 8 bytes each.
std::vector<uint8_t> PcsBody(uint16_t number, uint8_t state, uint8_t objects) {
  std::vector<uint8_t> b = {0x07, 0x80, 0x04, 0x38, 0x10,
                            static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number),
                            static_cast<uint8_t>(state << 6), 0x00, 0x00, objects};
  // Object i in window 0, not cropped, at (100, 900).
  for (uint8_t i = 0; i < objects; ++i)
    for (uint8_t v : {uint8_t{0x00}, i, uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x00}, uint8_t{0x64}, uint8_t{0x03},
                      uint8_t{0x84}})
      b.push_back(v);
  return b;
}

// ICS body start: 1920x1080 at code 6 with low nibble 2, composition 0,
// Epoch Start, first and last fragment, composition length, then the
// stream-model byte (top bit) and a few bytes of the rest.
std::vector<uint8_t> IcsBody(bool outOfMux) {
  return {0x07, 0x80, 0x04, 0x38, 0x62, 0x00, 0x00, 0x80, 0xC0, 0x00, 0x00, 0x05,
          static_cast<uint8_t>(outOfMux ? 0x80 : 0x00), 0x00, 0x00, 0x00, 0x00};
}

// Epoch start at 0 (shows one object), a PCS without objects at 2 s.
std::vector<uint8_t> TwoSetPg() {
  std::vector<uint8_t> s;
  Segment(s, "PG", 0, 0, 0x16, PcsBody(0, 2, 1));
  Segment(s, "PG", 0, 0, 0x17, {0x01, 0x00, 0x00, 0x64, 0x03, 0x84, 0x00, 0x10, 0x00, 0x10});
  Segment(s, "PG", 0, 0, 0x14, {0x00, 0x00, 0x01, 0x10, 0x80, 0x80, 0xFF});
  Segment(s, "PG", 0, 0, 0x15, {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x08, 0x00, 0x10, 0x00, 0x10, 0x00, 0x00});
  Segment(s, "PG", 0, 0, 0x80, {});
  Segment(s, "PG", 180000, 179000, 0x16, PcsBody(1, 0, 0));
  Segment(s, "PG", 180000, 0, 0x80, {});
  return s;
}

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

TEST(GraphicsStream, PresentationSegmentsBecomeUnitsMovedOntoTheFirstPresentationTime) {
  TempDir dir;
  const auto bytes = TwoSetPg();
  WriteBytes(dir / "subs_fra.sup", bytes);
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(dir / "subs_fra.sup", ctx), zv::kOk);
  EXPECT_EQ(ctx.header.streamCodingType, zv::kSctPg);
  EXPECT_EQ(ctx.header.auCount, 7u);
  EXPECT_EQ(ctx.header.auDuration, 0.0);
  EXPECT_EQ(ctx.header.bitRate, 0u);
  // Segment sizes from the type byte on: 3 + body length each.
  EXPECT_EQ(ctx.header.payloadSize, (3u + 19) + (3 + 10) + (3 + 7) + (3 + 13) + 3 + (3 + 11) + 3);

  auto units = AllUnits(ctx);
  ASSERT_EQ(units.size(), 7u);
  EXPECT_EQ(units[0].offset, 10u);
  EXPECT_EQ(units[0].size, 22u);
  EXPECT_EQ(units[0].flags, 0x16u | 2u << 8);  // PCS, Epoch Start, shows objects
  EXPECT_EQ(units[0].pts, 131070u);
  EXPECT_EQ(units[0].dts, 0u);  // no DTS stays none
  EXPECT_EQ(units[1].offset, 10u + 22 + 10);
  EXPECT_EQ(units[1].flags, 0x17u);
  EXPECT_EQ(units[2].flags, 0x14u);
  EXPECT_EQ(units[3].flags, 0x15u);
  EXPECT_EQ(units[4].flags, 0x80u);
  EXPECT_EQ(units[5].flags, 0x16u | zv::kGsEmptyComposition);  // Normal state, no objects
  EXPECT_EQ(units[5].pts, 180000u + 131070);
  EXPECT_EQ(units[5].dts, 179000u + 131070);
  EXPECT_EQ(units[6].pictureTiming, 0u);

  auto* rec = dynamic_cast<zv::SGsSif*>(ctx.sif.get());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->width, 1920);
  EXPECT_EQ(rec->height, 1080);
  EXPECT_EQ(rec->frameRate, 1);
  EXPECT_TRUE(rec->IsMultiplexedGraphics());
  zv::SPacketRule r1, r2;
  EXPECT_EQ(rec->CreatePacketRules(&r1, &r2), 1);
  EXPECT_EQ(r1.model, zv::SPacketRule::kPg);

  // Every served unit is the segment from its type byte on.
  size_t served = 0;
  while (const zv::AUI* au = zv::NextAu(ctx)) {
    ASSERT_EQ(0, std::memcmp(ctx.unitBytes, bytes.data() + au->offset, au->size));
    EXPECT_EQ(ctx.unitBytes[0], au->flags & 0xFF);
    ++served;
  }
  EXPECT_EQ(served, 7u);

  // The stored record: version, type, model, width, height, frame rate.
  auto dsi = ReadBytes(dir / "subs_fra.sup.dsi");
  // then the unit table and the check trailer.
  ASSERT_EQ(dsi.size(), 57u + 11 + 7 * 28 + zv::SSifTrailer::kSize);
  EXPECT_EQ(dsi[37], 68);  // table position
  const std::vector<uint8_t> stored(dsi.begin() + 57, dsi.begin() + 68);
  EXPECT_EQ(stored, (std::vector<uint8_t>{0, 0, 0, 0, 0x90, 0, 0x80, 0x07, 0x38, 0x04, 1}));
}

TEST(GraphicsStream, InteractiveStreamKeepsItsTimesFromTheFirstIcsAndReportsItsModel) {
  TempDir dir;
  for (bool outOfMux : {false, true}) {
    std::vector<uint8_t> s;
    Segment(s, "ig", 4500, 0, 0x14, {0x00, 0x00, 0x01, 0x10, 0x80, 0x80, 0xFF});  // before the ICS: moved
    Segment(s, "ig", 0, 0, 0x18, IcsBody(outOfMux));
    Segment(s, "ig", 9000, 4500, 0x15, {0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x04, 0x00, 0x01, 0x00, 0x01});
    Segment(s, "ig", 9000, 0, 0x80, {});
    const std::string path = dir / (outOfMux ? "menu_b.ig" : "menu_a.ig");
    WriteBytes(path, s);
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(path, ctx), zv::kOk);
    EXPECT_EQ(ctx.header.streamCodingType, zv::kSctIg);
    auto units = AllUnits(ctx);
    ASSERT_EQ(units.size(), 4u);
    EXPECT_EQ(units[0].pts, 4500u + 131070);
    EXPECT_EQ(units[1].pts, 0u);
    EXPECT_EQ(units[1].flags, 0x18u | 2u << 8);
    EXPECT_EQ(units[2].pts, 9000u);
    EXPECT_EQ(units[2].dts, 4500u);
    auto* rec = dynamic_cast<zv::SGsSif*>(ctx.sif.get());
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->type, zv::kSctIg);
    EXPECT_EQ(rec->streamModel, outOfMux ? 1 : 0);
    EXPECT_EQ(rec->IsMultiplexedGraphics(), !outOfMux);
    EXPECT_EQ(rec->frameRate, 6);
    zv::SPacketRule r1, r2;
    rec->CreatePacketRules(&r1, &r2);
    EXPECT_EQ(r1.model, zv::SPacketRule::kIg);
    // Analysed again from the stored file, the record reads back the same.
    zv::SStreamContext again;
    ASSERT_EQ(OpenWhole(path, again), zv::kOk);
    EXPECT_TRUE(again.sif->IsEqual(*rec));
  }
}

TEST(GraphicsStream, IntervalsOpenAtShowingCompositionsAndCloseAtEmptyOnes) {
  using U = zv::SGsUnitTime;
  const uint32_t empty = 0x16 | zv::kGsEmptyComposition;
  // Sets at 1000 (ended by an empty PCS at 1500), 2000 (closed by the next
  // showing one at 3000), 3000 (an empty PCS at 3500 is replaced by the
  // last unit's DTS 3600).
  const std::vector<U> units = {{0x16, 1000}, {0x15, 900},  {0x80, 0},   {empty, 1500}, {0x80, 0},
                                {0x16, 2000}, {0x80, 0},    {0x16, 3000}, {0x15, 2900}, {empty, 3500},
                                {0x80, 3600}};
  auto sets = zv::DisplaySetIntervals(units);
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[0].firstUnit, 0);
  EXPECT_EQ(sets[0].lastUnit, 4);
  EXPECT_EQ(sets[0].start, 1000);
  EXPECT_EQ(sets[0].end, 1500);
  EXPECT_EQ(sets[1].firstUnit, 5);
  EXPECT_EQ(sets[1].lastUnit, 6);
  EXPECT_EQ(sets[1].end, 3000);
  EXPECT_EQ(sets[2].firstUnit, 7);
  EXPECT_EQ(sets[2].lastUnit, 10);
  EXPECT_EQ(sets[2].end, 3600);

  const int64_t n = static_cast<int64_t>(units.size());
  int64_t first = -1, last = -1;
  // In at a start, out inside the second set.
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 1000, 2500, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 6);
  // In between sets takes the next; out at the end of a set takes that set.
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 1001, 3600, first, last));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(last, 10);
  // Out at a set's start ends with the set before.
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 0, 3000, first, last));
  EXPECT_EQ(first, 0);
  EXPECT_EQ(last, 6);
  // Out between an empty composition and the next set: the set it ended.
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 0, 1700, first, last));
  EXPECT_EQ(last, 4);
  // Out past the last set runs to the last unit; no out point likewise.
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 2000, 99999, first, last));
  EXPECT_EQ(first, 5);
  EXPECT_EQ(last, 10);
  ASSERT_TRUE(zv::SelectDisplaySets(sets, n, 2000, 0, first, last));
  EXPECT_EQ(last, 10);
  // Nothing: in after the last start, or out before the first chosen set.
  EXPECT_FALSE(zv::SelectDisplaySets(sets, n, 3001, 99999, first, last));
  EXPECT_FALSE(zv::SelectDisplaySets(sets, n, 2000, 2000, first, last));
  EXPECT_TRUE(zv::DisplaySetIntervals({{0x15, 0}, {0x80, 0}}).empty());
}

TEST(GraphicsStream, OpeningWithInAndOutCutsByDisplaySet) {
  TempDir dir;
  std::vector<uint8_t> s;
  for (uint32_t i = 0; i < 3; ++i) {
    Segment(s, "PG", i * 90000, i * 90000, 0x16, PcsBody(static_cast<uint16_t>(i), i == 0 ? 2 : 1, 1));
    Segment(s, "PG", i * 90000, 0, 0x80, {});
  }
  WriteBytes(dir / "cut.sup", s);
  // Sets start (by DTS) at 0, 221070 and 311070; 2 s to 3 s is the second.
  zv::SStreamContext ctx;
  zv::SSourceParams src;
  src.path = dir / "cut.sup";
  src.timeMode = 1;
  src.in = 2000;
  src.out = 3000;
  src.graphicsOffset = 500;
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.first, 2);
  EXPECT_EQ(ctx.last, 3);
  EXPECT_EQ(ctx.timeOffset, 500);
  // A range after the last display set selects nothing.
  src.in = 4000;
  src.out = 0;
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  EXPECT_EQ(ctx.SelectedCount(), 0);
  EXPECT_FALSE(zv::NextAu(ctx));
}

TEST(GraphicsStream, BrokenFilesAreRefusedAndLeaveNoStreamInformation) {
  TempDir dir;
  const auto good = TwoSetPg();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* message;
  };
  std::vector<Case> cases;
  auto tail = [&](std::vector<uint8_t> extra) {
    auto b = good;
    b.insert(b.end(), extra.begin(), extra.end());
    return b;
  };
  cases.push_back({"half_magic.sup", tail({'P'}), "Syntax illegal! "});
  cases.push_back({"short_header.sup", tail({'P', 'G', 0, 0, 0, 0, 0}), "Syntax illegal! "});
  auto past = good;
  past[11] = 0x00;
  past[12] = 0xFF;  // the first PCS claims 255 bytes
  cases.push_back({"past_end.sup", past, "Syntax illegal! "});
  auto wrong = good;
  wrong[32] = 'X';  // second segment's magic
  cases.push_back({"wrong_magic.sup", wrong, "Unknown file format! "});
  cases.push_back({"not_graphics.sup", {'M', 'Z', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Unknown file format! "});
  auto shortPcs = std::vector<uint8_t>{};
  Segment(shortPcs, "PG", 0, 0, 0x16, {0x07, 0x80, 0x04, 0x38, 0x10, 0, 0, 0x80});
  cases.push_back({"short_pcs.sup", shortPcs, "Syntax illegal! "});
  auto unknown = std::vector<uint8_t>{};
  Segment(unknown, "PG", 0, 0, 0x33, {0x00});
  cases.push_back({"unknown_type.sup", unknown, "Syntax illegal! "});
  for (const Case& c : cases) {
    const std::string path = dir / c.name;
    WriteBytes(path, c.bytes);
    EXPECT_EQ(RefusedWith(path), c.message) << c.name;
  }
}

}  // namespace

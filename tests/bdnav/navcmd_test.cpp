#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "bdnav/navcmd.h"
#include "platform/archive_io.h"
#include "platform/bytes.h"

using namespace zv;

namespace {

using Bytes12 = std::vector<uint8_t>;

Bytes12 Assemble(const std::string& text) {
  CNavCmd c;
  EXPECT_TRUE(ParseCommandText(text, c)) << text;
  return Bytes12(c.bytes.begin(), c.bytes.end());
}

Bytes12 Of(const CNavCmd& c) { return Bytes12(c.bytes.begin(), c.bytes.end()); }

// Canonical text of every command form.
const char* const kForms[] = {
    "Nop", "GoTo 6", "GoTo GPR3", "Break", "JumpObject 2", "JumpTitle 0", "JumpTitle GPR5", "CallObject PSR4",
    "CallTitle 3", "Resume", "PlayPlaylist 0", "PlayPlaylistAtPlayItem 1 GPR2023", "PlayPlaylistAtMark 3 GPR2024",
    "PlayPlaylistAtMark GPR1 4", "TerminatePlaylist", "LinkPlayItem 2", "LinkMark 5", "If GPR2011 == 0",
    "If GPR2020 != 1", "If PSR5 >= 3", "If GPR1 > GPR2", "If GPR1 <= 7", "If GPR2011 < 2147483648",
    "If GPR1 & 4", "Set GPR2020 = 0", "Set GPR2010 = PSR1", "Set GPR1 Swap GPR2", "Set GPR1 + 1",
    "Set GPR1 - GPR4", "Set GPR1 x 3", "Set GPR1 / 2", "Set GPR1 % 2", "Set GPR1 Random 10",
    "Set GPR2011 & 2147487743", "Set GPR1 | 8", "Set GPR1 Xor 8", "Set GPR1 BitSet 3", "Set GPR1 BitClear 3",
    "Set GPR1 << 2", "Set GPR1 >> 2", "SetStream GPR2010 GPR2011 1 X X", "SetStream GPR2010 X 0 X X",
    "SetStream 1 2 1 X X", "SetStream X 3 0 X X", "SetStream X X 0 2 7", "SetStream X X 1 GPR4 GPR5",
    "SetStream 1 X 0 X 5", "SetStream X X 0 X X", "SetNVTimer 3 60", "SetNVTimer GPR1 GPR2",
    "SetButtonPage 5 2 1", "SetButtonPage 5 2 0", "SetButtonPage 0 X 1", "SetButtonPage X 3 1",
    "SetButtonPage X X 1", "SetButtonPage GPR7 GPR8 1", "EnableButton 3", "DisableButton GPR9",
    "PopUpMenuOff", "StillOn", "StillOff",
};

}  // namespace

// Encodings worked out by hand from the field layout of the 12-byte command.
TEST(NavCmd, HandComputedEncodings) {
  const std::vector<std::pair<std::string, Bytes12>> cases = {
      {"JumpTitle 0", {0x21, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"GoTo 6", {0x20, 0x81, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0}},
      {"Break", {0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"Nop", Bytes12(12, 0)},
      {"If GPR2020 == 1", {0x48, 0x40, 0x02, 0, 0, 0, 0x07, 0xE4, 0, 0, 0, 1}},
      {"Set GPR2020 = 0", {0x50, 0x40, 0, 0x01, 0, 0, 0x07, 0xE4, 0, 0, 0, 0}},
      {"PlayPlaylistAtMark 3 GPR2024", {0x42, 0x82, 0, 0, 0, 0, 0, 3, 0, 0, 0x07, 0xE8}},
      {"SetStream GPR2010 GPR2011 1 X X", {0x51, 0, 0, 0x01, 0x87, 0xDA, 0xC7, 0xDB, 0, 0, 0, 0}},
      {"SetStream GPR2010 X 0 X X", {0x51, 0, 0, 0x01, 0x87, 0xDA, 0, 0, 0, 0, 0, 0}},
      // JumpTitle / CallTitle clamp immediates to 16 bits.
      {"CallTitle 70000", {0x21, 0x83, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0}},
      // PSR source: 0x80000000 + n.
      {"Set GPR2010 = PSR1", {0x50, 0x00, 0, 0x01, 0, 0, 0x07, 0xDA, 0x80, 0, 0, 1}},
      // Numbers above 2^31 are kept as unsigned 32-bit values.
      {"Set GPR2011 & 2147487743", {0x50, 0x40, 0, 0x09, 0, 0, 0x07, 0xDB, 0x80, 0, 0x0F, 0xFF}},
      {"If GPR2011 < 2147483648", {0x48, 0x40, 0x07, 0, 0, 0, 0x07, 0xDB, 0x80, 0, 0, 0}},
      {"Set GPR1 Swap GPR2", {0x50, 0x00, 0, 0x02, 0, 0, 0, 1, 0, 0, 0, 2}},
      {"Set GPR3 = -1", {0x50, 0x40, 0, 0x01, 0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"Resume", {0x01, 0x04, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"TerminatePlaylist", {0x02, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"LinkMark 4", {0x22, 0x85, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0}},
      {"LinkMark GPR2024", {0x22, 0x05, 0, 0, 0, 0, 0x07, 0xE8, 0, 0, 0, 0}},
      {"EnableButton 3", {0x31, 0x80, 0, 0x04, 0, 0, 0, 3, 0, 0, 0, 0}},
      {"PopUpMenuOff", {0x11, 0x00, 0, 0x07, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"SetNVTimer 3 60", {0x51, 0xC0, 0, 0x02, 0, 0, 0, 3, 0, 0, 0, 60}},
      // Button 5 (dst, bit 0x80 of byte 4), page 2 (src, bit 0x80 of byte 8),
      // out-effect flag 0x40 of byte 8; both immediate.
      {"SetButtonPage 5 2 1", {0x51, 0xC0, 0, 0x03, 0x80, 0, 0, 5, 0xC0, 0, 0, 2}},
      {"SetButtonPage 5 2 0", {0x51, 0xC0, 0, 0x03, 0x80, 0, 0, 5, 0x80, 0, 0, 2}},
      {"SetButtonPage 0 X 1", {0x51, 0xC0, 0, 0x03, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"SetButtonPage GPR7 GPR8 1", {0x51, 0x00, 0, 0x03, 0x80, 0, 0, 7, 0xC0, 0, 0, 8}},
      // Immediate audio 1 and subtitle 2 shown: destination immediate.
      {"SetStream 1 2 1 X X", {0x51, 0x80, 0, 0x01, 0x80, 0x01, 0xC0, 0x02, 0, 0, 0, 0}},
      // Angle 3 and IG 4: source immediate; the IG stream in bytes 8-9 and
      // the angle in bytes 10-11, where players read them.
      {"SetStream X X 0 3 4", {0x51, 0x40, 0, 0x01, 0, 0, 0, 0, 0x80, 0x04, 0x80, 0x03}},
      {"SetStream X X 0 GPR5 GPR6", {0x51, 0x00, 0, 0x01, 0, 0, 0, 0, 0x80, 0x06, 0x80, 0x05}},
      // Immediate audio and IG with the angle unchanged: both flags set, so the
      // IG number is not taken for a register.
      {"SetStream 1 X 0 X 5", {0x51, 0xC0, 0, 0x01, 0x80, 0x01, 0, 0, 0x80, 0x05, 0, 0}},
  };
  for (const auto& [text, bytes] : cases) EXPECT_EQ(Assemble(text), bytes) << text;
}

TEST(NavCmd, KeywordsOperatorsAndRegistersAreCaseInsensitive) {
  EXPECT_EQ(Assemble("jumptitle 2"), Assemble("JumpTitle 2"));
  EXPECT_EQ(Assemble("SET gpr1 XOR psr3"), Assemble("Set GPR1 Xor PSR3"));
  EXPECT_EQ(Assemble("Set GPR1 X 4"), Assemble("Set GPR1 x 4"));  // "x" is multiply
  EXPECT_EQ(Assemble("  If\tGPR1   >=  2 "), Assemble("If GPR1 >= 2"));
}

// Every keyword of the table, with the first byte and option byte it must set.
TEST(NavCmd, EveryKeywordAssembles) {
  struct Case {
    int keyword;
    const char* text;
    uint8_t byte0, optionByte, option;
  };
  const Case cases[] = {
      {kNavNop, "Nop", 0x00, 1, 0},
      {kNavGoTo, "GoTo 1", 0x20, 1, 0x81},
      {kNavBreak, "Break", 0x00, 1, 0x02},
      {kNavJumpObject, "JumpObject 1", 0x21, 1, 0x80},
      {kNavJumpTitle, "JumpTitle 1", 0x21, 1, 0x81},
      {kNavCallObject, "CallObject 1", 0x21, 1, 0x82},
      {kNavCallTitle, "CallTitle 1", 0x21, 1, 0x83},
      {kNavResume, "Resume", 0x01, 1, 0x04},
      {kNavPlayPlaylist, "PlayPlaylist 1", 0x22, 1, 0x80},
      {kNavPlayPlaylistAtPlayItem, "PlayPlaylistAtPlayItem 1 2", 0x42, 1, 0xC1},
      {kNavPlayPlaylistAtMark, "PlayPlaylistAtMark 1 2", 0x42, 1, 0xC2},
      {kNavTerminatePlaylist, "TerminatePlaylist", 0x02, 1, 0x03},
      {kNavLinkPlayItem, "LinkPlayItem 1", 0x22, 1, 0x84},
      {kNavLinkMark, "LinkMark 1", 0x22, 1, 0x85},
      {kNavIf, "If GPR1 == 1", 0x48, 2, 0x02},
      {kNavSet, "Set GPR1 = 1", 0x50, 3, 0x01},
      {kNavSetStream, "SetStream 1 X 0 X X", 0x51, 3, 0x01},
      {kNavSetNVTimer, "SetNVTimer 1 2", 0x51, 3, 0x02},
      {kNavSetButtonPage, "SetButtonPage 1 1 1", 0x51, 3, 0x03},
      {kNavEnableButton, "EnableButton 1", 0x31, 3, 0x04},
      {kNavDisableButton, "DisableButton 1", 0x31, 3, 0x05},
      {kNavPopUpMenuOff, "PopUpMenuOff", 0x11, 3, 0x07},
      {kNavStillOn, "StillOn", 0x11, 3, 0x08},
      {kNavStillOff, "StillOff", 0x11, 3, 0x09},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    EXPECT_EQ(text.substr(0, text.find(' ')), NavKeywordText(c.keyword));
    Bytes12 b = Assemble(c.text);
    EXPECT_EQ(b[0], c.byte0);
    EXPECT_EQ(b[c.optionByte], c.option);
  }
  EXPECT_STREQ(NavKeywordText(kNavSetSecondaryStream), "SetSecondaryStream");
  EXPECT_EQ(NavKeywordText(kNavKeywordCount), nullptr);
}

TEST(NavCmd, EveryComparisonAndOperation) {
  const char* cmps[] = {"&", "==", "!=", ">=", ">", "<=", "<"};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(Assemble(std::string("If GPR1 ") + cmps[i] + " 2")[2], i + 1) << cmps[i];
  const char* ops[] = {"=", "Swap", "+", "-", "x", "/", "%", "Random", "&", "|", "Xor", "BitSet", "BitClear", "<<", ">>"};
  for (int i = 0; i < 15; ++i) {
    std::string src = i == 1 ? "GPR2" : "2";  // Swap takes a register
    EXPECT_EQ(Assemble(std::string("Set GPR1 ") + ops[i] + " " + src)[3], i + 1) << ops[i];
  }
}

TEST(NavCmd, RejectsMalformedText) {
  const char* bad[] = {
      "",
      "   ",
      "Frobnicate 1",
      "JumpTitle",                        // missing operand
      "JumpTitle 1 2",                    // extra operand
      "Nop 1",
      "JumpTitle GPR4096",                // register out of range
      "JumpTitle PSR128",
      "JumpTitle GPR",
      "JumpTitle 0x10",                   // hex immediates are not accepted
      "JumpTitle 0X10",
      "JumpTitle abc",                    // not a number
      "JumpTitle 12abc",
      "JumpTitle 4294967296",             // does not fit 32 bits
      "JumpTitle -2147483649",
      "PlayPlaylistAtMark 3",
      "If GPR1 =< 2",                     // unknown comparison
      "If GPR1 ==",
      "Set PSR1 = 1",                     // destination must be a GPR
      "Set 5 = 1",
      "Set GPR1 ** 2",                    // unknown operation
      "Set GPR1 Swap 3",                  // swap needs two registers
      "Set GPR1 Swap PSR3",
      "SetStream GPR2010 GPR2011 1",      // three fields
      "SetStream GPR2010 GPR2011 1 X X X",
      "SetStream PSR1 X 0 X X",           // no PSR in SetStream
      "SetStream GPR1 2 1 X X",           // subtitle kind differs from audio
      "SetStream 1 GPR2 1 X X",
      "SetStream X X 0 3 GPR4",           // IG kind differs from angle
      "SetStream 1 X 0 X GPR4",           // IG kind differs from audio
      "SetStream GPR1 X X X X",           // display flag must be a number
      "SetStream GPR1 X GPR2 X X",
      "SetStream 256 X 0 X X",            // immediate audio is one byte
      "SetStream X 4096 0 X X",           // immediate subtitle is 12 bits
      "SetNVTimer PSR1 3",
      "SetNVTimer 1 PSR3",
      "SetNVTimer 1",
      "SetButtonPage",
      "SetButtonPage 5",
      "SetButtonPage 5 2",                // flag missing when a page is given
      "SetButtonPage 5 X Y",
      "SetButtonPage PSR1 X 1",
      "SetButtonPage 1 256 1",            // immediate page is one byte
      "SetButtonPage 65536 1 1",
      "SetSecondaryStream 1 X 0 X",       // recognised but has no encoding
      "EnableButton",
  };
  for (const char* t : bad) {
    CNavCmd c;
    EXPECT_FALSE(ParseCommandText(t, c)) << '"' << t << '"';
  }
}

TEST(NavCmd, LineLengthLimit) {
  CNavCmd c;
  std::string ok = "Nop" + std::string(kMaxCommandText - 3, ' ');
  EXPECT_TRUE(ParseCommandText(ok, c));
  EXPECT_FALSE(ParseCommandText(ok + " ", c));
}

// Canonical text of every command form survives assemble and disassemble.
TEST(NavCmd, DisassemblyGivesBackTheText) {

  for (const char* t : kForms) {
    CNavCmd c;
    ASSERT_TRUE(ParseCommandText(t, c)) << t;
    EXPECT_EQ(CommandText(c), t);
  }
}

// Valid commands with a few bits flipped: the disassembly either gives back
// exactly those bytes or is marked raw with the bytes spelled out.
TEST(NavCmd, DisassemblyOfDamagedCommandsIsExactOrRaw) {
  std::mt19937 rng(12345);
  int exact = 0, raw = 0;
  for (int i = 0; i < 20000; ++i) {
    CNavCmd c;
    ASSERT_TRUE(ParseCommandText(kForms[rng() % std::size(kForms)], c));
    for (unsigned flips = rng() % 3; flips > 0; --flips) c.bytes[rng() % 12] ^= static_cast<uint8_t>(1u << (rng() % 8));
    std::string text = CommandText(c);
    if (text.rfind("raw ", 0) == 0) {
      char hex[40];
      std::snprintf(hex, sizeof hex, "raw %02X %02X %02X %02X", c.bytes[0], c.bytes[1], c.bytes[2], c.bytes[3]);
      EXPECT_EQ(text.substr(0, 15), hex);
      ++raw;
      continue;
    }
    CNavCmd again;
    ASSERT_TRUE(ParseCommandText(text, again)) << text;
    ASSERT_EQ(Of(again), Of(c)) << text;
    ++exact;
  }
  // Both outcomes are reached, so neither branch is checked vacuously.
  EXPECT_GT(exact, 1000);
  EXPECT_GT(raw, 1000);
}

TEST(NavCmd, ForeignCommandsShowTheirBytes) {
  CNavCmd c;
  c.bytes = {0x21, 0x81, 0, 0, 0, 0, 0, 1, 0, 0, 0, 9};  // JumpTitle with a stray source
  EXPECT_EQ(CommandText(c), "raw 21 81 00 00 00 00 00 01 00 00 00 09 (JumpTitle 1)");
  c.bytes = {0x78, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // group 3 does not exist
  EXPECT_EQ(CommandText(c), "raw 78 00 00 00 00 00 00 00 00 00 00 00");
}

TEST(NavCmd, Builders) {
  CNavCmd c;
  ASSERT_TRUE(MakeBranch(c, kNavJumpTitle, 0));
  EXPECT_EQ(CommandText(c), "JumpTitle 0");
  ASSERT_TRUE(MakeKeyword(c, kNavBreak));
  EXPECT_EQ(CommandText(c), "Break");
  ASSERT_TRUE(MakeBranchWithRegister(c, kNavPlayPlaylistAtMark, 3, 2024));
  EXPECT_EQ(Of(c), (Bytes12{0x42, 0x82, 0, 0, 0, 0, 0, 3, 0, 0, 0x07, 0xE8}));
  ASSERT_TRUE(MakeIf(c, kCmpEq, 2020, 1));
  EXPECT_EQ(Of(c), (Bytes12{0x48, 0x40, 0x02, 0, 0, 0, 0x07, 0xE4, 0, 0, 0, 1}));
  ASSERT_TRUE(MakeIf(c, kCmpGe, 2011, 2147483648LL));
  EXPECT_EQ(CommandText(c), "If GPR2011 >= 2147483648");
  ASSERT_TRUE(MakeSet(0, c, kOpMove, 2020, 0));
  EXPECT_EQ(CommandText(c), "Set GPR2020 = 0");
  ASSERT_TRUE(MakeSet(0, c, kOpAnd, 2011, 2147487743LL));
  EXPECT_EQ(CommandText(c), "Set GPR2011 & 2147487743");
  ASSERT_TRUE(MakeSet(1, c, kOpSwap, 1, 2));
  EXPECT_EQ(CommandText(c), "Set GPR1 Swap GPR2");
  ASSERT_TRUE(MakeSet(2, c, kOpMove, 2010, 1));
  EXPECT_EQ(CommandText(c), "Set GPR2010 = PSR1");
  ASSERT_TRUE(MakeSetStream(2011, c, true));
  EXPECT_EQ(Of(c), (Bytes12{0x51, 0, 0, 0x01, 0x87, 0xDA, 0xC7, 0xDB, 0, 0, 0, 0}));
  ASSERT_TRUE(MakeSetStream(-1, c, false));
  EXPECT_EQ(Of(c), (Bytes12{0x51, 0, 0, 0x01, 0x87, 0xDA, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(MakeSetButtonPage(2, 5, c));
  EXPECT_EQ(CommandText(c), "SetButtonPage 5 2 1");
  ASSERT_TRUE(MakeSetButtonPage(-1, 0, c));
  EXPECT_EQ(CommandText(c), "SetButtonPage 0 X 1");

  EXPECT_FALSE(MakeKeyword(c, kNavJumpTitle));  // needs an operand
  EXPECT_FALSE(MakeKeyword(c, kNavKeywordCount));
  EXPECT_FALSE(MakeIf(c, 0, 1, 1));
  EXPECT_FALSE(MakeIf(c, kNavCompareCount, 1, 1));
  EXPECT_FALSE(MakeSet(3, c, kOpMove, 1, 1));
  EXPECT_FALSE(MakeSet(0, c, kOpSwap, 1, 1));
  EXPECT_FALSE(MakeSet(0, c, kOpMove, 4096, 1));
  EXPECT_EQ(Of(c), Bytes12(12, 0));
}

TEST(NavCmds, BufferTransfer) {
  CNavCmds list;
  ASSERT_TRUE(list.Add("JumpTitle 1"));
  ASSERT_TRUE(list.Add("Break"));
  EXPECT_FALSE(list.Add("Bogus"));
  ASSERT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.Write(nullptr, 0), 24u);
  std::vector<uint8_t> buf(24, 0xEE);
  ASSERT_EQ(list.Write(buf.data(), buf.size()), 24u);
  EXPECT_EQ(buf, (std::vector<uint8_t>{0x21, 0x81, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0,  //
                                       0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_THROW(list.Write(buf.data(), 23), std::out_of_range);

  CNavCmds back;
  EXPECT_EQ(back.Read(buf.data(), buf.size(), 2), 24u);
  EXPECT_EQ(back, list);
  EXPECT_EQ(back.Read(buf.data(), buf.size(), 1), 12u);
  EXPECT_EQ(back.Count(), 1u);
  EXPECT_THROW(back.Read(buf.data(), 23, 2), FormatError);
  EXPECT_THROW(back.Read(buf.data(), buf.size(), SIZE_MAX / 2), FormatError);
}

TEST(NavCmds, ArchiveRecords) {
  CNavCmds list;
  ASSERT_TRUE(list.Add("GoTo 6"));
  ArchiveOut out;
  list.StoreRecords(out);
  const std::vector<uint8_t> expect = {
      1, 0, 0, 0,  // count, little-endian
      0, 0, 0, 0,  // 32-bit word before each command
      0x20, 0x81, 0, 0, 0, 0, 0, 6, 0, 0, 0, 0,
  };
  EXPECT_EQ(out.Bytes(), expect);

  std::vector<uint8_t> stored = expect;
  stored[4] = 0x55;  // the leading word is skipped on load, whatever it holds
  CNavCmds back;
  ArchiveIn in(stored);
  back.LoadRecords(in);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_EQ(back, list);

  std::vector<uint8_t> shortArchive(expect.begin(), expect.end() - 1);
  ArchiveIn in2(shortArchive);
  EXPECT_THROW(back.LoadRecords(in2), ArchiveError);
  const std::vector<uint8_t> hugeCount = {0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0};
  ArchiveIn in3(hugeCount);
  EXPECT_THROW(back.LoadRecords(in3), ArchiveError);
}

#include <gtest/gtest.h>

#include "platform/archive_io.h"

using namespace zv;

TEST(ArchiveIo, StringLengthPrefixesAtTheirBoundaries) {
  struct Case {
    size_t len;
    std::vector<uint8_t> prefix;
  } cases[] = {
      {0, {0x00}},
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {65533, {0xFF, 0xFD, 0xFF}},
      {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    ArchiveOut out;
    std::string s(c.len, 'x');
    out.String(s);
    ASSERT_EQ(out.Bytes().size(), c.prefix.size() + c.len) << c.len;
    EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), out.Bytes().begin())) << c.len;
    ArchiveIn in(out.Bytes());
    EXPECT_EQ(in.String(), s);
    EXPECT_TRUE(in.AtEnd());
  }
}

TEST(ArchiveIo, LittleEndianValuesAndTruncation) {
  ArchiveOut out;
  out.U16(0x1234);
  out.I32(-2);
  EXPECT_EQ(out.Bytes(), (std::vector<uint8_t>{0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}));
  ArchiveIn in(out.Bytes());
  EXPECT_EQ(in.U16(), 0x1234);
  EXPECT_EQ(in.I32(), -2);
  EXPECT_THROW(in.U8(), ArchiveError);
  std::vector<uint8_t> shortString{0x05, 'a', 'b'};
  ArchiveIn in2(shortString);
  EXPECT_THROW(in2.String(), ArchiveError);
}

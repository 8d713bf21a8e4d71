#include <gtest/gtest.h>

#include "platform/bytes.h"

using namespace zv;

TEST(BeWriter, MeasureEqualsWriteAndFieldsAreBigEndian) {
  auto body = [](BeWriter& w) {
    w.U8(0x12);
    w.U16(0x3456);
    w.U24(0x789ABC);
    w.U32(0xDEADBEEF);
    w.Bits(3, 5);
    w.Bits(5, 1);
    w.Zeros(2);
  };
  BeWriter m;
  body(m);
  std::vector<uint8_t> buf(m.Size(), 0xEE);
  BeWriter w(buf);
  body(w);
  EXPECT_EQ(w.Size(), m.Size());
  EXPECT_EQ(buf, (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xAD, 0xBE, 0xEF, 0xA1, 0, 0}));
}

TEST(BeWriter, RejectsValuesWiderThanTheirFieldAndOverflow) {
  BeWriter m;
  EXPECT_THROW(m.U8(256), std::out_of_range);
  EXPECT_THROW(m.Bits(4, 16), std::out_of_range);
  uint8_t b[2];
  BeWriter w(b, 2);
  EXPECT_THROW(w.U24(1), std::out_of_range);
}

TEST(BeReader, ReadsFieldsAndFailsPastTheEnd) {
  std::vector<uint8_t> v{0x12, 0x34, 0x56, 0xA1};
  BeReader r(v);
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.U8(), 0x56);
  EXPECT_EQ(r.Bits(3), 5u);
  EXPECT_EQ(r.Bits(5), 1u);
  EXPECT_THROW(r.U8(), FormatError);
  BeReader r2(v);
  EXPECT_THROW(r2.Sub(5), FormatError);
  BeReader sub = r2.Sub(2);
  EXPECT_EQ(sub.U16(), 0x1234);
  EXPECT_THROW(sub.U8(), FormatError);
  EXPECT_EQ(r2.U8(), 0x56);
}

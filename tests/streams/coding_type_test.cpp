// The one stream-kind classification every layer uses.
#include <gtest/gtest.h>

#include "streams/coding_type.h"

using namespace zv;

TEST(CodingType, EveryCodeHasOneKindAndNamedCodesHaveNames) {
  for (int t = 0; t < 256; ++t) {
    const auto c = static_cast<uint8_t>(t);
    StreamKind want = StreamKind::kOther;
    if (c == 0x02 || c == 0x1B || c == 0x20 || c == 0xEA) want = StreamKind::kVideo;
    if ((c >= 0x80 && c <= 0x86) || c == 0xA1 || c == 0xA2) want = StreamKind::kAudio;
    if (c == 0x90) want = StreamKind::kPg;
    if (c == 0x91) want = StreamKind::kIg;
    if (c == 0x92) want = StreamKind::kTextSt;
    EXPECT_EQ(StreamKindOf(c), want) << t;
    EXPECT_EQ(GetStreamTypeName(c) != nullptr, want != StreamKind::kOther) << t;
    EXPECT_EQ(IsVideoType(c), want == StreamKind::kVideo) << t;
    EXPECT_EQ(IsGraphicsType(c), want == StreamKind::kPg || want == StreamKind::kIg) << t;
  }
}

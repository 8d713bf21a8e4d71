#include "records/syntax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zv {
namespace {

// A small record with every kind of field the syntax walk knows.
struct Inner {
  uint8_t kind = 0;
  uint16_t pid = 0;
};

template <class IO>
void Syntax(IO& io, Inner& r) {
  io.U8("Kind", r.kind, rec::Hex{2});
  io.U16("Pid", r.pid, rec::Hex{4});
}

enum class Mode : uint8_t { kOff = 0, kOn = 3 };

struct Outer {
  std::string name = "ABCD";
  bool flag = false;
  Mode mode = Mode::kOff;
  uint32_t time = 0;     // 24 bits
  uint64_t big = 0;
  std::vector<Inner> items;
  std::vector<uint8_t> blob;
  std::vector<uint8_t> tail;  // the rest of the second body
};

const char* ModeName(uint64_t v) { return v == 3 ? "On" : "Off"; }

template <class IO>
void Syntax(IO& io, Outer& r) {
  io.Text(4, "Name", r.name);
  auto body = io.Address(32, "BodyStartAddress");
  io.Reserved(3);
  io.Bits(1, "Flag", r.flag);
  io.Bits(2, "Mode", r.mode, rec::Named{ModeName});
  io.Reserved(2);
  io.U24("Time", r.time);
  io.At(body, "Body");
  io.Section("Body", [&] {
    auto len = io.Length(16, "Length");
    io.U64("Big", r.big);
    io.Records(8, "NumberOfItems", "Item", r.items);
    len.End();
  });
  auto len2 = io.Length(8, "Length2");
  io.Raw(2, "Blob", r.blob);
  io.Rest("Tail", r.tail);
  len2.End();
}

Outer Sample() {
  Outer o;
  o.flag = true;
  o.mode = Mode::kOn;
  o.time = 0x123456;
  o.big = 0x0102030405060708ull;
  o.items = {{0x1B, 0x1011}, {0x81, 0x1100}};
  o.blob = {0xAA, 0xBB};
  o.tail = {0xCC};
  return o;
}

// Hand-computed bytes of Sample(), one line per field.
const std::vector<uint8_t> kSampleBytes = {
    'A', 'B', 'C', 'D',                              // Name
    0x00, 0x00, 0x00, 0x0C,                          // BodyStartAddress = 12
    0x1C,                                            // 000 1 11 00
    0x12, 0x34, 0x56,                                // Time
    0x00, 0x0F,                                      // Length = 8 + 1 + 2 * 3
    0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,  // Big
    0x02,                                            // NumberOfItems
    0x1B, 0x10, 0x11,                                // Item 0
    0x81, 0x11, 0x00,                                // Item 1
    0x03,                                            // Length2
    0xAA, 0xBB,                                      // Blob
    0xCC,                                            // Tail
};

TEST(SyntaxWalk, WriterPatchesLengthsAndAddressesReaderGetsTheRecordBack) {
  std::vector<uint8_t> bytes = rec::Encode(Sample());
  EXPECT_EQ(bytes, kSampleBytes);

  Outer back;
  EXPECT_EQ(rec::Decode(bytes.data(), bytes.size(), back), bytes.size());
  EXPECT_EQ(back.name, "ABCD");
  EXPECT_TRUE(back.flag);
  EXPECT_EQ(back.mode, Mode::kOn);
  EXPECT_EQ(back.time, 0x123456u);
  EXPECT_EQ(back.big, 0x0102030405060708ull);
  ASSERT_EQ(back.items.size(), 2u);
  EXPECT_EQ(back.items[1].kind, 0x81);
  EXPECT_EQ(back.items[1].pid, 0x1100);
  EXPECT_EQ(back.blob, (std::vector<uint8_t>{0xAA, 0xBB}));
  EXPECT_EQ(back.tail, (std::vector<uint8_t>{0xCC}));
  EXPECT_EQ(rec::Encode(back), bytes);
}

std::string ReadError(const std::vector<uint8_t>& bytes) {
  Outer o;
  try {
    rec::Decode(bytes.data(), bytes.size(), o);
  } catch (const FormatError& e) {
    return e.what();
  }
  return "no error";
}

TEST(SyntaxWalk, ReaderNamesThePathOfTheFieldThatFails) {
  std::vector<uint8_t> b = kSampleBytes;
  // Cut inside the second item.
  b.resize(26);
  EXPECT_EQ(ReadError(b), "Body: Length: is 15, more than the 12 bytes left");

  // A count larger than its body: the items run past the section.
  b = kSampleBytes;
  b[22] = 3;
  EXPECT_EQ(ReadError(b), "Body: Item 2: Kind: runs past the end of its section");

  // A body longer than its fields.
  b = kSampleBytes;
  b[13] = 0x0E;
  EXPECT_EQ(ReadError(b), "Body: Item 1: Pid: runs past the end of its section");
  b = kSampleBytes;
  b[13] = 0x10;
  b.insert(b.begin() + 29, 0x00);
  EXPECT_EQ(ReadError(b), "Body: Length: the body uses 15 of its 16 bytes");

  // Truncated in a field outside any section.
  b = kSampleBytes;
  b.resize(10);
  EXPECT_EQ(ReadError(b), "Time: unexpected end of data");

  // An address past the data.
  b = kSampleBytes;
  b[7] = 0x40;
  EXPECT_EQ(ReadError(b), "Body: address 64 outside the data");
}

std::string WriteError(const Outer& o) {
  try {
    rec::Encode(o);
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "no error";
}

TEST(SyntaxWalk, WriterRefusesValuesThatDoNotFitTheirField) {
  Outer o = Sample();
  o.time = 0x1000000;
  EXPECT_EQ(WriteError(o), "Time: value 16777216 does not fit 24 bits");
  o = Sample();
  o.mode = static_cast<Mode>(4);
  EXPECT_EQ(WriteError(o), "Mode: value 4 does not fit 2 bits");
  o = Sample();
  o.name = "ABC";
  EXPECT_EQ(WriteError(o), "Name: \"ABC\" is not 4 characters");
  o = Sample();
  o.blob = {1};
  EXPECT_EQ(WriteError(o), "Blob: holds 1 bytes, not 2");
  o = Sample();
  o.items.resize(256);
  EXPECT_EQ(WriteError(o), "Body: NumberOfItems: value 256 does not fit 8 bits");
  o = Sample();
  o.tail.assign(300, 0);
  EXPECT_EQ(WriteError(o), "Length2: length 302 does not fit 8 bits");
}

TEST(SyntaxWalk, DumperShowsEveryFieldAsReadWithLengthsFromTheFile) {
  SDumpNode root;
  rec::DumpBytes<Outer>(kSampleBytes.data(), kSampleBytes.size(), root);
  EXPECT_EQ(root.Render(),
            "Name: ABCD\n"
            "BodyStartAddress: 12\n"
            "Flag: 1\n"
            "Mode: On(3)\n"
            "Time: 1193046\n"
            "Body: \n"
            "  Length: 15\n"
            "  Big: 72623859790382856\n"
            "  NumberOfItems: 2\n"
            "  Item 0: \n"
            "    Kind: 0x1B\n"
            "    Pid: 0x1011\n"
            "  Item 1: \n"
            "    Kind: 0x81\n"
            "    Pid: 0x1100\n"
            "Length2: 3\n"
            "Blob: AA BB\n"
            "Tail: CC\n");
  // Numbers stay numbers for the JSON form.
  EXPECT_EQ(root.children[5].children[3].children[0].number, 0x1B);

  // A body that is longer than its fields is shown with its length as
  // written, and the rest is taken as the tail.
  std::vector<uint8_t> b(kSampleBytes.begin(), kSampleBytes.end() - 1);
  b.insert(b.end(), {0xDD, 0xEE});
  b[29] = 4;
  SDumpNode again;
  rec::DumpBytes<Outer>(b.data(), b.size(), again);
  std::string text = again.Render();
  EXPECT_NE(text.find("Length2: 4\n"), std::string::npos);
  EXPECT_NE(text.find("Tail: DD EE\n"), std::string::npos);
}

// Bit fields across byte boundaries, optional sections and skipping the rest
// of a body.
struct Bitty {
  uint8_t a = 0;   // 3 bits
  uint16_t b = 0;  // 10 bits
  uint8_t c = 0;   // 3 bits
  bool hasExtra = false;
  uint32_t extra = 0;
};

template <class IO>
void Syntax(IO& io, Bitty& r) {
  auto len = io.Length(32, "Length");
  io.Bits(3, "A", r.a);
  io.Bits(10, "B", r.b);
  io.Bits(3, "C", r.c);
  io.Fixed(8, "Magic", 0x5A);
  auto at = io.Address(16, "ExtraAddress");
  if (io.AtIf(at, r.hasExtra, "Extra")) {
    r.hasExtra = true;
    io.U32("Extra", r.extra);
  }
  len.EndSkippingRest();
}

TEST(SyntaxWalk, BitFieldsSpanBytesAndOptionalSectionsUseAddressZero) {
  Bitty x{5, 0x3FF, 2, false, 0};
  std::vector<uint8_t> bytes = rec::Encode(x);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 5, 0xBF, 0xFA, 0x5A, 0, 0}));
  Bitty y;
  rec::Decode(bytes.data(), bytes.size(), y);
  EXPECT_EQ(y.a, 5);
  EXPECT_EQ(y.b, 0x3FF);
  EXPECT_EQ(y.c, 2);
  EXPECT_FALSE(y.hasExtra);

  x.hasExtra = true;
  x.extra = 0xDEADBEEF;
  bytes = rec::Encode(x);
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0, 0, 0, 9, 0xBF, 0xFA, 0x5A, 0, 9, 0xDE, 0xAD, 0xBE, 0xEF}));
  rec::Decode(bytes.data(), bytes.size(), y);
  EXPECT_TRUE(y.hasExtra);
  EXPECT_EQ(y.extra, 0xDEADBEEFu);

  // A longer body is accepted where its rest may be skipped.
  bytes[3] = 10;
  bytes.push_back(0x77);
  EXPECT_EQ(rec::Decode(bytes.data(), bytes.size(), y), 14u);

  bytes[6] = 0x5B;
  try {
    rec::Decode(bytes.data(), bytes.size(), y);
    FAIL() << "a wrong magic was accepted";
  } catch (const FormatError& e) {
    EXPECT_STREQ(e.what(), "Magic: is 91, not 90");
  }
}

TEST(SyntaxWalk, HugeCountsInShortDataFailAtTheEndOfTheData) {
  // 2^32-1 items announced, none present.
  struct Many {
    std::vector<Inner> items;
  };
  struct Walk {
    static void Run(const std::vector<uint8_t>& b) {
      rec::Reader rd(b);
      Many m;
      rd.Array(32, "N", m.items, [&](Inner& i) { Syntax(rd, i); });
    }
  };
  try {
    Walk::Run({0xFF, 0xFF, 0xFF, 0xFF, 0x01});
    FAIL() << "no error";
  } catch (const FormatError& e) {
    EXPECT_STREQ(e.what(), "Pid: unexpected end of data");
  }
}

}  // namespace
}  // namespace zv

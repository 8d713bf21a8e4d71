// The fast paths of analysis and serving: the start-code search against a
// byte-by-byte one, the windowed reading of the unit table against the
// records read straight from the stream-information file, and the units'
// read-ahead against the file's bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/archive_io.h"
#include "streams/nal_reader.h"
#include "streams/start_code_scanner.h"
#include "streams/stream_context.h"
#include "streams/unit_reader.h"
#include "support/test_support.h"

namespace {

size_t NaiveStartCode(const std::vector<uint8_t>& p, size_t from) {
  for (size_t j = std::max<size_t>(from, 2); j < p.size(); ++j)
    if (p[j] == 1 && p[j - 1] == 0 && p[j - 2] == 0) return j;
  return p.size();
}

TEST(StartCodeSearch, FindsWhatAByteByByteSearchFinds) {
  std::mt19937 rng(7);
  for (int round = 0; round < 400; ++round) {
    // Random data with zero runs and start codes planted anywhere, also
    // across the 16-byte steps, at the very start and in the last bytes.
    std::vector<uint8_t> p(1 + rng() % 300);
    for (auto& b : p) b = static_cast<uint8_t>(rng() % 4 == 0 ? rng() % 3 : rng());
    for (int k = rng() % 4; k > 0; --k) {
      const size_t at = rng() % p.size();
      const uint8_t code[] = {0, 0, 0, 1};
      for (size_t i = 0; i < 4 && at + i < p.size(); ++i) p[at + i] = code[i];
    }
    for (size_t from = 0; from <= p.size(); ++from) {
      size_t expect = NaiveStartCode(p, from);
      ASSERT_EQ(zv::FindStartCode(p.data(), from, p.size()), expect) << "round " << round << ", from " << from;
      ASSERT_EQ(zv::FindStartCodeBaseline(p.data(), from, p.size()), expect) << "round " << round << ", from " << from;
      // Walking on from each find visits every start code once.
      if (expect < p.size()) from = expect;
    }
  }
  // The zeros of a start code may precede `from`; a 0x01 before it does not count.
  const std::vector<uint8_t> q = {0x00, 0x00, 0x01, 0x65, 0x00, 0x00, 0x00, 0x01, 0x41};
  EXPECT_EQ(zv::FindStartCode(q.data(), 0, q.size()), 2u);
  EXPECT_EQ(zv::FindStartCode(q.data(), 2, q.size()), 2u);
  EXPECT_EQ(zv::FindStartCode(q.data(), 3, q.size()), 7u);
  EXPECT_EQ(zv::FindStartCode(q.data(), 7, q.size()), 7u);
  EXPECT_EQ(zv::FindStartCode(q.data(), 8, q.size()), q.size());
  EXPECT_EQ(zv::FindStartCode(q.data(), 0, 2), 2u);
  for (size_t from = 0; from <= q.size(); ++from)
    EXPECT_EQ(zv::FindStartCodeBaseline(q.data(), from, q.size()), zv::FindStartCode(q.data(), from, q.size()));
}

TEST(UnitTable, WindowedReadsServeTheStoredRecordsInAnyOrder) {
  zvtest::TempDir dir;
  const std::string path = zvtest::CopyFixture("h264_720p5994.264", dir.Path());
  zv::SSourceParams src;
  src.path = path;
  zv::SStreamContext ctx;
  ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
  const int64_t count = ctx.header.auCount;
  ASSERT_GT(count, 40);

  // The records as stored: 28 bytes each from the table position on.
  const std::vector<uint8_t> sif = zvtest::ReadBytes(zv::SifPathBeside(path));
  std::vector<zv::AUI> stored(static_cast<size_t>(count));
  for (int64_t n = 0; n < count; ++n) {
    zv::ArchiveIn in(sif.data() + ctx.header.auTablePos + n * zv::AUI::kSize, zv::AUI::kSize);
    stored[static_cast<size_t>(n)].Load(in);
  }
  auto same = [&](int64_t n) {
    auto au = zv::GetAu(n, ctx);
    const zv::AUI& s = stored[static_cast<size_t>(n)];
    return au && au->offset == s.offset && au->size == s.size && au->flags == s.flags && au->pts == s.pts &&
           au->dts == s.dts && au->pictureTiming == s.pictureTiming;
  };

  // Windows of 7 records: forward, backward, and jumping about.
  ctx.auTableBlock = 7;
  for (int64_t n = 0; n < count; ++n) ASSERT_TRUE(same(n)) << "forward " << n;
  for (int64_t n = count; n-- > 0;) ASSERT_TRUE(same(n)) << "backward " << n;
  std::mt19937 rng(3);
  for (int i = 0; i < 300; ++i) {
    const int64_t n = static_cast<int64_t>(rng() % count);
    ASSERT_TRUE(same(n)) << "random " << n;
  }
  EXPECT_EQ(zv::GetAu(count, ctx), nullptr);
  EXPECT_EQ(zv::GetAu(-1, ctx), nullptr);

  // The key-unit search walks both ways through the windows.
  for (int64_t n = 0; n < count; n += 5) {
    int64_t fwd = n, back = n;
    while (fwd < count && !(stored[fwd].flags & zv::kAuiKey)) ++fwd;
    while (back >= 0 && !(stored[back].flags & zv::kAuiKey)) --back;
    const int64_t expect = fwd == n ? n : (back < 0 || fwd - n <= n - back) ? fwd : back;
    EXPECT_EQ(zv::FindKeyAu(ctx, n), expect) << n;
  }
}

// The scanner of a large file takes its start codes from searches run ahead
// on other threads, a few MiB at a time. Whatever the seams and however the
// parser's heads move its window, it must hand out what a search of the
// whole file gives: every 00 00 01, the unit beginning at its first zero
// byte (leading zeros, never reaching back into the unit before), and the
// head bytes as they lie in the file.
TEST(StartCodeScanner, LargeFileGivesEveryStartCodeAcrossTheSeams) {
  zvtest::TempDir dir;
  std::mt19937 rng(5);
  std::vector<uint8_t> bytes((13u << 20) + 777);
  // Few zeros, so no start codes but the planted ones.
  for (auto& b : bytes) b = static_cast<uint8_t>(1 + rng() % 255);
  auto plant = [&](size_t one, size_t zeros) {
    for (size_t i = 1; i <= zeros && i <= one; ++i) bytes[one - i] = 0;
    bytes[one] = 1;
  };
  std::vector<size_t> ones;
  for (size_t at = 3; at + 1 < bytes.size(); at += 2000 + rng() % 90000) ones.push_back(at);
  // 0x01 bytes on and around the seams of the searches (4 MiB) and of the
  // parser's 1 MiB windows, short runs of zeros split by them, and codes
  // back to back.
  for (size_t seam = 1u << 20; seam < bytes.size(); seam += 1u << 20)
    for (size_t d : {0, 1, 2, 3, 40})
      ones.push_back(seam + d);
  ones.push_back(bytes.size() - 1);
  std::sort(ones.begin(), ones.end());
  ones.erase(std::unique(ones.begin(), ones.end(), [](size_t a, size_t b) { return b - a < 8; }), ones.end());
  for (size_t i = 0; i < ones.size(); ++i) {
    // The zeros stop short of the code before.
    const size_t room = i == 0 ? ones[0] : ones[i] - ones[i - 1] - 1;
    plant(ones[i], 2 + rng() % std::min<size_t>(30, room - 1));
  }
  const std::string path = dir / "codes.bin";
  zvtest::WriteBytes(path, bytes);

  // What a plain search of the whole file gives.
  std::vector<std::pair<int64_t, int64_t>> expect;
  for (size_t j = 2; j < bytes.size(); ++j) {
    if (bytes[j] != 1 || bytes[j - 1] != 0 || bytes[j - 2] != 0) continue;
    const int64_t lower = expect.empty() ? 0 : expect.back().second;
    auto k = static_cast<int64_t>(j) - 2;
    while (k > lower && bytes[static_cast<size_t>(k) - 1] == 0) --k;
    expect.emplace_back(k, static_cast<int64_t>(j) + 1);
  }
  ASSERT_EQ(expect.size(), ones.size());

  for (int round = 0; round < 3; ++round) {
    zv::File f;
    ASSERT_TRUE(f.Open(path, zv::File::kRead));
    std::vector<uint8_t> storage, head;
    zv::CStartCodeScanner scan(f, storage);
    int64_t nalStart = 0, payload = 0;
    size_t n = 0;
    while (scan.Next(nalStart, payload)) {
      ASSERT_LT(n, expect.size());
      ASSERT_EQ(nalStart, expect[n].first) << "code " << n;
      ASSERT_EQ(payload, expect[n].second) << "code " << n;
      ++n;
      // Heads short and long (a long one moves the window to the unit);
      // the first round takes none.
      if (round == 0) continue;
      const size_t max = round == 1 ? 1 + rng() % 64 : 1 + rng() % 70000;
      scan.Head(payload, max, head, true);
      const size_t have = std::min<size_t>(max, bytes.size() - static_cast<size_t>(payload));
      ASSERT_EQ(head.size(), have) << "code " << n;
      ASSERT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + payload)) << "code " << n;
    }
    EXPECT_EQ(n, expect.size()) << "round " << round;
    EXPECT_FALSE(scan.ReadError());
  }
}

// Both ways of reading ahead: windows read into buffers, and mapped ones.
class UnitReadAhead : public ::testing::TestWithParam<bool> {};

TEST_P(UnitReadAhead, ServesTheFileBytesWhateverTheUnitsDo) {
  const bool mapped = GetParam();
  zvtest::TempDir dir;
  const std::string path = dir / "units.bin";
  std::mt19937 rng(11);
  std::vector<uint8_t> bytes(21u << 20);  // a few windows' worth
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  zvtest::WriteBytes(path, bytes);
  zv::File f;
  ASSERT_TRUE(f.Open(path, zv::File::kRead));
  const auto length = static_cast<int64_t>(bytes.size());
  auto check = [&](zv::CUnitReader& r, uint64_t offset, uint32_t size) {
    const uint8_t* p = r.Get(f, length, offset, size);
    return p && std::equal(p, p + size, bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  };

  // Back to back as a video stream lies, units small and large, many
  // ending past a window; the last one ends with the file.
  zv::CUnitReader seq(mapped);
  uint64_t at = 0;
  while (at < bytes.size()) {
    uint32_t size = rng() % 5 == 0 ? zv::CUnitReader::kCarry - rng() % 1000 : 1 + rng() % 300000;
    size = static_cast<uint32_t>(std::min<uint64_t>(size, bytes.size() - at));
    ASSERT_TRUE(check(seq, at, size)) << "unit at " << at;
    at += size;
  }
  EXPECT_FALSE(seq.Shortened());
  // Gaps, a step back, a jump far ahead and back to the start.
  zv::CUnitReader jumps(mapped);
  const uint64_t offsets[] = {0, 5000, 4u << 20, (4u << 20) - 10, 100, 20u << 20, 3, (6u << 20) + 1};
  for (uint64_t o : offsets) ASSERT_TRUE(check(jumps, o, 4096)) << o;

  // A unit rewritten in place changes what was served, never the file.
  zv::CUnitReader rewrite(mapped);
  uint8_t* w = rewrite.Get(f, length, 12345, 100);
  ASSERT_NE(w, nullptr);
  w[0] = static_cast<uint8_t>(~bytes[12345]);
  std::vector<uint8_t> again(1);
  ASSERT_TRUE(f.ReadExactAt(12345, again.data(), 1));
  EXPECT_EQ(again[0], bytes[12345]);

  // A file cut short behind the reader's back fails the read with the
  // file's message, or (mapped) reads zeros where the file ended and says
  // so, instead of ending the process.
  zv::CUnitReader cut(mapped);
  ASSERT_TRUE(check(cut, 0, 1000));
  ASSERT_EQ(::truncate(path.c_str(), 1 << 20), 0);
  const uint8_t* p = nullptr;
  uint64_t sum = 0;
  for (uint64_t o = 1000; o < bytes.size() && (p = cut.Get(f, length, o, 100000)); o += 100000)
    for (size_t i = 0; i < 100000; ++i) sum += p[i];
  if (mapped) {
    EXPECT_TRUE(cut.Shortened()) << sum;
  } else {
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(f.Error(), "Cannot read \"" + path + "\": unexpected end of file");
  }
}

INSTANTIATE_TEST_SUITE_P(ReadOrMapped, UnitReadAhead, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Mapped" : "Read"; });

}  // namespace

// The stream-information cache is checked before it is trusted, and a cache
// that cannot be kept beside its stream still gets made.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <chrono>
#include <filesystem>

#include "platform/paths.h"
#include "stream_test_util.h"
#include "streams/parse_result.h"
#include "support/test_support.h"

using namespace zvtest;
namespace fs = std::filesystem;

namespace {

// Sets TMPDIR for one test, so temporary stream-information files land in
// the test's own folder.
struct TempDirEnv {
  std::string old;
  bool had;
  explicit TempDirEnv(const std::string& dir) : had(std::getenv("TMPDIR") != nullptr) {
    if (had) old = std::getenv("TMPDIR");
    ::setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TempDirEnv() {
    if (had) ::setenv("TMPDIR", old.c_str(), 1);
    else ::unsetenv("TMPDIR");
  }
};

}  // namespace

// Flipped bits anywhere in the file (header, record, unit table, GOP table,
// trailer) must never be served: each damaged cache is analysed again and
// comes back byte for byte as it was made, serving the same units.
TEST(StreamInfoCheck, FlippedBitsAreAnalysedAgain) {
  TempDir dir;
  const std::string stream = CopyFixture("h264_576i25.264", dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(stream, ctx), zv::kOk);
  const std::vector<zv::AUI> units = AllUnits(ctx);
  ctx.Close();
  const std::vector<uint8_t> good = ReadBytes(stream + ".dsi");
  ASSERT_GT(good.size(), zv::SSifHeader::kSize + zv::SSifTrailer::kSize);

  // Positions spread over the whole file, plus the fields whose damage the
  // table checks alone cannot see (unit time stamps and flags, the rate).
  std::vector<size_t> positions;
  for (size_t i = 0; i < 60; ++i) positions.push_back(i * (good.size() - 1) / 59);
  const size_t table = zv::SSifHeader::kSize + 64;
  for (size_t p : {size_t{32}, table + 12, table + 16, table + 20, good.size() - 1, good.size() - 12})
    positions.push_back(p);
  int reanalysed = 0;
  for (size_t pos : positions) {
    SCOPED_TRACE("byte " + std::to_string(pos));
    std::vector<uint8_t> bad = good;
    bad[pos] ^= static_cast<uint8_t>(1u << (pos % 8));
    WriteBytes(stream + ".dsi", bad);
    ParseCounter counter;
    ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
    reanalysed += counter.parses;
    EXPECT_EQ(counter.parses, 1);
    const std::vector<zv::AUI> served = AllUnits(ctx);
    ASSERT_EQ(served.size(), units.size());
    for (size_t i = 0; i < units.size(); ++i) {
      EXPECT_EQ(served[i].pts, units[i].pts) << "unit " << i;
      EXPECT_EQ(served[i].dts, units[i].dts) << "unit " << i;
      EXPECT_EQ(served[i].flags, units[i].flags) << "unit " << i;
      EXPECT_EQ(served[i].size, units[i].size) << "unit " << i;
    }
    ctx.Close();
    EXPECT_EQ(ReadBytes(stream + ".dsi"), good);
  }
  EXPECT_EQ(reanalysed, static_cast<int>(positions.size()));

  // A cache cut short by its trailer, or with bytes appended, is not used
  // either; the good one is.
  for (size_t cut : {size_t{1}, zv::SSifTrailer::kSize}) {
    WriteBytes(stream + ".dsi", std::vector<uint8_t>(good.begin(), good.end() - static_cast<long>(cut)));
    ParseCounter counter;
    ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
    EXPECT_EQ(counter.parses, 1);
    ctx.Close();
  }
  ParseCounter counter;
  ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 0);
}

// A stream name at the file-name limit leaves no room for ".dsi": the cache
// goes to the temporary folder under a shortened name, found again next time.
TEST(StreamInfoCheck, NameAtTheLimitUsesAShortenedTemporaryName) {
  TempDir dir;
  fs::create_directory(dir / "tmp");
  TempDirEnv env(dir / "tmp");
  const std::string stream = dir / (std::string(251, 'a') + ".ac3");  // 255 bytes
  fs::copy_file(DataPath("ac3_stereo.ac3"), stream);
  ParseCounter counter;
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.sifPath.rfind(dir / "tmp/", 0), 0u) << ctx.sifPath;
  EXPECT_LE(zv::FileNameOf(ctx.sifPath).size(), 255u);
  EXPECT_TRUE(zv::PathExists(ctx.sifPath));
  // A second stream whose name differs only after the shortened part gets a
  // file of its own.
  const std::string other = dir / (std::string(250, 'a') + "b.ac3");
  fs::copy_file(DataPath("ac3_mono.ac3"), other);
  EXPECT_NE(zv::SifPathInTemp(other), ctx.sifPath);
  const std::string first = ctx.sifPath;
  ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.sifPath, first);
  EXPECT_EQ(counter.parses, 1);
}

// A stream folder that fills up while the cache is written: the cache goes
// to the temporary folder. When that is full too, the failure names the
// file and the system's reason below the system's text.
TEST(StreamInfoCheck, FullStreamFolderFallsBackToTheTemporaryFolder) {
  TempDir dir;
  const std::string mnt = dir / "small";
  fs::create_directory(mnt);
  if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=400k") != 0) GTEST_SKIP() << "cannot mount a small file system";
  struct Unmount {
    std::string p;
    ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
  } unmount{mnt};
  const std::string stream = CopyFixture("h264_576i25.264", mnt);
  // Fill what is left, so that the first block of the cache does not fit.
  {
    std::vector<uint8_t> block(4096, 0);
    FILE* f = std::fopen((mnt + "/filler").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
  }
  fs::create_directory(dir / "tmp");
  {
    TempDirEnv env(dir / "tmp");
    zv::ScriptedPrompt prompt;
    zv::SStreamContext ctx;
    ASSERT_EQ(OpenWhole(stream, ctx, &prompt), zv::kOk) << (prompt.messages.empty() ? "" : prompt.messages.back());
    EXPECT_EQ(ctx.sifPath, zv::SifPathInTemp(stream));
    EXPECT_EQ(ctx.sifPath.rfind(dir / "tmp/", 0), 0u);
    EXPECT_FALSE(zv::PathExists(stream + ".dsi"));
  }
  {
    TempDirEnv env(mnt);
    zv::ScriptedPrompt prompt;
    zv::SStreamContext ctx;
    EXPECT_EQ(OpenWhole(stream, ctx, &prompt), zv::kFailed);
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].rfind(stream + "\nWrite file erorr! \nCannot write \"", 0), 0u) << prompt.messages[0];
    EXPECT_NE(prompt.messages[0].find("No space left on device"), std::string::npos) << prompt.messages[0];
    EXPECT_FALSE(zv::PathExists(stream + ".dsi"));
    EXPECT_FALSE(zv::PathExists(zv::SifPathInTemp(stream)));
  }
}

// The cache belongs to one stream file: its size, modification time to the
// nanosecond and, for a cache kept outside the stream's folder, its real
// path and inode. Two streams of one name and one time whose folders cannot
// take a cache get one each; a stream replaced beside its cache by another
// with the same time is analysed again.
TEST(StreamInfoCheck, CacheIsBoundToItsStreamsIdentity) {
  TempDir dir;
  fs::create_directory(dir / "tmp");
  TempDirEnv env(dir / "tmp");
  for (const char* f : {"a", "b", "c"}) fs::create_directory(dir / f);
  const std::string a = dir / "a/audio.ac3", b = dir / "b/audio.ac3", c = dir / "c/audio.ac3";
  fs::copy_file(DataPath("ac3_51.ac3"), a);
  fs::copy_file(DataPath("ac3_stereo.ac3"), b);
  fs::last_write_time(b, fs::last_write_time(a));
  // A folder where the cache would go sends it to the temporary folder.
  fs::create_directory(a + ".dsi");
  fs::create_directory(b + ".dsi");
  zv::SStreamContext ctx;
  ParseCounter counter;
  ASSERT_EQ(OpenWhole(a, ctx, nullptr, counter.Callback()), zv::kOk);
  const uint32_t rate51 = ctx.header.bitRate;
  const std::string tempA = ctx.sifPath;
  EXPECT_EQ(tempA.rfind(dir / "tmp/", 0), 0u) << tempA;
  ASSERT_EQ(OpenWhole(b, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 2);
  const uint32_t rateStereo = ctx.header.bitRate;
  EXPECT_NE(rateStereo, rate51);
  EXPECT_NE(ctx.sifPath, tempA);
  // Each is found again, and stays its own.
  ASSERT_EQ(OpenWhole(a, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.header.bitRate, rate51);
  EXPECT_EQ(counter.parses, 2);
  // A temporary cache moved to the other stream's name is not taken for it.
  ctx.Close();
  fs::copy_file(tempA, zv::SifPathInTemp(b), fs::copy_options::overwrite_existing);
  ASSERT_EQ(OpenWhole(b, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.header.bitRate, rateStereo);
  EXPECT_EQ(counter.parses, 3);

  // Replaced beside its cache by another file with the same time (a copy
  // keeping times): analysed again.
  fs::copy_file(DataPath("ac3_51.ac3"), c);
  ASSERT_EQ(OpenWhole(c, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(ctx.sifPath, c + ".dsi");
  ctx.Close();
  const auto time = fs::last_write_time(c);
  const std::string replacement = dir / "c/new.ac3";
  fs::copy_file(DataPath("ac3_stereo.ac3"), replacement);
  fs::last_write_time(replacement, time);
  fs::rename(replacement, c);
  ASSERT_EQ(OpenWhole(c, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 5);
  EXPECT_EQ(ctx.header.bitRate, rateStereo);
}

// A cache written by an earlier version (a check trailer without the
// stream's identity) is still read beside a stream it matches, and is made
// again when the stream's time differs.
TEST(StreamInfoCheck, CacheOfAnEarlierVersionIsStillRead) {
  TempDir dir;
  const std::string stream = CopyFixture("h264_576i25.264", dir.Path());
  zv::SStreamContext ctx;
  ASSERT_EQ(OpenWhole(stream, ctx), zv::kOk);
  const std::vector<zv::AUI> units = AllUnits(ctx);
  ctx.Close();
  std::vector<uint8_t> old = ReadBytes(stream + ".dsi");
  ASSERT_GT(old.size(), zv::SSifTrailer::kSize);
  old.resize(old.size() - zv::SSifTrailer::kSize);
  const size_t n = old.size();
  const uint32_t crc = zv::SifCrc32(old.data(), n);
  old.insert(old.end(), {'Z', 'V', 'C', 'K'});
  for (int i = 0; i < 4; ++i) old.push_back(static_cast<uint8_t>(crc >> (8 * i)));
  for (int i = 0; i < 8; ++i) old.push_back(static_cast<uint8_t>(static_cast<uint64_t>(n) >> (8 * i)));
  WriteBytes(stream + ".dsi", old);
  ParseCounter counter;
  ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 0);
  EXPECT_EQ(AllUnits(ctx).size(), units.size());
  ctx.Close();
  fs::last_write_time(stream, fs::last_write_time(stream) + std::chrono::seconds(1));
  ASSERT_EQ(OpenWhole(stream, ctx, nullptr, counter.Callback()), zv::kOk);
  EXPECT_EQ(counter.parses, 1);
}

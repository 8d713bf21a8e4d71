// `zelvane mux` of a video stream not analysed yet multiplexes it while it
// is analysed: the clip must be the one made from finished stream
// information, including when the analysis ends otherwise than it began.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "streams/stream_context.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using zvtest::RunResult;

RunResult Mux(const std::string& out, const std::vector<std::string>& inputs) {
  std::vector<std::string> argv{ZV_BINARY, "mux", out};
  argv.insert(argv.end(), inputs.begin(), inputs.end());
  argv.push_back("--yes");
  return zvtest::Run(argv);
}

void Write(const std::string& path, const std::vector<uint8_t>& bytes, size_t size, int copies) {
  std::ofstream f(path, std::ios::binary);
  for (int i = 0; i < copies; ++i) f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(size));
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(MuxLive, MakesTheClipThatFinishedStreamInformationMakes) {
  zvtest::TempDir dir;
  const std::string fixture = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(fixture);
  // A minute of GOPs, so that the multiplexer may catch up with the
  // analysis; one picture alone, a still, which the stream information
  // announces only at its end; MPEG-2 GOPs.
  Write(dir / "long.264", bytes, bytes.size(), 30);
  size_t firstUnit = 0;
  {
    zv::SSourceParams src;
    src.path = fixture;
    zv::SStreamContext ctx;
    ASSERT_EQ(zv::OpenStream(src, ctx, {}, nullptr), zv::kOk);
    auto au = zv::GetAu(0, ctx);
    ASSERT_TRUE(au);
    firstUnit = au->size;
  }
  Write(dir / "still.264", bytes, firstUnit, 1);
  const std::vector<uint8_t> mpeg2 = zvtest::ReadBytes(zvtest::CopyFixture("m2v_1080p2398.m2v", dir.Path()));
  Write(dir / "long.m2v", mpeg2, mpeg2.size(), 10);

  for (const char* name : {"long.264", "still.264", "long.m2v"}) {
    SCOPED_TRACE(name);
    const std::string video = dir / name;
    ASSERT_FALSE(fs::exists(zv::SifPathBeside(video)));
    const RunResult live = Mux(dir / "live.m2ts", {video, audio});
    ASSERT_EQ(live.status, 0) << live.err;
    ASSERT_TRUE(fs::exists(zv::SifPathBeside(video)));
    const RunResult stored = Mux(dir / "stored.m2ts", {video, audio});
    ASSERT_EQ(stored.status, 0) << stored.err;
    EXPECT_TRUE(zvtest::ReadBytes(dir / "live.m2ts") == zvtest::ReadBytes(dir / "stored.m2ts"));
    EXPECT_TRUE(zvtest::ReadBytes(dir / "live.clpi") == zvtest::ReadBytes(dir / "stored.clpi"));
    // The summary after the names of the clip and its clip information.
    EXPECT_EQ(live.out.substr(live.out.find("  streams:")), stored.out.substr(stored.out.find("  streams:")));
  }
}

TEST(MuxLive, AStreamRefusedAtTheEndOfItsAnalysisLeavesNoClip) {
  zvtest::TempDir dir;
  const std::string video = zvtest::CopyFixture("fail_vfr.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const RunResult r = Mux(dir / "o.m2ts", {video, audio});
  EXPECT_EQ(r.status, 2);
  // Said once, with the file's name, as when the stream is opened alone.
  EXPECT_EQ(Count(r.err, "The frame rate varies"), 1u) << r.err;
  EXPECT_NE(r.err.find(video), std::string::npos) << r.err;
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(dir.Path())) left.push_back(e.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"ac3_stereo.ac3", "ac3_stereo.ac3.dsi", "fail_vfr.264"}));
}

}  // namespace

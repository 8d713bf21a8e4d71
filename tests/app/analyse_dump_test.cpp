// Drives `zelvane analyse` and `zelvane dump` as a user would.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(AnalyseCommand, ReportsVideoAndAudioAndWritesStreamInformation) {
  zvtest::TempDir dir;
  std::string v = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  std::string a = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  RunResult r = Zv({"analyse", v, a});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "High@4.1")) << r.out;
  EXPECT_TRUE(Has(r.out, "1920x1080")) << r.out;
  EXPECT_TRUE(Has(r.out, "23.976")) << r.out;
  EXPECT_TRUE(Has(r.out, "access units:       48")) << r.out;  // ffprobe counts 48 frames
  EXPECT_TRUE(Has(r.out, "multi-channel")) << r.out;
  EXPECT_TRUE(std::filesystem::exists(v + ".dsi"));
  EXPECT_TRUE(std::filesystem::exists(a + ".dsi"));

  RunResult j = Zv({"analyse", "--json", v});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_TRUE(Has(j.out, "\"accessUnits\":48")) << j.out;
  EXPECT_TRUE(Has(j.out, "\"width\":1920")) << j.out;
}

TEST(AnalyseCommand, RefusedFilesNameThePathAndTheReason) {
  zvtest::TempDir dir;
  std::string bad = zvtest::CopyFixture("fail_baseline.264", dir.Path());
  RunResult r = Zv({"analyse", bad});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, bad)) << r.err;
  EXPECT_TRUE(Has(r.err, "Wrong profile! ")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(bad + ".dsi"));

  std::string junk = dir / "junk.264";
  zvtest::WriteText(junk, "this is not a video stream\n");
  RunResult j = Zv({"analyse", junk});
  EXPECT_EQ(j.status, 2);
  EXPECT_TRUE(Has(j.err, junk)) << j.err;

  EXPECT_EQ(Zv({"analyse", dir / "missing.264"}).status, 2);
  EXPECT_EQ(Zv({"analyse"}).status, 64);
}

// The clip or its clip information written over an input stream would
// destroy the input.
TEST(MuxCommand, RefusesToWriteOverItsInputs) {
  zvtest::TempDir dir;
  std::string v = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  std::string a = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::vector<uint8_t> video = zvtest::ReadBytes(v), audio = zvtest::ReadBytes(a);
  std::filesystem::copy_file(a, dir / "a.clpi");  // an input named like the clip information
  for (const std::vector<std::string>& cmd :
       {std::vector<std::string>{"mux", v, v, a}, {"mux", dir / "./x/../h264_1080p2398.264", v, a},
        {"mux", dir / "a.m2ts", v, dir / "a.clpi"}}) {
    RunResult r = Zv(cmd);
    EXPECT_EQ(r.status, 2) << cmd[1];  // understood, and refused
    EXPECT_TRUE(Has(r.err, "is an input; the clip must go to another file")) << r.err;
  }
  EXPECT_EQ(zvtest::ReadBytes(v), video);
  EXPECT_EQ(zvtest::ReadBytes(dir / "a.clpi"), audio);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.m2ts"));
}

TEST(DumpCommand, ProjectFilesAndUnknownFiles) {
  zvtest::TempDir dir;
  std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  RunResult d = Zv({"dump", p});
  ASSERT_EQ(d.status, 0) << d.err;
  EXPECT_TRUE(Has(d.out, "Movie#1")) << d.out;
  RunResult j = Zv({"dump", "--json", p});
  ASSERT_EQ(j.status, 0) << j.err;
  EXPECT_EQ(j.out.rfind("{\"file\":\"" + p + "\",\"type\":\"project\",\"content\":{\"name\":\"Disc\"", 0), 0u) << j.out;
  EXPECT_EQ(j.out.substr(j.out.size() - 4), "]}}\n") << j.out;  // films array, tree, frame

  std::string other = dir / "notes.txt";
  zvtest::WriteText(other, "hello");
  RunResult u = Zv({"dump", other});
  EXPECT_EQ(u.status, 2);
  EXPECT_TRUE(Has(u.err, other)) << u.err;
}

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

TEST(AnalyseCommand, StreamsCutOffInTheirLastUnitSayWhatIsLeftOut) {
  zvtest::TempDir dir;
  // Each fixture cut 3 bytes short: the unit those bytes ended is left out,
  // and the analysis says how many bytes that leaves unserved. (A cut-off
  // MPEG-2 picture is tested with the analysis of MPEG-2 streams.)
  for (const char* name : {"ac3_51.ac3", "dts_51.dts", "dtshd_ma.dtshd", "thd_51.thd"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = zvtest::ReadBytes(zvtest::DataPath(name));
    const std::string whole = dir / (std::string("whole_") + name), cut = dir / (std::string("cut_") + name);
    zvtest::WriteBytes(whole, bytes);
    zvtest::WriteBytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.end() - 3));
    if (std::string(name) == "thd_51.thd") {
      std::filesystem::copy_file(zvtest::DataPath("thd_51.ac3"), dir / "whole_thd_51.ac3");
      std::filesystem::copy_file(zvtest::DataPath("thd_51.ac3"), dir / "cut_thd_51.ac3");
    }
    RunResult w = Zv({"analyse", "--json", whole});
    ASSERT_EQ(w.status, 0) << w.err;
    EXPECT_FALSE(Has(w.out, "leftOutAtEndBytes")) << w.out;
    RunResult c = Zv({"analyse", cut});
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_TRUE(Has(c.out, "left out at end:")) << c.out;
    RunResult cj = Zv({"analyse", "--json", cut});
    ASSERT_EQ(cj.status, 0) << cj.err;
    EXPECT_TRUE(Has(cj.out, "\"leftOutAtEndBytes\":")) << cj.out;
    // One unit fewer than the whole stream.
    auto units = [](const std::string& json) {
      const size_t at = json.find("\"accessUnits\":");
      return at == std::string::npos ? -1L : std::stol(json.substr(at + 14));
    };
    EXPECT_EQ(units(cj.out), units(w.out) - 1) << w.out << cj.out;
  }
}

TEST(AnalyseCommand, AWavWithChunksBeforeItsFormatIsRead) {
  zvtest::TempDir dir;
  // JUNK (as ffmpeg's -rf64 auto reserves it) and bext before "fmt ".
  const std::vector<uint8_t> plain = zvtest::ReadBytes(zvtest::DataPath("lpcm_20_16_48.wav"));
  ASSERT_GT(plain.size(), 44u);
  std::vector<uint8_t> w(plain.begin(), plain.begin() + 12);
  const uint8_t junk[] = {'J', 'U', 'N', 'K', 28, 0, 0, 0};
  w.insert(w.end(), std::begin(junk), std::end(junk));
  w.insert(w.end(), 28, 0);
  const uint8_t bext[] = {'b', 'e', 'x', 't', 4, 0, 0, 0, 'z', 'v', 'z', 'v'};
  w.insert(w.end(), std::begin(bext), std::end(bext));
  w.insert(w.end(), plain.begin() + 12, plain.end());
  const uint32_t riff = static_cast<uint32_t>(w.size() - 8);
  for (int i = 0; i < 4; ++i) w[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  const std::string path = dir / "junk.wav";
  zvtest::WriteBytes(path, w);
  RunResult r = Zv({"analyse", "--json", path});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "\"codec\":\"LPCM\"")) << r.out;
  RunResult p = Zv({"analyse", "--json", zvtest::CopyFixture("lpcm_20_16_48.wav", dir.Path())});
  ASSERT_EQ(p.status, 0) << p.err;
  // The same samples as the file without those chunks.
  const size_t a = r.out.find("\"accessUnits\""), b = p.out.find("\"accessUnits\"");
  ASSERT_NE(a, std::string::npos);
  ASSERT_NE(b, std::string::npos);
  EXPECT_EQ(r.out.substr(a, r.out.find('}', a) - a), p.out.substr(b, p.out.find('}', b) - b));
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

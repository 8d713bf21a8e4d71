// A movie disc with DTS, DTS-HD master audio and DTS-HD high resolution
// tracks, made with the zelvane commands, as independent readers see it:
// libbluray (the coding types and attributes of the title's streams, and the
// bytes of the title), ffprobe (codec, profile, and each core frame joined
// with its extension substream) and ffmpeg (every decoded frame, core alone
// and whole stream, against the source files). Also the refusals of
// `source add` for DTS-HD files a disc cannot carry as a primary track.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

using zvtest::Zelvane;
using zvtest::Lines;
using zvtest::HasLine;
using zvtest::FrameHashes;

namespace {

std::string ProbeField(const std::string& file, const std::string& stream, const std::string& field) {
  const zvtest::RunResult r = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries",
                                          "stream=" + field, "-of", "default=nw=1:nk=1", file});
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  return lines.empty() ? "" : lines[0];
}

std::vector<int64_t> PacketSizes(const std::string& file, const std::string& stream) {
  const zvtest::RunResult r = zvtest::Run(
      {"ffprobe", "-v", "error", "-select_streams", stream, "-show_entries", "packet=size", "-of", "csv=p=0", file});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<int64_t> out;
  for (const std::string& l : Lines(r.out))
    if (!l.empty()) out.push_back(std::stoll(l));
  return out;
}

class DtsDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    const std::map<std::string, std::string> files = {{"v.264", "h264_1080p2398.264"},
                                                      {"core_eng.dts", "dts_51.dts"},
                                                      {"master_fre.dtshd", "dtshd_ma.dtshd"},
                                                      {"hires_ger.dts", "dtshd_hra.dts"},
                                                      {"nocore.dts", "fail_dtshd_nocore.dts"},
                                                      {"express.dts", "dts_lbr.dts"}};
    for (const auto& [name, fixture] : files) fs::copy_file(zvtest::DataPath(fixture), d + "/" + name);
    project_ = d + "/p.zvpj";
    const std::vector<std::vector<std::string>> steps = {
        {"new", project_},
        {"source", "add", project_, "Movie#1/Clip#1", d + "/v.264", d + "/core_eng.dts", d + "/master_fre.dtshd",
         d + "/hires_ger.dts"},
        {"build", project_, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      const zvtest::RunResult r = Zelvane(args);
      if (r.status != 0) return "zelvane " + args[0] + " failed:\n" + r.err;
    }
    disc_ = d + "/out/Zelvane/DISC";
    return {};
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, project_, disc_;
};

std::unique_ptr<zvtest::TempDir> DtsDisc::dir_;
std::string DtsDisc::error_, DtsDisc::project_, DtsDisc::disc_;

TEST_F(DtsDisc, LibblurayListsTheCodingTypes) {
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
  ASSERT_EQ(info.status, 0) << info.err;
  std::string title;
  for (const std::string& l : Lines(info.out))
    if (l.rfind("title ", 0) == 0 && l.find(" clip 0 stream audio 0 ") != std::string::npos)
      title = l.substr(0, l.find(" clip 0 "));
  ASSERT_FALSE(title.empty()) << info.out;
  const std::string c = title + " clip 0 stream audio ";
  EXPECT_TRUE(HasLine(info.out, c + "0 coding 0x82 pid 0x1100 format 6 rate 1 aspect 0 subpath 255 lang eng")) << info.out;
  EXPECT_TRUE(HasLine(info.out, c + "1 coding 0x86 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang fre")) << info.out;
  EXPECT_TRUE(HasLine(info.out, c + "2 coding 0x85 pid 0x1102 format 6 rate 1 aspect 0 subpath 255 lang ger")) << info.out;
}

// The title read through libbluray: ffprobe sees DTS and DTS-HD, and ffmpeg
// decodes each track exactly like its source, core alone and whole.
TEST_F(DtsDisc, TitleDecodesLikeTheSources) {
  if (!zvtest::HaveProgram("ffmpeg") || !zvtest::HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  const std::string d = dir_->Path();
  const std::string read = d + "/read.m2ts";
  // The movie's title is title 1; its playlist as libbluray names it.
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
  ASSERT_EQ(info.status, 0) << info.err;
  std::string playlist;
  for (const std::string& l : Lines(info.out))
    if (l.rfind("disc_title 1 playlist ", 0) == 0) playlist = std::to_string(std::stoi(l.substr(22)));
  ASSERT_FALSE(playlist.empty()) << info.out;
  const zvtest::RunResult r = zvtest::Run({ZV_BDCLIENT, "read", "--playlist", disc_, playlist, read});
  ASSERT_EQ(r.status, 0) << r.err;

  EXPECT_EQ(ProbeField(read, "a:0", "profile"), "DTS");
  EXPECT_EQ(ProbeField(read, "a:2", "profile"), "DTS-HD HRA");
  for (const char* s : {"a:0", "a:1", "a:2"}) {
    EXPECT_EQ(ProbeField(read, s, "codec_name"), "dts") << s;
    EXPECT_EQ(ProbeField(read, s, "channels"), "6") << s;
  }
  // Each packet ffmpeg's parser makes of the master audio track is one core
  // frame with its extension substream, as in the source file.
  const std::vector<int64_t> clipPackets = PacketSizes(read, "a:1");
  ASSERT_FALSE(clipPackets.empty());
  EXPECT_EQ(clipPackets, PacketSizes(d + "/master_fre.dtshd", "a:0"));
  EXPECT_GT(clipPackets[0], 1024);

  const std::vector<std::string> core = FrameHashes(d + "/core_eng.dts", "");
  ASSERT_EQ(core.size(), 47u);
  EXPECT_EQ(FrameHashes(read, "0:a:0"), core);
  const char* sources[] = {"core_eng.dts", "master_fre.dtshd", "hires_ger.dts"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(sources[i]);
    const std::string map = "0:a:" + std::to_string(i);
    EXPECT_EQ(FrameHashes(read, map, true), core) << "core alone";
    EXPECT_EQ(FrameHashes(read, map), FrameHashes(d + "/" + sources[i], "")) << "whole stream";
  }
}

// DTS-HD files a primary track cannot take are refused with what is
// missing, and the project stays as it was.
TEST_F(DtsDisc, SourceAddSaysWhatIsMissing) {
  const std::string d = dir_->Path();
  const std::vector<uint8_t> before = zvtest::ReadBytes(project_);
  zvtest::RunResult r = Zelvane({"source", "add", project_, "Movie#1/Clip#1", d + "/nocore.dts"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Wrong extention mode! "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("without the DTS core frames a disc needs"), std::string::npos) << r.err;
  r = Zelvane({"source", "add", project_, "Movie#1/Clip#1", d + "/express.dts"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("can only be added as secondary track! "), std::string::npos) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(project_), before);
}

}  // namespace

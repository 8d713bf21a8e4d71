// Audio a disc cannot carry, added with --convert-audio and built into a
// disc: libbluray lists the converted tracks with their format and rate,
// ffmpeg decodes the AC-3 from the clip without a complaint, and the LPCM
// made from FLAC decodes from the clip to exactly the FLAC's samples.
// Without the option such a file is refused with the way out, and the
// project stays as it was. Sources are made with ffmpeg at test time.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::HasLine;
using zvtest::Zelvane;

namespace {

// Two seconds of a tone per channel with a little noise.
std::string Make(const std::string& dir, const std::string& name, int channels, const std::string& layout, int rate,
                 const std::vector<std::string>& codec) {
  std::string exprs;
  for (int c = 0; c < channels; ++c)
    exprs += (c ? "|" : "") + std::string("0.3*sin(") + std::to_string(250 + 150 * c) + "*2*PI*t)+0.05*random(" +
             std::to_string(c) + ")";
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "aevalsrc=exprs=" + exprs + ":c=" + layout + ":s=" + std::to_string(rate) + ":d=2"};
  argv.insert(argv.end(), codec.begin(), codec.end());
  argv.push_back(dir + "/" + name);
  const zvtest::RunResult r = zvtest::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  return dir + "/" + name;
}

std::string DecodeRaw(const std::string& input, const std::string& map, std::string& err) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-i", input};
  if (!map.empty()) argv.insert(argv.end(), {"-map", map});
  argv.insert(argv.end(), {"-c:a", "pcm_s32le", "-f", "s32le", "-"});
  const zvtest::RunResult r = zvtest::Run(argv);
  err = r.status == 0 ? r.err : "exit " + std::to_string(r.status) + ": " + r.err;
  return r.out;
}

class ConvertedAudioDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!zvtest::HaveProgram("ffmpeg")) return;
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!zvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    ASSERT_TRUE(error_.empty()) << error_;
  }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    Make(d, "cd.mp3", 2, "stereo", 44100, {"-c:a", "libmp3lame"});
    Make(d, "surround.flac", 6, "5.1", 48000, {"-c:a", "flac", "-sample_fmt", "s32"});
    Make(d, "stereo.flac", 2, "stereo", 48000, {"-c:a", "flac", "-sample_fmt", "s16"});
    Make(d, "voice.opus", 2, "stereo", 48000, {"-c:a", "libopus"});
    const std::string p = d + "/p.zvpj";
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Movie#1/Clip#1", d + "/v.264", d + "/cd.mp3", d + "/surround.flac", "--convert-audio",
         "ac3"},
        {"source", "add", p, "Movie#1/Clip#1", d + "/stereo.flac", "--convert-audio", "lpcm"}};
    for (const auto& args : steps) {
      const zvtest::RunResult r = Zelvane(args);
      if (r.status != 0) return "zelvane " + args[0] + " failed:\n" + r.err;
    }
    // Refused without the option, and the project as it was.
    const std::vector<uint8_t> before = zvtest::ReadBytes(p);
    refused_ = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/voice.opus"});
    if (zvtest::ReadBytes(p) != before) return "the refused file changed the project";
    fs::copy_file(zvtest::DataPath("fail_44k.ac3"), d + "/fail_44k.ac3");
    refused44k_ = Zelvane({"source", "add", p, "Movie#1/Clip#1", d + "/fail_44k.ac3"});
    if (zvtest::ReadBytes(p) != before) return "the refused AC-3 changed the project";
    const zvtest::RunResult build = Zelvane({"build", p, d + "/out", "--yes"});
    if (build.status != 0) return "zelvane build failed:\n" + build.err;
    disc_ = d + "/out/Zelvane/DISC";
    for (const auto& e : fs::directory_iterator(disc_ + "/BDMV/STREAM"))
      if (fs::file_size(e.path()) > 0) clip_ = e.path().string();
    return clip_.empty() ? "no clip written" : "";
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, clip_;
  static zvtest::RunResult refused_, refused44k_;
};
std::unique_ptr<zvtest::TempDir> ConvertedAudioDisc::dir_;
std::string ConvertedAudioDisc::error_, ConvertedAudioDisc::disc_, ConvertedAudioDisc::clip_;
zvtest::RunResult ConvertedAudioDisc::refused_, ConvertedAudioDisc::refused44k_;

TEST_F(ConvertedAudioDisc, LibblurayListsTheConvertedTracks) {
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
  ASSERT_EQ(info.status, 0) << info.err;
  std::string prefix;
  std::istringstream in(info.out);
  for (std::string l; std::getline(in, l);)
    if (l.find(" stream audio 0 ") != std::string::npos) prefix = l.substr(0, l.find("stream audio"));
  ASSERT_FALSE(prefix.empty()) << info.out;
  // MP3 at 44.1 kHz -> AC-3 stereo, 5.1 FLAC -> AC-3 5.1, FLAC -> LPCM stereo; all 48 kHz.
  const char* const kStreams[] = {"coding 0x81 pid 0x1100 format 3 rate 1", "coding 0x81 pid 0x1101 format 6 rate 1",
                                  "coding 0x80 pid 0x1102 format 3 rate 1"};
  for (size_t i = 0; i < std::size(kStreams); ++i)
    EXPECT_TRUE(HasLine(info.out, prefix + "stream audio " + std::to_string(i) + " " + kStreams[i] +
                                      " aspect 0 subpath 255 lang eng"))
        << i << "\n" << info.out;
}

TEST_F(ConvertedAudioDisc, ClipAudioDecodesAndLpcmKeepsEverySample) {
  std::string err;
  for (const char* map : {"0:a:0", "0:a:1"}) {
    const std::string ac3 = DecodeRaw(clip_, map, err);
    EXPECT_TRUE(err.empty()) << map << ": " << err;
    EXPECT_FALSE(ac3.empty()) << map;
  }
  const std::string flac = DecodeRaw(dir_->Path() + "/stereo.flac", "", err);
  ASSERT_TRUE(err.empty()) << err;
  const std::string lpcm = DecodeRaw(clip_, "0:a:2", err);
  ASSERT_TRUE(err.empty()) << err;
  ASSERT_EQ(flac.size(), 2u * 48000 * 2 * 4);
  EXPECT_TRUE(lpcm == flac) << "the clip's LPCM (" << lpcm.size() << " bytes) differs from the FLAC's samples ("
                            << flac.size() << ")";
}

TEST_F(ConvertedAudioDisc, AudioWithoutTheOptionIsRefusedWithTheWayOut) {
  EXPECT_EQ(refused_.status, 2);
  EXPECT_NE(refused_.err.find("Opus audio is not a disc format; add it with --convert-audio ac3[:BITRATE] or "
                              "--convert-audio lpcm to convert it"),
            std::string::npos)
      << refused_.err;
  EXPECT_FALSE(fs::exists(dir_->Path() + "/voice.opus.a0.ac3-448.ac3"));
  // A file our own analysis reads and refuses gets the way out beside its
  // reason.
  EXPECT_EQ(refused44k_.status, 2);
  EXPECT_NE(refused44k_.err.find("Wrong sample rate!"), std::string::npos) << refused44k_.err;
  EXPECT_NE(refused44k_.err.find("AC-3 at 44100 Hz is not a disc format (a disc takes AC-3 at 48 kHz); add it with "
                                 "--convert-audio ac3[:BITRATE] or --convert-audio lpcm to convert it"),
            std::string::npos)
      << refused44k_.err;
}

}  // namespace

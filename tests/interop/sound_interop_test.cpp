// Button sounds as libbluray reads them from a built disc, against what
// ffprobe and ffmpeg read from the WAV files they were made of.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

using zvtest::TempDir;
namespace fs = std::filesystem;

using zvtest::HasLine;

namespace {

TEST(SoundInterop, LibblurayPlaysTheWavSamplesAndTheFileLeavesWithTheProjects) {
  if (!zvtest::HaveProgram("ffmpeg") || !zvtest::HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir work;
  const std::vector<std::string> zelvane = {"env", "XDG_CONFIG_HOME=" + work.Path() + "/config", ZV_BINARY};
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = zelvane;
    argv.insert(argv.end(), args.begin(), args.end());
    return zvtest::Run(argv);
  };
  const std::vector<std::string> wavs = {"click_48k.wav", "mono_48k.wav", "stereo_48k.wav"};
  std::vector<std::string> build = {"sound", "build", work / "Sound.bdmv"};
  for (const auto& w : wavs) build.push_back(zvtest::DataPath("sounds/" + w));
  auto r = run(build);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(run({"new", work / "disc.zvpj"}).status, 0);
  r = run({"sound", "set", work / "disc.zvpj", work / "Sound.bdmv"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({"build", work / "disc.zvpj", work / "out", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string disc = work / "out/Zelvane/DISC";

  fs::create_directory(work / "got");
  r = zvtest::Run({ZV_BDCLIENT, "sounds", disc, work / "got"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "sounds 3")) << r.out;
  for (size_t i = 0; i < wavs.size(); ++i) {
    const std::string wav = zvtest::DataPath("sounds/" + wavs[i]);
    auto probe = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                              "stream=channels,duration_ts", "-of", "csv=p=0", wav});
    ASSERT_EQ(probe.status, 0) << probe.err;
    const std::string channels = probe.out.substr(0, probe.out.find(','));
    std::string frames = probe.out.substr(probe.out.find(',') + 1);
    frames.erase(frames.find_last_not_of("\n") + 1);
    const std::string id = std::to_string(i);
    EXPECT_TRUE(HasLine(r.out, "sound " + id + " channels " + channels + " frames " + frames)) << wav << "\n" << r.out;
    // The samples, exactly: ffmpeg's decoding of the WAV as 16-bit big-endian.
    auto conv = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", wav, "-f", "s16be",
                             work / ("want" + id + ".s16be")});
    ASSERT_EQ(conv.status, 0) << conv.err;
    const auto want = zvtest::ReadBytes(work / ("want" + id + ".s16be"));
    EXPECT_FALSE(want.empty());
    EXPECT_EQ(zvtest::ReadBytes(work / ("got/" + id + ".s16be")), want) << wav;
  }

  // Without a sound file, the next build takes the disc's away.
  r = run({"sound", "set", work / "disc.zvpj", "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run({"build", work / "disc.zvpj", work / "out", "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(disc + "/BDMV/AUXDATA/sound.bdmv"));
  r = zvtest::Run({ZV_BDCLIENT, "sounds", disc, work / "got"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(HasLine(r.out, "sounds 0")) << r.out;
}

}  // namespace

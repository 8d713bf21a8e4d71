// The button-sound commands: sound build (refusals leave nothing), the dump,
// sound set, and menu and button sound ids checked against the sound file.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;
namespace fs = std::filesystem;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string Sound(const std::string& name) { return std::string(ZV_TEST_DATA) + "/sounds/" + name; }

// A WAV of `bytes` bytes of 48 kHz 16-bit stereo samples.
void WriteWav(const std::string& path, uint32_t bytes) {
  std::vector<uint8_t> w = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                            1,   0,   2,   0,   0x80, 0xBB, 0, 0, 0, 0xEE, 2, 0, 4, 0, 16, 0, 'd', 'a', 't', 'a'};
  for (int i = 0; i < 4; ++i) w.push_back(static_cast<uint8_t>(bytes >> (8 * i)));
  w.resize(w.size() + bytes, 0x10);
  zvtest::WriteBytes(path, w);
}

}  // namespace

TEST(SoundCommands, BuildPrintsEachSoundsIdAndRefusalsWriteNothing) {
  zvtest::TempDir dir;
  const std::string out = dir / "Sound.bdmv";
  RunResult r = Zv({"sound", "build", out, Sound("click_48k.wav"), Sound("mono_48k.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "0\t" + Sound("click_48k.wav") + "\tstereo\t2400 samples (0.050 s)\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "1\t" + Sound("mono_48k.wav") + "\tmono\t4800 samples (0.100 s)\n")) << r.out;
  EXPECT_EQ(r.err, out + ": Build OK! \n");
  const std::vector<uint8_t> built = zvtest::ReadBytes(out);
  EXPECT_EQ(built.size(), 66u + 9600 + 9600);

  RunResult dump = Zv({"dump", out});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_TRUE(Has(dump.out, "  SoundEntry 2: \n    ChannelConfiguration: 1(Mono)\n")) << dump.out;
  RunResult json = Zv({"dump", out, "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_TRUE(Has(json.out, "\"type\":\"sound.bdmv\"")) << json.out;
  EXPECT_TRUE(Has(json.out, "\"SoundIndex\":{\"Length\":22,\"NumberOfSoundEntries\":2,\"SoundEntry\":[{")) << json.out;
  zvtest::WriteText(dir / "sound.bdmv", "BCLK0200");
  RunResult broken = Zv({"dump", dir / "sound.bdmv"});
  EXPECT_EQ(broken.status, 2);
  EXPECT_TRUE(Has(broken.err, "40-byte header")) << broken.err;

  // An existing file is only replaced when the user says so.
  r = Zv({"sound", "build", out, Sound("stereo_48k.wav")});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(out), built);

  const std::string fresh = dir / "new.bdmv";
  r = Zv({"sound", "build", fresh, Sound("click_48k.wav"), Sound("stereo_44k.wav")});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, Sound("stereo_44k.wav") + ": Incompatible(Only supports 48K, 16-bits, Mono/Stereo)! (44100 Hz)"))
      << r.err;
  r = Zv({"sound", "build", fresh, Sound("stereo_24.wav")});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "(24 bits per sample)")) << r.err;
  EXPECT_FALSE(fs::exists(fresh));

  // 129 sounds: the 129th is refused and nothing is written.
  std::vector<std::string> many = {"sound", "build", fresh};
  for (int i = 0; i < 129; ++i) {
    many.push_back(dir / ("s" + std::to_string(i) + ".wav"));
    WriteWav(many.back(), 4);
  }
  r = Zv(many);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "Max sound count is 128! ")) << r.err;
  EXPECT_FALSE(fs::exists(fresh));
  many.pop_back();
  r = Zv(many);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "127\t")) << r.out;

  // Each WAV fits, together they pass 2 MiB: refused, the old file stays.
  WriteWav(dir / "big1.wav", 1200000);
  WriteWav(dir / "big2.wav", 1200000);
  r = Zv({"sound", "build", out, dir / "big1.wav", dir / "big2.wav", "--yes"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, out + ": Size is more than 2M! ")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(out), built);
  for (const auto& e : fs::directory_iterator(dir.Path()))
    EXPECT_NE(e.path().filename().string()[0], '.') << "left behind: " << e.path();
}

// A link at the output name is replaced with --yes, as the build and mux
// replace theirs; the file it points to keeps its bytes.
TEST(SoundCommands, BuildOverALinkReplacesTheLinkNotItsTarget) {
  zvtest::TempDir dir;
  const std::string target = dir / "elsewhere.bdmv", link = dir / "Sound.bdmv";
  zvtest::WriteText(target, "not a sound file");
  fs::create_symlink(target, link);
  RunResult r = Zv({"sound", "build", dir / "plain.bdmv", Sound("click_48k.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Zv({"sound", "build", link, Sound("click_48k.wav"), "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(zvtest::ReadText(target), "not a sound file");
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(zvtest::ReadBytes(link), zvtest::ReadBytes(dir / "plain.bdmv"));
  // A dangling link is replaced as well.
  fs::remove(link);
  fs::create_symlink(dir / "missing.bdmv", link);
  r = Zv({"sound", "build", link, Sound("click_48k.wav"), "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_FALSE(fs::exists(dir / "missing.bdmv"));
}

TEST(SoundCommands, SetTakesOnlySoundFilesAndIdsMustNameTheirSounds) {
  zvtest::TempDir dir;
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string M = "Movie#1/IG#1";
  const std::string P = M + "/Epoch#1/DisplaySet#1/Page#1";
  ASSERT_EQ(Zv({"page", "add", p, M}).status, 0);
  ASSERT_EQ(Zv({"bog", "add", p, P}).status, 0);
  ASSERT_EQ(Zv({"button", "add", p, P + "/Bog#1"}).status, 0);
  ASSERT_EQ(Zv({"button", "add", p, P + "/Bog#1"}).status, 0);

  // No sound file yet: no id can be set.
  const std::vector<uint8_t> before = zvtest::ReadBytes(p);
  RunResult r = Zv({"set", p, M, "selected-sound=0"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "the project has no sound file")) << r.err;
  zvtest::WriteText(dir / "junk.bdmv", "BCLK0200 is not enough");
  r = Zv({"sound", "set", p, dir / "junk.bdmv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, dir / "junk.bdmv: wrong file format! ")) << r.err;
  r = Zv({"sound", "set", p, dir / "missing.bdmv"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "No such file")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), before);

  ASSERT_EQ(Zv({"sound", "build", dir / "Sound.bdmv", Sound("click_48k.wav"), Sound("mono_48k.wav")}).status, 0);
  r = Zv({"sound", "set", p, dir / "Sound.bdmv"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "sound file: " + (dir / "Sound.bdmv") + " (2 sounds)\n");

  // The menu's sounds go to every button; a button's own may differ.
  r = Zv({"set", p, M, "selected-sound=1", "activated-sound=0"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = Zv({"set", p, P + "/Bog#1/Button#2", "activated-sound=none"});
  ASSERT_EQ(r.status, 0) << r.err;
  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_TRUE(Has(show.out, "sound file: " + (dir / "Sound.bdmv") + "\n")) << show.out;
  size_t selected1 = 0;
  for (size_t at = 0; (at = show.out.find("selected: none, sound 1\n", at)) != std::string::npos; ++at) ++selected1;
  EXPECT_EQ(selected1, 2u) << show.out;
  EXPECT_TRUE(Has(show.out, "activated: none, sound 0\n")) << show.out;
  EXPECT_TRUE(Has(show.out, "activated: none, sound none\n")) << show.out;

  const std::vector<uint8_t> set = zvtest::ReadBytes(p);
  for (const char* pair : {"selected-sound=2", "activated-sound=-1", "selected-sound=x"}) {
    r = Zv({"set", p, M, pair});
    EXPECT_EQ(r.status, 2) << pair;
  }
  r = Zv({"set", p, P + "/Bog#1/Button#1", "selected-sound=2"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "has 2 sounds, ids 0 to 1")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), set);

  // A sound file spoilt after it was set: commands that change the project
  // refuse it, but it can still be replaced or dropped. Dropping it is said
  // to leave ids without their sounds.
  zvtest::WriteText(dir / "Sound.bdmv", "spoilt");
  r = Zv({"set", p, M, "selected-sound=0"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "wrong file format! ")) << r.err;
  EXPECT_EQ(zvtest::ReadBytes(p), set);
  r = Zv({"sound", "set", p, "none"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "sound file: none\n");
  EXPECT_TRUE(Has(r.err, "3 button states use sound ids the sound file does not have")) << r.err;
  EXPECT_TRUE(Has(Zv({"show", p}).out, "sound file: none\n"));
}

// A movie whose clip carries LPCM tracks made from WAV files (2.0/16-bit/
// 48 kHz, 5.1/24/48 with its LFE mask bit, 7.1/24/96, 2.0/24/192) and a
// TrueHD track with its AC-3 core, built with the zelvane commands and read
// back by libbluray (the streams of the title) and ffmpeg: every LPCM
// channel decodes to exactly the WAV's samples in the same named speaker
// position, and the TrueHD stream and its core decode frame for frame like
// their input files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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
using zvtest::HasLine;
using zvtest::FrameHashes;

namespace {

struct Track {
  const char* file;
  const char* bdclient;  // the title's stream line after "stream audio N "
};
const Track kTracks[] = {
    {"lpcm_20_16_48.wav", "coding 0x80 pid 0x1100 format 3 rate 1"},
    {"lpcm_51_24_48.wav", "coding 0x80 pid 0x1101 format 6 rate 1"},
    {"lpcm_71_24_96.wav", "coding 0x80 pid 0x1102 format 6 rate 4"},
    {"lpcm_20_24_192.wav", "coding 0x80 pid 0x1103 format 3 rate 5"},
    {"thd_51.thd", "coding 0x83 pid 0x1104 format 6 rate 1"},
};

class AudioDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!zvtest::HaveProgram("ffmpeg") || !zvtest::HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
    ASSERT_TRUE(error_.empty()) << error_;
  }

  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    std::vector<std::string> add = {"source", "add", d + "/p.zvpj", "Movie#1/Clip#1", d + "/v.264"};
    fs::copy_file(zvtest::DataPath("h264_1080p2398.264"), d + "/v.264");
    fs::copy_file(zvtest::DataPath("thd_51.ac3"), d + "/thd_51.ac3");
    for (const Track& t : kTracks) {
      fs::copy_file(zvtest::DataPath(t.file), d + "/" + t.file);
      add.push_back(d + "/" + t.file);
    }
    const std::vector<std::vector<std::string>> steps = {{"new", d + "/p.zvpj"}, add,
                                                         {"build", d + "/p.zvpj", d + "/out", "--yes"}};
    for (const auto& args : steps) {
      const zvtest::RunResult r = Zelvane(args);
      if (r.status != 0) return "zelvane " + args[0] + " failed:\n" + r.err;
    }
    disc_ = d + "/out/Zelvane/DISC";
    for (const auto& e : fs::directory_iterator(disc_ + "/BDMV/STREAM"))
      if (fs::file_size(e.path()) > 0) clip_ = e.path().string();
    return clip_.empty() ? "no clip written" : "";
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, disc_, clip_;
};
std::unique_ptr<zvtest::TempDir> AudioDisc::dir_;
std::string AudioDisc::error_, AudioDisc::disc_, AudioDisc::clip_;

TEST_F(AudioDisc, LibblurayListsEveryAudioStreamWithFormatAndRate) {
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc_});
  ASSERT_EQ(info.status, 0) << info.err;
  // The movie's title is the one whose clip has audio.
  std::string prefix;
  std::istringstream in(info.out);
  for (std::string l; std::getline(in, l);)
    if (l.find(" stream audio 0 ") != std::string::npos) prefix = l.substr(0, l.find("stream audio"));
  ASSERT_FALSE(prefix.empty()) << info.out;
  for (size_t i = 0; i < std::size(kTracks); ++i)
    EXPECT_TRUE(HasLine(info.out, prefix + "stream audio " + std::to_string(i) + " " + kTracks[i].bdclient +
                                      " aspect 0 subpath 255 lang eng"))
        << kTracks[i].file << "\n" << info.out;
}

// ffprobe's layout name and its speakers in the decoder's channel order.
std::vector<std::string> Speakers(const std::string& input, const std::string& map) {
  std::vector<std::string> argv = {"ffprobe", "-v", "error"};
  if (!map.empty()) argv.insert(argv.end(), {"-select_streams", map});
  argv.insert(argv.end(), {"-show_entries", "stream=channel_layout,channels", "-of", "default=nw=1", input});
  const zvtest::RunResult r = zvtest::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string layout;
  int channels = 0;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("channel_layout=", 0) == 0 && layout.empty()) layout = l.substr(15);
    if (l.rfind("channels=", 0) == 0 && channels == 0) channels = std::stoi(l.substr(9));
  }
  // A WAV without a channel mask is read in the default order of its count.
  static const std::map<std::string, std::vector<std::string>> kLayouts = {
      {"stereo", {"FL", "FR"}},
      {"4.0", {"FL", "FR", "FC", "BC"}},
      {"quad", {"FL", "FR", "BL", "BR"}},
      {"quad(side)", {"FL", "FR", "SL", "SR"}},
      {"5.1", {"FL", "FR", "FC", "LFE", "BL", "BR"}},
      {"5.1(side)", {"FL", "FR", "FC", "LFE", "SL", "SR"}},
      {"7.1", {"FL", "FR", "FC", "LFE", "BL", "BR", "SL", "SR"}},
  };
  if (layout == "unknown" || layout.empty()) {
    static const std::map<int, std::string> kDefault = {{2, "stereo"}, {4, "4.0"}, {6, "5.1"}, {8, "7.1"}};
    auto d = kDefault.find(channels);
    if (d != kDefault.end()) layout = d->second;
  }
  auto it = kLayouts.find(layout);
  EXPECT_NE(it, kLayouts.end()) << input << " " << map << ": " << layout;
  if (it == kLayouts.end()) return {};
  std::vector<std::string> names = it->second;
  // Quad and 5.1 have one surround pair: a WAV calls it back or side, the
  // disc's decoder side.
  if (layout != "4.0" && (names.size() == 4 || names.size() == 6))
    for (std::string& n : names) n = n == "BL" || n == "SL" ? "Ls" : n == "BR" || n == "SR" ? "Rs" : n;
  return names;
}

// The decoded samples, one vector per speaker name.
std::map<std::string, std::vector<int32_t>> Decode(const std::string& input, const std::string& map) {
  const std::vector<std::string> names = Speakers(input, map.empty() ? "" : map.substr(2));
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-i", input};
  if (!map.empty()) argv.insert(argv.end(), {"-map", map});
  argv.insert(argv.end(), {"-c:a", "pcm_s32le", "-f", "s32le", "-"});
  const zvtest::RunResult r = zvtest::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<int32_t>> out;
  if (names.empty()) return out;
  const size_t frames = r.out.size() / 4 / names.size();
  for (size_t c = 0; c < names.size(); ++c) {
    std::vector<int32_t>& v = out[names[c]];
    v.resize(frames);
    for (size_t f = 0; f < frames; ++f) std::memcpy(&v[f], r.out.data() + (f * names.size() + c) * 4, 4);
  }
  return out;
}

TEST_F(AudioDisc, EveryLpcmChannelDecodesToTheWavSamplesInItsOwnSpeaker) {
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(kTracks[i].file);
    const auto wav = Decode(dir_->Path() + "/" + kTracks[i].file, "");
    const auto disc = Decode(clip_, "0:a:" + std::to_string(i));
    ASSERT_FALSE(wav.empty());
    ASSERT_EQ(disc.size(), wav.size()) << "the same speakers";
    for (const auto& [speaker, samples] : wav) {
      auto it = disc.find(speaker);
      ASSERT_NE(it, disc.end()) << speaker;
      ASSERT_EQ(it->second.size(), samples.size()) << speaker;
      EXPECT_TRUE(it->second == samples) << speaker << " carries another channel's samples";
    }
  }
}

TEST_F(AudioDisc, TrueHdAndItsCoreDecodeLikeTheirInputs) {
  // One PID, two streams as the demuxer sees them: the lossless one and its
  // AC-3 core.
  const zvtest::RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-show_entries", "stream=id,codec_name",
                                               "-of", "csv=p=0", clip_});
  ASSERT_EQ(probe.status, 0) << probe.err;
  EXPECT_TRUE(HasLine(probe.out, "truehd,0x1104")) << probe.out;
  EXPECT_TRUE(HasLine(probe.out, "ac3,0x1104")) << probe.out;

  const std::vector<std::string> thd = FrameHashes(dir_->Path() + "/thd_51.thd", "");
  const std::vector<std::string> ac3 = FrameHashes(dir_->Path() + "/thd_51.ac3", "");
  EXPECT_EQ(thd.size(), 1200u);
  EXPECT_FALSE(ac3.empty());
  EXPECT_EQ(FrameHashes(clip_, "0:a:4"), thd) << "TrueHD";
  EXPECT_EQ(FrameHashes(clip_, "0:a:5"), ac3) << "its AC-3 core";
}

// A 24-bit 48 kHz WAV of half a second with one tone per channel (channel
// c at 300 + 150 c Hz), extensible with `mask` or plain when it is 0.
std::vector<uint8_t> ToneWav(uint16_t channels, uint32_t mask) {
  const uint32_t frames = 24000, block = channels * 3u;
  std::vector<uint8_t> w;
  auto le = [&](uint32_t x, int n) {
    for (int i = 0; i < n; ++i) w.push_back(static_cast<uint8_t>(x >> (8 * i)));
  };
  const bool ext = mask != 0;
  w.insert(w.end(), {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  le(ext ? 40 : 16, 4);
  le(ext ? 0xFFFE : 1, 2), le(channels, 2), le(48000, 4), le(48000 * block, 4), le(block, 2), le(24, 2);
  if (ext) {
    le(22, 2), le(24, 2), le(mask, 4);
    w.insert(w.end(), {0x01, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71});
  }
  w.insert(w.end(), {'d', 'a', 't', 'a'});
  le(frames * block, 4);
  for (uint32_t f = 0; f < frames; ++f)
    for (uint16_t c = 0; c < channels; ++c)
      le(static_cast<uint32_t>(static_cast<int32_t>(std::lround(4000000.0 * std::sin(2 * M_PI * (300 + 150 * c) * f / 48000.0)))) & 0xFFFFFF, 3);
  const uint32_t riff = static_cast<uint32_t>(w.size() - 8);
  for (int i = 0; i < 4; ++i) w[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
  return w;
}

TEST_F(AudioDisc, EveryToneComesOutOfTheSpeakerItWentInFor) {
  struct Layout {
    const char* name;
    uint16_t channels;
    uint32_t mask;
  } layouts[] = {
      {"4.0 without a mask", 4, 0},
      {"4.0", 4, 0x107},
      {"quad", 4, 0x33},
      {"5.1 with side surrounds", 6, 0x60F},
      {"5.1 without a mask", 6, 0},
      {"7.1", 8, 0x63F},
  };
  zvtest::TempDir dir;
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const std::string wav = dir / "tones.wav", clip = dir / "tones.m2ts";
    zvtest::WriteBytes(wav, ToneWav(l.channels, l.mask));
    const zvtest::RunResult r = Zelvane({"mux", clip, wav, "--yes"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const auto in = Decode(wav, "");
    const auto out = Decode(clip, "0:a:0");
    ASSERT_EQ(in.size(), l.channels);
    ASSERT_EQ(out.size(), in.size()) << "every channel has its own speaker";
    for (const auto& [speaker, samples] : in) {
      auto it = out.find(speaker);
      ASSERT_NE(it, out.end()) << speaker;
      EXPECT_TRUE(it->second == samples) << speaker << " plays another channel's tone";
    }
  }
  // A layout the disc has no place for is refused, naming it.
  zvtest::WriteBytes(dir / "six.wav", ToneWav(6, 0x137));
  const zvtest::RunResult r = Zelvane({"analyse", dir / "six.wav"});
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("(FL FR FC BL BR BC)"), std::string::npos) << r.err;
}

}  // namespace


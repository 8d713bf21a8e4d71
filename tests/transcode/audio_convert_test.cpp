// Audio conversion checked through independent readers: ffmpeg decodes what
// we wrote (LPCM sample for sample against ffmpeg's decode of the source,
// AC-3 to the right length and channel count) and our own parsers accept it.
// Sources are made with ffmpeg at test time (a second of audio each).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "streams/ac3_parser.h"
#include "streams/lpcm_parser.h"
#include "streams/parser_base.h"
#include "streams/stream_context.h"
#include "support/test_support.h"
#include "transcode/audio_convert.h"

namespace fs = std::filesystem;

namespace {

using zvtest::TempDir;

bool HaveFfmpeg() { return zvtest::HaveProgram("ffmpeg") && zvtest::HaveProgram("ffprobe"); }

// `seconds` of a distinct tone with a little noise on each of `channels`
// channels (a swapped, lost or rounded channel shows), in `layout` at
// `rate`, encoded by ffmpeg with `codec`.
std::string MakeSource(const TempDir& dir, const std::string& name, int channels, const std::string& layout, int rate,
                       const std::vector<std::string>& codec, double seconds = 1.0) {
  std::string exprs;
  for (int c = 0; c < channels; ++c)
    exprs += (c ? "|" : "") + std::string("0.3*sin(") + std::to_string(300 + 200 * c) + "*2*PI*t)+0.05*random(" +
             std::to_string(c) + ")";
  std::vector<std::string> argv = {"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "aevalsrc=exprs=" + exprs + ":c=" + layout + ":s=" + std::to_string(rate) +
                                       ":d=" + std::to_string(seconds)};
  argv.insert(argv.end(), codec.begin(), codec.end());
  argv.push_back(dir / name);
  const zvtest::RunResult r = zvtest::Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  return dir / name;
}

// ffmpeg's decode of `path` as interleaved 32-bit samples; `error` gets
// what ffmpeg said.
std::vector<int32_t> Decode(const std::string& path, std::string& error) {
  const std::string raw = path + ".decoded.raw";
  const zvtest::RunResult r =
      zvtest::Run({"ffmpeg", "-v", "error", "-y", "-i", path, "-f", "s32le", "-c:a", "pcm_s32le", raw});
  error = r.status == 0 ? r.err : "exit " + std::to_string(r.status) + ": " + r.err;
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(raw);
  fs::remove(raw);
  std::vector<int32_t> s(bytes.size() / 4);
  std::memcpy(s.data(), bytes.data(), s.size() * 4);
  return s;
}

int ProbeChannels(const std::string& path) {
  const zvtest::RunResult r = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                           "stream=channels", "-of", "default=nw=1:nk=1", path});
  return r.status == 0 ? std::atoi(r.out.c_str()) : -1;
}

std::set<std::string> FilesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

int Convert(const std::string& path, const std::string& target, zv::SConvertedAudio& out, std::string& error,
            const zv::Progress& progress = {}) {
  zv::SAudioTarget t;
  EXPECT_TRUE(zv::ParseAudioTarget(target, t, error)) << error;
  return zv::ConvertAudio(path, -1, t, progress, out, error);
}

// Our own analysis of the converted file: accepted, with its record.
std::unique_ptr<zv::CSifData> Analyse(const std::string& path, uint32_t* bitRate = nullptr) {
  zv::SStreamContext ctx;
  std::string message;
  EXPECT_EQ(zv::AnalyseStreamFile(path, ctx, message, {}), zv::kOk) << message;
  if (bitRate) *bitRate = ctx.header.bitRate;
  return std::move(ctx.sif);
}

TEST(AudioConvert, TargetsAndBitRates) {
  zv::SAudioTarget t;
  std::string err;
  ASSERT_TRUE(zv::ParseAudioTarget("ac3", t, err));
  EXPECT_EQ(t.kind, zv::SAudioTarget::kAc3);
  EXPECT_EQ(t.bitRate, 0u);
  ASSERT_TRUE(zv::ParseAudioTarget("AC3:384k", t, err));
  EXPECT_EQ(t.bitRate, 384000u);
  ASSERT_TRUE(zv::ParseAudioTarget("lpcm", t, err));
  EXPECT_EQ(t.kind, zv::SAudioTarget::kLpcm);
  // Past the disc's 640 kbit/s, and rates AC-3 does not have.
  EXPECT_FALSE(zv::ParseAudioTarget("ac3:768", t, err));
  EXPECT_NE(err.find("640"), std::string::npos) << err;
  EXPECT_FALSE(zv::ParseAudioTarget("ac3:450", t, err));
  EXPECT_FALSE(zv::ParseAudioTarget("mp3", t, err));
  EXPECT_NE(err.find("ac3, ac3:BITRATE (kbit/s) or lpcm"), std::string::npos) << err;
}

// FLAC and PCM become LPCM with every sample kept: ffmpeg's decode of the
// WAV we wrote equals its decode of the source, channel for channel, with
// silence in the disc layout's speakers the source does not have.
TEST(AudioConvert, LosslessSourcesToLpcmAreExact) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  struct Case {
    const char* name;
    int channels;
    const char* layout;
    std::vector<std::string> codec;
    int bits;                   // expected in the WAV
    std::vector<int> slots;     // output channel -> source channel, -1 silent
  };
  const Case cases[] = {
      {"s16.flac", 2, "stereo", {"-c:a", "flac", "-sample_fmt", "s16"}, 16, {0, 1}},
      {"s24_51.flac", 6, "5.1", {"-c:a", "flac", "-sample_fmt", "s32"}, 24, {0, 1, 2, 3, 4, 5}},
      {"mono16.wav", 1, "mono", {"-c:a", "pcm_s16le"}, 16, {0, 0}},
      // FL FR LFE goes into 5.1 (FL FR FC LFE BL BR).
      {"s24_21.wav", 3, "2.1", {"-c:a", "pcm_s24le"}, 24, {0, 1, -1, 2, -1, -1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string src = MakeSource(dir, c.name, c.channels, c.layout, 48000, c.codec);
    zv::SConvertedAudio out;
    std::string error;
    ASSERT_EQ(Convert(src, "lpcm", out, error), zv::kOk) << error;
    EXPECT_EQ(zv::FolderOf(out.path), dir.Path());
    EXPECT_EQ(out.note.empty(), c.slots.size() == static_cast<size_t>(c.channels)) << out.note;

    std::string why;
    const std::vector<int32_t> a = Decode(src, why);
    ASSERT_TRUE(why.empty()) << why;
    const std::vector<int32_t> b = Decode(out.path, why);
    ASSERT_TRUE(why.empty()) << why;
    const size_t outCh = c.slots.size();
    ASSERT_EQ(a.size() / c.channels, 48000u);
    ASSERT_EQ(b.size(), a.size() / c.channels * outCh);
    size_t differing = 0;
    for (size_t i = 0; i < 48000; ++i)
      for (size_t o = 0; o < outCh; ++o)
        differing += b[i * outCh + o] != (c.slots[o] < 0 ? 0 : a[i * c.channels + c.slots[o]]);
    EXPECT_EQ(differing, 0u);

    auto sif = Analyse(out.path);
    auto* wav = dynamic_cast<zv::PCM_WAVE_FORMAT*>(sif.get());
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(wav->validBits, c.bits);
    EXPECT_EQ(wav->samplesPerSec, 48000u);
    EXPECT_EQ(wav->channels, outCh);
  }
}

// Lossy and 44.1 kHz sources become AC-3 that ffmpeg decodes without a
// complaint to the source's length (within a frame) and channel count,
// at the default rate of their channel count, and that our parser takes.
TEST(AudioConvert, LossySourcesToAc3) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  struct Case {
    const char* name;
    int channels;
    const char* layout;
    int rate;
    std::vector<std::string> codec;
    const char* target;
    uint32_t bitRate;
    uint8_t presentation;
  };
  const Case cases[] = {
      {"stereo.aac", 2, "stereo", 48000, {"-c:a", "aac"}, "ac3", 448000, 3},
      {"surround.aac", 6, "5.1", 48000, {"-c:a", "aac"}, "ac3", 640000, 6},
      {"cd.mp3", 2, "stereo", 44100, {"-c:a", "libmp3lame"}, "ac3:192", 192000, 3},
      {"music.m4a", 2, "stereo", 44100, {"-c:a", "aac"}, "ac3", 448000, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string src = MakeSource(dir, c.name, c.channels, c.layout, c.rate, c.codec);
    zv::SAudioFacts facts;
    std::string error;
    ASSERT_TRUE(zv::ProbeAudio(src, -1, facts, error)) << error;
    EXPECT_FALSE(facts.discCarries);
    EXPECT_FALSE(facts.whyNot.empty());

    zv::SConvertedAudio out;
    ASSERT_EQ(Convert(src, c.target, out, error), zv::kOk) << error;
    EXPECT_EQ(zv::ExtensionOf(out.path), ".ac3");
    std::string why;
    const std::vector<int32_t> source = Decode(src, why);
    ASSERT_TRUE(why.empty()) << why;
    const std::vector<int32_t> decoded = Decode(out.path, why);
    EXPECT_TRUE(why.empty()) << why;
    EXPECT_EQ(ProbeChannels(out.path), c.channels);
    const double sourceSamples48k = static_cast<double>(source.size() / c.channels) * 48000 / c.rate;
    EXPECT_NEAR(static_cast<double>(decoded.size() / c.channels), sourceSamples48k, 1536.0);

    uint32_t bitRate = 0;
    auto sif = Analyse(out.path, &bitRate);
    auto* ac3 = dynamic_cast<zv::AC3_AUDIO_DESCRIPTOR*>(sif.get());
    ASSERT_NE(ac3, nullptr);
    EXPECT_EQ(ac3->GetPresentationType(), c.presentation);
    EXPECT_EQ(ac3->GetSamplingFrequency(), 1);
    EXPECT_EQ(bitRate, c.bitRate);
  }
}

// A conversion is kept with the identity of its source: made once, found
// again, and made again when the source changes.
TEST(AudioConvert, CachedUntilTheSourceChanges) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string src = MakeSource(dir, "a.flac", 2, "stereo", 44100, {"-c:a", "flac"});
  zv::SConvertedAudio first, second, third;
  std::string error;
  ASSERT_EQ(Convert(src, "lpcm", first, error), zv::kOk) << error;
  EXPECT_FALSE(first.reused);
  ASSERT_EQ(Convert(src, "lpcm", second, error), zv::kOk) << error;
  EXPECT_TRUE(second.reused);
  EXPECT_EQ(second.path, first.path);
  // Another second of audio under the same name.
  MakeSource(dir, "a.flac", 2, "stereo", 44100, {"-c:a", "flac"}, 2.0);
  ASSERT_EQ(Convert(src, "lpcm", third, error), zv::kOk) << error;
  EXPECT_FALSE(third.reused);
  std::string why;
  EXPECT_EQ(Decode(third.path, why).size(), 2u * 96000);
}

// Damage is refused with the decoder's reason, a cancel stops the work,
// and neither leaves a file behind.
TEST(AudioConvert, DamageAndCancelLeaveNothing) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string src = MakeSource(dir, "d.flac", 2, "stereo", 48000, {"-c:a", "flac"}, 3.0);
  std::vector<uint8_t> bytes = zvtest::ReadBytes(src);
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) bytes[i] ^= 0x5A;
  const std::string damaged = dir / "damaged.flac";
  zvtest::WriteBytes(damaged, bytes);
  const std::set<std::string> before = FilesIn(dir.Path());

  zv::SConvertedAudio out;
  std::string error;
  EXPECT_EQ(Convert(damaged, "ac3", out, error), zv::kFailed);
  EXPECT_EQ(error.rfind("Cannot convert the audio of \"" + damaged + "\": ", 0), 0u) << error;
  EXPECT_EQ(FilesIn(dir.Path()), before);

  struct Count {
    int calls = 0;
  } count;
  const zv::Progress stopAtSecond{[](void* ctx, const zv::SProgressInfo* info) {
                                    auto* c = static_cast<Count*>(ctx);
                                    return info->kind == zv::kProgressValue && ++c->calls >= 2 ? 0 : 1;
                                  },
                                  &count};
  for (const char* target : {"lpcm", "ac3"}) {
    EXPECT_EQ(Convert(src, target, out, error, stopAtSecond), zv::kCancelled) << target;
    EXPECT_EQ(FilesIn(dir.Path()), before) << target;
    count.calls = 0;
  }
}

// A write that fails (here past a file-size limit) in both places is
// reported with the system's reason, and leaves no file in either.
TEST(AudioConvert, WriteFailureIsReportedAndLeavesNothing) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string src = MakeSource(dir, "big.flac", 6, "5.1", 48000, {"-c:a", "flac", "-sample_fmt", "s32"}, 2.0);
  const std::set<std::string> before = FilesIn(dir.Path());
  const std::set<std::string> tempBefore = FilesIn(zv::TempFolder());
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 256 * 1024;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  zv::SConvertedAudio out;
  std::string error;
  const int rc = Convert(src, "lpcm", out, error);
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(rc, zv::kFailed);
  EXPECT_EQ(error.rfind("Cannot write the converted audio of \"" + src + "\": Cannot write ", 0), 0u) << error;
  EXPECT_EQ(FilesIn(dir.Path()), before);
  std::set<std::string> added;
  for (const std::string& n : FilesIn(zv::TempFolder()))
    if (!tempBefore.count(n) && n.find("big.flac") != std::string::npos) added.insert(n);
  EXPECT_TRUE(added.empty()) << *added.begin();
}

// A source folder that cannot take the file (here a folder holds the
// converted file's name) sends it to the temporary folder, where the next
// conversion finds it.
TEST(AudioConvert, BlockedPlaceFallsBackToTemporaryFolder) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string src = MakeSource(dir, "ro.mp3", 2, "stereo", 44100, {"-c:a", "libmp3lame"});
  fs::create_directories(src + ".a0.ac3-448.ac3/inside");
  zv::SConvertedAudio out, again;
  std::string error;
  ASSERT_EQ(Convert(src, "ac3", out, error), zv::kOk) << error;
  EXPECT_EQ(zv::FolderOf(out.path), zv::TempFolder());
  EXPECT_EQ(Convert(src, "ac3", again, error), zv::kOk) << error;
  EXPECT_TRUE(again.reused);
  EXPECT_EQ(again.path, out.path);
  std::string why;
  Decode(out.path, why);
  EXPECT_TRUE(why.empty()) << why;
  fs::remove(out.path);
  fs::remove(out.path + ".source");
  // Nothing but the source and the blocking folder stays beside it.
  EXPECT_EQ(FilesIn(dir.Path()), (std::set<std::string>{"ro.mp3", "ro.mp3.a0.ac3-448.ac3"}));
}

}  // namespace

// Discs made straight from container files (Matroska with length-prefixed
// H.264, two AC-3 tracks, PGS and chapters; an MP4 with AAC; a camera's
// .mts; a DVD's .vob), read back by libbluray and ffmpeg: the video decodes
// frame for frame like the container's own, the audio sample for sample,
// with the container's languages and chapters, and no extracted copy of a
// track is left beside the container. Refusals (HEVC, AAC, damaged files)
// leave the project as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::FrameHashes;
using zvtest::Lines;
using zvtest::Zelvane;

namespace {

// The decoded samples of one audio stream, as one hash (frame boundaries of
// a container and of a clip need not agree).
std::string SampleHash(const std::string& input, const std::string& map) {
  const zvtest::RunResult r = zvtest::Run(
      {"ffmpeg", "-nostdin", "-v", "error", "-i", input, "-map", map, "-f", "s32le", "-c:a", "pcm_s32le", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(r.out.empty());
  return std::to_string(r.out.size()) + ":" + std::to_string(std::hash<std::string>{}(r.out));
}

// The subtitle frames ffprobe decodes from the first subtitle stream.
std::string SubtitleFrames(const std::string& input) {
  const zvtest::RunResult r = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "s:0", "-count_frames",
                                           "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", input});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out.substr(0, r.out.find_first_of("\r\n"));
}

struct Disc {
  std::string error, disc, clip, addOut;
};

// Copies the fixture, makes a project, adds the container with `extra`
// options and builds the disc.
Disc BuildFrom(const zvtest::TempDir& dir, const std::string& fixture, const std::vector<std::string>& extra) {
  Disc d;
  const std::string src = dir / fs::path(fixture).filename().string();
  fs::copy_file(zvtest::DataPath("containers/" + fixture), src, fs::copy_options::overwrite_existing);
  std::vector<std::string> add = {"source", "add", dir / "p.zvpj", "Movie#1/Clip#1", src};
  add.insert(add.end(), extra.begin(), extra.end());
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"new", dir / "p.zvpj"}, add, {"build", dir / "p.zvpj", dir / "out", "--yes"}}) {
    const zvtest::RunResult r = Zelvane(args);
    if (args[0] == "source") d.addOut = r.out + r.err;
    if (r.status != 0) {
      d.error = "zelvane " + args[0] + " failed:\n" + r.out + r.err;
      return d;
    }
  }
  d.disc = dir / "out/Zelvane/DISC";
  size_t largest = 0;
  for (const auto& e : fs::directory_iterator(d.disc + "/BDMV/STREAM"))
    if (fs::file_size(e.path()) > largest) {
      largest = fs::file_size(e.path());
      d.clip = e.path().string();
    }
  if (d.clip.empty()) d.error = "no clip written";
  return d;
}

// Nothing beside the container is more than a small index: no track was
// extracted into a file of its own.
void ExpectNoCopyBeside(const zvtest::TempDir& dir, const std::string& container) {
  const auto size = fs::file_size(dir / container);
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    if (!e.is_regular_file() || e.path().filename() == container) continue;
    if (e.path().extension() == ".zvpj") continue;
    EXPECT_LT(fs::file_size(e.path()), size / 8) << e.path();
  }
}

bool Have() { return zvtest::HaveProgram("ffmpeg") && fs::exists(ZV_BDCLIENT); }

TEST(ContainerDisc, MatroskaTracksLanguagesChaptersAndDecodedOutput) {
  if (!Have()) GTEST_SKIP() << "ffmpeg or the libbluray client missing";
  zvtest::TempDir dir;
  const Disc d = BuildFrom(dir, "movie.mkv", {"--chapters"});
  ASSERT_TRUE(d.error.empty()) << d.error;
  // The listing names each track with its codec, language, title and flags.
  EXPECT_NE(d.addOut.find("1  audio    ac3                eng  \"English 5.1\"  default"), std::string::npos) << d.addOut;
  EXPECT_NE(d.addOut.find("3  subtitle hdmv_pgs_subtitle  ger"), std::string::npos) << d.addOut;
  EXPECT_NE(d.addOut.find("forced"), std::string::npos) << d.addOut;
  EXPECT_NE(d.addOut.find("2 chapters to 1 play item"), std::string::npos) << d.addOut;
  ExpectNoCopyBeside(dir, "movie.mkv");

  const std::string mkv = dir / "movie.mkv";
  const std::vector<std::string> video = FrameHashes(mkv, "0:v:0");
  ASSERT_FALSE(video.empty());
  EXPECT_EQ(FrameHashes(d.clip, "0:v:0"), video);
  EXPECT_EQ(SampleHash(d.clip, "0:a:0"), SampleHash(mkv, "0:a:0"));
  EXPECT_EQ(SampleHash(d.clip, "0:a:1"), SampleHash(mkv, "0:a:1"));
  // The subtitles decode to as many display sets.
  const std::string mkvSubs = SubtitleFrames(mkv);
  EXPECT_NE(mkvSubs, "0");
  EXPECT_EQ(SubtitleFrames(d.clip), mkvSubs);

  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", d.disc});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("stream audio 0 coding 0x81 pid 0x1100 format 6 rate 1 aspect 0 subpath 255 lang eng"),
            std::string::npos) << info.out;
  EXPECT_NE(info.out.find("stream audio 1 coding 0x81 pid 0x1101 format 3 rate 1 aspect 0 subpath 255 lang fre"),
            std::string::npos) << info.out;
  EXPECT_NE(info.out.find("stream pg 0 coding 0x90 pid 0x1200"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("lang ger"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("chapters 2 "), std::string::npos) << info.out;
}

// Tracks read straight from the container's file (its index found their
// packets there) make the clip that reading them through the demuxer
// makes, byte for byte.
TEST(ContainerDisc, ClipsReadFromTheFileAreTheClipsReadThroughTheDemuxer) {
  for (const auto& [fixture, tracks] : {std::pair<std::string, std::string>{"movie.mkv", "0,1,2,3"}, {"phone.mp4", "0"}}) {
    zvtest::TempDir dir;
    const Disc d = BuildFrom(dir, fixture, {"--tracks", tracks});
    ASSERT_TRUE(d.error.empty()) << d.error;
    const std::string table = dir / (fixture + ".zvd");
    ASSERT_TRUE(fs::exists(table)) << fixture;
    fs::remove(table);
    const zvtest::RunResult again = Zelvane({"build", dir / "p.zvpj", dir / "out2", "--yes"});
    ASSERT_EQ(again.status, 0) << again.out << again.err;
    int clips = 0;
    for (const auto& e : fs::directory_iterator(d.disc + "/BDMV/STREAM")) {
      ++clips;
      EXPECT_TRUE(zvtest::ReadBytes(e.path()) ==
                  zvtest::ReadBytes(dir / "out2/Zelvane/DISC/BDMV/STREAM" / e.path().filename()))
          << fixture << ": " << e.path().filename();
    }
    EXPECT_GT(clips, 0) << fixture;
  }
}

TEST(ContainerDisc, CameraMtsAndDvdVobDecodeLikeTheirContainers) {
  if (!Have()) GTEST_SKIP() << "ffmpeg or the libbluray client missing";
  for (const char* name : {"camera.mts", "dvd.vob"}) {
    SCOPED_TRACE(name);
    zvtest::TempDir dir;
    const Disc d = BuildFrom(dir, name, {});
    ASSERT_TRUE(d.error.empty()) << d.error;
    const std::string src = dir / name;
    const std::vector<std::string> video = FrameHashes(src, "0:v:0");
    ASSERT_FALSE(video.empty());
    EXPECT_EQ(FrameHashes(d.clip, "0:v:0"), video);
    EXPECT_EQ(SampleHash(d.clip, "0:a:0"), SampleHash(src, "0:a:0"));
    const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", d.disc});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("stream audio 0 coding 0x81 pid 0x1100"), std::string::npos) << info.out;
  }
}

// E-AC-3 as a disc carries it (an AC-3 core with dependent substreams),
// remuxed into Matroska or a transport stream, is taken as it is: the clip
// holds the same frames, as coding 0x84. Without the core it needs the
// conversion option.
TEST(ContainerDisc, EnhancedAc3WithItsCoreIsCarriedAndWithoutItNeedsConverting) {
  if (!Have() || !zvtest::HaveProgram("mkvmerge")) GTEST_SKIP() << "ffmpeg, mkvmerge or the libbluray client missing";
  zvtest::TempDir dir;
  const std::string eac3 = zvtest::DataPath("eac3_71.ac3");
  const std::string mkv = dir / "core.mkv", ts = dir / "core.ts", plain = dir / "plain.mkv";
  ASSERT_EQ(zvtest::Run({"mkvmerge", "-q", "-o", mkv, "--default-duration", "0:24000/1001p",
                         zvtest::DataPath("h264_1080p2398.264"), eac3})
                .status,
            0);
  ASSERT_EQ(zvtest::Run({"ffmpeg", "-nostdin", "-v", "quiet", "-i", mkv, "-map", "0", "-c", "copy", "-f", "mpegts", ts})
                .status,
            0);
  ASSERT_EQ(zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "sine=frequency=440:duration=1",
                         "-ar", "48000", "-c:a", "eac3", plain})
                .status,
            0);
  const std::vector<uint8_t> frames = zvtest::ReadBytes(eac3);
  for (const std::string& src : {mkv, ts}) {
    SCOPED_TRACE(src);
    const std::string p = src + ".zvpj", out = src + ".out";
    ASSERT_EQ(Zelvane({"new", p}).status, 0);
    const zvtest::RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#1", src});
    ASSERT_EQ(add.status, 0) << add.out << add.err;
    const zvtest::RunResult build = Zelvane({"build", p, out, "--yes"});
    ASSERT_EQ(build.status, 0) << build.out << build.err;
    std::string clip;
    for (const auto& e : fs::directory_iterator(out + "/Zelvane/DISC/BDMV/STREAM"))
      if (clip.empty() || fs::file_size(e.path()) > fs::file_size(clip)) clip = e.path().string();
    const zvtest::RunResult copy =
        zvtest::Run({"ffmpeg", "-nostdin", "-v", "quiet", "-i", clip, "-map", "0:a:0", "-c", "copy", "-f", "eac3", "-"});
    EXPECT_TRUE(std::vector<uint8_t>(copy.out.begin(), copy.out.end()) == frames) << "the clip's audio differs";
    const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", out + "/Zelvane/DISC"});
    EXPECT_NE(info.out.find("stream audio 0 coding 0x84"), std::string::npos) << info.out;
  }
  ASSERT_EQ(Zelvane({"new", dir / "plain.zvpj"}).status, 0);
  const zvtest::RunResult refused = Zelvane({"source", "add", dir / "plain.zvpj", "Movie#1/Clip#1", plain});
  EXPECT_NE(refused.status, 0);
  EXPECT_NE((refused.out + refused.err).find("E-AC-3 without an AC-3 core is not an audio format a disc carries; use "
                                             "--convert-audio"),
            std::string::npos)
      << refused.out << refused.err;
}

// Refused files leave the project file byte for byte as it was.
class ContainerRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Zelvane({"new", dir_ / "p.zvpj"}).status, 0);
    before_ = zvtest::ReadBytes(dir_ / "p.zvpj");
  }
  zvtest::RunResult Add(const std::string& file, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"source", "add", dir_ / "p.zvpj", "Movie#1/Clip#1", file};
    args.insert(args.end(), extra.begin(), extra.end());
    return Zelvane(args);
  }
  void ExpectUnchanged() { EXPECT_EQ(zvtest::ReadBytes(dir_ / "p.zvpj"), before_); }
  std::string Copy(const std::string& fixture) {
    const std::string to = dir_ / fixture;
    fs::copy_file(zvtest::DataPath("containers/" + fixture), to, fs::copy_options::overwrite_existing);
    return to;
  }
  zvtest::TempDir dir_;
  std::vector<uint8_t> before_;
};

TEST_F(ContainerRefusal, AacNeedsTheConversionOptionAndTheVideoAloneIsTaken) {
  const std::string mp4 = Copy("phone.mp4");
  const zvtest::RunResult r = Add(mp4);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("track 1: aac is not an audio format a disc carries; use --convert-audio ac3 or "
                       "--convert-audio lpcm"),
            std::string::npos) << r.err;
  ExpectUnchanged();
  const zvtest::RunResult chosen = Add(mp4, {"--tracks", "1"});
  EXPECT_EQ(chosen.status, 2);
  EXPECT_NE(chosen.err.find("--convert-audio"), std::string::npos) << chosen.err;
  ExpectUnchanged();

  const zvtest::RunResult video = Add(mp4, {"--tracks", "0"});
  ASSERT_EQ(video.status, 0) << video.err;
  EXPECT_NE(video.out.find("Movie#1/Clip#1/Track#1"), std::string::npos) << video.out;
  if (!zvtest::HaveProgram("ffmpeg")) return;
  ASSERT_EQ(Zelvane({"build", dir_ / "p.zvpj", dir_ / "out", "--yes"}).status, 0);
  std::string clip;
  for (const auto& e : fs::directory_iterator(dir_ / "out/Zelvane/DISC/BDMV/STREAM"))
    if (clip.empty() || fs::file_size(e.path()) > fs::file_size(clip)) clip = e.path().string();
  const std::vector<std::string> video0 = FrameHashes(mp4, "0:v:0");
  ASSERT_FALSE(video0.empty());
  EXPECT_EQ(FrameHashes(clip, "0:v:0"), video0);
}

// With --convert-audio the container's AAC goes in as its AC-3 conversion,
// beside the video read from the container.
TEST_F(ContainerRefusal, ContainerAacIsTakenAsItsConversion) {
  if (!zvtest::HaveProgram("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  const std::string mp4 = Copy("phone.mp4");
  const zvtest::RunResult r = Add(mp4, {"--convert-audio", "ac3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Movie#1/Clip#1/Track#2"), std::string::npos) << r.out;
  ASSERT_EQ(Zelvane({"build", dir_ / "p.zvpj", dir_ / "out", "--yes"}).status, 0);
  const std::string disc = dir_ / "out/Zelvane/DISC";
  const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", disc});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("stream audio 0 coding 0x81 pid 0x1100"), std::string::npos) << info.out;
  std::string clip;
  for (const auto& e : fs::directory_iterator(disc + "/BDMV/STREAM"))
    if (clip.empty() || fs::file_size(e.path()) > fs::file_size(clip)) clip = e.path().string();
  // The conversion decodes without error to the source's channels and length.
  auto probe = [](const std::string& file, const std::string& entry) {
    const zvtest::RunResult p = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                                             entry, "-of", "default=nw=1:nk=1", file});
    EXPECT_EQ(p.status, 0) << p.err;
    return Lines(p.out);
  };
  // (An m2ts lists its streams again under its program: the first line counts.)
  const std::vector<std::string> chClip = probe(clip, "stream=channels"), chSrc = probe(mp4, "stream=channels");
  ASSERT_FALSE(chClip.empty());
  ASSERT_FALSE(chSrc.empty());
  EXPECT_EQ(chClip[0], chSrc[0]);
  const zvtest::RunResult decoded = zvtest::Run({"ffmpeg", "-nostdin", "-v", "error", "-i", clip, "-map", "0:a:0",
                                                 "-f", "framemd5", "-"});
  EXPECT_EQ(decoded.status, 0);
  EXPECT_EQ(decoded.err, "");
  const std::vector<std::string> src = probe(mp4, "stream=duration"), got = probe(clip, "stream=duration");
  ASSERT_FALSE(src.empty());
  ASSERT_FALSE(got.empty());
  EXPECT_NEAR(std::stod(got[0]), std::stod(src[0]), 0.1);
  EXPECT_EQ(FrameHashes(clip, "0:v:0"), FrameHashes(mp4, "0:v:0"));
}

TEST_F(ContainerRefusal, HevcNeedsEncodingAndUnknownTrackNumbersAreNamed) {
  const zvtest::RunResult r = Add(Copy("hevc.mkv"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("hevc video is not a disc format"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--encode"), std::string::npos) << r.err;
  const zvtest::RunResult missing = Add(Copy("movie.mkv"), {"--tracks", "0,7"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("has no track 7"), std::string::npos) << missing.err;
  ExpectUnchanged();
}

TEST_F(ContainerRefusal, DamagedContainersAreRefusedNamingTheFile) {
  const std::vector<uint8_t> good = zvtest::ReadBytes(zvtest::DataPath("containers/movie.mkv"));
  // Cut inside the headers, and the first bytes flipped.
  const std::string cut = dir_ / "cut.mkv";
  zvtest::WriteBytes(cut, std::vector<uint8_t>(good.begin(), good.begin() + 200));
  std::vector<uint8_t> flipped = good;
  for (size_t i = 0; i < 64; ++i) flipped[i] ^= 0xFF;
  const std::string bad = dir_ / "flipped.mkv";
  zvtest::WriteBytes(bad, flipped);
  for (const std::string& f : {cut, bad}) {
    const zvtest::RunResult r = Add(f);
    EXPECT_EQ(r.status, 2) << f;
    EXPECT_NE(r.err.find("\"" + f + "\""), std::string::npos) << r.err;
    ExpectUnchanged();
  }
  // Damage inside the clusters: refused or taken, never a crash, and what
  // is taken builds.
  std::vector<uint8_t> middle = good;
  for (size_t i = good.size() / 2; i < good.size() / 2 + 4096; i += 7) middle[i] ^= 0x5A;
  const std::string mid = dir_ / "middle.mkv";
  zvtest::WriteBytes(mid, middle);
  const zvtest::RunResult r = Add(mid);
  EXPECT_TRUE(r.status == 0 || r.status == 2) << r.err;
  if (r.status == 2) ExpectUnchanged();
}

TEST_F(ContainerRefusal, ContainerChangedAfterAddingIsRefusedAtBuild) {
  const std::string mkv = Copy("camera.mts");
  ASSERT_EQ(Add(mkv).status, 0);
  // Same length, one byte of the payload changed and a new time.
  std::vector<uint8_t> bytes = zvtest::ReadBytes(mkv);
  bytes[bytes.size() / 2] ^= 1;
  zvtest::WriteBytes(mkv, bytes);
  fs::last_write_time(mkv, fs::last_write_time(mkv) + std::chrono::seconds(5));
  const zvtest::RunResult build = Zelvane({"build", dir_ / "p.zvpj", dir_ / "out", "--yes"});
  EXPECT_EQ(build.status, 2);
  EXPECT_NE((build.out + build.err).find("changed since its tracks were added"), std::string::npos)
      << build.out << build.err;
  EXPECT_FALSE(fs::exists(dir_ / "out/Zelvane/DISC/BDMV/index.bdmv"));
}

}  // namespace

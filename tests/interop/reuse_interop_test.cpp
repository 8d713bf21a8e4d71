// Discs whose clip reuses the streams of a clip made earlier by `zelvane
// mux`, as independent readers see them: ffmpeg decodes every reused
// stream frame for frame like the original clip (and every added raw
// stream like its file), libbluray lists the streams with their PIDs and
// attributes, and the decoder buffers replayed from the built clip neither
// overflow nor starve, with PCRs at most 100 ms apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "bdnav/playlist_file.h"
#include "mux/clip_info.h"
#include "mux/muxer_clip_check.h"
#include "platform/progress.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;
using zv::ClipInformationFile;

RunResult Zv(std::vector<std::string> args) {
  args.insert(args.begin(), ZV_BINARY);
  return Run(args);
}

// Frame checksums of one stream, without the header naming the input.
std::string FrameMd5(const std::string& input, const std::string& map) {
  std::vector<std::string> argv{"ffmpeg", "-v", "error", "-i", input};
  if (!map.empty()) argv.insert(argv.end(), {"-map", map});
  argv.insert(argv.end(), {"-f", "framemd5", "-"});
  const RunResult r = Run(argv);
  EXPECT_EQ(r.status, 0) << r.err;
  std::istringstream in(r.out);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    // Stream index, then dts, pts, duration, size and hash: the raw file's
    // index and times differ from the clip's, so only size and hash count.
    size_t comma = line.find(',');
    for (int i = 0; i < 3 && comma != std::string::npos; ++i) comma = line.find(',', comma + 1);
    out += line.substr(comma == std::string::npos ? 0 : comma + 1) + "\n";
  }
  EXPECT_FALSE(out.empty()) << input << " " << map;
  return out;
}

void CheckBuffers(const std::string& built, const std::vector<std::pair<uint16_t, StdParams>>& streams) {
  const ClipReading c = ReadClip(built);
  ASSERT_TRUE(c.error.empty()) << c.error;
  for (const auto& [pid, sp] : streams) EXPECT_EQ(ReplayStd(c, pid, sp), "") << std::hex << pid;
  EXPECT_LE(MaxPcrGap(c), kMaxPcrGap);
}

// A new project `name` in `dir` whose movie clip takes streams of `clip`
// (`options` of `source add`) plus the raw files, built; the disc's root
// goes to `root` and the built clip's path is returned.
std::string BuildReusing(const TempDir& dir, const std::string& name, const std::string& clip,
                         const std::vector<std::string>& options, const std::vector<std::string>& raw,
                         std::string& root) {
  const std::string p = dir / (name + ".zvpj");
  EXPECT_EQ(Zv({"new", p}).status, 0);
  std::vector<std::string> add{"source", "add", p, "Movie#1/Clip#1", clip};
  add.insert(add.end(), options.begin(), options.end());
  RunResult r = Zv(add);
  EXPECT_EQ(r.status, 0) << r.err;
  if (!raw.empty()) {
    std::vector<std::string> more{"source", "add", p, "Movie#1/Clip#1"};
    more.insert(more.end(), raw.begin(), raw.end());
    r = Zv(more);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  r = Zv({"build", p, dir / name, "--yes"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  root = dir / (name + "/Zelvane/DISC");
  return root + "/BDMV/STREAM/00000.m2ts";
}

class ReuseDisc : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    src = dir / "src";
    std::filesystem::create_directories(src);
    for (const char* f : {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"}) CopyFixture(f, src);
    CopyFixture("subtitles/subs_eng.sup", src);
    clip = src + "/00001.m2ts";
    const RunResult r = Zv({"mux", clip, src + "/h264_1080p2398.264", "--lang", "fra", src + "/ac3_stereo.ac3",
                            src + "/ac3_51.ac3", src + "/subs_eng.sup", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
  }

  // Builds a project whose movie clip takes `pids` of the clip plus the
  // raw files; returns the built clip.
  std::string Build(const std::string& name, const std::string& pids, const std::vector<std::string>& raw) {
    std::vector<std::string> options;
    if (!pids.empty()) options = {"--pids", pids};
    return BuildReusing(dir, name, clip, options, raw, root);
  }

  std::string BdInfo() {
    const RunResult r = zvtest::Run({ZV_BDCLIENT, "info", root});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  TempDir dir;
  std::string src, clip, root;
};

TEST_F(ReuseDisc, EveryStreamReusedDecodesLikeTheOriginal) {
  const std::string built = Build("all", "", {});
  for (const char* map : {"0:0", "0:1", "0:2"}) EXPECT_EQ(FrameMd5(built, map), FrameMd5(clip, map)) << map;
  // Subtitles are compared packet for packet.
  const RunResult a = zvtest::Run({"ffmpeg", "-v", "error", "-i", clip, "-map", "0:3", "-c", "copy", "-f", "framemd5", "-"});
  const RunResult b = zvtest::Run({"ffmpeg", "-v", "error", "-i", built, "-map", "0:3", "-c", "copy", "-f", "framemd5", "-"});
  EXPECT_EQ(a.out.substr(a.out.find("\n0,")), b.out.substr(b.out.find("\n0,")));
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});

  const std::string info = BdInfo();
  const std::string c = "title 0 clip 0 ";
  EXPECT_TRUE(HasLine(info, c + "stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang fra")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang eng")) << info;
  EXPECT_TRUE(HasLine(info, c + "stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang eng")) << info;
}

TEST_F(ReuseDisc, ReusedVideoWithNewAudioAndSubtitles) {
  const std::string ac3 = CopyFixture("ac3_51.ac3", dir / "");
  const std::string sup = CopyFixture("subtitles/subs_fra.sup", dir / "");
  const std::string built = Build("mix", "0x1011,0x1100", {ac3, sup});
  EXPECT_EQ(FrameMd5(built, "0:0"), FrameMd5(clip, "0:0"));
  EXPECT_EQ(FrameMd5(built, "0:1"), FrameMd5(clip, "0:1"));
  EXPECT_EQ(FrameMd5(built, "0:2"), FrameMd5(ac3, ""));
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});

  // Every stream starts where it starts in the clip multiplexed from the
  // files themselves.
  const std::string ref = dir / "ref.m2ts";
  const RunResult r = Zv({"mux", ref, src + "/h264_1080p2398.264", "--lang", "fra", src + "/ac3_stereo.ac3", ac3,
                          "--lang", "fra", sup, "--yes"});
  ASSERT_EQ(r.status, 0) << r.err;
  const ClipReading c = ReadClip(built), want = ReadClip(ref);
  ASSERT_TRUE(c.error.empty() && want.error.empty()) << c.error << want.error;
  for (uint16_t pid : {0x1011, 0x1100, 0x1101, 0x1200}) {
    ASSERT_TRUE(c.units.count(pid) && want.units.count(pid)) << std::hex << pid;
    EXPECT_LE(std::llabs(static_cast<int64_t>(c.units.at(pid).front().pts) -
                         static_cast<int64_t>(want.units.at(pid).front().pts)),
              3754)
        << std::hex << pid;
  }

  const std::string info = BdInfo();
  const std::string ci = "title 0 clip 0 ";
  EXPECT_TRUE(HasLine(info, ci + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang fra")) << info;
  EXPECT_TRUE(HasLine(info, ci + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang eng")) << info;
  EXPECT_TRUE(HasLine(info, ci + "stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang fra")) << info;
}

// Clips whose audio PID carries a core and its extension (TrueHD with its
// AC-3 core, DTS-HD Master Audio and High Resolution), reused whole: each
// stream ffmpeg sees decodes like the original's, and the core's units fit
// the core's buffers while the whole stream fits the extension's.
TEST(ReuseCoreAndExtension, EachModelTakesItsUnitsAndTheStreamsDecodeLikeTheOriginal) {
  if (!HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  struct Case {
    std::vector<std::string> files;  // the one to add first
    StdParams core, whole;
  } cases[] = {
      {{"thd_51.thd", "thd_51.ac3"}, Ac3Primary(), Mlp()},
      {{"dtshd_ma.dtshd"}, DtsCore(), DtsHdPrimary()},
      {{"dtshd_hra.dts"}, DtsCore(), DtsHdPrimary()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.files.front());
    TempDir dir;
    const std::string src = dir / "src";
    std::filesystem::create_directories(src);
    CopyFixture("h264_1080p2398.264", src);
    for (const std::string& f : c.files) CopyFixture(f, src);
    const std::string clip = src + "/00001.m2ts";
    const RunResult r = Zv({"mux", clip, src + "/h264_1080p2398.264", src + "/" + c.files.front(), "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string root;
    const std::string built = BuildReusing(dir, "reuse", clip, {}, {}, root);
    const ClipReading was = ReadClip(clip), now = ReadClip(built);
    ASSERT_TRUE(was.error.empty() && now.error.empty()) << was.error << now.error;
    // Every audio stream ffmpeg finds on the PID, frame for frame.
    const RunResult probe = zvtest::Run({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries", "stream=index",
                                 "-of", "csv=p=0", clip});
    ASSERT_EQ(probe.status, 0) << probe.err;
    // (The program's listing repeats the streams.)
    std::istringstream indexes(probe.out);
    std::set<std::string> streams;
    for (std::string line; std::getline(indexes, line);)
      if (!line.empty()) streams.insert(line);
    EXPECT_GE(streams.size(), c.files.size()) << probe.out;
    for (size_t audio = 0; audio < streams.size(); ++audio) {
      const std::string map = "0:a:" + std::to_string(audio);
      EXPECT_EQ(FrameMd5(built, map), FrameMd5(clip, map)) << map;
    }
    for (const ClipReading* k : {&was, &now}) {
      EXPECT_EQ(CoreMarking(*k, 0x1100), "");
      EXPECT_EQ(ReplayStd(*k, 0x1100, c.core, IsCoreUnit), "");
      EXPECT_EQ(ReplayStd(*k, 0x1100, c.whole), "");
      EXPECT_EQ(ReplayStd(*k, 0x1011, AvcLevel41()), "");
      EXPECT_LE(MaxPcrGap(*k), kMaxPcrGap);
    }
  }
}

// ---------------------------------------------------------------------------
// Clips of a disc built with the zelvane commands, reused by new projects.

// The pictures ffmpeg's PGS decoder draws over a grey 10 fps background,
// one hash per frame; `shift` (seconds) moves the background onto the
// input's own time stamps.
std::vector<std::string> Drawn(const std::string& input, const std::string& map, const std::string& shift) {
  const std::string graph = "color=c=gray:s=1920x1080:r=10:d=2,format=rgb24,setpts=PTS+" + shift + "/TB[bg];[bg][" +
                            map + "]overlay=eof_action=pass,format=rgb24";
  const RunResult r = Run(
      {"ffmpeg", "-nostdin", "-v", "error", "-copyts", "-i", input, "-filter_complex", graph, "-an", "-f", "framemd5", "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> hashes;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);)
    if (!l.empty() && l[0] != '#') hashes.push_back(l.substr(l.find_last_of(',') + 1));
  EXPECT_GT(std::set<std::string>(hashes.begin(), hashes.end()).size(), 1u) << input << " draws nothing";
  return hashes;
}

// Start time (seconds, as ffprobe prints it) of the first video stream.
std::string VideoStart(const std::string& input) {
  const RunResult r = Run({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries", "stream=start_time",
                           "-of", "csv=p=0", input});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out.substr(0, r.out.find_first_of("\r\n"));
}

ClipInformationFile ReadClpi(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  zv::ClipInformationFile info;
  std::string error;
  EXPECT_EQ(info.Parse(bytes.data(), bytes.size(), &error), zv::kOk) << path << ": " << error;
  return info;
}

const zv::CKpiFolder* VideoKeyPoints(const ClipInformationFile& info) {
  for (const auto& e : info.cpi.entries)
    if (e.StreamPid == 0x1011) return &e.keyPoints;
  return nullptr;
}

// First PTS of each stream less the video's, 90 kHz.
std::map<uint16_t, int64_t> StartsAfterVideo(const ClipReading& c) {
  std::map<uint16_t, int64_t> out;
  const int64_t video = static_cast<int64_t>(c.units.at(0x1011).front().pts);
  for (const auto& [pid, units] : c.units)
    if (!units.empty()) out[pid] = static_cast<int64_t>(units.front().pts) - video;
  return out;
}

// One disc built from H.264, two AC-3 and a PG file (the stereo track in
// French), made once for all tests; each test builds a new project that
// reuses its clip.
class ReuseOfDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) return;
    old_ = std::make_unique<TempDir>();
    const std::string d = old_->Path();
    for (const char* f : {"h264_1080p2398.264", "ac3_stereo.ac3", "ac3_51.ac3"}) CopyFixture(f, d);
    CopyFixture("subtitles/subs_eng.sup", d);
    const std::string p = d + "/old.zvpj";
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Movie#1/Clip#1", d + "/h264_1080p2398.264", d + "/ac3_stereo.ac3", d + "/ac3_51.ac3",
         d + "/subs_eng.sup"},
        {"set", p, "Movie#1/Clip#1/Track#2", "language=fra"},
        {"build", p, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      const RunResult r = Zv(args);
      if (r.status != 0) {
        error_ = "zelvane " + args[0] + " failed:\n" + r.out + r.err;
        return;
      }
    }
    const std::string bdmv = d + "/out/Zelvane/DISC/BDMV/";
    // The movie's is the only clip with content; its playlist is the one
    // that plays it.
    for (const auto& e : std::filesystem::directory_iterator(bdmv + "STREAM")) clip_ = e.path().string();
    const std::string name = std::filesystem::path(clip_).stem().string();
    clpi_ = bdmv + "CLIPINF/" + name + ".clpi";
    for (const auto& e : std::filesystem::directory_iterator(bdmv + "PLAYLIST")) {
      const std::vector<uint8_t> bytes = ReadBytes(e.path().string());
      zv::PlaylistFile pl;
      if (pl.Parse(bytes.data(), bytes.size(), nullptr) == zv::kOk && !pl.playItems.empty() &&
          pl.playItems[0].ClipName == name)
        mpls_ = e.path().string();
    }
    if (clip_.empty() || mpls_.empty()) error_ = "the old disc has no movie clip or playlist";
  }
  static void TearDownTestSuite() { old_.reset(); }

  void SetUp() override {
    if (!old_) GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
    ASSERT_TRUE(error_.empty()) << error_;
  }

  // A new project whose movie clip takes streams of the old clip with
  // `options` of `source add` (all without --pids), plus the raw files;
  // returns the built clip.
  std::string Build(const std::string& name, std::vector<std::string> options, const std::vector<std::string>& raw) {
    return BuildReusing(dir, name, clip_, options, raw, root);
  }

  static std::unique_ptr<TempDir> old_;
  static std::string error_, clip_, clpi_, mpls_;
  TempDir dir;
  std::string root;
};

std::unique_ptr<TempDir> ReuseOfDisc::old_;
std::string ReuseOfDisc::error_, ReuseOfDisc::clip_, ReuseOfDisc::clpi_, ReuseOfDisc::mpls_;

TEST_F(ReuseOfDisc, EveryStreamOfTheClipComesBackFrameForFrameAtTheSamePictures) {
  const std::string built = Build("all", {}, {});
  for (const char* map : {"0:0", "0:1", "0:2"}) EXPECT_EQ(FrameMd5(built, map), FrameMd5(clip_, map)) << map;
  EXPECT_EQ(Drawn(built, "0:s:0", VideoStart(built)), Drawn(clip_, "0:s:0", VideoStart(clip_)));

  // The EP map lists the same pictures, and each entry's packet starts the
  // picture with that time stamp in the new clip.
  const ClipReading c = ReadClip(built);
  ASSERT_TRUE(c.error.empty()) << c.error;
  const ClipInformationFile was = ReadClpi(clpi_), now = ReadClpi(root + "/BDMV/CLIPINF/00000.clpi");
  const zv::CKpiFolder* old = VideoKeyPoints(was);
  const zv::CKpiFolder* kps = VideoKeyPoints(now);
  ASSERT_TRUE(old && kps);
  ASSERT_GT(kps->size(), 1u);
  ASSERT_EQ(kps->size(), old->size());
  const std::vector<ClipUnit>& video = c.units.at(0x1011);
  for (size_t i = 0; i < kps->size(); ++i) {
    EXPECT_EQ((*kps)[i].pts, (*old)[i].pts) << i;
    auto at = std::find_if(video.begin(), video.end(), [&](const ClipUnit& u) { return u.firstPacket == (*kps)[i].firstSpn; });
    ASSERT_NE(at, video.end()) << "entry " << i << " points at no picture start";
    EXPECT_EQ(at->pts >> 9, (*kps)[i].pts >> 9) << i;
  }
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});
}

TEST_F(ReuseOfDisc, NewTracksKeepTheOldClipsTimingBesideReusedOnes) {
  // The added files are those the old clip's second audio and subtitles
  // were made from, so the old clip tells where they belong.
  const std::string ac3 = CopyFixture("ac3_51.ac3", dir / "");
  const std::string sup = CopyFixture("subtitles/subs_eng.sup", dir / "");
  const std::string built = Build("mix", {"--pids", "0x1011,0x1100"}, {ac3, sup});
  EXPECT_EQ(FrameMd5(built, "0:0"), FrameMd5(clip_, "0:0"));
  EXPECT_EQ(FrameMd5(built, "0:1"), FrameMd5(clip_, "0:1"));
  EXPECT_EQ(FrameMd5(built, "0:2"), FrameMd5(ac3, ""));
  EXPECT_EQ(Drawn(built, "0:s:0", VideoStart(built)), Drawn(sup, "0:s:0", "0"));

  const ClipReading c = ReadClip(built), was = ReadClip(clip_);
  ASSERT_TRUE(c.error.empty() && was.error.empty()) << c.error << was.error;
  const std::map<uint16_t, int64_t> now = StartsAfterVideo(c), then = StartsAfterVideo(was);
  for (uint16_t pid : {0x1100, 0x1101, 0x1200}) {
    ASSERT_TRUE(now.count(pid) && then.count(pid)) << std::hex << pid;
    EXPECT_LE(std::llabs(now.at(pid) - then.at(pid)), 3754) << std::hex << pid;  // one frame at 23.976
  }
  CheckBuffers(built, {{0x1011, AvcLevel41()}, {0x1100, Ac3Primary()}, {0x1101, Ac3Primary()}});
}

TEST_F(ReuseOfDisc, APlaylistOfTheOldDiscGivesTheStreamsItsLanguagesAndOrder) {
  // The old playlist as another tool might have left it: the 5.1 track
  // listed first, and languages the clip does not carry.
  std::vector<uint8_t> bytes = ReadBytes(mpls_);
  zv::PlaylistFile pl;
  ASSERT_EQ(pl.Parse(bytes.data(), bytes.size(), nullptr), zv::kOk);
  zv::STN_TABLE& stn = pl.playItems[0].stn;
  ASSERT_EQ(stn.primaryAudio.size(), 2u);
  ASSERT_EQ(stn.pgTextSt.size(), 1u);
  std::swap(stn.primaryAudio[0], stn.primaryAudio[1]);
  stn.primaryAudio[0].attributes.Language = "spa";
  stn.primaryAudio[1].attributes.Language = "jpn";
  stn.pgTextSt[0].attributes.Language = "ita";
  bytes.assign(pl.WritePlaylist(nullptr, 0), 0);
  pl.WritePlaylist(bytes.data(), bytes.size());
  const std::string edited = dir / "old.mpls";
  WriteBytes(edited, bytes);

  const std::string built = Build("pl", {"--playlist", edited}, {});
  const RunResult r = zvtest::Run({ZV_BDCLIENT, "info", root});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string c = "title 0 clip 0 ";
  EXPECT_TRUE(HasLine(r.out, c + "stream audio 0 coding 0x81 pid 0x1100 format 6 rate 1 aspect 0 subpath 255 lang spa")) << r.out;
  EXPECT_TRUE(HasLine(r.out, c + "stream audio 1 coding 0x81 pid 0x1101 format 3 rate 1 aspect 0 subpath 255 lang jpn")) << r.out;
  EXPECT_TRUE(HasLine(r.out, c + "stream pg 0 coding 0x90 pid 0x1200 format 0 rate 0 aspect 0 subpath 255 lang ita")) << r.out;
  // The streams behind the entries: the new first audio PID carries the
  // old second audio.
  EXPECT_EQ(FrameMd5(built, "0:i:0x1100"), FrameMd5(clip_, "0:i:0x1101"));
  EXPECT_EQ(FrameMd5(built, "0:i:0x1101"), FrameMd5(clip_, "0:i:0x1100"));

  // A playlist of another clip is refused and leaves the project as it was.
  pl.playItems[0].ClipName = "00042";
  bytes.assign(pl.WritePlaylist(nullptr, 0), 0);
  pl.WritePlaylist(bytes.data(), bytes.size());
  WriteBytes(edited, bytes);
  const std::string p = dir / "other.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);
  const std::string before = ReadText(p);
  const RunResult refused = Zv({"source", "add", p, "Movie#1/Clip#1", clip_, "--playlist", edited});
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("does not play clip"), std::string::npos) << refused.err;
  EXPECT_EQ(ReadText(p), before);
}

}  // namespace

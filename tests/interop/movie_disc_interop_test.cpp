// A movie disc made entirely with the zelvane commands - logos, two movies
// (one chaptered from a CSV file, one in play mode Separate) and two
// trailers, from 1080p23.976, 720p59.94 and 576i25 fixtures - as independent
// readers see it: libbluray (titles, clips, streams, durations, chapters, the
// navigation chain and the bytes it reads), ffmpeg (every decoded frame
// against the source files) and mkvmerge (the playlists). Every check also
// runs on a copy without BACKUP, since libbluray silently falls back to the
// backup copies of files it cannot parse.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interop/json_reader.h"
#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::JsonValue;

using zvtest::Zelvane;
using zvtest::Lines;
using zvtest::HasLine;
using zvtest::FrameHashes;

namespace {

std::string Five(int n) {
  char s[16];
  std::snprintf(s, sizeof s, "%05d", n);
  return s;
}

// What each playlist of the disc must play: its clip (numbered like the
// playlist here: one story per playlist, in build order), the source files
// of that clip, the video's frame rate and the chapters of its CSV file.
struct Expected {
  int playlist;
  std::string video;
  std::vector<std::string> audio;
  int64_t fpsNum, fpsDen;
  std::vector<int64_t> csvFrames;  // chapter frames as written in the CSV
  int64_t gopFrames;               // the fixture's key-frame interval
};

const std::vector<Expected>& Playlists() {
  static const std::vector<Expected> kPlaylists = {
      {0, "v.264", {}, 24000, 1001, {}, 12},                             // Logos
      {1, "v.264", {"a_eng.ac3", "b_fre.ac3"}, 24000, 1001, {0, 12, 36}, 12},  // Movie#1
      {2, "v.264", {"a_eng.ac3"}, 24000, 1001, {}, 12},                  // Movie#2 PI#1
      {3, "w.264", {"m_ger.ac3"}, 60000, 1001, {0, 35, 95}, 30},         // Movie#2 PI#2
      {4, "i.264", {}, 25, 1, {}, 12},                                    // Trailer 1
      {5, "w.264", {"b_fre.ac3"}, 60000, 1001, {}, 30},                  // Trailer 2
  };
  return kPlaylists;
}

// 90 kHz ticks of `frames` frames, rounded to the nearest tick.
int64_t Ticks(int64_t frames, const Expected& e) {
  return (frames * 90000 * e.fpsDen + e.fpsNum / 2) / e.fpsNum;
}

JsonValue ParseOrFail(const zvtest::RunResult& r, const std::string& what) {
  EXPECT_EQ(r.status, 0) << what << "\n" << r.err;
  try {
    return JsonValue::Parse(r.out);
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": " << e.what() << "\n" << r.out;
    return JsonValue();
  }
}

JsonValue Dump(const std::string& path) { return ParseOrFail(Zelvane({"dump", "--json", path}), path)["content"]; }

class MovieDisc : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<zvtest::TempDir>();
    error_ = BuildDisc();
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override { ASSERT_TRUE(error_.empty()) << error_; }

  // Builds the project and the disc; the error text, empty on success.
  static std::string BuildDisc() {
    const std::string d = dir_->Path();
    const std::map<std::string, std::string> files = {
        {"v.264", "h264_1080p2398.264"}, {"w.264", "h264_720p5994.264"}, {"i.264", "h264_576i25.264"},
        {"a_eng.ac3", "ac3_stereo.ac3"}, {"b_fre.ac3", "ac3_51.ac3"},     {"m_ger.ac3", "ac3_mono.ac3"}};
    for (const auto& [name, fixture] : files) fs::copy_file(zvtest::DataPath(fixture), d + "/" + name);
    // 23.976 fps, GOPs of 12 frames: chapters on the key frames 0, 12 and 36.
    zvtest::WriteText(d + "/ch.csv", "FrameRate 23.976\nNonDrop\n00:00:00:00 Start\n00:00:00:12 Two\n00:00:01:12 Three\n");
    // 59.94 fps, GOPs of 30 frames: frame 35 lies near key frame 30, frame 95
    // after the last key frame (90) of the 120-frame clip.
    zvtest::WriteText(d + "/ch2.csv", "FrameRate 59.94\nNonDrop\n00:00:00:00 A\n00:00:00:35 B\n00:00:01:35 C\n");
    project_ = d + "/p.zvpj";
    const std::string& p = project_;
    const std::vector<std::vector<std::string>> steps = {
        {"new", p},
        {"source", "add", p, "Logos/Clip#1", d + "/v.264"},
        {"source", "add", p, "Movie#1/Clip#1", d + "/v.264", d + "/a_eng.ac3", d + "/b_fre.ac3"},
        {"chapters", p, "Movie#1/Title#1/PI#1", "import", d + "/ch.csv"},
        {"movie", "add", p},
        {"clip", "add", p, "Movie#2"},
        {"source", "add", p, "Movie#2/Clip#1", d + "/v.264", d + "/a_eng.ac3"},
        {"source", "add", p, "Movie#2/Clip#2", d + "/w.264", d + "/m_ger.ac3"},
        {"delete", p, "Movie#2/Title#1"},
        {"title", "add", p, "Movie#2"},
        {"set", p, "Movie#2/Title#2", "mode=Separate"},
        {"chapters", p, "Movie#2/Title#2/PI#2", "import", d + "/ch2.csv"},
        {"clip", "add", p, "Trailers"},
        {"clip", "add", p, "Trailers"},
        {"source", "add", p, "Trailers/Clip#1", d + "/i.264"},
        {"source", "add", p, "Trailers/Clip#2", d + "/w.264", d + "/b_fre.ac3"},
        {"delete", p, "Trailers/Title#1"},
        {"title", "add", p, "Trailers"},
        {"set", p, "Trailers/Title#2", "mode=Separate"},
        {"build", p, d + "/out", "--yes"},
    };
    for (const auto& args : steps) {
      const zvtest::RunResult r = Zelvane(args);
      if (r.status != 0) {
        std::string line = "zelvane";
        for (const std::string& a : args) line += " " + a;
        return line + " failed:\n" + r.err;
      }
    }
    disc_ = d + "/out/Zelvane/DISC";
    nobackup_ = d + "/nobackup";
    fs::copy(disc_, nobackup_, fs::copy_options::recursive);
    fs::remove_all(nobackup_ + "/BDMV/BACKUP");
    return {};
  }

  static std::vector<std::string> Roots() { return {disc_, nobackup_}; }

  static JsonValue Info(const std::string& root) {
    return ParseOrFail(zvtest::Run({ZV_BDCLIENT, "info", "--json", root}), "zv_bdclient info " + root);
  }

  // libbluray's title (in its TITLES_ALL list) of playlist `p`.
  static const JsonValue* TitleOf(const JsonValue& info, int p) {
    for (const JsonValue& t : info["titles"].Items())
      if (t["playlist"].Int() == p) return &t;
    return nullptr;
  }

  static const std::vector<std::string>& SourceHashes(const std::string& name) {
    static std::map<std::string, std::vector<std::string>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) it = cache.emplace(name, FrameHashes(dir_->Path() + "/" + name, "")).first;
    return it->second;
  }

  static std::unique_ptr<zvtest::TempDir> dir_;
  static std::string error_, project_, disc_, nobackup_;
};

std::unique_ptr<zvtest::TempDir> MovieDisc::dir_;
std::string MovieDisc::error_, MovieDisc::project_, MovieDisc::disc_, MovieDisc::nobackup_;

TEST_F(MovieDisc, RefusedInputLeavesTheProjectAsItWas) {
  const std::string d = dir_->Path();
  const std::vector<uint8_t> before = zvtest::ReadBytes(project_);
  EXPECT_EQ(Zelvane({"source", "add", project_, "Movie#1/Clip#1", d + "/ch.csv"}).status, 2);
  EXPECT_EQ(Zelvane({"source", "add", project_, "Movie#1/Clip#1", d + "/v.264"}).status, 2);
  EXPECT_EQ(Zelvane({"set", project_, "Movie#9/Title#1", "mode=Separate"}).status, 2);
  EXPECT_EQ(zvtest::ReadBytes(project_), before);
}

TEST_F(MovieDisc, TitlesAndStreamsAsBuilt) {
  for (const std::string& root : Roots()) {
    SCOPED_TRACE(root);
    const zvtest::RunResult info = zvtest::Run({ZV_BDCLIENT, "info", root});
    ASSERT_EQ(info.status, 0) << info.err;
    // Movie#1 one title, Movie#2 two (Separate), the trailers two.
    EXPECT_TRUE(HasLine(info.out, "disc num_titles 5")) << info.out;
    EXPECT_TRUE(HasLine(info.out, "disc_title first_play playlist 00000"));
    for (int t = 1; t <= 5; ++t)
      EXPECT_TRUE(HasLine(info.out, "disc_title " + std::to_string(t) + " playlist 0000" + std::to_string(t)));
    std::string chaptered;
    for (const std::string& l : Lines(info.out))
      if (l.find(" playlist 00001 ") != std::string::npos) chaptered = l.substr(6, l.find(' ', 6) - 6);
    ASSERT_FALSE(chaptered.empty()) << info.out;
    const std::string c = "title " + chaptered + " clip 0 ";
    EXPECT_TRUE(HasLine(info.out, c + "stream video 0 coding 0x1b pid 0x1011 format 6 rate 1 aspect 3 subpath 255 lang -"))
        << info.out;
    EXPECT_TRUE(HasLine(info.out, c + "stream audio 0 coding 0x81 pid 0x1100 format 3 rate 1 aspect 0 subpath 255 lang eng"));
    EXPECT_TRUE(HasLine(info.out, c + "stream audio 1 coding 0x81 pid 0x1101 format 6 rate 1 aspect 0 subpath 255 lang fre"));
  }
}

// Durations against the source frame counts, the clips of each playlist, and
// chapters: libbluray's starts equal the marks the build wrote, every mark
// sits on an entry point of its clip, and lies within one GOP of its CSV time.
TEST_F(MovieDisc, DurationsClipsAndChaptersMatchTheBuild) {
  for (const std::string& root : Roots()) {
    SCOPED_TRACE(root);
    const JsonValue info = Info(root);
    ASSERT_EQ(info["titles"].size(), Playlists().size());
    for (const Expected& e : Playlists()) {
      SCOPED_TRACE("playlist " + Five(e.playlist));
      const JsonValue* title = TitleOf(info, e.playlist);
      ASSERT_NE(title, nullptr);
      const int64_t frame = Ticks(1, e);
      const int64_t sourceFrames = static_cast<int64_t>(SourceHashes(e.video).size());
      ASSERT_GT(sourceFrames, 0);
      EXPECT_LE(std::llabs((*title)["duration"].Int() - Ticks(sourceFrames, e)), frame)
          << "duration " << (*title)["duration"].Int() << ", " << sourceFrames << " source frames";

      const JsonValue mpls = Dump(root + "/BDMV/PLAYLIST/" + Five(e.playlist) + ".mpls");
      const auto& items = mpls["PlayList"]["PlayItem"].Items();
      const auto& clips = (*title)["clips"].Items();
      ASSERT_EQ(items.size(), 1u);
      ASSERT_EQ(clips.size(), 1u);
      EXPECT_EQ(items[0]["ClipInformationFileName"].Str(), Five(e.playlist));
      EXPECT_EQ(clips[0]["clip_id"].Str(), Five(e.playlist));
      size_t video = 0, audio = 0;
      for (const JsonValue& s : clips[0]["streams"].Items()) {
        video += s["kind"].Str() == "video";
        audio += s["kind"].Str() == "audio";
      }
      EXPECT_EQ(video, 1u);
      EXPECT_EQ(audio, e.audio.size());

      // Marks to title times: the offset of the mark's play item in the
      // title plus the mark's distance from that item's in time.
      std::vector<int64_t> itemStart{0};
      for (const JsonValue& it : items)
        itemStart.push_back(itemStart.back() + 2 * (it["OutTime"].Int() - it["InTime"].Int()));
      std::vector<int64_t> marks, fromMarks;
      if (mpls["PlayListMarks"].Has("PlayListMark"))
        for (const JsonValue& m : mpls["PlayListMarks"]["PlayListMark"].Items()) {
          const size_t item = static_cast<size_t>(m["RefToPlayItemID"].Int());
          ASSERT_LT(item, items.size());
          marks.push_back(m["MarkTimeStamp"].Int());
          fromMarks.push_back(itemStart[item] + 2 * (marks.back() - items[item]["InTime"].Int()));
        }
      std::vector<int64_t> starts;
      for (const JsonValue& ch : (*title)["chapters"].Items()) starts.push_back(ch["start"].Int());
      EXPECT_EQ(starts, fromMarks);
      ASSERT_EQ(starts.size(), e.csvFrames.size());

      const JsonValue clpi = Dump(root + "/BDMV/CLIPINF/" + Five(e.playlist) + ".clpi");
      std::set<int64_t> entryTimes;
      for (const JsonValue& pid : clpi["CPI"]["EpMap"]["PidEntry"].Items())
        if (pid["StreamPid"].Int() == 0x1011)
          for (const JsonValue& k : pid["KeyPoint"].Items()) entryTimes.insert(k["PTS"].Int());
      ASSERT_FALSE(entryTimes.empty());
      for (size_t i = 0; i < starts.size(); ++i) {
        SCOPED_TRACE("chapter " + std::to_string(i + 1));
        if (e.csvFrames[i] == 0) {
          EXPECT_EQ(marks[i], items[0]["InTime"].Int());
        } else {
          EXPECT_EQ(entryTimes.count(2 * marks[i]), 1u) << "mark " << marks[i] << " is no entry point";
        }
        EXPECT_LE(std::llabs(starts[i] - Ticks(e.csvFrames[i], e)), e.gopFrames * frame) << starts[i];
      }
      // Chapters on key frames land within one frame of their CSV time (the
      // EP map keeps times in 512-tick steps).
      if (e.playlist == 1) {
        for (size_t i = 0; i < starts.size(); ++i) EXPECT_LE(std::llabs(starts[i] - Ticks(e.csvFrames[i], e)), frame);
      }
    }
  }
}

// The disc's own navigation: the logos first, then (no top-menu content)
// movie 1, movie 2's two titles, the trailers, and back to title 1. Each
// playlist is read to its end: all bytes of its clip.
TEST_F(MovieDisc, NavigationPlaysTheLogosThenChainsTheTitles) {
  for (const std::string& root : Roots()) {
    SCOPED_TRACE(root);
    const zvtest::RunResult r = zvtest::Run({ZV_BDCLIENT, "play", "--stop-on-repeat", root});
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    auto played = [&](int p) {
      return "played " + Five(p) + " bytes " + std::to_string(fs::file_size(root + "/BDMV/STREAM/" + Five(p) + ".m2ts"));
    };
    std::vector<std::string> want = {"event TITLE 65535", "event PLAYLIST 00000", played(0), "event TITLE 0"};
    for (int t = 1; t <= 5; ++t) {
      want.push_back("event TITLE " + std::to_string(t));
      want.push_back("event PLAYLIST " + Five(t));
      want.push_back(played(t));
    }
    want.push_back("event TITLE 1");
    want.push_back("end repeat");
    // Titles, playlists and their ends, with libbluray's repeated
    // announcement of the same title folded into one.
    std::vector<std::string> got;
    for (const std::string& l : Lines(r.out))
      if (l.rfind("event TITLE ", 0) == 0 || l.rfind("event PLAYLIST ", 0) == 0 || l.rfind("played ", 0) == 0 ||
          l.rfind("end ", 0) == 0)
        if (got.empty() || got.back() != l) got.push_back(l);
    EXPECT_EQ(got, want) << r.out;
    EXPECT_TRUE(HasLine(r.out, "overlays 0")) << "no menu, so nothing drawn";
  }
}

// Each playlist read through libbluray decodes, frame by frame, exactly like
// the source files of its clip.
TEST_F(MovieDisc, EveryTitleDecodesLikeItsSources) {
  if (!zvtest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  zvtest::TempDir out;
  for (const std::string& root : Roots()) {
    SCOPED_TRACE(root);
    for (const Expected& e : Playlists()) {
      SCOPED_TRACE("playlist " + Five(e.playlist));
      const std::string read = out / (Five(e.playlist) + ".m2ts");
      const zvtest::RunResult r = zvtest::Run({ZV_BDCLIENT, "read", "--playlist", root, std::to_string(e.playlist), read});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::vector<std::string>& video = SourceHashes(e.video);
      ASSERT_FALSE(video.empty());
      EXPECT_EQ(FrameHashes(read, "0:v:0"), video) << e.video;
      for (size_t i = 0; i < e.audio.size(); ++i) {
        const std::vector<std::string>& audio = SourceHashes(e.audio[i]);
        ASSERT_FALSE(audio.empty());
        EXPECT_EQ(FrameHashes(read, "0:a:" + std::to_string(i)), audio) << e.audio[i];
      }
      fs::remove(read);
    }
  }
}

// mkvmerge reads the playlists on its own: the same durations and chapters
// as libbluray (mkvmerge drops a last chapter within 5 s of the end).
TEST_F(MovieDisc, MkvmergeReadsThePlaylistsAlike) {
  if (!zvtest::HaveProgram("mkvmerge") || !zvtest::HaveProgram("mkvextract")) GTEST_SKIP() << "mkvtoolnix not installed";
  zvtest::TempDir out;
  for (const std::string& root : Roots()) {
    SCOPED_TRACE(root);
    const JsonValue info = Info(root);
    for (const Expected& e : Playlists()) {
      SCOPED_TRACE("playlist " + Five(e.playlist));
      const JsonValue* title = TitleOf(info, e.playlist);
      ASSERT_NE(title, nullptr);
      const std::string mpls = root + "/BDMV/PLAYLIST/" + Five(e.playlist) + ".mpls";
      const JsonValue j = ParseOrFail(zvtest::Run({"mkvmerge", "-J", mpls}), "mkvmerge -J " + mpls);
      const JsonValue& props = j["container"]["properties"];
      ASSERT_TRUE(props.Has("playlist_duration")) << "not read as a playlist";
      const int64_t duration = (*title)["duration"].Int();
      // mkvmerge gives nanoseconds; the playlist holds 45 kHz units.
      EXPECT_LE(std::llabs(props["playlist_duration"].Int() - duration * 100000 / 9), 1000);

      std::vector<int64_t> wantMs;
      for (const JsonValue& ch : (*title)["chapters"].Items())
        wantMs.push_back(ch["start"].Int() / 90);
      if (!wantMs.empty() && (*title)["chapters"][wantMs.size() - 1]["start"].Int() + 5 * 90000 > duration)
        wantMs.pop_back();
      const int64_t count = props.Has("playlist_chapters") ? props["playlist_chapters"].Int() : 0;
      EXPECT_EQ(count, static_cast<int64_t>(wantMs.size()));
      if (wantMs.empty()) continue;

      // The chapter times themselves only show in a file mkvmerge writes.
      const std::string mkv = out / (Five(e.playlist) + ".mkv");
      const zvtest::RunResult m = zvtest::Run({"mkvmerge", "-q", "-o", mkv, "-A", mpls});
      ASSERT_EQ(m.status, 0) << m.out << m.err;
      const zvtest::RunResult x = zvtest::Run({"mkvextract", mkv, "chapters", "--simple", "-"});
      ASSERT_EQ(x.status, 0) << x.err;
      std::vector<int64_t> gotMs;
      for (const std::string& l : Lines(x.out)) {
        int h = 0, mi = 0, s = 0, ms = 0, n = 0;
        if (std::sscanf(l.c_str(), "CHAPTER%d=%d:%d:%d.%d", &n, &h, &mi, &s, &ms) == 5)
          gotMs.push_back(((h * 60 + mi) * 60 + s) * 1000 + ms);
      }
      ASSERT_EQ(gotMs.size(), wantMs.size()) << x.out;
      for (size_t i = 0; i < gotMs.size(); ++i) EXPECT_LE(std::llabs(gotMs[i] - wantMs[i]), 1) << "chapter " << i + 1;
      fs::remove(mkv);
    }
  }
}

}  // namespace

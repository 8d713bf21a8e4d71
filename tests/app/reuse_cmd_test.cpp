// Reusing the streams of an existing clip through the commands: adding a
// clip made by `zelvane mux`, showing and changing its tracks, reloading the
// project, and the refusals (wrong PIDs, truncated or changed clips).
#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>

#include "bdnav/playlist_file.h"
#include "support/test_support.h"

using zvtest::Run;
using zvtest::RunResult;

namespace {

RunResult Zv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return Run(argv);
}

// A clip of the fixtures: H.264, AC-3 stereo (fra) and AC-3 5.1.
std::string MakeClip(const zvtest::TempDir& dir) {
  const std::string v = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string a = zvtest::CopyFixture("ac3_stereo.ac3", dir.Path());
  const std::string b = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  const std::string clip = dir / "00003.m2ts";
  const RunResult r = Zv({"mux", clip, v, "--lang", "fra", a, b, "--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  return clip;
}

TEST(ReuseCommands, AddShowSetReloadAndRemove) {
  zvtest::TempDir dir;
  const std::string clip = MakeClip(dir);
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);

  RunResult bad = Zv({"source", "add", p, "Movie#1/Clip#1", clip, "--pids", "0x1011,0x1200"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("no stream on PID 0x1200"), std::string::npos) << bad.err;
  EXPECT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", clip, "--pids", "0x1011,zz"}).status, 64)
      << "a malformed PID is a usage error";

  RunResult add = Zv({"source", "add", p, "Movie#1/Clip#1", clip, "--pids", "0x1011,0x1100"});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.out.find("00003.m2ts: 3 streams\n"), std::string::npos) << add.out;
  EXPECT_NE(add.out.find("  0x1101  AC-3(0x81)  Multi, 48K, eng\n"), std::string::npos) << add.out;
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#2  00003.M2TS, 0x1100, AC-3(0x81), Stereo, 48K, fra\n"), std::string::npos)
      << add.out;
  EXPECT_EQ(add.out.find("Track#3"), std::string::npos) << "only the chosen streams become tracks";

  // A second existing clip in the same story is refused.
  RunResult twice = Zv({"source", "add", p, "Movie#1/Clip#1", clip});
  EXPECT_EQ(twice.status, 2);

  ASSERT_EQ(Zv({"set", p, "Movie#1/Clip#1/Track#2", "language=ger", "primary=no"}).status, 0);
  ASSERT_EQ(Zv({"set", p, "Movie#1/Clip#1/Track#1", "enabled=no"}).status, 0);
  // Every command reloads the project: the tracks come back with their settings.
  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("        source " + std::filesystem::absolute(clip).lexically_normal().string() + "\n"), std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("Track#1  00003.M2TS, 0x1011, MPEG-4 AVC/h.264(0x1B), 1080p, 23.976, 16:9  [disabled, primary, "
                          "language eng, delay 0]"),
            std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("Track#2  00003.M2TS, 0x1100, AC-3(0x81), Stereo, 48K, ger  [enabled, secondary, language ger"),
            std::string::npos)
      << show.out;
  RunResult json = Zv({"show", p, "--json"});
  EXPECT_NE(json.out.find("\"language\":\"ger\",\"delay\":0,\"sourcePid\":4352}"), std::string::npos) << json.out;

  ASSERT_EQ(Zv({"source", "remove", p, "Movie#1/Clip#1", "1"}).status, 0);
  show = Zv({"show", p});
  EXPECT_EQ(show.out.find("00003.M2TS"), std::string::npos) << show.out;
  EXPECT_EQ(show.out.find("00003.m2ts"), std::string::npos) << show.out;
}

TEST(ReuseCommands, TruncatedOrChangedClipsAreRefused) {
  zvtest::TempDir dir;
  const std::string clip = MakeClip(dir);
  const std::vector<uint8_t> bytes = zvtest::ReadBytes(clip);
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);

  zvtest::WriteBytes(clip, std::vector<uint8_t>(bytes.begin(), bytes.end() - 192));
  RunResult cut = Zv({"source", "add", p, "Movie#1/Clip#1", clip});
  EXPECT_EQ(cut.status, 2);
  EXPECT_NE(cut.err.find("clip information"), std::string::npos) << cut.err;

  zvtest::WriteBytes(clip, bytes);
  ASSERT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", clip}).status, 0);
  // The same bytes written again: another version of the file as far as
  // the project can tell, so the build says so instead of mixing.
  zvtest::WriteBytes(clip, bytes);
  std::filesystem::last_write_time(clip, std::filesystem::last_write_time(clip) + std::chrono::seconds(2));
  RunResult build = Zv({"build", p, dir / "out", "--yes"});
  EXPECT_EQ(build.status, 2) << build.out << build.err;
  EXPECT_NE((build.out + build.err).find("changed since its tracks were added"), std::string::npos)
      << build.out << build.err;
}

// A playlist given with the clip is kept with the project: reopened by
// every command, shown as a source, removed on its own or with its clip.
TEST(ReuseCommands, APlaylistIsKeptWithItsClip) {
  zvtest::TempDir dir;
  const std::string clip = MakeClip(dir);
  zv::PlaylistFile pl;
  zv::PLAY_ITEM pi;
  pi.ClipName = "00003";
  zv::PRIMARY_STREAM_ENTRY e;
  e.entry.RefToStreamPidOfMainClip = 0x1101;
  e.attributes.StreamCodingType = 0x81;
  e.attributes.Format = 6;
  e.attributes.Rate = 1;
  e.attributes.Language = "jpn";
  pi.stn.primaryAudio.push_back(e);
  pl.playItems.push_back(pi);
  std::vector<uint8_t> bytes(pl.WritePlaylist(nullptr, 0));
  pl.WritePlaylist(bytes.data(), bytes.size());
  const std::string mpls = dir / "00009.mpls";
  zvtest::WriteBytes(mpls, bytes);
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zv({"new", p}).status, 0);

  EXPECT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", mpls}).status, 64) << "a playlist alone";
  EXPECT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", clip, mpls}).status, 64);
  EXPECT_EQ(Zv({"source", "add", p, "Movie#1/Clip#1", dir / "h264_1080p2398.264", "--playlist", mpls}).status, 64);

  RunResult add = Zv({"source", "add", p, "Movie#1/Clip#1", clip, "--playlist", mpls});
  ASSERT_EQ(add.status, 0) << add.err;
  // The listed stream comes first among the audio, in its language.
  EXPECT_NE(add.out.find("Movie#1/Clip#1/Track#2  00003.M2TS, 0x1101, AC-3(0x81), Multi, 48K, jpn\n"), std::string::npos)
      << add.out;
  RunResult show = Zv({"show", p});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_NE(show.out.find("        source " + std::filesystem::absolute(mpls).lexically_normal().string() + "\n"),
            std::string::npos)
      << show.out;
  EXPECT_NE(show.out.find("Track#2  00003.M2TS, 0x1101"), std::string::npos) << show.out;

  ASSERT_EQ(Zv({"source", "remove", p, "Movie#1/Clip#1", "00009.mpls"}).status, 0);
  show = Zv({"show", p});
  EXPECT_EQ(show.out.find("00009.mpls"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("00003.m2ts"), std::string::npos) << show.out;
}

}  // namespace

// Navigation commands as libbluray's HDMV VM runs them: movie objects
// assembled by us, on a small hand-made disc, and the player's events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bdnav/movie_objects.h"
#include "bdnav/navcmd.h"
#include "platform/file.h"
#include "support/test_support.h"

using zvtest::TempDir;

namespace {

// The disc of make_mini_disc.py: first play jumps to title 1, which runs
// movie object 1; both objects are replaced by `title`.
std::string PlayWithTitleObject(const TempDir& disc, const std::vector<std::string>& title) {
  auto r = zvtest::Run({"python3", std::string(ZV_TEST_DATA) + "/../interop/make_mini_disc.py", disc.Path(),
                        zvtest::DataPath("h264_1080p2398.264"), zvtest::DataPath("ac3_stereo.ac3")});
  EXPECT_EQ(r.status, 0) << r.err;
  zv::MOVIE_OBJECTS mobj;
  zv::CNavCmd cmd;
  EXPECT_TRUE(zv::ParseCommandText("JumpTitle 1", cmd));
  mobj.Add().commands.Add(cmd);
  zv::CNavCmds& cmds = mobj.Add().commands;
  for (const std::string& text : title) {
    zv::CNavCmd c;
    EXPECT_TRUE(zv::ParseCommandText(text, c)) << text;
    cmds.Add(c);
  }
  const std::vector<uint8_t> bytes = zv::EncodeMovieObjects(mobj);
  std::string error;
  EXPECT_TRUE(zv::WriteFileAtomic(disc / "BDMV/MovieObject.bdmv", bytes.data(), bytes.size(), error)) << error;
  r = zvtest::Run({ZV_BDCLIENT, "play", disc.Path()});
  EXPECT_EQ(r.status, 0) << r.err;
  return r.out;
}

// Positions of `lines` in `text`, each looked for after the one before.
bool InOrder(const std::string& text, const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& l : lines) {
    at = text.find(l + "\n", at);
    if (at == std::string::npos) return false;
    at += l.size();
  }
  return true;
}

TEST(NavCmdInterop, SetStreamGivesThePlayerTheAngleAndTheInteractiveGraphicsStream) {
  for (const char* tool : {"python3", "ffmpeg", "ffprobe", "mkvmerge"})
    if (!zvtest::HaveProgram(tool)) GTEST_SKIP() << tool << " not installed";
  TempDir disc;
  // Angle 2 and IG stream 3 as immediates, then angle 4 and IG stream 5
  // through registers. A player starts with both at 1.
  const std::string out = PlayWithTitleObject(
      disc, {"SetStream X X 0 2 3", "Set GPR7 = 4", "Set GPR8 = 5", "SetStream X X 0 GPR7 GPR8", "PlayPlaylist 0"});
  EXPECT_TRUE(InOrder(out, {"event TITLE 1", "event IG_STREAM 3", "event ANGLE 2", "event IG_STREAM 5",
                            "event ANGLE 4", "event PLAYLIST 00000"}))
      << out;
  EXPECT_EQ(out.find("event IG_STREAM 2\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("event ANGLE 3\n"), std::string::npos) << out;
}

}  // namespace

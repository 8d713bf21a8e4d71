// A container's tracks are added through the same checks as elementary
// files: video the disc knows but does not allow at its rate is taken with
// the same plain warning, and a second main video is refused the same way.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/run_tools.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using zvtest::Zelvane;

namespace {

constexpr const char* kDisallowed = "1080p at 25 fps is not a Blu-ray video format; Blu-ray players may refuse it";

// An MKV of `fixture` (raw H.264 at `rate` frames per second) and an AC-3
// track, as mkvmerge stores them.
std::string MakeMkv(const zvtest::TempDir& dir, const std::string& name, const std::string& fixture,
                    const std::string& rate) {
  const std::string mkv = dir / name;
  const zvtest::RunResult r =
      zvtest::Run({"mkvmerge", "-q", "-o", mkv, "--default-duration", "0:" + rate, zvtest::DataPath(fixture),
                   zvtest::DataPath("ac3_stereo.ac3")});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  return mkv;
}

TEST(ContainerWarnings, ContainerVideoGetsTheElementaryFilesWarnings) {
  zvtest::TempDir dir;
  const std::string mkv = MakeMkv(dir, "pal.mkv", "warn_1080p25.264", "25p");
  const std::string p = dir / "disc.zvpj";
  ASSERT_EQ(Zelvane({"new", p}).status, 0);

  // The same stream as an elementary file and inside the container.
  const std::string elementary = zvtest::CopyFixture("warn_1080p25.264", dir.Path());
  const zvtest::RunResult plain = Zelvane({"source", "add", p, "Movie#1/Clip#1", elementary});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.err.find("warning: \"" + elementary + "\": " + kDisallowed), std::string::npos) << plain.err;

  ASSERT_EQ(Zelvane({"clip", "add", p, "Movie#1"}).status, 0);
  const zvtest::RunResult add = Zelvane({"source", "add", p, "Movie#1/Clip#2", mkv});
  ASSERT_EQ(add.status, 0) << add.err;
  EXPECT_NE(add.err.find("warning: \"" + mkv + "#0.264\": " + kDisallowed), std::string::npos) << add.err;
  EXPECT_NE(add.out.find("Movie#1/Clip#2/Track#2"), std::string::npos) << add.out;

  // A rate the disc allows gives no warning.
  const std::string good = MakeMkv(dir, "film.mkv", "h264_1080p2398.264", "24000/1001p");
  ASSERT_EQ(Zelvane({"clip", "add", p, "Movie#1"}).status, 0);
  const zvtest::RunResult quiet = Zelvane({"source", "add", p, "Movie#1/Clip#3", good});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err.find("warning"), std::string::npos) << quiet.err;

  // A clip plays one main video: the container's is refused beside another.
  const std::string before = zvtest::ReadText(p);
  const zvtest::RunResult second = Zelvane({"source", "add", p, "Movie#1/Clip#3", mkv});
  EXPECT_EQ(second.status, 2);
  EXPECT_NE(second.err.find("\"Movie#1/Clip#3\" already has a video track"), std::string::npos) << second.err;
  EXPECT_EQ(zvtest::ReadText(p), before);
}

}  // namespace

// The program loads the media libraries (libav*, libass, x264) only for
// the work that needs them: a command on elementary streams starts without
// them, a container's track loads the demuxer's and reads as before (until
// its index lets it be read straight from the file).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace {

// Runs zelvane with the dynamic loader reporting every library it loads.
zvtest::RunResult ZvTracingLibraries(const std::vector<std::string>& args) {
  std::vector<std::string> argv{ZV_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  ::setenv("LD_DEBUG", "libs", 1);
  zvtest::RunResult r = zvtest::Run(argv);
  ::unsetenv("LD_DEBUG");
  return r;
}

bool Loaded(const zvtest::RunResult& r, const std::string& soname) {
  return r.err.find("find library=" + soname) != std::string::npos;
}

TEST(MediaLibraries, LoadOnlyForTheWorkThatNeedsThem) {
#ifndef ZV_LAZY_MEDIA_BUILT
  GTEST_SKIP() << "this build's program (a fuzzing build) links the media libraries at its start";
#endif
  zvtest::TempDir dir;
  const std::string video = zvtest::CopyFixture("h264_1080p2398.264", dir.Path());
  const std::string audio = zvtest::CopyFixture("ac3_51.ac3", dir.Path());
  const std::string clip = (std::filesystem::path(dir.Path()) / "clip.m2ts").string();
  zvtest::RunResult mux = ZvTracingLibraries({"mux", clip, video, audio, "--yes"});
  ASSERT_EQ(mux.status, 0) << mux.err;
  EXPECT_TRUE(std::filesystem::exists(clip));
  // The loader's trace is there, and names no media library.
  EXPECT_TRUE(Loaded(mux, "libstdc++")) << mux.err;
  for (const char* lib : {"libavformat", "libavcodec", "libavutil", "libavfilter", "libass", "libx264"})
    EXPECT_FALSE(Loaded(mux, lib)) << lib;

  // A track of a container is read through libavformat, loaded at its
  // first use, and analysed as the same stream as an elementary file.
  std::filesystem::copy_file(zvtest::DataPath("containers/movie.mkv"), dir.Path() + "/movie.mkv");
  zvtest::RunResult track = ZvTracingLibraries({"analyse", dir.Path() + "/movie.mkv#1.ac3"});
  ASSERT_EQ(track.status, 0) << track.err;
  EXPECT_TRUE(Loaded(track, "libavformat")) << track.err;
  // Each library comes at the first call of its own functions.
  for (const char* lib : {"libavfilter", "libass"}) EXPECT_FALSE(Loaded(track, lib)) << lib;
  zvtest::RunResult file = zvtest::Run({ZV_BINARY, "analyse", audio});
  ASSERT_EQ(file.status, 0) << file.err;
  // Everything but the first line (the path) and the stream information's
  // own path.
  const auto details = [](const std::string& out) {
    const size_t from = out.find('\n');
    return out.substr(from, out.find("stream information:") - from);
  };
  EXPECT_EQ(details(track.out), details(file.out));

  // Indexed, the tracks whose packets lie in the file as they are read from
  // it as elementary files are: analysed and multiplexed without them.
  zvtest::RunResult direct = ZvTracingLibraries(
      {"mux", dir.Path() + "/movie.m2ts", dir.Path() + "/movie.mkv#0.264", dir.Path() + "/movie.mkv#2.ac3", "--yes"});
  ASSERT_EQ(direct.status, 0) << direct.err;
  EXPECT_TRUE(Loaded(direct, "libstdc++")) << direct.err;
  for (const char* lib : {"libavformat", "libavcodec", "libavutil"}) EXPECT_FALSE(Loaded(direct, lib)) << lib;
}

}  // namespace

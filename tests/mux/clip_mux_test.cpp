// The shared clip driver: the same clip as preparing and running the
// multiplexer by hand, links at the output names left alone, a cancel from
// the prepared step, and a stream file cut short while it is multiplexed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "mux/clip_mux.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace {

using namespace zvtest;

struct Tracks {
  std::vector<std::unique_ptr<zv::SRawTrack>> owned;
  std::vector<zv::SMuxTrack*> ordered;
};

Tracks Open(const TempDir& dir, zv::ScriptedPrompt& prompt, const std::string& sub) {
  std::filesystem::create_directories(dir / sub);
  Tracks t;
  std::vector<zv::SMuxTrack*> tracks;
  int32_t key = 0;
  for (const char* fixture : {"h264_1080p2398.264", "ac3_stereo.ac3"}) {
    auto track = std::make_unique<zv::SRawTrack>();
    EXPECT_TRUE(track->SetSource(CopyFixture(fixture, dir / sub), {}, &prompt)) << track->LastError();
    track->m_nOrderKey = key++;
    tracks.push_back(track.get());
    t.owned.push_back(std::move(track));
  }
  t.ordered = zv::AssignPids(tracks);
  return t;
}

TEST(MultiplexClip, WritesTheClipTheMultiplexerWritesAndLeavesLinkedFilesAlone) {
  TempDir dir;
  zv::ScriptedPrompt prompt;
  Tracks a = Open(dir, prompt, "a");
  zv::CMuxer byHand;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  ASSERT_TRUE(byHand.Prepare(&a.ordered, prep)) << byHand.Error();
  std::string error;
  ASSERT_EQ(zv::MuxClipFiles(byHand, dir / "a.m2ts", dir / "a.clpi", false, {}, error), zv::kOk) << error;

  Tracks b = Open(dir, prompt, "b");
  // A link at the clip's name is replaced, and what it points to stays.
  zvtest::WriteBytes(dir / "target", {1, 2, 3});
  std::filesystem::create_symlink(dir / "target", dir / "b.m2ts");
  zv::SClipJob job;
  job.tracks = b.ordered;
  job.prep.prompt = &prompt;
  job.m2tsPath = dir / "b.m2ts";
  job.clpiPath = dir / "b.clpi";
  job.replaceExisting = true;
  int calls = 0;
  uint64_t reserved = 0;
  job.prepared = [&](zv::CMuxer& m, std::string&) {
    ++calls;
    reserved = m.MinimumOutputBytes();
    EXPECT_EQ(m.SourcePacketCount(), 0u);  // prepared, nothing written yet
    return zv::kOk;
  };
  zv::CMuxer shared;
  ASSERT_EQ(zv::MultiplexClip(shared, job, error), zv::kOk) << error;
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "b.m2ts"));
  EXPECT_EQ(ReadBytes(dir / "target"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(ReadBytes(dir / "a.m2ts"), ReadBytes(dir / "b.m2ts"));
  EXPECT_EQ(ReadBytes(dir / "a.clpi"), ReadBytes(dir / "b.clpi"));
  EXPECT_EQ(shared.OutputBytes(), byHand.OutputBytes());
  // The blocks reserved before writing cover most of the clip and never
  // more, and none are left past its end.
  EXPECT_LE(reserved, shared.OutputBytes());
  EXPECT_GE(reserved, shared.OutputBytes() * 9 / 10);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "b.m2ts").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), shared.OutputBytes());
  const auto block = static_cast<int64_t>(st.st_blksize);
  EXPECT_LE(static_cast<int64_t>(st.st_blocks) * 512, (st.st_size + block - 1) / block * block + block);
}

TEST(MultiplexClip, StopsWithoutFilesOnAFailedPrepareACancelOrAStreamCutShort) {
  TempDir dir;
  zv::ScriptedPrompt prompt;
  auto run = [&](const std::string& sub, std::function<int(zv::CMuxer&, std::string&)> step, std::string& error) {
    Tracks t = Open(dir, prompt, sub);
    zv::SClipJob job;
    job.tracks = t.ordered;
    job.prep.prompt = &prompt;
    job.m2tsPath = dir / (sub + ".m2ts");
    job.clpiPath = dir / (sub + ".clpi");
    job.replaceExisting = true;
    job.prepared = std::move(step);
    zv::CMuxer muxer;
    const int rc = zv::MultiplexClip(muxer, job, error);
    EXPECT_FALSE(std::filesystem::exists(job.m2tsPath)) << sub;
    EXPECT_FALSE(std::filesystem::exists(job.clpiPath)) << sub;
    return rc;
  };
  std::string error;
  EXPECT_EQ(run("cancel", [](zv::CMuxer&, std::string&) { return zv::kCancelled; }, error), zv::kCancelled);
  EXPECT_EQ(error, "");

  EXPECT_EQ(run("refused",
                [](zv::CMuxer&, std::string& e) {
                  e = "no room";
                  return zv::kFailed;
                },
                error),
            zv::kFailed);
  EXPECT_EQ(error, "no room");

  // The video file loses most of its bytes once the run has started
  // reading it: a clear failure, not a crash and not a clip of zeros.
  const std::string video = dir / "cut/h264_1080p2398.264";
  EXPECT_EQ(run("cut",
                [&](zv::CMuxer&, std::string&) {
                  EXPECT_EQ(::truncate(video.c_str(), 60000), 0);
                  return zv::kOk;
                },
                error),
            zv::kFailed);
  EXPECT_NE(error.find("h264_1080p2398.264"), std::string::npos) << error;

  // No tracks at all: the multiplexer's own refusal comes back.
  zv::SClipJob empty;
  empty.m2tsPath = dir / "empty.m2ts";
  empty.clpiPath = dir / "empty.clpi";
  zv::CMuxer muxer;
  EXPECT_EQ(zv::MultiplexClip(muxer, empty, error), zv::kFailed);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(std::filesystem::exists(empty.m2tsPath));
}

}  // namespace

// Adding a container's tracks reads the container once for all of them
// after its index pass, and each track comes out as it would alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "edit/sources.h"
#include "media/container.h"
#include "media/container_demux.h"
#include "media/container_direct.h"
#include "model/object_path.h"
#include "model/project.h"
#include "mux/mux_track.h"
#include "platform/file.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

struct Quiet : zvedit::ISourceDisplay {
  zv::Progress Callback() override { return {}; }
  void SetFrames(int64_t) override {}
  void Finish() override {}
  void Message(const std::string& text) override { messages.push_back(text); }
  void Listing(const std::string&) override {}
  std::vector<std::string> messages;
};

// Adds every carried track of `mkv` to a new project's first clip; the
// tracks, in order.
std::vector<zv::SMuxTrack*> AddAll(const std::string& mkv, zv::CZvObject& project) {
  project.InitNew();
  std::string error;
  auto* clip = dynamic_cast<zv::CStoryObject*>(zv::FindObject(project, "Movie#1/Clip#1", error));
  EXPECT_NE(clip, nullptr) << error;
  if (!clip) return {};
  zvedit::SAddSources request;
  request.clipName = "Movie#1/Clip#1";
  request.files = {mkv};
  Quiet shown;
  zv::ScriptedPrompt prompt;
  EXPECT_EQ(zvedit::AddSources(*clip, request, shown, prompt), zv::kOk) << ::testing::PrintToString(shown.messages);
  return clip->m_vecTracks;
}

TEST(EditContainerSources, EveryTrackIsAnalysedInOneReadingOfTheContainer) {
  zv::RegisterContainerTracks();
  // The demuxer's reading: tracks whose packets the index finds in the file
  // would otherwise be read straight from it.
  zv::SetDirectContainerReading(false);
  struct SDirectBack {
    ~SDirectBack() { zv::SetDirectContainerReading(true); }
  } back;
  zvtest::TempDir dir;
  // movie.mkv: H.264, two AC-3 tracks and a PGS track, all carried.
  const std::string mkv = (fs::path(dir.Path()) / "movie.mkv").string();
  fs::copy_file(zvtest::DataPath("containers/movie.mkv"), mkv);
  // What one reading of the file costs: the video track read alone (the
  // demuxer reads more than the file's size, its probe included).
  std::map<int, int64_t> lengths;
  std::string error;
  ASSERT_EQ(zv::IndexContainer(mkv, lengths, error), zv::kOk) << error;
  zv::ResetContainerReadStats();
  {
    zv::File f;
    ASSERT_TRUE(f.Open(zv::TrackPath(mkv, 0, ".264"), zv::File::kRead)) << f.Error();
    std::vector<uint8_t> all(static_cast<size_t>(f.Length()));
    ASSERT_TRUE(f.ReadExact(all.data(), all.size())) << f.Error();
  }
  const int64_t once = zv::ContainerReadStats().fileBytesRead;
  ASSERT_GT(once, 0);

  zv::ResetContainerReadStats();
  zv::CZvObject project;
  const std::vector<zv::SMuxTrack*> tracks = AddAll(mkv, project);
  ASSERT_EQ(tracks.size(), 4u);
  const zv::SContainerReadStats s = zv::ContainerReadStats();
  // One demuxer read the file for all four analyses (one per track read it
  // four times over).
  EXPECT_EQ(s.demuxers, 1);
  EXPECT_LE(s.fileBytesRead, once + once / 10);

  // What the analyses made together describes each track as its own
  // analysis does, track by track, of a copy without stream information.
  zvtest::TempDir again;
  const std::string mkv2 = (fs::path(again.Path()) / "movie.mkv").string();
  fs::copy_file(mkv, mkv2);
  static const char* const kExts[] = {".264", ".ac3", ".ac3", ".sup"};
  for (size_t i = 0; i < 4; ++i) {
    zv::SRawTrack alone;
    zv::ScriptedPrompt prompt;
    ASSERT_TRUE(alone.SetSource(zv::TrackPath(mkv2, static_cast<int>(i), kExts[i]), {}, &prompt))
        << alone.LastError();
    alone.SetLanguageCode(tracks[i]->GetLanguageCode());
    EXPECT_EQ(alone.GetStreamCodingType(), tracks[i]->GetStreamCodingType()) << "track " << i;
    EXPECT_EQ(alone.GetFormatText(), tracks[i]->GetFormatText()) << "track " << i;
    EXPECT_EQ(alone.GetFrameDuration(), tracks[i]->GetFrameDuration()) << "track " << i;
  }
}

}  // namespace

// Shared set-up of the story and playlist tests: stream fixtures copied into
// a temporary folder (analysis writes beside them) and a BDMV tree to build
// into.
#pragma once

#include <filesystem>
#include <string>

#include "model/story.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace zvtest {

class StoryMedia {
 public:
  StoryMedia() {
    std::filesystem::create_directories(dir / "media");
    for (const char* name : {"h264_1080p2398.264", "h264_576i25.264", "h264_720p5994.264", "ac3_stereo.ac3", "ac3_51.ac3", "ac3_mono.ac3"})
      CopyFixture(name, dir / "media");
    // A name ending in "_fre" gives the track its language.
    std::filesystem::copy_file(DataPath("ac3_mono.ac3"), dir / "media/ac3_mono_fre.ac3");
  }
  std::string Media(const std::string& name) const { return dir / ("media/" + name); }
  // Adds every file to the story; fails the test when one is refused.
  void Fill(zv::CStoryObject& story, std::initializer_list<const char*> names) {
    for (const char* n : names) {
      zv::ScriptedPrompt prompt;
      ASSERT_EQ(story.AddSource(Media(n), true, zv::Progress{}, prompt), zv::kOk) << n;
    }
  }
  // DISC/BDMV with the folders a build writes into.
  std::string MakeBdmv() const {
    const std::string bdmv = dir / "out/BDMV/";
    for (const char* f : {"STREAM", "CLIPINF", "PLAYLIST", "BACKUP/CLIPINF", "BACKUP/PLAYLIST"})
      std::filesystem::create_directories(bdmv + f);
    return bdmv;
  }

  TempDir dir;
};

}  // namespace zvtest

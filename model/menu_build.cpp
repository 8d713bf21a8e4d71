// Building a menu into its own clip: the build copy with its generated
// button commands, the interactive-graphics stream, and the clip of
// application type 5 that holds only that stream.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "model/build.h"
#include "model/menu.h"
#include "model/story.h"
#include "mux/clip_mux.h"
#include "mux/mux_track.h"
#include "platform/file.h"
#include "platform/paths.h"

namespace zv {

const char* const kMsgMoreThanOneEpoch = "\"%s\" can't have more than one Epoch! ";
const char* const kMsgMoreThanOneDisplaySet = "\"%s\" can't have more than one DisplaySet! ";

namespace {

// Removes the files it names on every way out, unless released.
struct RemoveOnExit {
  std::vector<std::string> paths;
  ~RemoveOnExit() {
    for (const std::string& p : paths) {
      std::error_code ec;
      std::filesystem::remove(p, ec);
    }
  }
};

}  // namespace

bool CMenuIgObject::ValidateForBuild(const std::string& label, IPrompt& prompt) const {
  if (IsEmpty()) return true;
  const std::string name = label + m_strName;
  if (!m_bOutOfMux) {
    // Left out silently, the menu would simply be missing from the disc.
    prompt.Message("\"" + name + "\": a menu multiplexed into its video's clip is not built; give it a clip of its own "
                   "(stream-model=own-clip)");
    return false;
  }
  if (GetCount() != 1) {
    prompt.Message(FormatMessage(kMsgMoreThanOneEpoch, name));
    return false;
  }
  if (GetAt(0)->GetCount() != 1) {
    prompt.Message(FormatMessage(kMsgMoreThanOneDisplaySet, name));
    return false;
  }
  return true;
}

int MuxMenuClip(const std::string& streamPath, const std::string& clipPath, const std::string& clpiPath,
                uint8_t frameRateCode, const Progress& progress, IPrompt& prompt, int32_t& start, int32_t& end) {
  // The stream's analysis leaves its stream-information file beside it; it
  // goes with the stream whatever happens.
  RemoveOnExit temps{{streamPath, streamPath + ".dsi"}};
  SRawTrack track;
  if (!track.SetSource(streamPath, progress, &prompt)) return track.LastError() == "Cancelled" ? kCancelled : kFailed;
  track.m_nOrderKey = 0;
  SClipJob job;
  job.tracks = AssignPids({&track});
  job.m2tsPath = clipPath;
  job.clpiPath = clpiPath;
  job.replaceExisting = true;
  job.prep.applicationType = 5;
  // One frame: the menu needs no more time on the disc than its first
  // composition takes to show.
  job.prep.durationMs = FrameDurationOfCode(frameRateCode);
  job.prep.progress = progress;
  job.prep.prompt = &prompt;
  CMuxer muxer;
  std::string error;
  const int rc = MultiplexClip(muxer, job, error);
  track.ReleaseMux();
  track.ReleaseSource();
  if (rc != kOk) {
    if (rc == kFailed && !error.empty()) prompt.Message(error);
    return rc;
  }
  const SClipTiming& tm = muxer.Timing();
  start = static_cast<int32_t>((tm.presentationStart + 150) / 300);
  end = static_cast<int32_t>((tm.presentationEnd + 150) / 300);
  return kOk;
}

int CMenuIgObject::BuildMenu(const std::string& bdmvPathIn, const std::string& label, const Progress& progress,
                             IPrompt& prompt) {
  if (IsEmpty()) return kOk;
  std::string bdmv = NormalizeSeparators(bdmvPathIn);
  if (bdmv.empty() || bdmv.back() != '/') bdmv += '/';
  const std::string stream = bdmv + m_strName + ".ig";
  const std::string clip = ClipFilePath(bdmv + "STREAM/", m_nClipNumber, ".m2ts");
  const std::string clpi = ClipFilePath(bdmv + "CLIPINF/", m_nClipNumber, ".clpi");
  const std::string backup = ClipFilePath(bdmv + "BACKUP/CLIPINF/", m_nClipNumber, ".clpi");

  // The build works on a copy with the generated commands; the menu's own
  // display set is back in place on every way out.
  CMenuBuildCopy copy(*this, progress);
  if (!copy.Ok()) return kFailed;
  if (!copy.Check(label, prompt)) return kFailed;

  RemoveOnExit temps{{stream, stream + ".dsi"}};
  {
    // Whatever an interrupted build left under this name goes first; a
    // link there is removed, never written through.
    std::error_code ec;
    std::filesystem::remove(stream, ec);
    File file;
    std::string error;
    if (!file.Open(stream, File::kCreateNew)) {
      prompt.Message(file.Error());
      return kFailed;
    }
    // Its warnings and errors join the build log.
    if (!WriteStream(file, nullptr, false, progress, false, error)) {
      prompt.Message(error.empty() ? "Cannot compile \"" + label + m_strName + "\"" : error);
      return kFailed;
    }
    if (!file.Close()) {
      prompt.Message(file.Error());
      return kFailed;
    }
  }
  const int rc = MuxMenuClip(stream, clip, clpi, m_video.frameRateCode, progress, prompt, m_nClipStart, m_nClipEnd);
  if (rc != kOk) return rc;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(clpi, bytes, error) || !WriteFileAtomic(backup, bytes.data(), bytes.size(), error)) {
    prompt.Message(error);
    return kFailed;
  }
  return kOk;
}

}  // namespace zv

// Multiplexing one story into its clip and clip information files.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "model/build.h"
#include "model/story.h"
#include "mux/clip_mux.h"
#include "mux/rip_track.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "streams/sif_data.h"

namespace zv {


std::string ClipFilePath(const std::string& folder, int32_t number, const char* ext) {
  char name[32];
  std::snprintf(name, sizeof name, "%05d%s", static_cast<int>(number), ext);
  return folder + name;
}

int CStoryObject::MuxStory(const std::string& bdmvPathIn, const Progress& progress, IPrompt& prompt) {
  std::string bdmv = NormalizeSeparators(bdmvPathIn);
  if (bdmv.empty() || bdmv.back() != '/') bdmv += '/';
  const std::string clip = ClipFilePath(bdmv + "STREAM/", m_nClipNumber, ".m2ts");
  const std::string clpi = ClipFilePath(bdmv + "CLIPINF/", m_nClipNumber, ".clpi");
  const std::string backup = ClipFilePath(bdmv + "BACKUP/CLIPINF/", m_nClipNumber, ".clpi");

  // A style changed since the sources were opened is drawn now.
  if (const int rc = RefreshTextSubtitles(progress, prompt); rc != kOk) return rc;

  SClipJob job;
  job.tracks = AssignPids();
  job.m2tsPath = clip;
  job.clpiPath = clpi;
  job.seamless = !m_vecPrevClips.empty();
  // In a build the staging folder holds nothing of these names anyway.
  job.replaceExisting = true;
  SMuxPrepare& prep = job.prep;
  prep.progress = progress;
  prep.prompt = &prompt;

  // Reused tracks read their packets through one read-only handle of the
  // existing clip, held for this build only.
  std::unique_ptr<CReusedClip> reused;
  const bool anyReused =
      std::any_of(job.tracks.begin(), job.tracks.end(), [](const SMuxTrack* t) { return t->m_nReused != 0; });
  if (anyReused) {
    std::string error;
    reused = std::make_unique<CReusedClip>();
    if (m_strClipPath.empty() || !reused->Open(m_strClipPath, error)) {
      prompt.Message(error.empty() ? "\"" + m_strName + "\" has reused tracks but no existing clip" : error);
      return kFailed;
    }
    for (const auto& t : m_pRipTracks->items) {
      if (t->m_clipIdentity.size >= 0 && !t->m_clipIdentity.Matches(reused->OpenedIdentity())) {
        prompt.Message("\"" + m_strClipPath + "\" changed since its tracks were added to \"" + m_strName +
                       "\" (size, time or content); remove it and add it again");
        return kFailed;
      }
    }
    const int rc = PrepareReusedClip(*m_pRipTracks, *reused, m_strClipPath2, progress, prep.basePresentationTime, error);
    if (rc != kOk) {
      if (rc == kFailed) prompt.Message(error);
      return rc;
    }
  }
  job.prepared = [&](CMuxer&, std::string&) {
    if (!progress.Item("Muxing " + m_strName + ":")) return kCancelled;
    for (const STrackRef& t : TrackRefs()) {
      if (!t.enabled || !t.video) continue;
      const std::string warning = DisallowedVideoWarning(t.path, t.videoFormat, t.fpsCode);
      if (!warning.empty() && !progress.Item(LogLine(m_strName + ": " + warning))) return kCancelled;
    }
    return kOk;
  };
  CMuxer muxer;
  std::string error;
  const int rc = MultiplexClip(muxer, job, error);
  if (rc != kOk) {
    if (rc == kFailed && !error.empty()) prompt.Message(error);
    return rc;
  }
  // Packets of a clip replaced while they were read would be a mix of two.
  if (reused && !reused->Unchanged(error)) {
    std::error_code ec;
    std::filesystem::remove(clip, ec);
    std::filesystem::remove(clpi, ec);
    prompt.Message(error);
    return kFailed;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(clpi, bytes, error) || !WriteFileAtomic(backup, bytes.data(), bytes.size(), error)) {
    prompt.Message(error);
    return kFailed;
  }
  return kOk;
}

}  // namespace zv

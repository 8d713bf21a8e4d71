#include "mux/clip_mux.h"

#include <filesystem>
#include <system_error>

namespace zv {

int MultiplexClip(CMuxer& muxer, SClipJob& job, std::string& error) {
  error.clear();
  if (!muxer.Prepare(&job.tracks, job.prep)) {
    error = muxer.Error();
    return kFailed;
  }
  if (job.prepared) {
    const int rc = job.prepared(muxer, error);
    if (rc != kOk) return rc;
  }
  if (job.replaceExisting) {
    for (const std::string& path : {job.m2tsPath, job.clpiPath}) {
      std::error_code ec;
      const auto st = std::filesystem::symlink_status(path, ec);
      if (std::filesystem::exists(st) && !std::filesystem::is_directory(st)) std::filesystem::remove(path, ec);
    }
  }
  return MuxClipFiles(muxer, job.m2tsPath, job.clpiPath, job.seamless, job.prep.progress, error,
                      job.replaceExisting);
}

}  // namespace zv

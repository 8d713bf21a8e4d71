// Reusing the streams of an existing clip against multiplexing them from
// their elementary streams, in one process, medians of RUNS runs taken in
// turn. Both write a new clip and its clip information. Both analyses are
// cached after the first run, as when a project is built again: the
// elementary streams' beside them (.dsi), the clip's scan in the cache
// folder (here one below OUTDIR). The first run of each, which analyses the
// streams or reads the whole clip for its scan, is shown on its own.
//   from files   raw tracks of VIDEO and AUDIO through the multiplexer
//   reuse        every stream of the clip made from them: its units (from
//                the cache), then the multiplexer serving the clip's packets
// Usage: bench_reuse VIDEO AUDIO OUTDIR [RUNS]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "mux/muxer.h"
#include "mux/rip_track.h"

namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench_reuse: %s\n", what.c_str());
  std::exit(2);
}

void Run(std::vector<zv::SMuxTrack*> tracks, const zv::SMuxPrepare& prep, const std::string& out) {
  std::vector<zv::SMuxTrack*> ordered = zv::AssignPids(tracks);
  zv::CMuxer muxer;
  if (!muxer.Prepare(&ordered, prep)) Die(muxer.Error());
  std::string error;
  ::unlink((out + ".m2ts").c_str());
  ::unlink((out + ".clpi").c_str());
  if (zv::MuxClipFiles(muxer, out + ".m2ts", out + ".clpi", false, {}, error) != zv::kOk) Die(error);
  for (zv::SMuxTrack* t : tracks) {
    t->ReleaseMux();
    t->ReleaseSource();
  }
}

// Wall and CPU seconds of one run. The CPU time (user and system, writing
// included) is the steadier measure on a shared machine, where the wall
// time also waits for other work and for the disk.
struct Times {
  double wall = 0, cpu = 0;
};

double CpuNow() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = CpuNow();
  Times Elapsed() const {
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(), CpuNow() - cpu};
  }
};

Times FromFiles(const std::string& video, const std::string& audio, const std::string& out) {
  const Clock clock;
  std::vector<std::unique_ptr<zv::SRawTrack>> owned;
  std::vector<zv::SMuxTrack*> tracks;
  for (const std::string& f : {video, audio}) {
    auto t = std::make_unique<zv::SRawTrack>();
    if (!t->SetSource(f, {}, nullptr)) Die(t->LastError());
    t->m_nOrderKey = static_cast<int32_t>(tracks.size());
    tracks.push_back(t.get());
    owned.push_back(std::move(t));
  }
  Run(tracks, {}, out);
  return clock.Elapsed();
}

Times Reuse(const std::string& clipPath, const std::string& out) {
  const Clock clock;
  zv::SClipListing listing;
  std::string error;
  if (zv::ListClipStreams(clipPath, listing, error) != zv::kOk) Die(error);
  zv::SRipTracks rip;
  for (const zv::SClipStream& s : listing.streams) rip.items.push_back(zv::MakeRipTrack(listing, s));
  zv::CReusedClip clip;
  if (!clip.Open(clipPath, error)) Die(error);
  zv::SMuxPrepare prep;
  if (zv::PrepareReusedClip(rip, clip, listing.clpiPath, {}, prep.basePresentationTime, error) != zv::kOk) Die(error);
  std::vector<zv::SMuxTrack*> tracks;
  for (auto& t : rip.items) {
    t->m_nOrderKey = static_cast<int32_t>(tracks.size());
    tracks.push_back(t.get());
  }
  Run(tracks, prep, out);
  return clock.Elapsed();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_reuse VIDEO AUDIO OUTDIR [RUNS]\n");
    return 64;
  }
  const std::string video = argv[1], audio = argv[2], out = argv[3];
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  ::setenv("XDG_CACHE_HOME", (out + "/cache").c_str(), 1);
  // The clip to reuse, made once (this also caches the analysis).
  const std::string source = out + "/00001";
  const Times firstFiles = FromFiles(video, audio, source);
  // A clip is reused long after it was written; one changed in the last
  // seconds is scanned every time, since a change within its time stamp's
  // resolution could not be told.
  std::this_thread::sleep_for(std::chrono::milliseconds(3100));
  const Times first = Reuse(source + ".m2ts", out + "/reuse");
  std::vector<double> files, reuse, filesCpu, reuseCpu;
  for (int i = 0; i < runs; ++i) {
    const Times f = FromFiles(video, audio, out + "/files");
    const Times r = Reuse(source + ".m2ts", out + "/reuse");
    files.push_back(f.wall);
    filesCpu.push_back(f.cpu);
    reuse.push_back(r.wall);
    reuseCpu.push_back(r.cpu);
  }
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  const double f = Median(files), r = Median(reuse);
  // The machine may be shared: the range shows how far one run can stray.
  auto range = [](const std::vector<double>& v) {
    char text[64];
    std::snprintf(text, sizeof text, "(%.3f .. %.3f)", *std::min_element(v.begin(), v.end()),
                  *std::max_element(v.begin(), v.end()));
    return std::string(text);
  };
  std::printf("reuse: every stream of a clip multiplexed again, median of %d runs\n", runs);
  std::printf("  from the elementary streams %8.3f s %s, CPU %.3f s %s\n", f, range(files).c_str(), Median(filesCpu),
              range(filesCpu).c_str());
  std::printf("  reusing the clip's packets  %8.3f s %s, CPU %.3f s %s\n", r, range(reuse).c_str(), Median(reuseCpu),
              range(reuseCpu).c_str());
  std::printf("  first runs: from the streams, analysing them %.3f s (CPU %.3f s); reusing, scanning the clip %.3f s (CPU %.3f s)\n",
              firstFiles.wall, firstFiles.cpu, first.wall, first.cpu);
  std::printf("  reuse is %.2fx as fast, %.2fx in CPU time (goal: 1x or more); peak memory %.1f MB\n", f / r,
              Median(filesCpu) / Median(reuseCpu), ru.ru_maxrss / 1024.0);
  return 0;
}

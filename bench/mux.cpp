// Clip-building throughput: analysis plus multiplexing of a video and an
// audio stream into a clip with its clip information, against ffmpeg's
// m2ts remux of the same streams from a Matroska file and a plain `cp` of a
// file the clip's size, all in the same run. Like ffmpeg and cp, zelvane
// writes over its clip of the previous run (a rebuild); a second timing
// writes a new clip file, which costs the kernel fresh page-cache pages; a
// third writes a new file in a staging folder and renames it over the old
// clip, as a build does, freeing the old clip's blocks.
// Usage: bench_mux VIDEO AUDIO MKV OUTDIR [RUNS]
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "mux/mux_track.h"
#include "mux/muxer.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "streams/stream_context.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double TimeCommand(const std::string& cmd) {
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    std::exit(2);
  }
  return Seconds(std::chrono::steady_clock::now() - t0);
}

enum class Write { kInPlace, kNewFile, kStagedRename };

double TimeZelvane(const std::string& video, const std::string& audio, const std::string& out, Write how) {
  // Analysis is part of the work measured: drop the cached stream information.
  for (const std::string* p : {&video, &audio}) ::unlink(zv::SifPathBeside(*p).c_str());
  if (how == Write::kNewFile) ::unlink((out + "/zv.m2ts").c_str());
  const std::string stage = out + "/stage";
  ::mkdir(stage.c_str(), 0777);
  const std::string dir = how == Write::kStagedRename ? stage : out;
  ::unlink((stage + "/zv.m2ts").c_str());
  ::unlink((stage + "/zv.clpi").c_str());
  auto t0 = std::chrono::steady_clock::now();
  zv::ScriptedPrompt prompt;
  zv::SRawTrack v, a;
  if (!v.SetSource(video, {}, &prompt) || !a.SetSource(audio, {}, &prompt)) {
    std::fprintf(stderr, "analysis failed: %s%s\n", v.LastError().c_str(), a.LastError().c_str());
    std::exit(2);
  }
  v.m_nOrderKey = 0;
  a.m_nOrderKey = 1;
  std::vector<zv::SMuxTrack*> tracks = zv::AssignPids({&v, &a});
  zv::CMuxer muxer;
  zv::SMuxPrepare prep;
  prep.prompt = &prompt;
  std::string error;
  if (!muxer.Prepare(48000000, &tracks, 1, 0, prep) ||
      zv::MuxClipFiles(muxer, dir + "/zv.m2ts", dir + "/zv.clpi", nullptr, {}, error,
                       how == Write::kStagedRename) != zv::kOk) {
    std::fprintf(stderr, "multiplexing failed: %s%s\n", muxer.Error().c_str(), error.c_str());
    std::exit(2);
  }
  if (how == Write::kStagedRename && (::rename((dir + "/zv.m2ts").c_str(), (out + "/zv.m2ts").c_str()) != 0 ||
                                      ::rename((dir + "/zv.clpi").c_str(), (out + "/zv.clpi").c_str()) != 0)) {
    std::perror("rename");
    std::exit(2);
  }
  return Seconds(std::chrono::steady_clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_mux VIDEO AUDIO MKV OUTDIR [RUNS]\n");
    return 64;
  }
  const std::string video = argv[1], audio = argv[2], mkv = argv[3], out = argv[4];
  const int runs = argc > 5 ? std::atoi(argv[5]) : 3;
  const double inMb = (zv::FileSize(video) + zv::FileSize(audio)) / 1e6;
  TimeCommand("cat '" + video + "' '" + audio + "' '" + mkv + "' > /dev/null");  // warm the page cache

  double ours = 1e9, oursNew = 1e9, oursStaged = 1e9, ffmpeg = 1e9, cp = 1e9;
  for (int i = 0; i < runs; ++i) {
    oursNew = std::min(oursNew, TimeZelvane(video, audio, out, Write::kNewFile));
    ours = std::min(ours, TimeZelvane(video, audio, out, Write::kInPlace));
    oursStaged = std::min(oursStaged, TimeZelvane(video, audio, out, Write::kStagedRename));
    ffmpeg = std::min(ffmpeg, TimeCommand("ffmpeg -nostdin -v error -y -i '" + mkv +
                                          "' -map 0 -c copy -f mpegts -mpegts_m2ts_mode 1 '" + out + "/ff.m2ts'"));
    cp = std::min(cp, TimeCommand("cp '" + out + "/zv.m2ts' '" + out + "/copy.m2ts'"));
  }
  const double clipMb = zv::FileSize(out + "/zv.m2ts") / 1e6;
  struct rusage self, children;
  getrusage(RUSAGE_SELF, &self);
  getrusage(RUSAGE_CHILDREN, &children);
  std::printf("mux  %s + %s: %.1f MB in, %.1f MB clip, best of %d\n", zv::FileNameOf(video).c_str(),
              zv::FileNameOf(audio).c_str(), inMb, clipMb, runs);
  std::printf("  zelvane analyse+mux %8.3f s  %8.1f MB/s of clip\n", ours, clipMb / ours);
  std::printf("  zelvane, new file   %8.3f s  %8.1f MB/s of clip\n", oursNew, clipMb / oursNew);
  std::printf("  zelvane, staged     %8.3f s  %8.1f MB/s of clip (new file renamed over the old one)\n", oursStaged,
              clipMb / oursStaged);
  std::printf("  ffmpeg m2ts remux   %8.3f s  %8.1f MB/s\n", ffmpeg, clipMb / ffmpeg);
  std::printf("  cp of the clip      %8.3f s  %8.1f MB/s\n", cp, clipMb / cp);
  std::printf("  ratio               %8.2f (zelvane time / ffmpeg time)\n", ours / ffmpeg);
  std::printf("  ratio               %8.2f (zelvane time / cp time)\n", ours / cp);
  std::printf("  ratio               %8.2f (zelvane new-file time / ffmpeg time)\n", oursNew / ffmpeg);
  std::printf("  ratio               %8.2f (zelvane staged time / in-place time)\n", oursStaged / ours);
  std::printf("  peak memory         %8.1f MB zelvane, %.1f MB largest child (ffmpeg or cp)\n",
              self.ru_maxrss / 1024.0, children.ru_maxrss / 1024.0);
  for (const char* f : {"/ff.m2ts", "/copy.m2ts"}) ::unlink((out + f).c_str());
  return 0;
}

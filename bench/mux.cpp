// Clip-building speed as a user sees it: whole processes, each writing a new
// output file, medians of RUNS runs taken in turn.
//   zelvane   `zelvane mux` of the video and the audio stream (analysis with
//             no cached stream information, multiplexing, summary)
//   ffmpeg    plain m2ts remux of the same streams from a Matroska file
//   cat       the two inputs concatenated into a new file: the I/O floor
//   start-up  `zelvane --version`: what every command pays before its work
// Each line gives the median wall time and, beside it, the median processor
// time (user and system, all threads).
// Usage: bench_mux ZELVANE VIDEO AUDIO MKV OUTDIR [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the process and its threads
  double peakMb = 0;  // largest resident set of the process
};

// Runs argv with stdout to `stdoutPath` (or /dev/null) and stderr to
// /dev/null; exits the benchmark when it fails.
Sample Time(const std::vector<std::string>& argv, const std::string& stdoutPath = "/dev/null") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  // The previous process's written pages go to disk first, not during this one.
  ::sync();
  const auto t0 = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) {
    std::fprintf(stderr, "cannot run %s\n", args[0]);
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  struct rusage ru {};
  if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string cmd;
    for (const std::string& a : argv) cmd += a + " ";
    std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    std::exit(2);
  }
  Sample s;
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  s.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  s.peakMb = ru.ru_maxrss / 1024.0;
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double FileMb(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size / 1e6 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: bench_mux ZELVANE VIDEO AUDIO MKV OUTDIR [RUNS]\n");
    return 64;
  }
  const std::string zelvane = argv[1], video = argv[2], audio = argv[3], mkv = argv[4], out = argv[5];
  const int runs = argc > 6 ? std::max(1, std::atoi(argv[6])) : 7;
  const std::string zvOut = out + "/zv.m2ts", zvClpi = out + "/zv.clpi", ffOut = out + "/ff.m2ts",
                    catOut = out + "/cat.bin";
  // Warm the page cache: every run reads its inputs from memory.
  Time({"cat", video, audio, mkv});

  std::vector<double> zv, ff, cat, zvMem, ffMem, start, startMem, zvCpu, ffCpu, catCpu;
  for (int i = 0; i < runs; ++i) {
    // Analysis is part of the work: no cached stream information. Every
    // output is a new file.
    for (const std::string& p : {video + ".dsi", audio + ".dsi", zvOut, zvClpi, ffOut, catOut})
      ::unlink(p.c_str());
    Sample s = Time({zelvane, "mux", zvOut, video, audio, "--yes"});
    zv.push_back(s.seconds);
    zvCpu.push_back(s.cpuSeconds);
    zvMem.push_back(s.peakMb);
    s = Time({"ffmpeg", "-nostdin", "-v", "error", "-i", mkv, "-map", "0", "-c", "copy", "-f", "mpegts",
              "-mpegts_m2ts_mode", "1", ffOut});
    ff.push_back(s.seconds);
    ffCpu.push_back(s.cpuSeconds);
    ffMem.push_back(s.peakMb);
    s = Time({"cat", video, audio}, catOut);
    cat.push_back(s.seconds);
    catCpu.push_back(s.cpuSeconds);
    s = Time({zelvane, "--version"});
    start.push_back(s.seconds);
    startMem.push_back(s.peakMb);
  }
  const double z = Median(zv), f = Median(ff), c = Median(cat);
  std::printf("mux: %.1f MB of input, %.1f MB clip; whole processes, new output files, median of %d runs\n",
              FileMb(video) + FileMb(audio), FileMb(zvOut), runs);
  std::printf("  zelvane mux         %8.3f s  (cpu %.3f s)  peak memory %6.1f MB\n", z, Median(zvCpu),
              *std::max_element(zvMem.begin(), zvMem.end()));
  std::printf("  ffmpeg m2ts remux   %8.3f s  (cpu %.3f s)  peak memory %6.1f MB\n", f, Median(ffCpu),
              *std::max_element(ffMem.begin(), ffMem.end()));
  std::printf("  cat of the inputs   %8.3f s  (cpu %.3f s)\n", c, Median(catCpu));
  std::printf("  zelvane --version   %8.3f s  peak memory %6.1f MB (start-up)\n", Median(start),
              *std::max_element(startMem.begin(), startMem.end()));
  std::printf("  zelvane is %.2fx as fast as ffmpeg (goal: 2.5x or more)\n", f / z);
  std::printf("  zelvane takes %.2fx the time of cat (goal: 1.5x or less)\n", z / c);
  for (const std::string& p : {ffOut, catOut}) ::unlink(p.c_str());
  return 0;
}

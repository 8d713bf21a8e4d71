// Text subtitles: a two-hour SRT of 1,500 events (one and two lines,
// italics, some overlapping) rendered into a 1920x1080 23.976 PG stream,
// against a target of 10 s, with the peak memory before and after so that
// a growing footprint shows.
// Usage: bench_subtitles [RUNS]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/file.h"
#include "subtitles/pg_subtitles.h"

namespace {

std::string Time(int64_t ms) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d,%03d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return b;
}

std::string TwoHourSrt() {
  std::string s;
  const int64_t step = 7200000 / 1500;
  for (int i = 0; i < 1500; ++i) {
    const int64_t start = i * step + 137, end = start + (i % 10 == 0 ? step + 900 : step - 600);
    s += std::to_string(i + 1) + "\n" + Time(start) + " --> " + Time(end) + "\n";
    if (i % 3 == 0) s += "<i>Line " + std::to_string(i) + " of the film, spoken softly</i>\n";
    else s += "Speaker " + std::to_string(i % 7) + ": a sentence of ordinary length,\nand its second line here\n";
    s += "\n";
  }
  return s;
}

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 1;
  const std::string dir = std::filesystem::temp_directory_path() / "zv_bench_subtitles";
  std::filesystem::create_directories(dir);
  const std::string in = dir + "/film_eng.srt", out = dir + "/film_eng.sup";
  const std::string text = TwoHourSrt();
  std::string error;
  if (!zv::WriteWholeFile(in, text.data(), text.size(), error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  zv::SSubtitleRenderOptions options;
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    const long before = PeakKb();
    const auto t0 = std::chrono::steady_clock::now();
    zv::SSubtitleRenderStats stats;
    std::vector<std::string> warnings;
    if (zv::RenderSubtitleFile(in, out, options, zv::Progress{}, stats, warnings, error) != zv::kOk) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 2;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    best = std::min(best, s);
    std::printf("subtitles: %zu events, %zu display sets, %ju bytes in %.2f s (target 10 s); peak memory %ld -> %ld KiB\n",
                stats.events, stats.displaySets, static_cast<uintmax_t>(std::filesystem::file_size(out)), s, before,
                PeakKb());
  }
  std::filesystem::remove_all(dir);
  return best <= 10.0 ? 0 : 1;
}

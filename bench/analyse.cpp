// Stream-analysis throughput: analyses one stream file several times and
// compares the rate with reading the same file through `cat` in the same run.
// Usage: bench_analyse FILE [RUNS]
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "streams/parse_result.h"
#include "streams/parser_base.h"
#include "streams/stream_context.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double TimeCat(const std::string& path) {
  std::string cmd = "cat '" + path + "' > /dev/null";
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) {
    std::fprintf(stderr, "cat failed on %s\n", path.c_str());
    std::exit(2);
  }
  return Seconds(std::chrono::steady_clock::now() - t0);
}

double TimeAnalysis(const std::string& path) {
  zv::SStreamContext ctx;
  std::string message;
  auto t0 = std::chrono::steady_clock::now();
  int r = zv::AnalyseStreamFile(path, ctx, message, {});
  double s = Seconds(std::chrono::steady_clock::now() - t0);
  if (r != zv::kParseOk) {
    std::fprintf(stderr, "analysis failed: %s%s\n", message.c_str(), r == 1 ? "cancelled" : "");
    std::exit(2);
  }
  ::unlink(ctx.sifPath.c_str());
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_analyse FILE [RUNS]\n");
    return 64;
  }
  const std::string path = argv[1];
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  const double mb = static_cast<double>(zv::FileSize(path)) / 1e6;
  TimeCat(path);  // warm the page cache for both
  double cat = 1e9, analysis = 1e9;
  for (int i = 0; i < runs; ++i) {
    cat = std::min(cat, TimeCat(path));
    analysis = std::min(analysis, TimeAnalysis(path));
  }
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  const double peakMb = ru.ru_maxrss / 1024.0;
  const double rate = mb / analysis, catRate = mb / cat;
  std::printf("analyse  %s: %.1f MB, best of %d\n", zv::FileNameOf(path).c_str(), mb, runs);
  std::printf("  analysis     %8.3f s  %8.1f MB/s\n", analysis, rate);
  std::printf("  cat          %8.3f s  %8.1f MB/s\n", cat, catRate);
  std::printf("  ratio        %8.2f (analysis / cat)\n", rate / catRate);
  std::printf("  peak memory  %8.1f MB (target < 64 MB)\n", peakMb);
  std::printf("  throughput   %s the 1 GB/s target\n", rate >= 1000 ? "meets" : "misses");
  return 0;
}

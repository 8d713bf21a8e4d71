// Encoding speed of `source add --encode` at its default settings (and, to
// show what the default preset trades, at other x264 presets): frames per
// second of the whole encode (decode, scale, x264, write), each run on a
// fresh copy of the source so that no earlier encode is reused. The CPU
// time beside it tells the work apart from the load of a shared machine.
// Usage: bench_encode SOURCE [PRESET...]   (no PRESET: the default alone)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "transcode/video_encode.h"

namespace fs = std::filesystem;

static double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_encode SOURCE [PRESET...]\n");
    return 64;
  }
  std::vector<std::string> presets;
  for (int i = 2; i < argc; ++i) presets.push_back(argv[i]);
  if (presets.empty()) presets.push_back(zv::kDefaultVideoPreset);
  const fs::path work = fs::temp_directory_path() / ("zv-bench-encode-" + std::to_string(::getpid()));
  fs::create_directories(work);
  int rc = 0;
  for (const std::string& preset : presets) {
    const fs::path copy = work / fs::path(argv[1]).filename();
    fs::copy_file(argv[1], copy, fs::copy_options::overwrite_existing);
    zv::SVideoEncodeOptions o;
    o.preset = preset == zv::kDefaultVideoPreset ? std::string() : preset;
    zv::SVideoEncodeResult r;
    std::string message;
    const double cpu0 = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (zv::EncodeVideo(copy.string(), o, r, message, zv::Progress{}) != zv::kOk) {
      std::fprintf(stderr, "bench_encode: %s\n", message.c_str());
      rc = 2;
      break;
    }
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    std::printf("%-10s %s  %lld frames  %.2f s  %.1f fps  %.2f CPU s per frame  %.0f kbit/s%s\n", preset.c_str(),
                r.target.name.c_str(), static_cast<long long>(r.frames), s, r.frames / s, cpu / r.frames,
                fs::file_size(r.path) * 8.0 / 1000.0 / (r.frames / r.target.Fps()),
                preset == zv::kDefaultVideoPreset ? "  (default)" : "");
    fs::remove(r.path);
  }
  fs::remove_all(work);
  return rc;
}

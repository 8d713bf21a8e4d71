// LPCM benchmark: a 2-hour 5.1, 16-bit, 48 kHz WAV track (4.1 GB) made here,
// analysed, then every 5 ms unit served as the multiplexer takes it
// (big-endian, channels in the disc's order), compared with reading the file
// through `cat` in the same run. Peak memory must not grow with the track.
// Usage: bench_lpcm [FOLDER] [SECONDS]
// The samples are a repeating tone written in blocks of about 4 MiB; the file is
// removed at the end.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/paths.h"
#include "streams/parse_result.h"
#include "streams/parser_base.h"
#include "streams/stream_context.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double PeakMb() {
  struct rusage ru;
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss / 1024.0;
}

void Put(std::vector<uint8_t>& v, uint32_t x, int n) {
  for (int i = 0; i < n; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

// Writes the WAV; false when the disk refuses it.
bool MakeWav(const std::string& path, uint64_t seconds) {
  constexpr uint16_t kChannels = 6, kBlock = 12;
  constexpr uint32_t kRate = 48000;
  const uint64_t data = seconds * kRate * kBlock;
  if (data > 0xFFFFFFFFull - 68) return false;
  std::vector<uint8_t> h = {'R', 'I', 'F', 'F'};
  Put(h, static_cast<uint32_t>(data + 60), 4);
  h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put(h, 40, 4);
  Put(h, 0xFFFE, 2);
  Put(h, kChannels, 2);
  Put(h, kRate, 4);
  Put(h, kRate * kBlock, 4);
  Put(h, kBlock, 2);
  Put(h, 16, 2);
  Put(h, 22, 2);
  Put(h, 16, 2);
  Put(h, 0x3F, 4);  // FL FR FC LFE BL BR
  const uint8_t pcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  h.insert(h.end(), pcm, pcm + 16);
  h.insert(h.end(), {'d', 'a', 't', 'a'});
  Put(h, static_cast<uint32_t>(data), 4);
  zv::File f;
  if (!f.Open(path, zv::File::kCreate) || !f.Write(h.data(), h.size())) return false;
  // One second of a tone per channel, repeated.
  std::vector<uint8_t> second(kRate * kBlock);
  for (uint32_t i = 0; i < kRate; ++i)
    for (int c = 0; c < kChannels; ++c) {
      const auto s = static_cast<int16_t>(8000 * std::sin(2 * M_PI * (220.0 + 110 * c) * i / kRate));
      std::memcpy(&second[i * kBlock + c * 2], &s, 2);
    }
  std::vector<uint8_t> block;
  while (block.size() < (4u << 20)) block.insert(block.end(), second.begin(), second.end());
  for (uint64_t left = data; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, block.size()));
    if (!f.Write(block.data(), n)) {
      std::fprintf(stderr, "%s\n", f.Error().c_str());
      return false;
    }
    left -= n;
  }
  return f.Close();
}

double TimeCat(const std::string& path) {
  const std::string cmd = "cat '" + path + "' > /dev/null";
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(cmd.c_str()) != 0) std::exit(2);
  return Seconds(std::chrono::steady_clock::now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : zv::TempFolder();
  const uint64_t seconds = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 7200;
  const std::string path = folder + "/bench_lpcm_51_16_48.wav";
  std::printf("lpcm  generating %.1f h of 5.1 16-bit 48 kHz in %s\n", seconds / 3600.0, path.c_str());
  if (!MakeWav(path, seconds)) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    ::unlink(path.c_str());
    return 2;
  }
  const double mb = static_cast<double>(zv::FileSize(path)) / 1e6;
  const double afterMake = PeakMb();

  zv::SStreamContext ctx;
  zv::SSourceParams src;
  src.path = path;
  auto t0 = std::chrono::steady_clock::now();
  if (zv::OpenStream(src, ctx, {}, nullptr) != zv::kOk) {
    std::fprintf(stderr, "analysis failed\n");
    ::unlink(path.c_str());
    return 2;
  }
  const double analysis = Seconds(std::chrono::steady_clock::now() - t0);
  const uint32_t units = ctx.header.auCount;

  const double cat = TimeCat(path);
  t0 = std::chrono::steady_clock::now();
  uint64_t served = 0, bytes = 0;
  for (const zv::AUI* au; (au = zv::NextAu(ctx));) {
    ++served;
    bytes += au->size;
  }
  const double serve = Seconds(std::chrono::steady_clock::now() - t0);
  const std::string sif = ctx.sifPath;
  ctx.Close();
  ::unlink(sif.c_str());
  ::unlink(path.c_str());
  if (served != units) {
    std::fprintf(stderr, "served %llu of %u units\n", static_cast<unsigned long long>(served), units);
    return 2;
  }
  const double peak = PeakMb();
  std::printf("lpcm  %.1f MB, %u units of 5 ms\n", mb, units);
  std::printf("  analysis     %8.3f s  (%.0f MB/s of track)\n", analysis, mb / analysis);
  std::printf("  serving      %8.3f s  %8.1f MB/s (read, byte order, channel order)\n", serve, bytes / 1e6 / serve);
  std::printf("  cat          %8.3f s  %8.1f MB/s\n", cat, mb / cat);
  std::printf("  ratio        %8.2f (serving / cat)\n", cat / serve);
  std::printf("  peak memory  %8.1f MB (%.1f MB after generating; flat: no growth with the track)\n", peak,
              afterMake);
  return 0;
}

// Fuzz target: container files through libavformat and our track reading.
// The first byte chooses the extension (and so nothing of the content);
// the rest is the file. Its tracks are listed and measured, then every
// carried track is read through File as the elementary stream it holds,
// all of them in turns.
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fuzz_temp.h"
#include "media/container.h"
#include "platform/byte_source.h"
#include "platform/file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kExts[] = {".mkv", ".mp4", ".ts", ".m2ts", ".vob", ".mov", ".webm", ".mpg"};
  static const bool registered = (zv::RegisterContainerTracks(), true);
  (void)registered;
  if (size < 1) return 0;
  const std::string path = FuzzFolder() + "/input" + kExts[data[0] % 8];
  std::string error;
  if (!zv::WriteWholeFile(path, data + 1, size - 1, error)) return 0;
  zv::SContainerInfo info;
  std::map<int, int64_t> lengths;
  if (zv::ProbeContainer(path, info, error) == zv::kOk && zv::IndexContainer(path, lengths, error) == zv::kOk) {
    // All carried tracks open at once share one demuxer; they are read
    // in turns, as a clip's tracks are.
    std::vector<uint8_t> buf(1 << 16);
    std::vector<zv::File> files;
    for (const zv::SContainerTrack& t : info.tracks) {
      if (t.verdict.need != zv::TrackNeed::kCarried) continue;
      files.emplace_back();
      if (!files.back().Open(zv::TrackPath(path, t.index, t.verdict.ext), zv::File::kRead)) files.pop_back();
    }
    for (bool more = true; more;) {
      more = false;
      for (zv::File& f : files)
        if (f.Read(buf.data(), buf.size()) > 0) more = true;
    }
    // A read back from the start restarts the demuxer.
    for (zv::File& f : files)
      if (f.Length() > 0) f.ReadExactAt(0, buf.data(), 1);
  }
  ::unlink((path + ".zvi").c_str());
  ::unlink(path.c_str());
  return 0;
}

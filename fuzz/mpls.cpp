// Playlist reader on untrusted bytes: it must fail cleanly or give a
// record whose rewrite is stable (write, read, write gives the same bytes).
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "bdnav/playlist_file.h"
#include "platform/progress.h"

static std::vector<uint8_t> Rewrite(zv::PlaylistFile& c) {
  std::vector<uint8_t> out(c.WritePlaylist(nullptr, 0));
  c.WritePlaylist(out.data(), out.size());
  return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zv::PlaylistFile c;
  std::string err;
  if (c.Parse(data, size, &err) != zv::kOk) {
    if (err.empty()) std::abort();
    return 0;
  }
  (void)c.DumpText();
  std::vector<uint8_t> first;
  try {
    first = Rewrite(c);
  } catch (const std::out_of_range&) {
    return 0;  // a foreign file whose canonical form exceeds a field width
  }
  zv::PlaylistFile again;
  if (again.Parse(first.data(), first.size(), &err) != zv::kOk) std::abort();
  if (Rewrite(again) != first) std::abort();
  return 0;
}

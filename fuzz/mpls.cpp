// Playlist reader on untrusted bytes.
#include "bdnav/playlist_file.h"
#include "fuzz/rewrite_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzRewriteStable<zv::PlaylistFile>(
      data, size, [](zv::PlaylistFile& p, uint8_t* buf, size_t cap) { return p.WritePlaylist(buf, cap); });
}

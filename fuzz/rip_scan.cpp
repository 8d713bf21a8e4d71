// The scan of an existing clip for reuse, and serving what it found, on
// untrusted bytes: whatever the clip holds, the scan ends with a result and
// every unit it made can be served packet by packet.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "mux/rip_track.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Whole source packets, so that inputs reach the units rather than the
  // truncation check (which short inputs still meet).
  if (size >= 192) size -= size % 192;
  const int fd = memfd_create("clip", 0);
  if (fd < 0) return 0;
  if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  zv::CReusedClip clip;
  std::string error;
  if (clip.Open(path, error)) {
    zv::SRipTracks tracks;
    const struct {
      int pid;
      uint8_t type;
    } kinds[] = {{0x1011, 0x1B}, {0x1100, 0x83}, {0x1101, 0x81}, {0x1200, 0x90},
                 {0x1400, 0x91}, {0x1B00, 0x02}, {0x1A00, 0xEA}, {0x1101, 0x81}};
    for (const auto& k : kinds) {
      auto t = std::make_unique<zv::SRipTrack>();
      t->m_nSourcePid = k.pid;
      t->m_nPid = static_cast<uint16_t>(k.pid);
      t->m_codingInfo.coding.StreamCodingType = k.type;
      t->m_bWantKeyPoints = true;
      tracks.items.push_back(std::move(t));
    }
    zv::ReadClipStartPts(clip);
    if (zv::ScanReusedClip(tracks, clip, {}, &error) == zv::kOk) {
      for (auto& t : tracks.items) {
        t->SetClip(&clip);
        if (!t->PrepareForMux({})) continue;
        uint32_t spn = 0;
        while (zv::SMuxAu* au = t->GetCurrentAu()) {
          uint32_t left = 0, payload = 0;
          const uint32_t first = spn;
          while (au->BuildPacket(left, payload)) {
            if (payload > 184) std::abort();
            ++spn;
            if (left == 0) break;
          }
          if (zv::KEY_POINT_INFO* kp = au->GetKeyPoint()) {
            kp->firstSpn = first;
            kp->lastSpn = spn;
          }
          if (!t->NextAu()) break;
        }
        t->CollectKeyPoints();
        t->ReleaseMux();
        t->ReleaseSource();
      }
    }
  }
  close(fd);
  return 0;
}

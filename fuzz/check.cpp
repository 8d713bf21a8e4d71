// `check` on a disc folder whose files come from the input: records of a
// slot byte, a 16-bit length and the bytes, each written to the slot's
// file. Whatever the files hold, the check ends with findings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "fuzz_temp.h"
#include "verify/check.h"

namespace {

const char* const kSlots[] = {
    "BDMV/index.bdmv",           "BDMV/MovieObject.bdmv",        "BDMV/PLAYLIST/00000.mpls",
    "BDMV/PLAYLIST/00001.mpls",  "BDMV/CLIPINF/00000.clpi",      "BDMV/CLIPINF/00001.clpi",
    "BDMV/STREAM/00000.m2ts",    "BDMV/STREAM/00001.m2ts",       "BDMV/AUXDATA/sound.bdmv",
    "CERTIFICATE/id.bdmv",       "BDMV/BACKUP/index.bdmv",       "BDMV/BACKUP/PLAYLIST/00000.mpls",
};
constexpr size_t kSlotCount = sizeof kSlots / sizeof kSlots[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  // The run's own temporary folder, removed at exit.
  const fs::path disc = fs::path(FuzzFolder()) / "DISC";
  std::error_code ec;
  fs::remove_all(disc, ec);
  for (const char* sub : {"BDMV/PLAYLIST", "BDMV/CLIPINF", "BDMV/STREAM", "BDMV/AUXDATA", "BDMV/BACKUP/PLAYLIST",
                          "CERTIFICATE"})
    fs::create_directories(disc / sub, ec);
  size_t at = 0;
  while (at + 3 <= size) {
    const size_t slot = data[at] % kSlotCount;
    const size_t len = std::min<size_t>(size - at - 3, size_t{data[at + 1]} << 8 | data[at + 2]);
    std::ofstream(disc / kSlots[slot], std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(data + at + 3), static_cast<std::streamsize>(len));
    at += 3 + len;
  }
  zv::SCheckReport report;
  std::string error;
  const int r = zv::CheckDisc(disc.string(), zv::SCheckOptions{}, report, error);
  if (r != 0) std::abort();  // a folder that exists is always checked to the end
  return 0;
}

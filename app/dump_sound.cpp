// `zelvane dump` for the button-sound file (AUXDATA/sound.bdmv).
#include <strings.h>

#include <algorithm>
#include <filesystem>

#include "app/dump.h"
#include "bdnav/sound_bdmv.h"
#include "platform/bytes.h"
#include "platform/file.h"

namespace zvapp {

namespace {

int DumpSoundFile(const std::string& path, bool json) {
  std::vector<uint8_t> data;
  std::string error;
  if (!zv::ReadWholeFile(path, data, error)) return Fail(error);
  zv::SDumpNode root;
  try {
    zv::DumpSoundBytes(data.data(), data.size(), root);
  } catch (const zv::FormatError& e) {
    return Fail("\"" + path + "\": " + e.what());
  }
  return PrintDumpTree(path, "sound.bdmv", root, json);
}

// By its type indicator, or by its name so that a damaged file still gets
// the reader's precise error.
bool MatchSound(const std::string& path, const std::vector<uint8_t>& head) {
  if (head.size() >= 4 && std::equal(head.begin(), head.begin() + 4, "BCLK")) return true;
  return strcasecmp(std::filesystem::path(path).filename().c_str(), "sound.bdmv") == 0;
}

}  // namespace

ZV_DUMPER("sound.bdmv", MatchSound, DumpSoundFile, "BCLK");

}  // namespace zvapp

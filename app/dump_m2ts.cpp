// `zelvane dump CLIP.m2ts [--packets N]`: the first source packets of a clip
// with their headers, PSI sections and PES headers.
#include <strings.h>

#include <filesystem>

#include "app/dump.h"
#include "mux/ts_dump.h"
#include "platform/file.h"

namespace zvapp {

namespace {

bool MatchClip(const std::string& path, const std::vector<uint8_t>&) {
  const std::string ext = std::filesystem::path(path).extension().string();
  return strcasecmp(ext.c_str(), ".m2ts") == 0 || strcasecmp(ext.c_str(), ".mts") == 0;
}

int DumpClip(const std::string& path, bool json) {
  zv::File f;
  if (!f.Open(path, zv::File::kRead)) return Fail(f.Error());
  zv::SDumpNode root;
  std::string error;
  const bool ok = zv::DumpSourcePackets(f, DumpPacketCount(), root, error);
  // The packets before a fault are printed: they are what a bug report needs.
  if (const int printed = PrintDumpTree(path, "m2ts", root, json); printed != kExitOk) return printed;
  return ok ? kExitOk : Fail("\"" + path + "\": " + error);
}

}  // namespace

ZV_DUMPER(kClipDumperName, MatchClip, DumpClip);

}  // namespace zvapp

// `zelvane dump` for clip information (.clpi) and playlist (.mpls) files.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "app/dump.h"
#include "bdnav/playlist_file.h"
#include "mux/clip_info.h"
#include "platform/file.h"
#include "platform/progress.h"

namespace zvapp {

namespace {

bool HasExtension(const std::string& path, const char* ext) {
  size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return false;
  std::string e = path.substr(dot + 1);
  std::transform(e.begin(), e.end(), e.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return e == ext;
}

bool HeadStarts(const std::vector<uint8_t>& head, const char* magic) {
  return head.size() >= 4 && std::equal(magic, magic + 4, head.begin());
}

template <typename Record>
int DumpFile(const std::string& path, bool json, const char* kind) {
  std::vector<uint8_t> bytes;
  std::string err;
  if (!zv::ReadWholeFile(path, bytes, err)) return Fail(err);
  Record rec;
  if (rec.Parse(bytes.data(), bytes.size(), &err) != zv::kOk) return Fail("\"" + path + "\": " + err);
  zv::SDumpNode root;
  // A record that dumps its own bytes shows them as read.
  if constexpr (requires { Record::DumpBytes(bytes.data(), bytes.size(), root); })
    Record::DumpBytes(bytes.data(), bytes.size(), root);
  else
    rec.Dump(root);
  return PrintDumpTree(path, kind, root, json);
}

bool MatchClpi(const std::string& path, const std::vector<uint8_t>& head) {
  return HasExtension(path, "clpi") || HeadStarts(head, "HDMV");
}

bool MatchMpls(const std::string& path, const std::vector<uint8_t>& head) {
  return HasExtension(path, "mpls") || HeadStarts(head, "MPLS");
}

int DumpClpi(const std::string& path, bool json) { return DumpFile<zv::ClipInformationFile>(path, json, "clpi"); }
int DumpMpls(const std::string& path, bool json) { return DumpFile<zv::PlaylistFile>(path, json, "mpls"); }

}  // namespace

ZV_DUMPER("clip information", MatchClpi, DumpClpi, "HDMV");
ZV_DUMPER("playlist", MatchMpls, DumpMpls, "MPLS");

}  // namespace zvapp

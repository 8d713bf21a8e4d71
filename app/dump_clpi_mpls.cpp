// `zelvane dump` for clip information (.clpi) and playlist (.mpls) files.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "app/dump.h"
#include "app/json.h"
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

// Leaves become values (numbers where they are numbers); blocks become
// objects; labels that repeat among siblings, or carry an index, gather
// into arrays.
void NodeJson(Json& j, const zv::SDumpNode& n);

void ChildrenJson(Json& j, const zv::SDumpNode& n) {
  std::map<std::string, int> count;
  for (const auto& c : n.children) ++count[c.label];
  std::map<std::string, bool> done;
  j.BeginObject();
  if (!n.value.empty() && !n.children.empty()) {
    j.Key("value");
    if (n.number) j.Int(*n.number); else j.Str(n.value);
  }
  for (const auto& c : n.children) {
    if (done[c.label]) continue;
    done[c.label] = true;
    j.Key(c.label);
    if (count[c.label] > 1 || c.index >= 0) {
      j.BeginArray();
      for (const auto& d : n.children)
        if (d.label == c.label) NodeJson(j, d);
      j.EndArray();
    } else {
      NodeJson(j, c);
    }
  }
  j.EndObject();
}

void NodeJson(Json& j, const zv::SDumpNode& n) {
  if (n.block || !n.children.empty()) {
    ChildrenJson(j, n);
  } else if (n.number) {
    j.Int(*n.number);
  } else {
    j.Str(n.value);
  }
}

template <typename Record>
int DumpFile(const std::string& path, bool json, const char* kind) {
  std::vector<uint8_t> bytes;
  std::string err;
  if (!zv::ReadWholeFile(path, bytes, err)) return Fail(err);
  Record rec;
  if (rec.Parse(bytes.data(), bytes.size(), &err) != zv::kOk) return Fail("\"" + path + "\": " + err);
  zv::SDumpNode root;
  rec.Dump(root);
  if (json) {
    Json j;
    j.BeginObject();
    j.Key("file").Str(path);
    j.Key("type").Str(kind);
    j.Key("content");
    ChildrenJson(j, root);
    j.EndObject();
    std::printf("%s\n", j.Text().c_str());
  } else {
    std::fputs(root.Render().c_str(), stdout);
  }
  return std::fflush(stdout) == 0 ? kExitOk : Fail("cannot write the dump to standard output");
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

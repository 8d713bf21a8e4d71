// Prints a dump tree as indented text lines or as JSON.
#include <cstdio>
#include <map>

#include "app/dump.h"
#include "app/json.h"

namespace zvapp {

namespace {

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

}  // namespace

int PrintDumpTree(const std::string& path, const char* type, const zv::SDumpNode& root, bool json) {
  if (json) {
    Json j;
    j.BeginObject();
    j.Key("file").Str(path);
    j.Key("type").Str(type);
    j.Key("content");
    ChildrenJson(j, root);
    j.EndObject();
    std::printf("%s\n", j.Text().c_str());
  } else {
    std::fputs(root.Render().c_str(), stdout);
  }
  return std::fflush(stdout) == 0 ? kExitOk : Fail("cannot write the dump to standard output");
}

}  // namespace zvapp

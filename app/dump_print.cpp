// Prints a dump tree as indented text lines or as JSON.
#include <cstdio>
#include <map>
#include <memory>
#include <utility>

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

struct DumpStream::Impl {
  bool json = false;
  std::string label;
  Json j;
  bool blocks = false;
  bool ended = false;
  bool failed = false;
};

DumpStream::DumpStream(const std::string& path, const char* type, bool json, std::string blockLabel)
    : impl_(std::make_unique<Impl>()) {
  impl_->json = json;
  impl_->label = std::move(blockLabel);
  if (!json) return;
  impl_->j.BeginObject();
  impl_->j.Key("file").Str(path);
  impl_->j.Key("type").Str(type);
  impl_->j.Key("content").BeginObject();
}

DumpStream::~DumpStream() = default;

void DumpStream::Flush() {
  const std::string text = impl_->j.Take();
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) impl_->failed = true;
}

void DumpStream::Leaves(const zv::SDumpNode& leaves) {
  if (!impl_->json) {
    std::fputs(leaves.Render().c_str(), stdout);
    return;
  }
  for (const auto& c : leaves.children) {
    impl_->j.Key(c.label);
    NodeJson(impl_->j, c);
  }
  Flush();
}

void DumpStream::Block(const zv::SDumpNode& block) {
  if (!impl_->json) {
    zv::SDumpNode one;
    one.children.push_back(block);
    std::fputs(one.Render().c_str(), stdout);
    return;
  }
  if (!impl_->blocks) {
    impl_->j.Key(impl_->label).BeginArray();
    impl_->blocks = true;
  }
  NodeJson(impl_->j, block);
  Flush();
}

int DumpStream::End() {
  if (impl_->json && !impl_->ended) {
    if (impl_->blocks) impl_->j.EndArray();
    impl_->j.EndObject().EndObject();
    Flush();
    std::fputc('\n', stdout);
  }
  impl_->ended = true;
  return std::fflush(stdout) == 0 && !impl_->failed && !std::ferror(stdout)
             ? kExitOk
             : Fail("cannot write the dump to standard output");
}

}  // namespace zvapp

// `zelvane dump FILE`: each file type registers a dumper with ZV_DUMPER in
// its own app/dump_*.cpp; the first whose Match accepts the file runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command.h"
#include "records/dump_tree.h"

namespace zvapp {

struct DumperInfo {
  const char* name;  // "index.bdmv", "playlist"
  // `head` holds the first bytes of the file (up to 64).
  bool (*match)(const std::string& path, const std::vector<uint8_t>& head);
  // Prints the dump (text, or JSON when `json`); returns an exit code.
  int (*dump)(const std::string& path, bool json);
  // The first bytes every such file begins with; a file that matched by its
  // name alone is refused without them, before anything reads it whole.
  const char* magic = nullptr;
};

void AddDumper(const DumperInfo& info);

// The dumper of transport-stream clips, the one that takes `--packets`.
inline constexpr const char* kClipDumperName = "clip";

// Prints `root` as text lines, or as JSON in the frame
// {"file", "type", "content"}; returns an exit code.
int PrintDumpTree(const std::string& path, const char* type, const zv::SDumpNode& root, bool json);
// Prints a dump whose root holds a few leaves followed by many blocks of one
// label (the display sets of a stream) as they come, so that the whole tree
// is never held: the text and JSON are those PrintDumpTree gives for the
// complete root.
class DumpStream {
 public:
  DumpStream(const std::string& path, const char* type, bool json, std::string blockLabel);
  ~DumpStream();
  DumpStream(const DumpStream&) = delete;
  DumpStream& operator=(const DumpStream&) = delete;
  // The children of `leaves`, before any block.
  void Leaves(const zv::SDumpNode& leaves);
  // One more block, labelled and indexed as its node says.
  void Block(const zv::SDumpNode& block);
  // Ends the document; an exit code (failed when standard output failed).
  int End();

 private:
  void Flush();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
// The folder of `--pictures DIR`, empty when not given.
const std::string& DumpPicturesFolder();
// The count of `--packets N` (source packets of a clip to dump).
uint64_t DumpPacketCount();
const std::vector<DumperInfo>& Dumpers();

struct DumperRegistrar {
  explicit DumperRegistrar(const DumperInfo& info) { AddDumper(info); }
};

#define ZV_DUMPER(...) static ::zvapp::DumperRegistrar ZV_CAT(zv_dumper_, __LINE__)(::zvapp::DumperInfo{__VA_ARGS__})

}  // namespace zvapp

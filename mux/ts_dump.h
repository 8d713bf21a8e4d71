// The dump of a clip's first source packets: the 4-byte extra header with
// copy permission and arrival time stamp, the transport header and its
// adaptation field, the PSI sections (PAT, PMT, SIT) and PES headers. The
// records come from the same parsers that read reused clips; this file only
// reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/dump_tree.h"

namespace zv {

class File;

inline constexpr size_t kSourcePacketSize = 192;

// Walks source packets in file order; a PSI section that spans packets is
// decoded under the packet that completes it.
class CSourcePacketDump {
 public:
  // Adds the 192 bytes at `p`, source packet number `spn`, as the block
  // "SourcePacket spn" of `root`. False with `error` naming the packet when
  // its sync byte is lost or its header does not fit the packet; the walk
  // should stop there.
  bool Add(const uint8_t* p, uint64_t spn, SDumpNode& root, std::string& error);
  // Notes, under `root`, sections still incomplete after the last packet.
  void Finish(SDumpNode& root) const;

 private:
  void AddSectionBytes(uint16_t pid, const uint8_t* p, size_t n, bool start, SDumpNode& out);
  // Dumps and drops the pending section of `pid` once it holds its
  // section_length; returns its size, or 0 while it is incomplete.
  size_t CompleteSection(uint16_t pid, SDumpNode& out);
  struct SPending {
    std::vector<uint8_t> bytes;
    uint64_t firstSpn = 0;
  };
  std::map<uint16_t, SPending> m_sections;
  uint64_t m_spn = 0;
};

// Dumps up to `count` source packets from the start of `f` into `root`.
// False with `error` naming the packet when the file does not hold whole
// 192-byte packets, a packet lost its sync byte, or reading fails; what was
// dumped before the fault stays in `root`.
bool DumpSourcePackets(File& f, uint64_t count, SDumpNode& root, std::string& error);

}  // namespace zv

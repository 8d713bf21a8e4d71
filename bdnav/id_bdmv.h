// id.bdmv: the disc identification file of the CERTIFICATE folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "records/dump_tree.h"

namespace zv {

// "BDID", the version and 96 bytes that the system leaves 0.
struct ID_BDMV {
  static constexpr size_t kSize = 104;
  std::string typeIndicator = "BDID";
  std::string version = "0200";
  std::vector<uint8_t> body = std::vector<uint8_t>(kSize - 8);
};

// Writes id.bdmv; with a null `buf` only measures. Returns the length (104).
size_t EncodeId(const ID_BDMV& id, uint8_t* buf, size_t cap);
std::vector<uint8_t> EncodeId(const ID_BDMV& id);
// Reads an untrusted id.bdmv; returns the bytes consumed (104). Throws
// FormatError for a short file or a wrong type indicator.
size_t ParseId(const uint8_t* data, size_t size, ID_BDMV& out);
std::string DumpId(const ID_BDMV& id, const std::string& indent = "");
void DumpIdTree(const ID_BDMV& id, SDumpNode& root);
// Dumps a file's bytes as read; throws FormatError like ParseId.
void DumpIdBytes(const uint8_t* data, size_t size, SDumpNode& root);

}  // namespace zv

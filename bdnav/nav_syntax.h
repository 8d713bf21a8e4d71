// Syntax pieces shared by the navigation files index.bdmv and
// MovieObject.bdmv.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/syntax.h"

namespace zv {

// The type indicator and version of a navigation file's header; the reader
// refuses another file's type.
template <class IO>
void FileType(IO& io, std::string& type, std::string& version, const char* expected) {
  io.Text(4, "TypeIndicator", type);
  if constexpr (IO::kReading)
    if (type != expected) io.Fail("type indicator is \"" + PrintableText(type) + "\", not \"" + expected + "\"");
  io.Text(4, "Version", version);
}

// The extension-data block at `address`, kept as stored (its length field
// included) or empty; `before` names what the block must follow.
template <class IO>
void StoredExtensionData(IO& io, const rec::AddressField& address, std::vector<uint8_t>& stored, const char* before) {
  const size_t end = io.Pos();
  const bool present = IO::kReading ? address.value != 0 : !stored.empty();
  if (!present) return;
  io.Part("ExtensionData", [&] {
    if constexpr (IO::kReading)
      if (address.value < end)
        io.Fail("ExtensionDataStartAddress " + std::to_string(address.value) + " points inside the " + before);
    io.At(address);
  });
  io.Section("ExtensionData", [&] {
    uint32_t len = 0;
    std::vector<uint8_t> body;
    if constexpr (IO::kWriting) {
      if (stored.size() < 4) io.Fail("holds " + std::to_string(stored.size()) + " bytes, less than its length field");
      body.assign(stored.begin() + 4, stored.end());
      len = static_cast<uint32_t>(body.size());
    }
    io.U32("Length", len);
    if constexpr (IO::kReading)
      if (len & 0x80000000u) io.Fail("length " + std::to_string(len) + " is out of range");
    io.Raw(len, "Data", body, rec::ByteCount{});
    if constexpr (IO::kReading) {
      stored = {static_cast<uint8_t>(len >> 24), static_cast<uint8_t>(len >> 16), static_cast<uint8_t>(len >> 8),
                static_cast<uint8_t>(len)};
      stored.insert(stored.end(), body.begin(), body.end());
    }
  });
}


}  // namespace zv

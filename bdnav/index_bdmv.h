// index.bdmv: the first-playback, top-menu and title entries of a disc.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "records/dump_tree.h"

namespace zv {

// One index entry. Object type 1 refers to a movie object, 2 to a BD-J object.
struct TI {
  uint8_t objectType = 1;
  uint8_t accessType = 0;    // titles only
  uint8_t playbackType = 0;  // HDMV 0 movie / 1 interactive; BD-J 2 / 3
  uint16_t movieObjectId = 0xFFFF;
  std::string bdjName = "00000";  // five characters

  bool operator==(const TI&) const = default;
};

using CTiFolder = std::vector<TI>;

struct INDEX_BDMV {
  static constexpr size_t kHeaderSize = 40;
  static constexpr size_t kAppInfoSize = 34;

  std::string typeIndicator = "INDX";
  std::string version = "0200";
  // Addresses as read; the writer computes its own.
  uint32_t indexesStartAddress = 78;
  uint32_t extensionDataStartAddress = 0;
  // Flags, video format and frame rate (2 bytes) and ContentProviderUserData.
  std::array<uint8_t, kAppInfoSize> appInfo{};
  TI firstPlayback;
  TI topMenu;
  CTiFolder titles;
  // The extension-data block as stored (length field included), or empty.
  std::vector<uint8_t> extensionData;
};

// Writes index.bdmv; with a null `buf` only measures. Returns the length.
// A field value that does not fit (object type above 3, a title count above
// 65535, a BD-J name that is not five characters) throws std::out_of_range.
size_t EncodeIndex(const INDEX_BDMV& index, uint8_t* buf, size_t cap);
std::vector<uint8_t> EncodeIndex(const INDEX_BDMV& index);

// Reads an untrusted index.bdmv; returns the bytes consumed. Throws
// FormatError naming the part that is truncated or inconsistent.
size_t ParseIndex(const uint8_t* data, size_t size, INDEX_BDMV& out);

// Indented text lines with the format's field labels.
std::string DumpIndex(const INDEX_BDMV& index, const std::string& indent = "");
void DumpIndexTree(const INDEX_BDMV& index, SDumpNode& root);
// Dumps a file's bytes as read; throws FormatError like the reader.
void DumpIndexBytes(const uint8_t* data, size_t size, SDumpNode& root);

}  // namespace zv

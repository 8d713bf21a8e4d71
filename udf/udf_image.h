// A UDF 2.50 image of a disc folder, as BD-ROM media carry it: the volume
// recognition sequence, anchors at sector 256, N-256 and N-1, main and
// reserve volume descriptor sequences, a closed integrity descriptor, one
// read-only physical partition with a metadata partition (metadata file and
// its mirror) holding the file set, the folders and the file entries.
//
// The folder is scanned first (names, sizes; nothing is read), the layout is
// decided from that, and the image is then written in one pass: the
// metadata mirror and the metadata, the files' bytes streamed through one
// buffer, and the closing anchors. File data is ordered for reading: navigation and clip
// information first, the clips next (each contiguous), BACKUP copies last.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/progress.h"

namespace zv::udf {

// What each disc type holds, in bytes.
constexpr uint64_t kBd25Bytes = 25025314816ULL;
constexpr uint64_t kBd50Bytes = 50050629632ULL;
constexpr uint64_t kBd100Bytes = 100103356416ULL;

struct SImageNode {
  std::string name;        // as in the folder (UTF-8)
  std::u16string udfName;
  std::string path;        // the entry's full path
  std::string relPath;     // below the disc folder, with '/'
  bool directory = false;
  uint64_t size = 0;
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<SImageNode> children;  // sorted by name
};

struct SImageTree {
  SImageNode root;
  int64_t newestTime = 0;  // newest modification time below the folder, seconds
};

// Reads the folder's entries. Refuses symbolic links, special files, names
// UDF cannot store and files too large for one file entry, naming the entry;
// the folder must hold a BDMV folder. kOk or kFailed with `error`.
int ScanDiscFolder(const std::string& folder, SImageTree& tree, std::string& error);

struct SImageOptions {
  std::string label;  // UTF-8, passed by CheckLabel
  int64_t time = 0;   // seconds since the epoch: every time stamp of the image
};

// The volume label's rules: 1 to 30 characters below U+0100 or 1 to 15
// others from the Basic Multilingual Plane, no control characters.
bool CheckLabel(const std::string& label, std::string& error);
// A label made from any name: the characters a label allows, cut to fit;
// "DISC" when nothing is left.
std::string LabelFromName(const std::string& name);

// Bytes the image of `tree` takes.
uint64_t ImageBytes(const SImageTree& tree);

// Empty when `bytes` fit `capacity` (0: the largest disc type), else the
// warning, naming the capacity exceeded.
std::string CapacityWarning(uint64_t bytes, uint64_t capacity);
// "BD-25", "BD-50", "BD-100" or a byte count.
bool ParseCapacity(const std::string& text, uint64_t& bytes);

// Writes the image of the scanned folder to `out` under a temporary name
// beside it, renamed over `out` only when every byte is on disk; a cancel
// or failure removes it. The image must not go inside the folder. Reports
// the share written (kind 0) and stops when the callback says so. kOk,
// kCancelled or kFailed with `error` (a write error with the system's text).
int WriteDiscImage(const SImageTree& tree, const std::string& out, const SImageOptions& options,
                   const Progress& progress, std::string& error);

}  // namespace zv::udf

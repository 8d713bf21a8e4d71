// Reading a UDF 2.50 disc image (ECMA-167 with the OSTA profile) as BD-ROM
// images are made: the anchor at sector 256, the main volume descriptor
// sequence (or the reserve one), one physical partition, a metadata
// partition holding the file set and the folders, extended or plain file
// entries with short, long or embedded allocation descriptors. Tags are
// checked (identifier, checksum, CRC, location); a damaged image is refused
// with the place and reason, never read past its end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/progress.h"

namespace zv::udf {

struct SImageFile {
  std::string path;  // below the image's root, with '/', UTF-8
  bool directory = false;
  uint64_t size = 0;
  struct SExtent {
    uint64_t offset = 0;  // byte in the image
    uint64_t length = 0;
  };
  std::vector<SExtent> extents;  // empty for data embedded in the entry
  std::vector<uint8_t> embedded;
};

class CImageReader {
 public:
  // Reads the volume structure and every folder. False with `error`.
  bool Open(const std::string& path, std::string& error);
  // Folders before the files in them, each folder's entries in image order.
  const std::vector<SImageFile>& Files() const { return files_; }
  // Copies one file's bytes to `dest`. False with `error`.
  bool CopyOut(const SImageFile& f, const std::string& dest, std::string& error);

 private:
  struct SPartitionMap {
    bool metadata = false;
    uint32_t metadataFile = 0;  // block of the metadata file's entry in the physical partition
  };
  bool ReadBlock(uint64_t sector, std::vector<uint8_t>& b, std::string& error);
  bool Tagged(uint64_t sector, uint16_t id, uint32_t location, std::vector<uint8_t>& b, const std::string& what,
              std::string& error);
  // Sector of a logical block of a partition (0 physical, 1 metadata).
  bool Sector(uint16_t partition, uint32_t block, uint64_t& sector, std::string& error) const;
  bool ReadEntry(uint16_t partition, uint32_t block, SImageFile& f, std::string& error);
  bool ReadData(const SImageFile& f, std::vector<uint8_t>& out, std::string& error);
  bool ReadFolder(const SImageFile& folder, int depth, std::string& error);

  File file_;
  std::string path_;
  uint64_t sectors_ = 0;
  uint32_t partitionStart_ = 0, partitionLength_ = 0;
  std::vector<SPartitionMap> maps_;
  std::vector<SImageFile::SExtent> metadata_;  // the metadata file's extents, in sectors
  std::vector<SImageFile> files_;
};

// Copies every file of the image `image` into `folder` (which must exist),
// reporting the share copied (kind 0). kOk, kCancelled or kFailed with
// `error`.
int ExtractImage(const std::string& image, const std::string& folder, const Progress& progress, std::string& error);

}  // namespace zv::udf

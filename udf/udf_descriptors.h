// The UDF 2.50 descriptors of a read-only disc image (ECMA-167 3rd edition
// with the OSTA profile): one function per descriptor, each writing the
// little-endian record into a caller's block and finishing its tag (tag
// checksum and CRC-ITU-T of the body). Blocks are 2048 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::udf {

constexpr uint32_t kBlock = 2048;
constexpr uint16_t kUdfRevision = 0x0250;
// The longest extent: a 30-bit length kept a whole number of blocks.
constexpr uint32_t kMaxExtent = (1u << 30) - kBlock;
// Unique ids 1 to 15 are reserved; the root directory has 0.
constexpr uint64_t kFirstUniqueId = 16;

enum TagId : uint16_t {
  kTagPvd = 1, kTagAvdp = 2, kTagIuvd = 4, kTagPd = 5, kTagLvd = 6, kTagUsd = 7, kTagTd = 8, kTagLvid = 9,
  kTagFsd = 256, kTagFid = 257, kTagEfe = 266,
};

enum FileType : uint8_t { kFileTypeDirectory = 4, kFileTypeFile = 5, kFileTypeMetadata = 250, kFileTypeMirror = 251 };

// CRC-ITU-T (polynomial 0x1021, initial value 0) over `n` bytes.
uint16_t CrcItuT(const uint8_t* p, size_t n);

// ECMA-167 timestamp: UTC seconds since the epoch, recorded as local time
// with a zero offset.
struct STimestamp {
  int64_t seconds = 0;
};

// Text recorded as OSTA compressed Unicode: 8-bit when every character is
// below U+0100, else 16-bit. Characters outside the Basic Multilingual Plane
// and invalid UTF-8 are not representable.
bool DecodeUtf8(const std::string& s, std::u16string& out);
// The d-characters of a file identifier: compression id, then the characters.
std::vector<uint8_t> CompressedUnicode(const std::u16string& s);
// Bytes a string needs as CompressedUnicode.
size_t CompressedLength(const std::u16string& s);

// lb_addr plus length, as a long allocation descriptor; `uniqueId` goes to
// the implementation use of an ICB address in a file identifier.
struct SLongAd {
  uint32_t length = 0;
  uint32_t block = 0;
  uint16_t partition = 0;
  uint32_t uniqueId = 0;
};

struct SVolumeInfo {
  std::u16string label;     // volume and logical-volume identifier
  std::string setId;        // 16 hex characters leading the volume set identifier
  STimestamp time;
  uint32_t partitionStart = 0;   // sector
  uint32_t partitionLength = 0;  // blocks
  uint32_t metadataFile = 0;     // blocks in the physical partition
  uint32_t metadataMirror = 0;
  uint32_t metadataBlocks = 0;
  uint32_t integrityStart = 0;   // sector of the integrity sequence
  uint32_t mainVds = 0, reserveVds = 0, vdsBlocks = 0;
  uint64_t nextUniqueId = kFirstUniqueId;
  uint32_t files = 0, directories = 0;
};

// The volume recognition sequence's three descriptors, at sectors 16, 17, 18.
void VolumeStructureDescriptor(uint8_t* b, const char* id);
void AnchorVolumeDescriptorPointer(uint8_t* b, uint32_t sector, const SVolumeInfo& v);
// One volume descriptor sequence (six blocks) at `first`, numbered from 0.
void VolumeDescriptorSequence(uint8_t* blocks, uint32_t first, const SVolumeInfo& v);
// The closed logical volume integrity descriptor and its terminator (two blocks).
void IntegritySequence(uint8_t* blocks, uint32_t first, const SVolumeInfo& v);
// The file set descriptor and its terminator (two blocks), in the metadata partition.
void FileSetDescriptor(uint8_t* blocks, uint32_t block, const SVolumeInfo& v, const SLongAd& root);

struct SFileEntry {
  uint8_t fileType = kFileTypeFile;
  uint16_t linkCount = 1;
  uint64_t size = 0;
  uint64_t uniqueId = 0;
  STimestamp time;
  // Allocation descriptors: short ones (in the entry's own partition) or long ones.
  bool longAds = false;
  std::vector<SLongAd> extents;
};
// An extended file entry at `block` of its partition; false when its
// allocation descriptors do not fit the block.
bool ExtendedFileEntry(uint8_t* b, uint32_t block, const SFileEntry& e);
// Allocation descriptors the one-block entry holds.
size_t MaxExtentsPerEntry(bool longAds);

// A file identifier descriptor at byte `pos` of a directory whose data starts
// at `firstBlock`; an empty name makes the parent entry. Returns its length.
size_t FileIdentifierDescriptor(uint8_t* p, uint32_t firstBlock, size_t pos, const std::u16string& name,
                                bool directory, bool parent, const SLongAd& icb);
size_t FileIdentifierLength(const std::u16string& name);

}  // namespace zv::udf

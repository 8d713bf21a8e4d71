#include "udf/udf_descriptors.h"

#include <cstring>
#include <ctime>

namespace zv::udf {

namespace {

void Put8(uint8_t* p, uint8_t v) { p[0] = v; }
void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Descriptor tag: identifier, version 3 (NSR03), serial 1, the CRC over the
// `length - 16` bytes after the tag, location in the descriptor's own
// address space; the checksum covers the tag's other fifteen bytes.
void Tag(uint8_t* b, uint16_t id, uint32_t location, size_t length) {
  Put16(b + 0, id);
  Put16(b + 2, 3);
  Put8(b + 5, 0);
  Put16(b + 6, 1);
  const uint16_t crcLength = static_cast<uint16_t>(length - 16);
  Put16(b + 8, CrcItuT(b + 16, crcLength));
  Put16(b + 10, crcLength);
  Put32(b + 12, location);
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + b[i]);
  b[4] = sum;
}

// charspec: CS0, "OSTA Compressed Unicode".
void CharSpec(uint8_t* p) {
  p[0] = 0;
  std::memcpy(p + 1, "OSTA Compressed Unicode", 23);
}

enum class Suffix { kNone, kDomain, kUdf, kImplementation };

// regid with its suffix: a domain suffix (revision, flags), a UDF suffix
// (revision, OS class and identifier) or an implementation suffix (OS class
// and identifier).
void RegId(uint8_t* p, const char* id, Suffix suffix) {
  std::memcpy(p + 1, id, std::strlen(id));
  uint8_t* s = p + 24;
  constexpr uint8_t kOsClassUnix = 4, kOsLinux = 5;
  switch (suffix) {
    case Suffix::kNone: break;
    case Suffix::kDomain: Put16(s, kUdfRevision); break;
    case Suffix::kUdf:
      Put16(s, kUdfRevision);
      s[2] = kOsClassUnix;
      s[3] = kOsLinux;
      break;
    case Suffix::kImplementation:
      s[0] = kOsClassUnix;
      s[1] = kOsLinux;
      break;
  }
}

constexpr const char* kImplementation = "*Zelvane";
constexpr const char* kDomain = "*OSTA UDF Compliant";

void Implementation(uint8_t* p) { RegId(p, kImplementation, Suffix::kImplementation); }

void Timestamp(uint8_t* p, const STimestamp& t) {
  const time_t s = static_cast<time_t>(t.seconds);
  struct tm tm {};
  gmtime_r(&s, &tm);
  Put16(p + 0, 0x1000);  // type 1 (local time), offset 0 minutes
  Put16(p + 2, static_cast<uint16_t>(tm.tm_year + 1900));
  p[4] = static_cast<uint8_t>(tm.tm_mon + 1);
  p[5] = static_cast<uint8_t>(tm.tm_mday);
  p[6] = static_cast<uint8_t>(tm.tm_hour);
  p[7] = static_cast<uint8_t>(tm.tm_min);
  p[8] = static_cast<uint8_t>(tm.tm_sec);
  // centiseconds, hundreds of microseconds and microseconds stay 0
}

// dstring of `n` bytes: the compressed characters, cut to fit, and their
// byte count in the last byte. Callers check that labels fit.
void DString(uint8_t* p, size_t n, const std::u16string& s) {
  std::memset(p, 0, n);
  if (s.empty()) return;
  std::vector<uint8_t> c = CompressedUnicode(s);
  const size_t unit = c[0] == 8 ? 1 : 2;
  size_t len = c.size();
  while (len > n - 1) len -= unit;
  std::memcpy(p, c.data(), len);
  p[n - 1] = static_cast<uint8_t>(len);
}

void ExtentAd(uint8_t* p, uint32_t length, uint32_t location) {
  Put32(p, length);
  Put32(p + 4, location);
}

void LongAd(uint8_t* p, const SLongAd& a) {
  Put32(p + 0, a.length);
  Put32(p + 4, a.block);
  Put16(p + 8, a.partition);
  // implementation use: flags (2 bytes), then the UDF unique id
  Put32(p + 12, a.uniqueId);
}

void PrimaryVolumeDescriptor(uint8_t* b, uint32_t sector, uint32_t seq, const SVolumeInfo& v) {
  Put32(b + 16, seq);
  Put32(b + 20, 0);                        // PrimaryVolumeDescriptorNumber
  DString(b + 24, 32, v.label);            // VolumeIdentifier
  Put16(b + 56, 1);                        // VolumeSequenceNumber
  Put16(b + 58, 1);                        // MaximumVolumeSequenceNumber
  Put16(b + 60, 2);                        // InterchangeLevel: a single volume
  Put16(b + 62, 3);                        // MaximumInterchangeLevel
  Put32(b + 64, 1);                        // CharacterSetList: CS0
  Put32(b + 68, 1);                        // MaximumCharacterSetList
  std::u16string set(v.setId.begin(), v.setId.end());
  DString(b + 72, 128, set + v.label);     // VolumeSetIdentifier
  CharSpec(b + 200);                       // DescriptorCharacterSet
  CharSpec(b + 264);                       // ExplanatoryCharacterSet
  // VolumeAbstract, VolumeCopyrightNotice (328, 336): none
  RegId(b + 344, kImplementation, Suffix::kImplementation);  // ApplicationIdentifier
  Timestamp(b + 376, v.time);              // RecordingDateandTime
  Implementation(b + 388);                 // ImplementationIdentifier
  // ImplementationUse (420), PredecessorVolumeDescriptorSequenceLocation (484), Flags (488)
  Tag(b, kTagPvd, sector, 512);
}

void ImplementationUseVolumeDescriptor(uint8_t* b, uint32_t sector, uint32_t seq, const SVolumeInfo& v) {
  Put32(b + 16, seq);
  RegId(b + 20, "*UDF LV Info", Suffix::kUdf);
  uint8_t* lvi = b + 52;
  CharSpec(lvi);                           // LVICharset
  DString(lvi + 64, 128, v.label);         // LogicalVolumeIdentifier
  // LVInfo1..3 (192, 228, 264): none
  Implementation(lvi + 300);               // ImplementationID
  Tag(b, kTagIuvd, sector, 512);
}

void PartitionDescriptor(uint8_t* b, uint32_t sector, uint32_t seq, const SVolumeInfo& v) {
  Put32(b + 16, seq);
  Put16(b + 20, 1);                        // PartitionFlags: allocated
  Put16(b + 22, 0);                        // PartitionNumber
  RegId(b + 24, "+NSR03", Suffix::kNone);  // PartitionContents
  // PartitionContentsUse (56): a header with no space tables, the media being read-only
  Put32(b + 184, 1);                       // AccessType: read-only
  Put32(b + 188, v.partitionStart);        // PartitionStartingLocation
  Put32(b + 192, v.partitionLength);       // PartitionLength
  Implementation(b + 196);
  Tag(b, kTagPd, sector, 512);
}

void LogicalVolumeDescriptor(uint8_t* b, uint32_t sector, uint32_t seq, const SVolumeInfo& v) {
  Put32(b + 16, seq);
  CharSpec(b + 20);                        // DescriptorCharacterSet
  DString(b + 84, 128, v.label);           // LogicalVolumeIdentifier
  Put32(b + 212, kBlock);                  // LogicalBlockSize
  RegId(b + 216, kDomain, Suffix::kDomain);
  // LogicalVolumeContentsUse: where the file set descriptor is
  LongAd(b + 248, SLongAd{kBlock, 0, 1, 0});
  Put32(b + 264, 6 + 64);                  // MapTableLength
  Put32(b + 268, 2);                       // NumberofPartitionMaps
  Implementation(b + 272);
  // ImplementationUse (304): none
  ExtentAd(b + 432, 2 * kBlock, v.integrityStart);  // IntegritySequenceExtent
  uint8_t* m = b + 440;
  // Type 1: the physical partition 0 of volume 1.
  m[0] = 1;
  m[1] = 6;
  Put16(m + 2, 1);
  Put16(m + 4, 0);
  // Type 2: the metadata partition over it.
  m += 6;
  m[0] = 2;
  m[1] = 64;
  RegId(m + 4, "*UDF Metadata Partition", Suffix::kUdf);
  Put16(m + 36, 1);                        // VolumeSequenceNumber
  Put16(m + 38, 0);                        // PartitionNumber
  Put32(m + 40, v.metadataFile);           // MetadataFileLocation
  Put32(m + 44, v.metadataMirror);         // MetadataMirrorFileLocation
  Put32(m + 48, 0xFFFFFFFF);               // MetadataBitmapFileLocation: none (read-only)
  Put32(m + 52, 32);                       // AllocationUnitSize (blocks)
  Put16(m + 56, 32);                       // AlignmentUnitSize (blocks)
  m[58] = 1;                               // Flags: the mirror holds its own copy
  Tag(b, kTagLvd, sector, 440 + 6 + 64);
}

void UnallocatedSpaceDescriptor(uint8_t* b, uint32_t sector, uint32_t seq) {
  Put32(b + 16, seq);
  Put32(b + 20, 0);                        // NumberofAllocationDescriptors
  Tag(b, kTagUsd, sector, 24);
}

void TerminatingDescriptor(uint8_t* b, uint32_t location) { Tag(b, kTagTd, location, 512); }

}  // namespace

uint16_t CrcItuT(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
    for (int k = 0; k < 8; ++k) crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

bool DecodeUtf8(const std::string& s, std::u16string& out) {
  out.clear();
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else {
      return false;  // four-byte sequences lie outside the BMP; others are invalid
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const uint8_t cc = static_cast<uint8_t>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(static_cast<char16_t>(cp));
    i += n;
  }
  return true;
}

size_t CompressedLength(const std::u16string& s) {
  bool wide = false;
  for (char16_t c : s) wide = wide || c > 0xFF;
  return 1 + s.size() * (wide ? 2 : 1);
}

std::vector<uint8_t> CompressedUnicode(const std::u16string& s) {
  bool wide = false;
  for (char16_t c : s) wide = wide || c > 0xFF;
  std::vector<uint8_t> out;
  out.reserve(1 + s.size() * 2);
  out.push_back(wide ? 16 : 8);
  for (char16_t c : s) {
    if (wide) out.push_back(static_cast<uint8_t>(c >> 8));
    out.push_back(static_cast<uint8_t>(c));
  }
  return out;
}

void VolumeStructureDescriptor(uint8_t* b, const char* id) {
  std::memset(b, 0, kBlock);
  b[0] = 0;  // StructureType
  std::memcpy(b + 1, id, 5);
  b[6] = 1;  // StructureVersion
}

void AnchorVolumeDescriptorPointer(uint8_t* b, uint32_t sector, const SVolumeInfo& v) {
  std::memset(b, 0, kBlock);
  ExtentAd(b + 16, v.vdsBlocks * kBlock, v.mainVds);
  ExtentAd(b + 24, v.vdsBlocks * kBlock, v.reserveVds);
  Tag(b, kTagAvdp, sector, 512);
}

void VolumeDescriptorSequence(uint8_t* blocks, uint32_t first, const SVolumeInfo& v) {
  std::memset(blocks, 0, 6 * kBlock);
  PrimaryVolumeDescriptor(blocks, first, 0, v);
  ImplementationUseVolumeDescriptor(blocks + kBlock, first + 1, 1, v);
  PartitionDescriptor(blocks + 2 * kBlock, first + 2, 2, v);
  LogicalVolumeDescriptor(blocks + 3 * kBlock, first + 3, 3, v);
  UnallocatedSpaceDescriptor(blocks + 4 * kBlock, first + 4, 4);
  TerminatingDescriptor(blocks + 5 * kBlock, first + 5);
}

void IntegritySequence(uint8_t* blocks, uint32_t first, const SVolumeInfo& v) {
  std::memset(blocks, 0, 2 * kBlock);
  uint8_t* b = blocks;
  Timestamp(b + 16, v.time);               // RecordingDateAndTime
  Put32(b + 28, 1);                        // IntegrityType: close
  // NextIntegrityExtent (32): none
  Put64(b + 40, v.nextUniqueId);           // LogicalVolumeHeaderDescriptor.UniqueID
  Put32(b + 72, 2);                        // NumberOfPartitions
  Put32(b + 76, 46);                       // LengthOfImplementationUse
  Put32(b + 80, 0);                        // FreeSpaceTable: none on read-only media
  Put32(b + 84, 0);
  Put32(b + 88, v.partitionLength);        // SizeTable
  Put32(b + 92, v.metadataBlocks);
  uint8_t* iu = b + 96;
  Implementation(iu);
  Put32(iu + 32, v.files);
  Put32(iu + 36, v.directories);
  Put16(iu + 40, kUdfRevision);            // MinimumUDFReadRevision
  Put16(iu + 42, kUdfRevision);            // MinimumUDFWriteRevision
  Put16(iu + 44, kUdfRevision);            // MaximumUDFWriteRevision
  Tag(b, kTagLvid, first, 96 + 46);
  TerminatingDescriptor(blocks + kBlock, first + 1);
}

void FileSetDescriptor(uint8_t* blocks, uint32_t block, const SVolumeInfo& v, const SLongAd& root) {
  std::memset(blocks, 0, 2 * kBlock);
  uint8_t* b = blocks;
  Timestamp(b + 16, v.time);
  Put16(b + 28, 3);                        // InterchangeLevel
  Put16(b + 30, 3);                        // MaximumInterchangeLevel
  Put32(b + 32, 1);                        // CharacterSetList
  Put32(b + 36, 1);                        // MaximumCharacterSetList
  Put32(b + 40, 0);                        // FileSetNumber
  Put32(b + 44, 0);                        // FileSetDescriptorNumber
  CharSpec(b + 48);
  DString(b + 112, 128, v.label);          // LogicalVolumeIdentifier
  CharSpec(b + 240);
  DString(b + 304, 32, v.label);           // FileSetIdentifier
  // CopyrightFileIdentifier, AbstractFileIdentifier (336, 368): none
  LongAd(b + 400, root);                   // RootDirectoryICB
  RegId(b + 416, kDomain, Suffix::kDomain);
  // NextExtent (448), SystemStreamDirectoryICB (464): none
  Tag(b, kTagFsd, block, 512);
  TerminatingDescriptor(blocks + kBlock, block + 1);
}

size_t MaxExtentsPerEntry(bool longAds) { return (kBlock - 216) / (longAds ? 16 : 8); }

bool ExtendedFileEntry(uint8_t* b, uint32_t block, const SFileEntry& e) {
  if (e.extents.size() > MaxExtentsPerEntry(e.longAds)) return false;
  std::memset(b, 0, kBlock);
  uint8_t* icb = b + 16;
  Put16(icb + 4, 4);                       // StrategyType
  Put16(icb + 8, 1);                       // MaximumNumberofEntries
  icb[11] = e.fileType;
  Put16(icb + 18, e.longAds ? 1 : 0);      // Flags: allocation descriptor type
  Put32(b + 36, 0xFFFFFFFF);               // Uid: not specified
  Put32(b + 40, 0xFFFFFFFF);               // Gid
  // Read (and for folders, search) for owner, group and others.
  const bool dir = e.fileType == kFileTypeDirectory;
  const uint32_t perm = dir ? 0x5 : 0x4;
  Put32(b + 44, perm | perm << 5 | perm << 10);
  Put16(b + 48, e.linkCount);
  Put64(b + 56, e.size);                   // InformationLength
  Put64(b + 64, e.size);                   // ObjectSize
  Put64(b + 72, (e.size + kBlock - 1) / kBlock);  // LogicalBlocksRecorded
  Timestamp(b + 80, e.time);               // Access
  Timestamp(b + 92, e.time);               // Modification
  Timestamp(b + 104, e.time);              // Creation
  Timestamp(b + 116, e.time);              // Attribute
  Put32(b + 128, 1);                       // Checkpoint
  Implementation(b + 168);
  Put64(b + 200, e.uniqueId);
  Put32(b + 208, 0);                       // LengthofExtendedAttributes
  const size_t adSize = e.longAds ? 16 : 8;
  Put32(b + 212, static_cast<uint32_t>(e.extents.size() * adSize));
  uint8_t* ad = b + 216;
  for (const SLongAd& x : e.extents) {
    if (e.longAds) {
      LongAd(ad, SLongAd{x.length, x.block, x.partition, 0});
    } else {
      Put32(ad, x.length);
      Put32(ad + 4, x.block);
    }
    ad += adSize;
  }
  Tag(b, kTagEfe, block, 216 + e.extents.size() * adSize);
  return true;
}

size_t FileIdentifierLength(const std::u16string& name) {
  const size_t fi = name.empty() ? 0 : CompressedLength(name);
  return (38 + fi + 3) / 4 * 4;
}

size_t FileIdentifierDescriptor(uint8_t* p, uint32_t firstBlock, size_t pos, const std::u16string& name,
                                bool directory, bool parent, const SLongAd& icb) {
  const size_t len = FileIdentifierLength(name);
  uint8_t* b = p + pos;
  std::memset(b, 0, len);
  Put16(b + 16, 1);                        // FileVersionNumber
  b[18] = static_cast<uint8_t>((directory ? 0x02 : 0) | (parent ? 0x08 : 0));
  if (!name.empty()) {
    const std::vector<uint8_t> fi = CompressedUnicode(name);
    b[19] = static_cast<uint8_t>(fi.size());
    std::memcpy(b + 38, fi.data(), fi.size());
  }
  LongAd(b + 20, icb);
  Put16(b + 36, 0);                        // LengthofImplementationUse
  Tag(b, kTagFid, firstBlock + static_cast<uint32_t>(pos / kBlock), len);
  return len;
}

}  // namespace zv::udf

#include "udf/udf_reader.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

#include "udf/udf_descriptors.h"

namespace zv::udf {

namespace {

constexpr uint16_t kTagFe = 261;
constexpr uint64_t kUnrecorded = ~uint64_t{0};  // an extent that reads as zeros
constexpr int kMaxDepth = 32;
constexpr size_t kMaxFiles = 1000000;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
uint64_t Get64(const uint8_t* p) { return Get32(p) | uint64_t{Get32(p + 4)} << 32; }

// A descriptor tag's identifier, checksum, CRC and location; empty when it
// holds, else what is wrong. `room` is the bytes available from `b`.
std::string TagProblem(const uint8_t* b, size_t room, uint16_t id, uint32_t location) {
  if (room < 16) return "no room for a descriptor tag";
  uint8_t sum = 0;
  for (int i = 0; i < 16; ++i)
    if (i != 4) sum = static_cast<uint8_t>(sum + b[i]);
  if (sum != b[4]) return "descriptor tag checksum is wrong";
  if (Get16(b) != id) return "descriptor " + std::to_string(Get16(b)) + " where " + std::to_string(id) + " belongs";
  const size_t crcLength = Get16(b + 10);
  if (16 + crcLength > room) return "descriptor CRC length " + std::to_string(crcLength) + " runs past its block";
  if (CrcItuT(b + 16, crcLength) != Get16(b + 8)) return "descriptor CRC is wrong";
  if (Get32(b + 12) != location)
    return "descriptor records location " + std::to_string(Get32(b + 12)) + " but is at " + std::to_string(location);
  return {};
}

void AppendUtf8(std::string& s, uint32_t c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | c >> 6);
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | c >> 12);
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// OSTA compressed Unicode (8 or 16 bits a character) as UTF-8; false for
// another compression or an odd 16-bit length.
bool DecodeName(const uint8_t* p, size_t n, std::string& out) {
  out.clear();
  if (n == 0) return false;
  if (p[0] == 8) {
    for (size_t i = 1; i < n; ++i) AppendUtf8(out, p[i]);
    return true;
  }
  if (p[0] != 16 || (n - 1) % 2) return false;
  for (size_t i = 1; i + 1 < n; i += 2) AppendUtf8(out, uint32_t{p[i]} << 8 | p[i + 1]);
  return true;
}

}  // namespace

bool CImageReader::ReadBlock(uint64_t sector, std::vector<uint8_t>& b, std::string& error) {
  if (sector >= sectors_) {
    error = "sector " + std::to_string(sector) + " is past the end of the image (" + std::to_string(sectors_) + " sectors)";
    return false;
  }
  b.resize(kBlock);
  if (!file_.ReadExactAt(static_cast<int64_t>(sector * kBlock), b.data(), kBlock)) {
    error = file_.Error();
    return false;
  }
  return true;
}

bool CImageReader::Tagged(uint64_t sector, uint16_t id, uint32_t location, std::vector<uint8_t>& b,
                          const std::string& what, std::string& error) {
  if (!ReadBlock(sector, b, error)) {
    error = what + ": " + error;
    return false;
  }
  const std::string problem = TagProblem(b.data(), b.size(), id, location);
  if (!problem.empty()) {
    error = what + " (sector " + std::to_string(sector) + "): " + problem;
    return false;
  }
  return true;
}

bool CImageReader::Sector(uint16_t partition, uint32_t block, uint64_t& sector, std::string& error) const {
  if (partition >= maps_.size()) {
    error = "partition reference " + std::to_string(partition) + " is not in the logical volume";
    return false;
  }
  if (!maps_[partition].metadata) {
    if (block >= partitionLength_) {
      error = "block " + std::to_string(block) + " is outside the partition (" + std::to_string(partitionLength_) + " blocks)";
      return false;
    }
    sector = uint64_t{partitionStart_} + block;
    return true;
  }
  uint64_t at = uint64_t{block} * kBlock;
  for (const auto& x : metadata_) {
    if (at < x.length) {
      sector = x.offset / kBlock + at / kBlock;
      return true;
    }
    at -= x.length;
  }
  error = "block " + std::to_string(block) + " is outside the metadata partition";
  return false;
}

bool CImageReader::ReadEntry(uint16_t partition, uint32_t block, SImageFile& f, std::string& error) {
  uint64_t sector = 0;
  if (!Sector(partition, block, sector, error)) return false;
  std::vector<uint8_t> b;
  if (!ReadBlock(sector, b, error)) return false;
  const uint16_t id = Get16(b.data());
  const bool extended = id == kTagEfe;
  if (const std::string p = TagProblem(b.data(), b.size(), extended ? static_cast<uint16_t>(kTagEfe) : kTagFe, block); !p.empty()) {
    error = "file entry at block " + std::to_string(block) + ": " + p;
    return false;
  }
  const uint8_t fileType = b[16 + 11];
  f.directory = fileType == kFileTypeDirectory;
  f.size = Get64(b.data() + 56);
  const size_t eaAt = extended ? 208 : 168;
  const uint32_t ea = Get32(b.data() + eaAt), ads = Get32(b.data() + eaAt + 4);
  const size_t first = eaAt + 8 + size_t{ea};
  if (ea > kBlock || ads > kBlock || first + ads > kBlock) {
    error = "file entry at block " + std::to_string(block) + ": its attributes and allocation descriptors overrun the block";
    return false;
  }
  const uint8_t* p = b.data() + first;
  f.extents.clear();
  f.embedded.clear();
  switch (Get16(b.data() + 16 + 18) & 7) {
    case 3:  // the data in the entry itself
      if (f.size > ads) {
        error = "file entry at block " + std::to_string(block) + ": embedded data shorter than the file";
        return false;
      }
      f.embedded.assign(p, p + f.size);
      return true;
    case 0:
    case 1: {
      const bool longAds = (Get16(b.data() + 16 + 18) & 7) == 1;
      const size_t size = longAds ? 16 : 8;
      for (size_t at = 0; at + size <= ads; at += size) {
        const uint32_t length = Get32(p + at) & 0x3FFFFFFF, kind = Get32(p + at) >> 30;
        if (length == 0) break;
        if (kind == 3) {
          error = "file entry at block " + std::to_string(block) + ": continued allocation descriptors are not supported";
          return false;
        }
        SImageFile::SExtent x;
        x.length = length;
        if (kind != 0) {
          x.offset = kUnrecorded;
        } else {
          const uint16_t part = longAds ? Get16(p + at + 8) : partition;
          uint64_t s = 0;
          // Short descriptors address the entry's own partition.
          if (!Sector(part, Get32(p + at + 4), s, error)) return false;
          x.offset = s * kBlock;
          if ((x.offset + length + kBlock - 1) / kBlock > sectors_) {
            error = "file entry at block " + std::to_string(block) + ": an extent runs past the end of the image";
            return false;
          }
        }
        f.extents.push_back(x);
      }
      uint64_t total = 0;
      for (const auto& x : f.extents) total += x.length;
      if (total < f.size) {
        error = "file entry at block " + std::to_string(block) + ": its extents hold " + std::to_string(total) +
                " of its " + std::to_string(f.size) + " bytes";
        return false;
      }
      return true;
    }
    default:
      error = "file entry at block " + std::to_string(block) + ": unknown allocation descriptor type";
      return false;
  }
}

bool CImageReader::ReadData(const SImageFile& f, std::vector<uint8_t>& out, std::string& error) {
  if (!f.embedded.empty() || f.extents.empty()) {
    out = f.embedded;
    return true;
  }
  if (f.size > (uint64_t{64} << 20)) {
    error = "a folder of " + std::to_string(f.size) + " bytes";
    return false;
  }
  out.assign(static_cast<size_t>(f.size), 0);
  size_t at = 0;
  for (const auto& x : f.extents) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(x.length, out.size() - at));
    if (n && x.offset != kUnrecorded && !file_.ReadExactAt(static_cast<int64_t>(x.offset), out.data() + at, n)) {
      error = file_.Error();
      return false;
    }
    at += n;
  }
  return true;
}

bool CImageReader::ReadFolder(const SImageFile& folder, int depth, std::string& error) {
  if (depth > kMaxDepth) {
    error = "folders nested deeper than " + std::to_string(kMaxDepth) + " at \"" + folder.path + "\"";
    return false;
  }
  std::vector<uint8_t> data;
  if (!ReadData(folder, data, error)) return false;
  const std::string where = folder.path.empty() ? "the root folder" : "folder \"" + folder.path + "\"";
  std::set<std::string> names;
  for (size_t pos = 0; pos < data.size();) {
    const uint8_t* b = data.data() + pos;
    if (data.size() - pos < 38) {
      error = where + ": a file identifier is cut off";
      return false;
    }
    // The tag location is the block of the descriptor; folder data read
    // through several extents makes it hard to know, so it is not held
    // against the image.
    if (std::string p = TagProblem(b, data.size() - pos, kTagFid, Get32(b + 12)); !p.empty()) {
      error = where + ", file identifier at byte " + std::to_string(pos) + ": " + p;
      return false;
    }
    const uint8_t flags = b[18], nameLength = b[19];
    const uint16_t iu = Get16(b + 36);
    const size_t length = (38 + size_t{iu} + nameLength + 3) / 4 * 4;
    if (pos + 38 + iu + nameLength > data.size()) {
      error = where + ": a file identifier runs past the folder's data";
      return false;
    }
    pos += length;
    if (flags & 0x0C) continue;  // the parent, or a deleted entry
    std::string name;
    if (!DecodeName(b + 38 + iu, nameLength, name) || name.empty() || name == "." || name == ".." ||
        name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
      error = where + ": a file name that cannot be read or stored";
      return false;
    }
    if (!names.insert(name).second) {
      error = where + ": \"" + name + "\" twice";
      return false;
    }
    if (files_.size() >= kMaxFiles) {
      error = "more than " + std::to_string(kMaxFiles) + " files";
      return false;
    }
    SImageFile f;
    f.path = folder.path.empty() ? name : folder.path + "/" + name;
    if (!ReadEntry(Get16(b + 20 + 8), Get32(b + 20 + 4), f, error)) {
      error = "\"" + f.path + "\": " + error;
      return false;
    }
    if (static_cast<bool>(flags & 0x02) != f.directory) {
      error = "\"" + f.path + "\": the folder flag disagrees with its file entry";
      return false;
    }
    files_.push_back(f);
    if (f.directory && !ReadFolder(f, depth + 1, error)) return false;
  }
  return true;
}

bool CImageReader::Open(const std::string& path, std::string& error) {
  path_ = path;
  files_.clear();
  maps_.clear();
  metadata_.clear();
  if (!file_.Open(path, File::kRead)) {
    error = file_.Error();
    return false;
  }
  const int64_t length = file_.Length();
  if (length < 0) {
    error = file_.Error();
    return false;
  }
  sectors_ = static_cast<uint64_t>(length) / kBlock;
  std::vector<uint8_t> b;
  if (!Tagged(256, kTagAvdp, 256, b, "the anchor volume descriptor pointer", error)) return false;
  // The main sequence, else the reserve one.
  std::string mainError;
  for (int copy = 0; copy < 2; ++copy) {
    const uint32_t count = Get32(b.data() + 16 + 8 * copy) / kBlock, first = Get32(b.data() + 20 + 8 * copy);
    std::vector<uint8_t> pd, lvd, d;
    std::string e;
    bool done = false;
    for (uint32_t i = 0; i < count && i < 64 && e.empty() && !done; ++i) {
      if (!ReadBlock(uint64_t{first} + i, d, e)) break;
      const uint16_t id = Get16(d.data());
      if (id != kTagPd && id != kTagLvd && id != kTagTd) continue;
      if (std::string p = TagProblem(d.data(), d.size(), id, first + i); !p.empty()) {
        e = "volume descriptor at sector " + std::to_string(first + i) + ": " + p;
        break;
      }
      if (id == kTagPd) pd = d;
      if (id == kTagLvd) lvd = d;
      done = id == kTagTd;
    }
    if (e.empty() && (pd.empty() || lvd.empty())) e = "the volume descriptor sequence has no partition or no logical volume";
    if (!e.empty()) {
      if (copy == 0) mainError = e;
      continue;
    }
    partitionStart_ = Get32(pd.data() + 188);
    partitionLength_ = Get32(pd.data() + 192);
    if (Get32(lvd.data() + 212) != kBlock) {
      error = "logical blocks of " + std::to_string(Get32(lvd.data() + 212)) + " bytes (2048 expected)";
      return false;
    }
    const uint32_t mapBytes = Get32(lvd.data() + 264), maps = Get32(lvd.data() + 268);
    if (440 + size_t{mapBytes} > kBlock) {
      error = "the partition maps overrun the logical volume descriptor";
      return false;
    }
    for (size_t at = 440, i = 0; i < maps && at + 2 <= 440 + mapBytes; ++i) {
      const uint8_t type = lvd[at], len = lvd[at + 1];
      if (len < 2 || at + len > 440 + mapBytes) break;
      SPartitionMap m;
      if (type == 2 && len >= 44 && std::string(reinterpret_cast<const char*>(&lvd[at + 5]), 23) == "*UDF Metadata Partition") {
        m.metadata = true;
        m.metadataFile = Get32(&lvd[at + 40]);
      }
      maps_.push_back(m);
      at += len;
    }
    // The file set descriptor's address.
    const uint32_t fsdBlock = Get32(lvd.data() + 248 + 4);
    const uint16_t fsdPartition = Get16(lvd.data() + 248 + 8);
    for (const auto& m : maps_)
      if (m.metadata) {
        SImageFile meta;
        if (!ReadEntry(0, m.metadataFile, meta, error)) {
          error = "the metadata file: " + error;
          return false;
        }
        metadata_ = meta.extents;
      }
    uint64_t sector = 0;
    if (!Sector(fsdPartition, fsdBlock, sector, error)) return false;
    if (!Tagged(sector, kTagFsd, fsdBlock, b, "the file set descriptor", error)) return false;
    SImageFile root;
    root.directory = true;
    const uint16_t rootPartition = Get16(b.data() + 400 + 8);
    if (!ReadEntry(rootPartition, Get32(b.data() + 400 + 4), root, error)) {
      error = "the root folder: " + error;
      return false;
    }
    return ReadFolder(root, 0, error);
  }
  error = mainError;
  return false;
}

bool CImageReader::CopyOut(const SImageFile& f, const std::string& dest, std::string& error) {
  File out;
  if (!out.Open(dest, File::kCreate)) {
    error = out.Error();
    return false;
  }
  if (!f.embedded.empty() && !out.Write(f.embedded.data(), f.embedded.size())) {
    error = out.Error();
    return false;
  }
  std::vector<uint8_t> buf(size_t{1} << 20);
  uint64_t left = f.embedded.empty() ? f.size : 0;
  for (const auto& x : f.extents) {
    for (uint64_t done = 0; done < x.length && left > 0;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>({buf.size(), x.length - done, left}));
      if (x.offset == kUnrecorded) {
        std::fill(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n), 0);
      } else if (!file_.ReadExactAt(static_cast<int64_t>(x.offset + done), buf.data(), n)) {
        error = file_.Error();
        return false;
      }
      if (!out.Write(buf.data(), n)) {
        error = out.Error();
        return false;
      }
      done += n;
      left -= n;
    }
  }
  if (!out.Close()) {
    error = out.Error();
    return false;
  }
  return true;
}

int ExtractImage(const std::string& image, const std::string& folder, const Progress& progress, std::string& error) {
  CImageReader reader;
  if (!reader.Open(image, error)) {
    error = "\"" + image + "\" is not a readable UDF image: " + error;
    return kFailed;
  }
  uint64_t total = 0, done = 0;
  for (const auto& f : reader.Files()) total += f.directory ? 0 : f.size;
  namespace fs = std::filesystem;
  for (const auto& f : reader.Files()) {
    const std::string dest = (fs::path(folder) / f.path).string();
    if (f.directory) {
      std::error_code ec;
      fs::create_directories(dest, ec);
      if (ec) {
        error = "Cannot create \"" + dest + "\": " + ec.message();
        return kFailed;
      }
      continue;
    }
    if (!reader.CopyOut(f, dest, error)) return kFailed;
    done += f.size;
    if (!progress.Value(total ? static_cast<int32_t>(done * 100 / total) : 100)) return kCancelled;
  }
  return kOk;
}

}  // namespace zv::udf

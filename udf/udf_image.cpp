#include "udf/udf_image.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/file.h"
#include "udf/udf_descriptors.h"

namespace zv::udf {

namespace {

// Fixed places of the volume space, in sectors.
constexpr uint32_t kVrsSector = 16;      // BEA01, NSR03, TEA01
constexpr uint32_t kMainVds = 32;
constexpr uint32_t kReserveVds = 48;
constexpr uint32_t kVdsBlocks = 16;      // extent of each sequence (six blocks used)
constexpr uint32_t kIntegrity = 64;
constexpr uint32_t kAnchor = 256;
// The closing anchors sit at N-256 and N, N being the last sector: the
// partition ends at the first of them, and 256 sectors follow it.
constexpr uint32_t kTailSectors = 257;
// The partition starts on a 32-sector boundary (one BD ECC block) after the anchor.
constexpr uint32_t kPartitionStart = 288;
// In the physical partition: the metadata file's and the mirror's entries,
// then the metadata, aligned as the metadata partition map says.
constexpr uint32_t kMetadataEntry = 0;
constexpr uint32_t kMirrorEntry = 1;
constexpr uint32_t kAlignment = 32;
constexpr uint32_t kMetadataStart = kAlignment;
// Bytes moved per read and write.
constexpr size_t kCopyBuffer = 4 << 20;
// Written data is sent to the disk in windows of this size while the next
// ones are copied, and dropped from the page cache once it is there.
constexpr uint64_t kFlushWindow = 64 << 20;

uint64_t Blocks(uint64_t bytes) { return (bytes + kBlock - 1) / kBlock; }
uint64_t RoundUp(uint64_t v, uint64_t unit) { return (v + unit - 1) / unit * unit; }

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// Owns a descriptor of a file being read.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

// Longest name a file identifier holds: 255 bytes with the compression id.
bool NameFits(const std::u16string& name) { return CompressedLength(name) <= 255; }

int ScanFolder(SImageNode& dir, SImageTree& tree, std::string& error) {
  DIR* d = ::opendir(dir.path.c_str());
  if (!d) {
    error = File::ErrorText("open", dir.path, errno);
    return kFailed;
  }
  std::unique_ptr<DIR, int (*)(DIR*)> closer(d, ::closedir);
  errno = 0;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    SImageNode n;
    n.name = name;
    n.path = dir.path + "/" + name;
    n.relPath = dir.relPath.empty() ? name : dir.relPath + "/" + name;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      error = File::ErrorText("open", n.path, errno);
      return kFailed;
    }
    // Only what lies inside the folder goes into the image: a link could
    // lead anywhere.
    if (S_ISLNK(st.st_mode)) {
      error = Quoted(n.path) + " is a symbolic link; a disc image holds only files and folders";
      return kFailed;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode)) {
      error = Quoted(n.path) + " is not a regular file or folder (a device, pipe or socket); a disc image holds "
              "only files and folders";
      return kFailed;
    }
    if (!DecodeUtf8(name, n.udfName)) {
      error = Quoted(n.path) + ": UDF cannot store this name (it is not UTF-8 text of characters up to U+FFFF)";
      return kFailed;
    }
    if (!NameFits(n.udfName)) {
      error = Quoted(n.path) + ": the name is too long for UDF (at most 254 characters up to U+00FF, or 127 "
              "others)";
      return kFailed;
    }
    n.directory = S_ISDIR(st.st_mode);
    n.size = n.directory ? 0 : static_cast<uint64_t>(st.st_size);
    n.device = st.st_dev;
    n.inode = st.st_ino;
    tree.newestTime = std::max<int64_t>(tree.newestTime, st.st_mtim.tv_sec);
    if (!n.directory && (n.size + kMaxExtent - 1) / kMaxExtent > MaxExtentsPerEntry(true)) {
      error = Quoted(n.path) + " is too large for a disc image file";
      return kFailed;
    }
    if (n.directory && ScanFolder(n, tree, error) != kOk) return kFailed;
    dir.children.push_back(std::move(n));
    errno = 0;
  }
  if (errno != 0) {
    error = File::ErrorText("read", dir.path, errno);
    return kFailed;
  }
  std::sort(dir.children.begin(), dir.children.end(),
            [](const SImageNode& a, const SImageNode& b) { return a.name < b.name; });
  return kOk;
}

// Where each entry goes: its file entry and its data.
struct SPlace {
  uint32_t entry = 0;      // block of the extended file entry, metadata partition
  uint32_t data = 0;       // folders: metadata partition; files: physical partition
  uint64_t dataBytes = 0;  // folders: their identifiers' bytes
  uint64_t uniqueId = 0;
};

struct SLayout {
  std::map<const SImageNode*, SPlace> places;
  std::vector<const SImageNode*> preorder;
  std::vector<const SImageNode*> fileOrder;  // files with data, in the order written
  uint32_t metadataBlocks = 0;
  uint32_t dataStart = 0;    // physical partition block of the first file
  uint32_t mirrorStart = 0;
  uint32_t partitionLength = 0;
  uint32_t totalSectors = 0;
  uint64_t nextUniqueId = kFirstUniqueId;
  uint32_t files = 0, directories = 0;
};

// Reading order: navigation, clip information, the other files, the clips
// in number order, then the BACKUP copies, away from their originals.
int ReadingRank(const std::string& rel) {
  if (rel.find("BACKUP/") != std::string::npos) return 6;
  if (rel == "BDMV/index.bdmv") return 0;
  if (rel == "BDMV/MovieObject.bdmv") return 1;
  if (rel.rfind("BDMV/PLAYLIST/", 0) == 0) return 2;
  if (rel.rfind("BDMV/CLIPINF/", 0) == 0) return 3;
  if (rel.rfind("BDMV/STREAM/", 0) == 0) return 5;
  return 4;
}

void PlaceMetadata(const SImageNode& n, bool isRoot, SLayout& L, uint32_t& next) {
  SPlace& p = L.places[&n];
  p.entry = next++;
  p.uniqueId = isRoot ? 0 : L.nextUniqueId++;
  L.preorder.push_back(&n);
  if (n.directory) {
    ++L.directories;
    p.dataBytes = FileIdentifierLength(u"");
    for (const SImageNode& c : n.children) p.dataBytes += FileIdentifierLength(c.udfName);
    p.data = next;
    next += static_cast<uint32_t>(Blocks(p.dataBytes));
    for (const SImageNode& c : n.children) PlaceMetadata(c, false, L, next);
  } else {
    ++L.files;
  }
}

void CollectFiles(const SImageNode& n, std::vector<const SImageNode*>& out) {
  for (const SImageNode& c : n.children) {
    if (c.directory)
      CollectFiles(c, out);
    else if (c.size > 0)
      out.push_back(&c);
  }
}

SLayout MakeLayout(const SImageTree& tree) {
  SLayout L;
  uint32_t next = 2;  // the file set descriptor and its terminator
  PlaceMetadata(tree.root, true, L, next);
  L.metadataBlocks = static_cast<uint32_t>(RoundUp(next, kAlignment));
  CollectFiles(tree.root, L.fileOrder);
  std::stable_sort(L.fileOrder.begin(), L.fileOrder.end(), [](const SImageNode* a, const SImageNode* b) {
    const int ra = ReadingRank(a->relPath), rb = ReadingRank(b->relPath);
    return ra != rb ? ra < rb : a->relPath < b->relPath;
  });
  // The mirror comes first, then the metadata, then the files: readers that
  // take the last block they used as the end of the volume (7-Zip) then see
  // only zeros and the closing anchors after it.
  const uint64_t mirror = kMetadataStart;
  uint64_t cur = kMetadataStart + 2 * L.metadataBlocks;
  L.dataStart = static_cast<uint32_t>(cur);
  for (const SImageNode* f : L.fileOrder) {
    L.places[f].data = static_cast<uint32_t>(cur);
    cur += Blocks(f->size);
  }
  const uint64_t length = cur;
  const uint64_t total = kPartitionStart + length + kTailSectors;
  // Too large for 32-bit block numbers: the totals are then clamped and
  // WriteDiscImage refuses.
  L.mirrorStart = static_cast<uint32_t>(std::min<uint64_t>(mirror, UINT32_MAX));
  L.partitionLength = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
  L.totalSectors = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
  return L;
}

// A set id that names this disc: the time, then a hash of its names and sizes.
std::string VolumeSetId(const SImageTree& tree, int64_t time) {
  uint32_t h = 2166136261u;
  const auto mix = [&](const std::string& s) {
    for (unsigned char c : s) h = (h ^ c) * 16777619u;
  };
  std::vector<const SImageNode*> stack{&tree.root};
  while (!stack.empty()) {
    const SImageNode* n = stack.back();
    stack.pop_back();
    mix(n->relPath);
    mix(std::to_string(n->size));
    for (const SImageNode& c : n->children) stack.push_back(&c);
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08" PRIX32 "%08" PRIX32, static_cast<uint32_t>(time), h);
  return buf;
}

// The output file with the progress share and the cancel check.
class CSink {
 public:
  CSink(File& f, uint64_t total, const Progress& progress) : f_(f), total_(total), progress_(progress) {}
  // 0 written; kCancelled or kFailed.
  int Write(const void* p, size_t n) {
    if (!f_.Write(p, n)) return kFailed;
    done_ += n;
    if (done_ - started_ >= kFlushWindow) Flush();
    const int32_t pct = total_ ? static_cast<int32_t>(done_ * 100 / total_) : 100;
    return progress_.Value(pct) ? kOk : kCancelled;
  }
  int Zeros(uint64_t n) {
    static const std::vector<uint8_t> zeros(1 << 20, 0);
    while (n > 0) {
      const size_t k = static_cast<size_t>(std::min<uint64_t>(n, zeros.size()));
      if (int rc = Write(zeros.data(), k)) return rc;
      n -= k;
    }
    return kOk;
  }
  uint64_t Done() const { return done_; }

 private:
  // Starts writing the window just filled and waits for the one before,
  // so the disk works while the copy goes on and the image never piles up
  // as dirty pages. Errors show at the final fdatasync.
  void Flush() {
    const int fd = f_.Descriptor();
    ::sync_file_range(fd, static_cast<off_t>(started_), static_cast<off_t>(done_ - started_),
                      SYNC_FILE_RANGE_WRITE);
    if (started_ > 0) {
      ::sync_file_range(fd, static_cast<off_t>(flushed_), static_cast<off_t>(started_ - flushed_),
                        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
      ::posix_fadvise(fd, static_cast<off_t>(flushed_), static_cast<off_t>(started_ - flushed_),
                      POSIX_FADV_DONTNEED);
      flushed_ = started_;
    }
    started_ = done_;
  }
  uint64_t started_ = 0;  // start of the window being filled
  uint64_t flushed_ = 0;  // everything before is on disk
  File& f_;
  uint64_t total_;
  uint64_t done_ = 0;
  const Progress& progress_;
};

// The file's bytes, checked to be the file scanned and still of its size.
int CopyFile(const SImageNode& n, CSink& sink, std::vector<uint8_t>& buf, std::string& error) {
  Fd in;
  in.fd = ::open(n.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in.fd < 0) {
    error = File::ErrorText("open", n.path, errno);
    return kFailed;
  }
  struct stat st;
  if (::fstat(in.fd, &st) != 0 || st.st_dev != n.device || st.st_ino != n.inode ||
      static_cast<uint64_t>(st.st_size) != n.size) {
    error = Quoted(n.path) + " changed while the image was written";
    return kFailed;
  }
  ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  uint64_t left = n.size;
  while (left > 0) {
    const ssize_t got = ::read(in.fd, buf.data(), static_cast<size_t>(std::min<uint64_t>(left, buf.size())));
    if (got < 0) {
      if (errno == EINTR) continue;
      error = File::ErrorText("read", n.path, errno);
      return kFailed;
    }
    if (got == 0) {
      error = Quoted(n.path) + " changed while the image was written";
      return kFailed;
    }
    if (int rc = sink.Write(buf.data(), static_cast<size_t>(got))) return rc;
    left -= static_cast<uint64_t>(got);
  }
  return sink.Zeros(Blocks(n.size) * kBlock - n.size);
}

// The metadata partition's content: file set, folders' entries and
// identifiers, files' entries.
std::vector<uint8_t> MetadataContent(const SImageTree& tree, const SLayout& L, const SVolumeInfo& v) {
  std::vector<uint8_t> meta(static_cast<size_t>(L.metadataBlocks) * kBlock, 0);
  const SPlace& root = L.places.at(&tree.root);
  FileSetDescriptor(meta.data(), 0, v, SLongAd{kBlock, root.entry, 1, 0});
  std::map<const SImageNode*, const SImageNode*> parents;
  for (const SImageNode* n : L.preorder)
    for (const SImageNode& c : n->children) parents[&c] = n;
  for (const SImageNode* n : L.preorder) {
    const SPlace& p = L.places.at(n);
    SFileEntry e;
    e.time = v.time;
    e.uniqueId = p.uniqueId;
    if (n->directory) {
      e.fileType = kFileTypeDirectory;
      e.linkCount = static_cast<uint16_t>(
          1 + std::count_if(n->children.begin(), n->children.end(), [](const SImageNode& c) { return c.directory; }));
      e.size = p.dataBytes;
      e.extents.push_back(SLongAd{static_cast<uint32_t>(p.dataBytes), p.data, 1, 0});
      uint8_t* data = meta.data() + static_cast<size_t>(p.data) * kBlock;
      const SImageNode* parent = n == &tree.root ? n : parents.at(n);
      const SPlace& pp = L.places.at(parent);
      size_t pos = FileIdentifierDescriptor(data, p.data, 0, u"", true, true,
                                            SLongAd{kBlock, pp.entry, 1, static_cast<uint32_t>(pp.uniqueId)});
      for (const SImageNode& c : n->children) {
        const SPlace& cp = L.places.at(&c);
        pos += FileIdentifierDescriptor(data, p.data, pos, c.udfName, c.directory, false,
                                        SLongAd{kBlock, cp.entry, 1, static_cast<uint32_t>(cp.uniqueId)});
      }
    } else {
      e.longAds = true;
      e.size = n->size;
      uint64_t left = n->size;
      uint32_t block = p.data;
      while (left > 0) {
        const uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(left, kMaxExtent));
        e.extents.push_back(SLongAd{len, block, 0, 0});
        block += len / kBlock;
        left -= len;
      }
    }
    ExtendedFileEntry(meta.data() + static_cast<size_t>(p.entry) * kBlock, p.entry, e);
  }
  return meta;
}

}  // namespace

int ScanDiscFolder(const std::string& folder, SImageTree& tree, std::string& error) {
  tree = SImageTree{};
  std::string path = folder;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    error = File::ErrorText("open", path, errno);
    return kFailed;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = Quoted(path) + " is not a folder";
    return kFailed;
  }
  struct stat bd;
  if (::lstat((path + "/BDMV").c_str(), &bd) != 0 || !S_ISDIR(bd.st_mode)) {
    error = Quoted(path) + " is not a disc folder: it holds no BDMV folder";
    return kFailed;
  }
  tree.root.path = path;
  tree.root.directory = true;
  tree.root.device = st.st_dev;
  tree.root.inode = st.st_ino;
  tree.newestTime = st.st_mtim.tv_sec;
  return ScanFolder(tree.root, tree, error);
}

bool CheckLabel(const std::string& label, std::string& error) {
  std::u16string u;
  if (label.empty()) {
    error = "the volume label is empty";
    return false;
  }
  if (!DecodeUtf8(label, u)) {
    error = "the volume label " + Quoted(label) + " is not UTF-8 text of characters up to U+FFFF";
    return false;
  }
  for (char16_t c : u)
    if (c < 0x20 || c == 0x7F) {
      error = "the volume label " + Quoted(label) + " holds a control character";
      return false;
    }
  // It must fit the primary volume descriptor's 32-byte identifier.
  if (CompressedLength(u) > 31) {
    error = "the volume label " + Quoted(label) + " is too long (at most 30 characters up to U+00FF, or 15 others)";
    return false;
  }
  return true;
}

std::string LabelFromName(const std::string& name) {
  std::string out;
  std::string err;
  for (size_t i = 0; i < name.size();) {
    // One UTF-8 character at a time; what a label cannot hold is dropped.
    size_t n = 1;
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0xC0) n = c >= 0xE0 ? (c >= 0xF0 ? 4 : 3) : 2;
    const std::string ch = name.substr(i, n);
    i += n;
    std::u16string u;
    if (!DecodeUtf8(ch, u) || u.empty() || u[0] < 0x20 || u[0] == 0x7F) continue;
    if (!CheckLabel(out + ch, err)) break;
    out += ch;
  }
  return out.empty() ? "DISC" : out;
}

uint64_t ImageBytes(const SImageTree& tree) { return static_cast<uint64_t>(MakeLayout(tree).totalSectors) * kBlock; }

std::string CapacityWarning(uint64_t bytes, uint64_t capacity) {
  const auto grouped = [](uint64_t v) {
    std::string s = std::to_string(v);
    for (int i = static_cast<int>(s.size()) - 3; i > 0; i -= 3) s.insert(static_cast<size_t>(i), ",");
    return s;
  };
  const auto named = [&](uint64_t c) {
    if (c == kBd25Bytes) return std::string("a BD-25 (") + grouped(c) + " bytes)";
    if (c == kBd50Bytes) return std::string("a BD-50 (") + grouped(c) + " bytes)";
    if (c == kBd100Bytes) return std::string("a BD-100 (") + grouped(c) + " bytes)";
    return "the capacity of " + grouped(c) + " bytes";
  };
  const std::string size = "the image (" + grouped(bytes) + " bytes)";
  if (capacity != 0) return bytes > capacity ? size + " exceeds " + named(capacity) : std::string();
  if (bytes > kBd100Bytes) return size + " exceeds " + named(kBd100Bytes) + ", the largest disc";
  if (bytes > kBd50Bytes) return size + " exceeds " + named(kBd50Bytes) + "; it needs a BD-100";
  if (bytes > kBd25Bytes) return size + " exceeds " + named(kBd25Bytes) + "; it needs a BD-50";
  return {};
}

bool ParseCapacity(const std::string& text, uint64_t& bytes) {
  const std::string t = [&] {
    std::string s = text;
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }();
  if (t == "BD-25" || t == "BD25") return bytes = kBd25Bytes, true;
  if (t == "BD-50" || t == "BD50") return bytes = kBd50Bytes, true;
  if (t == "BD-100" || t == "BD100") return bytes = kBd100Bytes, true;
  if (t.empty() || t.size() > 19 || t.find_first_not_of("0123456789") != std::string::npos) return false;
  bytes = std::stoull(t);
  return bytes > 0;
}

int WriteDiscImage(const SImageTree& tree, const std::string& out, const SImageOptions& options,
                   const Progress& progress, std::string& error) {
  error.clear();
  if (!CheckLabel(options.label, error)) return kFailed;
  {
    // The image inside the folder would be read into itself by a later image.
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::weakly_canonical(tree.root.path, ec);
    const fs::path target = fs::weakly_canonical(fs::absolute(out, ec), ec);
    const std::string f = folder.string() + "/";
    if (!ec && target.string().rfind(f, 0) == 0) {
      error = "the image " + Quoted(out) + " must go outside the disc folder " + Quoted(tree.root.path);
      return kFailed;
    }
  }
  const SLayout L = MakeLayout(tree);
  if (L.totalSectors == UINT32_MAX) {
    error = "the disc folder " + Quoted(tree.root.path) + " is too large for a disc image";
    return kFailed;
  }
  SVolumeInfo v;
  DecodeUtf8(options.label, v.label);
  v.setId = VolumeSetId(tree, options.time);
  v.time.seconds = options.time;
  v.partitionStart = kPartitionStart;
  v.partitionLength = L.partitionLength;
  v.metadataFile = kMetadataEntry;
  v.metadataMirror = kMirrorEntry;
  v.metadataBlocks = L.metadataBlocks;
  v.integrityStart = kIntegrity;
  v.mainVds = kMainVds;
  v.reserveVds = kReserveVds;
  v.vdsBlocks = kVdsBlocks;
  v.nextUniqueId = L.nextUniqueId;
  v.files = L.files;
  v.directories = L.directories;

  // Everything before the partition.
  std::vector<uint8_t> head(static_cast<size_t>(kPartitionStart) * kBlock, 0);
  VolumeStructureDescriptor(&head[kVrsSector * kBlock], "BEA01");
  VolumeStructureDescriptor(&head[(kVrsSector + 1) * kBlock], "NSR03");
  VolumeStructureDescriptor(&head[(kVrsSector + 2) * kBlock], "TEA01");
  VolumeDescriptorSequence(&head[kMainVds * kBlock], kMainVds, v);
  VolumeDescriptorSequence(&head[kReserveVds * kBlock], kReserveVds, v);
  IntegritySequence(&head[kIntegrity * kBlock], kIntegrity, v);
  AnchorVolumeDescriptorPointer(&head[kAnchor * kBlock], kAnchor, v);

  // The metadata file's and mirror's entries, in the physical partition.
  std::vector<uint8_t> entries(static_cast<size_t>(kMetadataStart) * kBlock, 0);
  SFileEntry m;
  m.fileType = kFileTypeMetadata;
  m.size = static_cast<uint64_t>(L.metadataBlocks) * kBlock;
  m.time = v.time;
  m.extents.push_back(SLongAd{static_cast<uint32_t>(m.size), kMetadataStart + L.metadataBlocks, 0, 0});
  ExtendedFileEntry(&entries[kMetadataEntry * kBlock], kMetadataEntry, m);
  m.fileType = kFileTypeMirror;
  m.extents[0].block = L.mirrorStart;
  ExtendedFileEntry(&entries[kMirrorEntry * kBlock], kMirrorEntry, m);

  const std::vector<uint8_t> meta = MetadataContent(tree, L, v);
  std::vector<uint8_t> anchor(kBlock);
  AnchorVolumeDescriptorPointer(anchor.data(), L.totalSectors - kTailSectors, v);
  std::vector<uint8_t> lastAnchor(kBlock);
  AnchorVolumeDescriptorPointer(lastAnchor.data(), L.totalSectors - 1, v);

  const std::string tmp = CreateTempBeside(out, error);
  if (tmp.empty()) return kFailed;
  struct TempFile {
    std::string path;
    ~TempFile() {
      if (!path.empty()) ::unlink(path.c_str());
    }
  } temp{tmp};
  File f;
  if (!f.Open(tmp, File::kReadWrite)) {
    error = f.Error();
    return kFailed;
  }
  const uint64_t total = static_cast<uint64_t>(L.totalSectors) * kBlock;
  CSink sink(f, total, progress);
  std::vector<uint8_t> buf(kCopyBuffer);
  int rc = sink.Write(head.data(), head.size());
  if (!rc) rc = sink.Write(entries.data(), entries.size());
  if (!rc) rc = sink.Write(meta.data(), meta.size());  // the mirror
  if (!rc) rc = sink.Write(meta.data(), meta.size());
  for (size_t i = 0; i < L.fileOrder.size() && !rc; ++i) rc = CopyFile(*L.fileOrder[i], sink, buf, error);
  if (!rc) rc = sink.Write(anchor.data(), anchor.size());
  if (!rc) rc = sink.Zeros(static_cast<uint64_t>(kTailSectors - 2) * kBlock);
  if (!rc) rc = sink.Write(lastAnchor.data(), lastAnchor.size());
  if (rc == kFailed && error.empty()) error = f.Error();
  if (rc) return rc;
  if (sink.Done() != total) {
    error = "the image " + Quoted(out) + " came out at " + std::to_string(sink.Done()) + " bytes instead of " +
            std::to_string(total);
    return kFailed;
  }
  // On disk before it takes the name: a crash must not leave a whole-looking image.
  if (::fdatasync(f.Descriptor()) != 0) {
    error = File::ErrorText("write", tmp, errno);
    return kFailed;
  }
  if (!f.Close()) {
    error = f.Error();
    return kFailed;
  }
  if (::rename(tmp.c_str(), out.c_str()) != 0) {
    error = File::ErrorText("write", out, errno);
    return kFailed;
  }
  temp.path.clear();
  return kOk;
}

}  // namespace zv::udf

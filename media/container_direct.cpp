#include "media/container_direct.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include <unistd.h>

#include "media/container_demux.h"
#include "platform/file_view.h"
#include "platform/paths.h"

extern "C" {
#include <libavcodec/packet.h>
}

namespace zv {

namespace {

// How far past libavformat's position of a packet its bytes are looked
// for: a Matroska block's header, an MP4 sample's exact offset.
constexpr size_t kSearch = 256;
// The most bytes put in front of a NAL unit (start code and parameter sets).
constexpr size_t kGapMax = 4096;
// Distinct arrangements of what goes between the units of a packet.
constexpr size_t kMaxPatterns = 4096;
// Records read at once (the table says how many), and the mapped window
// of the container.
std::atomic<uint64_t> g_block{4096};
constexpr size_t kMapWindow = size_t{8} << 20;
constexpr size_t kRecordSize = 24;

std::atomic<bool> g_direct{true};

// One packet: where its bytes lie in the file, where what it makes starts
// in the elementary stream, and how that is made of them.
struct SRecord {
  uint64_t fileOffset = 0;
  uint64_t esOffset = 0;
  uint32_t inSize = 0;
  uint32_t pattern = 0;
};

void PutLe(std::string& out, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

uint64_t GetLe(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

uint32_t GetBe(const uint8_t* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | p[i];
  return v;
}

// The bytes of `made` as one run, copied only when there are several.
const uint8_t* Flat(const std::vector<SBytes>& made, std::vector<uint8_t>& buf, size_t& n) {
  n = 0;
  for (const SBytes& b : made) n += b.size;
  if (made.size() == 1) return made[0].data;
  buf.clear();
  for (const SBytes& b : made) buf.insert(buf.end(), b.data, b.data + b.size);
  return buf.data();
}

// Sums that find a damaged table (FNV-1a): of each track's entry and of
// each block of its records.
constexpr uint64_t kSumStart = 0xcbf29ce484222325u;
uint64_t Sum(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3u;
  return h;
}

void PutRecord(std::string& out, const SRecord& r) {
  PutLe(out, r.fileOffset, 8);
  PutLe(out, r.esOffset, 8);
  PutLe(out, r.inSize, 4);
  PutLe(out, r.pattern, 4);
}

// Records kept in memory before they go to the track's spill file: the
// memory of an index stays flat however long the container.
std::atomic<size_t> g_spillAt{size_t{1} << 16};

}  // namespace

struct CDirectTableMaker::STable {
  int lengthSize = 0;
  bool ok = true;
  int64_t lastPos = -1;  // libavformat's position of the track's last packet
  int64_t lastEnd = -1;  // and the end of its bytes in the file
  uint64_t es = 0;
  std::vector<SRecord> records;  // not spilled yet
  uint64_t count = 0;
  std::vector<uint64_t> blockEs;  // of the first record of each block
  std::vector<uint64_t> blockSum;
  File spill;                     // records written out, unlinked already
  uint64_t spilled = 0;
  std::vector<std::string> patterns;
  std::map<std::string, uint32_t> ids;
};

CDirectTableMaker::CDirectTableMaker() = default;

CDirectTableMaker::~CDirectTableMaker() {
  view_.Unmap();
  if (fd_ >= 0) ::close(fd_);
}

bool CDirectTableMaker::Open(const std::string& container) {
  block_ = g_block;
  fd_ = OpenForMapping(container, fileSize_);
  return fd_ >= 0 && fileSize_ > 0;
}

const uint8_t* CDirectTableMaker::Bytes(int64_t pos, size_t n) {
  const auto in = [&] {
    return view_.Mapped() && pos >= view_.Position() &&
           pos + static_cast<int64_t>(n) <= view_.Position() + static_cast<int64_t>(view_.Size());
  };
  if (!in()) {
    // The packets come in the file's order: windows move forward.
    shortened_ = shortened_ || view_.Shortened();
    view_.Unmap();
    const auto size = static_cast<size_t>(
        std::max<int64_t>(static_cast<int64_t>(n), std::min<int64_t>(static_cast<int64_t>(kMapWindow), fileSize_ - pos)));
    if (!view_.Map(fd_, pos, size)) return nullptr;
  }
  return view_.Data() + (pos - view_.Position());
}

void CDirectTableMaker::AddTrack(int stream, int h264LengthSize) {
  auto t = std::make_unique<STable>();
  t->lengthSize = h264LengthSize;
  t->ok = fd_ >= 0 && h264LengthSize >= 0 && h264LengthSize <= 4 && h264LengthSize != 3;
  tables_[stream] = std::move(t);
}

CDirectTableMaker::STable* CDirectTableMaker::Fail(STable* t) {
  if (t) {
    t->ok = false;
    t->records.clear();
    t->records.shrink_to_fit();
    t->spill.Close();
  }
  return nullptr;
}

void CDirectTableMaker::Before(const AVPacket& pkt) {
  cur_ = nullptr;
  const auto it = tables_.find(pkt.stream_index);
  if (it == tables_.end() || !it->second->ok) return;
  STable* t = it->second.get();
  if (pkt.pos < 0 || pkt.size <= 0 || !pkt.data) {
    Fail(t);
    return;
  }
  // Laced frames of one block share its position: each follows the last
  // (other tracks' packets may come between them).
  int64_t start = pkt.pos;
  if (pkt.pos == t->lastPos && t->lastEnd > start) start = t->lastEnd;
  const auto size = static_cast<size_t>(pkt.size);
  if (start >= fileSize_ || static_cast<int64_t>(size) > fileSize_ - start) {
    Fail(t);
    return;
  }
  const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size + kSearch), fileSize_ - start));
  const uint8_t* bytes = Bytes(start, n);
  if (!bytes) {
    Fail(t);
    return;
  }
  for (size_t off = 0; off + size <= n; ++off) {
    if (bytes[off] != pkt.data[0] || std::memcmp(bytes + off, pkt.data, size) != 0) continue;
    cur_ = t;
    curBytes_ = bytes + off;
    curSize_ = size;
    curFileOffset_ = static_cast<uint64_t>(start) + off;
    t->lastPos = pkt.pos;
    t->lastEnd = start + static_cast<int64_t>(off + size);
    return;
  }
  Fail(t);
}

void CDirectTableMaker::After(int stream, const std::vector<SBytes>& made) {
  const auto it = tables_.find(stream);
  if (it == tables_.end() || !it->second->ok) return;
  STable* t = it->second.get();
  if (cur_ != t) {
    Fail(t);
    return;
  }
  cur_ = nullptr;
  std::vector<uint8_t> buf;
  size_t outN = 0;
  const uint8_t* out = Flat(made, buf, outN);
  const uint8_t* in = curBytes_;
  const size_t inN = curSize_;
  if (curSize_ > UINT32_MAX) {
    Fail(t);
    return;
  }
  SRecord r{curFileOffset_, t->es, static_cast<uint32_t>(inN), 0};
  if (t->lengthSize == 0) {
    if (outN != inN || std::memcmp(out, in, inN) != 0) {
      Fail(t);
      return;
    }
  } else {
    // Each unit's bytes found in what was made, with what came before it.
    std::string key;
    size_t o = 0, p = 0;
    auto gap = [&](size_t g) {
      PutLe(key, g, 2);
      key.append(reinterpret_cast<const char*>(out + o), g);
    };
    const auto ls = static_cast<size_t>(t->lengthSize);
    while (p < inN) {
      if (inN - p < ls) {
        Fail(t);
        return;
      }
      const size_t len = GetBe(in + p, t->lengthSize);
      p += ls;
      if (len > inN - p || len > outN - o) {
        Fail(t);
        return;
      }
      const size_t most = std::min(kGapMax, outN - o - len);
      size_t g = 0;
      while (g <= most && std::memcmp(out + o + g, in + p, len) != 0) ++g;
      if (g > most) {
        Fail(t);
        return;
      }
      gap(g);
      o += g + len;
      p += len;
    }
    if (outN - o > kGapMax) {
      Fail(t);
      return;
    }
    gap(outN - o);
    auto [at, added] = t->ids.emplace(key, static_cast<uint32_t>(t->patterns.size()));
    if (added) {
      if (t->patterns.size() >= kMaxPatterns) {
        Fail(t);
        return;
      }
      t->patterns.push_back(key);
    }
    r.pattern = at->second;
  }
  if (outN == 0) return;
  if (t->count % block_ == 0) {
    t->blockEs.push_back(r.esOffset);
    t->blockSum.push_back(kSumStart);
  }
  std::string bytes;
  PutRecord(bytes, r);
  t->blockSum.back() = Sum(t->blockSum.back(), bytes.data(), bytes.size());
  t->records.push_back(r);
  ++t->count;
  t->es += outN;
  if (t->records.size() >= g_spillAt && !Spill(*t)) Fail(t);
}

void CDirectTableMaker::AtEnd(int stream, const std::vector<SBytes>& made) {
  const auto it = tables_.find(stream);
  if (it == tables_.end()) return;
  for (const SBytes& b : made)
    if (b.size > 0) Fail(it->second.get());
}

bool CDirectTableMaker::Spill(STable& t) {
  if (!t.spill.IsOpen()) {
    static std::atomic<int> counter{0};
    const std::string name = TempFolder() + "/.zelvane-zvd-" + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++);
    if (!t.spill.Open(name, File::kCreateNew)) return false;
    ::unlink(name.c_str());
  }
  std::string bytes;
  for (const SRecord& r : t.records) PutRecord(bytes, r);
  if (!t.spill.Write(bytes.data(), bytes.size())) return false;
  t.spilled += t.records.size();
  t.records.clear();
  return true;
}

std::vector<int> CDirectTableMaker::Direct() const {
  std::vector<int> out;
  for (const auto& [stream, t] : tables_)
    if (t->ok && t->count > 0) out.push_back(stream);
  return out;
}

// The table: "zvd1 " and the index's identity line; u32 records per block;
// a u32 count of tracks; per track its stream, length prefix size, length,
// record count, where its records begin, its patterns (u32 count, each u32
// size and bytes), the sum of all that, and the elementary offset and sum
// of each block of records; then the records.
bool CDirectTableMaker::Store(const std::string& path, const std::string& identity,
                              const std::map<int, int64_t>& lengths, std::string& error) const {
  std::vector<const STable*> keep;
  std::vector<int> streams;
  // Bytes compared after the file was cut short were zeros, not the file's.
  const bool shortened = shortened_ || view_.Shortened();
  for (const auto& [stream, t] : tables_) {
    const auto len = lengths.find(stream);
    if (shortened) break;
    if (!t->ok || t->count == 0 || len == lengths.end() || static_cast<int64_t>(t->es) != len->second) continue;
    keep.push_back(t.get());
    streams.push_back(stream);
  }
  if (keep.empty()) {
    ::unlink(path.c_str());
    return true;
  }
  std::string head = "zvd1 " + identity + "\n";
  PutLe(head, block_, 4);
  PutLe(head, keep.size(), 4);
  std::vector<size_t> fixups;  // where each track's record offset goes
  std::vector<size_t> entries, sums;  // each track's entry, and where its sum goes
  for (size_t i = 0; i < keep.size(); ++i) {
    const STable& t = *keep[i];
    entries.push_back(head.size());
    PutLe(head, static_cast<uint32_t>(streams[i]), 4);
    PutLe(head, static_cast<uint64_t>(t.lengthSize), 4);
    PutLe(head, t.es, 8);
    PutLe(head, t.count, 8);
    fixups.push_back(head.size());
    PutLe(head, 0, 8);
    PutLe(head, t.patterns.size(), 4);
    for (const std::string& p : t.patterns) {
      PutLe(head, p.size(), 4);
      head += p;
    }
    sums.push_back(head.size());
    PutLe(head, 0, 8);
    for (size_t b = 0; b < t.blockEs.size(); ++b) {
      PutLe(head, t.blockEs[b], 8);
      PutLe(head, t.blockSum[b], 8);
    }
  }
  uint64_t at = head.size();
  for (size_t i = 0; i < keep.size(); ++i) {
    for (int b = 0; b < 8; ++b) head[fixups[i] + static_cast<size_t>(b)] = static_cast<char>(at >> (8 * b));
    const uint64_t sum = Sum(kSumStart, head.data() + entries[i], sums[i] - entries[i]);
    for (int b = 0; b < 8; ++b) head[sums[i] + static_cast<size_t>(b)] = static_cast<char>(sum >> (8 * b));
    at += keep[i]->count * kRecordSize;
  }
  // Written beside and renamed over the table when whole.
  const std::string temp = CreateTempBeside(path, error);
  if (temp.empty()) return false;
  File out;
  bool ok = out.Open(temp, File::kOverwrite) && out.Write(head.data(), head.size());
  std::vector<uint8_t> chunk;
  for (size_t i = 0; ok && i < keep.size(); ++i) {
    const STable& t = *keep[i];
    const uint64_t spilled = t.spilled * kRecordSize;
    for (uint64_t done = 0; ok && done < spilled;) {
      chunk.resize(static_cast<size_t>(std::min<uint64_t>(spilled - done, uint64_t{1} << 20)));
      ok = t.spill.ReadExactAtShared(static_cast<int64_t>(done), chunk.data(), chunk.size()) == 0 &&
           out.Write(chunk.data(), chunk.size());
      if (!ok && out.Error().empty()) error = File::ErrorText("read", "a temporary file", EIO);
      done += chunk.size();
    }
    std::string rest;
    for (const SRecord& r : t.records) PutRecord(rest, r);
    ok = ok && out.Write(rest.data(), rest.size());
  }
  ok = ok && out.Close();
  if (!ok) {
    if (error.empty()) error = out.Error();
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    error = File::ErrorText("write", path, errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

namespace {

class CDirectTrackSource : public IByteSource {
 public:
  ~CDirectTrackSource() override {
    view_.Unmap();
    if (fd_ >= 0) ::close(fd_);
  }

  bool Open(const std::string& table, const std::string& identity, const std::string& container, int stream,
            int64_t length) {
    if (!table_.Open(table, File::kRead)) return false;
    tablePath_ = table;
    const int64_t size = table_.Length();
    std::vector<uint8_t> head(static_cast<size_t>(std::min<int64_t>(size, int64_t{1} << 16)));
    const std::string first = "zvd1 " + identity + "\n";
    if (head.size() < first.size() + 4 || !table_.ReadExactAt(0, head.data(), head.size()) ||
        std::memcmp(head.data(), first.data(), first.size()) != 0)
      return false;
    // The head holds the directory; read all of it when it is longer.
    size_t at = first.size();
    auto need = [&](size_t n) {
      if (at + n <= head.size()) return true;
      if (static_cast<int64_t>(at + n) > size) return false;
      const size_t had = head.size();
      head.resize(std::min<size_t>(static_cast<size_t>(size), std::max(at + n, had * 2)));
      return table_.ReadExactAt(static_cast<int64_t>(had), head.data() + had, head.size() - had);
    };
    auto get = [&](int n) {
      const uint64_t v = GetLe(head.data() + at, n);
      at += static_cast<size_t>(n);
      return v;
    };
    if (!need(8)) return false;
    perBlock_ = get(4);
    if (perBlock_ == 0) return false;
    for (uint64_t tracks = get(4); tracks > 0; --tracks) {
      if (!need(36)) return false;
      const size_t entry = at;
      const auto s = static_cast<int32_t>(get(4));
      const auto lengthSize = static_cast<int>(get(4));
      const uint64_t es = get(8), count = get(8), recordsAt = get(8);
      const uint64_t patterns = get(4);
      const bool mine = s == stream;
      if (mine) {
        // Counts checked before they are multiplied or allocated.
        if (static_cast<int64_t>(es) != length || count == 0 || lengthSize > 4 ||
            count > static_cast<uint64_t>(size) / kRecordSize || recordsAt > static_cast<uint64_t>(size) ||
            recordsAt + count * kRecordSize > static_cast<uint64_t>(size))
          return false;
        lengthSize_ = lengthSize;
        count_ = count;
        recordsAt_ = recordsAt;
      }
      for (uint64_t i = 0; i < patterns; ++i) {
        if (!need(4)) return false;
        const uint64_t n = get(4);
        if (n > kGapMax * 64 || !need(n)) return false;
        if (mine) patterns_.emplace_back(reinterpret_cast<const char*>(head.data() + at), n);
        at += n;
      }
      if (!need(8)) return false;
      const uint64_t entrySum = Sum(kSumStart, head.data() + entry, at - entry);
      if (get(8) != entrySum && mine) return false;
      const uint64_t blocks = (count + perBlock_ - 1) / perBlock_;
      if (blocks > (uint64_t{1} << 32) || !need(blocks * 16)) return false;
      for (uint64_t b = 0; b < blocks; ++b) {
        const uint64_t es = get(8), sum = get(8);
        if (mine) {
          blockEs_.push_back(es);
          blockSum_.push_back(sum);
        }
      }
      if (mine) break;
    }
    if (count_ == 0 || blockEs_.empty() || blockEs_[0] != 0) return false;
    length_ = length;
    int64_t fileSize = 0;
    fd_ = OpenForMapping(container, fileSize);
    fileSize_ = fileSize;
    container_ = container;
    return fd_ >= 0;
  }

  int64_t Length() const override { return length_; }

  int ReadAt(int64_t pos, void* buf, size_t n, std::string& why) override {
    if (pos < 0 || pos > length_ || static_cast<int64_t>(n) > length_ - pos) return -1;
    std::lock_guard<std::mutex> lock(mutex_);
    auto* dst = static_cast<uint8_t*>(buf);
    while (n > 0) {
      const SRecord* r = Find(pos);
      if (!r) return Broken(why);
      const uint64_t outEnd = r == &block_.back() ? NextEs() : (r + 1)->esOffset;
      const uint8_t* in = Map(r->fileOffset, r->inSize);
      if (!in) {
        why = File::ErrorText("read", container_, errno ? errno : EIO);
        return EIO;
      }
      const auto skip = static_cast<uint64_t>(pos) - r->esOffset;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(n, outEnd - static_cast<uint64_t>(pos)));
      if (!Make(*r, in, static_cast<size_t>(skip), take, dst)) return Broken(why);
      pos += static_cast<int64_t>(take);
      dst += take;
      n -= take;
    }
    if (shortened_ || view_.Shortened()) {
      why = "\"" + container_ + "\" was shortened while it was read";
      return EIO;
    }
    return 0;
  }

 private:
  int Broken(std::string& why) const {
    why = "\"" + tablePath_ + "\" does not fit \"" + container_ + "\"; delete it and build again";
    return EIO;
  }

  // The elementary offset after the current block's last record.
  uint64_t NextEs() const {
    const auto b = static_cast<size_t>(blockNo_) + 1;
    return b < blockEs_.size() ? blockEs_[b] : static_cast<uint64_t>(length_);
  }

  // The record whose bytes hold elementary offset `pos`.
  const SRecord* Find(int64_t pos) {
    const auto p = static_cast<uint64_t>(pos);
    const auto b = static_cast<int64_t>(std::upper_bound(blockEs_.begin(), blockEs_.end(), p) - blockEs_.begin()) - 1;
    if (b < 0) return nullptr;
    if (b != blockNo_ && !LoadBlock(b)) return nullptr;
    auto it = std::upper_bound(block_.begin(), block_.end(), p,
                               [](uint64_t v, const SRecord& r) { return v < r.esOffset; });
    if (it == block_.begin()) return nullptr;
    return &*(it - 1);
  }

  bool LoadBlock(int64_t b) {
    blockNo_ = -1;
    const uint64_t first = static_cast<uint64_t>(b) * perBlock_;
    const uint64_t n = std::min(perBlock_, count_ - first);
    std::vector<uint8_t> raw(n * kRecordSize);
    if (!table_.ReadExactAt(static_cast<int64_t>(recordsAt_ + first * kRecordSize), raw.data(), raw.size()) ||
        Sum(kSumStart, raw.data(), raw.size()) != blockSum_[static_cast<size_t>(b)])
      return false;
    block_.resize(n);
    uint64_t last = 0;
    for (uint64_t i = 0; i < n; ++i) {
      const uint8_t* p = raw.data() + i * kRecordSize;
      SRecord& r = block_[i];
      r.fileOffset = GetLe(p, 8);
      r.esOffset = GetLe(p + 8, 8);
      r.inSize = static_cast<uint32_t>(GetLe(p + 16, 4));
      r.pattern = static_cast<uint32_t>(GetLe(p + 20, 4));
      // Offsets that do not rise, or a record past the track, are damage.
      if ((i > 0 && r.esOffset <= last) || r.esOffset >= static_cast<uint64_t>(length_) ||
          (lengthSize_ > 0 && r.pattern >= patterns_.size()))
        return false;
      last = r.esOffset;
    }
    if (block_[0].esOffset != blockEs_[static_cast<size_t>(b)]) return false;
    blockNo_ = b;
    return true;
  }

  // The container's bytes [offset, offset + n), from the mapped window.
  const uint8_t* Map(uint64_t offset, uint32_t n) {
    if (offset > static_cast<uint64_t>(fileSize_) || n > static_cast<uint64_t>(fileSize_) - offset) {
      errno = EIO;
      return nullptr;
    }
    const auto off = static_cast<int64_t>(offset);
    if (view_.Mapped() && off >= view_.Position() &&
        off + n <= view_.Position() + static_cast<int64_t>(view_.Size()))
      return view_.Data() + (off - view_.Position());
    shortened_ = shortened_ || view_.Shortened();
    view_.Unmap();
    const auto size = static_cast<size_t>(
        std::max<int64_t>(n, std::min<int64_t>(static_cast<int64_t>(kMapWindow), fileSize_ - off)));
    errno = 0;
    if (!view_.Map(fd_, off, size)) return nullptr;
    return view_.Data();
  }

  // Writes the bytes [skip, skip + take) of what `r` makes to `dst`.
  bool Make(const SRecord& r, const uint8_t* in, size_t skip, size_t take, uint8_t* dst) const {
    if (lengthSize_ == 0) {
      if (skip + take > r.inSize) return false;
      std::memcpy(dst, in + skip, take);
      return true;
    }
    const std::string& pattern = patterns_[r.pattern];
    const auto* gaps = reinterpret_cast<const uint8_t*>(pattern.data());
    size_t g = 0;  // in the pattern
    size_t q = 0;  // made so far
    const size_t end = skip + take;
    auto put = [&](const uint8_t* s, size_t k) {
      if (q + k > skip && q < end) {
        const size_t a = std::max(q, skip), b = std::min(q + k, end);
        std::memcpy(dst + (a - skip), s + (a - q), b - a);
      }
      q += k;
    };
    auto putGap = [&]() {
      if (pattern.size() - g < 2) return false;
      const auto k = static_cast<size_t>(GetLe(gaps + g, 2));
      if (pattern.size() - g - 2 < k) return false;
      put(gaps + g + 2, k);
      g += 2 + k;
      return true;
    };
    const auto ls = static_cast<size_t>(lengthSize_);
    for (size_t p = 0; p < r.inSize && q < end;) {
      if (r.inSize - p < ls) return false;
      const size_t len = GetBe(in + p, lengthSize_);
      p += ls;
      if (len > r.inSize - p || !putGap()) return false;
      put(in + p, len);
      p += len;
    }
    if (q < end && !putGap()) return false;
    return q >= end;
  }

  std::mutex mutex_;
  File table_;
  std::string tablePath_;
  std::string container_;
  int64_t length_ = 0;
  int lengthSize_ = 0;
  uint64_t count_ = 0;
  uint64_t recordsAt_ = 0;
  uint64_t perBlock_ = 0;  // records per block
  std::vector<std::string> patterns_;
  std::vector<uint64_t> blockEs_;
  std::vector<uint64_t> blockSum_;
  std::vector<SRecord> block_;
  int64_t blockNo_ = -1;
  int fd_ = -1;
  int64_t fileSize_ = 0;
  CFileView view_;
  bool shortened_ = false;
};

}  // namespace

std::unique_ptr<IByteSource> OpenDirectTrack(const std::string& table, const std::string& identity,
                                             const std::string& container, int stream, int64_t length) {
  if (!g_direct) return nullptr;
  auto src = std::make_unique<CDirectTrackSource>();
  if (!src->Open(table, identity, container, stream, length)) return nullptr;
  return src;
}

void SetDirectContainerReading(bool on) { g_direct = on; }
void SetDirectTableSizes(size_t spill, uint32_t block) {
  g_spillAt = std::max<size_t>(spill, 1);
  g_block = std::max<uint32_t>(block, 1);
}
bool DirectContainerReading() { return g_direct; }

}  // namespace zv

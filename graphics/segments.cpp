#include "graphics/segments.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "graphics/segment_syntax.h"
#include "platform/bytes.h"
#include "platform/file.h"

namespace zv {

const char* FrameRateName(unsigned code) {
  static const char* const names[8] = {"Reserved", "23.976", "24", "25", "29.97", "Reserved", "50", "59.94"};
  return code < 8 ? names[code] : nullptr;
}

const char* CompositionStateName(unsigned code) {
  static const char* const names[4] = {"Normal Case", "Acquisition Point", "Epoch Start", "Epoch Continue"};
  return code < 4 ? names[code] : nullptr;
}

std::string VideoDescriptorText(const SVideoDescriptor& v) {
  char b[64];
  if (const char* n = FrameRateName(v.frameRateCode)) std::snprintf(b, sizeof b, "%dx%d %s", v.width, v.height, n);
  else std::snprintf(b, sizeof b, "%dx%d", v.width, v.height);
  return b;
}

std::string TicksText(uint32_t ticks) {
  uint64_t ms = ticks / 90;
  char b[32];
  std::snprintf(b, sizeof b, "%02llu:%02llu:%02llu:%03llu", static_cast<unsigned long long>(ms / 3600000),
                static_cast<unsigned long long>(ms / 60000 % 60), static_cast<unsigned long long>(ms / 1000 % 60),
                static_cast<unsigned long long>(ms % 1000));
  return b;
}

// ---------------------------------------------------------------- segments

namespace {

// The whole segment (header and body) through its syntax description.
template <class Seg>
std::vector<uint8_t> EncodeSegment(const Seg& s) {
  rec::Writer w;
  Syntax(w, const_cast<Seg&>(s));
  return w.Take();
}

template <class Seg>
size_t ParseSegment(Seg& s, uint8_t type, const uint8_t* body, size_t n) {
  if (n > 0xFFFF) throw FormatError("a segment body holds at most 65535 bytes");
  std::vector<uint8_t> bytes(3 + n);
  bytes[0] = type;
  bytes[1] = static_cast<uint8_t>(n >> 8);
  bytes[2] = static_cast<uint8_t>(n);
  if (n) std::memcpy(bytes.data() + 3, body, n);
  rec::Reader r(bytes);
  Syntax(r, s);
  return r.Pos() - 3;
}

template <class Seg>
void DumpSegment(const Seg& s, SDumpNode& root) {
  std::vector<uint8_t> bytes = EncodeSegment(s);
  Seg copy;
  copy.m_nPts = s.m_nPts;
  copy.m_nDts = s.m_nDts;
  rec::Dumper d(bytes, root);
  Syntax(d, copy);
}

const char* SegmentLabel(uint8_t type) {
  switch (type) {
    case kSegPds: return "Pds";
    case kSegOds: return "Ods";
    case kSegPcs: return "Pcs";
    case kSegWds: return "Wds";
    case kSegIcs: return "Ics";
    case kSegEnd: return "EndSegment";
  }
  return "Segment";
}

}  // namespace

const char* SegmentName(uint8_t type) { return SegmentLabel(type); }

size_t CSegmentBase::Write(uint8_t* buf) {
  std::vector<uint8_t> bytes;
  try {
    bytes = Bytes();
  } catch (const std::out_of_range&) {
    return 0;  // a body beyond 65535 bytes or a field out of range
  }
  if (bytes.empty()) return 0;
  if (buf) {
    std::memcpy(buf, bytes.data(), bytes.size());
    m_nLength = static_cast<uint16_t>(bytes.size() - 3);
  }
  return bytes.size();
}

void CSegmentBase::Dump(std::string& out, const std::string& prefix) const {
  SDumpNode root;
  DumpNode(root);
  out += root.Render(prefix);
}

void CSegmentBase::CopyFrom(const CSegmentBase& src) {
  m_nType = src.m_nType;
  m_nLength = src.m_nLength;
  m_nDts = src.m_nDts;
  m_nPts = src.m_nPts;
}

#define ZV_SEGMENT_SYNTAX(Cls)                                                                            \
  std::vector<uint8_t> Cls::Bytes() const { return EncodeSegment(*this); }                                \
  size_t Cls::Parse(const uint8_t* body, size_t n) { return ParseSegment(*this, m_nType, body, n); }      \
  void Cls::DumpNode(SDumpNode& root) const { DumpSegment(*this, root); }

ZV_SEGMENT_SYNTAX(CPds)
ZV_SEGMENT_SYNTAX(COds)
ZV_SEGMENT_SYNTAX(CPcs)
ZV_SEGMENT_SYNTAX(CIcs)
ZV_SEGMENT_SYNTAX(CEs)

std::vector<uint8_t> CWds::Bytes() const {
  if (m_windows.size() > 2) return {};  // more than two windows: not written
  return EncodeSegment(*this);
}
size_t CWds::Parse(const uint8_t* body, size_t n) { return ParseSegment(*this, m_nType, body, n); }
void CWds::DumpNode(SDumpNode& root) const { DumpSegment(*this, root); }

// ---------------------------------------------------------------- display set

void CDsData::Clear() {
  m_pcs.reset();
  m_wds.reset();
  m_end.reset();
  m_ics.clear();
  m_pds.clear();
  m_ods.clear();
  m_nCompositionState = 2;
}

const CPds* CDsData::FindPds(uint8_t paletteId) const {
  for (const auto& p : m_pds)
    if (p->m_nPaletteId == paletteId) return p.get();
  return nullptr;
}

std::vector<uint8_t> CDsData::Composition() const {
  std::vector<uint8_t> out;
  for (const auto& i : m_ics) out.insert(out.end(), i->m_sequence.fragment.begin(), i->m_sequence.fragment.end());
  return out;
}

void CDsData::DumpNode(SDumpNode& root) const {
  auto one = [&](const CSegmentBase& s) { s.DumpNode(root.Block(SegmentLabel(s.m_nType))); };
  for (const CSegmentBase* s : Segments()) one(*s);
  if (!m_ics.empty()) {
    std::vector<uint8_t> ic = Composition();
    SDumpNode& b = root.Block("InteractiveComposition");
    try {
      DumpComposition(ic.data(), ic.size(), b);
    } catch (const FormatError& e) {
      b.Text("Error", e.what());
    }
  }
}

std::vector<const CSegmentBase*> CDsData::Segments() const {
  std::vector<const CSegmentBase*> v;
  if (m_pcs) v.push_back(m_pcs.get());
  for (const auto& i : m_ics) v.push_back(i.get());
  if (m_wds) v.push_back(m_wds.get());
  for (const auto& p : m_pds) v.push_back(p.get());
  for (const auto& o : m_ods) v.push_back(o.get());
  if (m_end) v.push_back(m_end.get());
  return v;
}

// ---------------------------------------------------------------- composition

std::vector<uint8_t> WriteComposition(SInteractiveComposition& ic) {
  ic.length = 0;
  rec::Writer w;
  Syntax(w, ic);
  std::vector<uint8_t> bytes = w.Take();
  size_t len = bytes.size() - 3;
  if (len > 0xFFFFFF) throw std::out_of_range("InteractiveComposition: longer than 16777215 bytes");
  ic.length = static_cast<uint32_t>(len);
  bytes[0] = static_cast<uint8_t>(len >> 16);
  bytes[1] = static_cast<uint8_t>(len >> 8);
  bytes[2] = static_cast<uint8_t>(len);
  return bytes;
}

SInteractiveComposition ParseComposition(const uint8_t* p, size_t n) {
  SInteractiveComposition ic;
  rec::Reader r(p, n);
  Syntax(r, ic);
  return ic;
}

void DumpComposition(const uint8_t* p, size_t n, SDumpNode& root) {
  SInteractiveComposition ic;
  rec::Dumper d(p, n, root);
  Syntax(d, ic);
}

void FragmentComposition(const std::vector<uint8_t>& bytes, const CIcs& model,
                         std::vector<std::unique_ptr<CIcs>>& out, size_t maxFragment) {
  // The segment body holds 9 fixed bytes before the fragment.
  const size_t kMax = std::clamp<size_t>(maxFragment, 1, 0xFFFF - 9);
  size_t count = std::max<size_t>(1, (bytes.size() + kMax - 1) / kMax);
  for (size_t i = 0; i < count; ++i) {
    auto s = std::make_unique<CIcs>();
    s->CopyFrom(model);
    s->m_composition = model.m_composition;
    s->m_sequence.first = i == 0;
    s->m_sequence.last = i + 1 == count;
    size_t at = i * kMax;
    size_t take = std::min(kMax, bytes.size() - at);
    s->m_sequence.fragment.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
    out.push_back(std::move(s));
  }
}

// ---------------------------------------------------------------- stream files

bool IsStreamFileMagic(const uint8_t* p) {
  char a = static_cast<char>(p[0] | 0x20), b = static_cast<char>(p[1] | 0x20);
  return (a == 'p' || a == 'i') && b == 'g';
}

bool IsHeadedFraming(const uint8_t* p, size_t n) { return n >= 2 && IsStreamFileMagic(p); }

namespace {

void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

bool IsSegmentType(uint8_t t) { return (t >= kSegPds && t <= kSegIcs) || t == kSegEnd; }

std::string At(int64_t pos) { return "at byte " + std::to_string(pos) + ": "; }

// Reads up to n bytes; the count read, or -1 on a read error.
int64_t ReadSome(CSegmentInput& in, void* dst, size_t n, std::string& error) {
  int64_t got = in.Read(dst, n);
  if (got < 0) error = in.Error();
  return got;
}

}  // namespace

int64_t CMemoryInput::Read(void* dst, size_t n) {
  size_t take = std::min(n, n_ - pos_);
  if (take) std::memcpy(dst, p_ + pos_, take);
  pos_ += take;
  return static_cast<int64_t>(take);
}

int64_t CFileInput::Read(void* dst, size_t n) { return f_.Read(dst, n); }
int64_t CFileInput::Tell() const { return f_.Tell(); }
bool CFileInput::Seek(int64_t pos) { return f_.Seek(pos); }
const std::string& CFileInput::Error() const { return f_.Error(); }

bool ReadSegment(CSegmentInput& in, CDsData& ds, std::string& error, uint32_t pts, uint32_t dts) {
  int64_t pos = in.Tell();
  uint8_t hdr[3];
  int64_t got = ReadSome(in, hdr, 3, error);
  if (got < 0) return false;
  if (got < 3) {
    error = At(pos) + "the segment header is cut off";
    return false;
  }
  uint8_t type = hdr[0];
  size_t len = static_cast<size_t>(hdr[1] << 8 | hdr[2]);
  std::unique_ptr<CSegmentBase> seg;
  switch (type) {
    case kSegPds: seg = std::make_unique<CPds>(); break;
    case kSegOds: seg = std::make_unique<COds>(); break;
    case kSegIcs: seg = std::make_unique<CIcs>(); break;
    case kSegPcs:
    case kSegWds:
    case kSegEnd: {
      bool twice = (type == kSegPcs && ds.m_pcs) || (type == kSegWds && ds.m_wds) || (type == kSegEnd && ds.m_end);
      if (twice) {
        error = At(pos) + "a second " + SegmentLabel(type) + " segment in one display set";
        return false;
      }
      if (type == kSegPcs) seg = std::make_unique<CPcs>();
      else if (type == kSegWds) seg = std::make_unique<CWds>();
      else seg = std::make_unique<CEs>();
      break;
    }
    default:
      error = At(pos) + "unknown segment type " + HexText(type, 2);
      return false;
  }
  std::vector<uint8_t> body(len);
  if (len) {
    got = ReadSome(in, body.data(), len, error);
    if (got < 0) return false;
    if (static_cast<size_t>(got) < len) {
      error = At(pos) + SegmentLabel(type) + " segment is cut off: its length says " + std::to_string(len) +
              " bytes, " + std::to_string(got) + " remain";
      return false;
    }
  }
  seg->FilePosition = pos;
  seg->m_nPts = pts;
  seg->m_nDts = dts;
  try {
    seg->Parse(body.data(), body.size());
  } catch (const FormatError& e) {
    error = At(pos) + SegmentLabel(type) + ": " + e.what();
    return false;
  }
  seg->m_nLength = static_cast<uint16_t>(len);
  CSegmentBase* raw = seg.release();
  switch (type) {
    case kSegPds: ds.m_pds.emplace_back(static_cast<CPds*>(raw)); break;
    case kSegOds: ds.m_ods.emplace_back(static_cast<COds*>(raw)); break;
    case kSegIcs: ds.m_ics.emplace_back(static_cast<CIcs*>(raw)); break;
    case kSegPcs: ds.m_pcs.reset(static_cast<CPcs*>(raw)); break;
    case kSegWds: ds.m_wds.reset(static_cast<CWds*>(raw)); break;
    default: ds.m_end.reset(static_cast<CEs*>(raw)); break;
  }
  return true;
}

int ReadDisplaySet(CSegmentInput& in, CDsData& ds, bool headed, std::string& error) {
  ds.Clear();
  bool first = true;
  for (;;) {
    int64_t pos = in.Tell();
    uint32_t pts = 0, dts = 0;
    uint8_t b[kStreamFileHeaderSize];
    size_t need = headed ? kStreamFileHeaderSize : 1;
    int64_t got = ReadSome(in, b, need, error);
    if (got < 0) return kDsBad;
    if (got == 0) {
      if (first) return kDsEndOfFile;
      error = At(pos) + "the display set ends without an END segment";
      return kDsBad;
    }
    if (static_cast<size_t>(got) < need) {
      error = At(pos) + "the stream file header is cut off";
      return kDsBad;
    }
    if (headed) {
      if (!IsStreamFileMagic(b)) {
        error = At(pos) + "no \"PG\" or \"IG\" stream file header";
        return kDsBad;
      }
      pts = static_cast<uint32_t>(b[2]) << 24 | b[3] << 16 | b[4] << 8 | b[5];
      dts = static_cast<uint32_t>(b[6]) << 24 | b[7] << 16 | b[8] << 8 | b[9];
      pos += kStreamFileHeaderSize;
    } else {
      if (!IsSegmentType(b[0])) {
        error = At(pos) + "unknown segment type " + HexText(b[0], 2);
        return kDsBad;
      }
      if (!in.Seek(pos)) {
        error = in.Error();
        return kDsBad;
      }
    }
    first = false;
    if (!ReadSegment(in, ds, error, pts, dts)) return kDsBad;
    if (ds.m_end) break;
  }
  if (ds.m_pcs) ds.m_nCompositionState = ds.m_pcs->m_composition.state;
  else if (!ds.m_ics.empty()) ds.m_nCompositionState = ds.m_ics.front()->m_composition.state;
  return kDsOk;
}

void SegmentIndexRecord(const CSegmentBase& seg, size_t total, uint8_t out[14]) {
  uint32_t t = static_cast<uint32_t>(total);
  uint32_t dts = ((seg.m_nDts ? seg.m_nDts : seg.m_nPts) + 54000000u) >> 1;
  uint32_t pts = (seg.m_nPts + 54000000u) >> 2;
  out[0] = seg.m_nType;
  PutBE32(out + 1, t);
  PutBE32(out + 5, dts);
  PutBE32(out + 9, pts);
  out[13] = 0;
}

bool WriteSegment(File& f, CSegmentBase& seg, const char* magic, File* index, std::string& error) {
  if (magic) {
    uint8_t h[kStreamFileHeaderSize] = {static_cast<uint8_t>(magic[0]), static_cast<uint8_t>(magic[1])};
    PutBE32(h + 2, seg.m_nPts);
    PutBE32(h + 6, seg.m_nDts);
    if (!f.Write(h, sizeof h)) {
      error = f.Error();
      return false;
    }
  }
  seg.FilePosition = f.Tell();
  std::vector<uint8_t> buf(0xFFFF + 3);
  size_t n = seg.Write(buf.data());
  if (n == 0) {
    error = std::string(SegmentLabel(seg.m_nType)) + " segment cannot be written";
    return false;
  }
  if (!f.Write(buf.data(), n)) {
    error = f.Error();
    return false;
  }
  if (index) {
    uint8_t rec[14];
    SegmentIndexRecord(seg, n, rec);
    if (!index->Write(rec, sizeof rec)) {
      error = index->Error();
      return false;
    }
  }
  return true;
}

bool WriteDisplaySet(File& f, CDsData& ds, bool headed, File* index, std::string& error) {
  const char* magic = headed ? (ds.m_pcs ? "PG" : "IG") : nullptr;
  for (const CSegmentBase* s : ds.Segments())
    if (!WriteSegment(f, const_cast<CSegmentBase&>(*s), magic, index, error)) return false;
  return true;
}

}  // namespace zv

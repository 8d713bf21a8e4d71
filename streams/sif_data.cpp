#include "streams/sif_data.h"

#include "platform/byte_source.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "streams/ac3_parser.h"
#include "streams/h264_parser.h"
#include "streams/gs_parser.h"
#include "streams/mpeg2_parser.h"
#include "streams/other_sif.h"
#include "streams/vc1_parser.h"

namespace zv {

namespace {
void PutU64(ArchiveOut& out, uint64_t v) {
  out.U32(static_cast<uint32_t>(v));
  out.U32(static_cast<uint32_t>(v >> 32));
}
uint64_t GetU64(ArchiveIn& in) {
  uint64_t lo = in.U32();
  uint64_t hi = in.U32();
  return lo | (hi << 32);
}
}  // namespace

void SSifHeader::Save(ArchiveOut& out) const {
  out.Raw(magic, 4);
  out.U32(reserved1);
  out.U8(streamCodingType);
  out.U32(auCount);
  uint64_t bits;
  std::memcpy(&bits, &auDuration, 8);
  PutU64(out, bits);
  out.U32(bitRate);
  out.U32(secondRate);
  out.U32(reserved2);
  out.U32(firstFrameOffset);
  out.U32(auTablePos);
  PutU64(out, payloadSize);
  PutU64(out, static_cast<uint64_t>(sourceTime));
}

void SSifHeader::Load(ArchiveIn& in) {
  in.Raw(magic, 4);
  reserved1 = in.U32();
  streamCodingType = in.U8();
  auCount = in.U32();
  uint64_t bits = GetU64(in);
  std::memcpy(&auDuration, &bits, 8);
  bitRate = in.U32();
  secondRate = in.U32();
  reserved2 = in.U32();
  firstFrameOffset = in.U32();
  auTablePos = in.U32();
  payloadSize = GetU64(in);
  sourceTime = static_cast<int64_t>(GetU64(in));
}

uint32_t SifCrc32(const uint8_t* data, size_t n, uint32_t crc) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

namespace {
constexpr char kSifCheckMagic[4] = {'Z', 'V', 'C', 'I'};
constexpr char kSifLegacyCheckMagic[4] = {'Z', 'V', 'C', 'K'};
constexpr char kSifIdentityMagic[4] = {'Z', 'V', 'I', 'D'};

// CRC of the first `length` bytes, read in blocks.
bool CrcOfFile(File& file, int64_t length, uint32_t& crc) {
  crc = 0;
  std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(length, 1 << 20)));
  for (int64_t pos = 0; pos < length;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(length - pos, static_cast<int64_t>(buf.size())));
    if (!file.ReadExactAt(pos, buf.data(), n)) return false;
    crc = SifCrc32(buf.data(), n, crc);
    pos += static_cast<int64_t>(n);
  }
  return true;
}
}  // namespace

bool SStreamIdentity::Of(const std::string& path, SStreamIdentity& out) {
  struct stat st;
  // A container's track is the container's file; its path tells it apart.
  const std::string file = IsTrackPath(path) ? path.substr(0, path.rfind('#')) : path;
  if (::stat(file.c_str(), &st) != 0) return false;
  out.size = static_cast<uint64_t>(st.st_size);
  out.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  out.device = static_cast<uint64_t>(st.st_dev);
  out.inode = static_cast<uint64_t>(st.st_ino);
  out.pathHash = RealPathHash(path);
  out.present = true;
  return true;
}

bool SStreamIdentity::Matches(const SStreamIdentity& now, bool beside) const {
  if (!present) return beside;  // an earlier version's file: time and tables are all it can be checked by
  if (size != now.size || mtimeNs != now.mtimeNs) return false;
  return beside || (device == now.device && inode == now.inode && pathHash == now.pathHash);
}

bool AppendSifTrailer(File& file, const SStreamIdentity& identity) {
  int64_t length = file.Length();
  if (length < 0) return false;
  ArchiveOut id;
  for (char c : kSifIdentityMagic) id.U8(static_cast<uint8_t>(c));
  PutU64(id, identity.size);
  PutU64(id, static_cast<uint64_t>(identity.mtimeNs));
  PutU64(id, identity.device);
  PutU64(id, identity.inode);
  PutU64(id, identity.pathHash);
  if (!file.Seek(length) || !file.Write(id.Bytes().data(), id.Bytes().size())) return false;
  length += static_cast<int64_t>(id.Bytes().size());
  uint32_t crc = 0;
  if (!CrcOfFile(file, length, crc)) return false;
  ArchiveOut out;
  for (char c : kSifCheckMagic) out.U8(static_cast<uint8_t>(c));
  out.U32(crc);
  PutU64(out, static_cast<uint64_t>(length));
  return file.Seek(length) && file.Write(out.Bytes().data(), out.Bytes().size());
}

bool CheckSifTrailer(File& file, int64_t& contentLength, SStreamIdentity* identity) {
  const int64_t length = file.Length();
  constexpr int64_t kCheck = static_cast<int64_t>(SSifTrailer::kCheckSize);
  if (length < static_cast<int64_t>(SSifHeader::kSize) + kCheck) return false;
  uint8_t t[SSifTrailer::kCheckSize];
  if (!file.ReadExactAt(length - kCheck, t, sizeof t)) return false;
  const bool legacy = std::memcmp(t, kSifLegacyCheckMagic, 4) == 0;
  if (!legacy && std::memcmp(t, kSifCheckMagic, 4) != 0) return false;
  uint32_t stored = 0;
  uint64_t covered = 0;
  for (int i = 0; i < 4; ++i) stored |= static_cast<uint32_t>(t[4 + i]) << (8 * i);
  for (int i = 0; i < 8; ++i) covered |= static_cast<uint64_t>(t[8 + i]) << (8 * i);
  int64_t content = length - kCheck;
  if (covered != static_cast<uint64_t>(content)) return false;
  uint32_t crc = 0;
  if (!CrcOfFile(file, content, crc) || crc != stored) return false;
  SStreamIdentity id;
  if (!legacy) {
    constexpr int64_t kId = static_cast<int64_t>(SSifTrailer::kIdentitySize);
    if (content < static_cast<int64_t>(SSifHeader::kSize) + kId) return false;
    uint8_t b[SSifTrailer::kIdentitySize];
    if (!file.ReadExactAt(content - kId, b, sizeof b)) return false;
    if (std::memcmp(b, kSifIdentityMagic, 4) != 0) return false;
    auto u64 = [&](size_t at) {
      uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v |= static_cast<uint64_t>(b[at + static_cast<size_t>(i)]) << (8 * i);
      return v;
    };
    id.size = u64(4);
    id.mtimeNs = static_cast<int64_t>(u64(12));
    id.device = u64(20);
    id.inode = u64(28);
    id.pathHash = u64(36);
    id.present = true;
    content -= kId;
  }
  if (identity) *identity = id;
  contentLength = content;
  return true;
}

bool SSifHeader::IsComplete() const { return std::memcmp(magic, "RSIF", 4) == 0 && auCount != 0 && payloadSize != 0; }

void AUI::Save(ArchiveOut& out) const {
  out.U32(size);
  PutU64(out, offset);
  out.U32(flags);
  out.U32(dts);
  out.U32(pts);
  out.U32(pictureTiming);
}

void AUI::Load(ArchiveIn& in) {
  size = in.U32();
  offset = GetU64(in);
  flags = in.U32();
  dts = in.U32();
  pts = in.U32();
  pictureTiming = in.U32();
}

void GOP_INF::Save(ArchiveOut& out) const {
  out.U8(frames);
  out.U32(iIndex);
  PutU64(out, iOffset);
  out.U32(iSize);
  out.U32(minPts);
  out.U32(maxPts);
}

void GOP_INF::Load(ArchiveIn& in) {
  frames = in.U8();
  iIndex = in.U32();
  iOffset = GetU64(in);
  iSize = in.U32();
  minPts = in.U32();
  maxPts = in.U32();
}

bool CSifData::Load(ArchiveIn& in) {
  version = in.U32();
  return true;
}

void CSifData::Save(ArchiveOut& out) const { out.U32(version); }

uint8_t DeriveVideoFormat(uint32_t height, bool progressive, uint8_t current) {
  switch (height) {
    case 480: return progressive ? kVf480p : kVf480i;
    case 576: return progressive ? kVf576p : kVf576i;
    case 720: return kVf720p;
    case 1080:
    case 1088: return progressive ? kVf1080p : kVf1080i;
    default: return current;
  }
}

bool FrameRateAllowed(uint8_t vf, uint8_t fr) {
  switch (vf) {
    case kVf480i: return fr == kFr2997;
    case kVf576i:
    case kVf576p: return fr == kFr25;
    case kVf480p: return fr == kFr23976 || fr == kFr24 || fr == kFr2997;
    case kVf1080i: return fr == kFr25 || fr == kFr2997;
    case kVf720p: return fr == kFr23976 || fr == kFr24 || fr == kFr50 || fr == kFr5994;
    case kVf1080p: return fr == kFr23976 || fr == kFr24;
    default: return false;
  }
}

std::string DisallowedVideoWarning(const std::string& file, uint8_t vf, uint8_t fr) {
  static const char* const kFormats[8] = {nullptr, "480i", "576i", "480p", "1080i", "720p", "1080p", "576p"};
  static const char* const kRates[8] = {nullptr, "23.976", "24", "25", "29.97", nullptr, "50", "59.94"};
  if (vf >= 8 || fr >= 8 || !kFormats[vf] || !kRates[fr] || FrameRateAllowed(vf, fr)) return {};
  return "\"" + file + "\": " + kFormats[vf] + " at " + kRates[fr] +
         " fps is not a Blu-ray video format; Blu-ray players may refuse it";
}

namespace {
std::string RateText(double fps) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", fps);
  std::string s = text;
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s;
}

// "a, b or c"
std::string JoinOr(const std::vector<std::string>& v, const char* last = " or ") {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) {
    if (i > 0) out += i + 1 == v.size() ? last : ", ";
    out += v[i];
  }
  return out;
}
}  // namespace

std::string DiscVideoFormatRefusal(uint32_t width, uint32_t height, bool progressive, double fps) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  std::string what = size;
  if (!progressive) what += " interlaced";
  if (fps > 0) what += " at " + RateText(fps) + " fps";
  const bool sizeTaken = ((width == 1920 || width == 1440) && height == 1080) || (width == 1280 && height == 720) ||
                         (width == 720 && (height == 576 || height == 480));
  if (!sizeTaken)
    return what + " is not a disc format; a disc allows 1920x1080, 1440x1080, 1280x720, 720x576 and 720x480 "
                  "(re-encode the video to one of them)";
  static const uint8_t kCodes[] = {kFr23976, kFr24, kFr25, kFr2997, kFr50, kFr5994};
  static const char* const kNames[] = {"23.976", "24", "25", "29.97", "50", "59.94"};
  std::vector<std::string> scans;
  for (bool p : {true, false}) {
    const uint8_t vf = DeriveVideoFormat(height, p, 0);
    if (!p && vf == DeriveVideoFormat(height, true, 0)) continue;  // 720 lines are progressive only
    std::vector<std::string> rates;
    for (size_t i = 0; i < sizeof kCodes; ++i)
      if (FrameRateAllowed(vf, kCodes[i])) rates.push_back(kNames[i]);
    if (!rates.empty()) scans.push_back(std::string(p ? "progressive " : "interlaced ") + JoinOr(rates) + " fps");
  }
  return what + " is not a disc format; at " + size + " a disc allows " + JoinOr(scans, ", or ") +
         " (re-encode the video to one of them)";
}

uint8_t DisplayAspectFromSar(unsigned idx, uint32_t w, uint32_t h) {
  switch (idx) {
    case 1:
      if (h == 480) return kAspect4x3;
      if (h == 720 || h == 1080 || h == 1088) return kAspect16x9;
      return 0;
    case 2: return (h == 576 || h == 288) ? kAspect4x3 : 0;
    case 3: return (h == 240 || h == 480 || h == 486) ? kAspect4x3 : 0;
    case 4:
    case 5:
      if (w == 528 || w == 540) return kAspect4x3;
      if (w == 704 || w == 720) return kAspect16x9;
      return 0;
    case 6:
    case 7:
      if (w == 352) return kAspect4x3;
      if (w == 480) return kAspect16x9;
      return 0;
    case 8:
    case 9: return w == 352 ? kAspect16x9 : 0;
    case 10:
    case 11: return w == 480 ? kAspect4x3 : 0;
    case 12:
    case 13: return (w == 540 || w == 528) ? kAspect16x9 : 0;
    // 4:3, 3:2 and 2:1 pixels: 1440, 1280 and 960 wide pictures fill 16:9.
    case 14: return w == 1440 ? kAspect16x9 : 0;
    case 15: return w == 1280 ? kAspect16x9 : 0;
    case 16: return w == 960 ? kAspect16x9 : 0;
    default: return 0;
  }
}

uint8_t FrameRateCodeFromFps(double fps) {
  static const double kRates[8] = {0.0, 23.976, 24.0, 25.0, 29.97, 0.0, 50.0, 59.94};
  for (uint8_t i = 0; i < 8; ++i)
    if (std::fabs(kRates[i] - fps) <= 0.01) return i;
  return kFrUnknown;
}

void CVideoSif::FillCodingInfo(SCodingAttributes& rec) const {
  rec.streamCodingType = CodingType();
  rec.videoFormat = videoFormat;
  rec.frameRate = frameRate;
  rec.aspectRatio = aspectRatio;
}

void CVideoSif::FillStreamAttributes(SCodingAttributes& rec) const {
  rec.streamCodingType = CodingType();
  rec.videoFormat = videoFormat;
  rec.frameRate = frameRate;
}

bool CVideoSif::Load(ArchiveIn& in) {
  version = in.U32();
  if (version < 2) return false;
  profile = in.U8();
  level = in.U8();
  videoFormat = in.U8();
  aspectRatio = in.U8();
  frameRate = in.U8();
  width = in.U32();
  height = in.U32();
  progressive = in.U8();
  codecValue = in.U32();
  tableEnd = in.U32();
  if (videoFormat == 0) videoFormat = DeriveVideoFormat(height, progressive != 0, 0);
  return true;
}

void CVideoSif::Save(ArchiveOut& out) const {
  out.U32(version);
  out.U8(profile);
  out.U8(level);
  out.U8(videoFormat);
  out.U8(aspectRatio);
  out.U8(frameRate);
  out.U32(width);
  out.U32(height);
  out.U8(progressive);
  out.U32(codecValue);
  out.U32(tableEnd);
}

bool CVideoSif::LoadGopTable(const std::vector<uint8_t>& tail) {
  gops.clear();
  if (tail.size() < 4) return tail.empty();
  ArchiveIn in(tail.data() + 4, tail.size() - 4);
  while (in.Remaining() >= GOP_INF::kSize) {
    GOP_INF g;
    g.Load(in);
    gops.push_back(g);
  }
  return in.AtEnd();
}

bool CVideoSif::SameVideoCoding(const CVideoSif& o) const {
  return profile == o.profile && level == o.level && videoFormat == o.videoFormat && aspectRatio == o.aspectRatio &&
         frameRate == o.frameRate && width == o.width && height == o.height && progressive == o.progressive;
}

SDescriptor CVideoSif::HdmvRegistration(uint8_t type) const {
  SDescriptor d;
  d.tag = 0x05;
  d.body = {'H', 'D', 'M', 'V', 0xFF, type, static_cast<uint8_t>((videoFormat << 4) | (frameRate & 0x0F)),
            static_cast<uint8_t>((aspectRatio << 4) | 0x0F)};
  return d;
}

void CAudioSif::FillCodingInfo(SCodingAttributes& rec) const {
  rec.streamCodingType = GetStreamCodingType(0);
  rec.presentationType = GetPresentationType();
  rec.samplingFrequency = GetSamplingFrequency();
}

std::unique_ptr<CSifData> CreateSifData(uint8_t type) {
  switch (type) {
    case kSctMpeg2: return std::make_unique<CMpeg2VideoSif>();
    case kSctH264: return std::make_unique<CH264VideoSif>();
    case kSctVc1: return std::make_unique<CVc1Sif>();
    case kSctLpcm: return std::make_unique<PCM_WAVE_FORMAT>();
    case kSctAc3:
    case kSctEac3:
    case kSctEac3Secondary: return std::make_unique<AC3_AUDIO_DESCRIPTOR>();
    case kSctDts:
    case kSctDtsHdHr:
    case kSctDtsHdMa:
    case kSctDtsHdSecondary: return std::make_unique<CDTSSif>();
    case kSctMlp: return std::make_unique<MLP_HEADER_INFO>();
    case kSctPg:
    case kSctIg: return std::make_unique<SGsSif>();
    default: return nullptr;
  }
}

bool SameForMultiplexing(const CSifData& a, const CSifData& b) {
  SEsInfoFill ea, eb;
  a.FillEsInfo(ea);
  b.FillEsInfo(eb);
  // An AC-3 family descriptor is built from values this does not compare.
  if (ea.ac3 || eb.ac3 || ea.streamCodingType != eb.streamCodingType || ea.descriptors != eb.descriptors) return false;
  SCodingAttributes ca, cb, sa, sb;
  a.FillCodingInfo(ca);
  b.FillCodingInfo(cb);
  a.FillStreamAttributes(sa);
  b.FillStreamAttributes(sb);
  SPacketRule ra1, ra2, rb1, rb2;
  return ca == cb && sa == sb && a.CreatePacketRules(&ra1, &ra2) == b.CreatePacketRules(&rb1, &rb2) && ra1 == rb1 &&
         ra2 == rb2 && a.IsSpecialVariant() == b.IsSpecialVariant() &&
         a.IsMultiplexedGraphics() == b.IsMultiplexedGraphics();
}

}  // namespace zv

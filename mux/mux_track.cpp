#include "mux/mux_track.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "named/named_object.h"
#include "mux/file_pipe.h"
#include "mux/fl_pipe.h"
#include "mux/pipe.h"
#include "streams/gs_parser.h"
#include "streams/other_sif.h"

namespace zv {

double FrameDurationOfCode(uint8_t code) {
  switch (code) {
    case 1: return 1001.0 / 24;
    case 2: return 1000.0 / 24;
    case 3: return 40;
    case 4: return 1001.0 / 30;
    case 6: return 20;
    case 7: return 1001.0 / 60;
    default: return 0;
  }
}

// ---------------------------------------------------------------- SMuxTrack

SMuxTrack::~SMuxTrack() = default;

void SMuxTrack::Serialize(CArchive& ar) {
  ar.ZeroByte();  // version
  ar.Int(m_nTrackNumber);
  ar.Bool(m_bEnabled);
  ar.Bool(m_bPrimary);
  ar.Bool(m_bSecond);
  ar.Byte(m_nRefIndex);
  int32_t language = m_nLanguage;
  ar.Int(language);
  ar.Int(m_nDelay);
  if (ar.IsLoading()) {
    if (language < 0 || language >= LanguageCount()) throw ArchiveError("Track language out of range");
    m_nLanguage = language;
  }
}

void SMuxTrack::Store(ArchiveOut& out, const std::string& projectPath) {
  CArchive ar(out, projectPath);
  Serialize(ar);
}

void SMuxTrack::Load(ArchiveIn& in, const std::string& projectPath) {
  CArchive ar(in, projectPath);
  Serialize(ar);
}

std::string SMuxTrack::GetDescription() const {
  std::string s = GetStreamTypeShortName(GetStreamCodingType()) ? GetStreamTypeShortName(GetStreamCodingType()) : "";
  if (StreamKindOf(GetStreamCodingType()) != StreamKind::kVideo) s += ", " + GetLanguageCode();
  return s;
}

std::string SMuxTrack::GetLanguageCode() const { return LanguageCodeAt(m_nLanguage); }

bool SMuxTrack::SetLanguageCode(const std::string& code) {
  std::string lower = code;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  int index = LanguageIndexOf(lower);
  return SetLanguage(index < 0 ? DefaultLanguageIndex() : index);
}

bool SMuxTrack::SetLanguage(int32_t index) {
  if (index == -1 || index == m_nLanguage || index < 0 || index >= LanguageCount()) return false;
  m_nLanguage = index;
  return true;
}

void SMuxTrack::ReleaseMux() {
  m_keyPoints = STREAM_PID_ENTRY{};
  m_pPrimaryModel.reset();
  m_pSecondaryModel.reset();
}

void SMuxTrack::GetStartInfo(uint32_t& pts, uint32_t& dts, uint32_t& packets) const {
  pts = m_nStartPts;
  dts = m_nStartDts;
  packets = m_nStartPackets;
}

double SMuxTrack::GetFrameDuration() const { return 0; }

std::string SMuxTrack::GetFormatText() const {
  STrackVideoFormat d;
  if (!GetVideoDescriptor(d)) return {};
  char buf[48];
  std::snprintf(buf, sizeof buf, "%ux%u", d.width, d.height);
  std::string s = buf;
  if (StreamKindOf(GetStreamCodingType()) != StreamKind::kVideo) {
    s += ' ';
    s += GetLanguageCode();
  }
  return s;
}

void SMuxTrack::GetAttributeValues(SCodingAttributes& rec, std::string& language) const {
  rec = SCodingAttributes{};
  rec.streamCodingType = GetStreamCodingType();
  language = GetLanguageCode();
}

int64_t SMuxTrack::GetModelNextTime(bool secondary) const {
  const CStdBase* m = secondary ? m_pSecondaryModel.get() : m_pPrimaryModel.get();
  return m ? m->GetNextTime() : 0;
}

void SMuxTrack::CollectKeyPoints() {
  m_keyPoints.StreamPid = m_nPid;
  m_keyPoints.EpStreamType = m_nEpStreamType;
}

void SMuxTrack::ResetMuxState() {
  m_nAuServed = -1;
  m_bEnded = false;
  m_nNextTime = 0;
  m_nHighestDts = 0;
  m_nBytesLeft = 0;
  m_bRoutedSecondary = false;
  m_nStartPts = m_nStartDts = m_nStartPackets = 0;
  m_keyPoints = STREAM_PID_ENTRY{};
  m_error.clear();
}

void SMuxTrack::EnterAu(SMuxAu& au) {
  // A unit without a DTS is decoded at its PTS; entered with DTS 0 the
  // elementary buffer would drop it at once and never hold anything back.
  const uint32_t dts = DecodeTime(au);
  if (!m_pSecondaryModel || au.size == 0) {
    m_bRoutedSecondary = false;
    if (m_pPrimaryModel) m_pPrimaryModel->AddAccessUnit(dts, au.pts);
  } else {
    const bool toSecondary = m_nReused ? RoutesToExtension(au.CoreByStreamIdExtension(), au.IsBaseUnit(), m_nAuServed == 0,
                                                           m_bRoutedSecondary)
                                       : !au.IsBaseUnit();
    m_bRoutedSecondary = toSecondary;
    if (m_nReused) au.SetRouting(!toSecondary);
    EnterUnit(m_pPrimaryModel.get(), m_pSecondaryModel.get(), toSecondary, dts, au.pts);
  }
  m_nHighestDts = std::max(m_nHighestDts, au.dts);
}

bool RoutesToExtension(int core, bool base, bool first, bool previousToExtension) {
  // The stream_id_extension names core and extension units in every clip,
  // whether or not it marks their transport priority.
  if (core >= 0) return core == 0;
  // Without it, the transport priority is all there is, and clips do not
  // mark their core units reliably: a base unit alternates with the unit
  // before it.
  if (first) return !base;
  if (base) return !previousToExtension;
  return true;
}

int CoreByStreamIdExtension(const PES_HEADER& h) {
  if (h.stream_id != 0xFD || !h.extension || !h.extension->extension_field || h.extension->extension_field->empty())
    return -1;
  switch ((*h.extension->extension_field)[0] & 0x7F) {
    case 0x71:  // AC-3 or DTS core
    case 0x76: return 1;  // AC-3 core beside a lossless stream
    case 0x72: return 0;  // extension or lossless units
    default: return -1;
  }
}

void SMuxTrack::UpdateNextTime() {
  const SMuxAu* au = GetCurrentAu();
  const bool firstPending = au && au->size > 0 && m_nBytesLeft == static_cast<uint32_t>(au->size);
  // An extension unit's first packet must also fit the core's buffers.
  const int64_t m = ModelsNextTime(m_pPrimaryModel.get(), m_pSecondaryModel.get(), m_bRoutedSecondary, firstPending);
  if (firstPending) {
    // A unit's first packet never goes more than 0.9 s before its decoding time.
    const int64_t d = DecodeTime(*au);
    const int64_t e = d > 81000 ? (d - 81000) * kTicksPer90k : 0;
    m_nNextTime = std::max(e, m);
  } else if (m != 0) {
    m_nNextTime = std::max(m_nNextTime, m);
  }
}

void SMuxTrack::DeliverPacket(const SPacketArrival& p) {
  DeliverToModels(m_pPrimaryModel.get(), m_pSecondaryModel.get(), m_bRoutedSecondary, p);
}

// ---------------------------------------------------------------- models

std::unique_ptr<CStdBase> ModelFromRule(const SPacketRule& r, bool trackPrimary) {
  std::unique_ptr<CStdBase> m;
  switch (r.model) {
    case SPacketRule::kAvc: m = std::make_unique<CAvcStd>(); break;
    case SPacketRule::kMpeg2: m = std::make_unique<CMpeg2Std>(); break;
    case SPacketRule::kVc1: m = std::make_unique<CVc1Std>(); break;
    case SPacketRule::kAc3: m = std::make_unique<CAc3Std>(); break;
    case SPacketRule::kDdp: m = std::make_unique<CDdpStd>(); break;
    case SPacketRule::kDts: m = std::make_unique<CDtsStd>(); break;
    case SPacketRule::kDtsHd: m = std::make_unique<CDtsHdStd>(); break;
    case SPacketRule::kLpcm: {
      auto lpcm = std::make_unique<CLpcmStd>();
      if (r.lpcm192k) lpcm->SetSamplingFrequencyCode(5);
      m = std::move(lpcm);
      break;
    }
    case SPacketRule::kMlp: m = std::make_unique<CMlpStd>(); break;
    case SPacketRule::kPg: m = std::make_unique<CPgStd>(); break;
    case SPacketRule::kIg: m = std::make_unique<CIgStd>(); break;
    case SPacketRule::kNone: return nullptr;
  }
  m->SetPrimary(r.primary);
  for (int level : r.levels) m->SetLevel(level, r.primary && trackPrimary);
  return m;
}


SStdModels CreateModelsFromRecord(const CSifData& rec, bool primary) {
  SPacketRule r1, r2;
  const int n = rec.CreatePacketRules(&r1, &r2);
  SStdModels out;
  if (n >= 1) out.primary = ModelFromRule(r1, primary);
  if (n >= 2) out.secondary = ModelFromRule(r2, primary);
  // A lossless stream rides on its AC-3 core: the core's model comes first.
  if (n == 1 && r1.model == SPacketRule::kMlp) {
    out.secondary = std::move(out.primary);
    out.primary = std::make_unique<CAc3Std>();
  }
  return out;
}

// ---------------------------------------------------------------- PIDs

std::vector<SMuxTrack*> AssignPids(const std::vector<SMuxTrack*>& tracks) {
  static constexpr uint16_t kBases[7] = {0x1011, 0x1100, 0x1200, 0x1400, 0x1800, 0x1A00, 0x1B00};
  std::vector<SMuxTrack*> lists[7];
  for (SMuxTrack* t : tracks) {
    const StreamKind c = StreamKindOf(t->GetStreamCodingType());
    int list;
    if (t->m_bPrimary) {
      list = c == StreamKind::kVideo ? 0 : c == StreamKind::kAudio ? 1 : c == StreamKind::kPg ? 2
             : c == StreamKind::kIg  ? 3 : 4;
    } else {
      list = c == StreamKind::kAudio ? 5 : 6;
    }
    lists[list].push_back(t);
  }
  std::vector<SMuxTrack*> out;
  for (int i = 0; i < 7; ++i) {
    std::stable_sort(lists[i].begin(), lists[i].end(), [](const SMuxTrack* a, const SMuxTrack* b) {
      if (a->m_nOrderKey != b->m_nOrderKey) return a->m_nOrderKey < b->m_nOrderKey;
      if (a->m_nPid != b->m_nPid) return a->m_nPid < b->m_nPid;
      return a->m_nReused < b->m_nReused;
    });
    uint16_t pid = kBases[i];
    for (SMuxTrack* t : lists[i]) {
      t->m_nPid = pid++;
      out.push_back(t);
    }
  }
  return out;
}

// ---------------------------------------------------------------- SRawAu

const uint8_t* SRawAu::BuildPacket(uint32_t& bytesLeft, uint32_t& payload) {
  if (!pipe || !request || pipe->GetAuBytesLeft() == 0) return nullptr;
  std::memset(packet, 0, sizeof packet);
  request->packet = packet + 4;
  if (!pipe->FillPacket(*request)) return nullptr;
  bytesLeft = pipe->GetAuBytesLeft();
  payload = request->payloadBytes;
  return packet;
}

bool SRawAu::BuildPacketInto(uint8_t* out, uint32_t& bytesLeft, uint32_t& payload) {
  if (!pipe || !request || pipe->GetAuBytesLeft() == 0) return false;
  request->packet = out + 4;
  if (!pipe->FillPacket(*request)) return false;
  bytesLeft = pipe->GetAuBytesLeft();
  payload = request->payloadBytes;
  return true;
}

KEY_POINT_INFO* SRawAu::GetKeyPoint() { return request ? request->keyPoint : nullptr; }

bool SRawAu::IsBaseUnit() const { return pipe && pipe->IsBaseAu(); }

// ---------------------------------------------------------------- SRawTrack

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::unique_ptr<CPipe> MakePipe(const CSource& src) {
  SPipeSource ps = SPipeSource::From(src);
  if (src.m_pFileList) return std::make_unique<CFlPipe>(std::move(ps));
  return std::make_unique<CFilePipe>(std::move(ps));
}

// Forwards to the caller's prompt and keeps the last message, so a refused
// source can also be reported by the caller.
class CRecordingPrompt : public IPrompt {
 public:
  explicit CRecordingPrompt(IPrompt* next) : next_(next) {}
  void Message(const std::string& text) override {
    last = text;
    if (next_) next_->Message(text);
  }
  Answer Ask(const std::string& text) override { return next_ ? next_->Ask(text) : Answer::No; }
  std::string last;

 private:
  IPrompt* next_;
};

}  // namespace

SRawTrack::SRawTrack() : m_request(std::make_unique<SFillRequest>()) {
  m_au.request = m_request.get();
  m_source.m_language = kEnglish;
}

SRawTrack::~SRawTrack() = default;

bool SRawTrack::SetSource(const std::string& path, const Progress& progress, IPrompt* prompt) {
  m_error.clear();
  namespace fs = std::filesystem;
  CSource src;
  src.CopyFrom(m_source);
  src.m_pFileList.reset();
  const std::string ext = Lower(fs::path(path).extension().string());
  if (ext == ".mlp" || ext == ".thd") {
    // The lossless stream carries no core of its own: the AC-3 file of the
    // same name is the main file and shares the PID.
    const std::string ac3 = fs::path(path).replace_extension(".ac3").string();
    if (!fs::exists(ac3)) {
      // The system's message, then what to do about it.
      m_error = path + "\r\n" + "Corresponding ac3 file doesn't exist! " + "\n" +
                "(a Dolby lossless stream plays with its AC-3 core: give the AC-3 core as the main file, \"" +
                fs::path(ac3).filename().string() + "\" beside it)";
      if (prompt) prompt->Message(m_error);
      return false;
    }
    src.m_strPath = ac3;
    src.m_strSecondPath = path;
  } else {
    src.m_strPath = path;
    src.m_strSecondPath.clear();
  }

  CRecordingPrompt rec(prompt);
  auto pipe = MakePipe(src);
  const int r = pipe->Open(progress, &rec);
  if (r != kOk) {
    m_error = r == kCancelled ? std::string("Cancelled") : rec.last.empty() ? path : rec.last;
    return false;
  }
  uint8_t type = pipe->GetStreamCodingType();
  if (pipe->GetSecondStream()) type = pipe->GetSecondStream()->header.streamCodingType;
  const CSifData* record =
      pipe->GetSecondStream() ? pipe->GetSecondStream()->sif.get() : pipe->GetStream() ? pipe->GetStream()->sif.get() : nullptr;
  if (record && record->IsSpecialVariant()) {
    m_error = path + "\n" + "can only be added as secondary track! ";
    if (prompt) prompt->Message(m_error);
    return false;
  }

  m_source.CopyFrom(src);
  m_source.m_pFileList.reset();
  m_type = type;
  m_pipe = std::move(pipe);
  m_pRefTrack = nullptr;
  const StreamKind c = StreamKindOf(type);
  if (c == StreamKind::kAudio || c == StreamKind::kPg) {
    // "movie_fra.ac3" names its language.
    const std::string stem = fs::path(path).stem().string();
    if (stem.size() >= 4 && stem[stem.size() - 4] == '_') {
      const int index = LanguageIndexOf(Lower(stem.substr(stem.size() - 3)));
      if (index >= 0) SetLanguage(index);
    }
  }
  m_bPrimary = true;
  return true;
}

std::string SRawTrack::GetDisplayName(bool stripPath, bool markTrimmed) const {
  if (IsPlaceholder()) return "Empty track";
  std::string path = m_source.m_pFileList && !m_source.m_pFileList->m_items.empty()
                         ? m_source.m_pFileList->m_items.front().path
                         : m_source.m_strPath;
  if (stripPath) path = std::filesystem::path(path).filename().string();
  const bool trimmed = m_source.m_nInPoint != 0 || m_source.m_nOutPoint != 0;
  return markTrimmed && trimmed ? "*" + path : path;
}

std::string SRawTrack::FormatClipSize(uint64_t packets) {
  if (packets == 0) return {};
  const uint64_t kb = static_cast<uint64_t>(packets * 0.1875);
  const double x = kb / 1024.0;
  char buf[64];
  if (x > 1024)
    std::snprintf(buf, sizeof buf, "%.2fGB", x / 1024);
  else if (x < 1)
    std::snprintf(buf, sizeof buf, "%dKB", static_cast<int>(kb));
  else
    std::snprintf(buf, sizeof buf, "%.2fMB", x);
  return buf;
}

void SRawTrack::Serialize(CArchive& ar) {
  ar.ZeroByte();  // version
  m_source.Serialize(ar);
  SMuxTrack::Serialize(ar);
  if (ar.IsLoading()) {
    m_source.m_language = LanguageAt(m_nLanguage);
  }
}

std::string SRawTrack::GetDescription() const {
  std::string s = GetDisplayName(true, true);
  if (StreamKindOf(GetStreamCodingType()) != StreamKind::kVideo) s += ", " + GetLanguageCode();
  return s;
}

std::string SRawTrack::GetLanguageCode() const {
  if (IsPlaceholder()) return m_pRefTrack->GetLanguageCode();
  return SMuxTrack::GetLanguageCode();
}

bool SRawTrack::SetLanguage(int32_t index) {
  if (!SMuxTrack::SetLanguage(index)) return false;
  m_source.m_language = LanguageAt(index);
  return true;
}

int SRawTrack::OpenPipe(const SMuxPrepare& prep) {
  CSource src;
  src.CopyFrom(m_source);
  if (m_nDelay < 0) {
    // A negative delay drops that much of the stream's start.
    const int64_t ms = -static_cast<int64_t>(m_nDelay) / 90;
    if (src.m_nTimeMode == 1) {
      src.m_nInPoint = static_cast<int32_t>(src.m_nInPoint + ms);
    } else {
      auto probe = MakePipe(src);
      CRecordingPrompt rec(prep.prompt);
      if (int r = probe->Open(prep.progress, &rec)) {
        m_error = rec.last;
        return r;
      }
      const double unit = probe->GetAuDuration();
      if (unit > 0) src.m_nInPoint = static_cast<int32_t>(src.m_nInPoint + static_cast<int64_t>(ms / unit));
    }
  }
  m_pipe = MakePipe(src);
  CRecordingPrompt rec(prep.prompt);
  const int r = m_pipe->Open(prep.progress, &rec);
  if (r != kOk) {
    m_error = r == kCancelled ? std::string("Cancelled") : rec.last;
    m_pipe.reset();
  }
  return r;
}

bool SRawTrack::PrepareForMux(const SMuxPrepare& prep) {
  ResetMuxState();
  m_hasAu = false;
  m_pipe.reset();
  m_au = SRawAu{};
  m_au.request = m_request.get();
  *m_request = SFillRequest{};
  if (IsPlaceholder()) {
    m_bEnded = true;
    return true;
  }
  // A track whose stream cannot be opened would silently vanish from the
  // clip: preparing fails instead.
  if (OpenPipe(prep) != kOk) {
    if (m_error.empty()) m_error = "Cannot open the stream of " + GetDisplayName(false, false);
    return false;
  }
  m_type = m_pipe->GetSecondStream() ? m_pipe->GetSecondStream()->header.streamCodingType : m_pipe->GetStreamCodingType();
  m_pipe->FillStreamAttributes(m_attributes);
  m_bHaveAttributes = true;
  CreateModels();
  m_nTimeOffset = prep.basePresentationTime - static_cast<int64_t>(m_pipe->GetPresentationStart());
  m_pipe->CreateEsInfo(m_nPid);
  m_au.pipe = m_pipe.get();
  m_request->pid = m_nPid;
  m_request->timeOffset = m_nTimeOffset + std::max<int32_t>(m_nDelay, 0);
  m_request->keyPointWanted = m_bWantKeyPoints;
  if (!NextAu()) return false;
  // From the unit actually served: a trimmed range is re-based by the
  // stream context, the table's raw values are not.
  SStartInfo si;
  if (m_hasAu) {
    m_nStartPts = m_au.pts;
    m_nStartDts = DecodeTime(m_au);
    m_nStartPackets = m_pipe->GetStartInfo(si) ? si.packets : CurrentAuPackets();
  }
  return true;
}

void SRawTrack::ReleaseSource() {
  m_hasAu = false;
  m_au.pipe = nullptr;
  if (m_pipe) m_pipe->Close();
}

SMuxAu* SRawTrack::GetCurrentAu() {
  if (IsPlaceholder() || !m_hasAu) return nullptr;
  return &m_au;
}

bool SRawTrack::NextAu() {
  if (m_bEnded) return true;
  if (!m_pipe) {
    m_bEnded = true;
    m_hasAu = false;
    return true;
  }
  m_request->keyPoint = nullptr;
  const AUI* aui = m_pipe->NextAu();
  if (!aui) {
    m_bEnded = true;
    m_hasAu = false;
    if (m_pipe->Failed()) {
      m_error = "Cannot read an access unit of " + GetDisplayName(false, false);
      return false;
    }
    return true;
  }
  const int64_t shift = m_nTimeOffset + std::max<int32_t>(m_nDelay, 0);
  const int64_t dts = aui->dts ? aui->dts + shift : 0;
  const int64_t pts = aui->pts + shift;
  if (dts < 0 || pts < 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "Wrong AU's start time: DTS(%u), PTS(%u), Start Offset(%" PRIx64 ") ", aui->dts, aui->pts,
                  static_cast<uint64_t>(m_nTimeOffset));
    m_error = buf;
    return false;
  }
  m_au.type = aui->flags;
  m_au.dts = static_cast<uint32_t>(dts);
  m_au.pts = static_cast<uint32_t>(pts);
  m_au.size = static_cast<int32_t>(aui->size);
  m_au.pipe = m_pipe.get();
  m_nBytesLeft = aui->size;
  m_hasAu = true;
  EnterAu(m_au);
  if (aui->size == 0)
    m_bEnded = true;
  else
    ++m_nAuServed;
  return true;
}

uint8_t SRawTrack::GetStreamCodingType() const {
  if (IsPlaceholder()) return m_pRefTrack->GetStreamCodingType();
  return m_type;
}

const CSifData* SRawTrack::StreamRecord() const {
  if (!m_pipe) return nullptr;
  if (m_pipe->GetSecondStream()) return m_pipe->GetSecondStream()->sif.get();
  return m_pipe->GetStream() ? m_pipe->GetStream()->sif.get() : nullptr;
}

bool SRawTrack::GetVideoDescriptor(STrackVideoFormat& out) const {
  if (IsPlaceholder()) return m_pRefTrack->GetVideoDescriptor(out);
  const CSifData* rec = StreamRecord();
  if (auto* v = dynamic_cast<const CVideoSif*>(rec)) {
    out = {v->width, v->height, v->frameRate};
    return true;
  }
  if (auto* g = dynamic_cast<const SGsSif*>(rec)) {
    out = {g->width, g->height, g->frameRate};
    return true;
  }
  return false;
}

double SRawTrack::GetFrameDuration() const {
  const StreamKind c = StreamKindOf(GetStreamCodingType());
  if (c == StreamKind::kVideo) {
    STrackVideoFormat d;
    const double byCode = GetVideoDescriptor(d) ? FrameDurationOfCode(d.frameRate) : 0;
    if (byCode > 0) return byCode;
    return m_pipe ? m_pipe->GetAuDuration() : 0;
  }
  if (c == StreamKind::kPg || c == StreamKind::kIg) {
    STrackVideoFormat d;
    return GetVideoDescriptor(d) ? FrameDurationOfCode(d.frameRate) : 0;
  }
  return 0;
}

std::string SRawTrack::GetFormatText() const {
  const StreamKind c = StreamKindOf(GetStreamCodingType());
  if (c == StreamKind::kVideo || c == StreamKind::kPg || c == StreamKind::kIg) return SMuxTrack::GetFormatText();
  STREAM_INFO si;
  FillCodingInfo(si);
  return si.coding.Summary(true);
}

void SRawTrack::FillCodingInfo(STREAM_INFO& rec) const {
  if (IsPlaceholder()) {
    m_pRefTrack->FillCodingInfo(rec);
    rec.StreamPID = m_nPid;
    return;
  }
  if (m_pipe) {
    m_pipe->FillCodingInfo(rec, m_nPid);
  } else {
    rec.StreamPID = m_nPid;
    rec.coding.StreamCodingType = GetStreamCodingType();
  }
  // After a build has closed the stream, what was read while it was open
  // still answers (a second build checks the same tracks again).
  if (m_bHaveAttributes) {
    auto keep = [](uint8_t& field, uint8_t cached) {
      if (!field) field = cached;
    };
    keep(rec.coding.VideoFormat, m_attributes.videoFormat);
    keep(rec.coding.FrameRate, m_attributes.frameRate);
    keep(rec.coding.AspectRatio, m_attributes.aspectRatio);
    keep(rec.coding.AudioPresentationType, m_attributes.presentationType);
    keep(rec.coding.SamplingFrequency, m_attributes.samplingFrequency);
  }
  rec.coding.Language = GetLanguageCode();
}

void SRawTrack::FillEsInfo(ESI& esi) const {
  if (IsPlaceholder()) {
    m_pRefTrack->FillEsInfo(esi);
  } else if (m_pipe) {
    const ESI* e = m_pipe->GetEsInfo();
    if (!e) e = m_pipe->CreateEsInfo(m_nPid);
    if (e) esi = *e;
    // The pipe copied the language when it was made; the track's is current.
    if (esi.language) esi.language->language = LanguageAt(m_nLanguage);
  } else {
    esi = ESI{};
    esi.stream_type = GetStreamCodingType();
  }
  esi.elementary_PID = m_nPid;
}

void SRawTrack::GetAttributeValues(SCodingAttributes& rec, std::string& language) const {
  if (IsPlaceholder()) return m_pRefTrack->GetAttributeValues(rec, language);
  // Only an open pipe knows its records: once closed after multiplexing it
  // would report the main file's type alone (AC-3 for a TrueHD pair).
  if (m_pipe && m_pipe->GetStream() && m_pipe->GetStream()->sif) {
    m_pipe->FillStreamAttributes(m_attributes);
    m_bHaveAttributes = true;
  }
  if (!m_bHaveAttributes) return SMuxTrack::GetAttributeValues(rec, language);
  rec = m_attributes;
  language = GetLanguageCode();
}

void SRawTrack::CreateModels() {
  m_pPrimaryModel.reset();
  m_pSecondaryModel.reset();
  if (IsPlaceholder()) return;
  const CSifData* rec = StreamRecord();
  if (!rec) return;
  SStdModels m = CreateModelsFromRecord(*rec, m_bPrimary);
  m_pPrimaryModel = std::move(m.primary);
  m_pSecondaryModel = std::move(m.secondary);
}

uint64_t SRawTrack::GetTotalBytes() const {
  if (IsPlaceholder() || !m_pipe) return 0;
  return m_pipe->GetTotalBytes();
}

void SRawTrack::CollectKeyPoints() {
  SMuxTrack::CollectKeyPoints();
  m_keyPoints.keyPoints = m_pipe ? m_pipe->KeyPoints() : CKpiFolder{};
}

uint32_t SRawTrack::CurrentAuPackets() const {
  if (!m_hasAu || !m_pipe || !m_pipe->GetCurrentAu()) return 0;
  return PacketsForUnit(m_pipe->GetStreamCodingType(), *m_pipe->GetCurrentAu());
}

}  // namespace zv

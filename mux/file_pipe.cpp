#include "mux/file_pipe.h"

namespace zv {

namespace {

uint32_t EffectiveDts(const AUI& au) { return au.dts ? au.dts : au.pts; }

bool IsDtsFamily(uint8_t t) { return t == kSctDts || t == kSctDtsHdHr || t == kSctDtsHdMa || t == kSctDtsHdSecondary; }

// Units are served until a read fails or the range ends; only the first is
// a failure.
bool Exhausted(const SStreamContext& ctx) { return ctx.Exhausted(); }

uint64_t SelectedBytes(SStreamContext& ctx) {
  if (ctx.first > ctx.last) return 0;
  // A stream still being analysed: its last unit is not known yet, and a
  // stream served whole ends with its last unit, give or take a few bytes.
  if (ctx.live) {
    auto first = GetAu(ctx.first, ctx);
    return first && ctx.streamLength > 0 ? static_cast<uint64_t>(ctx.streamLength) - first->offset : 0;
  }
  auto first = GetAu(ctx.first, ctx), last = GetAu(ctx.last, ctx);
  if (!first || !last) return 0;
  return last->offset + last->size - first->offset;
}

}  // namespace

CFilePipe::~CFilePipe() { Reset(); }

void CFilePipe::Reset() {
  ClearCurrent();
  m_stream = nullptr;
  m_main.reset();
  m_second.reset();
  m_started = m_endServed = false;
  m_lastPts = m_lastDts = 0;
  m_failed = false;
}

void CFilePipe::Close() {
  CPipe::Close();
  if (m_main) m_main->Close();
  if (m_second) m_second->Close();
  ClearCurrent();
}

int CFilePipe::Open(const Progress& progress, IPrompt* prompt) {
  Close();
  Reset();
  m_main = std::make_unique<SStreamContext>();
  if (int r = OpenStream(m_source.params, *m_main, progress, prompt)) {
    m_main.reset();
    return r;
  }
  m_type = m_main->header.streamCodingType;
  m_duration = m_main->header.auDuration;
  if (!m_source.params.secondPath.empty()) {
    SSourceParams p = m_source.params;
    p.path = p.secondPath;
    p.secondPath.clear();
    m_second = std::make_unique<SStreamContext>();
    if (int r = OpenStream(p, *m_second, progress, prompt)) {
      m_second.reset();
      m_main.reset();
      return r;
    }
  }
  m_stream = m_main.get();
  return kOk;
}

bool CFilePipe::IsBaseAu() const {
  if (m_second) return m_cur && m_serving == m_main.get();
  if (!m_cur) return false;
  if (IsDtsFamily(m_type)) return (m_cur->flags & 1) == 0;
  return true;
}

const AUI* CFilePipe::NextAu() {
  if (!m_main || m_failed) return nullptr;
  auto advance = [&](SStreamContext& ctx) {
    if (!zv::NextAu(ctx) && !Exhausted(ctx)) m_failed = true;
  };
  if (!m_started) {
    advance(*m_main);
    if (m_second) advance(*m_second);
    m_started = true;
  } else if (m_serving) {
    advance(*m_serving);
  }
  if (m_failed) {
    ClearCurrent();
    return nullptr;
  }
  const AUI* a = m_main->current.get();
  const AUI* b = m_second ? m_second->current.get() : nullptr;
  if (a || b) {
    const bool fromSecond = b && (!a || EffectiveDts(*b) < EffectiveDts(*a));
    SStreamContext* ctx = fromSecond ? m_second.get() : m_main.get();
    const AUI* au = fromSecond ? b : a;
    m_lastPts = au->pts;
    m_lastDts = au->dts;
    Serve(ctx, au, ctx->next - 1 - ctx->first, fromSecond);
    return au;
  }
  ClearCurrent();
  if (m_endServed || !(StreamKindOf(m_type) == StreamKind::kVideo || StreamKindOf(m_type) == StreamKind::kAudio))
    return nullptr;
  // Tells the multiplexer where the last unit's presentation ends.
  m_endServed = true;
  const auto unitTicks = static_cast<uint32_t>(m_duration * 90);
  m_endAu = std::make_unique<AUI>();
  if (m_lastPts) m_endAu->pts = m_lastPts + unitTicks;
  if (m_lastDts) m_endAu->dts = m_lastDts + unitTicks;
  m_cur = m_endAu.get();
  return m_cur;
}

bool CFilePipe::GetStartInfo(SStartInfo& out) {
  if (!m_main || !ContextStartInfo(*m_main, out)) return false;
  if (m_second && m_second->first <= m_second->last) {
    if (auto au = GetAu(m_second->first, *m_second))
      out.packets += PacketsForUnit(m_second->header.streamCodingType, *au);
  }
  return true;
}

bool CFilePipe::GetPtsRange(uint32_t& start, uint32_t& end) {
  start = end = 0;
  return m_main && ContextPtsRange(*m_main, start, end);
}

uint32_t CFilePipe::GetPresentationStart() { return m_main ? ContextPresentationStart(*m_main) : kFirstPts; }

void CFilePipe::FillCodingInfo(STREAM_INFO& rec, uint16_t pid) {
  FillCodingFrom(rec, pid, m_main ? m_main->sif.get() : nullptr, m_second ? m_second->sif.get() : nullptr);
}

void CFilePipe::FillStreamAttributes(SPipeAttributes& rec) {
  FillAttributesFrom(rec, m_main ? m_main->sif.get() : nullptr, m_second ? m_second->sif.get() : nullptr);
}

const ESI* CFilePipe::CreateEsInfo(uint16_t pid) {
  return BuildEsInfo(pid, m_main ? m_main->sif.get() : nullptr, m_second ? m_second->sif.get() : nullptr);
}

uint64_t CFilePipe::GetTotalBytes() {
  uint64_t total = 0;
  if (m_main) total += SelectedBytes(*m_main);
  if (m_second) total += SelectedBytes(*m_second);
  return total;
}

}  // namespace zv

#include "mux/fl_pipe.h"

#include <cmath>

namespace zv {

namespace {

constexpr const char* kListEmpty = "The file list is empty! ";
constexpr const char* kListMismatch = "The file differs in format from the first file of the list! ";

void Show(IPrompt* prompt, const std::string& text) {
  if (prompt) prompt->Message(text);
}

}  // namespace

CFlPipe::~CFlPipe() {
  ClearCurrent();
  m_stream = nullptr;
}

void CFlPipe::Close() {
  CPipe::Close();
  if (m_ctx) m_ctx->Close();
  ClearCurrent();
}

SSourceParams CFlPipe::WholeFile(size_t index) const {
  SSourceParams p;
  p.path = m_source.files[index].path;
  p.graphicsOffset = m_source.params.graphicsOffset;
  return p;
}

int CFlPipe::Open(const Progress& progress, IPrompt* prompt) {
  Close();
  m_ctx.reset();
  m_stream = nullptr;
  m_fileIndex = 0;
  m_timeOffset = 0;
  m_unitsBefore = 0;
  m_totalBytes = 0;
  m_ended = false;
  m_failed = false;
  if (m_source.files.empty()) {
    Show(prompt, kListEmpty);
    return kFailed;
  }
  std::unique_ptr<SStreamContext> first;
  for (size_t i = 0; i < m_source.files.size(); ++i) {
    auto ctx = std::make_unique<SStreamContext>();
    if (int r = OpenStream(WholeFile(i), *ctx, progress, prompt)) return r;
    if (i == 0) {
      first = std::move(ctx);
      m_totalBytes += first->header.payloadSize;
      continue;
    }
    // Played as one stream, the files must decode as one: same codec, unit
    // timing and coding attributes.
    const SSifHeader& h0 = first->header;
    if (ctx->header.streamCodingType != h0.streamCodingType ||
        std::fabs(ctx->header.auDuration - h0.auDuration) > 1e-9 || !ctx->sif->IsEqual(*first->sif)) {
      Show(prompt, m_source.files[i].path + "\n" + kListMismatch);
      return kFailed;
    }
    m_totalBytes += ctx->header.payloadSize;
  }
  m_type = first->header.streamCodingType;
  m_duration = first->header.auDuration;
  m_ctx = std::move(first);
  m_stream = m_ctx.get();
  return kOk;
}

const AUI* CFlPipe::NextAu() {
  while (m_ctx && !m_ended && !m_failed) {
    if (zv::NextAu(*m_ctx)) {
      AUI* au = m_ctx->current.get();
      if (au->pts) au->pts = static_cast<uint32_t>(au->pts + m_timeOffset);
      if (au->dts) au->dts = static_cast<uint32_t>(au->dts + m_timeOffset);
      Serve(m_ctx.get(), au, m_unitsBefore + (m_ctx->next - 1 - m_ctx->first), false);
      return au;
    }
    ClearCurrent();
    if (!m_ctx->Exhausted()) {
      m_failed = true;  // a unit of the file could not be read
      break;
    }
    // The item's duration holds the file's place even when its stream is
    // shorter; a longer stream is never cut.
    const CFileItem& item = m_source.files[m_fileIndex];
    const int64_t count = m_ctx->header.auCount;
    const auto byItem = m_duration > 0 ? static_cast<int64_t>(std::floor(item.durationMs / m_duration + 0.5)) : 0;
    const int64_t units = std::max(byItem, count);
    m_timeOffset += static_cast<int64_t>(m_duration * static_cast<double>(units) * 90);
    m_unitsBefore += count;
    if (++m_fileIndex >= m_source.files.size()) {
      m_ended = true;
      break;
    }
    if (OpenStream(WholeFile(m_fileIndex), *m_ctx, Progress{}, nullptr) != kOk) m_failed = true;
    m_stream = m_ctx.get();
  }
  ClearCurrent();
  return nullptr;
}

SStreamContext* CFlPipe::FirstFile(std::unique_ptr<SStreamContext>& temp) {
  if (m_ctx && m_fileIndex == 0 && m_ctx->sif) return m_ctx.get();
  if (m_source.files.empty()) return nullptr;
  temp = std::make_unique<SStreamContext>();
  if (OpenStream(WholeFile(0), *temp, Progress{}, nullptr) != kOk) return nullptr;
  return temp.get();
}

bool CFlPipe::GetStartInfo(SStartInfo& out) {
  std::unique_ptr<SStreamContext> temp;
  SStreamContext* ctx = FirstFile(temp);
  out = SStartInfo{};
  return ctx && ContextStartInfo(*ctx, out);
}

bool CFlPipe::GetPtsRange(uint32_t& start, uint32_t& end) {
  std::unique_ptr<SStreamContext> temp;
  SStreamContext* ctx = FirstFile(temp);
  start = end = 0;
  return ctx && ContextPtsRange(*ctx, start, end);
}

uint32_t CFlPipe::GetPresentationStart() {
  std::unique_ptr<SStreamContext> temp;
  SStreamContext* ctx = FirstFile(temp);
  return ctx ? ContextPresentationStart(*ctx) : kFirstPts;
}

void CFlPipe::FillCodingInfo(STREAM_INFO& rec, uint16_t pid) {
  std::unique_ptr<SStreamContext> temp;
  SStreamContext* ctx = m_ctx && m_ctx->sif ? m_ctx.get() : FirstFile(temp);
  FillCodingFrom(rec, pid, ctx ? ctx->sif.get() : nullptr, nullptr);
}

void CFlPipe::FillStreamAttributes(SPipeAttributes& rec) {
  std::unique_ptr<SStreamContext> temp;
  SStreamContext* ctx = m_ctx && m_ctx->sif ? m_ctx.get() : FirstFile(temp);
  FillAttributesFrom(rec, ctx ? ctx->sif.get() : nullptr, nullptr);
}

const ESI* CFlPipe::CreateEsInfo(uint16_t pid) {
  return BuildEsInfo(pid, m_ctx && m_ctx->sif ? m_ctx->sif.get() : nullptr, nullptr);
}

}  // namespace zv

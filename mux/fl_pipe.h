// A pipe over a file list: files of one format played one after another as
// one stream, each later file shifted by the time its predecessors took.
#pragma once

#include "mux/pipe.h"

namespace zv {

class CFlPipe : public CPipe {
 public:
  explicit CFlPipe(SPipeSource source) : CPipe(std::move(source)) {}
  ~CFlPipe() override;

  void Close() override;
  // Opens every file whole and refuses (2) a list whose files differ in
  // stream coding type, unit duration or coding attributes.
  int Open(const Progress& progress, IPrompt* prompt) override;
  const AUI* NextAu() override;
  // The first file's values.
  bool GetStartInfo(SStartInfo& out) override;
  bool GetPtsRange(uint32_t& start, uint32_t& end) override;
  uint32_t GetPresentationStart() override;
  void FillCodingInfo(STREAM_INFO& rec, uint16_t pid) override;
  void FillStreamAttributes(SPipeAttributes& rec) override;
  const ESI* CreateEsInfo(uint16_t pid) override;
  uint64_t GetTotalBytes() override { return m_totalBytes; }

  size_t CurrentFileIndex() const { return m_fileIndex; }
  int64_t TimeOffset() const { return m_timeOffset; }

 private:
  SSourceParams WholeFile(size_t index) const;
  // The first file's context: the current one while it is open, else a
  // temporary one.
  SStreamContext* FirstFile(std::unique_ptr<SStreamContext>& temp);

  std::unique_ptr<SStreamContext> m_ctx;
  size_t m_fileIndex = 0;
  int64_t m_timeOffset = 0;  // 90 kHz, of the files already served
  int64_t m_unitsBefore = 0;  // units of the files already served
  uint64_t m_totalBytes = 0;
  bool m_ended = false;
};

}  // namespace zv

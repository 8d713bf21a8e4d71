// A pipe over one stream file, or over a main file and a second file whose
// stream shares the track's PID (a lossless stream beside its AC-3 core).
#pragma once

#include "mux/pipe.h"

namespace zv {

class CFilePipe : public CPipe {
 public:
  explicit CFilePipe(SPipeSource source) : CPipe(std::move(source)) {}
  ~CFilePipe() override;

  void Close() override;
  SStreamContext* GetSecondStream() const override { return m_second.get(); }
  int Open(const Progress& progress, IPrompt* prompt) override;
  bool IsBaseAu() const override;
  // Units of both files merged by DTS (the main file first on equal DTS),
  // then, for video and audio, one empty unit one unit duration after the
  // last served one.
  const AUI* NextAu() override;
  // With a second file, the packets of its first unit are added.
  bool GetStartInfo(SStartInfo& out) override;
  bool GetPtsRange(uint32_t& start, uint32_t& end) override;
  uint32_t GetPresentationStart() override;
  void FillCodingInfo(STREAM_INFO& rec, uint16_t pid) override;
  void FillStreamAttributes(SPipeAttributes& rec) override;
  const ESI* CreateEsInfo(uint16_t pid) override;
  uint64_t GetTotalBytes() override;

 private:
  void Reset();

  std::unique_ptr<SStreamContext> m_main;
  std::unique_ptr<SStreamContext> m_second;
  bool m_started = false;
  bool m_endServed = false;
  uint32_t m_lastPts = 0, m_lastDts = 0;
};

}  // namespace zv

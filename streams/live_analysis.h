// A stream analysed on a thread of its own while a clip is multiplexed from
// it. The parser publishes its units as their records reach the table file,
// and a stream context opened on the same path serves them as they come: the
// multiplexer copies bytes the analysis has just read, instead of reading
// the whole stream a second time after it. At the end of the stream the
// context checks what it served against the finished stream information.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/progress.h"
#include "streams/sif_data.h"

namespace zv {

struct SStreamContext;

class CLiveAnalysis {
 public:
  // Starts analysing `path`; while this object lives, OpenStream of the same
  // path (the whole stream) serves the units as they are published.
  explicit CLiveAnalysis(std::string path);
  // Stops an analysis still running and waits for its thread.
  ~CLiveAnalysis();
  CLiveAnalysis(const CLiveAnalysis&) = delete;
  CLiveAnalysis& operator=(const CLiveAnalysis&) = delete;

  // The analysis in progress for exactly this path, or null.
  static CLiveAnalysis* Find(const std::string& path);

  // Analysis thread: the records of the first `units` units are written to
  // ctx.sifFile; `auDuration` is the unit duration known so far.
  void Publish(const SStreamContext& ctx, int64_t units, double auDuration);

  // What a reader starts from: the header and record as they were at the
  // first publication.
  struct SSnapshot {
    SSifHeader header;
    std::vector<uint8_t> record;
  };
  // Waits for the first publication, reporting the analysis's progress;
  // kOk with `out` filled, kFailed when the analysis ended without one,
  // kCancelled when the callback said stop (the analysis is stopped).
  int WaitSnapshot(SSnapshot& out, const Progress& progress);
  // Waits until more than n units are published or the analysis has ended;
  // the number of units published, or -1 once the analysis has diverged.
  int64_t WaitFor(int64_t n);
  // Reads from the table file the analysis writes.
  bool ReadTable(int64_t pos, uint8_t* buf, size_t n);
  // Waits for the end: kOk, kCancelled or kFailed.
  int Wait();
  bool Ended();
  // The stream-information file the analysis left (after Wait() == kOk).
  std::string SifPath();
  // A reader found that what it served does not match the finished
  // analysis; the clip must be made again from the stream information.
  void SetDiverged();
  bool Diverged();
  // The analysis's notes and warnings (log lines) and what it showed through
  // its prompt, for the caller to pass on (after Wait()).
  const std::vector<std::string>& Notes() const { return notes_; }
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  void Run();
  static int OnProgress(void* self, const SProgressInfo* info);

  std::string path_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool published_ = false;
  bool ended_ = false;
  bool diverged_ = false;
  int result_ = 0;
  int64_t units_ = 0;
  SSnapshot snapshot_;
  std::string tablePath_;
  std::string sifPath_;
  File table_;  // opened at the first publication; stays readable through the rename
  std::atomic<bool> stop_{false};
  std::atomic<int32_t> percent_{0};
  std::vector<std::string> notes_;
  std::vector<std::string> messages_;
  std::thread thread_;
};

}  // namespace zv

#include "streams/analyse_streams.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include "platform/file.h"
#include "platform/parallel.h"
#include "streams/stream_context.h"

namespace zv {

namespace {

struct SJob {
  std::string path;
  int64_t bytes = 0;
  std::atomic<int32_t> percent{0};
  int result = kOk;
  ScriptedPrompt prompt;  // what the analysis showed, passed on from the caller's thread
  std::vector<std::string> notes;  // the analysis's log lines of notes and warnings
};

struct SShared {
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable changed;
  size_t running = 0;
};

struct SWorkerContext {
  SJob* job;
  SShared* shared;
};

int WorkerProgress(void* context, const SProgressInfo* info) {
  auto* c = static_cast<SWorkerContext*>(context);
  if (info->kind == kProgressValue) c->job->percent = std::clamp(info->value, 0, 100);
  // Notes and warnings the analysis logs are passed on later; its other
  // items (file names, actions) belong to the combined progress.
  if (info->kind == kProgressItem && IsAnalysisNote(info->item)) c->job->notes.push_back(info->item);
  return c->shared->stop ? 0 : 1;
}

}  // namespace

bool IsAnalysisNote(const std::string& item) { return item.rfind("note: ", 0) == 0 || item.rfind("warning: ", 0) == 0; }

int AnalyseStreams(const std::vector<std::string>& paths, const Progress& progress, IPrompt* prompt,
                   bool together) {
  std::vector<std::unique_ptr<SJob>> jobs;
  std::set<std::string> seen;
  int64_t total = 0;
  for (const std::string& p : paths) {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(p, ec);
    if (!seen.insert(ec ? p : canonical.string()).second) continue;
    auto job = std::make_unique<SJob>();
    job->path = p;
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      job->bytes = static_cast<int64_t>(st.st_size);
    } else {
      // A container's track: its length comes from the container's index
      // (opening reads nothing of the track yet).
      File f;
      if (f.Open(p, File::kRead)) job->bytes = std::max<int64_t>(0, f.Length());
    }
    total += job->bytes;
    jobs.push_back(std::move(job));
  }
  SShared shared;
  shared.running = jobs.size();
  // Every analysis runs on a thread of its own (each is one sequential read
  // of its file), while this thread reports their progress and passes a
  // stop on.
  std::thread runner([&] {
    try {
      ParallelFor(jobs.size(), [&](size_t i) {
        SJob& job = *jobs[i];
        SWorkerContext context{&job, &shared};
        SSourceParams params;
        params.path = job.path;
        SStreamContext ctx;
        job.result = OpenStream(params, ctx, Progress{&WorkerProgress, &context}, &job.prompt);
        ctx.Close();
        job.percent = 100;
        std::lock_guard<std::mutex> lock(shared.mutex);
        --shared.running;
        shared.changed.notify_all();
      }, together ? jobs.size() : 0);
    } catch (...) {
      // Out of memory for a thread's own state: the files are opened one by
      // one later and fail there with their messages.
      std::lock_guard<std::mutex> lock(shared.mutex);
      for (auto& job : jobs)
        if (job->percent < 100) job->result = kFailed;
      shared.running = 0;
      shared.changed.notify_all();
    }
  });
  // The first report comes at once, so a stop asked for at the start is
  // seen before much is read.
  int32_t shown = 0;
  if (!progress.Value(0)) shared.stop = true;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(shared.mutex);
      shared.changed.wait_for(lock, std::chrono::milliseconds(100));
      if (shared.running == 0) break;
    }
    double done = 0;
    for (const auto& job : jobs) done += static_cast<double>(job->bytes) * job->percent / 100.0;
    const auto percent = static_cast<int32_t>(total > 0 ? done * 100 / static_cast<double>(total) : 0);
    if (percent != shown && !shared.stop) {
      shown = percent;
      if (!progress.Value(percent)) shared.stop = true;
    }
  }
  runner.join();
  if (shared.stop) return kCancelled;
  int result = kOk;
  for (const auto& job : jobs) {
    if (job->result == kCancelled) return kCancelled;
    if (job->result != kOk) {
      result = kFailed;
      continue;
    }
    for (const std::string& n : job->notes) progress.Item(n);
    if (prompt)
      for (const std::string& m : job->prompt.messages) prompt->Message(m);
  }
  return result;
}

}  // namespace zv

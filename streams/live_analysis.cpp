#include "streams/live_analysis.h"

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/archive_io.h"
#include "streams/analyse_streams.h"
#include "streams/stream_context.h"

namespace zv {

namespace {

std::mutex g_registryMutex;
std::map<std::string, CLiveAnalysis*>& Registry() {
  static std::map<std::string, CLiveAnalysis*> r;
  return r;
}

}  // namespace

CLiveAnalysis::CLiveAnalysis(std::string path) : path_(std::move(path)) {
  {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    Registry()[path_] = this;
  }
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (...) {
    // No thread: readers find the analysis ended without units and analyse
    // the stream themselves.
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = true;
    result_ = kFailed;
  }
}

CLiveAnalysis::~CLiveAnalysis() {
  {
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto it = Registry().find(path_);
    if (it != Registry().end() && it->second == this) Registry().erase(it);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

CLiveAnalysis* CLiveAnalysis::Find(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_registryMutex);
  auto it = Registry().find(path);
  return it == Registry().end() ? nullptr : it->second;
}

int CLiveAnalysis::OnProgress(void* self, const SProgressInfo* info) {
  auto* me = static_cast<CLiveAnalysis*>(self);
  if (info->kind == kProgressValue) me->percent_ = std::clamp(info->value, 0, 100);
  // Notes and warnings are passed on later; file names and actions belong
  // to the caller's own progress.
  if (info->kind == kProgressItem && IsAnalysisNote(info->item)) me->notes_.push_back(info->item);
  return me->stop_ ? 0 : 1;
}

void CLiveAnalysis::Run() {
  int result = kFailed;
  std::string sifPath;
  ScriptedPrompt prompt;  // what the analysis shows, passed on from the caller's thread
  try {
    SStreamContext ctx;
    ctx.publishTo = this;
    SSourceParams params;
    params.path = path_;
    result = OpenStream(params, ctx, Progress{&CLiveAnalysis::OnProgress, this}, &prompt);
    sifPath = ctx.sifPath;
  } catch (...) {
    // Out of memory: the stream is opened again the ordinary way, which says
    // what fails.
    result = kFailed;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  messages_ = std::move(prompt.messages);
  sifPath_ = std::move(sifPath);
  result_ = result;
  ended_ = true;
  changed_.notify_all();
}

void CLiveAnalysis::Publish(const SStreamContext& ctx, int64_t units, double auDuration) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!published_) {
    // Opened while the file surely exists under this name; the descriptor
    // keeps it readable when it is renamed at the end.
    if (!ctx.sif || !table_.Open(ctx.sifFile.Path(), File::kRead)) return;
    snapshot_.header = ctx.header;
    snapshot_.header.auDuration = auDuration;
    ArchiveOut record;
    ctx.sif->Save(record);
    snapshot_.record = record.Bytes();
    tablePath_ = ctx.sifFile.Path();
    published_ = true;
  } else if (ctx.sifFile.Path() != tablePath_) {
    // The analysis started over in another file (the first could not be
    // written): what was read from the first is not to be trusted.
    diverged_ = true;
    changed_.notify_all();
  }
  units_ = units;
  changed_.notify_all();
}

int CLiveAnalysis::WaitSnapshot(SSnapshot& out, const Progress& progress) {
  std::unique_lock<std::mutex> lock(mutex_);
  int32_t shown = -1;
  while (!published_ && !ended_) {
    changed_.wait_for(lock, std::chrono::milliseconds(100));
    const int32_t percent = percent_;
    if (percent != shown) {
      shown = percent;
      lock.unlock();
      const bool go = progress.Value(percent);
      lock.lock();
      if (!go) {
        stop_ = true;
        return kCancelled;
      }
    }
  }
  if (!published_) return kFailed;
  out = snapshot_;
  return kOk;
}

int64_t CLiveAnalysis::WaitFor(int64_t n) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return units_ > n || ended_ || diverged_; });
  return diverged_ ? -1 : units_;
}

bool CLiveAnalysis::ReadTable(int64_t pos, uint8_t* buf, size_t n) {
  // Read concurrently with the analysis's writes behind it; the descriptor
  // is not changed once open.
  return table_.IsOpen() && table_.ReadExactAtShared(pos, buf, n) == 0;
}

int CLiveAnalysis::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ended_; });
  return result_;
}

bool CLiveAnalysis::Ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  return ended_;
}

std::string CLiveAnalysis::SifPath() {
  std::lock_guard<std::mutex> lock(mutex_);
  return sifPath_;
}

void CLiveAnalysis::SetDiverged() {
  std::lock_guard<std::mutex> lock(mutex_);
  diverged_ = true;
  changed_.notify_all();
}

bool CLiveAnalysis::Diverged() {
  std::lock_guard<std::mutex> lock(mutex_);
  return diverged_;
}

}  // namespace zv

// One background thread that runs one job at a time for its owner: reads
// ahead and writes behind reuse it for every block instead of starting a
// thread per block.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace zv {

class CWorker {
 public:
  CWorker() = default;
  ~CWorker() {
    Wait();
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
      }
      wake_.notify_all();
      thread_.join();
    }
  }
  CWorker(const CWorker&) = delete;
  CWorker& operator=(const CWorker&) = delete;

  // Runs `job` in the background; a job started before must have been
  // waited for. Without a thread to be had it runs here and now.
  void Start(std::function<int64_t()> job) {
    if (!thread_.joinable()) {
      try {
        thread_ = std::thread([this] { Loop(); });
      } catch (const std::system_error&) {
        result_ = Run(job);
        state_ = State::kDone;
        started_ = true;
        return;
      }
    }
    started_ = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = std::move(job);
      state_ = State::kQueued;
    }
    wake_.notify_all();
  }

  // A job was started and not yet waited for.
  bool Pending() const { return started_; }

  // The started job's result once it has ended; -1 when none was started.
  int64_t Wait() {
    if (!started_) return -1;
    started_ = false;
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return state_ == State::kDone; });
    state_ = State::kIdle;
    return result_;
  }

 private:
  enum class State { kIdle, kQueued, kDone };

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return quit_ || state_ == State::kQueued; });
      if (state_ != State::kQueued) return;
      std::function<int64_t()> job = std::move(job_);
      lock.unlock();
      const int64_t r = Run(job);
      lock.lock();
      result_ = r;
      state_ = State::kDone;
      done_.notify_all();
    }
  }

  // A job that throws counts as failed.
  static int64_t Run(const std::function<int64_t()>& job) {
    try {
      return job();
    } catch (...) {
      return -1;
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::function<int64_t()> job_;
  int64_t result_ = -1;
  State state_ = State::kIdle;
  bool quit_ = false;
  bool started_ = false;  // owner's side: a job awaits Wait
  std::thread thread_;
};

}  // namespace zv

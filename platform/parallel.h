// Runs independent jobs on the machine's cores: the calling thread takes its
// share, so one core (or no thread to be had) runs them all in order here.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zv {

// Threads worth starting for `jobs` jobs.
inline size_t ParallelWidth(size_t jobs) {
  const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min(jobs, cores);
}

// Calls job(i) for every i below `count`, each once, on up to ParallelWidth
// threads, and returns when all have ended. The first exception a job
// throws is thrown here once the others have ended; jobs not yet started
// are then skipped.
// `width` (0: ParallelWidth) sets how many threads run; more than the cores
// is for jobs that must run at the same time, as readers of one shared
// source do.
inline void ParallelFor(size_t count, const std::function<void(size_t)>& job, size_t width = 0) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorMutex;
  auto work = [&] {
    for (size_t i; !failed && (i = next++) < count;) {
      try {
        job(i);
      } catch (...) {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!error) error = std::current_exception();
        failed = true;
      }
    }
  };
  std::vector<std::thread> helpers;
  const size_t threads = width ? std::min(width, count) : ParallelWidth(count);
  for (size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads there are (and this one) do the rest
    }
  }
  work();
  for (std::thread& h : helpers) h.join();
  if (error) std::rethrow_exception(error);
}

}  // namespace zv

// The pool on plain std::thread, for ThreadSanitizer builds: the system's
// TBB is not instrumented, so under TSan its hand-over of work between
// threads looks like a race on every shared read. Threads started and
// joined per call are handovers TSan sees.

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "eval/thread_pool.h"

namespace quarn {

std::size_t pool_concurrency() {
  static const std::size_t n = [] {
    const std::size_t env = threads_from_env(std::getenv("RAYON_NUM_THREADS"));
    return env ? env : std::max<std::size_t>(2, std::thread::hardware_concurrency());
  }();
  return n;
}

void parallel_for(std::size_t begin, std::size_t end, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body) {
  if (begin >= end) return;
  if (grain == 0) grain = 1;
  const std::size_t pieces = (end - begin + grain - 1) / grain;
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t p; (p = next.fetch_add(1)) < pieces;) {
      const std::size_t lo = begin + p * grain;
      body(lo, std::min(end, lo + grain));
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t i = 1; i < std::min(pool_concurrency(), pieces); ++i) threads.emplace_back(work);
  work();
  for (std::thread& t : threads) t.join();
}

void run_beside(std::size_t helpers, const std::function<void()>& helper, const std::function<void()>& own) {
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto keep = [&](const std::function<void()>& f) {
    try {
      f();
    } catch (...) {
      const std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t k = 0; k < std::min(helpers, pool_concurrency() - 1); ++k)
    threads.emplace_back(keep, std::cref(helper));
  keep(own);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace quarn

#pragma once

#include <cstddef>
#include <functional>

namespace quarn {

/// The one process-wide pool of worker threads, created on first use. Its
/// concurrency is the number of logical processors, or the positive number in
/// the environment variable RAYON_NUM_THREADS (callers already set it for
/// other data-parallel libraries).
std::size_t pool_concurrency();

/// Runs `body(lo, hi)` over pieces of begin .. end-1 on the pool and returns
/// when all are done. Pieces are contiguous, disjoint and cover the range; a
/// piece is split further only while longer than `grain`. They may run in any
/// order and on any worker, so `body` must only read shared data.
void parallel_for(std::size_t begin, std::size_t end, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body);

/// Runs `helper()` on up to `helpers` pool threads while the calling thread
/// runs `own()`, and returns when every one has returned. Helpers may start
/// late or not at all (a busy or one-thread pool), so `own` must be able to
/// finish the work alone. An exception from any of them is rethrown here.
void run_beside(std::size_t helpers, const std::function<void()>& helper, const std::function<void()>& own);

/// Concurrency asked for by a RAYON_NUM_THREADS value: the number when it is
/// a positive decimal (at most 4096), else 0 (use the default).
std::size_t threads_from_env(const char* value);

}  // namespace quarn

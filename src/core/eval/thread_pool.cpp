#include "eval/thread_pool.h"

#include <cstdlib>
#include <exception>
#include <string_view>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "signal/signal_value.h"

namespace quarn {

namespace {

tbb::task_arena& arena() {
  // Function-local static: created by the first caller, thread-safe.
  static tbb::task_arena pool = [] {
    const std::size_t n = threads_from_env(std::getenv("RAYON_NUM_THREADS"));
    return n ? tbb::task_arena(static_cast<int>(n)) : tbb::task_arena();
  }();
  return pool;
}

}  // namespace

std::size_t threads_from_env(const char* value) {
  if (value == nullptr) return 0;
  const auto n = parse_decimal_u64(std::string_view(value));
  if (!n || *n == 0) return 0;
  return *n > 4096 ? 4096 : static_cast<std::size_t>(*n);
}

std::size_t pool_concurrency() { return static_cast<std::size_t>(arena().max_concurrency()); }

void parallel_for(std::size_t begin, std::size_t end, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body) {
  if (begin >= end) return;
  if (grain == 0) grain = 1;
  arena().execute([&] {
    tbb::parallel_for(tbb::blocked_range<std::size_t>(begin, end, grain),
                      [&](const tbb::blocked_range<std::size_t>& r) { body(r.begin(), r.end()); });
  });
}

void run_beside(std::size_t helpers, const std::function<void()>& helper, const std::function<void()>& own) {
  arena().execute([&] {
    tbb::task_group group;
    for (std::size_t k = 0; k < helpers; ++k) group.run([&] { helper(); });
    // The group must be waited for before it goes, even when `own` throws.
    std::exception_ptr failure;
    try {
      own();
    } catch (...) {
      failure = std::current_exception();
    }
    group.wait();
    if (failure) std::rethrow_exception(failure);
  });
}

}  // namespace quarn

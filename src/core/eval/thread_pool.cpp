#include "eval/thread_pool.h"

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <new>
#include <stdexcept>

#include "eval/pool_source.h"

namespace quarn {

namespace {

// Without a pool the work runs where it is asked for.
size_t one_thread() { return 1; }
int run_here(size_t begin, size_t end, size_t, QuarnRangeTask task, void* context) {
  task(context, begin, end);
  return kQuarnPoolOk;
}
int run_own(size_t, QuarnTask, QuarnTask own, void* context) {
  own(context);
  return kQuarnPoolOk;
}
constexpr QuarnPool kNoPool{one_thread, run_here, run_own};

const QuarnPool& pool() {
  // Function-local static: found by the first caller, thread-safe.
  static const QuarnPool* found = [] {
    const QuarnPool* p = find_pool(threads_from_env(std::getenv("RAYON_NUM_THREADS")));
    return p ? p : &kNoPool;
  }();
  return *found;
}

// The first exception of a call's tasks, rethrown by the caller once all
// have returned.
struct Failure {
  std::atomic<bool> failed{false};
  std::mutex lock;
  std::exception_ptr first;

  template <class F>
  void run(F&& f) noexcept {
    try {
      f();
    } catch (...) {
      const std::lock_guard<std::mutex> hold(lock);
      if (!first) first = std::current_exception();
      failed.store(true, std::memory_order_relaxed);
    }
  }
  void rethrow() const {
    if (first) std::rethrow_exception(first);
  }
};

struct RangeCall {
  const std::function<void(std::size_t, std::size_t)>& body;
  Failure failure;
};

struct BesideCall {
  const std::function<void()>& helper;
  const std::function<void()>& own;
  Failure failure;
};

void throw_pool_failure(int code) {
  if (code == kQuarnPoolNoMemory) throw std::bad_alloc();
  if (code != kQuarnPoolOk) throw std::runtime_error("thread pool failed");
}

}  // namespace

std::size_t pool_concurrency() { return pool().concurrency(); }

void parallel_for(std::size_t begin, std::size_t end, std::size_t grain,
                  const std::function<void(std::size_t, std::size_t)>& body) {
  if (begin >= end) return;
  if (grain == 0) grain = 1;
  RangeCall call{body, {}};
  const QuarnRangeTask task = [](void* c, std::size_t lo, std::size_t hi) {
    auto& call = *static_cast<RangeCall*>(c);
    // Pieces after a failure are skipped: the call fails anyway.
    if (!call.failure.failed.load(std::memory_order_relaxed)) call.failure.run([&] { call.body(lo, hi); });
  };
  const int code = pool().parallel_for(begin, end, grain, task, &call);
  call.failure.rethrow();
  throw_pool_failure(code);
}

void run_beside(std::size_t helpers, const std::function<void()>& helper, const std::function<void()>& own) {
  BesideCall call{helper, own, {}};
  const QuarnTask helper_task = [](void* c) {
    auto& call = *static_cast<BesideCall*>(c);
    call.failure.run(call.helper);
  };
  const QuarnTask own_task = [](void* c) {
    auto& call = *static_cast<BesideCall*>(c);
    call.failure.run(call.own);
  };
  // A pool that could not start the helpers has still run `own`, which can
  // finish the work alone.
  pool().run_beside(helpers, helper_task, own_task, &call);
  call.failure.rethrow();
}

}  // namespace quarn

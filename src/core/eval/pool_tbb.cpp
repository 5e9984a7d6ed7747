// The pool on oneTBB: one task arena for the process.

#include <new>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include "eval/pool_abi.h"

namespace {

tbb::task_arena& arena(size_t threads = 0) {
  // Made by the first caller (quarn_pool), thread-safe.
  static tbb::task_arena pool = threads ? tbb::task_arena(static_cast<int>(threads)) : tbb::task_arena();
  return pool;
}

size_t concurrency() {
  try {
    return static_cast<size_t>(arena().max_concurrency());
  } catch (...) {
    return 1;
  }
}

int parallel_for(size_t begin, size_t end, size_t grain, QuarnRangeTask task, void* context) {
  try {
    arena().execute([&] {
      tbb::parallel_for(tbb::blocked_range<size_t>(begin, end, grain),
                        [&](const tbb::blocked_range<size_t>& r) { task(context, r.begin(), r.end()); });
    });
    return kQuarnPoolOk;
  } catch (const std::bad_alloc&) {
    return kQuarnPoolNoMemory;
  } catch (...) {
    return kQuarnPoolFailed;
  }
}

int run_beside(size_t helpers, QuarnTask helper, QuarnTask own, void* context) {
  int code = kQuarnPoolOk;
  bool own_ran = false;
  try {
    arena().execute([&] {
      tbb::task_group group;
      try {
        for (size_t k = 0; k < helpers; ++k) group.run([=] { helper(context); });
      } catch (const std::bad_alloc&) {
        code = kQuarnPoolNoMemory;  // the helpers started still help
      }
      own_ran = true;
      own(context);
      group.wait();
    });
  } catch (const std::bad_alloc&) {
    code = kQuarnPoolNoMemory;
  } catch (...) {
    code = kQuarnPoolFailed;
  }
  if (!own_ran) own(context);
  return code;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const QuarnPool* quarn_pool(size_t threads) {
  static const QuarnPool pool{concurrency, parallel_for, run_beside};
  try {
    arena(threads);
  } catch (...) {
    return nullptr;
  }
  return &pool;
}

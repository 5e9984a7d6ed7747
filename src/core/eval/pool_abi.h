#pragma once

// The thread pool behind a C interface, so that it can live in a library of
// its own, loaded on first use: a trace opened for a few signals then never
// maps the pool or the C++ runtime it brings. Nothing thrown crosses this
// interface: tasks must not throw, and the pool reports its own failures as
// codes.

#include <stddef.h>

extern "C" {

/// Runs part lo .. hi-1 of a range.
typedef void (*QuarnRangeTask)(void* context, size_t lo, size_t hi);
typedef void (*QuarnTask)(void* context);

enum { kQuarnPoolOk = 0, kQuarnPoolNoMemory = 1, kQuarnPoolFailed = 2 };

struct QuarnPool {
  /// Threads that run tasks at once, the caller's included.
  size_t (*concurrency)(void);
  /// Runs `task` over pieces of begin .. end-1 (split while longer than
  /// `grain`) and returns once every piece ran; a failure code means some
  /// pieces may not have run.
  int (*parallel_for)(size_t begin, size_t end, size_t grain, QuarnRangeTask task, void* context);
  /// Starts `helper` on up to `helpers` pool threads, runs `own` on the
  /// caller's, and returns when all have returned. `own` runs even when the
  /// pool fails (the code says so); helpers may then not run at all.
  int (*run_beside)(size_t helpers, QuarnTask helper, QuarnTask own, void* context);
};

/// The pool, made by the first call: `threads` threads, or one per logical
/// processor when 0; later calls return it as made. Null when it cannot be
/// made.
const QuarnPool* quarn_pool(size_t threads);

}  // extern "C"

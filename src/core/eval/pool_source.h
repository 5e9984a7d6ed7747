#pragma once

#include <cstddef>

#include "eval/pool_abi.h"

namespace quarn {

/// The pool `parallel_for` and `run_beside` run on, made with `threads`
/// threads (0: one per logical processor); null when there is none to be
/// had, and the work then runs on the calling thread. The build links one
/// source: the pool itself, or a loader of the pool's own library.
const QuarnPool* find_pool(std::size_t threads);

}  // namespace quarn

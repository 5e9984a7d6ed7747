#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "signal/types.h"
#include "signal/value_view.h"

namespace quarn {

struct Expr;
class Trace;

/// Indices 0 .. max_index (both included) at which `eval_bool` of `expr` is
/// true, ascending. Runs on the calling thread.
std::vector<Index> find(const Trace& trace, const Expr& expr);

/// The same indices as `find`, computed on the process-wide pool.
std::vector<Index> parallel_find(const Trace& trace, const Expr& expr);

/// The indices of `find` in ascending parts of a few thousand, each handed
/// to `take(part)` as soon as it is found, so that none are gathered first.
/// Runs on the calling thread. When `take` returns false, no further part is
/// handed over.
void find_parts(const Trace& trace, const Expr& expr, const std::function<bool(std::span<const Index>)>& take);

/// The indices of `parallel_find` in ascending parts, each handed to
/// `take(part)` on the calling thread as soon as it and every part before it
/// are found, while the pool searches the parts after it: the caller can
/// convert one part while the next are searched. When `take` returns false
/// no further part is handed over (parts in flight still finish first).
void parallel_find_parts(const Trace& trace, const Expr& expr,
                         const std::function<bool(std::span<const Index>)>& take);

/// The number of indices `find` would return, computed on the pool without
/// building the list.
std::uint64_t parallel_count(const Trace& trace, const Expr& expr);

/// Matches of `find`, each with the values of some signals there.
struct FoundValues {
  std::vector<Index> indices;
  /// Row-major: `ids.size()` values per match, in the order of `ids`. Views
  /// point into the trace and stay valid while it lives.
  std::vector<ValueView> values;
};

/// One pass of `find` that also reads, at every match, the value of each id
/// (Empty for an absent id). Runs on the calling thread.
FoundValues find_with_values(const Trace& trace, const Expr& expr, std::span<const std::optional<SignalId>> ids);

}  // namespace quarn

#include "eval/find.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>

#include "eval/block_eval.h"
#include "eval/program.h"
#include "eval/thread_pool.h"
#include "signal/column.h"
#include "trace/trace.h"

namespace quarn {

namespace {

// Pieces handed to the pool: long enough that set-up is noise, many enough
// that an idle worker can take over some.
constexpr Index kMinPiece = std::uint64_t{64} * kLanes;
constexpr Index kPiecesPerWorker = 8;

// The longest uniform span handed to a sink at once, so that a length always
// fits a size_t.
constexpr WideIndex kMaxSpan = WideIndex{1} << 62;

// Evaluates indices first .. last (inclusive), handing each piece's truth to
// `sink(start, truth, n, uniform)`: spans where no operand changes (or a root
// guard stays falsy) as one uniform piece of any length, the rest in windows.
template <class Sink>
void scan(BlockEvaluator& ev, Index first, Index last, Sink&& sink) {
  Index start = first;
  while (true) {
    const Index left = last - start;  // lanes after `start`
    const WideIndex steady = ev.steady_span(start, std::min(static_cast<WideIndex>(left) + 1, kMaxSpan));
    if (steady != 0) {
      sink(start, ev.truth(), static_cast<std::size_t>(steady), true);
      if (static_cast<WideIndex>(left) < steady) return;
      start += static_cast<Index>(steady);
      continue;
    }
    const std::size_t n = left >= kLanes - 1 ? kLanes : static_cast<std::size_t>(left) + 1;
    ev.run(start, n);
    sink(start, ev.truth(), n, ev.result_uniform());
    if (left < n) return;
    start += n;
  }
}

// For each 8-bit pattern, the positions of its set bits, lowest first, and
// how many there are (the baseline instruction set has no popcount).
struct BitPositions {
  std::uint8_t at[256][8];
  std::uint8_t count[256];
  constexpr BitPositions() : at{}, count{} {
    for (unsigned m = 0; m < 256; ++m) {
      unsigned k = 0;
      for (unsigned b = 0; b < 8; ++b)
        if (m >> b & 1) at[m][k++] = static_cast<std::uint8_t>(b);
      count[m] = static_cast<std::uint8_t>(k);
    }
  }
};
constexpr BitPositions kBitPositions;

void collect(std::vector<Index>& out, Index start, const std::uint64_t* t, std::size_t n, bool uniform) {
  if (uniform) {
    if (!t[0]) return;
    for (std::size_t j = 0; j < n; ++j) out.push_back(start + j);
    return;
  }
  // Eight lanes at a time: all eight slots are written, as many kept as are
  // true, so no branch depends on the data and no lane waits on the last.
  Index picked[kLanes + 8];
  std::size_t count = 0, j = 0;
  for (; j + 8 <= n; j += 8) {
    unsigned m = 0;
    for (unsigned b = 0; b < 8; ++b) m |= static_cast<unsigned>(t[j + b]) << b;
    const std::uint8_t* at = kBitPositions.at[m];
    for (unsigned b = 0; b < 8; ++b) picked[count + b] = start + j + at[b];
    count += kBitPositions.count[m];
  }
  for (; j < n; ++j) {
    picked[count] = start + j;
    count += t[j];
  }
  out.insert(out.end(), picked, picked + count);
}

std::uint64_t count_of(const std::uint64_t* t, std::size_t n, bool uniform) {
  if (uniform) return t[0] ? n : 0;
  std::uint64_t c = 0;
  for (std::size_t j = 0; j < n; ++j) c += t[j];
  return c;
}

struct Pieces {
  Index size;
  std::size_t count;
  Index first(std::size_t p) const { return static_cast<Index>(p) * size; }
  Index last(std::size_t p, Index max_index) const {
    const Index lo = first(p);
    return max_index - lo < size - 1 ? max_index : lo + size - 1;
  }
};

Pieces split(Index max_index) {
  const unsigned __int128 total = static_cast<unsigned __int128>(max_index) + 1;
  const unsigned __int128 want = static_cast<unsigned __int128>(pool_concurrency()) * kPiecesPerWorker;
  unsigned __int128 size = (total + want - 1) / want;
  size = (size + kLanes - 1) / kLanes * kLanes;  // whole windows
  if (size < kMinPiece) size = kMinPiece;
  return {static_cast<Index>(size), static_cast<std::size_t>((total + size - 1) / size)};
}

}  // namespace

std::vector<Index> find(const Trace& trace, const Expr& expr) {
  const Program program = compile(trace, expr);
  BlockEvaluator ev(program);
  std::vector<Index> out;
  scan(ev, 0, program.max_index,
       [&](Index start, const std::uint64_t* t, std::size_t n, bool u) { collect(out, start, t, n, u); });
  return out;
}

void find_parts(const Trace& trace, const Expr& expr, const std::function<bool(std::span<const Index>)>& take) {
  // Large enough that handing a part over is noise, small enough to stay in
  // the first cache levels.
  constexpr std::size_t kPart = 4096;
  const Program program = compile(trace, expr);
  BlockEvaluator ev(program);
  std::vector<Index> part;
  part.reserve(kPart + kLanes);
  bool more = true;
  auto hand_over = [&] {
    more = take(part);
    part.clear();
  };
  scan(ev, 0, program.max_index, [&](Index start, const std::uint64_t* t, std::size_t n, bool u) {
    if (!more) return;
    if (!u) {
      collect(part, start, t, n, false);
      if (part.size() >= kPart) hand_over();
      return;
    }
    if (!t[0]) return;
    // A long true stretch goes over in parts too.
    for (std::size_t j = 0; j < n && more; ++j) {
      part.push_back(start + j);
      if (part.size() >= kPart) hand_over();
    }
  });
  if (more && !part.empty()) take(part);
}

std::vector<Index> parallel_find(const Trace& trace, const Expr& expr) {
  const Program program = compile(trace, expr);
  const Index max_index = program.max_index;
  if (max_index < kMinPiece) return find(trace, expr);
  const Pieces pieces = split(max_index);
  std::vector<std::vector<Index>> found(pieces.count);
  parallel_for(0, pieces.count, 1, [&](std::size_t lo, std::size_t hi) {
    BlockEvaluator ev(program);
    for (std::size_t p = lo; p < hi; ++p) {
      scan(ev, pieces.first(p), pieces.last(p, max_index),
           [&](Index start, const std::uint64_t* t, std::size_t n, bool u) { collect(found[p], start, t, n, u); });
    }
  });
  // Pieces are disjoint and ascending, so joining them in order keeps the
  // result sorted.
  std::size_t total = 0;
  for (const auto& f : found) total += f.size();
  std::vector<Index> out;
  out.reserve(total);
  for (auto& f : found) {
    out.insert(out.end(), f.begin(), f.end());
    std::vector<Index>().swap(f);
  }
  return out;
}

void parallel_find_parts(const Trace& trace, const Expr& expr,
                         const std::function<bool(std::span<const Index>)>& take) {
  const Program program = compile(trace, expr);
  const Index max_index = program.max_index;
  if (max_index < kMinPiece || pool_concurrency() < 2) {
    take(find(trace, expr));
    return;
  }
  const Pieces pieces = split(max_index);
  std::vector<std::vector<Index>> found(pieces.count);
  // ready[p] turns 1 once found[p] is complete; the release store publishes it.
  const std::unique_ptr<std::atomic<int>[]> ready(new std::atomic<int>[pieces.count]);
  for (std::size_t p = 0; p < pieces.count; ++p) ready[p].store(0, std::memory_order_relaxed);
  // Pieces are claimed in ascending order, so each evaluator moves forward.
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  // A piece that fails still turns ready, so that the caller never waits on
  // it; the caller rethrows the failure instead of taking the piece.
  std::mutex failure_lock;
  std::exception_ptr failure;
  auto search = [&](BlockEvaluator& ev, std::size_t p) {
    try {
      scan(ev, pieces.first(p), pieces.last(p, max_index),
           [&](Index start, const std::uint64_t* t, std::size_t n, bool u) { collect(found[p], start, t, n, u); });
    } catch (...) {
      const std::lock_guard<std::mutex> hold(failure_lock);
      if (!failure) failure = std::current_exception();
      stop.store(true, std::memory_order_relaxed);
    }
    ready[p].store(1, std::memory_order_release);
    ready[p].notify_one();
  };
  auto claim = [&]() -> std::optional<std::size_t> {
    if (stop.load(std::memory_order_relaxed)) return std::nullopt;
    const std::size_t p = next.fetch_add(1, std::memory_order_relaxed);
    if (p >= pieces.count) return std::nullopt;
    return p;
  };
  auto helper = [&] {
    BlockEvaluator ev(program);
    while (const auto p = claim()) search(ev, *p);
  };
  auto own = [&] {
    std::optional<BlockEvaluator> ev;  // only if this thread has to search too
    for (std::size_t k = 0; k < pieces.count; ++k) {
      while (!ready[k].load(std::memory_order_acquire)) {
        if (const auto p = claim()) {
          if (!ev) ev.emplace(program);
          search(*ev, *p);
        } else {
          ready[k].wait(0, std::memory_order_acquire);  // a helper has piece k
        }
      }
      {
        const std::lock_guard<std::mutex> hold(failure_lock);
        if (failure) std::rethrow_exception(failure);
      }
      const bool more = take(found[k]);
      std::vector<Index>().swap(found[k]);
      if (!more) {
        stop.store(true, std::memory_order_relaxed);
        return;
      }
    }
  };
  run_beside(pool_concurrency() - 1, helper, own);
}

std::uint64_t parallel_count(const Trace& trace, const Expr& expr) {
  const Program program = compile(trace, expr);
  const Index max_index = program.max_index;
  auto count_range = [&](BlockEvaluator& ev, Index first, Index last) {
    std::uint64_t c = 0;
    scan(ev, first, last, [&](Index, const std::uint64_t* t, std::size_t n, bool u) { c += count_of(t, n, u); });
    return c;
  };
  if (max_index < kMinPiece) {
    BlockEvaluator ev(program);
    return count_range(ev, 0, max_index);
  }
  const Pieces pieces = split(max_index);
  std::vector<std::uint64_t> counts(pieces.count, 0);
  parallel_for(0, pieces.count, 1, [&](std::size_t lo, std::size_t hi) {
    BlockEvaluator ev(program);
    for (std::size_t p = lo; p < hi; ++p) counts[p] = count_range(ev, pieces.first(p), pieces.last(p, max_index));
  });
  std::uint64_t total = 0;
  for (std::uint64_t c : counts) total += c;
  return total;
}

FoundValues find_with_values(const Trace& trace, const Expr& expr, std::span<const std::optional<SignalId>> ids) {
  FoundValues r;
  r.indices = find(trace, expr);
  std::vector<ColumnCursor> cursors;
  cursors.reserve(ids.size());
  for (const auto& id : ids) cursors.emplace_back(id ? trace.column(*id) : nullptr);
  r.values.reserve(r.indices.size() * ids.size());
  // Matches ascend, so each cursor only moves forward.
  for (Index i : r.indices)
    for (auto& c : cursors) r.values.push_back(c.at(i));
  return r;
}

}  // namespace quarn

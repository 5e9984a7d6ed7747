#include "eval/cycle_trace.h"

#include <algorithm>

#include "eval/segments.h"
#include "eval/value_ops.h"

namespace quarn {

namespace {

enum class Level { Low, High, Other };

Level level_of(const ValueView& v) {
  std::uint64_t b = 0;
  if (!view_lsb(v, b)) return Level::Other;
  return b ? Level::High : Level::Low;
}

// The sampled column: cycle k holds the base value at edges[k] (after) or
// edges[k]-1 (before; nothing before index 0). Walks the base runs and jumps
// over the cycles each covers, so the cost follows changes, not cycles.
std::unique_ptr<Column> sample_column(const Column* base, const std::vector<Index>& edges, SampleAt sample) {
  auto out = std::make_unique<Column>();
  const std::size_t n = edges.size();
  if (n == 0) return out;
  const Index lag = sample == SampleAt::Before ? 1 : 0;
  ColumnCursor cursor(base);
  // Before-sampling reads nothing at an edge on index 0.
  std::size_t k = lag == 1 && edges[0] == 0 ? 1 : 0;
  while (k < n && base != nullptr) {
    const Index src = edges[k] - lag;
    const ValueView v = cursor.at(src);
    const Index change = cursor.next_change(src);
    if (v.tag != ValueTag::Empty) out->record_change(k, v);
    if (change == std::numeric_limits<Index>::max()) break;
    // First cycle whose source index reaches the next change.
    k = static_cast<std::size_t>(std::lower_bound(edges.begin() + static_cast<std::ptrdiff_t>(k) + 1, edges.end(),
                                                  change + lag) -
                                 edges.begin());
  }
  if (out->length() > 0) out->hold_through(n - 1);
  out->shrink_to_fit();
  return out;
}

}  // namespace

std::vector<Index> clock_edges(const Trace& trace, SignalId clock, ClockEdge edge, Index first, Index end) {
  std::vector<Index> edges;
  const Column* c = trace.column(clock);
  if (c == nullptr) return edges;
  Level prev = Level::Other;
  for_each_segment(c, std::min(end, c->length()), [&](Index start, Index, const ValueView& v) {
    const Level now = level_of(v);
    const bool rise = now == Level::High && prev != Level::High;
    const bool fall = now == Level::Low && prev != Level::Low;
    prev = now;
    if (start < first) return;
    if ((rise && edge != ClockEdge::Fall) || (fall && edge != ClockEdge::Rise)) edges.push_back(start);
  });
  return edges;
}

CycleTrace::CycleTrace(std::shared_ptr<const Trace> base, std::vector<Index> edges, SampleAt sample)
    : base_(std::move(base)), edges_(std::move(edges)), sample_(sample) {
  times_.reserve(edges_.size());
  for (Index e : edges_) times_.push_back(base_->timestamp(e));
}

Time CycleTrace::timestamp(Index cycle) const { return cycle < times_.size() ? times_[cycle] : 0; }

const Column* CycleTrace::column(SignalId id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = columns_.find(id);
  if (it == columns_.end()) {
    const Column* base = base_->column(id);
    it = columns_.emplace(id, base == nullptr ? nullptr : sample_column(base, edges_, sample_)).first;
  }
  return it->second.get();
}

SignalValue CycleTrace::signal_value_by_id(SignalId id, Index cycle) const {
  const Column* c = column(id);
  return c == nullptr ? SignalValue() : c->get(cycle);
}

SignalValue CycleTrace::signal_value(std::string_view name, Index cycle) const {
  const auto id = signal_id(name);
  return id ? signal_value_by_id(*id, cycle) : SignalValue();
}

std::vector<SignalValue> CycleTrace::signal_values_range(std::string_view name, Index start, Index end) const {
  std::vector<SignalValue> out;
  const auto id = signal_id(name);
  const Column* c = id ? column(*id) : nullptr;
  for (Index k = start; k < end; ++k) out.push_back(c == nullptr ? SignalValue() : c->get(k));
  return out;
}

}  // namespace quarn

#include "eval/changes.h"

#include <algorithm>
#include <cstddef>

#include "eval/segments.h"
#include "eval/thread_pool.h"
#include "signal/column.h"
#include "signal/value_view.h"
#include "trace/trace.h"

namespace quarn {

namespace {

// Names per pool task: enough work per task to outweigh scheduling, while a
// trace of a few thousand signals still spreads over the workers.
constexpr std::size_t kNamesPerBlock = 1024;

// Reads the values at index-1 and index (index >= 1) with one run search and
// tells whether they differ.
bool changed_between(const Column* column, Index index, ValueView& old_v, ValueView& new_v) {
  if (column == nullptr || index - 1 >= column->length()) return false;  // Empty at both
  const std::size_t k = find_run(*column, index - 1);
  if (index < column->length() && column->run_end(k) > index) {
    // Both in one run, the usual case: only a NaN differs from itself, and
    // the tag alone rules that out without touching the payload.
    if (column->run_tag(k) != ValueTag::Real) return false;
    old_v = new_v = column->run_value(k);
    return is_nan_value(old_v);
  }
  old_v = column->run_value(k);
  new_v = index < column->length() ? column->run_value(k + 1) : ValueView::empty();
  return !equal_values(old_v, new_v);
}

template <class Selects>
std::vector<Change> changes_where(const Trace& trace, Index index, const Selects& selects) {
  if (index == 0) return {};
  const std::vector<std::string>& names = trace.signal_names();
  const std::size_t blocks = (names.size() + kNamesPerBlock - 1) / kNamesPerBlock;
  std::vector<std::vector<Change>> found(blocks);

  auto scan = [&](std::size_t first_block, std::size_t last_block) {
    for (std::size_t b = first_block; b < last_block; ++b) {
      const std::size_t end = std::min(names.size(), (b + 1) * kNamesPerBlock);
      for (std::size_t n = b * kNamesPerBlock; n < end; ++n) {
        const std::string& name = names[n];
        if (!selects(name)) continue;
        const auto id = trace.signal_id(name);
        if (!id) continue;
        ValueView old_v, new_v;
        if (changed_between(trace.column(*id), index, old_v, new_v))
          found[b].push_back(Change{name, to_value(old_v), to_value(new_v)});
      }
    }
  };
  // One block is not worth waking the pool for.
  if (blocks <= 1) scan(0, blocks);
  else parallel_for(0, blocks, 1, scan);

  // Blocks are joined in name order, whatever order they ran in.
  std::size_t total = 0;
  for (const auto& f : found) total += f.size();
  std::vector<Change> out;
  out.reserve(total);
  for (auto& f : found)
    for (Change& c : f) out.push_back(std::move(c));
  return out;
}

}  // namespace

std::vector<Change> changed_at(const Trace& trace, Index index) {
  return changes_where(trace, index, [](const std::string&) { return true; });
}

std::vector<Change> changed_at_scope(const Trace& trace, Index index, std::string_view scope) {
  std::string prefix;
  prefix.reserve(scope.size() + 1);
  prefix.append(scope);
  prefix.push_back('.');
  return changes_where(trace, index, [&](const std::string& name) { return name.starts_with(prefix); });
}

std::vector<Transition> transitions(const Trace& trace, std::string_view name) {
  std::vector<Transition> out;
  const auto id = trace.signal_id(name);
  const Index max_index = trace.max_index();
  if (!id || max_index == 0) return out;
  ValueView prev;
  bool first = true;
  for_each_segment(trace.column(*id), max_index + 1, [&](Index start, Index end, const ValueView& v) {
    if (!first && !equal_values(prev, v)) out.push_back(Transition{start, to_value(prev), to_value(v)});
    if (is_nan_value(v)) {
      for (Index i = start + 1; i < end; ++i) out.push_back(Transition{i, to_value(v), to_value(v)});
    }
    prev = v;
    first = false;
  });
  return out;
}

}  // namespace quarn

#include "eval/changes.h"

#include <algorithm>
#include <cstddef>

#include "eval/column_loading.h"
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

// One selected signal of a scan, carried through the stages of `scan_names`.
struct Probe {
  const std::string* name;
  const Column* column;
  std::size_t run;  // first the guess, then the run holding index - 1
  Index guess_start;
  bool same_run;  // index - 1 and index lie in one run
};

// Names per stage. The stages touch each column's storage in a few short,
// independent steps, so the cache misses of many columns overlap instead of
// being waited for one column at a time.
constexpr std::size_t kProbes = 32;

// Appends the changes at `index` (>= 1) of the selected names first .. last-1.
template <class Selects>
void scan_names(const Trace& trace, Index index, const std::vector<std::string>& names, std::size_t first,
                std::size_t last, const Selects& selects, std::vector<Change>& out) {
  const std::vector<std::optional<SignalId>>& ids = trace.name_ids();
  Probe probes[kProbes];
  for (std::size_t n = first; n < last;) {
    std::size_t count = 0;
    for (; n < last && count < kProbes; ++n) {
      const std::string& name = names[n];
      if (!selects(name)) continue;
      const auto id = ids[n];
      if (!id) continue;
      const Column* column = trace.column(*id);
      if (column == nullptr || index - 1 >= column->length()) continue;  // Empty at both
      probes[count++] = Probe{&name, column, 0, 0, false};
    }
    for (std::size_t p = 0; p < count; ++p) {
      Probe& pr = probes[p];
      pr.run = guess_run(*pr.column, index - 1);
      pr.guess_start = pr.column->run_start(pr.run);
    }
    for (std::size_t p = 0; p < count; ++p) {
      Probe& pr = probes[p];
      const Column& c = *pr.column;
      pr.run = find_run_from(c, index - 1, pr.run, pr.guess_start);
      pr.same_run = index < c.length() && c.run_end(pr.run) > index;
    }
    for (std::size_t p = 0; p < count; ++p) {
      const Probe& pr = probes[p];
      if (pr.same_run) continue;  // one run holds one value
      const Column& c = *pr.column;
      const ValueView old_v = c.run_value(pr.run);
      const ValueView new_v = pr.same_run ? old_v
                              : index < c.length() ? c.run_value(pr.run + 1)
                                                   : ValueView::empty();
      if (!same_for_changes(old_v, new_v)) out.push_back(Change{*pr.name, to_value(old_v), to_value(new_v)});
    }
  }
}

template <class Selects>
std::vector<Change> changes_where(const Trace& trace, Index index, const Selects& selects) {
  // Past the last index nothing changes: every value there is Empty.
  if (index == 0 || index > trace.max_index()) return {};
  load_columns_where(trace, selects);
  const std::vector<std::string>& names = trace.signal_names();
  const std::size_t blocks = (names.size() + kNamesPerBlock - 1) / kNamesPerBlock;
  std::vector<std::vector<Change>> found(blocks);

  auto scan = [&](std::size_t first_block, std::size_t last_block) {
    for (std::size_t b = first_block; b < last_block; ++b) {
      const std::size_t end = std::min(names.size(), (b + 1) * kNamesPerBlock);
      scan_names(trace, index, names, b * kNamesPerBlock, end, selects, found[b]);
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
  for_each_transition(trace, name, [&](Index index, const ValueView& old_value, const ValueView& new_value) {
    out.push_back(Transition{index, to_value(old_value), to_value(new_value)});
    return true;
  });
  return out;
}

bool for_each_transition(const Trace& trace, std::string_view name,
                         const std::function<bool(Index, const ValueView&, const ValueView&)>& visit) {
  const auto id = trace.signal_id(name);
  const Index max_index = trace.max_index();
  if (!id || max_index == 0) return true;
  ValueView prev;
  bool first = true, going = true;
  for_each_segment(trace.column(*id), max_index + 1, [&](Index start, Index, const ValueView& v) {
    if (going && !first && !same_for_changes(prev, v)) going = visit(start, prev, v);
    prev = v;
    first = false;
  });
  return going;
}

}  // namespace quarn

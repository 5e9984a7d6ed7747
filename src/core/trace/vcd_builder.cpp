#include "trace/vcd_builder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "eval/thread_pool.h"
#include "signal/column.h"
#include "signal/value_bits.h"

namespace quarn {

namespace {

// Columns built per pool task: enough to outweigh scheduling.
constexpr std::size_t kColumnsPerTask = 64;

}  // namespace

void VcdBuilder::scope(std::string_view name) {
  const NameTable::Path in = open_scopes_.empty() ? NameTable::kTop : open_scopes_.back();
  // A nameless scope adds no component; a scope reopened is the one listed before.
  open_scopes_.push_back(name.empty() ? in : r_.names.add_scope(in, name));
}

void VcdBuilder::upscope() {
  if (!open_scopes_.empty()) open_scopes_.pop_back();
}

void VcdBuilder::var(const VcdDecl& d) {
  SignalId id;
  if (auto known = r_.codes.find(d.code)) {
    id = *known;  // an alias of an earlier declaration
  } else {
    id = r_.id_count++;
    r_.codes.insert(d.code, id);
    VcdSignal s;
    s.width = d.width;
    if (d.kind == "event") s.kind = VcdKind::Event, s.event = events_++;
    else if (d.kind == "string") s.kind = VcdKind::String;
    signals_.push_back(s);
    const std::size_t slot = CodeTable::direct_slot(d.code);
    if (slot != CodeTable::kNoSlot && id < UINT32_MAX - 1) {  // as the code table keeps it
      if (slot >= coded_.size()) coded_.resize(slot + 1);
      coded_[slot] = VcdCoded{static_cast<std::uint32_t>(id + 1), s};
    }
    body_.declared();
  }
  VcdDeclared decl;
  decl.base = r_.names.add_path(open_scopes_.empty() ? NameTable::kTop : open_scopes_.back(), d.reference);
  decl.range = d.range;
  decl.id = id;
  decl.width = d.width;
  decls_.push_back(std::move(decl));
}

// The bus's column from its bit columns: a value wherever a bit changes.
void VcdBuilder::build_bus(const VcdNamed& bus, SignalId id) {
  std::vector<Column> bits(bus.bits.size());
  std::vector<Index> starts;
  for (std::size_t k = 0; k < bus.bits.size(); ++k) {
    body_.replay(decls_[bus.bits[k]].id, bits[k]);
    for (std::size_t run = 0; run < bits[k].run_count(); ++run) starts.push_back(bits[k].run_start(run));
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  if (!starts.empty())
    for (Column& bit : bits) bit.hold_through(starts.back());  // each bit holds until it changes
  Column& out = r_.store.column_for_write(id);
  std::string digits(bits.size(), 'x');
  for (Index at : starts) {
    bool any = false;
    for (std::size_t k = 0; k < bits.size(); ++k) {
      const SignalValue v = bits[k].get(at);
      any |= !v.is_empty();
      digits[k] = v.is_empty() ? 'x' : value_bits(v, 1)[0];
    }
    ValueView merged = ValueView::empty();
    if (any) parse_vcd_vector(digits, static_cast<Width>(digits.size()), scratch_, merged);
    out.record_change(at, merged);
  }
}

VcdTrace::Record VcdBuilder::finish() {
  r_.timestamps = body_.finish_times();
  std::vector<VcdNamed> named = name_vcd_vars(r_.names, decls_);
  // Every column's place at once: grown id by id, the store would double its
  // array and copy it again to shrink it, when the trace is at its largest.
  const auto buses = std::count_if(named.begin(), named.end(), [](const VcdNamed& n) { return !n.bits.empty(); });
  r_.store.reserve_ids(static_cast<SignalId>(r_.id_count + static_cast<SignalId>(buses)));
  std::vector<bool> used(signals_.size(), false);
  for (const VcdNamed& n : named) {
    const VcdDeclared& d = decls_[n.decl];
    SignalId id = d.id;
    Width width = d.width;
    if (!n.bits.empty()) {
      id = r_.id_count++;
      width = static_cast<Width>(n.bits.size());
      build_bus(n, id);
    } else {
      used[id] = true;
    }
    r_.names.add_signal(n.name, id, width);
  }
  // Not needed past here: their memory goes to the columns.
  named = {};
  decls_ = {};
  // Columns made in id order here, filled on the pool: each from its own logs.
  std::vector<SignalId> ids;
  for (SignalId id = 0; id < signals_.size(); ++id) {
    if (used[id] && body_.logged(id)) {
      r_.store.column_for_write(id);
      ids.push_back(id);
    } else {
      body_.release(id);
    }
  }
  std::vector<Column*> columns;
  columns.reserve(ids.size());
  for (SignalId id : ids) columns.push_back(&r_.store.column_for_write(id));
  const auto build = [&](std::size_t lo, std::size_t hi) {
    for (std::size_t k = lo; k < hi; ++k) {
      body_.replay(ids[k], *columns[k]);
      body_.release(ids[k]);
      columns[k]->shrink_to_fit();
    }
  };
  // A task per group of logs that the body gives back together, so that
  // each group's memory goes as soon as its task ends (tasks cut elsewhere
  // would each hold a group half done). With fewer groups than tasks want,
  // tasks of kColumnsPerTask.
  std::vector<std::size_t> groups;  // where each group starts in ids, then ids.size()
  for (std::size_t k = 0; k < ids.size(); ++k)
    if (k == 0 || VcdBody::group_of(ids[k]) != VcdBody::group_of(ids[k - 1])) groups.push_back(k);
  groups.push_back(ids.size());
  if (groups.size() - 1 >= 4 * pool_concurrency()) {
    parallel_for(0, groups.size() - 1, 1, [&](std::size_t lo, std::size_t hi) { build(groups[lo], groups[hi]); });
  } else {
    parallel_for(0, ids.size(), kColumnsPerTask, build);
  }
  // Every value holds until the next change, through the last index.
  if (!r_.timestamps.empty()) r_.store.hold_through(r_.timestamps.size() - 1);
  r_.store.shrink_to_fit();
  return std::move(r_);
}

}  // namespace quarn

#include "trace/shm_reader.h"

#include <algorithm>
#include <cstring>

#include "trace/shm_design.h"
#include "trace/regular_file.h"
#include "trace/shm_locate.h"
#include "trace/vendor_file.h"

namespace quarn {

namespace shm {

void assemble_values(const std::vector<ShmFileEvents>& files, std::uint64_t name_count,
                     std::vector<Time>& timestamps, SignalStore& store) {
  timestamps.assign(1, 0);
  if (files.empty()) return;

  std::size_t total = 0;
  for (const ShmFileEvents& f : files) {
    total += f.events.size();
    // Events come in runs of one time (a toggle step, the initial values),
    // so most repeats are dropped before sorting.
    for (const ShmEvent& e : f.events)
      if (e.time != timestamps.back()) timestamps.push_back(e.time);
    if (f.end_time) timestamps.push_back(*f.end_time);
  }
  std::sort(timestamps.begin(), timestamps.end());
  timestamps.erase(std::unique(timestamps.begin(), timestamps.end()), timestamps.end());

  // Group the events by signal, keeping decoding order within a signal (a
  // counting sort is stable), so that the last one decoded wins per index.
  std::vector<std::size_t> start(name_count + 1, 0);
  for (const ShmFileEvents& f : files)
    for (const ShmEvent& e : f.events)
      if (e.id < name_count) ++start[e.id + 1];
  for (std::uint64_t id = 0; id < name_count; ++id) start[id + 1] += start[id];
  // index << 1 | bit
  std::vector<std::uint64_t> placed(total);
  std::vector<std::size_t> fill(start.begin(), start.end() - 1);
  Time last_time = 0;
  std::uint64_t last_at = 0;
  for (const ShmFileEvents& f : files) {
    for (const ShmEvent& e : f.events) {
      if (e.id >= name_count) continue;
      if (e.time != last_time) {
        last_time = e.time;
        last_at = static_cast<std::uint64_t>(std::lower_bound(timestamps.begin(), timestamps.end(), e.time) -
                                             timestamps.begin());
      }
      placed[fill[e.id]++] = (last_at << 1) | (e.bit & 1u);
    }
  }

  const auto by_index = [](std::uint64_t a, std::uint64_t b) { return (a >> 1) < (b >> 1); };
  for (std::uint64_t id = 0; id < name_count; ++id) {
    const auto first = placed.begin() + static_cast<std::ptrdiff_t>(start[id]);
    const auto last = placed.begin() + static_cast<std::ptrdiff_t>(start[id + 1]);
    // Each file's changes of one signal are in time order; several files
    // make a few sorted runs. Short slices sort in place, stably.
    if (!std::is_sorted(first, last, by_index)) {
      if (last - first <= 64) {
        for (auto it = first + 1; it != last; ++it)
          for (auto j = it; j != first && by_index(*j, *(j - 1)); --j) std::iter_swap(j, j - 1);
      } else {
        std::stable_sort(first, last, by_index);
      }
    }
    if (first == last || (*first >> 1) != 0) store.record_change(id, 0, ValueView::bits(0));
    for (auto it = first; it != last; ++it) {
      if (it + 1 != last && ((it[1] >> 1) == (*it >> 1))) continue;  // a later event at this index wins
      store.record_change(id, *it >> 1, ValueView::bits(*it & 1u));
    }
  }
  store.hold_through(timestamps.size() - 1);
}

}  // namespace shm

namespace {

RecordTrace build_trace(shm::ShmDesign design, const std::vector<shm::ShmFileEvents>& files) {
  TraceRecord record;
  shm::assemble_values(files, design.names.size(), record.timestamps, record.store);
  record.store.shrink_to_fit();
  for (std::size_t id = 0; id < design.names.size(); ++id) record.names.add_signal(design.names[id], id, 1);
  for (const std::string& scope : design.scopes) record.names.list_scope(scope);
  return RecordTrace(std::move(record));
}

}  // namespace

namespace {

std::string_view as_text(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::variant<RecordTrace, std::string> ShmTrace::from_file(const std::string& path) {
  LoadControl never;
  return from_file(path, never);
}

std::variant<RecordTrace, std::string> ShmTrace::from_file(const std::string& path, LoadControl& control) {
  auto resolved = shm::resolve_inputs(path);
  if (auto* message = std::get_if<std::string>(&resolved)) return std::move(*message);
  const shm::ShmInputs& inputs = std::get<shm::ShmInputs>(resolved);

  shm::ShmDesign design;
  shm::EventBudget budget = shm::EventBudget::for_input();
  if (inputs.dsn) {
    auto file = read_file_whole(*inputs.dsn, &control);
    if (const int* err = std::get_if<int>(&file)) {
      if (*err == kNotRegularFile) return not_regular_message(*inputs.dsn);
      if (*err == kReadInterrupted) return std::string(kLoadInterrupted);
      return "DSN: " + std::string(std::strerror(*err));
    }
    const auto& bytes = std::get<std::vector<std::uint8_t>>(file);
    budget.grant(bytes.size());
    auto read = shm::read_design(as_text(bytes));
    if (auto* message = std::get_if<std::string>(&read)) return std::move(*message);
    design = std::move(std::get<shm::ShmDesign>(read));
  }

  // One transition file in memory at a time; only its events are kept.
  std::vector<shm::ShmFileEvents> files;
  if (!design.names.empty()) {
    for (const std::string& trn : inputs.trns) {
      auto file = read_file_whole(trn, &control);
      if (const int* err = std::get_if<int>(&file)) {
        if (*err == kNotRegularFile) return not_regular_message(trn);
        if (*err == kReadInterrupted) return std::string(kLoadInterrupted);
        continue;  // an unreadable transition file is skipped like a foreign one
      }
      const auto& bytes = std::get<std::vector<std::uint8_t>>(file);
      budget.grant(bytes.size());
      if (auto decoded = shm::decode_transitions(as_text(bytes), design.names.size(), budget.limits(), &control)) {
        budget.spend(decoded->events.size());
        files.push_back(std::move(*decoded));
      }
      if (control.stopped()) return std::string(kLoadInterrupted);
    }
  }
  return build_trace(std::move(design), files);
}

std::variant<RecordTrace, std::string> ShmTrace::from_bytes(std::string_view dsn,
                                                            const std::vector<std::string_view>& trns,
                                                            const shm::DecodeLimits& limits) {
  auto read = shm::read_design(dsn);
  if (auto* message = std::get_if<std::string>(&read)) return std::move(*message);
  shm::ShmDesign design = std::move(std::get<shm::ShmDesign>(read));
  std::vector<shm::ShmFileEvents> files;
  shm::EventBudget budget(limits);
  if (!design.names.empty())
    for (std::string_view trn : trns)
      if (auto decoded = shm::decode_transitions(trn, design.names.size(), budget.limits())) {
        budget.spend(decoded->events.size());
        files.push_back(std::move(*decoded));
      }
  return build_trace(std::move(design), files);
}

}  // namespace quarn

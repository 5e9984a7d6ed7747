#include "trace/vcd_body.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "signal/column.h"
#include "trace/vcd_text_escapes.h"

namespace quarn {

namespace {

// Adds `from` after `into`: counts add up, the first place stays the first.
void append_diagnostics(LoadDiagnostics& into, const LoadDiagnostics& from) {
  if (from.count == 0) return;
  if (into.count == 0) {
    into.offset = from.offset;
    into.message = from.message;
  }
  into.count += from.count;
}

// Up to this many signals their logs stay in cache as changes come, and
// staging them would only add a copy.
constexpr std::size_t kDirectSignals = 4096;
// Changes staged per signal before they go to the logs: enough that each
// log's tail, fetched once per drain, takes several; more only costs memory.
constexpr std::size_t kStagedPerSignal = 8;
constexpr std::size_t kMaxStaged = std::size_t{1} << 18;

}  // namespace

void VcdBody::declared() {
  // Declarations may follow changes (read in order only): staging, once on,
  // stays on, so a signal's changes keep their order.
  const bool in_range = signals_.size() - 1 <= ChangeStage::kMaxId;
  if (!staging_ && in_range && stage_setting_ != kNoStage && (stage_setting_ || signals_.size() > kDirectSignals)) {
    staging_ = true;
    if (stage_setting_) stage_ = ChangeStage(stage_setting_);
  }
  if (staging_ && !stage_setting_) stage_.set_capacity(std::min(kMaxStaged, signals_.size() * kStagedPerSignal));
  // Ids past the stage's range go straight to their logs, after the staged.
  if (staging_ && !in_range) {
    drain_stage();
    staging_ = false;
  }
  logs_.resize(signals_.size());
  arenas_.resize(((signals_.size() - 1) >> kArenaShift) + 1);
  if (signals_.back().kind == VcdKind::Event) triggers_.resize(signals_.back().event + 1, 0);
}

VcdBody VcdBody::fresh() const {
  VcdBody chunk(codes_, signals_, coded_);
  chunk.logs_.resize(logs_.size());
  chunk.arenas_.resize(arenas_.size());
  chunk.stage_setting_ = stage_setting_;
  chunk.staging_ = staging_;
  if (staging_) chunk.stage_ = ChangeStage(stage_setting_ ? stage_setting_ : stage_.capacity());
  chunk.triggers_.resize(triggers_.size(), 0);
  return chunk;
}

void VcdBody::take_time(Time time) {
  if (!timed_ && early_values_ && time > 0) times_.push_back(0);  // index 0 holds the initial values
  timed_ = true;
  last_time_ = time;
  times_.push_back(time);
  current_ = times_.size() - 1;
  if (current_ - stage_base_ > ChangeStage::kMaxAt) [[unlikely]]
    drain_stage();  // staged indices would overflow
}

void VcdBody::drain_stage() {
  const Index base = stage_base_;
  stage_.drain([&](std::uint32_t id, std::uint32_t at, const ValueView& v) { log(id, base + at, v); });
  stage_base_ = current_;
}

void VcdBody::settle() {
  drain_stage();
  stage_.release();
}

VcdStatus VcdBody::timestamp(Time time, std::string_view token, std::uint64_t offset) {
  if (timed_ && time < last_time_) {
    drop_changes();
    return VcdStatus::TimeBackwards;
  }
  skipping_ = false;
  usual_ = true;
  if (times_.empty()) {
    first_time_offset_ = offset;
    first_time_token_.assign(token);
  }
  take_time(time);
  return VcdStatus::Ok;
}

VcdStatus VcdBody::scalar(char value, std::string_view code) {
  SignalId id;
  const VcdSignal* found = find(code, id);
  if (!found) return VcdStatus::UnknownCode;
  const VcdSignal& s = *found;
  if (s.kind == VcdKind::Event) return trigger(id, s);
  if (value == '0' || value == '1') return store(id, ValueView::bits(static_cast<std::uint64_t>(value - '0')));
  if (s.width > 1) return vector(std::string_view(&value, 1), code);  // extended like a vector
  scratch_.logic.assign(1, logic_from_char(value));
  return store(id, ValueView::logic(scratch_.logic.data(), 1));
}

VcdStatus VcdBody::vector(std::string_view digits, std::string_view code) {
  SignalId id;
  const VcdSignal* found = find(code, id);
  if (!found) return VcdStatus::UnknownCode;
  const VcdSignal& s = *found;
  if (s.kind == VcdKind::Event) return trigger(id, s);
  ValueView v;
  if (parse_vcd_vector(digits, s.width, scratch_, v)) return store(id, v);
  // Some Python writers leak bin()'s prefix: "b0b0101".
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'b' || digits[1] == 'B') &&
      parse_vcd_vector(digits.substr(2), s.width, scratch_, v)) {
    store(id, v);
    return VcdStatus::Repaired;
  }
  return VcdStatus::BadValue;
}

VcdStatus VcdBody::real(double value, std::string_view code) {
  const SignalId id = codes_.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  // One NaN, so that a NaN held is no change whatever its sign or payload.
  if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
  return store(id, ValueView::real(value));
}

VcdStatus VcdBody::text(std::string_view text, std::string_view code) {
  const SignalId id = codes_.lookup(code);
  if (id == CodeTable::kUnknown) return VcdStatus::UnknownCode;
  const std::string_view value = unescape_vcd_text(text, text_scratch_);
  return store(id, ValueView::text(value.data(), value.size()));
}

void VcdBody::absorb(VcdBody&& chunk, const LoadDiagnostics& chunk_diagnostics, LoadDiagnostics& diagnostics) {
  settle();
  chunk.settle();
  // The chunk's timestamps never go back among themselves, so those below
  // this body's last time are a prefix of them.
  Index skip = 0;
  while (timed_ && skip < chunk.times_.size() && chunk.times_[skip] < last_time_) ++skip;
  LoadDiagnostics dropped;
  if (skip) {
    dropped.report(chunk.first_time_offset_, kVcdTimeBackwards, chunk.first_time_token_);
    dropped.count = skip;
  }
  if (dropped.count && (chunk_diagnostics.count == 0 || dropped.offset < chunk_diagnostics.offset)) {
    append_diagnostics(diagnostics, dropped);
    append_diagnostics(diagnostics, chunk_diagnostics);
  } else {
    append_diagnostics(diagnostics, chunk_diagnostics);
    append_diagnostics(diagnostics, dropped);
  }

  Placed placed;
  placed.skip = skip;
  placed.triggers_before = triggers_;
  for (std::size_t e = 0; e < triggers_.size(); ++e) triggers_[e] += chunk.triggers_[e];
  if (skip < chunk.times_.size()) {
    take_time(chunk.times_[skip]);
    placed.base = current_;
    for (Index k = skip + 1; k < chunk.times_.size(); ++k) take_time(chunk.times_[k]);
    placed.logs = std::move(chunk.logs_);
    placed.arenas = std::move(chunk.arenas_);
    placed_.push_back(std::move(placed));
  }
  // What the chunk's end leaves for the next timestamp.
  skipping_ = chunk.skipping_ || (skip && skip == chunk.times_.size());
  usual_ = timed_ && !skipping_;
}

std::uint64_t VcdBody::Placed::bits_add(const VcdSignal& s) const {
  return s.kind == VcdKind::Event ? triggers_before[s.event] : 0;
}

std::pair<std::size_t, std::size_t> VcdBody::group_ids(std::size_t group) const {
  const std::size_t first = group << kArenaShift;
  return {first, std::min(logs_.size(), first + (std::size_t{1} << kArenaShift))};
}

void VcdBody::replay(SignalId id, Column& column) const {
  reserve(id, column);
  logs_[id].replay_into(column);
  for (const Placed& p : placed_)
    if (!p.logs[id].empty()) p.logs[id].replay_into(column, p.skip, p.base, p.bits_add(signals_[id]));
}

void VcdBody::reserve(SignalId id, Column& column) const {
  // Runs: one per change, and an unknown one before a first change past 0.
  ChangeLog::Summary all = logs_[id].summary();
  bool started = all.changes != 0;
  for (const Placed& p : placed_) {
    if (p.logs[id].empty()) continue;
    const ChangeLog::Summary part = p.logs[id].summary();
    if (part.last < p.skip) continue;
    if (!started) all.first = part.first < p.skip ? p.base : p.base + part.first - p.skip;
    started = true;
    all.changes += part.changes;
    all.last = p.base + part.last - p.skip;
    all.max_bits = std::max(all.max_bits, part.max_bits + p.bits_add(signals_[id]));
    all.has_real |= part.has_real;
    all.heap_bytes += part.heap_bytes;
  }
  if (started) column.reserve({all.changes + (all.first > 0), all.last, all.max_bits, all.has_real, all.heap_bytes});
}

bool VcdBody::logged(SignalId id) const {
  if (!logs_[id].empty()) return true;
  for (const Placed& p : placed_)
    if (!p.logs[id].empty() && p.logs[id].last_index() >= p.skip) return true;
  return false;
}

void VcdBody::release(SignalId id) {
  // Before finish_times the arenas stay; an id's second release is not counted.
  if (!released_.empty() && released_[id]) return;
  logs_[id].release();
  for (Placed& p : placed_) p.logs[id].release();
  if (released_.empty()) return;
  released_[id] = 1;
  const std::size_t group = group_of(id);
  if (unreleased_[group].fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  static_assert(std::is_trivially_copyable_v<ChangeLog> && std::is_trivially_destructible_v<ChangeLog>);
  // The last of its group: no thread reads these arenas, or these logs
  // (all empty, as pages given back read), any more.
  const auto [first, end] = group_ids(group);
  const std::size_t count = end - first;
  arenas_[group].release();
  give_back_pages(logs_.data() + first, count * sizeof(ChangeLog));
  for (Placed& p : placed_) {
    p.arenas[group].release();
    give_back_pages(p.logs.data() + first, count * sizeof(ChangeLog));
  }
}

void VcdBody::compact() {
  // A group at a time, so that only one group's logs are held twice.
  for (std::size_t g = 0; g < arenas_.size(); ++g) {
    const auto [first, last] = group_ids(g);
    std::size_t bytes = 0;
    bool whole = true;  // every log fits one block, so that the old blocks can all go
    for (std::size_t id = first; id < last; ++id) {
      const std::size_t n = logs_[id].compacted_bytes();
      whole &= n != 0 || logs_[id].empty();
      bytes += n;
    }
    if (bytes == 0 || !whole) continue;
    LogArena compacted;
    compacted.reserve(bytes);
    for (std::size_t id = first; id < last; ++id) logs_[id].compact_into(compacted);
    arenas_[g] = std::move(compacted);
  }
}

std::vector<Time> VcdBody::finish_times() {
  settle();
  compact();
  released_.assign(logs_.size(), 0);
  unreleased_ = std::make_unique<std::atomic<std::uint32_t>[]>(arenas_.size());
  for (std::size_t g = 0; g < arenas_.size(); ++g) {
    const auto [first, end] = group_ids(g);
    unreleased_[g].store(static_cast<std::uint32_t>(end - first), std::memory_order_relaxed);
  }
  if (!timed_ && early_values_) times_.push_back(0);
  return std::move(times_);
}

}  // namespace quarn
